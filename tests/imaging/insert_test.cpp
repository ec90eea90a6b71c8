// Frame insertion: position, frame count, play count, the frame-size conflict.
#include <gtest/gtest.h>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "imaging/frame_insert.h"
#include "imaging/imaging_util.h"

using namespace fb;
using namespace fbtest;

namespace {

std::vector<Rgb> greys() {
  std::vector<Rgb> g;
  for (int i = 0; i < 4; ++i) g.push_back(Rgb{uint8_t(i * 85), uint8_t(i * 85), uint8_t(i * 85)});
  return g;
}

// An animation of `n` frames, frame k filled with index k % 4 and named "tag k".
std::unique_ptr<Animation> frames(int n, int w, int h, const char* tag) {
  std::vector<Frame*> fs;
  for (int k = 0; k < n; ++k) {
    Frame* f = indexedFrame(w, h, [k](int, int) { return k % 4; });
    setFrameName(*f, (std::string(tag) + " " + std::to_string(k)).c_str());
    fs.push_back(f);
  }
  return animationOf(w, h, greys(), fs);
}

std::vector<std::string> names(const Animation& a) {
  std::vector<std::string> out;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) out.push_back(frameName(*f));
  return out;
}

class Chooser : public MergeChooser {
 public:
  SizeChoice size;
  int asked = 0;
  bool suggestedGrow = false;
  MethodChoice chooseMergeMethod(uint32_t) override { return {}; }
  SizeChoice chooseSizeConflict(bool grow) override {
    ++asked;
    suggestedGrow = grow;
    return size;
  }
};

TEST(Insert, FramesGoBeforeThePosition) {
  struct Case {
    int position;
    std::vector<std::string> expected;
  } cases[] = {
      {0, {"new 0", "new 1", "old 0", "old 1", "old 2"}},
      {2, {"old 0", "old 1", "new 0", "new 1", "old 2"}},
      {-1, {"old 0", "old 1", "old 2", "new 0", "new 1"}},
      {3, {"old 0", "old 1", "old 2", "new 0", "new 1"}},
      {99, {"old 0", "old 1", "old 2", "new 0", "new 1"}},
  };
  for (const Case& c : cases) {
    auto target = frames(3, 8, 8, "old");
    std::unique_ptr<Animation> src = frames(2, 8, 8, "new");
    ASSERT_EQ(insertAnimations(*target, src, c.position, nullptr, nullptr), 1);
    EXPECT_FALSE(src);
    EXPECT_EQ(names(*target), c.expected) << c.position;
    EXPECT_EQ(target->frameCount(), 5);
    // Same palette: the new frames share the global one.
    for (Frame* f = firstFrame(*target); f; f = nextFrame(f))
      EXPECT_EQ(f->palette(), target->globalPalette.get());
    // Chain links both ways.
    for (Block* b = target->head; b->next; b = b->next) EXPECT_EQ(b->next->prev, b);
  }
}

TEST(Insert, QueuedDocumentsComeInOrderWithTheirExtensionBlocks) {
  auto target = frames(1, 8, 8, "old");
  auto s1 = frames(1, 8, 8, "a");
  Block* comment = newBlock(kCommentTag, 0).release();
  setCommentText(comment, "hello");
  appendBlock(*s1, std::unique_ptr<Block>(comment));
  auto s2 = frames(2, 8, 8, "b");
  s1->nextAnimation = std::move(s2);
  ASSERT_EQ(insertAnimations(*target, s1, 0, nullptr, nullptr), 1);
  EXPECT_EQ(names(*target), (std::vector<std::string>{"a 0", "b 0", "b 1", "old 0"}));
  EXPECT_EQ(target->frameCount(), 4);
  std::string text;
  EXPECT_TRUE(commentText(frameAt(*target, 0)->next, text));
  EXPECT_EQ(text, "hello");
}

