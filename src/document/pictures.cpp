#include "document/pictures.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>

#include "document/rgba.h"

namespace fb {

namespace {

size_t defaultBudget() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  const size_t total = pages > 0 && size > 0
                           ? static_cast<size_t>(pages) * static_cast<size_t>(size)
                           : size_t{2} << 30;
  return std::clamp(total / 16, size_t{128} << 20, size_t{256} << 20);
}

size_t frameBytes(const Frame* f) {
  if (!f) return 0;
  return sizeof(Frame) + (f->dib ? f->dib->data.capacity() : 0) + f->rgb.capacity() +
         f->alpha.capacity();
}

// Snapshot tiles: square, so that a change in one place shares the rest.
constexpr int kTile = 32;
// What a tile costs beyond its pixels: its pointer and its count of owners.
constexpr size_t kTileOverhead = 2 * sizeof(std::shared_ptr<uint8_t[]>);

}  // namespace

PictureCache::PictureCache(Animation& document, size_t budgetBytes)
    : doc_(document), budget_(budgetBytes ? budgetBytes : defaultBudget()) {
  clear();
}

PictureCache::~PictureCache() = default;

int PictureCache::count() const {
  int n = doc_.frameCount();
  return doc_.hideFirstFrame && n > 1 ? n - 1 : n;
}

size_t PictureCache::snapshotBytes() const {
  // The canvas's R, G, B, A picture.
  return static_cast<size_t>(doc_.width) * 4 * doc_.height;
}

std::unique_ptr<FramePlayer> PictureCache::start() {
  auto p = startPlayer(doc_);
  if (p) p->rgbaMode = true;  // pictures come out as they are kept
  return p;
}

int PictureCache::startState() const {
  int state = doc_.hideFirstFrame && doc_.frameCount() > 1 ? 1 : 0;
  for (Frame* f = firstFrame(doc_); f; f = nextFrame(f))
    if (f->hasRgb()) return state | 2;
  return state;
}

int PictureCache::intervalFor() const {
  // Snapshots every so many frames that whole ones would fit the budget.
  size_t each = std::max<size_t>(snapshotBytes(), 1);
  size_t fit = std::max<size_t>(budget_ / each, 1);
  size_t frames = static_cast<size_t>(std::max(doc_.frameCount(), 1));
  return static_cast<int>(std::max<size_t>(1, (frames + fit - 1) / fit));
}

void PictureCache::clear() {
  snapshots_.clear();
  kept_ = 0;
  player_.reset();
  base_ = -1;
  start_ = startState();
  interval_ = intervalFor();
  width_ = std::max(doc_.width, 0);
  height_ = std::max(doc_.height, 0);
  // In 64 bits: a screen with no pixels may still be as wide or as tall as an int.
  tileColumns_ = static_cast<int>((int64_t{width_} + kTile - 1) / kTile);
  tileCount_ = static_cast<size_t>(tileColumns_) *
               static_cast<size_t>((int64_t{height_} + kTile - 1) / kTile);
}

PictureCache::TileRect PictureCache::tile(size_t t) const {
  const int x = static_cast<int>(t % static_cast<size_t>(tileColumns_)) * kTile;
  const int y = static_cast<int>(t / static_cast<size_t>(tileColumns_)) * kTile;
  return TileRect{x, y, std::min(kTile, width_ - x), std::min(kTile, height_ - y)};
}

size_t PictureCache::tileBytes(size_t t) const {
  const TileRect r = tile(t);
  return static_cast<size_t>(r.width) * 4 * static_cast<size_t>(r.height);
}

// What forgetting `s` gives back: its own tiles, not those a neighbour shares.
size_t PictureCache::unsharedBytes(const Snapshot& s) const {
  size_t n = sizeof(Snapshot) + frameBytes(s.saved.get());
  for (size_t t = 0; t < s.tiles.size(); ++t)
    n += s.tiles[t].use_count() == 1 ? tileBytes(t) + kTileOverhead : sizeof(s.tiles[t]);
  return n;
}

void PictureCache::forget(std::map<int, Snapshot>::iterator it) {
  kept_ -= unsharedBytes(it->second);
  snapshots_.erase(it);
}

void PictureCache::invalidateFrom(int frame) {
  // One at a time, from the last: a tile two of them share is counted with the second.
  while (!snapshots_.empty() && std::prev(snapshots_.end())->first >= std::max(frame, 0))
    forget(std::prev(snapshots_.end()));
  if (player_ && player_->index >= frame) player_.reset();
  if (base_ >= frame) base_ = -1;
  // A changed frame count changes how far apart the snapshots may be, and a
  // change to how every picture starts, or to the screen, changes them all,
  // wherever the edit was.
  if (intervalFor() != interval_ || startState() != start_ || doc_.width != width_ ||
      doc_.height != height_)
    clear();
}

