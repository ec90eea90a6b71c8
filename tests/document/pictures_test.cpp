// Pictures on demand equal what the compositor shows playing from the start,
// in any order, after edits, and with hidden first frames; thumbnails average.
#include "document/pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

#include "base/reporter.h"
#include "document/rgba.h"
#include "formats/png_reader.h"
#include "testutil.h"

using namespace fb;

namespace {

std::vector<std::vector<uint8_t>> played(Animation& a) {
  std::vector<std::vector<uint8_t>> out;
  auto p = startPlayer(a);
  for (Frame* c = firstPicture(*p); c; c = nextPicture(*p)) out.push_back(canvasToRgba(*c));
  return out;
}

TEST(PictureCache, AnyOrderGivesWhatPlayingShows) {
  for (const char* name :
       {"gif-real/testsrc2-im-optimized.gif", "gif-real/testsrc-localpal-ffmpeg.gif",
        "gif-suite/dispose-restore-previous.gif", "gif-suite/dispose-restore-background.gif"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<Animation> a;
    ASSERT_EQ(fbtest::readGifPath(fbtest::dataPath(name), a), kReadComplete);
    auto want = played(*a);
    // A budget of three snapshots: most pictures are played on from one.
    size_t snapshot = static_cast<size_t>(stride8(a->width)) * a->height * 2 +
                      static_cast<size_t>(stride24(a->width)) * a->height;
    PictureCache cache(*a, 3 * snapshot);
    ASSERT_EQ(cache.count(), static_cast<int>(want.size()));
    std::vector<int> order(want.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::mt19937 rng(7);
    std::shuffle(order.begin(), order.end(), rng);
    order.insert(order.end(), order.begin(), order.end());  // and again, from the snapshots
    for (int n : order) {
      Rgba got;
      ASSERT_TRUE(cache.picture(n, got)) << n;
      ASSERT_EQ(got.width, a->width);
      ASSERT_TRUE(got.pixels == want[static_cast<size_t>(n)]) << "picture " << n;
    }
    EXPECT_LE(cache.bytesHeld(), 6 * snapshot + 16384)
        << "the budget holds, with the player's own canvas";
    Rgba none;
    EXPECT_FALSE(cache.picture(cache.count(), none));
    EXPECT_FALSE(cache.picture(-1, none));
  }
}

TEST(PictureCache, AnEditedFrameIsRenderedAfreshFromItOn) {
  std::unique_ptr<Animation> a;
  ASSERT_EQ(fbtest::readGifPath(fbtest::dataPath("gif-real/screen-sprite-ffmpeg.gif"), a),
            kReadComplete);
  PictureCache cache(*a);
  Rgba pic;
  for (int n = 0; n < cache.count(); ++n) ASSERT_TRUE(cache.picture(n, pic));
  const int k = cache.count() / 2;
  Frame* f = frameAt(*a, k);
  for (int y = 0; y < f->height; ++y) std::fill_n(f->dib->row(y), f->width, 1);
  cache.invalidateFrom(k);
  auto want = played(*a);
  for (int n = cache.count() - 1; n >= 0; --n) {
    ASSERT_TRUE(cache.picture(n, pic));
    ASSERT_TRUE(pic.pixels == want[static_cast<size_t>(n)]) << n;
  }
  // Frames removed: the count follows.
  a->take(frameAt(*a, 0));
  cache.clear();
  EXPECT_EQ(cache.count(), a->frameCount());
  ASSERT_TRUE(cache.picture(0, pic));
  EXPECT_TRUE(pic.pixels == played(*a)[0]);
  // A new screen size, whatever frame is said to have changed: pictures of the new size.
  for (int n = 0; n < cache.count(); ++n) ASSERT_TRUE(cache.picture(n, pic));
  a->width += 37;
  a->height -= 3;
  cache.invalidateFrom(cache.count() - 1);
  ASSERT_TRUE(cache.picture(cache.count() - 1, pic));
  EXPECT_EQ(pic.width, a->width);
  EXPECT_TRUE(pic.pixels == played(*a).back());
}

TEST(PictureCache, AHiddenFirstFrameIsNotAPicture) {
  std::unique_ptr<Animation> a;
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  ASSERT_EQ(ReadPngFile(fbtest::dataPath("apng/ball.png"), nullptr, a), kReadComplete);
  auto want = played(*a);
  PictureCache cache(*a);
  ASSERT_EQ(cache.count(), static_cast<int>(want.size()));
  Rgba pic;
  ASSERT_TRUE(cache.picture(cache.count() - 1, pic));
  EXPECT_TRUE(pic.pixels == want.back());
  ASSERT_TRUE(cache.picture(0, pic));
  EXPECT_TRUE(pic.pixels == want.front());
}

// Two opaque indexed frames: the top-left quarter of the screen, then the bottom half.
std::unique_ptr<Animation> quarterAndWhole() {
  auto a = createAnimation();
  a->width = a->height = 4;
  Rgb colours[4] = {{0, 0, 0}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}};
  setGlobalPalette(*a, makePalette(colours, 4));
  for (int i = 0; i < 2; ++i) {
    auto f = newBlankFrame(i ? 4 : 2, 2);
    f->top = i ? 2 : 0;
    f->dib = createBitmap(f->width, f->height, a->globalPalette.get());
    for (int y = 0; y < f->height; ++y) std::fill_n(f->dib->row(y), f->width, i + 1);
    appendFrame(*a, std::move(f));
  }
  return a;
}

// A screen as wide (or as tall) as an int with no height (or width) has no
// pixels, so nothing refuses it (a pasted animation can say so): its
// pictures are empty, and the cache's tile arithmetic must not overflow.
TEST(PictureCache, AScreenAsWideAsAnIntGivesEmptyPicturesWithoutOverflow) {
  for (int size : {INT_MAX, INT_MAX - 1, INT_MAX - 30}) {
    for (bool wide : {true, false}) {
      auto a = quarterAndWhole();
      a->width = wide ? size : 0;
      a->height = wide ? 0 : size;
      PictureCache cache(*a);
      for (int n : {1, 0, 1}) {
        Rgba pic;
        ASSERT_TRUE(cache.picture(n, pic)) << size << " " << wide << " " << n;
        EXPECT_EQ(pic.width, a->width);
        EXPECT_EQ(pic.height, a->height);
        EXPECT_TRUE(pic.pixels.empty());
      }
      cache.invalidateFrom(1);
      cache.clear();
      EXPECT_EQ(cache.bytesHeld(), 0u);
    }
  }
}

TEST(PictureCache, AnEditThatChangesHowEveryPictureStartsForgetsTheEarlierOnes) {
  // True-colour data in a later frame makes the document's pictures start
  // transparent, the earlier ones included.
  auto a = quarterAndWhole();
  PictureCache cache(*a);
  Rgba pic;
  for (int n = 0; n < cache.count(); ++n) ASSERT_TRUE(cache.picture(n, pic));
  Frame* f = frameAt(*a, 1);
  setRgb(*f, std::vector<uint8_t>(static_cast<size_t>(stride24(f->width)) * f->height, 90));
  cache.invalidateFrom(1);
  auto want = played(*a);
  for (int n = 0; n < cache.count(); ++n) {
    ASSERT_TRUE(cache.picture(n, pic));
    EXPECT_TRUE(pic.pixels == want[static_cast<size_t>(n)]) << n;
  }

  // A hidden first frame is hidden only once a second frame follows it.
  a = quarterAndWhole();
  a->hideFirstFrame = 1;
  auto second = a->take(frameAt(*a, 1));
  PictureCache hidden(*a);
  ASSERT_TRUE(hidden.picture(0, pic));
  a->append(second);
  hidden.invalidateFrom(1);
  ASSERT_EQ(hidden.count(), 1);
  ASSERT_TRUE(hidden.picture(0, pic));
  EXPECT_TRUE(pic.pixels == played(*a)[0]);
}

TEST(PictureCache, SnapshotsThatKeepTwoCanvasesStayWithinTheBudget) {
  // Every frame restores to the previous picture: each snapshot holds that picture too.
  auto a = createAnimation();
  a->width = a->height = 64;
  Rgb colours[2] = {{0, 0, 0}, {255, 255, 255}};
  setGlobalPalette(*a, makePalette(colours, 2));
  for (int i = 0; i < 12; ++i) {
    auto f = newBlankFrame(8, 8);
    f->left = 4 * i;
    f->setDisposal(3);
    f->dib = createBitmap(8, 8, a->globalPalette.get());
    appendFrame(*a, std::move(f));
  }
  const size_t canvas = size_t{64} * 64 * 4, budget = 3 * canvas;
  PictureCache cache(*a, budget);
  Rgba pic;
  for (int n = 0; n < cache.count(); ++n) ASSERT_TRUE(cache.picture(n, pic));
  // The player's own canvas and saved picture come on top of the budget.
  EXPECT_LE(cache.bytesHeld(), budget + 2 * canvas + 8 * sizeof(Frame));
  auto want = played(*a);
  for (int n = cache.count() - 1; n >= 0; --n) {
    ASSERT_TRUE(cache.picture(n, pic));
    EXPECT_TRUE(pic.pixels == want[static_cast<size_t>(n)]) << n;
  }
}

TEST(PictureCache, SnapshotsHoldWhatChangedNotWholePictures) {
  // A 256 × 256 picture, then 40 frames that each move a small square.
  auto a = createAnimation();
  a->width = a->height = 256;
  Rgb colours[3] = {{10, 10, 10}, {200, 30, 30}, {30, 200, 30}};
  setGlobalPalette(*a, makePalette(colours, 3));
  auto add = [&](int left, int top, int size, int value) {
    auto f = newBlankFrame(size, size);
    f->left = left;
    f->top = top;
    f->dib = createBitmap(size, size, a->globalPalette.get());
    for (int y = 0; y < size; ++y) std::fill_n(f->dib->row(y), size, value);
    appendFrame(*a, std::move(f));
  };
  add(0, 0, 256, 0);
  for (int i = 0; i < 40; ++i) add(6 * i, 3 * i + 7, 8, 1 + i % 2);
  const size_t canvas = size_t{256} * 256 * 4, whole = 41 * canvas;
  PictureCache cache(*a, whole);  // room for a whole picture a frame
  const auto want = played(*a);
  Rgba pic;
  for (int n = 0; n < cache.count(); ++n) ASSERT_TRUE(cache.picture(n, pic));
  EXPECT_LT(cache.bytesHeld(), whole / 8) << "unchanged tiles are shared";
  cache.invalidateFrom(20);
  std::vector<int> order(want.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  for (int n : order) {
    ASSERT_TRUE(cache.picture(n, pic));
    ASSERT_TRUE(pic.pixels == want[static_cast<size_t>(n)]) << n;
  }
  cache.invalidateFrom(0);
  EXPECT_EQ(cache.bytesHeld(), 0u) << "every byte counted is given back";
}

TEST(Thumbnails, ShrinkingAveragesAreasAndKeepsTheShape) {
  // A 4 × 2 picture: black and white columns, the right half red at half cover.
  std::vector<uint8_t> src = {0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 255, 255, 0, 0, 0,
                              0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 255, 255, 0, 0, 0};
  Rgba t = scaleToFit(src.data(), 4, 2, 2);
  ASSERT_EQ(t.width, 2);
  ASSERT_EQ(t.height, 1);
  EXPECT_NEAR(t.pixels[0], 128, 1);  // grey from black and white
  EXPECT_EQ(t.pixels[3], 255);
  EXPECT_EQ(t.pixels[4], 255) << "red, not darkened by the clear pixels";
  EXPECT_EQ(t.pixels[5], 0);
  EXPECT_NEAR(t.pixels[7], 128, 1) << "half covered";

  std::vector<uint8_t> wide(200 * 100 * 4, 255);
  Rgba w = scaleToFit(wide.data(), 200, 100, 96);
  EXPECT_EQ(w.width, 96);
  EXPECT_EQ(w.height, 48);
  EXPECT_TRUE(std::all_of(w.pixels.begin(), w.pixels.end(), [](uint8_t v) { return v == 255; }));

  // Growing repeats pixels.
  std::vector<uint8_t> two = {10, 20, 30, 255, 40, 50, 60, 0};
  Rgba g = scaleToFit(two.data(), 2, 1, 4);
  ASSERT_EQ(g.width, 4);
  ASSERT_EQ(g.height, 2);
  EXPECT_EQ(g.pixels[4 * 1 + 0], 10);
  EXPECT_EQ(g.pixels[4 * 2 + 0], 40);
  EXPECT_EQ(g.pixels[4 * 7 + 3], 0);

  Frame empty;
  Rgba e = frameThumbnail(empty, 96);
  EXPECT_EQ(e.width, 1) << "an empty frame is one clear pixel";
}

TEST(Thumbnails, ShrinkingByFourOrMoreSamplesEvenlyInEitherSource) {
  // 480 × 400 indexed: a clear left quarter, fine black-and-white stripes,
  // a red bottom band; shrunk five times over, each thumbnail pixel samples a grid.
  auto a = createAnimation();
  Rgb colours[4] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {9, 9, 9}};
  setGlobalPalette(*a, makePalette(colours, 4));
  auto f = newBlankFrame(480, 400);
  f->dib = createBitmap(480, 400, a->globalPalette.get());
  f->lendPalette(a->globalPalette.get());
  f->transparentIndex = 3;
  f->controlFlags |= 1;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 480; ++x)
      f->dib->row(y)[x] = static_cast<uint8_t>(x < 120 ? 3 : y >= 300 ? 2 : x & 1);
  Rgba t = frameThumbnail(*f, 96);
  ASSERT_EQ(t.width, 96);
  ASSERT_EQ(t.height, 80);
  auto at = [&](int x, int y) {
    const uint8_t* p = t.pixels.data() + (static_cast<size_t>(y) * 96 + x) * 4;
    return std::array<int, 4>{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(at(5, 5), (std::array<int, 4>{0, 0, 0, 0})) << "clear stays clear";
  EXPECT_EQ(at(60, 70), (std::array<int, 4>{255, 0, 0, 255}));
  EXPECT_NEAR(at(60, 20)[0], 128, 1) << "stripes average to grey";
  EXPECT_EQ(at(60, 20)[3], 255);
  // The same picture given as RGBA comes out the same.
  const std::vector<uint8_t> rgba = frameToRgba(*f);
  Rgba same = scaleToFit(rgba.data(), 480, 400, 96);
  EXPECT_TRUE(same.pixels == t.pixels);
}

TEST(Thumbnails, LongStripsAndHugeBoxes) {
  // Hundreds of source pixels to one output pixel along one side only.
  std::vector<uint8_t> strip(30000 * 4, 255);
  Rgba s = scaleToFit(strip.data(), 30000, 1, 96);
  ASSERT_EQ(s.width, 96);
  ASSERT_EQ(s.height, 1);
  EXPECT_TRUE(std::all_of(s.pixels.begin(), s.pixels.end(), [](uint8_t v) { return v == 255; }))
      << "white stays white";
  // A box no memory holds: an empty picture, not an exception.
  const uint8_t one[4] = {1, 2, 3, 255};
  Rgba huge;
  EXPECT_NO_THROW(huge = scaleToFit(one, 1, 1, 1 << 30));
  EXPECT_EQ(huge.width * huge.height, 0);
  EXPECT_TRUE(huge.pixels.empty());
}

}  // namespace
