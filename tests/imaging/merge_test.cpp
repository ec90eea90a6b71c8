// Palette merge: the six methods, transparency, and the method word.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "imaging/fixed_palette.h"
#include "imaging/imaging_util.h"
#include "imaging/palette_merge.h"

using namespace fb;
using namespace fbtest;

namespace {

// What a viewer sees of a frame, pixel by pixel.
std::vector<Shown> picture(const Frame& f) {
  std::vector<Shown> out;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) out.push_back(shownAt(f, x, y));
  return out;
}

bool samePicture(const std::vector<Shown>& a, const std::vector<Shown>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].opaque != b[i].opaque || (a[i].opaque && !(a[i].rgb == b[i].rgb))) return false;
  return true;
}

// A 24-bit picture: 20 flat colours in bands, the left column transparent.
Rgb bandColour(int x, int y) {
  return Rgb{uint8_t(x * 12), uint8_t(200 - y * 9), uint8_t(7 + x * 3)};
}
Frame* bandsFrame(int w = 20, int h = 10) {
  return rgbFrame(
      w, h, [](int x, int) { return bandColour(x, 0); },
      [](int x, int) { return x == 0 ? 0 : 255; });
}

// The expected look of `bandsFrame`.
std::vector<Shown> bandsPicture(int w = 20, int h = 10) {
  std::vector<Shown> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out.push_back(x == 0 ? Shown{Rgb{}, false} : Shown{bandColour(x, 0), true});
  return out;
}

// A smooth true-colour picture with thousands of colours.
Rgb photoColour(int x, int y) {
  return Rgb{uint8_t(x * 4), uint8_t(y * 5), uint8_t(x * y / 12)};
}
Frame* photoFrame(int w, int h, bool withAlpha = false) {
  return rgbFrame(
      w, h, photoColour,
      withAlpha ? std::function<int(int, int)>([](int x, int y) { return x + y < 6 ? 0 : 255; })
                : nullptr);
}


// An 8-bit target: 16-entry grey palette, one 20 × 10 frame using 4 greys.
std::unique_ptr<Animation> greyTarget() {
  std::vector<Rgb> greys;
  for (int i = 0; i < 16; ++i)
    greys.push_back(Rgb{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)});
  return animationOf(20, 10, greys,
                     {indexedFrame(20, 10, [](int x, int y) { return (x + y) % 4 * 5; })});
}

std::unique_ptr<Animation> sourceOf(std::vector<Frame*> frames, std::vector<Rgb> palette = {}) {
  return animationOf(frames.empty() ? 0 : frames[0]->width, frames.empty() ? 0 : frames[0]->height,
                     palette, frames);
}

class Chooser : public MergeChooser {
 public:
  MethodChoice method;
  SizeChoice size;
  int methodAsked = 0, sizeAsked = 0;
  uint32_t suggested = 0;
  bool suggestedGrow = false;
  MethodChoice chooseMergeMethod(uint32_t s) override {
    ++methodAsked;
    suggested = s;
    return method;
  }
  SizeChoice chooseSizeConflict(bool grow) override {
    ++sizeAsked;
    suggestedGrow = grow;
    return size;
  }
};

// ---- The method word ----

TEST(MergeWord, MethodBitsCountsAndCube) {
  EXPECT_EQ(methodOf(0x880001), merge::Adaptive);
  EXPECT_EQ(methodOf(0x1100 | merge::Cube), merge::Cube);
  EXPECT_EQ(methodOf(merge::Fixed | merge::LocalPerFrame), merge::Fixed);
  EXPECT_EQ(methodOf(0x100), 0u);
  EXPECT_EQ(adaptiveColourCount(0x880001), 256);
  EXPECT_EQ(adaptiveColourCount(0x840001), 16);
  EXPECT_EQ(adaptiveColourCount(0x830001), 8);
  EXPECT_EQ(adaptiveColourCount(0x820001), 256);  // 2 or less means 8 bits
  EXPECT_EQ(adaptiveColourCount(0x000001), 256);
  EXPECT_EQ(localColourCount(0x560010), 32);
  auto cube = cubePalette();
  ASSERT_EQ(cube->count, 256);
  EXPECT_EQ((*cube)[0], (Rgb{0, 0, 0}));
  EXPECT_EQ((*cube)[1 * 36 + 2 * 6 + 3], (Rgb{51, 102, 153}));
  EXPECT_EQ((*cube)[215], (Rgb{255, 255, 255}));
  for (int i = 216; i < 256; ++i) EXPECT_EQ((*cube)[i], (Rgb{0, 0, 0}));
}

