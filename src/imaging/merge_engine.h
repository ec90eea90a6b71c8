// The palette-merge engine behind mergePalettes, mapFrameIntoGlobalPalette and
// frame insertion (internal to imaging/).
#pragma once

#include <array>
#include <cstdint>

#include "document/animation.h"

namespace fb {

class MergeChooser;
struct MergeOptions;
class Progress;

struct MergeRequest {
  Animation* target = nullptr;            // null: the first source receives
  Animation* sources = nullptr;           // with more queued on its nextAnimation
  uint32_t method = 0;                    // 0: the stored word
  const MergeOptions* options = nullptr;  // null: the stored defaults
  MergeChooser* chooser = nullptr;
  Progress* progress = nullptr;
  // With a target: the block after which the sources' blocks are linked.
  Block* insertAfter = nullptr;
  // What the receiver's frames on its global palette show (their pixels but
  // the transparent ones), when a caller merging frame after frame keeps that
  // count itself: the merge into the global palette then counts nothing and
  // leaves colourUsage for the caller to bring up to date.
  const std::array<int64_t, 256>* receiverShown = nullptr;
};

// Reconciles the palettes and, with a target, moves every source's blocks into
// it after `insertAfter` (the source records are left empty, frameCount 0, and
// still queued; the caller destroys them). 1 done, 2 cancelled, 0 failed
// (message shown); on 0 and 2 nothing has changed.
int runMerge(MergeRequest& request);

}  // namespace fb
