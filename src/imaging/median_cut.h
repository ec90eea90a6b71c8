// Median-cut quantiser for palettes: the entries, weighted by how many pixels
// use them, go into a 64 × 64 × 64 histogram (top 6 bits of each channel),
// which is cut into boxes until there are enough; each box gives one colour.
#pragma once

#include <cstdint>

#include "document/palette.h"

namespace fb {

class Progress;

// A box of histogram cells, bounds inclusive, per axis red, green, blue.
struct MedianCutBox {
  int lower[3] = {0, 0, 0};
  int upper[3] = {63, 63, 63};
  int64_t count = 0;
  bool final = false;  // a single cell: cannot be cut
};

// Writes at most `maxColours` (1..256) colours for `palette`'s entries,
// weighted by `usageCounts` (256 counts), to `out` and returns their number.
// Entries with a zero count are left out; when every count is zero each
// entry counts once. `progress` (may be null) steps once per box made.
int medianCut(const Palette& palette, const int64_t* usageCounts, int maxColours, Rgb* out,
              Progress* progress = nullptr);

}  // namespace fb
