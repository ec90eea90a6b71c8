// Reading PNG and animated PNG (APNG) files into an Animation. Palette and
// grey images give indexed frames on a global palette; true-colour images
// give frames with 24-bit colour data (and alpha) only, which frame insertion
// maps into palettes.
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
int ReadPngFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& animation,
                const DocumentDefaults& defaults = {});

// The stream after its signature (icons hand in their embedded images this way).
int ReadPngStream(ByteSource& source, Progress* progress, std::unique_ptr<Animation>& animation,
                  const DocumentDefaults& defaults = {});

}  // namespace fb
