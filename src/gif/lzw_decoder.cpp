#include "gif/lzw_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "base/byte_source.h"

namespace fb {

static_assert(std::endian::native == std::endian::little, "words are read little-endian");

bool LzwDecoder::gather(ByteSource& src, std::vector<uint8_t>& out, size_t& used,
                        bool& terminated) {
  // The buffer keeps its size from image to image: only what it holds grows.
  used = 0;
  terminated = false;
  try {
    for (;;) {
      int len = src.readByte();
      if (len < 0) break;  // cut short
      if (len == 0) {
        terminated = true;
        break;
      }
      if (out.size() < used + 255 + 8) out.resize(std::max(2 * out.size(), used + 255 + 8));
      // An incomplete sub-block never arrived.
      if (!src.read(out.data() + used, static_cast<size_t>(len))) break;
      used += static_cast<size_t>(len);
    }
    if (out.size() < used + 8) out.resize(used + 8);  // no sub-block at all
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return true;
}

bool LzwDecoder::init(ByteSource& src, int minCodeSize) {
  size_t used = 0;
  if (!gather(src, data_, used, terminated_)) return false;
  return prepare(used, minCodeSize);
}

bool LzwDecoder::initFromGathered(std::vector<uint8_t>& data, size_t used, bool terminated,
                                  int minCodeSize) {
  if (data.size() < used + 8) return false;
  data_.swap(data);
  terminated_ = terminated;
  return prepare(used, minCodeSize);
}

bool LzwDecoder::initFromData(const uint8_t* data, size_t size, bool terminated, int minCodeSize) {
  try {
    data_.resize(size + 8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (size) std::memcpy(data_.data(), data, size);
  terminated_ = terminated;
  return prepare(size, minCodeSize);
}

bool LzwDecoder::prepare(size_t real, int minCodeSize) {
  // Room for 8 bytes past the end lets readCode load a whole word at a time.
  std::memset(data_.data() + real, 0, 8);
  uint64_t total = static_cast<uint64_t>(real) * 8;
  // The data is fetched one sub-block ahead of the code being read, so when the
  // stream was cut short a code that ends exactly at the last byte is not
  // readable; after a proper terminator it is.
  bitLimit_ = terminated_ ? total : (total > 0 ? total - 1 : 0);
  bitPos_ = 0;
  // Codes are at most 12 bits, so a larger minimum size names no decodable
  // data: nothing is read and the tables stay in bounds.
  if (minCodeSize < 0 || minCodeSize > 11) {
    minCodeSize = 2;
    bitLimit_ = 0;
  }

  initialBits_ = minCodeSize;
  clear_ = 1 << minCodeSize;
  end_ = clear_ + 1;
  resetTables();
  for (int i = 0; i < clear_ && i < kMaxCodes; ++i) {
    prefix_[i] = 0;
    suffix_[i] = static_cast<uint8_t>(i);
  }
  sp_ = 0;
  firstCall_ = true;
  status_ = 0;
  return true;
}

void LzwDecoder::resetCodes() {
  codeBits_ = initialBits_ + 1;
  nextCode_ = clear_ + 2;
  codeLimit_ = 2 * clear_;
}

void LzwDecoder::resetTables() {
  resetCodes();
  std::memset(prefix_ + clear_, 0, sizeof(prefix_[0]) * static_cast<size_t>(kMaxCodes - clear_));
  std::memset(suffix_ + clear_, 0, sizeof(suffix_[0]) * static_cast<size_t>(kMaxCodes - clear_));
}

inline int LzwDecoder::readCode() {
  if (bitPos_ + static_cast<uint64_t>(codeBits_) > bitLimit_) return kCorrupt;
  size_t byte = static_cast<size_t>(bitPos_ >> 3);
  uint32_t word;
  std::memcpy(&word, data_.data() + byte, 4);  // little-endian host
  int code = static_cast<int>((word >> (bitPos_ & 7)) & ((1u << codeBits_) - 1));
  bitPos_ += static_cast<uint64_t>(codeBits_);
  return code;
}

inline bool LzwDecoder::expand(int code) {
  int incoming = code;
  if (code >= nextCode_) {
    stack_[sp_++] = static_cast<uint8_t>(firstPixel_);
    code = prevCode_;
  }
  while (code >= clear_) {
    if (sp_ >= kStackSize - 1) return false;
    stack_[sp_++] = suffix_[code];
    code = prefix_[code];
  }
  firstPixel_ = suffix_[code];
  stack_[sp_++] = static_cast<uint8_t>(firstPixel_);
  if (nextCode_ < kMaxCodes) {
    prefix_[nextCode_] = static_cast<uint16_t>(prevCode_);
    suffix_[nextCode_] = static_cast<uint8_t>(firstPixel_);
    ++nextCode_;
    if (nextCode_ >= codeLimit_ && codeLimit_ < kMaxCodes) {
      codeLimit_ *= 2;
      ++codeBits_;
    }
  }
  prevCode_ = incoming;
  return true;
}

inline int LzwDecoder::firstCode() {
  // Some encoders write the clear code twice; a second one is not a pixel.
  int code;
  do {
    code = readCode();
    if (code < 0) return code;
  } while (code == clear_);
  // The end code here ends an image that sent no (more) pixels; any other
  // code but a literal names a string the fresh table does not hold.
  if (code == end_) return terminated_ ? kEnded : kReadFailed;
  if (code > end_) return kCorrupt;
  firstPixel_ = prevCode_ = code;
  return code;
}

int LzwDecoder::nextPixel() {
  if (firstCall_) {
    firstCall_ = false;
    return firstCode();
  }
  if (sp_ > 0) return stack_[--sp_];
  int code = readCode();
  if (code < 0) return code;
  if (code == clear_) {
    resetTables();
    sp_ = 0;
    return firstCode();
  }
  if (code == end_) return terminated_ ? kEnded : kReadFailed;
  if (!expand(code)) return kCorrupt;
  return stack_[--sp_];
}

size_t LzwDecoder::decode(uint8_t* out, size_t count) {
  size_t n = 0;
  if (count == 0) return 0;
  if (firstCall_) {
    int p = nextPixel();
    if (p < 0) {
      status_ = p;
      return 0;
    }
    out[n++] = static_cast<uint8_t>(p);
  }
  while (n < count) {
    if (sp_ > 0) {
      // Pop what is left of the last string.
      while (sp_ > 0 && n < count) out[n++] = stack_[--sp_];
      continue;
    }
    int code = readCode();
    if (code < 0) {
      status_ = code;
      return n;
    }
    if (code == clear_) {
      resetTables();
      code = firstCode();
      if (code < 0) {
        status_ = code;
        return n;
      }
      out[n++] = static_cast<uint8_t>(code);
      continue;
    }
    if (code == end_) {
      status_ = terminated_ ? kEnded : kReadFailed;
      return n;
    }
    if (code < clear_ && code < nextCode_) {
      // A literal: the commonest case, no stack needed.
      firstPixel_ = code;
      if (nextCode_ < kMaxCodes) {
        prefix_[nextCode_] = static_cast<uint16_t>(prevCode_);
        suffix_[nextCode_] = static_cast<uint8_t>(code);
        ++nextCode_;
        if (nextCode_ >= codeLimit_ && codeLimit_ < kMaxCodes) {
          codeLimit_ *= 2;
          ++codeBits_;
        }
      }
      prevCode_ = code;
      out[n++] = static_cast<uint8_t>(code);
      continue;
    }
    if (!expand(code)) {
      status_ = kCorrupt;
      return n;
    }
    size_t room = count - n;
    if (static_cast<size_t>(sp_) <= room) {
      while (sp_ > 0) out[n++] = stack_[--sp_];
    } else {
      while (n < count) out[n++] = stack_[--sp_];
    }
  }
  return n;
}

namespace {

// Moves a string of `len` bytes from earlier in the image to `dst` in 16-byte
// pieces, the buffer's slack taking what runs over. The string ends at or
// before `dst`, so no piece reads what this copy writes.
inline void copyString(uint8_t* dst, const uint8_t* src, uint32_t len) {
  uint8_t piece[16];
  std::memcpy(piece, src, 16);
  std::memcpy(dst, piece, 16);
  for (uint32_t i = 16; i < len; i += 16) {
    std::memcpy(piece, src + i, 16);
    std::memcpy(dst + i, piece, 16);
  }
}

}  // namespace

size_t LzwDecoder::decodeAll(uint8_t* out, size_t count) {
  if (count == 0) return 0;
  // Where strings were written is kept in 32 bits.
  if (count > UINT32_MAX) return decode(out, count);
  int code = nextPixel();
  if (code < 0) {
    status_ = code;
    return 0;
  }
  out[0] = static_cast<uint8_t>(code);
  size_t n = 1;

  // Each code's string as its first eight pixels in one word, its length and
  // where in the image it was written before (a literal, one pixel, needs no
  // place). Strings of up to eight pixels come from the word alone, so the
  // output just written is rarely read back. The clear and end codes have
  // length 0, so one test sends them, and codes the table does not hold yet,
  // off the common path.
  // (The tables are reached through the decoder itself: it keeps registers free.)
  // A code's length, prefix (only for the general path) and place share one
  // word: one store a code fewer.
  const int clear = clear_, end = end_;
  // Above 8 bits a literal's pixel is its low byte, as the tables make it.
  for (int c = 0; c < clear; ++c) {
    meta_[c] = 1;
    head_[c] = static_cast<uint8_t>(c);
  }
  meta_[clear] = meta_[end] = 0;

  // The state lives in locals while the loop runs and goes back to the
  // members wherever the loop stops or hands over to the general path.
  const uint8_t* const data = data_.data();
  const uint64_t bitLimit = bitLimit_;
  uint64_t bitPos = bitPos_;
  // The width grows when the next code reaches a power of two (codeLimit_).
  int codeBits = codeBits_, nextCode = nextCode_;
  uint32_t codeMask = (1u << codeBits) - 1;
  // The previous string: where, how long, its first pixels and its code.
  uint64_t prevOff = 0;
  uint32_t prevLen = 1;
  uint64_t prevHead = static_cast<uint8_t>(code);
  int prevCode = code;

  auto store = [&] {
    bitPos_ = bitPos;
    codeBits_ = codeBits;
    nextCode_ = nextCode;
    codeLimit_ = 1 << codeBits;
    prevCode_ = prevCode;
    firstPixel_ = out[prevOff];
  };
  // Anything unusual (codes beyond the table, a string cut by the end of the
  // image) continues on the general path, whose suffixes are filled in first.
  auto generalWith = [&](int c) {
    store();
    for (int k = clear + 2; k < nextCode; ++k) {
      prefix_[k] = static_cast<uint16_t>(meta_[k] >> 16);
      suffix_[k] = out[(meta_[k] >> 32) + (meta_[k] & 0xFFFF) - 1];
    }
    if (!expand(c)) {
      status_ = kCorrupt;
      return n;
    }
    while (sp_ > 0 && n < count) out[n++] = stack_[--sp_];
    return n + decode(out + n, count - n);
  };
  // The previous string's head with `pixel` after it (while it is shorter
  // than the word).
  auto extended = [&](uint64_t pixel) {
    // Shifted out of the word when the string is long already.
    const uint32_t shift = 8 * prevLen;
    const uint64_t keep = 0 - static_cast<uint64_t>(shift < 64);  // no branch: it mispredicts
    return prevHead | ((pixel << (shift & 63)) & keep);
  };
  // The previous string and `first`, the first pixel of the one just read.
  // When the table is full the spare last slot takes the write.
  auto addEntry = [&](uint64_t first) {
    meta_[nextCode] = (prevLen + 1) | static_cast<uint32_t>(prevCode) << 16 | prevOff << 32;
    head_[nextCode] = extended(first);
    if (nextCode < kMaxCodes) {
      ++nextCode;
      if (static_cast<uint32_t>(nextCode) > codeMask && codeBits < 12) {
        ++codeBits;
        codeMask = (1u << codeBits) - 1;
      }
    }
  };

  // Far enough from the end of the data that kBatch codes of the widest kind
  // fit, and from the end of the image that as many of the longest strings do
  // (each string is at most one pixel longer than any before it, so under
  // kMaxCodes), the common codes need neither check.
  constexpr int kBatch = 4;
  const uint64_t fastBits = bitLimit > 12 * kBatch ? bitLimit - 12 * kBatch + 1 : 0;  // bitPos below it
  const size_t fastCount = count > size_t{kMaxCodes} * kBatch ? count - size_t{kMaxCodes} * kBatch + 1 : 0;

  while (n < count) {
    // The table grows or the width changes when nextCode reaches `bump`.
    uint32_t bump = codeBits < 12 ? codeMask + 1 : kMaxCodes + 1;
    // One common code; false (nothing read) for any other.
    auto fastStep = [&]() {
      uint32_t word;
      std::memcpy(&word, data + (bitPos >> 3), 4);  // little-endian host
      const int c = static_cast<int>((word >> (bitPos & 7)) & codeMask);
      const uint64_t meta = meta_[c];
      uint32_t len = meta & 0xFFFF;
      uint64_t h, first;
      if (c < nextCode && len != 0) {
        h = head_[c];
        std::memcpy(out + n, &h, 8);
        if (len > 8) copyString(out + n + 8, out + (meta >> 32) + 8, len - 8);
        first = h & 0xFF;
      } else if (c == nextCode && nextCode < kMaxCodes) {
        len = prevLen + 1;
        first = prevHead & 0xFF;
        h = extended(first);
        std::memcpy(out + n, &h, 8);
        if (len > 8) {
          copyString(out + n + 8, out + prevOff + 8, prevLen - 8);
          out[n + prevLen] = static_cast<uint8_t>(prevHead);
        }
      } else {
        return false;
      }
      bitPos += static_cast<uint64_t>(codeBits);
      // addEntry with one comparison a code (against `bump`): in alternating
      // runs, calling addEntry here read about 3% slower.
      meta_[nextCode] = (prevLen + 1) | static_cast<uint32_t>(prevCode) << 16 | prevOff << 32;
      head_[nextCode] = extended(first);
      if (static_cast<uint32_t>(++nextCode) >= bump) {
        if (nextCode > kMaxCodes) {
          nextCode = kMaxCodes;  // full: the spare slot takes the next write
        } else if (codeBits < 12) {
          ++codeBits;
          codeMask = (1u << codeBits) - 1;
        }
        bump = codeBits < 12 ? codeMask + 1 : kMaxCodes + 1;
      }
      prevOff = n;
      prevLen = len;
      prevHead = h;
      prevCode = c;
      n += len;
      return true;
    };
    while (bitPos < fastBits && n < fastCount) {
      if (!fastStep() || !fastStep() || !fastStep() || !fastStep()) break;
    }
    if (n >= count) break;

    if (bitPos + static_cast<uint64_t>(codeBits) > bitLimit) {
      store();
      status_ = kCorrupt;
      return n;
    }
    uint32_t word;
    std::memcpy(&word, data + (bitPos >> 3), 4);  // little-endian host
    code = static_cast<int>((word >> (bitPos & 7)) & codeMask);
    bitPos += static_cast<uint64_t>(codeBits);

    const uint64_t meta = meta_[code];
    uint32_t len = meta & 0xFFFF;
    uint64_t h;
    if (code < nextCode && len != 0) {
      if (len > count - n) return generalWith(code);
      h = head_[code];
      std::memcpy(out + n, &h, 8);
      if (len > 8) copyString(out + n + 8, out + (meta >> 32) + 8, len - 8);
      addEntry(h & 0xFF);
    } else if (code == nextCode && nextCode < kMaxCodes) {
      // The string being defined: the previous one plus its own first pixel.
      len = prevLen + 1;
      if (len > count - n) return generalWith(code);
      h = extended(prevHead & 0xFF);
      std::memcpy(out + n, &h, 8);
      if (len > 8) {
        copyString(out + n + 8, out + prevOff + 8, prevLen - 8);
        out[n + prevLen] = static_cast<uint8_t>(prevHead);
      }
      addEntry(prevHead & 0xFF);
    } else if (code == clear) {
      store();
      // The prefix and suffix tables are still as the start left them:
      // only the general path writes them, and it takes over for good.
      resetCodes();
      code = firstCode();
      if (code < 0) {
        status_ = code;
        return n;
      }
      bitPos = bitPos_;
      codeBits = codeBits_;
      nextCode = nextCode_;
      codeMask = (1u << codeBits) - 1;
      out[n] = static_cast<uint8_t>(code);
      len = 1;
      h = static_cast<uint8_t>(code);
    } else if (code == end) {
      store();
      status_ = terminated_ ? kEnded : kReadFailed;
      return n;
    } else {
      return generalWith(code);
    }
    prevOff = n;
    prevLen = len;
    prevHead = h;
    prevCode = code;
    n += len;
  }
  store();
  return n;
}

}  // namespace fb
