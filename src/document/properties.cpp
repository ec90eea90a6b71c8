#include "document/properties.h"

#include <new>

#include "base/reporter.h"
#include "document/edit_checks.h"
#include "resources/strings.h"

namespace fb {
namespace {

bool validFrameProperties(const FrameProperties& p) {
  if (p.delay && (*p.delay < 0 || *p.delay > 65535)) {
    reporter().message(text(Str::InvalidDelayCaption), text(Str::InvalidDelay), Icon::Warning);
    return false;
  }
  if (p.disposal && (*p.disposal < 0 || *p.disposal > 3)) {
    showWarning(text(Str::DisposalInvalid));
    return false;
  }
  if (p.transparentIndex && (*p.transparentIndex < 0 || *p.transparentIndex > 255)) {
    showWarning(text(Str::TransparentIndexInvalid));
    return false;
  }
  if ((p.left && !validPosition(*p.left)) || (p.top && !validPosition(*p.top))) {
    showWarning(text(Str::EditPositionInvalid));
    return false;
  }
  return true;
}

void setFlag(uint8_t& flags, uint8_t bit, bool on) {
  flags = static_cast<uint8_t>(on ? flags | bit : flags & ~bit);
}

// The comment blocks in stream order.
std::vector<Block*> commentBlocks(const Animation& a) {
  std::vector<Block*> out;
  for (Block* b = a.head->next; b; b = b->next)
    if (b->tag == kCommentTag) out.push_back(b);
  return out;
}

Block* commentNamed(const Animation& a, int index) {
  std::vector<Block*> all = commentBlocks(a);
  if (index >= 0 && index < static_cast<int>(all.size())) return all[static_cast<size_t>(index)];
  showWarning(format(Str::NoSuchComment, index + 1));
  return nullptr;
}

// A new comment block holding `text`; null (message shown) when memory runs out.
BlockPtr newComment(const std::string& textValue) {
  auto b = newBlock(kCommentTag, 0);
  if (!b) {
    showWarning(text(Str::NoMemoryComment));
    return nullptr;
  }
  if (!setCommentText(b.get(), textValue)) return nullptr;
  return BlockPtr(std::move(b));
}

}  // namespace

bool setFrameProperties(Animation& a, const std::vector<int>& frames, const FrameProperties& p) {
  std::vector<Frame*> chosen;
  if (!validFrameProperties(p) || !framesNamed(a, frames, chosen)) return false;
  for (Frame* f : chosen) {
    if (p.delay) f->delay = *p.delay;
    if (p.disposal) f->setDisposal(*p.disposal);
    if (p.userInput) setFlag(f->controlFlags, 0x02, *p.userInput);
    if (p.interlaced) setFlag(f->imageFlags, 0x40, *p.interlaced);
    if (p.left) f->left = *p.left;
    if (p.top) f->top = *p.top;
    if (p.transparentIndex) setTransparentIndex(*f, *p.transparentIndex);
    if (p.transparent) setTransparent(*f, *p.transparent);
    if (p.name) setFrameName(*f, p.name->empty() ? nullptr : p.name->c_str());
  }
  a.encodedSize = -1;
  return true;
}

bool setAllFrameProperties(Animation& a, const FrameProperties& p) {
  std::vector<int> all;
  for (int i = 0; i < a.frameCount(); ++i) all.push_back(i);
  return setFrameProperties(a, all, p);
}

bool setFrameDelays(Animation& a, const std::vector<int>& delays) {
  if (delays.size() != static_cast<size_t>(a.frameCount())) {
    showWarning(format(Str::DelayCountWrong, static_cast<int>(delays.size()), a.frameCount()));
    return false;
  }
  size_t i = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    // A delay kept as it is (one read from another format may be past what
    // can be typed) is no new value to check.
    FrameProperties p;
    if (delays[i] != f->delay) p.delay = delays[i];
    ++i;
    if (!validFrameProperties(p)) return false;
  }
  i = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) f->delay = delays[i++];
  a.encodedSize = -1;
  return true;
}

bool setAnimationProperties(Animation& a, const AnimationProperties& p) {
  if ((p.width && !validSize(*p.width)) || (p.height && !validSize(*p.height))) {
    showWarning(text(Str::EditSizeInvalid));
    return false;
  }
  if (p.playCount && (*p.playCount < 0 || *p.playCount > 65536)) {
    reporter().message(text(Str::InvalidPlayCountCaption), text(Str::InvalidPlayCount),
                       Icon::Warning);
    return false;
  }
  if (p.backgroundIndex && (*p.backgroundIndex < 0 || *p.backgroundIndex > 255)) {
    showWarning(text(Str::BackgroundIndexInvalid));
    return false;
  }
  if (p.width) a.width = *p.width;
  if (p.height) a.height = *p.height;
  if (p.playCount) setPlayCount(a, *p.playCount);
  if (p.backgroundIndex) a.backgroundIndex = static_cast<uint8_t>(*p.backgroundIndex);
  a.encodedSize = -1;
  return true;
}

std::vector<std::string> comments(const Animation& a) {
  std::vector<std::string> out;
  for (Block* b : commentBlocks(a)) commentText(b, out.emplace_back());
  return out;
}

bool setComment(Animation& a, int index, const std::string& textValue) {
  Block* old = commentNamed(a, index);
  if (!old) return false;
  // A new block in the old one's place: an undo step may share the old one.
  BlockPtr b = newComment(textValue);
  if (!b) return false;
  size_t position = a.positionOf(old);
  a.take(old);
  a.insertAt(position, {std::move(b)});
  a.encodedSize = -1;
  return true;
}

bool addComment(Animation& a, const std::string& textValue) {
  BlockPtr b = newComment(textValue);
  if (!b) return false;
  Frame* first = firstFrame(a);
  a.insertAt(first ? a.positionOf(first) : a.blockCount(), {std::move(b)});
  a.encodedSize = -1;
  return true;
}

bool removeComment(Animation& a, int index) {
  Block* b = commentNamed(a, index);
  if (!b) return false;
  removeBlock(a, b);
  a.encodedSize = -1;
  return true;
}

}  // namespace fb
