#include "formats/avi.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <numeric>

#include "base/file_ops.h"
#include "base/interrupt.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "gif/gif_reader.h"
#include "imaging/palette_merge.h"
#include "imaging/unoptimize.h"
#include "resources/strings.h"

namespace fb {
namespace {

// FFmpeg is loaded on first use; without it AVI work stops with the reason.
bool librariesLoaded() {
  if (avi::libraryInit()) return true;
  showWarning(format(Str::AviLibrariesMissing, avi::libraryError().c_str()));
  return false;
}

constexpr size_t kCompressBytes = 44;

int ticksPerSecond(uint32_t t) {
  return t == 0 ? 100 : static_cast<int>(std::min<uint32_t>(t, 1000000));
}

// ---- Reading helpers ----

struct DibLayout {
  avi::BitmapInfoHeader h;
  int colours = 0;
  const uint8_t* table = nullptr;
  const uint8_t* rows = nullptr;
  int stride = 0;
  int height = 0;
  bool bottomUp = true;
};

bool layoutOf(const std::vector<uint8_t>& dib, DibLayout& l) {
  if (!avi::parseBitmapInfoHeader(dib.data(), dib.size(), l.h)) return false;
  if (l.h.width <= 0 || l.h.height == 0 || l.h.height == INT32_MIN) return false;
  l.bottomUp = l.h.height > 0;
  l.height = std::abs(l.h.height);
  int bits = l.h.bitCount;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  l.colours =
      bits == 8 ? static_cast<int>(std::min<uint32_t>(l.h.clrUsed ? l.h.clrUsed : 256, 256)) : 0;
  // The rows follow the header, the colour table and, for bit fields, the three masks.
  size_t offset = std::max<size_t>(40, std::min<size_t>(l.h.size, dib.size()));
  l.table = dib.data() + offset;
  offset += 4 * static_cast<size_t>(l.colours);
  if (l.h.compression == avi::kBiBitfields) offset += 12;
  l.stride = ((l.h.width * bits + 31) / 32) * 4;
  if (dib.size() < offset + static_cast<size_t>(l.stride) * l.height) return false;
  l.rows = dib.data() + offset;
  return true;
}

const uint8_t* rowOf(const DibLayout& l, int y) {  // y counted from the top
  int r = l.bottomUp ? l.height - 1 - y : y;
  return l.rows + static_cast<size_t>(r) * l.stride;
}

int lowestBit(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

int bitCountOf(uint32_t mask) {
  int n = 0;
  for (; mask; mask &= mask - 1) ++n;
  return n;
}

// 16- and 32-bit rows into 24-bit colour data (R, G, B, top-down).
void convertHighColour(const DibLayout& l, std::vector<uint8_t>& rgb, int width, int height) {
  int bits = l.h.bitCount;
  uint32_t masks[3];
  if (l.h.compression == avi::kBiBitfields) {
    const uint8_t* m = l.rows - 12;
    masks[0] = avi::getU32(m);
    masks[1] = avi::getU32(m + 4);
    masks[2] = avi::getU32(m + 8);
  } else if (bits == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  } else {
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
  }
  int shift[3], up[3];
  for (int c = 0; c < 3; ++c) {
    shift[c] = lowestBit(masks[c]);
    up[c] = std::max(0, 8 - bitCountOf(masks[c]));
  }
  int s24 = stride24(width);
  // Walked in the bitmap's own order, bottom line first.
  uint8_t* last = nullptr;
  uint8_t* beforeLast = nullptr;
  for (int r = 0; r < l.height && r < height; ++r) {
    int y = l.bottomUp ? l.height - 1 - r : r;
    const uint8_t* src = l.rows + static_cast<size_t>(r) * l.stride;
    uint8_t* dst = rgb.data() + static_cast<size_t>(y) * s24;
    for (int x = 0; x < width; ++x) {
      uint32_t p = bits == 16 ? avi::getU16(src + 2 * x) : avi::getU32(src + 4 * x);
      uint8_t ch[3];
      for (int c = 0; c < 3; ++c) {
        uint32_t v = (p & masks[c]) >> shift[c];
        if (bits == 16) v <<= up[c];
        ch[c] = static_cast<uint8_t>(std::min<uint32_t>(v, 255));
      }
      dst[3 * x] = ch[0];
      dst[3 * x + 1] = ch[1];
      dst[3 * x + 2] = ch[2];
      beforeLast = last;
      last = dst + 3 * x;
    }
  }
  // Some codecs leave a marker in the last pixel of 32-bit pictures.
  if (bits == 32 && last && beforeLast && last[2] == 'J' && last[1] == 'U' && last[0] == 'N')
    std::memcpy(last, beforeLast, 3);
}

// ---- Writing helpers ----

// The rows of one frame as the stream wants them, bottom-up.
bool fillImage(const Animation& a, const Frame& f, bool write24Bit, std::vector<uint8_t>& image) {
  int w = a.width, h = a.height;
  int stride = write24Bit ? stride24(w) : stride8(w);
  // Frames not covering the screen (only when the fixes were skipped) are
  // drawn at their place over the background.
  uint8_t fill = a.backgroundIndex;
  std::fill(image.begin(), image.end(), uint8_t{0});
  const Palette* pal = f.palette() ? f.palette() : a.globalPalette.get();
  Rgb bg = pal && fill < pal->count ? (*pal)[fill] : Rgb{};
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = image.data() + static_cast<size_t>(h - 1 - y) * stride;
    int fy = y - f.top;
    bool inside = fy >= 0 && fy < f.height;
    for (int x = 0; x < w; ++x) {
      int fx = x - f.left;
      bool covered = inside && fx >= 0 && fx < f.width;
      if (!write24Bit) {
        uint8_t v = fill;
        if (covered && f.dib) v = f.dib->row(fy)[fx];
        dst[x] = v;
        continue;
      }
      Rgb c = bg;
      if (covered) {
        if (f.hasRgb()) {
          const uint8_t* p = f.rgb.data() + static_cast<size_t>(fy) * stride24(f.width) + 3 * fx;
          c = {p[0], p[1], p[2]};
        } else if (f.dib) {
          uint8_t v = f.dib->row(fy)[fx];
          c = pal && v < pal->count ? (*pal)[v] : Rgb{};
        }
      }
      dst[3 * x] = c.b;
      dst[3 * x + 1] = c.g;
      dst[3 * x + 2] = c.r;
    }
  }
  return true;
}

// Moves the fixed copy's content into the document, which keeps its identity.
void adoptContent(Animation& into, Animation& from) {
  // Only the picture: the play count, hidden first frame and aspect stay the document's.
  std::swap(into.playCount, from.playCount);
  std::swap(into.hideFirstFrame, from.hideFirstFrame);
  std::swap(into.apngRules, from.apngRules);
  std::swap(into.aspectRatio, from.aspectRatio);
  swapContents(into, from);
  into.encodedSize = -1;
  recountColourUsage(into);
}

// One transparent index for every transparent frame, moved to entry 0.
bool unifyTransparentIndex(Animation& a) {
  int t = -1;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (!f->transparent()) continue;
    if (t < 0)
      t = f->transparentIndex;
    else if (t != f->transparentIndex)
      return false;
  }
  if (t <= 0) return true;
  auto swapEntries = [t](Palette& p) {
    if (p.count <= t) p.count = t + 1;
    std::swap(p[0], p[t]);
  };
  if (a.globalPalette) {
    swapEntries(*a.globalPalette);
    setGlobalPalette(a, std::move(a.globalPalette));
  }
  // The background keeps its colour.
  if (a.backgroundIndex == 0)
    a.backgroundIndex = static_cast<uint8_t>(t);
  else if (a.backgroundIndex == t)
    a.backgroundIndex = 0;
  const auto u = static_cast<uint8_t>(t);
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->localPalette) swapEntries(*f->localPalette);
    if (f->dib) {
      std::swap(f->dib->colours[0], f->dib->colours[u]);
      for (int y = 0; y < f->dib->height; ++y) {
        uint8_t* row = f->dib->row(y);
        for (int x = 0; x < f->dib->width; ++x) {
          if (row[x] == 0)
            row[x] = u;
          else if (row[x] == u)
            row[x] = 0;
        }
      }
    }
    if (f->transparent()) {
      // The mask follows the moved pixels.
      setTransparent(*f, false);
      f->transparentIndex = 0;
      setTransparent(*f, true);
    }
  }
  return true;
}

