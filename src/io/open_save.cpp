#include "io/open_save.h"

#include <pthread.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <new>
#include <thread>

#include "base/byte_source.h"
#include "base/file_ops.h"
#include "base/interrupt.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "formats/avi.h"
#include "formats/filmstrip.h"
#include "formats/image_files.h"
#include "formats/png_reader.h"
#include "formats/png_writer.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/palette_merge.h"
#include "resources/strings.h"

namespace fb {
namespace {

// GIF files from this size on are read with their images decoded on every core.
constexpr int64_t kParallelReadBytes = 256 << 10;

constexpr FileType kTypes[kTypeCount] = {
    {"dummy", "dummy", "dummy"},
    {"gif", "GIF animation/image(s) (.gif)", "*.gif"},
    {"avi", "AVI animation (.avi)", "*.avi"},
    {"swf", "Macromedia Flash (SWF) animation (.swf)", "*.swf"},
    {"bmp", "BMP image(s) (.bmp)", "*.bmp"},
    {"jpg", "JPEG image(s) (.jpg)", "*.jpg;*.jpe,*.jpeg"},
    {"psd", "Photoshop PSD image (.psd)", "*.psd"},
    {"png", "PNG image(s) (.png)", "*.png"},
    {"cur", "Windows cursor (.cur)", "*.cur"},
    {"ico", "Windows icon (.ico)", "*.ico"},
    {"ani", "Windows animated cursor (.ani)", "*.ani"},
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int readGifFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const OpenOptions& options) {
  FileSource src;
  if (!src.open(path)) {
    showWarning(format(Str::CannotOpenFile, path.c_str()));
    return kReadFailed;
  }
  if (!isGifSignature(src)) {
    showWarning(format(Str::NotAGifFile, path.c_str()));
    return kReadFailed;
  }
  GifReadOptions read;
  read.defaults = options.defaults;
  read.keepInterlace = options.keepInterlace;
  // Large files are decoded on every core (small ones cost more to hand over).
  if (src.size() >= kParallelReadBytes) read.threads = TaskPool::cores();
  return readGif(src, progress, out, read);
}

int readPngFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const OpenOptions& options) {
  return ReadPngFile(path, progress, out, options.defaults);
}

int readAviFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const OpenOptions& options) {
  AviReadOptions read;
  read.defaults = options.defaults;
  return ReadAviFile(path, progress, out, read);
}

// The further formats' readers, given the user's document defaults.
template <int (*Read)(const std::string&, Progress*, std::unique_ptr<Animation>&,
                      const DocumentDefaults&)>
int readWith(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
             const OpenOptions& options) {
  return Read(path, progress, out, options.defaults);
}

// Readers by extension (compared without case). Formats without a reader
// here answer that the type cannot be read.
struct ReaderEntry {
  const char* extension;
  ReaderFn read;
};
const ReaderEntry kReaders[] = {
    {"gif", readGifFile},
    {"png", readPngFile},
    {"apng", readPngFile},  // the name animated PNGs often go by
    {"avi", readAviFile},
    {"bmp", readWith<ReadBmpFile>},
    {"dib", readWith<ReadBmpFile>},
    {"jpg", readWith<ReadJpegFile>},
    {"jpe", readWith<ReadJpegFile>},
    {"jpeg", readWith<ReadJpegFile>},
    {"psd", readWith<ReadPsdFile>},
    {"ico", readWith<ReadIconFile>},
    {"cur", readWith<ReadIconFile>},
    {"ani", readWith<ReadAniFile>},
};

bool writeGifWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  stampSignature(a, options.gif);
  return writeGifFile(path, a, progress, options.gif);
}

// A PNG of a multi-frame document is an animated PNG; one frame is a picture.
bool writePngWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  Frame* f = firstFrame(a);
  if (!f) return false;
  if (a.frameCount() > 1)
    return WriteApngFile(path, a, progress, nullptr, options.gif.timeBase) != 0;
  return WritePngFrame(path, *f, nullptr) != 0;
}

