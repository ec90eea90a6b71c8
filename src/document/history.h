// Undo and redo. Before an edit, `record` keeps what the edit's Change covers
// of the document as it is: the header, the order of the blocks, and a copy of
// each frame whose content will change (only its fields when the change says
// so). Everything else is shared with the document, so the history grows with
// what changed, not with the document. Undo exchanges the kept state with the
// document's (the step then holds what redo needs); steps are undone strictly
// last first, which is what makes the sharing safe.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "document/animation.h"
#include "document/change.h"

namespace fb {

class History {
 public:
  explicit History(int levels = 20);
  History(const History&) = delete;
  History& operator=(const History&) = delete;
  ~History();

  // The number of steps kept (preference word 12); 0 turns undo off and
  // forgets every step.
  void setLevels(int levels);
  int levels() const { return levels_; }

  // Keeps what `change` covers of `doc` as it is now, as a step named `name`
  // (a text of the string table), with the current frame. Forgets the steps
  // that could be redone. False, and nothing kept, when undo is off or memory
  // runs out.
  bool record(Animation& doc, const std::string& name, const Change& change, int currentFrame);
  // The edit recorded last did not happen: its step goes, the document is left alone.
  void dropLast();
  // The edit recorded last failed half way: the document goes back to how it
  // was, and the step goes.
  void rollBack(Animation& doc);

  bool canUndo() const { return done_ > 0; }
  bool canRedo() const { return done_ < steps_.size(); }
  std::string undoName() const;  // empty when there is nothing to undo
  std::string redoName() const;

  // The document (and the current frame) as before the last step; `changed`,
  // when given, says what to refresh. False when there is nothing to undo, or
  // when memory runs out (then nothing changed and the step stays).
  bool undo(Animation& doc, int& currentFrame, Change* changed = nullptr);
  bool redo(Animation& doc, int& currentFrame, Change* changed = nullptr);

  void clear();
  size_t steps() const { return steps_.size(); }
  // Bytes the steps hold beyond what the document itself holds.
  size_t bytesHeld() const;

 private:
  struct Step;
  // `keep`: the step keeps the document's state for the way back (not when rolling back).
  void exchange(Step& step, Animation& doc, int& currentFrame, bool keep = true);
  void trim();
  int levels_;
  std::deque<std::unique_ptr<Step>> steps_;
  size_t done_ = 0;  // steps_[0 .. done_) can be undone, the rest redone
};

}  // namespace fb
