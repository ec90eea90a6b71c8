// The frame compositor: renders an animation picture by picture onto a
// screen-sized canvas, applying each frame's disposal method.
//
// The canvas frame carries two pictures of the screen:
//  - `dib`: 8-bit indices, drawn the way the GIF rules say (the canvas takes
//    each frame's palette, transparent index and delay);
//  - `rgb` + `alpha`: the true-colour picture a viewer shows. Every frame is
//    drawn through its own palette (so local palettes show right), 24-bit
//    frames are composited "over" (or replace, for blend 0, as do indexed
//    frames' transparent pixels), and pixels no frame has covered, or that
//    were restored to a transparent background, have alpha 0. Documents with
//    true-colour data, and animated PNGs (`apngRules`), start from a
//    transparent picture and restore to a transparent background; an animated
//    PNG's hidden default image (`hideFirstFrame`) is not one of the pictures.
#pragma once

#include <memory>

#include "document/animation.h"

namespace fb {

struct FramePlayer {
  Animation* animation = nullptr;
  bool has24Bit = false;
  // Set before the first picture: the canvas's `rgb` then holds the picture
  // as R, G, B, A bytes (4 × width a row, no padding); it has no indexed
  // pixels (`dib`) and no `alpha` plane. For viewers, which need only the picture.
  bool rgbaMode = false;
  std::unique_ptr<Frame> canvas;
  std::unique_ptr<Frame> saved;  // for disposal 3
  Frame* lastFrame = nullptr;
  int index = -1;
  // Set when a picture could not be made for lack of memory: playing stopped
  // there (firstPicture or nextPicture gave null) before the last picture.
  bool outOfMemory = false;
};

std::unique_ptr<FramePlayer> startPlayer(Animation& animation);
// The canvas after the first frame; null when there is none or memory runs
// out (`outOfMemory` then says which).
Frame* firstPicture(FramePlayer& player);
// The canvas after the next frame; null (and both canvases freed) after the
// last, or when memory runs out (`outOfMemory` set).
Frame* nextPicture(FramePlayer& player);
void stopPlayer(std::unique_ptr<FramePlayer>& player);

}  // namespace fb
