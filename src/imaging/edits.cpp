#include "imaging/edits.h"

#include <algorithm>

#include "document/frame_order.h"
#include "imaging/frame_count.h"
#include "imaging/frame_insert.h"
#include "imaging/optimizer.h"
#include "imaging/reduce.h"
#include "imaging/unoptimize.h"
#include "resources/strings.h"

namespace fb {
namespace {

// An operation that says itself why it refuses, as an Edit's result.
int done(bool ok) {
  return ok ? 1 : 0;
}

// The screen and every frame's pixels.
Change screenAndFrames() {
  Change c = Change::headerOnly();
  c.allFrames = true;
  return c;
}

std::string rotationName(Rotation r) {
  switch (r) {
    case Rotation::Clockwise90:
      return text(Str::UndoRotate90);
    case Rotation::Half:
      return text(Str::UndoRotate180);
    case Rotation::Anticlockwise90:
      break;
  }
  return text(Str::UndoRotate270);
}

std::string flipName(FlipAxis axis) {
  return text(axis == FlipAxis::Horizontal ? Str::UndoFlipHorizontal : Str::UndoFlipVertical);
}

// A palette edit: the global palette is in the header and colours every frame
// drawn with it (their colour tables follow it); a local one only its frame.
Edit paletteEdit(PaletteTarget target, std::function<bool(Animation&)> apply) {
  if (target.frame < 0)
    return {text(Str::UndoGlobalPalette), screenAndFrames(),
            [apply](Animation& a, Progress*) { return done(apply(a)); }};
  return {text(Str::UndoLocalPalette), Change::frameContent({target.frame}),
          [apply](Animation& a, Progress*) { return done(apply(a)); }};
}

}  // namespace

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
  return {text(Str::UndoUnoptimize), screenAndFrames(),
          [](Animation& a, Progress* progress) { return unoptimize(a, progress) ? 1 : 0; }};
}

