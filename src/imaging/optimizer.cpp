#include "imaging/optimizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "document/frame_ops.h"
#include "gif/gif_limits.h"
#include "gif/gif_writer.h"
#include "imaging/encoding_pass.h"
#include "imaging/palette_pass.h"
#include "base/number_format.h"
#include "resources/strings.h"

namespace fb {
namespace {

void removeUnwantedExtensions(Animation& a) {
  // The loop count lives in the document, not in a block; comments stay.
  for (Block* b = a.head->next; b;) {
    Block* next = b->next;
    if (b->tag == kPlainTextTag || b->tag == kApplicationTag) removeBlock(a, b);
    b = next;
  }
}

// Sets `frame`'s pixels to `pixels` (rows of the frame's stride).
void takePixels(Frame& frame, const std::vector<uint8_t>& pixels) {
  std::memcpy(frame.dib->data.data(), pixels.data(), pixels.size());
}

// Puts a frame's pixels back when a trial leaves early: measuring a variant
// in the frame allocates, and running out of memory must not leave it there.
struct PixelsBack {
  Frame& frame;
  const std::vector<uint8_t>& original;
  bool armed = true;
  ~PixelsBack() {
    if (armed) takePixels(frame, original);
  }
};

uint32_t rgbKey(const Rgb& c) {
  return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
}

// A palette's first index for each of its colours, looked up once per pixel:
// a small open-addressed table.
class PaletteIndexOf {
 public:
  explicit PaletteIndexOf(const Palette* p) {
    colours_.fill(kEmpty);
    if (!p) return;
    for (int i = 0; i < p->count; ++i) {
      const uint32_t key = rgbKey((*p)[i]);
      uint32_t s = slotOf(key);
      while (colours_[s] != kEmpty && colours_[s] != key) s = (s + 1) & (kSlots - 1);
      if (colours_[s] == kEmpty) {
        colours_[s] = key;
        indices_[s] = static_cast<uint8_t>(i);
      }
    }
  }
  int operator()(uint32_t colour) const {
    if (colour > 0xFFFFFF) return -1;  // an index beyond a palette: no colour
    for (uint32_t s = slotOf(colour);; s = (s + 1) & (kSlots - 1)) {
      if (colours_[s] == colour) return indices_[s];
      if (colours_[s] == kEmpty) return -1;
    }
  }

 private:
  static constexpr uint32_t kSlots = 1024;  // at most a quarter full
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // no colour is this
  static uint32_t slotOf(uint32_t key) { return (key * 0x9E3779B1u) >> 22; }
  std::array<uint32_t, kSlots> colours_;
  std::array<uint8_t, kSlots> indices_{};
};

// The palette every frame shows, when they all show one (else null), with
// each index's first index of the same colour in `first` (an index beyond
// the palette is a colour of its own, its own first): then indices compare
// as their colours do once put through `first`. `same`: no index needs it.
const Palette* oneSharedPalette(const Animation& a, uint8_t (&first)[256], bool& same) {
  const Palette* shared = nullptr;
  for (const Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (!f->dib) continue;
    const Palette* p = f->palette();
    if (!p || (shared && p != shared)) return nullptr;
    shared = p;
  }
  if (!shared) return nullptr;
  const PaletteIndexOf indexOf(shared);
  const int count = std::clamp(shared->count, 0, 256);
  same = true;
  for (int i = 0; i < 256; ++i) {
    first[i] = static_cast<uint8_t>(i < count ? indexOf(rgbKey((*shared)[i])) : i);
    same &= first[i] == i;
  }
  return shared;
}

// The three planes of the frame pass, each of the screen's size; with the
// smallest layout a fourth, the colour shown at each screen pixel (unless
// every frame shows one palette); and a row to work in.
struct Planes {
  std::vector<uint8_t> storage;
  std::vector<uint32_t> canvasColour;
  uint8_t* canvasIndex = nullptr;
  uint8_t* canvasKnown = nullptr;
  uint8_t* changeMask = nullptr;
  uint8_t* rowScratch = nullptr;  // a row of the screen's width
  size_t planeSize = 0;
  int stride = 0;

