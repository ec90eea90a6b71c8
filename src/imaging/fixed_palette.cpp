#include "imaging/fixed_palette.h"

namespace fb {

std::vector<uint8_t> fixedPaletteRecord(const Palette& p) {
  std::vector<uint8_t> bytes(kFixedPaletteBytes, 0);
  bytes[0] = kFixedPaletteVersion & 0xFF;
  bytes[1] = kFixedPaletteVersion >> 8;
  bytes[2] = static_cast<uint8_t>(p.count & 0xFF);
  bytes[3] = static_cast<uint8_t>(p.count >> 8);
  for (int i = 0; i < p.count; ++i) {
    bytes[4 + 4 * size_t(i)] = p[i].r;
    bytes[5 + 4 * size_t(i)] = p[i].g;
    bytes[6 + 4 * size_t(i)] = p[i].b;
  }
  return bytes;
}

std::unique_ptr<Palette> parseFixedPaletteRecord(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 4) return nullptr;
  int count = bytes[2] | (bytes[3] << 8);
  if (count < 1 || count > 256 || bytes.size() < 4 + 4 * size_t(count)) return nullptr;
  auto p = makePalette(nullptr, count);
  if (!p) return nullptr;
  for (int i = 0; i < count; ++i)
    (*p)[i] = Rgb{bytes[4 + 4 * size_t(i)], bytes[5 + 4 * size_t(i)], bytes[6 + 4 * size_t(i)]};
  return p;
}

}  // namespace fb
