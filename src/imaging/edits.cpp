#include "imaging/edits.h"

#include <algorithm>

#include "imaging/frame_count.h"
#include "imaging/frame_insert.h"
#include "imaging/optimizer.h"
#include "imaging/reduce.h"
#include "imaging/unoptimize.h"
#include "resources/strings.h"

namespace fb {

Edit optimizeEdit(uint32_t options, const MergeOptions& merge, const GifWriteOptions& gif,
                  int lossy) {
  return {text(Str::UndoOptimize), Change::everything(), [=](Animation& a, Progress* progress) {
            OptimizeJob job;
            job.document = &a;
            job.options = options;
            job.merge = merge;
            job.gif = gif;
            job.lossy = lossy;
            job.progress = progress;
            const bool finished = runOptimizeJob(job);
            if (job.notTaken) return 0;
            return finished ? 1 : 2;
          }};
}

Edit acceptTrialEdit(std::shared_ptr<Animation> trial, const std::string& name) {
  return {name, Change::replacement(), [trial](Animation& a, Progress*) {
            if (!trial || trial->blockCount() == 0) return 0;  // none, or accepted already
            swapContents(a, *trial);
            // The former blocks are the undo step's alone (or go, with undo
            // off), not also the dialog's, which may keep its trial.
            trial->takeAll();
            return 1;
          }};
}

Edit unoptimizeEdit() {
  Change c = Change::headerOnly();
  c.allFrames = true;
  return {text(Str::UndoUnoptimize), c,
          [](Animation& a, Progress* progress) { return unoptimize(a, progress) ? 1 : 0; }};
}

Edit reduceColoursEdit(int colours, bool dither, std::vector<Rgb> locked, bool quality) {
  Change c = Change::headerOnly();
  c.allFrames = true;
  return {text(Str::UndoReduceColours), c, [=](Animation& a, Progress* progress) {
            return reducePalettes(a, colours, dither, locked, progress, quality);
          }};
}

Edit thinEdit(int interval) {
  Change c = Change::reorder();
  c.allFrames = c.fieldsOnly = true;  // the frames before those that go take their time
  return {text(Str::UndoThin), c,
          [=](Animation& a, Progress*) { return reduceFrameCount(a, interval) ? 1 : 0; }};
}

Edit insertEdit(std::shared_ptr<std::unique_ptr<Animation>> sources, int position,
                MergeChooser* chooser, const MergeOptions& merge) {
  // The palettes may be merged anew, which remaps the frames already there.
  return {text(Str::UndoInsertFrames), Change::everything(), [=](Animation& a, Progress* progress) {
            return insertAnimations(a, *sources, position, chooser, progress, merge);
          }};
}

Edit reverseEdit() {
  return {text(Str::UndoReverse), Change::reorder(),
          [](Animation& a, Progress*) { return reverseFrames(a) ? 1 : 0; }};
}

Edit deleteFramesEdit(std::vector<int> indices) {
  std::sort(indices.begin(), indices.end());
  return {text(Str::UndoDelete), Change::reorder(), [indices](Animation& a, Progress*) {
            std::vector<Frame*> gone;
            for (int i : indices)
              if (Frame* f = frameAt(a, i)) gone.push_back(f);
            for (Frame* f : gone) a.take(f);
            a.encodedSize = -1;
            return 1;
          }};
}

Edit moveFramesEdit(std::vector<int> indices, int before) {
  return {text(Str::UndoMoveFrames), Change::reorder(), [=](Animation& a, Progress*) {
            if (moveFrames(a, indices, before) < 0) return 0;
            a.encodedSize = -1;
            return 1;
          }};
}

Edit centreAllEdit() {
  return {text(Str::UndoCentre), Change::allFrameFields(), [](Animation& a, Progress*) {
            for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
              f->left = (a.width - f->width) / 2;
              f->top = (a.height - f->height) / 2;
            }
            a.encodedSize = -1;
            return 1;
          }};
}

Edit setDelayEdit(std::vector<int> indices, int32_t delay) {
  return {text(Str::UndoDelays), Change::frameFields(indices), [=](Animation& a, Progress*) {
            for (int i : indices)
              if (Frame* f = frameAt(a, i)) f->delay = delay;
            return 1;
          }};
}

Edit frameFieldsEdit(std::vector<int> indices, std::function<bool(Frame&)> apply) {
  return {text(Str::UndoFrameProperties), Change::frameFields(indices),
          [=](Animation& a, Progress*) {
            for (int i : indices) {
              Frame* f = frameAt(a, i);
              if (f && !apply(*f)) return 0;
            }
            a.encodedSize = -1;
            return 1;
          }};
}

}  // namespace fb
