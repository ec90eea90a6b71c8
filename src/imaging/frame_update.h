// Helpers shared by colour reduction and palette merging: pixel counts, the
// checks on 24-bit buffers, and replacing a frame's pixels and palette in one
// step once all the work that can fail is done (so a failure or a cancel
// leaves the document as it was).
#pragma once

#include <cstdint>
#include <memory>

#include "document/animation.h"

namespace fb {

// Pixels per index of the frame's 8-bit data; pixels equal to `skip` (-1:
// none) are not counted. Adds to `counts` (256 entries).
void countPixels(const Frame& frame, int64_t* counts, int skip);

// The frame's 24-bit buffers, when they are large enough for its size.
bool rgbUsable(const Frame& frame);
const uint8_t* usableAlpha(const Frame& frame);  // null without a usable alpha plane
// Whether some pixel's alpha is below `threshold`.
bool hasTransparentAlpha(const Frame& frame, int threshold);

struct FrameUpdate {
  explicit FrameUpdate(Frame* f = nullptr) : frame(f) {}
  Frame* frame;
  std::unique_ptr<Bitmap> dib;     // new pixels (rows of stride8), or null to keep
  std::unique_ptr<Palette> local;  // new local palette
  bool dropLocal = false;          // from now on drawn with the global palette
  bool setTransparency = false;
  bool transparent = false;
  uint8_t transparentIndex = 0;
  bool dropRgb = false;  // the 24-bit data has served its purpose
};

void applyFrameUpdate(FrameUpdate& update, Palette* global);

// Points the frame at its palette (its local one, else `global`), refreshes
// its bitmap's colour table (the display colour at a transparent index) and
// rebuilds its mask (with `rebuildMask` false only when it has none; the
// pixels and transparent index must then be those the mask was built from).
void refreshFrameColours(Frame& frame, Palette* global, bool rebuildMask = true);

}  // namespace fb
