// Frame bitmaps: 8-bit indexed pixels with a 256-entry colour table, the
// 1-bit transparency mask, and the row strides of the 8- and 24-bit buffers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "document/palette.h"

namespace fb {

// Rows of 8-bit data are padded to 4 bytes, rows of 24-bit data likewise.
inline int stride8(int width) { return (width + 3) & ~3; }
inline int stride24(int width) { return (width * 3 + 3) & ~3; }

// Pixel buffers above this many pixels are refused as "out of memory": files
// may declare any size up to 65535 × 65535, far beyond what anyone animates.
constexpr int64_t kMaxImagePixels = 89478485;
bool sizeAcceptable(int width, int height);

// What reading one file may make a document hold. A frame costs the memory
// its buffers take, and all of them together stay within what the machine
// can actually give (the system's available memory, the process's limits):
// an ordinary animation reads completely however well it compresses. Pixels
// a file's data never sent (image data ended early, so the frame is mostly
// filler) cost memory without costing bytes of the file; those are bounded by
// the file's size too (256 pixels per byte, at least 64 million), which keeps
// a small hostile file declaring frame after frame of them to a few hundred
// megabytes.
class PixelBudget {
 public:
  explicit PixelBudget(int64_t fileSize);
  // Whether `bytes` more would still fit in memory (asked before decoding).
  bool fits(int64_t bytes) const { return bytes >= 0 && bytes <= memoryLeft_; }
  // A frame of `pixels` pixels, of which its data delivered `delivered`,
  // taking `bytes` of memory. False (and nothing taken) when it goes past
  // either bound.
  bool take(int64_t pixels, int64_t delivered, int64_t bytes);
  int64_t memoryLeft() const { return memoryLeft_; }
  int64_t undeliveredLeft() const { return undeliveredLeft_; }

 private:
  int64_t undeliveredLeft_;
  int64_t memoryLeft_;
};

struct Bitmap {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::array<Rgb, 256> colours{};  // colour table, black beyond the palette
  std::vector<uint8_t> data;       // top-down rows of `stride` bytes

  uint8_t* row(int y) { return data.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* row(int y) const { return data.data() + static_cast<size_t>(y) * stride; }
};

// A zero-filled bitmap whose colour table holds the palette's colours (may be
// null). Null when the size is unacceptable or memory runs out.
std::unique_ptr<Bitmap> createBitmap(int width, int height, const Palette* palette);
// A bitmap whose row y is `width` bytes from `row(y)`, written once (not
// zero-filled first). Null as createBitmap.
std::unique_ptr<Bitmap> createBitmapFrom(int width, int height, const Palette* palette,
                                         const std::function<const uint8_t*(int)>& row);
std::unique_ptr<Bitmap> copyBitmap(const Bitmap& b);

// Adds how many of the bitmap's pixels hold each index to `counts` (256).
void addIndexCounts(const Bitmap& b, int64_t* counts);

// Monochrome mask: a set bit marks a transparent pixel. Rows MSB first, padded to 4 bytes.
struct Mask {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<uint8_t> bits;

  bool transparentAt(int x, int y) const {
    return (bits[static_cast<size_t>(y) * stride + (x >> 3)] >> (7 - (x & 7))) & 1;
  }
};

// The mask of pixels equal to `transparentIndex`. Null when memory runs out.
std::unique_ptr<Mask> buildMask(const Bitmap& b, uint8_t transparentIndex);

}  // namespace fb
