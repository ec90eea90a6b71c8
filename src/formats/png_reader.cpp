#include "formats/png_reader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/byte_source.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "formats/filmstrip.h"
#include "formats/png_chunks.h"
#include "gif/gif_reader.h"
#include "resources/strings.h"

namespace fb {
namespace {

void corrupt() {
  showWarning(text(Str::PngCorrupt));
}
void outOfMemory() {
  showWarning(text(Str::NoMemoryFrameImage));
}

// ---- Decoding one ordinary PNG stream with libpng ----

struct Segment {
  const uint8_t* data;
  size_t size;
};

// Everything libpng's error handling may jump across is plain data here: no
// object with a destructor lives between setjmp and a longjmp.
struct DecodeJob {
  // Input: the stream, in pieces.
  const Segment* segments = nullptr;
  size_t segmentCount = 0;
  size_t segment = 0, offset = 0;
  bool keyToAlpha = false;  // let libpng turn a colour key into an alpha channel
  uint8_t* pAni = nullptr;  // room for a "pAni" chunk, when one is expected
  size_t pAniCapacity = 0;

  // Output.
  png_uint_32 width = 0, height = 0;
  int colourType = 0;  // as stored in the file
  int bitDepth = 0;
  int channels = 0;  // after the transforms: one byte each
  size_t rowBytes = 0;
  uint8_t* pixels = nullptr;  // malloc'd: rowBytes × height
  png_bytep* rows = nullptr;  // malloc'd
  int paletteCount = 0;
  png_color palette[256];
  int transCount = 0;
  png_byte trans[256];
  bool hasKey = false;
  png_color_16 key{};
  bool pAniFound = false;
  size_t pAniLength = 0;
  bool outOfMemory = false;

  DecodeJob() = default;
  DecodeJob(const DecodeJob&) = delete;
  DecodeJob& operator=(const DecodeJob&) = delete;
  ~DecodeJob() {
    std::free(pixels);
    std::free(rows);
  }
};

void readSegments(png_structp png, png_bytep out, size_t n) {
  auto* job = static_cast<DecodeJob*>(png_get_io_ptr(png));
  while (n > 0) {
    if (job->segment >= job->segmentCount) png_error(png, "Read Error");
    const Segment& s = job->segments[job->segment];
    size_t k = std::min(n, s.size - job->offset);
    std::memcpy(out, s.data + job->offset, k);
    out += k;
    n -= k;
    job->offset += k;
    if (job->offset == s.size) {
      ++job->segment;
      job->offset = 0;
    }
  }
}

[[noreturn]] void onError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

// Runs libpng over the job's stream: header, transforms (bytes per sample,
// one byte per pixel for low depths, 16 bits cut to 8), the image, the end.
bool decodeStream(DecodeJob* job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, onError, onWarning);
  if (!png) {
    job->outOfMemory = true;
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    job->outOfMemory = true;
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, job, readSegments);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
  // Sizes were checked against the pixel cap before; libpng's own default
  // limit would refuse wide strips that are well within it.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);

