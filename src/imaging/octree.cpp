#include "imaging/octree.h"

#include <algorithm>
#include <new>

#include "document/bitmap.h"

namespace fb {
namespace {

constexpr int kChunkNodes = 256;

OctreeNode* allocNode(ColourOctree& t) {
  OctreeNode* n = t.freeList;
  if (n) {
    t.freeList = n->nextReducible;
  } else {
    if (t.chunks.empty() || t.chunkUsed == kChunkNodes) {
      auto chunk = std::unique_ptr<OctreeNode[]>(new (std::nothrow) OctreeNode[kChunkNodes]);
      if (!chunk) return nullptr;
      try {
        t.chunks.push_back(std::move(chunk));
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
      t.chunkUsed = 0;
    }
    n = &t.chunks.back()[t.chunkUsed++];
    ++t.nodesAllocated;
  }
  *n = OctreeNode{};
  return n;
}

void freeNode(ColourOctree& t, OctreeNode* n) {
  n->nextReducible = t.freeList;
  t.freeList = n;
}

inline int childIndex(uint8_t r, uint8_t g, uint8_t b, int level) {
  int shift = 7 - level;
  return (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
}

int lockedChildren(const OctreeNode* n) {
  int k = 0;
  for (const OctreeNode* c : n->children)
    if (c && c->locked) ++k;
  return k;
}

// Folds one node of the deepest level that has reducible nodes. False when
// nothing can be folded.
bool foldOnce(ColourOctree& t) {
  int level = t.depth - 1;
  while (level >= 0 && !t.reducible[static_cast<size_t>(level)]) --level;
  if (level < 0) return false;
  OctreeNode*& head = t.reducible[static_cast<size_t>(level)];
  // The lightest node, the first one on equal weight. Past the head, nodes
  // holding two or more locked colours are passed over: folding them would
  // lose a locked colour.
  OctreeNode* best = head;
  OctreeNode* bestPrev = nullptr;
  for (OctreeNode *prev = head, *n = head->nextReducible; n; prev = n, n = n->nextReducible) {
    if (n->weight < best->weight && lockedChildren(n) < 2) {
      best = n;
      bestPrev = prev;
    }
  }
  if (bestPrev)
    bestPrev->nextReducible = best->nextReducible;
  else
    head = best->nextReducible;
  best->nextReducible = nullptr;

  int children = 0;
  for (OctreeNode*& c : best->children) {
    if (!c) continue;
    best->count += c->count;
    best->sumR += c->sumR;
    best->sumG += c->sumG;
    best->sumB += c->sumB;
    if (c->locked) {
      best->locked = true;
      best->lockedR = c->lockedR;
      best->lockedG = c->lockedG;
      best->lockedB = c->lockedB;
    }
    freeNode(t, c);
    c = nullptr;
    ++children;
  }
  best->leaf = true;
  t.leafCount -= children - 1;
  return true;
}

void assignIndices(OctreeNode* n, Palette& p) {
  if (n->leaf) {
    n->index = p.count;
    Rgb c;
    if (n->locked) {
      c = Rgb{n->lockedR, n->lockedG, n->lockedB};
    } else if (n->count > 0) {
      c = Rgb{static_cast<uint8_t>(std::clamp(n->sumR / n->count, 0.0, 255.0)),
              static_cast<uint8_t>(std::clamp(n->sumG / n->count, 0.0, 255.0)),
              static_cast<uint8_t>(std::clamp(n->sumB / n->count, 0.0, 255.0))};
    }
    if (p.count < 256) p[p.count++] = c;
    return;
  }
  for (OctreeNode* c : n->children)
    if (c) assignIndices(c, p);
}

}  // namespace

ColourOctree::~ColourOctree() = default;  // the pool frees every node

std::unique_ptr<ColourOctree> createOctree(int maxColours, int depth) {
  auto t = std::unique_ptr<ColourOctree>(new (std::nothrow) ColourOctree);
  if (!t) return nullptr;
  t->maxColours = std::clamp(maxColours, 1, 256);
  t->depth = std::clamp(depth, 1, ColourOctree::kDepth);
  t->root = allocNode(*t);
  if (!t->root) return nullptr;
  t->reducible[0] = t->root;
  return t;
}

void destroyOctree(std::unique_ptr<ColourOctree>& tree) {
  tree.reset();
}

bool addColour(ColourOctree& t, uint8_t r, uint8_t g, uint8_t b, double weight, bool locked) {
  OctreeNode* n = t.root;
  bool created = false;
  for (int level = 0; !n->leaf; ++level) {
    n->weight += weight;
    OctreeNode*& child = n->children[static_cast<size_t>(childIndex(r, g, b, level))];
    if (!child) {
      child = allocNode(t);
      if (!child) {
        t.outOfMemory = true;
        return false;
      }
      created = true;
      if (level + 1 >= t.depth) {
        child->leaf = true;
        ++t.leafCount;
      } else {
        child->nextReducible = t.reducible[static_cast<size_t>(level + 1)];
        t.reducible[static_cast<size_t>(level + 1)] = child;
      }
    }
    n = child;
  }
  n->count += weight;
  n->sumR += weight * r;
  n->sumG += weight * g;
  n->sumB += weight * b;
  if (locked) {
    n->locked = true;
    n->lockedR = r;
    n->lockedG = g;
    n->lockedB = b;
  }
  if (created)
    while (t.leafCount > t.maxColours && foldOnce(t)) {
    }
  t.peakLeafCount = std::max(t.peakLeafCount, t.leafCount);
  return true;
}

bool addImage(ColourOctree& t, int width, int height, const uint8_t* rgbRows,
              const uint8_t* alphaPlane, int alphaThreshold) {
  int s24 = stride24(width), s8 = stride8(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* px = rgbRows + static_cast<size_t>(y) * s24;
    const uint8_t* a = alphaPlane ? alphaPlane + static_cast<size_t>(y) * s8 : nullptr;
    // Gather runs of one colour into a single weighted addition.
    uint32_t runColour = 0;
    double run = 0;
    for (int x = 0; x < width; ++x, px += 3) {
      if (a && a[x] < alphaThreshold) continue;
      uint32_t c = (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
      if (run > 0 && c == runColour) {
        run += 1;
        continue;
      }
      if (run > 0 &&
          !addColour(t, uint8_t(runColour >> 16), uint8_t(runColour >> 8), uint8_t(runColour), run))
        return false;
      runColour = c;
      run = 1;
    }
    if (run > 0 &&
        !addColour(t, uint8_t(runColour >> 16), uint8_t(runColour >> 8), uint8_t(runColour), run))
      return false;
  }
  return true;
}

bool addPalette(ColourOctree& t, const int64_t* usageCounts, const Palette& palette) {
  for (int i = 0; i < palette.count; ++i)
    if (usageCounts[i] != 0 &&
        !addColour(t, palette[i].r, palette[i].g, palette[i].b, double(usageCounts[i])))
      return false;
  return true;
}

std::unique_ptr<Palette> buildPalette(ColourOctree& t, int maxColours, bool reserveTransparent) {
  int target = std::clamp(maxColours, 1, 256) - (reserveTransparent ? 1 : 0);
  target = std::max(target, 1);
  while (t.leafCount > target && foldOnce(t)) {
  }
  auto p = makePalette(nullptr, 0);
  if (!p) return nullptr;
  assignIndices(t.root, *p);
  if (reserveTransparent && p->count < 256) p->entries[static_cast<size_t>(p->count++)] = Rgb{};
  return p;
}

int lookup(const ColourOctree& t, uint8_t r, uint8_t g, uint8_t b) {
  const OctreeNode* n = t.root;
  for (int level = 0; !n->leaf; ++level) {
    n = n->children[static_cast<size_t>(childIndex(r, g, b, level))];
    if (!n) return 0;
  }
  return n->index;
}

void mapImage(const ColourOctree& t, int width, int height, const uint8_t* rgbRows,
              const uint8_t* alphaPlane, uint8_t* outIndices, int transparentIndex,
              int alphaThreshold) {
  int s24 = stride24(width), s8 = stride8(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* px = rgbRows + static_cast<size_t>(y) * s24;
    const uint8_t* a = alphaPlane ? alphaPlane + static_cast<size_t>(y) * s8 : nullptr;
    uint8_t* out = outIndices + static_cast<size_t>(y) * s8;
    uint32_t last = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (int x = 0; x < width; ++x, px += 3) {
      if (a && a[x] < alphaThreshold) {
        out[x] = static_cast<uint8_t>(transparentIndex);
        continue;
      }
      uint32_t c = (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
      if (c != last) {
        last = c;
        lastIndex = static_cast<uint8_t>(lookup(t, px[0], px[1], px[2]));
      }
      out[x] = lastIndex;
    }
  }
}

}  // namespace fb
