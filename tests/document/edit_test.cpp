// The document's editing operations: frame order, property edits, comments,
// and the pixel editor.
#include <gtest/gtest.h>

#include "base/reporter.h"
#include "document/frame_order.h"
#include "document/pixel_edit.h"
#include "document/properties.h"
#include "testutil.h"

using namespace fb;

namespace {

// `frames` frames of 4 × 3 over a 4-entry palette, frame i with delay 10(i+1)
// and pixels (x + y + i) % 4.
std::unique_ptr<Animation> frames(int n) {
  auto a = createAnimation();
  a->width = 4;
  a->height = 3;
  Rgb ramp[4] = {{0, 0, 0}, {80, 80, 80}, {160, 160, 160}, {255, 255, 255}};
  setGlobalPalette(*a, makePalette(ramp, 4));
  for (int i = 0; i < n; ++i) {
    auto f = newBlankFrame(4, 3);
    f->dib = createBitmap(4, 3, a->globalPalette.get());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) f->dib->row(y)[x] = static_cast<uint8_t>((x + y + i) % 4);
    f->delay = 10 * (i + 1);
    appendFrame(*a, std::move(f));
  }
  return a;
}

TEST(FrameOrder, PingPongAndReverse) {
  auto a = frames(4);
  auto c = newBlock(kCommentTag, 0);
  setCommentText(c.get(), "last");
  appendBlock(*a, std::move(c));
  ASSERT_TRUE(pingPong(*a));
  EXPECT_EQ(fbtest::delaysOf(*a), (std::vector<int>{10, 20, 30, 40, 30, 20}));
  EXPECT_EQ(a->frame(4)->dib->data, a->frame(2)->dib->data);
  EXPECT_NE(a->frame(4), a->frame(2)) << "copies, not the same frame twice";
  EXPECT_EQ(lastBlock(*a)->tag, kCommentTag) << "the closing comment stays last";

  ASSERT_TRUE(reverseAnimation(*a));
  EXPECT_EQ(fbtest::delaysOf(*a), (std::vector<int>{20, 30, 40, 30, 20, 10}));

  auto two = frames(2);
  ASSERT_TRUE(pingPong(*two));
  EXPECT_EQ(two->frameCount(), 2) << "two frames already play back and forth";

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto one = frames(1);
  EXPECT_FALSE(pingPong(*one));
  EXPECT_FALSE(reverseAnimation(*one));
  EXPECT_EQ(one->frameCount(), 1);
  EXPECT_EQ(rec.texts(),
            (std::vector<std::string>(2, "This needs an animation of at least two frames.")));
}

TEST(Properties, AllFieldsAreCheckedBeforeAnyChanges) {
  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto a = frames(3);
  FrameProperties p;
  p.disposal = 2;
  p.left = 5;
  p.delay = 70000;
  EXPECT_FALSE(setAllFrameProperties(*a, p));
  ASSERT_EQ(rec.entries().size(), 1u);
  EXPECT_EQ(rec.entries()[0].caption, "无效延迟值");
  EXPECT_EQ(rec.entries()[0].text, "延迟必须在范围0 到65535内。.");
  EXPECT_EQ(a->frame(0)->disposal(), 0) << "nothing changed";
  EXPECT_EQ(a->frame(0)->left, 0);

  p.delay = 7;
  p.transparent = true;
  p.transparentIndex = 3;
  p.interlaced = true;
  p.name = "walk";
  ASSERT_TRUE(setFrameProperties(*a, {0, 2}, p));
  for (int i : {0, 2}) {
    Frame* f = a->frame(i);
    EXPECT_EQ(std::tuple(f->delay, f->disposal(), f->left, f->transparentIndex),
              std::tuple(7, 2, 5, 3));
    EXPECT_TRUE(f->transparent());
    EXPECT_TRUE(f->interlaced());
    ASSERT_TRUE(f->mask);
    EXPECT_EQ(frameName(*f), "walk");
  }
  EXPECT_EQ(a->frame(1)->delay, 20) << "frame 1 was not named";

  AnimationProperties ap;
  ap.width = 9;
  ap.playCount = 65537;
  EXPECT_FALSE(setAnimationProperties(*a, ap));
  EXPECT_EQ(rec.entries().back().caption, "错误重复值");
  EXPECT_EQ(a->width, 4);
  ap.playCount = 3;
  ap.backgroundIndex = 2;
  ASSERT_TRUE(setAnimationProperties(*a, ap));
  EXPECT_EQ(std::tuple(a->width, a->height, a->playCount, int(a->backgroundIndex)),
            std::tuple(9, 3, 3, 2));
}

