#include "gif/gif_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <tuple>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "gif/lzw_decoder.h"
#include "testutil.h"

using namespace fb;

namespace {

// A document of `frames` frames of w × h, pixels from `fill(frame, x, y)`.
template <typename Fill>
std::unique_ptr<Animation> makeDoc(int colours, int frames, int w, int h, Fill fill) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  std::vector<Rgb> pal;
  for (int i = 0; i < colours; ++i)
    pal.push_back(
        {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 91), static_cast<uint8_t>(i)});
  setGlobalPalette(*a, makePalette(pal.data(), colours));
  for (int i = 0; i < frames; ++i) {
    Frame* f = newBlankFrame(w, h).release();
    f->lendPalette(a->globalPalette.get());
    f->dib = createBitmap(w, h, f->palette());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f->dib->row(y)[x] = static_cast<uint8_t>(fill(i, x, y));
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
  }
  return a;
}

std::unique_ptr<Animation> simpleDoc(int colours = 4, int frames = 2) {
  return makeDoc(colours, frames, 3, 2, [&](int i, int x, int y) { return (i + x + y) % colours; });
}

std::vector<uint8_t> writeToMemory(Animation& a, const GifWriteOptions& options = {}) {
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(writeGifStream(sink, a, nullptr, options), kWriteDone);
  return out;
}

// Walks a written stream: the offsets of each image's LZW data.
struct Layout {
  std::vector<size_t> gce;        // offset of each graphic control extension
  std::vector<size_t> imageData;  // offset of each code-size byte
  bool loop = false;
  int loopCount = -1;
};

Layout layoutOf(const std::vector<uint8_t>& d) {
  Layout l;
  size_t p = 13;
  if (d[10] & 0x80) p += 3u * (2u << (d[10] & 7));
  while (p < d.size() && d[p] != 0x3B) {
    if (d[p] == 0x21) {
      if (d[p + 1] == 0xF9) l.gce.push_back(p);
      if (d[p + 1] == 0xFF && d[p + 2] == 11 && std::memcmp(&d[p + 3], "NETSCAPE2.0", 11) == 0) {
        l.loop = true;
        l.loopCount = d[p + 16] | (d[p + 17] << 8);
      }
      p += 2;
      while (d[p]) p += d[p] + 1u;
      ++p;
    } else if (d[p] == 0x2C) {
      uint8_t flags = d[p + 9];
      p += 10;
      if (flags & 0x80) p += 3u * (2u << (flags & 7));
      l.imageData.push_back(p);
      ++p;
      while (d[p]) p += d[p] + 1u;
      ++p;
    } else {
      ADD_FAILURE() << "unexpected byte " << int(d[p]) << " at " << p;
      break;
    }
  }
  return l;
}

std::vector<uint8_t> subBlockData(const std::vector<uint8_t>& d, size_t codeSizeAt,
                                  std::vector<int>* lengths = nullptr) {
  std::vector<uint8_t> out;
  size_t p = codeSizeAt + 1;
  while (d[p]) {
    if (lengths) lengths->push_back(d[p]);
    out.insert(out.end(), d.begin() + static_cast<long>(p + 1),
               d.begin() + static_cast<long>(p + 1 + d[p]));
    p += d[p] + 1u;
  }
  return out;
}

}  // namespace

TEST(GifWriter, StreamLayout) {
  auto a = simpleDoc();
  a->screenFlags = 0x91;  // as if read from a file: colour resolution 1
  a->aspectRatio = 49;
  a->backgroundIndex = 2;
  auto out = writeToMemory(*a);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");
  EXPECT_EQ(out[6] | (out[7] << 8), 3);
  EXPECT_EQ(out[8] | (out[9] << 8), 2);
  EXPECT_EQ(out[10], 0x91);
  EXPECT_EQ(out[11], 2);
  EXPECT_EQ(out[12], 49);
  EXPECT_EQ(out.back(), 0x3B);
  Layout l = layoutOf(out);
  EXPECT_EQ(l.gce.size(), 2u) << "every frame gets a graphic control extension";
  EXPECT_EQ(l.imageData.size(), 2u);

  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifBytes(out, back), kReadComplete);
  EXPECT_EQ(back->frameCount(), 2);
  EXPECT_EQ(back->encodedSize, static_cast<int>(out.size()));
}

TEST(GifWriter, GifFromA87FileIsWrittenAs89a) {
  fbtest::GifBuilder b;
  b.header("GIF87a").screen(1, 1, 0x80).colours(2).descriptor(0, 0, 1, 1).image(2, {1}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(fbtest::readGifBytes(b.bytes, a), kReadComplete);
  auto out = writeToMemory(*a);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");
}

TEST(GifWriter, LoopExtensionRules) {
  struct Case {
    int playCount, frames;
    bool loop;
    int count;
  } cases[] = {{1, 3, false, -1},
               {0, 1, false, -1},
               {0, 3, true, 0},
               {3, 3, true, 2},
               {70000, 2, true, 0xFFFF}};
  for (auto c : cases) {
    auto a = simpleDoc(4, c.frames);
    a->playCount = c.playCount;
    Layout l = layoutOf(writeToMemory(*a));
    EXPECT_EQ(l.loop, c.loop) << c.playCount << "/" << c.frames;
    EXPECT_EQ(l.loopCount, c.count) << c.playCount << "/" << c.frames;
  }
}

TEST(GifWriter, ColourTablesArePaddedAndCodeSizesFollowThem) {
  auto two = simpleDoc(2, 1);
  auto out = writeToMemory(*two);
  EXPECT_EQ(out[10] & 7, 0) << "a 2-entry table";
  Layout l = layoutOf(out);
  EXPECT_EQ(l.imageData[0], 13u + 6 + 8 + 10);
  EXPECT_EQ(out[l.imageData[0]], 2) << "code size 2, not 1";

  auto five = simpleDoc(5, 1);
  out = writeToMemory(*five);
  EXPECT_EQ(out[10] & 7, 2) << "8 entries";
  for (int i = 5; i < 8; ++i)
    EXPECT_EQ(out[13 + 3 * i] | out[14 + 3 * i] | out[15 + 3 * i], 0) << "zero padding";
  l = layoutOf(out);
  EXPECT_EQ(out[l.imageData[0]], 3);

  // A local palette gets its own padded table and flags that describe it.
  Frame* f = firstFrame(*five);
  Rgb local[17] = {};
  setLocalPalette(*f, makePalette(local, 17));
  f->imageFlags = 0x80;  // a stale size code must not reach the file
  out = writeToMemory(*five);
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifBytes(out, back), kReadComplete);
  ASSERT_TRUE(firstFrame(*back)->localPalette);
  EXPECT_EQ(firstFrame(*back)->localPalette->count, 32);
  EXPECT_EQ((back->screenFlags >> 4) & 7, 4) << "colour resolution raised for the local table";
}

