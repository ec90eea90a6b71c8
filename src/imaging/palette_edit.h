// The palette editor's operations, on the global palette or one frame's local
// palette. Each is one call that changes the document only when it succeeds
// (false, with the reason shown, and nothing changed otherwise).
//
// "The frames of a palette" are the frames drawn with it: for the global
// palette every frame without a local one, for a local palette its frame.
// After a change their colour tables and masks follow the palette.
// Undo (the Edits of imaging/edits.h): an edit of the global palette changes
// the header and the content of the frames drawn with it (their colour tables
// follow the palette; reorder and merge also move their indices); an edit of a
// local palette changes that frame's content.
#pragma once

#include <vector>

#include "document/animation.h"

namespace fb {

// Which palette: the global one (frame −1) or the local palette of a frame.
struct PaletteTarget {
  int frame = -1;
  static PaletteTarget global() { return {}; }
  static PaletteTarget local(int frame) { return {frame}; }
};

// The palette, or null with the reason shown (no global palette, no such
// frame, or a frame without a local palette).
const Palette* targetPalette(const Animation& animation, PaletteTarget target);

// Entries first, first + 1, ... take `colours`; the palette grows to hold
// them (at most 256 entries). Pixels keep their indices.
bool setPaletteEntries(Animation& animation, PaletteTarget target, int first,
                       const std::vector<Rgb>& colours);

// The entries in a new order: new entry i is old entry order[i]; `order`
// names every entry once. Pixels, transparent indices and (for the global
// palette) the background index follow their colours, so nothing looks different.
bool reorderPalette(Animation& animation, PaletteTarget target, const std::vector<int>& order);

// Entries holding the same colour become one (the first of them), the others
// are removed and later entries move down; pixels follow, so nothing looks
// different. A frame's transparent index is never merged with another entry
// (its pixels would change between shown and not shown). `removed` (when
// given) receives the number of entries removed.
bool mergeDuplicateColours(Animation& animation, PaletteTarget target, int* removed = nullptr);

// Loading a palette file: the palette takes `colours` as its entries 0, 1,
// ...; pixels keep their indices. When the frames use an index past the
// new colours (their pixels, transparent indices, or the background index),
// the palette keeps its entries up to that index so that no pixel is left
// without a colour.
bool replacePaletteColours(Animation& animation, PaletteTarget target,
                           const std::vector<Rgb>& colours);

}  // namespace fb
