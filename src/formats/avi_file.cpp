#include "formats/avi_file.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <new>
#include <set>

#include "document/bitmap.h"
#include "formats/ffmpeg_api.h"
#include "formats/rle8.h"

namespace fb::avi {
namespace {

// Containers the audio of another file may come from. Playlist and network
// formats are left out: a file must never make us open other files or URLs.
constexpr const char* kAudioFormats =
    "wav,w64,mp3,aiff,flac,ogg,au,caf,avi,mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,aac,ac3,"
    "eac3,amr,voc,wv,ape,tta,mpc,mpc8,dts,truehd,mlp,asf,mpeg,mpegts";

// Preload of audio ahead of the video it goes with, in seconds.
constexpr double kAudioPreload = 0.5;

// FFmpeg's tables of AVI codes; only valid once the libraries are loaded.
const AVCodecTag* const* videoTags() {
  static const AVCodecTag* const tags[] = {ff::avformat_get_riff_video_tags(), nullptr};
  return tags;
}
const AVCodecTag* const* audioTags() {
  static const AVCodecTag* const tags[] = {ff::avformat_get_riff_audio_tags(), nullptr};
  return tags;
}

// Encoders that accept only a few fixed picture sizes or special input.
bool unsuitableEncoder(const char* name) {
  static const char* const kNames[] = {"dvvideo", "dnxhd", "a64multi", "a64multi5",
                                       "h261",    "h263",  "rawvideo", "avui"};
  for (const char* n : kNames)
    if (std::strcmp(n, name) == 0) return true;
  return false;
}

uint32_t toUpper4(uint32_t code) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t c = (code >> (8 * i)) & 0xFF;
    if (c >= 'a' && c <= 'z') c -= 32;
    out |= c << (8 * i);
  }
  return out;
}

bool isRle8(uint32_t handler) {
  return toUpper4(handler) == toUpper4(kHandlerRle8) || handler == kBiRle8;
}

AVCodecID videoCodecFor(uint32_t handler) {
  if (toUpper4(handler) == toUpper4(kHandlerVideo1)) return AV_CODEC_ID_MSVIDEO1;
  return ff::av_codec_get_id(videoTags(), handler);
}

// The compression code written into the format for an encoder chosen by
// `handler`: the code as FFmpeg's table spells it when the handler names it
// in another case, the handler itself when it names the codec, else the
// codec's usual code.
uint32_t compressionFor(uint32_t handler, AVCodecID id) {
  if (id == AV_CODEC_ID_MSVIDEO1) return fourcc("CRAM");
  unsigned int tag = 0;
  bool known = ff::av_codec_get_tag2(videoTags(), id, &tag) && tag;
  if (known && toUpper4(tag) == toUpper4(handler)) return tag;
  if (ff::av_codec_get_id(videoTags(), handler) == id) return handler;
  return known ? tag : handler;
}

struct PacketAt {
  AVPacket* packet;
  int64_t position;
};

void appendFrameHeader(std::vector<uint8_t>& out, int width, int height, int bits,
                       uint32_t compression, uint32_t sizeImage, uint32_t colours,
                       uint32_t extraBytes) {
  BitmapInfoHeader h;
  h.size = 40 + extraBytes;
  h.width = width;
  h.height = height;  // positive: rows bottom-up
  h.bitCount = static_cast<uint16_t>(bits);
  h.compression = compression;
  h.sizeImage = sizeImage;
  h.clrUsed = colours;
  appendBitmapInfoHeader(out, h);
}

// The first stream of `type`; -1 when there is none.
int firstStream(const AVFormatContext* fmt, AVMediaType type) {
  for (unsigned i = 0; i < fmt->nb_streams; ++i)
    if (fmt->streams[i]->codecpar->codec_type == type) return static_cast<int>(i);
  return -1;
}

int dibStride(int width, int bits) {
  return ((width * bits + 31) / 32) * 4;
}

}  // namespace

bool libraryInit() {
  return ff::load();
}

const std::string& libraryError() {
  return ff::loadError();
}

// ---- Encoders ----

std::vector<EncoderInfo> availableEncoders() {
  std::vector<EncoderInfo> out;
  if (!libraryInit()) return out;
  out.push_back({kHandlerRle8, "msrle", "Microsoft RLE (8-bit)"});
  std::set<int> seen;
  void* it = nullptr;
  while (const AVCodec* c = ff::av_codec_iterate(&it)) {
    if (!ff::av_codec_is_encoder(c) || c->type != AVMEDIA_TYPE_VIDEO) continue;
    if (seen.count(c->id)) continue;
    if (ff::avcodec_find_encoder(c->id) != c) continue;  // the default encoder of each codec
    seen.insert(c->id);
    if (c->capabilities & (AV_CODEC_CAP_EXPERIMENTAL | AV_CODEC_CAP_HARDWARE)) continue;
    if (unsuitableEncoder(c->name)) continue;
    unsigned int tag = 0;
    if (!ff::av_codec_get_tag2(videoTags(), c->id, &tag) || tag == 0) continue;
    uint32_t handler = c->id == AV_CODEC_ID_MSVIDEO1 ? kHandlerVideo1 : tag;
    out.push_back({handler, c->name, c->long_name ? c->long_name : c->name});
  }
  return out;
}

bool encoderAvailable(uint32_t handler) {
  if (!libraryInit()) return false;
  if (handler == 0 || isRle8(handler)) return true;
  AVCodecID id = videoCodecFor(handler);
  return id != AV_CODEC_ID_NONE && ff::avcodec_find_encoder(id) != nullptr;
}

// ---- Reading streams ----

struct Stream::Impl {
  AVFormatContext* fmt = nullptr;
  int index = -1;
  StreamHeader header;
  std::vector<uint8_t> format;
  int width = 0, height = 0;
  int formatColours = 0;
  AVRational timeBase{1, 1};

  // Reading packets.
  std::deque<PacketAt> pending;
  bool eof = false;
  int64_t lastRead = -1;
  std::vector<int64_t> positions;  // every sample seen with data, ascending

