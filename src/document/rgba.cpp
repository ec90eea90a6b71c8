#include "document/rgba.h"

namespace fb {

std::vector<uint8_t> canvasToRgba(const Frame& c) {
  std::vector<uint8_t> out(static_cast<size_t>(c.width) * c.height * 4);
  int s24 = stride24(c.width), s8 = stride8(c.width);
  for (int y = 0; y < c.height; ++y) {
    const uint8_t* rgb = c.rgb.data() + static_cast<size_t>(y) * s24;
    const uint8_t* a = c.alpha.data() + static_cast<size_t>(y) * s8;
    uint8_t* o = out.data() + static_cast<size_t>(y) * c.width * 4;
    for (int x = 0; x < c.width; ++x) {
      o[4 * x] = rgb[3 * x];
      o[4 * x + 1] = rgb[3 * x + 1];
      o[4 * x + 2] = rgb[3 * x + 2];
      o[4 * x + 3] = a[x];
    }
  }
  return out;
}

std::vector<uint8_t> frameToRgba(const Frame& f) {
  std::vector<uint8_t> out(static_cast<size_t>(f.width) * f.height * 4);
  if (!f.dib && !f.hasRgb()) return out;
  int s24 = stride24(f.width), s8 = stride8(f.width);
  for (int y = 0; y < f.height; ++y) {
    uint8_t* o = out.data() + static_cast<size_t>(y) * f.width * 4;
    const uint8_t* px = f.dib ? f.dib->row(y) : nullptr;
    for (int x = 0; x < f.width; ++x) {
      if (f.hasRgb()) {
        const uint8_t* rgb = f.rgb.data() + static_cast<size_t>(y) * s24 + 3 * x;
        o[4 * x] = rgb[0];
        o[4 * x + 1] = rgb[1];
        o[4 * x + 2] = rgb[2];
        o[4 * x + 3] = f.alpha.empty() ? 255 : f.alpha[static_cast<size_t>(y) * s8 + x];
        continue;
      }
      uint8_t v = px[x];
      if (f.transparent() && v == f.transparentIndex) continue;  // stays 0,0,0,0
      Rgb c = f.palette() && v < f.palette()->count ? (*f.palette())[v] : Rgb{};
      o[4 * x] = c.r;
      o[4 * x + 1] = c.g;
      o[4 * x + 2] = c.b;
      o[4 * x + 3] = 255;
    }
  }
  return out;
}

}  // namespace fb
