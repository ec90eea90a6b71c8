// Operations on frames that several commands share.
#pragma once

#include "document/animation.h"

namespace fb {

// True when some frame lies partly or wholly outside the logical screen.
bool framesOutsideScreen(const Animation& animation);

// Crops every frame to the logical screen: it keeps only its part inside,
// with its position and size adjusted. Returns false when memory ran out
// (frames already cropped stay cropped; the others are unchanged).
bool clipFramesToScreen(Animation& animation);

// Crops one frame to the rectangle (in frame coordinates) x0,y0 .. x1,y1
// (half-open, inside the frame). False when memory runs out.
bool cropFrame(Frame& frame, int x0, int y0, int x1, int y1);

}  // namespace fb