TEST(GifWriter, IndicesBeyondThePaletteWidenTheCodeSize) {
  auto a = makeDoc(4, 1, 4, 1, [](int, int x, int) { return x == 3 ? 200 : x; });
  auto out = writeToMemory(*a);
  Layout l = layoutOf(out);
  EXPECT_EQ(out[l.imageData[0]], 8);
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifBytes(out, back), kReadComplete);
  EXPECT_EQ(firstFrame(*back)->dib->row(0)[3], 200);
}

TEST(GifWriter, DataSubBlocksAre254BytesExceptTheLast) {
  std::mt19937 rng(1);
  auto a = makeDoc(256, 1, 200, 100, [&](int, int, int) { return rng() & 255; });
  auto out = writeToMemory(*a);
  std::vector<int> lengths;
  subBlockData(out, layoutOf(out).imageData[0], &lengths);
  ASSERT_GT(lengths.size(), 2u);
  for (size_t i = 0; i + 1 < lengths.size(); ++i) EXPECT_EQ(lengths[i], 254);
  EXPECT_LE(lengths.back(), 254);
  EXPECT_GT(lengths.back(), 0);
}

TEST(GifWriter, TheTableIsClearedExactlyWhenItIsFull) {
  std::mt19937 rng(2);
  auto a = makeDoc(256, 1, 300, 300, [&](int, int, int) { return rng() & 255; });
  auto out = writeToMemory(*a);
  size_t at = layoutOf(out).imageData[0];
  auto data = subBlockData(out, at);
  // Follow the code widths as a decoder does and note where clears come.
  const int s = out[at], clear = 1 << s;
  int width = s + 1, next = clear + 2;
  uint64_t bit = 0;
  bool first = true;
  int clears = 0;
  auto code = [&] {
    int c = 0;
    for (int i = 0; i < width; ++i, ++bit) c |= ((data[bit >> 3] >> (bit & 7)) & 1) << i;
    return c;
  };
  for (;;) {
    int c = code();
    if (c == clear) {
      if (!first) {
        EXPECT_EQ(next, 4096) << "a clear only when the table is full";
      }
      ++clears;
      width = s + 1;
      next = clear + 2;
      first = true;
      continue;
    }
    if (c == clear + 1) break;
    if (!first && next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    first = false;
    ASSERT_LT(bit, data.size() * 8);
  }
  EXPECT_GE(clears, 3) << "random pixels fill the table many times";
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifBytes(out, back), kReadComplete);
  ASSERT_TRUE(firstFrame(*back));
  EXPECT_EQ(firstFrame(*back)->dib->data, firstFrame(*a)->dib->data);
}

TEST(GifWriter, SameDocumentSameBytes) {
  std::mt19937 rng(3);
  auto a = makeDoc(64, 3, 50, 40, [&](int, int x, int y) { return (x * y + rng() % 3) % 64; });
  auto one = writeToMemory(*a);
  auto two = writeToMemory(*a);
  EXPECT_EQ(one, two);
}

TEST(GifWriter, DelaysInterlaceAndEmptyImages) {
  auto a = makeDoc(4, 2, 5, 11, [](int, int x, int y) { return (x + 2 * y) % 4; });
  Frame* f0 = frameAt(*a, 0);
  f0->delay = 70000;  // more than the field holds: kept as long as possible
  f0->imageFlags |= 0x40;
  f0->controlFlags = 0;
  Frame* f1 = frameAt(*a, 1);
  f1->width = f1->height = 0;
  f1->dib = createBitmap(0, 0, f1->palette());
  auto out = writeToMemory(*a);
  std::unique_ptr<Animation> back;
  GifReadOptions keep;
  keep.keepInterlace = true;
  ASSERT_EQ(fbtest::readGifBytes(out, back, nullptr, keep), kReadComplete);
  Frame* g0 = frameAt(*back, 0);
  EXPECT_EQ(g0->delay, 65535);
  EXPECT_TRUE(g0->interlaced());
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(g0->dib->row(y)[x], (x + 2 * y) % 4);
  EXPECT_EQ(frameAt(*back, 1)->width, 0);
}

TEST(GifWriter, TimeBaseScalesDelaysOnTheWayOut) {
  GifWriteOptions tenths;
  tenths.timeBase = 10;
  auto a = simpleDoc(4, 1);
  firstFrame(*a)->delay = 5;
  auto out = writeToMemory(*a, tenths);
  size_t g = layoutOf(out).gce[0];
  EXPECT_EQ(out[g + 4] | (out[g + 5] << 8), 50);

  // Scaled beyond 32 bits, a long delay still stays as long as the field
  // holds rather than wrapping round to a short one.
  firstFrame(*a)->delay = 429496730;  // × 10 is 2^32 + 4
  out = writeToMemory(*a, tenths);
  g = layoutOf(out).gce[0];
  EXPECT_EQ(out[g + 4] | (out[g + 5] << 8), 65535);
  EXPECT_EQ(ticksToGifDelay(429496730, 10), 0xFFFFFFFFu);
  EXPECT_EQ(ticksToGifDelay(-5, 100), 0u) << "a negative delay is no delay";
}

