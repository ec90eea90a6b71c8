#include "formats/avi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/player.h"
#include "formats/avi_riff.h"
#include "formats/png_rgba.h"
#include "io/open_save.h"
#include "io/options.h"
#include "testutil.h"
#include "timeline.h"

using namespace fb;
using fbtest::pictures;
using fbtest::TempDir;
namespace fs = std::filesystem;

namespace {

// A document of full frames in one global palette of `colours` entries.
std::unique_ptr<Animation> makeDoc(int w, int h, std::vector<int> delays, int colours = 16) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  std::vector<Rgb> pal(static_cast<size_t>(colours));
  for (int i = 0; i < colours; ++i)
    pal[static_cast<size_t>(i)] = {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i * 11),
                                   static_cast<uint8_t>(i * 90)};
  setGlobalPalette(*a, makePalette(pal.data(), colours));
  int k = 0;
  for (int d : delays) {
    Frame* f = newBlankFrame(w, h).release();
    f->delay = d;
    f->lendPalette(a->globalPalette.get());
    auto dib = createBitmap(w, h, f->palette());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        dib->row(y)[x] = static_cast<uint8_t>((x / 3 + 2 * y + 5 * k) % colours);
    setBitmap(*f, std::move(dib));
    appendBlock(*a, std::unique_ptr<Block>(f));
    ++k;
  }
  return a;
}

// The same document with 24-bit data in every frame.
std::unique_ptr<Animation> makeTrueColourDoc(int w, int h, int frames) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  for (int k = 0; k < frames; ++k) {
    Frame* f = newBlankFrame(w, h).release();
    f->delay = 10;
    std::vector<uint8_t> rgb(static_cast<size_t>(stride24(w)) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = rgb.data() + static_cast<size_t>(y) * stride24(w) + 3 * x;
        p[0] = static_cast<uint8_t>(x * 9 + k * 40);
        p[1] = static_cast<uint8_t>(y * 13);
        p[2] = static_cast<uint8_t>((x + y) * 5);
      }
    setRgb(*f, std::move(rgb));
    appendBlock(*a, std::unique_ptr<Block>(f));
  }
  return a;
}

std::vector<int> delaysOf(const Animation& a) {
  std::vector<int> d;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) d.push_back(f->delay);
  return d;
}

// The colours of a frame's pixels (R, G, B).
std::vector<uint8_t> colours(const Frame& f) {
  auto rgba = frameToRgba(f);
  std::vector<uint8_t> out;
  if (f.hasRgb() && !f.dib) {
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x)
        for (int c = 0; c < 3; ++c)
          out.push_back(f.rgb[static_cast<size_t>(y) * stride24(f.width) + 3 * x + c]);
    return out;
  }
  for (size_t i = 0; i < rgba.size(); i += 4)
    out.insert(out.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  return out;
}

struct IndexEntry {
  std::string id;
  uint32_t flags, offset, size;
};

// The idx1 entries of a file and where its movi list starts.
std::vector<IndexEntry> indexOf(const std::vector<uint8_t>& b, size_t& movi) {
  std::vector<IndexEntry> out;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
    uint32_t n = avi::getU32(&b[at + 4]);
    if (id == "LIST" && std::string(b.begin() + static_cast<long>(at) + 8,
                                    b.begin() + static_cast<long>(at) + 12) == "movi")
      movi = at + 8;
    if (id == "idx1")
      for (size_t k = 0; k + 16 <= n; k += 16) {
        const uint8_t* e = &b[at + 8 + k];
        out.push_back(
            {std::string(e, e + 4), avi::getU32(e + 4), avi::getU32(e + 8), avi::getU32(e + 12)});
      }
    at += 8 + ((n + 1) & ~1u);
  }
  return out;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A mono 16-bit PCM WAV file of `samples` samples at `rate`.
void writeWav(const std::string& path, int rate, int samples) {
  std::vector<uint8_t> b;
  auto tag = [&](const char* s) { b.insert(b.end(), s, s + 4); };
  tag("RIFF");
  avi::putU32(b, 36 + 2 * static_cast<uint32_t>(samples));
  tag("WAVE");
  tag("fmt ");
  avi::putU32(b, 16);
  avi::putU16(b, 1);
  avi::putU16(b, 1);
  avi::putU32(b, static_cast<uint32_t>(rate));
  avi::putU32(b, static_cast<uint32_t>(rate) * 2);
  avi::putU16(b, 2);
  avi::putU16(b, 16);
  tag("data");
  avi::putU32(b, 2 * static_cast<uint32_t>(samples));
  for (int i = 0; i < samples; ++i) avi::putU16(b, static_cast<uint32_t>((i * 300) & 0x7FFF));
  fbtest::writeBytes(path, b);
}

// A raw (BI_RGB) video of `bits` bits per pixel holding the given samples.
void writeRawAvi(const std::string& path, int w, int h, int bits,
                 const std::vector<std::vector<uint8_t>>& samples, uint32_t compression = 0,
                 uint32_t handler = 0, const std::vector<uint32_t>& masks = {}) {
  avi::RiffWriter out;
  ASSERT_EQ(out.create(path), 0u);
  avi::StreamHeader sh;
  sh.type = avi::kVideo;
  sh.handler = handler;
  sh.scale = 1;
  sh.rate = 10;
  int s = 0;
  ASSERT_EQ(out.createStream(sh, s), 0u);
  std::vector<uint8_t> fmt;
  avi::BitmapInfoHeader bih;
  bih.width = w;
  bih.height = h;
  bih.bitCount = static_cast<uint16_t>(bits);
  bih.compression = compression;
  avi::appendBitmapInfoHeader(fmt, bih);
  for (uint32_t m : masks) avi::putU32(fmt, m);  // BI_BITFIELDS: red, green, blue
  ASSERT_EQ(out.setFormat(s, fmt), 0u);
  for (size_t i = 0; i < samples.size(); ++i)
    ASSERT_EQ(
        out.writeSample(s, static_cast<int64_t>(i), samples[i].data(), samples[i].size(), true),
        0u);
  ASSERT_EQ(out.finish(), 0u);
}

// RIFF chunks by hand, for what our writer never writes.
std::vector<uint8_t> chunk(const char* id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(id, id + 4);
  avi::putU32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
  return out;
}

