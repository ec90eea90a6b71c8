#include "imaging/palette_pass.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "base/progress.h"
#include "imaging/optimizer.h"
#include "imaging/frame_update.h"
#include "imaging/palette_merge.h"
#include "resources/strings.h"

namespace fb {
namespace {

std::array<int64_t, 256> pixelCounts(const Frame& f) {
  std::array<int64_t, 256> counts{};
  if (f.dib) addIndexCounts(*f.dib, counts.data());
  return counts;
}

// How many of the frame's pixels are `index`.
int64_t pixelsOf(const Frame& f, uint8_t index) {
  int64_t n = 0;
  for (int y = 0; y < f.dib->height; ++y) {
    const uint8_t* row = f.dib->row(y);
    n += std::count(row, row + f.dib->width, index);
  }
  return n;
}

// Every pixel through `map` onto `palette`; the transparent index follows,
// or transparency goes when its index is no longer in use.
void remapThrough(Frame& f, const int* map, Palette* palette) {
  remapFramePixels(f, palette, palette->entries.data(), palette->count, map);
}

}  // namespace

bool localColoursFit(const Animation& a, const Frame& frame) {
  if (!frame.localPalette || !a.globalPalette) return false;
  std::array<int64_t, 256> usage = a.colourUsage;
  int globalCount = a.globalPalette->count;
  Palette global = *a.globalPalette;
  auto counts = pixelCounts(frame);
  int cursor = 0;
  for (int i = 0; i < frame.localPalette->count; ++i) {
    if (counts[i] == 0) continue;
    const Rgb c = (*frame.localPalette)[i];
    int match = -1;
    for (int g = 0; g < globalCount; ++g)
      if (global[g] == c) {
        match = g;
        break;
      }
    if (match >= 0) {
      usage[match] += counts[i];
      continue;
    }
    while (cursor < globalCount && usage[cursor] != 0) ++cursor;
    if (cursor < globalCount) {
      global[cursor] = c;
      usage[cursor] += counts[i];
      continue;
    }
    if (globalCount >= 256) return false;
    global[globalCount] = c;
    usage[globalCount++] = counts[i];
  }
  return true;
}

bool shrinkPalettes(Animation& a, Progress* progress) {
  bool changed = false;
  recountColourUsage(a);
  if (a.globalPalette) {
    // Entries that show without being a pixel count as used too: the
    // background colour fills the screen, and a transparent index decides how
    // the screen is filled and cleared even when no pixel carries it.
    std::array<int64_t, 256> usage = a.colourUsage;
    usage[a.backgroundIndex] += 1;
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      if (!f->localPalette && f->transparent()) usage[f->transparentIndex] += 1;
    bool outOfRange = false;
    for (int i = a.globalPalette->count; i < 256; ++i) outOfRange |= usage[i] != 0;
    int map[256];
    std::unique_ptr<Palette> smaller =
        outOfRange ? nullptr : shrinkPalette(*a.globalPalette, usage.data(), map);
    if (smaller) {
      if (progress) progress->setText(text(Str::ShrinkingGlobal));
      std::vector<Frame*> frames;
      for (Frame* f = firstFrame(a); f; f = nextFrame(f))
        if (!f->localPalette) frames.push_back(f);
      Palette* p = smaller.get();
      std::atomic<bool> ownMap{false};  // some frame's transparent index moved apart
      auto remap = [p, &map, &ownMap](Frame& frame) {
        Frame* f = &frame;
        int frameMap[256];
        std::copy(map, map + 256, frameMap);
        if (f->transparent()) {
          // The transparent colour must not share its new index with an opaque one.
          int t = f->transparentIndex, v = map[t];
          bool shared = false;
          for (int i = 0; i < 256 && v >= 0; ++i) shared |= i != t && map[i] == v;
          if (shared) {
            bool taken[256] = {};
            for (int i = 0; i < 256; ++i)
              if (map[i] >= 0) taken[map[i]] = true;
            for (int n = 0; n < 256; ++n)
              if (!taken[n]) {
                frameMap[t] = n;
                ownMap = true;
                break;
              }
          }
        }
        remapThrough(*f, frameMap, p);
      };
      remapEachFrame(frames, std::ref(remap));
      a.backgroundIndex = static_cast<uint8_t>(map[a.backgroundIndex]);
      setGlobalPalette(a, std::move(smaller));
      if (ownMap) {
        recountColourUsage(a);
      } else {
        // Every pixel went through the one map (a value without a new index
        // kept its own): the counts just made go with them.
        std::array<int64_t, 256> moved{};
        for (int i = 0; i < 256; ++i) moved[static_cast<size_t>(map[i] >= 0 ? map[i] : i)] += a.colourUsage[i];
        a.colourUsage = moved;
      }
      changed = true;
    }
  }

  bool anyLocal = false;
  for (Frame* f = firstFrame(a); f && !anyLocal; f = nextFrame(f))
    anyLocal = f->localPalette != nullptr;
  if (!anyLocal) return changed;
  if (progress) {
    progress->setText(text(Str::ShrinkingLocal));
    progress->setRange(a.frameCount());
  }
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->localPalette) {
      auto counts = pixelCounts(*f);
      if (f->transparent()) counts[f->transparentIndex] += 1;
      bool outOfRange = false;
      for (int i = f->localPalette->count; i < 256; ++i) outOfRange |= counts[i] != 0;
      int map[256];
      auto smaller = outOfRange ? nullptr : shrinkPalette(*f->localPalette, counts.data(), map);
      if (smaller) {
        Palette* p = smaller.get();
        remapThrough(*f, map, p);
        setLocalPalette(*f, std::move(smaller));
        changed = true;
      }
    }
    if (progress && !progress->step()) break;
  }
  return changed;
}

