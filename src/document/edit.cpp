#include "document/edit.h"

namespace fb {

int runEdit(Animation& doc, History& history, const Edit& edit, int currentFrame,
            Progress* progress) {
  // With undo off, a history of one step all the same: a failure must still
  // be taken back.
  History transient(1);
  History& kept = history.levels() > 0 ? history : transient;
  bool recorded = kept.record(doc, edit.name, edit.change, currentFrame);
  int result = edit.apply(doc, progress);
  if (result == 0 && recorded) kept.rollBack(doc);
  return result;
}

}  // namespace fb
