// Filmstrip pictures: every picture of an animation laid out in one image, and
// such an image cut back into frames.
#pragma once

#include <cstdint>
#include <memory>

#include "document/animation.h"

namespace fb {

class Progress;

struct FilmstripLayout {
  int columns = 1;
  int rows = 1;
};

// The grid for `frames` pictures under the save options word: bits 16-31 the
// pictures per row (0: all in one row), bit 8 set for a vertical strip (the
// count then gives the pictures per column, filled top to bottom).
FilmstripLayout filmstripLayout(int frames, uint32_t options);

// One frame holding every composited picture of the animation, in reading
// order (row by row; column by column for a vertical layout). Indexed when the
// pictures share the global palette and one transparent index, else true
// colour with alpha. Null when memory runs out, the size is too large, or the
// user cancelled.
std::unique_ptr<Frame> makeFilmstrip(Animation& animation, const FilmstripLayout& layout,
                                     bool vertical, Progress* progress);

// Cuts the animation's single frame into columns × rows frames of
// (width / columns) × (height / rows) pixels, row by row, which become the
// animation's frames and its screen size. False (and no change) when the grid
// does not fit or memory runs out.
bool splitFilmstrip(Animation& animation, int columns, int rows);

}  // namespace fb
