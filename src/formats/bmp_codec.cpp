#include "formats/bmp_codec.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <new>

#include "document/bitmap.h"
#include "formats/avi_riff.h"

namespace fb {

using avi::getU16;
using avi::getU32;
using avi::putU16;
using avi::putU32;

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5,
                   kAlphaBitfields = 6;

struct DibHeader {
  uint32_t size = 0;
  int64_t width = 0, height = 0;  // height made positive
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kRgb;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
  uint32_t masks[4] = {0, 0, 0, 0};         // red, green, blue, alpha
  size_t entrySize = 4;                     // bytes per palette entry
  size_t length = 0;                        // the header and any masks after it
  uint64_t profileAt = 0, profileSize = 0;  // an embedded colour profile, from the header
};

bool validHeaderSize(uint32_t n) {
  switch (n) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      return true;
    default:
      return false;
  }
}

CodecStatus parseHeader(const uint8_t* p, size_t avail, DibHeader& h) {
  if (avail < 12) return CodecStatus::Corrupt;
  h.size = getU32(p);
  if (!validHeaderSize(h.size) || h.size > avail) return CodecStatus::Corrupt;
  int planes;
  bool os2v2 = h.size == 16 || h.size == 64;
  if (h.size == 12) {
    h.width = getU16(p + 4);
    h.height = getU16(p + 6);
    planes = getU16(p + 8);
    h.bits = getU16(p + 10);
    h.entrySize = 3;
  } else {
    h.width = static_cast<int32_t>(getU32(p + 4));
    h.height = static_cast<int32_t>(getU32(p + 8));
    planes = getU16(p + 12);
    h.bits = getU16(p + 14);
    if (h.size >= 20) h.compression = getU32(p + 16);
    if (h.size >= 24) h.sizeImage = getU32(p + 20);
    if (h.size >= 36) h.clrUsed = getU32(p + 32);
    if (h.size >= 32) {
      // A pixel aspect ratio beyond 1000:1 is no picture anyone made.
      const int64_t xd = static_cast<int32_t>(getU32(p + 24));
      const int64_t yd = static_cast<int32_t>(getU32(p + 28));
      if (xd < 0 || yd < 0) return CodecStatus::Corrupt;
      if (xd > 0 && yd > 0 && (xd > 1000 * yd || yd > 1000 * xd)) return CodecStatus::Corrupt;
    }
  }
  h.length = h.size;
  if (h.size >= 124) {
    h.profileAt = getU32(p + 112);
    h.profileSize = getU32(p + 116);
  }
  if (h.height < 0) {
    h.topDown = true;
    h.height = -h.height;
  }
  if (h.width <= 0 || h.height <= 0 || planes != 1) return CodecStatus::Corrupt;
  // OS/2 2.x numbers its compressions differently (Huffman, RLE24).
  if (os2v2 && (h.compression == 3 || h.compression == 4)) return CodecStatus::Unsupported;
  switch (h.compression) {
    case kRgb:
      if (h.bits == 64) return CodecStatus::Unsupported;
      if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8 && h.bits != 16 &&
          h.bits != 24 && h.bits != 32)
        return CodecStatus::Corrupt;
      break;
    case kRle8:
      if (h.bits != 8) return CodecStatus::Corrupt;
      break;
    case kRle4:
      if (h.bits != 4) return CodecStatus::Corrupt;
      break;
    case kBitfields:
    case kAlphaBitfields:
      if (h.bits != 16 && h.bits != 32)
        return h.bits == 24 ? CodecStatus::Unsupported : CodecStatus::Corrupt;
      break;
    case kJpeg:
    case kPng:
      return CodecStatus::Unsupported;
    default:
      return CodecStatus::Corrupt;
  }
  if (h.topDown && (h.compression == kRle8 || h.compression == kRle4)) return CodecStatus::Corrupt;

  if (h.bits == 16) {
    h.masks[0] = 0x7C00;
    h.masks[1] = 0x03E0;
    h.masks[2] = 0x001F;
  } else if (h.bits == 32) {
    h.masks[0] = 0xFF0000;
    h.masks[1] = 0x00FF00;
    h.masks[2] = 0x0000FF;
  }
  if (h.compression == kBitfields || h.compression == kAlphaBitfields) {
    const int n = h.compression == kAlphaBitfields ? 4 : 3;
    const uint8_t* m = p + 40;
    if (h.size < 40 + 4 * size_t(n)) {
      // Masks the header has no room for follow it (all after a 40-byte
      // header, alpha after a 52-byte one).
      if (h.size < 40 || avail < 40 + 4 * size_t(n)) return CodecStatus::Corrupt;
      h.length = 40 + 4 * size_t(n);
    }
    for (int i = 0; i < n; ++i) h.masks[i] = getU32(m + 4 * i);
    if (h.size >= 56 && n == 3) h.masks[3] = getU32(m + 12);
  }
  return CodecStatus::Ok;
}

