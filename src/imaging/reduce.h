// The reduce-colours command: every palette of the animation with more than
// N entries is cut down to N colours (median cut, or the octree when some
// colours are locked) and the frames are dithered or mapped into it.
#pragma once

#include <vector>

#include "document/animation.h"

namespace fb {

class Progress;

// Colour counts the command accepts: 2..256.
int clampColourCount(int n);

// The entry count of the largest palette, global or local.
int largestPaletteSize(const Animation& animation);

// Reduces every palette with more than `colours` (clamped to 2..256) entries.
//  - The global palette is quantised to N − 1 colours when a frame drawn with
//    it is transparent or N is a power of two from 8 up, else to N; a black
//    entry follows (the transparent index of the transparent frames), so 100
//    colours make 101 entries and 64 make 64. `lockedColours` (when any) keep
//    their exact colours, through the octree, which then makes at least 8.
//  - A local palette is quantised to N (N − 1 for a transparent frame, which
//    gets a black transparent entry after them); when the quantiser finds
//    fewer colours the palette is padded to that count, the first padding
//    entry black and the others white.
// `dither` diffuses the error instead of taking the nearest entry.
// `quality` (ours, off by default) refines each new palette by clustering over
// the colours the frames show before they are mapped.
// Returns 1 when done, 0 on failure (message shown), 2 when cancelled; on
// failure or cancel nothing is changed.
int reducePalettes(Animation& animation, int colours, bool dither,
                   const std::vector<Rgb>& lockedColours, Progress* progress,
                   bool quality = false);

}  // namespace fb