void showCodecMissing(uint32_t handler) {
  std::string code = avi::fourccText(handler);
  showWarning(format(Str::AviCodecMissing, code.c_str(), code.c_str()));
}

}  // namespace

// ---- Traits ----

uint32_t aviExportTraits(const Animation& a) {
  uint32_t t = 0;
  if (a.frameCount() > 1) t |= avitraits::ManyFrames;
  if (a.selectedCount > 0) t |= avitraits::Selection;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->hasRgb()) t |= avitraits::TrueColour;
    if (f->localPalette) t |= avitraits::LocalPalettes;
    if (f->transparent()) t |= avitraits::Transparency;
    if (f->left != 0 || f->top != 0 || f->width != a.width || f->height != a.height)
      t |= avitraits::PartialFrames;
  }
  return t;
}

// ---- Stored compression ----

avi::CompressOptions aviPreset(AviPreset preset) {
  avi::CompressOptions o;
  o.keyFrameEvery = 1500;
  o.quality = 10000;
  switch (preset) {
    case AviPreset::Video1:
      o.fccHandler = avi::kHandlerVideo1;
      break;
    case AviPreset::Rle8:
      o.fccHandler = avi::kHandlerRle8;
      o.flags = avi::compressf::KeyFrames;
      break;
    default:
      break;
  }
  return o;
}

