// The document: one GIF stream held in memory in the stream's own shape. An
// `Animation` header (logical screen, global palette, play count) owns a doubly
// linked chain of `Block`s in stream order, starting at a sentinel: frames
// (image descriptor, graphic control data and pixels) and extension blocks kept
// as raw GIF sub-blocks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/atoms.h"
#include "document/bitmap.h"
#include "document/palette.h"

namespace fb {

class Progress;

constexpr uint8_t kFrameTag = ',';     // 0x2C
constexpr uint8_t kSentinelTag = '*';  // 0x2A
constexpr uint8_t kPlainTextTag = 0x01;
constexpr uint8_t kCommentTag = 0xFE;
constexpr uint8_t kApplicationTag = 0xFF;

struct Animation;
struct EncodedImage;  // made and read by the GIF writer only

struct Block {
  uint8_t tag = 0;
  // Stream order and membership, kept by the owning animation's operations:
  // read them, never set them.
  Block* next = nullptr;
  Block* prev = nullptr;
  Animation* owner = nullptr;
  // Extension blocks: the data sub-blocks as in the stream (length byte, data,
  // ...), ended by a zero length byte.
  std::vector<uint8_t> payload;

  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  virtual ~Block() = default;

  bool isFrame() const { return tag == kFrameTag; }

 private:
  friend struct Animation;
  friend struct BlockAccess;
  size_t slot_ = 0;  // position in the owner's block list
};

struct Frame : Block {
  int16_t selected = 0;
  int32_t scratchIndex = 0;
  int32_t left = 0, top = 0;
  int32_t width = 0, height = 0;
  int32_t hotspotX = -1, hotspotY = -1;
  Atom name = 0;
  std::unique_ptr<Palette> localPalette;
  int32_t delay = 0;  // ticks of the delay time base
  int32_t blend = 1;  // animated PNG: 1 = over, 0 = source
  // GIF graphic-control packed byte: bit 0 transparent, bit 1 user input, bits 2-4 disposal.
  uint8_t controlFlags = 0;
  uint8_t transparentIndex = 0;
  // GIF image-descriptor packed byte: bit 7 local table, bit 6 interlaced,
  // bit 5 sorted, bits 0-2 local table size code.
  uint8_t imageFlags = 0;
  std::unique_ptr<Mask> mask;  // only while transparent
  std::unique_ptr<Bitmap> dib;
  // Optional 24-bit colour rows (stride24) and alpha plane (stride8); empty = none.
  std::vector<uint8_t> rgb;
  std::vector<uint8_t> alpha;
  std::vector<uint8_t> display;  // cached rgb-over-background picture; empty = none
  // The image data as a count in a costly layout last encoded it, for the
  // write that follows; the writer uses it only while it matches the pixels.
  std::shared_ptr<const EncodedImage> encoded;

  Frame() { tag = kFrameTag; }
  ~Frame() override;

  // The palette in effect: the local one, else the owning animation's global
  // one. A frame outside any animation (a compositor canvas, a frame being
  // built) shows the palette lent to it with `lendPalette`, until it joins one.
  Palette* palette() const;
  void lendPalette(const Palette* p) { lent_ = const_cast<Palette*>(p); }

  uint8_t* pixels() { return dib ? dib->data.data() : nullptr; }
  const uint8_t* pixels() const { return dib ? dib->data.data() : nullptr; }
  int pixelStride() const { return dib ? dib->stride : stride8(width); }
  bool transparent() const { return controlFlags & 1; }
  int disposal() const { return (controlFlags >> 2) & 7; }
  void setDisposal(int d) {
    controlFlags = static_cast<uint8_t>((controlFlags & ~0x1C) | ((d & 7) << 2));
  }
  bool interlaced() const { return imageFlags & 0x40; }
  bool hasRgb() const { return !rgb.empty(); }

 private:
  friend struct Animation;
  Palette* lent_ = nullptr;
  int32_t index_ = -1;  // position among the owner's frames
};

using BlockPtr = std::shared_ptr<Block>;

// The unit of frame delays and what new documents and frames start with. The
// program fills it from the user's settings; these are the stored defaults.
struct DocumentDefaults {
  int32_t delay = 10;       // new frames, in ticks
  int32_t playCount = 0;    // new animations; 0 = loop for ever
  uint32_t timeBase = 100;  // delay ticks per second
};

// The header and its chain. The chain is the animation's own: blocks join and
// leave it only through the operations below, which keep the links, the
// frame count, the frame positions and every frame's palette reference right.
struct Animation {
  int32_t width = 0;
  int32_t height = 0;
  int32_t playCount = 0;  // 0 forever, 1 once (no loop extension), n plays
  int32_t hideFirstFrame = 0;
  // Read from an animated PNG: its pictures follow that format's rules (the
  // canvas starts transparent; disposal to the background clears to transparent).
  int32_t apngRules = 0;
  Block* head = nullptr;  // the sentinel; head->next is the first block
  int32_t anchorIndex = -1;
  int32_t selectedCount = 0;
  std::unique_ptr<Palette> globalPalette;
  uint8_t screenFlags = 0;
  uint8_t backgroundIndex = 0;
  uint8_t aspectRatio = 0;
  int32_t encodedSize = -1;  // -1 = unknown
  // Written with the smallest LZW layout (the optimizer's choice) instead of
  // the standard one; either reads the same everywhere.
  bool smallestEncoding = false;
  std::array<int64_t, 256> colourUsage{};
  std::unique_ptr<Animation> nextAnimation;  // documents queued to be appended