TEST(GifWriter, CancelStopsBeforeTheTrailer) {
  auto a = simpleDoc(4, 5);
  RecordingProgress p;
  p.cancelAfter(2);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(writeGifStream(sink, *a, &p), kWriteCancelled);
  EXPECT_NE(out.back(), 0x3B);
  EXPECT_EQ(layoutOf(out).imageData.size(), 2u);
}

TEST(GifWriter, SignatureStamp) {
  auto a = simpleDoc();
  auto addComment = [&](const std::string& t) {
    Block* c = newBlock(kCommentTag, 1).release();
    setCommentText(c, t);
    appendBlock(*a, std::unique_ptr<Block>(c));
  };
  addComment("Built with Flickbook 3.5 by someone");
  addComment("a note of the author's");
  addComment("my own signature");
  GifWriteOptions options;
  options.signature = "my own signature";

  int64_t predicted = encodedSize(*a, true, nullptr, options);
  stampSignature(*a, options);
  std::string first;
  ASSERT_TRUE(commentText(a->head->next, first));
  EXPECT_EQ(first, "my own signature");
  int comments = 0;
  for (Block* b = a->head->next; b; b = b->next)
    if (b->tag == kCommentTag) ++comments;
  EXPECT_EQ(comments, 2) << "old signatures go, other comments stay";
  EXPECT_EQ(static_cast<int64_t>(writeToMemory(*a, options).size()), predicted)
      << "the size counted before the stamp is the size written after it";

  options.sign = false;
  predicted = encodedSize(*a, true, nullptr, options);
  stampSignature(*a, options);
  std::vector<std::string> left;
  for (Block* b = a->head->next; b; b = b->next) {
    std::string t;
    if (commentText(b, t)) left.push_back(t);
  }
  EXPECT_EQ(left, std::vector<std::string>{"a note of the author's"})
      << "with signatures off, the old one goes and none comes";
  EXPECT_EQ(static_cast<int64_t>(writeToMemory(*a, options).size()), predicted);
  EXPECT_EQ(GifWriteOptions().signature, "Built with Flickbook 4.0");
}

TEST(GifWriter, CountingIsExactAndParallelCountingAgrees) {
  std::mt19937 rng(4);
  auto a = makeDoc(200, 12, 320, 240, [&](int i, int x, int y) {
    return (rng() % 7 == 0) ? static_cast<int>(rng() % 200) : (x / 8 + y / 8 + i) % 200;
  });
  int32_t counted = encodedSize(*a, true, nullptr);
  RecordingProgress p;
  EXPECT_EQ(encodedSize(*a, true, &p), counted);
  EXPECT_EQ(p.position(), 12);
  stampSignature(*a, GifWriteOptions());
  EXPECT_EQ(static_cast<int32_t>(writeToMemory(*a).size()), counted);
  EXPECT_EQ(encodedSize(*a, false, nullptr), counted) << "cached";

  RecordingProgress cancel;
  cancel.cancelAfter(1);
  EXPECT_EQ(encodedSize(*a, true, &cancel), -1);
  EXPECT_EQ(a->encodedSize, -1);

  int64_t frames = 0;
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) {
    ByteSink counter;
    ASSERT_TRUE(writeFrameImage(counter, *f));
    frames += counter.total();
  }
  EXPECT_LT(frames, counted);
}

TEST(GifWriter, WriteFrameAsGifBorrowsAndGivesBack) {
  fbtest::TempDir dir;
  auto a = simpleDoc(4, 3);
  Frame* f = frameAt(*a, 1);
  f->left = 7;
  Block* prev = f->prev;
  Block* next = f->next;
  Palette* global = a->globalPalette.get();
  ASSERT_TRUE(writeFrameAsGif(dir.file("one.gif"), *f));
  EXPECT_EQ(f->prev, prev);
  EXPECT_EQ(f->next, next);
  EXPECT_EQ(a->globalPalette.get(), global);
  EXPECT_EQ(global->count, 4);
  std::unique_ptr<Animation> one;
  ASSERT_EQ(fbtest::readGifPath(dir.file("one.gif"), one), kReadComplete);
  EXPECT_EQ(one->frameCount(), 1);
  EXPECT_EQ(firstFrame(*one)->left, 7);
  EXPECT_EQ(one->width, 10) << "the screen grows to hold the frame where it stands";

  RecordingReporter rec;
  ScopedReporter scope(rec);
  EXPECT_FALSE(writeFrameAsGif(dir.file("no/such/dir/x.gif"), *f));
  EXPECT_EQ(rec.texts().size(), 1u);
  EXPECT_EQ(f->next, next);
}

TEST(GifWriter, FileCreationAndWriteFailures) {
  fbtest::TempDir dir;
  auto a = simpleDoc();
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::string bad = dir.file("missing/x.gif");
  EXPECT_FALSE(writeGifFile(bad, *a, nullptr));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"无法保存到 '" + bad + "' (临时文件)。"});

  fileops::setFaultHook(
      [](fileops::Op op, const std::string&) { return op == fileops::Op::Write; });
  EXPECT_FALSE(writeGifFile(dir.file("full.gif"), *a, nullptr));
  fileops::setFaultHook(nullptr);

  RecordingProgress p;
  EXPECT_TRUE(writeGifFile(dir.file("ok.gif"), *a, &p));
  EXPECT_EQ(p.texts(), std::vector<std::string>{"正在写入 GIF 动画... (Esc键中止)"});
}