bool removeLocalPalettes(Animation& a, uint32_t options, Progress* progress,
                         const MergeOptions& mergeOptions, bool* failed) {
  const uint32_t m = mergeOptions.storedMethod;
  auto merged = [&](int result) {
    if (result == 0 && failed) *failed = true;
    return result == 1;
  };
  if (options & opt::AdaptiveGlobal) {
    // One adaptive global palette for every frame, local ones included; the
    // dither bit and colour counts of the stored word are kept.
    return merged(
        mergePalettes(nullptr, a, (m & 0xFFFF1101) | 0x1001, nullptr, progress, mergeOptions));
  }
  if (progress) {
    progress->setText(text(Str::RemovingLocalPalettes));
    progress->setRange(a.frameCount());
  }
  // The counts are made once for the pass and follow each merged frame,
  // rather than being made again over every frame after each merge.
  recountColourUsage(a);
  // What shows is those counts without each frame's transparent pixels.
  std::array<int64_t, 256> shown = a.colourUsage;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (!f->localPalette && f->dib && f->transparent())
      shown[f->transparentIndex] -= pixelsOf(*f, f->transparentIndex);
  auto addFrame = [&](const Frame& f) {
    auto counts = pixelCounts(f);
    for (int i = 0; i < 256; ++i) {
      a.colourUsage[i] += counts[i];
      if (!(f.transparent() && i == f.transparentIndex)) shown[i] += counts[i];
    }
  };
  bool changed = false;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->localPalette) {
      if (!a.globalPalette) {
        // The first local palette becomes the global one.
        setGlobalPalette(a, setLocalPalette(*f, nullptr));
        a.colourUsage.fill(0);
        shown.fill(0);
        addFrame(*f);
        changed = true;
      } else if ((options & opt::MapToGlobal) || localColoursFit(a, *f)) {
        // Merged into the global palette (the dither bit of the stored word kept).
        if (merged(mapFrameIntoGlobalPalette(nullptr, a, *f,
                                             (m & merge::Dither) | merge::MergeGlobal,
                                             mergeOptions, &shown))) {
          addFrame(*f);
          changed = true;
        } else if (failed && *failed) {
          break;
        }
      }
    }
    if (progress && !progress->step()) break;
  }
  return changed;
}

}  // namespace fb
