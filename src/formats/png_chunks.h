// The PNG chunk layer: splitting a stream into chunks, checking CRCs, and the
// animated-PNG control chunks (acTL, fcTL, fdAT) that libpng 1.6 does not know.
// libpng only ever sees ordinary PNG streams; this layer takes animations apart
// and puts them together around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fb {

class ByteSource;

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr uint32_t chunkType(const char (&name)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(name[3]));
}
constexpr uint32_t kIHDR = chunkType("IHDR");
constexpr uint32_t kPLTE = chunkType("PLTE");
constexpr uint32_t kTRNS = chunkType("tRNS");
constexpr uint32_t kIDAT = chunkType("IDAT");
constexpr uint32_t kIEND = chunkType("IEND");
constexpr uint32_t kACTL = chunkType("acTL");
constexpr uint32_t kFCTL = chunkType("fcTL");
constexpr uint32_t kFDAT = chunkType("fdAT");
constexpr uint32_t kPANI = chunkType("pAni");

// Largest chunk length the format allows.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;

uint32_t be32(const uint8_t* p);
uint16_t be16(const uint8_t* p);
void putBe32(uint8_t* p, uint32_t v);
void putBe16(uint8_t* p, uint16_t v);
// CRC of the chunk type and data, as stored after them.
uint32_t chunkCrc(uint32_t type, const uint8_t* data, size_t length);
// A complete chunk (length, type, data, CRC) appended to `out`.
void appendChunk(std::vector<uint8_t>& out, uint32_t type, const uint8_t* data, size_t length);

// One chunk of a stream held in memory.
struct PngChunk {
  uint32_t type = 0;
  size_t offset = 0;  // of the length field within the stream buffer
  uint32_t length = 0;
  bool crcOk = false;

  size_t dataOffset() const { return offset + 8; }
  size_t rawSize() const { return static_cast<size_t>(length) + 12; }
};

// The chunks of a PNG stream after its signature, up to and including IEND.
struct PngStream {
  std::vector<uint8_t> bytes;  // everything after the signature, as read
  std::vector<PngChunk> chunks;

  const uint8_t* data(const PngChunk& c) const { return bytes.data() + c.dataOffset(); }
  const uint8_t* raw(const PngChunk& c) const { return bytes.data() + c.offset; }
};

enum class ChunkReadResult { Ok, Corrupt, OutOfMemory };

// Reads chunks until IEND. Corrupt: a truncated stream, a length beyond the
// format's limit or the source's size, a type that is not four letters, or no
// IEND. Bytes after IEND are ignored. CRCs are recorded, not enforced here.
ChunkReadResult readPngChunks(ByteSource& source, PngStream& stream);

// acTL: number of frames and plays.
struct AnimationControl {
  uint32_t frames = 0;
  uint32_t plays = 0;
};

// fcTL without its sequence number.
struct FrameControl {
  uint32_t width = 0, height = 0;
  uint32_t x = 0, y = 0;
  uint16_t delayNum = 0, delayDen = 0;
  uint8_t disposeOp = 0;  // 0 none, 1 background, 2 previous
  uint8_t blendOp = 0;    // 0 source, 1 over
};

// 26 bytes: sequence number, then the fields.
void encodeFrameControl(uint8_t out[26], uint32_t sequence, const FrameControl& fc);
void encodeAnimationControl(uint8_t out[8], const AnimationControl& ac);

// The frames of an animated PNG, as the chunk stream lays them out.
struct ApngFrame {
  FrameControl control;
  bool isDefaultImage = false;     // its data is the IDAT stream
  std::vector<size_t> dataChunks;  // indices of its fdAT chunks
};

struct ApngLayout {
  bool animated = false;  // an acTL before the image data, with a usable frame count
  uint32_t plays = 0;
  bool firstFrameHidden = false;  // the IDAT image is not part of the animation
  std::vector<ApngFrame> frames;  // animation frames in order (without a hidden default image)
  std::vector<size_t> idat;       // indices of the IDAT chunks
};

// Works out the frames of the stream; false when the animation chunks break
// the rules (order, sequence numbers, sizes, frames outside the canvas, CRCs,
// fewer frames than acTL announces). A stream without a usable acTL before
// its image data is a still picture whose animation chunks are ignored.
bool layoutApng(const PngStream& stream, uint32_t canvasWidth, uint32_t canvasHeight,
                ApngLayout& layout);

}  // namespace fb
