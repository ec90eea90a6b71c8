#include "document/animation.h"

#include <algorithm>
#include <climits>
#include <new>

#include "resources/strings.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"

namespace fb {

// ---- Records ----

Frame::~Frame() {
  if (name) deleteAtom(name);
}

Animation::~Animation() {
  Block* b = head;
  while (b) b = destroyBlock(b);
  head = nullptr;
  // Destroy a long queue iteratively rather than by recursion.
  std::unique_ptr<Animation> queued = std::move(nextAnimation);
  while (queued) queued = std::move(queued->nextAnimation);
}

// ---- Creation and destruction ----

std::unique_ptr<Animation> createAnimation() {
  auto a = std::unique_ptr<Animation>(new (std::nothrow) Animation);
  if (!a) return nullptr;
  a->head = newBlock(kSentinelTag, 0);
  if (!a->head) return nullptr;
  return a;
}

std::unique_ptr<Animation> newAnimation(int width, int height) {
  auto a = createAnimation();
  if (!a) return nullptr;
  a->width = width;
  a->height = height;
  a->playCount = static_cast<int32_t>(prefGet(pref::DefaultPlayCount));
  Frame* f = newBlankFrame(width, height);
  if (!f) return nullptr;
  link(a->head, f);
  a->frameCount = 1;
  return a;
}

std::unique_ptr<Animation> cloneAnimationHeader(const Animation& src) {
  auto a = createAnimation();
  if (!a) return nullptr;
  a->width = src.width;
  a->height = src.height;
  a->playCount = src.playCount;
  a->frameCount = 0;
  a->hideFirstFrame = src.hideFirstFrame;
  a->apngRules = src.apngRules;
  a->anchorIndex = src.anchorIndex;
  a->selectedCount = src.selectedCount;
  a->screenFlags = src.screenFlags;
  a->backgroundIndex = src.backgroundIndex;
  a->aspectRatio = src.aspectRatio;
  a->encodedSize = src.encodedSize;
  a->smallestEncoding = src.smallestEncoding;
  a->colourUsage = src.colourUsage;
  return a;
}

std::unique_ptr<Animation> duplicateAnimation(const Animation& src, Progress* progress) {
  auto a = cloneAnimationHeader(src);
  if (!a) return nullptr;
  a->frameCount = src.frameCount;
  if (src.globalPalette) {
    a->globalPalette = copyPalette(*src.globalPalette);
    if (!a->globalPalette) return nullptr;
  }
  if (progress) {
    int blocks = 0;
    for (Block* b = src.head->next; b; b = b->next) ++blocks;
    progress->setRange(blocks);
  }
  Block* tail = a->head;
  for (Block* b = src.head->next; b; b = b->next) {
    Block* copy = duplicateBlock(b, a->globalPalette.get());
    if (!copy) return nullptr;  // the partial copy is freed with `a`
    link(tail, copy);
    tail = copy;
    if (progress) progress->step();
  }
  return a;
}

void destroyAnimation(Animation* animation) { delete animation; }

Block* newBlock(uint8_t tag, size_t payloadSize) {
  if (tag == kFrameTag) return new (std::nothrow) Frame;
  auto* b = new (std::nothrow) Block;
  if (!b) return nullptr;
  b->tag = tag;
  try {
    b->payload.assign(payloadSize, 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  return b;
}

Frame* newFrame(const uint8_t* controlBytes) {
  auto* f = new (std::nothrow) Frame;
  if (!f) return nullptr;
  if (controlBytes) {
    // controlBytes[0] is the block size; then packed byte, delay (LE), index.
    unsigned d = controlBytes[2] | (controlBytes[3] << 8);
    f->delay = gifDelayToTicks(d);
    f->controlFlags = controlBytes[1];
    f->transparentIndex = controlBytes[4];
  } else {
    f->delay = static_cast<int32_t>(prefGet(pref::DefaultDelay));
  }
  return f;
}

Frame* newBlankFrame(int width, int height) {
  Frame* f = newFrame(nullptr);
  if (!f) return nullptr;
  f->width = width;
  f->height = height;
  return f;
}

Block* destroyBlock(Block* block) {
  if (!block) return nullptr;
  Block* next = block->next;
  delete block;
  return next;
}

Block* duplicateBlock(const Block* block, Palette* palette) {
  if (!block) return nullptr;
  if (!block->isFrame()) {
    Block* b = newBlock(block->tag, 0);
    if (!b) return nullptr;
    try {
      b->payload = block->payload;
    } catch (const std::bad_alloc&) {
      delete b;
      return nullptr;
    }
    return b;
  }
  const auto& src = static_cast<const Frame&>(*block);
  auto* f = new (std::nothrow) Frame;
  if (!f) return nullptr;
  std::unique_ptr<Frame> guard(f);
  f->selected = src.selected;
  f->scratchIndex = src.scratchIndex;
  f->left = src.left;
  f->top = src.top;
  f->width = src.width;
  f->height = src.height;
  f->hotspotX = src.hotspotX;
  f->hotspotY = src.hotspotY;
  f->delay = src.delay;
  f->blend = src.blend;
  f->controlFlags = src.controlFlags;
  f->transparentIndex = src.transparentIndex;
  f->imageFlags = src.imageFlags;
  if (src.localPalette) {
    auto local = copyPalette(*src.localPalette);
    if (!local) return nullptr;
    setLocalPalette(*f, std::move(local));
    f->imageFlags = src.imageFlags;  // keep the size code exactly as it was
  } else {
    f->palette = palette;
  }
  try {
    if (src.dib) {
      f->dib = copyBitmap(*src.dib);
      if (!f->dib) return nullptr;
      if (f->palette) {
        std::fill(f->dib->colours.begin(), f->dib->colours.end(), Rgb{});
        std::copy(f->palette->entries.begin(), f->palette->entries.begin() + f->palette->count,
                  f->dib->colours.begin());
      }
      if (f->transparent()) {
        f->mask = buildMask(*f->dib, f->transparentIndex);
        if (!f->mask) return nullptr;
      }
    }
    f->rgb = src.rgb;
    f->alpha = src.alpha;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (src.name) {
    addAtomRef(src.name);
    f->name = src.name;
  }
  return guard.release();
}

// ---- Chain editing ----

void exchangeContent(Animation& d, Animation& t) {
  std::swap(d.width, t.width);
  std::swap(d.height, t.height);
  std::swap(d.playCount, t.playCount);
  std::swap(d.frameCount, t.frameCount);
  std::swap(d.hideFirstFrame, t.hideFirstFrame);
  std::swap(d.apngRules, t.apngRules);
  std::swap(d.head, t.head);
  std::swap(d.anchorIndex, t.anchorIndex);
  std::swap(d.selectedCount, t.selectedCount);
  std::swap(d.globalPalette, t.globalPalette);
  std::swap(d.screenFlags, t.screenFlags);
  std::swap(d.backgroundIndex, t.backgroundIndex);
  std::swap(d.aspectRatio, t.aspectRatio);
  std::swap(d.encodedSize, t.encodedSize);
  std::swap(d.smallestEncoding, t.smallestEncoding);
  std::swap(d.colourUsage, t.colourUsage);
}

void link(Block* a, Block* b) {
  a->next = b;
  if (b) b->prev = a;
}

void insertAfter(Block* a, Block* b) {
  Block* after = a->next;
  link(a, b);
  link(b, after);
}

Block* unlinkBlock(Block* block) {
  if (block->prev) link(block->prev, block->next);
  else if (block->next) block->next->prev = nullptr;
  block->next = nullptr;
  block->prev = nullptr;
  return block;
}

Block* removeBlock(Animation& animation, Block* block) {
  Block* next = block->next;
  unlinkBlock(block);
  destroyBlock(block);
  return next;
}

bool reverseFrames(Animation& animation) {
  if (animation.frameCount < 2) return false;
  Block* b = animation.head->next;
  Block* reversed = nullptr;
  while (b) {
    Block* next = b->next;
    b->next = reversed;
    if (reversed) reversed->prev = b;
    reversed = b;
    b = next;
  }
  link(animation.head, reversed);
  return true;
}

void mergeQueuedAnimations(Animation& animation) {
  std::unique_ptr<Animation> queued = std::move(animation.nextAnimation);
  Block* tail = lastBlock(animation);
  while (queued) {
    Block* first = queued->head->next;
    if (first) {
      link(tail, first);
      queued->head->next = nullptr;
      tail = lastBlock(animation);
    }
    animation.frameCount += queued->frameCount;
    queued = std::move(queued->nextAnimation);
  }
}

// ---- Navigation ----

Block* nextBlock(const Block* b) { return b ? b->next : nullptr; }
Block* prevBlock(const Block* b) { return b ? b->prev : nullptr; }

Frame* nextFrame(const Block* b) {
  if (!b) return nullptr;
  for (Block* n = b->next; n; n = n->next)
    if (n->isFrame()) return static_cast<Frame*>(n);
  return nullptr;
}

Frame* prevFrame(const Block* b) {
  if (!b) return nullptr;
  for (Block* p = b->prev; p; p = p->prev)
    if (p->isFrame()) return static_cast<Frame*>(p);
  return nullptr;
}

Frame* firstFrame(const Animation& animation) { return nextFrame(animation.head); }

Block* lastBlock(const Animation& animation) {
  Block* b = animation.head;
  while (b && b->next) b = b->next;
  return b;
}

Frame* frameAt(const Animation& animation, int index) {
  if (index < 0) return nullptr;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
    if (index-- == 0) return f;
  return nullptr;
}

Frame* nextSelectedFrame(const Block* b) {
  for (Frame* f = nextFrame(b); f; f = nextFrame(f))
    if (f->selected) return f;
  return nullptr;
}

Frame* firstSelectedFrame(const Animation& animation) { return nextSelectedFrame(animation.head); }

int frameIndex(const Animation& animation, const Frame* frame) {
  int i = 0;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f), ++i)
    if (f == frame) return i;
  return -1;
}

// ---- Counts and summaries ----

int countSelected(Animation& animation) {
  int n = 0;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
    if (f->selected) ++n;
  animation.selectedCount = n;
  if (n == 0) animation.anchorIndex = -1;
  return n;
}

void clearSelection(Animation& animation) {
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) f->selected = 0;
  animation.selectedCount = 0;
  animation.anchorIndex = -1;
}

int64_t totalDelay(const Animation& animation) {
  int64_t sum = 0;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) sum += f->delay;
  return sum;
}

