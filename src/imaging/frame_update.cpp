#include "imaging/frame_update.h"

#include <algorithm>

namespace fb {

void countPixels(const Frame& f, int64_t* counts, int skip) {
  if (!f.dib) return;
  int64_t own[256] = {};
  addIndexCounts(*f.dib, own);
  for (int i = 0; i < 256; ++i)
    if (i != skip) counts[i] += own[i];
}

bool rgbUsable(const Frame& f) {
  return f.width > 0 && f.height > 0 &&
         f.rgb.size() >= static_cast<size_t>(stride24(f.width)) * static_cast<size_t>(f.height);
}

const uint8_t* usableAlpha(const Frame& f) {
  if (f.alpha.size() < static_cast<size_t>(stride8(f.width)) * static_cast<size_t>(f.height))
    return nullptr;
  return f.alpha.data();
}

bool hasTransparentAlpha(const Frame& f, int threshold) {
  const uint8_t* a = usableAlpha(f);
  if (!a) return false;
  int s8 = stride8(f.width);
  for (int y = 0; y < f.height; ++y) {
    const uint8_t* row = a + static_cast<size_t>(y) * s8;
    for (int x = 0; x < f.width; ++x)
      if (row[x] < threshold) return true;
  }
  return false;
}

void refreshFrameColours(Frame& f, Palette* global, bool rebuildMask) {
  if (!f.owner) f.lendPalette(global);
  if (!f.dib) {
    f.mask.reset();
    return;
  }
  f.dib->colours.fill(Rgb{});
  if (f.palette())
    std::copy(f.palette()->entries.begin(), f.palette()->entries.begin() + f.palette()->count,
              f.dib->colours.begin());
  if (!f.transparent()) {
    f.mask.reset();
  } else if (rebuildMask || !f.mask) {
    f.mask = buildMask(*f.dib, f.transparentIndex);
  }
}

void applyFrameUpdate(FrameUpdate& u, Palette* global) {
  Frame& f = *u.frame;
  if (u.local) {
    setLocalPalette(f, std::move(u.local));
  } else if (u.dropLocal && f.localPalette) {
    setLocalPalette(f, nullptr);
  }
  if (u.dib) f.dib = std::move(u.dib);
  if (u.setTransparency) {
    if (u.transparent)
      f.controlFlags |= 1;
    else
      f.controlFlags &= static_cast<uint8_t>(~1);
    f.transparentIndex = u.transparentIndex;
  }
  if (u.dropRgb) setRgb(f, {});
  refreshFrameColours(f, global);
}

}  // namespace fb