TEST(MergeWord, ResolvingAsksOnlyWhenTheWordSays) {
  Chooser chooser;
  chooser.method = {true, merge::Cube | merge::Dither, false};
  MergeOptions stored;
  EXPECT_EQ(resolveMergeMethod(merge::MapGlobal, stored, &chooser), merge::MapGlobal);
  EXPECT_EQ(resolveMergeMethod(0, stored, &chooser), 0x880001u);  // stored default, no question
  EXPECT_EQ(chooser.methodAsked, 0);

  stored.storedMethod = 0x460000 | merge::Ask | merge::Dither | merge::MergeGlobal;
  EXPECT_EQ(resolveMergeMethod(0, stored, &chooser), merge::Cube | merge::Dither);
  EXPECT_EQ(chooser.methodAsked, 1);
  EXPECT_EQ(chooser.suggested, stored.storedMethod);
  // Without a window: the recommended adaptive method, stored dither and counts kept.
  EXPECT_EQ(resolveMergeMethod(0, stored, nullptr), 0x460000u | merge::Dither | merge::Adaptive);
  // Cancel.
  stored.storedMethod = merge::Ask;
  chooser.method.accepted = false;
  EXPECT_EQ(resolveMergeMethod(0, stored, &chooser), 0u);
}

TEST(MergeWord, FixedPaletteRecordLayout) {
  Palette p;
  p.count = 3;
  p[0] = {1, 2, 3};
  p[1] = {250, 251, 252};
  p[2] = {9, 8, 7};
  auto bytes = std::optional<std::vector<uint8_t>>(fixedPaletteRecord(p));
  ASSERT_EQ(bytes->size(), 1028u);
  EXPECT_EQ((*bytes)[0], 0x00);
  EXPECT_EQ((*bytes)[1], 0x03);
  EXPECT_EQ((*bytes)[2], 3);
  EXPECT_EQ((*bytes)[3], 0);
  EXPECT_EQ((*bytes)[8], 250);
  EXPECT_EQ((*bytes)[11], 0);  // flags
  auto back = parseFixedPaletteRecord(*bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == p);
  EXPECT_FALSE(parseFixedPaletteRecord({0, 3, 5, 0, 1, 2, 3, 0}));  // 5 entries promised, 1 held
  EXPECT_FALSE(parseFixedPaletteRecord({0, 3, 0, 0}));
}

// ---- Adaptive ----

TEST(MergeAdaptive, ColoursThatFitAreKeptExactly) {
  auto target = greyTarget();
  Frame* old = firstFrame(*target);
  auto before = picture(*old);
  std::vector<uint8_t> oldIndices = old->dib->data;
  auto src = sourceOf({bandsFrame()});
  ASSERT_EQ(mergePalettes(target.get(), *src, 0, nullptr, nullptr), 1);
  ASSERT_EQ(target->frameCount(), 2);
  Frame* added = frameAt(*target, 1);
  EXPECT_TRUE(samePicture(picture(*added), bandsPicture()));
  EXPECT_TRUE(added->transparent());
  // The target's frame keeps its colours and even its indices.
  EXPECT_TRUE(samePicture(picture(*old), before));
  EXPECT_EQ(old->dib->data, oldIndices);
  EXPECT_EQ(added->palette(), target->globalPalette.get());
  EXPECT_FALSE(added->hasRgb()) << "24-bit data goes once mapped";
  EXPECT_EQ(src->frameCount(), 0);
  EXPECT_EQ(firstFrame(*src), nullptr);
  // 4 greys used + 19 opaque band colours + transparent entry: reused free
  // grey entries, then appended.
  EXPECT_LE(target->globalPalette->count, 24);
}

TEST(MergeAdaptive, EqualPalettesChangeNothing) {
  auto target = greyTarget();
  const Palette* global = target->globalPalette.get();
  std::vector<Rgb> same(global->entries.begin(), global->entries.begin() + global->count);
  auto src = sourceOf({indexedFrame(20, 10, [](int x, int) { return x % 16; })}, same);
  std::vector<uint8_t> pixels = firstFrame(*src)->dib->data;
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::Adaptive | merge::Always, nullptr, nullptr),
            1);
  EXPECT_EQ(target->globalPalette.get(), global) << "the very same palette";
  EXPECT_EQ(frameAt(*target, 1)->dib->data, pixels);
  EXPECT_EQ(frameAt(*target, 1)->palette(), global);
}

