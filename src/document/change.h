// What an edit changes, said before it is made: the undo history keeps what a
// change covers (and shares everything else), and the editor refreshes only it.
#pragma once

#include <algorithm>
#include <vector>

namespace fb {

struct Change {
  bool header = false;      // screen size, global palette, play count, background, flags
  bool structure = false;   // blocks inserted, removed or moved
  bool allFrames = false;   // the content of every frame
  std::vector<int> frames;  // the content of these frames (indices before the edit)
  // Frame content means only the frames' fields (delay, disposal, position,
  // transparency, flags, name), never their pixels, palettes or size.
  bool fieldsOnly = false;

  static Change headerOnly() {
    Change c;
    c.header = true;
    return c;
  }
  static Change reorder() {
    Change c;
    c.structure = true;
    return c;
  }
  // Everything but the blocks' content: for edits that put new blocks in
  // place of the old ones (an accepted trial copy).
  static Change replacement() {
    Change c;
    c.header = c.structure = true;
    return c;
  }
  static Change everything() {
    Change c;
    c.header = c.structure = c.allFrames = true;
    return c;
  }
  static Change frameContent(std::vector<int> indices) {
    Change c;
    c.frames = std::move(indices);
    return c;
  }
  static Change frameFields(std::vector<int> indices) {
    Change c = frameContent(std::move(indices));
    c.fieldsOnly = true;
    return c;
  }
  static Change allFrameFields() {
    Change c;
    c.allFrames = c.fieldsOnly = true;
    return c;
  }

  bool empty() const { return !header && !structure && !allFrames && frames.empty(); }
  bool coversFrame(int index) const {
    return allFrames || std::find(frames.begin(), frames.end(), index) != frames.end();
  }
  // Both changes: fields only when both are.
  Change& operator|=(const Change& o) {
    header |= o.header;
    structure |= o.structure;
    fieldsOnly = (fieldsOnly || (frames.empty() && !allFrames)) &&
                 (o.fieldsOnly || (o.frames.empty() && !o.allFrames));
    allFrames |= o.allFrames;
    frames.insert(frames.end(), o.frames.begin(), o.frames.end());
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return *this;
  }
};

}  // namespace fb
