#include "document/edit.h"

#include <exception>
#include <optional>

namespace fb {

int runEdit(Animation& doc, History& history, const Edit& edit, int currentFrame,
            Progress* progress) {
  // With undo off, a history of one step all the same: a failure must still
  // be taken back.
  std::optional<History> transient;
  History* kept = &history;
  bool recorded = false;
  try {
    if (history.levels() == 0) kept = &transient.emplace(1);
    recorded = kept->record(doc, edit.name, edit.change, currentFrame);
  } catch (const std::exception&) {
    recorded = false;
  }
  // An edit that could not be taken back is not made: short of memory for
  // the step, the document and its history stay as they are.
  if (!recorded) return 0;
  int result = 0;
  try {
    result = edit.apply(doc, progress);
  } catch (const std::exception&) {
    // Out of memory half way, most likely: taken back like any failure.
    result = 0;
  }
  if (result == 0) {
    kept->rollBack(doc);
    return 0;
  }
  // The selection count as undo and redo leave it, whatever frames went.
  countSelected(doc);
  return result;
}

}  // namespace fb
