// The document edits of the imaging operations and of frame editing, each as
// an Edit: its undo step's name, what it changes and the call. The editor's
// commands and the tests run them through runEdit.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "document/edit.h"
#include "gif/gif_writer.h"
#include "imaging/palette_merge.h"

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

// "反向顺序": the frames in reverse order (needs two).
Edit reverseEdit();
// "删除": the frames at `indices` go.
Edit deleteFramesEdit(std::vector<int> indices);
// "移动帧": the frames at `indices` move before the frame at `before` (-1: the end).
Edit moveFramesEdit(std::vector<int> indices, int before);
// "全部居中": every frame centred on the screen.
Edit centreAllEdit();
// "延迟": the delay of the frames at `indices`, in ticks.
Edit setDelayEdit(std::vector<int> indices, int32_t delay);
// "帧属性": a field edit of the frames at `indices` (disposal, transparency,
// transparent index, interlace, position, name): `apply` changes one frame and
// returns false when it cannot (then nothing changes).
Edit frameFieldsEdit(std::vector<int> indices, std::function<bool(Frame&)> apply);

}  // namespace fb