size_t PictureCache::bytesHeld() const {
  size_t n = kept_;
  if (player_) n += frameBytes(player_->canvas.get()) + frameBytes(player_->saved.get());
  return n;
}

namespace {

// `dst` becomes a copy of the canvas `src`, in the buffers it already has.
bool copyCanvas(std::unique_ptr<Frame>& dst, const Frame& src) {
  if (!dst) {
    dst.reset(static_cast<Frame*>(duplicateBlock(&src).release()));
    return dst != nullptr;
  }
  try {
    if (src.dib) {
      if (!dst->dib) dst->dib = std::make_unique<Bitmap>();
      *dst->dib = *src.dib;
    } else {
      dst->dib.reset();
    }
    dst->rgb.assign(src.rgb.begin(), src.rgb.end());
    dst->alpha.assign(src.alpha.begin(), src.alpha.end());
  } catch (const std::bad_alloc&) {
    dst.reset();
    return false;
  }
  dst->width = src.width;
  dst->height = src.height;
  dst->delay = src.delay;
  dst->controlFlags = src.controlFlags;
  dst->transparentIndex = src.transparentIndex;
  dst->lendPalette(src.palette());
  return true;
}

bool sameRows(const uint8_t* a, size_t aStride, const uint8_t* b, size_t bStride, size_t bytes,
              int rows) {
  for (int y = 0; y < rows; ++y)
    if (std::memcmp(a + static_cast<size_t>(y) * aStride, b + static_cast<size_t>(y) * bStride,
                    bytes) != 0)
      return false;
  return true;
}

void copyRows(uint8_t* to, size_t toStride, const uint8_t* from, size_t fromStride, size_t bytes,
              int rows) {
  for (int y = 0; y < rows; ++y)
    std::memcpy(to + static_cast<size_t>(y) * toStride, from + static_cast<size_t>(y) * fromStride,
                bytes);
}

}  // namespace

void PictureCache::remember(int frame) {
  if (frame % interval_ != 0 || snapshots_.count(frame) || !player_ || !player_->canvas) return;
  const Frame& c = *player_->canvas;
  const size_t stride = static_cast<size_t>(width_) * 4;
  if (c.rgb.size() != stride * static_cast<size_t>(height_)) return;
  // The tiles that changed since the snapshot the player came from; the rest are its.
  const auto from = snapshots_.find(base_);
  const Snapshot* ref = from != snapshots_.end() ? &from->second : nullptr;
  try {
    std::vector<bool> changed(tileCount_, true);
    size_t need = sizeof(Snapshot) + frameBytes(player_->saved.get());
    for (size_t t = 0; t < tileCount_; ++t) {
      const TileRect r = tile(t);
      const uint8_t* at = c.rgb.data() + static_cast<size_t>(r.y) * stride + size_t{4} * r.x;
      const size_t row = size_t{4} * static_cast<size_t>(r.width);
      changed[t] = !ref || !sameRows(at, stride, ref->tiles[t].get(), row, row, r.height);
      need += changed[t] ? tileBytes(t) + kTileOverhead : sizeof(ref->tiles[t]);
    }
    // The budget counts what each really holds, and the first is always kept.
    if (!snapshots_.empty() && kept_ + need > budget_) return;
    Snapshot s;
    s.tiles.resize(tileCount_);
    for (size_t t = 0; t < tileCount_; ++t) {
      if (!changed[t]) {
        s.tiles[t] = ref->tiles[t];
        continue;
      }
      const TileRect r = tile(t);
      const size_t row = size_t{4} * static_cast<size_t>(r.width);
      s.tiles[t] = std::make_shared_for_overwrite<uint8_t[]>(tileBytes(t));
      copyRows(s.tiles[t].get(), row,
               c.rgb.data() + static_cast<size_t>(r.y) * stride + size_t{4} * r.x, stride, row,
               r.height);
    }
    s.delay = c.delay;
    s.controlFlags = c.controlFlags;
    s.transparentIndex = c.transparentIndex;
    s.palette = c.palette();
    if (player_->saved && !copyCanvas(s.saved, *player_->saved)) return;
    snapshots_.emplace(frame, std::move(s));
    kept_ += need;
    base_ = frame;
  } catch (const std::bad_alloc&) {
    // Short of memory: simply not kept.
  }
}

