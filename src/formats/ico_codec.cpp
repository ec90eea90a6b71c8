#include "formats/ico_codec.h"

#include <algorithm>
#include <new>
#include <utility>

#include "formats/avi_riff.h"
#include "formats/bmp_codec.h"
#include "formats/png_chunks.h"

namespace fb {

using avi::getU16;
using avi::getU32;
using avi::putU16;
using avi::putU32;

namespace {

constexpr int kIconType = 1, kCursorType = 2;
constexpr size_t kDirectoryEntry = 16;

bool isPng(const uint8_t* p, size_t n) {
  return n >= 8 && std::equal(kPngSignature, kPngSignature + 8, p);
}

}  // namespace

CodecStatus decodeIcon(const uint8_t* data, size_t size, PixelBudget* budget, IconFile& out) {
  out = IconFile{};
  if (size < 6 || getU16(data) != 0) return CodecStatus::Corrupt;
  const int type = getU16(data + 2);
  if (type != kIconType && type != kCursorType) return CodecStatus::Corrupt;
  out.cursor = type == kCursorType;
  const size_t count = getU16(data + 4);
  if (count == 0 || count > (size - 6) / kDirectoryEntry) return CodecStatus::Corrupt;
  try {
    out.entries.resize(count);
    // PNG images are copied out and read one by one: entries sharing their
    // bytes would let a small file hold the same image thousands of times.
    std::vector<std::pair<uint64_t, uint64_t>> pngs;  // start, end
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* d = data + 6 + kDirectoryEntry * i;
      const uint32_t length = getU32(d + 8), offset = getU32(d + 12);
      if (offset <= size && length <= size - offset && isPng(data + offset, length))
        pngs.emplace_back(offset, uint64_t{offset} + length);
    }
    std::sort(pngs.begin(), pngs.end());
    for (size_t i = 1; i < pngs.size(); ++i)
      if (pngs[i].first < pngs[i - 1].second) return CodecStatus::Corrupt;
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* d = data + 6 + kDirectoryEntry * i;
    IconEntry& e = out.entries[i];
    e.width = d[0] ? d[0] : 256;
    e.height = d[1] ? d[1] : 256;
    if (out.cursor) {
      e.hotspotX = getU16(d + 4);
      e.hotspotY = getU16(d + 6);
    }
    const uint32_t length = getU32(d + 8), offset = getU32(d + 12);
    if (offset > size || length > size - offset || length == 0) return CodecStatus::Corrupt;
    const uint8_t* image = data + offset;
    if (isPng(image, length)) {
      try {
        e.png.assign(image, image + length);
      } catch (const std::bad_alloc&) {
        return CodecStatus::NoMemory;
      }
      continue;
    }
    CodecStatus s = decodeIconDib(image, length, budget, e.picture);
    if (s != CodecStatus::Ok) return s;
    // Hot spots beyond the picture point at nothing.
    if (out.cursor && e.hotspotX < e.picture.width && e.hotspotY < e.picture.height) {
      e.picture.hotspotX = e.hotspotX;
      e.picture.hotspotY = e.hotspotY;
    }
  }
  return CodecStatus::Ok;
}

CodecStatus encodeIcon(const IconFile& icon, std::vector<uint8_t>& out) {
  const size_t count = icon.entries.size();
  if (count == 0 || count > 0xFFFF) return CodecStatus::TooLarge;
  try {
    std::vector<std::vector<uint8_t>> images(count);
    for (size_t i = 0; i < count; ++i) {
      const IconEntry& e = icon.entries[i];
      if (!e.png.empty()) continue;
      if (e.picture.width > 256 || e.picture.height > 256) return CodecStatus::TooLarge;
      CodecStatus s = encodeIconDib(e.picture, images[i]);
      if (s != CodecStatus::Ok) return s;
    }
    out.clear();
    putU16(out, 0);
    putU16(out, icon.cursor ? kCursorType : kIconType);
    putU16(out, static_cast<uint32_t>(count));
    uint64_t offset = 6 + kDirectoryEntry * count;
    for (size_t i = 0; i < count; ++i) {
      const IconEntry& e = icon.entries[i];
      const bool png = !e.png.empty();
      const int w = png ? e.width : e.picture.width, h = png ? e.height : e.picture.height;
      if (w <= 0 || h <= 0 || w > 256 || h > 256) return CodecStatus::TooLarge;
      const size_t length = png ? e.png.size() : images[i].size();
      out.push_back(static_cast<uint8_t>(w & 0xFF));  // 256 is written as 0
      out.push_back(static_cast<uint8_t>(h & 0xFF));
      out.push_back(0);  // colour count: 0 for 256 colours and more
      out.push_back(0);
      if (icon.cursor) {
        const Picture& p = e.picture;
        const int x = png ? e.hotspotX : p.hotspotX, y = png ? e.hotspotY : p.hotspotY;
        putU16(out, static_cast<uint32_t>(x < 0 ? 0 : x));
        putU16(out, static_cast<uint32_t>(y < 0 ? 0 : y));
      } else {
        putU16(out, 1);
        putU16(out, png || !e.picture.indexed ? 32 : 8);
      }
      putU32(out, static_cast<uint32_t>(length));
      putU32(out, static_cast<uint32_t>(offset));
      offset += length;
      if (offset > 0xFFFFFFFFu) return CodecStatus::TooLarge;
    }
    for (size_t i = 0; i < count; ++i) {
      const std::vector<uint8_t>& bytes =
          icon.entries[i].png.empty() ? images[i] : icon.entries[i].png;
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

}  // namespace fb
