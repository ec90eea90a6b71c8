#include "imaging/refine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

namespace fb {

namespace {
constexpr int kCells = 1 << 18;
}

ColourSet::ColourSet() : slotOfCell_(kCells, -1) {}
ColourSet::~ColourSet() = default;

void ColourSet::add(int r, int g, int b, uint64_t weight) {
  int32_t& slot = slotOfCell_[static_cast<size_t>(cellOf(r, g, b))];
  if (slot < 0) {
    slot = static_cast<int32_t>(sums_.size());
    sums_.push_back({0, 0, 0, 0});
  }
  Sum& s = sums_[static_cast<size_t>(slot)];
  s.r += static_cast<uint64_t>(r) * weight;
  s.g += static_cast<uint64_t>(g) * weight;
  s.b += static_cast<uint64_t>(b) * weight;
  s.weight += weight;
}

void ColourSet::addRgb(const uint8_t* rgb, int stride, int width, int height, const uint8_t* alpha,
                       int alphaStride, int alphaThreshold) {
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = rgb + static_cast<size_t>(y) * stride;
    const uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * alphaStride : nullptr;
    for (int x = 0; x < width; ++x, p += 3)
      if (!a || a[x] >= alphaThreshold) add(p[0], p[1], p[2], 1);
  }
}

void ColourSet::addPalette(const Palette& palette, const int64_t* counts) {
  for (int i = 0; i < palette.count; ++i)
    if (counts[i] > 0) add(palette[i].r, palette[i].g, palette[i].b, static_cast<uint64_t>(counts[i]));
}

const std::vector<ColourSet::Sample>& ColourSet::samples() {
  samples_.resize(sums_.size());
  for (size_t i = 0; i < sums_.size(); ++i) {
    const Sum& s = sums_[i];
    const double w = static_cast<double>(s.weight);
    samples_[i] = {float(double(s.r) / w), float(double(s.g) / w), float(double(s.b) / w), w};
  }
  return samples_;
}

int ColourSet::sampleOfCell(int cell) const {
  return cell >= 0 && cell < kCells ? slotOfCell_[static_cast<size_t>(cell)] : -1;
}

NearestColour::NearestColour(const Rgb* colours, int count, int skip) {
  // The principal axis of the colours, by a few rounds of power iteration.
  double mean[3] = {0, 0, 0};
  int n = 0;
  for (int i = 0; i < count; ++i)
    if (i != skip) {
      mean[0] += colours[i].r, mean[1] += colours[i].g, mean[2] += colours[i].b;
      ++n;
    }
  if (n > 1) {
    for (double& m : mean) m /= n;
    double cov[3][3] = {};
    for (int i = 0; i < count; ++i) {
      if (i == skip) continue;
      const double d[3] = {colours[i].r - mean[0], colours[i].g - mean[1], colours[i].b - mean[2]};
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) cov[a][b] += d[a] * d[b];
    }
    double v[3] = {1, 1, 1};
    for (int round = 0; round < 12; ++round) {
      double w[3] = {0, 0, 0};
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) w[a] += cov[a][b] * v[b];
      const double len = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
      if (len <= 0) break;
      for (int a = 0; a < 3; ++a) v[a] = w[a] / len;
    }
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0)
      for (int a = 0; a < 3; ++a) axis_[a] = float(v[a] / len);
  }
  for (int i = 0; i < count; ++i)
    if (i != skip)
      sorted_.push_back({keyOf(colours[i].r, colours[i].g, colours[i].b), colours[i].r,
                         colours[i].g, colours[i].b, i});
  std::stable_sort(sorted_.begin(), sorted_.end(),
                   [](const Entry& a, const Entry& b) { return a.key < b.key; });
  position_.assign(static_cast<size_t>(std::max(count, 0)), -1);
  for (size_t k = 0; k < sorted_.size(); ++k) position_[size_t(sorted_[k].index)] = int(k);
}

