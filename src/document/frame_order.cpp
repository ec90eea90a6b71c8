#include "document/frame_order.h"

#include <new>
#include <vector>

#include "base/reporter.h"
#include "resources/strings.h"

namespace fb {
namespace {

bool hasTwoFrames(const Animation& a) {
  if (a.frameCount() >= 2) return true;
  showWarning(text(Str::EditNeedsTwoFrames));
  return false;
}

}  // namespace

bool reverseAnimation(Animation& a) {
  if (!hasTwoFrames(a)) return false;
  reverseFrames(a);
  a.encodedSize = -1;
  return true;
}

bool pingPong(Animation& a) {
  if (!hasTwoFrames(a)) return false;
  std::vector<BlockPtr> copies;
  try {
    for (int i = a.frameCount() - 2; i >= 1; --i) {
      auto copy = duplicateBlock(a.frame(i));
      if (!copy) throw std::bad_alloc();
      static_cast<Frame&>(*copy).selected = 0;
      copies.emplace_back(std::move(copy));
    }
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  // Right after the last frame: extension blocks that close the stream stay last.
  a.insertAt(a.positionOf(a.frame(a.frameCount() - 1)) + 1, std::move(copies));
  a.encodedSize = -1;
  return true;
}

}  // namespace fb