TEST(Insert, ColourUsageIsRecounted) {
  auto target = frames(1, 8, 8, "old");  // 64 pixels of index 0
  auto src = frames(3, 8, 8, "new");     // 64 each of 0, 1, 2
  ASSERT_EQ(insertAnimations(*target, src, -1, nullptr, nullptr), 1);
  EXPECT_EQ(target->colourUsage[0], 128);
  EXPECT_EQ(target->colourUsage[1], 64);
  EXPECT_EQ(target->colourUsage[2], 64);
}

TEST(Insert, PlayCountRule) {
  MergeOptions options;
  options.defaultPlayCount = 3;
  auto one = frames(1, 8, 8, "old");
  one->playCount = 1;
  auto src = frames(1, 8, 8, "new");
  ASSERT_EQ(insertAnimations(*one, src, -1, nullptr, nullptr, options), 1);
  EXPECT_EQ(one->playCount, 3) << "one frame became two";

  auto two = frames(2, 8, 8, "old");
  two->playCount = 1;
  src = frames(1, 8, 8, "new");
  ASSERT_EQ(insertAnimations(*two, src, -1, nullptr, nullptr, options), 1);
  EXPECT_EQ(two->playCount, 1) << "already an animation";
}

TEST(Insert, LargerFramesGrowTheScreenByDefault) {
  auto target = frames(1, 10, 10, "old");
  auto src = frames(1, 30, 8, "new");
  frameAt(*src, 0)->left = 5;  // extends to 35
  ASSERT_EQ(insertAnimations(*target, src, -1, nullptr, nullptr), 1);
  EXPECT_EQ(target->width, 35);
  EXPECT_EQ(target->height, 10);
  EXPECT_EQ(frameAt(*target, 1)->width, 30);
}

TEST(Insert, ASmallFrameOfALargerScreenIsNoConflict) {
  auto target = frames(1, 10, 10, "old");
  auto src = frames(1, 6, 6, "new");
  src->width = 300;
  src->height = 200;
  Chooser chooser;
  MergeOptions ask;
  ask.sizeRule = 32 | 4;
  ASSERT_EQ(insertAnimations(*target, src, -1, &chooser, nullptr, ask), 1);
  EXPECT_EQ(chooser.asked, 0);
  EXPECT_EQ(target->width, 10);
  EXPECT_EQ(target->height, 10);
}

TEST(Insert, ClipRuleCropsTheNewFrames) {
  MergeOptions clip;
  clip.sizeRule = 16;
  auto target = frames(1, 10, 10, "old");
  auto src = frames(2, 16, 16, "new");
  Frame* a = frameAt(*src, 0);
  a->left = 4;
  a->top = -2;
  // A 24-bit frame partly outside, with alpha.
  Frame* b = rgbFrame(
      8, 4,
      [](int x, int y) {
        return Rgb{uint8_t(x * 30), uint8_t(y * 60), 7};
      },
      [](int x, int) { return x == 7 ? 0 : 255; });
  b->left = 6;
  b->top = 8;
  appendBlock(*src, std::unique_ptr<Block>(b));
  // A frame wholly outside.
  Frame* gone = frameAt(*src, 1);
  gone->left = 40;
  ASSERT_EQ(insertAnimations(*target, src, -1, nullptr, nullptr, clip), 1);
  EXPECT_EQ(target->width, 10);
  EXPECT_EQ(target->height, 10);
  ASSERT_EQ(target->frameCount(), 4);
  EXPECT_EQ(a->left, 4);
  EXPECT_EQ(a->top, 0);
  EXPECT_EQ(a->width, 6);
  EXPECT_EQ(a->height, 10);
  EXPECT_EQ(a->dib->width, 6);
  EXPECT_EQ(gone->width, 1);
  EXPECT_EQ(gone->height, 1);
  EXPECT_EQ(gone->left, 0);
  EXPECT_FALSE(shownAt(*gone, 0, 0).opaque);
  ASSERT_EQ(b->width, 4);
  ASSERT_EQ(b->height, 2);
  // The kept part of the true-colour frame, colours exact (they fit).
  EXPECT_EQ(shownAt(*b, 0, 0).rgb, (Rgb{0, 0, 7}));
  EXPECT_EQ(shownAt(*b, 3, 1).rgb, (Rgb{90, 60, 7}));
  EXPECT_TRUE(shownAt(*b, 3, 1).opaque);
}

