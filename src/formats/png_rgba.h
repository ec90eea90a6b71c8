// Plain RGBA PNG output, used to dump composited pictures and frame images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/animation.h"
#include "document/rgba.h"

namespace fb {

// Writes `rgba` (width × height × 4 bytes, top-down) as an 8-bit RGBA PNG.
bool writeRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba);

}  // namespace fb
