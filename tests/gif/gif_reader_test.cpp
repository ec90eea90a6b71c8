#include "gif/gif_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "testutil.h"

using namespace fb;
using fbtest::GifBuilder;
using fbtest::readGifBytes;

namespace {

const char* kCorrupt = "Error encountered when reading file. The GIF file appears to be corrupt.";
const char* kPartial = "Only part of the animation was read.";
const char* kUnreadable = "Unable to read file successfully.";

// A 2 × 2 four-colour document with the given frames appended by the caller.
GifBuilder base(int w = 2, int h = 2) {
  GifBuilder b;
  b.header().screen(w, h, 0x91).colours(4);
  return b;
}

std::vector<uint8_t> pixelsOf(const Frame& f) {
  std::vector<uint8_t> out;
  for (int y = 0; y < f.height; ++y) out.insert(out.end(), f.dib->row(y), f.dib->row(y) + f.width);
  return out;
}

}  // namespace

TEST(GifReader, Signatures) {
  for (const char* ok : {"GIF87a", "GIF89a"}) {
    MemorySource s(ok, 6);
    EXPECT_TRUE(isGifSignature(s)) << ok;
    EXPECT_EQ(s.position(), 6);
  }
  for (const char* bad : {"GIF88a", "GIF89b", "gif89a", "GIF8"}) {
    MemorySource s(bad, std::strlen(bad));
    EXPECT_FALSE(isGifSignature(s)) << bad;
  }
}

TEST(GifReader, ReadsAWholeDocument) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  GifBuilder b;
  b.header("GIF87a").screen(3, 2, 0xA2, 5, 49).colours(8).loop(5).comment("hello");
  b.gce(0x09, 0xFFFF, 3).descriptor(1, 0, 2, 2).image(3, {1, 2, 3, 4});
  b.raw({0, 0, 0}).descriptor(0, 1, 1, 1).image(3, {7}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_TRUE(rec.entries().empty());
  EXPECT_EQ(a->width, 3);
  EXPECT_EQ(a->height, 2);
  EXPECT_EQ(a->playCount, 6);
  EXPECT_EQ(a->frameCount(), 2);
  EXPECT_EQ(a->backgroundIndex, 5);
  EXPECT_EQ(a->aspectRatio, 49);
  EXPECT_EQ(a->screenFlags, 0xA2);
  EXPECT_EQ(a->globalPalette->count, 8);
  EXPECT_EQ(a->encodedSize, static_cast<int>(b.bytes.size()));
  ASSERT_EQ(a->head->next->tag, kCommentTag) << "the loop extension is not kept as a block";
  std::string text;
  commentText(a->head->next, text);
  EXPECT_EQ(text, "hello");
  Frame* f = firstFrame(*a);
  EXPECT_EQ(f->delay, 65535);
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->disposal(), 2);
  EXPECT_EQ(f->transparentIndex, 3);
  EXPECT_TRUE(f->mask);
  EXPECT_EQ(f->left, 1);
  EXPECT_EQ(f->palette(), a->globalPalette.get());
  EXPECT_EQ(pixelsOf(*f), (std::vector<uint8_t>{1, 2, 3, 4}));
  Frame* g = nextFrame(f);
  EXPECT_EQ(g->delay, 10) << "a frame without control data takes the default delay";
  EXPECT_EQ(pixelsOf(*g), std::vector<uint8_t>{7});
}

