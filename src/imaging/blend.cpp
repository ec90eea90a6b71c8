#include "imaging/blend.h"

#include <algorithm>
#include <new>

#include "base/progress.h"
#include "base/reporter.h"
#include "document/edit_checks.h"
#include "document/player.h"
#include "document/rgba.h"
#include "resources/strings.h"

namespace fb {
namespace {

// The picture a viewer sees before a frame: RGBA rows of 4 × width bytes.
struct Pictures {
  int width = 0, height = 0;
  std::vector<std::vector<uint8_t>> rgba;
  std::vector<int32_t> delays;
};

// Every picture of `a`. False when memory runs out or the user cancels.
bool render(const Animation& a, Pictures& out, Progress* progress) {
  out.width = a.width;
  out.height = a.height;
  // The compositor only reads the animation it is given.
  auto player = startPlayer(const_cast<Animation&>(a));
  if (!player) return false;
  for (Frame* c = firstPicture(*player); c; c = nextPicture(*player)) {
    out.rgba.push_back(canvasToRgba(*c));
    out.delays.push_back(c->delay);
    if (progress && !progress->step()) return false;
  }
  return !player->outOfMemory && !out.rgba.empty();
}

int64_t sum(const std::vector<int32_t>& v) {
  int64_t s = 0;
  for (int32_t d : v) s += std::max(d, 0);
  return s;
}

// Start times of the pictures within one run.
std::vector<int64_t> startsOf(const std::vector<int32_t>& delays) {
  std::vector<int64_t> s;
  int64_t t = 0;
  for (int32_t d : delays) {
    s.push_back(t);
    t += std::max(d, 0);
  }
  return s;
}

// The picture shown at time t of an animation with these starts and running time.
int pictureAt(const std::vector<int64_t>& starts, int64_t total, bool loop, int64_t t) {
  int last = static_cast<int>(starts.size()) - 1;
  if (total <= 0) return last;
  if (t >= total) {
    if (!loop) return last;
    t %= total;
  }
  auto it = std::upper_bound(starts.begin(), starts.end(), t);
  return static_cast<int>(it - starts.begin()) - 1;
}

// Adds the times at which an animation changes picture over [0, end).
bool addChanges(const std::vector<int64_t>& starts, int64_t total, bool loop, int64_t end,
                size_t maxSteps, std::vector<int64_t>& times) {
  if (total <= 0) {
    times.push_back(0);
    return true;
  }
  for (int64_t offset = 0; offset < end; offset += total) {
    for (int64_t s : starts) {
      if (offset + s >= end) break;
      times.push_back(offset + s);
      if (times.size() > 2 * maxSteps) return false;
    }
    if (!loop) break;
  }
  return true;
}

// Draws `top` over `bottom` (straight alpha), at 0, 0, cut to the bottom's size.
void drawOver(std::vector<uint8_t>& bottom, int bw, int bh, const std::vector<uint8_t>& top, int tw,
              int th) {
  int w = std::min(bw, tw), h = std::min(bh, th);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* s = top.data() + (static_cast<size_t>(y) * tw + x) * 4;
      uint8_t* d = bottom.data() + (static_cast<size_t>(y) * bw + x) * 4;
      unsigned sa = s[3];
      if (sa == 0) continue;
      if (sa == 255) {
        std::copy(s, s + 4, d);
        continue;
      }
      unsigned da = d[3] * (255 - sa) / 255;
      unsigned oa = sa + da;
      for (int c = 0; c < 3; ++c)
        d[c] = static_cast<uint8_t>((s[c] * sa + d[c] * da + oa / 2) / oa);
      d[3] = static_cast<uint8_t>(oa);
    }
}

// `delays` rescaled to add up to exactly `total`: each takes its share of the
// total, rounded down, and the ticks left over go to the largest remainders
// (the earliest on ties). All-zero delays share the total evenly. No delay
// grows beyond `cap`: its excess goes to the next frames with room (the
// caller's cap times the count always holds the total).
std::vector<int32_t> scaledDelays(const std::vector<int32_t>& delays, int64_t total, int64_t cap) {
  const size_t n = delays.size();
  std::vector<int64_t> weight(n);
  int64_t weights = 0;
  for (size_t i = 0; i < n; ++i) weights += weight[i] = std::max(delays[i], 0);
  if (weights == 0) {
    std::fill(weight.begin(), weight.end(), 1);
    weights = static_cast<int64_t>(n);
  }
  std::vector<int64_t> share(n);
  std::vector<std::pair<int64_t, size_t>> remainders(n);
  int64_t given = 0;
  for (size_t i = 0; i < n; ++i) {
    // Ticks and counts stay far below 2^63 apart, not always multiplied.
    const auto product = static_cast<unsigned __int128>(weight[i]) * static_cast<uint64_t>(total);
    share[i] = static_cast<int64_t>(product / static_cast<uint64_t>(weights));
    remainders[i] = {static_cast<int64_t>(product % static_cast<uint64_t>(weights)), i};
    given += share[i];
  }
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const auto& x, const auto& y) { return x.first > y.first; });
  for (size_t k = 0; given < total; ++k, ++given) ++share[remainders[k % n].second];
  int64_t excess = 0;
  for (size_t round = 0; round < 2; ++round)
    for (size_t i = 0; i < n; ++i) {
      share[i] += excess;
      excess = std::max<int64_t>(share[i] - cap, 0);
      share[i] -= excess;
    }
  std::vector<int32_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<int32_t>(share[i]);
  return out;
}

}  // namespace