  // Decoding.
  AVCodecContext* dec = nullptr;
  SwsContext* sws = nullptr;
  int bitCount = 24;
  bool drained = false;
  int64_t lastFed = -1;
  std::deque<int64_t> fed;  // positions sent, awaiting their pictures
  std::deque<std::pair<int64_t, AVFrame*>> decoded;
  AVFrame* current = nullptr;
  int64_t currentPos = -1;
  std::set<int64_t> failed;
  std::vector<uint8_t> dib;
  int64_t dibPos = -1;

  ~Impl() {
    clearDecoding();
    for (auto& p : pending) ff::av_packet_free(&p.packet);
    if (dec) ff::avcodec_free_context(&dec);
    if (sws) ff::sws_freeContext(sws);
    if (fmt) ff::avformat_close_input(&fmt);
  }

  void clearDecoding() {
    for (auto& d : decoded) ff::av_frame_free(&d.second);
    decoded.clear();
    fed.clear();
    if (current) ff::av_frame_free(&current);
    currentPos = -1;
    dibPos = -1;
  }

  // Reads the next packet of the stream into `pending`. False at the end.
  bool readMore() {
    if (eof) return false;
    AVPacket* p = ff::av_packet_alloc();
    if (!p) {
      eof = true;
      return false;
    }
    for (;;) {
      if (ff::av_read_frame(fmt, p) < 0) {
        ff::av_packet_free(&p);
        eof = true;
        return false;
      }
      // Empty samples carry no picture; a chunk cut off by the end of the
      // file is not a sample.
      if (p->stream_index != index || p->size <= 0 || (p->flags & AV_PKT_FLAG_CORRUPT)) {
        ff::av_packet_unref(p);
        continue;
      }
      break;
    }
    int64_t pos = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
    if (pos == AV_NOPTS_VALUE || pos <= lastRead) pos = lastRead + 1;
    lastRead = pos;
    if (positions.empty() || pos > positions.back()) positions.push_back(pos);
    pending.push_back({p, pos});
    return true;
  }

  void receiveAll() {
    for (;;) {
      AVFrame* f = ff::av_frame_alloc();
      if (!f) return;
      int r = ff::avcodec_receive_frame(dec, f);
      if (r < 0) {
        ff::av_frame_free(&f);
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF && !fed.empty()) {
          failed.insert(fed.front());
          fed.pop_front();
        }
        return;
      }
      int64_t pos = currentPos + 1;
      if (!decoded.empty()) pos = decoded.back().first + 1;
      if (!fed.empty()) {
        pos = fed.front();
        fed.pop_front();
      }
      decoded.emplace_back(pos, f);
    }
  }

  // Sends the next packet to the decoder (draining it at the end). False
  // when there is nothing more to send.
  bool feedOne() {
    if (pending.empty() && !readMore()) {
      if (drained) return false;
      drained = true;
      ff::avcodec_send_packet(dec, nullptr);
      receiveAll();
      return true;
    }
    PacketAt p = pending.front();
    pending.pop_front();
    fed.push_back(p.position);
    lastFed = p.position;
    int r = ff::avcodec_send_packet(dec, p.packet);
    if (r == AVERROR(EAGAIN)) {
      receiveAll();
      r = ff::avcodec_send_packet(dec, p.packet);
    }
    ff::av_packet_free(&p.packet);
    if (r < 0) {
      // The packet was refused: its picture will not come.
      fed.pop_back();
      failed.insert(p.position);
    }
    receiveAll();
    return true;
  }

  bool seekTo(int64_t position) {
    if (ff::av_seek_frame(fmt, index, position, AVSEEK_FLAG_BACKWARD) < 0 &&
        ff::av_seek_frame(fmt, index, 0, AVSEEK_FLAG_BACKWARD) < 0)
      return false;
    for (auto& p : pending) ff::av_packet_free(&p.packet);
    pending.clear();
    clearDecoding();
    ff::avcodec_flush_buffers(dec);
    eof = false;
    drained = false;
    lastRead = -1;
    lastFed = -1;
    return true;
  }

  bool awaiting(int64_t position) const {
    if (std::find(fed.begin(), fed.end(), position) != fed.end()) return true;
    for (const auto& d : decoded)
      if (d.first == position) return true;
    for (const auto& p : pending)
      if (p.position == position) return true;
    return false;
  }

  // The last sample with data at or before `sample`; -1 when none.
  int64_t sampleShownAt(int64_t sample) {
    while (!eof && lastRead < sample) readMore();
    auto it = std::upper_bound(positions.begin(), positions.end(), sample);
    if (it == positions.begin()) return -1;
    return *(it - 1);
  }

  bool makeDib(const AVFrame* f) {
    int w = width, h = height;
    int bits = bitCount;
    bool indexed = f->format == AV_PIX_FMT_PAL8 && f->data[1];
    if (bits == 8 && !indexed) bits = 24;
    // 16-bit pictures keep their own layout, which the masks after the header
    // tell (5-6-5 needs them; 5-5-5 is the default); pictures of any other
    // kind are not squeezed into 16 bits, they come as 24.
    const auto in = static_cast<AVPixelFormat>(f->format);
    const bool fiveSixFive = bits == 16 && in == AV_PIX_FMT_RGB565LE;
    if (bits == 16 && !fiveSixFive && in != AV_PIX_FMT_RGB555LE) bits = 24;
    int stride = dibStride(w, bits);
    int colours = bits == 8 ? formatColours : 0;
    size_t masks = fiveSixFive ? 12 : 0;
    size_t size = 40 + masks + 4 * static_cast<size_t>(colours) + static_cast<size_t>(stride) * h;
    try {
      dib.assign(size, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    dib.clear();
    appendFrameHeader(dib, w, h, bits, fiveSixFive ? kBiBitfields : kBiRgb,
                      static_cast<uint32_t>(stride) * h, static_cast<uint32_t>(colours), 0);
    if (fiveSixFive)
      for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) putU32(dib, m);
    if (bits == 8) {
      const uint8_t* pal = f->data[1];  // 0xAARRGGBB words: B, G, R, A in memory
      for (int i = 0; i < colours; ++i) {
        dib.push_back(pal[4 * i]);
        dib.push_back(pal[4 * i + 1]);
        dib.push_back(pal[4 * i + 2]);
        dib.push_back(0);
      }
      dib.resize(size, 0);
      uint8_t* rows = dib.data() + 40 + 4 * colours;
      int cw = std::min(w, f->width);
      for (int y = 0; y < h && y < f->height; ++y)
        std::memcpy(rows + static_cast<size_t>(h - 1 - y) * stride,
                    f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0],
                    static_cast<size_t>(cw));
      return true;
    }
    dib.resize(size, 0);
    AVPixelFormat out = bits == 16 ? in : bits == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
    sws = ff::sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), w,
                               h, out, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                               nullptr, nullptr);
    if (!sws) return false;
    // Converted top-down into a scratch picture, then stored bottom-up.
    std::vector<uint8_t> top;
    try {
      top.resize(static_cast<size_t>(stride) * h + 64);
    } catch (const std::bad_alloc&) {
      return false;
    }
    uint8_t* dst[4] = {top.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {stride, 0, 0, 0};
    if (ff::sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride) <= 0) return false;
    uint8_t* rows = dib.data() + 40 + masks;
    for (int y = 0; y < h; ++y)
      std::memcpy(rows + static_cast<size_t>(h - 1 - y) * stride,
                  top.data() + static_cast<size_t>(y) * stride, static_cast<size_t>(stride));
    return true;
  }

  const std::vector<uint8_t>* pictureAt(int64_t sample) {
    if (!dec) return nullptr;
    int64_t target = sampleShownAt(sample);
    // Before the first sample with data the first picture shows.
    if (target < 0) {
      if (positions.empty()) return nullptr;
      target = positions.front();
    }
    if (failed.count(target)) return nullptr;
    if (!(current && currentPos == target)) {
      bool passed = (current && currentPos > target) ||
                    (target <= lastFed && !awaiting(target) && currentPos != target);
      if (passed && !seekTo(target)) return nullptr;
      for (;;) {
        while (!decoded.empty() && decoded.front().first <= target) {
          if (current) ff::av_frame_free(&current);
          current = decoded.front().second;
          currentPos = decoded.front().first;
          decoded.pop_front();
          dibPos = -1;
        }
        if (current && currentPos == target) break;
        if (!decoded.empty()) break;  // the sample gave no picture of its own
        if (failed.count(target)) return nullptr;
        if (!feedOne()) break;
      }
    }
    if (!current) return nullptr;
    if (currentPos != target && failed.count(target)) return nullptr;
    if (dibPos != currentPos) {
      if (!makeDib(current)) return nullptr;
      dibPos = currentPos;
    }
    return &dib;
  }

  // Audio: the next packet of the stream, or null at the end.
  AVPacket* nextPacket() {
    if (pending.empty() && !readMore()) return nullptr;
    AVPacket* p = pending.front().packet;
    pending.pop_front();
    return p;
  }
};

