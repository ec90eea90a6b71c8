// Frame-count reduction: every n-th frame goes, its time added to the one before.
#pragma once

#include "document/animation.h"

namespace fb {

// True when `interval` is from 2 to the frame count; otherwise shows why not.
bool validDeletionInterval(const Animation& animation, int interval);

// Removes the frames at 1-based positions n, 2n, 3n, ... of the order before,
// each one's delay going to the frame before it. False (with a message) for an
// invalid interval.
bool reduceFrameCount(Animation& animation, int interval);

// The frame count after a reduction by `interval`; -1 when it is invalid.
int reducedFrameCount(int frameCount, int interval);

}  // namespace fb
