// GIF LZW encoding: the compress-style layout every save uses by default, and
// the smallest layout the optimizer may ask for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fb {

class ByteSink;
struct Palette;

enum class LzwLayout : uint8_t {
  // Clears exactly when the table holds 4096 codes; the code size follows the
  // palette. Every default save writes this, byte for byte.
  Standard,
  // A full table is kept while it compresses the pixels that follow better
  // than a fresh one does on the same pixels (both are run side by side and
  // the better one is kept); the caller picks the smallest code size the
  // indices need.
  Smallest,
};

// The pixels of an image as the encoder takes them: `width` bytes per row,
// rows `stride` apart, in stream order (the four passes when interlaced).
struct LzwImage {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  bool interlaced = false;
};

// Writes the minimum code size byte (`codeSize`, 2..8), the LZW data in
// sub-blocks (254 bytes in the standard layout, 255 in the smallest) and the
// zero-length terminator.
bool encodeLzw(ByteSink& sink, const LzwImage& image, int codeSize, LzwLayout layout);

// The bytes `encodeLzw` writes, counted without producing them.
int64_t lzwEncodedSize(const LzwImage& image, int codeSize, LzwLayout layout);

// Encoder runs that may change pixels on the way, each rewriting `image`'s
// pixels in place (they must be writable) so that the encoder, run on them
// afterwards in the same layout, finds longer strings.
//
// Lossy: a pixel may take the colour of a string the table already holds when
// the two colours are close (the closest of them) (`colours`: which are close enough, for the
// palette the frame is shown with). Pixels equal to `transparentIndex` (>= 0)
// are never changed and never given to another pixel. Returns the number of
// pixels changed.
class LossyColours {
 public:
  // `strength` 0 accepts nothing; larger values accept larger differences
  // (about the difference per channel).
  LossyColours(const Palette& palette, int strength);
  // How far apart two colours of the palette look (0: the same); those with
  // an error up to maxError() are close.
  int error(int a, int b) const {
    const int dr = r_[a] - r_[b], dg = g_[a] - g_[b], db = b_[a] - b_[b];
    return 2 * dr * dr + 4 * dg * dg + 3 * db * db;
  }
  int maxError() const { return maxError_; }
  // Whether the palette holds the index: one beyond it (damaged files keep
  // them) has no colour of its own to be close to.
  bool holds(int index) const { return index < count_; }

 private:
  int maxError_ = -1;
  int count_ = 0;
  int16_t r_[256] = {}, g_[256] = {}, b_[256] = {};
};
int64_t lossyLzwPass(const LzwImage& image, int codeSize, LzwLayout layout,
                     const LossyColours& colours, int transparentIndex);

// Lossless: a pixel whose `hasAlternative` byte is nonzero may be written as
// its `alternative` byte instead (both planes `alternativeStride` apart),
// where that continues a string; both must show the same. Returns the bytes
// of the encoding the pass made, as lzwEncodedSize counts them (the encoder
// run again on the result gives about the same). With `encoding`, that
// encoding is written there as encodeLzw writes it (it decodes to the pixels
// as the pass leaves them); -1 when writing it failed.
int64_t flexibleLzwPass(const LzwImage& image, int codeSize, LzwLayout layout,
                        const uint8_t* alternative, const uint8_t* hasAlternative,
                        int alternativeStride, ByteSink* encoding = nullptr);

}  // namespace fb