bool writeAviWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return writeAviForSave(path, a, progress, options.aviPanel, options.avi, options.gif.timeBase,
                         options.merge);
}

bool writeSwfWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return WriteSwfFile(path, a, progress, options.gif.timeBase);
}

bool writePsdWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return WritePsdFile(path, a, options.formats.psdLayerMask, progress);
}

IconWriteOptions iconOptions(const FormatOptions& formats) {
  return IconWriteOptions{formats.iconXpOrder, formats.iconPng256};
}
bool writeIcoWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return WriteIconFile(path, a, false, iconOptions(options.formats), progress);
}
bool writeCurWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return WriteIconFile(path, a, true, iconOptions(options.formats), progress);
}
bool writeAniWhole(const std::string& path, Animation& a, uint32_t, Progress* progress,
                   const SaveOptions& options) {
  return WriteAniFile(path, a, iconOptions(options.formats), progress, options.gif.timeBase);
}

// Writers of whole documents by type.
struct WriterEntry {
  int type;
  WriterFn write;
};
const WriterEntry kWriters[] = {
    {kTypeGif, writeGifWhole}, {kTypeAvi, writeAviWhole}, {kTypePng, writePngWhole},
    {kTypeSwf, writeSwfWhole}, {kTypePsd, writePsdWhole}, {kTypeIco, writeIcoWhole},
    {kTypeCur, writeCurWhole}, {kTypeAni, writeAniWhole},
};

// Writers of one frame as a picture of its own, for single-image saves. A
// filmstrip picture comes with the animation it shows as `source`.
using FrameWriterFn = bool (*)(const std::string& path, Frame& frame, uint32_t options,
                               const Animation* source, const SaveOptions& saveOptions);
bool writeGifFrame(const std::string& path, Frame& frame, uint32_t, const Animation*,
                   const SaveOptions& options) {
  return writeFrameAsGif(path, frame, options.gif);
}
bool writePngFrame(const std::string& path, Frame& frame, uint32_t, const Animation* source,
                   const SaveOptions&) {
  return WritePngFrame(path, frame, source) != 0;
}
bool writeBmpFrame(const std::string& path, Frame& frame, uint32_t options, const Animation*,
                   const SaveOptions&) {
  return WriteBmpFrame(path, frame, (options & saveopt::TrueColour) != 0);
}
bool writeJpegFrame(const std::string& path, Frame& frame, uint32_t, const Animation*,
                    const SaveOptions& options) {
  return WriteJpegFrame(path, frame, options.formats.jpegQuality);
}
struct FrameWriterEntry {
  int type;
  FrameWriterFn write;
};
const FrameWriterEntry kFrameWriters[] = {
    {kTypeGif, writeGifFrame},
    {kTypePng, writePngFrame},
    {kTypeBmp, writeBmpFrame},
    {kTypeJpeg, writeJpegFrame},
};

void transparentOnLoad(Animation& a, const OpenOptions& options) {
  if (!options.transparentOnLoad) return;
  const Rgb want = options.transparentColour;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->transparent() || f->hasRgb() || !f->palette()) continue;
    // The nearest entry, taken only when it is the colour exactly.
    int best = -1;
    int bestDistance = 0;
    for (int i = 0; i < f->palette()->count; ++i) {
      const Rgb& p = (*f->palette())[i];
      int d = (p.r - want.r) * (p.r - want.r) + (p.g - want.g) * (p.g - want.g) +
              (p.b - want.b) * (p.b - want.b);
      if (best < 0 || d < bestDistance) {
        best = i;
        bestDistance = d;
        if (d == 0) break;
      }
    }
    if (best >= 0 && bestDistance == 0) {
      setTransparentIndex(*f, best);
      setTransparent(*f, true);
    }
  }
}

