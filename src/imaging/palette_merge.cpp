#include "imaging/palette_merge.h"

#include <algorithm>
#include <new>
#include <vector>

#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "imaging/colour_match.h"
#include "imaging/dither.h"
#include "imaging/fixed_palette.h"
#include "imaging/frame_update.h"
#include "imaging/merge_engine.h"
#include "imaging/octree.h"
#include "resources/strings.h"

namespace fb {

uint32_t methodOf(uint32_t word) {
  for (uint32_t bit : {merge::Adaptive, merge::MergeGlobal, merge::MapGlobal, merge::Cube,
                       merge::Fixed, merge::LocalPerFrame})
    if (word & bit) return bit;
  return 0;
}

namespace {
int countFromCode(uint32_t code) {
  return code <= 2 || code > 8 ? 256 : 1 << code;
}
}  // namespace

int adaptiveColourCount(uint32_t word) {
  return countFromCode((word >> 16) & 0xF);
}
int localColourCount(uint32_t word) {
  return countFromCode((word >> 20) & 0xF);
}

std::unique_ptr<Palette> cubePalette() {
  auto p = makePalette(nullptr, 256);
  if (!p) return nullptr;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        (*p)[r * 36 + g * 6 + b] = Rgb{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)};
  return p;
}

uint32_t resolveMergeMethod(uint32_t method, const MergeOptions& options, MergeChooser* chooser) {
  auto decided = [](uint32_t w) { return methodOf(w) != 0 && !(w & merge::Ask); };
  if (decided(method)) return method;
  uint32_t stored = options.storedMethod;
  if (decided(stored)) return stored | (method & merge::Always);
  if (chooser) {
    MergeChooser::MethodChoice c = chooser->chooseMergeMethod(stored);
    if (!c.accepted || methodOf(c.method) == 0) return 0;
    return (c.method & ~merge::Ask) | (method & merge::Always);
  }
  // No one to ask: the recommended method, with the stored dither choice and counts.
  return merge::Adaptive | (stored & (merge::Dither | 0xFF0000u)) | (method & merge::Always);
}

int mergePalettes(Animation* target, Animation& sources, uint32_t method, MergeChooser* chooser,
                  Progress* progress, const MergeOptions& options) {
  MergeRequest request;
  request.target = target;
  request.sources = &sources;
  request.method = method;
  request.options = &options;
  request.chooser = chooser;
  request.progress = progress;
  if (target) request.insertAfter = lastBlock(*target);
  int result = runMerge(request);
  if (result == 1 && target) sources.nextAnimation.reset();
  return result;
}

int mapFrameIntoGlobalPalette(MergeChooser* chooser, Animation& a, Frame& frame, uint32_t method,
                              const MergeOptions& options,
                              const std::array<int64_t, 256>* receiverShown) {
  if (!frame.localPalette) return 1;
  if (!a.globalPalette) {
    // The local palette simply becomes the global one.
    setGlobalPalette(a, setLocalPalette(frame, nullptr));
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      if (!f->localPalette) refreshFrameColours(*f, a.globalPalette.get());
    recountColourUsage(a);
    return 1;
  }
  auto temp = createAnimation();
  if (!temp) {
    showWarning(text(Str::NoResourcesLocalPalette));
    return 0;
  }
  temp->width = a.width;
  temp->height = a.height;
  Block* before = frame.prev;
  const size_t position = a.positionOf(&frame);
  temp->append(a.take(&frame));
  uint8_t imageFlags = frame.imageFlags;
  setGlobalPalette(*temp, setLocalPalette(frame, nullptr));

  uint32_t m = method ? method : options.storedMethod;
  if (methodOf(m) == merge::LocalPerFrame) m = (m & ~merge::MethodBits) | merge::Adaptive;
  MergeRequest request;
  request.target = &a;
  request.sources = temp.get();
  request.method = methodOf(m) ? m | merge::Always : merge::Always;
  request.options = &options;
  request.chooser = chooser;
  request.insertAfter = before;
  request.receiverShown = receiverShown;
  int result = runMerge(request);
  if (result != 1) {
    // Put the frame back as it was.
    a.insertAt(position, {temp->take(&frame)});
    setLocalPalette(frame, setGlobalPalette(*temp, nullptr, false));
    frame.imageFlags = imageFlags;
    refreshFrameColours(frame, a.globalPalette.get());
  }
  return result;
}

void remapFramePixels(Frame& frame, Palette* palette, const Rgb* entries, int count,
                      const int* indexMap) {
  // Pixels and mask stay as they are when no index moves.
  bool moved = false;
  if (indexMap && frame.dib) {
    // One byte per index (a value with no new index keeps its own): a load
    // and a store per pixel, no test.
    uint8_t to[256];
    for (int i = 0; i < 256; ++i) {
      const int v = indexMap[i];
      to[i] = static_cast<uint8_t>(v >= 0 ? v : i);
      moved |= to[i] != i;
    }
    for (int y = 0; y < frame.dib->height && moved; ++y) {
      uint8_t* row = frame.dib->row(y);
      for (int x = 0; x < frame.dib->width; ++x) row[x] = to[row[x]];
    }
  }
  if (indexMap && frame.transparent()) {
    int t = indexMap[frame.transparentIndex];
    if (t < 0)
      frame.controlFlags &= static_cast<uint8_t>(~1);
    else
      frame.transparentIndex = static_cast<uint8_t>(t);
  }
  if (!frame.owner) frame.lendPalette(palette);
  if (frame.dib) {
    frame.dib->colours.fill(Rgb{});
    if (entries)
      std::copy(entries, entries + std::clamp(count, 0, 256), frame.dib->colours.begin());
  }
  const bool maskFits = frame.mask && frame.dib && frame.mask->width == frame.dib->width &&
                        frame.mask->height == frame.dib->height;
  if (moved || !maskFits || !frame.transparent()) {
    frame.mask.reset();
    if (frame.transparent() && frame.dib) frame.mask = buildMask(*frame.dib, frame.transparentIndex);
  }
}

void remapEachFrame(const std::vector<Frame*>& frames, const std::function<void(Frame&)>& remap) {
  int64_t pixels = 0;
  for (const Frame* f : frames) pixels += int64_t{f->width} * f->height;
  const unsigned workers = TaskPool::workersFor(frames.size(), pixels);
  std::vector<uint8_t> taken;
  if (workers > 1) {
    try {
      taken.assign(frames.size(), 0);
    } catch (const std::bad_alloc&) {
    }
  }
  // A frame half remapped could be neither redone nor left: a remap that
  // threw (none does) ends the program rather than leaving one behind.
  auto once = [&](size_t i) noexcept { remap(*frames[i]); };
  auto piece = [&](size_t i, bool) {
    taken[i] = 1;
    once(i);
    return true;
  };
  if (!taken.empty()) forEachPiece(frames.size(), workers - 1, std::ref(piece));
  for (size_t i = 0; i < frames.size(); ++i)
    if (taken.empty() || !taken[i]) once(i);
}

}  // namespace fb
