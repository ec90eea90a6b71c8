#include "formats/pal_codec.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "formats/avi_riff.h"

namespace fb {

using avi::fourcc;
using avi::getU16;
using avi::getU32;
using avi::putU16;
using avi::putU32;

namespace {

constexpr size_t kMaxColours = 256;

CodecStatus decodeRiff(const uint8_t* data, size_t size, std::vector<Rgb>& out) {
  const size_t end = std::min<uint64_t>(size, uint64_t{getU32(data + 4)} + 8);
  size_t at = 12;
  while (end >= at + 8) {
    const uint32_t id = getU32(data + at), length = getU32(data + at + 4);
    at += 8;
    if (length > end - at) return CodecStatus::Corrupt;
    if (id == fourcc("data")) {
      if (length < 4) return CodecStatus::Corrupt;
      const size_t count = getU16(data + at + 2);
      if (count > (length - 4) / 4) return CodecStatus::Corrupt;
      if (count > kMaxColours) return CodecStatus::Unsupported;
      out.clear();
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = data + at + 4 + 4 * i;
        out.push_back(Rgb{e[0], e[1], e[2]});
      }
      return CodecStatus::Ok;
    }
    at += length + (length & 1);
  }
  return CodecStatus::Corrupt;
}

// The next line without its end (CR LF or LF); false at the end of the data.
bool nextLine(const uint8_t* data, size_t size, size_t& at, std::string& line) {
  if (at >= size) return false;
  size_t e = at;
  while (e < size && data[e] != '\n') ++e;
  line.assign(reinterpret_cast<const char*>(data + at), e - at);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  at = e < size ? e + 1 : e;
  return true;
}

// Whole non-negative numbers separated by blanks; false on anything else.
bool numbers(const std::string& line, std::vector<long>& out) {
  out.clear();
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    if (line[i] < '0' || line[i] > '9') return false;
    long v = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
      v = std::min(v * 10 + (line[i] - '0'), 1L << 20);
      ++i;
    }
    out.push_back(v);
  }
  return true;
}

CodecStatus decodeJasc(const uint8_t* data, size_t size, std::vector<Rgb>& out) {
  size_t at = 0;
  std::string line;
  std::vector<long> v;
  if (!nextLine(data, size, at, line) || line != "JASC-PAL") return CodecStatus::Corrupt;
  if (!nextLine(data, size, at, line) || line != "0100") return CodecStatus::Unsupported;
  if (!nextLine(data, size, at, line) || !numbers(line, v) || v.size() != 1)
    return CodecStatus::Corrupt;
  const size_t count = static_cast<size_t>(v[0]);
  if (count > kMaxColours) return CodecStatus::Unsupported;
  out.clear();
  for (size_t i = 0; i < count; ++i) {
    if (!nextLine(data, size, at, line) || !numbers(line, v) || v.size() != 3 || v[0] > 255 ||
        v[1] > 255 || v[2] > 255)
      return CodecStatus::Corrupt;
    out.push_back(
        Rgb{static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]), static_cast<uint8_t>(v[2])});
  }
  return CodecStatus::Ok;
}

}  // namespace

CodecStatus decodePaletteFile(const uint8_t* data, size_t size, std::vector<Rgb>& out,
                              PaletteFileKind* kind) {
  out.clear();
  if (size >= 12 && getU32(data) == fourcc("RIFF") && getU32(data + 8) == fourcc("PAL ")) {
    if (kind) *kind = PaletteFileKind::Riff;
    return decodeRiff(data, size, out);
  }
  if (kind) *kind = PaletteFileKind::Jasc;
  return decodeJasc(data, size, out);
}

void encodeRiffPalette(const std::vector<Rgb>& colours, std::vector<uint8_t>& out) {
  const size_t n = std::min(colours.size(), kMaxColours);
  const uint32_t dataLength = static_cast<uint32_t>(4 + 4 * n);
  out.clear();
  putU32(out, fourcc("RIFF"));
  putU32(out, 4 + 8 + dataLength);
  putU32(out, fourcc("PAL "));
  putU32(out, fourcc("data"));
  putU32(out, dataLength);
  putU16(out, 0x0300);
  putU16(out, static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    out.push_back(colours[i].r);
    out.push_back(colours[i].g);
    out.push_back(colours[i].b);
    out.push_back(0);
  }
}

}  // namespace fb