// Writes with `write` into a fresh temporary file beside `target`, then puts
// it in place. The target is untouched unless everything succeeded.
template <typename Write>
bool writeThenReplace(const std::string& target, int type, Progress* progress, Write write) {
  // The rename needs only the folder: a file the user may not write (a locked
  // file, read-only or another's) would be replaced behind its back.
  const bool replacing = fileops::exists(target);
  if (replacing && !fileops::openableForWriting(target)) {
    showWarning(format(Str::CannotWriteTo, target.c_str()));
    return false;
  }
  std::string dir = fileops::directoryOf(target);
  std::string temp = dir + "/." + kTypes[type].extension + "-" + "XXXXXX." + kTypes[type].extension;
  LiveTemporary live;  // removed if the program is interrupted meanwhile
  const int suffix = static_cast<int>(std::string(kTypes[type].extension).size()) + 1;
  // The copy of a file that exists is private until it takes that file's
  // permissions: private content is never open to others meanwhile.
  if (!createLiveTemporary(temp, suffix, replacing ? 0600 : 0666, live)) {
    showWarning(format(Str::CannotSaveTemporary, temp.c_str()));
    return false;
  }
  CountingReporter said(reporter());
  bool written = false;
  {
    ScopedReporter scope(said);
    try {
      written = write(temp);
    } catch (const std::bad_alloc&) {
      // A writer short of memory fails like any other: its file goes below.
      showWarning(text(Str::NoMemoryFrameImage));
    }
  }
  if (written) fileops::copyPermissions(temp, target);
  if (!written) {
    fileops::removeFile(temp);
    // A cancel is the user's choice; any other failure is told once.
    if (!(progress && progress->cancelled()) && said.count() == 0)
      showWarning(format(Str::CannotWriteTo, target.c_str()));
    return false;
  }
  try {
    return safeReplace(target, temp);
  } catch (const std::bad_alloc&) {
    fileops::removeFile(temp);  // the target is as it was: its copy goes
    throw;
  }
}

}  // namespace

const FileType& fileType(int index) {
  if (index < 0 || index >= kTypeCount) index = 0;
  return kTypes[index];
}

std::string extensionOf(const std::string& path) {
  std::string base = fileops::baseName(path);
  auto dot = base.rfind('.');
  return dot == std::string::npos ? std::string() : base.substr(dot + 1);
}

int typeOfExtension(const std::string& extension) {
  std::string ext = lower(extension);
  if (ext == "jpeg" || ext == "jpe") return kTypeJpeg;
  if (ext == "dib") return kTypeBmp;
  if (ext == "apng") return kTypePng;  // read as PNG, so written as one (animated)
  for (int i = 1; i < kTypeCount; ++i)
    if (ext == kTypes[i].extension) return i;
  return 0;
}

int typeOfPath(const std::string& path) {
  int type = typeOfExtension(extensionOf(path));
  return type ? type : kTypeGif;
}

int openFile(const std::string& path, std::unique_ptr<Animation>& out, Progress* progress,
             const OpenOptions& options) {
  out.reset();
  {
    FileSource probe;
    if (!probe.open(path)) {
      showWarning(format(Str::CannotOpenFile, path.c_str()));
      return kReadFailed;
    }
  }
  std::string ext = lower(extensionOf(path));
  ReaderFn read = nullptr;
  for (const auto& r : kReaders)
    if (ext == r.extension) read = r.read;
  if (!read) {
    showWarning(text(Str::CannotReadType));
    return kReadFailed;
  }
  int result = read(path, progress, out, options);
  if (result == kReadFailed || !out) {
    out.reset();
    return kReadFailed;
  }
  Animation& a = *out;
  nameUnnamedFrames(a, path);
  transparentOnLoad(a, options);
  recountColourUsage(a);
  if (a.frameCount() == 1) {
    Frame* f = firstFrame(a);
    if (f && f->transparent()) f->setDisposal(2);
  }
  return result;
}

