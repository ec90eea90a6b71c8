// How each method works, step by step:
//
//  Adaptive: every frame drawn with the global palette (with 0x1000 also those
//    with local palettes) and every new frame. When all the colours they show,
//    plus one transparent entry if some frame needs it, fit in the adaptive
//    count, they are kept exactly: first into the current global palette
//    (colours already there keep their index, unused entries are reused, new
//    ones appended), else into a fresh palette of just those colours. Only
//    when they do not fit does the octree average them: every frame's colours
//    go in, in chain order (8-bit frames as their palette entries weighted by
//    pixel counts, 24-bit frames pixel by pixel), and a black transparent
//    entry is reserved at the end when some frame needs one.
//  Merge into global: new frames' colours, in index order, take an exact
//    match, else a global entry no pixel uses, else a new entry while there
//    are fewer than 256; a frame with a colour that cannot be placed is mapped
//    by nearest colour (dithered when asked). A 24-bit frame is first given
//    its own palette (its exact colours when at most 256, else an octree of
//    the per-frame count), whose colours are then placed the same way.
//  Map to global: new frames mapped by nearest colour; the palette's colours
//    do not change (a black entry may fill the table's padding to serve as
//    the transparent index).
//  Cube, fixed: every frame mapped by nearest colour to that palette.
//  Local per frame: each new 24-bit frame gets its own palette, exact when its
//    colours fit, else an octree; new 8-bit frames keep their colours.
//
// Transparent frames need an index no opaque pixel of theirs uses. Where the
// palette can give one entry to all of them (a reserved black entry, a
// duplicate colour no nearest match ever picks, unused padding) they share it;
// otherwise each frame takes the highest index its own pixels leave free, and
// if it uses all 256 the least used index gives its pixels to their nearest
// other entry.
//
// The background index keeps its colour: merging never overwrites it, and a
// new palette takes the entry nearest to its old colour.
#include "imaging/merge_engine.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "base/progress.h"
#include "base/reporter.h"
#include "imaging/colour_match.h"
#include "imaging/dither.h"
#include "imaging/fixed_palette.h"
#include "imaging/frame_update.h"
#include "imaging/octree.h"
#include "imaging/refine.h"
#include "imaging/palette_merge.h"
#include "resources/strings.h"

namespace fb {
namespace {

enum Status { kFailed = 0, kDone = 1, kCancelled = 2 };

// One frame with pixels that may take part.
struct Item {
  Frame* frame = nullptr;
  Animation* owner = nullptr;
  bool isNew = false;
  bool fromRgb = false;             // mapped from its 24-bit data
  const Palette* source = nullptr;  // 8-bit: the palette it is shown through
  int oldTransparent = -1;          // 8-bit: its transparent index
  bool needsTransparency = false;
};

int paddedSize(int count) {
  return 1 << colourBits(count);
}

// Octrees gather colours with the largest palette's number of leaves and are
// folded down to the wanted count only when the palette is built: the folds
// then see the weights of every colour, not just of those seen so far.
constexpr int kGatherLeaves = 256;

// Places colours into a palette: an exact match, else the first entry no
// pixel uses (the cursor only moves forward), else a new entry up to `limit`.
class Fitter {
 public:
  Fitter(const Palette* base, int limit) : limit_(limit) {
    if (base) p = *base;
    used.fill(false);
    table_.build(p);
  }
  Palette p;
  std::array<bool, 256> used;

  int find(Rgb c, int exclude = -1) const {
    int i = table_.find(packRgb(c));
    if (i >= 0 && i != exclude && p[i] == c) return i;
    // Every colour the palette holds has a key (an entry written over may
    // leave one that is out of date, or hide a later duplicate): no key, no
    // such colour.
    if (i < 0) return -1;
    for (int j = 0; j < p.count; ++j)
      if (j != exclude && p[j] == c) return j;
    return -1;
  }
  int place(Rgb c) {
    int i = find(c);
    if (i < 0) {
      i = freeEntry();
      if (i < 0) return -1;
      p[i] = c;
      table_.set(packRgb(c), i);
    }
    used[size_t(i)] = true;
    return i;
  }
  // A black entry for transparent pixels; -1 when the palette is full.
  int reserve() {
    int i = freeEntry();
    if (i < 0) return -1;
    p[i] = Rgb{};
    table_.insert(0, i);
    used[size_t(i)] = true;
    return i;
  }

