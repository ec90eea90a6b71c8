// A synthetic animation for the editor's benchmarks: `frames` full-screen
// frames of w × h on one 256-colour palette, a gradient background with a few
// moving discs, so that neighbouring frames differ where the discs move.
#pragma once

#include <cmath>
#include <memory>

#include "document/animation.h"

namespace fbbench {

inline std::unique_ptr<fb::Animation> movingDiscs(int frames, int w, int h) {
  auto a = fb::createAnimation();
  a->width = w;
  a->height = h;
  fb::Rgb pal[256];
  for (int i = 0; i < 256; ++i)
    pal[i] = fb::Rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                     static_cast<uint8_t>((i * 7) & 255)};
  fb::setGlobalPalette(*a, fb::makePalette(pal, 256));
  for (int k = 0; k < frames; ++k) {
    auto f = fb::newBlankFrame(w, h);
    f->delay = 4;
    auto dib = fb::createBitmap(w, h, a->globalPalette.get());
    for (int y = 0; y < h; ++y) {
      uint8_t* row = dib->row(y);
      for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>((x + y) * 200 / (w + h));
    }
    for (int d = 0; d < 5; ++d) {
      double t = k * 0.05 + d * 1.3;
      int cx = static_cast<int>(w / 2 + std::cos(t) * w / 3),
          cy = static_cast<int>(h / 2 + std::sin(t * 1.3) * h / 3);
      int r = 30 + 10 * d;
      for (int y = std::max(0, cy - r); y < std::min(h, cy + r); ++y)
        for (int x = std::max(0, cx - r); x < std::min(w, cx + r); ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
            dib->row(y)[x] = static_cast<uint8_t>(210 + 9 * d + ((x ^ y) & 3));
    }
    fb::setBitmap(*f, std::move(dib));
    fb::appendFrame(*a, std::move(f));
  }
  return a;
}

}  // namespace fbbench
