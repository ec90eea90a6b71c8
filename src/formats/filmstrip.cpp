#include "formats/filmstrip.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "document/player.h"
#include "base/progress.h"

namespace fb {

FilmstripLayout filmstripLayout(int frames, uint32_t options) {
  frames = std::max(frames, 1);
  int perLine = static_cast<int>(options >> 16);
  if (perLine <= 0 || perLine > frames) perLine = frames;
  int lines = (frames + perLine - 1) / perLine;
  bool vertical = options & 0x100;
  return vertical ? FilmstripLayout{lines, perLine} : FilmstripLayout{perLine, lines};
}

namespace {

// Indexed output is exact when every picture draws with the global palette and
// transparency means the same index in all of them.
bool indexedPicturesShareOnePalette(const Animation& a, bool& transparent, uint8_t& index) {
  if (!a.globalPalette) return false;
  transparent = false;
  bool first = true;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->hasRgb() || f->localPalette || !f->dib) return false;
    if (first) {
      transparent = f->transparent();
      index = f->transparentIndex;
      first = false;
    } else if (f->transparent() != transparent || (transparent && f->transparentIndex != index)) {
      return false;
    }
  }
  return !first;
}

}  // namespace

std::unique_ptr<Frame> makeFilmstrip(Animation& a, const FilmstripLayout& layout, bool vertical,
                                     Progress* progress) {
  const int w = a.width, h = a.height;
  if (w <= 0 || h <= 0 || layout.columns <= 0 || layout.rows <= 0) return nullptr;
  const int64_t fullW = int64_t{w} * layout.columns, fullH = int64_t{h} * layout.rows;
  if (fullW > 0x7FFFFFFF || fullH > 0x7FFFFFFF ||
      !sizeAcceptable(static_cast<int>(fullW), static_cast<int>(fullH)))
    return nullptr;
  const int W = static_cast<int>(fullW), H = static_cast<int>(fullH);

  bool transparent = false;
  uint8_t t = 0;
  const bool indexed = indexedPicturesShareOnePalette(a, transparent, t);
  std::unique_ptr<Frame> strip;
  try {
    strip = std::make_unique<Frame>();
    strip->width = W;
    strip->height = H;
    strip->delay = 0;
    if (indexed) {
      strip->lendPalette(a.globalPalette.get());
      strip->dib = createBitmap(W, H, strip->palette());
      if (!strip->dib) return nullptr;
      uint8_t fill = transparent ? t : a.backgroundIndex;
      std::fill(strip->dib->data.begin(), strip->dib->data.end(), fill);
      if (transparent) {
        strip->transparentIndex = t;
        strip->controlFlags |= 1;
      }
    } else {
      strip->rgb.assign(static_cast<size_t>(stride24(W)) * H, 0);
      strip->alpha.assign(static_cast<size_t>(stride8(W)) * H, 0);
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }

  auto player = startPlayer(a);
  if (!player) return nullptr;
  int pictures = a.frameCount() - (a.hideFirstFrame && a.frameCount() > 1 ? 1 : 0);
  if (progress) progress->setRange(pictures);
  const int cells = layout.columns * layout.rows;
  int i = 0;
  // The next picture is made only when a cell is left for it: one past the last
  // cell could run out of memory and refuse a strip that is complete.
  for (Frame* c = firstPicture(*player); c && i < cells;
       c = ++i < cells ? nextPicture(*player) : nullptr) {
    int col = vertical ? i / layout.rows : i % layout.columns;
    int row = vertical ? i % layout.rows : i / layout.columns;
    int x0 = col * w, y0 = row * h;
    for (int y = 0; y < h; ++y) {
      if (indexed) {
        std::memcpy(strip->dib->row(y0 + y) + x0, c->dib->row(y), static_cast<size_t>(w));
      } else {
        std::memcpy(strip->rgb.data() + static_cast<size_t>(y0 + y) * stride24(W) + 3 * x0,
                    c->rgb.data() + static_cast<size_t>(y) * stride24(w), 3 * size_t(w));
        std::memcpy(strip->alpha.data() + static_cast<size_t>(y0 + y) * stride8(W) + x0,
                    c->alpha.data() + static_cast<size_t>(y) * stride8(w), size_t(w));
      }
    }
    if (progress && !progress->step()) return nullptr;
  }
  if (player->outOfMemory) return nullptr;
  if (!indexed) {
    // Fully opaque pictures need no alpha plane.
    bool opaque = true;
    for (int y = 0; y < H && opaque; ++y) {
      const uint8_t* row = strip->alpha.data() + static_cast<size_t>(y) * stride8(W);
      opaque = std::all_of(row, row + W, [](uint8_t v) { return v == 255; });
    }
    if (opaque) setAlpha(*strip, {});
  } else if (transparent) {
    strip->mask = buildMask(*strip->dib, t);
    if (!strip->mask) return nullptr;
  }
  return strip;
}

bool splitFilmstrip(Animation& a, int columns, int rows) {
  Frame* src = firstFrame(a);
  if (!src || nextFrame(src) || columns <= 0 || rows <= 0) return false;
  const int cw = src->width / columns, ch = src->height / rows;
  if (cw <= 0 || ch <= 0 || (!src->dib && !src->hasRgb())) return false;
  std::vector<std::unique_ptr<Frame>> cells;
  try {
    cells.reserve(static_cast<size_t>(columns) * rows);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        auto f = std::make_unique<Frame>();
        f->width = cw;
        f->height = ch;
        f->delay = src->delay;
        f->blend = src->blend;
        f->controlFlags = src->controlFlags;
        f->transparentIndex = src->transparentIndex;
        if (src->localPalette) {
          auto local = copyPalette(*src->localPalette);
          if (!local) return false;
          setLocalPalette(*f, std::move(local));
        } else {
          f->lendPalette(src->palette());
        }
        const int x0 = c * cw, y0 = r * ch;
        if (src->dib) {
          f->dib = createBitmap(cw, ch, f->palette());
          if (!f->dib) return false;
          f->dib->colours = src->dib->colours;
          for (int y = 0; y < ch; ++y)
            std::memcpy(f->dib->row(y), src->dib->row(y0 + y) + x0, static_cast<size_t>(cw));
        }
        if (src->hasRgb()) {
          f->rgb.assign(static_cast<size_t>(stride24(cw)) * ch, 0);
          for (int y = 0; y < ch; ++y)
            std::memcpy(
                f->rgb.data() + static_cast<size_t>(y) * stride24(cw),
                src->rgb.data() + static_cast<size_t>(y0 + y) * stride24(src->width) + 3 * x0,
                3 * static_cast<size_t>(cw));
          if (!src->alpha.empty()) {
            f->alpha.assign(static_cast<size_t>(stride8(cw)) * ch, 0);
            for (int y = 0; y < ch; ++y)
              std::memcpy(
                  f->alpha.data() + static_cast<size_t>(y) * stride8(cw),
                  src->alpha.data() + static_cast<size_t>(y0 + y) * stride8(src->width) + x0,
                  static_cast<size_t>(cw));
          }
        }
        if (f->transparent() && f->dib) {
          f->mask = buildMask(*f->dib, f->transparentIndex);
          if (!f->mask) return false;
        }
        cells.push_back(std::move(f));
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Everything is built: swap the cells in for the strip.
  size_t position = a.positionOf(src);
  removeBlock(a, src);
  std::vector<BlockPtr> incoming;
  for (auto& f : cells) incoming.emplace_back(std::move(f));
  a.insertAt(position, std::move(incoming));
  a.width = cw;
  a.height = ch;
  return true;
}

}  // namespace fb
