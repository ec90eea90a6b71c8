#include "document/player.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace fb {
namespace {

// The colours of a display that has no palette of its own: the 20 static
// colours of a VGA-style system palette, black elsewhere.
const Palette& defaultSystemPalette() {
  static const Palette p = [] {
    Palette q;
    const Rgb first[10] = {{0, 0, 0},       {128, 0, 0},    {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128},  {0, 128, 128}, {192, 192, 192},
                           {192, 220, 192}, {166, 202, 240}};
    const Rgb last[10] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                          {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                          {0, 255, 255},   {255, 255, 255}};
    q.count = 256;
    for (int i = 0; i < 10; ++i) {
      q[i] = first[i];
      q[246 + i] = last[i];
    }
    return q;
  }();
  return p;
}

struct Rect {
  int x0, y0, x1, y1;  // clipped, half-open
};

Rect clipToCanvas(const Frame& canvas, int left, int top, int width, int height) {
  Rect r{std::max(0, left), std::max(0, top), std::min(canvas.width, left + width),
         std::min(canvas.height, top + height)};
  if (r.x1 < r.x0) r.x1 = r.x0;
  if (r.y1 < r.y0) r.y1 = r.y0;
  return r;
}

// The canvas's true-colour picture, row by row: 3 colour bytes a pixel with
// the alpha plane beside them, or (for a player in RGBA mode) R, G, B, A.
struct Rows {
  Frame& c;
  bool rgba;
  int step() const { return rgba ? 4 : 3; }
  int alphaStep() const { return rgba ? 4 : 1; }
  uint8_t* colour(int y) const {
    return c.rgb.data() + static_cast<size_t>(y) * (rgba ? 4 * static_cast<size_t>(c.width)
                                                         : static_cast<size_t>(stride24(c.width)));
  }
  uint8_t* alpha(int y) const {
    return rgba ? colour(y) + 3 : c.alpha.data() + static_cast<size_t>(y) * stride8(c.width);
  }
};

// Fills a rectangle of the canvas with index `value`; in true colour with the
// colour of that index, or transparent when `clear` is set.
void fillRect(FramePlayer& p, const Rect& r, uint8_t value, bool clear) {
  if (r.x1 <= r.x0 || r.y1 <= r.y0) return;
  Frame& c = *p.canvas;
  const Palette* pal =
      p.animation->globalPalette ? p.animation->globalPalette.get() : &defaultSystemPalette();
  Rgb colour = value < pal->count ? (*pal)[value] : Rgb{};
  if (clear) colour = Rgb{};
  const uint8_t alpha = clear ? 0 : 255;
  const Rows rows{c, p.rgbaMode};
  const int cs = rows.step(), as = rows.alphaStep();
  for (int y = r.y0; y < r.y1; ++y) {
    if (c.dib) std::memset(c.dib->row(y) + r.x0, value, static_cast<size_t>(r.x1 - r.x0));
    uint8_t* rgb = rows.colour(y);
    uint8_t* a = rows.alpha(y);
    for (int x = r.x0; x < r.x1; ++x) {
      rgb[cs * x] = colour.r;
      rgb[cs * x + 1] = colour.g;
      rgb[cs * x + 2] = colour.b;
      a[as * x] = alpha;
    }
  }
}

// Porter-Duff "over" with straight (non-premultiplied) alpha.
inline void over(uint8_t* dst, uint8_t& dstA, const uint8_t* src, unsigned srcA) {
  if (srcA == 255) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    dstA = 255;
    return;
  }
  if (srcA == 0) return;
  unsigned da = dstA * (255 - srcA) / 255;
  unsigned outA = srcA + da;
  for (int i = 0; i < 3; ++i)
    dst[i] = static_cast<uint8_t>((src[i] * srcA + dst[i] * da + outA / 2) / outA);
  dstA = static_cast<uint8_t>(outA);
}