TEST(MergeAdaptive, TooManyColoursGoThroughTheOctree) {
  auto target = greyTarget();
  auto src = sourceOf({photoFrame(64, 48, true)});
  ASSERT_EQ(mergePalettes(target.get(), *src, 0, nullptr, nullptr), 1);
  Frame* added = frameAt(*target, 1);
  EXPECT_EQ(target->globalPalette->count, 256);
  ASSERT_TRUE(added->transparent());
  EXPECT_EQ(added->transparentIndex, 255) << "the reserved entry ends the palette";
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(!shownAt(*added, x, y).opaque, x + y < 6);
  EXPECT_GT(psnr(*added, photoColour), 33);
  // The old frame's greys are among the octree's inputs and stay close.
  EXPECT_GT(psnr(*firstFrame(*target),
                 [](int x, int y) {
                   uint8_t v = uint8_t((x + y) % 4 * 5 * 17);
                   return Rgb{v, v, v};
                 }),
            35);
}

TEST(MergeAdaptive, ColourCountFromTheWordAndDithering) {
  for (uint32_t dither : {0u, merge::Dither}) {
    auto target = createAnimation();
    target->width = 64;
    target->height = 48;
    auto src = sourceOf({photoFrame(64, 48)});
    ASSERT_EQ(mergePalettes(target.get(), *src, 0x840001 | dither, nullptr, nullptr), 1);
    ASSERT_TRUE(target->globalPalette);
    EXPECT_LE(target->globalPalette->count, 16);
    Frame* f = firstFrame(*target);
    std::set<int> used;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) used.insert(f->dib->row(y)[x]);
    EXPECT_GE(used.size(), 8u);
    EXPECT_FALSE(f->transparent());
    EXPECT_GT(psnr(*f, photoColour), 18);  // 16 octree colours for a 3-D gradient
  }
}

TEST(MergeAdaptive, OptimizerStyleForcedMergeOfLocalPalettes) {
  // Two frames on different local palettes, 8 colours in all: with 0x1000 the
  // adaptive method takes them in and keeps every colour exactly.
  auto a = animationOf(8, 1, {}, {});
  Frame* f1 = indexedFrame(8, 1, [](int x, int) { return x % 4; });
  Frame* f2 = indexedFrame(8, 1, [](int x, int) { return 3 - x % 4; });
  std::vector<Rgb> p1 = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  std::vector<Rgb> p2 = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {9, 9, 9}};
  setLocalPalette(*f1, makePalette(p1.data(), 4));
  setLocalPalette(*f2, makePalette(p2.data(), 4));
  makeTransparent(*f2, 1);
  appendBlock(*a, std::unique_ptr<Block>(f1));
  appendBlock(*a, std::unique_ptr<Block>(f2));
  refreshFrameColours(*f1, nullptr);
  refreshFrameColours(*f2, nullptr);
  auto before1 = picture(*f1), before2 = picture(*f2);

  // Without 0x1000 and without 24-bit data nothing happens.
  ASSERT_EQ(mergePalettes(nullptr, *a, merge::Adaptive, nullptr, nullptr), 1);
  EXPECT_TRUE(f1->localPalette && f2->localPalette);

  ASSERT_EQ(mergePalettes(nullptr, *a, merge::Adaptive | merge::Always, nullptr, nullptr), 1);
  EXPECT_FALSE(f1->localPalette);
  EXPECT_FALSE(f2->localPalette);
  ASSERT_TRUE(a->globalPalette);
  EXPECT_LE(a->globalPalette->count, 8);  // 7 distinct colours and a transparent entry
  EXPECT_TRUE(samePicture(picture(*f1), before1));
  EXPECT_TRUE(samePicture(picture(*f2), before2));
  EXPECT_EQ(f1->imageFlags & 0x80, 0);
}

// ---- Merge into the global palette ----

