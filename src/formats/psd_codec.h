// Photoshop PSD files, 8 bits per channel.
//
// Read: RGB, grey and indexed images, raw or PackBits (RLE) compressed (layers
// also zlib, with or without prediction). Each
// visible layer becomes a picture at its offset, with its transparency (the
// transparency channel, an enabled layer mask and the layer's opacity
// together); a file without layers gives its composite image.
// Write: RGB with one layer per picture (name, offset, pixels, and either a
// transparency channel or a layer mask), and the composite of all layers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

class PixelBudget;

struct PsdImage {
  int width = 0, height = 0;
  bool layered = false;           // the pictures are layers, bottom first
  std::vector<Picture> pictures;  // layers, or the one composite
};

CodecStatus decodePsd(const uint8_t* data, size_t size, PixelBudget* budget, PsdImage& out);

// `layers`: true-colour pictures placed by their left and top, bottom first.
// `layerMask`: hide pixels with a layer mask instead of a transparency channel.
CodecStatus encodePsd(const std::vector<Picture>& layers, int width, int height, bool layerMask,
                      std::vector<uint8_t>& out);

// PackBits, as PSD rows are compressed.
void packBits(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
// False when the input runs out before `size` bytes are made or a run overshoots.
bool unpackBits(const uint8_t* data, size_t size, uint8_t* out, size_t outSize);

}  // namespace fb
