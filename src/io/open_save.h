// Opening any supported file by its extension, and saving a document in a
// chosen type through a temporary file and a safe replace of the target.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/animation.h"
#include "io/options.h"

namespace fb {

class Progress;

// ---- The Save As type table ----

enum FileTypeIndex : int {
  kTypeGif = 1,
  kTypeAvi = 2,
  kTypeSwf = 3,
  kTypeBmp = 4,
  kTypeJpeg = 5,
  kTypePsd = 6,
  kTypePng = 7,
  kTypeCur = 8,
  kTypeIco = 9,
  kTypeAni = 10,
  kTypeCount = 11,  // index 0 is the placeholder "dummy"
};

struct FileType {
  const char* extension;
  const char* filterText;
  const char* pattern;
};
// 0..10; 0 is the placeholder.
const FileType& fileType(int index);

// The text after the last '.' of the file name (empty when it has none).
std::string extensionOf(const std::string& path);
// The type an extension (without its dot, compared without case) names:
// "jpeg" and "jpe" are JPEG, "dib" is BMP, "apng" is PNG; 0 for any other.
int typeOfExtension(const std::string& extension);
// The type to save `path` as, from its extension; anything unknown is GIF.
int typeOfPath(const std::string& path);

// ---- The save options word ----

namespace saveopt {
constexpr uint32_t WholeAnimation = 0x3;  // bits 0-1: the whole animation as one GIF
constexpr uint32_t FramesOneByOne = 0x4;  // set by the save for GIF without bits 0-1
constexpr uint32_t TrueColour = 0x8;      // 24-bit JPEG (and PNG with the always-24-bit option)
constexpr uint32_t Filmstrip = 0x10;      // one picture of all frames
constexpr uint32_t Numbered = 0x20;       // one file per frame
constexpr uint32_t FilmstripVertical = 0x100;
inline int framesPerRow(uint32_t options) {
  return static_cast<int>(options >> 16);
}
}  // namespace saveopt

// ---- Readers and writers plugged in by format ----

// A reader: result 0 (failed, message shown), 1 (complete) or 2 (partial).
using ReaderFn = int (*)(const std::string& path, Progress* progress,
                         std::unique_ptr<Animation>& animation, const OpenOptions& options);
// A writer of a whole document to `path` (a temporary file beside the target).
// True on success; failures show their own message.
using WriterFn = bool (*)(const std::string& path, Animation& animation, uint32_t saveOptions,
                          Progress* progress, const SaveOptions& options);

// ---- Opening ----

// Result 0 (failed, message shown), 1 (complete) or 2 (partial). Unnamed
// frames are named from the path, the transparent-colour-on-load option is
// applied, colour usage recounted, and a lone transparent frame restores to
// the background.
int openFile(const std::string& path, std::unique_ptr<Animation>& animation, Progress* progress,
             const OpenOptions& options = {});

// ---- Saving ----

// Writes the document to `path` in the given type, through a temporary file
// in the target's folder that then replaces the target. A failed or cancelled
// write leaves the target as it was; so does a target that this process may
// not open for writing ("无法写入到 %s."). True on success.
bool saveByType(const std::string& path, Animation& animation, uint32_t options, int typeIndex,
                Progress* progress, const SaveOptions& saveOptions = {});

// Moves the freshly written file over the target, keeping a backup of the
// target until the move has succeeded. True on success.
bool safeReplace(const std::string& target, const std::string& written);

// The name of the n-th (1-based) numbered file for `path`: "dir/name-001.ext".
std::string numberedPath(const std::string& path, int n, int count);

// A filmstrip picture's name with its grid: "dir/name (4x2).ext".
std::string filmstripPath(const std::string& path, int columns, int rows);

}  // namespace fb