Stream::Stream() : impl_(std::make_unique<Impl>()) {}
Stream::~Stream() = default;

std::unique_ptr<Stream> Stream::openFromFile(const std::string& path, uint32_t type,
                                             uint32_t& error) {
  error = 0;
  if (!libraryInit()) {
    error = err::Unsupported;
    return nullptr;
  }
  std::unique_ptr<Stream> s;
  try {
    s.reset(new Stream());
  } catch (const std::bad_alloc&) {
    error = err::Memory;
    return nullptr;
  }
  Impl& d = *s->impl_;
  AVDictionary* opts = nullptr;
  ff::av_dict_set(&opts, "protocol_whitelist", "file", 0);
  std::string url = "file:" + path;

  if (type == kVideo) {
    FileHeaders headers;
    if (!readFileHeaders(path, headers)) {
      error = err::FileRead;
      ff::av_dict_free(&opts);
      return nullptr;
    }
    int wanted = -1;
    for (size_t i = 0; i < headers.streams.size(); ++i)
      if (headers.streams[i].header.type == kVideo) {
        wanted = static_cast<int>(i);
        break;
      }
    if (wanted < 0) {
      error = err::NoData;
      ff::av_dict_free(&opts);
      return nullptr;
    }
    // Video comes from AVI files only, whatever else the bytes might look like.
    int r = ff::avformat_open_input(&d.fmt, url.c_str(), ff::av_find_input_format("avi"), &opts);
    ff::av_dict_free(&opts);
    if (r < 0) {
      error = err::FileRead;
      return nullptr;
    }
    if (wanted < static_cast<int>(d.fmt->nb_streams) &&
        d.fmt->streams[wanted]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      d.index = wanted;
    } else {
      d.index = firstStream(d.fmt, AVMEDIA_TYPE_VIDEO);
    }
    if (d.index < 0) {
      error = err::NoData;
      return nullptr;
    }
    const auto& hs = headers.streams[static_cast<size_t>(wanted)];
    d.header = hs.header;
    d.format = hs.format;
    AVStream* st = d.fmt->streams[d.index];
    d.timeBase = st->time_base;
    if (d.header.scale == 0 || d.header.rate == 0) {
      // Timing the header lacks is taken from the demuxer.
      d.header.scale = static_cast<uint32_t>(std::max(1, st->time_base.num));
      d.header.rate = static_cast<uint32_t>(std::max(1, st->time_base.den));
    }
    BitmapInfoHeader bih;
    if (parseBitmapInfoHeader(d.format.data(), d.format.size(), bih)) {
      d.width = bih.width;
      d.height = bih.height == INT32_MIN ? 0 : std::abs(bih.height);
      if (bih.bitCount <= 8) {
        uint32_t n = bih.clrUsed ? bih.clrUsed : 1u << bih.bitCount;
        d.formatColours = static_cast<int>(std::min<uint32_t>(n, 256));
      }
    } else {
      d.width = st->codecpar->width;
      d.height = st->codecpar->height;
    }
    if (d.header.handler == 0 || fourccText(d.header.handler).find('?') != std::string::npos) {
      if (bih.compression > 3) d.header.handler = bih.compression;
    }
    return s;
  }

  // Audio of any common audio or video file.
  ff::av_dict_set(&opts, "format_whitelist", kAudioFormats, 0);
  int r = ff::avformat_open_input(&d.fmt, url.c_str(), nullptr, &opts);
  ff::av_dict_free(&opts);
  if (r < 0) {
    error = err::FileRead;
    return nullptr;
  }
  if (ff::avformat_find_stream_info(d.fmt, nullptr) < 0) {
    error = err::FileRead;
    return nullptr;
  }
  d.index = firstStream(d.fmt, AVMEDIA_TYPE_AUDIO);
  if (d.index < 0) {
    error = err::NoData;
    return nullptr;
  }
  AVStream* st = d.fmt->streams[d.index];
  AVCodecParameters* par = st->codecpar;
  if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
    error = err::BadFormat;
    return nullptr;
  }
  d.timeBase = st->time_base;
  d.header.type = kAudio;
  d.header.scale = static_cast<uint32_t>(std::max(1, st->time_base.num));
  d.header.rate = static_cast<uint32_t>(std::max(1, st->time_base.den));
  d.header.length =
      st->duration > 0 && st->duration < 0xFFFFFFFF ? static_cast<uint32_t>(st->duration) : 0;
  WaveFormat w;
  unsigned int tag = 0;
  w.formatTag = ff::av_codec_get_tag2(audioTags(), par->codec_id, &tag) ? static_cast<uint16_t>(tag) : 0;
  w.channels = static_cast<uint16_t>(par->ch_layout.nb_channels);
  w.samplesPerSec = static_cast<uint32_t>(par->sample_rate);
  w.avgBytesPerSec = static_cast<uint32_t>(par->bit_rate / 8);
  w.blockAlign = static_cast<uint16_t>(par->block_align);
  w.bitsPerSample = static_cast<uint16_t>(par->bits_per_coded_sample);
  d.format = packWaveFormat(w);
  return s;
}

