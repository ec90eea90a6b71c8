// The optimizer's last steps, which work for the encoder: palette orders that
// let frames be written with fewer bits per code, and lossy LZW.
#pragma once

#include <cstdint>

#include "document/animation.h"

namespace fb {

class Progress;

// Renumbers the global palette so that frames using few of its colours find
// them at low indices (and each local palette so that its used colours come
// first), when that lowers the code sizes the smallest layout writes with.
// What every frame shows is unchanged. True when something was renumbered.
bool orderPalettesForCodeSize(Animation& animation);

// Lets every frame's pixels take close colours that make longer LZW strings
// (strength 0: nothing). Transparent pixels stay as they are. Returns false
// when cancelled, or when a frame ran out of memory (the reporter is told).
bool applyLossyLzw(Animation& animation, int strength, Progress* progress);

}  // namespace fb
