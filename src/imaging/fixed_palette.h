// The user's fixed palette record, as the settings file keeps it in the binary
// value "FixedPal" (io/options.h loads and stores it): 1028 bytes, all little-endian —
//   bytes 0–1   version (0x0300),
//   bytes 2–3   entry count n (1..256),
//   bytes 4–1027  256 entries of red, green, blue, flags (flags 0; entries
//                 from n on are zero).
// Loading accepts a record of any length that holds its n entries.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "document/palette.h"

namespace fb {

constexpr uint16_t kFixedPaletteVersion = 0x0300;
constexpr size_t kFixedPaletteBytes = 4 + 256 * 4;

// The record's bytes, and back (null for an unusable record).
std::vector<uint8_t> fixedPaletteRecord(const Palette& palette);
std::unique_ptr<Palette> parseFixedPaletteRecord(const std::vector<uint8_t>& bytes);

}  // namespace fb