AviPreset recogniseAviPreset(const avi::CompressOptions& o) {
  if (o == aviPreset(AviPreset::Video1)) return AviPreset::Video1;
  if (o == aviPreset(AviPreset::Rle8)) return AviPreset::Rle8;
  return AviPreset::Custom;
}

std::vector<uint8_t> packAviCompression(const avi::CompressOptions& o) {
  std::vector<uint8_t> b;
  for (uint32_t v : {o.fccType, o.fccHandler, o.keyFrameEvery, o.quality, o.bytesPerSecond, o.flags,
                     o.format, o.formatSize, o.parms, o.parmsSize, o.interleaveEvery})
    avi::putU32(b, v);
  return b;
}

bool unpackAviCompression(const std::vector<uint8_t>& b, avi::CompressOptions& o) {
  if (b.size() != kCompressBytes) return false;
  uint32_t* fields[] = {&o.fccType,        &o.fccHandler, &o.keyFrameEvery,  &o.quality,
                        &o.bytesPerSecond, &o.flags,      &o.format,         &o.formatSize,
                        &o.parms,          &o.parmsSize,  &o.interleaveEvery};
  for (size_t i = 0; i < 11; ++i) *fields[i] = avi::getU32(b.data() + 4 * i);
  return true;
}

AviSaveOptions aviOptionsWithoutPanel(const Animation& a, const AviSettings& settings,
                                      uint32_t timeBase) {
  AviSaveOptions o;
  o.traits = aviExportTraits(a);
  o.includeAudio = false;
  o.write24Bit = (o.traits & avitraits::TrueColour) != 0;
  o.compress = !settings.uncompressed;
  if (o.compress) {
    o.compression = settings.compression;
    if (o.write24Bit && recogniseAviPreset(o.compression) == AviPreset::Rle8)
      o.compression = aviPreset(AviPreset::Video1);
  } else {
    o.compression = aviPreset(AviPreset::None);
  }
  o.timing.timeBase = timeBase;
  o.timing.fixedRate = settings.fixedRate;
  o.timing.frameRateX10000 = settings.frameRateX10000;
  return o;
}

AviPanelState openAviPanel(uint32_t traits, const AviSettings& settings) {
  AviPanelState st;
  st.custom = settings.compression;
  if (settings.uncompressed) {
    st.choice = AviPreset::None;
  } else {
    st.choice = recogniseAviPreset(st.custom);
  }
  if (traits & avitraits::TrueColour) {
    st.show24Bit = true;
    st.rle8Enabled = false;
    if (st.choice == AviPreset::Rle8) st.choice = AviPreset::Video1;
  }
  return st;
}

void setAviAudioPath(AviPanelState& st, const std::string& path) {
  st.audioPath = path;
  st.includeAudio = st.audioEnabled = !path.empty();
}

void chooseAviPreset(AviPanelState& st, AviPreset preset, AviCodecChooser* chooser) {
  if (preset == AviPreset::Rle8 && !st.rle8Enabled) return;
  if (preset == AviPreset::Custom) {
    if (!ChooseCustomAviCompression(st.custom, chooser)) {
      st.choice = st.show24Bit ? AviPreset::Video1 : AviPreset::Rle8;
      return;
    }
  }
  st.choice = preset;
}