 private:
  int freeEntry() {
    while (cursor_ < p.count && used[size_t(cursor_)]) ++cursor_;
    if (cursor_ < p.count) return cursor_;
    if (p.count < limit_) return p.count++;
    return -1;
  }
  int limit_;
  int cursor_ = 0;
  ExactColourTable table_;
};

// Places every colour a true-colour frame shows (pixels under the alpha
// threshold do not count); false as soon as one does not fit.
bool placeVisibleColours(Fitter& fit, const Frame& f) {
  const uint8_t* a = usableAlpha(f);
  int s24 = stride24(f.width), s8 = stride8(f.width);
  for (int y = 0; y < f.height; ++y) {
    const uint8_t* px = f.rgb.data() + size_t(y) * s24;
    uint32_t last = 0xFFFFFFFF;
    for (int x = 0; x < f.width; ++x, px += 3) {
      if (a && a[size_t(y) * s8 + x] < kAlphaThreshold) continue;
      uint32_t c = packRgb(px[0], px[1], px[2]);
      if (c == last) continue;  // runs of one colour are placed once
      last = c;
      if (fit.place(Rgb{px[0], px[1], px[2]}) < 0) return false;
    }
  }
  return true;
}

// An entry of `p` that no nearest-colour match can return (a later duplicate
// of an earlier colour), else one made in the table's padding (or, with
// `grow`, anywhere below 256) as a black entry. -1 when there is none.
int sharedTransparentEntry(Palette& p, bool grow) {
  ExactColourTable seen;
  for (int j = 0; j < p.count; ++j)
    if (seen.insert(packRgb(p[j]), j) != j) return j;
  if (p.count < 256 && (grow || p.count < paddedSize(p.count))) {
    p[p.count] = Rgb{};
    return p.count++;
  }
  return -1;
}

class Engine {
 public:
  explicit Engine(MergeRequest& r) : req_(r) {}
  int run();

 private:
  // ---- collecting ----
  bool collect();
  std::vector<Item*> select(bool (*keep)(const Item&, uint32_t), uint32_t word);

  // ---- methods ----
  int keepPalettes();
  int adaptive(uint32_t word);
  bool tryExact(const std::vector<Item*>& subjects, const Palette* base, int limit, int& status);
  int octreeAdaptive(const std::vector<Item*>& subjects, int limit, bool dither, bool quality);
  int mergeIntoGlobal(uint32_t word);
  int mapToPalette(const std::vector<Item*>& subjects, Palette palette, bool grow, bool dither,
                   bool replaceGlobal);
  int localPerFrame(uint32_t word);

  // ---- mapping one frame ----
  std::unique_ptr<Bitmap> newIndices(const Frame& f);
  bool mapNearest(const Item& item, const Palette& colours, int tp, bool dither, Bitmap& out);
  void mapThrough(const Item& item, const int* map, int tp, Bitmap& out);
  int finishTransparency(const Item& item, Bitmap& out, const Palette& p);
  bool opaqueAt(const Item& item, int x, int y) const;
  void addUpdate(Item& item, std::unique_ptr<Bitmap> dib, int tp, std::unique_ptr<Palette> local);
  bool step();

  int commit();

  MergeRequest& req_;
  Animation* receiver_ = nullptr;
  std::vector<Animation*> animations_;  // receiver (or target) first, then sources
  std::vector<Item> items_;
  bool dropRgb_ = true;

