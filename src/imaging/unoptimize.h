// Unoptimize: every frame becomes a full-screen, opaque picture of what the
// viewer sees at that frame.
#pragma once

#include "document/animation.h"

namespace fb {

class Progress;

// False (with a message) when it cannot: local palettes, or no memory. When
// memory runs out part way, the frames before are converted already.
bool unoptimize(Animation& animation, Progress* progress);

}  // namespace fb