TEST(GifReader, LoopExtension) {
  auto playsWith = [](int loop) {
    GifBuilder b = base();
    if (loop >= 0) b.loop(loop);
    b.descriptor(0, 0, 1, 1).image(2, {0}).trailer();
    std::unique_ptr<Animation> a;
    EXPECT_EQ(readGifBytes(b.bytes, a), kReadComplete);
    EXPECT_EQ(a->head->next->tag, kFrameTag);
    return a->playCount;
  };
  EXPECT_EQ(playsWith(0), 0);
  EXPECT_EQ(playsWith(5), 6);
  EXPECT_EQ(playsWith(-1), 1);

  // NETSCAPE2.0 with another sub-block size is kept verbatim.
  GifBuilder odd = base();
  odd.raw({0x21, 0xFF, 11}).raw({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
  odd.raw({5, 1, 2, 3, 4, 5, 2, 9, 9, 0});
  odd.descriptor(0, 0, 1, 1).image(2, {0}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(odd.bytes, a), kReadComplete);
  ASSERT_EQ(a->head->next->tag, kApplicationTag);
  EXPECT_EQ(a->head->next->payload.size(), 1u + 11 + 6 + 3 + 1);
  EXPECT_EQ(a->playCount, 1);

  // A bad terminator after the loop count is corrupt.
  RecordingReporter rec;
  ScopedReporter scope(rec);
  GifBuilder bad = base();
  bad.descriptor(0, 0, 1, 1).image(2, {0});
  bad.raw({0x21, 0xFF, 11}).raw({'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
  bad.raw({3, 1, 0, 0, 7}).trailer();
  ASSERT_EQ(readGifBytes(bad.bytes, a), kReadPartial);
  EXPECT_TRUE(rec.contains(kCorrupt));
  EXPECT_TRUE(rec.contains(kPartial));
}

TEST(GifReader, ZerosBetweenBlocksAndGarbageAfterTheTrailer) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  GifBuilder b = base();
  b.raw({0, 0}).descriptor(0, 0, 1, 1).image(2, {3}).raw({0, 0, 0}).trailer();
  b.raw({0xde, 0xad, 0xbe, 0xef});
  std::unique_ptr<Animation> a;
  EXPECT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_TRUE(rec.entries().empty());
}

TEST(GifReader, EndCodeBeforeTheImageIsCompleteKeepsTheFrame) {
  GifBuilder b = base();
  b.descriptor(0, 0, 2, 2).image(2, {3, 2}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(pixelsOf(*firstFrame(*a)), (std::vector<uint8_t>{3, 2, 0, 0}));
}

TEST(GifReader, ExtraPixelsDoNotDerailTheNextBlock) {
  // More pixels than the frame holds, spread over several sub-blocks.
  std::vector<uint8_t> many(3000, 1);
  GifBuilder b = base();
  b.descriptor(0, 0, 2, 2).image(2, many, true, true, 16);
  b.descriptor(0, 0, 1, 1).image(2, {2}).trailer();
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 2);
  EXPECT_TRUE(rec.entries().empty());
}

TEST(GifReader, InterlacedRowsFollowTheFourPasses) {
  GifReadOptions keep;
  keep.keepInterlace = true;
  GifBuilder b = base(1, 10);
  b.descriptor(0, 0, 1, 1, 0x40).image(2, {1});
  // 10 rows arrive in the order 0 8 | 4 | 2 6 | 1 3 5 7 9.
  b.descriptor(0, 0, 1, 10, 0x40).image(4, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9});
  b.descriptor(0, 0, 1, 3, 0x40).image(2, {0, 2, 1}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a, nullptr, keep), kReadComplete);
  EXPECT_EQ(pixelsOf(*frameAt(*a, 0)), std::vector<uint8_t>{1});
  EXPECT_EQ(pixelsOf(*frameAt(*a, 1)), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(pixelsOf(*frameAt(*a, 2)), (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_TRUE(frameAt(*a, 1)->interlaced()) << "kept when the option says so";
  EXPECT_EQ(a->encodedSize, static_cast<int>(b.bytes.size()));
}

TEST(GifReader, InterlacingIsDroppedByDefaultAndTheSizeForgotten) {
  GifBuilder b = base(1, 3);
  b.descriptor(0, 0, 1, 3, 0x40).image(2, {0, 2, 1}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_FALSE(firstFrame(*a)->interlaced());
  EXPECT_EQ(pixelsOf(*firstFrame(*a)), (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_EQ(a->encodedSize, -1);
}

TEST(GifReader, ScreenGrowsToCoverFramesOnlyAfterACompleteRead) {
  GifBuilder b = base(2, 2);
  b.descriptor(3, 1, 2, 2).image(2, {1, 1, 1, 1});
  auto partial = b;
  b.trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->width, 5);
  EXPECT_EQ(a->height, 3);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  ASSERT_EQ(readGifBytes(partial.bytes, a), kReadPartial);
  EXPECT_EQ(a->width, 2);
  EXPECT_EQ(a->height, 2);
  EXPECT_EQ(a->encodedSize, -1);
}

TEST(GifReader, BackgroundIndexAndColourResolution) {
  std::unique_ptr<Animation> a;
  GifBuilder b;
  b.header().screen(1, 1, 0x83, 255).colours(16).descriptor(0, 0, 1, 1).image(4, {0}).trailer();
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->backgroundIndex, 0);
  EXPECT_EQ((a->screenFlags >> 4) & 7, 3) << "colour resolution raised to the table's bits";

  GifBuilder edge;
  edge.header().screen(1, 1, 0x83, 16).colours(16).descriptor(0, 0, 1, 1).image(4, {0}).trailer();
  ASSERT_EQ(readGifBytes(edge.bytes, a), kReadComplete);
  EXPECT_EQ(a->backgroundIndex, 16) << "a byte equal to the count is kept";

  GifBuilder none;
  none.header().screen(1, 1, 0x00, 9).descriptor(0, 0, 1, 1).image(2, {1}).trailer();
  ASSERT_EQ(readGifBytes(none.bytes, a), kReadComplete);
  EXPECT_EQ(a->backgroundIndex, 0);
  EXPECT_EQ(a->globalPalette, nullptr);
  EXPECT_EQ(firstFrame(*a)->palette(), nullptr);
}

TEST(GifReader, LocalPaletteBelongsToTheFrame) {
  GifBuilder b = base();
  b.descriptor(0, 0, 1, 1, 0x81).colours(4).image(2, {3}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  Frame* f = firstFrame(*a);
  ASSERT_TRUE(f->localPalette);
  EXPECT_EQ(f->palette(), f->localPalette.get());
  EXPECT_EQ(f->imageFlags, 0x81);
  EXPECT_EQ(f->localPalette->count, 4);
}

TEST(GifReader, DamageAfterAFrameKeepsIt) {
  GifBuilder b = base();
  b.descriptor(0, 0, 1, 1).image(2, {1});
  b.descriptor(0, 0, 2, 2);
  auto truncatedInImage = b;
  truncatedInImage.raw({2, 4, 0x11});  // the second image's data stops here

  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(truncatedInImage.bytes, a), kReadPartial);
  EXPECT_EQ(a->frameCount(), 1);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kPartial}));

  rec.clear();
  GifBuilder unknown = base();
  unknown.descriptor(0, 0, 1, 1).image(2, {1}).raw({0x99});
  ASSERT_EQ(readGifBytes(unknown.bytes, a), kReadPartial);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kPartial}));

  rec.clear();
  GifBuilder noTrailer = base();
  noTrailer.descriptor(0, 0, 1, 1).image(2, {1});
  ASSERT_EQ(readGifBytes(noTrailer.bytes, a), kReadPartial);
}

