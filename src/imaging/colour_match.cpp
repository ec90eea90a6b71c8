#include "imaging/colour_match.h"

#include <algorithm>
#include <climits>
#include <new>

namespace fb {

int nearestColour(const Palette& p, Rgb c, int exclude, bool* exact) {
  int best = -1;
  int bestDistance = INT_MAX;
  for (int i = 0; i < p.count; ++i) {
    if (i == exclude) continue;
    int dr = int(p[i].r) - c.r, dg = int(p[i].g) - c.g, db = int(p[i].b) - c.b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  if (exact) *exact = best >= 0 && bestDistance == 0;
  return best;
}

NearestColourSearch::NearestColourSearch(const Palette& p, int exclude) {
  std::array<uint8_t, 256> order{};
  for (int i = 0; i < p.count; ++i)
    if (i != exclude) order[size_t(n_++)] = static_cast<uint8_t>(i);
  auto sumOf = [&](int i) { return int(p[i].r) + p[i].g + p[i].b; };
  std::stable_sort(order.begin(), order.begin() + n_,
                   [&](uint8_t a, uint8_t b) { return sumOf(a) < sumOf(b); });
  for (int k = 0; k < n_; ++k) {
    index_[size_t(k)] = order[size_t(k)];
    colour_[size_t(k)] = p[order[size_t(k)]];
    sum_[size_t(k)] = sumOf(order[size_t(k)]);
  }
}

int NearestColourSearch::find(Rgb c) const {
  // A colour whose sum differs by s is at least s² / 3 away.
  const int s = int(c.r) + c.g + c.b;
  int hi = int(std::lower_bound(sum_.begin(), sum_.begin() + n_, s) - sum_.begin());
  int lo = hi - 1;
  int best = -1, bestDistance = INT_MAX;
  auto consider = [&](int k) {
    const Rgb& e = colour_[size_t(k)];
    const int dr = int(e.r) - c.r, dg = int(e.g) - c.g, db = int(e.b) - c.b;
    const int d = dr * dr + dg * dg + db * db;
    const int i = index_[size_t(k)];
    if (d < bestDistance || (d == bestDistance && i < best)) {
      bestDistance = d;
      best = i;
    }
  };
  auto beyond = [&](int k) {
    const int64_t ds = sum_[size_t(k)] - s;
    return ds * ds > 3 * int64_t{bestDistance};
  };
  while (lo >= 0 || hi < n_) {
    if (hi < n_) {
      if (beyond(hi))
        hi = n_;
      else
        consider(hi++);
    }
    if (lo >= 0) {
      if (beyond(lo))
        lo = -1;
      else
        consider(lo--);
    }
  }
  return best;
}

void ExactColourTable::build(const Palette& p, int exclude) {
  keys_.fill(0);
  for (int i = 0; i < p.count; ++i)
    if (i != exclude) insert(packRgb(p[i]), i);
}

int ExactColourTable::insert(uint32_t rgb, int index) {
  uint32_t key = rgb + 1;
  for (uint32_t h = hash(rgb);; h = (h + 1) & (kSlots - 1)) {
    if (keys_[h] == key) return values_[h];
    if (keys_[h] == 0) {
      keys_[h] = key;
      values_[h] = static_cast<uint8_t>(index);
      return index;
    }
  }
}

void ExactColourTable::set(uint32_t rgb, int index) {
  uint32_t key = rgb + 1;
  for (uint32_t h = hash(rgb);; h = (h + 1) & (kSlots - 1)) {
    if (keys_[h] == key || keys_[h] == 0) {
      keys_[h] = key;
      values_[h] = static_cast<uint8_t>(index);
      return;
    }
  }
}

bool ensureInverseMap(InverseColourMap& map, const Palette& p, int exclude) {
  if (exclude >= p.count) exclude = -1;
  if (map.valid && map.excluded == exclude && map.builtFor == p) return true;
  try {
    map.cells.resize(InverseColourMap::kCells);
  } catch (const std::bad_alloc&) {
    map.valid = false;
    return false;
  }
  // Distances in doubled coordinates: the centre of level L is 8L + 3.5.
  int n = p.count;
  int er[256], eg[256], eb[256];
  for (int i = 0; i < n; ++i) {
    er[i] = 2 * p[i].r;
    eg[i] = 2 * p[i].g;
    eb[i] = 2 * p[i].b;
  }
  uint8_t* out = map.cells.data();
  for (int r5 = 0; r5 < 32; ++r5) {
    int cr = 16 * r5 + 7;
    for (int g5 = 0; g5 < 32; ++g5) {
      int cg = 16 * g5 + 7;
      for (int b5 = 0; b5 < 32; ++b5) {
        int cb = 16 * b5 + 7;
        int best = 0, bestDistance = INT_MAX;
        for (int i = 0; i < n; ++i) {
          if (i == exclude) continue;
          int dr = er[i] - cr;
          int d = dr * dr;
          if (d >= bestDistance) continue;
          int dg = eg[i] - cg;
          d += dg * dg;
          if (d >= bestDistance) continue;
          int db = eb[i] - cb;
          d += db * db;
          if (d < bestDistance) {
            bestDistance = d;
            best = i;
          }
        }
        *out++ = static_cast<uint8_t>(best);
      }
    }
  }
  map.builtFor = p;
  map.excluded = exclude;
  map.valid = true;
  return true;
}

}  // namespace fb
