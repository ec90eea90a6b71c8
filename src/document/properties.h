// The property dialogs' edits: of frames (one frame, the selected frames, or
// all frames), of the animation, and of its comment blocks. Each is one call
// that validates everything first and changes the document only when all of
// it is valid (false, with the reason shown, and nothing changed otherwise).
// Fields left empty are not touched.
// Undo (the Edits of imaging/edits.h): frame properties change the named
// frames' fields; the animation's change the header; a comment edit puts new
// blocks in place of old ones, so only the block order changes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document/animation.h"

namespace fb {

struct FrameProperties {
  std::optional<int> delay;     // ticks, 0..65535 ("无效延迟值" otherwise)
  std::optional<int> disposal;  // 0 unspecified, 1 leave, 2 restore to background, 3 to previous
  std::optional<bool> transparent;
  std::optional<int> transparentIndex;  // 0..255
  std::optional<bool> userInput;
  std::optional<bool> interlaced;
  std::optional<int> left, top;     // 0..65535
  std::optional<std::string> name;  // empty: unnamed
};

bool setFrameProperties(Animation& animation, const std::vector<int>& frames,
                        const FrameProperties& properties);
bool setAllFrameProperties(Animation& animation, const FrameProperties& properties);

// The timing editor: every frame's delay at once, in ticks, the first frame's
// first. False (reason shown, nothing changed) when the count is not the
// frame count or a changed delay lies outside 0..65535 (a frame's own delay,
// given back unchanged, is kept whatever it is).
bool setFrameDelays(Animation& animation, const std::vector<int>& delays);

struct AnimationProperties {
  std::optional<int> width, height;    // the logical screen, 1..65535
  std::optional<int> playCount;        // 0 (forever)..65536 ("错误重复值" otherwise)
  std::optional<int> backgroundIndex;  // 0..255
};

bool setAnimationProperties(Animation& animation, const AnimationProperties& properties);

// The texts of the comment blocks, in stream order.
std::vector<std::string> comments(const Animation& animation);
// Comment `index` (0-based among the comments) takes `text`.
bool setComment(Animation& animation, int index, const std::string& text);
// A new comment block before the first frame.
bool addComment(Animation& animation, const std::string& text);
bool removeComment(Animation& animation, int index);

}  // namespace fb