bool confirmAviPanel(const AviPanelState& st, uint32_t traits, AviSaveOptions& out,
                     AviSettings& settings) {
  if (st.includeAudio && !aviHasAudioStream(st.audioPath)) {
    showWarning(format(Str::AviNoAudioIn, st.audioPath.c_str()));
    return false;
  }
  out = AviSaveOptions();
  out.traits = traits;
  out.includeAudio = st.includeAudio;
  out.audioPath = st.includeAudio ? st.audioPath : std::string();
  out.write24Bit = (traits & avitraits::TrueColour) != 0;
  if (st.choice == AviPreset::None) {
    out.compress = false;
    settings.uncompressed = true;
    out.compression = aviPreset(AviPreset::None);
  } else {
    out.compress = true;
    settings.uncompressed = false;
    out.compression = st.choice == AviPreset::Custom ? st.custom : aviPreset(st.choice);
    settings.compression = out.compression;
  }
  return true;
}

bool ChooseCustomAviCompression(avi::CompressOptions& options, AviCodecChooser* chooser) {
  if (!chooser) return false;
  avi::CompressOptions chosen = options;
  if (!chooser->choose(avi::availableEncoders(), chosen)) return false;
  avi::CompressOptions kept;
  kept.fccType = avi::kVideo;
  kept.fccHandler = chosen.fccHandler;
  kept.keyFrameEvery = chosen.keyFrameEvery;
  kept.quality = chosen.quality;
  kept.bytesPerSecond = chosen.bytesPerSecond;
  kept.flags = chosen.flags;
  options = kept;
  return true;
}

bool aviHasAudioStream(const std::string& path) {
  uint32_t error = 0;
  return avi::Stream::openFromFile(path, avi::kAudio, error) != nullptr;
}

// ---- Import ----

int ReadAviFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const AviReadOptions& options) {
  out.reset();
  if (!librariesLoaded()) return kReadFailed;
  uint32_t error = 0;
  auto stream = avi::Stream::openFromFile(path, avi::kVideo, error);
  if (!stream) {
    if (error == avi::err::Memory)
      showWarning(text(Str::AviNoMemoryMovie));
    else
      showWarning(format(Str::AviNoVideoStream, path.c_str()));
    return kReadFailed;
  }
  std::unique_ptr<Animation> a = createAnimation();
  if (!a) {
    showWarning(text(Str::AviNoMemoryMovie));
    return kReadFailed;
  }
  const std::vector<uint8_t>& streamFormat = stream->format();
  avi::BitmapInfoHeader fh;
  if (streamFormat.empty() ||
      !avi::parseBitmapInfoHeader(streamFormat.data(), streamFormat.size(), fh)) {
    showWarning(text(Str::AviBadStreamFormat));
    return kReadFailed;
  }
  int width = fh.width;
  int height = fh.height == INT32_MIN ? 0 : std::abs(fh.height);
  if (width <= 0 || height <= 0) {
    showWarning(text(Str::AviBadStreamFormat));
    return kReadFailed;
  }
  // Pictures larger than anyone animates are refused as "out of memory".
  if (!sizeAcceptable(width, height)) {
    showWarning(text(Str::AviNoMemoryMovie));
    return kReadFailed;
  }
  int bits = fh.bitCount;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) bits = 24;
  const avi::StreamHeader& info = stream->info();
  if (stream->getFrameOpen(bits) != 0) {
    showCodecMissing(info.handler ? info.handler : fh.compression);
    return kReadFailed;
  }

  // 8-bit video: the format's colour table is the global palette.
  std::vector<uint8_t> formatTable;
  if (bits == 8) {
    int count = static_cast<int>(std::min<uint32_t>(fh.clrUsed ? fh.clrUsed : 256, 256));
    size_t at = std::max<size_t>(40, std::min<size_t>(fh.size, streamFormat.size()));
    formatTable.assign(4 * static_cast<size_t>(count), 0);
    for (size_t i = 0; i < formatTable.size() && at + i < streamFormat.size(); ++i)
      formatTable[i] = streamFormat[at + i];
    std::vector<Rgb> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
      entries[static_cast<size_t>(i)] = {formatTable[4 * i + 2], formatTable[4 * i + 1],
                                         formatTable[4 * i]};
    auto palette = makePalette(entries.data(), count);
    if (!palette) {
      showWarning(text(Str::AviNoPalette));
      return kReadFailed;
    }
    setGlobalPalette(*a, std::move(palette));
  }

  const int64_t ticks = ticksPerSecond(options.defaults.timeBase);
  const int64_t start = stream->start();
  // A stream whose header was never finished says it has no samples: it is
  // read to its last sample instead.
  const bool lengthKnown = stream->length() > 0;
  const int64_t end = lengthKnown ? stream->length() + start : INT64_MAX;
  if (progress) {
    progress->setText(text(Str::ReadingAvi));
    progress->setRange(stream->length());
  }
  // Every picture comes from a sample with data (empty samples are passed
  // over); frames of video beyond what memory can hold are refused before the
  // system would have to kill us.
  std::error_code sizeError;
  auto fileSize = std::filesystem::file_size(path, sizeError);
  PixelBudget budget(sizeError ? 0 : static_cast<int64_t>(fileSize));
  int result = kReadComplete;
  for (int64_t s = 0; s < end;) {
    const std::vector<uint8_t>* dib = stream->getFrame(s);
    if (!dib) dib = stream->getFrame(stream->timeToSample(stream->sampleToTime(s)));
    DibLayout l;
    if (!dib || !layoutOf(*dib, l)) {
      showWarning(text(Str::AviReadError));
      return kReadFailed;
    }
    int64_t bytes =
        static_cast<int64_t>(l.h.bitCount == 8 ? stride8(width) : stride24(width)) * height;
    const int64_t area = static_cast<int64_t>(width) * height;
    bool fits = budget.take(area, area, bytes);
    auto made = fits ? newBlankFrame(width, height, options.defaults) : nullptr;
    if (!made) {
      showWarning(text(Str::AviNoMemoryVideo));
      return kReadFailed;
    }
    Frame* f = appendFrame(*a, std::move(made));
    try {
      if (l.h.bitCount == 8 && a->globalPalette) {
        auto bitmap = createBitmap(width, height, a->globalPalette.get());
        if (!bitmap) throw std::bad_alloc();
        for (int y = 0; y < height && y < l.height; ++y)
          std::memcpy(bitmap->row(y), rowOf(l, y), static_cast<size_t>(std::min(width, l.h.width)));
        // A sample with a colour table of its own keeps it as a local palette.
        int n = std::min(l.colours, static_cast<int>(formatTable.size() / 4));
        bool differs = l.colours != static_cast<int>(formatTable.size() / 4);
        for (int i = 0; i < n && !differs; ++i)
          differs = std::memcmp(l.table + 4 * i, formatTable.data() + 4 * i, 3) != 0;
        if (differs) {
          std::vector<Rgb> entries(static_cast<size_t>(l.colours));
          for (int i = 0; i < l.colours; ++i)
            entries[static_cast<size_t>(i)] = {l.table[4 * i + 2], l.table[4 * i + 1],
                                               l.table[4 * i]};
          auto local = makePalette(entries.data(), l.colours);
          if (!local) throw std::bad_alloc();
          setLocalPalette(*f, std::move(local));
          std::fill(bitmap->colours.begin(), bitmap->colours.end(), Rgb{});
          std::copy(entries.begin(), entries.end(), bitmap->colours.begin());
        }
        setBitmap(*f, std::move(bitmap));
      } else {
        std::vector<uint8_t> rgb(static_cast<size_t>(stride24(width)) * height, 0);
        if (l.h.bitCount == 24) {
          for (int y = 0; y < height && y < l.height; ++y) {
            const uint8_t* src = rowOf(l, y);
            uint8_t* dst = rgb.data() + static_cast<size_t>(y) * stride24(width);
            for (int x = 0; x < width && x < l.h.width; ++x) {
              dst[3 * x] = src[3 * x + 2];
              dst[3 * x + 1] = src[3 * x + 1];
              dst[3 * x + 2] = src[3 * x];
            }
          }
        } else if (l.h.bitCount == 16 || l.h.bitCount == 32) {
          convertHighColour(l, rgb, std::min(width, l.h.width), height);
        } else {
          // An indexed picture in a video that is not 8-bit: its colours.
          for (int y = 0; y < height && y < l.height; ++y) {
            const uint8_t* src = rowOf(l, y);
            uint8_t* dst = rgb.data() + static_cast<size_t>(y) * stride24(width);
            for (int x = 0; x < width && x < l.h.width; ++x) {
              int v = src[x];
              if (v < l.colours) {
                dst[3 * x] = l.table[4 * v + 2];
                dst[3 * x + 1] = l.table[4 * v + 1];
                dst[3 * x + 2] = l.table[4 * v];
              }
            }
          }
        }
        setRgb(*f, std::move(rgb));
      }
    } catch (const std::bad_alloc&) {
      showWarning(text(Str::AviNoMemoryVideo));
      return kReadFailed;
    }

    // The frame lasts until the next sample with data (or the stream's end).
    int64_t next = stream->findNextSample(s + 1);
    int64_t n = next >= 0 ? next : lengthKnown ? end : s + 1;
    const avi::StreamHeader& h = stream->info();
    int64_t delay =
        h.rate ? static_cast<int64_t>(static_cast<long double>(ticks) * (n - s) * h.scale / h.rate)
               : 0;
    f->delay = static_cast<int32_t>(std::clamp<int64_t>(delay, 0, 65535));
    if (progress && !progress->setPosition(s)) {
      result = kReadPartial;
      break;
    }
    if (next < 0) break;
    s = next;
  }
  if (a->frameCount() == 0) {
    showWarning(text(Str::AviReadError));
    return kReadFailed;
  }
  a->width = width;
  a->height = height;
  a->playCount = options.defaults.playCount;
  out = std::move(a);
  return result;
}