TEST(MergeGlobal, NewColoursTakeUnusedEntriesThenNewOnes) {
  auto target = greyTarget();   // uses 0, 5, 10, 15
  target->backgroundIndex = 1;  // protected although no pixel uses it
  Frame* old = firstFrame(*target);
  auto before = picture(*old);
  std::vector<uint8_t> oldIndices = old->dib->data;
  std::vector<Rgb> pal = {{10, 20, 30}, {68, 68, 68}, {40, 50, 60}};  // 68 is grey entry 4
  auto src = sourceOf({indexedFrame(20, 10, [](int x, int) { return x % 3; })}, pal);
  // 8-bit frames only: the method works with 0x1000.
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::MergeGlobal | merge::Always, nullptr, nullptr),
            1);
  const Palette& g = *target->globalPalette;
  EXPECT_EQ(g.count, 16);
  EXPECT_EQ(g[1], (Rgb{17, 17, 17})) << "the background entry";
  EXPECT_EQ(g[2], (Rgb{10, 20, 30}));
  EXPECT_EQ(g[4], (Rgb{68, 68, 68})) << "an exact match is reused";
  EXPECT_EQ(g[3], (Rgb{40, 50, 60}));
  Frame* added = frameAt(*target, 1);
  EXPECT_EQ(added->dib->row(0)[0], 2);
  EXPECT_EQ(added->dib->row(0)[1], 4);
  EXPECT_EQ(added->dib->row(0)[2], 3);
  EXPECT_EQ(old->dib->data, oldIndices);
  EXPECT_TRUE(samePicture(picture(*old), before));
}

TEST(MergeGlobal, WhatCannotBePlacedIsMappedByNearestColour) {
  // A full palette of 256 colours, all used: a new colour has nowhere to go.
  auto target = animationOf(16, 16, spreadColours(256),
                            {indexedFrame(16, 16, [](int x, int y) { return y * 16 + x; })});
  std::vector<Rgb> pal = {spreadColours(256)[7], {1, 2, 3}};
  Frame* f = indexedFrame(2, 1, [](int x, int) { return x; });
  makeTransparent(*f, 1);  // the colour that cannot be placed is the transparent one
  auto src = sourceOf({f, indexedFrame(2, 1, [](int x, int) { return x; })}, pal);
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::MergeGlobal | merge::Always, nullptr, nullptr),
            1);
  EXPECT_EQ(target->globalPalette->count, 256);
  Frame* a1 = frameAt(*target, 1);
  Frame* a2 = frameAt(*target, 2);
  EXPECT_EQ(shownAt(*a1, 0, 0).rgb, spreadColours(256)[7]);
  EXPECT_FALSE(shownAt(*a1, 1, 0).opaque);
  EXPECT_EQ(shownAt(*a2, 0, 0).rgb, spreadColours(256)[7]);
  Rgb nearest = shownAt(*a2, 1, 0).rgb;
  int best = 1 << 30;
  for (Rgb c : spreadColours(256))
    best = std::min(best, (c.r - 1) * (c.r - 1) + (c.g - 2) * (c.g - 2) + (c.b - 3) * (c.b - 3));
  EXPECT_EQ((nearest.r - 1) * (nearest.r - 1) + (nearest.g - 2) * (nearest.g - 2) +
                (nearest.b - 3) * (nearest.b - 3),
            best);
}

// ---- Map to global ----

TEST(MapGlobal, GlobalColoursStayAndNewFramesTakeTheNearest) {
  auto target = greyTarget();
  Palette before = *target->globalPalette;
  auto dist = [](Rgb a, Rgb b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
  };
  auto nearestDistance = [&](Rgb c) {
    int best = 1 << 30;
    for (int i = 0; i < before.count; ++i) best = std::min(best, dist(before[i], c));
    return best;
  };
  // An 8-bit frame: each entry goes to its nearest grey exactly.
  std::vector<Rgb> pal = {{200, 10, 10}, {10, 90, 200}, {255, 255, 250}};
  auto s8 = sourceOf({indexedFrame(3, 1, [](int x, int) { return x; })}, pal);
  auto src = sourceOf({bandsFrame()});
  src->nextAnimation = std::move(s8);
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::MapGlobal, nullptr, nullptr), 1);
  const Palette& g = *target->globalPalette;
  for (int i = 0; i < before.count; ++i) EXPECT_EQ(g[i], before[i]);
  EXPECT_LE(g.count, 16);
  Frame* eight = frameAt(*target, 2);
  for (int x = 0; x < 3; ++x)
    EXPECT_EQ(dist(shownAt(*eight, x, 0).rgb, pal[size_t(x)]), nearestDistance(pal[size_t(x)]));
  // 24-bit pixels go through the 5-bit cells: as near as the cell's centre allows.
  Frame* added = frameAt(*target, 1);
  ASSERT_TRUE(added->transparent());
  for (int x = 0; x < 20; ++x) {
    Shown s = shownAt(*added, x, 3);
    EXPECT_EQ(s.opaque, x != 0);
    if (x == 0) continue;
    Rgb c = bandColour(x, 0);
    double slack = std::sqrt(nearestDistance(c)) + 2 * std::sqrt(3.0) * 4.5;
    EXPECT_LE(dist(s.rgb, c), slack * slack);
  }
}

