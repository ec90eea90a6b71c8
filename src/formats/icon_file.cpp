// Icons, cursors and animated cursors as documents.
#include <algorithm>

#include "base/byte_source.h"
#include "base/progress.h"
#include "document/bitmap.h"
#include "formats/ani_codec.h"
#include "formats/ico_codec.h"
#include "formats/image_files.h"
#include "formats/picture_frames.h"
#include "formats/png_reader.h"
#include "formats/png_writer.h"
#include "gif/gif_writer.h"

namespace fb {
namespace {

// An entry's picture: its DIB, or its PNG read by the PNG reader (whose
// messages are then the ones shown).
CodecStatus entryPicture(IconEntry& e, PixelBudget& budget, Picture& out, bool& shown) {
  if (e.png.empty()) {
    out = std::move(e.picture);
    return CodecStatus::Ok;
  }
  MemorySource source(e.png.data() + 8, e.png.size() - 8);
  std::unique_ptr<Animation> png;
  if (ReadPngStream(source, nullptr, png) != 1 || !png || !firstFrame(*png)) {
    shown = true;
    return CodecStatus::Corrupt;
  }
  const Frame& f = *firstFrame(*png);
  const int64_t pixels = static_cast<int64_t>(f.width) * f.height;  // decoded whole
  if (!budget.take(pixels, pixels, 4 * pixels)) return CodecStatus::TooLarge;
  if (!pictureFromFrame(f, false, out)) return CodecStatus::NoMemory;
  out.left = out.top = 0;
  out.name.clear();
  out.delay = 0;
  out.hotspotX = e.hotspotX;
  out.hotspotY = e.hotspotY;
  std::vector<uint8_t>().swap(e.png);
  return CodecStatus::Ok;
}

// Pictures of different sizes share a screen as large as the largest; each
// replaces the one before.
int finishRead(std::vector<Picture>& pictures, CodecStatus s, bool shown, const char* name,
               std::unique_ptr<Animation>& out, const DocumentDefaults& defaults) {
  if (s == CodecStatus::Ok) {
    int w = 0, h = 0;
    for (const Picture& p : pictures) {
      w = std::max(w, p.width);
      h = std::max(h, p.height);
    }
    out = animationFromPictures(pictures, w, h, 2, defaults);
    if (!out) s = CodecStatus::NoMemory;
  }
  if (!shown) reportReadFailure(s, name);
  return s == CodecStatus::Ok ? 1 : 0;
}

// An icon entry for a picture: PNG bytes for 256-pixel pictures when asked.
CodecStatus makeEntry(const Picture& p, const Frame* frame, bool png256, IconEntry& e) {
  if (p.width > 256 || p.height > 256 || p.width <= 0 || p.height <= 0)
    return CodecStatus::TooLarge;
  e.width = p.width;
  e.height = p.height;
  e.hotspotX = p.hotspotX;
  e.hotspotY = p.hotspotY;
  if (!png256 || (p.width < 256 && p.height < 256)) {
    e.picture = p;
    return CodecStatus::Ok;
  }
  std::unique_ptr<Frame> made;
  if (!frame) {
    made = frameFromPicture(p);
    if (!made) return CodecStatus::NoMemory;
    frame = made.get();
  }
  ByteSink sink(&e.png);
  return WritePngFrame(std::string(), *frame, nullptr, &sink) ? CodecStatus::Ok
                                                              : CodecStatus::Corrupt;
}

}  // namespace

int ReadIconBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                  const DocumentDefaults& defaults) {
  out.reset();
  PixelBudget budget(static_cast<int64_t>(size));
  IconFile icon;
  CodecStatus s = decodeIcon(data, size, &budget, icon);
  std::vector<Picture> pictures;
  bool shown = false;
  const char* name = icon.cursor ? "cursor" : "icon";
  try {
    pictures.resize(icon.entries.size());
    for (size_t i = 0; i < icon.entries.size() && s == CodecStatus::Ok; ++i)
      s = entryPicture(icon.entries[i], budget, pictures[i], shown);
  } catch (const std::bad_alloc&) {
    s = CodecStatus::NoMemory;
  }
  return finishRead(pictures, s, shown, name, out, defaults);
}

int ReadIconFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  return readFileWith(path, ReadIconBytes, out, defaults);
}

int ReadAniBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  out.reset();
  PixelBudget budget(static_cast<int64_t>(size));
  AniFile ani;
  CodecStatus s = decodeAni(data, size, &budget, ani);
  std::vector<Picture> frames, pictures;
  bool shown = false;
  try {
    // Each frame shows its largest image.
    for (size_t i = 0; i < ani.frames.size() && s == CodecStatus::Ok; ++i) {
      auto& entries = ani.frames[i].entries;
      auto largest = std::max_element(entries.begin(), entries.end(), [](auto& x, auto& y) {
        return int64_t{x.width} * x.height < int64_t{y.width} * y.height;
      });
      frames.emplace_back();
      s = entryPicture(*largest, budget, frames.back(), shown);
    }
    // Steps may show a frame many times: every copy counts against the budget.
    for (size_t i = 0; i < ani.steps.size() && s == CodecStatus::Ok; ++i) {
      const Picture& f = frames[static_cast<size_t>(ani.steps[i].frame)];
      const int64_t pixels = static_cast<int64_t>(f.width) * f.height;  // a copy: sent once
      if (!budget.take(pixels, 0, static_cast<int64_t>(f.pixelBytes()))) s = CodecStatus::TooLarge;
      pictures.push_back(f);
      pictures.back().delay = jiffiesToHundredths(ani.steps[i].jiffies);
    }
  } catch (const std::bad_alloc&) {
    s = CodecStatus::NoMemory;
  }
  return finishRead(pictures, s, shown, "animated cursor", out, defaults);
}

int ReadAniFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults) {
  return readFileWith(path, ReadAniBytes, out, defaults);
}

bool WriteIconFile(const std::string& path, const Animation& a, bool cursor,
                   const IconWriteOptions& options, Progress* progress) {
  IconFile icon;
  icon.cursor = cursor;
  std::vector<uint8_t> bytes;
  CodecStatus s = CodecStatus::Ok;
  if (progress) progress->setRange(a.frameCount());
  try {
    for (const Frame* f = firstFrame(a); f && s == CodecStatus::Ok; f = nextFrame(f)) {
      Picture p;
      if (!pictureFromFrame(*f, false, p)) throw std::bad_alloc();
      icon.entries.emplace_back();
      s = makeEntry(p, f, options.png256, icon.entries.back());
      if (progress && !progress->step()) s = CodecStatus::Cancelled;
    }
    // Programs that cannot read PNG images find the others first.
    if (options.xpOrder)
      std::stable_partition(icon.entries.begin(), icon.entries.end(),
                            [](const IconEntry& e) { return e.png.empty(); });
  } catch (const std::bad_alloc&) {
    s = CodecStatus::NoMemory;
  }
  if (s == CodecStatus::Ok) s = encodeIcon(icon, bytes);
  return finishWrite(path, s, bytes, cursor ? "cursor" : "icon");
}

bool WriteAniFile(const std::string& path, Animation& a, const IconWriteOptions& options,
                  Progress* progress, uint32_t timeBase) {
  AniFile ani;
  std::vector<Picture> pictures;
  std::vector<uint8_t> bytes;
  CodecStatus s = composedPictures(a, pictures, progress, timeBase);
  try {
    const Frame* f = firstFrame(a);
    if (a.hideFirstFrame && a.frameCount() > 1) f = nextFrame(f);
    for (size_t i = 0; i < pictures.size() && s == CodecStatus::Ok; ++i, f = nextFrame(f)) {
      Picture& p = pictures[i];
      if (f && f->hotspotX >= 0 && f->hotspotX < p.width && f->hotspotY >= 0 &&
          f->hotspotY < p.height) {
        p.hotspotX = f->hotspotX;
        p.hotspotY = f->hotspotY;
      }
      ani.frames.emplace_back();
      ani.frames.back().cursor = true;
      ani.frames.back().entries.emplace_back();
      s = makeEntry(p, nullptr, options.png256, ani.frames.back().entries.back());
      // A rate of 0 would spin: the shortest step is one jiffy.
      ani.steps.push_back({static_cast<int>(i), std::max(1, hundredthsToJiffies(p.delay))});
    }
  } catch (const std::bad_alloc&) {
    s = CodecStatus::NoMemory;
  }
  if (s == CodecStatus::Ok) s = encodeAni(ani, bytes);
  return finishWrite(path, s, bytes, "animated cursor");
}

}  // namespace fb
