#include "formats/png_writer.h"

#include <gtest/gtest.h>

#include "document/player.h"
#include "formats/png_builder.h"
#include "formats/png_reader.h"
#include "formats/png_rgba.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "base/file_ops.h"
#include "base/reporter.h"
#include "testutil.h"
#include "timeline.h"

using namespace fb;
using fbtest::pictures;
using fbtest::chunkList;
using fbtest::chunksOf;

namespace {

const char* kEncodeError =
    "There was an unexpected error encoding to PNG. Try saving to another format.";

// An indexed document on a four-colour global palette.
struct Doc {
  std::unique_ptr<Animation> a;

  Doc(int w, int h) {
    a = createAnimation();
    a->width = w;
    a->height = h;
    Rgb pal[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    setGlobalPalette(*a, makePalette(pal, 4));
  }
  Frame& add(int l, int t, int w, int h, uint8_t fill, int delay = 10, int disposal = 1) {
    Frame* f = newBlankFrame(w, h).release();
    f->left = l;
    f->top = t;
    f->delay = delay;
    f->lendPalette(a->globalPalette.get());
    f->dib = createBitmap(w, h, f->palette());
    std::fill(f->dib->data.begin(), f->dib->data.end(), fill);
    f->setDisposal(disposal);
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
    return *f;
  }
};

void makeTransparent(Frame& f, int index) {
  f.transparentIndex = uint8_t(index);
  f.controlFlags |= 1;
}

std::vector<uint8_t> writeToMemory(Animation& a) {
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(WriteApngFile("", a, nullptr, &sink), 1);
  return out;
}

std::unique_ptr<Animation> readBack(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<Animation> a;
  MemorySource src(bytes.data() + 8, bytes.size() - 8);
  EXPECT_EQ(ReadPngStream(src, nullptr, a), kReadComplete);
  return a;
}

const PngChunk* find(const PngStream& s, uint32_t type, int nth = 0) {
  for (const auto& c : s.chunks)
    if (c.type == type && nth-- == 0) return &c;
  return nullptr;
}

FrameControl frameControl(const PngStream& s, int nth, uint32_t* sequence = nullptr) {
  const PngChunk* c = find(s, kFCTL, nth);
  FrameControl fc;
  if (!c) return fc;
  const uint8_t* d = s.data(*c);
  if (sequence) *sequence = be32(d);
  fc.width = be32(d + 4);
  fc.height = be32(d + 8);
  fc.x = be32(d + 12);
  fc.y = be32(d + 16);
  fc.delayNum = be16(d + 20);
  fc.delayDen = be16(d + 22);
  fc.disposeOp = d[24];
  fc.blendOp = d[25];
  return fc;
}

}  // namespace

TEST(PngWriter, OneFrameInEachColourKind) {
  Doc d(3, 2);
  Frame& f = d.add(0, 0, 3, 2, 2);
  f.dib->row(1)[2] = 1;
  makeTransparent(f, 2);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  ASSERT_EQ(WritePngFrame("", f, nullptr, &sink), 1);
  auto s = chunksOf(out);
  EXPECT_EQ(chunkList(s), "IHDR PLTE tRNS IDAT IEND");
  EXPECT_EQ(s.data(s.chunks[0])[9], 3) << "colour type: palette";
  EXPECT_EQ(s.data(s.chunks[0])[8], 8);
  EXPECT_EQ(s.chunks[1].length, 12u) << "every entry of the palette";
  const uint8_t* trns = s.data(s.chunks[2]);
  EXPECT_EQ(std::vector<uint8_t>(trns, trns + s.chunks[2].length),
            (std::vector<uint8_t>{255, 255, 0, 255}));
  auto back = readBack(out);
  Frame* g = firstFrame(*back);
  EXPECT_TRUE(g->transparent());
  EXPECT_EQ(g->transparentIndex, 2);
  EXPECT_EQ(g->dib->row(1)[2], 1);

  // 24-bit colour data: RGB; with an alpha plane: RGBA. Exact both ways.
  setRgb(f, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0});
  out.clear();
  ASSERT_EQ(WritePngFrame("", f, nullptr, &sink), 1);
  EXPECT_EQ(chunkList(chunksOf(out)), "IHDR IDAT IEND");
  EXPECT_EQ(chunksOf(out).data(chunksOf(out).chunks[0])[9], 2);
  back = readBack(out);
  EXPECT_EQ(firstFrame(*back)->rgb, f.rgb);
  EXPECT_TRUE(firstFrame(*back)->alpha.empty());

