#include "document/frame_ops.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace fb {

bool framesOutsideScreen(const Animation& a) {
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (f->left < 0 || f->top < 0 || f->left + f->width > a.width || f->top + f->height > a.height)
      return true;
  return false;
}

bool cropFrame(Frame& f, int x0, int y0, int x1, int y1) {
  int w = x1 - x0, h = y1 - y0;
  // A frame of 24-bit data only stays so until it is mapped into a palette:
  // a zero-filled indexed image would count as mapped (every pixel index 0).
  std::unique_ptr<Bitmap> dib;
  if (f.dib || !f.hasRgb()) {
    dib = createBitmap(w, h, f.palette());
    if (!dib) return false;
  }
  if (f.dib) {
    dib->colours = f.dib->colours;
    for (int y = 0; y < h; ++y) std::memcpy(dib->row(y), f.dib->row(y0 + y) + x0, static_cast<size_t>(w));
  }
  std::vector<uint8_t> rgb, alpha;
  try {
    if (f.hasRgb()) {
      int s = stride24(f.width), ns = stride24(w);
      rgb.assign(static_cast<size_t>(ns) * h, 0);
      for (int y = 0; y < h; ++y)
        std::memcpy(rgb.data() + static_cast<size_t>(y) * ns,
                    f.rgb.data() + static_cast<size_t>(y0 + y) * s + 3 * x0, static_cast<size_t>(3 * w));
    }
    if (!f.alpha.empty()) {
      int s = stride8(f.width), ns = stride8(w);
      alpha.assign(static_cast<size_t>(ns) * h, 0);
      for (int y = 0; y < h; ++y)
        std::memcpy(alpha.data() + static_cast<size_t>(y) * ns,
                    f.alpha.data() + static_cast<size_t>(y0 + y) * s + x0, static_cast<size_t>(w));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  f.left += x0;
  f.top += y0;
  f.width = w;
  f.height = h;
  if (dib) setBitmap(f, std::move(dib));
  if (f.hasRgb()) {
    f.rgb = std::move(rgb);
    f.alpha = std::move(alpha);
    f.display.clear();
  }
  return true;
}

bool clipFramesToScreen(Animation& a) {
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    int x0 = std::max(0, -f->left), y0 = std::max(0, -f->top);
    int x1 = std::min(f->width, a.width - f->left), y1 = std::min(f->height, a.height - f->top);
    if (x0 == 0 && y0 == 0 && x1 == f->width && y1 == f->height) continue;
    if (x1 > x0 && y1 > y0) {
      if (!cropFrame(*f, x0, y0, x1, y1)) return false;
      continue;
    }
    // Nothing of it is on the screen. It still holds its place in time, so it
    // becomes a single invisible pixel rather than an empty image, which
    // many readers refuse.
    int px = std::clamp(x0, 0, std::max(0, f->width - 1));
    int py = std::clamp(y0, 0, std::max(0, f->height - 1));
    if (f->width > 0 && f->height > 0) {
      if (!cropFrame(*f, px, py, px + 1, py + 1)) return false;
    } else {
      auto dib = createBitmap(1, 1, f->palette());
      if (!dib) return false;
      f->width = f->height = 1;
      setBitmap(*f, std::move(dib));
      if (f->hasRgb()) setRgb(*f, {});
    }
    f->left = 0;
    f->top = 0;
    if (f->dib) {
      setTransparentIndex(*f, f->dib->row(0)[0]);
      setTransparent(*f, true);
    }
    if (f->hasRgb()) f->alpha.assign(static_cast<size_t>(stride8(1)), 0);
    if (f->disposal() == 2) f->setDisposal(1);  // clearing it would now erase a visible pixel
  }
  return true;
}

}  // namespace fb
