// Operations on frames that several commands share.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "document/animation.h"

namespace fb {

// A rectangle in pixels: its top-left corner and its size.
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// True when some frame lies partly or wholly outside the logical screen.
bool framesOutsideScreen(const Animation& animation);

// Crops every frame to the logical screen: it keeps only its part inside,
// with its position and size adjusted; a frame wholly outside becomes one
// transparent pixel at 0, 0 that keeps its delay. False when memory runs out
// (nothing is changed then).
bool clipFramesToScreen(Animation& animation);

// The same for the screen rectangle `rect`, whose corner becomes the origin:
// every frame moves by −x, −y and keeps only its part inside the rectangle.
// The screen size is the caller's. False when memory runs out (nothing changed).
bool cutFramesTo(Animation& animation, const Rect& rect);

// Crops one frame to the rectangle (in frame coordinates) x0,y0 .. x1,y1
// (half-open, inside the frame). False when memory runs out.
bool cropFrame(Frame& frame, int x0, int y0, int x1, int y1);

// A frame's new geometry and pixels, made before anything changes, so that an
// operation over many frames changes all of them or none.
struct FrameImage {
  Frame* frame = nullptr;
  int left = 0, top = 0, width = 0, height = 0;
  int hotspotX = -1, hotspotY = -1;
  std::unique_ptr<Bitmap> dib;      // null when the frame has no indexed pixels
  std::vector<uint8_t> rgb, alpha;  // empty when the frame has none
  bool pixels = false;              // the pixels above replace the frame's (else only the geometry)
  // Nothing of the frame is left to show: it becomes its one pixel made
  // transparent, still holding its place in time.
  bool hidden = false;
};

// Starts `out` for `frame`: its geometry and hot spot as they are, no pixels.
void beginFrameImage(const Frame& frame, FrameImage& out);

// Fills the pixels of a `width` × `height` image whose pixel x, y is the
// frame's pixel map(x, y) (a std::pair of coordinates inside the frame): the
// indices, the 24-bit colours and the alpha plane the frame has alike. The
// geometry is the caller's. False when memory runs out or the size is refused.
template <class Map>
bool mapFrameImage(const Frame& frame, int width, int height, Map map, FrameImage& out);

// Puts the image into its frame (cannot fail). A hidden frame becomes
// transparent at its one pixel and stops restoring to the background (which
// would now erase a visible pixel).
void commitFrameImage(FrameImage& image);

// The staged images of many frames: all or none go in.
void commitFrameImages(std::vector<FrameImage>& images);

// A one-pixel image of the frame's pixel nearest to x, y (frame coordinates)
// for a frame that has nothing left to show, at 0, 0.
bool hiddenFrameImage(const Frame& frame, int x, int y, FrameImage& out);

// ---- Implementation ----

namespace detail {
bool allocateFrameImage(const Frame& frame, int width, int height, FrameImage& out, bool& hasRgb,
                        bool& hasAlpha);
}

template <class Map>
bool mapFrameImage(const Frame& f, int width, int height, Map map, FrameImage& out) {
  bool hasRgb = false, hasAlpha = false;
  if (!detail::allocateFrameImage(f, width, height, out, hasRgb, hasAlpha)) return false;
  const int s24 = stride24(f.width), s8 = stride8(f.width);
  const int d24 = stride24(width), d8 = stride8(width);
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = out.dib ? out.dib->row(y) : nullptr;
    uint8_t* drgb = hasRgb ? out.rgb.data() + static_cast<size_t>(y) * d24 : nullptr;
    uint8_t* da = hasAlpha ? out.alpha.data() + static_cast<size_t>(y) * d8 : nullptr;
    for (int x = 0; x < width; ++x) {
      auto [sx, sy] = map(x, y);
      if (dst) dst[x] = f.dib->row(sy)[sx];
      if (drgb) {
        const uint8_t* s = f.rgb.data() + static_cast<size_t>(sy) * s24 + 3 * sx;
        drgb[3 * x] = s[0];
        drgb[3 * x + 1] = s[1];
        drgb[3 * x + 2] = s[2];
      }
      if (da) da[x] = f.alpha[static_cast<size_t>(sy) * s8 + sx];
    }
  }
  return true;
}

}  // namespace fb