TEST(MapGlobal, AFullPaletteGivesEachTransparentFrameAFreeIndex) {
  auto target = animationOf(16, 16, spreadColours(256),
                            {indexedFrame(16, 16, [](int x, int y) { return y * 16 + x; })});
  auto src = sourceOf({bandsFrame()});
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::MapGlobal, nullptr, nullptr), 1);
  Frame* added = frameAt(*target, 1);
  EXPECT_TRUE(added->transparent());
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      bool transparentPixel = added->dib->row(y)[x] == added->transparentIndex;
      EXPECT_EQ(transparentPixel, x == 0);
    }
  EXPECT_EQ(target->globalPalette->count, 256);
}

// A 24-bit frame that shows every colour of a full palette, and has
// transparent pixels: its least used entry becomes the transparent index and
// those pixels take their nearest other colour; every other pixel keeps its own.
TEST(MapGlobal, AFrameUsingEveryEntryGivesUpItsLeastUsedColour) {
  const std::vector<Rgb> pal = spreadColours(256);
  // Column 0 transparent; every index once, those of column 17 twice.
  auto idx = [](int x, int y) { return x == 0 ? -1 : x == 17 ? y * 16 + 5 : y * 16 + x - 1; };
  auto dist = [](Rgb a, Rgb b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
  };
  auto src = sourceOf({rgbFrame(
      18, 16, [&](int x, int y) { return idx(x, y) < 0 ? Rgb{} : pal[size_t(idx(x, y))]; },
      [&](int x, int y) { return idx(x, y) < 0 ? 0 : 255; })});
  auto target = animationOf(18, 16, pal, {indexedFrame(18, 16, [](int x, int) { return x; })});
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::MapGlobal, nullptr, nullptr), 1);
  const Palette& g = *target->globalPalette;
  ASSERT_EQ(g.count, 256);
  Frame* f = frameAt(*target, 1);
  ASSERT_TRUE(f->transparent());
  const Rgb given = g[f->transparentIndex];
  int nearest = -1;
  for (int i = 0; i < g.count; ++i)
    if (i != f->transparentIndex && (nearest < 0 || dist(g[i], given) < dist(g[nearest], given)))
      nearest = i;
  std::vector<int> uses(256);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 18; ++x) {
      const int i = idx(x, y);
      Shown s = shownAt(*f, x, y);
      ASSERT_EQ(s.opaque, i >= 0) << x << "," << y;
      if (i < 0) continue;
      ++uses[size_t(i)];
      const Rgb c = pal[size_t(i)];
      EXPECT_EQ(s.rgb, c == given ? g[nearest] : c) << x << "," << y;
    }
  EXPECT_EQ(uses[f->transparentIndex], *std::min_element(uses.begin(), uses.end()));
}

// ---- Cube ----

TEST(MergeCube, EverythingMapsToTheCube) {
  auto target = greyTarget();
  auto src = sourceOf({rgbFrame(
      4, 1,
      [](int x, int) {
        Rgb c[] = {{51, 102, 153}, {250, 0, 0}, {0, 0, 0}, {30, 30, 30}};
        return c[x];
      },
      [](int x, int) { return x == 3 ? 10 : 255; })});
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::Cube, nullptr, nullptr), 1);
  auto cube = cubePalette();
  EXPECT_TRUE(*target->globalPalette == *cube);
  Frame* added = frameAt(*target, 1);
  EXPECT_EQ(added->dib->row(0)[0], 1 * 36 + 2 * 6 + 3);
  EXPECT_EQ(added->dib->row(0)[1], 5 * 36);
  EXPECT_EQ(added->dib->row(0)[2], 0);
  ASSERT_TRUE(added->transparent());
  EXPECT_EQ(added->transparentIndex, 216) << "the first duplicate black entry";
  EXPECT_EQ(added->dib->row(0)[3], 216);
  // The target's own frame is mapped too: its greys become cube greys.
  Frame* old = firstFrame(*target);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      Rgb c = shownAt(*old, x, y).rgb;
      EXPECT_EQ(c.r % 51, 0);
      EXPECT_EQ(c.r, c.g);
    }
}

