// Palette files.
#include <cerrno>
#include <new>

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
    if (errno == ENOMEM)
      showWarning(text(Str::NoMemoryFrameImage));
    else
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

bool WritePaletteFile(const std::string& pathIn, const Palette& palette) {
  // Through a symbolic link, the file it points to is replaced.
  const std::string path = fileops::resolvedPath(pathIn);
  std::vector<uint8_t> bytes;
  encodeRiffPalette(
      std::vector<Rgb>(palette.entries.begin(), palette.entries.begin() + palette.count), bytes);
  // Written beside the target and renamed over it, so that a failed save
  // leaves the old file as it was.
  std::string temp = fileops::directoryOf(path) + "/.pal-XXXXXX";
  bool made;
  {
    fileops::WriteFile probe;
    made = probe.createUnique(temp, 0, fileops::exists(path) ? 0600 : 0666);
  }
  if (made && writeFileBytes(temp, bytes)) {
    fileops::copyPermissions(temp, path);
    if (fileops::renameFile(temp, path)) return true;
  }
  if (made) fileops::removeFile(temp);
  showWarning(format(Str::CannotWriteTo, pathIn.c_str()));
  return false;
}

}  // namespace fb