std::vector<uint8_t> list(const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  return chunk("LIST", body);
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class AviTest : public ::testing::Test {
 protected:
  void SetUp() override { scoped_ = std::make_unique<ScopedReporter>(messages); }
  void TearDown() override {
    scoped_.reset();
    fileops::setFaultHook({});
  }
  RecordingReporter messages;
  TempDir dir;
  SaveOptions save;  // the user's settings for the saves of a test

  bool saveAvi(const std::string& path, Animation& a, Progress* progress = nullptr) {
    return saveByType(path, a, saveopt::WholeAnimation, kTypeAvi, progress, save);
  }

 private:
  std::unique_ptr<ScopedReporter> scoped_;
};

using AviExport = AviTest;
using AviImport = AviTest;
using AviFix = AviTest;

}  // namespace

// ---- Timing ----

TEST(AviFrameStep, CommonDivisorOfTheDelays) {
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {10, 20, 30})), 10);
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {9, 6, 12})), 3);
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {7, 10})), 1);
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {0, 4})), 1) << "a delay of 0 counts as 1";
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {1})), 1);
  EXPECT_EQ(FrameStepForAvi(*makeDoc(2, 2, {40})), 40);
}

TEST_F(AviExport, SamplesLieAtTheirTimesWithTheLastPictureRepeated) {
  auto a = makeDoc(6, 3, {10, 20, 30}, 5);
  std::string path = dir.file("t.avi");
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr), 1);

  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  ASSERT_EQ(h.streams.size(), 1u);
  const avi::StreamHeader& sh = h.streams[0].header;
  EXPECT_EQ(avi::fourccText(sh.handler), "msvc");
  EXPECT_EQ(sh.scale, 10u);
  EXPECT_EQ(sh.rate, 100u);
  EXPECT_EQ(sh.length, 6u);
  EXPECT_EQ(sh.quality, 10000u);
  EXPECT_EQ(sh.frame[2], 6);
  EXPECT_EQ(sh.frame[3], 3);
  avi::BitmapInfoHeader bih;
  ASSERT_TRUE(
      avi::parseBitmapInfoHeader(h.streams[0].format.data(), h.streams[0].format.size(), bih));
  EXPECT_EQ(bih.bitCount, 8);
  EXPECT_EQ(bih.height, 3) << "positive: rows bottom-up";
  EXPECT_EQ(bih.clrUsed, 5u);
  EXPECT_EQ(h.streams[0].format.size(), 40u + 4 * 5);
  EXPECT_EQ(h.streams[0].format[40 + 4 * 1 + 2], 37) << "entry 1's red";

  auto bytes = fbtest::readBytes(path);
  size_t movi = 0;
  auto index = indexOf(bytes, movi);
  ASSERT_EQ(index.size(), 6u);
  std::vector<uint32_t> sizes;
  for (auto& e : index) sizes.push_back(e.size);
  EXPECT_EQ(sizes, (std::vector<uint32_t>{8 * 3, 8 * 3, 0, 8 * 3, 0, 8 * 3}));
  EXPECT_EQ(index[0].flags & avi::kKeyFrame, avi::kKeyFrame);
  EXPECT_EQ(index[2].flags & avi::kKeyFrame, 0u);
  // The first row of a sample is the picture's bottom row.
  const uint8_t* sample3 = &bytes[movi + index[3].offset + 8];
  EXPECT_EQ(std::vector<uint8_t>(sample3, sample3 + 6),
            std::vector<uint8_t>(frameAt(*a, 2)->dib->row(2), frameAt(*a, 2)->dib->row(2) + 6));
  EXPECT_TRUE(messages.entries().empty());

  // Read back: the repeated last picture is a sample of its own.
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(delaysOf(*b), (std::vector<int>{10, 20, 20, 10}));
  EXPECT_EQ(b->width, 6);
  EXPECT_EQ(b->height, 3);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(colours(*frameAt(*b, i)), colours(*frameAt(*a, std::min(i, 2)))) << i;
  EXPECT_EQ(*b->globalPalette, *a->globalPalette);
}

TEST_F(AviExport, ShortDelaysCountAsOneTickAndTheLastStepIsNotDoubled) {
  auto a = makeDoc(4, 2, {0, 1, 3});
  std::string path = dir.file("t.avi");
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr), 1);
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(h.streams[0].header.scale, 1u);
  EXPECT_EQ(h.streams[0].header.length, 5u);  // 1 + 1 + 3
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(delaysOf(*b), (std::vector<int>{1, 1, 2, 1}));

  // A last delay equal to the step: the repeat falls on the last sample itself.
  auto c = makeDoc(4, 2, {20, 10});
  ASSERT_EQ(WriteAviVideoStream(path, *c, false, nullptr), 1);
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(delaysOf(*b), (std::vector<int>{20, 10}));
}

TEST_F(AviExport, FixedFrameRate) {
  AviTiming timing{100, true, 250000};  // 25 frames per second
  auto a = makeDoc(4, 2, {10, 10});
  std::string path = dir.file("t.avi");
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr, timing), 1);
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(h.streams[0].header.scale, 10000u);
  EXPECT_EQ(h.streams[0].header.rate, 250000u);
  EXPECT_EQ(h.streams[0].header.length, 5u);  // samples 0, 2 and the repeat at 19 / 4
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(delaysOf(*b), (std::vector<int>{8, 8, 4}));

  // A rate faster than the delay ticks can show falls back to the frames' step.
  timing.frameRateX10000 = 2000000;
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr, timing), 1);
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(h.streams[0].header.scale, 10u);
  EXPECT_EQ(h.streams[0].header.rate, 100u);
}

// ---- Saving by type, with each compression ----