// ---- Export ----

int FrameStepForAvi(const Animation& a) {
  // The greatest common divisor of the delays, a delay below 2 counting as 1.
  int step = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) step = std::gcd(step, std::max(f->delay, 1));
  return std::max(step, 1);
}

// Removes a temporary file of ours; one that stays is named to the user.
static void removeTemporary(const std::string& path) {
  if (fileops::exists(path) && !fileops::removeFile(path))
    showWarning(format(Str::CannotDeleteTemporary, path.c_str()));
}

static int writeVideoStream(avi::RiffWriter& out, const std::string& path, Animation& a,
                            bool write24Bit, Progress* progress, const AviTiming& timing) {
  if (uint32_t e = out.create(path)) {
    showWarning(format(Str::AviCannotOpen, path.c_str(), e));
    return 0;
  }
  const int64_t ticks = ticksPerSecond(timing.timeBase);
  int64_t step, scale, rate;
  uint32_t fixedRate = timing.frameRateX10000;
  if (timing.fixedRate && fixedRate > 0 && ticks * 10000 / fixedRate >= 1) {
    scale = 10000;
    rate = fixedRate;
    step = ticks * 10000 / fixedRate;
  } else {
    // Without a usable fixed rate (none stored, or one faster than the delay
    // ticks can show) the frames' own step is the rate.
    step = FrameStepForAvi(a);
    scale = step;
    rate = ticks;
  }
  int64_t total = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) total += std::max<int64_t>(f->delay, step);

  avi::StreamHeader h;
  h.type = avi::kVideo;
  h.handler = avi::kHandlerVideo1;
  h.scale = static_cast<uint32_t>(scale);
  h.rate = static_cast<uint32_t>(rate);
  h.length = static_cast<uint32_t>(std::min<int64_t>(total / step, 0xFFFFFFFF));
  h.quality = 10000;
  h.frame[2] = static_cast<int16_t>(std::min(a.width, 32767));
  h.frame[3] = static_cast<int16_t>(std::min(a.height, 32767));
  int video = 0;
  if (out.createStream(h, video) != 0 || a.width <= 0 || a.height <= 0) {
    showWarning(format(Str::AviCannotCreate, path.c_str()));
    return 0;
  }

  std::vector<uint8_t> fmt;
  int stride = write24Bit ? stride24(a.width) : stride8(a.width);
  avi::BitmapInfoHeader bih;
  bih.width = a.width;
  bih.height = a.height;  // positive: rows bottom-up
  bih.bitCount = write24Bit ? 24 : 8;
  bih.sizeImage = static_cast<uint32_t>(static_cast<int64_t>(stride) * a.height);
  const Palette* pal = a.globalPalette.get();
  if (!write24Bit) bih.clrUsed = pal ? static_cast<uint32_t>(pal->count) : 0;
  avi::appendBitmapInfoHeader(fmt, bih);
  if (!write24Bit && pal)
    for (int i = 0; i < pal->count; ++i)
      fmt.insert(fmt.end(), {(*pal)[i].b, (*pal)[i].g, (*pal)[i].r, 0});
  // An 8-bit stream needs the palette the frames are drawn with.
  if ((!write24Bit && (!pal || pal->count == 0)) || out.setFormat(video, fmt) != 0 ||
      !sizeAcceptable(a.width, a.height)) {
    showWarning(text(Str::AviFormatProblem));
    return 0;
  }

  std::vector<uint8_t> image;
  try {
    image.resize(static_cast<size_t>(stride) * a.height);
  } catch (const std::bad_alloc&) {
    showWarning(format(Str::AviFrameError, avi::err::Memory));
    return 0;
  }
  if (progress) {
    progress->setText(text(Str::PreparingAvi));
    progress->setRange(total);
  }
  int64_t t = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    fillImage(a, *f, write24Bit, image);
    if (uint32_t e = out.writeSample(video, t / step, image.data(), image.size(), true)) {
      showWarning(format(Str::AviFrameError, e));
      return 0;
    }
    t += std::max<int64_t>(f->delay, step);
    if (progress && !progress->setPosition(t)) return 0;
  }
  if (t == 0) {
    showWarning(format(Str::AviFrameError, avi::err::NoData));
    return 0;
  }
  // The last picture again, so that the stream lasts to the end of its delay.
  if (uint32_t e = out.writeSample(video, (t - 1) / step, image.data(), image.size(), true)) {
    showWarning(format(Str::AviFrameError, e));
    return 0;
  }
  if (uint32_t e = out.finish()) {
    showWarning(format(Str::AviFrameError, e));
    return 0;
  }
  return 1;
}

