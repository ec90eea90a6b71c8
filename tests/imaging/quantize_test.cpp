// The colour engines: octree, median cut, inverse colour map and ditherer.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "imaging/colour_match.h"
#include "imaging/dither.h"
#include "imaging/median_cut.h"
#include "imaging/octree.h"

using namespace fb;

namespace {

// ---- Octree ----

// Four colours into a tree of three: A (0,0,0) and B (4,0,0) share a level-5
// parent, C (8,0,0) has its own under the same level-4 node, D (128,0,0) is
// on another branch from the root. Adding D makes four leaves; the fold takes
// level 5 first, lightest first and the list head first on equal weight: D's
// parent (1, newest), then C's parent (1), both single-child folds, then the
// A+B parent, which brings the count to three.
TEST(Octree, FoldsDeepestLightestFirstAndBuildsDepthFirst) {
  auto t = createOctree(3);
  ASSERT_TRUE(t);
  addColour(*t, 0, 0, 0, 1);
  addColour(*t, 4, 0, 0, 1);
  addColour(*t, 8, 0, 0, 1);
  EXPECT_EQ(t->leafCount, 3);
  addColour(*t, 128, 0, 0, 1);
  EXPECT_EQ(t->leafCount, 3);
  EXPECT_FALSE(t->reducible[5]) << "every level-5 node was folded";

  auto p = buildPalette(*t, 3, false);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->count, 3);
  EXPECT_EQ((*p)[0], (Rgb{2, 0, 0}));  // A and B averaged
  EXPECT_EQ((*p)[1], (Rgb{8, 0, 0}));
  EXPECT_EQ((*p)[2], (Rgb{128, 0, 0}));
  EXPECT_EQ(lookup(*t, 0, 0, 0), 0);
  EXPECT_EQ(lookup(*t, 4, 0, 0), 0);
  EXPECT_EQ(lookup(*t, 8, 0, 0), 1);
  EXPECT_EQ(lookup(*t, 128, 0, 0), 2);
  // A colour whose path ends at a missing child maps to 0.
  EXPECT_EQ(lookup(*t, 64, 0, 0), 0);
  EXPECT_EQ(lookup(*t, 0, 255, 0), 0);
}

TEST(Octree, ReservedTransparentEntryFoldsOneMoreAndEndsBlack) {
  auto t = createOctree(3);
  for (uint8_t r : {0, 4, 8, 128}) addColour(*t, r, 0, 0, 1);
  // From the three leaves above, level 4 folds: D's single-child node (the
  // list head, lighter), then the node over A, B, C.
  auto p = buildPalette(*t, 3, true);
  ASSERT_EQ(p->count, 3);
  EXPECT_EQ((*p)[0], (Rgb{4, 0, 0}));  // (0 + 4 + 8) / 3
  EXPECT_EQ((*p)[1], (Rgb{128, 0, 0}));
  EXPECT_EQ((*p)[2], (Rgb{0, 0, 0}));
  EXPECT_EQ(t->leafCount, 2);
}

TEST(Octree, LockedColoursSurviveFolding) {
  // X and Y are locked and share a level-5 parent (weight 2); Z (weight 100)
  // has its own. With room for two, the lighter X+Y parent would be folded
  // first, but it holds two locked colours, so the head (Z's parent) goes
  // first; then X+Y's parent is the head and folds, keeping the last locked
  // child's colour exactly.
  auto t = createOctree(2);
  addColour(*t, 0, 0, 0, 1, true);
  addColour(*t, 4, 0, 0, 1, true);
  addColour(*t, 8, 0, 0, 100);
  auto p = buildPalette(*t, 2, false);
  ASSERT_EQ(p->count, 2);
  EXPECT_EQ((*p)[0], (Rgb{4, 0, 0}));
  EXPECT_EQ((*p)[1], (Rgb{8, 0, 0}));

  // The same colours unlocked: the lighter parent folds and averages.
  auto u = createOctree(2);
  addColour(*u, 0, 0, 0, 1);
  addColour(*u, 4, 0, 0, 1);
  addColour(*u, 8, 0, 0, 100);
  auto q = buildPalette(*u, 2, false);
  ASSERT_EQ(q->count, 2);
  EXPECT_EQ((*q)[0], (Rgb{2, 0, 0}));
  EXPECT_EQ((*q)[1], (Rgb{8, 0, 0}));

  // A locked leaf gives its own colour, not the average of what fell in it.
  auto v = createOctree(8);
  addColour(*v, 200, 100, 50, 1, true);
  addColour(*v, 203, 102, 49, 1000);
  auto r = buildPalette(*v, 8, false);
  ASSERT_EQ(r->count, 1);
  EXPECT_EQ((*r)[0], (Rgb{200, 100, 50}));
}

