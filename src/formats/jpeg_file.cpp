// JPEG files as documents.
#include "formats/image_files.h"
#include "formats/jpeg_codec.h"
#include "formats/picture_frames.h"

namespace fb {

int ReadJpegFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out) {
  return readOnePicture(path, decodeJpeg, "JPEG", out);
}

bool WriteJpegFrame(const std::string& path, const Frame& frame, int quality) {
  Picture p;
  std::vector<uint8_t> bytes;
  CodecStatus s =
      pictureFromFrame(frame, false, p) ? encodeJpeg(p, quality, bytes) : CodecStatus::NoMemory;
  return finishWrite(path, s, bytes, "JPEG");
}

}  // namespace fb
