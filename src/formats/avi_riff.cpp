#include "formats/avi_riff.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/file_ops.h"

namespace fb::avi {
namespace {

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kAviForm = fourcc("AVI ");
constexpr uint32_t kHdrl = fourcc("hdrl");
constexpr uint32_t kAvih = fourcc("avih");
constexpr uint32_t kStrl = fourcc("strl");
constexpr uint32_t kStrh = fourcc("strh");
constexpr uint32_t kStrf = fourcc("strf");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kIdx1 = fourcc("idx1");

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr size_t kAvihSize = 56;

// A RIFF file's sizes are 32-bit: the whole file must stay below 4 GiB.
constexpr uint64_t kMaxFileSize = 0xFFFFFFF0u;
// Header lists beyond this are not a plausible AVI file.
constexpr uint32_t kMaxHeaderList = 16u << 20;

uint32_t chunkIdFor(int stream, const char* two) {
  char id[5];
  std::snprintf(id, sizeof id, "%02d%c%c", stream % 100, two[0], two[1]);
  return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(id[3])) << 24;
}

}  // namespace

std::string fourccText(uint32_t code) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s;
}

void putU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> packStreamHeader(const StreamHeader& h) {
  std::vector<uint8_t> o;
  o.reserve(kStreamHeaderSize);
  putU32(o, h.type);
  putU32(o, h.handler);
  putU32(o, h.flags);
  putU16(o, h.priority);
  putU16(o, h.language);
  putU32(o, h.initialFrames);
  putU32(o, h.scale);
  putU32(o, h.rate);
  putU32(o, h.start);
  putU32(o, h.length);
  putU32(o, h.suggestedBufferSize);
  putU32(o, h.quality);
  putU32(o, h.sampleSize);
  for (int16_t v : h.frame) putU16(o, static_cast<uint16_t>(v));
  return o;
}

bool parseStreamHeader(const uint8_t* p, size_t size, StreamHeader& h) {
  // Old files end the header before the frame rectangle.
  if (size < 48) return false;
  h = StreamHeader();
  h.type = getU32(p);
  h.handler = getU32(p + 4);
  h.flags = getU32(p + 8);
  h.priority = getU16(p + 12);
  h.language = getU16(p + 14);
  h.initialFrames = getU32(p + 16);
  h.scale = getU32(p + 20);
  h.rate = getU32(p + 24);
  h.start = getU32(p + 28);
  h.length = getU32(p + 32);
  h.suggestedBufferSize = getU32(p + 36);
  h.quality = getU32(p + 40);
  h.sampleSize = getU32(p + 44);
  if (size >= 56)
    for (int i = 0; i < 4; ++i) h.frame[i] = static_cast<int16_t>(getU16(p + 48 + 2 * i));
  return true;
}

void appendBitmapInfoHeader(std::vector<uint8_t>& o, const BitmapInfoHeader& h) {
  putU32(o, h.size);
  putU32(o, static_cast<uint32_t>(h.width));
  putU32(o, static_cast<uint32_t>(h.height));
  putU16(o, h.planes);
  putU16(o, h.bitCount);
  putU32(o, h.compression);
  putU32(o, h.sizeImage);
  putU32(o, static_cast<uint32_t>(h.xPelsPerMeter));
  putU32(o, static_cast<uint32_t>(h.yPelsPerMeter));
  putU32(o, h.clrUsed);
  putU32(o, h.clrImportant);
}

bool parseBitmapInfoHeader(const uint8_t* p, size_t size, BitmapInfoHeader& h) {
  if (size < kBitmapInfoHeaderSize) return false;
  h.size = getU32(p);
  h.width = static_cast<int32_t>(getU32(p + 4));
  h.height = static_cast<int32_t>(getU32(p + 8));
  h.planes = getU16(p + 12);
  h.bitCount = getU16(p + 14);
  h.compression = getU32(p + 16);
  h.sizeImage = getU32(p + 20);
  h.xPelsPerMeter = static_cast<int32_t>(getU32(p + 24));
  h.yPelsPerMeter = static_cast<int32_t>(getU32(p + 28));
  h.clrUsed = getU32(p + 32);
  h.clrImportant = getU32(p + 36);
  return true;
}

std::vector<uint8_t> packWaveFormat(const WaveFormat& w) {
  std::vector<uint8_t> o;
  putU16(o, w.formatTag);
  putU16(o, w.channels);
  putU32(o, w.samplesPerSec);
  putU32(o, w.avgBytesPerSec);
  putU16(o, w.blockAlign);
  putU16(o, w.bitsPerSample);
  putU16(o, static_cast<uint32_t>(w.extra.size()));
  o.insert(o.end(), w.extra.begin(), w.extra.end());
  return o;
}