TEST(GifWriter, NothingBeyond65535IsWrittenCutDown) {
  fbtest::TempDir dir;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  const std::string kTooLarge =
      "A GIF cannot hold this animation: its screen, or a frame's size or position, goes beyond "
      "65535 pixels. Crop the animation first. Nothing was written.";

  // A frame reaching past 65535: refused whole, nothing written.
  fbtest::GifBuilder b;
  b.header().screen(10, 10, 0x80).colours(2).descriptor(65535, 65535, 100, 100).image(2, {1});
  std::unique_ptr<Animation> a;
  ASSERT_EQ(fbtest::readGifBytes(b.trailer().bytes, a), kReadComplete);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(writeGifStream(sink, *a, nullptr), kWriteFailed);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(encodedSize(*a, true, nullptr), -1);
  EXPECT_FALSE(writeGifFile(dir.file("far.gif"), *a, nullptr));
  EXPECT_FALSE(std::filesystem::exists(dir.file("far.gif")));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kTooLarge});

  // A picture wider than a GIF's screen, and a frame moved to the left of it.
  auto wide = makeDoc(2, 1, 70000, 1, [](int, int x, int) { return x & 1; });
  rec.clear();
  EXPECT_FALSE(writeGifFile(dir.file("wide.gif"), *wide, nullptr));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kTooLarge});
  auto moved = simpleDoc();
  firstFrame(*moved)->left = -1;
  EXPECT_FALSE(writeGifFile(dir.file("moved.gif"), *moved, nullptr));
  EXPECT_FALSE(writeFrameAsGif(dir.file("moved1.gif"), *firstFrame(*moved)));

  // Up to the edge is fine, and reads back as written.
  auto edge = makeDoc(2, 1, 10, 10, [](int, int, int) { return 1; });
  firstFrame(*edge)->left = 65525;
  firstFrame(*edge)->top = 65525;
  auto bytes = writeToMemory(*edge);
  EXPECT_EQ(bytes[6] | (bytes[7] << 8), 65535) << "the screen covers the frame";
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifBytes(bytes, back), kReadComplete);
  EXPECT_EQ(back->width, 65535);
  EXPECT_EQ(firstFrame(*back)->left, 65525);
}

TEST(GifWriter, WhatIsWrittenReadsBackAsWritten) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  auto cycle = [](const std::vector<uint8_t>& file, const std::string& name) {
    std::unique_ptr<Animation> a;
    ASSERT_EQ(fbtest::readGifBytes(file, a), kReadPartial) << name;
    auto first = writeToMemory(*a);
    std::unique_ptr<Animation> b;
    ASSERT_EQ(fbtest::readGifBytes(first, b), kReadComplete) << name;
    EXPECT_EQ(b->width, first[6] | (first[7] << 8)) << name;
    EXPECT_EQ(b->height, first[8] | (first[9] << 8)) << name;
    EXPECT_EQ(writeToMemory(*b), first) << name << ": writing again changes nothing";
  };
  // Screen height 0 and a frame of no pixels far to the right, then damage.
  fbtest::GifBuilder empty;
  empty.header().screen(185, 0, 0x80).colours(2).descriptor(12337, 0, 0, 0).image(2, {});
  empty.descriptor(0, 0, 1, 1).raw({2, 1});
  cycle(empty.bytes, "empty frame");
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(empty.bytes, a);
  auto written = writeToMemory(*a);
  EXPECT_EQ(written[6] | (written[7] << 8), 185) << "a frame without pixels covers nothing";

  // A frame beyond the screen kept by a partial read: the file says the
  // screen a reader makes of it.
  fbtest::GifBuilder beyond;
  beyond.header().screen(2, 2, 0x80).colours(2).descriptor(3, 1, 2, 2).image(2, {1, 1, 1, 1});
  beyond.descriptor(0, 0, 1, 1).raw({2, 1});
  cycle(beyond.bytes, "frame beyond the screen");
}

TEST(GifWriter, WritingAndCountingOnlyReadTheDocument) {
  // The colour resolution a local palette needs is raised in what is written,
  // not in the document (sizes are counted while others read it).
  auto a = simpleDoc();
  a->screenFlags = 0x80;
  setLocalPalette(*firstFrame(*a), makePalette(nullptr, 256));
  auto bytes = writeToMemory(*a);
  EXPECT_EQ((bytes[10] >> 4) & 7, 7);
  EXPECT_GT(countEncodedSize(*a, nullptr), 0);
  EXPECT_EQ(a->screenFlags, 0x80);
  EXPECT_EQ(a->encodedSize, -1) << "counting alone keeps no cache";
}

TEST(GifWriter, ASmallestLayoutCountKeepsEncodingsOnlyWhileTheyAreTheFrames) {
  std::mt19937 rng(9);
  auto a = makeDoc(64, 5, 150, 120, [&](int i, int x, int y) {
    return (rng() % 5 == 0) ? static_cast<int>(rng() % 64) : (x / 6 + y / 9 + i) % 64;
  });
  a->smallestEncoding = true;
  auto fresh = duplicateAnimation(*a, nullptr);  // never counted: encoded on writing
  const GifWriteOptions noSignature{100, "", false};
  const int32_t counted = encodedSize(*a, true, nullptr, noSignature);
  EXPECT_FALSE(firstFrame(*a)->encoded) << "kept only when asked";
  EXPECT_EQ(encodedSize(*a, true, nullptr, noSignature, true), counted);
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) ASSERT_TRUE(f->encoded);
  EXPECT_EQ(static_cast<int32_t>(writeToMemory(*a, noSignature).size()), counted);
  EXPECT_EQ(writeToMemory(*a), writeToMemory(*fresh));

  // Changes that keep the size, the indices used and the code size: two
  // pixels trade places, a frame becomes interlaced, another changes its last pixel.
  for (Animation* d : {a.get(), fresh.get()}) {
    Frame* f = firstFrame(*d);
    std::swap(f->dib->row(7)[5], f->dib->row(7)[6]);
    f = nextFrame(f);
    f->imageFlags |= 0x40;
    f = nextFrame(f);
    uint8_t& last = f->dib->row(119)[149];
    last = static_cast<uint8_t>(last == 0 ? 1 : 0);
  }
  ASSERT_NE(firstFrame(*a)->dib->row(7)[5], firstFrame(*a)->dib->row(7)[6]);
  EXPECT_EQ(writeToMemory(*a), writeToMemory(*fresh)) << "what changed is encoded again";
}