TEST(Insert, AskingTheSizeQuestion) {
  MergeOptions ask;
  ask.sizeRule = 16 | 4;  // clip, ask every time
  Chooser chooser;
  chooser.size = {MergeChooser::Size::Grow, false};
  auto target = frames(1, 10, 10, "old");
  auto src = frames(1, 20, 20, "new");
  ASSERT_EQ(insertAnimations(*target, src, -1, &chooser, nullptr, ask), 1);
  EXPECT_EQ(chooser.asked, 1);
  EXPECT_FALSE(chooser.suggestedGrow);
  EXPECT_EQ(target->width, 20);

  chooser.size = {MergeChooser::Size::Clip, false};
  src = frames(1, 30, 30, "new");
  ASSERT_EQ(insertAnimations(*target, src, -1, &chooser, nullptr, ask), 1);
  EXPECT_EQ(chooser.asked, 2);
  EXPECT_EQ(target->width, 20);
  EXPECT_EQ(frameAt(*target, 2)->width, 20) << "clipped to the screen";

  // A rule that does not ask is followed without a question.
  MergeOptions clip;
  clip.sizeRule = 16;
  src = frames(1, 40, 40, "new");
  ASSERT_EQ(insertAnimations(*target, src, -1, &chooser, nullptr, clip), 1);
  EXPECT_EQ(chooser.asked, 2);
  EXPECT_EQ(frameAt(*target, 3)->width, 20);

  // Without anyone to ask, the screen grows.
  src = frames(1, 50, 50, "new");
  ASSERT_EQ(insertAnimations(*target, src, -1, nullptr, nullptr, ask), 1);
  EXPECT_EQ(target->width, 50);
}

TEST(Insert, CancellingKeepsTheDocumentAsItWas) {
  MergeOptions ask;
  ask.sizeRule = 32 | 4;
  Chooser chooser;
  chooser.size = {MergeChooser::Size::Cancel, false};
  auto target = frames(2, 10, 10, "old");
  auto src = frames(1, 20, 20, "new");
  EXPECT_EQ(insertAnimations(*target, src, 1, &chooser, nullptr, ask), 2);
  ASSERT_TRUE(src);
  EXPECT_EQ(target->frameCount(), 2);
  EXPECT_EQ(target->width, 10);

  // The palette question cancelled after the screen grew: the size goes back.
  chooser.size = {MergeChooser::Size::Grow, false};
  ask.storedMethod = merge::Ask;
  Frame* rgb = rgbFrame(20, 20, [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 0}; });
  appendBlock(*src, std::unique_ptr<Block>(rgb));
  EXPECT_EQ(insertAnimations(*target, src, 1, &chooser, nullptr, ask), 2);
  EXPECT_EQ(target->width, 10);
  EXPECT_EQ(target->height, 10);
  EXPECT_EQ(names(*target), (std::vector<std::string>{"old 0", "old 1"}));
  ASSERT_TRUE(src);
  EXPECT_EQ(src->frameCount(), 2);
}

TEST(Insert, AnEmptyDocumentTakesTheNewSize) {
  MergeOptions clip;
  clip.sizeRule = 16;
  auto target = createAnimation();
  auto src = frames(2, 24, 12, "new");
  ASSERT_EQ(insertAnimations(*target, src, -1, nullptr, nullptr, clip), 1);
  EXPECT_EQ(target->width, 24);
  EXPECT_EQ(target->height, 12);
  EXPECT_EQ(target->frameCount(), 2);
  ASSERT_TRUE(target->globalPalette);
}

}  // namespace
