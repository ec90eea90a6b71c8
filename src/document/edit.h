// One undoable edit of a document: its step's name, what it changes, and the
// operation itself. Every command that changes a document runs through
// `runEdit`, so each is one undo step and none leaves half an edit behind.
#pragma once

#include <functional>
#include <string>

#include "document/animation.h"
#include "document/change.h"
#include "document/history.h"

namespace fb {

class Progress;

struct Edit {
  std::string name;  // the undo step's name, from the string table
  Change change;     // what the operation may change (kept for undo, refreshed after)
  // 1 done; 2 stopped by the user (what was done stays, as one step);
  // 0 failed (message shown).
  std::function<int(Animation&, Progress*)> apply;
};

// Records the step, applies the edit, and on failure puts the document back
// as it was (even when undo is off) and forgets the step. Returns the edit's result.
int runEdit(Animation& doc, History& history, const Edit& edit, int currentFrame,
            Progress* progress);

}  // namespace fb
