// The high-quality colour mode: a palette from the quantisers is refined by a
// few rounds of nearest-colour clustering over the colours the pictures
// actually hold, and pixels then take their exact nearest colour (or are
// dithered against exact nearest colours). Only when asked for; the
// quantisers themselves are untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "document/palette.h"

namespace fb {

// Rounds of clustering the high-quality mode runs (it stops early when the
// colours settle).
constexpr int kRefineRounds = 4;

// The colours of some pictures, gathered in cells of 6 bits per channel
// (each cell keeping the mean of its colours and how many there were).
class ColourSet {
 public:
  ColourSet();
  ~ColourSet();
  ColourSet(const ColourSet&) = delete;
  ColourSet& operator=(const ColourSet&) = delete;

  // True-colour rows (3 bytes per pixel, `stride` apart); pixels whose alpha
  // (when given, `alphaStride` apart) is below `alphaThreshold` are left out.
  void addRgb(const uint8_t* rgb, int stride, int width, int height, const uint8_t* alpha,
              int alphaStride, int alphaThreshold);
  // Palette entries, each weighted by its count (256 counts).
  void addPalette(const Palette& palette, const int64_t* counts);

  struct Sample {
    float r, g, b;
    double weight;
  };
  // The cells' mean colours and weights, in the order cells were first seen.
  const std::vector<Sample>& samples();
  // The cell a colour falls in (for mapping hints).
  static int cellOf(int r, int g, int b) { return (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2); }
  int sampleOfCell(int cell) const;  // -1 when the cell is empty

 private:
  void add(int r, int g, int b, uint64_t weight);
  std::vector<int32_t> slotOfCell_;  // 2^18 cells: index into sums_, or -1
  struct Sum {
    uint64_t r, g, b, weight;
  };
  std::vector<Sum> sums_;
  std::vector<Sample> samples_;
};

// Exact nearest colour among a palette's first `count` entries (never
// `skip`; the lowest index on equal distances). The colours are sorted along
// the axis they spread most on, so a search from a good guess outward along
// it stops after a few.
class NearestColour {
 public:
  NearestColour(const Rgb* colours, int count, int skip = -1);
  // The index of the nearest colour to (r, g, b); `hint` (an index or -1)
  // is a first guess that makes the search short.
  int find(int r, int g, int b, int hint = -1) const;

 private:
  struct Entry {
    float key;  // position along the axis
    int r, g, b, index;
  };
  float keyOf(int r, int g, int b) const { return axis_[0] * r + axis_[1] * g + axis_[2] * b; }
  std::vector<Entry> sorted_;
  std::vector<int> position_;  // index -> position in sorted_
  float axis_[3] = {0.57735f, 0.57735f, 0.57735f};  // unit length
};

// Up to `count` colours for the set (written to `out`; returns how many):
// the box of colours whose squared error is largest is cut in two where it
// spreads most, at its mean, until there are enough boxes; each box gives
// its mean. A start for refinePalette.
int splitColours(ColourSet& colours, int count, Rgb* out);

// Refines the first `count` colours of `palette` in place with `rounds`
// rounds of clustering over `colours`; a colour no sample is nearest to moves
// to the sample that was worst served.
void refinePalette(Rgb* palette, int count, ColourSet& colours, int rounds);

// Every pixel of true-colour rows as an index of `palette`'s first `count`
// entries; pixels whose alpha is below `alphaThreshold` become
// `transparentIndex` (never chosen for the others). Without `dither`, each
// pixel takes the colour nearest to the mean of its cell in `cells` (which
// must hold these pixels): one search per cell, not per pixel. With `dither`,
// Floyd–Steinberg error diffusion, each value taking the colour nearest to the
// middle of its cell.
void mapRgbNearest(const Rgb* palette, int count, ColourSet& cells, const uint8_t* rgb,
                   int stride, int width, int height, const uint8_t* alpha, int alphaStride,
                   int alphaThreshold, int transparentIndex, bool dither, uint8_t* out,
                   int outStride);

}  // namespace fb
