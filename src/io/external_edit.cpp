#include "io/external_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "base/file_ops.h"
#include "base/reporter.h"
#include "document/edit_checks.h"
#include "formats/image_files.h"
#include "formats/png_writer.h"
#include "imaging/frame_insert.h"
#include "imaging/frame_update.h"
#include "io/open_save.h"
#include "resources/strings.h"

extern char** environ;

namespace fb {
namespace {

// Whether the saved picture is the frame's pixels in the frame's own palette:
// every index it uses shows the colour of that entry of the frame's palette.
bool keepsPalette(const Frame& picture, const Frame& frame) {
  const Palette* theirs = picture.palette();
  const Palette* mine = frame.palette();
  if (!picture.dib || !frame.dib || !theirs || !mine) return false;
  std::array<bool, 256> used{};
  for (int y = 0; y < picture.dib->height; ++y) {
    const uint8_t* row = picture.dib->row(y);
    for (int x = 0; x < picture.dib->width; ++x) used[row[x]] = true;
  }
  for (int v = 0; v < 256; ++v) {
    if (!used[static_cast<size_t>(v)]) continue;
    if (v >= mine->count) return false;
    if (picture.transparent() && v == picture.transparentIndex) continue;  // its colour never shows
    if (v >= theirs->count || !((*theirs)[v] == (*mine)[v])) return false;
  }
  return true;
}

// What the editor does not see of a frame goes from `from` to the picture `to`
// read back in its place: timing, disposal, flags, name, and (for a single
// frame) its position. Transparency and size are the picture's.
void takeFieldsOf(Frame& to, const Frame& from, bool position) {
  to.delay = from.delay;
  to.blend = from.blend;
  to.controlFlags = static_cast<uint8_t>((from.controlFlags & ~1) | (to.controlFlags & 1));
  to.imageFlags = static_cast<uint8_t>((to.imageFlags & ~0x40) | (from.imageFlags & 0x40));
  if (position) {
    to.left = from.left;
    to.top = from.top;
  }
  if (to.hotspotX < 0 && from.hotspotX < to.width && from.hotspotY < to.height) {
    to.hotspotX = from.hotspotX;
    to.hotspotY = from.hotspotY;
  }
  setFrameName(to, from.name ? atomText(from.name).c_str() : nullptr);
  to.selected = from.selected;
}

// The program to run: a path as given, or a name found in PATH. Empty when
// there is no such executable file.
std::string findProgram(const std::string& editor) {
  auto runnable = [](const std::string& p) {
    return fileops::isRegularFile(p) && ::access(p.c_str(), X_OK) == 0;
  };
  if (editor.empty()) return {};
  if (editor.find('/') != std::string::npos) return runnable(editor) ? editor : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + editor;
    if (runnable(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

std::string temporaryRoot(const std::string& folder) {
  if (!folder.empty()) return folder;
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

std::unique_ptr<ExternalEdit> ExternalEdit::begin(const Animation& doc,
                                                  const ExternalEditOptions& options) {
  const Frame* frame = frameNamed(doc, options.wholeAnimation ? 0 : options.frame);
  if (!frame) return nullptr;
  std::unique_ptr<ExternalEdit> s(new ExternalEdit);
  s->options_ = options;
  // Read back exactly what the editor saved: no colour made transparent on the way.
  s->options_.open.transparentOnLoad = false;
  std::string folder = temporaryRoot(options.folder) + "/flickbook-XXXXXX";
  if (!::mkdtemp(folder.data())) {
    showWarning(format(Str::ExternalTempFailed, std::strerror(errno)));
    return nullptr;
  }
  s->folder_ = folder;  // from here on the destructor removes it, whatever happens
  std::string stem = fileops::stemOf(options.documentName);
  if (stem.empty()) stem = "animation";
  bool written;
  if (options.wholeAnimation) {
    s->path_ = folder + "/" + stem + ".psd";
    written = WritePsdFile(s->path_, doc, options.psdLayerMask, nullptr);
  } else {
    s->path_ = folder + "/" + stem + "-" + std::to_string(options.frame + 1) + ".png";
    written = WritePngFrame(s->path_, *frame, nullptr) == 1;
    s->frames_.push_back(doc.share(frame));
  }
  std::string bytes;
  if (!written || !fileops::readWholeFile(s->path_, bytes)) {
    showWarning(format(Str::ExternalTempFailed, s->path_.c_str()));
    return nullptr;
  }
  s->taken_ = s->seen_ = s->look();
  s->takenHash_ = std::hash<std::string>{}(bytes);
  return s;
}

ExternalEdit::~ExternalEdit() {
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

bool ExternalEdit::launch(const std::string& editor) const {
  auto refuse = [&](int error) {
    showWarning(format(Str::ExternalCannotStart, editor.c_str(), std::strerror(error)));
    return false;
  };
  const std::string program = findProgram(editor);
  if (program.empty()) return refuse(ENOENT);
  // Everything the child needs is made before it exists: after fork only
  // async-signal-safe calls are allowed.
  std::string arg0 = program, arg1 = path_;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return refuse(errno);
  pid_t child = ::fork();
  if (child == 0) {
    // The editor runs as a grandchild in a session of its own, so that it is
    // nobody's to wait for and outlives this program; the pipe closes when it
    // starts, or carries the reason it could not.
    ::close(report[0]);
    pid_t editorPid = ::fork();
    if (editorPid != 0) ::_exit(editorPid < 0 ? 1 : 0);
    ::setsid();
    ::execve(argv[0], argv, environ);
    int error = errno;
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  if (child < 0) {
    int error = errno;
    ::close(report[0]);
    return refuse(error);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return refuse(EAGAIN);
  if (n == static_cast<ssize_t>(sizeof error)) return refuse(error);
  return true;
}

ExternalEdit::Signature ExternalEdit::look() const {
  Signature s;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return s;
  s.present = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.seconds = st.st_mtim.tv_sec;
  s.nanoseconds = st.st_mtim.tv_nsec;
  return s;
}

ExternalEdit::Status ExternalEdit::poll() {
  const Signature now = look();
  const bool settled = now == seen_;
  seen_ = now;
  // Gone (an editor that saves by replacing the file) or as taken: nothing to read yet.
  if (!now.present || now == taken_) return Status::Unchanged;
  if (!settled) return Status::Settling;
  std::string bytes;
  if (!fileops::readWholeFile(path_, bytes)) return Status::Unchanged;
  taken_ = now;
  const size_t hash = std::hash<std::string>{}(bytes);
  if (hash == takenHash_) return Status::Unchanged;  // saved without a change
  takenHash_ = hash;
  return Status::Saved;
}

bool ExternalEdit::readBack(const Animation& doc, Edit& out) {
  std::unique_ptr<Animation> saved;
  int r = openFile(path_, saved, nullptr, options_.open);
  if (r == kReadFailed || !saved) return false;  // the reader said why
  if (r != kReadComplete || saved->frameCount() < 1) {
    showWarning(text(Str::ExternalNoPicture));
    return false;
  }
  saved->nextAnimation.reset();
  return options_.wholeAnimation ? readBackAnimation(doc, std::move(saved), out)
                                 : readBackFrame(doc, std::move(saved), out);
}

bool ExternalEdit::readBackFrame(const Animation& doc, std::unique_ptr<Animation> saved,
                                 Edit& out) {
  // The latest of them the document holds: a second save replaces what the
  // first one read back.
  BlockPtr held;
  for (auto it = frames_.rbegin(); it != frames_.rend() && !held; ++it)
    if (BlockPtr b = it->lock(); b && doc.indexOf(static_cast<Frame*>(b.get())) >= 0) held = b;
  auto* frame = static_cast<Frame*>(held.get());
  if (!frame) {
    showWarning(text(Str::ExternalFrameGone));
    return false;
  }
  // Only the first picture counts; whatever else the editor saved goes.
  BlockPtr picture = saved->share(firstFrame(*saved));
  std::erase_if(frames_, [](const std::weak_ptr<Block>& w) { return w.expired(); });
  frames_.push_back(picture);
  for (BlockPtr& b : saved->takeAll())
    if (b != picture) b.reset();
  saved->setBlocks({picture});
  auto source = std::make_shared<std::unique_ptr<Animation>>(std::move(saved));
  auto gone = [held](const Animation& a) {
    if (a.indexOf(static_cast<Frame*>(held.get())) >= 0) return false;
    showWarning(text(Str::ExternalFrameGone));
    return true;
  };
  out.name = text(Str::UndoExternalEdit);

  if (keepsPalette(static_cast<Frame&>(*picture), *frame)) {
    // The same indices in the same palette: the new frame takes the old one's
    // place and the step keeps the old block whole.
    out.change = Change::reorder();
    out.apply = [held, picture, source, gone](Animation& a, Progress*) {
      if (gone(a) || !*source) return 0;
      auto& old = static_cast<Frame&>(*held);
      auto& f = static_cast<Frame&>(*picture);
      std::unique_ptr<Palette> local;
      if (old.localPalette && !(local = copyPalette(*old.localPalette))) {
        showWarning(text(Str::EditNoMemory));
        return 0;
      }
      source->reset();  // the picture is ours alone now
      takeFieldsOf(f, old, true);
      setLocalPalette(f, std::move(local));
      const size_t position = a.positionOf(&old);
      a.take(&old);
      a.insertAt(position, {picture});
      refreshFrameColours(f, a.globalPalette.get());
      if (old.hasRgb() && !addTrueColour(f, !old.alpha.empty())) {
        showWarning(text(Str::EditNoMemory));
        return 0;
      }
      recountColourUsage(a);
      a.encodedSize = -1;
      return 1;
    };
    return true;
  }

  // Other colours: the picture joins as an inserted frame would, then the old frame goes.
  out.change = Change::everything();
  MergeChooser* chooser = options_.chooser;
  const MergeOptions merge = options_.open.merge;
  out.apply = [held, picture, source, gone, chooser, merge](Animation& a, Progress* progress) {
    if (gone(a) || !*source) return 0;
    auto& old = static_cast<Frame&>(*held);
    takeFieldsOf(static_cast<Frame&>(*picture), old, true);
    const int32_t plays = a.playCount;  // one frame becoming two is no reason to change it
    if (insertAnimations(a, *source, a.indexOf(&old), chooser, progress, merge) != 1) return 0;
    a.take(&old);
    a.playCount = plays;
    countSelected(a);
    a.encodedSize = -1;
    return 1;
  };
  return true;
}

bool ExternalEdit::readBackAnimation(const Animation& doc, std::unique_ptr<Animation> saved,
                                     Edit& out) {
  auto layersFit = [](const Animation& a, const Animation& s) {
    if (s.frameCount() == a.frameCount()) return true;
    showWarning(format(Str::ExternalLayerCount, s.frameCount(), a.frameCount()));
    return false;
  };
  if (!layersFit(doc, *saved)) return false;
  std::shared_ptr<Animation> source(std::move(saved));
  MergeChooser* chooser = options_.chooser;
  const MergeOptions merge = options_.open.merge;
  out.name = text(Str::UndoExternalEdit);
  // New frames in the old ones' places (kept whole by the step), a new global palette.
  out.change = Change::replacement();
  out.apply = [source, layersFit, chooser, merge](Animation& a, Progress* progress) {
    Animation& s = *source;
    if (!layersFit(a, s)) return 0;
    bool indexed = false;
    for (int i = 0; i < s.frameCount(); ++i) {
      takeFieldsOf(*s.frame(i), *a.frame(i), false);
      indexed |= s.frame(i)->dib != nullptr;
    }
    // True-colour layers map into the document's palette where the method keeps one.
    if (!indexed && a.globalPalette) {
      auto copy = copyPalette(*a.globalPalette);
      if (!copy) {
        showWarning(text(Str::EditNoMemory));
        return 0;
      }
      setGlobalPalette(s, std::move(copy));
    }
    if (mergePalettes(nullptr, s, 0, chooser, progress, merge) != 1) return 0;
    std::vector<BlockPtr> frames;
    for (BlockPtr& b : s.takeAll())
      if (b->isFrame()) frames.push_back(std::move(b));
    std::vector<BlockPtr> blocks = a.takeAll();
    size_t next = 0;
    for (BlockPtr& b : blocks)
      if (b->isFrame()) b = frames[next++];
    a.setBlocks(std::move(blocks));
    a.width = s.width;
    a.height = s.height;
    setGlobalPalette(a, std::move(s.globalPalette));
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      refreshFrameColours(*f, a.globalPalette.get());
    recountColourUsage(a);
    a.encodedSize = -1;
    return 1;
  };
  return true;
}

}  // namespace fb
