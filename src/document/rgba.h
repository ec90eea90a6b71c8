// Frames and composited pictures as plain RGBA bytes (straight alpha, top-down).
#pragma once

#include <cstdint>
#include <vector>

#include "document/animation.h"

namespace fb {

// The canvas picture of a FramePlayer (its rgb and alpha) as RGBA bytes.
std::vector<uint8_t> canvasToRgba(const Frame& canvas);
// A frame's own image as RGBA: its pixels through its palette (or its 24-bit
// data when it has some), transparent pixels with alpha 0.
std::vector<uint8_t> frameToRgba(const Frame& frame);

}  // namespace fb