  Animation();
  Animation(const Animation&) = delete;
  Animation& operator=(const Animation&) = delete;
  ~Animation();  // destroys the chain and the queue

  int32_t frameCount() const { return frameCount_; }
  size_t blockCount() const { return blocks_.size() - holes_; }
  // Does the tidying a removal defers, now: until the next change, const
  // readers on other threads then write nothing.
  void settle() const { compact(); }
  // Frame `i` (0-based), null out of range. O(1) (after a removal, once O(n)).
  Frame* frame(int i) const;
  // Position of an own frame among the frames; -1 for any other.
  int indexOf(const Frame* f) const;
  // The blocks after the sentinel, in stream order (shared references: an undo
  // step may hold them too).
  std::vector<BlockPtr> blocks() const;

  // ---- Chain operations ----
  Block* append(BlockPtr b);
  // Before the block at `position` among the blocks (at the end when past them).
  void insertAt(size_t position, std::vector<BlockPtr> blocks);
  // Before frame `index` (at the end for -1 or an index at or past the frame count).
  void insertBeforeFrame(int index, std::vector<BlockPtr> blocks);
  void insertAfterBlock(Block* after, BlockPtr b);  // null or the sentinel: first
  // Unlinks an own block and hands it over; null for any other.
  BlockPtr take(Block* b);
  // Every block, in order; the chain is left empty.
  std::vector<BlockPtr> takeAll();
  // The chain becomes `blocks` (which must not be in another animation).
  void setBlocks(std::vector<BlockPtr> blocks);
  // The chain and `blocks` change places: the chain becomes `blocks` (taken
  // from any other animation) and `blocks` the former chain. Short of memory
  // it throws before changing anything.
  void swapBlocks(std::vector<BlockPtr>& blocks);
  // The position among the blocks of an own block (sentinel excluded).
  size_t positionOf(const Block* b) const;
  // The shared reference to an own block; null for any other.
  BlockPtr share(const Block* b) const;

