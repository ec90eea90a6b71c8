// JPEG files as documents.
#include "formats/image_files.h"
#include "formats/jpeg_codec.h"
#include "formats/picture_frames.h"

namespace fb {

int ReadJpegBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                  const DocumentDefaults& defaults) {
  return readOnePicture(data, size, decodeJpeg, "JPEG", out, defaults);
}

int ReadJpegFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  return readFileWith(path, ReadJpegBytes, out, defaults);
}

bool WriteJpegFrame(const std::string& path, const Frame& frame, int quality) {
  Picture p;
  std::vector<uint8_t> bytes;
  CodecStatus s =
      pictureFromFrame(frame, false, p) ? encodeJpeg(p, quality, bytes) : CodecStatus::NoMemory;
  return finishWrite(path, s, bytes, "JPEG");
}

}  // namespace fb