const std::vector<uint8_t>& Stream::format() const {
  return impl_->format;
}
const StreamHeader& Stream::info() const {
  return impl_->header;
}
int64_t Stream::start() const {
  return impl_->header.start;
}
int64_t Stream::length() const {
  return impl_->header.length;
}

int64_t Stream::findNextSample(int64_t position) {
  Impl& d = *impl_;
  auto it = std::lower_bound(d.positions.begin(), d.positions.end(), position);
  if (it != d.positions.end()) return *it;
  while (d.readMore())
    if (d.lastRead >= position) return d.lastRead;
  return -1;
}

int64_t Stream::sampleToTime(int64_t sample) const {
  const StreamHeader& h = impl_->header;
  if (h.rate == 0) return 0;
  return static_cast<int64_t>(static_cast<long double>(sample) * h.scale * 1000 / h.rate);
}

int64_t Stream::timeToSample(int64_t ms) const {
  const StreamHeader& h = impl_->header;
  if (h.scale == 0) return 0;
  return static_cast<int64_t>(static_cast<long double>(ms) * h.rate / (1000.0L * h.scale));
}

uint32_t Stream::getFrameOpen(int bits) {
  Impl& d = *impl_;
  if (d.dec) return 0;
  AVCodecParameters* par = d.fmt->streams[d.index]->codecpar;
  const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
  if (!codec) return err::NoCompressor;
  d.dec = ff::avcodec_alloc_context3(codec);
  if (!d.dec) return err::Memory;
  if (ff::avcodec_parameters_to_context(d.dec, par) < 0) return err::Memory;
  d.dec->max_pixels = kMaxImagePixels;
  d.dec->thread_count = 0;
  d.dec->thread_type = FF_THREAD_SLICE;
  if (ff::avcodec_open2(d.dec, codec, nullptr) < 0) {
    ff::avcodec_free_context(&d.dec);
    return err::NoCompressor;
  }
  d.bitCount = (bits == 8 || bits == 16 || bits == 32) ? bits : 24;
  return 0;
}

const std::vector<uint8_t>* Stream::getFrame(int64_t sample) {
  return impl_->pictureAt(sample);
}

void Stream::getFrameClose() {
  Impl& d = *impl_;
  d.clearDecoding();
  if (d.dec) ff::avcodec_free_context(&d.dec);
}

// ---- Compressed re-save ----

namespace {

// Pictures into samples of the chosen codec.
class VideoCoder {
 public:
  virtual ~VideoCoder() = default;
  // Sets up for pictures like `dib`; fills the stream format.
  virtual uint32_t open(const std::vector<uint8_t>& dib, std::vector<uint8_t>& format, int& width,
                        int& height) = 0;
  // Codes one picture; `emit` takes finished samples (position, bytes, key).
  using Emit = std::function<uint32_t(int64_t, const uint8_t*, size_t, bool)>;
  virtual uint32_t code(const std::vector<uint8_t>* dib, int64_t position, const Emit& emit) = 0;
};

struct DibView {
  BitmapInfoHeader h;
  int colours = 0;
  const uint8_t* table = nullptr;
  const uint8_t* bits = nullptr;
  int stride = 0;
  int height = 0;

  bool parse(const std::vector<uint8_t>& dib) {
    if (!parseBitmapInfoHeader(dib.data(), dib.size(), h)) return false;
    colours = h.bitCount <= 8 ? static_cast<int>(h.clrUsed ? h.clrUsed : 1u << h.bitCount) : 0;
    stride = dibStride(h.width, h.bitCount);
    height = std::abs(h.height);
    size_t need = 40 + 4 * static_cast<size_t>(colours) + static_cast<size_t>(stride) * height;
    if (dib.size() < need) return false;
    table = dib.data() + 40;
    bits = table + 4 * colours;
    return true;
  }
};

// The samples as they are.
class CopyCoder : public VideoCoder {
 public:
  uint32_t open(const std::vector<uint8_t>& dib, std::vector<uint8_t>& format, int& w,
                int& h) override {
    DibView v;
    if (!v.parse(dib)) return err::BadFormat;
    format.assign(dib.begin(), dib.begin() + 40 + 4 * v.colours);
    w = v.h.width;
    h = v.height;
    return 0;
  }
  uint32_t code(const std::vector<uint8_t>* dib, int64_t position, const Emit& emit) override {
    if (!dib) return 0;
    DibView v;
    if (!v.parse(*dib)) return err::BadFormat;
    return emit(position, v.bits, static_cast<size_t>(v.stride) * v.height, true);
  }
};

class Rle8Coder : public VideoCoder {
 public:
  explicit Rle8Coder(uint32_t keyEvery) : keyEvery_(keyEvery) {}
  uint32_t open(const std::vector<uint8_t>& dib, std::vector<uint8_t>& format, int& w,
                int& h) override {
    DibView v;
    if (!v.parse(dib) || v.h.bitCount != 8) return err::BadFormat;
    appendFrameHeader(format, v.h.width, v.height, 8, kBiRle8, 0, static_cast<uint32_t>(v.colours),
                      0);
    format.insert(format.end(), v.table, v.table + 4 * v.colours);
    w = v.h.width;
    h = v.height;
    return 0;
  }
  uint32_t code(const std::vector<uint8_t>* dib, int64_t position, const Emit& emit) override {
    if (!dib) return 0;
    DibView v;
    if (!v.parse(*dib) || v.h.bitCount != 8) return err::BadFormat;
    size_t bytes = static_cast<size_t>(v.stride) * v.height;
    bool key = previous_.size() != bytes || (keyEvery_ > 0 && count_ % keyEvery_ == 0);
    std::vector<uint8_t> coded;
    try {
      coded = encodeRle8(v.bits, v.stride, v.h.width, v.height, key ? nullptr : previous_.data(),
                         v.stride);
      previous_.assign(v.bits, v.bits + bytes);
    } catch (const std::bad_alloc&) {
      return err::Memory;
    }
    ++count_;
    return emit(position, coded.data(), coded.size(), key);
  }

