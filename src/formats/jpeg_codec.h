// JPEG pictures through libjpeg-turbo.
//
// Read: baseline and progressive; grey, RGB/YCbCr, CMYK and YCCK (Adobe's
// inverted CMYK included) into true colour; the EXIF orientation is applied.
// Write: 24-bit colour (YCbCr, colour at full resolution) at a quality of 1..100.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

class PixelBudget;

CodecStatus decodeJpeg(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out);

// Alpha is dropped; indexed pictures are written through their palette.
CodecStatus encodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>& out);

// The EXIF orientation (1..8) in an APP1 "Exif" payload, or 0 when it names none.
int exifOrientation(const uint8_t* data, size_t size);

}  // namespace fb
