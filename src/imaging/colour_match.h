// Colour matching against a palette: nearest colour by squared RGB distance,
// exact-colour lookup for true-colour pixels, and the inverse colour map that
// turns a 5-bit-per-channel colour into a palette index with one table read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "document/palette.h"

namespace fb {

// The colour of an index; indices at or past the palette's count are black
// (files may use them, and that is how they show).
inline Rgb paletteColour(const Palette* p, int index) {
  return p && index >= 0 && index < p->count ? (*p)[index] : Rgb{};
}

inline uint32_t packRgb(Rgb c) {
  return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
}
inline uint32_t packRgb(uint8_t r, uint8_t g, uint8_t b) {
  return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

// The entry of `p` nearest to `c`: the smallest (Δr)² + (Δg)² + (Δb)², the
// first entry on equal distance, stopping at an exact match. `exclude` (an
// index, or -1) is never chosen. -1 for a palette without eligible entries.
int nearestColour(const Palette& p, Rgb c, int exclude = -1, bool* exact = nullptr);

// The same answers as nearestColour for many colours against one palette:
// the entries sorted by r + g + b, searched outwards from the colour's sum
// and stopped where the sums alone are farther apart than the best match.
class NearestColourSearch {
 public:
  NearestColourSearch(const Palette& p, int exclude = -1);
  int find(Rgb c) const;

 private:
  int n_ = 0;
  std::array<int, 256> sum_{};
  std::array<uint8_t, 256> index_{};
  std::array<Rgb, 256> colour_{};
};

// Exact RGB -> index lookup (the first entry holding a colour wins), an open
// hash table with no allocation.
class ExactColourTable {
 public:
  ExactColourTable() { keys_.fill(0); }
  // Entries [0, count) of `p`, except `exclude`.
  void build(const Palette& p, int exclude = -1);
  // -1 when the colour is not in the palette.
  int find(uint32_t rgb) const {
    uint32_t key = rgb + 1;
    for (uint32_t h = hash(rgb);; h = (h + 1) & (kSlots - 1)) {
      if (keys_[h] == key) return values_[h];
      if (keys_[h] == 0) return -1;
    }
  }
  // Adds a colour unless present; returns its index.
  int insert(uint32_t rgb, int index);
  // Adds a colour or moves it to `index`.
  void set(uint32_t rgb, int index);

 private:
  static constexpr uint32_t kSlots = 1024;  // at most 256 keys: load under a quarter
  static uint32_t hash(uint32_t v) { return (v * 2654435761u) >> 22; }
  std::array<uint32_t, kSlots> keys_;
  std::array<uint8_t, kSlots> values_{};
};

// For every cell of 32 × 32 × 32 (index (r5 << 10) | (g5 << 5) | b5), the
// palette index nearest to the cell's centre (the lower index on a tie). Kept
// with a copy of the palette it was built for and rebuilt only when that differs.
struct InverseColourMap {
  static constexpr int kCells = 32 * 32 * 32;
  std::vector<uint8_t> cells;
  Palette builtFor;
  int excluded = -1;  // an entry never chosen (a transparent index inside the palette)
  bool valid = false;

  uint8_t at(int r5, int g5, int b5) const {
    return cells[static_cast<size_t>((r5 << 10) | (g5 << 5) | b5)];
  }
};

// Builds `map` for `p` (never choosing entry `exclude`) unless it already is
// for them. False when memory runs out (no message: the caller knows which one
// to show). A palette without eligible entries maps everything to 0.
bool ensureInverseMap(InverseColourMap& map, const Palette& p, int exclude = -1);

}  // namespace fb