// Pixels are the user's, so a kept encoding must be checked against them
// exactly: these two rows of the same length and code size were made to agree
// in any fingerprint built from multiply-xor and multiply-add over 8-byte words.
TEST(GifWriter, AKeptEncodingIsNeverWrittenForOtherPixels) {
  const uint8_t counted[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                               0x44, 0x09, 0x90, 0x40, 0xf2, 0x12, 0x10, 0xdc};
  const uint8_t written[16] = {0x0c, 0x1c, 0x0c, 0x02, 0x04, 0x05, 0x06, 0x07,
                               0x88, 0x26, 0x40, 0xa4, 0x0c, 0x00, 0x69, 0x22};
  auto a = makeDoc(256, 1, 16, 1, [&](int, int x, int) { return counted[x]; });
  a->smallestEncoding = true;
  ASSERT_GT(encodedSize(*a, true, nullptr, {}, true), 0);
  ASSERT_TRUE(firstFrame(*a)->encoded);
  auto fresh = makeDoc(256, 1, 16, 1, [&](int, int x, int) { return written[x]; });
  fresh->smallestEncoding = true;
  std::copy(written, written + 16, firstFrame(*a)->dib->row(0));
  EXPECT_EQ(writeToMemory(*a), writeToMemory(*fresh)) << "the count's pixels were written";
}

// Encoders keep their coders on each thread for the next encoding: what one
// encodes after others (large ones that fill and race their tables, other
// code sizes, interlaced ones, lossy runs) is what a fresh thread encodes.
TEST(LzwEncoder, AnEncodingAfterOthersIsTheOneAFreshThreadMakes) {
  struct Item {
    std::vector<uint8_t> pixels;
    int w, h, codeSize;
    bool interlaced;
  };
  std::mt19937 rng(5);
  std::vector<Item> items;
  for (auto [w, h, codeSize, interlaced] :
       {std::tuple{300, 200, 8, false}, {7, 5, 2, false}, {64, 48, 5, true}, {1, 1, 2, false}}) {
    Item it{std::vector<uint8_t>(size_t(w) * h), w, h, codeSize, interlaced};
    for (size_t i = 0; i < it.pixels.size(); ++i)  // runs and noise
      it.pixels[i] = uint8_t((i / 7 + rng() % 3) % (1u << codeSize));
    items.push_back(std::move(it));
  }
  Palette pal;
  pal.count = 256;
  for (int i = 0; i < 256; ++i) pal[i] = Rgb{uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)};
  const LossyColours close(pal, 10);
  // Everything one item gives: its bytes, its count, and a lossy pass's pixels.
  auto results = [&](const Item& it) {
    std::vector<uint8_t> out;
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
      const LzwImage image{it.pixels.data(), it.w, it.h, it.w, it.interlaced};
      ByteSink sink(&out);
      encodeLzw(sink, image, it.codeSize, layout);
      const int64_t count = lzwEncodedSize(image, it.codeSize, layout);
      out.insert(out.end(), {uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16)});
      std::vector<uint8_t> px = it.pixels;
      lossyLzwPass(LzwImage{px.data(), it.w, it.h, it.w, it.interlaced}, it.codeSize, layout,
                   close, 3);
      out.insert(out.end(), px.begin(), px.end());
    }
    return out;
  };
  for (size_t k = 0; k < items.size(); ++k) {
    std::vector<uint8_t> fresh;
    std::thread([&] { fresh = results(items[k]); }).join();
    for (int round = 0; round < 2; ++round)
      for (size_t j = 0; j < items.size(); ++j) {
        const auto after = results(items[j]);
        if (j == k) {
          EXPECT_EQ(after, fresh) << "item " << k << ", round " << round;
        }
      }
  }
}

// Lossy LZW, in both layouts: a pixel only ever takes a colour within the
// strength of its own, the transparent index is never given or taken, the
// result encodes smaller, and strength 0 changes nothing.
TEST(LossyLzw, TakesOnlyCloseColoursAndLeavesTransparencyAlone) {
  Palette pal;
  pal.count = 256;
  for (int i = 0; i < 256; ++i)  // neighbours differ by 1 to 4 per channel
    pal[i] = Rgb{uint8_t(i), uint8_t((i * 3) & 255), uint8_t((i * 5) / 4)};
  const int w = 96, h = 80, transparent = 7, strength = 6;
  std::mt19937 rng(7);
  std::vector<uint8_t> original(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)  // a gradient with noise, and some transparent spots
      original[size_t(y) * w + x] =
          rng() % 29 == 0 ? transparent : uint8_t((x + y) / 2 + rng() % 4);
  for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
    std::vector<uint8_t> px = original;
    const LzwImage image{px.data(), w, h, w, false};
    const int64_t before = lzwEncodedSize(image, 8, layout);
    const LossyColours close(pal, strength);
    const int64_t changed = lossyLzwPass(image, 8, layout, close, transparent);
    EXPECT_GT(changed, 0);
    EXPECT_LT(lzwEncodedSize(image, 8, layout), before);
    int64_t differing = 0;
    for (size_t i = 0; i < px.size(); ++i) {
      if (px[i] == original[i]) continue;
      ++differing;
      ASSERT_NE(original[i], transparent);
      ASSERT_NE(px[i], transparent);
      ASSERT_LE(close.error(px[i], original[i]), 9 * strength * strength);
    }
    EXPECT_EQ(differing, changed);
    std::vector<uint8_t> untouched = original;
    EXPECT_EQ(lossyLzwPass(LzwImage{untouched.data(), w, h, w, false}, 8, layout,
                           LossyColours(pal, 0), transparent),
              0);
  }
}

// Indices beyond the palette (damaged files keep them) have no colour of
// their own: decoders show them differently or refuse them. Lossy LZW neither
// gives such an index to a pixel nor takes it from one, even where it would
// count as black.
TEST(LossyLzw, IndicesBeyondThePaletteAreNeitherGivenNorTaken) {
  Palette pal;
  pal.count = 4;
  pal[0] = Rgb{0, 0, 0};
  pal[1] = Rgb{255, 0, 0};
  pal[2] = Rgb{0, 255, 0};
  pal[3] = Rgb{0, 0, 255};
  const int w = 64, h = 16, beyond = 6;  // codes of 3 bits: 6 fits, the table does not hold it
  std::mt19937 rng(11);
  std::vector<uint8_t> original(size_t(w) * h);
  for (size_t i = 0; i < original.size(); ++i)  // red, then black or the index beyond, in turn
    original[i] = i % 2 ? uint8_t(rng() % 2 ? 0 : beyond) : uint8_t(1);
  for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
    std::vector<uint8_t> px = original;
    const LossyColours close(pal, 40);
    lossyLzwPass(LzwImage{px.data(), w, h, w, false}, 3, layout, close, -1);
    for (size_t i = 0; i < px.size(); ++i) {
      if (px[i] == original[i]) continue;
      ASSERT_TRUE(px[i] < pal.count && original[i] < pal.count)
          << "pixel " << i << ": " << int(original[i]) << " became " << int(px[i]);
    }
  }
}

