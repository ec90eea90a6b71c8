#include "formats/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "base/byte_source.h"

namespace fb {

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint16_t be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void putBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void putBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

uint32_t chunkCrc(uint32_t type, const uint8_t* data, size_t length) {
  uint8_t name[4];
  putBe32(name, type);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, name, 4);
  // zlib takes lengths as uInt: feed large chunks in pieces.
  while (length > 0) {
    auto n = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
    crc = crc32(crc, data, n);
    data += n;
    length -= n;
  }
  return static_cast<uint32_t>(crc);
}

void appendChunk(std::vector<uint8_t>& out, uint32_t type, const uint8_t* data, size_t length) {
  uint8_t head[8], tail[4];
  putBe32(head, static_cast<uint32_t>(length));
  putBe32(head + 4, type);
  putBe32(tail, chunkCrc(type, data, length));
  out.insert(out.end(), head, head + 8);
  if (length) out.insert(out.end(), data, data + length);
  out.insert(out.end(), tail, tail + 4);
}

namespace {

bool isLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Reads `n` bytes onto the end of `out` without trusting `n`: when the
// source's size is unknown the buffer grows only as data actually arrives.
bool readInto(ByteSource& source, std::vector<uint8_t>& out, size_t n) {
  const size_t piece = size_t{1} << 20;
  while (n > 0) {
    size_t k = std::min(n, piece);
    size_t at = out.size();
    out.resize(at + k);
    if (!source.read(out.data() + at, k)) return false;
    n -= k;
  }
  return true;
}

}  // namespace

ChunkReadResult readPngChunks(ByteSource& source, PngStream& stream) {
  stream.bytes.clear();
  stream.chunks.clear();
  try {
    for (;;) {
      size_t at = stream.bytes.size();
      if (!readInto(source, stream.bytes, 8)) return ChunkReadResult::Corrupt;
      uint32_t length = be32(stream.bytes.data() + at);
      const uint8_t* t = stream.bytes.data() + at + 4;
      if (length > kMaxChunkLength) return ChunkReadResult::Corrupt;
      if (!isLetter(t[0]) || !isLetter(t[1]) || !isLetter(t[2]) || !isLetter(t[3]))
        return ChunkReadResult::Corrupt;
      int64_t size = source.size();
      if (size >= 0 && static_cast<int64_t>(length) + 4 > size - source.position())
        return ChunkReadResult::Corrupt;
      PngChunk c;
      c.type = be32(t);
      c.offset = at;
      c.length = length;
      if (!readInto(source, stream.bytes, static_cast<size_t>(length) + 4))
        return ChunkReadResult::Corrupt;
      const uint8_t* data = stream.bytes.data() + at + 8;
      c.crcOk = be32(data + length) == chunkCrc(c.type, data, length);
      stream.chunks.push_back(c);
      if (c.type == kIEND) return ChunkReadResult::Ok;
    }
  } catch (const std::bad_alloc&) {
    return ChunkReadResult::OutOfMemory;
  }
}

void encodeFrameControl(uint8_t out[26], uint32_t sequence, const FrameControl& fc) {
  putBe32(out, sequence);
  putBe32(out + 4, fc.width);
  putBe32(out + 8, fc.height);
  putBe32(out + 12, fc.x);
  putBe32(out + 16, fc.y);
  putBe16(out + 20, fc.delayNum);
  putBe16(out + 22, fc.delayDen);
  out[24] = fc.disposeOp;
  out[25] = fc.blendOp;
}

void encodeAnimationControl(uint8_t out[8], const AnimationControl& ac) {
  putBe32(out, ac.frames);
  putBe32(out + 4, ac.plays);
}

namespace {

bool parseFrameControl(const PngStream& s, const PngChunk& c, uint32_t expectedSequence,
                       uint32_t canvasWidth, uint32_t canvasHeight, FrameControl& fc) {
  if (!c.crcOk || c.length != 26) return false;
  const uint8_t* d = s.data(c);
  if (be32(d) != expectedSequence) return false;
  fc.width = be32(d + 4);
  fc.height = be32(d + 8);
  fc.x = be32(d + 12);
  fc.y = be32(d + 16);
  fc.delayNum = be16(d + 20);
  fc.delayDen = be16(d + 22);
  fc.disposeOp = d[24];
  fc.blendOp = d[25];
  if (fc.width == 0 || fc.height == 0) return false;
  if (uint64_t{fc.x} + fc.width > canvasWidth || uint64_t{fc.y} + fc.height > canvasHeight)
    return false;
  return fc.disposeOp <= 2 && fc.blendOp <= 1;
}

}  // namespace

