// The optimizer: makes the GIF encoding of a document smaller without changing
// what a viewer sees. Clean-up, palette pass, frame pass, size report.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "document/animation.h"
#include "gif/gif_writer.h"
#include "base/task_pool.h"
#include "imaging/palette_merge.h"

namespace fb {

class Progress;
class Reporter;

// Option bits (saved as preference word 5, default 0x46E).
namespace opt {
constexpr uint32_t CropFrames = 0x002;           // frame pass: crop to what changes
constexpr uint32_t Transparency = 0x004;         // frame pass: unchanged pixels transparent
constexpr uint32_t RemoveLocalPalettes = 0x008;  // palette pass
constexpr uint32_t MapToGlobal = 0x010;     // method: map every local frame into the global palette
constexpr uint32_t ShrinkPalettes = 0x020;  // palette pass: drop unused entries
constexpr uint32_t RemoveFrames = 0x040;    // frame pass: frames that change nothing go
constexpr uint32_t AdaptiveGlobal = 0x400;  // method: one adaptive global palette
constexpr uint32_t Manual = 0x800;          // dialog: compute only on request
// Ours, above every bit of the stored word's table (off in the stored default
// 0x46E): write with the smallest LZW layout (code sizes from the indices
// used, clears deferred while the table pays) and renumber palettes so frames
// need fewer bits.
constexpr uint32_t SmallestEncoding = 0x1000;
// What `--optimize=best` asks for: every lossless option, the method that only
// removes local palettes whose colours fit, and the smallest layout.
constexpr uint32_t Best = CropFrames | Transparency | RemoveLocalPalettes | ShrinkPalettes |
                          RemoveFrames | SmallestEncoding;
}  // namespace opt

struct OptimizeJob {
  Animation* document = nullptr;
  std::unique_ptr<Animation> trial;  // the private copy a dialog works on
  bool hasDialog = false;            // with a dialog: work on a trial copy
  Progress* progress = nullptr;
  uint32_t options = 0;  // the options the trial was computed with
  MergeOptions merge;    // the user's merge settings, for the palette pass
  GifWriteOptions gif;   // sizes are measured as the document will be saved
  // Lossy LZW strength (0 = off): pixels may take close colours that compress better.
  int lossy = 0;
  bool trialValid = false;
  // The result was not smaller than the document's current encoding, so it is
  // not taken (the document stays as it was); `notice` says so to the user.
  bool notTaken = false;
  std::string notice;
  // In place: whether the reporter is told of a result not taken (a caller
  // that says so in its own words turns it off).
  bool tellNotTaken = true;
  // The result is saved next: its size count keeps what it encoded for that
  // save (in the smallest layout).
  bool keepEncoding = false;
  // The document's encoded size when its owner knew it (-1: counted when
  // needed, without touching the document).
  int64_t knownDocumentSize = -1;

  // The size report (bytes; -1 = not shown).
  int64_t documentSize = -1;
  int64_t trialSize = -1;
  int64_t saving = -1;
  double savingPercent = -1;  // of the document's size; -1 = not shown
};

// With a dialog: runs the passes on a fresh trial copy, which waits for
// acceptTrial. Without one: runs them in place, and when the result's
// encoding is not smaller than the document's current one, the document's
// content goes back to a copy made before (the reporter is told; when no copy
// could be made, the result stays). Returns false when it stopped early:
// cancelled, or a pass ended with its resource message (then what was done
// stays done; a dialog's trial is dropped).
bool runOptimizeJob(OptimizeJob& job);

// In place with the given option bits (the saved ones for batch mode).
bool optimizeInPlace(Animation& animation, uint32_t options, const MergeOptions& mergeOptions = {},
                     Progress* progress = nullptr);

// The two passes; each returns true when it changed something. `failed`
// (when given) is set when the pass ended with its resource message.
bool optimizePalettes(Animation& animation, uint32_t options, Progress* progress,
                      const MergeOptions& mergeOptions = {}, bool* failed = nullptr);
bool optimizeFrames(Animation& animation, uint32_t options, Progress* progress,
                    bool* failed = nullptr);

// What the screen shows under a frame's transparent pixels where that is known
// (frame-addressed planes, `stride` apart; `known` nonzero where it is).
struct ShownBelow {
  const uint8_t* colour = nullptr;
  const uint8_t* known = nullptr;
  int stride = 0;
};

// Tries making the frame's unchanged pixels (mask 0) transparent, keeping the
// variant only when its encoding is smaller. Sizes are measured in `layout`,
// the one the document will be written with; in the smallest one each
// unchanged pixel may also be written as what `below` shows there; with
// `keepEncoding`, the frame keeps the encoding that trial made for the save
// that follows.
void tryTransparency(Frame& frame, const uint8_t* changeMask, int maskStride,
                     LzwLayout layout = LzwLayout::Standard, const ShownBelow* below = nullptr,
                     bool keepEncoding = false);

// A compacted copy of `palette` without its unused entries (usage 0), padded
// to a power of two with black; `indexMap` sends old indices to new ones (-1
// for dropped entries). Null when every entry is used.
std::unique_ptr<Palette> shrinkPalette(const Palette& palette, const int64_t* usage, int* indexMap);

// Runs optimizations on a worker thread over a private copy, for a dialog: a
// new request cancels the running one, waits for it and starts again. The
// worker only reads the document; its messages go to `reporter` (the
// owner's, which must take messages from any thread).
class OptimizeWorker {
 public:
  OptimizeWorker(Animation& document, Reporter& reporter, const MergeOptions& mergeOptions,
                 const GifWriteOptions& gif);
  ~OptimizeWorker();
  void start(uint32_t options, int lossy = 0);
  void cancelAndWait();
  void wait();
  bool busy() const { return busy_.load(); }
  // The finished job (only while not busy).
  OptimizeJob& job() { return job_; }
  // Moves the trial's content into the document when it is valid and smaller
  // than the document's encoding; true when swapped.
  bool acceptTrial();

 private:
  Animation& document_;
  Reporter& reporter_;
  OptimizeJob job_;
  std::unique_ptr<Progress> progress_;
  std::atomic<bool> busy_{false};
  // One worker; declared last so that it stops before what its task uses goes.
  std::unique_ptr<TaskPool> pool_;
};

}  // namespace fb