  setAlpha(f, {255, 0, 128, 0, 1, 2, 3, 0});
  out.clear();
  ASSERT_EQ(WritePngFrame("", f, nullptr, &sink), 1);
  EXPECT_EQ(chunksOf(out).data(chunksOf(out).chunks[0])[9], 6);
  back = readBack(out);
  EXPECT_EQ(firstFrame(*back)->rgb, f.rgb);
  EXPECT_EQ(firstFrame(*back)->alpha, f.alpha);
}

TEST(PngWriter, ThePaletteCoversEveryIndexThePixelsUse) {
  // Indices beyond the palette (files read with such pixels) still decode:
  // PLTE grows, black, to the largest index used.
  Doc d(2, 1);
  Frame& f = d.add(0, 0, 2, 1, 0);
  f.dib->row(0)[1] = 9;
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  ASSERT_EQ(WritePngFrame("", f, nullptr, &sink), 1);
  auto s = chunksOf(out);
  EXPECT_EQ(find(s, kPLTE)->length, 30u);
  EXPECT_EQ(readBack(out)->globalPalette->count, 10);
}

TEST(PngWriter, AFilmstripCarriesItsFrameCountAndDelays) {
  Doc d(2, 1);
  d.add(0, 0, 2, 1, 1, 10);
  d.add(0, 0, 2, 1, 2, 20);
  d.add(0, 0, 2, 1, 3, 30);
  Doc strip(6, 1);
  Frame& picture = strip.add(0, 0, 6, 1, 1);
  for (int x = 0; x < 6; ++x) picture.dib->row(0)[x] = uint8_t(1 + x / 2);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  ASSERT_EQ(WritePngFrame("", picture, d.a.get(), &sink), 1);
  auto s = chunksOf(out);
  EXPECT_EQ(chunkList(s), "IHDR PLTE IDAT pAni IEND") << "pAni follows the image data";
  const PngChunk* pani = find(s, kPANI);
  ASSERT_EQ(pani->length, 16u);
  const uint8_t* p = s.data(*pani);
  EXPECT_EQ(std::vector<uint8_t>(p, p + 16),
            (std::vector<uint8_t>{3, 0, 0, 0, 10, 0, 0, 0, 20, 0, 0, 0, 30, 0, 0, 0}));
  auto back = readBack(out);
  EXPECT_EQ(back->frameCount(), 3);
  EXPECT_EQ(back->width, 2);
  EXPECT_EQ(frameAt(*back, 2)->delay, 30);
  EXPECT_EQ(frameAt(*back, 2)->dib->row(0)[1], 3);
}

TEST(PngWriter, AnAnimationIsOneControlAndAFrameControlPerFrame) {
  Doc d(20, 20);
  d.a->playCount = 2;
  Frame& first = d.add(5, 5, 10, 10, 1, 7, 2);  // not covering the screen
  first.dib->row(0)[0] = 3;
  d.add(0, 0, 4, 4, 2, 25, 3);
  Frame& third = d.add(2, 3, 4, 5, 3, 0, 0);
  third.blend = 0;
  auto out = writeToMemory(*d.a);
  auto s = chunksOf(out);
  EXPECT_EQ(chunkList(s), "IHDR PLTE acTL fcTL IDAT fcTL fdAT fcTL fdAT IEND");
  for (const auto& c : s.chunks) EXPECT_TRUE(c.crcOk) << fbtest::typeName(c.type);
  EXPECT_EQ(be32(s.data(s.chunks[0])), 20u) << "IHDR: the screen";
  const uint8_t* ac = s.data(*find(s, kACTL));
  EXPECT_EQ(be32(ac), 3u);
  EXPECT_EQ(be32(ac + 4), 2u);

  // The first frame is written as a screen-sized copy at (0, 0).
  uint32_t seq = 99;
  FrameControl fc = frameControl(s, 0, &seq);
  EXPECT_EQ(seq, 0u);
  EXPECT_EQ(fc.width, 20u);
  EXPECT_EQ(fc.x, 0u);
  EXPECT_EQ(fc.delayNum, 7);
  EXPECT_EQ(fc.delayDen, 100);
  EXPECT_EQ(fc.disposeOp, 1) << "restore to background";
  fc = frameControl(s, 1, &seq);
  EXPECT_EQ(seq, 1u);
  EXPECT_EQ(be32(s.data(*find(s, kFDAT, 0))), 2u) << "fdAT shares the sequence";
  EXPECT_EQ(fc.disposeOp, 2) << "restore to previous";
  fc = frameControl(s, 2, &seq);
  EXPECT_EQ(seq, 3u);
  EXPECT_EQ(fc.x, 2u);
  EXPECT_EQ(fc.y, 3u);
  EXPECT_EQ(fc.width, 4u);
  EXPECT_EQ(fc.height, 5u);
  EXPECT_EQ(fc.disposeOp, 0) << "unspecified: none";
  EXPECT_EQ(fc.blendOp, 0);

  auto back = readBack(out);
  EXPECT_EQ(back->frameCount(), 3);
  EXPECT_EQ(back->playCount, 2);
  Frame* f0 = firstFrame(*back);
  EXPECT_EQ(f0->width, 20);
  EXPECT_EQ(f0->dib->row(5)[5], 3);
  EXPECT_EQ(f0->dib->row(0)[0], d.a->backgroundIndex) << "outside it: the background";
  EXPECT_EQ(frameAt(*back, 1)->delay, 25);
  EXPECT_EQ(frameAt(*back, 1)->disposal(), 3);
}

