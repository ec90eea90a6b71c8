// Writing one frame as a PNG, and a whole animation as an animated PNG.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/animation.h"

namespace fb {

class ByteSink;
class Progress;

// A frame's colour kind for PNG: 8 (indexed, palette image), 24 (24-bit
// colour data, no alpha: RGB) or 32 (colour data and alpha: RGBA).
int pngFrameKind(const Frame& frame);

// One frame as a PNG of its own size. With a source animation a "pAni" chunk
// records its frame count and delays (the frame is then a filmstrip of it).
// To `path`, or with an empty path to `sink`. 1 on success; 0 on failure:
// a file that cannot be created or written says nothing (the save reports
// it), an encoding failure shows its message.
int WritePngFrame(const std::string& path, const Frame& frame, const Animation* sourceAnimation,
                  ByteSink* sink = nullptr);

// The animation as an animated PNG (a one-frame animation as a PNG with its
// "pAni" chunk). Checks with CheckApngWritable first. 1 on success, 0 on
// failure or when the user cancelled.
// `timeBase`: delay ticks per second.
int WriteApngFile(const std::string& path, Animation& animation, Progress* progress = nullptr,
                  ByteSink* sink = nullptr, uint32_t timeBase = 100);

// Whether every frame can go into one animated PNG: one colour kind, no local
// palettes, and (for indexed frames) the same transparency throughout. Shows
// the refusal itself.
bool CheckApngWritable(const Animation& animation);

// Gives an indexed frame 24-bit colour data looked up in its palette, and with
// `alpha` (or when it is transparent) an alpha plane: 0 at the transparent
// index, 255 elsewhere. A frame that has colour data only gains the alpha
// plane when asked. False when memory runs out (the frame is unchanged).
bool addTrueColour(Frame& frame, bool alpha);

// A copy of the animation whose every frame has colour data, all with alpha
// planes when any frame is transparent or has one: the frames an "always 24-
// or 32-bit" PNG save writes. Null when memory runs out.
std::unique_ptr<Animation> trueColourCopy(const Animation& animation, Progress* progress);

}  // namespace fb