TEST_F(AviExport, SavesRoundTripExactlyUncompressedAndRle8) {
  auto a = makeDoc(37, 11, {10, 10, 20, 10}, 40);
  // A still stretch, so that the run-length frames are mostly skips.
  frameAt(*a, 3)->dib->data = frameAt(*a, 2)->dib->data;
  for (bool uncompressed : {true, false}) {
    save.avi.uncompressed = uncompressed;
    std::string path = dir.file(uncompressed ? "raw.avi" : "rle.avi");
    ASSERT_TRUE(saveAvi(path, *a));
    avi::FileHeaders h;
    ASSERT_TRUE(avi::readFileHeaders(path, h));
    avi::BitmapInfoHeader bih;
    ASSERT_TRUE(
        avi::parseBitmapInfoHeader(h.streams[0].format.data(), h.streams[0].format.size(), bih));
    EXPECT_EQ(bih.compression, uncompressed ? avi::kBiRgb : avi::kBiRle8);
    EXPECT_EQ(avi::fourccText(h.streams[0].header.handler), uncompressed ? "msvc" : "mrle");

    std::unique_ptr<Animation> b;
    ASSERT_EQ(openFile(path, b, nullptr), 1);
    // The repeat of the last picture falls on its own sample (its delay is the step).
    ASSERT_EQ(b->frameCount(), 4);
    EXPECT_EQ(delaysOf(*b), (std::vector<int>{10, 10, 20, 10}));
    EXPECT_EQ(*b->globalPalette, *a->globalPalette);
    for (int i = 0; i < 4; ++i) {
      const Frame* f = frameAt(*b, i);
      EXPECT_FALSE(f->localPalette);
      EXPECT_EQ(f->dib->data, frameAt(*a, i)->dib->data) << i;
    }
  }
  EXPECT_LT(fs::file_size(dir.file("rle.avi")), fs::file_size(dir.file("raw.avi")));
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"raw.avi", "rle.avi"}));
  EXPECT_TRUE(messages.entries().empty());
}

TEST_F(AviExport, Video1IsCloseAndPaddedToWholeBlocks) {
  save.avi.compression = aviPreset(AviPreset::Video1);
  auto a = makeDoc(16, 8, {10, 10}, 4);
  std::string path = dir.file("v1.avi");
  ASSERT_TRUE(saveAvi(path, *a));
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  avi::BitmapInfoHeader bih;
  ASSERT_TRUE(
      avi::parseBitmapInfoHeader(h.streams[0].format.data(), h.streams[0].format.size(), bih));
  EXPECT_EQ(avi::fourccText(bih.compression), "CRAM");
  EXPECT_EQ(bih.bitCount, 16);
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  ASSERT_EQ(b->frameCount(), 2);
  for (int i = 0; i < 2; ++i) {
    auto want = colours(*frameAt(*a, i));
    auto got = colours(*frameAt(*b, i));
    ASSERT_EQ(got.size(), want.size());
    long error = 0;
    for (size_t k = 0; k < got.size(); ++k) error += std::abs(got[k] - want[k]);
    EXPECT_LT(error / static_cast<long>(got.size()), 40) << i;
  }
  // Video 1 codes 4 × 4 blocks: other sizes are padded with their edge pixels.
  auto c = makeDoc(10, 6, {10}, 4);
  ASSERT_TRUE(saveAvi(path, *c));
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(b->width, 12);
  EXPECT_EQ(b->height, 8);
}

TEST_F(AviExport, TrueColourFramesWrite24BitsAndRle8BecomesVideo1) {
  auto a = makeTrueColourDoc(9, 5, 2);
  save.avi.uncompressed = true;
  std::string path = dir.file("rgb.avi");
  ASSERT_TRUE(saveAvi(path, *a));
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  ASSERT_EQ(b->frameCount(), 2);
  for (int i = 0; i < 2; ++i) {
    const Frame* f = frameAt(*b, i);
    EXPECT_FALSE(f->dib);
    EXPECT_EQ(f->rgb, frameAt(*a, i)->rgb) << i;
  }

  save.avi.uncompressed = false;
  save.avi.compression = aviPreset(AviPreset::Rle8);
  ASSERT_TRUE(saveAvi(path, *a));
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(avi::fourccText(h.streams[0].header.handler), "msvc");
}

TEST_F(AviExport, AudioOfAnotherFileIsInterleavedWhole) {
  std::string wav = dir.file("tone.wav");
  writeWav(wav, 8000, 12000);  // 1.5 s, longer than the video
  EXPECT_TRUE(aviHasAudioStream(wav));
  auto a = makeDoc(8, 4, {10, 10});
  AviSaveOptions o = aviOptionsWithoutPanel(*a, save.avi, 100);
  o.includeAudio = true;
  o.audioPath = wav;
  std::string path = dir.file("a.avi");
  ASSERT_EQ(WriteAviFile(path, *a, o, nullptr), 1);
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  ASSERT_EQ(h.streams.size(), 2u);
  const avi::StreamHeader& audio = h.streams[1].header;
  EXPECT_EQ(audio.type, avi::kAudio);
  EXPECT_EQ(audio.sampleSize, 2u);
  EXPECT_EQ(uint64_t{audio.length} * audio.scale * 8000 / audio.rate, 12000u);
  EXPECT_EQ(h.streams[1].format.size(), 18u);
  EXPECT_EQ(avi::getU16(h.streams[1].format.data()), 1) << "PCM kept as it is";
  EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"a.avi", "tone.wav"}));
}

// ---- Failures leave nothing behind ----

TEST_F(AviExport, AFolderThatCannotBeWrittenIsReported) {
  auto a = makeDoc(4, 2, {10});
  std::string path = dir.file("missing/t.avi");
  EXPECT_EQ(WriteAviFile(path, *a, aviOptionsWithoutPanel(*a, save.avi, 100), nullptr), 0);
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.texts()[0], "Unable to AVI open " + path + "1.avi. Error: 0x8004406f.");
}

TEST_F(AviExport, AWriteErrorLeavesTheTargetAsItWas) {
  std::string path = dir.file("old.avi");
  fbtest::writeBytes(path, {'o', 'l', 'd'});
  auto a = makeDoc(64, 64, {10, 10, 10, 10, 10, 10});
  int writes = 0;
  fileops::setFaultHook(
      [&](fileops::Op op, const std::string&) { return op == fileops::Op::Write && ++writes > 3; });
  EXPECT_FALSE(saveAvi(path, *a));
  fileops::setFaultHook({});
  ASSERT_EQ(messages.texts().size(), 1u) << "the writer's message only";
  EXPECT_EQ(messages.texts()[0], "Error 0x8004406e when outputting frames to AVI.");
  EXPECT_EQ(fbtest::readBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"old.avi"});
}

TEST_F(AviExport, EscStopsTheExportAndRemovesItsFiles) {
  auto a = makeDoc(16, 16, std::vector<int>(50, 10));
  for (int after : {3, 60}) {  // while the frames go out, while they are compressed
    RecordingProgress p;
    p.cancelAfter(after);
    EXPECT_FALSE(saveAvi(dir.file("t.avi"), *a, &p));
    EXPECT_TRUE(filesIn(dir.path()).empty()) << after;
    EXPECT_TRUE(messages.entries().empty());
    EXPECT_FALSE(p.texts().empty());
  }
}

