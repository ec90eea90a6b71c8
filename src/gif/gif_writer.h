// Writing an Animation as a GIF89a stream: to a file, to memory, or to a
// counting sink that measures the encoded size without writing anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/animation.h"
#include "gif/lzw_encoder.h"

namespace fb {

class Progress;
namespace fileops {
class WriteFile;
}

// Where a stream goes: a file, a memory buffer, or nowhere (counting only).
// Every write adds its length to the total; counting never fails.
class ByteSink {
 public:
  ByteSink() = default;  // counting only
  explicit ByteSink(fileops::WriteFile* file) : file_(file) {}
  explicit ByteSink(std::vector<uint8_t>* memory) : memory_(memory) {}

  bool write(const void* data, size_t size);
  bool put(uint8_t byte) { return write(&byte, 1); }
  int64_t total() const { return total_; }

 private:
  fileops::WriteFile* file_ = nullptr;
  std::vector<uint8_t>* memory_ = nullptr;
  int64_t total_ = 0;
};

// How a document is written. The program fills it from the user's settings.
struct GifWriteOptions {
  uint32_t timeBase = 100;  // delay ticks per second
  // The signature comment: the configured text (earlier copies of it are
  // replaced on every save) and whether one is added at all.
  std::string signature = "Built with Flickbook 4.0";
  bool sign = true;
};

// Results of writeGifStream.
constexpr int kWriteFailed = 0;
constexpr int kWriteDone = 1;
constexpr int kWriteCancelled = 2;

// The whole document: 1 written, 0 a write failed or the document holds a
// size or place beyond what a GIF can say (nothing written then), 2 cancelled
// (no trailer). The logical screen written covers every frame.
int writeGifStream(ByteSink& sink, Animation& animation, Progress* progress,
                   const GifWriteOptions& options = {});

// Creates or truncates `path` and writes the document. Shows "无法保存到 '%s'
// (临时文件)。" when the file cannot be created, and refuses (with a message,
// before creating anything) a document a GIF cannot hold. True only when all
// was written.
bool writeGifFile(const std::string& path, Animation& animation, Progress* progress,
                  const GifWriteOptions& options = {});

// One frame as a GIF of its own (its size as the screen, its palette as the
// global table; its position and local table kept).
bool writeFrameAsGif(const std::string& path, Frame& frame, const GifWriteOptions& options = {});

// The graphic control extension, descriptor, local table and image data of one
// frame, its pixels in the given LZW layout. With a counting sink: the frame's
// encoded size.
bool writeFrameImage(ByteSink& sink, const Frame& frame, uint32_t timeBase = 100,
                     LzwLayout layout = LzwLayout::Standard);
// The bytes writeFrameImage writes, counted without producing them.
int64_t frameEncodedSize(const Frame& frame, LzwLayout layout = LzwLayout::Standard);
// Leaves the frame `bytes`, an encoding (as encodeLzw writes it) of `image`,
// its pixels as they are now, for a count and a save that follow to take
// while the frame still has exactly those pixels, layout and code size.
// False (the frame keeps none) when memory for it ran out; never throws.
bool keepFrameEncoding(Frame& frame, const LzwImage& image, int codeSize, LzwLayout layout,
                       std::vector<uint8_t> bytes);
// After the frame's pixels were renumbered by `map` (old index -> new, for
// every index), its kept encoding is renumbered with them while its code
// size stays; otherwise (or when the encoding is not one of these pixels)
// it is dropped (also when memory for it runs out: this never throws).
void remapKeptEncoding(Frame& frame, const int* map);
// The minimum code size a frame is written with: from its palette in the
// standard layout (wider for indices beyond it), from the largest index its
// pixels use in the smallest one.
int frameCodeSize(const Frame& frame, LzwLayout layout);

// The cached encoded size, recounted when `force` is set or it is unknown.
// Includes what `stampSignature` will add or remove. -1 when counting failed.
// With `keepEncoding`, a count in the smallest layout leaves each frame what
// it encoded, for a save that follows to write instead of encoding again.
int32_t encodedSize(Animation& animation, bool force, Progress* progress,
                    const GifWriteOptions& options = {}, bool keepEncoding = false);
// The same count without the cache: the document is only read, so a worker
// may count a document others read at the same time. -1 when counting failed
// or was cancelled.
int64_t countEncodedSize(const Animation& animation, Progress* progress,
                         const GifWriteOptions& options = {});

// The count of encodedSize, always made, in 64 bits (beyond its limit of
// 2 GiB); left in the cache when it fits there. -1 when counting failed
// (memory ran out) or no GIF can hold the document.
int64_t recountEncodedSize(Animation& animation, Progress* progress,
                           const GifWriteOptions& options = {}, bool keepEncoding = false);

// Removes signature comments and puts the configured one first (when signing).
void stampSignature(Animation& animation, const GifWriteOptions& options);

// LZW-encodes `pixels` (rows of `width` bytes at `stride`, in the given row
// order) with minimum code size `codeSize`, in 254-byte sub-blocks, ended by
// the zero-length terminator.
bool writeLzwImage(ByteSink& sink, const uint8_t* pixels, int width, int height, int stride,
                   int codeSize, bool interlaced);

}  // namespace fb