Extent frameExtent(const Animation& animation) {
  Extent e;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    e.width = std::max(e.width, f->left + f->width);
    e.height = std::max(e.height, f->top + f->height);
  }
  return e;
}

Bounds frameBounds(const Animation& animation) {
  // Minimums start from the largest integer so that frames placed far right
  // or low still report their true left and top.
  Bounds b{INT_MAX, INT_MAX, 0, 0};
  bool any = false;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    any = true;
    b.left = std::min(b.left, f->left);
    b.top = std::min(b.top, f->top);
    b.right = std::max(b.right, f->left + f->width);
    b.bottom = std::max(b.bottom, f->top + f->height);
  }
  if (!any) return Bounds{};
  return b;
}

void rescaleDelays(Animation& animation, int newTicks) {
  int64_t current = prefGet(pref::TimeBase);
  if (current <= 0) current = 100;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
    f->delay = static_cast<int32_t>(static_cast<int64_t>(newTicks) * f->delay / current);
}

void recountColourUsage(Animation& animation) {
  animation.colourUsage.fill(0);
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    if (f->localPalette || !f->dib) continue;
    for (int y = 0; y < f->dib->height; ++y) {
      const uint8_t* row = f->dib->row(y);
      for (int x = 0; x < f->dib->width; ++x) ++animation.colourUsage[row[x]];
    }
  }
}

