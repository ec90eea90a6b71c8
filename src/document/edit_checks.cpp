#include "document/edit_checks.h"

#include <algorithm>

#include "base/reporter.h"
#include "resources/strings.h"

namespace fb {

Frame* frameNamed(const Animation& a, int index) {
  Frame* f = a.frame(index);
  if (!f) showWarning(format(Str::EditNoFrame, index + 1));
  return f;
}

bool framesNamed(const Animation& a, const std::vector<int>& indices, std::vector<Frame*>& out) {
  out.clear();
  std::vector<int> sorted = indices;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (int i : sorted) {
    Frame* f = frameNamed(a, i);
    if (!f) {
      out.clear();
      return false;
    }
    out.push_back(f);
  }
  return true;
}

}  // namespace fb