// The strength is a limit that holds exactly: at strength 2 (errors up to 36)
// colours 36 apart are taken for each other, colours 37 apart never are, in
// both layouts; an image of only the latter is left as it was.
TEST(LossyLzw, TheLimitHoldsExactly) {
  Palette pal;
  pal.count = 4;
  pal[0] = Rgb{100, 100, 100};
  pal[1] = Rgb{103, 102, 101};  // 2*9 + 4*4 + 3*1 = 37 from colour 0
  pal[2] = Rgb{100, 103, 100};  // 4*9 = 36 from colour 0, 25 from colour 1
  const LossyColours close(pal, 2);
  ASSERT_EQ(close.maxError(), 36);
  ASSERT_EQ(close.error(0, 1), 37);
  ASSERT_EQ(close.error(0, 2), 36);
  const int w = 64, h = 48;
  std::mt19937 rng(3);
  std::vector<uint8_t> noise(size_t(w) * h);
  for (auto& v : noise) {
    const unsigned r = rng() % 50;  // mostly 0, some 1, a few 2
    v = r < 10 ? 1 : r < 11 ? 2 : 0;
  }
  for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
    for (bool withTwo : {true, false}) {
      std::vector<uint8_t> px = noise;
      if (!withTwo) std::replace(px.begin(), px.end(), uint8_t(2), uint8_t(1));
      const std::vector<uint8_t> original = px;
      const int64_t changed =
          lossyLzwPass(LzwImage{px.data(), w, h, w, false}, 2, layout, close, -1);
      int64_t differing = 0, across = 0;
      for (size_t i = 0; i < px.size(); ++i) {
        differing += px[i] != original[i];
        across += px[i] + original[i] == 1;  // 0 for 1 or 1 for 0
      }
      EXPECT_EQ(differing, changed);
      EXPECT_EQ(across, 0) << "37 apart is beyond the limit";
      if (withTwo)
        EXPECT_GT(changed, 0) << "36 apart is within it";
      else
        EXPECT_EQ(changed, 0);
    }
  }
  // Strength 0 takes nothing, not even an entry of the very same colour.
  pal[3] = pal[0];
  std::vector<uint8_t> same(size_t(w) * h);
  for (auto& v : same) v = uint8_t(rng() % 2 ? 3 : 0);
  for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
    std::vector<uint8_t> px = same;
    EXPECT_EQ(lossyLzwPass(LzwImage{px.data(), w, h, w, false}, 2, layout, LossyColours(pal, 0),
                           -1),
              0);
    EXPECT_TRUE(px == same);
  }
}

// Indices the code size cannot hold start strings of their own: the encoder
// keeps nothing about them from a run before (here ones that filled their
// tables), so an image holding them comes out the same whatever ran first, in
// both layouts, and they are never changed.
TEST(LossyLzw, IndicesTheCodeSizeCannotHoldFindNothingLeftOver) {
  Palette pal;
  pal.count = 256;
  for (int i = 0; i < 256; ++i) pal[i] = Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
  const LossyColours close(pal, 3);
  const int w = 16, h = 4;
  std::vector<uint8_t> small(size_t(w) * h);
  std::mt19937 rng(99);
  for (size_t i = 0; i < small.size(); ++i)  // codes of 2 bits: 220 does not fit
    small[i] = i % 5 == 0 ? uint8_t(220) : uint8_t(rng() % 4);
  std::vector<uint8_t> first[2];
  for (int before = 1; before <= 4; ++before) {
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
      std::vector<uint8_t> big(200 * 200);
      for (auto& v : big) v = uint8_t(rng() % 4 + 40 * before);
      lossyLzwPass(LzwImage{big.data(), 200, 200, 200, false}, 8, layout, close, -1);
    }
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
      std::vector<uint8_t> px = small;
      const int64_t changed =
          lossyLzwPass(LzwImage{px.data(), w, h, w, false}, 2, layout, close, -1);
      int64_t differing = 0;
      for (size_t i = 0; i < px.size(); ++i) {
        differing += px[i] != small[i];
        if (small[i] >= 4) {
          EXPECT_EQ(px[i], small[i]);
        }
      }
      EXPECT_EQ(differing, changed);
      std::vector<uint8_t>& once = first[layout == LzwLayout::Smallest];
      if (once.empty())
        once = px;
      else
        EXPECT_TRUE(px == once) << "after run " << before;
    }
  }
}

namespace {

// The pixels an encoding (as encodeLzw writes it) decodes to, in stream order.
std::vector<uint8_t> decodeEncoding(const std::vector<uint8_t>& bytes, size_t count) {
  std::vector<uint8_t> data;
  for (size_t i = 1; i < bytes.size() && bytes[i] != 0; i += bytes[i] + 1)
    data.insert(data.end(), bytes.begin() + static_cast<long>(i + 1),
                bytes.begin() + static_cast<long>(i + 1 + bytes[i]));
  LzwDecoder d;
  EXPECT_TRUE(d.initFromData(data.data(), data.size(), true, bytes.at(0)));
  std::vector<uint8_t> out(count + LzwDecoder::kSlack);
  EXPECT_EQ(d.decodeAll(out.data(), count), count);
  out.resize(count);
  return out;
}

}  // namespace

