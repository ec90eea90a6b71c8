#include "imaging/unoptimize.h"

#include <gtest/gtest.h>

#include "document/player.h"
#include "formats/png_rgba.h"
#include "imaging/frame_count.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "testutil.h"
#include "timeline.h"

using namespace fb;
using fbtest::pictures;

namespace {

std::unique_ptr<Animation> doc(int w, int h) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  a->backgroundIndex = 3;
  Rgb pal[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  setGlobalPalette(*a, makePalette(pal, 4));
  return a;
}

Frame& add(Animation& a, int l, int t, int w, int h, uint8_t v, int disposal, int delay = 10) {
  Frame* f = newBlankFrame(w, h).release();
  f->left = l;
  f->top = t;
  f->delay = delay;
  f->lendPalette(a.globalPalette.get());
  f->setDisposal(disposal);
  auto dib = createBitmap(w, h, f->palette());
  std::fill(dib->data.begin(), dib->data.end(), v);
  setBitmap(*f, std::move(dib));
  appendBlock(a, std::unique_ptr<Block>(f));
  return *f;
}

}  // namespace

TEST(Unoptimize, EveryFrameBecomesWhatTheViewerSees) {
  auto a = doc(4, 2);
  add(*a, 0, 0, 4, 2, 1, 1);
  add(*a, 1, 0, 1, 1, 2, 3);  // restore previous: on its own picture only
  add(*a, 2, 1, 2, 1, 2, 2);  // restore to background
  add(*a, 0, 0, 1, 1, 0, 1);
  auto before = pictures(*a);
  RecordingProgress p;
  ASSERT_TRUE(unoptimize(*a, &p));
  EXPECT_EQ(p.texts(), std::vector<std::string>{"正在反优化动画..."});
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) {
    EXPECT_EQ(f->width, 4);
    EXPECT_EQ(f->height, 2);
    EXPECT_EQ(f->left, 0);
    EXPECT_FALSE(f->transparent());
    EXPECT_EQ(f->disposal(), 1);
  }
  EXPECT_EQ(frameAt(*a, 1)->dib->row(0)[1], 2);
  EXPECT_EQ(frameAt(*a, 2)->dib->row(0)[1], 1) << "the disposal-3 frame is gone again";
  EXPECT_EQ(frameAt(*a, 3)->dib->row(1)[2], 3) << "the restored area shows the background index";
  EXPECT_EQ(pictures(*a), before);
  EXPECT_EQ(a->colourUsage[3], 2);
}

TEST(Unoptimize, FullOpaqueFramesOnlyChangeTheirDisposal) {
  auto a = doc(2, 2);
  add(*a, 0, 0, 2, 2, 1, 0);
  add(*a, 0, 0, 2, 2, 2, 2);
  auto before = pictures(*a);
  ASSERT_TRUE(unoptimize(*a, nullptr));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(frameAt(*a, 0)->dib->row(y)[x], 1);
  EXPECT_EQ(frameAt(*a, 1)->disposal(), 1);
  EXPECT_EQ(pictures(*a), before);
}

TEST(Unoptimize, RefusesLocalPalettes) {
  auto a = doc(2, 2);
  Frame& f = add(*a, 0, 0, 2, 2, 1, 0);
  setLocalPalette(f, makePalette(nullptr, 2));
  RecordingReporter rec;
  ScopedReporter scope(rec);
  EXPECT_FALSE(unoptimize(*a, nullptr));
  ASSERT_EQ(rec.entries().size(), 1u);
  EXPECT_EQ(rec.entries()[0].caption, "Unable to Unoptimize");
  EXPECT_EQ(rec.entries()[0].text,
            "Because of the existence of local palettes in this animation, it cannot be unoptimized.");
  EXPECT_EQ(f.disposal(), 0);
}

TEST(FrameCountReduction, RemovesEveryNthFrameAndKeepsTheTime) {
  auto make = [](int n) {
    auto a = doc(1, 1);
    for (int i = 0; i < n; ++i) add(*a, 0, 0, 1, 1, 1, 1, 10 + i);
    return a;
  };
  auto five = make(5);
  Frame* f1 = frameAt(*five, 0);
  Frame* f3 = frameAt(*five, 2);
  Frame* f5 = frameAt(*five, 4);
  ASSERT_TRUE(reduceFrameCount(*five, 2));
  EXPECT_EQ(five->frameCount(), 3);
  EXPECT_EQ(frameAt(*five, 0), f1);
  EXPECT_EQ(frameAt(*five, 1), f3);
  EXPECT_EQ(frameAt(*five, 2), f5);
  EXPECT_EQ(f1->delay, 10 + 11);
  EXPECT_EQ(f3->delay, 12 + 13);
  EXPECT_EQ(totalDelay(*five), 10 + 11 + 12 + 13 + 14);

  auto last = make(4);
  ASSERT_TRUE(reduceFrameCount(*last, 4));
  EXPECT_EQ(last->frameCount(), 3);
  EXPECT_EQ(frameAt(*last, 2)->delay, 12 + 13);

  auto nine = make(9);
  ASSERT_TRUE(reduceFrameCount(*nine, 3));
  EXPECT_EQ(nine->frameCount(), reducedFrameCount(9, 3));
  EXPECT_EQ(nine->frameCount(), 6);

  // Joined times too long to count are held at the largest delay, never wrapped.
  auto longest = make(2);
  frameAt(*longest, 0)->delay = INT32_MAX;
  ASSERT_TRUE(reduceFrameCount(*longest, 2));
  EXPECT_EQ(frameAt(*longest, 0)->delay, INT32_MAX);

  RecordingReporter rec;
  ScopedReporter scope(rec);
  EXPECT_FALSE(reduceFrameCount(*nine, 1));
  EXPECT_FALSE(reduceFrameCount(*nine, 7));
  ASSERT_EQ(rec.entries().size(), 2u);
  EXPECT_EQ(rec.entries()[0].caption, "Invalid Deletion Interval");
  EXPECT_EQ(rec.entries()[0].text,
            "The deletion interval must be in the range between 2 and the total number of frames.");
  EXPECT_EQ(nine->frameCount(), 6);
  EXPECT_EQ(reducedFrameCount(5, 6), -1);
}