  bool allocate(int width, int height, bool colours) {
    if (!sizeAcceptable(width, height)) return false;
    stride = stride8(width);
    planeSize = static_cast<size_t>(stride) * static_cast<size_t>(height);
    try {
      storage.assign(3 * planeSize + static_cast<size_t>(stride), 0);
      if (colours) canvasColour.assign(planeSize, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    canvasIndex = storage.data();
    canvasKnown = canvasIndex + planeSize;
    changeMask = canvasKnown + planeSize;
    rowScratch = changeMask + planeSize;
    return true;
  }
};

// Frames up to this size are measured before and after (see below).
constexpr int64_t kMeasuredFramePixels = 40000;
// Larger ones too when their unchanged pixels lie scattered, fewer than 9/4
// per run on average: on noisy pictures the new index mostly breaks strings.
constexpr int64_t kScatteredPixels = 9, kScatteredRuns = 4;
// Frames up to this size are also measured written without transparency.
constexpr int64_t kShownFramePixels = 65536;
// A picture is busy when more than one pixel in this many differs from its
// left neighbour; on plain ones the transparency choices prefer runs within
// kRunLook pixels.
constexpr int64_t kBusyEdges = 5;
constexpr int kRunLook = 16;

// One row of a transparency trial's set-up: each unchanged pixel (mask 0)
// becomes `newIndex`, and its alternative is what shows there: its own
// colour, or for the frame's own transparent pixels (`own`, when `ownMask`
// is 0xFF) what is known below, else `newIndex`. Written as selects over
// every pixel so that the compiler makes vector code of it. Returns nonzero
// when some unchanged pixel was one of the frame's own transparent ones.
uint8_t splitRow(const uint8_t* __restrict mask, uint8_t* __restrict row,
                 uint8_t* __restrict alt, uint8_t* __restrict has,
                 const uint8_t* __restrict known, const uint8_t* __restrict shows, int w,
                 uint8_t own, uint8_t ownMask, uint8_t newIndex) {
  uint8_t see = 0;
  for (int x = 0; x < w; ++x) {
    const uint8_t v = row[x], k = known[x], s = shows[x];
    const uint8_t same = mask[x] == 0 ? 0xFF : 0;
    const uint8_t isOwn = (v == own ? 0xFF : 0) & ownMask;
    const uint8_t below = k ? s : newIndex;
    const uint8_t value = (isOwn & below) | (~isOwn & v);
    alt[x] = same & value;
    has[x] = same & (value != newIndex ? 1 : 0);
    row[x] = (same & newIndex) | (~same & v);
    see |= same & isOwn;
  }
  return see;
}

// Writes each unchanged pixel (mask 0) of a row as its alternative; returns
// the largest value the row then holds. Selects, as in splitRow, for vector code.
uint8_t shownRow(const uint8_t* __restrict mask, const uint8_t* __restrict alt,
                 uint8_t* __restrict row, int w) {
  uint8_t largest = 0;
  for (int x = 0; x < w; ++x) {
    const uint8_t keep = mask[x] != 0 ? 0xFF : 0;
    const uint8_t v = (keep & row[x]) | (~keep & alt[x]);
    row[x] = v;
    largest = std::max(largest, v);
  }
  return largest;
}

// Neighbours that differ, unchanged pixels (mask 0) and runs of them in one row.
void tallyRow(const uint8_t* __restrict row, const uint8_t* __restrict mask, int w,
              int64_t& edges, int64_t& unchanged, int64_t& runs) {
  int e = 0, u = mask[0] == 0, r = mask[0] == 0;
  for (int x = 1; x < w; ++x) {
    e += row[x] != row[x - 1];
    u += mask[x] == 0;
    r += (mask[x] == 0) & (mask[x - 1] != 0);
  }
  edges += e;
  unchanged += u;
  runs += r;
}

// The encoded size of `image`; with `bytes`, the encoding is made there too
// (left empty when it could not be made whole), for the frame to keep.
int64_t measureSmallest(const LzwImage& image, int codeSize, std::vector<uint8_t>* bytes) {
  if (bytes) {
    ByteSink sink(bytes);
    if (encodeLzw(sink, image, codeSize, LzwLayout::Smallest)) return sink.total();
    bytes->clear();  // only a whole encoding is ever kept
  }
  return lzwEncodedSize(image, codeSize, LzwLayout::Smallest);
}

// Ours, with the smallest layout. The transparent index becomes the colour
// most opaque unchanged pixels already have (among those no kept pixel uses;
// `f` when none is more common). Unchanged pixels start as that index, which
// makes long runs, and one encoder run writes each of them as its colour
// instead wherever that continues the string being matched (the variants of
// the standard layout are two fixed guesses at the same). Its choices only
// ever continue strings, so the result is mostly taken without measuring the
// frame as it was.
void flexibleTransparency(Frame& frame, const uint8_t* mask, int maskStride,
                          const ShownBelow* below, int f, bool keepEncoding) {
  const int w = frame.width, h = frame.height, stride = frame.dib->stride;
  uint8_t* px = frame.dib->data.data();
  // Transparent pixels take the new index whichever it is: only the opaque
  // unchanged ones decide.
  int64_t unchangedCount[256] = {};
  bool usedByKept[256] = {};
  int64_t unchangedPixels = 0, unchangedRuns = 0;
  int64_t edges = 0;  // neighbours in a row that differ
  {
    const bool seeThrough = frame.transparent();
    // Per value: the changed pixels (low half) and the opaque unchanged ones
    // (high half), in four tables taken in turn so that a run of one value
    // does not wait on its own count. A table takes about a quarter of a
    // frame's pixels (the first also each row's last few), and a frame has
    // far fewer than 2^32: each half holds its count.
    std::vector<uint64_t> tally(4 * 256, 0);
    constexpr uint64_t kOpaqueUnchanged = uint64_t{1} << 32;
    // Without a branch on the mask: on noisy frames changed and unchanged
    // pixels alternate at random.
    const uint64_t opaqueAny = !seeThrough;
    auto add = [&](int part, uint8_t v, uint8_t m) {
      const uint64_t changed = m != 0;
      const uint64_t opaque = (changed ^ 1) & (opaqueAny | static_cast<uint64_t>(v != f));
      tally[static_cast<size_t>(part) * 256 + v] += changed | opaque * kOpaqueUnchanged;
    };
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = px + static_cast<size_t>(y) * stride;
      const uint8_t* m = mask + static_cast<size_t>(y) * maskStride;
      tallyRow(row, m, w, edges, unchangedPixels, unchangedRuns);
      int x = 0;
      for (; x + 4 <= w; x += 4) {
        add(0, row[x], m[x]);
        add(1, row[x + 1], m[x + 1]);
        add(2, row[x + 2], m[x + 2]);
        add(3, row[x + 3], m[x + 3]);
      }
      for (; x < w; ++x) add(0, row[x], m[x]);
    }
    for (int v = 0; v < 256; ++v) {
      uint64_t changed = 0, opaque = 0;
      for (int part = 0; part < 4; ++part) {
        const uint64_t t = tally[static_cast<size_t>(part) * 256 + v];
        changed += t & 0xFFFFFFFFu;
        opaque += t >> 32;
      }
      usedByKept[v] = changed != 0;
      unchangedCount[v] = static_cast<int64_t>(opaque);
    }
  }
  // On plain pictures, strings that no table entry prefers start with the
  // value whose run goes on further (which makes them smaller there, and
  // larger on busy ones, where they start as the next pixel suggests).
  const bool plain = edges * kBusyEdges < static_cast<int64_t>(w) * h;
  const int limit = frame.palette() ? std::min(frame.palette()->count, 256) : 256;
  int g = f;
  for (int i = 0; i < limit; ++i)
    if (!usedByKept[i] && unchangedCount[i] > unchangedCount[g]) g = i;

  const LzwLayout layout = LzwLayout::Smallest;
  const std::vector<uint8_t> original(frame.dib->data);
  // Small frames are quick to measure as they were too, and there the
  // choices go wrong most often, as on frames whose unchanged pixels are
  // scattered; the others are taken as the run makes them.
  const bool measure = static_cast<int64_t>(w) * h <= kMeasuredFramePixels ||
                       kScatteredRuns * unchangedPixels < kScatteredPixels * unchangedRuns;
  const int beforeCodeSize = frameCodeSize(frame, layout);
  std::vector<uint8_t> beforeEncoding;  // kept when the frame stays as it was
  int64_t before = -1;
  if (measure)
    before = measureSmallest(LzwImage{px, w, h, stride, frame.interlaced()}, beforeCodeSize,
                             keepEncoding ? &beforeEncoding : nullptr);
  std::vector<uint8_t> alt(static_cast<size_t>(w) * h), has(alt.size());
  PixelsBack restore{frame, original};
  // Whether some unchanged pixel was the frame's own transparent index (only
  // those show as something else when written without transparency).
  bool seeThrough = false;
  {
    const bool transparent = frame.transparent();
    const uint8_t newIndex = static_cast<uint8_t>(g), ownIndex = static_cast<uint8_t>(f);
    // Without what shows below, nothing is known there: a row of zeros.
    const std::vector<uint8_t> unknown(below ? 0 : static_cast<size_t>(w), 0);
    uint8_t see = 0;
    for (int y = 0; y < h; ++y) {
      see |= splitRow(
          mask + static_cast<size_t>(y) * maskStride, px + static_cast<size_t>(y) * stride,
          alt.data() + static_cast<size_t>(y) * w, has.data() + static_cast<size_t>(y) * w,
          below ? below->known + static_cast<size_t>(y) * below->stride : unknown.data(),
          below ? below->colour + static_cast<size_t>(y) * below->stride : unknown.data(), w,
          ownIndex, transparent ? 0xFF : 0, newIndex);
    }
    seeThrough = see != 0;
  }
  const LzwImage image{px, w, h, stride, frame.interlaced()};
  int codeSize = frameCodeSize(frame, layout);
  std::vector<uint8_t> encoding;
  ByteSink sink(&encoding);
  bool keep = keepEncoding;
  int64_t after = flexibleLzwPass(image, codeSize, layout, alt.data(), has.data(), w,
                                  keep ? &sink : nullptr, plain ? kRunLook : 0);
  // Every unchanged pixel written as what shows there (transparent only
  // where nothing is known): where a frame repeats most of what it covers,
  // fewer values can beat any mixture with transparency. Without see-through
  // pixels that is the frame as it was, already measured when `measure`.
  if (after >= 0 && static_cast<int64_t>(w) * h <= kShownFramePixels && (seeThrough || !measure)) {
    std::vector<uint8_t> shown(original);
    uint8_t largest = 0;
    for (int y = 0; y < h; ++y)
      largest = std::max(largest, shownRow(mask + static_cast<size_t>(y) * maskStride,
                                           alt.data() + static_cast<size_t>(y) * w,
                                           shown.data() + static_cast<size_t>(y) * stride, w));
    const int shownCodeSize = std::max(2, colourBits(largest + 1));
    // Encoded once: when it wins, that encoding is the one kept.
    std::vector<uint8_t> shownEncoding;
    const int64_t opaque =
        measureSmallest(LzwImage{shown.data(), w, h, stride, frame.interlaced()}, shownCodeSize,
                        keep ? &shownEncoding : nullptr);
    if (opaque < after) {
      takePixels(frame, shown);
      after = opaque;
      codeSize = shownCodeSize;
      encoding = std::move(shownEncoding);
      keep = keep && !encoding.empty();
    }
  }
  // The variant allocates: until here, running out of memory puts the
  // pixels back rather than leaving them without their transparency.
  restore.armed = false;
  if (after < 0 || (measure && after >= before)) {
    takePixels(frame, original);
    if (keepEncoding && !beforeEncoding.empty())
      keepFrameEncoding(frame, LzwImage{frame.dib->data.data(), w, h, stride, frame.interlaced()},
                        beforeCodeSize, layout, std::move(beforeEncoding));
    return;
  }
  // The encoding just made is the frame's, for the save that follows.
  if (keep) keepFrameEncoding(frame, image, codeSize, layout, std::move(encoding));
  if (frame.dib->data == original) return;
  setTransparent(frame, false);
  setTransparentIndex(frame, g);
  setTransparent(frame, true);
}

}  // namespace

std::unique_ptr<Palette> shrinkPalette(const Palette& palette, const int64_t* usage,
                                       int* indexMap) {
  int used = 0;
  bool unused = false;
  Palette compact;
  for (int i = 0; i < palette.count; ++i) {
    if (usage[i] != 0) {
      compact[used] = palette[i];
      indexMap[i] = used++;
    } else {
      indexMap[i] = -1;
      unused = true;
    }
  }
  for (int i = palette.count; i < 256; ++i) indexMap[i] = -1;
  if (!unused) return nullptr;
  auto out = makePalette(compact.entries.data(), 1 << colourBits(used));
  if (!out) return nullptr;
  for (int i = used; i < out->count; ++i) (*out)[i] = Rgb{0, 0, 0};
  return out;
}

void tryTransparency(Frame& frame, const uint8_t* mask, int maskStride, LzwLayout layout,
                     const ShownBelow* below, bool keepEncoding) {
  const int w = frame.width, h = frame.height;
  if (!frame.dib || w <= 0 || h <= 0) return;
  const int stride = frame.dib->stride;
  const uint8_t* px = frame.dib->data.data();
  auto unchanged = [&](int x, int y) { return mask[static_cast<size_t>(y) * maskStride + x] == 0; };

  // 1. The index to use: the frame's own transparent index, else the highest
  //    one no kept pixel uses.
  int f;
  if (frame.transparent()) {
    f = frame.transparentIndex;
  } else {
    bool usedByKept[256] = {};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (!unchanged(x, y)) usedByKept[px[static_cast<size_t>(y) * stride + x]] = true;
    int count = frame.palette() ? frame.palette()->count : 256;
    f = -1;
    for (int i = count - 1; i >= 0; --i) {
      if (!usedByKept[i]) {
        f = i;
        break;
      }
    }
    if (f < 0) return;
  }

  if (layout == LzwLayout::Smallest) {
    flexibleTransparency(frame, mask, maskStride, below, f, keepEncoding);
    return;
  }

  // 2. Only a smaller encoding is worth it.
  int64_t best = frameEncodedSize(frame, layout);
  if (best == 0) return;
  // Every buffer is made before the frame is touched: running out of memory
  // (thrown to the caller) leaves the frame as it was.
  const std::vector<uint8_t> original(frame.dib->data);
  std::vector<uint8_t> a = original, b = original;
  std::vector<uint8_t> chosen;
  PixelsBack restore{frame, original};

  // 3. Variant A: every unchanged pixel becomes transparent.
  {
    bool changed = false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (unchanged(x, y)) {
          a[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>(f);
          changed = true;
        }
    if (changed) {
      takePixels(frame, a);
      int64_t size = frameEncodedSize(frame, layout);
      if (size != 0 && size < best) {
        best = size;
        chosen = std::move(a);
      }
    }
  }

  // 4. Variant B: only runs of unchanged pixels that would not continue a run
  //    of colour already coming from the left, where long runs compress well.
  {
    bool changed = false;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = b.data() + static_cast<size_t>(y) * stride;
      int x = 0;
      while (x < w) {
        if (!unchanged(x, y)) {
          ++x;
          continue;
        }
        int s = x, e = x;
        while (e < w && unchanged(e, y)) ++e;
        x = e;
        if (e - s < 2) continue;  // single pixels are never touched
        int fill;
        if (s > 0 && row[s] == row[s - 1]) {
          fill = s;
          while (fill < e && row[fill] == row[s]) ++fill;
        } else {
          bool oneColour = true;
          for (int i = s + 1; i < e && oneColour; ++i) oneColour = row[i] == row[s];
          if (oneColour) continue;
          fill = s;
        }
        for (int i = fill; i < e; ++i) {
          row[i] = static_cast<uint8_t>(f);
          changed = true;
        }
      }
    }
    if (changed) {
      takePixels(frame, b);
      int64_t size = frameEncodedSize(frame, layout);
      if (size != 0 && size < best) {
        best = size;
        chosen = std::move(b);
      }
    }
  }

  // 5. Keep the winner (or the original), with `f` as the transparent index.
  restore.armed = false;
  takePixels(frame, chosen.empty() ? original : chosen);
  if (!chosen.empty()) {
    setTransparent(frame, false);
    setTransparentIndex(frame, f);
    setTransparent(frame, true);
  }
}

namespace {

// The frame pass; `failed` is set when it ended with its resource message.
// With `keepEncoding`, frames keep the encodings their transparency trials
// made, for the save that follows.
bool framePass(Animation& a, uint32_t options, Progress* progress, bool& failed,
               bool keepEncoding = false) {
  if (!(options & opt::CropFrames)) return false;
  if (a.width <= 0 || a.height <= 0) return false;  // an empty screen shows nothing to compare
  // Ours, with the smallest layout: pixels are compared by the colour they
  // show, so frames with local palettes are compared with the screen too.
  const bool byColour = a.smallestEncoding;
  // With one palette for every frame, indices (each made its colour's first)
  // stand for colours: no colour plane, and what shows below a pixel is the
  // index there.
  uint8_t firstOf[256];
  bool sameFirst = true;
  const Palette* sharedPalette = byColour ? oneSharedPalette(a, firstOf, sameFirst) : nullptr;
  const bool compareColours = byColour && !sharedPalette;
  const bool byFirst = sharedPalette && !sameFirst;
  Planes p;
  if (!p.allocate(a.width, a.height, compareColours)) {
    showWarning(text(Str::OptimizeNoResources));
    failed = true;
    return false;
  }
  if (progress) {
    progress->setText(text(Str::OptimizingFrames));
    progress->setRange(a.frameCount());
  }
  const int S = p.stride;
  const LzwLayout layout = a.smallestEncoding ? LzwLayout::Smallest : LzwLayout::Standard;
  bool canvasHasContent = false;
  bool changed = false;
  // The transparency trials only read and change their own frame: they run on
  // workers while the pass goes on with the next frames.
  int64_t pixels = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    pixels += static_cast<int64_t>(f->width) * f->height;
  // A trial in the smallest layout encodes its frame two or three times:
  // far smaller frames than usual pay for a worker.
  const int64_t minTrial = layout == LzwLayout::Smallest ? 4096 : 40000;
  unsigned workers =
      (options & opt::Transparency)
          ? TaskPool::workersFor(static_cast<size_t>(a.frameCount()), pixels, minTrial)
          : 0;
  TaskPool trials(workers, 2 * workers, reporter());
  // A trial that ran out of memory left its frame as it was; the pass says so once.
  auto trialsFailed = [&] {
    if (!trials.failed()) return false;
    showWarning(text(Str::OptimizeRanOut));
    failed = true;
    return true;
  };

  for (Frame* f = firstFrame(a); f;) {
    int d = f->disposal();
    bool updatesCanvas = d != 2 && d != 3;
    if (f->localPalette && !byColour) {
      // Its indices mean other colours: never compared with the screen.
      d = 2;
      updatesCanvas = false;
    }
    // Colours as compared: an index beyond the palette is a colour of its own.
    uint32_t colourOf[256];
    if (compareColours) {
      const Palette* shown = f->palette();
      const int known = shown ? std::clamp(shown->count, 0, 256) : 0;
      for (int i = 0; i < known; ++i) colourOf[i] = rgbKey((*shown)[i]);
      for (int i = known; i < 256; ++i) colourOf[i] = 0x1000000u | static_cast<uint32_t>(i);
    }
    const int w = f->width, h = f->height, fs = f->dib ? f->dib->stride : 0;
    const int left = f->left, top = f->top;
    if (!f->dib || w <= 0 || h <= 0) {
      f = nextFrame(f);
      if (progress && !progress->step()) return changed;
      continue;
    }
    if (left < 0 || top < 0 || left + w > a.width || top + h > a.height) {
      // Not clipped to the screen (the driver clips first): left whole, and
      // what it covers of the screen is no longer known.
      for (int y = std::max(0, top); y < std::min(a.height, top + h); ++y)
        for (int x = std::max(0, left); x < std::min(a.width, left + w); ++x)
          p.canvasKnown[static_cast<size_t>(y) * S + x] = 0;
      f = nextFrame(f);
      if (progress && !progress->step()) return changed;
      continue;
    }

    if (!canvasHasContent && !f->transparent()) {
      if (updatesCanvas) {
        // Narrow frames down their columns: not a call per plane and row.
        for (int x = 0; x < w && w < 32; ++x) {
          const uint8_t* src = f->dib->data.data() + x;
          size_t at = static_cast<size_t>(top) * S + left + x;
          for (int y = 0; y < h; ++y, src += fs, at += S) {
            p.canvasIndex[at] = byFirst ? firstOf[*src] : *src;
            p.canvasKnown[at] = 1;
            if (compareColours) p.canvasColour[at] = colourOf[*src];
          }
        }
        for (int y = 0; y < h && w >= 32; ++y) {
          const size_t screen = static_cast<size_t>(top + y) * S + left;
          const uint8_t* src = f->dib->row(y);
          if (byFirst)
            for (int x = 0; x < w; ++x) p.canvasIndex[screen + x] = firstOf[src[x]];
          else
            std::memcpy(p.canvasIndex + screen, src, static_cast<size_t>(w));
          if (compareColours)
            for (int x = 0; x < w; ++x) p.canvasColour[screen + x] = colourOf[src[x]];
          std::memset(p.canvasKnown + screen, 1, static_cast<size_t>(w));
        }
        canvasHasContent = true;
      }
      f = nextFrame(f);
      if (progress && !progress->step()) return changed;
      continue;
    }

    // Which pixels must be kept; the canvas follows the frame as it goes.
    const bool transparent = f->transparent();
    const uint8_t ti = f->transparentIndex;
    bool anyKept = false;
    // Compared by colour, by index, or by index made its colour's first (one
    // loop each: this runs for every pixel). Whether the frame draws on the
    // canvas and whether it is disposed are fixed per frame; within a row,
    // selects rather than branches (opaque and transparent pixels alternate
    // at random on noisy pictures).
    enum { kByIndex, kByFirst, kByColour };
    auto scan = [&]<int By, bool Update, bool Dispose>() {
      constexpr bool ByColour = By == kByColour;
      const uint8_t seeThrough = transparent;
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = f->dib->row(y);
        const size_t screen = static_cast<size_t>(top + y) * S + left;
        uint8_t* known = p.canvasKnown + screen;
        uint8_t* index = p.canvasIndex + screen;
        uint32_t* colour = ByColour ? p.canvasColour.data() + screen : nullptr;
        uint8_t* mask = p.changeMask + static_cast<size_t>(y) * fs;
        uint8_t kept = 0, drawn = 0;
        // Each index made its colour's first in a row of its own first: the
        // loop below then reads bytes only, which the compiler makes vector code of.
        const uint8_t* first = src;
        if constexpr (By == kByFirst) {
          for (int x = 0; x < w; ++x) p.rowScratch[x] = firstOf[src[x]];
          first = p.rowScratch;
        }
        for (int x = 0; x < w; ++x) {
          const uint8_t px = src[x];
          const uint8_t k = known[x] != 0;
          const uint8_t opaque = !(seeThrough & (px == ti));
          uint8_t differs;
          const uint8_t shows = first[x];
          if constexpr (ByColour)
            differs = colourOf[px] != colour[x];
          else
            differs = shows != index[x];
          const uint8_t m = (Dispose & k) | (opaque & ((k == 0) | differs));
          mask[x] = m;
          kept |= m;
          if constexpr (Update) {
            // Compared by colour, the index plane is never read.
            if constexpr (ByColour)
              colour[x] = opaque ? colourOf[px] : colour[x];
            else
              index[x] = opaque ? shows : index[x];
            known[x] = opaque | k;
            drawn |= opaque;
          }
          if constexpr (Dispose) known[x] = 0;
        }
        anyKept |= kept != 0;
        canvasHasContent |= drawn != 0;
      }
    };
    auto scanFor = [&]<int By>() {
      if (updatesCanvas)
        scan.template operator()<By, true, false>();
      else if (d == 2)
        scan.template operator()<By, false, true>();
      else
        scan.template operator()<By, false, false>();
    };
    if (compareColours)
      scanFor.template operator()<kByColour>();
    else if (byFirst)
      scanFor.template operator()<kByFirst>();
    else
      scanFor.template operator()<kByIndex>();
    if (d == 2) {
      if (left == 0 && top == 0 && w >= a.width && h >= a.height) {
        canvasHasContent = false;
      } else {
        canvasHasContent =
            std::find(p.canvasKnown, p.canvasKnown + p.planeSize, 1) != p.canvasKnown + p.planeSize;
      }
    }

    int bx0 = 0, by0 = 0, bx1 = w, by1 = h;  // the box, half-open
    if (anyKept) {
      by0 = -1;
      bx0 = w;
      bx1 = 0;
      for (int y = 0; y < h; ++y) {
        const uint8_t* mask = p.changeMask + static_cast<size_t>(y) * fs;
        // Eight flags at a time over the unchanged stretches.
        int l = 0;
        for (uint64_t word; l + 8 <= w; l += 8) {
          std::memcpy(&word, mask + l, 8);
          if (word) break;
        }
        while (l < w && !mask[l]) ++l;
        if (l == w) continue;
        int r = w - 1;
        for (uint64_t word; r - 7 > l; r -= 8) {
          std::memcpy(&word, mask + r - 7, 8);
          if (word) break;
        }
        while (!mask[r]) --r;
        if (by0 < 0) by0 = y;
        by1 = y + 1;
        bx0 = std::min(bx0, l);
        bx1 = std::max(bx1, r + 1);
      }
    } else {
      Frame* prev = prevFrame(f);
      trials.drain();  // the frame before may still be on trial
      if (trialsFailed()) return changed;
      if ((options & opt::RemoveFrames) && prev && prev->disposal() != 2) {
        // Nothing changes: its time goes to the frame before.
        prev->delay = joinedDelay(prev->delay, f->delay);
        Frame* next = nextFrame(f);
        removeBlock(a, f);
        changed = true;
        f = next;
        continue;
      }
      bx0 = 0;
      by0 = 0;
      bx1 = 1;
      by1 = 1;
    }

    if (bx0 != 0 || by0 != 0 || bx1 != w || by1 != h) {
      if (!cropFrame(*f, bx0, by0, bx1, by1)) {
        showWarning(text(Str::OptimizeRanOut));
        failed = true;
        return changed;
      }
      changed = true;
    }

    if (options & opt::Transparency) {
      const uint8_t* mask = p.changeMask + static_cast<size_t>(by0) * fs + bx0;
      bool anyUnkept = false;
      for (int y = 0; y < by1 - by0 && !anyUnkept; ++y)
        for (int x = 0; x < bx1 - bx0; ++x)
          if (!mask[static_cast<size_t>(y) * fs + x]) {
            anyUnkept = true;
            break;
          }
      if (anyUnkept && workers == 0 && layout == LzwLayout::Standard) {
        tryTransparency(*f, mask, fs);
        changed = true;
      } else if (anyUnkept) {
        // The trial may run on a worker while the planes move on to the next
        // frames: it gets copies of its part of them.
        const int bw = bx1 - bx0, bh = by1 - by0;
        auto planes = std::make_shared<std::vector<uint8_t>>(
            static_cast<size_t>(bw) * bh * (layout == LzwLayout::Smallest ? 3 : 1));
        uint8_t* maskCopy = planes->data();
        for (int y = 0; y < bh; ++y)
          std::memcpy(maskCopy + static_cast<size_t>(y) * bw, mask + static_cast<size_t>(y) * fs,
                      static_cast<size_t>(bw));
        ShownBelow below;
        if (layout == LzwLayout::Smallest) {
          below.colour = maskCopy + static_cast<size_t>(bw) * bh;
          below.known = below.colour + static_cast<size_t>(bw) * bh;
          below.stride = bw;
          // What shows there, as an index of the frame's own palette (not
          // known where its palette lacks the colour).
          const PaletteIndexOf indexOf(f->palette());
          uint8_t* shown = const_cast<uint8_t*>(below.colour);
          uint8_t* knownCopy = const_cast<uint8_t*>(below.known);
          // Neighbours mostly show the same colour: the last one looked up is kept.
          uint32_t lastColour = p.canvasColour.empty() ? 0 : ~p.canvasColour[0];
          int lastIndex = -1;
          // Only the frame's own transparent pixels among the unchanged ones
          // are ever written as what shows there: the others are not looked up.
          const bool seeThrough = f->transparent();
          const uint8_t ti = f->transparentIndex;
          // The copies start all unknown: only a see-through frame has any.
          // With one palette for every frame, what shows is the index on
          // the canvas (its colour's first), when the palette holds it.
          const int held = sharedPalette ? std::clamp(sharedPalette->count, 0, 256) : 0;
          for (int y = 0; y < bh && seeThrough && sharedPalette; ++y) {
            const size_t screen = static_cast<size_t>(top + by0 + y) * S + left + bx0;
            const uint8_t* frameRow = f->dib->row(y);
            const uint8_t* maskRow = mask + static_cast<size_t>(y) * fs;
            const uint8_t* canvasKnown = p.canvasKnown + screen;
            const uint8_t* canvasIndex = p.canvasIndex + screen;
            uint8_t* knownRow = knownCopy + static_cast<size_t>(y) * bw;
            uint8_t* shownRow = shown + static_cast<size_t>(y) * bw;
            for (int x = 0; x < bw; ++x) {
              const uint8_t index = canvasIndex[x];
              const uint8_t wanted = (maskRow[x] == 0) & (frameRow[x] == ti) &
                                     (canvasKnown[x] != 0) & (index < held);
              knownRow[x] = wanted;
              shownRow[x] = wanted ? index : 0;
            }
          }
          for (int y = 0; y < bh && seeThrough && !sharedPalette; ++y) {
            const size_t screen = static_cast<size_t>(top + by0 + y) * S + left + bx0;
            const uint8_t* frameRow = f->dib->row(y);
            const uint8_t* maskRow = mask + static_cast<size_t>(y) * fs;
            const uint8_t* canvasKnown = p.canvasKnown + screen;
            const uint32_t* canvasColour = p.canvasColour.data() + screen;
            uint8_t* knownRow = knownCopy + static_cast<size_t>(y) * bw;
            uint8_t* shownRow = shown + static_cast<size_t>(y) * bw;
            for (int x = 0; x < bw; ++x) {
              const uint8_t wanted =
                  (maskRow[x] == 0) & (frameRow[x] == ti) & (canvasKnown[x] != 0);
              const uint32_t colour = canvasColour[x];
              // Rarely taken: runs of one colour share the lookup.
              if (wanted && colour != lastColour) {
                lastColour = colour;
                lastIndex = indexOf(colour);
              }
              knownRow[x] = wanted & (lastIndex >= 0);
              shownRow[x] = wanted ? static_cast<uint8_t>(std::max(lastIndex, 0)) : 0;
            }
          }
        }
        auto trial = [f, planes, bw, layout, below, keepEncoding] {
          tryTransparency(*f, planes->data(), bw, layout,
                          layout == LzwLayout::Smallest ? &below : nullptr, keepEncoding);
        };
        if (workers == 0)
          trial();
        else
          trials.submit(trial);
        changed = true;
      }
    }

    f = nextFrame(f);
    if (progress && !progress->step()) return changed;
  }
  trials.drain();
  trialsFailed();
  return changed;
}

bool palettePass(Animation& a, uint32_t options, Progress* progress,
                 const MergeOptions& mergeOptions, bool& failed) {
  bool changed = false;
  if (options & opt::RemoveLocalPalettes)
    changed |= removeLocalPalettes(a, options, progress, mergeOptions, &failed);
  if (progress && progress->cancelled()) return changed;
  if (options & opt::ShrinkPalettes) changed |= shrinkPalettes(a, progress);
  return changed;
}

}  // namespace

bool optimizeFrames(Animation& a, uint32_t options, Progress* progress, bool* failed) {
  bool ignored = false;
  return framePass(a, options, progress, failed ? *failed : ignored);
}

bool optimizePalettes(Animation& a, uint32_t options, Progress* progress,
                      const MergeOptions& mergeOptions, bool* failed) {
  bool ignored = false;
  return palettePass(a, options, progress, mergeOptions, failed ? *failed : ignored);
}

namespace {

// The passes over `target`; false when cancelled or a pass ran out of resources.
bool runPassesOn(Animation& target, const OptimizeJob& job) {
  Progress* progress = job.progress;
  auto cancelled = [&] { return progress && progress->cancelled(); };
  if (!clipFramesToScreen(target)) {
    showWarning(text(Str::OptimizeRanOut));
    return false;
  }
  removeUnwantedExtensions(target);
  // Sizes measured by the passes are those of the layout the result is written with.
  target.smallestEncoding = (job.options & opt::SmallestEncoding) != 0;
  // A pass that ends with its resource message fails the job (what it did
  // stays done).
  bool failed = false;
  if (job.options & (opt::RemoveLocalPalettes | opt::ShrinkPalettes)) {
    palettePass(target, job.options, progress, job.merge, failed);
    if (cancelled() || failed) return false;
  }
  if (job.options & opt::CropFrames) {
    framePass(target, job.options, progress, failed, job.keepEncoding);
    if (cancelled() || failed) return false;
  }
  if (job.options & opt::SmallestEncoding) orderPalettesForCodeSize(target);
  if (job.lossy > 0 && !applyLossyLzw(target, job.lossy, progress)) return false;
  return !cancelled();
}

// Whether a result of `trialSize` bytes replaces a document of `documentSize`:
// only a smaller one does. Otherwise the job says why it was left.
bool worthTaking(OptimizeJob& job, int64_t documentSize, int64_t trialSize) {
  if (trialSize < 0) return false;
  if (documentSize < 0 || trialSize < documentSize) return true;
  job.notTaken = true;
  job.notice = format(Str::OptimizeNotSmaller, formatByteCount(trialSize).c_str(),
                      formatByteCount(documentSize).c_str());
  return false;
}

// The passes of a job; false when it stopped early.
bool runPasses(OptimizeJob& job) {
  Progress* progress = job.progress;
  auto cancelled = [&] { return progress && progress->cancelled(); };
  job.notTaken = false;
  job.notice.clear();
  if (!job.hasDialog) {
    // In place, with a copy of the document as it was to go back to when
    // the result is no smaller. A cancel leaves what was done, as always.
    // Without that copy no result could be judged or undone: nothing is done.
    auto before = duplicateAnimation(*job.document, nullptr);
    if (!before) {
      showWarning(text(Str::OptimizeRanOut));
      return false;
    }
    bool finished = runPassesOn(*job.document, job);
    if (finished) {
      const int64_t trialSize =
          recountEncodedSize(*job.document, nullptr, job.gif, job.keepEncoding);
      const int64_t beforeSize = trialSize < 0 || before->encodedSize >= 0
                                     ? before->encodedSize
                                     : recountEncodedSize(*before, nullptr, job.gif, false);
      if ((trialSize < 0 && gifGeometryFits(*job.document)) ||
          (trialSize >= 0 && beforeSize < 0 && gifGeometryFits(*before))) {
        // A result, or the document it would replace, that cannot be
        // counted (memory ran out counting it): not taken, and the job says
        // it failed rather than that it ran.
        swapContents(*job.document, *before);
        showWarning(text(Str::OptimizeRanOut));
        return false;
      }
      // A result no GIF can hold has no size to compare: it goes back
      // quietly. One replacing a document no GIF can hold is taken.
      if (!worthTaking(job, beforeSize, trialSize)) {
        swapContents(*job.document, *before);  // its cached size included
        if (job.notTaken && job.tellNotTaken)
          reporter().message(text(Str::OptimizeCaption), job.notice, Icon::Information);
        return true;
      }
    }
    job.document->encodedSize = -1;
    return finished;
  }

  job.documentSize = job.trialSize = job.saving = -1;
  job.savingPercent = -1;
  job.trial.reset();
  job.trialValid = false;
  if (progress) progress->setText(text(Str::CopyingAnimation));
  job.trial = duplicateAnimation(*job.document, progress);
  if (!job.trial) {
    if (!cancelled()) showWarning(text(Str::OptimizeNoTrialMemory));
    return false;
  }
  if (cancelled()) return false;
  if (!runPassesOn(*job.trial, job)) return false;

  if (progress) progress->setText(text(Str::ComputingSize));
  const int64_t trialSize = recountEncodedSize(*job.trial, progress, job.gif, job.keepEncoding);
  if (cancelled()) return false;
  if (trialSize < 0) {
    // Not counted: memory ran out (a trial no GIF can hold has no size either).
    if (gifGeometryFits(*job.trial)) showWarning(text(Str::OptimizeRanOut));
    return false;
  }
  job.trialSize = trialSize;
  // The document is only read here (this may run on a worker while its
  // owner reads it too): its size as the owner knew it, else counted.
  int64_t docSize = job.knownDocumentSize >= 0 ? job.knownDocumentSize
                                               : countEncodedSize(*job.document, nullptr, job.gif);
  job.documentSize = docSize;
  if (docSize > 0 && docSize - trialSize >= 0) {
    job.saving = docSize - trialSize;
    job.savingPercent = static_cast<double>(job.saving) * 100.0 / static_cast<double>(docSize);
  }
  if (docSize > 0) worthTaking(job, docSize, trialSize);
  job.trialValid = true;
  return true;
}

}  // namespace

bool runOptimizeJob(OptimizeJob& job) {
  bool finished;
  try {
    finished = runPasses(job);
  } catch (const std::bad_alloc&) {
    // What a pass did before stays done, as after its own resource message.
    showWarning(text(Str::OptimizeRanOut));
    finished = false;
  }
  if (!finished && job.hasDialog) {
    job.trial.reset();
    job.trialValid = false;
  }
  if (job.progress) {
    job.progress->resetCancel();
    job.progress->setText("");
    job.progress->setRange(0);
  }
  return finished;
}

bool optimizeInPlace(Animation& animation, uint32_t options, const MergeOptions& mergeOptions,
                     Progress* progress) {
  OptimizeJob job;
  job.document = &animation;
  job.options = options;
  job.merge = mergeOptions;
  job.progress = progress;
  return runOptimizeJob(job);
}

OptimizeWorker::OptimizeWorker(Animation& document, Reporter& reporter,
                               const MergeOptions& mergeOptions, const GifWriteOptions& gif)
    : document_(document), reporter_(reporter) {
  job_.document = &document_;
  job_.merge = mergeOptions;
  job_.gif = gif;
  job_.hasDialog = true;
  progress_ = std::make_unique<Progress>();
  job_.progress = progress_.get();
}

OptimizeWorker::~OptimizeWorker() {
  cancelAndWait();
}

void OptimizeWorker::start(uint32_t options, int lossy) {
  cancelAndWait();
  job_.options = options;
  job_.lossy = lossy;
  // Here, on the owner's thread: the worker never touches the cache, and
  // only reads a document with nothing left to tidy.
  job_.knownDocumentSize = document_.encodedSize;
  try {
    document_.settle();
    if (!pool_) pool_ = std::make_unique<TaskPool>(1, 1, reporter_);
    if (pool_->threads() == 0) {
      pool_.reset();
      showWarning(text(Str::OptimizeNoTrialMemory));
      return;
    }
    busy_ = true;
    // Messages go to the owner's reporter (the pool's worker reports there;
    // the editor shows them on the window's thread); nothing thrown leaves it.
    pool_->submit([this] {
      try {
        runOptimizeJob(job_);
      } catch (...) {
        job_.trial.reset();
        job_.trialValid = false;
        showWarning(text(Str::OptimizeRanOut));
      }
      busy_ = false;
    });
  } catch (...) {
    // No worker (none to be had, or no memory to hand it the work): nothing
    // runs, so nothing is busy.
    busy_ = false;
    showWarning(text(Str::OptimizeNoTrialMemory));
  }
}

void OptimizeWorker::cancelAndWait() {
  if (pool_ && busy_.load()) progress_->cancel();
  wait();
  progress_->resetCancel();
}

void OptimizeWorker::wait() {
  if (pool_) pool_->drain();
}

bool OptimizeWorker::acceptTrial() {
  wait();
  if (!job_.trialValid || !job_.trial) return false;
  if (job_.notTaken || (job_.documentSize >= 0 && job_.trialSize >= job_.documentSize)) return false;
  // The document keeps its identity: its content is exchanged with the trial's.
  swapContents(document_, *job_.trial);
  job_.trial.reset();
  job_.trialValid = false;
  return true;
}

}  // namespace fb