 private:
  uint32_t keyEvery_;
  uint32_t count_ = 0;
  std::vector<uint8_t> previous_;
};

// One of FFmpeg's encoders.
class FfmpegCoder : public VideoCoder {
 public:
  FfmpegCoder(const CompressOptions& o, const StreamHeader& h) : options_(o), header_(h) {}
  ~FfmpegCoder() override {
    if (enc_) ff::avcodec_free_context(&enc_);
    if (frame_) ff::av_frame_free(&frame_);
    if (packet_) ff::av_packet_free(&packet_);
    if (sws_) ff::sws_freeContext(sws_);
  }

  uint32_t open(const std::vector<uint8_t>& dib, std::vector<uint8_t>& format, int& w,
                int& h) override {
    DibView v;
    if (!v.parse(dib) || (v.h.bitCount != 8 && v.h.bitCount != 24)) return err::BadFormat;
    AVCodecID id = videoCodecFor(options_.fccHandler);
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : ff::avcodec_find_encoder(id);
    if (!codec) return err::NoCompressor;
    srcFormat_ = v.h.bitCount == 8 ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_BGR24;
    AVPixelFormat pix = srcFormat_;
    if (codec->pix_fmts) {
      pix = ff::avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, srcFormat_, 0, nullptr);
      if (pix == AV_PIX_FMT_NONE) pix = codec->pix_fmts[0];
    }
    int sw = v.h.width, sh = v.height;
    // Some encoders take only sizes in whole blocks: the picture is then
    // padded with copies of its edge pixels.
    const int aligns[] = {1, 2, 4, 8, 16};
    bool opened = false;
    for (int a : aligns) {
      int pw = (sw + a - 1) / a * a, ph = (sh + a - 1) / a * a;
      if (a > 1 && pw == sw && ph == sh) continue;
      if (tryOpen(codec, pix, pw, ph)) {
        opened = true;
        break;
      }
    }
    if (!opened) return err::CantCompress;
    srcWidth_ = sw;
    srcHeight_ = sh;
    frame_ = ff::av_frame_alloc();
    packet_ = ff::av_packet_alloc();
    if (!frame_ || !packet_) return err::Memory;
    frame_->format = enc_->pix_fmt;
    frame_->width = enc_->width;
    frame_->height = enc_->height;
    if (ff::av_frame_get_buffer(frame_, 0) < 0) return err::Memory;

    uint32_t colours = enc_->pix_fmt == AV_PIX_FMT_PAL8 ? static_cast<uint32_t>(v.colours) : 0;
    int bits = enc_->bits_per_coded_sample > 0 ? enc_->bits_per_coded_sample : colours ? 8 : 24;
    uint32_t extra = enc_->extradata_size > 0 ? static_cast<uint32_t>(enc_->extradata_size) : 0;
    appendFrameHeader(
        format, enc_->width, enc_->height, bits, compressionFor(options_.fccHandler, id),
        static_cast<uint32_t>(enc_->width) * enc_->height * ((bits + 7) / 8), colours, extra);
    if (extra) format.insert(format.end(), enc_->extradata, enc_->extradata + extra);
    if (colours) format.insert(format.end(), v.table, v.table + 4 * colours);
    w = enc_->width;
    h = enc_->height;
    return 0;
  }

