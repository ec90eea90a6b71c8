#include "gif/gif_limits.h"

#include <algorithm>
#include <cstdint>

namespace fb {

Extent gifScreenFor(const Animation& a) {
  Extent e{a.width, a.height};
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->width <= 0 || f->height <= 0) continue;
    int64_t right = std::min<int64_t>(int64_t{f->left} + f->width, kGifMaxDimension);
    int64_t bottom = std::min<int64_t>(int64_t{f->top} + f->height, kGifMaxDimension);
    e.width = std::max(e.width, static_cast<int>(right));
    e.height = std::max(e.height, static_cast<int>(bottom));
  }
  return e;
}

bool gifGeometryFits(const Animation& a) {
  auto fits = [](int64_t v) { return v >= 0 && v <= kGifMaxDimension; };
  if (!fits(a.width) || !fits(a.height)) return false;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (!fits(f->left) || !fits(f->top) || !fits(f->width) || !fits(f->height) ||
        !fits(int64_t{f->left} + f->width) || !fits(int64_t{f->top} + f->height))
      return false;
  }
  return true;
}

}  // namespace fb
