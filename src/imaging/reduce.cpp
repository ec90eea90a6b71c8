#include "imaging/reduce.h"

#include <algorithm>
#include <new>

#include "imaging/colour_match.h"
#include "imaging/dither.h"
#include "imaging/frame_update.h"
#include "imaging/median_cut.h"
#include "imaging/octree.h"
#include "imaging/refine.h"
#include "resources/strings.h"
#include "base/progress.h"
#include "base/reporter.h"

namespace fb {
namespace {

bool isPowerOfTwoFrom8(int n) {
  return n >= 8 && (n & (n - 1)) == 0;
}

// New pixels for `f` (shown through `source`) as indices of `target`:
// dithered, or through `map` (256 entries). Transparent pixels become
// `newTransparent`. Null (message shown) on failure.
std::unique_ptr<Bitmap> remapped(const Frame& f, const Palette& source, const Palette& target,
                                 bool dither, const int* map, int newTransparent) {
  const int w = f.dib->width, h = f.dib->height;
  auto dib = createBitmap(w, h, &target);
  if (!dib) {
    showWarning(text(Str::NoMemoryPalettes));
    return nullptr;
  }
  int oldTransparent = f.transparent() ? f.transparentIndex : -1;
  if (dither) {
    DitherResult r = ditherIndexed(source, f.pixels(), w, h, oldTransparent, target,
                                   dib->data.data(), newTransparent);
    if (r != DitherResult::Done) {
      reportDitherFailure(r);
      return nullptr;
    }
    return dib;
  }
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = f.dib->row(y);
    uint8_t* dst = dib->row(y);
    for (int x = 0; x < w; ++x)
      dst[x] = src[x] == oldTransparent ? static_cast<uint8_t>(newTransparent)
                                        : static_cast<uint8_t>(map[src[x]]);
  }
  return dib;
}

// The high-quality mode: the first `count` colours of `palette` refined on
// the colours of `shown` weighted by their pixel counts. Locked colours stay
// exactly as they were.
void refineOn(Palette& palette, int count, const Palette& shown, const int64_t* counts,
              const std::vector<Rgb>& locked = {}) {
  const Palette before = palette;
  ColourSet set;
  set.addPalette(shown, counts);
  refinePalette(palette.entries.data(), count, set, kRefineRounds);
  for (int i = 0; i < count; ++i)
    if (std::find(locked.begin(), locked.end(), before[i]) != locked.end()) palette[i] = before[i];
}

void nearestMap(const Palette& from, const Palette& to, int* map) {
  for (int i = 0; i < 256; ++i) map[i] = std::max(0, nearestColour(to, paletteColour(&from, i)));
}

// The distinct colours that pixels show (a nonzero count), in index order,
// then the `extra` ones not among them; false when there are more than
// `limit`. When they fit, no engine is needed: every colour stays exactly.
bool exactColours(const Palette& p, const int64_t* counts, const std::vector<Rgb>& extra, int limit,
                  Palette& out) {
  out.count = 0;
  ExactColourTable seen;
  auto add = [&](Rgb c) {
    if (seen.find(packRgb(c)) >= 0) return true;
    if (out.count >= limit) return false;
    seen.insert(packRgb(c), out.count);
    out[out.count++] = c;
    return true;
  };
  for (int i = 0; i < 256; ++i)
    if (counts[i] && !add(paletteColour(&p, i))) return false;
  for (Rgb c : extra)
    if (!add(c)) return false;
  return true;
}

}  // namespace

int clampColourCount(int n) {
  return std::clamp(n, 2, 256);
}

int largestPaletteSize(const Animation& a) {
  int largest = a.globalPalette ? a.globalPalette->count : 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (f->localPalette) largest = std::max(largest, f->localPalette->count);
  return largest;
}