TEST(PngWriter, BlendOverOnlyWhereAFrameHasSeeThroughPixels) {
  Doc d(2, 1);
  d.add(0, 0, 2, 1, 1);
  d.add(0, 0, 2, 1, 2);  // opaque indexed: source
  auto s = chunksOf(writeToMemory(*d.a));
  EXPECT_EQ(frameControl(s, 1).blendOp, 0);

  // Transparent indexed frames blend over, or their transparent pixels would
  // wipe what a GIF shows through them.
  Doc t(2, 1);
  makeTransparent(t.add(0, 0, 2, 1, 1), 0);
  makeTransparent(t.add(0, 0, 2, 1, 2), 0);
  s = chunksOf(writeToMemory(*t.a));
  EXPECT_EQ(frameControl(s, 1).blendOp, 1);
  frameAt(*t.a, 1)->blend = 0;
  s = chunksOf(writeToMemory(*t.a));
  EXPECT_EQ(frameControl(s, 1).blendOp, 0) << "the blend flag says source";

  Doc c(2, 1);
  for (int i = 0; i < 2; ++i) {
    Frame& f = c.add(0, 0, 2, 1, 1);
    setRgb(f, {1, 2, 3, 4, 5, 6, 0, 0});
    if (i == 1) setAlpha(f, {255, 0, 0, 0});
  }
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(WriteApngFile("", *c.a, nullptr, &sink), 0) << "24 and 32 bits do not mix";
  setAlpha(*firstFrame(*c.a), {255, 255, 0, 0});
  s = chunksOf(writeToMemory(*c.a));
  EXPECT_EQ(s.data(s.chunks[0])[9], 6);
  EXPECT_EQ(frameControl(s, 1).blendOp, 1);
}

TEST(PngWriter, TheHiddenFirstFrameHasNoFrameControl) {
  Doc d(2, 2);
  d.a->hideFirstFrame = 1;
  d.add(0, 0, 2, 2, 3, 0);
  d.add(0, 0, 2, 2, 1, 40);
  d.add(1, 1, 1, 1, 2, 50);
  auto out = writeToMemory(*d.a);
  auto s = chunksOf(out);
  EXPECT_EQ(chunkList(s), "IHDR PLTE acTL IDAT fcTL fdAT fcTL fdAT IEND");
  EXPECT_EQ(be32(s.data(*find(s, kACTL))), 2u) << "the default image is not counted";
  uint32_t seq = 9;
  frameControl(s, 0, &seq);
  EXPECT_EQ(seq, 0u);
  auto back = readBack(out);
  EXPECT_EQ(back->hideFirstFrame, 1);
  EXPECT_EQ(back->frameCount(), 3);
  EXPECT_EQ(frameAt(*back, 1)->delay, 40);
  EXPECT_EQ(pictures(*back).size(), 2u) << "the default image is not shown";
}