bool blendTimeline(const std::vector<int32_t>& aDelays, const std::vector<int32_t>& bDelays,
                   const BlendOptions& options, size_t maxSteps, std::vector<BlendStep>& out) {
  out.clear();
  if (aDelays.empty() || bDelays.empty()) return true;
  const int na = static_cast<int>(aDelays.size()), nb = static_cast<int>(bDelays.size());
  if (!options.byTime) {
    bool aLeads = na >= nb;
    int n = std::max(na, nb);
    if (static_cast<size_t>(n) > maxSteps) return false;
    auto index = [&](int i, int count) {
      if (i < count) return i;
      return options.loopShorter ? i % count : count - 1;
    };
    // The frame-richer animation's delays, stretched to the longer running
    // time (which may be the other's).
    const std::vector<int32_t>& lead = aLeads ? aDelays : bDelays;
    int32_t longest = 0;
    for (int32_t d : aDelays) longest = std::max(longest, d);
    for (int32_t d : bDelays) longest = std::max(longest, d);
    const std::vector<int32_t> delays =
        scaledDelays(lead, std::max(sum(aDelays), sum(bDelays)), longest);
    for (int i = 0; i < n; ++i)
      out.push_back({index(i, na), index(i, nb), delays[static_cast<size_t>(i)]});
    return true;
  }
  const int64_t ta = sum(aDelays), tb = sum(bDelays), total = std::max(ta, tb);
  const auto sa = startsOf(aDelays), sb = startsOf(bDelays);
  // Only the shorter one loops; the longer one runs once and sets the end.
  const bool loopA = options.loopShorter && ta < total;
  const bool loopB = options.loopShorter && tb < total;
  std::vector<int64_t> times;
  if (!addChanges(sa, ta, loopA, std::max<int64_t>(total, 1), maxSteps, times) ||
      !addChanges(sb, tb, loopB, std::max<int64_t>(total, 1), maxSteps, times))
    return false;
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  if (times.size() > maxSteps) return false;
  for (size_t i = 0; i < times.size(); ++i) {
    int64_t t = times[i], next = i + 1 < times.size() ? times[i + 1] : total;
    out.push_back({pictureAt(sa, ta, loopA, t), pictureAt(sb, tb, loopB, t),
                   static_cast<int32_t>(std::max<int64_t>(next - t, 0))});
  }
  return true;
}

