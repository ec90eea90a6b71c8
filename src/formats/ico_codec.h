// Icon (.ico) and cursor (.cur) files: a directory of images, each a DIB with
// its AND mask or an embedded PNG. PNG images are handed over as bytes: the
// caller decodes and encodes them with its PNG reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

class PixelBudget;

struct IconEntry {
  Picture picture;           // a DIB image (its hot spot for cursors)
  std::vector<uint8_t> png;  // or an embedded PNG, when not empty
  int hotspotX = -1, hotspotY = -1;
  int width = 0, height = 0;  // as the directory says (256 for 0)
};

struct IconFile {
  bool cursor = false;
  std::vector<IconEntry> entries;
};

// Images that are neither a DIB nor a PNG, or lie outside the file, are damage.
CodecStatus decodeIcon(const uint8_t* data, size_t size, PixelBudget* budget, IconFile& out);

// Entries with a picture are written as DIBs, the others as their PNG bytes
// (`width` and `height` then say their size). At most 256 × 256 pixels each.
CodecStatus encodeIcon(const IconFile& icon, std::vector<uint8_t>& out);

}  // namespace fb
