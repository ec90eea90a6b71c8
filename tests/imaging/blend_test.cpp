// Blending one animation into another, and the palette editor's operations.
#include "imaging/blend.h"

#include <gtest/gtest.h>

#include <numeric>

#include "base/reporter.h"
#include "imaging/imaging_util.h"
#include "imaging/palette_edit.h"
#include "testutil.h"

using namespace fb;
using namespace fbtest;

namespace {

std::vector<std::tuple<int, int, int>> steps(const std::vector<int32_t>& a,
                                             const std::vector<int32_t>& b, bool byTime,
                                             bool loop) {
  BlendOptions o;
  o.byTime = byTime;
  o.loopShorter = loop;
  std::vector<BlendStep> out;
  EXPECT_TRUE(blendTimeline(a, b, o, 1000, out));
  std::vector<std::tuple<int, int, int>> t;
  for (const BlendStep& s : out) t.emplace_back(s.a, s.b, s.delay);
  return t;
}

using Steps = std::vector<std::tuple<int, int, int>>;

TEST(Blend, FrameByFramePairsPicturesOverTheLongerRunningTime) {
  EXPECT_EQ(steps({10, 20, 30}, {5, 5}, false, true), (Steps{{0, 0, 10}, {1, 1, 20}, {2, 0, 30}}));
  EXPECT_EQ(steps({10, 20, 30}, {5, 5}, false, false), (Steps{{0, 0, 10}, {1, 1, 20}, {2, 1, 30}}));
  // The other has more frames but runs shorter (6 ticks against 7): its
  // delays stretch to 7, the spare tick to the largest remainder.
  EXPECT_EQ(steps({7}, {1, 2, 3}, false, true), (Steps{{0, 0, 1}, {0, 1, 2}, {0, 2, 4}}));
  auto delays = [](const Steps& s) {
    std::vector<int> d;
    for (const auto& step : s) d.push_back(std::get<2>(step));
    return d;
  };
  // 50 ticks over three equal delays: the spare ticks go to the earliest.
  EXPECT_EQ(delays(steps({10, 10, 10}, {50}, false, true)), (std::vector<int>{17, 17, 16}));
  // Delays that are all 0 share the time evenly.
  EXPECT_EQ(delays(steps({0, 0, 0, 0}, {6}, false, false)), (std::vector<int>{2, 2, 1, 1}));
  // No delay grows beyond the largest either animation has: the rest moves on.
  EXPECT_EQ(delays(steps({100, 0, 0}, {65535, 65535}, false, true)),
            (std::vector<int>{65535, 65535, 0}));
}

TEST(Blend, ByTimeChangesWheneverEitherDoesOverTheLongerRunningTime) {
  // 30 ticks against a 10-tick loop: a change every 5 ticks.
  Steps looped = steps({10, 10, 10}, {5, 5}, true, true);
  EXPECT_EQ(looped, (Steps{{0, 0, 5}, {0, 1, 5}, {1, 0, 5}, {1, 1, 5}, {2, 0, 5}, {2, 1, 5}}));
  // Not looped, the short one holds its last picture.
  EXPECT_EQ(steps({10, 10, 10}, {5, 5}, true, false),
            (Steps{{0, 0, 5}, {0, 1, 5}, {1, 1, 10}, {2, 1, 10}}));
  // A loop that does not divide the longer time is cut at its end; the
  // longer one may be the other.
  Steps cut = steps({4, 3}, {10, 5}, true, true);
  int total = 0;
  for (auto& s : cut) total += std::get<2>(s);
  EXPECT_EQ(total, 15);
  EXPECT_EQ(cut, (Steps{{0, 0, 4}, {1, 0, 3}, {0, 0, 3}, {0, 1, 1}, {1, 1, 3}, {0, 1, 1}}));
  // Zero delays: a picture that lasts no time is never seen; an animation
  // with no running time shows its last picture.
  EXPECT_EQ(steps({0, 10}, {0, 0}, true, true), (Steps{{1, 1, 10}}));
  // A result longer than allowed is refused.
  std::vector<BlendStep> out;
  BlendOptions o;
  o.byTime = true;
  EXPECT_FALSE(blendTimeline({60000}, {1}, o, 1000, out));
}

// 4 × 2 screens. `a`: red then green, full frames, 10 and 30 ticks. `b`: one
// blue 2 × 2 frame whose right column is transparent, 5 ticks.
TEST(Blend, BlendedPicturesShowTheOtherOverThisOne) {
  const std::vector<Rgb> pal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  Frame* red = indexedFrame(4, 2, [](int, int) { return 0; });
  red->delay = 10;
  Frame* green = indexedFrame(4, 2, [](int, int) { return 1; });
  green->delay = 30;
  auto a = animationOf(4, 2, pal, {red, green});
  Block* comment = appendBlock(*a, newBlock(kCommentTag, 0));
  setCommentText(comment, "kept");
  Frame* blue = indexedFrame(2, 2, [](int x, int) { return x == 0 ? 2 : 3; });
  blue->delay = 5;
  auto b = animationOf(2, 2, pal, {blue});
  makeTransparent(*blue, 3);

  for (bool byTime : {false, true}) {
    auto doc = animationOf(4, 2, pal, {});
    for (int i = 0; i < 2; ++i) appendBlock(*doc, duplicateBlock(a->frame(i)));
    appendBlock(*doc, duplicateBlock(comment));
    BlendOptions o;
    o.byTime = byTime;
    o.loopShorter = true;
    ASSERT_EQ(blendAnimation(*doc, *b, o, nullptr, nullptr), 1);
    EXPECT_EQ(totalDelay(*doc), 40) << "the longer running time";
    EXPECT_EQ(doc->frameCount(), byTime ? 8 : 2);
    std::vector<Picture> pics = visiblePictures(*doc);
    for (size_t i = 0; i < pics.size(); ++i) {
      const uint8_t* px = pics[i].data();
      // Green from tick 10 on: the second picture by frame, the third by time.
      Rgb under = (byTime ? i >= 2 : i >= 1) ? Rgb{0, 255, 0} : Rgb{255, 0, 0};
      EXPECT_EQ((Rgb{px[0], px[1], px[2]}), (Rgb{0, 0, 255})) << "blue over, picture " << i;
      EXPECT_EQ((Rgb{px[4], px[5], px[6]}), under) << "through the hole, picture " << i;
      EXPECT_EQ((Rgb{px[12], px[13], px[14]}), under) << "beyond the other's screen";
    }
    std::string text;
    ASSERT_TRUE(commentText(doc->head->next, text));
    EXPECT_EQ(text, "kept") << "extension blocks stay, before the frames";
  }

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto empty = createAnimation();
  std::string before = digest(*a);
  EXPECT_EQ(blendAnimation(*a, *empty, {}, nullptr, nullptr), 0);
  EXPECT_TRUE(rec.contains("The animation to blend in has no frames."));
  EXPECT_TRUE(digest(*a) == before);
}

// ---- Palette editor ----

// Indices 0..5 over a 6-entry palette with a repeated colour (entries 1 and 4
// are both red, 2 and 5 both black); frame 1 is transparent at 5.
std::unique_ptr<Animation> paletteSample() {
  const std::vector<Rgb> pal = {{1, 1, 1},   {255, 0, 0}, {0, 0, 0},
                                {0, 0, 200}, {255, 0, 0}, {0, 0, 0}};
  Frame* f = indexedFrame(6, 2, [](int x, int) { return x; });
  Frame* g = indexedFrame(6, 2, [](int x, int y) { return (x + y) % 6; });
  auto a = animationOf(6, 2, pal, {f, g});
  makeTransparent(*g, 5);
  a->backgroundIndex = 4;
  return a;
}

TEST(PaletteEdit, ReorderAndMergeKeepWhatEveryFrameShows) {
  auto a = paletteSample();
  std::vector<Picture> before = visiblePictures(*a);
  ASSERT_TRUE(reorderPalette(*a, PaletteTarget::global(), {5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(visiblePictures(*a), before);
  EXPECT_EQ(a->frame(0)->dib->row(0)[0], 5);
  EXPECT_EQ(a->frame(1)->transparentIndex, 0);
  EXPECT_EQ(a->backgroundIndex, 1);

  auto b = paletteSample();
  int removed = -1;
  ASSERT_TRUE(mergeDuplicateColours(*b, PaletteTarget::global(), &removed));
  // The reds merge; the blacks do not: entry 5 is frame 1's transparent index.
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(b->globalPalette->count, 5);
  EXPECT_EQ(visiblePictures(*b), before);
  EXPECT_EQ(b->frame(0)->dib->row(0)[4], 1);
  EXPECT_EQ(b->frame(1)->transparentIndex, 4);
  EXPECT_EQ(b->backgroundIndex, 1);
  EXPECT_EQ(b->screenFlags & 7, colourBits(5) - 1);

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  std::string s = digest(*a);
  EXPECT_FALSE(reorderPalette(*a, PaletteTarget::global(), {0, 1, 2, 3, 4, 4}));
  EXPECT_FALSE(reorderPalette(*a, PaletteTarget::local(0), {0}));
  EXPECT_FALSE(setPaletteEntries(*a, PaletteTarget::global(), 250, std::vector<Rgb>(7)));
  EXPECT_TRUE(digest(*a) == s);
  EXPECT_TRUE(rec.contains("The new order must name every entry of the palette once."));
  EXPECT_TRUE(rec.contains("The frame has no local palette."));
  EXPECT_TRUE(
      rec.contains("A palette holds entries 0 to 255: 7 colours from entry 250 do not fit."));
}

TEST(PaletteEdit, SettingAndLoadingColoursKeepEveryPixelsEntry) {
  auto a = paletteSample();
  ASSERT_TRUE(setPaletteEntries(*a, PaletteTarget::global(), 6, {{7, 7, 7}, {8, 8, 8}}));
  EXPECT_EQ(a->globalPalette->count, 8);
  EXPECT_EQ(a->frame(0)->dib->colours[7], (Rgb{8, 8, 8}));
  // Loading three colours: the frames use entries up to 5, which stay.
  ASSERT_TRUE(
      replacePaletteColours(*a, PaletteTarget::global(), {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
  EXPECT_EQ(a->globalPalette->count, 6);
  EXPECT_EQ((*a->globalPalette)[2], (Rgb{7, 8, 9}));
  EXPECT_EQ((*a->globalPalette)[3], (Rgb{0, 0, 200}));
  // A palette larger than what is used shrinks to the file's colours.
  auto b = animationOf(2, 1, spreadColours(16), {indexedFrame(2, 1, [](int x, int) { return x; })});
  b->backgroundIndex = 1;
  ASSERT_TRUE(replacePaletteColours(*b, PaletteTarget::global(), spreadColours(4)));
  EXPECT_EQ(b->globalPalette->count, 4);
}

}  // namespace
