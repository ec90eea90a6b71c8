// Builders for the colour tests: indexed animations and true-colour frames.
#pragma once

#include <cstdint>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "document/animation.h"
#include "document/player.h"
#include "imaging/colour_match.h"
#include "imaging/frame_update.h"
#include "timeline.h"

namespace fbtest {

// A w × h frame with a bitmap whose pixels come from `index(x, y)`.
inline fb::Frame* indexedFrame(int w, int h, const std::function<int(int, int)>& index) {
  fb::Frame* f = fb::newBlankFrame(w, h).release();
  f->dib = fb::createBitmap(w, h, nullptr);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f->dib->row(y)[x] = static_cast<uint8_t>(index(x, y));
  return f;
}

// A w × h frame holding only 24-bit data (and alpha when `alpha` is given),
// the way true-colour readers deliver it.
inline fb::Frame* rgbFrame(int w, int h, const std::function<fb::Rgb(int, int)>& colour,
                           const std::function<int(int, int)>& alpha = nullptr) {
  fb::Frame* f = fb::newBlankFrame(w, h).release();
  std::vector<uint8_t> rgb(static_cast<size_t>(fb::stride24(w)) * h);
  std::vector<uint8_t> a;
  if (alpha) a.assign(static_cast<size_t>(fb::stride8(w)) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      fb::Rgb c = colour(x, y);
      uint8_t* p = rgb.data() + static_cast<size_t>(y) * fb::stride24(w) + 3 * x;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      if (alpha) a[static_cast<size_t>(y) * fb::stride8(w) + x] = static_cast<uint8_t>(alpha(x, y));
    }
  fb::setRgb(*f, std::move(rgb));
  if (alpha) fb::setAlpha(*f, std::move(a));
  return f;
}

// An animation of the given screen with `palette` as its global palette
// (none when empty) and the frames appended in order.
inline std::unique_ptr<fb::Animation> animationOf(int w, int h, const std::vector<fb::Rgb>& palette,
                                                  const std::vector<fb::Frame*>& frames) {
  auto a = fb::createAnimation();
  a->width = w;
  a->height = h;
  if (!palette.empty())
    fb::setGlobalPalette(*a, fb::makePalette(palette.data(), static_cast<int>(palette.size())));
  for (fb::Frame* f : frames) {
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
    fb::refreshFrameColours(*f, a->globalPalette.get());
  }
  fb::recountColourUsage(*a);
  return a;
}

inline void makeTransparent(fb::Frame& f, int index) {
  f.controlFlags |= 1;
  f.transparentIndex = static_cast<uint8_t>(index);
  fb::refreshFrameColours(f, f.localPalette ? nullptr : f.palette());
}

// The colour a viewer sees at (x, y) of a frame's own image; alpha 0 when transparent.
struct Shown {
  fb::Rgb rgb;
  bool opaque;
};
inline Shown shownAt(const fb::Frame& f, int x, int y) {
  uint8_t v = f.dib->row(y)[x];
  if (f.transparent() && v == f.transparentIndex) return {fb::Rgb{}, false};
  fb::Rgb c = f.palette() && v < f.palette()->count ? (*f.palette())[v] : fb::Rgb{};
  return {c, true};
}

// Distinct 256 colours spread over the cube.
inline std::vector<fb::Rgb> spreadColours(int n) {
  std::vector<fb::Rgb> out;
  for (int i = 0; i < n; ++i)
    out.push_back(fb::Rgb{static_cast<uint8_t>((i * 37) & 255),
                          static_cast<uint8_t>((i * 91 + 13) & 255),
                          static_cast<uint8_t>((i * 151 + 71) & 255)});
  return out;
}

// Every picture a viewer sees, as RGBA rows, where nothing shows all zero
// (the colour there is no part of the picture).
using Picture = std::vector<uint8_t>;
inline std::vector<Picture> visiblePictures(fb::Animation& a) {
  std::vector<Picture> out = pictures(a);
  for (Picture& px : out)
    for (size_t i = 0; i < px.size(); i += 4)
      if (!px[i + 3]) px[i] = px[i + 1] = px[i + 2] = 0;
  return out;
}

// The picture `p` (w × h) with its pixel x, y taken from map(x, y) of `src` (sw wide).
template <class Map>
Picture remapped(const Picture& src, int sw, int w, int h, Map map) {
  Picture out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto [sx, sy] = map(x, y);
      const uint8_t* s = src.data() + (static_cast<size_t>(sy) * sw + sx) * 4;
      out.insert(out.end(), s, s + 4);
    }
  return out;
}

// PSNR (dB) of what a frame shows against `original`, over its opaque pixels.
inline double psnr(const fb::Frame& f, const std::function<fb::Rgb(int, int)>& original) {
  double se = 0;
  int n = 0;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      Shown s = shownAt(f, x, y);
      if (!s.opaque) continue;
      fb::Rgb o = original(x, y);
      se += (s.rgb.r - o.r) * (s.rgb.r - o.r) + (s.rgb.g - o.g) * (s.rgb.g - o.g) +
            (s.rgb.b - o.b) * (s.rgb.b - o.b);
      n += 3;
    }
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (se / n));
}

}  // namespace fbtest