// ---- Writer ----

RiffWriter::RiffWriter() = default;

RiffWriter::~RiffWriter() {
  if (file_ && !finished_) discard();
}

uint32_t RiffWriter::create(const std::string& path) {
  try {
    file_ = std::make_unique<fileops::WriteFile>();
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }
  path_ = path;
  if (!file_->create(path)) {
    file_.reset();
    return err::FileOpen;
  }
  return 0;
}

uint32_t RiffWriter::createStream(const StreamHeader& header, int& index) {
  if (!file_ || headersWritten_ || streams_.size() >= 99) return err::BadParam;
  try {
    streams_.push_back(Stream{});
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }
  Stream& s = streams_.back();
  s.header = header;
  s.header.length = 0;
  index = static_cast<int>(streams_.size()) - 1;
  return 0;
}

uint32_t RiffWriter::setFormat(int stream, const std::vector<uint8_t>& format) {
  if (stream < 0 || stream >= static_cast<int>(streams_.size()) || headersWritten_)
    return err::BadParam;
  if (format.size() > kMaxHeaderList / 2) return err::BadSize;
  Stream& s = streams_[static_cast<size_t>(stream)];
  try {
    s.format = format;
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }
  if (s.header.type == kVideo) {
    BitmapInfoHeader bih;
    bool raw =
        parseBitmapInfoHeader(format.data(), format.size(), bih) && bih.compression == kBiRgb;
    s.chunkId = chunkIdFor(stream, raw ? "db" : "dc");
  } else if (s.header.type == kAudio) {
    s.chunkId = chunkIdFor(stream, "wb");
  } else {
    s.chunkId = chunkIdFor(stream, "dc");
  }
  return 0;
}

bool RiffWriter::fits(uint64_t more) const {
  uint64_t total =
      static_cast<uint64_t>(file_->written()) + more + (index_.size() + 1) * sizeof(IndexEntry) + 8;
  return total <= kMaxFileSize;
}

uint32_t RiffWriter::writeHeaders() {
  for (const Stream& s : streams_)
    if (s.format.empty()) return err::BadFormat;
  std::vector<uint8_t> h;
  putU32(h, kRiff);
  putU32(h, 0);  // patched at the end
  putU32(h, kAviForm);
  std::vector<uint8_t> hdrl;
  putU32(hdrl, kHdrl);
  putU32(hdrl, kAvih);
  putU32(hdrl, kAvihSize);
  avihOffset_ = 12 + 8 + static_cast<int64_t>(hdrl.size());
  hdrl.resize(hdrl.size() + kAvihSize, 0);  // patched at the end
  for (Stream& s : streams_) {
    std::vector<uint8_t> strl;
    putU32(strl, kStrl);
    putU32(strl, kStrh);
    putU32(strl, kStreamHeaderSize);
    s.headerOffset =
        12 + 8 + static_cast<int64_t>(hdrl.size()) + 8 + static_cast<int64_t>(strl.size());
    auto packed = packStreamHeader(s.header);
    strl.insert(strl.end(), packed.begin(), packed.end());
    putU32(strl, kStrf);
    putU32(strl, static_cast<uint32_t>(s.format.size()));
    strl.insert(strl.end(), s.format.begin(), s.format.end());
    if (s.format.size() & 1) strl.push_back(0);
    putU32(hdrl, kList);
    putU32(hdrl, static_cast<uint32_t>(strl.size()));
    hdrl.insert(hdrl.end(), strl.begin(), strl.end());
  }
  putU32(h, kList);
  putU32(h, static_cast<uint32_t>(hdrl.size()));
  h.insert(h.end(), hdrl.begin(), hdrl.end());
  putU32(h, kList);
  putU32(h, 0);  // patched at the end
  moviOffset_ = static_cast<int64_t>(h.size());
  putU32(h, kMovi);
  if (!file_->write(h.data(), h.size())) return err::FileWrite;
  headersWritten_ = true;
  return 0;
}

uint32_t RiffWriter::writeChunk(Stream& s, const void* data, size_t size, uint32_t flags) {
  if (size > 0xFFFFFFF0u) return err::BadSize;
  uint64_t padded = (static_cast<uint64_t>(size) + 1) & ~uint64_t{1};
  if (!fits(8 + padded)) return err::FileWrite;
  int64_t at = file_->written();
  uint8_t head[8];
  std::memcpy(head, &s.chunkId, 4);
  uint32_t n = static_cast<uint32_t>(size);
  head[4] = static_cast<uint8_t>(n);
  head[5] = static_cast<uint8_t>(n >> 8);
  head[6] = static_cast<uint8_t>(n >> 16);
  head[7] = static_cast<uint8_t>(n >> 24);
  if (!file_->write(head, 8)) return err::FileWrite;
  if (size > 0 && !file_->write(data, size)) return err::FileWrite;
  if (size & 1) {
    uint8_t zero = 0;
    if (!file_->write(&zero, 1)) return err::FileWrite;
  }
  try {
    index_.push_back({s.chunkId, flags, static_cast<uint32_t>(at - moviOffset_), n});
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }
  if (n > s.largest) s.largest = n;
  return 0;
}