 private:
  void relink() const;
  void compact() const;
  std::unique_ptr<Block> sentinel_;
  mutable std::vector<BlockPtr> blocks_;  // holes (null) until the next compaction
  mutable size_t holes_ = 0;
  mutable std::vector<Frame*> frames_;
  mutable bool indexed_ = true;
  int32_t frameCount_ = 0;
};

// ---- Creation and destruction ----

std::unique_ptr<Animation> createAnimation();
// One blank frame of the given size; play count from the preferences.
std::unique_ptr<Animation> newAnimation(int width, int height,
                                        const DocumentDefaults& defaults = {});
std::unique_ptr<Animation> cloneAnimationHeader(const Animation& animation);
std::unique_ptr<Animation> duplicateAnimation(const Animation& animation, Progress* progress);
void destroyAnimation(Animation* animation);

// A frame for tag ','; otherwise an extension block with `payloadSize` zero bytes.
std::unique_ptr<Block> newBlock(uint8_t tag, size_t payloadSize);
// `controlBytes`: the size byte and 4 data bytes of a graphic control extension, or null.
// Its delay is the graphic control's (in ticks of the time base), else the default.
std::unique_ptr<Frame> newFrame(const uint8_t* controlBytes, const DocumentDefaults& defaults = {});
std::unique_ptr<Frame> newBlankFrame(int width, int height, const DocumentDefaults& defaults = {});
// A new frame with `f`'s own fields (selection, place, size, hotspot, timing
// and flags), without its name, palettes or pixels. Null when memory runs out.
std::unique_ptr<Frame> copyFrameFields(const Frame& f);
// A copy outside any animation (a frame's global palette is its new owner's).
std::unique_ptr<Block> duplicateBlock(const Block* block);

// ---- Chain editing ----

// Appends and returns the block (now the animation's).
Block* appendBlock(Animation& animation, std::unique_ptr<Block> block);
Frame* appendFrame(Animation& animation, std::unique_ptr<Frame> frame);
// Removes an own block and destroys it; returns its successor.
Block* removeBlock(Animation& animation, Block* block);
// Removes every frame for which `remove` is true (their extension blocks stay).
template <class Pred>
int removeFramesIf(Animation& animation, Pred remove);
bool reverseFrames(Animation& animation);
// Moves the frames at `indices` (any order; duplicates ignored) so that they
// stand, in their old order, before the frame that was at `before` (-1: at the end).
// Returns the new index of the first moved frame.
int moveFrames(Animation& animation, std::vector<int> indices, int before);
// Moves the chains of the queued documents to the end of this one; their
// frames drawn with a global palette take this document's from then on
// (palettes are reconciled before, by the palette merge).
void mergeQueuedAnimations(Animation& animation);
// Exchanges everything but the records' identities and queues: header fields,
// global palettes and chains (a trial copy's result moves into the document).
void swapContents(Animation& a, Animation& b);
// The header fields and global palettes only.
void swapHeaders(Animation& a, Animation& b);
// Everything a frame holds but its place: its fields, and unless `fieldsOnly`
// its size, pixels, colour data and local palette. Masks are rebuilt to match.
void swapFrameContent(Frame& a, Frame& b, bool fieldsOnly);

// ---- Navigation (null in, null out) ----

Block* nextBlock(const Block* b);
Block* prevBlock(const Block* b);
Frame* nextFrame(const Block* b);
Frame* prevFrame(const Block* b);
Frame* firstFrame(const Animation& animation);
Block* lastBlock(const Animation& animation);
inline Frame* frameAt(const Animation& animation, int index) {
  return animation.frame(index);
}
Frame* nextSelectedFrame(const Block* b);
Frame* firstSelectedFrame(const Animation& animation);
// 0-based position of a frame in the chain, -1 when absent.
inline int frameIndex(const Animation& animation, const Frame* frame) {
  return animation.indexOf(frame);
}

// ---- Counts and summaries ----

int countSelected(Animation& animation);
void clearSelection(Animation& animation);
int64_t totalDelay(const Animation& animation);
struct Extent {
  int width = 0, height = 0;
};
Extent frameExtent(const Animation& animation);
struct Bounds {
  int left = 0, top = 0, right = 0, bottom = 0;
};
Bounds frameBounds(const Animation& animation);
// Every delay from `currentTicks` to `newTicks` per second.
void rescaleDelays(Animation& animation, int newTicks, int currentTicks);
// Recounts colourUsage over the frames drawn with the global palette.
void recountColourUsage(Animation& animation);
// The same with the frames counted in `groups` side by side (recountColourUsage
// chooses how many from the animation's size and the machine).
void recountColourUsageInGroups(Animation& animation, size_t groups);

// ---- Setters that do more ----

bool setPlayCount(Animation& animation, int playCount);
// Returns the former palette when `deleteOld` is false (else null).
std::unique_ptr<Palette> setGlobalPalette(Animation& animation, std::unique_ptr<Palette> palette,
                                          bool deleteOld = true);
// Returns the former local palette; the frame then shows the global one.
std::unique_ptr<Palette> setLocalPalette(Frame& frame, std::unique_ptr<Palette> palette);
bool setTransparent(Frame& frame, bool on);
void setTransparentIndex(Frame& frame, int index);
void setBitmap(Frame& frame, std::unique_ptr<Bitmap> dib);
void setRgb(Frame& frame, std::vector<uint8_t> rgb);  // empty frees rgb, alpha and display
void setAlpha(Frame& frame, std::vector<uint8_t> alpha);
// The colour the frame's colour table shows at its transparent index.
// How a viewer shows a frame's transparent pixels, by the display word (low 24
// bits a colour, red first; top byte 0 the window background, 1 the frame's
// own colour, 2 the custom colour). The frame's colour table itself always
// holds its palette's colours.
Rgb transparentDisplayColour(const Frame& frame, bool transparencyOn, uint32_t displayWord);

// ---- Names and comments ----

std::string frameName(const Frame& frame);  // "[未命名]" for an unnamed frame
bool setFrameName(Frame& frame, const char* text);
void nameUnnamedFrames(Animation& animation, const std::string& path);
// Null (and no change) for a block that is not a comment.
Block* setCommentText(Block* block, const std::string& text);
// False for a block that is not a comment.
bool commentText(const Block* block, std::string& out);

// ---- Delay time base ----

// A GIF delay (hundredths of a second) in ticks of the time base, and back.
int32_t gifDelayToTicks(uint32_t hundredths, uint32_t timeBase);
// Back to hundredths: 0 for a negative count, at most 2^32 - 1 (never wrapped).
uint32_t ticksToGifDelay(int32_t ticks, uint32_t timeBase);
// Two delays joined into one frame's (a frame removed, its time kept): held at
// the largest count rather than wrapped.
int32_t joinedDelay(int32_t a, int32_t b);

template <class Pred>
int removeFramesIf(Animation& animation, Pred remove) {
  int n = 0;
  for (Block* b = animation.head->next; b;) {
    Block* next = b->next;
    if (b->isFrame() && remove(static_cast<Frame&>(*b))) {
      animation.take(b);
      ++n;
    }
    b = next;
  }
  return n;
}

}  // namespace fb
