// The reduce-colours command on whole animations.
#include "imaging/reduce.h"

#include <gtest/gtest.h>

#include "imaging/dither.h"
#include "imaging/imaging_util.h"
#include "base/progress.h"
#include "base/reporter.h"

using namespace fb;
using namespace fbtest;

namespace {

// 32 × 8 frame using every index of a 256-colour global palette once.
std::unique_ptr<Animation> fullPaletteAnimation() {
  return animationOf(32, 8, spreadColours(256),
                     {indexedFrame(32, 8, [](int x, int y) { return y * 32 + x; })});
}

TEST(Reduce, EntryCountsFollowTheBlackEntryRule) {
  RecordingReporter rec;
  ScopedReporter quiet(rec);
  struct Case {
    int asked, entries;
  } cases[] = {{100, 101}, {64, 64}, {16, 16}, {2, 3}, {6, 7}, {300, 256}, {1, 3}};
  for (const Case& c : cases) {
    auto a = fullPaletteAnimation();
    int result = reducePalettes(*a, c.asked, false, {}, nullptr);
    if (c.asked >= 256) {
      // Clamped to 256: the palette is not larger, nothing to do.
      EXPECT_EQ(result, 1);
      EXPECT_EQ(a->globalPalette->count, 256);
      continue;
    }
    ASSERT_EQ(result, 1) << c.asked;
    EXPECT_EQ(a->globalPalette->count, c.entries) << c.asked;
    EXPECT_EQ((*a->globalPalette)[c.entries - 1], (Rgb{0, 0, 0})) << "the black entry";
    Frame* f = firstFrame(*a);
    EXPECT_EQ(f->palette(), a->globalPalette.get());
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_LT(f->dib->row(y)[x], c.entries - 1);
  }
  EXPECT_EQ(clampColourCount(300), 256);
  EXPECT_EQ(clampColourCount(1), 2);
  EXPECT_EQ(clampColourCount(-5), 2);
  EXPECT_EQ(clampColourCount(77), 77);
}

TEST(Reduce, TransparentFramesKeepTransparencyOnTheBlackEntry) {
  auto a = fullPaletteAnimation();
  Frame* f = firstFrame(*a);
  makeTransparent(*f, 40);
  Frame* g = indexedFrame(32, 8, [](int x, int) { return x; });  // opaque frame
  a->insertAfterBlock(f, BlockPtr(g));
  refreshFrameColours(*g, a->globalPalette.get());
  a->backgroundIndex = 255;
  Rgb oldBackground = (*a->globalPalette)[255];

  ASSERT_EQ(reducePalettes(*a, 32, false, {}, nullptr), 1);
  // 31 colours, then the black transparent entry.
  ASSERT_EQ(a->globalPalette->count, 32);
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->transparentIndex, 31);
  EXPECT_EQ(f->dib->row(1)[8], 31);  // former index 40
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; ++x) {
      if (y * 32 + x != 40) {
        EXPECT_LT(f->dib->row(y)[x], 31);
      }
    }
  EXPECT_FALSE(g->transparent());
  EXPECT_EQ(g->palette(), a->globalPalette.get());
  EXPECT_TRUE(f->mask && f->mask->transparentAt(8, 1));
  // Background: the entry nearest the old background colour.
  Rgb bg = (*a->globalPalette)[a->backgroundIndex];
  int d = (bg.r - oldBackground.r) * (bg.r - oldBackground.r) +
          (bg.g - oldBackground.g) * (bg.g - oldBackground.g) +
          (bg.b - oldBackground.b) * (bg.b - oldBackground.b);
  for (int i = 0; i < 32; ++i) {
    Rgb c = (*a->globalPalette)[i];
    int e = (c.r - oldBackground.r) * (c.r - oldBackground.r) +
            (c.g - oldBackground.g) * (c.g - oldBackground.g) +
            (c.b - oldBackground.b) * (c.b - oldBackground.b);
    EXPECT_GE(e, d);
  }
  // Usage recounted for the new palette.
  int64_t total = 0;
  for (int i = 0; i < 256; ++i) total += a->colourUsage[size_t(i)];
  EXPECT_EQ(total, 2 * 32 * 8);
  EXPECT_EQ(a->colourUsage[31], 1);
}