TEST(Octree, NeverHoldsMoreLeavesThanItsLimitAndReusesNodes) {
  auto t = createOctree(16);
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) {
    uint32_t v = rng();
    addColour(*t, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 1);
    ASSERT_LE(t->leafCount, 16);
  }
  EXPECT_LE(t->peakLeafCount, 16);
  // Seventeen leaves at the most, five levels of inner nodes above them and
  // the root: the pool never needs more than one chunk.
  EXPECT_LE(t->nodesAllocated, 17 * 6 + 1);
  auto p = buildPalette(*t, 16, false);
  EXPECT_LE(p->count, 16);
  EXPECT_GE(p->count, 9);
}

TEST(Octree, ImagesSkipTransparentPixelsAndMapThem) {
  // 3 × 2: red red blue / (transparent green) blue blue, with a half-covered
  // pixel that only the stricter threshold leaves out.
  const int w = 3, h = 2;
  std::vector<uint8_t> rgb(size_t(stride24(w)) * h, 0), alpha(size_t(stride8(w)) * h, 255);
  auto put = [&](int x, int y, Rgb c) {
    uint8_t* p = rgb.data() + y * stride24(w) + 3 * x;
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
  };
  put(0, 0, {255, 0, 0});
  put(1, 0, {255, 0, 0});
  put(2, 0, {0, 0, 255});
  put(0, 1, {0, 255, 0});
  put(1, 1, {0, 0, 255});
  put(2, 1, {0, 0, 255});
  alpha[size_t(stride8(w)) + 0] = 0;
  alpha[2] = 100;  // the blue pixel of row 0

  auto t = createOctree(8);
  addImage(*t, w, h, rgb.data(), alpha.data());
  auto p = buildPalette(*t, 8, true);
  ASSERT_EQ(p->count, 3);  // blue, red and the transparent entry; no green
  EXPECT_EQ((*p)[0], (Rgb{0, 0, 255}));
  EXPECT_EQ((*p)[1], (Rgb{255, 0, 0}));
  EXPECT_EQ(t->root->weight, 5);

  std::vector<uint8_t> out(size_t(stride8(w)) * h, 9);
  mapImage(*t, w, h, rgb.data(), alpha.data(), out.data(), 2, kAlphaThreshold);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 2);  // alpha 100 is below the mapping threshold
  EXPECT_EQ(out[size_t(stride8(w)) + 0], 2);
  EXPECT_EQ(out[size_t(stride8(w)) + 1], 0);

  auto strict = createOctree(8);
  addImage(*strict, w, h, rgb.data(), alpha.data(), kAlphaThreshold);
  EXPECT_EQ(strict->root->weight, 4);
}

TEST(Octree, PaletteEntriesAreWeightedByUsage) {
  Palette pal;
  pal.count = 3;
  pal[0] = {0, 0, 0};
  pal[1] = {255, 255, 255};
  pal[2] = {8, 0, 0};
  int64_t usage[256] = {3, 0, 1};
  auto t = createOctree(1);
  addPalette(*t, usage, pal);
  auto p = buildPalette(*t, 1, false);
  ASSERT_EQ(p->count, 1);
  EXPECT_EQ((*p)[0], (Rgb{2, 0, 0}));  // white unused; (3·0 + 1·8) / 4
}

// ---- Median cut ----

Palette paletteOf(std::initializer_list<Rgb> colours) {
  Palette p;
  for (Rgb c : colours) p[p.count++] = c;
  return p;
}

