// Reading GIF87a/GIF89a files into an Animation.
#pragma once

#include <memory>
#include <string>

#include "document/animation.h"

namespace fb {

class ByteSource;
class PixelBudget;
class Progress;

// Result codes of readers.
constexpr int kReadFailed = 0;
constexpr int kReadComplete = 1;
constexpr int kReadPartial = 2;

// Reads 6 bytes; true for "GIF87a" or "GIF89a". The source is left after them.
bool isGifSignature(ByteSource& file);

// How a file is read. The program fills it from the user's settings.
struct GifReadOptions {
  DocumentDefaults defaults;   // the delay unit and new frames' delay
  bool keepInterlace = false;  // otherwise interlacing is dropped on reading
  // Threads that decode images while this one reads on (1: images are
  // decoded here, in turn). The document and messages are the same either way.
  unsigned threads = 1;
};

// Reads the stream after the signature. Returns 0 (failed, `animation` null),
// 1 (complete) or 2 (partial: the frames read so far are kept).
int readGif(ByteSource& file, Progress* progress, std::unique_ptr<Animation>& animation,
            const GifReadOptions& options = {});

// Reads one image descriptor (after its 0x2C) and its data into `frame`.
// 1 on success, 0 on failure (message already shown).
// `budget`, when given, must hold the frame's memory and the pixels its data
// did not send (else: out of memory).
int readImage(ByteSource& file, Frame& frame, Animation& animation, PixelBudget* budget = nullptr);

}  // namespace fb
