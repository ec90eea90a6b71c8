#include "formats/picture.h"

#include <algorithm>
#include <new>

#include "document/bitmap.h"

namespace fb {

CodecStatus allocatePixels(Picture& p, int width, int height, bool indexed, PixelBudget* budget) {
  if (width <= 0 || height <= 0 || !sizeAcceptable(width, height)) return CodecStatus::TooLarge;
  // Made before the data is decoded: charged as pixels the data has yet to
  // send (bounded by the file's size as well as by memory).
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (budget && !budget->take(pixels, 0, pixels * (indexed ? 1 : 4))) return CodecStatus::TooLarge;
  p.width = width;
  p.height = height;
  p.indexed = indexed;
  try {
    p.pixels.assign(p.pixelBytes(), 0);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

bool expandToRgba(Picture& p) {
  if (!p.indexed) return true;
  try {
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height * 4);
    const size_t n = static_cast<size_t>(p.width) * p.height;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t v = p.pixels[i];
      uint8_t* o = out.data() + 4 * i;
      if (v == p.transparentIndex) {
        o[0] = o[1] = o[2] = o[3] = 0;
        continue;
      }
      const Rgb c = v < p.palette.size() ? p.palette[v] : Rgb{};
      o[0] = c.r;
      o[1] = c.g;
      o[2] = c.b;
      o[3] = 255;
    }
    p.hasAlpha = p.transparentIndex >= 0;
    p.pixels = std::move(out);
    p.indexed = false;
    p.palette.clear();
    p.transparentIndex = -1;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool applyTransparency(Picture& p, const std::vector<uint8_t>& transparent) {
  const size_t n = static_cast<size_t>(p.width) * p.height;
  if (!std::any_of(transparent.begin(), transparent.begin() + static_cast<ptrdiff_t>(n),
                   [](uint8_t t) { return t != 0; }))
    return true;
  if (!p.indexed) {
    for (size_t i = 0; i < n; ++i)
      if (transparent[i]) p.pixels[4 * i + 3] = 0;
    p.hasAlpha = true;
    return true;
  }
  // An index no visible pixel uses: past the palette when there is room,
  // else an entry only hidden pixels use.
  std::array<bool, 256> visible{};
  for (size_t i = 0; i < n; ++i)
    if (!transparent[i]) visible[p.pixels[i]] = true;
  int t = -1;
  if (p.palette.size() < 256) {
    t = static_cast<int>(p.palette.size());
    p.palette.push_back(Rgb{});
  } else {
    for (int i = 0; i < 256 && t < 0; ++i)
      if (!visible[static_cast<size_t>(i)]) t = i;
  }
  if (t < 0) {
    std::vector<uint8_t> mask(transparent.begin(), transparent.begin() + static_cast<ptrdiff_t>(n));
    if (!expandToRgba(p)) return false;
    return applyTransparency(p, mask);
  }
  for (size_t i = 0; i < n; ++i)
    if (transparent[i]) p.pixels[i] = static_cast<uint8_t>(t);
  p.transparentIndex = t;
  return true;
}

bool applyOrientation(Picture& p, int orientation) {
  if (orientation < 2 || orientation > 8) return true;
  const int w = p.width, h = p.height;
  const size_t bpp = p.indexed ? 1 : 4;
  // Orientations 5..8 swap the axes.
  const bool swap = orientation >= 5;
  const int ow = swap ? h : w, oh = swap ? w : h;
  try {
    std::vector<uint8_t> out(p.pixels.size());
    for (int y = 0; y < oh; ++y) {
      for (int x = 0; x < ow; ++x) {
        // The source pixel shown at (x, y).
        int sx = x, sy = y;
        switch (orientation) {
          case 2:
            sx = w - 1 - x;
            break;
          case 3:
            sx = w - 1 - x;
            sy = h - 1 - y;
            break;
          case 4:
            sy = h - 1 - y;
            break;
          case 5:
            sx = y;
            sy = x;
            break;
          case 6:
            sx = y;
            sy = h - 1 - x;
            break;
          case 7:
            sx = w - 1 - y;
            sy = h - 1 - x;
            break;
          case 8:
            sx = w - 1 - y;
            sy = x;
            break;
        }
        const uint8_t* s = p.pixels.data() + (static_cast<size_t>(sy) * w + sx) * bpp;
        std::copy(s, s + bpp, out.data() + (static_cast<size_t>(y) * ow + x) * bpp);
      }
    }
    p.pixels = std::move(out);
    p.width = ow;
    p.height = oh;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace fb