std::string numberedPath(const std::string& path, int n, int count) {
  std::string dir = fileops::directoryOf(path);
  std::string base = fileops::baseName(path);
  std::string ext = extensionOf(path);
  std::string stem = ext.empty() ? base : base.substr(0, base.size() - ext.size() - 1);
  int digits = 3;
  for (int c = count; c >= 1000; c /= 10) ++digits;
  char num[16];
  std::snprintf(num, sizeof num, "%0*d", digits, n);
  std::string name = stem + "-" + num + (ext.empty() ? "" : "." + ext);
  return path.find('/') == std::string::npos ? name : dir + "/" + name;
}

namespace {

bool saveUnguarded(const std::string& pathIn, Animation& a, uint32_t options, int type,
                   Progress* progress, const SaveOptions& saveOptions) {
  if (type < 1 || type >= kTypeCount) type = kTypeGif;
  // Saving through a symbolic link replaces the file it points to.
  std::string path = fileops::resolvedPath(pathIn);
  if (fileops::exists(path) && !fileops::isRegularFile(path)) {
    showWarning(format(Str::CannotWriteTo, pathIn.c_str()));
    return false;
  }

  bool whole = type == kTypeGif ? (options & saveopt::WholeAnimation) != 0
                                : !(options & (saveopt::Numbered | saveopt::Filmstrip));
  if (type == kTypeGif && !whole) options |= saveopt::FramesOneByOne;

  // "Always 24- or 32-bit" PNG: the frames are written from true-colour copies.
  std::unique_ptr<Animation> converted;
  if (type == kTypePng && (options & saveopt::TrueColour) && saveOptions.pngAlways24) {
    converted = trueColourCopy(a, nullptr);
    if (!converted) {
      showWarning(text(Str::NoMemoryFrameImage));
      return false;
    }
  }
  Animation& doc = converted ? *converted : a;

  // Indexed output needs every frame's colours in a palette: true-colour
  // frames that never got one are mapped now (as joining a document would).
  if (type == kTypeGif) {
    bool unmapped = false;
    for (Frame* f = firstFrame(a); f && !unmapped; f = nextFrame(f))
      unmapped = f->hasRgb() && !f->dib;
    if (unmapped && mergePalettes(nullptr, a, 0, nullptr, progress, saveOptions.merge) != 1)
      return false;
  }

  WriterFn writer = nullptr;
  for (const auto& w : kWriters)
    if (w.type == type) writer = w.write;
  FrameWriterFn frameWriter = nullptr;
  for (const auto& w : kFrameWriters)
    if (w.type == type) frameWriter = w.write;

  if (whole && writer) {
    // A refusal is said before anything is written, and is the only message.
    if (type == kTypePng && doc.frameCount() > 1 && !CheckApngWritable(doc)) return false;
    return writeThenReplace(path, type, progress, [&](const std::string& temp) {
      return writer(temp, doc, options, progress, saveOptions);
    });
  }
  if (!frameWriter) {
    showWarning(text(Str::CannotSaveType));
    return false;
  }
  if ((options & saveopt::Filmstrip) && type != kTypeGif && !(options & saveopt::Numbered)) {
    bool vertical = options & saveopt::FilmstripVertical;
    int pictures = doc.frameCount() - (doc.hideFirstFrame && doc.frameCount() > 1 ? 1 : 0);
    FilmstripLayout layout = filmstripLayout(pictures, options);
    auto strip = makeFilmstrip(doc, layout, vertical, progress);
    if (!strip) {
      if (!(progress && progress->cancelled())) showWarning(text(Str::NoMemoryFrameImage));
      return false;
    }
    std::string target = path;
    if (saveOptions.filmstripSizeInName) target = filmstripPath(path, layout.columns, layout.rows);
    if (fileops::exists(target) && !fileops::isRegularFile(target)) {
      showWarning(format(Str::CannotWriteTo, target.c_str()));
      return false;
    }
    // Read back, the "pAni" chunk cuts the picture into one row of frames:
    // it is only true of a one-row strip.
    const Animation* source = layout.rows == 1 ? &doc : nullptr;
    return writeThenReplace(target, type, progress, [&](const std::string& temp) {
      return frameWriter(temp, *strip, options, source, saveOptions);
    });
  }
  if (!(options & saveopt::Numbered)) {
    Frame* f = firstFrame(doc);
    if (!f) return false;
    return writeThenReplace(path, type, progress, [&](const std::string& temp) {
      return frameWriter(temp, *f, options, nullptr, saveOptions);
    });
  }
  int count = doc.frameCount(), n = 0;
  if (progress) progress->setRange(count);
  for (Frame* f = firstFrame(doc); f; f = nextFrame(f)) {
    ++n;
    std::string target = numberedPath(path, n, count);
    if (fileops::exists(target) && !fileops::isRegularFile(target)) {
      showWarning(format(Str::CannotWriteTo, target.c_str()));
      return false;
    }
    if (!writeThenReplace(target, type, progress, [&](const std::string& temp) {
          return frameWriter(temp, *f, options, nullptr, saveOptions);
        }))
      return false;
    if (progress && !progress->step()) return false;
  }
  return true;
}

}  // namespace

