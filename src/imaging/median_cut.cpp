#include "imaging/median_cut.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/progress.h"

namespace fb {
namespace {

// The histogram has at most 256 occupied cells (one per palette entry), so it
// is held as the list of occupied cells; every box sum below is a sum over
// the cells inside the box, exactly as over the dense 64³ table.
struct Cell {
  int c[3];
  int64_t count;
};

bool inside(const Cell& cell, const MedianCutBox& box) {
  for (int a = 0; a < 3; ++a)
    if (cell.c[a] < box.lower[a] || cell.c[a] > box.upper[a]) return false;
  return true;
}

// Recounts the box and shrinks it to the smallest bounds holding all its
// non-empty cells; a single cell is final.
void shrink(MedianCutBox& box, const std::vector<Cell>& cells) {
  int lo[3] = {64, 64, 64}, hi[3] = {-1, -1, -1};
  int64_t count = 0;
  for (const Cell& cell : cells) {
    if (!inside(cell, box)) continue;
    count += cell.count;
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], cell.c[a]);
      hi[a] = std::max(hi[a], cell.c[a]);
    }
  }
  box.count = count;
  if (count == 0) {
    box.final = true;
    return;
  }
  for (int a = 0; a < 3; ++a) {
    box.lower[a] = lo[a];
    box.upper[a] = hi[a];
  }
  box.final = lo[0] == hi[0] && lo[1] == hi[1] && lo[2] == hi[2];
}

}  // namespace

int medianCut(const Palette& palette, const int64_t* usageCounts, int maxColours, Rgb* out,
              Progress* progress) {
  maxColours = std::clamp(maxColours, 1, 256);
  bool anyCount = false;
  for (int i = 0; i < palette.count; ++i) anyCount |= usageCounts[i] > 0;

  std::vector<Cell> cells;
  cells.reserve(static_cast<size_t>(palette.count));
  for (int i = 0; i < palette.count; ++i) {
    int64_t w = anyCount ? usageCounts[i] : 1;
    if (w <= 0) continue;
    Cell cell{{palette[i].r >> 2, palette[i].g >> 2, palette[i].b >> 2}, w};
    auto same = std::find_if(cells.begin(), cells.end(), [&](const Cell& o) {
      return o.c[0] == cell.c[0] && o.c[1] == cell.c[1] && o.c[2] == cell.c[2];
    });
    if (same != cells.end())
      same->count += w;
    else
      cells.push_back(cell);
  }
  if (cells.empty()) return 0;

  std::vector<MedianCutBox> boxes;
  boxes.reserve(static_cast<size_t>(maxColours));
  boxes.emplace_back();
  shrink(boxes[0], cells);
  if (progress) progress->step();

  while (static_cast<int>(boxes.size()) < maxColours) {
    // The heaviest box that can still be cut; the first one on equal counts.
    int pick = -1;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i)
      if (!boxes[size_t(i)].final &&
          (pick < 0 || boxes[size_t(i)].count > boxes[size_t(pick)].count))
        pick = i;
    if (pick < 0) break;
    MedianCutBox& box = boxes[size_t(pick)];

    // Longest axis; red before green before blue on a tie.
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (box.upper[a] - box.lower[a] > box.upper[axis] - box.lower[axis]) axis = a;

    std::array<int64_t, 64> slice{};
    for (const Cell& cell : cells)
      if (inside(cell, box)) slice[size_t(cell.c[axis])] += cell.count;
    int64_t half = box.count / 2;
    int64_t running = 0;
    int cut = box.lower[axis];
    for (; cut <= box.upper[axis]; ++cut) {
      running += slice[size_t(cut)];
      if (running > half) break;
    }
    if (cut >= box.upper[axis]) cut = box.upper[axis] - 1;

    MedianCutBox upperBox = box;
    upperBox.lower[axis] = cut + 1;
    box.upper[axis] = cut;
    shrink(box, cells);
    shrink(upperBox, cells);
    // Into the first empty slot, else at the end.
    auto empty = std::find_if(boxes.begin(), boxes.end(),
                              [](const MedianCutBox& b) { return b.count == 0; });
    if (empty != boxes.end())
      *empty = upperBox;
    else
      boxes.push_back(upperBox);
    if (progress && !progress->step()) {
      // A cancel stops cutting; the boxes so far still make a palette.
      break;
    }
  }

  int n = 0;
  for (const MedianCutBox& box : boxes) {
    if (box.count == 0) continue;
    int64_t sum[3] = {0, 0, 0};
    for (const Cell& cell : cells)
      if (inside(cell, box))
        for (int a = 0; a < 3; ++a) sum[a] += cell.c[a] * cell.count;
    int mean[3];
    for (int a = 0; a < 3; ++a) mean[a] = static_cast<int>(sum[a] / box.count) * 255 / 63;
    out[n++] = Rgb{uint8_t(mean[0]), uint8_t(mean[1]), uint8_t(mean[2])};
  }
  return n;
}

}  // namespace fb
