#include "imaging/dither.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "imaging/frame_update.h"
#include "resources/strings.h"
#include "base/progress.h"
#include "base/reporter.h"

namespace fb {
namespace {

constexpr int kBias[4][4] = {{7, 1, 6, 0}, {3, 5, 2, 4}, {6, 0, 7, 1}, {2, 4, 3, 5}};

// Level tables, one per bias. Bias 0 keeps the two top levels for the very
// brightest values; a bias k pushes the value up by k before the cut.
constexpr std::array<std::array<uint8_t, 256>, 8> kLevels = [] {
  std::array<std::array<uint8_t, 256>, 8> t{};
  for (int v = 0; v < 256; ++v) {
    int level;
    if (v < 8)
      level = 0;
    else if (v < 24)
      level = 1;
    else if (v < 248)
      level = v / 8 - 1;
    else if (v < 255)
      level = 30;
    else
      level = 31;
    t[0][size_t(v)] = uint8_t(level);
    for (int k = 1; k < 8; ++k) {
      int x = v + k;
      if (x < 8)
        level = 0;
      else if (x < 24)
        level = 1;
      else if (x < 256)
        level = x / 8 - 1;
      else
        level = 31;
      t[size_t(k)][size_t(v)] = uint8_t(level);
    }
  }
  return t;
}();

bool ensureErrorRows(DitherState& s, int width) {
  if (width <= s.width && !s.errors.empty()) return true;
  try {
    s.errors.assign(static_cast<size_t>(width + 2) * 3 * 2, 0);
  } catch (const std::bad_alloc&) {
    s.errors.clear();
    s.width = 0;
    return false;
  }
  s.width = width;
  return true;
}

inline uint8_t clamp255(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The diffusion loop over any pixel source. `colourAt(x, y, rgb)` fills the
// source colour and returns false for a transparent pixel.
template <typename Source>
DitherResult diffuse(const Palette& palette, uint8_t* out, int width, int height,
                     int transparentIndex, DitherState& s, Source colourAt) {
  // An opaque pixel must never land on the transparent index.
  if (!ensureInverseMap(s.map, palette, transparentIndex)) return DitherResult::NoMemoryForMap;
  if (!ensureErrorRows(s, width)) return DitherResult::NoMemoryForErrors;
  const size_t rowInts = static_cast<size_t>(s.width + 2) * 3;
  int32_t* cur = s.errors.data();
  int32_t* nxt = cur + rowInts;
  std::fill(cur, cur + rowInts, 0);
  const uint8_t* cells = s.map.cells.data();
  int s8 = stride8(width);
  for (int y = 0; y < height; ++y) {
    std::fill(nxt, nxt + rowInts, 0);
    uint8_t* o = out + static_cast<size_t>(y) * s8;
    const uint8_t* levels[4];
    for (int c = 0; c < 4; ++c) levels[c] = kLevels[size_t(kBias[y & 3][c])].data();
    for (int x = 0; x < width; ++x) {
      uint8_t src[3];
      if (!colourAt(x, y, src)) {
        o[x] = static_cast<uint8_t>(transparentIndex);
        continue;
      }
      int32_t* e = cur + 3 * (x + 1);
      int v[3];
      for (int c = 0; c < 3; ++c) v[c] = clamp255(src[c] + e[c] / 16);
      const uint8_t* lv = levels[x & 3];
      uint8_t index = cells[(lv[v[0]] << 10) | (lv[v[1]] << 5) | lv[v[2]]];
      o[x] = index;
      const Rgb chosen = palette[index];
      int err[3] = {v[0] - chosen.r, v[1] - chosen.g, v[2] - chosen.b};
      int32_t* right = e + 3;
      int32_t* below = nxt + 3 * (x + 1);
      for (int c = 0; c < 3; ++c) {
        right[c] += err[c] * 7;
        below[c - 3] += err[c] * 3;
        below[c] += err[c] * 5;
        below[c + 3] += err[c];
      }
    }
    std::swap(cur, nxt);
  }
  return DitherResult::Done;
}

}  // namespace

int ditherBias(int row, int column) {
  return kBias[row & 3][column & 3];
}

int ditherLevel(int bias, int value) {
  return kLevels[size_t(std::clamp(bias, 0, 7))][size_t(std::clamp(value, 0, 255))];
}

DitherState& threadDitherState() {
  thread_local DitherState state;
  return state;
}

void reportDitherFailure(DitherResult r) {
  if (r == DitherResult::NoMemoryForMap)
    showWarning(text(Str::NoMemoryDither));
  else if (r == DitherResult::NoMemoryForErrors)
    showWarning(text(Str::NoErrorRows));
}

DitherResult ditherRgb(const Palette& palette, uint8_t* out, const uint8_t* rgbRows,
                       const uint8_t* alphaPlane, int width, int height, int transparentIndex,
                       int alphaThreshold, DitherState* state) {
  DitherState& s = state ? *state : threadDitherState();
  int s24 = stride24(width), s8 = stride8(width);
  return diffuse(palette, out, width, height, transparentIndex, s, [&](int x, int y, uint8_t* c) {
    if (alphaPlane && alphaPlane[size_t(y) * s8 + x] < alphaThreshold) return false;
    const uint8_t* p = rgbRows + size_t(y) * s24 + 3 * x;
    c[0] = p[0];
    c[1] = p[1];
    c[2] = p[2];
    return true;
  });
}

DitherResult ditherIndexed(const Palette& source, const uint8_t* pixels, int width, int height,
                           int oldTransparent, const Palette& palette, uint8_t* out,
                           int newTransparent, DitherState* state) {
  DitherState& s = state ? *state : threadDitherState();
  std::array<Rgb, 256> colours{};
  for (int i = 0; i < source.count; ++i) colours[size_t(i)] = source[i];
  int s8 = stride8(width);
  // Writing in place is safe: a pixel is read before its own output is written
  // and never again afterwards.
  return diffuse(palette, out, width, height, newTransparent, s, [&](int x, int y, uint8_t* c) {
    uint8_t p = pixels[size_t(y) * s8 + x];
    if (p == oldTransparent) return false;
    c[0] = colours[p].r;
    c[1] = colours[p].g;
    c[2] = colours[p].b;
    return true;
  });
}

DitherResult mapRgb(const Palette& palette, uint8_t* out, const uint8_t* rgbRows,
                    const uint8_t* alphaPlane, int width, int height, int transparentIndex,
                    int alphaThreshold, DitherState* state) {
  DitherState& s = state ? *state : threadDitherState();
  if (!ensureInverseMap(s.map, palette, transparentIndex)) return DitherResult::NoMemoryForMap;
  ExactColourTable exact;
  exact.build(palette, transparentIndex);
  int s24 = stride24(width), s8 = stride8(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = rgbRows + size_t(y) * s24;
    const uint8_t* a = alphaPlane ? alphaPlane + size_t(y) * s8 : nullptr;
    uint8_t* o = out + size_t(y) * s8;
    uint32_t last = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (int x = 0; x < width; ++x, p += 3) {
      if (a && a[x] < alphaThreshold) {
        o[x] = static_cast<uint8_t>(transparentIndex);
        continue;
      }
      uint32_t c = packRgb(p[0], p[1], p[2]);
      if (c != last) {
        last = c;
        int e = exact.find(c);
        lastIndex = e >= 0 ? static_cast<uint8_t>(e) : s.map.at(p[0] >> 3, p[1] >> 3, p[2] >> 3);
      }
      o[x] = lastIndex;
    }
  }
  return DitherResult::Done;
}

namespace {

// Dithers a frame into a new bitmap; null (message shown) on failure.
std::unique_ptr<Bitmap> ditheredBitmap(const Frame& f, const Palette& palette, int newTransparent,
                                       DitherState& s) {
  auto dib = createBitmap(f.width, f.height, &palette);
  if (!dib) {
    showWarning(text(Str::NoMemoryPalettes));
    return nullptr;
  }
  DitherResult r;
  if (rgbUsable(f)) {
    r = ditherRgb(palette, dib->data.data(), f.rgb.data(), usableAlpha(f), f.width, f.height,
                  newTransparent, kAlphaThreshold, &s);
  } else if (f.dib) {
    Palette none;
    r = ditherIndexed(f.palette() ? *f.palette() : none, f.pixels(), f.width, f.height,
                      f.transparent() ? f.transparentIndex : -1, palette, dib->data.data(),
                      newTransparent, &s);
  } else {
    return dib;
  }
  if (r != DitherResult::Done) {
    reportDitherFailure(r);
    return nullptr;
  }
  return dib;
}

}  // namespace

bool ditherFrame(Frame& frame, const Palette& palette, int newTransparent) {
  auto dib = ditheredBitmap(frame, palette, newTransparent, threadDitherState());
  if (!dib) return false;
  bool transparent =
      frame.transparent() || (rgbUsable(frame) && hasTransparentAlpha(frame, kAlphaThreshold));
  frame.dib = std::move(dib);
  if (transparent) {
    frame.controlFlags |= 1;
    frame.transparentIndex = static_cast<uint8_t>(newTransparent);
  }
  refreshFrameColours(frame, frame.localPalette ? nullptr : frame.palette());
  return true;
}

int ditherFrames(Animation& a, const Palette& palette, int newTransparent, Progress* progress) {
  std::vector<FrameUpdate> updates;
  std::unique_ptr<Palette> global = copyPalette(palette);
  if (!global) {
    showWarning(text(Str::NoMemoryPalettes));
    return 0;
  }
  try {
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      if (!f->localPalette) updates.push_back(FrameUpdate(f));
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryPalettes));
    return 0;
  }
  if (progress) {
    progress->setText(text(Str::DitheringFrames));
    progress->setRange(static_cast<int64_t>(updates.size()));
  }
  DitherState& s = threadDitherState();
  for (FrameUpdate& u : updates) {
    Frame& f = *u.frame;
    if (f.dib || rgbUsable(f)) {
      u.dib = ditheredBitmap(f, palette, newTransparent, s);
      if (!u.dib) return 0;
      if (f.transparent() || (rgbUsable(f) && hasTransparentAlpha(f, kAlphaThreshold))) {
        u.setTransparency = true;
        u.transparent = true;
        u.transparentIndex = static_cast<uint8_t>(newTransparent);
      }
    }
    if (progress && !progress->step()) return 2;
  }
  setGlobalPalette(a, std::move(global));
  for (FrameUpdate& u : updates) applyFrameUpdate(u, a.globalPalette.get());
  recountColourUsage(a);
  return 1;
}

}  // namespace fb
