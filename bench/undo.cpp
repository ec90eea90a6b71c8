// The undo history's memory: on a 150-frame 800 × 600 animation, 100 steps,
// each changing the delay or the pixels of one frame, against the bytes of
// the frame data those steps replaced (what any undo must keep).
//   build/bench/undo
// Last line: undo-memory-ratio R (the history's memory ÷ that minimum).
#include <malloc.h>

#include <cstdio>
#include <random>

#include "bench_doc.h"
#include "document/history.h"
#include "imaging/edits.h"

// Heap in use, large blocks (which glibc maps on their own) included.
size_t heapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

int main() {
  auto doc = fbbench::movingDiscs(150, 800, 600);
  fb::History history(100);
  std::mt19937 rng(12);
  size_t minimum = 0;
  int pixelSteps = 0, delaySteps = 0;
  const size_t heapBefore = heapInUse();
  for (int step = 0; step < 100; ++step) {
    int i = static_cast<int>(rng() % 150);
    if (rng() % 2) {
      fb::Frame* f = fb::frameAt(*doc, i);
      minimum += static_cast<size_t>(f->width) * f->height;  // the pixels replaced
      fb::Edit paint{"paint", fb::Change::frameContent({i}), [i](fb::Animation& a, fb::Progress*) {
                       fb::Frame* g = fb::frameAt(a, i);
                       for (int y = 0; y < g->height; y += 2) g->dib->row(y)[y % g->width] ^= 1;
                       return 1;
                     }};
      fb::runEdit(*doc, history, paint, i, nullptr);
      ++pixelSteps;
    } else {
      minimum += sizeof(int32_t);  // the delay replaced
      fb::runEdit(*doc, history, fb::setDelayEdit({i}, 5 + step), i, nullptr);
      ++delaySteps;
    }
  }
  const size_t heapAfter = heapInUse();
  const size_t held = history.bytesHeld();
  std::printf("steps: %d pixel edits, %d delay edits on 150 frames of 800x600\n", pixelSteps,
              delaySteps);
  std::printf("frame data replaced (the minimum): %zu bytes\n", minimum);
  std::printf("history, as it counts itself: %zu bytes\n", held);
  std::printf("heap grown while recording: %zu bytes\n", heapAfter - heapBefore);
  const size_t measured = std::max(held, heapAfter - heapBefore);
  std::printf("undo-memory-ratio %.3f\n",
              static_cast<double>(measured) / static_cast<double>(minimum));
  return 0;
}
