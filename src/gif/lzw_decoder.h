// GIF LZW decoding. The image data's sub-blocks are gathered first (up to the
// zero-length terminator, or the end of the file), then decoded either pixel
// by pixel (`nextPixel`) or in bulk (`decode`); both give the same pixels and
// the same results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fb {

class ByteSource;

class LzwDecoder {
 public:
  // Results of nextPixel (a pixel is >= 0).
  static constexpr int kCorrupt = -1;    // out of data or corrupt
  static constexpr int kReadFailed = -2; // the end code came but the data was cut short
  static constexpr int kEnded = -3;      // end code reached, data properly ended

  // Reads the image data's sub-blocks from `src` (after the minimum code size
  // byte) and resets the decoder. Returns false only when memory runs out.
  bool init(ByteSource& src, int minCodeSize);
  // The same over sub-block bytes already in memory (for tests and fuzzing).
  bool initFromData(const uint8_t* data, size_t size, bool terminated, int minCodeSize);
  // Reads the image data's sub-blocks from `src` into `out`, as init does:
  // their bytes one after the other (`used` of them, with 8 more to spare),
  // `terminated` when the zero-length terminator came. False only when
  // memory runs out (`out` is then emptied).
  static bool gather(ByteSource& src, std::vector<uint8_t>& out, size_t& used, bool& terminated);
  // Takes over what gather made (the decoder's own buffer goes back in its
  // place) and resets the decoder: one thread can gather while another decodes.
  bool initFromGathered(std::vector<uint8_t>& data, size_t used, bool terminated, int minCodeSize);

  int nextPixel();

  // Writes up to `count` pixels; returns how many were written. When fewer than
  // `count`, `status()` tells why (kEnded, kCorrupt or kReadFailed).
  size_t decode(uint8_t* out, size_t count);
  int status() const { return status_; }

  // The whole image at once into one buffer: the fast path. Strings are copied
  // from where they were written before rather than rebuilt from the tables.
  // `out` must have room for `count + kSlack` bytes. Same pixels and results
  // as the other two; call it once per image, on a fresh decoder.
  static constexpr size_t kSlack = 16;
  size_t decodeAll(uint8_t* out, size_t count);

  // True when the data ended with its zero-length terminator.
  bool terminated() const { return terminated_; }

 private:
  // Pads the first `real` bytes of data_ and resets the decoder.
  bool prepare(size_t real, int minCodeSize);
  void resetTables();
  void resetCodes();  // the code width and next code only
  int readCode();
  // The first code after a clear (or at the start): a literal pixel, or a
  // negative result when the data ends or names no string.
  int firstCode();
  // Expands `code` onto the stack; false when the stack would overflow.
  bool expand(int code);

  static constexpr int kMaxCodes = 4096;
  static constexpr int kStackSize = 8192;

  std::vector<uint8_t> data_;
  bool terminated_ = false;
  uint64_t bitPos_ = 0;
  uint64_t bitLimit_ = 0;  // a code must end at or before this bit

  int initialBits_ = 0;
  int codeBits_ = 0;
  int clear_ = 0;
  int end_ = 0;
  int nextCode_ = 0;
  int codeLimit_ = 0;
  int firstPixel_ = 0;
  int prevCode_ = 0;
  bool firstCall_ = true;
  int status_ = 0;

  // One spare slot each: decodeAll writes there when the table is full.
  uint16_t prefix_[kMaxCodes + 1];
  // decodeAll: each string's length, its prefix above, and where in the
  // image it was written in the high half.
  uint64_t meta_[kMaxCodes + 1];
  uint64_t head_[kMaxCodes + 1];  // decodeAll: each string's first eight pixels
  uint8_t suffix_[kMaxCodes];
  uint8_t stack_[kStackSize];
  int sp_ = 0;
};

}  // namespace fb