bool layoutApng(const PngStream& s, uint32_t canvasWidth, uint32_t canvasHeight,
                ApngLayout& layout) {
  layout = ApngLayout{};
  size_t firstIdat = s.chunks.size();
  for (size_t i = 0; i < s.chunks.size(); ++i)
    if (s.chunks[i].type == kIDAT) {
      firstIdat = i;
      break;
    }
  // An animation announces itself with an acTL before the image data.
  size_t actl = s.chunks.size();
  for (size_t i = 0; i < firstIdat; ++i)
    if (s.chunks[i].type == kACTL) {
      actl = i;
      break;
    }
  AnimationControl ac;
  if (actl < s.chunks.size()) {
    const PngChunk& c = s.chunks[actl];
    if (!c.crcOk || c.length != 8) return false;
    ac.frames = be32(s.data(c));
    ac.plays = be32(s.data(c) + 4);
  }
  // No acTL, or one announcing no frames or more than the format allows: a
  // still picture, as other readers show it.
  bool animated = actl < s.chunks.size() && ac.frames > 0 && ac.frames <= 0x7FFFFFFF;
  for (size_t i = 0; i < s.chunks.size(); ++i)
    if (s.chunks[i].type == kIDAT) layout.idat.push_back(i);
  if (!animated) return true;

  layout.animated = true;
  layout.plays = ac.plays;
  uint32_t sequence = 0;
  bool seenIdat = false;
  bool animationAfterIdat = false;  // an fcTL or fdAT followed the image data
  bool complete = false;            // acTL's number of frames reached
  for (size_t i = 0; i < s.chunks.size(); ++i) {
    const PngChunk& c = s.chunks[i];
    if (c.type == kIDAT) {
      if (animationAfterIdat) return false;  // image data split by animation chunks
      seenIdat = true;
      continue;
    }
    if (c.type == kACTL) {
      if (i != actl) return false;  // a second acTL
      continue;
    }
    if (c.type != kFCTL && c.type != kFDAT) continue;
    if (complete) continue;  // frames beyond the announced count are not ours
    if (c.type == kFCTL) {
      if (!layout.frames.empty() && !layout.frames.back().isDefaultImage &&
          layout.frames.back().dataChunks.empty())
        return false;  // the previous frame has no data
      if (layout.frames.size() == ac.frames) {
        complete = true;
        continue;
      }
      FrameControl fc;
      if (!parseFrameControl(s, c, sequence++, canvasWidth, canvasHeight, fc)) return false;
      ApngFrame f;
      f.control = fc;
      if (!seenIdat) {
        // Control for the default image: at most one, covering the canvas.
        if (!layout.frames.empty()) return false;
        if (fc.x != 0 || fc.y != 0 || fc.width != canvasWidth || fc.height != canvasHeight)
          return false;
        f.isDefaultImage = true;
      } else {
        animationAfterIdat = true;
      }
      layout.frames.push_back(std::move(f));
      continue;
    }
    // fdAT: sequence number, then image data for the frame opened by the last fcTL.
    if (!c.crcOk || c.length < 4 || be32(s.data(c)) != sequence++) return false;
    if (!seenIdat || layout.frames.empty() || layout.frames.back().isDefaultImage) return false;
    animationAfterIdat = true;
    layout.frames.back().dataChunks.push_back(i);
  }
  if (!layout.frames.empty() && !layout.frames.back().isDefaultImage &&
      layout.frames.back().dataChunks.empty())
    return false;
  if (layout.frames.size() < ac.frames) return false;
  layout.firstFrameHidden = layout.frames.empty() || !layout.frames.front().isDefaultImage;
  return true;
}

}  // namespace fb
