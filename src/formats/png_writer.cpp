#include "formats/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "base/byte_source.h"
#include "base/file_ops.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "formats/png_chunks.h"
#include "gif/gif_writer.h"
#include "resources/strings.h"

namespace fb {

int pngFrameKind(const Frame& f) {
  if (!f.hasRgb()) return 8;
  return f.alpha.empty() ? 24 : 32;
}

namespace {

int colourTypeOf(int kind) {
  return kind == 8 ? PNG_COLOR_TYPE_PALETTE : kind == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA;
}

// ---- Encoding one PNG stream with libpng ----

struct Output {
  ByteSink* sink = nullptr;
  bool failed = false;  // the sink refused bytes (disk full, memory)
};

bool putBytes(Output* out, const void* data, size_t n) noexcept {
  try {
    if (out->sink->write(data, n)) return true;
  } catch (...) {
  }
  out->failed = true;
  return false;
}

void writeToSink(png_structp png, png_bytep data, size_t n) {
  if (!putBytes(static_cast<Output*>(png_get_io_ptr(png)), data, n)) png_error(png, "write failed");
}
void flushNothing(png_structp) {}
[[noreturn]] void onError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

// Everything libpng's error handling may jump across is plain data: the
// buffers belong to the caller.
struct EncodeJob {
  Output* out = nullptr;
  png_uint_32 width = 0, height = 0;
  int colourType = PNG_COLOR_TYPE_PALETTE;
  // The pixels: the width × height rectangle at (x0, y0) of `frame`.
  const Frame* frame = nullptr;
  int x0 = 0, y0 = 0;
  uint8_t* rowBuffer = nullptr;  // width × 4 bytes, for RGBA rows
  png_color palette[256];
  int paletteCount = 0;
  png_byte trans[256];
  int transCount = 0;
  const uint8_t* pAni = nullptr;
  size_t pAniLength = 0;
};

const png_byte* rowOf(const EncodeJob* job, png_uint_32 y) {
  const Frame& f = *job->frame;
  const size_t fy = static_cast<size_t>(job->y0) + y;
  switch (job->colourType) {
    case PNG_COLOR_TYPE_PALETTE:
      return f.dib->row(static_cast<int>(fy)) + job->x0;
    case PNG_COLOR_TYPE_RGB:
      return f.rgb.data() + fy * stride24(f.width) + 3 * size_t(job->x0);
    default:
      break;
  }
  const uint8_t* rgb = f.rgb.data() + fy * stride24(f.width) + 3 * size_t(job->x0);
  const uint8_t* a = f.alpha.data() + fy * stride8(f.width) + job->x0;
  uint8_t* o = job->rowBuffer;
  for (png_uint_32 x = 0; x < job->width; ++x, rgb += 3, o += 4) {
    o[0] = rgb[0];
    o[1] = rgb[1];
    o[2] = rgb[2];
    o[3] = a[x];
  }
  return job->rowBuffer;
}

bool encodePng(EncodeJob* job) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, onError, onWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, job->out, writeToSink, flushNothing);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_IF_SAFE, nullptr, 0);
  png_set_IHDR(png, info, job->width, job->height, 8, job->colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job->colourType == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, job->palette, job->paletteCount);
    if (job->transCount > 0) png_set_tRNS(png, info, job->trans, job->transCount, nullptr);
  }
  if (job->pAni) {
    png_unknown_chunk chunk;
    std::memcpy(chunk.name, "pAni", 5);
    chunk.data = const_cast<png_bytep>(job->pAni);
    chunk.size = job->pAniLength;
    chunk.location = PNG_AFTER_IDAT;
    png_set_unknown_chunks(png, info, &chunk, 1);
    png_set_unknown_chunk_location(png, info, 0, PNG_AFTER_IDAT);
  }
  png_write_info(png, info);
  for (png_uint_32 y = 0; y < job->height; ++y) png_write_row(png, rowOf(job, y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// ---- Palettes ----

int largestIndex(const Frame& f, int x0, int y0, int w, int h) {
  int most = 0;
  if (!f.dib || w <= 0 || h <= 0) return 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = f.dib->row(y0 + y) + x0;
    most = std::max<int>(most, *std::max_element(row, row + w));
    if (most == 255) break;
  }
  return most;
}

// PLTE from the palette, grown (black) to cover every index the pixels use and
// the transparent index, so that the file decodes everywhere; tRNS with one
// alpha per entry, 0 only at the transparent index.
void setPalette(EncodeJob& job, const Palette* palette, int largest, bool transparent, int t) {
  int count = palette ? palette->count : 0;
  count = std::max({count, largest + 1, transparent ? t + 1 : 0, 1});
  count = std::min(count, 256);
  job.paletteCount = count;
  for (int i = 0; i < count; ++i) {
    Rgb c = palette && i < palette->count ? (*palette)[i] : Rgb{};
    job.palette[i] = png_color{c.r, c.g, c.b};
  }
  job.transCount = 0;
  if (transparent) {
    job.transCount = count;
    std::fill(job.trans, job.trans + count, png_byte{255});
    job.trans[t] = 0;
  }
}

// The "pAni" data: the number of pictures, then each one's delay, 32-bit
// little-endian. A hidden first frame is not one of the pictures.
std::vector<uint8_t> filmstripChunk(const Animation& a) {
  std::vector<uint32_t> delays;
  Frame* f = firstFrame(a);
  if (a.hideFirstFrame && a.frameCount() > 1) f = nextFrame(f);
  for (; f; f = nextFrame(f)) delays.push_back(static_cast<uint32_t>(std::max(f->delay, 0)));
  std::vector<uint8_t> out(4 + 4 * delays.size());
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, static_cast<uint32_t>(delays.size()));
  for (size_t i = 0; i < delays.size(); ++i) put(4 + 4 * i, delays[i]);
  return out;
}