  struct Update {
    FrameUpdate update;
    Animation* owner;
  };
  std::vector<Update> updates_;
  std::unique_ptr<Palette> newGlobal_;  // null: unchanged
  int newBackground_ = -1;              // -1: unchanged
};

// ---- collecting ----

bool Engine::collect() {
  receiver_ = req_.target ? req_.target : req_.sources;
  if (req_.target) animations_.push_back(req_.target);
  for (Animation* s = req_.sources; s; s = s->nextAnimation.get()) animations_.push_back(s);
  for (Animation* a : animations_) {
    for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) {
      bool rgb = rgbUsable(*f);
      if (!rgb && !f->dib) continue;  // nothing to show yet
      Item it;
      it.frame = f;
      it.owner = a;
      it.isNew = a != receiver_ || (rgb && !f->dib);
      it.fromRgb = rgb;
      it.source = f->localPalette ? f->localPalette.get() : a->globalPalette.get();
      if (rgb) {
        it.needsTransparency = hasTransparentAlpha(*f, kAlphaThreshold);
      } else {
        it.oldTransparent = f->transparent() ? f->transparentIndex : -1;
        it.needsTransparency = f->transparent();
      }
      items_.push_back(it);
    }
  }
  return true;
}

std::vector<Item*> Engine::select(bool (*keep)(const Item&, uint32_t), uint32_t word) {
  std::vector<Item*> out;
  for (Item& it : items_)
    if (keep(it, word)) out.push_back(&it);
  return out;
}

bool Engine::step() {
  return !req_.progress || req_.progress->step();
}

// ---- mapping helpers ----

std::unique_ptr<Bitmap> Engine::newIndices(const Frame& f) {
  auto dib = createBitmap(f.width, f.height, nullptr);
  if (!dib) showWarning(text(Str::NoMemoryPalettes));
  return dib;
}

bool Engine::opaqueAt(const Item& item, int x, int y) const {
  const Frame& f = *item.frame;
  if (item.fromRgb) {
    const uint8_t* a = usableAlpha(f);
    return !a || a[size_t(y) * stride8(f.width) + x] >= kAlphaThreshold;
  }
  return f.dib->row(y)[x] != item.oldTransparent;
}

// Pixels through an index map; transparent pixels become `tp`.
// The indices a frame's pixels use: only their colours need a match (a
// search of the whole palette for each of 256 would take far longer than a
// small frame's remapping).
std::array<bool, 256> indicesUsed(const Frame& f) {
  std::array<bool, 256> used{};
  int64_t counts[256] = {};
  if (f.dib) addIndexCounts(*f.dib, counts);
  for (int i = 0; i < 256; ++i) used[size_t(i)] = counts[i] != 0;
  return used;
}

void Engine::mapThrough(const Item& item, const int* map, int tp, Bitmap& out) {
  const Frame& f = *item.frame;
  for (int y = 0; y < f.height; ++y) {
    const uint8_t* src = f.dib->row(y);
    uint8_t* dst = out.row(y);
    for (int x = 0; x < f.width; ++x)
      dst[x] = src[x] == item.oldTransparent ? uint8_t(tp) : uint8_t(map[src[x]]);
  }
}

// Nearest colour of `colours` (never `tp`), or dithered.
bool Engine::mapNearest(const Item& item, const Palette& colours, int tp, bool dither,
                        Bitmap& out) {
  const Frame& f = *item.frame;
  DitherResult r = DitherResult::Done;
  if (item.fromRgb) {
    r = dither
            ? ditherRgb(colours, out.data.data(), f.rgb.data(), usableAlpha(f), f.width, f.height,
                        tp)
            : mapRgb(colours, out.data.data(), f.rgb.data(), usableAlpha(f), f.width, f.height, tp);
  } else if (dither) {
    Palette none;
    r = ditherIndexed(item.source ? *item.source : none, f.pixels(), f.width, f.height,
                      item.oldTransparent, colours, out.data.data(), tp);
  } else {
    int map[256] = {};
    const auto used = indicesUsed(f);
    const NearestColourSearch nearest(colours, tp);
    for (int i = 0; i < 256; ++i)
      if (used[size_t(i)]) map[i] = std::max(0, nearest.find(paletteColour(item.source, i)));
    mapThrough(item, map, tp, out);
  }
  if (r != DitherResult::Done) {
    reportDitherFailure(r);
    return false;
  }
  return true;
}

// `body(pixel, shows)` along a row of a frame's new pixels made from a row of indices,
// where `shows` says the index is not `transparent` (the rows never overlap:
// one loop the compiler can make vector code of).
template <class Body>
void indexedRow(uint8_t* __restrict row, const uint8_t* __restrict source, int w, int transparent,
                Body& body) {
  for (int x = 0; x < w; ++x) body(row[x], source[x] != transparent);
}

// For a frame that needs transparency but has no shared entry: the highest
// index (within the padded table) its opaque pixels leave free; when they use
// every one of those, the first index past the table (no pixel moves, and the
// frame's code size grows); only when they use all 256 does the least used
// one hand its pixels to their nearest other entry. Writes the index into the
// transparent pixels and returns it.
int Engine::finishTransparency(const Item& item, Bitmap& out, const Palette& p) {
  const Frame& f = *item.frame;
  // `body(pixel, shows)` for every pixel of `out`, where `shows` says whether
  // the frame shows something there: what decides it is found once a row,
  // not once a pixel.
  auto forEachPixel = [&](auto&& body) {
    const uint8_t* alpha = item.fromRgb ? usableAlpha(f) : nullptr;
    const size_t alphaStride = static_cast<size_t>(stride8(f.width));
    for (int y = 0; y < f.height; ++y) {
      uint8_t* row = out.row(y);
      if (item.fromRgb) {
        const uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * alphaStride : nullptr;
        for (int x = 0; x < f.width; ++x) body(row[x], !a || a[x] >= kAlphaThreshold);
      } else {
        indexedRow(row, f.dib->row(y), f.width, item.oldTransparent, body);
      }
    }
  };
  int64_t usage[256] = {};
  forEachPixel([&](uint8_t& px, bool shows) { usage[px] += shows; });
  int limit = std::max(paddedSize(p.count), 2);
  int tp = -1;
  for (int i = limit - 1; i >= 0 && tp < 0; --i)
    if (usage[i] == 0) tp = i;
  if (tp < 0) {
    tp = int(std::min_element(usage, usage + 256) - usage);
    const uint8_t taken = uint8_t(tp);
    const uint8_t replacement = uint8_t(std::max(0, nearestColour(p, paletteColour(&p, tp), tp)));
    forEachPixel([&](uint8_t& px, bool shows) { px = shows && px == taken ? replacement : px; });
  }
  const uint8_t hidden = uint8_t(tp);
  forEachPixel([&](uint8_t& px, bool shows) { px = shows ? px : hidden; });
  return tp;
}

void Engine::addUpdate(Item& item, std::unique_ptr<Bitmap> dib, int tp,
                       std::unique_ptr<Palette> local) {
  Update u{FrameUpdate(item.frame), item.owner};
  u.update.dib = std::move(dib);
  u.update.local = std::move(local);
  u.update.dropLocal = !u.update.local;
  u.update.setTransparency = true;
  u.update.transparent = item.needsTransparency && tp >= 0;
  u.update.transparentIndex = uint8_t(std::max(tp, 0));
  u.update.dropRgb = item.fromRgb && dropRgb_;
  updates_.push_back(std::move(u));
}

// ---- keep palettes (8-bit frames joining, no method at work) ----

int Engine::keepPalettes() {
  const Palette* current = receiver_->globalPalette.get();
  for (Item& it : items_) {
    Frame& f = *it.frame;
    if (!it.isNew || it.fromRgb || f.localPalette || !it.source) continue;
    if (!current) {
      newGlobal_ = copyPalette(*it.source);
      if (!newGlobal_) {
        showWarning(text(Str::NoMemoryPalettes));
        return kFailed;
      }
      current = newGlobal_.get();
      continue;
    }
    if (*it.source == *current) continue;
    Update u{FrameUpdate(&f), it.owner};
    u.update.local = copyPalette(*it.source);
    if (!u.update.local) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
    updates_.push_back(std::move(u));
  }
  return kDone;
}

// ---- adaptive ----

int Engine::adaptive(uint32_t word) {
  std::vector<Item*> subjects = select(
      [](const Item& it, uint32_t w) { return (w & merge::Always) || !it.frame->localPalette; },
      word);
  if (subjects.empty()) return kDone;
  const int limit = adaptiveColourCount(word);
  int status = kDone;
  const Palette* g = receiver_->globalPalette.get();
  if (g && g->count <= limit && tryExact(subjects, g, limit, status)) return status;
  if (status != kDone) return status;
  if (tryExact(subjects, nullptr, limit, status)) return status;
  if (status != kDone) return status;
  return octreeAdaptive(subjects, limit, word & merge::Dither, word & merge::Quality);
}

// Keeps every colour exactly when they fit in `limit` entries (starting from
// `base` when given). False when they do not fit; `status` tells a failure.
bool Engine::tryExact(const std::vector<Item*>& subjects, const Palette* base, int limit,
                      int& status) {
  Fitter fit(base, limit);
  std::vector<char> identity(subjects.size(), 0);
  if (base) {
    // Frames already drawn with these colours keep their indices.
    for (size_t k = 0; k < subjects.size(); ++k) {
      const Item& it = *subjects[k];
      if (it.fromRgb || !it.source || !(*it.source == *base)) continue;
      identity[k] = 1;
      int64_t counts[256] = {};
      countPixels(*it.frame, counts, it.oldTransparent);
      for (int i = 0; i < 256; ++i)
        if (counts[i]) fit.used[size_t(i)] = true;
    }
    if (receiver_->backgroundIndex < base->count) fit.used[receiver_->backgroundIndex] = true;
  }
  bool needTransparent = false;
  for (size_t k = 0; k < subjects.size(); ++k) {
    if (identity[k]) continue;
    const Item& it = *subjects[k];
    const Frame& f = *it.frame;
    needTransparent |= it.needsTransparency;
    if (it.fromRgb) {
      if (!placeVisibleColours(fit, f)) return false;
    } else {
      int64_t counts[256] = {};
      countPixels(f, counts, it.oldTransparent);
      for (int i = 0; i < 256; ++i)
        if (counts[i] && fit.place(paletteColour(it.source, i)) < 0) return false;
    }
  }
  int tp = -1;
  if (needTransparent && (tp = fit.reserve()) < 0) return false;

  // They fit: map every frame that is not already on these colours.
  if (req_.progress) {
    req_.progress->setText(text(Str::RemappingFrames));
    req_.progress->setRange(int64_t(subjects.size()));
  }
  for (size_t k = 0; k < subjects.size(); ++k) {
    Item& it = *subjects[k];
    const Frame& f = *it.frame;
    if (identity[k]) {
      if (f.localPalette) {
        Update u{FrameUpdate(it.frame), it.owner};
        u.update.dropLocal = true;
        updates_.push_back(std::move(u));
      }
      if (!step()) return status = kCancelled, true;
      continue;
    }
    auto dib = newIndices(f);
    if (!dib) return status = kFailed, true;
    if (it.fromRgb) {
      const uint8_t* a = usableAlpha(f);
      int s24 = stride24(f.width), s8 = stride8(f.width);
      for (int y = 0; y < f.height; ++y) {
        const uint8_t* px = f.rgb.data() + size_t(y) * s24;
        uint8_t* out = dib->row(y);
        uint32_t last = 0xFFFFFFFF;
        uint8_t lastIndex = 0;
        for (int x = 0; x < f.width; ++x, px += 3) {
          if (a && a[size_t(y) * s8 + x] < kAlphaThreshold) {
            out[x] = uint8_t(tp);
            continue;
          }
          uint32_t c = packRgb(px[0], px[1], px[2]);
          if (c != last) {
            last = c;
            lastIndex = uint8_t(fit.find(Rgb{px[0], px[1], px[2]}, tp));
          }
          out[x] = lastIndex;
        }
      }
    } else {
      int map[256] = {};
      const auto used = indicesUsed(f);
      for (int i = 0; i < 256; ++i)
        if (used[size_t(i)]) map[i] = std::max(0, fit.find(paletteColour(it.source, i), tp));
      mapThrough(it, map, tp, *dib);
    }
    addUpdate(it, std::move(dib), tp, nullptr);
    if (!step()) return status = kCancelled, true;
  }
  status = kDone;
  if (base && fit.p == *base) return true;  // nothing new: the palette stays as it is
  newGlobal_ = copyPalette(fit.p);
  if (!newGlobal_) {
    showWarning(text(Str::NoMemoryPalettes));
    return status = kFailed, true;
  }
  if (!base && receiver_->globalPalette)
    newBackground_ = std::max(
        0,
        nearestColour(
            fit.p, paletteColour(receiver_->globalPalette.get(), receiver_->backgroundIndex), tp));
  status = kDone;
  return true;
}

int Engine::octreeAdaptive(const std::vector<Item*>& subjects, int limit, bool dither,
                           bool quality) {
  if (req_.progress) {
    req_.progress->setText(text(Str::ReducingPalette));
    req_.progress->setRange(int64_t(subjects.size()));
  }
  bool needTransparent = false;
  for (Item* it : subjects) needTransparent |= it->needsTransparency;
  std::unique_ptr<ColourOctree> tree;
  std::unique_ptr<Palette> palette;
  std::unique_ptr<ColourSet> set;
  if (quality) {
    // The high-quality mode: colours cut from the pictures' own colours and
    // refined by clustering on them; every pixel later takes its exact
    // nearest colour. The cuts start better than the octree where a few
    // colours cover much (flat art).
    set = std::make_unique<ColourSet>();
    for (Item* it : subjects) {
      const Frame& f = *it->frame;
      if (it->fromRgb) {
        set->addRgb(f.rgb.data(), stride24(f.width), f.width, f.height, usableAlpha(f),
                   stride8(f.width), kAlphaThreshold);
      } else {
        int64_t counts[256] = {};
        countPixels(f, counts, it->oldTransparent);
        Palette none;
        set->addPalette(it->source ? *it->source : none, counts);
      }
      if (!step()) return kCancelled;
    }
    palette = makePalette(nullptr, 0);
    if (!palette) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
    int n = splitColours(*set, needTransparent ? limit - 1 : limit, palette->entries.data());
    refinePalette(palette->entries.data(), n, *set, kRefineRounds);
    palette->count = std::max(n, 1);
    if (needTransparent) palette->entries[size_t(palette->count++)] = Rgb{};
  } else {
    tree = createOctree(kGatherLeaves);
    if (!tree) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
    for (Item* it : subjects) {
      const Frame& f = *it->frame;
      bool ok;
      if (it->fromRgb) {
        ok = addImage(*tree, f.width, f.height, f.rgb.data(), usableAlpha(f), kAlphaThreshold);
      } else {
        int64_t counts[256] = {};
        countPixels(f, counts, it->oldTransparent);
        Palette none;
        ok = addPalette(*tree, counts, it->source ? *it->source : none);
      }
      if (!ok) {
        showWarning(text(Str::NoMemoryPalettes));
        return kFailed;
      }
      if (!step()) return kCancelled;
    }
    palette = buildPalette(*tree, limit, needTransparent);
    if (!palette) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
  }
  const int tp = needTransparent ? palette->count - 1 : -1;
  Palette colours = *palette;
  if (needTransparent) --colours.count;

  if (req_.progress) {
    req_.progress->setText(text(Str::RemappingFrames));
    req_.progress->setRange(int64_t(subjects.size()));
  }
  for (Item* it : subjects) {
    const Frame& f = *it->frame;
    auto dib = newIndices(f);
    if (!dib) return kFailed;
    if (quality && it->fromRgb) {
      mapRgbNearest(colours.entries.data(), colours.count, *set, f.rgb.data(), stride24(f.width),
                    f.width, f.height, usableAlpha(f), stride8(f.width), kAlphaThreshold, tp,
                    dither, dib->data.data(), dib->stride);
    } else if (quality && !dither) {
      NearestColour nearest(colours.entries.data(), colours.count);
      int map[256];
      for (int i = 0; i < 256; ++i) {
        Rgb c = paletteColour(it->source, i);
        map[i] = nearest.find(c.r, c.g, c.b);
      }
      mapThrough(*it, map, tp, *dib);
    } else if (dither) {
      if (!mapNearest(*it, colours, tp, true, *dib)) return kFailed;
    } else if (it->fromRgb) {
      mapImage(*tree, f.width, f.height, f.rgb.data(), usableAlpha(f), dib->data.data(), tp,
               kAlphaThreshold);
    } else {
      int map[256];
      for (int i = 0; i < 256; ++i) {
        Rgb c = paletteColour(it->source, i);
        map[i] = lookup(*tree, c.r, c.g, c.b);
      }
      mapThrough(*it, map, tp, *dib);
    }
    addUpdate(*it, std::move(dib), tp, nullptr);
    if (!step()) return kCancelled;
  }
  if (receiver_->globalPalette)
    newBackground_ = std::max(
        0, nearestColour(
               colours, paletteColour(receiver_->globalPalette.get(), receiver_->backgroundIndex)));
  else
    newBackground_ = 0;
  newGlobal_ = std::move(palette);
  return kDone;
}

// ---- merge into the global palette ----

int Engine::mergeIntoGlobal(uint32_t word) {
  const bool dither = word & merge::Dither;
  const Palette* g = receiver_->globalPalette.get();
  Fitter fit(g, 256);
  // Entries the frames staying on the global palette show are taken.
  if (req_.receiverShown) {
    for (int i = 0; i < 256; ++i)
      if ((*req_.receiverShown)[size_t(i)]) fit.used[size_t(i)] = true;
  } else {
    for (const Item& it : items_) {
      if (it.isNew || it.frame->localPalette) continue;
      int64_t counts[256] = {};
      countPixels(*it.frame, counts, it.frame->transparent() ? it.frame->transparentIndex : -1);
      for (int i = 0; i < 256; ++i)
        if (counts[i]) fit.used[size_t(i)] = true;
    }
  }
  if (g && receiver_->backgroundIndex < g->count) fit.used[receiver_->backgroundIndex] = true;

  struct Placed {
    Item* item;
    bool fits = true;
    // A 24-bit frame's own palette and its pixels in it.
    std::unique_ptr<Bitmap> own;
    Palette ownPalette;
  };
  std::vector<Placed> placed;
  for (Item& it : items_) {
    if (!it.isNew) continue;
    placed.emplace_back();
    placed.back().item = &it;
  }
  if (placed.empty()) return kDone;

  if (req_.progress) {
    req_.progress->setText(text(Str::ReducingPalette));
    req_.progress->setRange(int64_t(placed.size()));
  }
  const int ownLimit = localColourCount(word);
  bool needTransparent = false;
  for (Placed& pl : placed) {
    Item& it = *pl.item;
    const Frame& f = *it.frame;
    needTransparent |= it.needsTransparency;
    if (it.fromRgb) {
      // The frame's own palette first: its exact colours when at most 256.
      Fitter own(nullptr, 256);
      const uint8_t* a = usableAlpha(f);
      if (placeVisibleColours(own, f)) {
        pl.ownPalette = own.p;
        for (int i = 0; i < own.p.count; ++i)
          if (fit.place(own.p[i]) < 0) pl.fits = false;
      } else {
        auto tree = createOctree(kGatherLeaves);
        if (!tree || !addImage(*tree, f.width, f.height, f.rgb.data(), a, kAlphaThreshold)) {
          showWarning(text(Str::NoMemoryPalettes));
          return kFailed;
        }
        auto ownPalette = buildPalette(*tree, ownLimit, false);
        pl.own = newIndices(f);
        if (!ownPalette || !pl.own) return kFailed;
        mapImage(*tree, f.width, f.height, f.rgb.data(), a, pl.own->data.data(), 0,
                 kAlphaThreshold);
        pl.ownPalette = *ownPalette;
        for (int i = 0; i < ownPalette->count; ++i)
          if (fit.place((*ownPalette)[i]) < 0) pl.fits = false;
      }
    } else {
      int64_t counts[256] = {};
      countPixels(f, counts, it.oldTransparent);
      for (int i = 0; i < 256; ++i)
        if (counts[i] && fit.place(paletteColour(it.source, i)) < 0) pl.fits = false;
    }
    if (!step()) return kCancelled;
  }
  int shared = needTransparent ? fit.reserve() : -1;

  if (req_.progress) {
    req_.progress->setText(text(Str::RemappingFrames));
    req_.progress->setRange(int64_t(placed.size()));
  }
  for (Placed& pl : placed) {
    Item& it = *pl.item;
    const Frame& f = *it.frame;
    auto dib = newIndices(f);
    if (!dib) return kFailed;
    int tp = it.needsTransparency ? shared : -1;
    if (!pl.fits) {
      if (!mapNearest(it, fit.p, tp, dither, *dib)) return kFailed;
    } else if (it.fromRgb && pl.own) {
      int map[256];
      for (int i = 0; i < 256; ++i)
        map[i] = std::max(0, fit.find(paletteColour(&pl.ownPalette, i), tp));
      for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
          dib->row(y)[x] = opaqueAt(it, x, y) ? uint8_t(map[pl.own->row(y)[x]]) : uint8_t(tp);
    } else if (it.fromRgb) {
      const uint8_t* a = usableAlpha(f);
      int s24 = stride24(f.width), s8 = stride8(f.width);
      for (int y = 0; y < f.height; ++y) {
        const uint8_t* px = f.rgb.data() + size_t(y) * s24;
        uint32_t last = 0xFFFFFFFF;
        uint8_t lastIndex = 0;
        for (int x = 0; x < f.width; ++x, px += 3) {
          if (a && a[size_t(y) * s8 + x] < kAlphaThreshold) {
            dib->row(y)[x] = uint8_t(tp);
            continue;
          }
          uint32_t c = packRgb(px[0], px[1], px[2]);
          if (c != last) {
            last = c;
            lastIndex = uint8_t(std::max(0, fit.find(Rgb{px[0], px[1], px[2]}, tp)));
          }
          dib->row(y)[x] = lastIndex;
        }
      }
    } else {
      int map[256];
      for (int i = 0; i < 256; ++i) map[i] = std::max(0, fit.find(paletteColour(it.source, i), tp));
      mapThrough(it, map, tp, *dib);
    }
    if (it.needsTransparency && tp < 0) tp = finishTransparency(it, *dib, fit.p);
    addUpdate(it, std::move(dib), tp, nullptr);
    if (!step()) return kCancelled;
  }
  if (!g || !(fit.p == *g)) {
    newGlobal_ = copyPalette(fit.p);
    if (!newGlobal_) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
  }
  return kDone;
}

// ---- map to a given palette (map to global, cube, fixed) ----

int Engine::mapToPalette(const std::vector<Item*>& subjects, Palette palette, bool grow,
                         bool dither, bool replaceGlobal) {
  bool needTransparent = false;
  for (Item* it : subjects) needTransparent |= it->needsTransparency;
  Palette colours = palette;
  int shared = needTransparent ? sharedTransparentEntry(palette, grow) : -1;
  if (req_.progress) {
    req_.progress->setText(text(Str::RemappingFrames));
    req_.progress->setRange(int64_t(subjects.size()));
  }
  for (Item* it : subjects) {
    auto dib = newIndices(*it->frame);
    if (!dib) return kFailed;
    int tp = it->needsTransparency ? shared : -1;
    if (!mapNearest(*it, colours, tp, dither, *dib)) return kFailed;
    if (it->needsTransparency && tp < 0) tp = finishTransparency(*it, *dib, palette);
    addUpdate(*it, std::move(dib), tp, nullptr);
    if (!step()) return kCancelled;
  }
  if (replaceGlobal || !receiver_->globalPalette || !(palette == *receiver_->globalPalette)) {
    if (receiver_->globalPalette && replaceGlobal)
      newBackground_ =
          std::max(0, nearestColour(colours, paletteColour(receiver_->globalPalette.get(),
                                                           receiver_->backgroundIndex)));
    newGlobal_ = copyPalette(palette);
    if (!newGlobal_) {
      showWarning(text(Str::NoMemoryPalettes));
      return kFailed;
    }
  }
  return kDone;
}

// ---- a local palette per new 24-bit frame ----

int Engine::localPerFrame(uint32_t word) {
  const int limit = localColourCount(word);
  const bool dither = word & merge::Dither;
  std::vector<Item*> subjects =
      select([](const Item& it, uint32_t) { return it.isNew && it.fromRgb; }, word);
  if (req_.progress) {
    req_.progress->setText(text(Str::RemappingFrames));
    req_.progress->setRange(int64_t(subjects.size()));
  }
  for (Item* it : subjects) {
    const Frame& f = *it->frame;
    const uint8_t* a = usableAlpha(f);
    const bool needT = it->needsTransparency;
    auto dib = newIndices(f);
    if (!dib) return kFailed;
    int tp = -1;
    std::unique_ptr<Palette> local;
    // Exact colours when they fit with the transparent entry.
    Fitter own(nullptr, limit - (needT ? 1 : 0));
    bool exact = true;
    int s24 = stride24(f.width), s8 = stride8(f.width);
    for (int y = 0; y < f.height && exact; ++y) {
      const uint8_t* px = f.rgb.data() + size_t(y) * s24;
      uint32_t last = 0xFFFFFFFF;
      uint8_t lastIndex = 0;
      for (int x = 0; x < f.width; ++x, px += 3) {
        if (a && a[size_t(y) * s8 + x] < kAlphaThreshold) continue;
        uint32_t c = packRgb(px[0], px[1], px[2]);
        if (c != last) {
          int i = own.place(Rgb{px[0], px[1], px[2]});
          if (i < 0) {
            exact = false;
            break;
          }
          last = c;
          lastIndex = uint8_t(i);
        }
        dib->row(y)[x] = lastIndex;
      }
    }
    if (exact) {
      local = copyPalette(own.p);
      if (!local) return kFailed;
      if (needT) {
        tp = local->count;
        (*local)[local->count++] = Rgb{};
        for (int y = 0; y < f.height; ++y)
          for (int x = 0; x < f.width; ++x)
            if (!opaqueAt(*it, x, y)) dib->row(y)[x] = uint8_t(tp);
      }
    } else {
      auto tree = createOctree(kGatherLeaves);
      if (!tree || !addImage(*tree, f.width, f.height, f.rgb.data(), a, kAlphaThreshold) ||
          !(local = buildPalette(*tree, limit, needT))) {
        showWarning(text(Str::NoMemoryPalettes));
        return kFailed;
      }
      tp = needT ? local->count - 1 : -1;
      if (dither) {
        Palette colours = *local;
        if (needT) --colours.count;
        if (!mapNearest(*it, colours, tp, true, *dib)) return kFailed;
      } else {
        mapImage(*tree, f.width, f.height, f.rgb.data(), a, dib->data.data(), tp, kAlphaThreshold);
      }
    }
    addUpdate(*it, std::move(dib), tp, std::move(local));
    if (!step()) return kCancelled;
  }
  return keepPalettes();
}

// ---- running and committing ----

int Engine::run() {
  try {
    collect();
    static const MergeOptions defaults;
    const MergeOptions& options = req_.options ? *req_.options : defaults;
    dropRgb_ = !options.keep24Bit;
    bool anyNewRgb = false;
    for (const Item& it : items_) anyNewRgb |= it.isNew && it.fromRgb;
    uint32_t word = req_.method;
    bool forced =
        (word & merge::Always) || (methodOf(word) == 0 && (options.storedMethod & merge::Always));
    int status;
    if (!anyNewRgb && !forced) {
      status = keepPalettes();
    } else {
      word = resolveMergeMethod(word, options, req_.chooser);
      if (!word) return kCancelled;
      uint32_t method = methodOf(word);
      std::unique_ptr<Palette> fixed;
      if (method == merge::Fixed &&
          !(options.fixedPalette && (fixed = copyPalette(*options.fixedPalette))))
        method = merge::Adaptive;
      if (method == merge::MapGlobal && !receiver_->globalPalette) method = merge::Adaptive;
      const bool dither = word & merge::Dither;
      switch (method) {
        case merge::MergeGlobal:
          status = mergeIntoGlobal(word);
          break;
        case merge::MapGlobal:
          status = mapToPalette(select([](const Item& it, uint32_t) { return it.isNew; }, word),
                                *receiver_->globalPalette, false, dither, false);
          break;
        case merge::Cube:
        case merge::Fixed: {
          std::unique_ptr<Palette> p = method == merge::Cube ? cubePalette() : std::move(fixed);
          if (!p) {
            showWarning(text(Str::NoMemoryPalettes));
            return kFailed;
          }
          status = mapToPalette(select([](const Item&, uint32_t) { return true; }, word), *p,
                                method == merge::Fixed, dither, true);
          break;
        }
        case merge::LocalPerFrame:
          status = localPerFrame(word);
          break;
        default:
          status = adaptive(word);
          break;
      }
    }
    if (status != kDone) return status;  // failures have shown their message
    return commit();
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryPalettes));
    return kFailed;
  }
}