TEST(PngWriter, FramesReachingPastTheScreenAreClipped) {
  Doc d(4, 4);
  d.add(0, 0, 4, 4, 1);
  d.add(-2, 2, 4, 4, 2);  // half outside to the left and below
  Frame& gone = d.add(10, 10, 2, 2, 3);
  makeTransparent(gone, 0);
  makeTransparent(*firstFrame(*d.a), 0);
  makeTransparent(*frameAt(*d.a, 1), 0);
  auto out = writeToMemory(*d.a);
  auto s = chunksOf(out);
  FrameControl fc = frameControl(s, 1);
  EXPECT_EQ(fc.x, 0u);
  EXPECT_EQ(fc.y, 2u);
  EXPECT_EQ(fc.width, 2u);
  EXPECT_EQ(fc.height, 2u);
  fc = frameControl(s, 2);
  EXPECT_EQ(fc.width, 1u) << "a frame wholly outside leaves one transparent pixel";
  EXPECT_EQ(fc.blendOp, 1);
  auto before = pictures(*d.a);
  auto after = pictures(*readBack(out));
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[1], before[1]);
  EXPECT_EQ(after[2], before[2]);
}

TEST(PngWriter, AnimationsThatCannotBeOneAnimatedPngAreRefused) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  auto refusal = [&](Doc& d) {
    rec.clear();
    bool ok = CheckApngWritable(*d.a);
    return ok ? std::string("ok") : rec.texts().at(0);
  };
  Doc mixed(2, 1);
  mixed.add(0, 0, 2, 1, 1);
  setRgb(mixed.add(0, 0, 2, 1, 1), {1, 2, 3, 4, 5, 6, 0, 0});
  EXPECT_EQ(refusal(mixed),
            "Cannot save an animated PNG (APNG) with mixed resolutions. All the frames need to be "
            "either 8bit, 24bit, or 32bit.");
  Doc local(2, 1);
  local.add(0, 0, 2, 1, 1);
  Rgb l[2] = {{1, 1, 1}, {2, 2, 2}};
  setLocalPalette(local.add(0, 0, 2, 1, 1), makePalette(l, 2));
  EXPECT_EQ(refusal(local),
            "Cannot save an animated PNG (APNG) with local palettes. Use Animation>Optimize to "
            "automatically remove local palettes.");
  Doc some(2, 1);
  some.add(0, 0, 2, 1, 1);
  makeTransparent(some.add(0, 0, 2, 1, 1), 0);
  EXPECT_EQ(refusal(some),
            "Cannot save an animated PNG (APNG) with a mix of transparent and non-transparent "
            "frames.");
  Doc two(2, 1);
  makeTransparent(two.add(0, 0, 2, 1, 1), 0);
  makeTransparent(two.add(0, 0, 2, 1, 1), 3);
  EXPECT_EQ(refusal(two),
            "Cannot save an animated PNG (APNG) with transparent frames that do not use the same "
            "transparent index.");
  // The first rule broken is the one said.
  setLocalPalette(*frameAt(*two.a, 1), makePalette(l, 2));
  EXPECT_NE(refusal(two).find("local palettes"), std::string::npos);
  // True-colour frames have no palettes or transparent index to agree on.
  Doc colour(2, 1);
  for (int i = 0; i < 2; ++i) {
    Frame& f = colour.add(0, 0, 2, 1, 1);
    setRgb(f, {1, 2, 3, 4, 5, 6, 0, 0});
    if (i) makeTransparent(f, 7);
  }
  EXPECT_EQ(refusal(colour), "ok");
  EXPECT_EQ(WriteApngFile("", *two.a), 0) << "writing checks too";
}

TEST(PngWriter, OneFrameIsAPictureWithItsFilmstripChunk) {
  Doc d(2, 2);
  d.add(0, 0, 2, 2, 1, 33);
  auto out = writeToMemory(*d.a);
  EXPECT_EQ(chunkList(chunksOf(out)), "IHDR PLTE IDAT pAni IEND");
  auto back = readBack(out);
  EXPECT_EQ(firstFrame(*back)->delay, 33);
}