TEST(MergeCube, DitheringMixesEntriesForAColourBetweenThem) {
  auto flat = [](int, int) { return Rgb{128, 128, 128}; };
  auto plain = createAnimation();
  auto s1 = sourceOf({rgbFrame(32, 32, flat)});
  ASSERT_EQ(mergePalettes(plain.get(), *s1, merge::Cube, nullptr, nullptr), 1);
  auto dithered = createAnimation();
  auto s2 = sourceOf({rgbFrame(32, 32, flat)});
  ASSERT_EQ(mergePalettes(dithered.get(), *s2, merge::Cube | merge::Dither, nullptr, nullptr), 1);
  std::set<int> a, b;
  double mean = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      a.insert(firstFrame(*plain)->dib->row(y)[x]);
      b.insert(firstFrame(*dithered)->dib->row(y)[x]);
      mean += shownAt(*firstFrame(*dithered), x, y).rgb.r;
    }
  EXPECT_EQ(a.size(), 1u);
  EXPECT_GE(b.size(), 2u);
  EXPECT_NEAR(mean / 1024, 128, 6);
}

// ---- Fixed ----

TEST(MergeFixed, UsesTheStoredPaletteOrFallsBackToAdaptive) {
  auto target = createAnimation();
  auto src = sourceOf({bandsFrame()});
  // Nothing stored: adaptive, colours exact.
  ASSERT_EQ(mergePalettes(target.get(), *src, merge::Fixed, nullptr, nullptr), 1);
  EXPECT_TRUE(samePicture(picture(*firstFrame(*target)), bandsPicture()));

  Palette fixed;
  fixed.count = 4;
  fixed[0] = {0, 0, 0};
  fixed[1] = {255, 255, 255};
  fixed[2] = {0, 200, 0};
  fixed[3] = {200, 0, 200};
  MergeOptions withFixed;
  withFixed.fixedPalette = copyPalette(fixed);
  auto t2 = createAnimation();
  auto s2 = sourceOf({bandsFrame()});
  ASSERT_EQ(mergePalettes(t2.get(), *s2, merge::Fixed, nullptr, nullptr, withFixed), 1);
  const Palette& g = *t2->globalPalette;
  ASSERT_EQ(g.count, 5) << "the four colours and a transparent entry";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g[i], fixed[i]);
  Frame* f = firstFrame(*t2);
  EXPECT_EQ(f->transparentIndex, 4);
  for (int x = 1; x < 20; ++x) EXPECT_LT(f->dib->row(0)[x], 4);
}

// ---- Local palette per frame ----

TEST(MergeLocal, EachTrueColourFrameGetsItsOwnPalette) {
  auto target = greyTarget();
  Palette before = *target->globalPalette;
  auto src = sourceOf({bandsFrame(), photoFrame(64, 48)});
  // Per-frame count 16 (code 4).
  ASSERT_EQ(mergePalettes(target.get(), *src, 0x400000 | merge::LocalPerFrame, nullptr, nullptr),
            1);
  EXPECT_TRUE(*target->globalPalette == before);
  Frame* bands = frameAt(*target, 1);
  Frame* photo = frameAt(*target, 2);
  ASSERT_TRUE(bands->localPalette);
  ASSERT_TRUE(photo->localPalette);
  // 20 band colours do not fit in 16: the octree makes 15 and a transparent entry.
  EXPECT_LE(bands->localPalette->count, 16);
  EXPECT_EQ(bands->transparentIndex, bands->localPalette->count - 1);
  EXPECT_LE(photo->localPalette->count, 16);
  EXPECT_FALSE(photo->transparent());
  EXPECT_EQ(photo->palette(), photo->localPalette.get());
  EXPECT_TRUE(photo->imageFlags & 0x80);

  auto t2 = greyTarget();
  auto s2 = sourceOf({bandsFrame()});
  ASSERT_EQ(mergePalettes(t2.get(), *s2, merge::LocalPerFrame, nullptr, nullptr), 1);
  Frame* exact = frameAt(*t2, 1);
  EXPECT_EQ(exact->localPalette->count, 20);  // 19 colours + transparent
  EXPECT_TRUE(samePicture(picture(*exact), bandsPicture()));
}

