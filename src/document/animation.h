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

struct Block {
  uint8_t tag = 0;
  Block* next = nullptr;
  Block* prev = nullptr;
  // Extension blocks: the data sub-blocks as in the stream (length byte, data,
  // ...), ended by a zero length byte.
  std::vector<uint8_t> payload;

  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  virtual ~Block() = default;

  bool isFrame() const { return tag == kFrameTag; }
};

struct Frame : Block {
  int16_t selected = 0;
  int32_t scratchIndex = 0;
  int32_t left = 0, top = 0;
  int32_t width = 0, height = 0;
  int32_t hotspotX = -1, hotspotY = -1;
  Atom name = 0;
  // In effect for this frame: the local palette, else the animation's global one (borrowed).
  Palette* palette = nullptr;
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

  Frame() { tag = kFrameTag; }
  ~Frame() override;

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
};

struct Animation {
  int32_t width = 0;
  int32_t height = 0;
  int32_t playCount = 0;  // 0 forever, 1 once (no loop extension), n plays
  int32_t frameCount = 0;
  int32_t hideFirstFrame = 0;
  // Read from an animated PNG: its pictures follow that format's rules (the
  // canvas starts transparent; disposal to the background clears to transparent).
  int32_t apngRules = 0;
  Block* head = nullptr;  // the sentinel
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

  Animation() = default;
  Animation(const Animation&) = delete;
  Animation& operator=(const Animation&) = delete;
  ~Animation();  // destroys the chain and the queue
};

// ---- Creation and destruction ----

std::unique_ptr<Animation> createAnimation();
// One blank frame of the given size; play count from the preferences.
std::unique_ptr<Animation> newAnimation(int width, int height);
std::unique_ptr<Animation> cloneAnimationHeader(const Animation& animation);
std::unique_ptr<Animation> duplicateAnimation(const Animation& animation, Progress* progress);
void destroyAnimation(Animation* animation);

// A frame for tag ','; otherwise an extension block with `payloadSize` zero bytes.
Block* newBlock(uint8_t tag, size_t payloadSize);
// `controlBytes`: the size byte and 4 data bytes of a graphic control extension, or null.
Frame* newFrame(const uint8_t* controlBytes);
Frame* newBlankFrame(int width, int height);
// Frees the block (not unlinking it) and returns its successor.
Block* destroyBlock(Block* block);
// An unlinked copy; a frame without a local palette takes `palette` as its palette.
Block* duplicateBlock(const Block* block, Palette* palette);

// ---- Chain editing ----

// The two documents exchange their content (chain, palette, screen, counts,
// encoding): a document takes a worked copy's content and keeps its identity.
void exchangeContent(Animation& a, Animation& b);

void link(Block* a, Block* b);
void insertAfter(Block* a, Block* b);
Block* removeBlock(Animation& animation, Block* block);
// Unlinks without destroying; returns the block.
Block* unlinkBlock(Block* block);
bool reverseFrames(Animation& animation);
void mergeQueuedAnimations(Animation& animation);

// ---- Navigation (null in, null out) ----

Block* nextBlock(const Block* b);
Block* prevBlock(const Block* b);
Frame* nextFrame(const Block* b);
Frame* prevFrame(const Block* b);
Frame* firstFrame(const Animation& animation);
Block* lastBlock(const Animation& animation);
Frame* frameAt(const Animation& animation, int index);
Frame* nextSelectedFrame(const Block* b);
Frame* firstSelectedFrame(const Animation& animation);
// 0-based position of a frame in the chain, -1 when absent.
int frameIndex(const Animation& animation, const Frame* frame);

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
void rescaleDelays(Animation& animation, int newTicks);
// Recounts colourUsage over the frames drawn with the global palette.
void recountColourUsage(Animation& animation);

// ---- Setters that do more ----

bool setPlayCount(Animation& animation, int playCount);
// Returns the former palette when `deleteOld` is false (else null).
std::unique_ptr<Palette> setGlobalPalette(Animation& animation, std::unique_ptr<Palette> palette,
                                          bool deleteOld = true);
// Returns the former local palette. With null, `palette` is left for the caller to reset.
std::unique_ptr<Palette> setLocalPalette(Frame& frame, std::unique_ptr<Palette> palette);
bool setTransparent(Frame& frame, bool on);
void setTransparentIndex(Frame& frame, int index);
void setBitmap(Frame& frame, std::unique_ptr<Bitmap> dib);
void setRgb(Frame& frame, std::vector<uint8_t> rgb);  // empty frees rgb, alpha and display
void setAlpha(Frame& frame, std::vector<uint8_t> alpha);
// The colour the frame's colour table shows at its transparent index.
Rgb transparentDisplayColour(const Frame& frame, bool transparencyOn);

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
int32_t gifDelayToTicks(uint32_t hundredths);
uint32_t ticksToGifDelay(int32_t ticks);

}  // namespace fb