bool saveByType(const std::string& path, Animation& a, uint32_t options, int type,
                Progress* progress, const SaveOptions& saveOptions) {
  // Short of memory outside a writer (names, paths, messages), the save
  // fails as any other: nothing thrown leaves it.
  try {
    return saveUnguarded(path, a, options, type, progress, saveOptions);
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryFrameImage));
    return false;
  }
}

std::string filmstripPath(const std::string& path, int columns, int rows) {
  std::string base = fileops::baseName(path);
  auto dot = base.rfind('.');
  size_t at = dot == std::string::npos ? path.size() : path.size() - (base.size() - dot);
  return path.substr(0, at) + format(Str::FilmstripNameFormat, columns, rows) + path.substr(at);
}

bool safeReplace(const std::string& target, const std::string& written) {
  std::string dir = fileops::directoryOf(target);
  std::string backup;
  bool linked = false;
  LiveTemporary liveBackup;
  if (fileops::exists(target)) {
    // Keep the old file under a second name until the new one is in place. A
    // hard link leaves the target where it is all along; where links are not
    // possible the target is moved aside instead.
    for (int attempt = 0; attempt < 100 && backup.empty(); ++attempt) {
      std::string name = dir + "/fbk" + fileops::randomName(6);
      if (fileops::linkFile(target, name)) {
        backup.swap(name);  // nothing allocated once the link exists
        linked = true;
        liveBackup.track(backup);
      } else if (errno != EEXIST) {
        // Interrupted while moved aside, the target is moved back.
        liveBackup.track(name, target);
        if (!fileops::exists(name) && fileops::renameFile(target, name))
          backup.swap(name);
        else
          liveBackup.release();
        break;
      }
    }
    if (backup.empty()) {
      fileops::removeFile(written);
      showWarning(format(Str::CannotWriteTo, target.c_str()));
      return false;
    }
  }
  if (!fileops::renameFile(written, target)) {
    showWarning(format(Str::CannotWriteTo, target.c_str()));
    fileops::removeFile(written);
    if (!backup.empty()) {
      if (linked && fileops::isRegularFile(target)) {
        fileops::removeFile(backup);
      } else if (!fileops::renameFile(backup, target)) {
        showWarning(format(Str::CannotRecover, target.c_str()));
        showWarning(format(Str::BackupKeptAs, backup.c_str()));
      }
    }
    return false;
  }
  // The new file is the target now: an interrupt only removes the backup.
  if (!linked) liveBackup.track(backup);
  fileops::syncDirectory(dir);
  if (!backup.empty()) {
    bool removed = fileops::removeFile(backup);
    for (int retry = 0; retry < 5 && !removed; ++retry) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      removed = fileops::removeFile(backup);
    }
    if (!removed) showWarning(format(Str::CannotDeleteTemporary, backup.c_str()));
  }
  return true;
}

}  // namespace fb