TEST_F(AviExport, ACompressorFailureOffersTheUncompressedVideo) {
  avi::CompressOptions custom = aviPreset(AviPreset::None);
  custom.fccHandler = avi::fourcc("QQQQ");
  auto a = makeDoc(8, 4, {10, 10});
  AviSaveOptions o = aviOptionsWithoutPanel(*a, save.avi, 100);
  o.compress = true;
  o.compression = custom;
  std::string path = dir.file("c.avi");

  messages.queueAnswer(Answer::No);
  EXPECT_EQ(WriteAviFile(path, *a, o, nullptr), 0);
  ASSERT_EQ(messages.entries().size(), 1u);
  auto q = messages.entries()[0];
  EXPECT_TRUE(q.question);
  EXPECT_EQ(q.caption, "Compression Error");
  EXPECT_EQ(
      q.text,
      "The Video For Windows compressor failed with an Error 0x80044071.\nDo you want to save "
      "the AVI uncompressed and without audio?");
  EXPECT_TRUE(filesIn(dir.path()).empty());

  messages.clear();
  EXPECT_EQ(WriteAviFile(path, *a, o, nullptr), 0) << "no one to ask: no";
  EXPECT_TRUE(filesIn(dir.path()).empty());
  messages.queueAnswer(Answer::Yes);
  EXPECT_EQ(WriteAviFile(path, *a, o, nullptr), 1);
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"c.avi"});
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(avi::fourccText(h.streams[0].header.handler), "msvc");
  EXPECT_EQ(avi::getU32(h.streams[0].format.data() + 16), avi::kBiRgb);
}

TEST_F(AviExport, AFileInTheWayOfTheTemporaryOneIsLeftAlone) {
  auto a = makeDoc(4, 2, {10});
  std::string path = dir.file("t.avi");
  fbtest::writeBytes(path + "1.avi", {'m', 'i', 'n', 'e'});
  EXPECT_EQ(WriteAviFile(path, *a, aviOptionsWithoutPanel(*a, save.avi, 100), nullptr), 0);
  EXPECT_EQ(fbtest::readBytes(path + "1.avi"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
  EXPECT_EQ(messages.texts().size(), 1u);
}

TEST_F(AviExport, MissingAudioAbortsTheExport) {
  auto a = makeDoc(8, 4, {10});
  AviSaveOptions o = aviOptionsWithoutPanel(*a, save.avi, 100);
  o.includeAudio = true;
  o.audioPath = dir.file("nothing.wav");
  EXPECT_FALSE(aviHasAudioStream(o.audioPath));
  EXPECT_EQ(WriteAviFile(dir.file("t.avi"), *a, o, nullptr), 0);
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{
                "No audio stream found for interleaving. Export operation aborted."});
  EXPECT_TRUE(filesIn(dir.path()).empty());
}

// ---- Stored compression ----

TEST(AviCompression, StoredRecordAndPresets) {
  avi::CompressOptions o = loadAviCompression();
  EXPECT_EQ(recogniseAviPreset(o), AviPreset::Rle8) << "nothing stored";
  EXPECT_EQ(o.keyFrameEvery, 1500u);
  EXPECT_EQ(o.flags, 4u);

  AviSettings chosen;
  chosen.compression = aviPreset(AviPreset::Video1);
  storeAviSettings(chosen);
  auto bytes = settings().getBinary("AVICompress");
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 44u);
  EXPECT_EQ(std::string(bytes->begin() + 4, bytes->begin() + 8), "msvc");
  EXPECT_EQ(avi::getU32(bytes->data() + 12), 10000u);
  o = loadAviCompression();
  EXPECT_EQ(recogniseAviPreset(o), AviPreset::Video1);
  EXPECT_EQ(recogniseAviPreset(aviSettingsFromPreferences().compression), AviPreset::Video1);
  chosen.uncompressed = true;
  storeAviSettings(chosen);
  EXPECT_TRUE(aviSettingsFromPreferences().uncompressed);
  chosen.uncompressed = false;
  storeAviSettings(chosen);

  o.quality = 9000;
  EXPECT_EQ(recogniseAviPreset(o), AviPreset::Custom);
  o = aviPreset(AviPreset::Rle8);
  o.fccType = avi::kVideo;
  EXPECT_EQ(recogniseAviPreset(o), AviPreset::Custom) << "all eleven words count";

  settings().setBinary("AVICompress", {1, 2, 3});
  o = loadAviCompression();
  EXPECT_EQ(recogniseAviPreset(o), AviPreset::Rle8) << "a damaged value is not used";
}

TEST(AviCompression, SavesWithoutThePanel) {
  SaveOptions save;
  auto a = makeDoc(4, 2, {10});
  AviSaveOptions o = aviOptionsWithoutPanel(*a, save.avi, 100);
  EXPECT_TRUE(o.compress);
  EXPECT_FALSE(o.includeAudio);
  EXPECT_FALSE(o.write24Bit);
  EXPECT_EQ(recogniseAviPreset(o.compression), AviPreset::Rle8);

  auto t = makeTrueColourDoc(4, 2, 1);
  o = aviOptionsWithoutPanel(*t, save.avi, 100);
  EXPECT_TRUE(o.write24Bit);
  EXPECT_EQ(recogniseAviPreset(o.compression), AviPreset::Video1);

  save.avi.uncompressed = true;
  EXPECT_FALSE(aviOptionsWithoutPanel(*a, save.avi, 100).compress);
}

TEST(AviCompression, TheCodecChooserKeepsOnlyTheChoice) {
  struct Chooser : AviCodecChooser {
    bool choose(const std::vector<avi::EncoderInfo>& list, avi::CompressOptions& o) override {
      names = list;
      o.fccHandler = avi::fourcc("MJPG");
      o.quality = 7500;
      o.parms = 1234;
      o.formatSize = 8;
      return true;
    }
    std::vector<avi::EncoderInfo> names;
  } chooser;
  avi::CompressOptions o = aviPreset(AviPreset::Rle8);
  EXPECT_FALSE(ChooseCustomAviCompression(o, nullptr));
  EXPECT_EQ(o, aviPreset(AviPreset::Rle8));
  ASSERT_TRUE(ChooseCustomAviCompression(o, &chooser));
  EXPECT_EQ(o.fccHandler, avi::fourcc("MJPG"));
  EXPECT_EQ(o.quality, 7500u);
  EXPECT_EQ(o.parms, 0u);
  EXPECT_EQ(o.formatSize, 0u);
  auto has = [&](uint32_t code) {
    for (auto& e : chooser.names)
      if (e.fccHandler == code) return true;
    return false;
  };
  EXPECT_TRUE(has(avi::kHandlerRle8));
  EXPECT_TRUE(has(avi::kHandlerVideo1));
  EXPECT_TRUE(has(avi::fourcc("MJPG")));
}

