#include "imaging/palette_edit.h"

#include <algorithm>
#include <array>

#include "base/reporter.h"
#include "document/edit_checks.h"
#include "imaging/frame_update.h"
#include "resources/strings.h"

namespace fb {
namespace {

// The frames drawn with the target's palette.
std::vector<Frame*> framesOf(const Animation& a, PaletteTarget t) {
  std::vector<Frame*> out;
  if (t.frame >= 0) {
    if (Frame* f = a.frame(t.frame)) out.push_back(f);
    return out;
  }
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (!f->localPalette) out.push_back(f);
  return out;
}

// Puts `p` in place of the target's palette (so that the size bits of the
// stream's flags follow its count) and refreshes the frames drawn with it.
void install(Animation& a, PaletteTarget t, std::unique_ptr<Palette> p) {
  if (t.frame < 0)
    setGlobalPalette(a, std::move(p));
  else
    setLocalPalette(*a.frame(t.frame), std::move(p));
  for (Frame* f : framesOf(a, t)) refreshFrameColours(*f, a.globalPalette.get());
  recountColourUsage(a);
  a.encodedSize = -1;
}

// Every index the frames use, by pixel count (transparent indices and the
// background index counted once).
std::array<int64_t, 256> indicesUsed(const Animation& a, PaletteTarget t) {
  std::array<int64_t, 256> used{};
  for (Frame* f : framesOf(a, t)) {
    countPixels(*f, used.data(), -1);
    if (f->transparent()) ++used[f->transparentIndex];
  }
  if (t.frame < 0) ++used[a.backgroundIndex];
  return used;
}

// Sends every index below `count` through `map`, in the frames' pixels,
// their transparent indices and (global palette) the background index.
void remapIndices(Animation& a, PaletteTarget t, const std::array<int, 256>& map) {
  for (Frame* f : framesOf(a, t)) {
    if (f->dib)
      for (int y = 0; y < f->dib->height; ++y) {
        uint8_t* row = f->dib->row(y);
        for (int x = 0; x < f->dib->width; ++x) row[x] = static_cast<uint8_t>(map[row[x]]);
      }
    f->transparentIndex = static_cast<uint8_t>(map[f->transparentIndex]);
  }
  if (t.frame < 0) a.backgroundIndex = static_cast<uint8_t>(map[a.backgroundIndex]);
}

std::array<int, 256> identityMap() {
  std::array<int, 256> m{};
  for (int i = 0; i < 256; ++i) m[static_cast<size_t>(i)] = i;
  return m;
}

}  // namespace

const Palette* targetPalette(const Animation& a, PaletteTarget t) {
  if (t.frame < 0) {
    if (!a.globalPalette) showWarning(text(Str::NoGlobalPalette));
    return a.globalPalette.get();
  }
  Frame* f = frameNamed(a, t.frame);
  if (!f) return nullptr;
  if (!f->localPalette) showWarning(text(Str::NoLocalPaletteToEdit));
  return f->localPalette.get();
}

bool setPaletteEntries(Animation& a, PaletteTarget t, int first, const std::vector<Rgb>& colours) {
  const Palette* old = targetPalette(a, t);
  if (!old) return false;
  int n = static_cast<int>(std::min<size_t>(colours.size(), 1000));
  if (first < 0 || first + n > 256) {
    showWarning(format(Str::PaletteEntriesInvalid, static_cast<int>(colours.size()), first));
    return false;
  }
  auto p = copyPalette(*old);
  if (!p) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  std::copy(colours.begin(), colours.end(), p->entries.begin() + first);
  p->count = std::max(p->count, first + n);
  install(a, t, std::move(p));
  return true;
}

bool reorderPalette(Animation& a, PaletteTarget t, const std::vector<int>& order) {
  const Palette* old = targetPalette(a, t);
  if (!old) return false;
  std::array<int, 256> map = identityMap();
  std::array<bool, 256> seen{};
  bool valid = static_cast<int>(order.size()) == old->count;
  for (size_t i = 0; valid && i < order.size(); ++i) {
    int o = order[i];
    valid = o >= 0 && o < old->count && !seen[static_cast<size_t>(o)];
    if (valid) {
      seen[static_cast<size_t>(o)] = true;
      map[static_cast<size_t>(o)] = static_cast<int>(i);
    }
  }
  if (!valid) {
    showWarning(text(Str::PaletteOrderInvalid));
    return false;
  }
  auto p = copyPalette(*old);
  if (!p) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  for (size_t i = 0; i < order.size(); ++i)
    p->entries[i] = old->entries[static_cast<size_t>(order[i])];
  remapIndices(a, t, map);
  install(a, t, std::move(p));
  return true;
}

bool mergeDuplicateColours(Animation& a, PaletteTarget t, int* removed) {
  if (removed) *removed = 0;
  const Palette* old = targetPalette(a, t);
  if (!old) return false;
  std::array<bool, 256> keepApart{};
  for (Frame* f : framesOf(a, t))
    if (f->transparent()) keepApart[f->transparentIndex] = true;
  // Each entry's representative: the first entry of its colour not kept apart.
  std::array<int, 256> rep = identityMap();
  for (int i = 0; i < old->count; ++i) {
    if (keepApart[static_cast<size_t>(i)]) continue;
    for (int j = 0; j < i; ++j)
      if (!keepApart[static_cast<size_t>(j)] && rep[static_cast<size_t>(j)] == j &&
          (*old)[j] == (*old)[i]) {
        rep[static_cast<size_t>(i)] = j;
        break;
      }
  }
  // The entries that stay, in order, numbered afresh.
  std::array<int, 256> map = identityMap();
  auto p = makePalette(nullptr, 0);
  if (!p) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  for (int i = 0; i < old->count; ++i) {
    if (rep[static_cast<size_t>(i)] != i) continue;
    map[static_cast<size_t>(i)] = p->count;
    p->entries[static_cast<size_t>(p->count++)] = (*old)[i];
  }
  for (int i = 0; i < old->count; ++i)
    map[static_cast<size_t>(i)] = map[static_cast<size_t>(rep[static_cast<size_t>(i)])];
  // Indices past the palette stay as they are: past its end, they still show black.
  int gone = old->count - p->count;
  if (removed) *removed = gone;
  if (gone == 0) return true;
  remapIndices(a, t, map);
  install(a, t, std::move(p));
  return true;
}

bool replacePaletteColours(Animation& a, PaletteTarget t, const std::vector<Rgb>& colours) {
  const Palette* old = targetPalette(a, t);
  if (!old) return false;
  std::array<int64_t, 256> used = indicesUsed(a, t);
  int needed = 0;
  for (int i = 0; i < 256; ++i)
    if (used[static_cast<size_t>(i)]) needed = i + 1;
  int n = static_cast<int>(std::min<size_t>(colours.size(), 256));
  auto p = copyPalette(*old);
  if (!p) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  std::copy(colours.begin(), colours.begin() + n, p->entries.begin());
  // Entries between the old count and what is needed were black; they stay so.
  for (int i = old->count; i < needed; ++i) p->entries[static_cast<size_t>(i)] = Rgb{};
  p->count = std::max(n, needed);
  install(a, t, std::move(p));
  return true;
}

}  // namespace fb