TEST(PngWriter, FailuresToWriteAndToEncode) {
  fbtest::TempDir dir;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  Doc d(2, 2);
  d.add(0, 0, 2, 2, 1);
  d.add(0, 0, 2, 2, 2);
  // A file that cannot be created or written: 0, and the save reports it.
  EXPECT_EQ(WriteApngFile(dir.file("no/such/folder.png"), *d.a), 0);
  fileops::setFaultHook([](fileops::Op op, const std::string&) {
    if (op != fileops::Op::Write && op != fileops::Op::Flush) return false;
    errno = ENOSPC;
    return true;
  });
  EXPECT_EQ(WriteApngFile(dir.file("full.png"), *d.a), 0);
  EXPECT_EQ(WritePngFrame(dir.file("full1.png"), *firstFrame(*d.a), nullptr), 0);
  fileops::setFaultHook({});
  EXPECT_TRUE(rec.texts().empty());
  // A frame libpng cannot encode (no pixels): the encoding message.
  Frame empty;
  EXPECT_EQ(WritePngFrame(dir.file("empty.png"), empty, nullptr), 0);
  ASSERT_EQ(rec.texts().size(), 1u);
  EXPECT_EQ(rec.texts()[0].rfind(kEncodeError, 0), 0u);
  EXPECT_NE(rec.texts()[0].find("bugs@norvane.org"), std::string::npos) << "whom to tell";
  ASSERT_EQ(WriteApngFile(dir.file("ok.png"), *d.a), 1);
  std::unique_ptr<Animation> a;
  EXPECT_EQ(ReadPngFile(dir.file("ok.png"), nullptr, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 2);
}

TEST(PngWriter, TrueColourCopiesForTheAlways24Or32BitOption) {
  Doc d(2, 1);
  Frame& opaque = d.add(0, 0, 2, 1, 1);
  opaque.dib->row(0)[1] = 3;
  makeTransparent(d.add(0, 0, 2, 1, 2), 2);
  auto copy = trueColourCopy(*d.a, nullptr);
  ASSERT_TRUE(copy);
  EXPECT_FALSE(opaque.hasRgb()) << "the document is untouched";
  Frame* a = firstFrame(*copy);
  Frame* b = nextFrame(a);
  EXPECT_EQ(a->rgb, (std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 0, 0}));
  EXPECT_EQ(pngFrameKind(*a), 32) << "one frame is transparent: all get alpha";
  EXPECT_EQ(a->alpha[0] + a->alpha[1], 2 * 255);
  EXPECT_EQ(b->alpha[0] + b->alpha[1], 0);
  EXPECT_TRUE(CheckApngWritable(*copy));
  removeBlock(*copy, b);
  auto again = trueColourCopy(*copy, nullptr);
  EXPECT_EQ(pngFrameKind(*firstFrame(*again)), 32) << "colour data kept as it is";
  Doc plain(1, 1);
  plain.add(0, 0, 1, 1, 2);
  EXPECT_EQ(pngFrameKind(*firstFrame(*trueColourCopy(*plain.a, nullptr))), 24);
}

TEST(PngWriter, GifAnimationsSurviveTheTripThroughAnAnimatedPng) {
  // Every animated GIF of the suites that an animated PNG can hold: GIF ->
  // APNG -> GIF keeps every composited picture and delay.
  int tried = 0;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  for (const char* folder : {"gif-suite", "gif-real"}) {
    for (const auto& e : std::filesystem::directory_iterator(fbtest::dataPath(folder))) {
      if (e.path().extension() != ".gif") continue;
      std::unique_ptr<Animation> gif;
      if (fbtest::readGifPath(e.path().string(), gif) != kReadComplete || gif->frameCount() < 2)
        continue;
      if (!CheckApngWritable(*gif)) continue;
      SCOPED_TRACE(e.path().filename().string());
      ++tried;
      auto apng = readBack(writeToMemory(*gif));
      std::vector<uint8_t> bytes;
      ByteSink sink(&bytes);
      ASSERT_EQ(writeGifStream(sink, *apng, nullptr), kWriteDone);
      std::unique_ptr<Animation> back;
      ASSERT_EQ(fbtest::readGifBytes(bytes, back), kReadComplete);
      EXPECT_EQ(pictures(*back), pictures(*gif));
      EXPECT_EQ(back->playCount, gif->playCount);
      for (Frame *f = firstFrame(*gif), *g = firstFrame(*back); f && g;
           f = nextFrame(f), g = nextFrame(g))
        EXPECT_EQ(g->delay, f->delay);
    }
  }
  EXPECT_GE(tried, 10);
}
