#include "document/bitmap.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "base/memory.h"

namespace fb {

static_assert(std::endian::native == std::endian::little, "words are read little-endian");

bool operator==(const Palette& a, const Palette& b) {
  if (a.count != b.count) return false;
  return std::equal(a.entries.begin(), a.entries.begin() + a.count, b.entries.begin());
}

std::unique_ptr<Palette> makePalette(const Rgb* entries, int count) {
  auto p = std::unique_ptr<Palette>(new (std::nothrow) Palette);
  if (!p) return nullptr;
  p->count = std::clamp(count, 0, 256);
  if (entries) std::copy(entries, entries + p->count, p->entries.begin());
  return p;
}

std::unique_ptr<Palette> copyPalette(const Palette& src) {
  auto p = std::unique_ptr<Palette>(new (std::nothrow) Palette(src));
  return p;
}

int colourBits(int n) {
  if (n > 128) return 8;
  if (n > 64) return 7;
  if (n > 32) return 6;
  if (n > 16) return 5;
  if (n > 8) return 4;
  if (n >= 5) return 3;
  if (n >= 3) return 2;
  return 1;
}

bool sizeAcceptable(int width, int height) {
  if (width < 0 || height < 0) return false;
  return static_cast<int64_t>(width) * height <= kMaxImagePixels;
}

PixelBudget::PixelBudget(int64_t fileSize) {
  constexpr int64_t kFloor = int64_t{1} << 26;
  constexpr int64_t kPerByte = 256;
  undeliveredLeft_ = fileSize > kFloor / kPerByte ? fileSize * kPerByte : kFloor;
  // A quarter stays for what follows the reading (merging, showing, saving).
  memoryLeft_ = availableMemory() / 4 * 3;
}

bool PixelBudget::take(int64_t pixels, int64_t delivered, int64_t bytes) {
  int64_t undelivered = pixels - std::clamp<int64_t>(delivered, 0, pixels);
  if (pixels < 0 || bytes < 0 || undelivered > undeliveredLeft_ || bytes > memoryLeft_)
    return false;
  undeliveredLeft_ -= undelivered;
  memoryLeft_ -= bytes;
  return true;
}

namespace {

// A bitmap's size and colour table, without its pixels yet (throws when
// memory runs out).
std::unique_ptr<Bitmap> bitmapShell(int width, int height, const Palette* palette) {
  auto b = std::make_unique<Bitmap>();
  b->width = width;
  b->height = height;
  b->stride = stride8(width);
  if (palette) std::copy(palette->entries.begin(), palette->entries.begin() + palette->count,
                         b->colours.begin());
  return b;
}

}  // namespace

std::unique_ptr<Bitmap> createBitmap(int width, int height, const Palette* palette) {
  if (!sizeAcceptable(width, height)) return nullptr;
  try {
    auto b = bitmapShell(width, height, palette);
    b->data.assign(static_cast<size_t>(b->stride) * static_cast<size_t>(height), 0);
    return b;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<Bitmap> createBitmapFrom(int width, int height, const Palette* palette,
                                         const std::function<const uint8_t*(int)>& row) {
  if (!sizeAcceptable(width, height)) return nullptr;
  try {
    auto b = bitmapShell(width, height, palette);
    const size_t w = static_cast<size_t>(width), pad = static_cast<size_t>(b->stride) - w;
    b->data.reserve(static_cast<size_t>(b->stride) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
      const uint8_t* src = row(y);
      b->data.insert(b->data.end(), src, src + w);
      if (pad) b->data.insert(b->data.end(), pad, 0);
    }
    return b;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<Bitmap> copyBitmap(const Bitmap& src) {
  try {
    return std::make_unique<Bitmap>(src);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace {

// Each byte's bits in the opposite order: SSE2 gathers the first pixel into
// the lowest bit, the mask keeps it in the highest.
struct ReversedBytes {
  uint8_t of[256];
  constexpr ReversedBytes() : of() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      of[i] = static_cast<uint8_t>(r);
    }
  }
};
[[maybe_unused]] constexpr ReversedBytes kReversed;

}  // namespace

std::unique_ptr<Mask> buildMask(const Bitmap& b, uint8_t transparentIndex) {
  try {
    auto m = std::make_unique<Mask>();
    m->width = b.width;
    m->height = b.height;
    m->stride = ((b.width + 31) / 32) * 4;
    m->bits.assign(static_cast<size_t>(m->stride) * static_cast<size_t>(b.height), 0);
    const uint64_t ones = 0x0101010101010101ull, low7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t pattern = ones * transparentIndex;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(transparentIndex));
#endif
    for (int y = 0; y < b.height; ++y) {
      const uint8_t* src = b.row(y);
      uint8_t* dst = m->bits.data() + static_cast<size_t>(y) * m->stride;
      int x = 0;
#if defined(__SSE2__)
      // Sixteen pixels at a time: one comparison gives their flags in a word.
      for (; x + 16 <= b.width; x += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        unsigned flags = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted)));
        dst[x >> 3] = kReversed.of[flags & 0xFF];
        dst[(x >> 3) + 1] = kReversed.of[flags >> 8];
      }
#endif
      // Eight pixels at a time: flag the bytes equal to the index, then gather
      // the flags into one mask byte, first pixel in the top bit.
      for (; x + 8 <= b.width; x += 8) {
        uint64_t v;
        std::memcpy(&v, src + x, 8);
        uint64_t t = v ^ pattern;
        uint64_t zero = ~(((t & low7) + low7) | t | low7);  // 0x80 in each zero byte
        dst[x >> 3] = static_cast<uint8_t>((((zero >> 7) & ones) * 0x8040201008040201ull) >> 56);
      }
      for (; x < b.width; ++x)
        if (src[x] == transparentIndex) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    return m;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void addIndexCounts(const Bitmap& b, int64_t* counts) {
  if (int64_t{b.width} * b.height < 4096) {
    for (int y = 0; y < b.height; ++y) {
      const uint8_t* row = b.row(y);
      for (int x = 0; x < b.width; ++x) ++counts[row[x]];
    }
    return;
  }
  // Four tables in turn: runs of one index do not wait on their own counts.
  uint32_t part[4][256] = {};
  int64_t sinceFlush = 0;
  auto flush = [&] {
    for (int i = 0; i < 256; ++i) {
      counts[i] += int64_t{part[0][i]} + part[1][i] + part[2][i] + part[3][i];
      part[0][i] = part[1][i] = part[2][i] = part[3][i] = 0;
    }
    sinceFlush = 0;
  };
  for (int y = 0; y < b.height; ++y) {
    const uint8_t* row = b.row(y);
    int x = 0;
    for (; x + 4 <= b.width; x += 4) {
      ++part[0][row[x]];
      ++part[1][row[x + 1]];
      ++part[2][row[x + 2]];
      ++part[3][row[x + 3]];
    }
    for (; x < b.width; ++x) ++part[0][row[x]];
    // The 32-bit counts are emptied long before they could overflow.
    if ((sinceFlush += b.width) >= (int64_t{1} << 30)) flush();
  }
  flush();
}

}  // namespace fb
