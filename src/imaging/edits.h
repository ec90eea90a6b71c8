// The document edits of the imaging operations and of frame editing, each as
// an Edit: its undo step's name, what it changes and the call. The editor's
// commands and the tests run them through runEdit. A dialog only collects the
// arguments: each operation checks them itself and, when it refuses, says why
// through the reporter and leaves the document as it was (no undo step stays).
//
// Edits that read a file live with their format: loadTimingEdit
// (formats/timing_file.h), loadPaletteFileEdit (formats/image_files.h); the
// external editor's read-back is ExternalEdit::readBack (io/external_edit.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "document/edit.h"
#include "document/pixel_edit.h"
#include "document/properties.h"
#include "gif/gif_writer.h"
#include "imaging/blend.h"
#include "imaging/palette_edit.h"
#include "imaging/palette_merge.h"
#include "imaging/transform.h"

namespace fb {

// ---- The imaging operations ----

// Optimize in place with these option bits and lossy strength ("优化动画"). A
// result no smaller than the document's encoding (measured as `gif` writes it)
// is not taken: the reporter says so and the edit ends with 0, so the document
// stays as it was and no undo step is left.
Edit optimizeEdit(uint32_t options, const MergeOptions& merge = {},
                  const GifWriteOptions& gif = {}, int lossy = 0);
// A trial copy the optimize dialog computed takes the document's place ("优化动画"):
// the old blocks stay with the undo step, nothing is copied. A trial whose job
// says `notTaken` (no smaller than the document) is not offered.
Edit acceptTrialEdit(std::shared_ptr<Animation> trial, const std::string& name);
// "反优化动画": every frame a whole opaque picture.
Edit unoptimizeEdit();
// "缩减调色板" (`quality`: the high-quality colour mode).
Edit reduceColoursEdit(int colours, bool dither, std::vector<Rgb> lockedColours = {},
                       bool quality = false);
// "减少帧计数": every `interval`-th frame goes.
Edit thinEdit(int interval);
// Frames of other documents (queued on `sources`) join before frame `position`
// (-1: at the end), palettes reconciled ("插入帧").
Edit insertEdit(std::shared_ptr<std::unique_ptr<Animation>> sources, int position,
                MergeChooser* chooser, const MergeOptions& merge = {});

// ---- Frame editing ----

// "反向顺序": the frames in reverse order (needs two; says so otherwise).
Edit reverseEdit();
// "乒乓动画": copies of frames n−2 down to 1 follow the last (frame_order.h).
Edit pingPongEdit();
// "删除": the frames at `indices` go.
Edit deleteFramesEdit(std::vector<int> indices);
// "移动帧": the frames at `indices` move before the frame at `before` (-1: the end).
Edit moveFramesEdit(std::vector<int> indices, int before);
// "全部居中": every frame centred on the screen.
Edit centreAllEdit();
// "延迟": the delay of the frames at `indices`, in ticks.
Edit setDelayEdit(std::vector<int> indices, int32_t delay);
// "时间": the timing editor's delays, one per frame, in ticks.
Edit setFrameDelaysEdit(std::vector<int> delays);
// "帧属性": a field edit of the frames at `indices` (disposal, transparency,
// transparent index, interlace, position, name): `apply` changes one frame and
// returns false when it cannot (then nothing changes).
Edit frameFieldsEdit(std::vector<int> indices, std::function<bool(Frame&)> apply);

// ---- Transforms (imaging/transform.h has the rules) ----
// Names: "顺时针旋转90°", "旋转180°", "逆时针旋转90°", "水平翻转", "垂直翻转".

// The whole animation, screen and all.
Edit rotateAnimationEdit(Rotation rotation);
Edit flipAnimationEdit(FlipAxis axis);
// The frames at `indices`, each about itself.
Edit rotateFramesEdit(std::vector<int> indices, Rotation rotation);
Edit flipFramesEdit(std::vector<int> indices, FlipAxis axis);
// "移动/剪切": frame `frame` keeps the part `crop` of itself, placed at left, top.
Edit moveCropFrameEdit(int frame, int left, int top, Rect crop);
// "剪切": the animation cut to the screen rectangle `rect`.
Edit cropAnimationEdit(Rect rect);
// "调整大小": the whole animation, or the frames at `indices`, to width × height
// (cancelled through the progress: 0, no step).
Edit resizeAnimationEdit(int width, int height, ResizeOptions options);
Edit resizeFramesEdit(std::vector<int> indices, int width, int height, ResizeOptions options);

// ---- Blend ----

// "混合动画": `other` drawn over the document picture by picture (imaging/blend.h);
// `chooser` answers the palette merge when its method asks (may be null).
// Cancelled (progress or the merge question), it ends with 0 and leaves no step.
Edit blendEdit(std::shared_ptr<const Animation> other, BlendOptions options, MergeChooser* chooser);

// ---- Palette editor ("全局调色板" or "局部调色板" after the target) ----

Edit setPaletteEntriesEdit(PaletteTarget target, int first, std::vector<Rgb> colours);
Edit reorderPaletteEdit(PaletteTarget target, std::vector<int> order);
Edit mergeDuplicateColoursEdit(PaletteTarget target);
// The palette takes `colours` from entry 0 (a loaded palette file's).
Edit replacePaletteColoursEdit(PaletteTarget target, std::vector<Rgb> colours);

// ---- Property dialogs and the comment editor ----

// "帧属性": the frame dialog on the frames at `indices`; "全局属性": every frame.
Edit framePropertiesEdit(std::vector<int> indices, FrameProperties properties);
Edit allFramePropertiesEdit(FrameProperties properties);
// "动画属性": screen size, play count, background index.
Edit animationPropertiesEdit(AnimationProperties properties);
// "GIF 注释": comment `index` (0-based among the comments) takes `text`; a new
// comment before the first frame; comment `index` goes.
Edit setCommentEdit(int index, std::string text);
Edit addCommentEdit(std::string text);
Edit removeCommentEdit(int index);

// ---- A dialog's session as one step ----

// The edits a dialog collected before OK (the palette editor's changes, the
// pixel editor's strokes) as one undo step named `name`, run in order; when
// one fails, runEdit takes them all back. None of them may add, remove or
// move blocks, so that every index names the same frame throughout.
Edit sessionEdit(std::string name, std::vector<Edit> edits);

// ---- Pixel editor ("编辑像素"; document/pixel_edit.h) ----

// One brush stroke: the points of frame `frame` take palette entry `index`.
Edit paintPixelsEdit(int frame, std::vector<Point> points, int index);
Edit floodFillEdit(int frame, Point start, int index);
// The index under `at` becomes the frame's transparent index.
Edit pickTransparentIndexEdit(int frame, Point at);

}  // namespace fb
