#include "document/history.h"

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <new>
#include <unordered_set>

namespace fb {

struct History::Step {
  std::string name;
  Change change;
  std::unique_ptr<Animation> header;  // header fields and global palette, no chain
  bool hasOrder = false;
  std::vector<BlockPtr> order;
  // Each changed frame (held, so it outlives any removal) and its other state.
  struct Kept {
    BlockPtr frame;
    std::unique_ptr<Frame> state;
  };
  std::vector<Kept> frames;
  std::vector<const Frame*> selected;
  int32_t anchorIndex = -1;
  int currentFrame = -1;
  // The document's caches of what its blocks encode to, which any change may spoil.
  int32_t encodedSize = -1;
  bool smallestEncoding = false;
  std::unique_ptr<std::array<int64_t, 256>> colourUsage;
};

History::History(int levels) : levels_(levels < 0 ? 0 : levels) {}
History::~History() = default;

namespace {

// A copy of what an edit of the frame's fields may change.
std::unique_ptr<Frame> fieldsOf(const Frame& f) {
  auto c = copyFrameFields(f);
  if (!c) return nullptr;
  if (f.name) {
    addAtomRef(f.name);
    c->name = f.name;
  }
  return c;
}

// Everything the frame holds but its mask, which is rebuilt on the way back.
std::unique_ptr<Frame> contentOf(const Frame& f) {
  auto c = fieldsOf(f);
  if (!c) return nullptr;
  try {
    if (f.localPalette) {
      c->localPalette = copyPalette(*f.localPalette);
      if (!c->localPalette) return nullptr;
    }
    if (f.dib) {
      c->dib = copyBitmap(*f.dib);
      if (!c->dib) return nullptr;
    }
    c->rgb = f.rgb;
    c->alpha = f.alpha;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return c;
}

// The selected frames, sorted (so that applying them needs no memory).
std::vector<const Frame*> selectionOf(const Animation& a) {
  std::vector<const Frame*> out;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (f->selected) out.push_back(f);
  std::sort(out.begin(), out.end(), std::less<const Frame*>());
  return out;
}

void applySelection(Animation& a, const std::vector<const Frame*>& selected, int32_t anchor) {
  int n = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    const Frame* key = f;
    f->selected =
        std::binary_search(selected.begin(), selected.end(), key, std::less<const Frame*>()) ? 1
                                                                                             : 0;
    n += f->selected;
  }
  a.selectedCount = n;
  a.anchorIndex = n ? anchor : -1;
}

size_t bytesOf(const Frame& f) {
  size_t n = sizeof(Frame) + f.rgb.capacity() + f.alpha.capacity() + f.display.capacity();
  if (f.dib) n += sizeof(Bitmap) + f.dib->data.capacity();
  if (f.localPalette) n += sizeof(Palette);
  if (f.mask) n += sizeof(Mask) + f.mask->bits.capacity();
  return n;
}

size_t bytesOf(const Block& b) {
  return b.isFrame() ? bytesOf(static_cast<const Frame&>(b)) : sizeof(Block) + b.payload.capacity();
}

}  // namespace

void History::setLevels(int levels) {
  levels_ = std::max(0, levels);
  trim();
}

void History::trim() {
  if (levels_ == 0) {
    clear();
    return;
  }
  while (done_ > static_cast<size_t>(levels_)) {
    steps_.pop_front();
    --done_;
  }
  while (steps_.size() > static_cast<size_t>(levels_)) steps_.pop_back();
}

bool History::record(Animation& doc, const std::string& name, const Change& change,
                     int currentFrame) {
  if (levels_ == 0) return false;
  auto step = std::unique_ptr<Step>(new (std::nothrow) Step);
  if (!step) return false;
  try {
    step->name = name;
    step->change = change;
    if (change.header) {
      step->header = cloneAnimationHeader(doc);
      if (!step->header) return false;
      if (doc.globalPalette) {
        step->header->globalPalette = copyPalette(*doc.globalPalette);
        if (!step->header->globalPalette) return false;
      }
    }
    if (change.structure) {
      step->hasOrder = true;
      step->order = doc.blocks();
    }
    auto keep = [&](Frame* f) {
      if (!f) return true;
      auto state = change.fieldsOnly ? fieldsOf(*f) : contentOf(*f);
      if (!state) return false;
      step->frames.push_back({doc.share(f), std::move(state)});
      return true;
    };
    if (change.allFrames) {
      for (Frame* f = firstFrame(doc); f; f = nextFrame(f))
        if (!keep(f)) return false;
    } else {
      // Each frame once: a second copy would be swapped back over the first on the way back.
      std::vector<int> indices = change.frames;
      std::sort(indices.begin(), indices.end());
      indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
      for (int i : indices)
        if (!keep(frameAt(doc, i))) return false;
    }
    step->selected = selectionOf(doc);
    step->anchorIndex = doc.anchorIndex;
    step->currentFrame = currentFrame;
    step->encodedSize = doc.encodedSize;
    step->smallestEncoding = doc.smallestEncoding;
    if (!change.header && (change.structure || !change.fieldsOnly))
      step->colourUsage = std::make_unique<std::array<int64_t, 256>>(doc.colourUsage);
    // Before the redo steps, which a failed edit must not cost.
    steps_.insert(steps_.begin() + static_cast<std::ptrdiff_t>(done_), std::move(step));
    ++done_;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void History::commit() {
  steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(done_), steps_.end());
  trim();
}

void History::dropLast() {
  if (done_ == 0) return;
  steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(done_ - 1));
  --done_;
}

void History::rollBack(Animation& doc) {
  if (done_ == 0) return;
  int ignored = -1;
  // Nothing is kept for redo, and the frame index has room for the frames the
  // step held: this allocates nothing.
  exchange(*steps_[done_ - 1], doc, ignored, false);
  dropLast();
}

void History::exchange(Step& step, Animation& doc, int& currentFrame, bool keep) {
  // What allocates comes first, so that short of memory nothing has changed.
  // The selection as it is now, before any block moves: what the step keeps for the way back.
  std::vector<const Frame*> selected;
  if (keep) selected = selectionOf(doc);
  int32_t anchor = doc.anchorIndex;
  if (step.hasOrder) doc.swapBlocks(step.order);
  for (auto& kept : step.frames)
    swapFrameContent(static_cast<Frame&>(*kept.frame), *kept.state, step.change.fieldsOnly);
  if (step.header)
    swapHeaders(doc, *step.header);
  else {
    std::swap(doc.encodedSize, step.encodedSize);
    std::swap(doc.smallestEncoding, step.smallestEncoding);
  }
  if (step.colourUsage) std::swap(doc.colourUsage, *step.colourUsage);
  applySelection(doc, step.selected, step.anchorIndex);
  step.selected = std::move(selected);
  step.anchorIndex = anchor;
  std::swap(currentFrame, step.currentFrame);
}

bool History::undo(Animation& doc, int& currentFrame, Change* changed) {
  if (!canUndo()) return false;
  Step& step = *steps_[done_ - 1];
  try {
    exchange(step, doc, currentFrame);
  } catch (const std::exception&) {
    return false;  // short of memory: nothing changed, the step stays
  }
  if (changed) *changed = step.change;
  --done_;
  return true;
}

bool History::redo(Animation& doc, int& currentFrame, Change* changed) {
  if (!canRedo()) return false;
  Step& step = *steps_[done_];
  try {
    exchange(step, doc, currentFrame);
  } catch (const std::exception&) {
    return false;
  }
  if (changed) *changed = step.change;
  ++done_;
  return true;
}

std::string History::undoName() const {
  return canUndo() ? steps_[done_ - 1]->name : std::string();
}
std::string History::redoName() const {
  return canRedo() ? steps_[done_]->name : std::string();
}

void History::clear() {
  steps_.clear();
  done_ = 0;
}

size_t History::bytesHeld() const {
  size_t n = 0;
  std::unordered_set<const Block*> counted;
  for (const auto& step : steps_) {
    n += sizeof(Step) + step->name.capacity();
    if (step->header) n += sizeof(Animation) + (step->header->globalPalette ? sizeof(Palette) : 0);
    n += step->order.capacity() * sizeof(BlockPtr);
    // Blocks no longer in the document live on in the history alone.
    for (const BlockPtr& b : step->order)
      if (!b->owner && counted.insert(b.get()).second) n += bytesOf(*b);
    for (const auto& kept : step->frames) {
      n += sizeof(Step::Kept) + bytesOf(*kept.state);
      if (!kept.frame->owner && counted.insert(kept.frame.get()).second) n += bytesOf(*kept.frame);
    }
    n += step->selected.capacity() * sizeof(const Frame*);
  }
  return n;
}

}  // namespace fb
