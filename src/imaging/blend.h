// Blend: another animation drawn over this one, picture by picture.
//
// Each picture of the result is this animation's picture (what a viewer sees
// at that moment) with the other's picture drawn over it at 0, 0 (its
// transparent pixels letting this one show through; what lies beyond this
// screen is cut off). The result is a new set of full-screen frames with
// 24-bit colours, mapped into palettes by the palette merge with the method
// of `options` (colours stay exact when they fit in one palette); pixels that
// neither animation covers stay transparent, and such frames restore to the
// background. This animation's extension blocks are kept, before the frames;
// its screen, play count and header stay.
//
// Timing:
//  - By frame (the default): picture i of one is paired with picture i of the
//    other. The result has as many frames as the animation with more of them
//    (this one on equal counts) and that animation's delays, scaled so that
//    they add up to the longer running time of the two: each delay takes its
//    share of that time in whole ticks, the ticks left over by rounding down
//    going to the largest remainders (the earliest on ties); delays that are
//    all 0 share it evenly; no delay exceeds the largest delay of either
//    animation, its excess going on to the next frames.
//  - By time: the result changes whenever either animation changes picture,
//    over the longer running time; its delays add up to exactly that time.
//    An animation whose delays are all 0 has no running time: only its last
//    picture shows.
// The shorter animation is looped (starts again when it ends) or, without
// looping, holds its last picture, as a viewer shows an animation that has
// finished.
//
// One call that changes `animation` only on success (1); 0 failed (message
// shown), 2 cancelled: nothing changed. `other` is only read.
// Undo (blendEdit): the blocks are replaced and the header's palette changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "document/animation.h"
#include "imaging/palette_merge.h"

namespace fb {

class Progress;

// Preference word 6: 0x400000 by time, 0x800000 loop the shorter.
struct BlendOptions {
  bool byTime = false;
  bool loopShorter = true;
  uint32_t mergeMethod =
      0;  // 0: the stored method word of `merge` (asking `chooser` if it says so)
  MergeOptions merge;
};

int blendAnimation(Animation& animation, const Animation& other, const BlendOptions& options,
                   MergeChooser* chooser, Progress* progress);

// The frames' delays and the pictures they pair, without the pixels: for the
// dialog's preview of the result's length and for tests. `aDelays` and
// `bDelays` are the two animations' picture delays.
struct BlendStep {
  int a = 0, b = 0;   // picture indices
  int32_t delay = 0;  // ticks
};
// False when the result would have more than `maxSteps` frames.
bool blendTimeline(const std::vector<int32_t>& aDelays, const std::vector<int32_t>& bDelays,
                   const BlendOptions& options, size_t maxSteps, std::vector<BlendStep>& out);

}  // namespace fb
