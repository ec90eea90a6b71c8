// BMP and DIB pictures: whole .bmp files, and the bare DIBs that icons and
// cursors hold (an XOR image of half the stated height followed by a 1-bit
// AND mask).
//
// Read: 1, 2, 4 and 8 bits with a palette (uncompressed, RLE4, RLE8), 16, 24
// and 32 bits (bit-field masks, default 5-5-5 and 8-8-8), bottom-up and
// top-down rows, the OS/2 1.x and 2.x and Windows 3 to 5 headers. Pixels an
// RLE image leaves unpainted are transparent.
// Write: indices with the picture's palette (in 1, 4 or 8 bits, the fewest
// that hold its colours), or 24 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

class PixelBudget;

// A .bmp file (starting with "BM").
CodecStatus decodeBmp(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out);

// An icon or cursor image: a DIB whose height counts the XOR image and the
// AND mask. Transparency comes from the alpha of 32-bit images (when any
// pixel has some) or else from the AND mask.
CodecStatus decodeIconDib(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out);

// A .bmp file: an indexed picture with its palette, unless
// `trueColour`; true colour as 24 bits (alpha is dropped).
CodecStatus encodeBmp(const Picture& picture, bool trueColour, std::vector<uint8_t>& out);

// An icon DIB: indexed pictures as 8 bits, true colour as 32 bits with
// alpha; the AND mask marks the transparent pixels.
CodecStatus encodeIconDib(const Picture& picture, std::vector<uint8_t>& out);

}  // namespace fb
