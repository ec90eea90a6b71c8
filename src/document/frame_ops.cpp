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

bool cutFramesTo(Animation& a, const Rect& r) {
  std::vector<FrameImage> images;
  try {
    images.reserve(static_cast<size_t>(a.frameCount()));
    for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
      // The part of the frame inside the rectangle, in frame coordinates.
      int x0 = std::max(0, r.x - f->left), y0 = std::max(0, r.y - f->top);
      int x1 = std::min(f->width, r.x + r.width - f->left);
      int y1 = std::min(f->height, r.y + r.height - f->top);
      if (x0 == 0 && y0 == 0 && x1 == f->width && y1 == f->height) {
        if (r.x == 0 && r.y == 0) continue;  // wholly inside, and it stays where it is
        FrameImage& moved = images.emplace_back();
        beginFrameImage(*f, moved);
        moved.left -= r.x;
        moved.top -= r.y;
        continue;
      }
      FrameImage& image = images.emplace_back();
      if (x1 <= x0 || y1 <= y0) {
        if (!hiddenFrameImage(*f, x0, y0, image)) return false;
        continue;
      }
      beginFrameImage(*f, image);
      image.left = f->left + x0 - r.x;
      image.top = f->top + y0 - r.y;
      image.width = x1 - x0;
      image.height = y1 - y0;
      if (image.hotspotX >= 0) image.hotspotX -= x0;
      if (image.hotspotY >= 0) image.hotspotY -= y0;
      auto map = [x0, y0](int x, int y) { return std::pair{x + x0, y + y0}; };
      if (!mapFrameImage(*f, image.width, image.height, map, image)) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  commitFrameImages(images);
  return true;
}

bool clipFramesToScreen(Animation& a) {
  return cutFramesTo(a, Rect{0, 0, a.width, a.height});
}

void beginFrameImage(const Frame& f, FrameImage& out) {
  out.frame = const_cast<Frame*>(&f);
  out.left = f.left;
  out.top = f.top;
  out.width = f.width;
  out.height = f.height;
  out.hotspotX = f.hotspotX;
  out.hotspotY = f.hotspotY;
  out.dib.reset();
  out.rgb.clear();
  out.alpha.clear();
  out.pixels = false;
  out.hidden = false;
}

namespace detail {

bool allocateFrameImage(const Frame& f, int width, int height, FrameImage& out, bool& hasRgb,
                        bool& hasAlpha) {
  if (width <= 0 || height <= 0 || !sizeAcceptable(width, height)) return false;
  size_t rows = static_cast<size_t>(height);
  hasRgb = f.width > 0 && f.height > 0 &&
           f.rgb.size() >= static_cast<size_t>(stride24(f.width)) * static_cast<size_t>(f.height);
  hasAlpha = hasRgb && f.alpha.size() >=
                           static_cast<size_t>(stride8(f.width)) * static_cast<size_t>(f.height);
  if (f.dib && (f.dib->width < f.width || f.dib->height < f.height)) return false;
  try {
    out.dib.reset();
    if (f.dib) {
      out.dib = createBitmap(width, height, nullptr);
      if (!out.dib) return false;
      out.dib->colours = f.dib->colours;  // the frame's colour table, display colours included
    }
    out.rgb.assign(hasRgb ? static_cast<size_t>(stride24(width)) * rows : 0, 0);
    out.alpha.assign(hasAlpha ? static_cast<size_t>(stride8(width)) * rows : 0, 0);
    out.pixels = true;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace detail

bool hiddenFrameImage(const Frame& f, int x, int y, FrameImage& out) {
  beginFrameImage(f, out);
  out.left = out.top = 0;
  out.width = out.height = 1;
  out.hotspotX = out.hotspotY = -1;
  out.hidden = true;
  if (f.width <= 0 || f.height <= 0) {
    // No pixel to keep: a blank one.
    out.pixels = true;
    if (!f.dib) return true;
    out.dib = createBitmap(1, 1, nullptr);
    if (!out.dib) return false;
    out.dib->colours = f.dib->colours;
    return true;
  }
  int px = std::clamp(x, 0, f.width - 1), py = std::clamp(y, 0, f.height - 1);
  return mapFrameImage(
      f, 1, 1,
      [px, py](int, int) {
        return std::pair{px, py};
      },
      out);
}

void commitFrameImage(FrameImage& im) {
  Frame& f = *im.frame;
  f.left = im.left;
  f.top = im.top;
  f.width = im.width;
  f.height = im.height;
  f.hotspotX = im.hotspotX;
  f.hotspotY = im.hotspotY;
  if (im.pixels) {
    if (im.dib) setBitmap(f, std::move(im.dib));
    if (f.hasRgb()) {
      f.rgb = std::move(im.rgb);
      f.alpha = std::move(im.alpha);
      f.display.clear();
    }
  }
  if (im.hidden) {
    if (f.dib) {
      setTransparentIndex(f, f.dib->row(0)[0]);
      setTransparent(f, true);
    }
    if (f.hasRgb()) f.alpha.assign(static_cast<size_t>(stride8(1)), 0);
    if (f.disposal() == 2) f.setDisposal(1);  // clearing it would now erase a visible pixel
  }
}

void commitFrameImages(std::vector<FrameImage>& images) {
  for (FrameImage& im : images) commitFrameImage(im);
}

}  // namespace fb
