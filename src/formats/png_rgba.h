// Plain RGBA PNG output, used to dump composited pictures and frame images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/animation.h"

namespace fb {

// Writes `rgba` (width × height × 4 bytes, top-down) as an 8-bit RGBA PNG.
bool writeRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba);

// The canvas picture of a FramePlayer (its rgb and alpha) as RGBA bytes.
std::vector<uint8_t> canvasToRgba(const Frame& canvas);
// A frame's own image as RGBA: its pixels through its palette (or its 24-bit
// data when it has some), transparent pixels with alpha 0.
std::vector<uint8_t> frameToRgba(const Frame& frame);

}  // namespace fb
