// Palette files.
#include "base/file_ops.h"
#include "base/reporter.h"
#include "formats/image_files.h"
#include "formats/pal_codec.h"
#include "formats/picture_frames.h"
#include "resources/strings.h"

namespace fb {

bool ReadPaletteFile(const std::string& path, std::unique_ptr<Palette>& out) {
  out.reset();
  std::string bytes;
  if (!fileops::readWholeFile(path, bytes)) {
    showWarning(format(Str::CannotOpenFile, path.c_str()));
    return false;
  }
  std::vector<Rgb> colours;
  CodecStatus s =
      decodePaletteFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), colours);
  if (s == CodecStatus::Ok) {
    out = makePalette(colours.data(), static_cast<int>(colours.size()));
    if (!out) s = CodecStatus::NoMemory;
  }
  reportReadFailure(s, "palette");
  return s == CodecStatus::Ok;
}

bool WritePaletteFile(const std::string& path, const Palette& palette) {
  std::vector<uint8_t> bytes;
  encodeRiffPalette(
      std::vector<Rgb>(palette.entries.begin(), palette.entries.begin() + palette.count), bytes);
  if (writeFileBytes(path, bytes)) return true;
  showWarning(format(Str::CannotWriteTo, path.c_str()));
  return false;
}

}  // namespace fb