TEST(MedianCut, SplitsHeaviestBoxAlongLongestAxisAtTheMedian) {
  // Cells (0,0,0)×10, (63,0,0)×10, (0,0,63)×1. Box 0 shrinks to red 0–63,
  // blue 0–63: red wins the tie. Slice 0 holds 11 > 21 / 2, so the cut is
  // after it; the red cell is a single cell (final).
  Palette pal = paletteOf({{0, 0, 0}, {252, 0, 0}, {0, 0, 252}});
  int64_t usage[256] = {10, 10, 1};
  Rgb out[256];
  ASSERT_EQ(medianCut(pal, usage, 2, out), 2);
  EXPECT_EQ(out[0], (Rgb{0, 0, 20}));  // mean blue 63 / 11 = 5, × 255 / 63
  EXPECT_EQ(out[1], (Rgb{255, 0, 0}));

  ASSERT_EQ(medianCut(pal, usage, 3, out), 3);
  EXPECT_EQ(out[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(out[1], (Rgb{255, 0, 0}));
  EXPECT_EQ(out[2], (Rgb{0, 0, 255}));  // the new box goes at the end
}

TEST(MedianCut, StepsBackWhenTheMedianIsTheUpperSlice) {
  // Running counts pass half (5) only at the upper slice: the cut steps back
  // one so that the upper box is not empty.
  Palette pal = paletteOf({{0, 0, 0}, {252, 0, 0}});
  int64_t usage[256] = {1, 10};
  Rgb out[256];
  ASSERT_EQ(medianCut(pal, usage, 2, out), 2);
  EXPECT_EQ(out[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(out[1], (Rgb{255, 0, 0}));
}

TEST(MedianCut, StopsWhenEveryBoxIsOneCellAndSharesCells) {
  // (0,0,0) and (3,3,3) fall in the same cell; two cells in all.
  Palette pal = paletteOf({{0, 0, 0}, {3, 3, 3}, {128, 128, 128}});
  int64_t usage[256] = {1, 1, 1};
  Rgb out[256];
  EXPECT_EQ(medianCut(pal, usage, 16, out), 2);
  // Unused entries do not count, unless nothing is used at all.
  int64_t only[256] = {0, 0, 5};
  EXPECT_EQ(medianCut(pal, only, 16, out), 1);
  EXPECT_EQ(out[0], (Rgb{129, 129, 129}));  // cell 32 × 255 / 63
  int64_t none[256] = {};
  EXPECT_EQ(medianCut(pal, none, 16, out), 2);
}

TEST(MedianCut, HeaviestBoxFirstFirstOnTies) {
  // Two equal halves after the first cut; the first box is cut next.
  Palette pal = paletteOf({{0, 0, 0}, {0, 0, 252}, {252, 0, 0}, {252, 252, 0}});
  int64_t usage[256] = {5, 5, 5, 5};
  Rgb out[256];
  ASSERT_EQ(medianCut(pal, usage, 3, out), 3);
  // Cut on red (tie with green and blue: red first): {black, blue} | {red, yellow};
  // then box 0 (first on equal counts) on blue.
  EXPECT_EQ(out[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(out[1], (Rgb{255, 125, 0}));  // mean green 63 / 2 = 31 → 125
  EXPECT_EQ(out[2], (Rgb{0, 0, 255}));
}

// ---- Inverse map and dithering ----

TEST(Dither, ThresholdLevels) {
  EXPECT_EQ(ditherLevel(0, 0), 0);
  EXPECT_EQ(ditherLevel(0, 7), 0);
  EXPECT_EQ(ditherLevel(0, 8), 1);
  EXPECT_EQ(ditherLevel(0, 23), 1);
  EXPECT_EQ(ditherLevel(0, 24), 2);
  EXPECT_EQ(ditherLevel(0, 128), 15);
  EXPECT_EQ(ditherLevel(0, 247), 29);
  EXPECT_EQ(ditherLevel(0, 248), 30);
  EXPECT_EQ(ditherLevel(0, 254), 30);
  EXPECT_EQ(ditherLevel(0, 255), 31);
  EXPECT_EQ(ditherLevel(7, 0), 0);
  EXPECT_EQ(ditherLevel(7, 1), 1);
  EXPECT_EQ(ditherLevel(7, 16), 1);
  EXPECT_EQ(ditherLevel(7, 17), 2);
  EXPECT_EQ(ditherLevel(7, 248), 30);
  EXPECT_EQ(ditherLevel(7, 249), 31);
  EXPECT_EQ(ditherLevel(1, 254), 30);
  EXPECT_EQ(ditherLevel(1, 255), 31);
  EXPECT_EQ(ditherLevel(3, 20), 1);
  EXPECT_EQ(ditherLevel(3, 21), 2);
  // The pattern rows.
  int expected[4][4] = {{7, 1, 6, 0}, {3, 5, 2, 4}, {6, 0, 7, 1}, {2, 4, 3, 5}};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(ditherBias(y, x), expected[y % 4][x % 4]);
}

TEST(Dither, InverseMapNearestToCellCentreLowerIndexOnTies) {
  InverseColourMap map;
  // Centre of cell 0 is 3.5: black and (7,7,7) are equally near.
  Palette a = paletteOf({{7, 7, 7}, {0, 0, 0}, {255, 255, 255}});
  ASSERT_TRUE(ensureInverseMap(map, a));
  EXPECT_EQ(map.at(0, 0, 0), 0);
  EXPECT_EQ(map.at(31, 31, 31), 2);
  EXPECT_EQ(map.at(16, 16, 16), 2);  // centre 131.5: nearer white than (7,7,7)
  EXPECT_EQ(map.at(15, 15, 15), 0);  // centre 123.5
  // Kept for the same palette, rebuilt for another.
  const uint8_t* cells = map.cells.data();
  ASSERT_TRUE(ensureInverseMap(map, a));
  EXPECT_EQ(map.cells.data(), cells);
  Palette b = paletteOf({{0, 0, 0}, {7, 7, 7}});
  ASSERT_TRUE(ensureInverseMap(map, b));
  EXPECT_EQ(map.at(0, 0, 0), 0);
  EXPECT_TRUE(map.builtFor == b);
}

TEST(Dither, DiffusionKeepsTheAverageTone) {
  // A horizontal grey ramp into black and white: every band of 8 columns
  // keeps its mean tone (the nearest colour alone gives 0 or 255 halves).
  const int w = 64, h = 64;
  std::vector<uint8_t> rgb(size_t(stride24(w)) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) rgb[size_t(y) * stride24(w) + 3 * x + c] = uint8_t(x * 4);
  Palette bw = paletteOf({{0, 0, 0}, {255, 255, 255}});
  std::vector<uint8_t> out(size_t(stride8(w)) * h);
  DitherState state;
  ASSERT_EQ(ditherRgb(bw, out.data(), rgb.data(), nullptr, w, h, -1, kAlphaThreshold, &state),
            DitherResult::Done);
  for (int band = 0; band < w / 8; ++band) {
    int white = 0;
    for (int y = 0; y < h; ++y)
      for (int x = band * 8; x < band * 8 + 8; ++x) white += out[size_t(y) * stride8(w) + x];
    double mean = white * 255.0 / (8 * h);
    EXPECT_NEAR(mean, band * 32 + 14, 10) << "band " << band;
  }
  EXPECT_EQ(state.width, w);
}

TEST(Dither, TransparentPixelsTakeTheNewIndexAndSpreadNothing) {
  Palette src = paletteOf({{0, 0, 0}, {255, 255, 255}, {200, 10, 10}, {100, 100, 100}});
  Palette dst = paletteOf({{0, 0, 0}, {255, 255, 255}, {100, 100, 100}});
  // Row: grey, transparent(2), grey ... the transparent pixels carry no error.
  const int w = 8, h = 2;
  std::vector<uint8_t> px(size_t(stride8(w)) * h, 3);
  px[1] = 2;
  px[size_t(stride8(w)) + 5] = 2;
  std::vector<uint8_t> out(px.size());
  DitherState state;
  ASSERT_EQ(ditherIndexed(src, px.data(), w, h, 2, dst, out.data(), 7, &state), DitherResult::Done);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[size_t(stride8(w)) + 5], 7);
  // Grey is in the palette exactly and every other pixel is grey: no error.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!(y == 0 && x == 1) && !(y == 1 && x == 5)) {
        EXPECT_EQ(out[size_t(y) * stride8(w) + x], 2);
      }
  // In place works too.
  ASSERT_EQ(ditherIndexed(src, px.data(), w, h, 2, dst, px.data(), 7, &state), DitherResult::Done);
  EXPECT_EQ(px, out);
}

TEST(Dither, TheTransparentIndexIsNeverAnOpaquePixel) {
  // Black is the transparent entry here: dark pixels must take another one.
  Palette p = paletteOf({{0, 0, 0}, {40, 40, 40}, {255, 255, 255}});
  std::vector<uint8_t> rgb(size_t(stride24(16)) * 4, 2), out(size_t(stride8(16)) * 4);
  DitherState state;
  ASSERT_EQ(ditherRgb(p, out.data(), rgb.data(), nullptr, 16, 4, 0, kAlphaThreshold, &state),
            DitherResult::Done);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_NE(out[size_t(y) * stride8(16) + x], 0);
  ASSERT_EQ(mapRgb(p, out.data(), rgb.data(), nullptr, 16, 4, 0, kAlphaThreshold, &state),
            DitherResult::Done);
  EXPECT_EQ(out[0], 1);
}

TEST(Dither, ErrorRowsGrowOnlyForWiderFrames) {
  Palette bw = paletteOf({{0, 0, 0}, {255, 255, 255}});
  DitherState state;
  std::vector<uint8_t> rgb(size_t(stride24(100)) * 2, 90), out(size_t(stride8(100)) * 2);
  ditherRgb(bw, out.data(), rgb.data(), nullptr, 100, 2, 0, kAlphaThreshold, &state);
  size_t size = state.errors.size();
  EXPECT_EQ(size, size_t(102) * 3 * 2);
  ditherRgb(bw, out.data(), rgb.data(), nullptr, 40, 2, 0, kAlphaThreshold, &state);
  EXPECT_EQ(state.errors.size(), size);
  EXPECT_EQ(state.width, 100);
}

TEST(Dither, UnditheredMappingKeepsExactColoursAndUsesCells) {
  // (1,1,1) and (6,6,6) share cell 0; exact colours still find their entries.
  Palette pal = paletteOf({{1, 1, 1}, {6, 6, 6}, {250, 250, 250}});
  std::vector<uint8_t> rgb = {1, 1, 1, 6, 6, 6, 5, 5, 5, 240, 240, 240};
  std::vector<uint8_t> alpha = {255, 255, 255, 0};
  std::vector<uint8_t> out(4);
  DitherState state;
  ASSERT_EQ(mapRgb(pal, out.data(), rgb.data(), alpha.data(), 4, 1, 9, kAlphaThreshold, &state),
            DitherResult::Done);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 0);  // cell 0's centre 3.5 is as near (1,1,1) as (6,6,6): the lower
  EXPECT_EQ(out[3], 9);
}

TEST(ColourMatch, NearestFirstOnTiesExactStops) {
  Palette pal = paletteOf({{10, 10, 10}, {30, 30, 30}, {20, 20, 20}, {20, 20, 20}});
  bool exact = false;
  EXPECT_EQ(nearestColour(pal, {20, 20, 20}, -1, &exact), 2);
  EXPECT_TRUE(exact);
  EXPECT_EQ(nearestColour(pal, {20, 20, 20}, 2, &exact), 3);
  EXPECT_EQ(nearestColour(pal, {25, 25, 25}, 2, &exact), 1);  // 1 and 3 tie: first
  EXPECT_FALSE(exact);
  EXPECT_EQ(nearestColour(pal, {0, 0, 0}), 0);
  Palette empty;
  EXPECT_EQ(nearestColour(empty, {0, 0, 0}), -1);
}

// The sorted search answers as the plain one does, ties and exclusions
// included, on palettes full of equal sums and duplicates.
TEST(ColourMatch, SortedSearchAgreesWithThePlainOne) {
  std::mt19937 rng(21);
  for (int round = 0; round < 40; ++round) {
    Palette pal;
    const int smallest[3] = {1, 2, 256};  // the edges first, then any size
    pal.count = round < 12 ? smallest[round % 3] : 1 + static_cast<int>(rng() % 256);
    const int spread = round % 2 ? 256 : 8;  // narrow: many ties and duplicates
    for (int i = 0; i < pal.count; ++i)
      pal[i] = Rgb{uint8_t(rng() % spread), uint8_t(rng() % spread), uint8_t(rng() % spread)};
    // An excluded entry inside the palette, past its end (a transparent index
    // beyond it), or none.
    const int exclude = round % 4 == 0   ? static_cast<int>(rng() % pal.count)
                        : round % 4 == 1 ? pal.count
                                         : -1;
    const NearestColourSearch search(pal, exclude);
    for (int k = 0; k < 200; ++k) {
      const Rgb c{uint8_t(rng() % spread), uint8_t(rng() % spread), uint8_t(rng() % spread)};
      ASSERT_EQ(search.find(c), nearestColour(pal, c, exclude)) << round << " " << k;
    }
  }
  Palette one = paletteOf({{5, 5, 5}});
  EXPECT_EQ(NearestColourSearch(one, 0).find({5, 5, 5}), -1);
}

}  // namespace
