#include "formats/psd_codec.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "document/bitmap.h"
#include "formats/png_chunks.h"

namespace fb {
namespace {

constexpr int kModeGrey = 1, kModeIndexed = 2, kModeRgb = 3;
constexpr int kRaw = 0, kPackBits = 1, kZip = 2, kZipPredicted = 3;
constexpr int kTransparency = -1, kUserMask = -2;
// The format's own limit on each side.
constexpr int kMaxSide = 30000;

void put16be(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void put32be(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Reads big-endian values within a range of bytes; any read past its end
// leaves the reader failed.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool ok() const { return ok_; }
  size_t left() const { return n_ - at_; }
  const uint8_t* here() const { return p_ + at_; }
  bool skip(uint64_t k) {
    if (!ok_ || k > left()) return ok_ = false;
    at_ += static_cast<size_t>(k);
    return true;
  }
  uint32_t u8() { return take(1) ? p_[at_ - 1] : 0; }
  uint32_t u16() { return take(2) ? static_cast<uint32_t>(p_[at_ - 2] << 8 | p_[at_ - 1]) : 0; }
  uint32_t u32() { return take(4) ? be32(p_ + at_ - 4) : 0; }
  int32_t i16() { return static_cast<int16_t>(u16()); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  // The next `k` bytes as a cursor of their own.
  Cursor part(uint64_t k) {
    if (!ok_ || k > left()) {
      ok_ = false;
      return Cursor(p_, 0);
    }
    Cursor c(p_ + at_, static_cast<size_t>(k));
    at_ += static_cast<size_t>(k);
    return c;
  }

 private:
  bool take(size_t k) {
    if (!ok_ || k > left()) return ok_ = false;
    at_ += k;
    return true;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

// Inflates a zlib stream into exactly `size` bytes.
bool inflateExactly(const uint8_t* data, size_t n, uint8_t* out, size_t size) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(std::min<size_t>(n, 0xFFFFFFFFu));
  z.next_out = out;
  z.avail_out = static_cast<uInt>(size);
  const int r = inflate(&z, Z_FINISH);
  const bool ok = (r == Z_STREAM_END || r == Z_BUF_ERROR || r == Z_OK) && z.avail_out == 0;
  inflateEnd(&z);
  return ok;
}

// One channel's rows (compression code, then raw, PackBits data with a
// table of row lengths, or zlib data) into `out`, `w` × `h` bytes. The
// cursor holds at least the channel.
CodecStatus readChannel(Cursor& c, int compression, int w, int h, uint8_t* out) {
  const size_t plane = static_cast<size_t>(w) * h;
  if (compression == kRaw) {
    if (c.left() < plane) return CodecStatus::Corrupt;
    std::copy(c.here(), c.here() + plane, out);
    c.skip(plane);
    return CodecStatus::Ok;
  }
  if (compression == kZip || compression == kZipPredicted) {
    // The channel's remaining bytes are one zlib stream.
    if (!inflateExactly(c.here(), c.left(), out, plane)) return CodecStatus::Corrupt;
    c.skip(c.left());
    if (compression == kZipPredicted)
      for (int y = 0; y < h; ++y)
        for (int x = 1; x < w; ++x) {
          uint8_t* row = out + static_cast<size_t>(y) * w;
          row[x] = static_cast<uint8_t>(row[x] + row[x - 1]);
        }
    return CodecStatus::Ok;
  }
  if (compression != kPackBits) return CodecStatus::Unsupported;
  Cursor counts = c.part(2 * static_cast<uint64_t>(h));
  if (!c.ok()) return CodecStatus::Corrupt;
  for (int y = 0; y < h; ++y) {
    const uint32_t n = counts.u16();
    if (n > c.left()) return CodecStatus::Corrupt;
    if (!unpackBits(c.here(), n, out + static_cast<size_t>(y) * w, static_cast<size_t>(w)))
      return CodecStatus::Corrupt;
    c.skip(n);
  }
  return CodecStatus::Ok;
}

struct ChannelInfo {
  int id = 0;
  uint32_t length = 0;
};

struct LayerRecord {
  int64_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<ChannelInfo> channels;
  int opacity = 255;
  bool visible = true;
  bool hasMask = false;
  int64_t maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
  int maskDefault = 0;
  bool maskEnabled = false;
  std::string name;
};

std::string utf8FromUtf16(Cursor c, uint32_t units) {
  std::string s;
  for (uint32_t i = 0; i < units && c.ok(); ++i) {
    uint32_t u = c.u16();
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const uint32_t lo = c.u16();
      ++i;
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
    }
    if (u == 0) break;
    if (u < 0x80) {
      s += static_cast<char>(u);
    } else if (u < 0x800) {
      s += static_cast<char>(0xC0 | u >> 6);
      s += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      s += static_cast<char>(0xE0 | u >> 12);
      s += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      s += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | u >> 18);
      s += static_cast<char>(0x80 | (u >> 12 & 0x3F));
      s += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      s += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return s;
}

CodecStatus readLayerRecord(Cursor& c, int maxChannels, LayerRecord& r) {
  r.top = c.i32();
  r.left = c.i32();
  r.bottom = c.i32();
  r.right = c.i32();
  const uint32_t count = c.u16();
  if (!c.ok() || count > static_cast<uint32_t>(maxChannels)) return CodecStatus::Corrupt;
  for (uint32_t i = 0; i < count; ++i) {
    ChannelInfo ch;
    ch.id = c.i16();
    ch.length = c.u32();
    r.channels.push_back(ch);
  }
  Cursor blend = c.part(4);
  if (!c.ok() || blend.u32() != 0x3842494D) return CodecStatus::Corrupt;  // "8BIM"
  c.skip(4);                                                              // blend mode key
  r.opacity = static_cast<int>(c.u8());
  c.skip(1);  // clipping
  const uint32_t flags = c.u8();
  r.visible = !(flags & 0x02);
  c.skip(1);
  Cursor extra = c.part(c.u32());
  if (!c.ok()) return CodecStatus::Corrupt;

  Cursor mask = extra.part(extra.u32());
  if (mask.left() >= 18) {
    r.hasMask = true;
    r.maskTop = mask.i32();
    r.maskLeft = mask.i32();
    r.maskBottom = mask.i32();
    r.maskRight = mask.i32();
    r.maskDefault = static_cast<int>(mask.u8());
    r.maskEnabled = !(mask.u8() & 0x02);
  }
  extra.part(extra.u32());  // blending ranges
  const uint32_t nameLength = extra.u8();
  Cursor name = extra.part(nameLength);
  if (!extra.ok()) return CodecStatus::Corrupt;
  r.name.assign(reinterpret_cast<const char*>(name.here()), nameLength);
  // Pascal string padded to a multiple of 4 bytes, then tagged blocks.
  extra.skip((4 - (1 + nameLength) % 4) % 4);
  while (extra.ok() && extra.left() >= 12) {
    const uint32_t signature = extra.u32();
    const uint32_t key = extra.u32();
    const uint32_t length = extra.u32();
    if (signature != 0x3842494D && signature != 0x38423634) break;  // "8BIM", "8B64"
    Cursor block = extra.part(length);
    if (!extra.ok()) break;
    if (key == 0x6C756E69) {  // "luni": the name in UTF-16
      const uint32_t units = block.u32();
      if (block.ok() && units <= block.left() / 2) r.name = utf8FromUtf16(block, units);
    }
  }
  return CodecStatus::Ok;
}

// The size of a rectangle, or -1 when it is inverted or beyond the limits.
bool rectSize(int64_t top, int64_t left, int64_t bottom, int64_t right, int& w, int& h) {
  const int64_t dw = right - left, dh = bottom - top;
  if (dw < 0 || dh < 0 || dw > kMaxSide * 10 || dh > kMaxSide * 10) return false;
  w = static_cast<int>(dw);
  h = static_cast<int>(dh);
  return true;
}

CodecStatus readLayers(Cursor& section, int mode, int maxChannels, PixelBudget* budget,
                       PsdImage& out) {
  Cursor info = section.part(section.u32());
  if (!section.ok()) return CodecStatus::Corrupt;
  if (info.left() == 0) return CodecStatus::Ok;
  const int32_t signedCount = info.i16();
  const int count = signedCount < 0 ? -signedCount : signedCount;
  if (!info.ok()) return CodecStatus::Corrupt;
  std::vector<LayerRecord> records;
  try {
    records.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  for (LayerRecord& r : records) {
    CodecStatus s = readLayerRecord(info, maxChannels, r);
    if (s != CodecStatus::Ok) return s;
  }
  const int colourChannels = mode == kModeRgb ? 3 : 1;
  for (const LayerRecord& r : records) {
    int w = 0, h = 0;
    if (!rectSize(r.top, r.left, r.bottom, r.right, w, h)) return CodecStatus::Corrupt;
    int mw = 0, mh = 0;
    if (r.hasMask && !rectSize(r.maskTop, r.maskLeft, r.maskBottom, r.maskRight, mw, mh))
      return CodecStatus::Corrupt;
    // Each channel's data lies here in record order, whether used or not.
    std::vector<Cursor> data;
    for (const ChannelInfo& ch : r.channels) {
      data.push_back(info.part(ch.length));
      if (!info.ok()) return CodecStatus::Corrupt;
    }
    // Layers wholly off the canvas show nothing.
    const bool shown = r.visible && w > 0 && h > 0 && r.left >= -kMaxSide * 10 &&
                       r.top >= -kMaxSide * 10 && r.left <= kMaxSide * 10 &&
                       r.top <= kMaxSide * 10 && r.right > 0 && r.bottom > 0 &&
                       r.left < out.width && r.top < out.height;
    if (!shown) continue;
    Picture p;
    CodecStatus s = allocatePixels(p, w, h, false, budget);
    if (s != CodecStatus::Ok) return s;
    p.left = static_cast<int>(r.left);
    p.top = static_cast<int>(r.top);
    p.name = r.name;
    std::vector<uint8_t> plane, maskPlane;
    try {
      plane.resize(static_cast<size_t>(w) * h);
    } catch (const std::bad_alloc&) {
      return CodecStatus::NoMemory;
    }
    const size_t n = static_cast<size_t>(w) * h;
    for (size_t i = 0; i < n; ++i) p.pixels[4 * i + 3] = 255;
    bool maskRead = false;
    for (size_t k = 0; k < r.channels.size(); ++k) {
      const int id = r.channels[k].id;
      if (id >= colourChannels || id < kUserMask) continue;
      Cursor& c = data[k];
      const int compression = static_cast<int>(c.u16());
      if (id == kUserMask) {
        if (!r.hasMask || mw == 0 || mh == 0) continue;
        // The mask's rectangle is its own: it counts like any picture.
        if (!sizeAcceptable(mw, mh) || (budget && !budget->take(static_cast<int64_t>(mw) * mh, 0,
                                                                static_cast<int64_t>(mw) * mh)))
          return CodecStatus::TooLarge;
        try {
          maskPlane.resize(static_cast<size_t>(mw) * mh);
        } catch (const std::bad_alloc&) {
          return CodecStatus::NoMemory;
        }
        s = readChannel(c, compression, mw, mh, maskPlane.data());
        maskRead = s == CodecStatus::Ok;
      } else {
        s = readChannel(c, compression, w, h, plane.data());
        if (s != CodecStatus::Ok) return s;
        if (id == kTransparency) {
          for (size_t i = 0; i < n; ++i) p.pixels[4 * i + 3] = plane[i];
          p.hasAlpha = true;
        } else {
          for (size_t i = 0; i < n; ++i)
            for (int j = id; j < (colourChannels == 1 ? 3 : id + 1); ++j)
              p.pixels[4 * i + static_cast<size_t>(j)] = plane[i];
        }
      }
      if (s != CodecStatus::Ok) return s;
    }
    // The mask and the opacity hide pixels as the transparency channel does.
    if (maskRead && r.maskEnabled) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t mx = r.left + x - r.maskLeft, my = r.top + y - r.maskTop;
          const int m = mx >= 0 && my >= 0 && mx < mw && my < mh
                            ? maskPlane[static_cast<size_t>(my) * mw + static_cast<size_t>(mx)]
                            : r.maskDefault;
          uint8_t& a = p.pixels[(static_cast<size_t>(y) * w + x) * 4 + 3];
          a = static_cast<uint8_t>((a * m + 127) / 255);
        }
      p.hasAlpha = true;
    }
    if (r.opacity < 255) {
      for (size_t i = 0; i < n; ++i)
        p.pixels[4 * i + 3] = static_cast<uint8_t>((p.pixels[4 * i + 3] * r.opacity + 127) / 255);
      p.hasAlpha = true;
    }
    try {
      out.pictures.push_back(std::move(p));
    } catch (const std::bad_alloc&) {
      return CodecStatus::NoMemory;
    }
  }
  out.layered = !out.pictures.empty();
  return CodecStatus::Ok;
}

CodecStatus readComposite(Cursor& c, int mode, int channels, const std::vector<Rgb>& palette,
                          int transparentIndex, int w, int h, PixelBudget* budget, Picture& p) {
  const bool indexed = mode == kModeIndexed;
  CodecStatus s = allocatePixels(p, w, h, indexed, budget);
  if (s != CodecStatus::Ok) return s;
  const int compression = static_cast<int>(c.u16());
  if (!c.ok()) return CodecStatus::Corrupt;
  // Grey and indexed read one channel; RGB three, and a fourth as
  // transparency when there are exactly four.
  const int used = mode == kModeRgb ? (channels == 4 ? 4 : 3) : 1;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<uint8_t> plane;
  try {
    plane.resize(n);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  // With PackBits every channel's row lengths come first, then all the data.
  Cursor counts(c.here(), 0);
  if (compression == kPackBits) {
    counts = c.part(2 * static_cast<uint64_t>(h) * channels);
    if (!c.ok()) return CodecStatus::Corrupt;
  } else if (compression != kRaw) {
    return CodecStatus::Unsupported;
  }
  if (indexed) {
    p.palette = palette;
    p.transparentIndex = transparentIndex;
  } else if (used < 4) {
    for (size_t i = 0; i < n; ++i) p.pixels[4 * i + 3] = 255;
  } else {
    p.hasAlpha = true;
  }
  for (int ch = 0; ch < used; ++ch) {
    if (compression == kRaw) {
      if (c.left() < n) return CodecStatus::Corrupt;
      std::copy(c.here(), c.here() + n, plane.data());
      c.skip(n);
    } else {
      for (int y = 0; y < h; ++y) {
        const uint32_t k = counts.u16();
        if (k > c.left() || !unpackBits(c.here(), k, plane.data() + static_cast<size_t>(y) * w,
                                        static_cast<size_t>(w)))
          return CodecStatus::Corrupt;
        c.skip(k);
      }
    }
    if (indexed) {
      std::copy(plane.begin(), plane.end(), p.pixels.begin());
    } else {
      for (size_t i = 0; i < n; ++i)
        for (int j = ch; j < (mode == kModeGrey ? 3 : ch + 1); ++j)
          p.pixels[4 * i + static_cast<size_t>(j)] = plane[i];
    }
  }
  return CodecStatus::Ok;
}

// Layer records are padded to an even length.
void padEven(std::vector<uint8_t>& out, size_t from) {
  if ((out.size() - from) % 2) out.push_back(0);
}

// A channel of `w` × `h` bytes as PackBits rows: the compression code, the
// row lengths, the rows.
void appendChannel(std::vector<uint8_t>& out, const std::vector<uint8_t>& plane, int w, int h) {
  put16be(out, kPackBits);
  const size_t counts = out.size();
  out.resize(out.size() + 2 * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    const size_t before = out.size();
    packBits(plane.data() + static_cast<size_t>(y) * w, static_cast<size_t>(w), out);
    const size_t n = out.size() - before;
    out[counts + 2 * static_cast<size_t>(y)] = static_cast<uint8_t>(n >> 8);
    out[counts + 2 * static_cast<size_t>(y) + 1] = static_cast<uint8_t>(n);
  }
}

void appendUtf16(std::vector<uint8_t>& out, const std::string& s, uint32_t& units) {
  units = 0;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    uint32_t u = c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) u = c & (0x3F >> extra);
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i)
      u = u << 6 | (static_cast<unsigned char>(s[i]) & 0x3F);
    if (u >= 0x10000) {
      u -= 0x10000;
      put16be(out, 0xD800 + (u >> 10));
      put16be(out, 0xDC00 + (u & 0x3FF));
      units += 2;
    } else {
      put16be(out, u);
      ++units;
    }
  }
}

void appendLayerRecord(std::vector<uint8_t>& out, const Picture& p, bool layerMask) {
  put32be(out, static_cast<uint32_t>(p.top));
  put32be(out, static_cast<uint32_t>(p.left));
  put32be(out, static_cast<uint32_t>(p.top + p.height));
  put32be(out, static_cast<uint32_t>(p.left + p.width));
  put16be(out, 4);
  // Colour first, as readers that go by position rather than by id expect.
  const int ids[4] = {0, 1, 2, layerMask ? kUserMask : kTransparency};
  for (int id : ids) {
    put16be(out, static_cast<uint32_t>(id) & 0xFFFF);
    put32be(out, 0);  // the channel's length, known once it is compressed
  }
  for (char c : std::string("8BIMnorm")) out.push_back(static_cast<uint8_t>(c));
  out.push_back(255);  // opacity
  out.push_back(0);    // clipping
  out.push_back(0);    // flags: visible
  out.push_back(0);
  const size_t extraAt = out.size();
  put32be(out, 0);
  if (layerMask) {
    put32be(out, 20);
    put32be(out, static_cast<uint32_t>(p.top));
    put32be(out, static_cast<uint32_t>(p.left));
    put32be(out, static_cast<uint32_t>(p.top + p.height));
    put32be(out, static_cast<uint32_t>(p.left + p.width));
    out.push_back(0);  // hidden outside the mask's rectangle
    out.push_back(0);  // flags: enabled, relative to the layer
    out.push_back(0);
    out.push_back(0);
  } else {
    put32be(out, 0);
  }
  put32be(out, 0);  // no blending ranges
  // The name as a Pascal string (ASCII, others as '?'), padded to 4 bytes.
  std::string ascii;
  for (unsigned char c : p.name)
    if (c < 0x80)
      ascii += static_cast<char>(c);
    else if ((c & 0xC0) != 0x80)
      ascii += '?';
  if (ascii.size() > 255) ascii.resize(255);
  out.push_back(static_cast<uint8_t>(ascii.size()));
  out.insert(out.end(), ascii.begin(), ascii.end());
  out.insert(out.end(), (4 - (1 + ascii.size()) % 4) % 4, 0);
  // The full name in UTF-16 ("luni").
  for (char c : std::string("8BIMluni")) out.push_back(static_cast<uint8_t>(c));
  const size_t lengthAt = out.size();
  put32be(out, 0);
  const size_t unitsAt = out.size();
  put32be(out, 0);
  uint32_t units = 0;
  appendUtf16(out, p.name, units);
  if ((out.size() - unitsAt) % 4) put16be(out, 0);
  putBe32(out.data() + unitsAt, units);
  putBe32(out.data() + lengthAt, static_cast<uint32_t>(out.size() - unitsAt));
  putBe32(out.data() + extraAt, static_cast<uint32_t>(out.size() - extraAt - 4));
}

// Every layer drawn "over" the one below, on a transparent canvas.
std::vector<uint8_t> composite(const std::vector<Picture>& layers, int w, int h) {
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4, 0);
  for (const Picture& p : layers) {
    for (int y = std::max(0, p.top); y < std::min(h, p.top + p.height); ++y) {
      for (int x = std::max(0, p.left); x < std::min(w, p.left + p.width); ++x) {
        const uint8_t* s = p.row(y - p.top) + 4 * static_cast<size_t>(x - p.left);
        uint8_t* d = out.data() + (static_cast<size_t>(y) * w + x) * 4;
        const int sa = s[3], da = d[3];
        const int oa = sa + da * (255 - sa) / 255;
        if (oa == 0) continue;
        for (int c = 0; c < 3; ++c)
          d[c] = static_cast<uint8_t>((s[c] * sa + d[c] * da * (255 - sa) / 255 + oa / 2) / oa);
        d[3] = static_cast<uint8_t>(oa);
      }
    }
  }
  return out;
}

}  // namespace