// False, with the canvas untouched, when the picture to restore after `f`
// cannot be kept for lack of memory.
bool draw(FramePlayer& p, Frame& f, int index) {
  Frame& c = *p.canvas;
  if (f.disposal() == 3) {
    p.saved.reset(static_cast<Frame*>(duplicateBlock(&c).release()));
    if (!p.saved) return false;
  }
  // True-colour frames not yet given indexed pixels show in the true-colour
  // picture only.
  if (f.dib || f.hasRgb()) {
    Rect r = clipToCanvas(c, f.left, f.top, f.width, f.height);
    const Palette* pal = f.palette() ? f.palette() : &defaultSystemPalette();
    bool transparent = f.transparent();
    uint8_t ti = f.transparentIndex;
    bool has24 = f.hasRgb();
    // Blend "source" (animated PNG): the frame replaces what it covers, its
    // transparent pixels included.
    bool replace = transparent && f.blend == 0;
    bool hasA = !f.alpha.empty();
    int fs24 = stride24(f.width), fs8 = stride8(f.width);
    const Rows rows{c, p.rgbaMode};
    const int cs = rows.step(), as = rows.alphaStep();
    if (!has24 && f.dib && !replace) {
      // Indexed pixels only (the usual case): each index's colour looked up
      // once; the pixels a transparent frame leaves out are skipped.
      std::array<Rgb, 256> colour{};
      std::copy_n(pal->entries.begin(), std::clamp(pal->count, 0, 256), colour.begin());
      std::array<uint32_t, 256> packed{};  // R, G, B, 255 in memory order
      for (int i = 0; i < 256; ++i) {
        const uint8_t b[4] = {colour[size_t(i)].r, colour[size_t(i)].g, colour[size_t(i)].b, 255};
        std::memcpy(&packed[size_t(i)], b, 4);
      }
      const int skip = transparent ? ti : -1;
      // Optimized frames are mostly their transparent index: eight such
      // pixels at a time are passed over in one comparison.
      const uint64_t skipWord = transparent ? uint64_t{ti} * 0x0101010101010101u : 0;
      const int n = r.x1 - r.x0;
      for (int y = r.y0; y < r.y1; ++y) {
        const uint8_t* src = f.dib->row(y - f.top) + (r.x0 - f.left);
        uint8_t* crgb = rows.colour(y) + static_cast<size_t>(cs) * r.x0;
        uint8_t* dst = p.rgbaMode ? nullptr : c.dib->row(y) + r.x0;
        uint8_t* ca = p.rgbaMode ? nullptr : rows.alpha(y) + r.x0;
        for (int x0 = 0; x0 < n; x0 += 8) {
          const int x1 = std::min(n, x0 + 8);
          if (transparent && x1 - x0 == 8) {
            uint64_t word;
            std::memcpy(&word, src + x0, 8);
            if (word == skipWord) continue;
          }
          if (p.rgbaMode) {
            for (int x = x0; x < x1; ++x) {
              const uint8_t v = src[x];
              if (v != skip) std::memcpy(crgb + 4 * x, &packed[v], 4);
            }
            continue;
          }
          for (int x = x0; x < x1; ++x) {
            const uint8_t v = src[x];
            if (v == skip) continue;
            dst[x] = v;
            const Rgb& k = colour[v];
            crgb[3 * x] = k.r;
            crgb[3 * x + 1] = k.g;
            crgb[3 * x + 2] = k.b;
            ca[x] = 255;
          }
        }
      }
    } else
      for (int y = r.y0; y < r.y1; ++y) {
        int fy = y - f.top;
        const uint8_t* src = f.dib ? f.dib->row(fy) : nullptr;
        uint8_t* dst = c.dib ? c.dib->row(y) : nullptr;
        uint8_t* crgb = rows.colour(y);
        uint8_t* ca = rows.alpha(y);
        const uint8_t* frgb = has24 ? f.rgb.data() + static_cast<size_t>(fy) * fs24 : nullptr;
        const uint8_t* fa = hasA ? f.alpha.data() + static_cast<size_t>(fy) * fs8 : nullptr;
        for (int x = r.x0; x < r.x1; ++x) {
          int fx = x - f.left;
          uint8_t v = src ? src[fx] : 0;
          if (dst && src && (!transparent || v != ti || replace)) dst[x] = v;
          if (has24) {
            unsigned a = fa ? fa[fx] : 255;
            if (f.blend == 0) {
              std::memcpy(crgb + cs * x, frgb + 3 * fx, 3);
              ca[as * x] = static_cast<uint8_t>(a);
            } else {
              over(crgb + cs * x, ca[as * x], frgb + 3 * fx, a);
            }
          } else if (!transparent || v != ti) {
            Rgb col = v < pal->count ? (*pal)[v] : Rgb{};
            crgb[cs * x] = col.r;
            crgb[cs * x + 1] = col.g;
            crgb[cs * x + 2] = col.b;
            ca[as * x] = 255;
          } else if (replace) {
            crgb[cs * x] = crgb[cs * x + 1] = crgb[cs * x + 2] = 0;
            ca[as * x] = 0;
          }
        }
      }
  }
  c.lendPalette(f.palette());
  c.transparentIndex = f.transparentIndex;
  c.controlFlags = static_cast<uint8_t>((c.controlFlags & ~1) | (f.controlFlags & 1));
  c.setDisposal(f.disposal());
  c.delay = f.delay;
  p.lastFrame = &f;
  p.index = index;
  return true;
}

