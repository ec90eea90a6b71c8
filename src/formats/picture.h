// A neutral picture for the still-image and icon codecs: what a file holds,
// with no document in sight. Codecs decode into it and encode from it; the
// adapters beside them turn pictures into frames and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "document/palette.h"

namespace fb {

class PixelBudget;

struct Picture {
  int width = 0;
  int height = 0;
  int left = 0, top = 0;  // place on a larger canvas (layers)
  // Indexed: one byte per pixel into `palette`; else R, G, B, A per pixel.
  // Rows are top-down and tightly packed.
  bool indexed = false;
  std::vector<uint8_t> pixels;
  std::vector<Rgb> palette;   // indexed only; up to 256 entries
  int transparentIndex = -1;  // indexed only; -1 none
  bool hasAlpha = false;      // true colour: whether A says anything (else all 255)
  int hotspotX = -1, hotspotY = -1;
  int delay = -1;  // hundredths of a second; -1: none (a still picture)
  std::string name;

  size_t pixelBytes() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * (indexed ? 1 : 4);
  }
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * width * (indexed ? 1 : 4); }
  const uint8_t* row(int y) const {
    return pixels.data() + static_cast<size_t>(y) * width * (indexed ? 1 : 4);
  }
};

// What went wrong in a codec; the adapters turn it into the message.
enum class CodecStatus {
  Ok,
  Corrupt,      // damaged, truncated or inconsistent data
  Unsupported,  // a valid file using something this program does not read
  TooLarge,     // beyond the pixel limit or the file's pixel budget
  NoMemory,
  WriteFailed,  // the sink refused bytes
  Cancelled,    // the user stopped it
};

// Makes room for the picture's pixels after checking its size against the
// pixel limit and `budget` (which may be null). TooLarge or NoMemory on failure.
CodecStatus allocatePixels(Picture& picture, int width, int height, bool indexed,
                           PixelBudget* budget);

// Turns an indexed picture into R, G, B, A (the transparent index with alpha 0).
// False when memory runs out.
bool expandToRgba(Picture& picture);

// Gives an indexed picture transparency where `transparent[i]` is set: an
// unused palette entry becomes the transparent index; when all 256 are in use
// the picture turns true colour with alpha instead. False when memory runs out.
bool applyTransparency(Picture& picture, const std::vector<uint8_t>& transparent);

// Turns and flips the picture as an EXIF orientation (1..8) asks; others do nothing.
bool applyOrientation(Picture& picture, int orientation);

}  // namespace fb
