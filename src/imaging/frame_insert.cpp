#include "imaging/frame_insert.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/reporter.h"
#include "imaging/frame_update.h"
#include "imaging/merge_engine.h"
#include "resources/strings.h"

namespace fb {

namespace {

constexpr uint32_t kClip = 16, kGrow = 32, kAsk = 4;

template <typename T>
std::vector<T> cropRows(const T* src, int srcStride, int x0, int y0, int w, int h, int dstStride,
                        int bytesPerPixel) {
  std::vector<T> out(static_cast<size_t>(dstStride) * h, 0);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.data() + static_cast<size_t>(y) * dstStride,
                src + static_cast<size_t>(y0 + y) * srcStride + x0 * bytesPerPixel,
                static_cast<size_t>(w) * bytesPerPixel);
  return out;
}

}  // namespace

bool clipFrameToScreen(Frame& f, int width, int height) {
  int x0 = std::max(0, f.left), y0 = std::max(0, f.top);
  int x1 = std::min(width, f.left + f.width), y1 = std::min(height, f.top + f.height);
  if (x0 == f.left && y0 == f.top && x1 == f.left + f.width && y1 == f.top + f.height) return true;
  try {
    if (x1 <= x0 || y1 <= y0) {
      // Nothing of it shows: one transparent pixel keeps its place and timing.
      std::unique_ptr<Bitmap> dib;
      if (f.dib) {
        dib = createBitmap(1, 1, nullptr);
        if (!dib) throw std::bad_alloc();
      }
      bool rgb = !f.rgb.empty();
      if (rgb) {
        f.rgb.assign(size_t(stride24(1)), 0);
        f.alpha.assign(size_t(stride8(1)), 0);
        f.display.clear();
      }
      if (dib) {
        dib->data[0] = f.transparent() ? f.transparentIndex : 0;
        f.dib = std::move(dib);
        f.controlFlags |= 1;
        f.transparentIndex = f.dib->data[0];
      }
      f.left = f.top = 0;
      f.width = f.height = 1;
    } else {
      int w = x1 - x0, h = y1 - y0, dx = x0 - f.left, dy = y0 - f.top;
      std::unique_ptr<Bitmap> dib;
      if (f.dib) {
        dib = createBitmap(w, h, nullptr);
        if (!dib) throw std::bad_alloc();
        for (int y = 0; y < h; ++y) std::memcpy(dib->row(y), f.dib->row(dy + y) + dx, size_t(w));
      }
      std::vector<uint8_t> rgb, alpha;
      if (rgbUsable(f))
        rgb = cropRows(f.rgb.data(), stride24(f.width), dx, dy, w, h, stride24(w), 3);
      if (usableAlpha(f))
        alpha = cropRows(f.alpha.data(), stride8(f.width), dx, dy, w, h, stride8(w), 1);
      if (dib) f.dib = std::move(dib);
      f.rgb = std::move(rgb);
      f.alpha = std::move(alpha);
      f.display.clear();
      f.left = x0;
      f.top = y0;
      f.width = w;
      f.height = h;
    }
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryFrameImage));
    return false;
  }
  refreshFrameColours(f, f.localPalette ? nullptr : f.palette());
  return true;
}

int insertAnimations(Animation& target, std::unique_ptr<Animation>& sources, int position,
                     MergeChooser* chooser, Progress* progress, const MergeOptions& options) {
  if (!sources) return 1;
  // The conflict is a new frame reaching past the screen; growing takes the
  // largest of the new animations' screens (and of their frames' extents).
  int newWidth = 0, newHeight = 0, reachX = 0, reachY = 0;
  for (Animation* s = sources.get(); s; s = s->nextAnimation.get()) {
    Extent e = frameExtent(*s);
    reachX = std::max(reachX, e.width);
    reachY = std::max(reachY, e.height);
    newWidth = std::max({newWidth, s->width, e.width});
    newHeight = std::max({newHeight, s->height, e.height});
  }
  const int oldWidth = target.width, oldHeight = target.height;
  const int oldCount = target.frameCount();
  if (!firstFrame(target)) {
    target.width = std::max(target.width, newWidth);
    target.height = std::max(target.height, newHeight);
  } else if (reachX > target.width || reachY > target.height) {
    uint32_t rule = options.sizeRule;
    bool storedGrow = (rule & kGrow) || !(rule & kClip);
    bool grow = storedGrow;
    if (rule & kAsk) {
      grow = true;  // no one to ask: the recommended answer
      if (chooser) {
        MergeChooser::SizeChoice c = chooser->chooseSizeConflict(storedGrow);
        if (c.size == MergeChooser::Size::Cancel) return 2;
        grow = c.size == MergeChooser::Size::Grow;
      }
    }
    if (grow) {
      target.width = std::max(target.width, newWidth);
      target.height = std::max(target.height, newHeight);
    } else {
      for (Animation* s = sources.get(); s; s = s->nextAnimation.get())
        for (Frame* f = firstFrame(*s); f; f = nextFrame(f))
          if (!clipFrameToScreen(*f, target.width, target.height)) return 0;
    }
  }

  Frame* at = position >= 0 ? frameAt(target, position) : nullptr;
  MergeRequest request;
  request.target = &target;
  request.sources = sources.get();
  request.chooser = chooser;
  request.progress = progress;
  request.options = &options;
  request.insertAfter = at ? at->prev : lastBlock(target);
  int result = runMerge(request);
  if (result != 1) {
    target.width = oldWidth;
    target.height = oldHeight;
    return result;
  }
  sources.reset();
  if (oldCount == 1 && target.frameCount() > 1) target.playCount = options.defaultPlayCount;
  target.encodedSize = -1;
  return 1;
}

}  // namespace fb
