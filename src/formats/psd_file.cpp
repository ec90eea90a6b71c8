// Photoshop files as documents: layers are frames.
#include "base/progress.h"
#include "document/bitmap.h"
#include "formats/image_files.h"
#include "formats/picture_frames.h"
#include "formats/psd_codec.h"

namespace fb {

namespace {
constexpr const char* kName = "PSD";
}

int ReadPsdBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  out.reset();
  PixelBudget budget(static_cast<int64_t>(size));
  PsdImage image;
  CodecStatus s = decodePsd(data, size, &budget, image);
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
