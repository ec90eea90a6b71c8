// The document the editor's commands work on: the animation, its undo
// history, its path and modified flag, the current frame and the selection
// (kept in the frames' own `selected` flags, so undo brings it back), and the
// main thread's picture cache.
//
// Every change goes through here. `aboutToChange` comes first, so that
// background work reading the document stops and the preview closes; then the
// edit runs as one undo step; then `changed` says what to refresh.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "document/change.h"
#include "document/edit.h"
#include "document/history.h"
#include "document/pictures.h"
#include "io/save_document.h"

namespace fb {

class Progress;

class DocumentContext : public QObject {
  Q_OBJECT

 public:
  explicit DocumentContext(QObject* parent = nullptr);
  ~DocumentContext() override;

  bool hasDocument() const { return doc_.animation != nullptr; }
  Animation* animation() const { return doc_.animation.get(); }
  // The engine's view of the open document (for saving).
  OpenDocument& openDocument() { return doc_; }
  const std::string& path() const { return doc_.path; }
  bool modified() const { return doc_.modified; }
  int frameCount() const { return doc_.animation ? doc_.animation->frameCount() : 0; }
  Frame* frame(int index) const { return doc_.animation ? doc_.animation->frame(index) : nullptr; }
  History& history() { return history_; }
  // Pictures for the main thread; null without a document.
  PictureCache* pictures();

  // ---- The document as a whole ----
  // A new document (or none): the history is cleared, the flag cleared, and
  // the first frame current.
  void setDocument(std::unique_ptr<Animation> animation, const std::string& path);
  void closeDocument() { setDocument(nullptr, std::string()); }
  void setPath(const std::string& path);
  void setModified(bool modified);
  // Undo levels from the preferences (word 12).
  void applyUndoLevels();

  // ---- Edits ----
  // Stops background work, runs `edit` as one undo step, marks the document
  // modified and announces the change. Returns the edit's result (0 failed).
  int apply(const Edit& edit, Progress* progress = nullptr);
  bool undo();
  bool redo();
  // The document was changed outside an edit (a save that clipped frames).
  void announce(const Change& change);
  // Call before changing the document by other means.
  void prepareChange() { emit aboutToChange(); }

  // ---- Current frame and selection ----
  int currentFrame() const { return current_; }
  void setCurrentFrame(int index);
  std::vector<int> selectedFrames() const;
  bool isSelected(int index) const;
  int selectedCount() const;
  // Click, Ctrl+click and Shift+click.
  void selectOnly(int index);
  void toggleSelected(int index);
  void selectRange(int index);  // from the anchor to `index`
  void setSelection(const std::vector<int>& indices, int current);
  void selectAll();
  void invertSelection();

 signals:
  void aboutToChange();
  void documentReplaced();
  void changed(const fb::Change& change);
  void selectionChanged();
  void stateChanged();  // path or modified flag

 private:
  bool step(bool redo);
  void afterChange(const Change& change);
  void syncSelection();
  OpenDocument doc_;
  History history_;
  int current_ = -1;
  std::unique_ptr<PictureCache> pictures_;
};

// first, first + 1, ... (`count` of them): the frames an insertion made.
std::vector<int> indexRange(int first, int count);

}  // namespace fb
