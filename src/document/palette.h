// Colour tables: up to 256 RGB entries with an entry count.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace fb {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Palette {
  int count = 0;  // 0..256
  std::array<Rgb, 256> entries{};

  Rgb& operator[](int i) { return entries[static_cast<size_t>(i)]; }
  const Rgb& operator[](int i) const { return entries[static_cast<size_t>(i)]; }
  friend bool operator==(const Palette& a, const Palette& b);
};

// A new palette of `count` entries (clamped to 0..256) copied from `entries`
// (black when null). Null when memory runs out.
std::unique_ptr<Palette> makePalette(const Rgb* entries, int count);
std::unique_ptr<Palette> copyPalette(const Palette& p);

// Bits needed for a colour table of n entries: 8 if n > 128, 7 if n > 64, 6 if
// n > 32, 5 if n > 16, 4 if n > 8, 3 if n >= 5, 2 if n is 3 or 4, 1 below 3.
int colourBits(int n);

}  // namespace fb
