// The RIFF layer of AVI files: the header records, a writer that lays out
// streams sample by sample (with the palette in the format, empty samples
// for positions left out, and an idx1 index), and a reader of the header
// list for the values the demuxer does not pass on (scale and rate as
// stored, the stream's handler code, the format bytes).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fb {
namespace fileops {
class WriteFile;
}

namespace avi {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}
// The four characters of a code, control bytes shown as '?'.
std::string fourccText(uint32_t code);

constexpr uint32_t kVideo = fourcc("vids");
constexpr uint32_t kAudio = fourcc("auds");

// Error codes as the video library reports them (shown in hexadecimal).
namespace err {
constexpr uint32_t Unsupported = 0x80044065;
constexpr uint32_t BadFormat = 0x80044066;
constexpr uint32_t Memory = 0x80044067;
constexpr uint32_t Internal = 0x80044068;
constexpr uint32_t BadParam = 0x8004406A;
constexpr uint32_t BadSize = 0x8004406B;
constexpr uint32_t FileRead = 0x8004406D;
constexpr uint32_t FileWrite = 0x8004406E;
constexpr uint32_t FileOpen = 0x8004406F;
constexpr uint32_t Compressor = 0x80044070;
constexpr uint32_t NoCompressor = 0x80044071;
constexpr uint32_t NoData = 0x80044073;
constexpr uint32_t CantCompress = 0x80044075;
constexpr uint32_t UserAbort = 0x800440C6;
constexpr uint32_t Error = 0x800440C7;
}  // namespace err

// Bitmap compressions.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiBitfields = 3;

// Index flag of a key frame.
constexpr uint32_t kKeyFrame = 0x10;

// AVISTREAMHEADER (56 bytes in the file).
struct StreamHeader {
  uint32_t type = 0;
  uint32_t handler = 0;
  uint32_t flags = 0;
  uint16_t priority = 0;
  uint16_t language = 0;
  uint32_t initialFrames = 0;
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t suggestedBufferSize = 0;
  uint32_t quality = 0;
  uint32_t sampleSize = 0;
  int16_t frame[4] = {0, 0, 0, 0};  // left, top, right, bottom
};
constexpr size_t kStreamHeaderSize = 56;
std::vector<uint8_t> packStreamHeader(const StreamHeader& h);
bool parseStreamHeader(const uint8_t* p, size_t size, StreamHeader& h);

// BITMAPINFOHEADER (40 bytes).
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};
constexpr size_t kBitmapInfoHeaderSize = 40;
void appendBitmapInfoHeader(std::vector<uint8_t>& out, const BitmapInfoHeader& h);
bool parseBitmapInfoHeader(const uint8_t* p, size_t size, BitmapInfoHeader& h);

// WAVEFORMATEX (18 bytes, then cbSize extra bytes).
struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  std::vector<uint8_t> extra;
};
std::vector<uint8_t> packWaveFormat(const WaveFormat& w);

void putU16(std::vector<uint8_t>& out, uint32_t v);
void putU32(std::vector<uint8_t>& out, uint32_t v);
inline uint16_t getU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Writes an AVI 1.0 file. Streams are declared first; then samples are
// written in the order they are to lie in the file (the caller interleaves).
// Every call returns 0 or an error code (err::...).
//
// Streams whose sample size is 0 hold one sample per chunk at a position:
// positions left out become empty samples (zero-length chunks) so that every
// later sample keeps its time. A write at the position last written keeps the
// sample already there. Streams with a sample size hold whole samples, and
// chunks are simply appended.
class RiffWriter {
 public:
  RiffWriter();
  ~RiffWriter();  // an unfinished file is closed and deleted
  RiffWriter(const RiffWriter&) = delete;
  RiffWriter& operator=(const RiffWriter&) = delete;

  uint32_t create(const std::string& path);
  // Returns the stream's number through `index`.
  uint32_t createStream(const StreamHeader& header, int& index);
  // BITMAPINFOHEADER (+ colour table) or WAVEFORMATEX bytes.
  uint32_t setFormat(int stream, const std::vector<uint8_t>& format);
  uint32_t writeSample(int stream, int64_t position, const void* data, size_t size, bool keyFrame);
  // Audio with a sample size: `size` must hold whole samples.
  uint32_t appendSamples(int stream, const void* data, size_t size);
  // Writes the index and the final header values and closes the file.
  uint32_t finish();
  // Closes and deletes the file. False when it could not be deleted.
  bool discard();

  // The next position of a stream (its length so far).
  int64_t length(int stream) const;
  const std::string& path() const { return path_; }

 private:
  struct Stream {
    StreamHeader header;
    std::vector<uint8_t> format;
    uint32_t chunkId = 0;
    int64_t next = 0;           // next sample position
    uint32_t largest = 0;       // largest chunk
    int64_t headerOffset = -1;  // where its strh data lies in the file
  };
  struct IndexEntry {
    uint32_t id, flags, offset, size;
  };
  uint32_t writeHeaders();
  uint32_t writeChunk(Stream& s, const void* data, size_t size, uint32_t flags);
  bool fits(uint64_t more) const;

  std::unique_ptr<fileops::WriteFile> file_;
  std::string path_;
  std::vector<Stream> streams_;
  std::vector<IndexEntry> index_;
  bool headersWritten_ = false;
  bool finished_ = false;
  int64_t avihOffset_ = -1;
  int64_t moviOffset_ = -1;  // the "movi" code
};

// What the header list of an AVI file says.
struct FileHeaders {
  uint32_t microSecPerFrame = 0;
  uint32_t totalFrames = 0;
  uint32_t flags = 0;
  int32_t width = 0, height = 0;
  struct Stream {
    StreamHeader header;
    std::vector<uint8_t> format;
  };
  std::vector<Stream> streams;
};
// Reads the "hdrl" list of `path`. False when the file is not an AVI file
// or its headers are damaged.
bool readFileHeaders(const std::string& path, FileHeaders& out);

}  // namespace avi
}  // namespace fb