TEST(GifReader, DamageBeforeAnyFrameFails) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;
  GifBuilder codeSize = base();
  codeSize.descriptor(0, 0, 1, 1).raw({9, 1, 0, 0}).trailer();
  EXPECT_EQ(readGifBytes(codeSize.bytes, a), kReadFailed);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kUnreadable}));

  rec.clear();
  GifBuilder cut = base();
  cut.raw({0x21, 0xFE, 10, 'a', 'b'});
  EXPECT_EQ(readGifBytes(cut.bytes, a), kReadFailed);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kUnreadable}));

  rec.clear();
  GifBuilder huge = base();
  huge.descriptor(0, 0, 65535, 65535).image(2, {1}).trailer();
  EXPECT_EQ(readGifBytes(huge.bytes, a), kReadFailed);
  EXPECT_EQ(rec.texts(),
            (std::vector<std::string>{"Not enough memory to build frame image.", kUnreadable}));

  rec.clear();
  std::vector<uint8_t> shortHeader = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1};
  EXPECT_EQ(readGifBytes(shortHeader, a), kReadFailed);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kUnreadable}))
      << "a file cut short in the screen descriptor says so";

  rec.clear();
  GifBuilder cutTable;
  cutTable.header().screen(1, 1, 0x81).raw({0, 0, 0, 255, 255});  // four entries declared
  EXPECT_EQ(readGifBytes(cutTable.bytes, a), kReadFailed);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kUnreadable}))
      << "and so does one cut short in the global colour table";
}