  uint32_t code(const std::vector<uint8_t>* dib, int64_t position, const Emit& emit) override {
    if (dib) {
      DibView v;
      if (!v.parse(*dib) || v.h.width != srcWidth_ || v.height != srcHeight_) return err::BadFormat;
      if (uint32_t e = fill(v)) return e;
      frame_->pts = position;
      frame_->pict_type = AV_PICTURE_TYPE_NONE;
      positions_.push_back(position);
      if (ff::avcodec_send_frame(enc_, frame_) < 0) return err::Compressor;
    } else {
      ff::avcodec_send_frame(enc_, nullptr);
    }
    for (;;) {
      int r = ff::avcodec_receive_packet(enc_, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
      if (r < 0) return r == AVERROR(ENOMEM) ? err::Memory : err::Compressor;
      // Without reordering, packets come out in the order of the pictures.
      int64_t at = positions_.empty() ? position : positions_.front();
      if (!positions_.empty()) positions_.pop_front();
      uint32_t e = emit(at, packet_->data, static_cast<size_t>(packet_->size),
                        packet_->flags & AV_PKT_FLAG_KEY);
      ff::av_packet_unref(packet_);
      if (e) return e;
    }
  }

 private:
  bool tryOpen(const AVCodec* codec, AVPixelFormat pix, int w, int h) {
    if (enc_) ff::avcodec_free_context(&enc_);
    enc_ = ff::avcodec_alloc_context3(codec);
    if (!enc_) return false;
    enc_->width = w;
    enc_->height = h;
    enc_->pix_fmt = pix;
    AVRational tb{static_cast<int>(std::min<uint32_t>(header_.scale, INT32_MAX)),
                  static_cast<int>(std::min<uint32_t>(header_.rate, INT32_MAX))};
    ff::av_reduce(&tb.num, &tb.den, tb.num, tb.den, 65535);
    if (tb.num <= 0 || tb.den <= 0) tb = {1, 25};
    enc_->time_base = tb;
    enc_->framerate = {tb.den, tb.num};
    enc_->max_b_frames = 0;  // samples keep their order: no reordering
    enc_->thread_count = 1;
    if ((options_.flags & compressf::KeyFrames) && options_.keyFrameEvery > 0) {
      enc_->gop_size = static_cast<int>(std::min<uint32_t>(options_.keyFrameEvery, 600));
      enc_->keyint_min = enc_->gop_size;
    }
    if ((options_.flags & compressf::DataRate) && options_.bytesPerSecond > 0) {
      enc_->bit_rate = static_cast<int64_t>(options_.bytesPerSecond) * 8;
    } else if (uint32_t q = std::min<uint32_t>(options_.quality, 10000); q > 0) {
      // Quality 10000 is the finest quantiser, 0 the coarsest.
      enc_->flags |= AV_CODEC_FLAG_QSCALE;
      enc_->global_quality = FF_QP2LAMBDA * static_cast<int>(2 + (10000 - q) * 29 / 10000);
      ff::av_opt_set_int(enc_->priv_data, "crf", static_cast<int64_t>(18 + (10000 - q) * 33 / 10000),
                     0);
    }
    if (ff::avcodec_open2(enc_, codec, nullptr) < 0) {
      ff::avcodec_free_context(&enc_);
      return false;
    }
    return true;
  }

  // The picture, padded with its edge pixels, into the encoder's frame.
  uint32_t fill(const DibView& v) {
    int pw = enc_->width, ph = enc_->height;
    int bpp = srcFormat_ == AV_PIX_FMT_PAL8 ? 1 : 3;
    int stride = (pw * bpp + 63) & ~63;
    try {
      scratch_.resize(static_cast<size_t>(stride) * ph);
    } catch (const std::bad_alloc&) {
      return err::Memory;
    }
    for (int y = 0; y < ph; ++y) {
      int sy = std::min(y, v.height - 1);
      const uint8_t* src = v.bits + static_cast<size_t>(v.height - 1 - sy) * v.stride;
      uint8_t* dst = scratch_.data() + static_cast<size_t>(y) * stride;
      std::memcpy(dst, src, static_cast<size_t>(v.h.width) * bpp);
      for (int x = v.h.width; x < pw; ++x)
        std::memcpy(dst + x * bpp, src + (v.h.width - 1) * bpp, static_cast<size_t>(bpp));
    }
    uint32_t palette[256] = {};
    for (int i = 0; i < v.colours && i < 256; ++i)
      palette[i] = 0xFF000000u | static_cast<uint32_t>(v.table[4 * i + 2]) << 16 |
                   static_cast<uint32_t>(v.table[4 * i + 1]) << 8 | v.table[4 * i];
    if (ff::av_frame_make_writable(frame_) < 0) return err::Memory;
    if (enc_->pix_fmt == srcFormat_) {
      for (int y = 0; y < ph; ++y)
        std::memcpy(frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0],
                    scratch_.data() + static_cast<size_t>(y) * stride,
                    static_cast<size_t>(pw) * bpp);
      if (srcFormat_ == AV_PIX_FMT_PAL8) std::memcpy(frame_->data[1], palette, sizeof palette);
      return 0;
    }
    sws_ = ff::sws_getCachedContext(sws_, pw, ph, srcFormat_, pw, ph, enc_->pix_fmt,
                                SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                nullptr, nullptr);
    if (!sws_) return err::Compressor;
    const uint8_t* src[4] = {scratch_.data(), reinterpret_cast<const uint8_t*>(palette), nullptr,
                             nullptr};
    int srcStride[4] = {stride, 0, 0, 0};
    if (ff::sws_scale(sws_, src, srcStride, 0, ph, frame_->data, frame_->linesize) <= 0)
      return err::Compressor;
    return 0;
  }

  CompressOptions options_;
  StreamHeader header_;
  AVCodecContext* enc_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  AVPixelFormat srcFormat_ = AV_PIX_FMT_BGR24;
  int srcWidth_ = 0, srcHeight_ = 0;
  std::vector<uint8_t> scratch_;
  std::deque<int64_t> positions_;
};

// The audio of another file, as chunks for the AVI file: copied when the
// file can hold the codec as it is, else decoded to 16-bit PCM.
class AudioCoder {
 public:
  ~AudioCoder() {
    if (dec_) ff::avcodec_free_context(&dec_);
    if (frame_) ff::av_frame_free(&frame_);
  }