  int interlace = 0;
  png_get_IHDR(png, info, &job->width, &job->height, &job->bitDepth, &job->colourType, &interlace,
               nullptr, nullptr);
  png_colorp plte = nullptr;
  if (png_get_PLTE(png, info, &plte, &job->paletteCount) & PNG_INFO_PLTE) {
    job->paletteCount = std::clamp(job->paletteCount, 0, 256);
    std::memcpy(job->palette, plte, sizeof(png_color) * static_cast<size_t>(job->paletteCount));
  } else {
    job->paletteCount = 0;
  }
  png_bytep transAlpha = nullptr;
  png_color_16p transColour = nullptr;
  if (png_get_tRNS(png, info, &transAlpha, &job->transCount, &transColour) & PNG_INFO_tRNS) {
    if (job->colourType == PNG_COLOR_TYPE_PALETTE && transAlpha) {
      job->transCount = std::clamp(job->transCount, 0, 256);
      std::memcpy(job->trans, transAlpha, static_cast<size_t>(job->transCount));
    } else if (transColour) {
      job->hasKey = true;
      job->key = *transColour;
      job->transCount = 0;
      if (job->keyToAlpha) png_set_tRNS_to_alpha(png);
    }
  } else {
    job->transCount = 0;
  }
  png_set_packing(png);
  png_set_strip_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  job->channels = png_get_channels(png, info);
  job->rowBytes = png_get_rowbytes(png, info);
  if (png_get_bit_depth(png, info) != 8 || job->channels < 1 || job->channels > 4 ||
      job->rowBytes != static_cast<size_t>(job->width) * static_cast<size_t>(job->channels))
    png_error(png, "unexpected row layout");
  job->pixels = static_cast<uint8_t*>(std::malloc(job->rowBytes * job->height));
  job->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * job->height));
  if (!job->pixels || !job->rows) {
    job->outOfMemory = true;
    png_error(png, "out of memory");
  }
  for (png_uint_32 y = 0; y < job->height; ++y) job->rows[y] = job->pixels + job->rowBytes * y;
  png_read_image(png, job->rows);
  png_read_end(png, info);

  if (job->pAni) {
    png_unknown_chunkp unknown = nullptr;
    int n = png_get_unknown_chunks(png, info, &unknown);
    for (int i = 0; i < n; ++i) {
      // The name comparison includes the terminating zero.
      if (std::memcmp(unknown[i].name, "pAni", 5) != 0) continue;
      job->pAniFound = true;
      job->pAniLength = std::min(unknown[i].size, job->pAniCapacity);
      std::memcpy(job->pAni, unknown[i].data, job->pAniLength);
      break;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ---- Building frames ----

enum class Build { Ok, Corrupt, OutOfMemory };

Build fail(const DecodeJob& job) {
  return job.outOfMemory ? Build::OutOfMemory : Build::Corrupt;
}

bool isTrueColour(const DecodeJob& job) {
  return job.colourType != PNG_COLOR_TYPE_PALETTE && (job.channels > 1);
}

std::unique_ptr<Palette> greyRamp(int bitDepth) {
  int bits = std::min(bitDepth, 8);
  int n = 1 << bits;
  auto p = makePalette(nullptr, n);
  if (!p) return nullptr;
  int step = n > 1 ? 255 / (n - 1) : 0;
  for (int i = 0; i < n; ++i) {
    auto v = static_cast<uint8_t>(i * step);
    (*p)[i] = Rgb{v, v, v};
  }
  return p;
}

// The frame's pixels from a decoded image. Indexed images take the
// animation's global palette (made from the first frame). True-colour images
// keep their colours and alpha only: frame insertion makes their indexed
// pixels and palettes.
Build fillFrame(Frame& f, const DecodeJob& job, Animation& a) {
  const int w = static_cast<int>(job.width), h = static_cast<int>(job.height);
  if (isTrueColour(job)) {
    if (!sizeAcceptable(w, h)) return Build::OutOfMemory;
    try {
      const bool hasAlpha = job.channels == 2 || job.channels == 4;
      const bool grey = job.channels <= 2;
      const int s24 = stride24(w), s8 = stride8(w);
      std::vector<uint8_t> rgb(static_cast<size_t>(s24) * h, 0);
      std::vector<uint8_t> alpha;
      if (hasAlpha) alpha.assign(static_cast<size_t>(s8) * h, 0);
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = job.pixels + job.rowBytes * static_cast<size_t>(y);
        uint8_t* dst = rgb.data() + static_cast<size_t>(y) * s24;
        uint8_t* al = hasAlpha ? alpha.data() + static_cast<size_t>(y) * s8 : nullptr;
        for (int x = 0; x < w; ++x, src += job.channels, dst += 3) {
          dst[0] = src[0];
          dst[1] = grey ? src[0] : src[1];
          dst[2] = grey ? src[0] : src[2];
          if (al) al[x] = src[job.channels - 1];
        }
      }
      f.rgb = std::move(rgb);
      f.alpha = std::move(alpha);
    } catch (const std::bad_alloc&) {
      return Build::OutOfMemory;
    }
    return Build::Ok;
  }

  if (!a.globalPalette) {
    std::unique_ptr<Palette> p;
    if (job.colourType == PNG_COLOR_TYPE_PALETTE) {
      Rgb entries[256];
      for (int i = 0; i < job.paletteCount; ++i)
        entries[i] = Rgb{job.palette[i].red, job.palette[i].green, job.palette[i].blue};
      p = makePalette(entries, job.paletteCount);
    } else {
      p = greyRamp(job.bitDepth);
    }
    if (!p) return Build::OutOfMemory;
    setGlobalPalette(a, std::move(p));
  }
  f.lendPalette(a.globalPalette.get());
  auto dib = createBitmap(w, h, f.palette());
  if (!dib) return Build::OutOfMemory;
  for (int y = 0; y < h; ++y)
    std::memcpy(dib->row(y), job.pixels + job.rowBytes * static_cast<size_t>(y),
                static_cast<size_t>(w));
  int t = -1;
  if (job.colourType == PNG_COLOR_TYPE_PALETTE) {
    // Every entry that is not fully opaque becomes the first such entry:
    // one transparent index is what a frame can hold.
    for (int i = 0; i < job.transCount && t < 0; ++i)
      if (job.trans[i] != 255) t = i;
    if (t >= 0) {
      for (int y = 0; y < h; ++y) {
        uint8_t* row = dib->row(y);
        for (int x = 0; x < w; ++x)
          if (row[x] < job.transCount && job.trans[row[x]] != 255) row[x] = static_cast<uint8_t>(t);
      }
    }
  } else if (job.hasKey && job.key.gray < (1u << std::min(job.bitDepth, 8))) {
    // A grey colour key names one entry of the ramp exactly.
    t = job.key.gray;
  }
  f.dib = std::move(dib);
  if (t >= 0) {
    f.transparentIndex = static_cast<uint8_t>(t);
    f.controlFlags |= 1;
    f.mask = buildMask(*f.dib, f.transparentIndex);
    if (!f.mask) return Build::OutOfMemory;
  }
  return Build::Ok;
}

void applyControl(Frame& f, const FrameControl& fc, uint32_t timeBase) {
  f.width = static_cast<int32_t>(fc.width);
  f.height = static_cast<int32_t>(fc.height);
  f.left = static_cast<int32_t>(fc.x);
  f.top = static_cast<int32_t>(fc.y);
  unsigned den = fc.delayDen ? fc.delayDen : 100;
  f.delay = gifDelayToTicks(static_cast<uint32_t>(fc.delayNum) * 100 / den, timeBase);
  f.setDisposal(fc.disposeOp + 1);
  f.blend = fc.blendOp == 1 ? 1 : 0;
}

// A frame control for an image that has none: the whole picture, no delay.
FrameControl stillControl(uint32_t width, uint32_t height) {
  FrameControl fc;
  fc.width = width;
  fc.height = height;
  return fc;
}

Build addDecodedFrame(Animation& a, const DecodeJob& job, const FrameControl& fc,
                      const DocumentDefaults& defaults) {
  if (job.width != fc.width || job.height != fc.height) return Build::Corrupt;
  std::unique_ptr<Frame> f = newFrame(nullptr, defaults);
  if (!f) return Build::OutOfMemory;
  applyControl(*f, fc, defaults.timeBase);
  Build b = fillFrame(*f, job, a);
  if (b != Build::Ok) return b;
  appendFrame(a, std::move(f));
  return Build::Ok;
}

// Applies a "pAni" chunk (frame count, then each frame's delay, 32-bit
// little-endian) to a one-picture animation: the picture is a filmstrip of
// that many frames side by side.
void applyFilmstripChunk(Animation& a, const uint8_t* data, size_t length) {
  if (length < 4 || a.frameCount() != 1) return;
  auto le32 = [](const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  };
  uint32_t n = le32(data);
  if (n == 0 || n > static_cast<uint32_t>(a.width) || length != 4 + 4 * size_t{n}) return;
  if (!splitFilmstrip(a, static_cast<int>(n), 1)) return;
  const uint8_t* delays = data + 4;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f), delays += 4) {
    f->delay = static_cast<int32_t>(std::min<uint32_t>(le32(delays), 0x7FFFFFFF));
    f->setDisposal(2);
  }
}

