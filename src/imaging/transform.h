// Frame transforms: rotate and flip (selected frames or the whole animation),
// move and crop one frame, crop the animation, centre every frame, and resize
// (selected frames or the whole animation).
//
// Contract shared by every operation here:
//  - It is one call that changes the document only when it succeeds: all the
//    new pixels are made first, then put in place together. On failure it
//    shows the reason through the reporter and returns false, the document as
//    it was.
//  - Rotating, flipping, moving and cropping move pixels and never change them:
//    indices, palettes, transparency, delays, disposal and names are kept, and
//    24-bit colour and alpha data (when a frame has them) move with the
//    indices. Hot spots move with their pixel.
//  - Frame numbers are 0-based positions among the frames.
//  - Undo (the Edits of imaging/edits.h): rotate, resize and crop of the
//    animation change the header (screen size) and every frame's content, its
//    flip every frame's content; the frame versions change the content of the
//    frames named; centring changes every frame's fields.
#pragma once

#include <vector>

#include "document/animation.h"
#include "document/frame_ops.h"

namespace fb {

class Progress;

enum class Rotation { Clockwise90, Half, Anticlockwise90 };
// Horizontal mirrors left and right; vertical turns upside down.
enum class FlipAxis { Horizontal, Vertical };

// The whole animation: the screen turns with its frames (90° and 270° swap
// the screen's width and height); every frame's position turns with it, so
// each picture a viewer sees is the old picture turned.
bool rotateAnimation(Animation& animation, Rotation rotation);
bool flipAnimation(Animation& animation, FlipAxis axis);

// Each named frame turns about itself and keeps its top-left corner (the
// screen stays as it is; turning a frame by 90° swaps its own width and height).
bool rotateFrames(Animation& animation, const std::vector<int>& frames, Rotation rotation);
bool flipFrames(Animation& animation, const std::vector<int>& frames, FlipAxis axis);

// Move/crop one frame: it keeps the part `crop` (frame coordinates, at least
// one pixel, inside the frame) and is placed with that part's corner at
// left, top (0..65535).
bool moveCropFrame(Animation& animation, int frame, int left, int top, const Rect& crop);

// Crop the animation to `rect` (screen coordinates, at least one pixel, inside
// the screen): frames are cut to it and move with it; a frame left with
// nothing becomes one transparent pixel at 0, 0 that keeps its delay; the
// screen takes the rectangle's size.
bool cropAnimation(Animation& animation, const Rect& rect);

// Every frame centred on the screen: left = (screen width − frame width) / 2,
// top likewise, integer division. Cannot fail.
void centreFrames(Animation& animation);

enum class ResizeFilter { Nearest, Bicubic };
// The resize dialog's choice (preference word 6, 0x80 for bicubic).
struct ResizeOptions {
  ResizeFilter filter = ResizeFilter::Nearest;
};

// Resizing works on the colours a frame shows:
//  - Nearest: each new pixel is the old pixel under its centre, index and all,
//    so no colour changes and transparency is exact.
//  - Bicubic (Catmull–Rom, widened when shrinking so that every old pixel
//    counts): the frame's colours and alpha are resampled (alpha weighting
//    the colours), then mapped back into the frame's own palette: a new pixel
//    less than half covered takes the transparent index, any other the
//    nearest colour of the palette other than the transparent one.
// 24-bit colour and alpha data is resampled alike. A frame resized to the size
// it has is left exactly as it is. Widths and heights are 1..65535.

// The whole animation: the screen becomes width × height and every frame is
// scaled with it, its edges at the screen pixels whose centres it covered,
// so that with Nearest each picture a viewer sees is the old picture sampled
// at the new pixels' centres. A frame that covers no new pixel centre becomes
// one transparent pixel at 0, 0 that keeps its delay.
//
// Both resizes step `progress` once per frame; cancelled, they return false
// with nothing changed and nothing said.
bool resizeAnimation(Animation& animation, int width, int height, const ResizeOptions& options,
                     Progress* progress = nullptr);

// Each named frame becomes width × height, keeping its top-left corner.
bool resizeFrames(Animation& animation, const std::vector<int>& frames, int width, int height,
                  const ResizeOptions& options, Progress* progress = nullptr);

}  // namespace fb