TEST(Reduce, NearestMappingOfAFewColoursIsExact) {
  // A 16-entry palette of which the frame uses 4 far-apart colours: reducing
  // to 8 keeps them (median cut works on 6-bit cells; these are on cell edges).
  std::vector<Rgb> pal(16, Rgb{});
  pal[0] = {0, 0, 0};
  pal[3] = {255, 0, 0};
  pal[7] = {0, 255, 0};
  pal[12] = {255, 255, 255};
  for (int i : {1, 2, 4, 5, 6, 8, 9, 10, 11, 13, 14, 15})
    pal[size_t(i)] = Rgb{uint8_t(i * 9), 40, 90};
  auto a = animationOf(4, 1, pal, {indexedFrame(4, 1, [](int x, int) {
                         return (int[]){0, 3, 7, 12}[x];
                       })});
  ASSERT_EQ(reducePalettes(*a, 8, false, {}, nullptr), 1);
  Frame* f = firstFrame(*a);
  EXPECT_EQ(shownAt(*f, 0, 0).rgb, (Rgb{0, 0, 0}));
  EXPECT_EQ(shownAt(*f, 1, 0).rgb, (Rgb{255, 0, 0}));
  EXPECT_EQ(shownAt(*f, 2, 0).rgb, (Rgb{0, 255, 0}));
  EXPECT_EQ(shownAt(*f, 3, 0).rgb, (Rgb{255, 255, 255}));
}

TEST(Reduce, ColoursThatAlreadyFitAreKeptExactlyByEveryEngine) {
  // A few odd colours (off the 6-bit cells the median cut works on) in use of
  // a 256-entry palette, as in a screen recording: reduced to N at least their
  // number, dithered or not, every pixel shows its colour as before.
  const std::vector<Rgb> odd = {{201, 17, 99}, {3, 250, 129}, {77, 77, 78}, {254, 1, 2},
                                {10, 20, 30},  {31, 41, 59},  {99, 98, 97}, {130, 131, 133}};
  auto recording = [&](int used, bool transparent) {
    std::vector<Rgb> pal = spreadColours(256);
    for (int i = 0; i < used; ++i) pal[size_t(40 + i)] = odd[size_t(i)];
    auto a = animationOf(16, 4, pal, {indexedFrame(16, 4, [&](int x, int y) {
                           return (x + y) % 5 == 4 && transparent ? 200 : 40 + (x * 3 + y) % used;
                         })});
    if (transparent) makeTransparent(*firstFrame(*a), 200);
    return a;
  };
  struct Case {
    int used, n;
    bool dither, transparent, locked;
  } cases[] = {{4, 64, true, false, false}, {4, 64, false, false, false},
               {8, 8, true, false, false},  {7, 8, true, true, false},
               {4, 16, true, false, true},  {8, 8, false, false, false}};
  for (const Case& c : cases) {
    auto a = recording(c.used, c.transparent);
    auto before = firstFrame(*a);
    std::vector<Shown> shown;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 16; ++x) shown.push_back(shownAt(*before, x, y));
    std::vector<Rgb> locked;
    if (c.locked) locked = {{1, 2, 3}};
    ASSERT_EQ(reducePalettes(*a, c.n, c.dither, locked, nullptr), 1);
    EXPECT_LE(a->globalPalette->count, c.n);
    Frame* f = firstFrame(*a);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 16; ++x) {
        Shown now = shownAt(*f, x, y), was = shown[size_t(y * 16 + x)];
        ASSERT_EQ(now.opaque, was.opaque) << c.used << " in " << c.n;
        if (was.opaque) {
          ASSERT_EQ(now.rgb, was.rgb) << c.used << " in " << c.n << (c.dither ? " dithered" : "");
        }
      }
    if (c.locked) {
      bool found = false;
      for (int i = 0; i < a->globalPalette->count; ++i)
        found |= (*a->globalPalette)[i] == locked[0];
      EXPECT_TRUE(found) << "a locked colour is kept too";
    }
  }

  // A local palette the same way.
  auto a = animationOf(8, 1, {}, {});
  Frame* f = indexedFrame(8, 1, [](int x, int) { return 10 + x % 3; });
  std::vector<Rgb> local = spreadColours(40);
  for (int i = 0; i < 3; ++i) local[size_t(10 + i)] = odd[size_t(i)];
  setLocalPalette(*f, makePalette(local.data(), 40));
  appendBlock(*a, std::unique_ptr<Block>(f));
  refreshFrameColours(*f, nullptr);
  ASSERT_EQ(reducePalettes(*a, 8, true, {}, nullptr), 1);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(shownAt(*f, x, 0).rgb, odd[size_t(x % 3)]);
}

