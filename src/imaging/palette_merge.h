// Palette merge: reconciling the colours of frames that join an animation
// (inserted, pasted, imported, read from true-colour pictures) with its
// palettes, by one of six methods chosen in the editor's "调色板合并" dialog or
// taken from the stored method word (preference word 10).
//
// Which frames take part:
//  - "new" frames: those of the source animations, and frames of the
//    receiving animation that hold 24-bit data but no indexed pixels yet;
//  - the adaptive, cube and fixed methods take in every frame drawn with the
//    global palette as well (the adaptive one also frames with local palettes
//    only when the word has 0x1000; cube and fixed map all frames).
// A method works only when some new frame has 24-bit data or the word has
// 0x1000. Otherwise (8-bit frames joining) no colour is changed: a new frame
// drawn with a palette equal to the receiver's global palette shares it, the
// first global palette becomes the receiver's when it has none, and any other
// palette comes along as the frame's local palette.
//
// True-colour frames: `rgb` rows of stride24(width) in R, G, B order and an
// optional `alpha` plane of stride8(width); alpha below 128 (kAlphaThreshold)
// is transparent. After mapping, the 24-bit data is dropped unless the
// general option "keep 24-bit colour and alpha data" (word 6, 0x2000000) is on.
//
// Every operation here changes nothing until all of its work has succeeded: a
// failure or a cancel leaves the documents as they were.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "document/animation.h"

namespace fb {

class Progress;

// The method word (preference word 10, default 0x880001).
namespace merge {
constexpr uint32_t Adaptive = 0x1;        // one adaptive global palette (octree) for everything
constexpr uint32_t MergeGlobal = 0x2;     // add new colours to the global palette where they fit
constexpr uint32_t MapGlobal = 0x4;       // map new frames to the global palette, unchanged
constexpr uint32_t Cube = 0x8;            // map everything to the 6 × 6 × 6 cube palette
constexpr uint32_t LocalPerFrame = 0x10;  // a local octree palette per new 24-bit frame
constexpr uint32_t Fixed = 0x400;         // map everything to the user's fixed palette
constexpr uint32_t Dither = 0x100;        // dither when mapping
constexpr uint32_t Ask = 0x200;           // ask every time
constexpr uint32_t Always = 0x1000;       // work without 24-bit data; adaptive takes local palettes
// Ours: the high-quality mode of the adaptive method (its palette refined by
// clustering, pixels given their exact nearest colours), for callers that
// ask for it.
constexpr uint32_t Quality = 0x2000;
constexpr uint32_t MethodBits = Adaptive | MergeGlobal | MapGlobal | Cube | LocalPerFrame | Fixed;
}  // namespace merge

// The user's settings a merge follows; the program fills it from the
// preference words (10, 6, 2, 1) and the stored fixed palette. These are the
// stored defaults.
struct MergeOptions {
  uint32_t storedMethod = 0x880001;             // the method word a merge asked with 0 uses
  bool keep24Bit = false;                       // keep 24-bit colour and alpha data after mapping
  uint32_t sizeRule = 32;                       // frame-size conflicts: 16 clip, 32 grow; +4 ask
  int32_t defaultPlayCount = 0;                 // an animation that grows from one frame takes it
  std::shared_ptr<const Palette> fixedPalette;  // the user's fixed palette; null: none
};

// The method bit in effect: the first of adaptive, merge, map, cube, fixed,
// local that is set; 0 when none is.
uint32_t methodOf(uint32_t word);
// Colour counts: bits 16–19 (adaptive palette) and 20–23 (per-frame palettes)
// hold log2 of the count, 3..8; a code of 2 or less (or above 8) means 256.
int adaptiveColourCount(uint32_t word);
int localColourCount(uint32_t word);

// The 256-entry cube palette: entry r × 36 + g × 6 + b (each 0..5) is
// (51r, 51g, 51b); entries 216–255 are black.
std::unique_ptr<Palette> cubePalette();

// The questions the editor asks with dialogs; batch mode and tests pass null
// (or their own answers).
class MergeChooser {
 public:
  virtual ~MergeChooser() = default;

  struct MethodChoice {
    bool accepted = false;     // false: the user cancelled
    uint32_t method = 0;       // the whole word: method bit, dither bit, colour counts
    bool makeDefault = false;  // "以此作为默认设置且不再提示" (the chooser stores it)
  };
  // Dialog 201 "调色板合并", opened with `suggested` (the stored word).
  virtual MethodChoice chooseMergeMethod(uint32_t suggested) = 0;

  enum class Size { Clip, Grow, Cancel };
  struct SizeChoice {
    Size size = Size::Grow;
    bool makeDefault = false;  // "使用这个作为默认设置不再提示" (the chooser stores it)
  };
  // Dialog 108 "帧尺寸冲突"; `suggestGrow` preselects the stored answer.
  virtual SizeChoice chooseSizeConflict(bool suggestGrow) = 0;
};

// The method word to use for a merge asked with `method`: `method` itself
// when it names a method and does not ask; else the stored word when it names
// one and does not ask; else the chooser's answer (a cancel returns 0), or
// without a chooser the recommended adaptive method with the stored dither bit
// and colour counts.
uint32_t resolveMergeMethod(uint32_t method, const MergeOptions& options, MergeChooser* chooser);

// Reconciles the palettes of `sources` (and the animations queued on its
// `nextAnimation`) with `target`. With a target, the sources' blocks are then
// appended to its chain (the sources are left empty, the queued records
// destroyed). Without one, the first source receives: its global palette is
// the "current global palette", and the queued sources end up with copies of
// it. `method` 0 means the stored word (asking through `chooser` when it says
// so). Returns 1 done, 2 cancelled, 0 failed (message shown).
int mergePalettes(Animation* target, Animation& sources, uint32_t method, MergeChooser* chooser,
                  Progress* progress, const MergeOptions& options = {});

// Moves the local-palette `frame` into the animation's global palette with
// the stored method (the per-frame method taken as adaptive; 0x1000 always
// on), the frame keeping its place. Without a global palette the local one
// simply becomes global. 1 done, 2 cancelled, 0 failed (message shown; the
// frame keeps its local palette).
// `method` other than 0 is used instead of the stored word (the optimizer's
// "map to the global palette" merges with method 0x2 this way).
// `receiverShown`: see MergeRequest (the caller then keeps colourUsage).
int mapFrameIntoGlobalPalette(MergeChooser* chooser, Animation& animation, Frame& frame,
                              uint32_t method = 0, const MergeOptions& options = {},
                              const std::array<int64_t, 256>* receiverShown = nullptr);

// Every pixel p becomes indexMap[p] (when a map is given; entries of −1 leave
// the pixel alone); the frame's colour table becomes `entries`, and a frame
// outside any animation shows `palette`. A transparent index that maps to −1 switches transparency
// off, otherwise it moves to its mapped value.
void remapFramePixels(Frame& frame, Palette* palette, const Rgb* entries, int count,
                      const int* indexMap);

// Calls `remap` on each of `frames` (which must not depend on each other),
// on workers beside the calling thread when the frames are large enough to
// pay. Each frame is remapped once, on this thread when no worker took it;
// nothing here throws, so a palette already changed never has frames left
// out (pass the callable as std::ref, which a std::function holds without
// allocating).
void remapEachFrame(const std::vector<Frame*>& frames, const std::function<void(Frame&)>& remap);

}  // namespace fb