  uint32_t open(Stream::Impl& src, StreamHeader& header, std::vector<uint8_t>& format) {
    src_ = &src;
    AVCodecParameters* par = src.fmt->streams[src.index]->codecpar;
    int channels = par->ch_layout.nb_channels;
    unsigned int tag = 0;
    bool tagged = ff::av_codec_get_tag2(audioTags(), par->codec_id, &tag) && tag != 0;
    header = StreamHeader();
    header.type = kAudio;
    header.quality = 0xFFFFFFFF;
    WaveFormat w;
    w.channels = static_cast<uint16_t>(channels);
    w.samplesPerSec = static_cast<uint32_t>(par->sample_rate);
    switch (par->codec_id) {
      case AV_CODEC_ID_PCM_U8:
      case AV_CODEC_ID_PCM_S16LE:
      case AV_CODEC_ID_PCM_S24LE:
      case AV_CODEC_ID_PCM_S32LE:
      case AV_CODEC_ID_PCM_F32LE:
      case AV_CODEC_ID_PCM_F64LE:
      case AV_CODEC_ID_PCM_ALAW:
      case AV_CODEC_ID_PCM_MULAW: {
        int bits = ff::av_get_bits_per_sample(par->codec_id);
        int align = bits / 8 * channels;
        if (!tagged || align <= 0 || align > 0xFFFF) break;
        mode_ = Mode::Cbr;
        w.formatTag = static_cast<uint16_t>(tag);
        w.blockAlign = static_cast<uint16_t>(align);
        w.bitsPerSample = static_cast<uint16_t>(bits);
        w.avgBytesPerSec = static_cast<uint32_t>(par->sample_rate) * static_cast<uint32_t>(align);
        break;
      }
      case AV_CODEC_ID_ADPCM_MS:
      case AV_CODEC_ID_ADPCM_IMA_WAV:
      case AV_CODEC_ID_GSM_MS:
        if (!tagged || par->block_align <= 0 || par->block_align > 0xFFFF || par->bit_rate <= 0)
          break;
        mode_ = Mode::Cbr;
        w.formatTag = static_cast<uint16_t>(tag);
        w.blockAlign = static_cast<uint16_t>(par->block_align);
        w.bitsPerSample = static_cast<uint16_t>(par->bits_per_coded_sample);
        w.avgBytesPerSec = static_cast<uint32_t>(par->bit_rate / 8);
        // The codec's own format bytes (samples per block, coefficients).
        if (par->extradata_size > 0 && par->extradata_size < 0x10000)
          w.extra.assign(par->extradata, par->extradata + par->extradata_size);
        break;
      case AV_CODEC_ID_MP3: {
        int frameSize = par->frame_size > 0         ? par->frame_size
                        : par->sample_rate >= 32000 ? 1152
                                                    : 576;
        mode_ = Mode::Vbr;
        w.formatTag = 0x55;
        // One frame per chunk, the way variable-rate MP3 is kept.
        w.blockAlign = static_cast<uint16_t>(frameSize);
        w.avgBytesPerSec = static_cast<uint32_t>(std::max<int64_t>(par->bit_rate, 8000) / 8);
        std::vector<uint8_t> extra;
        putU16(extra, 1);  // MPEGLAYER3_ID_MPEG
        putU32(extra, 2);  // MPEGLAYER3_FLAG_PADDING_OFF
        putU16(extra, static_cast<uint32_t>(frameSize));
        putU16(extra, 1);  // frames per block
        putU16(extra, 1393);
        w.extra = extra;
        vbrFrame_ = frameSize;
        break;
      }
      default:
        break;
    }
    if (mode_ == Mode::Pcm) {
      const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
      if (!codec) return err::NoCompressor;
      dec_ = ff::avcodec_alloc_context3(codec);
      if (!dec_ || ff::avcodec_parameters_to_context(dec_, par) < 0) return err::Memory;
      if (ff::avcodec_open2(dec_, codec, nullptr) < 0) return err::NoCompressor;
      frame_ = ff::av_frame_alloc();
      if (!frame_) return err::Memory;
      w.formatTag = 1;
      w.blockAlign = static_cast<uint16_t>(2 * channels);
      w.bitsPerSample = 16;
      w.avgBytesPerSec = static_cast<uint32_t>(par->sample_rate) * w.blockAlign;
    }
    if (mode_ == Mode::Vbr) {
      header.scale = static_cast<uint32_t>(vbrFrame_);
      header.rate = static_cast<uint32_t>(par->sample_rate);
      header.sampleSize = 0;
    } else {
      header.scale = w.blockAlign;
      header.rate = w.avgBytesPerSec;
      header.sampleSize = w.blockAlign;
    }
    if (header.scale == 0 || header.rate == 0) return err::BadFormat;
    format = packWaveFormat(w);
    return 0;
  }

  // Seconds of audio written so far.
  double written() const {
    return static_cast<double>(units_) * header_scale() / std::max<uint32_t>(1, header_rate());
  }

  // Writes the next piece. Returns 0, or err; `done` at the end.
  uint32_t writeNext(RiffWriter& w, int stream, bool& done) {
    done = false;
    if (mode_ == Mode::Pcm) return decodeNext(w, stream, done);
    AVPacket* p = src_->nextPacket();
    if (!p) {
      done = true;
      return 0;
    }
    uint32_t e = 0;
    if (mode_ == Mode::Vbr) {
      e = w.writeSample(stream, units_, p->data, static_cast<size_t>(p->size), true);
      ++units_;
    } else {
      size_t whole = static_cast<size_t>(p->size) / blockAlign() * blockAlign();
      if (whole) e = w.appendSamples(stream, p->data, whole);
      units_ += static_cast<int64_t>(whole / blockAlign());
    }
    ff::av_packet_free(&p);
    return e;
  }

  void setHeader(const StreamHeader& h) {
    scale_ = h.scale;
    rate_ = h.rate;
    align_ = h.sampleSize;
  }

 private:
  enum class Mode { Pcm, Cbr, Vbr };
  uint32_t header_scale() const { return scale_; }
  uint32_t header_rate() const { return rate_; }
  size_t blockAlign() const { return std::max<uint32_t>(1, align_); }

  uint32_t decodeNext(RiffWriter& w, int stream, bool& done) {
    for (;;) {
      int r = ff::avcodec_receive_frame(dec_, frame_);
      if (r == 0) {
        uint32_t e = writePcm(w, stream);
        ff::av_frame_unref(frame_);
        return e;
      }
      if (r == AVERROR_EOF) {
        done = true;
        return 0;
      }
      if (r != AVERROR(EAGAIN)) return err::FileRead;
      if (flushed_) {
        done = true;
        return 0;
      }
      AVPacket* p = src_->nextPacket();
      if (!p) {
        ff::avcodec_send_packet(dec_, nullptr);
        flushed_ = true;
        continue;
      }
      int s = ff::avcodec_send_packet(dec_, p);
      ff::av_packet_free(&p);
      if (s < 0 && s != AVERROR_INVALIDDATA) return err::FileRead;  // damaged packets are skipped
    }
  }