void packBits(const uint8_t* d, size_t n, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && d[i + run] == d[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(d[i]);
      i += run;
      continue;
    }
    // A literal group up to the next run of two or more.
    size_t k = i + 1;
    while (k < n && k - i < 128 && !(k + 1 < n && d[k] == d[k + 1])) ++k;
    out.push_back(static_cast<uint8_t>(k - i - 1));
    out.insert(out.end(), d + i, d + k);
    i = k;
  }
}

bool unpackBits(const uint8_t* d, size_t n, uint8_t* out, size_t outSize) {
  size_t i = 0, o = 0;
  while (o < outSize) {
    if (i >= n) return false;
    const int c = static_cast<int8_t>(d[i++]);
    if (c >= 0) {
      const size_t k = static_cast<size_t>(c) + 1;
      if (n - i < k || outSize - o < k) return false;
      std::copy(d + i, d + i + k, out + o);
      i += k;
      o += k;
    } else if (c != -128) {
      const size_t k = static_cast<size_t>(1 - c);
      if (i >= n || outSize - o < k) return false;
      std::fill(out + o, out + o + k, d[i++]);
      o += k;
    }
  }
  return true;
}

CodecStatus decodePsd(const uint8_t* data, size_t size, PixelBudget* budget, PsdImage& out) {
  out = PsdImage{};
  Cursor c(data, size);
  if (c.u32() != 0x38425053) return CodecStatus::Corrupt;  // "8BPS"
  const uint32_t version = c.u16();
  c.skip(6);
  const int channels = static_cast<int>(c.u16());
  const uint32_t h = c.u32(), w = c.u32();
  const uint32_t depth = c.u16(), mode = c.u16();
  if (!c.ok()) return CodecStatus::Corrupt;
  if (version == 2) return CodecStatus::Unsupported;  // the large-document variant
  if (version != 1 || channels < 1 || channels > 56 || w == 0 || h == 0 || w > kMaxSide ||
      h > kMaxSide)
    return CodecStatus::Corrupt;
  if (depth != 8 || (mode != kModeGrey && mode != kModeIndexed && mode != kModeRgb))
    return CodecStatus::Unsupported;
  if (mode == kModeRgb && channels < 3) return CodecStatus::Corrupt;
  out.width = static_cast<int>(w);
  out.height = static_cast<int>(h);

  Cursor colourData = c.part(c.u32());
  std::vector<Rgb> palette;
  if (mode == kModeIndexed) {
    if (colourData.left() < 768) return CodecStatus::Corrupt;
    palette.resize(256);
    const uint8_t* t = colourData.here();
    for (int i = 0; i < 256; ++i)
      palette[static_cast<size_t>(i)] = Rgb{t[i], t[256 + i], t[512 + i]};
  }
  Cursor resources = c.part(c.u32());
  if (!c.ok()) return CodecStatus::Corrupt;
  int transparentIndex = -1, colourCount = 256;
  while (resources.left() >= 12) {
    if (resources.u32() != 0x3842494D) break;  // "8BIM"
    const uint32_t id = resources.u16();
    const uint32_t nameLength = resources.u8();
    resources.skip(nameLength + ((nameLength + 1) % 2));
    const uint32_t length = resources.u32();
    Cursor block = resources.part(length);
    resources.skip(length % 2);
    if (!resources.ok()) break;
    if (id == 1046 && block.left() >= 2) colourCount = static_cast<int>(block.u16());
    if (id == 1047 && block.left() >= 2) transparentIndex = static_cast<int>(block.u16());
  }
  if (mode == kModeIndexed) {
    if (colourCount >= 1 && colourCount < 256) palette.resize(static_cast<size_t>(colourCount));
    if (transparentIndex >= static_cast<int>(palette.size())) transparentIndex = -1;
  }

  Cursor layers = c.part(c.u32());
  if (!c.ok()) return CodecStatus::Corrupt;
  if (mode != kModeIndexed && layers.left() > 0) {
    CodecStatus s = readLayers(layers, static_cast<int>(mode), 56, budget, out);
    if (s != CodecStatus::Ok) return s;
    if (out.layered) return CodecStatus::Ok;
  }
  try {
    out.pictures.emplace_back();
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return readComposite(c, static_cast<int>(mode), channels, palette, transparentIndex, out.width,
                       out.height, budget, out.pictures.back());
}

CodecStatus encodePsd(const std::vector<Picture>& layers, int width, int height, bool layerMask,
                      std::vector<uint8_t>& out) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || layers.empty() ||
      layers.size() > 32767)
    return CodecStatus::TooLarge;
  for (const Picture& p : layers)
    if (p.indexed || p.width > kMaxSide || p.height > kMaxSide) return CodecStatus::TooLarge;
  try {
    out.clear();
    for (char ch : std::string("8BPS")) out.push_back(static_cast<uint8_t>(ch));
    put16be(out, 1);
    out.insert(out.end(), 6, 0);
    put16be(out, 4);  // R, G, B and the composite's transparency
    put32be(out, static_cast<uint32_t>(height));
    put32be(out, static_cast<uint32_t>(width));
    put16be(out, 8);
    put16be(out, kModeRgb);
    put32be(out, 0);  // no colour mode data
    put32be(out, 0);  // no image resources

    const size_t sectionAt = out.size();
    put32be(out, 0);
    const size_t infoAt = out.size();
    put32be(out, 0);
    // Negative: the composite's fourth channel is its transparency.
    put16be(out, static_cast<uint32_t>(-static_cast<int>(layers.size())) & 0xFFFF);
    std::vector<size_t> recordAt;
    for (const Picture& p : layers) {
      recordAt.push_back(out.size());
      appendLayerRecord(out, p, layerMask);
    }
    std::vector<uint8_t> plane;
    for (size_t k = 0; k < layers.size(); ++k) {
      const Picture& p = layers[k];
      const size_t n = static_cast<size_t>(p.width) * p.height;
      plane.resize(n);
      for (int ch = 0; ch < 4; ++ch) {
        const size_t start = out.size();
        for (size_t i = 0; i < n; ++i) {
          const uint8_t v = p.pixels[4 * i + static_cast<size_t>(ch)];
          // Under a mask, hidden pixels are masked out completely.
          plane[i] = ch == 3 && layerMask ? (v ? 255 : 0) : v;
        }
        appendChannel(out, plane, p.width, p.height);
        // Even lengths keep every channel on an even offset, where some
        // readers look for it.
        if ((out.size() - start) % 2) out.push_back(0);
        putBe32(out.data() + recordAt[k] + 18 + 6 * static_cast<size_t>(ch) + 2,
                static_cast<uint32_t>(out.size() - start));
      }
    }
    padEven(out, infoAt + 4);
    // The section's length (with the 4 bytes still to come) is a 32-bit field.
    if (out.size() - sectionAt > 0xFFFFFFFFu) return CodecStatus::TooLarge;
    putBe32(out.data() + infoAt, static_cast<uint32_t>(out.size() - infoAt - 4));
    put32be(out, 0);  // no global layer mask
    putBe32(out.data() + sectionAt, static_cast<uint32_t>(out.size() - sectionAt - 4));

    // The composite: all channels' row lengths first, then their rows.
    const std::vector<uint8_t> merged = composite(layers, width, height);
    put16be(out, kPackBits);
    const size_t countsAt = out.size();
    out.resize(out.size() + 2 * 4 * static_cast<size_t>(height));
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int ch = 0; ch < 4; ++ch) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
          row[static_cast<size_t>(x)] = merged[(static_cast<size_t>(y) * width + x) * 4 + ch];
        const size_t before = out.size();
        packBits(row.data(), row.size(), out);
        const size_t at = countsAt + 2 * (static_cast<size_t>(ch) * height + y);
        const size_t n = out.size() - before;
        out[at] = static_cast<uint8_t>(n >> 8);
        out[at + 1] = static_cast<uint8_t>(n);
      }
    }
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

}  // namespace fb
