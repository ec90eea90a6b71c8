// Editing in another program ("使用图像编辑器即时编辑..."): the current frame,
// or the whole animation for an editor that takes layered files, goes to a
// temporary file that the user's image editor opens; each time the editor
// saves it, the file is read back as one undo step.
//
//   ExternalEditOptions o;  o.frame = current;  o.open = openOptionsFromPreferences();
//   auto session = ExternalEdit::begin(doc, o);       // null: message shown
//   if (session && session->launch(editorPath)) {     // the "CoEdit" setting
//     ... every few hundred milliseconds (or when a file watcher fires):
//     if (session->poll() == ExternalEdit::Status::Saved) {
//       Edit e;
//       if (session->readBack(doc, e)) runEdit(doc, history, e, current, progress);
//     }
//   }
//   session.reset();   // when the document closes or another edit starts
//
// The file: a frame is a PNG of the frame's own size (indices and palette as
// they are, the transparent index as PNG transparency); the whole animation is
// a PSD with one layer per frame at its position, bottom first.
//
// Reading back a frame: when the saved picture is indexed and every colour it
// uses is the colour of the same entry of the frame's palette (the editor kept
// the palette), the frame takes its indices exactly, with the saved
// transparency, and nothing else in the document changes. Otherwise the
// picture joins the document as inserted frames do (palettes reconciled by the
// merge method of `open.merge`, the frame-size rule applied) and takes the
// frame's place. Either way the frame keeps its delay, disposal, position,
// name and flags; its size is the picture's.
//
// Reading back the animation: the visible layers, bottom first, become the
// frames one for one (their positions and sizes from the layers, every other
// field from the frame they replace), mapped into palettes by the merge
// method; the screen takes the file's size. A file whose layer count is not
// the frame count (layers hidden, added or deleted) is refused and changes nothing.
//
// The temporary file lives in a private folder of its own, removed with
// everything in it when the session ends and on every failure of `begin`.
// Nothing here waits for the editor or depends on a window toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/animation.h"
#include "document/edit.h"
#include "imaging/palette_merge.h"
#include "io/options.h"

namespace fb {

struct ExternalEditOptions {
  bool wholeAnimation = false;  // the animation as a layered PSD (word 15 bit 0x8)
  int frame = 0;                // else the frame to edit (0-based)
  bool psdLayerMask = false;    // PSD: hide with layer masks (word 15 bit 0x1)
  OpenOptions open;             // how the saved file is read back, the merge settings among them
  MergeChooser* chooser = nullptr;  // answers the palette merge when its method asks
  std::string documentName;         // names the file for the editor's title; may be empty
  std::string folder;               // where the private folder goes; empty: $TMPDIR, else /tmp
};

class ExternalEdit {
 public:
  // Writes the file. Null, with the reason shown and nothing left on disk,
  // when there is no such frame or the file cannot be made.
  static std::unique_ptr<ExternalEdit> begin(const Animation& document,
                                             const ExternalEditOptions& options);
  ~ExternalEdit();
  ExternalEdit(const ExternalEdit&) = delete;
  ExternalEdit& operator=(const ExternalEdit&) = delete;

  const std::string& path() const { return path_; }

  // Starts `editor` (a program path, or a name looked up in PATH) with the
  // file as its one argument, detached: it outlives this session and is never
  // waited for. False, with the reason shown, when it cannot be started.
  bool launch(const std::string& editor) const;

  enum class Status {
    Unchanged,  // as last read back (or as written)
    Settling,   // changed since the last look: still being written, perhaps
    Saved,      // changed, and the same as at the last look: ready to read back
  };
  // Looks at the file (its identity, size and time, then its bytes). A save
  // shows as Settling at one look and Saved at the next, so that a file still
  // being written is not read; a save that leaves the bytes as they were is
  // Unchanged. After Saved, the same save is not reported again.
  Status poll();

  // The edit that takes the saved file into `document` ("使用图像编辑器即时编辑").
  // Reads the file now. False, with the reason shown, when it cannot be read or
  // does not fit (no picture; the frame is gone; the layer count differs).
  bool readBack(const Animation& document, Edit& out);

 private:
  ExternalEdit() = default;
  struct Signature {
    bool present = false;
    uint64_t device = 0, inode = 0;
    int64_t size = 0, seconds = 0, nanoseconds = 0;
    friend bool operator==(const Signature&, const Signature&) = default;
  };
  Signature look() const;
  bool readBackFrame(const Animation& document, std::unique_ptr<Animation> saved, Edit& out);
  bool readBackAnimation(const Animation& document, std::unique_ptr<Animation> saved, Edit& out);

  ExternalEditOptions options_;
  std::string folder_, path_;
  // Frame mode: the frame written, then each picture read back in its place
  // (undo and redo may put any of them back in the document).
  std::vector<std::weak_ptr<Block>> frames_;
  Signature taken_, seen_;  // the file as last read back; at the last look
  size_t takenHash_ = 0;    // its bytes as last read back
};

}  // namespace fb