  static double sampleAt(const AVFrame* f, int ch, int i) {
    int channels = f->ch_layout.nb_channels;
    auto fmt = static_cast<AVSampleFormat>(f->format);
    bool planar = ff::av_sample_fmt_is_planar(fmt);
    int idx = planar ? i : i * channels + ch;
    const uint8_t* base = f->extended_data[planar ? ch : 0];
    switch (ff::av_get_packed_sample_fmt(fmt)) {
      case AV_SAMPLE_FMT_U8:
        return (base[idx] - 128) / 128.0;
      case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(base)[idx] / 32768.0;
      case AV_SAMPLE_FMT_S32:
        return reinterpret_cast<const int32_t*>(base)[idx] / 2147483648.0;
      case AV_SAMPLE_FMT_S64:
        return static_cast<double>(reinterpret_cast<const int64_t*>(base)[idx]) /
               9.2233720368547758e18;
      case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(base)[idx];
      case AV_SAMPLE_FMT_DBL:
        return reinterpret_cast<const double*>(base)[idx];
      default:
        return 0;
    }
  }

  uint32_t writePcm(RiffWriter& w, int stream) {
    int channels = frame_->ch_layout.nb_channels;
    if (channels != static_cast<int>(align_ / 2) || frame_->nb_samples <= 0) return 0;
    try {
      pcm_.resize(static_cast<size_t>(frame_->nb_samples) * channels * 2);
    } catch (const std::bad_alloc&) {
      return err::Memory;
    }
    size_t k = 0;
    for (int i = 0; i < frame_->nb_samples; ++i)
      for (int c = 0; c < channels; ++c) {
        double v = std::clamp(sampleAt(frame_, c, i) * 32768.0, -32768.0, 32767.0);
        auto s = static_cast<int16_t>(std::lround(v));
        pcm_[k++] = static_cast<uint8_t>(s);
        pcm_[k++] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
      }
    units_ += frame_->nb_samples;
    return w.appendSamples(stream, pcm_.data(), pcm_.size());
  }

  Stream::Impl* src_ = nullptr;
  Mode mode_ = Mode::Pcm;
  AVCodecContext* dec_ = nullptr;
  AVFrame* frame_ = nullptr;
  bool flushed_ = false;
  int vbrFrame_ = 1152;
  int64_t units_ = 0;
  uint32_t scale_ = 1, rate_ = 1, align_ = 0;
  std::vector<uint8_t> pcm_;
};

}  // namespace

uint32_t saveCompressed(const std::string& dest, Stream& video, const CompressOptions& options,
                        Stream* audio, const std::function<bool(int)>& percent) {
  Stream::Impl& v = *video.impl_;  // a stream exists only once the libraries are loaded
  BitmapInfoHeader source;
  if (!parseBitmapInfoHeader(v.format.data(), v.format.size(), source)) return err::BadFormat;
  if (uint32_t e = video.getFrameOpen(source.bitCount == 8 ? 8 : 24)) return e;

  std::unique_ptr<VideoCoder> coder;
  try {
    if (options.fccHandler == 0)
      coder = std::make_unique<CopyCoder>();
    else if (isRle8(options.fccHandler))
      coder = std::make_unique<Rle8Coder>(
          (options.flags & compressf::KeyFrames) ? options.keyFrameEvery : 0);
    else
      coder = std::make_unique<FfmpegCoder>(options, v.header);
  } catch (const std::bad_alloc&) {
    return err::Memory;
  }

  int64_t first = video.findNextSample(0);
  if (first < 0) return err::NoData;
  const std::vector<uint8_t>* dib = video.getFrame(first);
  if (!dib) return err::FileRead;
  std::vector<uint8_t> videoFormat;
  int outWidth = 0, outHeight = 0;
  if (uint32_t e = coder->open(*dib, videoFormat, outWidth, outHeight)) return e;

  RiffWriter out;
  if (uint32_t e = out.create(dest)) return e;
  StreamHeader vh = v.header;
  if (options.fccHandler != 0) {
    vh.handler = options.fccHandler;
    vh.quality = options.quality;
  }
  vh.frame[0] = vh.frame[1] = 0;
  vh.frame[2] = static_cast<int16_t>(std::min(outWidth, 32767));
  vh.frame[3] = static_cast<int16_t>(std::min(outHeight, 32767));
  int videoIndex = 0, audioIndex = -1;
  if (uint32_t e = out.createStream(vh, videoIndex)) return e;
  if (uint32_t e = out.setFormat(videoIndex, videoFormat)) return e;

  AudioCoder audioCoder;
  if (audio) {
    StreamHeader ah;
    std::vector<uint8_t> af;
    if (uint32_t e = audioCoder.open(*audio->impl_, ah, af)) return e;
    audioCoder.setHeader(ah);
    if (uint32_t e = out.createStream(ah, audioIndex)) return e;
    if (uint32_t e = out.setFormat(audioIndex, af)) return e;
  }
  bool audioDone = !audio;
  auto audioUpTo = [&](double seconds) -> uint32_t {
    while (!audioDone && audioCoder.written() <= seconds)
      if (uint32_t e = audioCoder.writeNext(out, audioIndex, audioDone)) return e;
    return 0;
  };

  const double secondsPerSample =
      v.header.rate ? static_cast<double>(v.header.scale) / v.header.rate : 0;
  auto emit = [&](int64_t position, const uint8_t* data, size_t size, bool key) -> uint32_t {
    if (uint32_t e = audioUpTo(static_cast<double>(position) * secondsPerSample + kAudioPreload))
      return e;
    return out.writeSample(videoIndex, position, data, size, key);
  };

  int64_t end = std::max<int64_t>(v.header.start + static_cast<int64_t>(v.header.length), 1);
  int lastPercent = -1;
  for (int64_t s = first; s >= 0; s = video.findNextSample(s + 1)) {
    dib = video.getFrame(s);
    if (!dib) return err::FileRead;
    if (uint32_t e = coder->code(dib, s, emit)) return e;
    int pc = static_cast<int>(std::clamp<int64_t>(s * 100 / end, 0, 100));
    if (pc != lastPercent) {
      lastPercent = pc;
      if (percent && !percent(pc)) return err::UserAbort;
    }
  }
  if (uint32_t e = coder->code(nullptr, end, emit)) return e;
  // The stream keeps its length even when it ends with empty samples.
  if (out.length(videoIndex) < end)
    if (uint32_t e = out.writeSample(videoIndex, end - 1, nullptr, 0, false)) return e;
  if (uint32_t e = audioUpTo(1e300)) return e;
  if (percent && !percent(100)) return err::UserAbort;
  return out.finish();
}

}  // namespace fb::avi
