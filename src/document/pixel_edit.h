// The pixel editor's operations on one frame's indexed pixels. Each is one
// call that changes the frame only when it succeeds (false, with the reason
// shown, and nothing changed otherwise). A frame's 24-bit colour and alpha
// data, when it has them, follow the painted pixels, so both pictures agree.
// Undo (the Edits of imaging/edits.h): each changes the content of that one
// frame.
#pragma once

#include <vector>

#include "document/animation.h"

namespace fb {

struct Point {
  int x = 0, y = 0;
};

// Paints the points (frame coordinates, inside the frame) with palette entry
// `index` (an entry of the frame's palette). One brush stroke is one call.
bool paintPixels(Animation& animation, int frame, const std::vector<Point>& points, int index);

// Fills the region of `start`: every pixel of the same index reachable from
// it through left, right, up and down neighbours takes `index`.
bool floodFill(Animation& animation, int frame, Point start, int index);

// The index of the pixel at `at` becomes the frame's transparent index, and
// the frame transparent.
bool pickTransparentIndex(Animation& animation, int frame, Point at);

}  // namespace fb
