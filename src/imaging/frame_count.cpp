#include "imaging/frame_count.h"

#include "resources/strings.h"
#include "base/reporter.h"

namespace fb {

int reducedFrameCount(int count, int n) {
  if (n < 2 || n > count) return -1;
  return count - count / n;
}

bool validDeletionInterval(const Animation& a, int n) {
  if (n >= 2 && n <= a.frameCount()) return true;
  reporter().message(text(Str::ThinIntervalCaption), text(Str::ThinIntervalInvalid), Icon::Warning);
  return false;
}

bool reduceFrameCount(Animation& a, int n) {
  if (!validDeletionInterval(a, n)) return false;
  // Every n-th frame goes; the frame before it keeps its time.
  int position = 0;
  removeFramesIf(a, [&](Frame& f) {
    if (++position % n != 0) return false;
    if (Frame* before = prevFrame(&f)) before->delay = joinedDelay(before->delay, f.delay);
    return true;
  });
  a.encodedSize = -1;
  return true;
}

}  // namespace fb
