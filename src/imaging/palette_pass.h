// The optimizer's palette pass: local palettes removed, palettes shrunk to
// the colours in use.
#pragma once

#include <cstdint>

#include "document/animation.h"
#include "imaging/palette_merge.h"

namespace fb {

class Progress;

// Options 0x008 with the method bits 0x010 / 0x400 (see imaging/optimizer.h).
// The merge settings' dither bit and colour counts are kept. `failed` (when
// given) is set when a merge failed (its message shown).
bool removeLocalPalettes(Animation& animation, uint32_t options, Progress* progress,
                         const MergeOptions& mergeOptions, bool* failed = nullptr);
// Option 0x020: the global palette and every local one lose unused entries.
bool shrinkPalettes(Animation& animation, Progress* progress);

// Would the colours `frame` uses from its local palette fit into the global
// palette, given the global entries' usage? Changes nothing.
bool localColoursFit(const Animation& animation, const Frame& frame);

}  // namespace fb