TEST_F(AviExport, ACustomCodecCompressesWithFfmpeg) {
  avi::CompressOptions o;
  o.fccType = avi::kVideo;
  o.fccHandler = avi::fourcc("MJPG");
  o.quality = 9000;
  save.avi.compression = o;
  auto a = makeDoc(20, 10, {10, 10, 10});
  std::string path = dir.file("mjpg.avi");
  ASSERT_TRUE(saveAvi(path, *a));
  avi::FileHeaders h;
  ASSERT_TRUE(avi::readFileHeaders(path, h));
  EXPECT_EQ(avi::fourccText(avi::getU32(h.streams[0].format.data() + 16)), "MJPG");
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(b->frameCount(), 3);
  EXPECT_EQ(b->width, 20);
}

// ---- Import ----

TEST_F(AviImport, WhatIsNotAVideoIsReported) {
  std::string path = dir.file("not.avi");
  fbtest::writeBytes(path, std::vector<uint8_t>(1000, 'x'));
  std::unique_ptr<Animation> a;
  EXPECT_EQ(ReadAviFile(path, nullptr, a), 0);
  EXPECT_FALSE(a);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"无法找到视频流在 " + path + "中。"});

  // Audio only.
  messages.clear();
  std::string wav = dir.file("tone.wav");
  writeWav(wav, 8000, 100);
  std::string renamed = dir.file("tone.avi");
  fs::rename(wav, renamed);
  EXPECT_EQ(ReadAviFile(renamed, nullptr, a), 0);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"无法找到视频流在 " + renamed + "中。"});
}

TEST_F(AviImport, AMissingCodecIsNamedTwice) {
  std::string path = dir.file("q.avi");
  writeRawAvi(path, 4, 4, 24, {std::vector<uint8_t>(48, 1)}, avi::fourcc("QQ1Z"),
              avi::fourcc("QQ1Z"));
  std::unique_ptr<Animation> a;
  EXPECT_EQ(ReadAviFile(path, nullptr, a), 0);
  EXPECT_FALSE(a);
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{
                "The \"QQ1Z\" codec must be installed for this AVI to be successfully imported.\n\n"
                "The codec can usually be found online by searching for \"QQ1Z codec\"."});
}

TEST_F(AviImport, PicturesTooLargeAreOutOfMemory) {
  std::string path = dir.file("big.avi");
  writeRawAvi(path, 40000, 40000, 8, {std::vector<uint8_t>(16, 1)});
  std::unique_ptr<Animation> a;
  EXPECT_EQ(ReadAviFile(path, nullptr, a), 0);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"内存不足以读取影片"});
}

TEST_F(AviImport, HighColourBecomesTrueColour) {
  // 16-bit 5-5-5 (bottom line first): white 0x7FFF and pure blue.
  std::string path = dir.file("16.avi");
  std::vector<uint8_t> s16 = {0xFF, 0x7F, 0x1F, 0x00,   // bottom: white, blue
                              0x00, 0x7C, 0xE0, 0x03};  // top: red, green
  writeRawAvi(path, 2, 2, 16, {s16});
  std::unique_ptr<Animation> a;
  ASSERT_EQ(ReadAviFile(path, nullptr, a), 1);
  const Frame* f = firstFrame(*a);
  ASSERT_TRUE(f->hasRgb());
  int s = stride24(2);
  EXPECT_EQ(std::vector<uint8_t>(f->rgb.begin() + s, f->rgb.begin() + s + 6),
            (std::vector<uint8_t>{248, 248, 248, 0, 0, 248}));
  EXPECT_EQ(std::vector<uint8_t>(f->rgb.begin(), f->rgb.begin() + 6),
            (std::vector<uint8_t>{248, 0, 0, 0, 248, 0}));

  // 16-bit 5-6-5, as its masks say: green keeps its sixth bit.
  std::vector<uint8_t> s565 = {0xFF, 0xFF, 0xE0, 0x07,   // bottom: white, green
                               0x00, 0xF8, 0x1F, 0x00};  // top: red, blue
  writeRawAvi(path, 2, 2, 16, {s565}, 3, 0, {0xF800, 0x07E0, 0x001F});
  ASSERT_EQ(ReadAviFile(path, nullptr, a), 1);
  f = firstFrame(*a);
  EXPECT_EQ(std::vector<uint8_t>(f->rgb.begin() + s, f->rgb.begin() + s + 6),
            (std::vector<uint8_t>{248, 252, 248, 0, 252, 0}));
  EXPECT_EQ(std::vector<uint8_t>(f->rgb.begin(), f->rgb.begin() + 6),
            (std::vector<uint8_t>{248, 0, 0, 0, 0, 248}));

  // 32-bit: blue, green, red, unused.
  std::vector<uint8_t> s32 = {1, 2, 3, 0, 4, 5, 6, 0};
  writeRawAvi(path, 2, 1, 32, {s32});
  ASSERT_EQ(ReadAviFile(path, nullptr, a), 1);
  f = firstFrame(*a);
  EXPECT_EQ(std::vector<uint8_t>(f->rgb.begin(), f->rgb.begin() + 6),
            (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
}

TEST_F(AviImport, ASamplePaletteOfItsOwnBecomesALocalPalette) {
  // 4 × 2 in two colours (black, red); before the second sample a palette
  // change makes entry 1 blue. No index: the samples are read in file order.
  avi::BitmapInfoHeader bih;
  bih.width = 4;
  bih.height = 2;
  bih.bitCount = 8;
  bih.clrUsed = 2;
  std::vector<uint8_t> strf;
  avi::appendBitmapInfoHeader(strf, bih);
  strf = strf + std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 0};
  avi::StreamHeader sh;
  sh.type = avi::kVideo;
  sh.scale = 1;
  sh.rate = 10;
  sh.length = 3;
  std::vector<uint8_t> avih(56, 0);
  avih[24] = 1;  // one stream
  std::vector<uint8_t> frame = {0, 1, 0, 1, 1, 1, 0, 0};
  std::vector<uint8_t> change = {1, 1, 0, 0, 0, 0, 255, 0};  // entry 1: blue
  auto body =
      std::vector<uint8_t>{'A', 'V', 'I', ' '} +
      list("hdrl", chunk("avih", avih) + list("strl", chunk("strh", avi::packStreamHeader(sh)) +
                                                          chunk("strf", strf))) +
      list("movi", chunk("00db", frame) + chunk("00pc", change) + chunk("00db", frame) +
                       chunk("00db", frame));
  std::string path = dir.file("pc.avi");
  fbtest::writeBytes(path, chunk("RIFF", body));
  std::unique_ptr<Animation> a;
  ASSERT_EQ(ReadAviFile(path, nullptr, a), 1);
  ASSERT_EQ(a->frameCount(), 3);
  EXPECT_EQ(a->globalPalette->count, 2);
  EXPECT_EQ((*a->globalPalette)[1], (Rgb{255, 0, 0}));
  EXPECT_FALSE(frameAt(*a, 0)->localPalette);
  for (int i = 1; i < 3; ++i) {
    const Frame* f = frameAt(*a, i);
    ASSERT_TRUE(f->localPalette) << i;
    EXPECT_EQ((*f->localPalette)[1], (Rgb{0, 0, 255}));
    EXPECT_EQ(f->dib->colours[1], (Rgb{0, 0, 255}));
    EXPECT_EQ(f->dib->data, frameAt(*a, 0)->dib->data);
  }
}

TEST_F(AviImport, AStreamLengthNeverWrittenReadsToTheLastSample) {
  auto a = makeDoc(4, 2, {10, 10, 20});
  std::string path = dir.file("t.avi");
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr), 1);
  auto bytes = fbtest::readBytes(path);
  std::string all(bytes.begin(), bytes.end());
  size_t strh = all.find("strh");
  ASSERT_NE(strh, std::string::npos);
  std::fill_n(bytes.begin() + static_cast<long>(strh) + 8 + 32, 4, 0);  // dwLength
  fbtest::writeBytes(path, bytes);
  std::unique_ptr<Animation> b;
  ASSERT_EQ(ReadAviFile(path, nullptr, b), 1);
  EXPECT_EQ(delaysOf(*b), (std::vector<int>{10, 10, 10, 10})) << "the last lasts one sample";
}