TEST(Properties, TheTimingEditorSetsEveryDelayOrNone) {
  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto a = frames(3);
  EXPECT_FALSE(setFrameDelays(*a, {5, 6}));
  EXPECT_EQ(rec.texts().back(), "2 delays were given, but the animation has 3 frames.");
  EXPECT_FALSE(setFrameDelays(*a, {5, 65536, 7}));
  EXPECT_EQ(rec.entries().back().caption, "无效延迟值");
  EXPECT_FALSE(setFrameDelays(*a, {-1, 6, 7}));
  EXPECT_EQ(fbtest::delaysOf(*a), (std::vector<int>{10, 20, 30})) << "nothing changed";
  ASSERT_TRUE(setFrameDelays(*a, {0, 65535, 4}));
  EXPECT_EQ(fbtest::delaysOf(*a), (std::vector<int>{0, 65535, 4}));
  // A delay no one could type (read from another format), given back as it is, stays.
  a->frame(0)->delay = 100000;
  ASSERT_TRUE(setFrameDelays(*a, {100000, 1, 2}));
  EXPECT_EQ(fbtest::delaysOf(*a), (std::vector<int>{100000, 1, 2}));
}

TEST(Properties, CommentsAreAddedEditedAndRemoved) {
  auto a = frames(2);
  ASSERT_TRUE(addComment(*a, "first"));
  ASSERT_TRUE(addComment(*a, "second"));
  EXPECT_EQ(comments(*a), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(a->head->next->tag, kCommentTag) << "before the first frame";
  ASSERT_TRUE(setComment(*a, 1, std::string(600, 'x')));
  EXPECT_EQ(comments(*a)[1].size(), 600u);
  ASSERT_TRUE(removeComment(*a, 0));
  EXPECT_EQ(comments(*a).size(), 1u);
  EXPECT_EQ(a->frameCount(), 2);

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  EXPECT_FALSE(setComment(*a, 1, "no"));
  EXPECT_FALSE(removeComment(*a, -1));
  EXPECT_TRUE(rec.contains("There is no comment 2."));
}

TEST(PixelEdit, PaintFillAndPickTheTransparentIndex) {
  auto a = frames(1);
  Frame* f = a->frame(0);
  // Row 0 is 0 1 2 3, row 1 is 1 2 3 0, row 2 is 2 3 0 1: the 2s lie on a
  // diagonal and touch only corner to corner.
  ASSERT_TRUE(floodFill(*a, 0, {2, 0}, 1));
  EXPECT_EQ(f->dib->row(0)[2], 1);
  EXPECT_EQ(f->dib->row(1)[1], 2) << "diagonal neighbours are not filled";
  ASSERT_TRUE(paintPixels(*a, 0, {{0, 0}, {1, 0}, {0, 1}}, 3));
  ASSERT_TRUE(floodFill(*a, 0, {0, 0}, 0));
  EXPECT_EQ(f->dib->row(0)[0], 0);
  EXPECT_EQ(f->dib->row(0)[1], 0);
  EXPECT_EQ(f->dib->row(1)[0], 0);
  EXPECT_EQ(f->dib->row(1)[2], 3) << "a 3 not connected to the start";

  ASSERT_TRUE(pickTransparentIndex(*a, 0, {2, 1}));
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->transparentIndex, 3);
  ASSERT_TRUE(f->mask);
  EXPECT_TRUE(f->mask->transparentAt(2, 1));
  EXPECT_FALSE(f->mask->transparentAt(0, 0));

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  std::vector<uint8_t> pixels = f->dib->data;
  EXPECT_FALSE(paintPixels(*a, 0, {{1, 1}, {4, 0}}, 1));
  EXPECT_FALSE(paintPixels(*a, 0, {{1, 1}}, 4));
  EXPECT_FALSE(floodFill(*a, 1, {0, 0}, 1));
  EXPECT_EQ(f->dib->data, pixels) << "no pixel of a refused stroke is painted";
  EXPECT_TRUE(rec.contains("The point 4,0 lies outside the frame (4 x 3)."));
  EXPECT_TRUE(rec.contains("Colour 4 is not in the palette (4 colours)."));
  EXPECT_TRUE(rec.contains("There is no frame 2."));
}

}  // namespace