// ---- 8-bit frames joining ----

TEST(MergeKeep, EightBitFramesKeepTheirColours) {
  auto target = greyTarget();
  Palette before = *target->globalPalette;
  // One source on the same palette, one on another.
  std::vector<Rgb> same(before.entries.begin(), before.entries.begin() + 16);
  auto s1 = sourceOf({indexedFrame(20, 10, [](int x, int) { return x % 16; })}, same);
  auto s2 = sourceOf({indexedFrame(20, 10, [](int x, int) { return x % 3; })},
                     {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  auto p1 = picture(*firstFrame(*s1)), p2 = picture(*firstFrame(*s2));
  s1->nextAnimation = std::move(s2);
  ASSERT_EQ(mergePalettes(target.get(), *s1, 0, nullptr, nullptr), 1);
  EXPECT_EQ(target->frameCount(), 3);
  EXPECT_TRUE(*target->globalPalette == before);
  Frame* a = frameAt(*target, 1);
  Frame* b = frameAt(*target, 2);
  EXPECT_FALSE(a->localPalette);
  EXPECT_EQ(a->palette(), target->globalPalette.get());
  ASSERT_TRUE(b->localPalette);
  EXPECT_EQ(b->localPalette->count, 3);
  EXPECT_TRUE(samePicture(picture(*a), p1));
  EXPECT_TRUE(samePicture(picture(*b), p2));
  EXPECT_FALSE(s1->nextAnimation);
}

TEST(MergeKeep, AnAnimationWithoutGlobalPaletteTakesTheFirst) {
  auto target = createAnimation();
  auto src = sourceOf({indexedFrame(3, 1, [](int x, int) { return x; })},
                      {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  ASSERT_EQ(mergePalettes(target.get(), *src, 0, nullptr, nullptr), 1);
  ASSERT_TRUE(target->globalPalette);
  EXPECT_EQ(target->globalPalette->count, 3);
  EXPECT_EQ(firstFrame(*target)->palette(), target->globalPalette.get());
  EXPECT_EQ(target->screenFlags & 0x80, 0x80);
}

// ---- Every method ----

class EveryMethod : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EveryMethod, TransparencyAndOpaquePixelsSurvive) {
  Palette fixed;
  fixed.count = 8;
  for (int i = 0; i < 8; ++i) fixed[i] = Rgb{uint8_t(i * 36), uint8_t(255 - i * 36), 128};
  MergeOptions withFixed;
  withFixed.fixedPalette = copyPalette(fixed);
  for (uint32_t dither : {0u, merge::Dither}) {
    auto target = greyTarget();
    makeTransparent(*firstFrame(*target), 5);
    auto src = sourceOf({photoFrame(64, 48, true), bandsFrame()});
    ASSERT_EQ(mergePalettes(target.get(), *src, GetParam() | dither, nullptr, nullptr, withFixed),
              1);
    ASSERT_EQ(target->frameCount(), 3);
    Frame* old = firstFrame(*target);
    Frame* photo = frameAt(*target, 1);
    Frame* bands = frameAt(*target, 2);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x) {
        ASSERT_EQ(shownAt(*old, x, y).opaque, (x + y) % 4 != 1) << GetParam();
        ASSERT_EQ(shownAt(*bands, x, y).opaque, x != 0) << GetParam();
      }
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) ASSERT_EQ(shownAt(*photo, x, y).opaque, x + y >= 6);
    for (Frame* f : {old, photo, bands}) {
      ASSERT_TRUE(f->palette());
      ASSERT_TRUE(f->dib);
      EXPECT_EQ(f->palette(),
                f->localPalette ? f->localPalette.get() : target->globalPalette.get());
      EXPECT_TRUE(f->mask);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, EveryMethod,
                         ::testing::Values(merge::Adaptive, merge::MergeGlobal, merge::MapGlobal,
                                           merge::Cube, merge::Fixed, merge::LocalPerFrame));

TEST(MergeData, TwentyFourBitDataIsKeptOnlyWhenAsked) {
  MergeOptions keep;
  keep.keep24Bit = true;
  auto target = createAnimation();
  auto src = sourceOf({bandsFrame()});
  ASSERT_EQ(mergePalettes(target.get(), *src, 0, nullptr, nullptr, keep), 1);
  EXPECT_TRUE(firstFrame(*target)->hasRgb());
  EXPECT_EQ(firstFrame(*target)->alpha.size(), size_t(stride8(20)) * 10);
}

TEST(MergeData, ACancelOrFailureChangesNothing) {
  auto target = greyTarget();
  Palette before = *target->globalPalette;
  auto src = sourceOf({photoFrame(64, 48), photoFrame(64, 48)});
  RecordingProgress progress;
  progress.cancelAfter(2);
  EXPECT_EQ(mergePalettes(target.get(), *src, 0, nullptr, &progress), 2);
  EXPECT_EQ(target->frameCount(), 1);
  EXPECT_TRUE(*target->globalPalette == before);
  EXPECT_EQ(src->frameCount(), 2);
  EXPECT_TRUE(firstFrame(*src)->hasRgb());
  EXPECT_FALSE(firstFrame(*src)->dib);

  // The chooser cancels dialog 201.
  MergeOptions ask;
  ask.storedMethod = merge::Ask;
  Chooser chooser;
  chooser.method.accepted = false;
  EXPECT_EQ(mergePalettes(target.get(), *src, 0, &chooser, nullptr, ask), 2);
  EXPECT_EQ(chooser.methodAsked, 1);
  EXPECT_EQ(target->frameCount(), 1);
}

// ---- Moving one local-palette frame onto the global palette ----

TEST(MapFrame, LocalPaletteFrameJoinsTheGlobalPaletteInPlace) {
  auto a = greyTarget();
  Frame* second = indexedFrame(20, 10, [](int x, int) { return x % 2; });
  std::vector<Rgb> local = {{200, 10, 10}, {10, 200, 10}};
  setLocalPalette(*second, makePalette(local.data(), 2));
  Frame* third = indexedFrame(20, 10, [](int, int) { return 3; });
  appendBlock(*a, std::unique_ptr<Block>(second));
  appendBlock(*a, std::unique_ptr<Block>(third));
  refreshFrameColours(*second, nullptr);
  refreshFrameColours(*third, a->globalPalette.get());
  auto before = picture(*second);
  ASSERT_EQ(mapFrameIntoGlobalPalette(nullptr, *a, *second), 1);
  EXPECT_EQ(frameAt(*a, 1), second);
  EXPECT_EQ(frameAt(*a, 2), third);
  EXPECT_EQ(a->frameCount(), 3);
  EXPECT_FALSE(second->localPalette);
  EXPECT_EQ(second->imageFlags & 0x87, 0);
  EXPECT_TRUE(samePicture(picture(*second), before));

  // Without a global palette the local one becomes global.
  auto b = animationOf(2, 1, {}, {indexedFrame(2, 1, [](int x, int) { return x; })});
  Frame* f = firstFrame(*b);
  setLocalPalette(*f, makePalette(local.data(), 2));
  ASSERT_EQ(mapFrameIntoGlobalPalette(nullptr, *b, *f), 1);
  ASSERT_TRUE(b->globalPalette);
  EXPECT_EQ((*b->globalPalette)[0], local[0]);
  EXPECT_EQ(f->palette(), b->globalPalette.get());
}

TEST(MapFrame, RemapFramePixels) {
  auto a = greyTarget();
  Frame* f = firstFrame(*a);
  makeTransparent(*f, 10);
  int map[256];
  for (int i = 0; i < 256; ++i) map[i] = i == 10 ? -1 : i / 5;
  std::vector<Rgb> entries = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  Palette p = *makePalette(entries.data(), 4);
  remapFramePixels(*f, &p, entries.data(), 4, map);
  EXPECT_FALSE(f->transparent()) << "its index mapped to -1";
  EXPECT_EQ(f->dib->row(0)[0], 0);
  EXPECT_EQ(f->dib->row(0)[1], 1);
  EXPECT_EQ(f->dib->row(0)[2], 10) << "-1 leaves the pixel alone";
  EXPECT_EQ(f->dib->colours[3], (Rgb{4, 4, 4}));
  // A transparent index that maps moves.
  makeTransparent(*f, 1);
  map[1] = 3;
  remapFramePixels(*f, &p, entries.data(), 4, map);
  EXPECT_EQ(f->transparentIndex, 3);
}

}  // namespace