TEST(Reduce, LocalPalettesReducedPaddedAndGivenATransparentEntry) {
  auto a = animationOf(16, 16, {}, {});
  Frame* f = indexedFrame(16, 16, [](int x, int y) { return y * 16 + x; });
  setLocalPalette(*f, makePalette(spreadColours(256).data(), 256));
  makeTransparent(*f, 0);
  Frame* small = indexedFrame(4, 1, [](int x, int) { return x; });
  std::vector<Rgb> four = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
  setLocalPalette(*small, makePalette(four.data(), 4));
  // Three colours in 40 entries: reduced to 16, padded.
  Frame* padded = indexedFrame(3, 1, [](int x, int) { return x; });
  std::vector<Rgb> forty(40, Rgb{9, 9, 9});
  forty[0] = {255, 0, 0};
  forty[1] = {0, 255, 0};
  forty[2] = {0, 0, 255};
  setLocalPalette(*padded, makePalette(forty.data(), 40));
  for (Frame* x : {f, small, padded}) appendBlock(*a, std::unique_ptr<Block>(x));
  for (Frame* x : {f, small, padded}) refreshFrameColours(*x, nullptr);

  RecordingProgress progress;
  ASSERT_EQ(reducePalettes(*a, 16, false, {}, &progress), 1);
  ASSERT_EQ(f->localPalette->count, 16);  // 15 colours and the transparent entry
  EXPECT_EQ(f->transparentIndex, 15);
  EXPECT_EQ((*f->localPalette)[15], (Rgb{0, 0, 0}));
  EXPECT_EQ(f->dib->row(0)[0], 15);
  EXPECT_EQ(f->palette(), f->localPalette.get());
  EXPECT_EQ(small->localPalette->count, 4) << "palettes within the count are left alone";
  ASSERT_EQ(padded->localPalette->count, 16);
  EXPECT_EQ((*padded->localPalette)[3], (Rgb{0, 0, 0}));
  EXPECT_EQ((*padded->localPalette)[4], (Rgb{255, 255, 255}));
  EXPECT_EQ((*padded->localPalette)[15], (Rgb{255, 255, 255}));
  EXPECT_EQ(shownAt(*padded, 0, 0).rgb, (Rgb{255, 0, 0}));
  EXPECT_EQ(shownAt(*padded, 2, 0).rgb, (Rgb{0, 0, 255}));
  EXPECT_EQ(progress.texts().back(), "正在重映局部调色板...");
}

