#include "document/animation.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <functional>
#include <new>
#include <unordered_set>
#include <vector>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "resources/strings.h"

namespace fb {

// ---- Records ----

Frame::~Frame() {
  if (name) deleteAtom(name);
}

Palette* Frame::palette() const {
  if (localPalette) return localPalette.get();
  if (owner) return owner->globalPalette.get();
  return lent_;
}

Animation::Animation() : sentinel_(std::make_unique<Block>()) {
  sentinel_->tag = kSentinelTag;
  sentinel_->owner = this;
  head = sentinel_.get();
}

Animation::~Animation() {
  // Blocks an undo step still holds outlive the chain: they leave it cleanly.
  for (auto& b : blocks_) {
    if (!b || b->owner != this) continue;
    b->owner = nullptr;
    b->next = b->prev = nullptr;
  }
  blocks_.clear();
  // Destroy a long queue iteratively rather than by recursion.
  std::unique_ptr<Animation> queued = std::move(nextAnimation);
  while (queued) queued = std::move(queued->nextAnimation);
}

void Animation::relink() const {
  Block* prev = head;
  frames_.clear();
  for (size_t i = 0; i < blocks_.size(); ++i) {
    Block* b = blocks_[i].get();
    b->slot_ = i;
    b->owner = const_cast<Animation*>(this);
    b->prev = prev;
    prev->next = b;
    prev = b;
    if (b->isFrame()) {
      auto* f = static_cast<Frame*>(b);
      f->index_ = static_cast<int32_t>(frames_.size());
      f->lent_ = nullptr;  // the owner's palette from now on
      frames_.push_back(f);
    }
  }
  prev->next = nullptr;
  indexed_ = true;
}

void Animation::compact() const {
  if (holes_) {
    blocks_.erase(std::remove(blocks_.begin(), blocks_.end(), nullptr), blocks_.end());
    holes_ = 0;
    indexed_ = false;
  }
  if (!indexed_) relink();
}

Frame* Animation::frame(int i) const {
  if (i < 0 || i >= frameCount_) return nullptr;
  compact();
  return frames_[static_cast<size_t>(i)];
}

int Animation::indexOf(const Frame* f) const {
  if (!f || f->owner != this || !f->isFrame()) return -1;
  compact();
  return f->index_;
}

std::vector<BlockPtr> Animation::blocks() const {
  compact();
  return blocks_;
}

size_t Animation::positionOf(const Block* b) const {
  compact();
  return b->slot_;
}

BlockPtr Animation::share(const Block* b) const {
  if (!b || b == head || b->owner != this) return nullptr;
  return blocks_[b->slot_];
}

namespace {

// A block joining an animation leaves the one it is in first (the same one:
// it moves), so that it never stands in a chain twice.
BlockPtr adopt(BlockPtr b) {
  if (b && b->owner) b->owner->take(b.get());
  return b;
}

// Room for `n` elements, growing geometrically.
template <class T>
void makeRoom(std::vector<T>& v, size_t n) {
  if (v.capacity() < n) v.reserve(std::max(n, 2 * v.capacity()));
}

}  // namespace

// The chain operations allocate before they change anything, so that short
// of memory they throw with the chain as it was; the frame index always has
// room for every frame, so that rebuilding it never allocates.
Block* Animation::append(BlockPtr b) {
  if (!b) return nullptr;
  makeRoom(blocks_, blocks_.size() + 1);
  if (b->isFrame()) makeRoom(frames_, static_cast<size_t>(frameCount_) + 1);
  b = adopt(std::move(b));
  Block* tail = blocks_.empty() ? head : nullptr;
  for (size_t i = blocks_.size(); !tail && i > 0; --i)
    if (blocks_[i - 1]) tail = blocks_[i - 1].get();
  if (!tail) tail = head;
  Block* raw = b.get();
  raw->slot_ = blocks_.size();
  raw->owner = this;
  raw->prev = tail;
  raw->next = nullptr;
  tail->next = raw;
  blocks_.push_back(std::move(b));
  if (raw->isFrame()) {
    ++frameCount_;
    static_cast<Frame*>(raw)->lent_ = nullptr;  // the owner's palette from now on
    if (indexed_) {
      auto* f = static_cast<Frame*>(raw);
      f->index_ = static_cast<int32_t>(frames_.size());
      frames_.push_back(f);
    }
  }
  return raw;
}

void Animation::insertAt(size_t position, std::vector<BlockPtr> blocks) {
  compact();
  position = std::min(position, blocks_.size());
  // Each block once. Own blocks move: the place is then the first block from
  // `position` on that stays.
  std::vector<BlockPtr> incoming;
  incoming.reserve(blocks.size());
  std::unordered_set<const Block*> seen;
  for (auto& b : blocks)
    if (b && seen.insert(b.get()).second) incoming.push_back(std::move(b));
  while (position < blocks_.size() && seen.count(blocks_[position].get())) ++position;
  const Block* before = position < blocks_.size() ? blocks_[position].get() : nullptr;
  size_t frames = 0;
  for (auto& b : incoming) frames += b->isFrame() ? 1 : 0;
  makeRoom(blocks_, blocks_.size() + incoming.size());
  makeRoom(frames_, static_cast<size_t>(frameCount_) + frames);
  for (auto& b : incoming) {
    b = adopt(std::move(b));
    if (b->isFrame()) ++frameCount_;
  }
  compact();
  position = before ? before->slot_ : blocks_.size();
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(position),
                 std::make_move_iterator(incoming.begin()),
                 std::make_move_iterator(incoming.end()));
  relink();
}