uint32_t RiffWriter::writeSample(int stream, int64_t position, const void* data, size_t size,
                                 bool keyFrame) {
  if (!file_ || finished_ || stream < 0 || stream >= static_cast<int>(streams_.size()))
    return err::BadParam;
  Stream& s = streams_[static_cast<size_t>(stream)];
  if (s.header.sampleSize != 0) return err::BadParam;
  if (position < 0 || position >= 0x7FFFFFFF) return err::BadParam;
  if (!headersWritten_)
    if (uint32_t e = writeHeaders()) return e;
  if (position < s.next) return position == s.next - 1 ? 0 : err::BadParam;
  // Positions left out are empty samples, so that later samples keep their time.
  uint64_t gaps = static_cast<uint64_t>(position - s.next);
  if (!fits(gaps * (8 + sizeof(IndexEntry)))) return err::FileWrite;
  for (; s.next < position; ++s.next)
    if (uint32_t e = writeChunk(s, nullptr, 0, 0)) return e;
  if (uint32_t e = writeChunk(s, data, size, keyFrame ? kKeyFrame : 0)) return e;
  s.next = position + 1;
  return 0;
}

uint32_t RiffWriter::appendSamples(int stream, const void* data, size_t size) {
  if (!file_ || finished_ || stream < 0 || stream >= static_cast<int>(streams_.size()))
    return err::BadParam;
  Stream& s = streams_[static_cast<size_t>(stream)];
  if (s.header.sampleSize == 0 || size % s.header.sampleSize != 0) return err::BadParam;
  if (!headersWritten_)
    if (uint32_t e = writeHeaders()) return e;
  if (uint32_t e = writeChunk(s, data, size, kKeyFrame)) return e;
  s.next += static_cast<int64_t>(size / s.header.sampleSize);
  return 0;
}

int64_t RiffWriter::length(int stream) const {
  if (stream < 0 || stream >= static_cast<int>(streams_.size())) return 0;
  return streams_[static_cast<size_t>(stream)].next;
}

uint32_t RiffWriter::finish() {
  if (!file_ || finished_) return err::BadParam;
  if (!headersWritten_)
    if (uint32_t e = writeHeaders()) return e;
  int64_t moviEnd = file_->written();
  std::vector<uint8_t> idx;
  try {
    idx.reserve(8 + index_.size() * 16);
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }
  putU32(idx, kIdx1);
  putU32(idx, static_cast<uint32_t>(index_.size() * 16));
  for (const IndexEntry& e : index_) {
    putU32(idx, e.id);
    putU32(idx, e.flags);
    putU32(idx, e.offset);
    putU32(idx, e.size);
  }
  if (!file_->write(idx.data(), idx.size())) return err::FileWrite;
  int64_t end = file_->written();

  // The stream headers take their final lengths.
  const Stream* video = nullptr;
  uint32_t largest = 0;
  for (Stream& s : streams_) {
    s.header.length = static_cast<uint32_t>(s.next);
    s.header.suggestedBufferSize = s.largest;
    if (s.largest > largest) largest = s.largest;
    if (!video && s.header.type == kVideo) video = &s;
    auto packed = packStreamHeader(s.header);
    if (!file_->writeAt(s.headerOffset, packed.data(), packed.size())) return err::FileWrite;
  }

  std::vector<uint8_t> avih;
  uint32_t usPerFrame = 0, totalFrames = 0, maxBytes = 0;
  int32_t width = 0, height = 0;
  if (video) {
    if (video->header.rate)
      usPerFrame =
          static_cast<uint32_t>(uint64_t{1000000} * video->header.scale / video->header.rate);
    totalFrames = video->header.length;
    BitmapInfoHeader bih;
    if (parseBitmapInfoHeader(video->format.data(), video->format.size(), bih)) {
      width = bih.width;
      height = bih.height < 0 ? -bih.height : bih.height;
    }
    double seconds = video->header.rate ? static_cast<double>(video->header.length) *
                                              video->header.scale / video->header.rate
                                        : 0;
    if (seconds > 0) {
      double rate = static_cast<double>(moviEnd - moviOffset_) / seconds;
      maxBytes = rate > 4e9 ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
    }
  }
  putU32(avih, usPerFrame);
  putU32(avih, maxBytes);
  putU32(avih, 0);  // padding granularity
  putU32(avih, kAvifHasIndex | (streams_.size() > 1 ? kAvifIsInterleaved : 0));
  putU32(avih, totalFrames);
  putU32(avih, 0);  // initial frames
  putU32(avih, static_cast<uint32_t>(streams_.size()));
  putU32(avih, largest);
  putU32(avih, static_cast<uint32_t>(width));
  putU32(avih, static_cast<uint32_t>(height));
  avih.resize(kAvihSize, 0);
  if (!file_->writeAt(avihOffset_, avih.data(), avih.size())) return err::FileWrite;

  std::vector<uint8_t> size;
  putU32(size, static_cast<uint32_t>(end - 8));
  if (!file_->writeAt(4, size.data(), 4)) return err::FileWrite;
  size.clear();
  putU32(size, static_cast<uint32_t>(moviEnd - moviOffset_));
  if (!file_->writeAt(moviOffset_ - 4, size.data(), 4)) return err::FileWrite;
  if (!file_->close()) return err::FileWrite;
  finished_ = true;
  return 0;
}