TEST(Reduce, DitheringPicksFromTheNewPaletteAndKeepsTransparency) {
  // A smooth 256-step ramp through the global palette.
  std::vector<Rgb> ramp;
  for (int i = 0; i < 256; ++i) ramp.push_back(Rgb{uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)});
  auto a = animationOf(64, 16, ramp,
                       {indexedFrame(64, 16, [](int x, int y) { return (x * 4 + y) & 255; })});
  Frame* f = firstFrame(*a);
  makeTransparent(*f, 5);
  RecordingProgress progress;
  ASSERT_EQ(reducePalettes(*a, 8, true, {}, &progress), 1);
  ASSERT_EQ(a->globalPalette->count, 8);
  EXPECT_EQ(f->transparentIndex, 7);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x) {
      bool wasTransparent = ((x * 4 + y) & 255) == 5;
      if (wasTransparent)
        EXPECT_EQ(f->dib->row(y)[x], 7);
      else
        EXPECT_LT(f->dib->row(y)[x], 7);
    }
  auto texts = progress.texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "正在抖动帧..."), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "正在缩减调色板..."), texts.end());
}

TEST(Reduce, LockedColoursComeOutExactly) {
  auto a = fullPaletteAnimation();
  std::vector<Rgb> locked = {{1, 2, 3}, {250, 128, 7}};
  ASSERT_EQ(reducePalettes(*a, 16, false, locked, nullptr), 1);
  const Palette& p = *a->globalPalette;
  for (Rgb c : locked) {
    bool found = false;
    for (int i = 0; i < p.count; ++i) found |= p[i] == c;
    EXPECT_TRUE(found) << int(c.r);
  }
  EXPECT_LE(p.count, 16);
}

TEST(Reduce, TinyPalettesAreRefused) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  auto a = animationOf(2, 1, {{0, 0, 0}, {255, 255, 255}},
                       {indexedFrame(2, 1, [](int x, int) { return x; })});
  EXPECT_EQ(reducePalettes(*a, 2, false, {}, nullptr), 0);
  ASSERT_EQ(rec.entries().size(), 1u);
  EXPECT_EQ(rec.entries()[0].caption, "Non-reducible Palette");
  EXPECT_EQ(rec.entries()[0].text,
            "The animation's palette contains 8 or fewer colors and cannot be further reduced.");
  EXPECT_EQ(a->globalPalette->count, 2);
}

TEST(Reduce, DitherFramesIntoANewGlobalPalette) {
  // A 24-bit frame and a transparent 8-bit frame into black and white, with
  // the transparent index inside the palette: no opaque pixel may take it.
  auto a = fullPaletteAnimation();
  makeTransparent(*firstFrame(*a), 3);
  Frame* rgb = rgbFrame(
      32, 8,
      [](int x, int) {
        return Rgb{uint8_t(x * 8), uint8_t(x * 8), uint8_t(x * 8)};
      },
      [](int x, int) { return x < 2 ? 0 : 255; });
  a->insertAfterBlock(firstFrame(*a), BlockPtr(rgb));
  std::vector<Rgb> bw = {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}};
  Palette p = *makePalette(bw.data(), 3);
  ASSERT_EQ(ditherFrames(*a, p, 2, nullptr), 1);
  EXPECT_TRUE(*a->globalPalette == p);
  for (Frame* f : {firstFrame(*a), rgb}) {
    ASSERT_TRUE(f->transparent());
    EXPECT_EQ(f->transparentIndex, 2);
    EXPECT_EQ(f->palette(), a->globalPalette.get());
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; ++x) {
      EXPECT_EQ(firstFrame(*a)->dib->row(y)[x] == 2, y * 32 + x == 3);
      EXPECT_EQ(rgb->dib->row(y)[x] == 2, x < 2);
    }
}

TEST(Reduce, CancelChangesNothing) {
  auto a = fullPaletteAnimation();
  Palette before = *a->globalPalette;
  std::vector<uint8_t> pixels = firstFrame(*a)->dib->data;
  RecordingProgress progress;
  progress.cancelAfter(3);
  EXPECT_EQ(reducePalettes(*a, 16, true, {}, &progress), 2);
  EXPECT_TRUE(*a->globalPalette == before);
  EXPECT_EQ(firstFrame(*a)->dib->data, pixels);
}

}  // namespace