int reducePalettes(Animation& a, int colours, bool dither, const std::vector<Rgb>& locked,
                   Progress* progress, bool quality) {
  const int n = clampColourCount(colours);
  if (largestPaletteSize(a) <= 2) {
    reporter().message(text(Str::NonReducibleCaption), text(Str::NonReducible), Icon::Warning);
    return 0;
  }
  std::vector<FrameUpdate> updates;
  std::unique_ptr<Palette> newGlobal;
  int newBackground = a.backgroundIndex;
  try {
    // ---- The global palette ----
    if (a.globalPalette && a.globalPalette->count > n) {
      const Palette& old = *a.globalPalette;
      std::vector<Frame*> frames;
      bool anyTransparent = false;
      for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
        if (f->localPalette) continue;
        frames.push_back(f);
        anyTransparent |= f->transparent();
      }
      // Count what is shown: transparent pixels take no colour.
      int64_t counts[256] = {};
      for (Frame* f : frames) countPixels(*f, counts, f->transparent() ? f->transparentIndex : -1);
      int k = anyTransparent || isPowerOfTwoFrom8(n) ? n - 1 : n;

      if (progress) {
        progress->setText(text(Str::ReducingPalette));
        progress->setRange(n);
      }
      auto quantised = makePalette(nullptr, 0);
      if (!quantised) {
        showWarning(text(Str::NoMemoryPalettes));
        return 0;
      }
      // Colours that already fit (with the transparent entry) are kept as
      // they are: nothing to average, and nothing for dithering to spread.
      const bool exact = exactColours(old, counts, locked, anyTransparent ? n - 1 : n, *quantised);
      const bool ditherGlobal = dither && !exact;
      if (exact) {
        if (progress) progress->setPosition(n);
      } else if (locked.empty()) {
        quantised->count = medianCut(old, counts, k, quantised->entries.data(), progress);
      } else {
        // Gathered at full size, folded to the count when built.
        int size = std::max(k, 8);
        auto tree = createOctree(256);
        bool ok = tree != nullptr;
        for (size_t i = 0; ok && i < locked.size(); ++i)
          ok = addColour(*tree, locked[i].r, locked[i].g, locked[i].b, 1, true);
        ok = ok && addPalette(*tree, counts, old);
        std::unique_ptr<Palette> built = ok ? buildPalette(*tree, size, false) : nullptr;
        if (!built) {
          showWarning(text(Str::NoMemoryPalettes));
          return 0;
        }
        *quantised = *built;
        if (progress) progress->setPosition(n);
      }
      if (progress && progress->cancelled()) return 2;
      if (quality && !exact) refineOn(*quantised, quantised->count, old, counts, locked);

      const int black = quantised->count;  // the appended black entry
      int map[256];
      if (ditherGlobal) {
        if (progress) {
          progress->setText(text(Str::DitheringFrames));
          progress->setRange(static_cast<int64_t>(frames.size()));
        }
      } else {
        nearestMap(old, *quantised, map);
      }
      for (Frame* f : frames) {
        FrameUpdate u(f);
        if (f->dib) {
          u.dib = remapped(*f, old, *quantised, ditherGlobal, map, black);
          if (!u.dib) return 0;
        }
        if (f->transparent()) {
          u.setTransparency = true;
          u.transparent = true;
          u.transparentIndex = static_cast<uint8_t>(black);
        }
        updates.push_back(std::move(u));
        if (progress && ditherGlobal && !progress->step()) return 2;
      }
      // The rewrite is done; this step only shows where the work stands.
      if (progress) {
        progress->setText(text(Str::RemappingFrames));
        progress->setRange(static_cast<int64_t>(frames.size()));
        if (!progress->setPosition(static_cast<int64_t>(frames.size()))) return 2;
      }
      newGlobal = std::move(quantised);
      // The black entry, for transparent frames; exact colours take its place
      // when they fill the palette and no frame is transparent.
      if (newGlobal->count <= k)
        newGlobal->entries[static_cast<size_t>(newGlobal->count++)] = Rgb{};
      newBackground =
          std::max(0, nearestColour(*newGlobal, paletteColour(&old, a.backgroundIndex)));
    }

    // ---- Local palettes ----
    std::vector<Frame*> locals;
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      if (f->localPalette && f->localPalette->count > n) locals.push_back(f);
    if (!locals.empty() && progress) {
      progress->setText(text(Str::RemappingLocalPalettes));
      progress->setRange(static_cast<int64_t>(locals.size()));
    }
    for (Frame* f : locals) {
      const Palette& old = *f->localPalette;
      bool transparent = f->transparent();
      int64_t counts[256] = {};
      countPixels(*f, counts, transparent ? f->transparentIndex : -1);
      int k = transparent ? n - 1 : n;
      auto local = makePalette(nullptr, 0);
      if (!local) {
        showWarning(text(Str::NoMemoryPalettes));
        return 0;
      }
      bool exact = exactColours(old, counts, {}, k, *local);
      if (!exact) {
        local->count = medianCut(old, counts, k, local->entries.data());
        if (quality) refineOn(*local, local->count, old, counts);
      }
      for (int i = local->count; i < k; ++i)
        (*local)[i] = i == local->count ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
      local->count = k;
      FrameUpdate u(f);
      if (f->dib) {
        int map[256];
        if (!dither || exact) nearestMap(old, *local, map);
        u.dib = remapped(*f, old, *local, dither && !exact, map, k);
        if (!u.dib) return 0;
      }
      if (transparent) {
        (*local)[k] = Rgb{};
        local->count = k + 1;
        u.setTransparency = true;
        u.transparent = true;
        u.transparentIndex = static_cast<uint8_t>(k);
      }
      u.local = std::move(local);
      updates.push_back(std::move(u));
      if (progress && !progress->step()) return 2;
    }
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryPalettes));
    return 0;
  }

  // ---- Commit: nothing below can fail ----
  if (newGlobal) {
    setGlobalPalette(a, std::move(newGlobal));
    a.backgroundIndex = static_cast<uint8_t>(newBackground);
  }
  for (FrameUpdate& u : updates) applyFrameUpdate(u, a.globalPalette.get());
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (!f->localPalette) refreshFrameColours(*f, a.globalPalette.get());
  recountColourUsage(a);
  a.encodedSize = -1;
  return 1;
}

}  // namespace fb
