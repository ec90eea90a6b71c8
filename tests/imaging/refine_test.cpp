// The high-quality colour mode: nearest-colour search, the cuts that start a
// palette, clustering, and the mode through the adaptive palette and colour
// reduction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "imaging/imaging_util.h"
#include "imaging/palette_merge.h"
#include "imaging/reduce.h"
#include "imaging/refine.h"
#include "base/reporter.h"

using namespace fb;
using namespace fbtest;

namespace {

int bruteNearest(const std::vector<Rgb>& p, int r, int g, int b, int skip) {
  int best = -1, bestD = 0;
  for (int i = 0; i < int(p.size()); ++i) {
    if (i == skip) continue;
    int d = (p[i].r - r) * (p[i].r - r) + (p[i].g - g) * (p[i].g - g) + (p[i].b - b) * (p[i].b - b);
    if (best < 0 || d < bestD) best = i, bestD = d;
  }
  return best;
}

double weightedError(const std::vector<Rgb>& p, ColourSet& set) {
  double e = 0;
  for (const auto& s : set.samples()) {
    int k = bruteNearest(p, int(s.r + 0.5f), int(s.g + 0.5f), int(s.b + 0.5f), -1);
    double dr = s.r - p[k].r, dg = s.g - p[k].g, db = s.b - p[k].b;
    e += (dr * dr + dg * dg + db * db) * s.weight;
  }
  return e;
}


Rgb texture(int x, int y) {
  return Rgb{uint8_t((x * 7 + y * 3) % 256), uint8_t((x * y) % 200 + 20), uint8_t(255 - x * 3)};
}

}  // namespace

// The search along the colours' main axis finds exactly what a scan of every
// colour finds (the lowest index on equal distances), whatever the hint, and
// never the skipped index; clustered and spread palettes alike.
TEST(Refine, NearestColourIsExact) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<Rgb> p(size_t(1 + trial * 6 % 256));
    for (auto& c : p) {
      if (trial % 2) {
        int base = byte(rng) / 8;  // close together, with repeats
        c = Rgb{uint8_t(base), uint8_t(base + 3), uint8_t(byte(rng) / 64)};
      } else {
        c = Rgb{uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
      }
    }
    const int skip = p.size() > 1 && trial % 3 == 0 ? int(p.size()) / 2 : -1;
    NearestColour nearest(p.data(), int(p.size()), skip);
    for (int q = 0; q < 300; ++q) {
      int r = byte(rng), g = byte(rng), b = byte(rng);
      int hint = q % 4 == 0 ? -1 : byte(rng) % int(p.size());
      ASSERT_EQ(nearest.find(r, g, b, hint), bruteNearest(p, r, g, b, skip))
          << "trial " << trial << " query " << r << "," << g << "," << b << " hint " << hint;
    }
  }
}

// Three separate clusters cut into three give the clusters' means; more boxes
// than colours give no more colours than there are.
TEST(Refine, CutsFollowTheColours) {
  ColourSet set;
  std::vector<uint8_t> rgb;
  for (int i = 0; i < 300; ++i) {
    const Rgb c = i % 3 == 0 ? Rgb{10, 20, 30} : i % 3 == 1 ? Rgb{200, 40, 40} : Rgb{60, 220, 120};
    rgb.insert(rgb.end(), {c.r, c.g, c.b});
  }
  set.addRgb(rgb.data(), 900, 300, 1, nullptr, 0, 0);
  Rgb out[8];
  ASSERT_EQ(splitColours(set, 3, out), 3);
  std::vector<uint32_t> got;
  for (int i = 0; i < 3; ++i) got.push_back(uint32_t(out[i].r) << 16 | out[i].g << 8 | out[i].b);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<uint32_t>{0x0A141E, 0x3CDC78, 0xC82828}));
  EXPECT_EQ(splitColours(set, 8, out), 3) << "only three cells hold colours";
}