int NearestColour::find(int r, int g, int b, int hint) const {
  const int n = static_cast<int>(sorted_.size());
  if (n == 0) return -1;
  auto dist = [&](const Entry& c) {
    const int dr = c.r - r, dg = c.g - g, db = c.b - b;
    return dr * dr + dg * dg + db * db;
  };
  const float key = keyOf(r, g, b);
  int start;
  if (hint >= 0 && hint < static_cast<int>(position_.size()) && position_[size_t(hint)] >= 0) {
    start = position_[size_t(hint)];
  } else {
    start = int(std::lower_bound(sorted_.begin(), sorted_.end(), key,
                                 [](const Entry& e, float k) { return e.key < k; }) -
                sorted_.begin());
    start = std::min(start, n - 1);
  }
  int best = dist(sorted_[size_t(start)]), bestIndex = sorted_[size_t(start)].index;
  // Along a unit axis the key difference never exceeds the distance; a
  // little slack covers rounding in the keys.
  auto beyond = [&](float dk) { return dk * dk > float(best) + 0.5f; };
  for (int i = start + 1; i < n; ++i) {
    const Entry& e = sorted_[size_t(i)];
    if (e.key > key && beyond(e.key - key)) break;
    const int d = dist(e);
    if (d < best || (d == best && e.index < bestIndex)) best = d, bestIndex = e.index;
  }
  for (int i = start - 1; i >= 0; --i) {
    const Entry& e = sorted_[size_t(i)];
    if (e.key < key && beyond(key - e.key)) break;
    const int d = dist(e);
    if (d < best || (d == best && e.index < bestIndex)) best = d, bestIndex = e.index;
  }
  return bestIndex;
}

int splitColours(ColourSet& colours, int count, Rgb* out) {
  const auto& samples = colours.samples();
  if (count <= 0 || samples.empty()) return 0;
  std::vector<int> items(samples.size());
  std::iota(items.begin(), items.end(), 0);
  struct Box {
    int begin, end;  // range of `items`
    double mean[3], sse, weight;
    int axis;  // of the largest spread
  };
  auto measure = [&](Box& b) {
    double w = 0, s[3] = {0, 0, 0}, q[3] = {0, 0, 0};
    for (int i = b.begin; i < b.end; ++i) {
      const auto& x = samples[size_t(items[size_t(i)])];
      const double v[3] = {x.r, x.g, x.b};
      w += x.weight;
      for (int c = 0; c < 3; ++c) {
        s[c] += v[c] * x.weight;
        q[c] += v[c] * v[c] * x.weight;
      }
    }
    b.weight = w;
    b.sse = 0;
    b.axis = 0;
    double spread = -1;
    for (int c = 0; c < 3; ++c) {
      b.mean[c] = w > 0 ? s[c] / w : 0;
      const double var = w > 0 ? q[c] - s[c] * s[c] / w : 0;
      b.sse += var;
      if (var > spread) {
        spread = var;
        b.axis = c;
      }
    }
  };
  std::vector<Box> boxes;
  boxes.push_back({0, int(items.size()), {}, 0, 0, 0});
  measure(boxes[0]);
  while (int(boxes.size()) < count) {
    int pick = -1;
    for (int i = 0; i < int(boxes.size()); ++i)
      if (boxes[size_t(i)].end - boxes[size_t(i)].begin > 1 &&
          (pick < 0 || boxes[size_t(i)].sse > boxes[size_t(pick)].sse))
        pick = i;
    if (pick < 0 || boxes[size_t(pick)].sse <= 0) break;
    Box b = boxes[size_t(pick)];
    const int axis = b.axis;
    const double cut = b.mean[axis];
    auto valueOf = [&](int i) {
      const auto& x = samples[size_t(i)];
      return axis == 0 ? x.r : axis == 1 ? x.g : x.b;
    };
    auto mid = std::partition(items.begin() + b.begin, items.begin() + b.end,
                              [&](int i) { return valueOf(i) <= cut; });
    int m = int(mid - items.begin());
    if (m == b.begin || m == b.end) m = (b.begin + b.end) / 2;  // all on one side: halve
    Box lower{b.begin, m, {}, 0, 0, 0}, upper{m, b.end, {}, 0, 0, 0};
    measure(lower);
    measure(upper);
    boxes[size_t(pick)] = lower;
    boxes.push_back(upper);
  }
  int n = 0;
  for (const Box& b : boxes)
    out[n++] = Rgb{uint8_t(std::lround(b.mean[0])), uint8_t(std::lround(b.mean[1])),
                   uint8_t(std::lround(b.mean[2]))};
  return n;
}