bool validHeader(int colourType, int depth) {
  switch (colourType) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

const uint8_t kIendChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

}  // namespace

int ReadPngFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults) {
  out.reset();
  FileSource source;
  uint8_t sig[8];
  if (!source.open(path) || !source.read(sig, 8) || png_sig_cmp(sig, 0, 8) != 0) {
    corrupt();
    return kReadFailed;
  }
  return ReadPngStream(source, progress, out, defaults);
}

int ReadPngStream(ByteSource& source, Progress* progress, std::unique_ptr<Animation>& out,
                  const DocumentDefaults& defaults) {
  out.reset();
  PngStream stream;
  switch (readPngChunks(source, stream)) {
    case ChunkReadResult::Ok:
      break;
    case ChunkReadResult::Corrupt:
      corrupt();
      return kReadFailed;
    case ChunkReadResult::OutOfMemory:
      outOfMemory();
      return kReadFailed;
  }
  const auto& chunks = stream.chunks;
  if (chunks.empty() || chunks[0].type != kIHDR || chunks[0].length != 13 || !chunks[0].crcOk) {
    corrupt();
    return kReadFailed;
  }
  const uint8_t* ihdr = stream.data(chunks[0]);
  const uint32_t width = be32(ihdr), height = be32(ihdr + 4);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      !validHeader(ihdr[9], ihdr[8])) {
    corrupt();
    return kReadFailed;
  }
  if (!sizeAcceptable(static_cast<int>(width), static_cast<int>(height))) {
    outOfMemory();
    return kReadFailed;
  }
  ApngLayout layout;
  if (!layoutApng(stream, width, height, layout)) {
    corrupt();
    return kReadFailed;
  }

  // Colour keys: an alpha channel from libpng where the frame would otherwise
  // lose them (true colour; 16-bit grey, whose key an 8-bit ramp cannot name).
  const PngChunk* plte = nullptr;
  const PngChunk* trns = nullptr;
  size_t pAniLength = 0;
  bool pAniSeen = false;
  for (const PngChunk& c : chunks) {
    if (c.type == kIDAT) break;
    if (c.type == kTRNS && !trns) trns = &c;
    if (c.type == kPLTE && !plte) plte = &c;
  }
  for (const PngChunk& c : chunks)
    if (c.type == kPANI && !pAniSeen) {
      pAniSeen = true;
      pAniLength = c.length;
    }
  const int colourType = ihdr[9], depth = ihdr[8];
  const bool keyToAlpha = trns && (colourType == 2 || (colourType == 0 && depth == 16));

  std::vector<Segment> segments;
  std::vector<std::array<uint8_t, 12>> heads;  // synthesized chunk headers and CRCs
  std::vector<uint8_t> pAni;
  auto a = createAnimation();
  if (!a) {
    outOfMemory();
    return kReadFailed;
  }
  a->width = static_cast<int32_t>(width);
  a->height = static_cast<int32_t>(height);
  a->playCount =
      layout.animated ? static_cast<int32_t>(std::min<uint32_t>(layout.plays, 0x7FFFFFFF)) : 0;
  a->hideFirstFrame = layout.animated && layout.firstFrameHidden ? 1 : 0;
  a->apngRules = layout.animated ? 1 : 0;

  const size_t total = layout.frames.size() + (layout.firstFrameHidden || !layout.animated ? 1 : 0);
  if (progress) progress->setRange(static_cast<int64_t>(total));
  auto finish = [&](Build b) {
    if (b == Build::Corrupt)
      corrupt();
    else
      outOfMemory();
    return kReadFailed;
  };

  // Every frame is delivered whole by its data: the memory it takes (and its
  // decoding takes for a while) is what must fit.
  PixelBudget budget(source.size() > 0 ? source.size() : 0);
  const int channels = (colourType == 2   ? 3
                        : colourType == 4 ? 2
                        : colourType == 6 ? 4
                                          : 1) +
                       (keyToAlpha ? 1 : 0);
  const bool trueColour = colourType != 3 && channels > 1;
  auto frameBytes = [&](uint32_t w, uint32_t h) {
    int64_t n = trueColour ? int64_t{stride24(int(w))} * h : int64_t{stride8(int(w))} * h;
    if (trueColour && channels % 2 == 0) n += int64_t{stride8(int(w))} * h;  // alpha
    return n;
  };
  auto afford = [&](uint32_t w, uint32_t h) {
    int64_t decoding = int64_t{w} * h * channels;
    return budget.fits(decoding + frameBytes(w, h));
  };
  auto charge = [&](uint32_t w, uint32_t h) {
    int64_t pixels = int64_t{w} * h;
    return budget.take(pixels, pixels, frameBytes(w, h));
  };

  // The default image: libpng reads the stream as it is, without the
  // animation chunks.
  if (!afford(width, height)) return finish(Build::OutOfMemory);
  try {
    segments.push_back({kPngSignature, 8});
    for (const PngChunk& c : chunks)
      if (c.type != kACTL && c.type != kFCTL && c.type != kFDAT)
        segments.push_back({stream.raw(c), c.rawSize()});
    pAni.resize(pAniLength);
  } catch (const std::bad_alloc&) {
    return finish(Build::OutOfMemory);
  }
  {
    DecodeJob job;
    job.segments = segments.data();
    job.segmentCount = segments.size();
    job.keyToAlpha = keyToAlpha;
    if (pAniSeen) {
      job.pAni = pAni.data();
      job.pAniCapacity = pAni.size();
    }
    if (!decodeStream(&job)) return finish(fail(job));
    if (!charge(width, height)) return finish(Build::OutOfMemory);
    // An animation of one frame reads no frame control, as a still picture.
    const bool ownControl = layout.animated && !layout.firstFrameHidden && layout.frames.size() > 1;
    FrameControl fc = ownControl ? layout.frames.front().control : stillControl(width, height);
    Build b = addDecodedFrame(*a, job, fc, defaults);
    if (b != Build::Ok) return finish(b);
    if (job.pAniFound)
      pAni.resize(job.pAniLength);
    else
      pAni.clear();
  }
  bool cancelled = progress && !progress->step();

  // Each further frame: a PNG stream of its own, IHDR with the frame's size,
  // the palette chunks, its fdAT data as IDAT.
  for (const ApngFrame& frame : layout.frames) {
    if (cancelled) break;
    if (frame.isDefaultImage) continue;
    if (!afford(frame.control.width, frame.control.height)) return finish(Build::OutOfMemory);
    std::vector<uint8_t> ihdrChunk;
    try {
      segments.clear();
      heads.assign(frame.dataChunks.size(), {});
      uint8_t body[13];
      std::memcpy(body, ihdr, 13);
      putBe32(body, frame.control.width);
      putBe32(body + 4, frame.control.height);
      appendChunk(ihdrChunk, kIHDR, body, 13);
      segments.push_back({kPngSignature, 8});
      segments.push_back({ihdrChunk.data(), ihdrChunk.size()});
      if (plte) segments.push_back({stream.raw(*plte), plte->rawSize()});
      if (trns) segments.push_back({stream.raw(*trns), trns->rawSize()});
      for (size_t k = 0; k < frame.dataChunks.size(); ++k) {
        const PngChunk& c = chunks[frame.dataChunks[k]];
        const uint8_t* data = stream.data(c) + 4;  // after the sequence number
        const uint32_t n = c.length - 4;
        uint8_t* head = heads[k].data();
        putBe32(head, n);
        putBe32(head + 4, kIDAT);
        putBe32(head + 8, chunkCrc(kIDAT, data, n));
        segments.push_back({head, 8});
        if (n) segments.push_back({data, n});
        segments.push_back({head + 8, 4});
      }
      segments.push_back({kIendChunk, 12});
    } catch (const std::bad_alloc&) {
      return finish(Build::OutOfMemory);
    }
    DecodeJob job;
    job.segments = segments.data();
    job.segmentCount = segments.size();
    job.keyToAlpha = keyToAlpha;
    if (!decodeStream(&job)) return finish(fail(job));
    if (!charge(frame.control.width, frame.control.height)) return finish(Build::OutOfMemory);
    Build b = addDecodedFrame(*a, job, frame.control, defaults);
    if (b != Build::Ok) return finish(b);
    if (progress && !progress->step()) cancelled = true;
  }

  if (!pAni.empty()) applyFilmstripChunk(*a, pAni.data(), pAni.size());
  out = std::move(a);
  return cancelled ? kReadPartial : kReadComplete;
}

}  // namespace fb