// The transparency pass's encoding is what the save writes for its frame, so
// it must decode to exactly the pixels the pass left: small images, images
// that fill the table and race a fresh one, interlaced ones, both layouts.
TEST(FlexibleLzw, TheEncodingItWritesDecodesToThePixelsItLeaves) {
  std::mt19937 rng(21);
  const int sizes[][2] = {{7, 3}, {64, 64}, {300, 200}, {517, 181}};
  for (const auto& [w, h] : sizes)
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest})
      for (bool interlaced : {false, true}) {
        const int stride = w + 3, codeSize = 5;
        std::vector<uint8_t> px(size_t(stride) * h), alt(size_t(w) * h), has(alt.size());
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            // Runs with noise; a third of the pixels may be written as another value.
            px[size_t(y) * stride + x] = rng() % 6 ? uint8_t((x / 9 + y / 5) % 32) : uint8_t(rng() % 32);
            has[i] = rng() % 3 == 0;
            alt[i] = uint8_t(rng() % 4 ? (x / 9 + y / 5 + 1) % 32 : 40);  // 40 cannot be a code
          }
        std::vector<uint8_t> bytes;
        ByteSink sink(&bytes);
        const LzwImage image{px.data(), w, h, stride, interlaced};
        const int64_t size = flexibleLzwPass(image, codeSize, layout, alt.data(), has.data(), w, &sink);
        ASSERT_EQ(size, static_cast<int64_t>(bytes.size()));
        std::vector<uint8_t> expected;
        for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
          static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
          for (int y = interlaced ? kStart[pass] : 0; y < h; y += interlaced ? kStep[pass] : 1)
            expected.insert(expected.end(), px.begin() + static_cast<long>(size_t(y) * stride),
                            px.begin() + static_cast<long>(size_t(y) * stride + w));
        }
        ASSERT_TRUE(decodeEncoding(bytes, expected.size()) == expected)
            << w << "x" << h << " interlaced " << interlaced;
      }
}

// Renumbering a frame's colours (as ordering a palette does) renumbers its
// kept encoding with it while the code size stays, which is then the very
// encoding the renumbered pixels get afresh; a change of code size drops it.
TEST(GifWriter, AKeptEncodingFollowsItsPixelsRenumbered) {
  std::mt19937 rng(4);
  auto fill = [&](int i, int x, int y) {
    return rng() % 7 == 0 ? static_cast<int>(rng() % 60) : (x / 5 + y / 7 + i) % 60;
  };
  auto a = makeDoc(64, 2, 211, 173, fill);
  a->smallestEncoding = true;
  const GifWriteOptions noSignature{100, "", false};
  ASSERT_GT(encodedSize(*a, true, nullptr, noSignature, true), 0);
  int map[256];
  for (int i = 0; i < 256; ++i) map[i] = i < 64 ? 63 - i : i;  // code size 6 stays
  auto renumber = [&](Frame& f, const int* m) {
    for (int y = 0; y < f.dib->height; ++y)
      for (int x = 0; x < f.dib->width; ++x) f.dib->row(y)[x] = static_cast<uint8_t>(m[f.dib->row(y)[x]]);
  };
  Frame* f = firstFrame(*a);
  const auto before = f->encoded;
  renumber(*f, map);
  remapKeptEncoding(*f, map);
  ASSERT_TRUE(f->encoded);
  EXPECT_NE(f->encoded, before);

  // The second frame's colours all move below 32: one bit less, encoded again.
  int narrow[256];
  for (int i = 0; i < 256; ++i) narrow[i] = i / 2;
  Frame* g = nextFrame(f);
  renumber(*g, narrow);
  remapKeptEncoding(*g, narrow);
  EXPECT_FALSE(g->encoded);

  auto fresh = duplicateAnimation(*a, nullptr);
  for (Frame* k = firstFrame(*fresh); k; k = nextFrame(k)) k->encoded.reset();
  EXPECT_EQ(writeToMemory(*a, noSignature), writeToMemory(*fresh, noSignature));

  // A map the pixels do not follow is not taken on trust.
  ASSERT_GT(encodedSize(*a, true, nullptr, noSignature, true), 0);
  int swap[256];  // two colours the frame uses trade numbers, the pixels stay
  for (int i = 0; i < 256; ++i) swap[i] = i == 20 ? 21 : i == 21 ? 20 : i;
  remapKeptEncoding(*firstFrame(*a), swap);
  EXPECT_FALSE(firstFrame(*a)->encoded);
}

// A grainy photograph's indices (smooth colours with noise, matched to a
// palette of unordered colours) wear a full table out fast: the smallest
// layout must clear about as often as the standard one does, not keep a
// table that a fresh one has long since beaten.
TEST(LzwEncoder, TheSmallestLayoutKeepsUpOnAGrainyPhotograph) {
  const int w = 320, h = 240;
  std::mt19937 rng(5);
  std::vector<uint8_t> px = fbtest::grainyPhotograph(w, h, rng, 5);
  const LzwImage image{px.data(), w, h, w, false};
  const int64_t standard = lzwEncodedSize(image, 8, LzwLayout::Standard);
  const int64_t smallest = lzwEncodedSize(image, 8, LzwLayout::Smallest);
  EXPECT_LE(smallest * 1000, standard * 1002) << standard << " against " << smallest;
}