void Animation::insertBeforeFrame(int index, std::vector<BlockPtr> blocks) {
  Frame* before = frame(index);
  insertAt(before ? before->slot_ : blocks_.size(), std::move(blocks));
}

void Animation::insertAfterBlock(Block* after, BlockPtr b) {
  size_t position = (!after || after == head) ? 0 : positionOf(after) + 1;
  std::vector<BlockPtr> one;
  one.push_back(std::move(b));
  insertAt(position, std::move(one));
}

BlockPtr Animation::take(Block* b) {
  if (!b || b == head || b->owner != this) return nullptr;
  BlockPtr out = std::move(blocks_[b->slot_]);
  ++holes_;
  if (b->prev) b->prev->next = b->next;
  if (b->next) b->next->prev = b->prev;
  b->next = b->prev = nullptr;
  b->owner = nullptr;
  if (b->isFrame()) {
    --frameCount_;
    indexed_ = false;
  }
  return out;
}

std::vector<BlockPtr> Animation::takeAll() {
  compact();
  std::vector<BlockPtr> out = std::move(blocks_);
  blocks_.clear();
  for (auto& b : out) {
    b->owner = nullptr;
    b->next = b->prev = nullptr;
  }
  frames_.clear();
  frameCount_ = 0;
  head->next = nullptr;
  return out;
}

void Animation::setBlocks(std::vector<BlockPtr> blocks) {
  takeAll();
  insertAt(0, std::move(blocks));
}

void Animation::swapBlocks(std::vector<BlockPtr>& blocks) {
  blocks.erase(std::remove(blocks.begin(), blocks.end(), nullptr), blocks.end());
  size_t frames = 0;
  for (auto& b : blocks) frames += b->isFrame() ? 1 : 0;
  compact();
  makeRoom(frames_, frames);  // the one allocation, before anything changes
  for (auto& b : blocks_) {
    b->owner = nullptr;
    b->next = b->prev = nullptr;
  }
  head->next = nullptr;
  for (auto& b : blocks)
    if (b->owner) b->owner->take(b.get());  // from another animation
  blocks_.swap(blocks);
  frameCount_ = static_cast<int32_t>(frames);
  relink();
}

// ---- Creation and destruction ----