enum class Encoded { Ok, WriteFailed, Failed };

// Encodes the rectangle (x0, y0, w, h) of the frame into `sink`.
Encoded encodeRect(ByteSink& sink, const Frame& f, int kind, int x0, int y0, int w, int h,
                   const Palette* palette, int largest, const std::vector<uint8_t>* pAni,
                   std::vector<uint8_t>& rowBuffer) {
  Output out;
  out.sink = &sink;
  EncodeJob job;
  job.out = &out;
  job.width = static_cast<png_uint_32>(w);
  job.height = static_cast<png_uint_32>(h);
  job.colourType = colourTypeOf(kind);
  job.frame = &f;
  job.x0 = x0;
  job.y0 = y0;
  if (kind == 8) {
    if (!f.dib) return Encoded::Failed;
    setPalette(job, palette, largest, f.transparent(), f.transparentIndex);
  } else if (kind == 32) {
    rowBuffer.resize(static_cast<size_t>(w) * 4);
    job.rowBuffer = rowBuffer.data();
  }
  if (pAni) {
    job.pAni = pAni->data();
    job.pAniLength = pAni->size();
  }
  if (encodePng(&job)) return Encoded::Ok;
  return out.failed ? Encoded::WriteFailed : Encoded::Failed;
}

// A chunk written piece by piece, its CRC computed on the way.
class ChunkOut {
 public:
  ChunkOut(ByteSink& sink, uint32_t type, size_t length) : sink_(sink) {
    uint8_t head[8];
    putBe32(head, static_cast<uint32_t>(length));
    putBe32(head + 4, type);
    ok_ = sink_.write(head, 8);
    crc_ = crc32(0L, head + 4, 4);
  }
  void add(const uint8_t* data, size_t n) {
    if (n == 0) return;
    ok_ = ok_ && sink_.write(data, n);
    while (n > 0) {
      auto k = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
      crc_ = crc32(crc_, data, k);
      data += k;
      n -= k;
    }
  }
  bool end() {
    uint8_t tail[4];
    putBe32(tail, static_cast<uint32_t>(crc_));
    return ok_ && sink_.write(tail, 4);
  }

 private:
  ByteSink& sink_;
  uLong crc_;
  bool ok_;
};

bool writeChunk(ByteSink& sink, uint32_t type, const uint8_t* data, size_t n) {
  ChunkOut c(sink, type, n);
  c.add(data, n);
  return c.end();
}

