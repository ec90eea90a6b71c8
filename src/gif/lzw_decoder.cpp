#include "gif/lzw_decoder.h"

#include <bit>
#include <cstring>
#include <new>

#include "base/byte_source.h"

namespace fb {

static_assert(std::endian::native == std::endian::little, "words are read little-endian");

bool LzwDecoder::init(ByteSource& src, int minCodeSize) {
  data_.clear();
  terminated_ = false;
  try {
    for (;;) {
      int len = src.readByte();
      if (len < 0) break;  // cut short
      if (len == 0) {
        terminated_ = true;
        break;
      }
      size_t at = data_.size();
      data_.resize(at + static_cast<size_t>(len));
      if (!src.read(data_.data() + at, static_cast<size_t>(len))) {
        data_.resize(at);  // an incomplete sub-block never arrived
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    data_.clear();
    return false;
  }
  return initFromData(nullptr, 0, terminated_, minCodeSize);
}

bool LzwDecoder::initFromData(const uint8_t* data, size_t size, bool terminated, int minCodeSize) {
  if (data) {
    try {
      data_.assign(data, data + size);
    } catch (const std::bad_alloc&) {
      return false;
    }
    terminated_ = terminated;
  }
  // Room for 8 bytes past the end lets readCode load a whole word at a time.
  size_t real = data_.size();
  data_.resize(real + 8, 0);
  uint64_t total = static_cast<uint64_t>(real) * 8;
  // The data is fetched one sub-block ahead of the code being read, so when the
  // stream was cut short a code that ends exactly at the last byte is not
  // readable; after a proper terminator it is.
  bitLimit_ = terminated_ ? total : (total > 0 ? total - 1 : 0);
  bitPos_ = 0;

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

void LzwDecoder::resetTables() {
  codeBits_ = initialBits_ + 1;
  nextCode_ = clear_ + 2;
  codeLimit_ = 2 * clear_;
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

size_t LzwDecoder::decodeAll(uint8_t* out, size_t count) {
  if (count == 0) return 0;
  size_t n = 0;
  uint32_t prevPos = 0, prevLen = 0;
  auto addEntry = [&](int first) {
    if (nextCode_ < kMaxCodes) {
      prefix_[nextCode_] = static_cast<uint16_t>(prevCode_);
      suffix_[nextCode_] = static_cast<uint8_t>(first);
      pos_[nextCode_] = prevPos;
      len_[nextCode_] = static_cast<uint16_t>(prevLen + 1);
      ++nextCode_;
      if (nextCode_ >= codeLimit_ && codeLimit_ < kMaxCodes) {
        codeLimit_ *= 2;
        ++codeBits_;
      }
    }
  };
  // Anything unusual (codes beyond the table, raw codes as first pixels, a
  // string cut by the end of the image) continues on the general path.
  auto general = [&]() { return n + decode(out + n, count - n); };
  auto generalWith = [&](int c) {
    if (!expand(c)) {
      status_ = kCorrupt;
      return n;
    }
    while (sp_ > 0 && n < count) out[n++] = stack_[--sp_];
    return general();
  };

  int code = nextPixel();
  if (code < 0) {
    status_ = code;
    return 0;
  }
  out[n++] = static_cast<uint8_t>(code);
  prevPos = 0;
  prevLen = 1;

  while (n < count) {
    code = readCode();
    if (code < 0) {
      status_ = code;
      return n;
    }
    if (code < clear_) {
      addEntry(code);
      firstPixel_ = code;
      prevCode_ = code;
      prevPos = static_cast<uint32_t>(n);
      prevLen = 1;
      out[n++] = static_cast<uint8_t>(code);
      continue;
    }
    if (code == clear_) {
      resetTables();
      code = firstCode();
      if (code < 0) {
        status_ = code;
        return n;
      }
      out[n++] = static_cast<uint8_t>(code);
      prevPos = static_cast<uint32_t>(n - 1);
      prevLen = 1;
      continue;
    }
    if (code == end_) {
      status_ = terminated_ ? kEnded : kReadFailed;
      return n;
    }
    uint32_t pos, len;
    if (code < nextCode_) {
      pos = pos_[code];
      len = len_[code];
      if (len > count - n) return generalWith(code);
      firstPixel_ = out[pos];
      addEntry(firstPixel_);
      const uint8_t* src = out + pos;
      uint8_t* dst = out + n;
      // The string lies wholly before `n`; short ones move in one or two words.
      if (len <= 8) {
        uint64_t a;
        std::memcpy(&a, src, 8);
        std::memcpy(dst, &a, 8);
      } else if (len <= 16) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + 8, &b, 8);
      } else {
        std::memcpy(dst, src, len);
      }
    } else if (code == nextCode_ && nextCode_ < kMaxCodes) {
      // The string being defined: the previous one plus its own first pixel.
      pos = prevPos;
      len = prevLen + 1;
      if (len > count - n) return generalWith(code);
      firstPixel_ = out[pos];
      addEntry(firstPixel_);
      const uint8_t* src = out + pos;
      uint8_t* dst = out + n;
      for (uint32_t i = 0; i < len; ++i) dst[i] = src[i];
    } else {
      return generalWith(code);
    }
    prevCode_ = code;
    prevPos = static_cast<uint32_t>(n);
    prevLen = len;
    n += len;
  }
  return n;
}

}  // namespace fb