// One channel of a bit-field layout: where it lies and how many levels it has.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  uint8_t get(uint32_t v) const {
    if (!mask) return 255;
    return static_cast<uint8_t>(((v & mask) >> shift) * 255ull / max);
  }
};

// Red, green and blue need a contiguous run of bits each, no two sharing one.
bool makeChannels(const DibHeader& h, Channel (&c)[4]) {
  uint32_t seen = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t m = h.masks[i];
    if (h.bits == 16) m &= 0xFFFF;
    if (m == 0) {
      if (i < 3) return false;
      continue;
    }
    if (m & seen) return false;
    seen |= m;
    c[i].mask = m;
    c[i].shift = std::countr_zero(m);
    c[i].max = m >> c[i].shift;
    if ((c[i].max & (c[i].max + 1)) != 0) return false;
  }
  return true;
}

// The rows of an uncompressed image. `alphaFromPixels`: 32-bit icon images
// carry alpha in their fourth byte.
CodecStatus readRows(const DibHeader& h, const uint8_t* src, size_t avail, int paletteUsed,
                     bool alphaFromPixels, Picture& out) {
  const int w = out.width, ht = out.height;
  const uint64_t rowBytes = (static_cast<uint64_t>(w) * h.bits + 31) / 32 * 4;
  if (rowBytes * static_cast<uint64_t>(ht) > avail) return CodecStatus::Corrupt;
  Channel ch[4];
  if (h.bits == 16 || h.bits == 32) {
    DibHeader masks = h;
    if (alphaFromPixels && h.bits == 32 && h.compression == kRgb) masks.masks[3] = 0xFF000000;
    if (!makeChannels(masks, ch)) return CodecStatus::Corrupt;
    out.hasAlpha = ch[3].mask != 0;
  }
  for (int y = 0; y < ht; ++y) {
    const uint8_t* s = src + rowBytes * static_cast<uint64_t>(h.topDown ? y : ht - 1 - y);
    uint8_t* o = out.row(y);
    if (h.bits <= 8) {
      const int perByte = 8 / h.bits;
      const int mask = (1 << h.bits) - 1;
      for (int x = 0; x < w; ++x) {
        const int shift = 8 - h.bits * (x % perByte + 1);
        const int v = (s[x / perByte] >> shift) & mask;
        if (v >= paletteUsed) return CodecStatus::Corrupt;
        o[x] = static_cast<uint8_t>(v);
      }
      continue;
    }
    for (int x = 0; x < w; ++x, o += 4) {
      uint32_t v;
      if (h.bits == 24) {
        o[0] = s[3 * x + 2];
        o[1] = s[3 * x + 1];
        o[2] = s[3 * x];
        o[3] = 255;
        continue;
      }
      v = h.bits == 16 ? getU16(s + 2 * x) : getU32(s + 4 * x);
      o[0] = ch[0].get(v);
      o[1] = ch[1].get(v);
      o[2] = ch[2].get(v);
      o[3] = ch[3].get(v);
    }
  }
  return CodecStatus::Ok;
}