// In the smallest layout a full table is kept while it pays, and a fresh one
// takes over near where the picture changes, even when that is in the middle
// of the stretch a fresh table is judged on: a noisy top that fills tables,
// then a plain bottom, costs about what the two cost encoded apart wherever
// the change comes (a fresh table judged only from where the top filled its
// table costs 4.5% more here), and it decodes to the same pixels.
TEST(SmallestLayout, AFreshTableStartsNearWhereThePictureChanges) {
  const int w = 160;
  std::mt19937 rng(5);
  std::vector<uint8_t> top(size_t(w) * 400), bottom(size_t(w) * 60);
  for (size_t i = 0; i < top.size(); ++i)  // bars with a little noise
    top[i] = uint8_t((i % w) / 20 * 4 + (rng() % 3 == 0 ? rng() % 4 : 0));
  for (size_t i = 0; i < bottom.size(); ++i)  // wide steps of other colours
    bottom[i] = uint8_t(40 + (i % w) / 40 + (i / w) / 15 * 4);
  auto size = [&](std::vector<uint8_t>& px) {
    return lzwEncodedSize(LzwImage{px.data(), w, int(px.size() / w), w, false}, 6,
                          LzwLayout::Smallest);
  };
  int64_t together = 0, apart = 0;
  for (int rows = 150; rows <= 400; rows += 10) {
    std::vector<uint8_t> upper(top.begin(), top.begin() + size_t(w) * rows);
    std::vector<uint8_t> both = upper;
    both.insert(both.end(), bottom.begin(), bottom.end());
    together += size(both);
    apart += size(upper) + size(bottom);

    std::vector<uint8_t> bytes;
    ByteSink sink(&bytes);
    ASSERT_TRUE(encodeLzw(sink, LzwImage{both.data(), w, int(both.size() / w), w, false}, 6,
                          LzwLayout::Smallest));
    std::vector<uint8_t> data;  // the sub-blocks' bytes, gathered
    for (size_t at = 1; at < bytes.size() && bytes[at]; at += 1 + bytes[at])
      data.insert(data.end(), bytes.begin() + at + 1, bytes.begin() + at + 1 + bytes[at]);
    LzwDecoder d;
    ASSERT_TRUE(d.initFromData(data.data(), data.size(), true, 6));
    std::vector<uint8_t> decoded(both.size());
    ASSERT_EQ(d.decode(decoded.data(), decoded.size()), decoded.size());
    EXPECT_TRUE(decoded == both) << rows << " rows above the change";
  }
  EXPECT_LE(together, apart + apart / 40);
}

// Transparency choices: a square moved right over a plain background. Its
// old place shows the background again, the new part shows the square, and
// where the two overlap nothing changed: those pixels may stay transparent
// or be written as the square's colour. Looking ahead for the longer run,
// they take the square's colour and every row is two runs; the result is
// smaller than choosing pixel by pixel, and only ever holds a pixel's own
// value or its alternative.
TEST(FlexibleLzw, LookingAheadStringsStartWithTheLongerRun) {
  const int w = 34, h = 32;
  const uint8_t background = 0, square = 1, transparent = 2;
  std::vector<uint8_t> original(size_t(w) * h), alt(original.size()), has(original.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const bool unchanged = x >= 12 && x < 22;
      original[i] = x < 12 ? background : unchanged ? transparent : square;
      alt[i] = square;
      has[i] = unchanged;
    }
  int64_t size[2];
  std::vector<uint8_t> px[2];
  for (int look : {0, 1}) {
    px[look] = original;
    size[look] = flexibleLzwPass(LzwImage{px[look].data(), w, h, w, false}, 2, LzwLayout::Smallest,
                                 alt.data(), has.data(), w, nullptr, look ? 16 : 0);
    for (size_t i = 0; i < original.size(); ++i)
      ASSERT_TRUE(px[look][i] == original[i] || (has[i] && px[look][i] == alt[i])) << i;
  }
  int squareRows = 0;
  for (int y = 0; y < h; ++y)
    squareRows += std::count(px[1].begin() + y * w + 12, px[1].begin() + y * w + w, square) == 22;
  EXPECT_GE(squareRows, h - 1);
  EXPECT_LT(size[1], size[0]);
  EXPECT_EQ(size[1], lzwEncodedSize(LzwImage{px[1].data(), w, h, w, false}, 2, LzwLayout::Smallest));
}

// A renumbered kept encoding must decode to the renumbered pixels whatever
// the code widths did: every code size, both layouts (a clear right after
// the table fills, deferred clears), interlaced or not, tiny images and ones
// that fill the table many times, maps that are one-to-one or not.
TEST(GifWriter, ARenumberedKeptEncodingDecodesToItsPixelsAtEveryCodeSize) {
  std::mt19937 rng(17);
  const int shapes[][2] = {{2, 1}, {17, 3}, {300, 200}};
  for (int codeSize = 2; codeSize <= 8; ++codeSize)
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest})
      for (bool interlaced : {false, true})
        for (const auto& [w, h] : shapes)
          for (int kind = 0; kind < 2; ++kind) {
            const int n = 1 << codeSize;
            auto a = makeDoc(n, 1, w, h, [&](int, int x, int y) {
              return rng() % 4 ? (x / 3 + y / 2) % n : static_cast<int>(rng() % n);
            });
            Frame& f = *firstFrame(*a);
            f.dib->row(0)[0] = static_cast<uint8_t>(n - 1);  // both ends: the code size stays
            f.dib->row(0)[1] = 0;
            if (interlaced) f.imageFlags |= 0x40;
            ASSERT_EQ(frameCodeSize(f, layout), codeSize);
            const LzwImage image{f.pixels(), w, h, f.dib->stride, interlaced};
            std::vector<uint8_t> bytes;
            ByteSink sink(&bytes);
            ASSERT_TRUE(encodeLzw(sink, image, codeSize, layout));
            keepFrameEncoding(f, image, codeSize, layout, bytes);
            int map[256];
            for (int i = 0; i < 256; ++i) map[i] = kind == 0 ? (i < n ? n - 1 - i : i) : i | 1;
            for (int y = 0; y < h; ++y)
              for (int x = 0; x < w; ++x)
                f.dib->row(y)[x] = static_cast<uint8_t>(map[f.dib->row(y)[x]]);
            remapKeptEncoding(f, map);
            ASSERT_TRUE(f.encoded) << codeSize;
            std::vector<uint8_t> written;
            ByteSink out(&written);
            ASSERT_TRUE(writeFrameImage(out, f, 100, layout));
            // The control extension and the descriptor, then the image data.
            written.erase(written.begin(), written.begin() + 18);
            std::vector<uint8_t> expected;
            for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
              static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
              for (int y = interlaced ? kStart[pass] : 0; y < h; y += interlaced ? kStep[pass] : 1)
                expected.insert(expected.end(), f.dib->row(y), f.dib->row(y) + w);
            }
            ASSERT_TRUE(decodeEncoding(written, expected.size()) == expected)
                << "code size " << codeSize << " " << w << "x" << h << " interlaced " << interlaced
                << " map " << kind;
          }
}
