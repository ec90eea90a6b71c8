// What a GIF stream can say about sizes and places: every one is a 16-bit
// number, so nothing of a GIF lies beyond 65535 pixels.
#pragma once

#include "document/animation.h"

namespace fb {

constexpr int kGifMaxDimension = 65535;

// The logical screen a GIF of this document has: the document's own, grown to
// cover every frame that holds pixels (a frame without any covers nothing),
// never beyond 65535. What the reader makes of a complete file and what the
// writer writes, so that a written file reads back with the screen it says.
Extent gifScreenFor(const Animation& animation);

// True when a GIF can hold the document as it is: its screen, and each
// frame's position, size and far edges, within 0..65535.
bool gifGeometryFits(const Animation& animation);

}  // namespace fb