// RLE8 and RLE4: runs, escapes (end of line, end of picture, delta) and
// literal groups, bottom-up. Anything reaching past the picture is damage.
CodecStatus readRle(const DibHeader& h, const uint8_t* src, size_t avail, int paletteUsed,
                    Picture& out, std::vector<uint8_t>& unpainted) {
  const int w = out.width, ht = out.height;
  try {
    unpainted.assign(static_cast<size_t>(w) * ht, 1);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  const bool four = h.compression == kRle4;
  int64_t x = 0, y = 0;  // y counts rows from the bottom
  size_t at = 0;
  auto put = [&](int v) {
    if (v >= paletteUsed) return false;
    const size_t i = static_cast<size_t>(ht - 1 - y) * w + static_cast<size_t>(x);
    out.pixels[i] = static_cast<uint8_t>(v);
    unpainted[i] = 0;
    ++x;
    return true;
  };
  for (;;) {
    if (avail - at < 2) return CodecStatus::Corrupt;  // no end-of-picture mark
    const int n = src[at], b = src[at + 1];
    at += 2;
    if (n > 0) {
      if (y >= ht || x + n > w) return CodecStatus::Corrupt;
      for (int i = 0; i < n; ++i)
        if (!put(four ? (i % 2 ? b & 15 : b >> 4) : b)) return CodecStatus::Corrupt;
      continue;
    }
    if (b == 0) {
      x = 0;
      ++y;
    } else if (b == 1) {
      break;
    } else if (b == 2) {
      if (avail - at < 2) return CodecStatus::Corrupt;
      x += src[at];
      y += src[at + 1];
      at += 2;
      if (x > w || y > ht) return CodecStatus::Corrupt;
    } else {
      const size_t bytes = four ? (static_cast<size_t>(b) + 1) / 2 : static_cast<size_t>(b);
      const size_t padded = (bytes + 1) & ~size_t{1};
      if (avail - at < padded || y >= ht || x + b > w) return CodecStatus::Corrupt;
      for (int i = 0; i < b; ++i) {
        const uint8_t byte = src[at + (four ? i / 2 : i)];
        if (!put(four ? (i % 2 ? byte & 15 : byte >> 4) : byte)) return CodecStatus::Corrupt;
      }
      at += padded;
    }
  }
  return CodecStatus::Ok;
}

// The DIB whose header starts at `header`. `pixelsAt`: where the pixels
// start (from the file header), or 0 for right after the colour table.
CodecStatus decodeDib(const uint8_t* data, size_t size, size_t header, size_t pixelsAt, bool icon,
                      PixelBudget* budget, Picture& out) {
  out = Picture{};
  DibHeader h;
  if (header > size) return CodecStatus::Corrupt;
  CodecStatus s = parseHeader(data + header, size - header, h);
  if (s != CodecStatus::Ok) return s;
  if (icon) {
    h.height /= 2;  // the XOR image; the AND mask follows it
    if (h.height == 0 || h.topDown || h.compression == kRle4 || h.compression == kRle8)
      return CodecStatus::Corrupt;
  }
  // A stated image size beyond the file is a lie about the data.
  if (h.sizeImage > size) return CodecStatus::Corrupt;

  const bool indexed = h.bits <= 8;
  const size_t paletteAt = header + h.length;
  const uint64_t entries = indexed ? (h.clrUsed ? h.clrUsed : 1u << h.bits) : h.clrUsed;
  if (entries > (size - paletteAt) / h.entrySize) return CodecStatus::Corrupt;
  const size_t paletteEnd = paletteAt + static_cast<size_t>(entries) * h.entrySize;
  if (pixelsAt == 0) pixelsAt = paletteEnd;
  if (pixelsAt < header + h.length || pixelsAt > size) return CodecStatus::Corrupt;

  if (h.width > std::numeric_limits<int>::max() || h.height > std::numeric_limits<int>::max())
    return CodecStatus::TooLarge;
  // Within the pixel limit, uncompressed rows the file does not hold are
  // damage, found before any room is made for them.
  const bool rle = h.compression == kRle4 || h.compression == kRle8;
  if (!rle && sizeAcceptable(static_cast<int>(h.width), static_cast<int>(h.height)) &&
      (static_cast<uint64_t>(h.width) * h.bits + 31) / 32 * 4 * static_cast<uint64_t>(h.height) >
          size - pixelsAt)
    return CodecStatus::Corrupt;
  s = allocatePixels(out, static_cast<int>(h.width), static_cast<int>(h.height), indexed, budget);
  if (s != CodecStatus::Ok) return s;
  int used = 0;
  if (indexed) {
    used = static_cast<int>(std::min<uint64_t>(entries, 1u << h.bits));
    out.palette.resize(static_cast<size_t>(used));
    for (int i = 0; i < used; ++i) {
      const uint8_t* e = data + paletteAt + static_cast<size_t>(i) * h.entrySize;
      out.palette[static_cast<size_t>(i)] = Rgb{e[2], e[1], e[0]};
    }
  }

  const uint8_t* src = data + pixelsAt;
  size_t avail = size - pixelsAt;
  if (rle) {
    if (h.sizeImage) avail = std::min<size_t>(avail, h.sizeImage);
    std::vector<uint8_t> unpainted;
    s = readRle(h, src, avail, used, out, unpainted);
    if (s != CodecStatus::Ok) return s;
    return applyTransparency(out, unpainted) ? CodecStatus::Ok : CodecStatus::NoMemory;
  }
  s = readRows(h, src, avail, used, icon, out);
  if (s != CodecStatus::Ok || !icon) return s;

  // 32-bit icon images with alpha keep it; all other transparency is the AND mask.
  const size_t n = static_cast<size_t>(out.width) * out.height;
  if (out.hasAlpha) {
    bool any = false;
    for (size_t i = 0; i < n && !any; ++i) any = out.pixels[4 * i + 3] != 0;
    if (any) return CodecStatus::Ok;
    for (size_t i = 0; i < n; ++i) out.pixels[4 * i + 3] = 255;
    out.hasAlpha = false;
  }
  const uint64_t xorBytes = (static_cast<uint64_t>(out.width) * h.bits + 31) / 32 * 4 * out.height;
  const uint64_t maskRow = (static_cast<uint64_t>(out.width) + 31) / 32 * 4;
  const uint64_t maskEnd = xorBytes + maskRow * out.height;
  // A colour profile (placed from the header's start) where the mask would
  // be: the image has no mask.
  const uint64_t base = pixelsAt - header;
  if (h.profileSize && h.profileAt < base + maskEnd &&
      h.profileAt + h.profileSize > base + xorBytes)
    return CodecStatus::Ok;
  if (maskEnd > avail) {
    // Some writers leave the mask out of 32-bit images.
    return h.bits == 32 ? CodecStatus::Ok : CodecStatus::Corrupt;
  }
  std::vector<uint8_t> hidden;
  try {
    hidden.assign(n, 0);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  const uint8_t* mask = src + xorBytes;
  for (int y = 0; y < out.height; ++y) {
    const uint8_t* m = mask + maskRow * static_cast<uint64_t>(out.height - 1 - y);
    for (int x = 0; x < out.width; ++x)
      hidden[static_cast<size_t>(y) * out.width + x] = (m[x >> 3] >> (7 - (x & 7))) & 1;
  }
  return applyTransparency(out, hidden) ? CodecStatus::Ok : CodecStatus::NoMemory;
}

constexpr int32_t kPixelsPerMetre = 2835;  // 72 dots per inch

void appendHeader(std::vector<uint8_t>& out, int width, int height, int bits, uint32_t sizeImage,
                  uint32_t colours) {
  avi::BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bitCount = static_cast<uint16_t>(bits);
  h.sizeImage = sizeImage;
  h.xPelsPerMeter = h.yPelsPerMeter = kPixelsPerMetre;
  h.clrUsed = colours;
  avi::appendBitmapInfoHeader(out, h);
}

// Colours of an indexed picture, grown (black) to cover every index used.
std::vector<Rgb> coveringPalette(const Picture& p) {
  std::vector<Rgb> pal = p.palette;
  int largest = 0;
  for (uint8_t v : p.pixels) largest = std::max<int>(largest, v);
  if (pal.size() < static_cast<size_t>(largest) + 1) pal.resize(static_cast<size_t>(largest) + 1);
  if (pal.size() > 256) pal.resize(256);
  return pal;
}

void appendPalette(std::vector<uint8_t>& out, const std::vector<Rgb>& pal) {
  for (const Rgb& c : pal) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
}

// Rows bottom-up: 1-, 4- or 8-bit indices, or B, G, R (and A) from R, G, B, A pixels.
void appendRows(std::vector<uint8_t>& out, const Picture& p, int bits) {
  const size_t rowBytes = (static_cast<size_t>(p.width) * bits + 31) / 32 * 4;
  for (int y = p.height - 1; y >= 0; --y) {
    const size_t start = out.size();
    const uint8_t* s = p.row(y);
    if (bits <= 8) {
      // Indices packed from the high bits, first pixel first.
      const int perByte = 8 / bits;
      for (int x = 0; x < p.width; x += perByte) {
        uint8_t byte = 0;
        for (int k = 0; k < perByte; ++k)
          byte = static_cast<uint8_t>(byte << bits | (x + k < p.width ? s[x + k] : 0));
        out.push_back(byte);
      }
    } else {
      for (int x = 0; x < p.width; ++x, s += 4) {
        out.push_back(s[2]);
        out.push_back(s[1]);
        out.push_back(s[0]);
        if (bits == 32) out.push_back(s[3]);
      }
    }
    out.resize(start + rowBytes, 0);
  }
}

}  // namespace

CodecStatus decodeBmp(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out) {
  if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M') return CodecStatus::Corrupt;
  // A file claiming more bytes than it has was cut short.
  const uint32_t fileSize = getU32(data + 2);
  if (fileSize > size) return CodecStatus::Corrupt;
  const uint32_t offBits = getU32(data + 10);
  return decodeDib(data, size, 14, offBits, false, budget, out);
}

CodecStatus decodeIconDib(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out) {
  return decodeDib(data, size, 0, 0, true, budget, out);
}

CodecStatus encodeBmp(const Picture& picture, bool trueColour, std::vector<uint8_t>& out) {
  if (picture.width <= 0 || picture.height <= 0) return CodecStatus::Corrupt;
  try {
    Picture rgba;
    const Picture* p = &picture;
    if (picture.indexed && trueColour) {
      rgba = picture;
      if (!expandToRgba(rgba)) return CodecStatus::NoMemory;
      p = &rgba;
    }
    const std::vector<Rgb> pal = p->indexed ? coveringPalette(*p) : std::vector<Rgb>{};
    // The fewest bits that hold every index.
    const int bits = !p->indexed ? 24 : pal.size() <= 2 ? 1 : pal.size() <= 16 ? 4 : 8;
    const uint64_t rowBytes = (static_cast<uint64_t>(p->width) * bits + 31) / 32 * 4;
    const uint64_t imageBytes = rowBytes * static_cast<uint64_t>(p->height);
    const uint64_t offset = 14 + 40 + 4 * pal.size();
    if (offset + imageBytes > 0xFFFFFFFFu) return CodecStatus::TooLarge;
    out.clear();
    out.reserve(static_cast<size_t>(offset + imageBytes));
    out.push_back('B');
    out.push_back('M');
    putU32(out, static_cast<uint32_t>(offset + imageBytes));
    putU32(out, 0);
    putU32(out, static_cast<uint32_t>(offset));
    appendHeader(out, p->width, p->height, bits, static_cast<uint32_t>(imageBytes),
                 static_cast<uint32_t>(pal.size()));
    appendPalette(out, pal);
    appendRows(out, *p, bits);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

CodecStatus encodeIconDib(const Picture& p, std::vector<uint8_t>& out) {
  if (p.width <= 0 || p.height <= 0) return CodecStatus::Corrupt;
  try {
    const int bits = p.indexed ? 8 : 32;
    std::vector<Rgb> pal = p.indexed ? coveringPalette(p) : std::vector<Rgb>{};
    // Hidden pixels draw black, so that the AND mask leaves the screen as it is.
    if (p.indexed && p.transparentIndex >= 0 &&
        static_cast<size_t>(p.transparentIndex) < pal.size())
      pal[static_cast<size_t>(p.transparentIndex)] = Rgb{};
    const size_t rowBytes = (static_cast<size_t>(p.width) * bits + 31) / 32 * 4;
    const size_t maskRow = (static_cast<size_t>(p.width) + 31) / 32 * 4;
    out.clear();
    appendHeader(out, p.width, p.height * 2, bits,
                 static_cast<uint32_t>((rowBytes + maskRow) * p.height), 0);
    if (p.indexed) {
      // The full table, so that readers that ignore the colour count agree.
      pal.resize(256);
      appendPalette(out, pal);
    }
    appendRows(out, p, bits);
    for (int y = p.height - 1; y >= 0; --y) {
      const size_t start = out.size();
      out.resize(start + maskRow, 0);
      const uint8_t* s = p.row(y);
      for (int x = 0; x < p.width; ++x) {
        const bool hidden = p.indexed ? s[x] == p.transparentIndex : s[4 * x + 3] == 0;
        if (hidden) out[start + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
    }
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

}  // namespace fb