std::unique_ptr<Animation> createAnimation() {
  try {
    return std::make_unique<Animation>();  // the sentinel is allocated too
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<Animation> newAnimation(int width, int height, const DocumentDefaults& d) {
  auto a = createAnimation();
  if (!a) return nullptr;
  a->width = width;
  a->height = height;
  a->playCount = d.playCount;
  auto f = newBlankFrame(width, height, d);
  if (!f) return nullptr;
  appendFrame(*a, std::move(f));
  return a;
}

std::unique_ptr<Animation> cloneAnimationHeader(const Animation& src) {
  auto a = createAnimation();
  if (!a) return nullptr;
  a->width = src.width;
  a->height = src.height;
  a->playCount = src.playCount;
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

std::unique_ptr<Frame> copyFrameFields(const Frame& src) {
  auto f = std::unique_ptr<Frame>(new (std::nothrow) Frame);
  if (!f) return nullptr;
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
  return f;
}

namespace {

// A copy of `block` without its name (names are shared on one thread).
std::unique_ptr<Block> duplicateBlockUnnamed(const Block* block) {
  if (!block) return nullptr;
  if (!block->isFrame()) {
    auto b = newBlock(block->tag, 0);
    if (!b) return nullptr;
    try {
      b->payload = block->payload;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return b;
  }
  const auto& src = static_cast<const Frame&>(*block);
  auto f = copyFrameFields(src);
  if (!f) return nullptr;
  f->lendPalette(src.owner ? nullptr : src.palette());
  if (src.localPalette) {
    f->localPalette = copyPalette(*src.localPalette);
    if (!f->localPalette) return nullptr;
  }
  try {
    if (src.dib) {
      f->dib = copyBitmap(*src.dib);
      if (!f->dib) return nullptr;
    }
    if (src.mask) f->mask = std::make_unique<Mask>(*src.mask);
    f->rgb = src.rgb;
    f->alpha = src.alpha;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return f;
}

void shareName(Frame& copy, const Frame& src) {
  if (src.name) {
    addAtomRef(src.name);
    copy.name = src.name;
  }
}

}  // namespace

std::unique_ptr<Block> duplicateBlock(const Block* block) {
  auto copy = duplicateBlockUnnamed(block);
  if (copy && copy->isFrame())
    shareName(static_cast<Frame&>(*copy), static_cast<const Frame&>(*block));
  return copy;
}

std::unique_ptr<Animation> duplicateAnimation(const Animation& src, Progress* progress) {
  auto a = cloneAnimationHeader(src);
  if (!a) return nullptr;
  if (src.globalPalette) {
    a->globalPalette = copyPalette(*src.globalPalette);
    if (!a->globalPalette) return nullptr;
  }
  std::vector<const Block*> blocks;
  int64_t pixels = 0;
  try {
    for (const Block* b = src.head->next; b; b = b->next) {
      blocks.push_back(b);
      if (const auto* f = b->isFrame() ? static_cast<const Frame*>(b) : nullptr)
        pixels += int64_t{f->width} * f->height;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // The blocks are copied side by side when there is much to copy (the
  // pixels are most of it, and touching new memory is most of that); names
  // are shared afterwards on this thread, in order.
  std::vector<std::unique_ptr<Block>> copies;
  try {
    copies.resize(blocks.size());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (progress) progress->setRange(static_cast<int64_t>(blocks.size()));
  std::atomic<size_t> done{0};
  int64_t shown = 0;  // the position last reported (on this thread only)
  auto report = [&] {
    const auto now = static_cast<int64_t>(done.load());
    if (progress && now > shown) progress->setPosition(shown = now);
  };
  // Only a block this thread cannot copy ends the copy: one a helper could
  // not is tried again here afterwards.
  auto copy = [&](size_t i, bool onCaller) {
    copies[i] = duplicateBlockUnnamed(blocks[i]);
    if (copies[i]) done.fetch_add(1);
    if (onCaller) report();
    return copies[i] != nullptr || !onCaller;
  };
  const unsigned workers = TaskPool::workersFor(blocks.size(), pixels);
  if (!forEachPiece(blocks.size(), workers > 0 ? workers - 1 : 0, std::ref(copy)))
    return nullptr;  // what was copied goes with `copies` and `a`
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (copies[i]) continue;
    copies[i] = duplicateBlockUnnamed(blocks[i]);
    if (!copies[i]) return nullptr;
    done.fetch_add(1);
  }
  report();
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (blocks[i]->isFrame())
      shareName(static_cast<Frame&>(*copies[i]), *static_cast<const Frame*>(blocks[i]));
    appendBlock(*a, std::move(copies[i]));
  }
  return a;
}

void destroyAnimation(Animation* animation) {
  delete animation;
}

std::unique_ptr<Block> newBlock(uint8_t tag, size_t payloadSize) {
  if (tag == kFrameTag) return std::unique_ptr<Block>(new (std::nothrow) Frame);
  auto b = std::unique_ptr<Block>(new (std::nothrow) Block);
  if (!b) return nullptr;
  b->tag = tag;
  try {
    b->payload.assign(payloadSize, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return b;
}

std::unique_ptr<Frame> newFrame(const uint8_t* controlBytes, const DocumentDefaults& d) {
  auto f = std::unique_ptr<Frame>(new (std::nothrow) Frame);
  if (!f) return nullptr;
  if (controlBytes) {
    // controlBytes[0] is the block size; then packed byte, delay (LE), index.
    unsigned delay = controlBytes[2] | (controlBytes[3] << 8);
    f->delay = gifDelayToTicks(delay, d.timeBase);
    f->controlFlags = controlBytes[1];
    f->transparentIndex = controlBytes[4];
  } else {
    f->delay = d.delay;
  }
  return f;
}

std::unique_ptr<Frame> newBlankFrame(int width, int height, const DocumentDefaults& d) {
  auto f = newFrame(nullptr, d);
  if (!f) return nullptr;
  f->width = width;
  f->height = height;
  return f;
}

// ---- Chain editing ----

Block* appendBlock(Animation& animation, std::unique_ptr<Block> block) {
  return animation.append(BlockPtr(std::move(block)));
}

Frame* appendFrame(Animation& animation, std::unique_ptr<Frame> frame) {
  return static_cast<Frame*>(animation.append(BlockPtr(std::move(frame))));
}

Block* removeBlock(Animation& animation, Block* block) {
  Block* next = block ? block->next : nullptr;
  animation.take(block);
  return next;
}

bool reverseFrames(Animation& animation) {
  if (animation.frameCount() < 2) return false;
  std::vector<BlockPtr> blocks = animation.takeAll();
  std::reverse(blocks.begin(), blocks.end());
  animation.setBlocks(std::move(blocks));
  return true;
}

int moveFrames(Animation& animation, std::vector<int> indices, int before) {
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  std::vector<Frame*> moving;
  for (int i : indices)
    if (Frame* f = animation.frame(i)) moving.push_back(f);
  if (moving.empty()) return -1;
  // The frames stand before the first frame at or after `before` that stays.
  Frame* anchor = nullptr;
  for (Frame* f = animation.frame(before); f; f = nextFrame(f)) {
    if (!std::binary_search(indices.begin(), indices.end(), animation.indexOf(f))) {
      anchor = f;
      break;
    }
  }
  std::vector<BlockPtr> taken;
  for (Frame* f : moving) taken.push_back(animation.take(f));
  Frame* first = moving.front();
  if (anchor)
    animation.insertAt(animation.positionOf(anchor), std::move(taken));
  else
    animation.insertAt(SIZE_MAX, std::move(taken));
  return animation.indexOf(first);
}

void mergeQueuedAnimations(Animation& animation) {
  std::unique_ptr<Animation> queued = std::move(animation.nextAnimation);
  while (queued) {
    for (auto& b : queued->takeAll()) animation.append(std::move(b));
    queued = std::move(queued->nextAnimation);
  }
}

void swapContents(Animation& a, Animation& b) {
  std::vector<BlockPtr> ab = a.takeAll(), bb = b.takeAll();
  swapHeaders(a, b);
  // Each chain is empty and the blocks come whole from one chain: no block
  // can be there twice, so they go straight in (the optimizer swaps a
  // document back whenever its result is not smaller).
  a.swapBlocks(bb);
  b.swapBlocks(ab);
}

void swapHeaders(Animation& a, Animation& b) {
  std::swap(a.width, b.width);
  std::swap(a.height, b.height);
  std::swap(a.playCount, b.playCount);
  std::swap(a.hideFirstFrame, b.hideFirstFrame);
  std::swap(a.apngRules, b.apngRules);
  std::swap(a.anchorIndex, b.anchorIndex);
  std::swap(a.selectedCount, b.selectedCount);
  std::swap(a.globalPalette, b.globalPalette);
  std::swap(a.screenFlags, b.screenFlags);
  std::swap(a.backgroundIndex, b.backgroundIndex);
  std::swap(a.aspectRatio, b.aspectRatio);
  std::swap(a.encodedSize, b.encodedSize);
  std::swap(a.smallestEncoding, b.smallestEncoding);
  std::swap(a.colourUsage, b.colourUsage);
}

void swapFrameContent(Frame& a, Frame& b, bool fieldsOnly) {
  std::swap(a.selected, b.selected);
  std::swap(a.scratchIndex, b.scratchIndex);
  std::swap(a.left, b.left);
  std::swap(a.top, b.top);
  std::swap(a.hotspotX, b.hotspotX);
  std::swap(a.hotspotY, b.hotspotY);
  std::swap(a.name, b.name);
  std::swap(a.delay, b.delay);
  std::swap(a.blend, b.blend);
  std::swap(a.controlFlags, b.controlFlags);
  std::swap(a.transparentIndex, b.transparentIndex);
  if (fieldsOnly) {
    // The size and the palette flags belong to the pixels and palettes.
    const uint8_t keep = 0x87;
    uint8_t ai = a.imageFlags, bi = b.imageFlags;
    a.imageFlags = static_cast<uint8_t>((bi & ~keep) | (ai & keep));
    b.imageFlags = static_cast<uint8_t>((ai & ~keep) | (bi & keep));
  } else {
    std::swap(a.imageFlags, b.imageFlags);
    std::swap(a.width, b.width);
    std::swap(a.height, b.height);
    std::swap(a.localPalette, b.localPalette);
    std::swap(a.dib, b.dib);
    std::swap(a.rgb, b.rgb);
    std::swap(a.alpha, b.alpha);
    std::swap(a.display, b.display);
  }
  // The mask follows the pixels and the transparency just exchanged.
  for (Frame* f : {&a, &b}) {
    f->mask.reset();
    if (f->transparent() && f->dib) f->mask = buildMask(*f->dib, f->transparentIndex);
  }
}

// ---- Navigation ----

Block* nextBlock(const Block* b) {
  return b ? b->next : nullptr;
}
Block* prevBlock(const Block* b) {
  return b ? b->prev : nullptr;
}

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

Frame* firstFrame(const Animation& animation) {
  return nextFrame(animation.head);
}

Block* lastBlock(const Animation& animation) {
  Block* b = animation.head;
  while (b && b->next) b = b->next;
  return b;
}

Frame* nextSelectedFrame(const Block* b) {
  for (Frame* f = nextFrame(b); f; f = nextFrame(f))
    if (f->selected) return f;
  return nullptr;
}

Frame* firstSelectedFrame(const Animation& animation) {
  return nextSelectedFrame(animation.head);
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

void rescaleDelays(Animation& animation, int newTicks, int currentTicks) {
  int64_t current = currentTicks;
  if (current <= 0) current = 100;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
    f->delay = static_cast<int32_t>(static_cast<int64_t>(newTicks) * f->delay / current);
}

void recountColourUsageInGroups(Animation& animation, size_t groups) {
  animation.colourUsage.fill(0);
  if (groups > 1) {
    // Running out of memory for the groups (or for a worker's task) only
    // means counting in one go: the pool finishes what it took before it goes.
    try {
      std::vector<const Bitmap*> bitmaps;
      for (Frame* f = firstFrame(animation); f; f = nextFrame(f))
        if (!f->localPalette && f->dib) bitmaps.push_back(f->dib.get());
      groups = std::min(groups, bitmaps.size());
      if (groups > 1) {
        std::vector<std::array<int64_t, 256>> parts(groups, std::array<int64_t, 256>{});
        auto countGroup = [&](size_t g) {
          for (size_t i = g; i < bitmaps.size(); i += groups)
            addIndexCounts(*bitmaps[i], parts[g].data());
        };
        {
          TaskPool pool(static_cast<unsigned>(groups - 1), groups, reporter());
          for (size_t g = 1; g < groups; ++g) pool.submit([&countGroup, g] { countGroup(g); });
          countGroup(0);
        }
        for (const auto& part : parts)
          for (size_t i = 0; i < 256; ++i) animation.colourUsage[i] += part[i];
        return;
      }
    } catch (const std::bad_alloc&) {
    }
    animation.colourUsage.fill(0);
  }
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    if (f->localPalette || !f->dib) continue;
    addIndexCounts(*f->dib, animation.colourUsage.data());
  }
}

void recountColourUsage(Animation& animation) {
  int64_t pixels = 0;
  size_t frames = 0;
  for (Frame* f = firstFrame(animation); f; f = nextFrame(f)) {
    if (f->localPalette || !f->dib) continue;
    pixels += int64_t{f->dib->width} * f->dib->height;
    ++frames;
  }
  // Every pass that changes palettes counts again: on a large animation the
  // frames are counted in a few groups side by side.
  const size_t groups = pixels >= (int64_t{1} << 20)
                            ? std::min<size_t>({TaskPool::cores(), size_t{8}, frames})
                            : 1;
  recountColourUsageInGroups(animation, groups);
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
    int bits = colourBits(palette->count) - 1;
    frame.imageFlags = static_cast<uint8_t>((frame.imageFlags & ~0x87) | 0x80 | bits);
  } else {
    frame.imageFlags = static_cast<uint8_t>(frame.imageFlags & ~0x87);
  }
  frame.localPalette = std::move(palette);
  return old;
}

Rgb transparentDisplayColour(const Frame& frame, bool transparencyOn, uint32_t mode) {
  Rgb own{};
  const Palette* pal = frame.palette();
  if (pal && frame.transparentIndex < pal->count) own = (*pal)[frame.transparentIndex];
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

}  // namespace

bool setTransparent(Frame& frame, bool on) {
  if (frame.transparent() == on) return false;
  frame.mask.reset();
  if (on)
    frame.controlFlags |= 1;
  else
    frame.controlFlags &= static_cast<uint8_t>(~1);
  refreshMask(frame);
  return true;
}

void setTransparentIndex(Frame& frame, int index) {
  if (frame.transparentIndex == index) return;
  frame.mask.reset();
  frame.transparentIndex = static_cast<uint8_t>(index);
  refreshMask(frame);
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
    if (animation.frameCount() == 1) {
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

int32_t gifDelayToTicks(uint32_t hundredths, uint32_t ticks) {
  if (ticks == 0) ticks = 100;
  if (ticks <= 100) return static_cast<int32_t>(hundredths / (100 / ticks));
  // Finer than hundredths (not a setting the program offers): scale up instead
  // of dividing by a zero quotient.
  return static_cast<int32_t>(static_cast<uint64_t>(hundredths) * ticks / 100);
}

uint32_t ticksToGifDelay(int32_t ticks, uint32_t base) {
  if (base == 0) base = 100;
  // Worked out in 64 bits and held at the largest 32-bit value, so that the
  // callers' limits (16 bits for a GIF) never see a product that wrapped.
  const uint64_t t = static_cast<uint64_t>(std::max<int32_t>(ticks, 0));
  const uint64_t d = base <= 100 ? (100 / base) * t : t * 100 / base;
  return static_cast<uint32_t>(std::min<uint64_t>(d, UINT32_MAX));
}

int32_t joinedDelay(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

}  // namespace fb