// ---- Setters ----

bool setPlayCount(Animation& animation, int playCount) {
  bool changed = animation.playCount != playCount;
  animation.playCount = playCount;
  return changed;
}

std::unique_ptr<Palette> setGlobalPalette(Animation& animation, std::unique_ptr<Palette> palette,
                                          bool deleteOld) {
  std::unique_ptr<Palette> old = std::move(animation.globalPalette);
  if (palette) {
    int bits = colourBits(palette->count) - 1;
    animation.screenFlags = static_cast<uint8_t>(0x80 | (bits << 4) | bits);
  } else {
    animation.screenFlags = 0;
  }
  animation.globalPalette = std::move(palette);
  if (deleteOld) old.reset();
  return old;
}

std::unique_ptr<Palette> setLocalPalette(Frame& frame, std::unique_ptr<Palette> palette) {
  std::unique_ptr<Palette> old = std::move(frame.localPalette);
  if (palette) {
    frame.palette = palette.get();
    int bits = colourBits(palette->count) - 1;
    frame.imageFlags = static_cast<uint8_t>((frame.imageFlags & ~0x87) | 0x80 | bits);
  } else {
    frame.imageFlags = static_cast<uint8_t>(frame.imageFlags & ~0x87);
  }
  frame.localPalette = std::move(palette);
  return old;
}

Rgb transparentDisplayColour(const Frame& frame, bool transparencyOn) {
  uint32_t mode = prefGet(pref::TransparencyDisplay);
  Rgb own{};
  if (frame.palette && frame.transparentIndex < frame.palette->count)
    own = (*frame.palette)[frame.transparentIndex];
  if (!transparencyOn || (mode >> 24) == 1) return own;
  if (mode > 0xFFFFFF)  // red in the low byte, then green, then blue
    return Rgb{static_cast<uint8_t>(mode), static_cast<uint8_t>(mode >> 8),
               static_cast<uint8_t>(mode >> 16)};
  return Rgb{0xF0, 0xF0, 0xF0};  // the desktop's button-face grey
}