TEST(GifReader, AnImageThatSendsNoPixelsIsKeptAndReadingGoesOn) {
  // Image data of only a clear code and the end code is properly ended: the
  // frame keeps a new frame's pixels (index 0), and so does a one-pixel frame.
  GifBuilder b = base();
  b.descriptor(0, 0, 2, 2).raw({2}).codeData({4, 5}, 3);
  b.descriptor(1, 1, 1, 1).raw({2}).codeData({4, 5}, 3);
  b.descriptor(0, 0, 1, 1).image(2, {2}).trailer();
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  ASSERT_EQ(a->frameCount(), 3);
  EXPECT_EQ(pixelsOf(*frameAt(*a, 0)), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(pixelsOf(*frameAt(*a, 1)), std::vector<uint8_t>{0}) << "not the end code as a pixel";
  EXPECT_EQ(pixelsOf(*frameAt(*a, 2)), std::vector<uint8_t>{2});
  EXPECT_TRUE(rec.entries().empty());
}

TEST(GifReader, TheScreenNeverGrowsPastWhatAGifCanSay) {
  GifBuilder b = base(10, 10);
  b.descriptor(65535, 65535, 100, 100).image(2, {1}).descriptor(0, 0, 1, 1).image(2, {1});
  b.trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->width, 65535);
  EXPECT_EQ(a->height, 65535);
  EXPECT_EQ(firstFrame(*a)->left, 65535) << "the frame itself is as the file says";
}

TEST(GifReader, UnknownExtensionsArePassedOver) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  GifBuilder b = base();
  b.raw({0x21, 0x42, 3, 1, 2, 3, 2, 4, 5, 0}).descriptor(0, 0, 1, 1).image(2, {1}).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->head->next->tag, kFrameTag) << "not kept: only known extensions are written back";
  EXPECT_TRUE(rec.entries().empty());
}

TEST(GifReader, ControlExtensionWithoutAnImage) {
  GifBuilder b = base();
  b.gce(0, 5, 0).gce(0x04, 7, 0).descriptor(0, 0, 1, 1).image(2, {1}).gce(0, 9, 0).trailer();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 1);
  EXPECT_EQ(firstFrame(*a)->delay, 7) << "a later control extension replaces the pending one";
  EXPECT_EQ(firstFrame(*a)->disposal(), 1);
}

TEST(GifReader, CancelKeepsWhatWasReadWithoutAMessage) {
  GifBuilder b = base();
  for (int i = 0; i < 5; ++i) b.descriptor(0, 0, 1, 1).image(2, {1});
  b.trailer();
  RecordingReporter rec;
  ScopedReporter scope(rec);
  RecordingProgress progress;
  progress.cancelAfter(2);  // one position update per block
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readGifBytes(b.bytes, a, &progress), kReadPartial);
  EXPECT_EQ(a->frameCount(), 2) << "the read stops after the block that saw the cancel";
  EXPECT_TRUE(rec.entries().empty());
  EXPECT_EQ(progress.texts(), std::vector<std::string>{"正在读取GIF文件...  (Esc键中止)"});
  EXPECT_EQ(progress.range(), static_cast<int64_t>(b.bytes.size()));
}

TEST(GifReader, EveryTruncationOfARealFileIsHandled) {
  auto bytes = fbtest::readBytes(fbtest::dataPath("gif-real/screen-sprite-ffmpeg.gif"));
  ASSERT_GT(bytes.size(), 1000u);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> whole;
  ASSERT_EQ(readGifBytes(bytes, whole), kReadComplete);
  int previous = 0;
  for (size_t n = 6; n < bytes.size(); n += 1 + n / 50) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    std::unique_ptr<Animation> a;
    int r = readGifBytes(cut, a);
    ASSERT_NE(r, kReadComplete) << n;
    int frames = a ? a->frameCount() : 0;
    EXPECT_GE(frames, previous) << "a longer prefix never loses frames";
    previous = frames;
    // The frames kept are exactly the complete ones.
    for (int i = 0; i < frames; ++i)
      EXPECT_EQ(pixelsOf(*frameAt(*a, i)), pixelsOf(*frameAt(*whole, i))) << n << " frame " << i;
  }
  EXPECT_GE(previous, whole->frameCount() - 1);
}

