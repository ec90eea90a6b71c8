// Reading PNG and animated PNG (APNG) files into an Animation.
#pragma once

#include <memory>
#include <string>

#include "document/animation.h"

namespace fb {

class ByteSource;
class Progress;

// Checks the 8-byte signature, then reads the stream. 1 with the animation,
// 2 when the user stopped the reading (the frames read so far kept), 0 on
// failure (message shown, `animation` null).
int ReadPngFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& animation);

// The stream after its signature (icons hand in their embedded images this way).
int ReadPngStream(ByteSource& source, Progress* progress, std::unique_ptr<Animation>& animation);

// The 216-colour cube (entry r × 36 + g × 6 + b holds 51 r, 51 g, 51 b; the
// rest black) that true-colour frames are provisionally indexed in until
// they are mapped into palettes of their own.
std::unique_ptr<Palette> makeCubePalette();

}  // namespace fb
