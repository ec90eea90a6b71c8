// Builds PNG and animated PNG streams chunk by chunk for the reader tests,
// and takes written ones apart for the writer tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/png_chunks.h"
#include "base/byte_source.h"

namespace fbtest {

using Rows = std::vector<std::vector<uint8_t>>;

class PngBuilder {
 public:
  PngBuilder() { bytes.assign(fb::kPngSignature, fb::kPngSignature + 8); }

  PngBuilder& chunk(const char* type, const std::vector<uint8_t>& data, bool goodCrc = true) {
    uint32_t t = (uint32_t(uint8_t(type[0])) << 24) | (uint32_t(uint8_t(type[1])) << 16) |
                 (uint32_t(uint8_t(type[2])) << 8) | uint8_t(type[3]);
    size_t at = bytes.size();
    fb::appendChunk(bytes, t, data.data(), data.size());
    if (!goodCrc) bytes[at + 8 + data.size()] ^= 0xFF;
    return *this;
  }
  PngBuilder& ihdr(uint32_t w, uint32_t h, int depth, int colourType, int interlace = 0) {
    std::vector<uint8_t> d(13);
    fb::putBe32(d.data(), w);
    fb::putBe32(d.data() + 4, h);
    d[8] = uint8_t(depth);
    d[9] = uint8_t(colourType);
    d[12] = uint8_t(interlace);
    return chunk("IHDR", d);
  }
  PngBuilder& plte(const std::vector<uint8_t>& rgb) { return chunk("PLTE", rgb); }
  PngBuilder& trns(const std::vector<uint8_t>& d) { return chunk("tRNS", d); }
  // Rows of packed samples, each given a filter byte of 0, compressed.
  PngBuilder& idat(const Rows& rows) { return chunk("IDAT", deflate(rows)); }
  PngBuilder& actl(uint32_t frames, uint32_t plays) {
    std::vector<uint8_t> d(8);
    fb::putBe32(d.data(), frames);
    fb::putBe32(d.data() + 4, plays);
    return chunk("acTL", d);
  }
  PngBuilder& fctl(uint32_t seq, uint32_t w, uint32_t h, uint32_t x, uint32_t y, int num, int den,
                   int dispose = 0, int blend = 0) {
    fb::FrameControl fc;
    fc.width = w;
    fc.height = h;
    fc.x = x;
    fc.y = y;
    fc.delayNum = uint16_t(num);
    fc.delayDen = uint16_t(den);
    fc.disposeOp = uint8_t(dispose);
    fc.blendOp = uint8_t(blend);
    std::vector<uint8_t> d(26);
    fb::encodeFrameControl(d.data(), seq, fc);
    return chunk("fcTL", d);
  }
  PngBuilder& fdat(uint32_t seq, const Rows& rows) {
    std::vector<uint8_t> d(4);
    fb::putBe32(d.data(), seq);
    auto z = deflate(rows);
    d.insert(d.end(), z.begin(), z.end());
    return chunk("fdAT", d);
  }
  PngBuilder& iend() { return chunk("IEND", {}); }

  static std::vector<uint8_t> deflate(const Rows& rows) {
    std::vector<uint8_t> raw;
    for (const auto& r : rows) {
      raw.push_back(0);
      raw.insert(raw.end(), r.begin(), r.end());
    }
    uLongf n = compressBound(uLong(raw.size()));
    std::vector<uint8_t> out(n);
    compress(out.data(), &n, raw.data(), uLong(raw.size()));
    out.resize(n);
    return out;
  }

  std::vector<uint8_t> bytes;
};

// `h` rows of `w` samples, all `v`.
inline Rows solid(int w, int h, std::vector<uint8_t> pixel) {
  Rows rows(static_cast<size_t>(h));
  for (auto& r : rows)
    for (int x = 0; x < w; ++x)
      for (uint8_t v : pixel) r.push_back(v);
  return rows;
}

// Packs samples of `bits` each, most significant first.
inline std::vector<uint8_t> pack(int bits, const std::vector<int>& samples) {
  std::vector<uint8_t> out((samples.size() * size_t(bits) + 7) / 8);
  for (size_t i = 0; i < samples.size(); ++i) {
    size_t bit = i * size_t(bits);
    out[bit / 8] |= uint8_t(samples[i] << (8 - bits - int(bit % 8)));
  }
  return out;
}

// The chunks of a written PNG (after its signature).
inline fb::PngStream chunksOf(const std::vector<uint8_t>& file) {
  fb::PngStream s;
  if (file.size() < 8) return s;
  fb::MemorySource src(file.data() + 8, file.size() - 8);
  fb::readPngChunks(src, s);
  return s;
}

inline std::string typeName(uint32_t t) {
  return std::string{char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
}

// The chunk types in order, space separated.
inline std::string chunkList(const fb::PngStream& s) {
  std::string out;
  for (const auto& c : s.chunks) {
    if (!out.empty()) out.push_back(' ');
    out.append(typeName(c.type));
  }
  return out;
}

}  // namespace fbtest