TEST_F(AviImport, EscKeepsTheFramesReadSoFar) {
  auto a = makeDoc(8, 8, std::vector<int>(20, 10));
  std::string path = dir.file("t.avi");
  ASSERT_EQ(WriteAviVideoStream(path, *a, false, nullptr), 1);
  RecordingProgress p;
  p.cancelAfter(5);
  std::unique_ptr<Animation> b;
  EXPECT_EQ(ReadAviFile(path, &p, b), 2);
  ASSERT_TRUE(b);
  EXPECT_GT(b->frameCount(), 0);
  EXPECT_LT(b->frameCount(), 20);
  EXPECT_EQ(b->width, 8);
  EXPECT_EQ(p.texts(), std::vector<std::string>{"正在读取AVI文件... (Esc键中止)"});
  for (int i = 0; i < b->frameCount(); ++i)
    EXPECT_EQ(frameAt(*b, i)->dib->data, frameAt(*a, i)->dib->data);
}

TEST_F(AviImport, RealFilesOfOtherCodecs) {
  struct Case {
    const char* file;
    int frames;
    int firstDelay, otherDelay;
  };
  // 12 frames per second: 100 / 12 ticks; the MPEG-4 file drops its second sample.
  for (Case c : {Case{"avi/test_mjpeg.avi", 24, 8, 8}, Case{"avi/test_cinepak.avi", 24, 8, 8},
                 Case{"avi/test_mp3.avi", 50, 8, 4}}) {
    std::unique_ptr<Animation> a;
    ASSERT_EQ(openFile(fbtest::dataPath(c.file), a, nullptr), 1) << c.file;
    EXPECT_EQ(a->frameCount(), c.frames) << c.file;
    EXPECT_EQ(a->width, 128);
    EXPECT_EQ(a->height, 96);
    auto d = delaysOf(*a);
    EXPECT_EQ(d[0], c.firstDelay) << c.file;
    EXPECT_EQ(d[1], c.otherDelay) << c.file;
    // Pictures that move: consecutive frames differ.
    EXPECT_NE(colours(*frameAt(*a, 1)), colours(*frameAt(*a, 10))) << c.file;
  }
  EXPECT_TRUE(messages.entries().empty());
}