// A frame covering the whole screen for the first frame of an animation:
// the frame's pixels at its place, the rest transparent (indexed frames
// without transparency: the background index; true colour: black).
std::unique_ptr<Frame> screenSizedCopy(const Frame& f, const Animation& a) {
  try {
    auto c = std::make_unique<Frame>();
    const int W = a.width, H = a.height;
    c->width = W;
    c->height = H;
    c->delay = f.delay;
    c->blend = f.blend;
    c->controlFlags = f.controlFlags;
    c->transparentIndex = f.transparentIndex;
    c->lendPalette(f.palette());
    const int x0 = std::max(0, f.left), y0 = std::max(0, f.top);
    const int x1 = std::min(W, f.left + f.width), y1 = std::min(H, f.top + f.height);
    if (f.dib) {
      c->dib = createBitmap(W, H, f.palette());
      if (!c->dib) return nullptr;
      // Opaque frames: the background index, the colour the document shows there.
      std::fill(c->dib->data.begin(), c->dib->data.end(),
                f.transparent() ? f.transparentIndex : a.backgroundIndex);
      for (int y = y0; y < y1; ++y)
        std::memcpy(c->dib->row(y) + x0, f.dib->row(y - f.top) + (x0 - f.left),
                    static_cast<size_t>(std::max(0, x1 - x0)));
    }
    if (f.hasRgb()) {
      c->rgb.assign(static_cast<size_t>(stride24(W)) * H, 0);
      for (int y = y0; y < y1; ++y)
        std::memcpy(
            c->rgb.data() + static_cast<size_t>(y) * stride24(W) + 3 * x0,
            f.rgb.data() + static_cast<size_t>(y - f.top) * stride24(f.width) + 3 * (x0 - f.left),
            3 * static_cast<size_t>(std::max(0, x1 - x0)));
      if (!f.alpha.empty()) {
        c->alpha.assign(static_cast<size_t>(stride8(W)) * H, 0);
        for (int y = y0; y < y1; ++y)
          std::memcpy(
              c->alpha.data() + static_cast<size_t>(y) * stride8(W) + x0,
              f.alpha.data() + static_cast<size_t>(y - f.top) * stride8(f.width) + (x0 - f.left),
              static_cast<size_t>(std::max(0, x1 - x0)));
      }
    }
    return c;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Stand-in for a frame that lies wholly outside the screen: one pixel that
// changes nothing where the kind can say so (transparent), restored after.
std::unique_ptr<Frame> placeholderFrame(const Frame& f, int kind) {
  try {
    auto c = std::make_unique<Frame>();
    c->width = c->height = 1;
    c->delay = f.delay;
    c->blend = 1;
    c->controlFlags = f.controlFlags;
    c->transparentIndex = f.transparentIndex;
    c->lendPalette(f.palette());
    c->setDisposal(3);
    if (kind == 8) {
      c->dib = createBitmap(1, 1, f.palette());
      if (!c->dib) return nullptr;
      c->dib->row(0)[0] = f.transparent() ? f.transparentIndex : 0;
    } else {
      c->rgb.assign(4, 0);
      if (kind == 32) c->alpha.assign(4, 0);
    }
    return c;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

FrameControl controlFor(const Frame& f, int kind, int x, int y, int w, int h, uint32_t timeBase) {
  FrameControl fc;
  fc.width = static_cast<uint32_t>(w);
  fc.height = static_cast<uint32_t>(h);
  fc.x = static_cast<uint32_t>(x);
  fc.y = static_cast<uint32_t>(y);
  fc.delayNum = static_cast<uint16_t>(
      std::min<uint32_t>(ticksToGifDelay(std::max(f.delay, 0), timeBase), 65535));
  fc.delayDen = 100;
  fc.disposeOp = f.disposal() == 2 ? 1 : f.disposal() == 3 ? 2 : 0;
  // "Over" where the frame has see-through pixels that should leave the
  // picture below alone: alpha planes, and indexed frames' transparent index.
  bool seeThrough = kind == 32 || (kind == 8 && f.transparent());
  fc.blendOp = f.blend && seeThrough ? 1 : 0;
  return fc;
}

}  // namespace

int WritePngFrame(const std::string& path, const Frame& frame, const Animation* source,
                  ByteSink* sink) {
  fileops::WriteFile file;
  ByteSink fileSink(&file);
  if (!path.empty()) {
    if (!file.create(path)) return 0;
    sink = &fileSink;
  }
  if (!sink) return 0;
  const int kind = pngFrameKind(frame);
  Encoded result = Encoded::Failed;
  try {
    std::vector<uint8_t> rowBuffer, pAni;
    if (source) pAni = filmstripChunk(*source);
    int largest = kind == 8 ? largestIndex(frame, 0, 0, frame.width, frame.height) : 0;
    if (frame.width > 0 && frame.height > 0)
      result = encodeRect(*sink, frame, kind, 0, 0, frame.width, frame.height, frame.palette(),
                          largest, source ? &pAni : nullptr, rowBuffer);
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }
  if (result == Encoded::Failed) showWarning(text(Str::PngEncodeError));
  if (result != Encoded::Ok) return 0;
  if (file.isOpen()) {
    bool ok = file.sync();
    ok = file.close() && ok;
    if (!ok) return 0;
  }
  return 1;
}

bool CheckApngWritable(const Animation& a) {
  const Frame* first = firstFrame(a);
  int previousKind = -1;
  for (const Frame* f = first; f; f = nextFrame(f)) {
    int kind = pngFrameKind(*f);
    if (previousKind >= 0 && kind != previousKind) {
      showWarning(text(Str::ApngMixedKinds));
      return false;
    }
    previousKind = kind;
    if (kind != 8) continue;
    if (f->localPalette) {
      showWarning(text(Str::ApngLocalPalettes));
      return false;
    }
    if (f->transparent() != first->transparent()) {
      showWarning(text(Str::ApngMixedTransparency));
      return false;
    }
    if (f->transparent() && f->transparentIndex != first->transparentIndex) {
      showWarning(text(Str::ApngTransparentIndex));
      return false;
    }
  }
  return true;
}

int WriteApngFile(const std::string& path, Animation& a, Progress* progress, ByteSink* sink,
                  uint32_t timeBase) {
  Frame* first = firstFrame(a);
  if (!first) return 0;
  if (a.frameCount() <= 1 || !nextFrame(first)) return WritePngFrame(path, *first, &a, sink);
  if (!CheckApngWritable(a)) return 0;

  const int W = a.width, H = a.height;
  const int kind = pngFrameKind(*first);
  std::unique_ptr<Frame> filled;
  const Frame* f0 = first;
  if (first->left != 0 || first->top != 0 || first->width != W || first->height != H) {
    filled = screenSizedCopy(*first, a);
    if (!filled) {
      showWarning(text(Str::ApngFirstFrameMemory));
      return 0;
    }
    f0 = filled.get();
  }

  fileops::WriteFile file;
  ByteSink fileSink(&file);
  if (!path.empty()) {
    if (!file.create(path)) return 0;
    sink = &fileSink;
  }
  if (!sink) return 0;

  const bool hidden = a.hideFirstFrame != 0;
  bool encodeError = false;
  bool ok = true;
  try {
    // One PLTE serves every frame: it covers the largest index any of them uses.
    int largest = 0;
    if (kind == 8) {
      largest = largestIndex(*f0, 0, 0, f0->width, f0->height);
      for (Frame* f = nextFrame(first); f; f = nextFrame(f))
        largest = std::max(largest, largestIndex(*f, 0, 0, f->width, f->height));
    }
    const Palette* palette = first->palette();
    std::vector<uint8_t> rowBuffer, encoded;
    ByteSink memory(&encoded);
    PngStream stream;
    uint32_t sequence = 0;
    if (progress) progress->setRange(a.frameCount());

    // Each frame is encoded by libpng as a PNG of its own; its IDAT data is
    // then wrapped as the animation needs it.
    auto encode = [&](const Frame& f, int x0, int y0, int w, int h) {
      encoded.clear();
      Encoded e = encodeRect(memory, f, kind, x0, y0, w, h, palette, largest, nullptr, rowBuffer);
      if (e != Encoded::Ok) {
        encodeError = e == Encoded::Failed;
        return false;
      }
      MemorySource src(encoded.data() + 8, encoded.size() - 8);
      if (readPngChunks(src, stream) != ChunkReadResult::Ok) {
        encodeError = true;
        return false;
      }
      return true;
    };
    auto writeFrameControl = [&](const FrameControl& fc) {
      uint8_t body[26];
      encodeFrameControl(body, sequence++, fc);
      return writeChunk(*sink, kFCTL, body, 26);
    };

    // The first frame: signature, its header and palette chunks, acTL, its
    // frame control (unless it is the hidden default image), its IDAT.
    ok = encode(*f0, 0, 0, W, H);
    ok = ok && sink->write(kPngSignature, 8);
    bool animationControlWritten = false;
    for (const PngChunk& c : stream.chunks) {
      if (!ok) break;
      if (c.type == kIDAT && !animationControlWritten) {
        uint8_t ac[8];
        encodeAnimationControl(
            ac, AnimationControl{static_cast<uint32_t>(a.frameCount() - (hidden ? 1 : 0)),
                                 static_cast<uint32_t>(std::max(a.playCount, 0))});
        ok = writeChunk(*sink, kACTL, ac, 8);
        if (ok && !hidden) ok = writeFrameControl(controlFor(*f0, kind, 0, 0, W, H, timeBase));
        animationControlWritten = true;
      }
      if (c.type == kIHDR || c.type == kPLTE || c.type == kTRNS || c.type == kIDAT)
        ok = ok && sink->write(stream.raw(c), c.rawSize());
    }
    if (ok && progress && !progress->step()) ok = false;

    for (Frame* f = nextFrame(first); f && ok; f = nextFrame(f)) {
      // Frames reaching past the screen are written clipped to it.
      const int x0 = std::max(0, f->left), y0 = std::max(0, f->top);
      const int x1 = std::min(W, f->left + f->width), y1 = std::min(H, f->top + f->height);
      std::unique_ptr<Frame> stand;
      const Frame* src = f;
      FrameControl fc;
      if (x1 <= x0 || y1 <= y0 || (kind == 8 && !f->dib)) {
        stand = placeholderFrame(*f, kind);
        if (!stand) throw std::bad_alloc();
        src = stand.get();
        fc = controlFor(*src, kind, 0, 0, 1, 1, timeBase);
        ok = encode(*src, 0, 0, 1, 1);
      } else {
        fc = controlFor(*f, kind, x0, y0, x1 - x0, y1 - y0, timeBase);
        ok = encode(*f, x0 - f->left, y0 - f->top, x1 - x0, y1 - y0);
      }
      ok = ok && writeFrameControl(fc);
      for (const PngChunk& c : stream.chunks) {
        if (!ok) break;
        if (c.type != kIDAT) continue;
        ChunkOut out(*sink, kFDAT, size_t{c.length} + 4);
        uint8_t seq[4];
        putBe32(seq, sequence++);
        out.add(seq, 4);
        out.add(stream.data(c), c.length);
        ok = out.end();
      }
      if (ok && progress && !progress->step()) ok = false;
    }
    static const uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    ok = ok && sink->write(kIend, 12);
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryFrameImage));
    ok = false;
  }
  if (encodeError) showWarning(text(Str::PngEncodeError));
  if (file.isOpen()) {
    bool closed = ok && file.sync();
    closed = file.close() && closed;
    ok = ok && closed;
  }
  return ok ? 1 : 0;
}

bool addTrueColour(Frame& f, bool alpha) {
  try {
    const int w = f.width, h = f.height;
    if (f.hasRgb()) {
      if (alpha && f.alpha.empty()) setAlpha(f, std::vector<uint8_t>(size_t(stride8(w)) * h, 255));
      return true;
    }
    if (!f.dib) return false;
    std::vector<uint8_t> rgb(static_cast<size_t>(stride24(w)) * h, 0);
    std::vector<uint8_t> a;
    const bool withAlpha = alpha || f.transparent();
    if (withAlpha) a.assign(static_cast<size_t>(stride8(w)) * h, 255);
    for (int y = 0; y < h; ++y) {
      const uint8_t* px = f.dib->row(y);
      uint8_t* o = rgb.data() + static_cast<size_t>(y) * stride24(w);
      for (int x = 0; x < w; ++x) {
        Rgb c = f.palette() && px[x] < f.palette()->count ? (*f.palette())[px[x]] : Rgb{};
        o[3 * x] = c.r;
        o[3 * x + 1] = c.g;
        o[3 * x + 2] = c.b;
        if (withAlpha && f.transparent() && px[x] == f.transparentIndex)
          a[static_cast<size_t>(y) * stride8(w) + x] = 0;
      }
    }
    setRgb(f, std::move(rgb));
    if (withAlpha) setAlpha(f, std::move(a));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::unique_ptr<Animation> trueColourCopy(const Animation& a, Progress* progress) {
  auto copy = duplicateAnimation(a, progress);
  if (!copy) return nullptr;
  bool anyAlpha = false;
  for (Frame* f = firstFrame(*copy); f; f = nextFrame(f))
    if (f->transparent() || !f->alpha.empty()) anyAlpha = true;
  for (Frame* f = firstFrame(*copy); f; f = nextFrame(f))
    if (!addTrueColour(*f, anyAlpha)) return nullptr;
  return copy;
}

}  // namespace fb