// Clustering never makes the error larger, and a colour nothing is nearest to
// is moved to where the error is largest.
TEST(Refine, ClusteringLowersTheError) {
  ColourSet set;
  std::vector<uint8_t> rgb;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      Rgb c = texture(x, y);
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
  set.addRgb(rgb.data(), 120, 40, 40, nullptr, 0, 0);
  std::vector<Rgb> p = spreadColours(16);
  p[15] = Rgb{255, 0, 255};  // far from every colour of the picture
  const double before = weightedError(p, set);
  std::vector<Rgb> once = p;
  refinePalette(once.data(), 16, set, 1);
  const double afterOne = weightedError(once, set);
  refinePalette(p.data(), 16, set, kRefineRounds);
  const double after = weightedError(p, set);
  EXPECT_LT(afterOne, before);
  EXPECT_LE(after, afterOne * 1.0001);
  EXPECT_FALSE((p[15] == Rgb{255, 0, 255})) << "the unused colour found work";
}

// Through the adaptive palette: transparency stays where alpha says, the
// pictures are closer to the original than the default method makes them,
// and the default is not touched by the mode existing.
TEST(Refine, HighQualityAdaptivePalette) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  auto alpha = [](int x, int y) { return x + y < 5 ? 0 : 255; };
  auto make = [&] { return animationOf(48, 40, {}, {rgbFrame(48, 40, texture, alpha)}); };
  auto plain = make();
  auto hq = make();
  const uint32_t word = merge::Adaptive | merge::Always | (4u << 16);  // 16 colours
  ASSERT_EQ(mergePalettes(nullptr, *plain, word, nullptr, nullptr), 1);
  ASSERT_EQ(mergePalettes(nullptr, *hq, word | merge::Quality, nullptr, nullptr), 1);
  for (Animation* a : {plain.get(), hq.get()}) {
    ASSERT_TRUE(a->globalPalette);
    EXPECT_LE(a->globalPalette->count, 16);
    const Frame& f = *firstFrame(*a);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 48; ++x) ASSERT_EQ(shownAt(f, x, y).opaque, alpha(x, y) != 0) << x << "," << y;
  }
  EXPECT_GT(psnr(*firstFrame(*hq), texture), psnr(*firstFrame(*plain), texture) + 1.0);

  auto dithered = make();
  ASSERT_EQ(mergePalettes(nullptr, *dithered, word | merge::Quality | merge::Dither, nullptr, nullptr), 1);
  EXPECT_GT(psnr(*firstFrame(*dithered), texture), 20);
}

// Colour reduction in the mode refines the median cut's colours on what the
// frames show.
TEST(Refine, HighQualityReduction) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::vector<Rgb> colours = spreadColours(256);
  auto make = [&] {
    return animationOf(64, 32, colours, {indexedFrame(64, 32, [](int x, int y) { return (x * 5 + y * 11) % 256; })});
  };
  auto shownColours = [&](int x, int y) { return colours[size_t((x * 5 + y * 11) % 256)]; };
  auto plain = make(), hq = make();
  ASSERT_EQ(reducePalettes(*plain, 12, false, {}, nullptr), 1);
  ASSERT_EQ(reducePalettes(*hq, 12, false, {}, nullptr, true), 1);
  EXPECT_EQ(hq->globalPalette->count, plain->globalPalette->count);
  EXPECT_GT(psnr(*firstFrame(*hq), shownColours), psnr(*firstFrame(*plain), shownColours));

  // A locked colour the pictures do not show is not refined away.
  const Rgb locked{1, 2, 3};
  auto withLocked = make();
  ASSERT_EQ(reducePalettes(*withLocked, 12, false, {locked}, nullptr, true), 1);
  const Palette& p = *withLocked->globalPalette;
  EXPECT_NE(std::find(p.entries.begin(), p.entries.begin() + p.count, locked),
            p.entries.begin() + p.count);
}