int Engine::commit() {
  // Everything that can fail first: copies of the palette for queued sources.
  std::vector<std::unique_ptr<Palette>> copies;
  const Palette* finalGlobal = newGlobal_ ? newGlobal_.get() : receiver_->globalPalette.get();
  if (!req_.target && finalGlobal) {
    for (Animation* a : animations_) {
      if (a == receiver_) continue;
      copies.push_back(copyPalette(*finalGlobal));
      if (!copies.back()) {
        showWarning(text(Str::NoMemoryPalettes));
        return kFailed;
      }
    }
  }

  std::unique_ptr<Palette> former;  // kept until every frame points elsewhere
  if (newGlobal_) former = setGlobalPalette(*receiver_, std::move(newGlobal_), false);
  if (newBackground_ >= 0) receiver_->backgroundIndex = uint8_t(newBackground_);
  size_t next = 0;
  for (Animation* a : animations_)
    if (a != receiver_ && !req_.target && next < copies.size())
      setGlobalPalette(*a, std::move(copies[next++]));

  auto globalOf = [&](Animation* owner) {
    return req_.target || owner == receiver_ ? receiver_->globalPalette.get()
                                             : owner->globalPalette.get();
  };
  for (Update& u : updates_) applyFrameUpdate(u.update, globalOf(u.owner));

  if (req_.target) {
    Animation& t = *req_.target;
    size_t position = !req_.insertAfter            ? SIZE_MAX
                      : req_.insertAfter == t.head ? 0
                                                   : t.positionOf(req_.insertAfter) + 1;
    std::vector<BlockPtr> moving;
    for (Animation* s : animations_) {
      if (s == req_.target) continue;
      for (auto& b : s->takeAll()) moving.push_back(std::move(b));
    }
    t.insertAt(position, std::move(moving));
  }
  std::vector<Animation*> homes = req_.target ? std::vector<Animation*>{req_.target} : animations_;
  for (Animation* a : homes) {
    a->encodedSize = -1;
    // Only the colour tables follow the palette: the updated frames have
    // their masks rebuilt already, and the others' pixels did not change.
    for (Frame* f = firstFrame(*a); f; f = nextFrame(f))
      if (!f->localPalette) refreshFrameColours(*f, a->globalPalette.get(), false);
    if (!req_.receiverShown) recountColourUsage(*a);
  }
  return kDone;
}

}  // namespace

int runMerge(MergeRequest& request) {
  if (!request.sources) return kDone;
  Engine engine(request);
  return engine.run();
}

}  // namespace fb