namespace {

void refreshMask(Frame& frame) {
  frame.mask.reset();
  if (frame.transparent() && frame.dib) frame.mask = buildMask(*frame.dib, frame.transparentIndex);
}

void showTransparentColour(Frame& frame, bool on) {
  if (frame.dib) frame.dib->colours[frame.transparentIndex] = transparentDisplayColour(frame, on);
}

}  // namespace

bool setTransparent(Frame& frame, bool on) {
  if (frame.transparent() == on) return false;
  frame.mask.reset();
  if (on) frame.controlFlags |= 1;
  else frame.controlFlags &= static_cast<uint8_t>(~1);
  showTransparentColour(frame, on);
  refreshMask(frame);
  return true;
}

void setTransparentIndex(Frame& frame, int index) {
  if (frame.transparentIndex == index) return;
  frame.mask.reset();
  if (frame.transparent()) showTransparentColour(frame, false);
  frame.transparentIndex = static_cast<uint8_t>(index);
  if (frame.transparent()) {
    showTransparentColour(frame, true);
    refreshMask(frame);
  }
}

void setBitmap(Frame& frame, std::unique_ptr<Bitmap> dib) {
  frame.dib = std::move(dib);
  refreshMask(frame);
}

void setRgb(Frame& frame, std::vector<uint8_t> rgb) {
  if (rgb.empty()) {
    frame.rgb.clear();
    frame.rgb.shrink_to_fit();
    frame.alpha.clear();
    frame.alpha.shrink_to_fit();
  } else {
    frame.rgb = std::move(rgb);
  }
  frame.display.clear();
}

void setAlpha(Frame& frame, std::vector<uint8_t> alpha) {
  frame.alpha = std::move(alpha);
  frame.display.clear();
}

// ---- Names and comments ----

std::string frameName(const Frame& frame) {
  if (!frame.name) return text(Str::Unnamed);
  return atomText(frame.name);
}

bool setFrameName(Frame& frame, const char* textValue) {
  if (!textValue) {
    if (!frame.name) return false;
    deleteAtom(frame.name);
    frame.name = 0;
    return true;
  }
  Atom a = addAtom(textValue);
  if (a == frame.name) {
    deleteAtom(a);
    return false;
  }
  if (frame.name) deleteAtom(frame.name);
  frame.name = a;
  return true;
}

void nameUnnamedFrames(Animation& animation, const std::string& path) {
  auto slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  int position = 0;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    ++position;
    if (f->name) continue;
    if (animation.frameCount == 1) {
      setFrameName(*f, base.c_str());
    } else {
      setFrameName(*f, format(Str::FrameNameFormat, base.c_str(), position).c_str());
    }
  }
}

Block* setCommentText(Block* block, const std::string& textValue) {
  if (!block || block->tag != kCommentTag) return nullptr;
  try {
    // Texts longer than one sub-block are split so that every length byte is true.
    std::vector<uint8_t> payload;
    size_t pos = 0;
    do {
      size_t n = std::min<size_t>(255, textValue.size() - pos);
      if (n == 0) break;
      payload.push_back(static_cast<uint8_t>(n));
      payload.insert(payload.end(), textValue.begin() + static_cast<std::ptrdiff_t>(pos),
                     textValue.begin() + static_cast<std::ptrdiff_t>(pos + n));
      pos += n;
    } while (pos < textValue.size());
    payload.push_back(0);
    block->payload = std::move(payload);
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryComment));
    return nullptr;
  }
  return block;
}

bool commentText(const Block* block, std::string& out) {
  out.clear();
  if (!block || block->tag != kCommentTag) return false;
  const auto& p = block->payload;
  size_t i = 0;
  while (i < p.size() && p[i] != 0) {
    size_t n = p[i];
    size_t end = std::min(p.size(), i + 1 + n);
    out.append(p.begin() + static_cast<std::ptrdiff_t>(i + 1),
               p.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
  return true;
}

// ---- Delay time base ----

int32_t gifDelayToTicks(uint32_t hundredths) {
  uint32_t ticks = prefRaw(pref::TimeBase);
  if (ticks == 0) ticks = 100;
  if (ticks <= 100) return static_cast<int32_t>(hundredths / (100 / ticks));
  // Finer than hundredths (not a setting the program offers): scale up instead
  // of dividing by a zero quotient.
  return static_cast<int32_t>(static_cast<uint64_t>(hundredths) * ticks / 100);
}

uint32_t ticksToGifDelay(int32_t ticks) {
  uint32_t base = prefRaw(pref::TimeBase);
  if (base == 0) base = 100;
  if (base <= 100) return static_cast<uint32_t>((100 / base) * static_cast<uint32_t>(ticks));
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<uint32_t>(ticks)) * 100 / base);
}

}  // namespace fb