namespace {

// Reads `bytes` with images decoded on this thread, then beside it: the
// result, the document and the messages must be the same.
void expectSameOnEveryThread(const std::vector<uint8_t>& bytes, const std::string& what) {
  std::unique_ptr<Animation> alone, beside;
  RecordingReporter one, many;
  int r1, r2;
  {
    ScopedReporter scope(one);
    r1 = readGifBytes(bytes, alone);
  }
  {
    ScopedReporter scope(many);
    GifReadOptions options;
    options.threads = 3;
    r2 = readGifBytes(bytes, beside, nullptr, options);
  }
  EXPECT_EQ(r1, r2) << what;
  EXPECT_EQ(one.texts(), many.texts()) << what;
  ASSERT_EQ(alone != nullptr, beside != nullptr) << what;
  if (alone) {
    EXPECT_TRUE(fbtest::digest(*alone) == fbtest::digest(*beside)) << what;
  }
}

}  // namespace

TEST(GifReader, ImagesDecodedBesideTheReadingThreadGiveTheSameDocument) {
  namespace fs = std::filesystem;
  for (const char* dir : {"gif-real", "gif-suite"})
    for (const auto& e : fs::directory_iterator(fbtest::dataPath(dir)))
      if (e.path().extension() == ".gif")
        expectSameOnEveryThread(fbtest::readBytes(e.path().string()), e.path().string());

  // Damaged in the middle: the frames after the damage go, and so do the
  // blocks read after them, which another thread may have read on to.
  const auto real = fbtest::readBytes(fbtest::dataPath("gif-real/testsrc2-diff-ffmpeg.gif"));
  ASSERT_GT(real.size(), 100000u);
  for (size_t at = 2000; at < real.size(); at += real.size() / 13) {
    auto cut = real;
    cut.resize(at);
    expectSameOnEveryThread(cut, "cut at " + std::to_string(at));
    auto spoiled = real;
    std::fill(spoiled.begin() + static_cast<long>(at), spoiled.begin() + static_cast<long>(at) + 40,
              0xFF);
    expectSameOnEveryThread(spoiled, "spoiled at " + std::to_string(at));
  }

  // Two frames whose codes name no string, then a loop count and frames
  // read beside them: the document keeps what came before the first bad
  // frame only, with one message for it.
  GifBuilder b = base(64, 64);
  const std::vector<uint8_t> pixels(64 * 64, 2);
  for (int i = 0; i < 6; ++i) b.descriptor(0, 0, 64, 64).image(2, pixels);
  for (int i = 0; i < 2; ++i)
    b.descriptor(0, 0, 64, 64).raw({2}).codeData({4, 1, 7, 7}, 3);  // 7: no such string yet
  b.loop(7);
  for (int i = 0; i < 6; ++i) b.descriptor(0, 0, 64, 64).image(2, pixels);
  b.trailer();
  expectSameOnEveryThread(b.bytes, "bad codes");
  std::unique_ptr<Animation> a;
  GifReadOptions options;
  options.threads = 3;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  ASSERT_EQ(readGifBytes(b.bytes, a, nullptr, options), kReadPartial);
  EXPECT_EQ(a->frameCount(), 6);
  EXPECT_EQ(a->playCount, 1) << "the loop count after the bad frame was never read";
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kCorrupt, kPartial}));

  // Frames that send none of their pixels, more of them than a file this
  // small may leave unsent: the same frames are kept either way.
  GifBuilder empty = base(4000, 4000);
  for (int i = 0; i < 12; ++i) empty.descriptor(0, 0, 4000, 4000).raw({2}).codeData({4, 5}, 3);
  empty.trailer();
  expectSameOnEveryThread(empty.bytes, "unsent pixels");
}
