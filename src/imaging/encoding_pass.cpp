#include "imaging/encoding_pass.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <vector>

#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "gif/gif_writer.h"
#include "imaging/palette_merge.h"
#include "resources/strings.h"

namespace fb {
namespace {

struct IndexUse {
  Frame* frame = nullptr;
  std::bitset<256> used;
  int count = 0;      // distinct indices
  int top = 0;        // largest index
  int64_t pixels = 0;
  uint8_t list[256];  // the indices used, ascending (`count` of them)
};

IndexUse indexUse(Frame& f) {
  IndexUse u;
  u.frame = &f;
  // Only whether each index occurs: no counts to clear and add up.
  bool seen[256] = {};
  const Bitmap& b = *f.dib;
  for (int y = 0; y < b.height; ++y) {
    const uint8_t* row = b.row(y);
    for (int x = 0; x < b.width; ++x) seen[row[x]] = true;
  }
  // Read back eight at a time: small frames use few indices, and a byte
  // at a time this loop cost more than the pixels.
  for (int base = 0; base < 256; base += 8) {
    uint64_t eight;
    std::memcpy(&eight, seen + base, sizeof eight);
    if (!eight) continue;
    for (int i = base; i < base + 8; ++i)
      if (seen[i]) {
        u.used.set(static_cast<size_t>(i));
        u.list[u.count++] = static_cast<uint8_t>(i);
        u.top = i;
      }
  }
  u.pixels = static_cast<int64_t>(f.dib->width) * f.dib->height;
  return u;
}

int codeSizeFor(int top) { return std::max(2, colourBits(top + 1)); }

// About how many pixels an animation's code stands for: only the frames'
// weights against each other depend on it.
constexpr int64_t kPixelsPerCode = 12;

// Roughly the bits of `codes` codes at code size `s`. Only the first codes of
// a table are narrower with a smaller code size (the widths grow with the
// table from 2^s + 2 entries), so a frame weighs by its codes up to a table's
// worth, not by its pixels.
int64_t codeBits(int s, int64_t codes) {
  const int64_t first = (int64_t{1} << s) + 2, room = 4096 - first;
  auto ramp = [&](int64_t n) {  // the first n codes of a table
    int64_t bits = 0, k = 0;
    for (int width = s + 1; width <= 12 && k < n; ++width) {
      const int64_t upTo = width == 12 ? n : std::min(n, (int64_t{1} << width) - first);
      if (upTo > k) {
        bits += (upTo - k) * width;
        k = upTo;
      }
    }
    return bits;
  };
  return codes / room * ramp(room) + ramp(codes % room);
}

int64_t frameCost(const IndexUse& u, int top) {
  return codeBits(codeSizeFor(top), u.pixels / kPixelsPerCode + 1);
}

// Roughly what the frames' codes cost with the indices `map` gives them.
int64_t codeCost(const std::vector<IndexUse>& uses, const int* map) {
  int64_t cost = 0;
  for (const auto& u : uses) {
    int top = u.top;
    if (map) {
      top = 0;
      for (int k = 0; k < u.count; ++k) top = std::max(top, map[u.list[k]]);
    }
    cost += frameCost(u, top);
  }
  return cost;
}

// Frames choose in turn (`first` says which goes first), each putting the
// colours it uses that have no place yet at the next places. Frames of more
// than 128 colours choose last: they need 8 bits wherever theirs are.
template <class First>
void greedyOrder(const std::vector<IndexUse>& uses, int count, int* map, First first) {
  // The frames are sorted by reference: an IndexUse is large to move.
  std::vector<const IndexUse*> order(uses.size());
  for (size_t k = 0; k < uses.size(); ++k) order[k] = &uses[k];
  std::stable_sort(order.begin(), order.end(), [&](const IndexUse* a, const IndexUse* b) {
    const bool wideA = a->count > 128, wideB = b->count > 128;
    return wideA != wideB ? wideB : first(*a, *b);
  });
  std::fill(map, map + 256, -1);
  int next = 0;
  for (const IndexUse* u : order)
    for (int k = 0; k < u->count; ++k)
      if (map[u->list[k]] < 0) map[u->list[k]] = next++;
  for (int i = 0; i < count; ++i)
    if (map[i] < 0) map[i] = next++;
}

// Colours used by the most frames first, then by the most pixels.
void sharedFirstOrder(const std::vector<IndexUse>& uses, int count, int* map) {
  std::array<int64_t, 256> frames{}, pixels{};
  for (const auto& u : uses)
    for (int k = 0; k < u.count; ++k) {
      ++frames[u.list[k]];
      pixels[u.list[k]] += u.pixels / std::max(u.count, 1);
    }
  std::vector<int> order(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) order[size_t(i)] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return frames[size_t(a)] != frames[size_t(b)] ? frames[size_t(a)] > frames[size_t(b)]
                                                  : pixels[size_t(a)] > pixels[size_t(b)];
  });
  std::fill(map, map + 256, -1);
  for (int k = 0; k < count; ++k) map[order[size_t(k)]] = k;
}

