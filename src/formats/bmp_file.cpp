// BMP files as documents.
#include "formats/bmp_codec.h"
#include "formats/image_files.h"
#include "formats/picture_frames.h"

namespace fb {

int ReadBmpBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults) {
  return readOnePicture(data, size, decodeBmp, "BMP", out, defaults);
}

int ReadBmpFile(const std::string& path, Progress*, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults) {
  return readFileWith(path, ReadBmpBytes, out, defaults);
}

bool WriteBmpFrame(const std::string& path, const Frame& frame, bool trueColour) {
  Picture p;
  std::vector<uint8_t> bytes;
  CodecStatus s = pictureFromFrame(frame, trueColour, p) ? encodeBmp(p, trueColour, bytes)
                                                         : CodecStatus::NoMemory;
  return finishWrite(path, s, bytes, "BMP");
}

}  // namespace fb