// Memory ran out before the picture could be made: playing stops here.
Frame* stopShort(FramePlayer& p) {
  p.canvas.reset();
  p.saved.reset();
  p.outOfMemory = true;
  return nullptr;
}

}  // namespace

std::unique_ptr<FramePlayer> startPlayer(Animation& animation) {
  auto p = std::unique_ptr<FramePlayer>(new (std::nothrow) FramePlayer);
  if (!p) return nullptr;
  p->animation = &animation;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
    if (f->hasRgb()) p->has24Bit = true;
  return p;
}

Frame* firstPicture(FramePlayer& p) {
  p.canvas.reset();
  p.saved.reset();
  p.lastFrame = nullptr;
  p.index = -1;
  p.outOfMemory = false;
  Animation& a = *p.animation;
  Frame* first = firstFrame(a);
  if (!first) return nullptr;
  int index = 0;
  // An animated PNG's default image that is not part of the animation is not shown.
  if (a.hideFirstFrame && nextFrame(first)) {
    first = nextFrame(first);
    index = 1;
  }
  // The indexed canvas checks this itself; the picture alone must too.
  if (!sizeAcceptable(a.width, a.height)) return nullptr;
  try {
    auto c = std::make_unique<Frame>();
    c->width = a.width;
    c->height = a.height;
    const Palette* pal = a.globalPalette ? a.globalPalette.get() : &defaultSystemPalette();
    if (!p.rgbaMode) {
      c->dib = createBitmap(a.width, a.height, pal);
      if (!c->dib) {
        p.outOfMemory = true;
        return nullptr;
      }
    }
    c->lendPalette(a.globalPalette.get());
    if (p.rgbaMode) {
      c->rgb.assign(static_cast<size_t>(a.width) * 4 * a.height, 0);
    } else {
      c->rgb.assign(static_cast<size_t>(stride24(a.width)) * a.height, 0);
      c->alpha.assign(static_cast<size_t>(stride8(a.width)) * a.height, 0);
    }
    p.canvas = std::move(c);
  } catch (const std::bad_alloc&) {
    p.outOfMemory = true;
    return nullptr;
  }
  Rect all{0, 0, a.width, a.height};
  // True-colour documents start from a transparent picture, as animated PNGs do.
  if (first->transparent())
    fillRect(p, all, first->transparentIndex, true);
  else
    fillRect(p, all, a.backgroundIndex, p.has24Bit || a.apngRules);
  if (!draw(p, *first, index)) return stopShort(p);
  return p.canvas.get();
}

Frame* nextPicture(FramePlayer& p) {
  if (!p.canvas || !p.lastFrame) return nullptr;
  Frame* f = nextFrame(p.lastFrame);
  if (!f) {
    p.canvas.reset();
    p.saved.reset();
    return nullptr;
  }
  Frame& c = *p.canvas;
  int d = c.disposal();
  if (d == 3 && p.saved) {
    // Restore: keep the canvas record, take the saved pixels.
    c.dib = std::move(p.saved->dib);
    c.rgb = std::move(p.saved->rgb);
    c.alpha = std::move(p.saved->alpha);
    p.saved.reset();
  } else if (d == 2) {
    Frame* last = p.lastFrame;
    Rect r = clipToCanvas(c, last->left, last->top, last->width, last->height);
    // With true-colour data, and in animated PNGs, restoring to background
    // means a transparent rectangle (and only the disposed frame's rectangle).
    bool clear = f->transparent() || p.has24Bit || p.animation->apngRules;
    fillRect(p, r, f->transparent() ? f->transparentIndex : p.animation->backgroundIndex, clear);
  }
  if (!draw(p, *f, p.index + 1)) return stopShort(p);
  return p.canvas.get();
}

void stopPlayer(std::unique_ptr<FramePlayer>& player) {
  player.reset();
}

}  // namespace fb