int blendAnimation(Animation& a, const Animation& other, const BlendOptions& options,
                   MergeChooser* chooser, Progress* progress) {
  if (other.frameCount() < 1) {
    showWarning(text(Str::BlendNoFrames));
    return 0;
  }
  if (!frameNamed(a, 0)) return 0;
  if (a.width < 1 || a.height < 1) {
    showWarning(text(Str::EditSizeInvalid));
    return 0;
  }
  const int64_t screen = int64_t{a.width} * a.height;
  const int64_t otherScreen = int64_t{std::max(other.width, 0)} * std::max(other.height, 0);
  // Both animations' pictures are held while the result is made.
  const int64_t held = screen * a.frameCount() + otherScreen * other.frameCount();
  if (!resultFits(held)) {
    showWarning(text(Str::EditResultTooLarge));
    return 0;
  }
  const size_t maxSteps = static_cast<size_t>((kMaxEditPixels - held) / screen);

  Pictures pa, pb;
  std::vector<BlendStep> steps;
  std::unique_ptr<Animation> result;
  try {
    if (progress) progress->setRange(a.frameCount() + other.frameCount());
    if (!render(a, pa, progress) || !render(other, pb, progress)) {
      if (progress && progress->cancelled()) return 2;
      showWarning(text(Str::EditNoMemory));
      return 0;
    }
    if (!blendTimeline(pa.delays, pb.delays, options, maxSteps, steps)) {
      showWarning(text(Str::EditResultTooLarge));
      return 0;
    }
    result = cloneAnimationHeader(a);
    if (!result) throw std::bad_alloc();
    result->hideFirstFrame = 0;
    if (a.globalPalette) {
      // The current global palette, for the methods that map into it.
      result->globalPalette = copyPalette(*a.globalPalette);
      if (!result->globalPalette) throw std::bad_alloc();
    }
    const int s24 = stride24(a.width), s8 = stride8(a.width);
    for (const BlendStep& st : steps) {
      std::vector<uint8_t> px = pa.rgba[static_cast<size_t>(st.a)];
      drawOver(px, a.width, a.height, pb.rgba[static_cast<size_t>(st.b)], pb.width, pb.height);
      auto f = newBlankFrame(a.width, a.height);
      if (!f) throw std::bad_alloc();
      f->delay = st.delay;
      std::vector<uint8_t> rgb(static_cast<size_t>(s24) * a.height);
      std::vector<uint8_t> alpha(static_cast<size_t>(s8) * a.height);
      bool clear = false;
      for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
          const uint8_t* s = px.data() + (static_cast<size_t>(y) * a.width + x) * 4;
          std::copy(s, s + 3, rgb.data() + static_cast<size_t>(y) * s24 + 3 * x);
          alpha[static_cast<size_t>(y) * s8 + x] = s[3];
          clear |= s[3] < 128;
        }
      // A full picture with holes: what was there before must not show through them.
      f->setDisposal(clear ? 2 : 1);
      setRgb(*f, std::move(rgb));
      setAlpha(*f, std::move(alpha));
      appendFrame(*result, std::move(f));
    }
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::EditNoMemory));
    return 0;
  }
  pa = Pictures{};
  pb = Pictures{};
  // The merge maps the frames into palettes (and asks, when the method says so).
  int r = mergePalettes(nullptr, *result, options.mergeMethod, chooser, progress, options.merge);
  if (r != 1) return r;

  // All made: this animation's extension blocks, then the new frames.
  std::vector<BlockPtr> blocks;
  for (BlockPtr& b : a.blocks())
    if (!b->isFrame()) blocks.push_back(b);
  for (BlockPtr& b : result->takeAll()) blocks.push_back(std::move(b));
  setGlobalPalette(a, std::move(result->globalPalette));
  a.setBlocks(std::move(blocks));
  a.hideFirstFrame = 0;
  clearSelection(a);
  recountColourUsage(a);
  a.encodedSize = -1;
  return 1;
}

}  // namespace fb