Edit reduceColoursEdit(int colours, bool dither, std::vector<Rgb> locked, bool quality) {
  return {text(Str::UndoReduceColours), screenAndFrames(), [=](Animation& a, Progress* progress) {
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
          [](Animation& a, Progress*) { return done(reverseAnimation(a)); }};
}

Edit pingPongEdit() {
  return {text(Str::UndoPingPong), Change::reorder(),
          [](Animation& a, Progress*) { return done(pingPong(a)); }};
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
            centreFrames(a);
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

Edit setFrameDelaysEdit(std::vector<int> delays) {
  return {text(Str::UndoTiming), Change::allFrameFields(),
          [delays = std::move(delays)](Animation& a, Progress*) {
            return done(setFrameDelays(a, delays));
          }};
}

Edit sessionEdit(std::string name, std::vector<Edit> edits) {
  Change change;
  for (const Edit& e : edits) change |= e.change;
  return {std::move(name), change, [edits = std::move(edits)](Animation& a, Progress* progress) {
            for (const Edit& e : edits)
              if (e.apply(a, progress) != 1) return 0;
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

// ---- Transforms ----

Edit rotateAnimationEdit(Rotation r) {
  return {rotationName(r), screenAndFrames(),
          [r](Animation& a, Progress*) { return done(rotateAnimation(a, r)); }};
}

Edit flipAnimationEdit(FlipAxis axis) {
  Change c;
  c.allFrames = true;  // the screen stays
  return {flipName(axis), c,
          [axis](Animation& a, Progress*) { return done(flipAnimation(a, axis)); }};
}

Edit rotateFramesEdit(std::vector<int> indices, Rotation r) {
  return {rotationName(r), Change::frameContent(indices),
          [=](Animation& a, Progress*) { return done(rotateFrames(a, indices, r)); }};
}

Edit flipFramesEdit(std::vector<int> indices, FlipAxis axis) {
  return {flipName(axis), Change::frameContent(indices),
          [=](Animation& a, Progress*) { return done(flipFrames(a, indices, axis)); }};
}

Edit moveCropFrameEdit(int frame, int left, int top, Rect crop) {
  return {text(Str::UndoMoveCrop), Change::frameContent({frame}),
          [=](Animation& a, Progress*) { return done(moveCropFrame(a, frame, left, top, crop)); }};
}

Edit cropAnimationEdit(Rect rect) {
  return {text(Str::UndoCropAnimation), screenAndFrames(),
          [rect](Animation& a, Progress*) { return done(cropAnimation(a, rect)); }};
}

Edit resizeAnimationEdit(int width, int height, ResizeOptions options) {
  return {text(Str::UndoResize), screenAndFrames(), [=](Animation& a, Progress* progress) {
            return done(resizeAnimation(a, width, height, options, progress));
          }};
}

Edit resizeFramesEdit(std::vector<int> indices, int width, int height, ResizeOptions options) {
  return {text(Str::UndoResize), Change::frameContent(indices),
          [=](Animation& a, Progress* progress) {
            return done(resizeFrames(a, indices, width, height, options, progress));
          }};
}

// ---- Blend ----

Edit blendEdit(std::shared_ptr<const Animation> other, BlendOptions options,
               MergeChooser* chooser) {
  // New frames take the old ones' place (kept whole by the step), the global palette changes.
  return {text(Str::UndoBlend), Change::replacement(), [=](Animation& a, Progress* progress) {
            if (!other) return 0;
            // Cancelled, the blend changed nothing: no step stays, the document
            // is not marked modified.
            int r = blendAnimation(a, *other, options, chooser, progress);
            return r == 2 ? 0 : r;
          }};
}

// ---- Palette editor ----

Edit setPaletteEntriesEdit(PaletteTarget target, int first, std::vector<Rgb> colours) {
  return paletteEdit(target,
                     [=](Animation& a) { return setPaletteEntries(a, target, first, colours); });
}

Edit reorderPaletteEdit(PaletteTarget target, std::vector<int> order) {
  return paletteEdit(target, [=](Animation& a) { return reorderPalette(a, target, order); });
}

Edit mergeDuplicateColoursEdit(PaletteTarget target) {
  return paletteEdit(target, [=](Animation& a) { return mergeDuplicateColours(a, target); });
}

Edit replacePaletteColoursEdit(PaletteTarget target, std::vector<Rgb> colours) {
  return paletteEdit(target,
                     [=](Animation& a) { return replacePaletteColours(a, target, colours); });
}

// ---- Property dialogs and comments ----

Edit framePropertiesEdit(std::vector<int> indices, FrameProperties properties) {
  return {
      text(Str::UndoFrameProperties), Change::frameFields(indices),
      [=](Animation& a, Progress*) { return done(setFrameProperties(a, indices, properties)); }};
}

Edit allFramePropertiesEdit(FrameProperties properties) {
  return {text(Str::UndoAllFrames), Change::allFrameFields(),
          [=](Animation& a, Progress*) { return done(setAllFrameProperties(a, properties)); }};
}

Edit animationPropertiesEdit(AnimationProperties properties) {
  return {text(Str::UndoAnimationProperties), Change::headerOnly(),
          [=](Animation& a, Progress*) { return done(setAnimationProperties(a, properties)); }};
}

// Comment edits put new blocks in place of old ones: the block order is all a step keeps.
Edit setCommentEdit(int index, std::string textValue) {
  return {text(Str::UndoComment), Change::reorder(),
          [=](Animation& a, Progress*) { return done(setComment(a, index, textValue)); }};
}

Edit addCommentEdit(std::string textValue) {
  return {text(Str::UndoComment), Change::reorder(),
          [=](Animation& a, Progress*) { return done(addComment(a, textValue)); }};
}

Edit removeCommentEdit(int index) {
  return {text(Str::UndoComment), Change::reorder(),
          [=](Animation& a, Progress*) { return done(removeComment(a, index)); }};
}

// ---- Pixel editor ----

Edit paintPixelsEdit(int frame, std::vector<Point> points, int index) {
  return {text(Str::UndoPixels), Change::frameContent({frame}),
          [=](Animation& a, Progress*) { return done(paintPixels(a, frame, points, index)); }};
}

Edit floodFillEdit(int frame, Point start, int index) {
  return {text(Str::UndoPixels), Change::frameContent({frame}),
          [=](Animation& a, Progress*) { return done(floodFill(a, frame, start, index)); }};
}

Edit pickTransparentIndexEdit(int frame, Point at) {
  return {text(Str::UndoPixels), Change::frameContent({frame}),
          [=](Animation& a, Progress*) { return done(pickTransparentIndex(a, frame, at)); }};
}

}  // namespace fb