// The player's canvas becomes snapshot `frame`.
bool PictureCache::restore(int frame, const Snapshot& s) {
  if (!player_) player_ = start();
  if (!player_) return false;
  const size_t stride = static_cast<size_t>(width_) * 4;
  if (!player_->canvas || player_->canvas->rgb.size() != stride * static_cast<size_t>(height_)) {
    if (!sizeAcceptable(width_, height_)) return false;
    auto c = std::make_unique<Frame>();
    c->width = width_;
    c->height = height_;
    c->rgb.resize(stride * static_cast<size_t>(height_));
    player_->canvas = std::move(c);
  }
  Frame& c = *player_->canvas;
  for (size_t t = 0; t < tileCount_; ++t) {
    const TileRect r = tile(t);
    const size_t row = size_t{4} * static_cast<size_t>(r.width);
    copyRows(c.rgb.data() + static_cast<size_t>(r.y) * stride + size_t{4} * r.x, stride,
             s.tiles[t].get(), row, row, r.height);
  }
  c.delay = s.delay;
  c.controlFlags = s.controlFlags;
  c.transparentIndex = s.transparentIndex;
  c.lendPalette(s.palette);
  if (s.saved) {
    if (!copyCanvas(player_->saved, *s.saved)) return false;
  } else {
    player_->saved.reset();
  }
  player_->lastFrame = frameAt(doc_, frame);
  player_->index = frame;
  base_ = frame;
  return true;
}

// Brings the player to frame `frame` (drawn), from wherever is nearest.
bool PictureCache::seek(int frame) {
  if (player_ && player_->canvas && player_->index == frame) return true;
  const bool fromHere = player_ && player_->canvas && player_->index < frame;
  auto snap = snapshots_.upper_bound(frame);
  const bool fromSnapshot =
      snap != snapshots_.begin() && (--snap, !fromHere || snap->first > player_->index);
  if (fromSnapshot) {
    if (!restore(snap->first, snap->second)) {
      player_.reset();
      return false;
    }
  } else if (!fromHere) {
    player_ = start();
    base_ = -1;
    if (!player_ || !firstPicture(*player_)) {
      player_.reset();
      return false;
    }
    remember(player_->index);
  }
  while (player_->index < frame) {
    if (!nextPicture(*player_)) {
      player_.reset();
      return false;
    }
    remember(player_->index);
  }
  return player_->index == frame;
}

bool PictureCache::picture(int n, View& view) {
  if (n < 0 || n >= count()) return false;
  const int frame = doc_.hideFirstFrame && doc_.frameCount() > 1 ? n + 1 : n;
  // Tiles made for another screen size are never read.
  if (doc_.width != width_ || doc_.height != height_) clear();
  try {
    if (!seek(frame)) return false;
  } catch (const std::bad_alloc&) {
    player_.reset();
    return false;
  }
  const Frame* canvas = player_->canvas.get();
  view.width = canvas->width;
  view.height = canvas->height;
  view.pixels = canvas->rgb.data();
  return true;
}

