// Pictures on demand: what a viewer shows at any frame of a document, without
// playing it from the start each time, and thumbnails of frames and pictures.
//
// The cache keeps snapshots of the compositor's state every few frames, as
// many as its memory budget holds, and plays forward from the nearest one;
// playing on from the picture rendered last costs one frame. A snapshot is
// kept in square tiles, and the tiles it has in common with the snapshot the
// player came from are shared, not copied: memory grows with what changes
// between snapshots. The compositor's rules are the player's
// (document/player.h): this only remembers where it was.
//
// A cache reads its document and never changes it; it belongs to one thread
// at a time, and the document must not change while it renders. After an
// edit, `invalidateFrom` the first frame the edit changed (or `clear`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "document/animation.h"
#include "document/player.h"

namespace fb {

// An RGBA picture, straight alpha, rows top-down without padding.
struct Rgba {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

class PictureCache {
 public:
  // `budgetBytes` 0: a sixteenth of the machine's memory, from 128 MB to 256 MB.
  explicit PictureCache(Animation& document, size_t budgetBytes = 0);
  ~PictureCache();
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  // The pictures a viewer shows: one per frame (an animated PNG's hidden
  // first frame is not one of them).
  int count() const;
  // Picture `n` (0-based) of the screen's size, copied to `out`. False when
  // `n` is out of range or memory runs out.
  bool picture(int n, Rgba& out);
  // The same without a copy: `pixels` points into the cache and stays valid
  // until the next call or change of the cache.
  struct View {
    int width = 0;
    int height = 0;
    const uint8_t* pixels = nullptr;
  };
  bool picture(int n, View& view);

  // Frames from `frame` on changed (or were inserted, removed, moved): their
  // pictures and everything after them are forgotten.
  void invalidateFrom(int frame);
  void clear();
  size_t bytesHeld() const;

 private:
  // The canvas as the player leaves it after a frame: its picture in tiles
  // (row-major, each `tileBytes` long) and the fields the next frame reads.
  struct Snapshot {
    std::vector<std::shared_ptr<uint8_t[]>> tiles;
    int32_t delay = 0;
    uint8_t controlFlags = 0;
    uint8_t transparentIndex = 0;
    const Palette* palette = nullptr;
    std::unique_ptr<Frame> saved;  // for a restore to the previous picture
  };
  struct TileRect {
    int x, y, width, height;
  };
  std::unique_ptr<FramePlayer> start();
  bool seek(int frame);
  bool restore(int frame, const Snapshot& s);
  void remember(int frame);
  void forget(std::map<int, Snapshot>::iterator it);
  size_t snapshotBytes() const;
  int intervalFor() const;
  TileRect tile(size_t t) const;
  size_t tileBytes(size_t t) const;
  size_t unsharedBytes(const Snapshot& s) const;
  // What every picture depends on, not only the frames before it: a hidden
  // first frame (1) and true-colour data in any frame (2, pictures start clear).
  int startState() const;

  Animation& doc_;
  size_t budget_;
  int interval_ = 1;
  int start_ = 0;
  int width_ = 0;  // the screen the snapshots and their tiles were made for
  int height_ = 0;
  int tileColumns_ = 0;
  size_t tileCount_ = 0;
  size_t kept_ = 0;                      // the bytes the snapshots hold, shared tiles once
  std::map<int, Snapshot> snapshots_;    // by frame index
  std::unique_ptr<FramePlayer> player_;  // at frame player_->index, when valid
  int base_ = -1;  // the snapshot the player's canvas was last equal to, or -1
};

// `source` (w × h RGBA) scaled to fit a `box` × `box` square, keeping its
// shape: area-averaged (with alpha weighting) when it shrinks, each pixel
// repeated when it grows. At least 1 × 1; empty (0 × 0) when memory runs out.
Rgba scaleToFit(const uint8_t* source, int width, int height, int box);

// A frame's own image (through its palette, transparent pixels clear) scaled
// to fit the box; empty when memory runs out.
Rgba frameThumbnail(const Frame& frame, int box);

}  // namespace fb
