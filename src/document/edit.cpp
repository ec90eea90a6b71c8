#include "document/edit.h"

#include <exception>

namespace fb {

int runEdit(Animation& doc, History& history, const Edit& edit, int currentFrame,
            Progress* progress) {
  // With undo off, a history of one step all the same: a failure must still
  // be taken back.
  History transient(1);
  History& kept = history.levels() > 0 ? history : transient;
  bool recorded = kept.record(doc, edit.name, edit.change, currentFrame);
  int result = 0;
  try {
    result = edit.apply(doc, progress);
  } catch (const std::exception&) {
    // Out of memory half way, most likely: taken back like any failure.
    result = 0;
  }
  if (result == 0) {
    if (recorded) kept.rollBack(doc);
    return 0;
  }
  // The selection count as undo and redo leave it, whatever frames went.
  countSelected(doc);
  return result;
}

}  // namespace fb