int WriteAviVideoStream(const std::string& path, Animation& a, bool write24Bit, Progress* progress,
                        const AviTiming& timing) {
  avi::RiffWriter out;
  if (writeVideoStream(out, path, a, write24Bit, progress, timing)) return 1;
  if (!out.discard()) showWarning(format(Str::CannotDeleteTemporary, path.c_str()));
  return 0;
}

int RecompressAvi(const std::string& destPath, const std::string& tempPath,
                  const AviSaveOptions& options, Progress* progress) {
  struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
      if (!keep) removeTemporary(path);
    }
  } temp{tempPath};
  if (!librariesLoaded()) return 0;
  uint32_t error = 0;
  auto video = avi::Stream::openFromFile(tempPath, avi::kVideo, error);
  if (!video) {
    showWarning(format(Str::AviCannotOpen, tempPath.c_str(), error));
    return 0;
  }
  std::unique_ptr<avi::Stream> audio;
  if (options.includeAudio) {
    audio = avi::Stream::openFromFile(options.audioPath, avi::kAudio, error);
    if (!audio) {
      showWarning(text(Str::AviNoAudioToInterleave));
      return 0;
    }
  }
  if (progress) {
    progress->setText(text(Str::WritingAvi));
    progress->setRange(100);
  }
  avi::CompressOptions compression =
      options.compress ? options.compression : avi::CompressOptions{};
  uint32_t e = avi::saveCompressed(destPath, *video, compression, audio.get(), [&](int percent) {
    return !progress || progress->setPosition(percent);
  });
  video.reset();
  audio.reset();
  if (e == 0) return 1;
  fileops::removeFile(destPath);
  if (e == avi::err::UserAbort) return 0;
  std::string reason = e == avi::err::Memory ? std::string(text(Str::AviOutOfMemoryReason))
                                             : format(Str::AviErrorReason, e);
  // Without anyone to ask, nothing but what was asked for is written.
  Answer answer = reporter().ask(text(Str::AviCompressionCaption),
                                 format(Str::AviCompressorFailed, reason.c_str()), Icon::Warning,
                                 Buttons::YesNo, Answer::No);
  if (answer != Answer::Yes) return 0;
  if (!fileops::renameFile(tempPath, destPath)) {
    showWarning(format(Str::CannotWriteTo, destPath.c_str()));
    return 0;
  }
  temp.keep = true;
  return 1;
}