void refinePalette(Rgb* palette, int count, ColourSet& colours, int rounds) {
  const auto& samples = colours.samples();
  if (count <= 0 || samples.empty()) return;
  std::vector<int> assigned(samples.size(), -1);
  struct Acc {
    double r = 0, g = 0, b = 0, w = 0;
  };
  for (int round = 0; round < rounds; ++round) {
    NearestColour nearest(palette, count);
    std::vector<Acc> acc(static_cast<size_t>(count));
    size_t worst = 0;
    double worstError = -1;
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto& s = samples[i];
      const int r = int(s.r + 0.5f), g = int(s.g + 0.5f), b = int(s.b + 0.5f);
      const int k = nearest.find(r, g, b, assigned[i]);
      assigned[i] = k;
      Acc& a = acc[size_t(k)];
      a.r += s.r * s.weight;
      a.g += s.g * s.weight;
      a.b += s.b * s.weight;
      a.w += s.weight;
      const Rgb& c = palette[k];
      const double dr = s.r - c.r, dg = s.g - c.g, db = s.b - c.b;
      const double e = (dr * dr + dg * dg + db * db) * s.weight;
      if (e > worstError) {
        worstError = e;
        worst = i;
      }
    }
    bool moved = false;
    for (int k = 0; k < count; ++k) {
      const Acc& a = acc[size_t(k)];
      Rgb c;
      if (a.w > 0) {
        c = Rgb{uint8_t(std::lround(a.r / a.w)), uint8_t(std::lround(a.g / a.w)),
                uint8_t(std::lround(a.b / a.w))};
      } else {
        // Nothing is nearest to it: it goes where the error is largest.
        const auto& s = samples[worst];
        c = Rgb{uint8_t(std::lround(s.r)), uint8_t(std::lround(s.g)), uint8_t(std::lround(s.b))};
      }
      moved |= !(c == palette[k]);
      palette[k] = c;
    }
    if (!moved) break;
  }
}

void mapRgbNearest(const Rgb* palette, int count, ColourSet& cells, const uint8_t* rgb,
                   int stride, int width, int height, const uint8_t* alpha, int alphaStride,
                   int alphaThreshold, int transparentIndex, bool dither, uint8_t* out,
                   int outStride) {
  NearestColour nearest(palette, count, transparentIndex);
  std::vector<uint8_t> ofSample;
  if (!dither) {
    const auto& samples = cells.samples();
    ofSample.resize(samples.size());
    int hint = -1;
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto& x = samples[i];
      hint = nearest.find(int(x.r + 0.5f), int(x.g + 0.5f), int(x.b + 0.5f), hint);
      ofSample[i] = static_cast<uint8_t>(std::max(hint, 0));
    }
  }
  constexpr uint16_t kUnknown = 0xFFFF;
  std::vector<uint16_t> ofCell(dither ? size_t{1} << 18 : 0, kUnknown);
  // Errors (in 1/16) of this row and the next, with a guard pixel each side.
  std::vector<int> errors(dither ? static_cast<size_t>(width + 2) * 6 : 0, 0);
  int* cur = dither ? errors.data() + 3 : nullptr;
  int* next = dither ? errors.data() + 3 * (width + 2) + 3 : nullptr;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = rgb + static_cast<size_t>(y) * stride;
    const uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * alphaStride : nullptr;
    uint8_t* o = out + static_cast<size_t>(y) * outStride;
    int hint = -1;
    for (int x = 0; x < width; ++x, p += 3) {
      if (a && a[x] < alphaThreshold) {
        o[x] = static_cast<uint8_t>(std::max(transparentIndex, 0));
        continue;
      }
      if (!dither) {
        const int sample = cells.sampleOfCell(ColourSet::cellOf(p[0], p[1], p[2]));
        o[x] = sample >= 0 ? ofSample[size_t(sample)]
                           : static_cast<uint8_t>(std::max(nearest.find(p[0], p[1], p[2]), 0));
        continue;
      }
      int v[3];
      for (int c = 0; c < 3; ++c) v[c] = std::clamp(p[c] + cur[3 * x + c] / 16, 0, 255);
      // The colour nearest to the middle of the value's cell, found once per
      // cell: the error left over goes on to the neighbours anyway.
      uint16_t& known = ofCell[size_t(ColourSet::cellOf(v[0], v[1], v[2]))];
      if (known == kUnknown) {
        hint = nearest.find((v[0] & ~3) + 2, (v[1] & ~3) + 2, (v[2] & ~3) + 2, hint);
        known = static_cast<uint16_t>(std::max(hint, 0));
      }
      const int k = known;
      o[x] = static_cast<uint8_t>(k);
      const int e[3] = {v[0] - palette[k].r, v[1] - palette[k].g, v[2] - palette[k].b};
      for (int c = 0; c < 3; ++c) {
        cur[3 * (x + 1) + c] += 7 * e[c];
        next[3 * (x - 1) + c] += 3 * e[c];
        next[3 * x + c] += 5 * e[c];
        next[3 * (x + 1) + c] += e[c];
      }
    }
    if (dither) {
      std::swap(cur, next);
      std::fill(next - 3, next + 3 * (width + 1), 0);
    }
  }
}

}  // namespace fb
