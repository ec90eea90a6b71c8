#include "formats/picture_frames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "base/file_ops.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "document/bitmap.h"
#include "document/player.h"
#include "formats/png_rgba.h"
#include "resources/strings.h"

namespace fb {
namespace {

bool samePalette(const Palette& p, const std::vector<Rgb>& colours) {
  return p.count == static_cast<int>(colours.size()) &&
         std::equal(colours.begin(), colours.end(), p.entries.begin());
}

// The frame's pixels and colours from the picture. `global`: the animation's
// palette when the picture's colours are that palette (the frame, once in the
// animation, shows it), else null and the frame gets a local palette of its own.
bool fillFrame(Frame& f, Picture& p, const Palette* global, uint32_t timeBase) {
  f.width = p.width;
  f.height = p.height;
  f.left = p.left;
  f.top = p.top;
  f.hotspotX = p.hotspotX;
  f.hotspotY = p.hotspotY;
  if (p.delay >= 0) f.delay = gifDelayToTicks(static_cast<uint32_t>(p.delay), timeBase);
  if (!p.name.empty()) setFrameName(f, p.name.c_str());
  const int w = p.width, h = p.height;
  try {
    if (!p.indexed) {
      std::vector<uint8_t> rgb(static_cast<size_t>(stride24(w)) * h);
      bool anyAlpha = false;
      for (int y = 0; y < h && !anyAlpha; ++y)
        for (int x = 0; x < w && !anyAlpha; ++x) anyAlpha = p.row(y)[4 * x + 3] != 255;
      std::vector<uint8_t> alpha;
      if (anyAlpha) alpha.resize(static_cast<size_t>(stride8(w)) * h);
      for (int y = 0; y < h; ++y) {
        const uint8_t* s = p.row(y);
        uint8_t* d = rgb.data() + static_cast<size_t>(y) * stride24(w);
        for (int x = 0; x < w; ++x) {
          d[3 * x] = s[4 * x];
          d[3 * x + 1] = s[4 * x + 1];
          d[3 * x + 2] = s[4 * x + 2];
          if (anyAlpha) alpha[static_cast<size_t>(y) * stride8(w) + x] = s[4 * x + 3];
        }
      }
      std::vector<uint8_t>().swap(p.pixels);
      setRgb(f, std::move(rgb));
      if (anyAlpha) setAlpha(f, std::move(alpha));
      return true;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  const Palette* colours = global;
  if (!global) {
    auto local = makePalette(p.palette.data(), static_cast<int>(p.palette.size()));
    if (!local) return false;
    colours = local.get();
    setLocalPalette(f, std::move(local));
  }
  auto dib = createBitmap(w, h, colours);
  if (!dib) return false;
  for (int y = 0; y < h; ++y) std::memcpy(dib->row(y), p.row(y), static_cast<size_t>(w));
  std::vector<uint8_t>().swap(p.pixels);
  setBitmap(f, std::move(dib));
  if (p.transparentIndex >= 0) {
    setTransparentIndex(f, p.transparentIndex);
    setTransparent(f, true);
  }
  return !f.transparent() || f.mask;
}

}  // namespace

std::unique_ptr<Animation> animationFromPictures(std::vector<Picture>& pictures, int width,
                                                 int height, int disposal,
                                                 const DocumentDefaults& defaults) {
  auto a = createAnimation();
  if (!a) return nullptr;
  a->width = width;
  a->height = height;
  // Beside true-colour pictures, indexed ones keep palettes of their own:
  // mapping the true colour then leaves their colours alone.
  const bool allIndexed =
      std::all_of(pictures.begin(), pictures.end(), [](const Picture& p) { return p.indexed; });
  for (Picture& p : pictures) {
    if (p.indexed && allIndexed && !a->globalPalette) {
      auto global = makePalette(p.palette.data(), static_cast<int>(p.palette.size()));
      if (!global) return nullptr;
      setGlobalPalette(*a, std::move(global));
    }
    const Palette* shared =
        p.indexed && a->globalPalette && samePalette(*a->globalPalette, p.palette)
            ? a->globalPalette.get()
            : nullptr;
    std::unique_ptr<Frame> f = newFrame(nullptr, defaults);
    if (!f) return nullptr;
    f->setDisposal(disposal);
    if (!fillFrame(*f, p, shared, defaults.timeBase)) return nullptr;
    appendFrame(*a, std::move(f));
  }
  return a;
}

std::unique_ptr<Frame> frameFromPicture(const Picture& picture, const DocumentDefaults& defaults) {
  Picture copy;
  try {
    copy = picture;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::unique_ptr<Frame> f = newFrame(nullptr, defaults);
  if (!f || !fillFrame(*f, copy, nullptr, defaults.timeBase)) return nullptr;
  f->left = f->top = 0;
  return f;
}

bool pictureFromFrame(const Frame& f, bool trueColour, Picture& out, uint32_t timeBase) {
  out = Picture{};
  out.width = f.width;
  out.height = f.height;
  out.left = f.left;
  out.top = f.top;
  out.hotspotX = f.hotspotX;
  out.hotspotY = f.hotspotY;
  out.delay = static_cast<int>(
      std::min<uint32_t>(ticksToGifDelay(std::max(f.delay, 0), timeBase), 0xFFFFFF));
  try {
    if (f.name) out.name = frameName(f);
    if (!trueColour && f.dib && !f.hasRgb()) {
      out.indexed = true;
      out.pixels.resize(static_cast<size_t>(f.width) * f.height);
      for (int y = 0; y < f.height; ++y)
        std::memcpy(out.row(y), f.dib->row(y), static_cast<size_t>(f.width));
      if (const Palette* pal = f.palette())
        out.palette.assign(pal->entries.begin(), pal->entries.begin() + pal->count);
      if (f.transparent()) out.transparentIndex = f.transparentIndex;
      return true;
    }
    out.pixels = frameToRgba(f);
    out.hasAlpha = f.transparent() || !f.alpha.empty();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

CodecStatus composedPictures(Animation& a, std::vector<Picture>& out, Progress* progress,
                             uint32_t timeBase) {
  out.clear();
  auto player = startPlayer(a);
  if (!player) return CodecStatus::NoMemory;
  if (progress) progress->setRange(a.frameCount());
  try {
    for (Frame* c = firstPicture(*player); c; c = nextPicture(*player)) {
      Picture p;
      p.width = c->width;
      p.height = c->height;
      p.pixels = canvasToRgba(*c);
      p.hasAlpha = true;
      p.delay = static_cast<int>(
          std::min<uint32_t>(ticksToGifDelay(std::max(c->delay, 0), timeBase), 0xFFFFFF));
      out.push_back(std::move(p));
      if (progress && !progress->step()) return CodecStatus::Cancelled;
    }
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return out.empty() || player->outOfMemory ? CodecStatus::NoMemory : CodecStatus::Ok;
}

int readFileWith(const std::string& path,
                 int (*read)(const uint8_t*, size_t, std::unique_ptr<Animation>&,
                             const DocumentDefaults&),
                 std::unique_ptr<Animation>& out, const DocumentDefaults& defaults) {
  out.reset();
  std::string bytes;
  if (!fileops::readWholeFile(path, bytes)) {
    if (errno == ENOMEM)
      showWarning(text(Str::NoMemoryFrameImage));
    else
      showWarning(format(Str::CannotOpenFile, path.c_str()));
    return 0;
  }
  return read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out, defaults);
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  fileops::WriteFile file;
  if (!file.create(path)) return false;
  bool ok = file.write(bytes.data(), bytes.size());
  ok = ok && file.sync();
  ok = file.close() && ok;
  return ok;
}

int readOnePicture(const uint8_t* data, size_t size, PictureDecoder decode, const char* name,
                   std::unique_ptr<Animation>& out, const DocumentDefaults& defaults) {
  out.reset();
  PixelBudget budget(static_cast<int64_t>(size));
  std::vector<Picture> pictures(1);
  CodecStatus s = decode(data, size, &budget, pictures[0]);
  if (s == CodecStatus::Ok) {
    const int w = pictures[0].width, h = pictures[0].height;
    out = animationFromPictures(pictures, w, h, 1, defaults);
    if (!out) s = CodecStatus::NoMemory;
  }
  reportReadFailure(s, name);
  return s == CodecStatus::Ok ? 1 : 0;
}

bool finishWrite(const std::string& path, CodecStatus status, const std::vector<uint8_t>& bytes,
                 const char* name) {
  if (status != CodecStatus::Ok) {
    reportWriteFailure(status, name);
    return false;
  }
  return writeFileBytes(path, bytes);
}

void reportReadFailure(CodecStatus status, const char* name) {
  switch (status) {
    case CodecStatus::Ok:
      return;
    case CodecStatus::Unsupported:
      showWarning(format(Str::ImageUnsupported, name));
      return;
    case CodecStatus::TooLarge:
    case CodecStatus::NoMemory:
      showWarning(text(Str::NoMemoryFrameImage));
      return;
    default:
      showWarning(format(Str::ImageCorrupt, name));
  }
}

void reportWriteFailure(CodecStatus status, const char* name) {
  switch (status) {
    case CodecStatus::Ok:
    case CodecStatus::WriteFailed:  // the save names the file it could not write
    case CodecStatus::Cancelled:
      return;
    case CodecStatus::TooLarge:
      showWarning(format(Str::ImageTooLarge, name));
      return;
    case CodecStatus::NoMemory:
      showWarning(text(Str::NoMemoryFrameImage));
      return;
    default:
      showWarning(format(Str::ImageEncodeError, name));
  }
}

}  // namespace fb
