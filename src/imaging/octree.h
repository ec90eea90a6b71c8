// Octree colour quantiser (depth 6) with an optional set of locked colours
// that come out of the palette exactly.
//
// Colours are sorted into the tree by their top bits, one bit of each channel
// per level; leaves sit at level 6, so colours are told apart by their top 6
// bits. Whenever adding a colour makes more leaves than the limit, the lightest
// node of the deepest level that still has children is folded into a leaf.
// Nodes come from a pool owned by the tree: adding pixels allocates only when
// a new path is made, and folded nodes are reused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "document/palette.h"

namespace fb {

struct OctreeNode {
  bool leaf = false;
  double count = 0;  // pixels that ended at this leaf
  double sumR = 0, sumG = 0, sumB = 0;
  double weight = 0;  // pixels that passed through this (non-leaf) node
  int index = 0;      // palette index, once built
  std::array<OctreeNode*, 8> children{};
  OctreeNode* nextReducible = nullptr;
  // Locked variant: this leaf gives exactly this colour.
  bool locked = false;
  uint8_t lockedR = 0, lockedG = 0, lockedB = 0;
};

struct ColourOctree {
  static constexpr int kDepth = 6;
  OctreeNode* root = nullptr;
  // Non-leaf nodes per level, newest first. The root is on level 0's list so
  // that the tree can always be folded down to a single leaf.
  std::array<OctreeNode*, kDepth> reducible{};
  int leafCount = 0;
  int maxColours = 0;
  int depth = kDepth;

  // Bookkeeping for the memory bound.
  int peakLeafCount = 0;   // largest leaf count seen between additions
  int nodesAllocated = 0;  // pool size: grows only when no folded node is free
  bool outOfMemory = false;

  ColourOctree() = default;
  ColourOctree(const ColourOctree&) = delete;
  ColourOctree& operator=(const ColourOctree&) = delete;
  ~ColourOctree();

  // Pool internals.
  std::vector<std::unique_ptr<OctreeNode[]>> chunks;
  int chunkUsed = 0;
  OctreeNode* freeList = nullptr;
};

// A tree that holds at most `maxColours` (clamped to 1..256) leaves. Null when
// memory runs out.
std::unique_ptr<ColourOctree> createOctree(int maxColours, int depth = ColourOctree::kDepth);
void destroyOctree(std::unique_ptr<ColourOctree>& tree);

// Adds `weight` pixels of colour (r, g, b). With `locked`, the leaf it reaches
// keeps exactly this colour in the palette. False when memory ran out.
bool addColour(ColourOctree& tree, uint8_t r, uint8_t g, uint8_t b, double weight,
               bool locked = false);
// Adds every pixel of an image (rows of stride24(width), R, G, B) whose alpha
// is at least `alphaThreshold` (every pixel with nonzero alpha by default; no
// alpha plane: every pixel). Runs of one colour go in as one weighted addition.
bool addImage(ColourOctree& tree, int width, int height, const uint8_t* rgbRows,
              const uint8_t* alphaPlane, int alphaThreshold = 1);
// Adds each palette entry with a nonzero usage count, weighted by it.
bool addPalette(ColourOctree& tree, const int64_t* usageCounts, const Palette& palette);

// Folds the tree until it has at most `maxColours` leaves (one fewer with
// `reserveTransparent`, but at least one), numbers the leaves depth first and
// returns their colours (sum ÷ count, truncated; a locked leaf its own colour).
// With `reserveTransparent` one black entry follows the colours: the
// transparent index. Null when memory runs out.
std::unique_ptr<Palette> buildPalette(ColourOctree& tree, int maxColours, bool reserveTransparent);

// The palette index of the leaf that (r, g, b) reaches; 0 when its path ends
// at a missing child. Valid after `buildPalette`.
int lookup(const ColourOctree& tree, uint8_t r, uint8_t g, uint8_t b);

// Indices for an image: `outIndices` rows of stride8(width); pixels whose
// alpha is below `alphaThreshold` become `transparentIndex`.
void mapImage(const ColourOctree& tree, int width, int height, const uint8_t* rgbRows,
              const uint8_t* alphaPlane, uint8_t* outIndices, int transparentIndex,
              int alphaThreshold = 1);

}  // namespace fb
