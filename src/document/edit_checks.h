// The checks editing operations share, each showing why it refuses.
#pragma once

#include <cstdint>
#include <vector>

#include "document/animation.h"

namespace fb {

// The frame at 0-based position `index`; null (with "There is no frame n.")
// when there is none.
Frame* frameNamed(const Animation& animation, int index);

// The frames at `indices` in chain order, each once; false (with the message
// above, nothing in `out`) when one of them does not exist.
bool framesNamed(const Animation& animation, const std::vector<int>& indices,
                 std::vector<Frame*>& out);

// Positions and sizes a GIF can hold.
inline bool validPosition(int64_t v) {
  return v >= 0 && v <= 65535;
}
inline bool validSize(int64_t v) {
  return v >= 1 && v <= 65535;
}

// Whether an edit that makes `pixels` new pixels in all may go ahead: a bound
// well above any real animation that keeps a mistyped size from exhausting memory.
constexpr int64_t kMaxEditPixels = int64_t{16} * kMaxImagePixels;
inline bool resultFits(int64_t pixels) {
  return pixels >= 0 && pixels <= kMaxEditPixels;
}

}  // namespace fb