bool PictureCache::picture(int n, Rgba& out) {
  View view;
  if (!picture(n, view)) return false;
  try {
    out.width = view.width;
    out.height = view.height;
    out.pixels.assign(view.pixels, view.pixels + static_cast<size_t>(view.width) * view.height * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

namespace {

// Where an output pixel's area falls in the source, in 1/256ths of a source
// pixel: the first and last source pixels it covers and the cover of each.
struct Span {
  int first = 0;
  std::vector<uint16_t> weight;
};

std::vector<Span> spansOf(int from, int to) {
  std::vector<Span> out(static_cast<size_t>(to));
  for (int i = 0; i < to; ++i) {
    // Exact in integers: output pixel i covers [i * from / to, (i + 1) * from / to).
    const int64_t a = static_cast<int64_t>(i) * from * 256 / to;
    const int64_t b = static_cast<int64_t>(i + 1) * from * 256 / to;
    Span& s = out[static_cast<size_t>(i)];
    s.first = static_cast<int>(a / 256);
    for (int64_t k = s.first; k * 256 < b && k < from; ++k) {
      int64_t lo = std::max(a, k * 256), hi = std::min(b, (k + 1) * 256);
      s.weight.push_back(static_cast<uint16_t>(hi - lo));
    }
  }
  return out;
}

// Area-averaged shrinking of a picture whose rows `row(y, buffer)` gives as
// RGBA (w × 4 bytes). Colour is weighted by alpha: clear pixels add no fringe.
template <class RowFn>
void shrink(int w, int h, int ow, int oh, RowFn row, Rgba& out) {
  const std::vector<Span> xs = spansOf(w, ow), ys = spansOf(h, oh);
  std::vector<uint8_t> line(static_cast<size_t>(w) * 4);
  // Per output column: premultiplied colour and alpha, summed over source rows.
  std::vector<uint64_t> acc(static_cast<size_t>(ow) * 4);
  std::vector<uint32_t> across(static_cast<size_t>(ow) * 4);
  int lastRead = -1;
  for (int oy = 0; oy < oh; ++oy) {
    const Span& sy = ys[static_cast<size_t>(oy)];
    std::fill(acc.begin(), acc.end(), 0);
    for (size_t k = 0; k < sy.weight.size(); ++k) {
      const int sy0 = sy.first + static_cast<int>(k);
      if (sy0 != lastRead) row(sy0, line.data());  // a row shared by two outputs is read once
      lastRead = sy0;
      for (int ox = 0; ox < ow; ++ox) {
        const Span& sx = xs[static_cast<size_t>(ox)];
        const uint8_t* p = line.data() + static_cast<size_t>(sx.first) * 4;
        // 64 bits: a long strip puts hundreds of source pixels in one output pixel.
        uint64_t r = 0, g = 0, b = 0, a = 0;
        for (uint16_t wgt : sx.weight) {
          const uint64_t wa = wgt * uint64_t{p[3]};
          r += p[0] * wa;
          g += p[1] * wa;
          b += p[2] * wa;
          a += wa;
          p += 4;
        }
        uint64_t* o = acc.data() + static_cast<size_t>(ox) * 4;
        const uint64_t wy = sy.weight[k];
        o[0] += r * wy;
        o[1] += g * wy;
        o[2] += b * wy;
        o[3] += a * wy;
      }
    }
    for (int ox = 0; ox < ow; ++ox) {
      const uint64_t* o = acc.data() + static_cast<size_t>(ox) * 4;
      uint8_t* d = out.pixels.data() + (static_cast<size_t>(oy) * ow + ox) * 4;
      if (o[3] == 0) continue;  // wholly clear
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((o[c] + o[3] / 2) / o[3]);
      // The area in 1/65536ths of a source pixel.
      const uint64_t area =
          uint64_t{256} * 256 * static_cast<uint64_t>(w) * h / (static_cast<uint64_t>(ow) * oh);
      d[3] = static_cast<uint8_t>(std::min<uint64_t>(255, (o[3] + area / 2) / area));
    }
  }
}

// A source pixel as the samplers sum it: colour weighted by alpha, and alpha.
struct Weighted {
  uint32_t r, g, b, a;
};

inline Weighted weighted(const uint8_t* p) {
  const uint32_t a = p[3];
  return Weighted{p[0] * a, p[1] * a, p[2] * a, a};
}

// Shrinking by four or more: each output pixel is the mean of a 4 × 4 grid of
// samples spread evenly over its area (alpha-weighted like `shrink`), which
// reads a fraction of the source and looks the same at thumbnail size.
// `sample(x, y)` gives a source pixel as `weighted` does: only the samples are read.
template <class SampleFn>
void supersample(int w, int h, int ow, int oh, SampleFn sample, Rgba& out) {
  constexpr int kGrid = 4;
  std::vector<int> sx(static_cast<size_t>(ow) * kGrid);
  for (int x = 0; x < ow * kGrid; ++x)
    sx[static_cast<size_t>(x)] =
        static_cast<int>((2 * static_cast<int64_t>(x) + 1) * w / (2 * int64_t{ow} * kGrid));
  for (int oy = 0; oy < oh; ++oy) {
    int ys[kGrid];
    for (int j = 0; j < kGrid; ++j)
      ys[j] = static_cast<int>((2 * static_cast<int64_t>(oy * kGrid + j) + 1) * h /
                               (2 * int64_t{oh} * kGrid));
    for (int ox = 0; ox < ow; ++ox) {
      Weighted sum{0, 0, 0, 0};
      for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
          const Weighted p = sample(sx[static_cast<size_t>(ox * kGrid + i)], ys[j]);
          sum.r += p.r;
          sum.g += p.g;
          sum.b += p.b;
          sum.a += p.a;
        }
      if (sum.a == 0) continue;  // wholly clear
      uint8_t* d = out.pixels.data() + (static_cast<size_t>(oy) * ow + ox) * 4;
      d[0] = static_cast<uint8_t>((sum.r + sum.a / 2) / sum.a);
      d[1] = static_cast<uint8_t>((sum.g + sum.a / 2) / sum.a);
      d[2] = static_cast<uint8_t>((sum.b + sum.a / 2) / sum.a);
      d[3] = static_cast<uint8_t>((sum.a + kGrid * kGrid / 2) / (kGrid * kGrid));
    }
  }
}

template <class RowFn, class SampleFn>
Rgba scaled(int w, int h, int box, RowFn row, SampleFn sample) {
  Rgba out;
  box = std::max(box, 1);
  if (w <= 0 || h <= 0) {
    out.width = out.height = 1;
    out.pixels.assign(4, 0);
    return out;
  }
  const double scale = std::min(static_cast<double>(box) / w, static_cast<double>(box) / h);
  const int ow = std::clamp(static_cast<int>(std::lround(w * scale)), 1, box);
  const int oh = std::clamp(static_cast<int>(std::lround(h * scale)), 1, box);
  if (!sizeAcceptable(ow, oh)) return Rgba{};  // a box beyond any picture we hold
  out.width = ow;
  out.height = oh;
  out.pixels.assign(static_cast<size_t>(ow) * oh * 4, 0);
  if (ow >= w && oh >= h) {
    // Growing: each source pixel becomes a block, edges kept sharp.
    std::vector<uint8_t> line(static_cast<size_t>(w) * 4);
    int have = -1;
    for (int y = 0; y < oh; ++y) {
      const int sy = std::min(h - 1, static_cast<int>(static_cast<int64_t>(y) * h / oh));
      if (sy != have) row(sy, line.data());
      have = sy;
      for (int x = 0; x < ow; ++x) {
        const int sx = std::min(w - 1, static_cast<int>(static_cast<int64_t>(x) * w / ow));
        std::copy_n(line.data() + static_cast<size_t>(sx) * 4, 4,
                    out.pixels.data() + (static_cast<size_t>(y) * ow + x) * 4);
      }
    }
    return out;
  }
  if (w >= 4 * ow && h >= 4 * oh) {
    supersample(w, h, ow, oh, sample, out);
    return out;
  }
  shrink(w, h, ow, oh, row, out);
  return out;
}

}  // namespace

Rgba scaleToFit(const uint8_t* src, int w, int h, int box) {
  try {
    return scaled(
        w, h, box,
        [&](int y, uint8_t* line) {
          std::copy_n(src + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4, line);
        },
        [&](int x, int y) { return weighted(src + (static_cast<size_t>(y) * w + x) * 4); });
  } catch (const std::exception&) {  // out of memory (a huge box)
    return Rgba{};
  }
}

Rgba frameThumbnail(const Frame& f, int box) {
  if (f.hasRgb() || !f.dib) {
    std::vector<uint8_t> rgba;
    try {
      rgba = frameToRgba(f);
    } catch (const std::exception&) {
      return Rgba{};
    }
    return scaleToFit(rgba.data(), f.width, f.height, box);
  }
  // Indexed: each row looked up through the palette as it is needed.
  std::array<uint8_t, 256 * 4> lut{};
  if (const Palette* pal = f.palette())
    for (int i = 0; i < std::min(pal->count, 256); ++i) {
      lut[4 * static_cast<size_t>(i)] = (*pal)[i].r;
      lut[4 * static_cast<size_t>(i) + 1] = (*pal)[i].g;
      lut[4 * static_cast<size_t>(i) + 2] = (*pal)[i].b;
      lut[4 * static_cast<size_t>(i) + 3] = 255;
    }
  for (int i = 0; i < 256; ++i) lut[4 * static_cast<size_t>(i) + 3] = 255;
  if (f.transparent()) std::fill_n(lut.begin() + 4 * f.transparentIndex, 4, 0);
  std::array<Weighted, 256> byIndex;
  for (size_t i = 0; i < 256; ++i) byIndex[i] = weighted(lut.data() + 4 * i);
  try {
    return scaled(
        f.width, f.height, box,
        [&](int y, uint8_t* line) {
          const uint8_t* px = f.dib->row(y);
          for (int x = 0; x < f.width; ++x)
            std::memcpy(line + 4 * static_cast<size_t>(x), lut.data() + 4 * size_t{px[x]}, 4);
        },
        [&](int x, int y) { return byIndex[f.dib->row(y)[x]]; });
  } catch (const std::exception&) {
    return Rgba{};
  }
}

}  // namespace fb
