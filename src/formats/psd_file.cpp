// Photoshop files as documents: layers are frames.
#include <algorithm>
#include <new>

#include "base/progress.h"
#include "document/bitmap.h"
#include "formats/image_files.h"
#include "formats/picture_frames.h"
#include "formats/psd_codec.h"

namespace fb {

namespace {
constexpr const char* kName = "PSD";

// A layer's part on the canvas: what Photoshop shows of it, at offsets that
// other formats can store (a GIF frame cannot start left of the screen).
// False when memory runs out.
bool cutToCanvas(Picture& p, int width, int height) {
  const int x0 = std::max(0, p.left), y0 = std::max(0, p.top);
  const int x1 = std::min(width, p.left + p.width), y1 = std::min(height, p.top + p.height);
  if (x0 == p.left && y0 == p.top && x1 == p.left + p.width && y1 == p.top + p.height) return true;
  try {
    std::vector<uint8_t> kept(static_cast<size_t>(x1 - x0) * (y1 - y0) * 4);
    for (int y = y0; y < y1; ++y)
      std::copy_n(p.row(y - p.top) + 4 * static_cast<size_t>(x0 - p.left),
                  4 * static_cast<size_t>(x1 - x0),
                  kept.data() + 4 * static_cast<size_t>(y - y0) * (x1 - x0));
    p.pixels = std::move(kept);
  } catch (const std::bad_alloc&) {
    return false;
  }
  p.left = x0;
  p.top = y0;
  p.width = x1 - x0;
  p.height = y1 - y0;
  return true;
}
}  // namespace

int ReadPsdBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  out.reset();
  PixelBudget budget(static_cast<int64_t>(size));
  PsdImage image;
  CodecStatus s = decodePsd(data, size, &budget, image);
  for (Picture& p : image.pictures)
    if (s == CodecStatus::Ok && !cutToCanvas(p, image.width, image.height))
      s = CodecStatus::NoMemory;
  if (s == CodecStatus::Ok) {
    // Layers stack up: each stays when the next is drawn.
    out = animationFromPictures(image.pictures, image.width, image.height, 1, defaults);
    if (!out) s = CodecStatus::NoMemory;
  }
  reportReadFailure(s, kName);
  return s == CodecStatus::Ok ? 1 : 0;
}

int ReadPsdFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults) {
  return readFileWith(path, ReadPsdBytes, out, defaults);
}

bool WritePsdFile(const std::string& path, const Animation& a, bool layerMask, Progress* progress) {
  std::vector<Picture> layers;
  std::vector<uint8_t> bytes;
  CodecStatus s = CodecStatus::Ok;
  if (progress) progress->setRange(a.frameCount());
  try {
    for (const Frame* f = firstFrame(a); f; f = nextFrame(f)) {
      layers.emplace_back();
      if (!pictureFromFrame(*f, true, layers.back())) throw std::bad_alloc();
      if (progress && !progress->step()) {
        s = CodecStatus::Cancelled;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    s = CodecStatus::NoMemory;
  }
  if (s == CodecStatus::Ok) s = encodePsd(layers, a.width, a.height, layerMask, bytes);
  return finishWrite(path, s, bytes, kName);
}

}  // namespace fb