// Frames in turn, each time the one needing the fewest colours that have no
// place yet (then the one with the most pixels), so that frames sharing
// colours follow each other. Quadratic in frames: long animations skip it.
constexpr size_t kMaxFramesForFewestNew = 1024;
void fewestNewOrder(const std::vector<IndexUse>& uses, int count, int* map) {
  std::fill(map, map + 256, -1);
  std::vector<bool> done(uses.size(), false);
  std::bitset<256> placed;
  int next = 0;
  for (size_t step = 0; step < uses.size(); ++step) {
    size_t pick = uses.size();
    size_t pickNew = 0;
    for (size_t j = 0; j < uses.size(); ++j) {
      if (done[j]) continue;
      const size_t added = (uses[j].used & ~placed).count();
      // Frames of more than 128 colours need 8 bits wherever theirs are: last.
      const bool wide = uses[j].count > 128;
      if (pick == uses.size()) {
        pick = j;
        pickNew = added;
        continue;
      }
      const bool pickWide = uses[pick].count > 128;
      if (wide != pickWide   ? pickWide
          : added != pickNew ? added < pickNew
                             : uses[j].pixels > uses[pick].pixels) {
        pick = j;
        pickNew = added;
      }
    }
    done[pick] = true;
    for (int i = 0; i < count; ++i)
      if (uses[pick].used.test(static_cast<size_t>(i)) && map[i] < 0) map[i] = next++;
    placed |= uses[pick].used;
  }
  for (int i = 0; i < count; ++i)
    if (map[i] < 0) map[i] = next++;
}

std::unique_ptr<Palette> permuted(const Palette& p, const int* map) {
  Palette out = p;
  for (int i = 0; i < p.count; ++i) out[map[i]] = p[i];
  return makePalette(out.entries.data(), p.count);
}

bool orderGlobal(Animation& a) {
  if (!a.globalPalette) return false;
  const int count = a.globalPalette->count;
  std::vector<Frame*> frames;
  int64_t pixels = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->localPalette || !f->dib) continue;
    frames.push_back(f);
    pixels += int64_t{f->dib->width} * f->dib->height;
  }
  if (frames.empty()) return false;
  // Each frame's indices on its own: on workers beside this thread when large.
  std::vector<IndexUse> uses(frames.size());
  auto use = [&](size_t i, bool) {
    uses[i] = indexUse(*frames[i]);
    return true;
  };
  const unsigned workers = TaskPool::workersFor(frames.size(), pixels);
  if (!forEachPiece(frames.size(), workers > 0 ? workers - 1 : 0, std::ref(use))) return false;
  for (const auto& u : uses)
    if (u.top >= count) return false;  // indices beyond the table: left alone
  // A few ways to order; the one whose code sizes cost least, if it beats
  // the order as it is: frames with the fewest colours first, frames with
  // the most pixels per colour first, colours most frames share first.
  int best[256], map[256];
  int64_t bestCost = codeCost(uses, nullptr);
  // No order can go below each frame's own colour count.
  int64_t floor = 0;
  for (const auto& u : uses) floor += frameCost(u, u.count - 1);
  if (bestCost <= floor) return false;
  bool found = false;
  // True once an order reaches the floor, which no other can beat.
  auto consider = [&] {
    const int64_t cost = codeCost(uses, map);
    if (cost < bestCost) {
      bestCost = cost;
      std::copy(map, map + 256, best);
      found = true;
    }
    return bestCost <= floor;
  };
  greedyOrder(uses, count, map, [](const IndexUse& a, const IndexUse& b) {
    return a.count != b.count ? a.count < b.count : a.pixels > b.pixels;
  });
  if (!consider()) {
    greedyOrder(uses, count, map, [](const IndexUse& a, const IndexUse& b) {
      return a.pixels * b.count > b.pixels * a.count;
    });
    if (!consider()) {
      sharedFirstOrder(uses, count, map);
      if (!consider() && uses.size() <= kMaxFramesForFewestNew) {
        fewestNewOrder(uses, count, map);
        consider();
      }
    }
  }
  if (!found) return false;
  std::copy(best, best + 256, map);

  auto palette = permuted(*a.globalPalette, map);
  if (!palette) return false;
  Palette* p = palette.get();
  setGlobalPalette(a, std::move(palette));
  auto remap = [p, &map](Frame& f) {
    remapFramePixels(f, p, p->entries.data(), p->count, map);
    remapKeptEncoding(f, map);
  };
  remapEachFrame(frames, std::ref(remap));
  if (a.backgroundIndex < count) a.backgroundIndex = static_cast<uint8_t>(map[a.backgroundIndex]);
  std::array<int64_t, 256> usage{};
  for (int i = 0; i < count; ++i) usage[map[i]] = a.colourUsage[i];
  for (int i = count; i < 256; ++i) usage[i] = a.colourUsage[i];
  a.colourUsage = usage;
  return true;
}