int WriteAviFile(const std::string& path, Animation& a, const AviSaveOptions& options,
                 Progress* progress) {
  // Plain frames are written by us; recompressing and audio need FFmpeg.
  if ((options.includeAudio || options.compress) && !librariesLoaded()) return 0;
  std::string temp = path + "1.avi";
  // A file of that name that is not ours is never written over.
  if (fileops::exists(temp)) {
    showWarning(format(Str::AviCannotOpen, temp.c_str(), avi::err::FileOpen));
    return 0;
  }
  LiveTemporary live(temp);  // removed if the program is interrupted meanwhile
  if (!WriteAviVideoStream(temp, a, options.write24Bit, progress, options.timing)) return 0;
  if (options.includeAudio || options.compress) return RecompressAvi(path, temp, options, progress);
  fileops::removeFile(path);
  if (!fileops::renameFile(temp, path)) {
    showWarning(format(Str::CannotWriteTo, path.c_str()));
    removeTemporary(temp);
    return 0;
  }
  return 1;
}

// ---- Fix for AVI ----

bool FixForAvi(Animation& a, uint32_t traits, Progress* progress,
               const MergeOptions& mergeOptions) {
  if (!(traits & avitraits::NeedsFix)) return true;
  std::unique_ptr<Animation> copy = duplicateAnimation(a, nullptr);
  if (!copy) {
    showWarning(text(Str::NoMemoryFrameImage));
    return false;
  }
  if (traits & avitraits::LocalPalettes) {
    // Every frame onto one adaptive global palette, with the user's dither
    // choice and colour count.
    uint32_t word = mergeOptions.storedMethod;
    uint32_t method = (word & (merge::Dither | 0xFF0000u)) | merge::Adaptive | merge::Always;
    if (mergePalettes(nullptr, *copy, method, nullptr, progress, mergeOptions) != 1) return false;
    for (Frame* f = firstFrame(*copy); f; f = nextFrame(f))
      if (f->localPalette) {
        showWarning(text(Str::NoResourcesLocalPalette));
        return false;
      }
  }
  bool whole = false;  // every frame made the full, opaque picture a viewer sees
  if ((traits & avitraits::Transparency) && !unifyTransparentIndex(*copy)) {
    // Frames that use different transparent indexes: as whole opaque
    // pictures none is transparent any more.
    if (!unoptimize(*copy, progress)) return false;
    whole = true;
    if (!unifyTransparentIndex(*copy)) return false;
  }
  // A transparent frame after the first shows the pictures beneath it, which
  // a video can only show when every frame is made the whole picture.
  bool seeThrough = false;
  if (traits & avitraits::Transparency)
    for (Frame* f = nextFrame(firstFrame(*copy)); f && !seeThrough; f = nextFrame(f))
      seeThrough = f->transparent();
  if (!whole && ((traits & avitraits::PartialFrames) || seeThrough) && !unoptimize(*copy, progress))
    return false;
  adoptContent(a, *copy);
  return true;
}

// ---- The save table's writer ----

bool writeAviForSave(const std::string& path, Animation& a, Progress* progress,
                     const AviSaveOptions* panel, const AviSettings& settings, uint32_t timeBase,
                     const MergeOptions& mergeOptions) {
  AviSaveOptions options = panel ? *panel : aviOptionsWithoutPanel(a, settings, timeBase);
  options.timing = AviTiming{timeBase, settings.fixedRate, settings.frameRateX10000};
  // The panel's "修复" fixes the document itself; without it the fixes are
  // made on a copy, and saving does not change the document.
  std::unique_ptr<Animation> fixed;
  uint32_t traits = aviExportTraits(a);
  if (traits & avitraits::NeedsFix) {
    fixed = duplicateAnimation(a, nullptr);
    if (!fixed) {
      showWarning(text(Str::NoMemoryFrameImage));
      return false;
    }
    // Failures say why themselves.
    if (!FixForAvi(*fixed, traits, progress, mergeOptions)) return false;
    // No one can press "修复" without a window: the fix is made, and said.
    Reporter& r = reporter();
    if (!r.hasWindow())
      r.message(text(Str::FixForAviStep), text(Str::AviFixedForSave), Icon::Information);
  }
  Animation& doc = fixed ? *fixed : a;
  options.write24Bit = (aviExportTraits(doc) & avitraits::TrueColour) != 0;
  if (options.write24Bit && options.compress &&
      recogniseAviPreset(options.compression) == AviPreset::Rle8)
    options.compression = aviPreset(AviPreset::Video1);
  return WriteAviFile(path, doc, options, progress) == 1;
}

}  // namespace fb