bool RiffWriter::discard() {
  if (!file_) return true;
  file_->close();
  bool removed = fileops::removeFile(path_);
  file_.reset();
  finished_ = true;
  return removed;
}

// ---- Header reader ----

namespace {

// Walks the chunks of `data` (a list's contents after its type code).
template <typename Fn>
void forEachChunk(const uint8_t* data, size_t size, Fn fn) {
  size_t at = 0;
  while (at + 8 <= size) {
    uint32_t id = getU32(data + at);
    uint32_t n = getU32(data + at + 4);
    size_t avail = size - at - 8;
    size_t len = n <= avail ? n : avail;  // a chunk cut short keeps what is there
    if (!fn(id, data + at + 8, len)) return;
    at += 8 + ((static_cast<size_t>(n) + 1) & ~size_t{1});
    if (n > avail) return;
  }
}

}  // namespace

bool readFileHeaders(const std::string& path, FileHeaders& out) {
  out = FileHeaders();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  uint8_t head[12];
  if (std::fread(head, 1, 12, f) != 12) return false;
  if (getU32(head) != kRiff || getU32(head + 8) != kAviForm) return false;
  // The header list is the first list of the form; allow a few chunks before it.
  std::vector<uint8_t> hdrl;
  for (int chunk = 0; chunk < 16; ++chunk) {
    uint8_t c[12];
    if (std::fread(c, 1, 12, f) != 12) return false;
    uint32_t id = getU32(c), n = getU32(c + 4);
    if (id == kList && getU32(c + 8) == kHdrl) {
      if (n < 4 || n > kMaxHeaderList) return false;
      try {
        hdrl.resize(n - 4);
      } catch (const std::bad_alloc&) {
        return false;
      }
      size_t got = std::fread(hdrl.data(), 1, hdrl.size(), f);
      hdrl.resize(got);
      break;
    }
    if (id == kList && getU32(c + 8) == kMovi) return false;
    uint64_t skip = ((static_cast<uint64_t>(n) + 1) & ~uint64_t{1}) - 4;
    if (std::fseek(f, static_cast<long>(skip), SEEK_CUR) != 0) return false;
  }
  if (hdrl.empty()) return false;

  bool haveMain = false;
  forEachChunk(hdrl.data(), hdrl.size(), [&](uint32_t id, const uint8_t* p, size_t n) {
    if (id == kAvih && n >= 40) {
      out.microSecPerFrame = getU32(p);
      out.flags = getU32(p + 12);
      out.totalFrames = getU32(p + 16);
      out.width = static_cast<int32_t>(getU32(p + 32));
      out.height = static_cast<int32_t>(getU32(p + 36));
      haveMain = true;
    } else if (id == kList && n >= 4 && getU32(p) == kStrl) {
      FileHeaders::Stream s;
      bool haveHeader = false;
      forEachChunk(p + 4, n - 4, [&](uint32_t sid, const uint8_t* q, size_t m) {
        if (sid == kStrh)
          haveHeader = parseStreamHeader(q, m, s.header);
        else if (sid == kStrf)
          s.format.assign(q, q + m);
        return true;
      });
      // A stream list without a header is no stream (the demuxer skips it too).
      if (haveHeader) out.streams.push_back(std::move(s));
    }
    return out.streams.size() < 100;
  });
  return haveMain && !out.streams.empty();
}

}  // namespace fb::avi