// A local palette's used colours first, in their order.
bool orderLocal(Frame& f) {
  const int count = f.localPalette->count;
  IndexUse u = indexUse(f);
  if (u.top >= count || codeSizeFor(u.top) <= codeSizeFor(u.count - 1)) return false;
  int map[256];
  std::fill(map, map + 256, -1);
  int next = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < count; ++i)
      if (u.used.test(static_cast<size_t>(i)) == (pass == 0)) map[i] = next++;
  auto palette = permuted(*f.localPalette, map);
  if (!palette) return false;
  Palette* p = palette.get();
  setLocalPalette(f, std::move(palette));
  remapFramePixels(f, p, p->entries.data(), p->count, map);
  remapKeptEncoding(f, map);
  return true;
}

}  // namespace

bool orderPalettesForCodeSize(Animation& a) {
  bool changed = orderGlobal(a);
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (f->localPalette && f->dib) changed |= orderLocal(*f);
  return changed;
}

bool applyLossyLzw(Animation& a, int strength, Progress* progress) {
  if (strength <= 0) return true;
  const LzwLayout layout = a.smallestEncoding ? LzwLayout::Smallest : LzwLayout::Standard;
  std::vector<Frame*> frames;
  int64_t pixels = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (!f->dib || !f->palette() || f->width <= 0 || f->height <= 0) continue;
    frames.push_back(f);
    pixels += static_cast<int64_t>(f->width) * f->height;
  }
  if (progress) progress->setRange(static_cast<int64_t>(frames.size()));
  // Close colours are worked out once per palette.
  std::map<const Palette*, std::unique_ptr<LossyColours>> close;
  for (Frame* f : frames) {
    auto& c = close[f->palette()];
    if (!c) c = std::make_unique<LossyColours>(*f->palette(), strength);
  }
  // Each frame on its own: they run on workers when that pays.
  auto lossy = [&close, layout](Frame* f) {
    lossyLzwPass(LzwImage{f->pixels(), f->dib->width, f->dib->height, f->dib->stride, f->interlaced()},
                 frameCodeSize(*f, layout), layout, *close.at(f->palette()),
                 f->transparent() ? f->transparentIndex : -1);
  };
  unsigned workers = TaskPool::workersFor(frames.size(), pixels);
  TaskPool pool(workers, 2 * workers, reporter());
  for (Frame* f : frames) {
    if (workers == 0)
      lossy(f);
    else
      pool.submit([f, &lossy] { lossy(f); });
    if (progress && !progress->step()) {
      pool.drain();
      return false;
    }
  }
  pool.drain();
  if (pool.failed()) {
    // A frame that ran out of memory keeps what it had; the pass stops here.
    showWarning(text(Str::OptimizeRanOut));
    return false;
  }
  return true;
}

}  // namespace fb
