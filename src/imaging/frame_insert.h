// Frame insertion: the frames of one or more documents (queued on the first
// one's `nextAnimation`) join an open animation at a position. This is what
// "插入帧" and paste do in the editor, and what batch mode does with each file
// it reads: the first file read becomes the document (a new one), the others
// are inserted at its end.
//
//   std::unique_ptr<Animation> rest = ...;   // second file, third queued on it, ...
//   int r = insertAnimations(*document, rest, -1, nullptr, &progress);
//   // r == 1: `rest` is null, its frames are in `document`;
//   // r == 0 (message shown) or 2 (cancelled): `document` is as it was and
//   // `rest` still holds the frames (possibly clipped to the screen).
#pragma once

#include <memory>

#include "document/animation.h"
#include "imaging/palette_merge.h"

namespace fb {

class Progress;

// Inserts every frame (and extension block) of `sources` and its queue before
// the frame at `position` (at the end for −1 or a position at or past the
// frame count).
//  1. Frame size: when a new frame reaches past the screen, the size rule of
//     `options` (16 clip, 32 grow, +4 ask) decides; when it asks, `chooser`
//     answers, and without a chooser the screen grows. Clipping crops the new frames to the
//     screen (a frame wholly outside becomes one transparent pixel at 0, 0);
//     growing takes the largest width and height among the new animations. An
//     animation without frames simply takes the new size.
//  2. Palettes: `mergePalettes` with the stored method word of `options` (see
//     palette_merge.h); on failure or cancel the screen size is put back.
//  3. The frame count grows, the colour usage is recounted, and an animation
//     that had one frame and now has more takes the default play count of `options`.
// Returns 1 done, 2 cancelled, 0 failed (message shown).
int insertAnimations(Animation& target, std::unique_ptr<Animation>& sources, int position,
                     MergeChooser* chooser, Progress* progress, const MergeOptions& options = {});

// Crops a frame to the screen (0, 0, width, height). False when memory runs
// out (message shown; the frame is unchanged).
bool clipFrameToScreen(Frame& frame, int width, int height);

}  // namespace fb