TEST_F(AviImport, DamagedFilesGiveAMessageNeverACrash) {
  auto a = makeDoc(12, 6, {10, 20, 10, 30});
  std::string good = dir.file("good.avi");
  ASSERT_TRUE(saveAvi(good, *a));  // RLE8
  std::vector<std::vector<uint8_t>> sources = {
      fbtest::readBytes(good), fbtest::readBytes(fbtest::dataPath("avi/test_mjpeg.avi"))};
  std::string path = dir.file("bad.avi");
  int failed = 0, read = 0;
  for (const auto& bytes : sources) {
    // Cut short at many lengths.
    for (size_t n = 0; n < bytes.size(); n += std::max<size_t>(1, bytes.size() / 150)) {
      fbtest::writeBytes(path,
                         std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
      messages.clear();
      std::unique_ptr<Animation> b;
      int r = ReadAviFile(path, nullptr, b);
      if (r == 0) {
        ++failed;
        EXPECT_FALSE(b);
        EXPECT_EQ(messages.entries().size(), 1u) << n;
      } else {
        ++read;
        ASSERT_TRUE(b);
        EXPECT_GT(b->frameCount(), 0);
      }
    }
    // Bytes overwritten here and there.
    std::mt19937 rng(11);
    for (int round = 0; round < 150; ++round) {
      auto copy = bytes;
      for (int k = 0; k < 8; ++k) copy[rng() % copy.size()] = static_cast<uint8_t>(rng());
      fbtest::writeBytes(path, copy);
      messages.clear();
      std::unique_ptr<Animation> b;
      int r = ReadAviFile(path, nullptr, b);
      if (r == 0)
        EXPECT_EQ(messages.entries().size(), 1u);
      else
        EXPECT_TRUE(b && b->frameCount() > 0);
    }
  }
  EXPECT_GT(failed, 0);
  EXPECT_GT(read, 0);
}

// ---- Fix for AVI ----

TEST(AviTraits, WhatAVideoCannotShow) {
  auto a = makeDoc(4, 4, {10});
  EXPECT_EQ(aviExportTraits(*a), 0u);
  a = makeDoc(4, 4, {10, 10});
  frameAt(*a, 1)->selected = 1;
  countSelected(*a);
  EXPECT_EQ(aviExportTraits(*a), avitraits::ManyFrames | avitraits::Selection);
  setTransparent(*frameAt(*a, 0), true);
  EXPECT_EQ(aviExportTraits(*a) & avitraits::NeedsFix, avitraits::Transparency);
  frameAt(*a, 1)->left = 1;
  EXPECT_TRUE(aviExportTraits(*a) & avitraits::PartialFrames);
  setLocalPalette(*frameAt(*a, 1), copyPalette(*a->globalPalette));
  EXPECT_TRUE(aviExportTraits(*a) & avitraits::LocalPalettes);
  EXPECT_TRUE(aviExportTraits(*makeTrueColourDoc(2, 2, 1)) & avitraits::TrueColour);
}

TEST_F(AviFix, OneTransparentIndexMovesToEntryZero) {
  auto a = makeDoc(6, 4, {10}, 8);
  a->backgroundIndex = 5;
  Frame* f = firstFrame(*a);
  setTransparentIndex(*f, 5);
  setTransparent(*f, true);
  Rgb was0 = (*a->globalPalette)[0], was5 = (*a->globalPalette)[5];
  auto before = pictures(*a);
  ASSERT_TRUE(FixForAvi(*a, aviExportTraits(*a), nullptr));
  f = firstFrame(*a);
  EXPECT_EQ(f->transparentIndex, 0);
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ((*a->globalPalette)[0], was5);
  EXPECT_EQ((*a->globalPalette)[5], was0);
  EXPECT_EQ(a->backgroundIndex, 0);
  EXPECT_EQ(pictures(*a), before);
}

TEST_F(AviFix, LocalPalettesJoinOneGlobalPalette) {
  auto a = makeDoc(6, 4, {10, 10, 10}, 8);
  std::vector<Rgb> other = {{1, 2, 3}, {200, 100, 50}, {9, 9, 9}, {250, 250, 0}};
  Frame* f = frameAt(*a, 1);
  setLocalPalette(*f, makePalette(other.data(), 4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) f->dib->row(y)[x] = static_cast<uint8_t>((x + y) % 4);
  std::copy(other.begin(), other.end(), f->dib->colours.begin());
  auto before = pictures(*a);
  ASSERT_TRUE(FixForAvi(*a, aviExportTraits(*a), nullptr));
  EXPECT_EQ(aviExportTraits(*a) & avitraits::NeedsFix, 0u);
  for (Frame* g = firstFrame(*a); g; g = nextFrame(g)) EXPECT_FALSE(g->localPalette);
  EXPECT_EQ(pictures(*a), before) << "12 colours fit one palette exactly";
}

namespace {

// Where a viewer saw a pixel (alpha 255), `after` shows the same colour.
void expectSameWhereShown(const std::vector<std::vector<uint8_t>>& before,
                          const std::vector<std::vector<uint8_t>>& after) {
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i)
    for (size_t k = 0; k < before[i].size(); k += 4) {
      if (before[i][k + 3] != 255) continue;
      ASSERT_EQ(std::vector<uint8_t>(after[i].begin() + static_cast<long>(k),
                                     after[i].begin() + static_cast<long>(k) + 4),
                std::vector<uint8_t>(before[i].begin() + static_cast<long>(k),
                                     before[i].begin() + static_cast<long>(k) + 4))
          << "picture " << i << " byte " << k;
    }
}

}  // namespace

TEST_F(AviFix, DifferentTransparentIndexesBecomeWholeOpaquePictures) {
  auto a = makeDoc(6, 4, {10, 10}, 8);
  setTransparentIndex(*frameAt(*a, 0), 2);
  setTransparent(*frameAt(*a, 0), true);
  setTransparentIndex(*frameAt(*a, 1), 3);
  setTransparent(*frameAt(*a, 1), true);
  frameAt(*a, 1)->left = 1;
  frameAt(*a, 1)->width = 5;
  auto before = pictures(*a);
  ASSERT_TRUE(FixForAvi(*a, aviExportTraits(*a), nullptr));
  EXPECT_EQ(aviExportTraits(*a) & avitraits::NeedsFix, 0u);
  expectSameWhereShown(before, pictures(*a));

  // All or nothing: when the whole pictures cannot be made, nothing changes.
  auto b = makeDoc(6, 4, {10, 10}, 8);
  setTransparentIndex(*frameAt(*b, 0), 2);
  setTransparent(*frameAt(*b, 0), true);
  setTransparentIndex(*frameAt(*b, 1), 3);
  setTransparent(*frameAt(*b, 1), true);
  setLocalPalette(*frameAt(*b, 1), copyPalette(*b->globalPalette));
  Frame* first = firstFrame(*b);
  EXPECT_FALSE(FixForAvi(*b, avitraits::Transparency, nullptr))
      << "unoptimize refuses local palettes";
  EXPECT_EQ(firstFrame(*b), first);
  EXPECT_EQ(frameAt(*b, 0)->transparentIndex, 2);
  EXPECT_EQ(frameAt(*b, 1)->transparentIndex, 3);
}

TEST_F(AviFix, EveryRealAnimationCanBeFixed) {
  for (auto& e : fs::directory_iterator(fbtest::dataPath("gif-real"))) {
    std::unique_ptr<Animation> a;
    ASSERT_EQ(openFile(e.path().string(), a, nullptr), kReadComplete) << e.path();
    int frames = a->frameCount();
    ASSERT_TRUE(FixForAvi(*a, aviExportTraits(*a), nullptr)) << e.path();
    EXPECT_EQ(aviExportTraits(*a) & avitraits::NeedsFix, 0u) << e.path();
    EXPECT_EQ(a->frameCount(), frames);
  }
}

TEST_F(AviFix, PartialAndSeeThroughFramesBecomeWholePictures) {
  auto a = makeDoc(6, 4, {10, 10, 10}, 8);
  Frame* f = frameAt(*a, 1);
  // Frame 1: a 2 × 2 patch at (3, 1); frame 2: whole but partly transparent.
  auto patch = createBitmap(2, 2, a->globalPalette.get());
  std::fill(patch->data.begin(), patch->data.end(), 7);
  f->left = 3;
  f->top = 1;
  f->width = 2;
  f->height = 2;
  setBitmap(*f, std::move(patch));
  Frame* g = frameAt(*a, 2);
  setTransparentIndex(*g, 4);
  setTransparent(*g, true);
  auto before = pictures(*a);
  ASSERT_TRUE(FixForAvi(*a, aviExportTraits(*a), nullptr));
  EXPECT_EQ(aviExportTraits(*a) & avitraits::NeedsFix, 0u);
  EXPECT_EQ(pictures(*a), before);

  // Exported and read back, the pictures are the same.
  std::string path = dir.file("fixed.avi");
  ASSERT_TRUE(saveAvi(path, *a));
  std::unique_ptr<Animation> b;
  ASSERT_EQ(openFile(path, b, nullptr), 1);
  auto after = pictures(*b);
  EXPECT_EQ(after, before);
}

TEST_F(AviFix, ASaveWithoutThePanelFixesACopy) {
  auto a = makeDoc(6, 4, {10, 10}, 8);
  setTransparentIndex(*frameAt(*a, 0), 2);
  setTransparent(*frameAt(*a, 0), true);
  setTransparentIndex(*frameAt(*a, 1), 3);  // another index: the copy is unoptimized instead
  setTransparent(*frameAt(*a, 1), true);
  auto before = pictures(*a);
  std::string path = dir.file("copy.avi");
  ASSERT_TRUE(saveAvi(path, *a));
  EXPECT_EQ(frameAt(*a, 1)->transparentIndex, 3) << "the document is not changed";
  std::unique_ptr<Animation> b;
  ASSERT_EQ(openFile(path, b, nullptr), 1);
  // Wherever the viewer saw a pixel, the video shows the same.
  expectSameWhereShown(before, pictures(*b));
}

// ---- The panel ----

TEST_F(AviExport, ThePanelsOptionsHoldForTheSavesTheyCover) {
  auto a = makeDoc(4, 4, {10});
  std::string path = dir.file("p.avi");
  auto compressionOf = [&] {
    avi::FileHeaders h;
    EXPECT_TRUE(avi::readFileHeaders(path, h));
    return avi::getU32(h.streams[0].format.data() + 16);
  };
  {
    AviSaveOptions o = aviOptionsWithoutPanel(*a, save.avi, 100);
    o.compress = false;
    SaveOptions withPanel = save;
    withPanel.aviPanel = &o;
    ASSERT_TRUE(saveByType(path, *a, saveopt::WholeAnimation, kTypeAvi, nullptr, withPanel));
    EXPECT_EQ(compressionOf(), avi::kBiRgb);
  }
  ASSERT_TRUE(saveAvi(path, *a));
  EXPECT_EQ(compressionOf(), avi::kBiRle8) << "a quick save takes the stored choice";
  EXPECT_TRUE(messages.entries().empty());
}

TEST_F(AviExport, ThePanelOpensWithTheStoredChoice) {
  AviPanelState st = openAviPanel(0, save.avi);
  EXPECT_EQ(st.choice, AviPreset::Rle8);
  EXPECT_FALSE(st.show24Bit);
  save.avi.compression = aviPreset(AviPreset::Video1);
  EXPECT_EQ(openAviPanel(0, save.avi).choice, AviPreset::Video1);
  avi::CompressOptions custom = aviPreset(AviPreset::None);
  custom.fccHandler = avi::fourcc("MJPG");
  save.avi.compression = custom;
  EXPECT_EQ(openAviPanel(0, save.avi).choice, AviPreset::Custom);
  save.avi.uncompressed = true;
  EXPECT_EQ(openAviPanel(0, save.avi).choice, AviPreset::None);

  save.avi.uncompressed = false;
  save.avi.compression = aviPreset(AviPreset::Rle8);
  st = openAviPanel(avitraits::TrueColour, save.avi);
  EXPECT_TRUE(st.show24Bit);
  EXPECT_FALSE(st.rle8Enabled);
  EXPECT_EQ(st.choice, AviPreset::Video1) << "no RLE8 for 24-bit frames";
  chooseAviPreset(st, AviPreset::Rle8, nullptr);
  EXPECT_EQ(st.choice, AviPreset::Video1);
  // The codec chooser cancelled: back to Video 1 for 24 bits, RLE8 otherwise.
  chooseAviPreset(st, AviPreset::Custom, nullptr);
  EXPECT_EQ(st.choice, AviPreset::Video1);
  st = openAviPanel(0, save.avi);
  chooseAviPreset(st, AviPreset::None, nullptr);
  chooseAviPreset(st, AviPreset::Custom, nullptr);
  EXPECT_EQ(st.choice, AviPreset::Rle8);

  setAviAudioPath(st, "x.wav");
  EXPECT_TRUE(st.includeAudio && st.audioEnabled);
  setAviAudioPath(st, "");
  EXPECT_FALSE(st.includeAudio || st.audioEnabled);
}

TEST_F(AviExport, ThePanelConfirmsStoresAndChecksTheAudio) {
  AviPanelState st = openAviPanel(0, save.avi);
  AviSaveOptions o;
  chooseAviPreset(st, AviPreset::None, nullptr);
  ASSERT_TRUE(confirmAviPanel(st, avitraits::ManyFrames, o, save.avi));
  EXPECT_FALSE(o.compress);
  EXPECT_TRUE(save.avi.uncompressed) << "for the caller to store";

  chooseAviPreset(st, AviPreset::Video1, nullptr);
  ASSERT_TRUE(confirmAviPanel(st, avitraits::TrueColour, o, save.avi));
  EXPECT_TRUE(o.compress);
  EXPECT_TRUE(o.write24Bit);
  EXPECT_FALSE(save.avi.uncompressed);
  EXPECT_EQ(recogniseAviPreset(save.avi.compression), AviPreset::Video1);

  std::string silent = dir.file("silent.txt");
  fbtest::writeBytes(silent, {'n', 'o'});
  setAviAudioPath(st, silent);
  EXPECT_FALSE(confirmAviPanel(st, 0, o, save.avi));
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{"No audio stream was found in " + silent +
                                     ". \n\nEither select another file or export the AVI "
                                     "without audio."});
  std::string wav = dir.file("tone.wav");
  writeWav(wav, 8000, 800);
  setAviAudioPath(st, wav);
  ASSERT_TRUE(confirmAviPanel(st, 0, o, save.avi));
  EXPECT_TRUE(o.includeAudio);
  EXPECT_EQ(o.audioPath, wav);
}
