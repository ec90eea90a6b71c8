#include "document/animation.h"

#include <gtest/gtest.h>

#include "base/prefs.h"
#include "base/progress.h"
#include "document/frame_ops.h"
#include "testutil.h"

using namespace fb;

namespace {

// Builds a document: frames of the given sizes, each filled with its index.
std::unique_ptr<Animation> makeAnimation(int frames, int w = 4, int h = 3) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  Rgb ramp[4] = {{0, 0, 0}, {80, 80, 80}, {160, 160, 160}, {255, 255, 255}};
  setGlobalPalette(*a, makePalette(ramp, 4));
  for (int i = 0; i < frames; ++i) {
    Frame* f = newBlankFrame(w, h).release();
    f->lendPalette(a->globalPalette.get());
    f->dib = createBitmap(w, h, f->palette());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f->dib->row(y)[x] = static_cast<uint8_t>(i & 3);
    f->delay = 10 * (i + 1);
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
  }
  return a;
}

Block* addComment(Animation& a, Block* after, const std::string& text) {
  auto c = newBlock(kCommentTag, 1);
  setCommentText(c.get(), text);
  Block* raw = c.get();
  a.insertAfterBlock(after, std::move(c));
  return raw;
}

}  // namespace

TEST(Document, NewAnimationHasOneBlankFrameAndThePreferredPlayCount) {
  DocumentDefaults d;
  d.playCount = 4;
  d.delay = 7;
  auto a = newAnimation(30, 20, d);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frameCount(), 1);
  EXPECT_EQ(a->encodedSize, -1);
  EXPECT_EQ(a->playCount, 4);
  EXPECT_EQ(a->anchorIndex, -1);
  EXPECT_EQ(a->head->tag, kSentinelTag);
  Frame* f = firstFrame(*a);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 30);
  EXPECT_EQ(f->height, 20);
  EXPECT_EQ(f->delay, 7);
  EXPECT_EQ(f->hotspotX, -1);
  EXPECT_EQ(f->blend, 1);
  EXPECT_EQ(nextBlock(f), nullptr);
}

TEST(Document, NavigationCountsFramesOnly) {
  auto a = makeAnimation(3);
  Block* c = addComment(*a, a->head, "first block");
  EXPECT_EQ(frameAt(*a, -1), nullptr);
  EXPECT_EQ(frameAt(*a, 3), nullptr);
  Frame* f0 = frameAt(*a, 0);
  ASSERT_TRUE(f0);
  EXPECT_EQ(prevBlock(f0), c);
  EXPECT_EQ(firstFrame(*a), f0);
  EXPECT_EQ(prevFrame(f0), nullptr);
  EXPECT_EQ(nextFrame(f0), frameAt(*a, 1));
  EXPECT_EQ(lastBlock(*a), frameAt(*a, 2));
  EXPECT_EQ(frameIndex(*a, frameAt(*a, 2)), 2);
  EXPECT_EQ(nextFrame(nullptr), nullptr);
  EXPECT_EQ(nextBlock(nullptr), nullptr);

  frameAt(*a, 0)->selected = 1;
  frameAt(*a, 2)->selected = 1;
  EXPECT_EQ(countSelected(*a), 2);
  EXPECT_EQ(firstSelectedFrame(*a), frameAt(*a, 0));
  EXPECT_EQ(nextSelectedFrame(frameAt(*a, 0)), frameAt(*a, 2));
  a->anchorIndex = 2;
  clearSelection(*a);
  EXPECT_EQ(a->selectedCount, 0);
  EXPECT_EQ(a->anchorIndex, -1);
  EXPECT_EQ(firstSelectedFrame(*a), nullptr);
}

TEST(Document, ReverseFramesNeedsTwoAndCarriesExtensionBlocks) {
  auto one = makeAnimation(1);
  Block* before = one->head->next;
  EXPECT_FALSE(reverseFrames(*one));
  EXPECT_EQ(one->head->next, before);

  auto a = makeAnimation(2);
  Frame* f0 = frameAt(*a, 0);
  Frame* f1 = frameAt(*a, 1);
  Block* c = addComment(*a, a->head, "note");
  ASSERT_TRUE(reverseFrames(*a));
  EXPECT_EQ(a->head->next, f1);
  EXPECT_EQ(f1->next, f0);
  EXPECT_EQ(f0->next, c);
  EXPECT_EQ(c->next, nullptr);
  // Back links agree with forward links.
  for (Block* b = a->head; b->next; b = b->next) EXPECT_EQ(b->next->prev, b);
}

TEST(Document, ChainEditing) {
  auto a = makeAnimation(3);
  Frame* f1 = frameAt(*a, 1);
  Block* after = removeBlock(*a, f1);
  EXPECT_EQ(after, frameAt(*a, 1));
  EXPECT_EQ(frameAt(*a, 0)->next, after);
  EXPECT_EQ(after->prev, frameAt(*a, 0));
  Block* c = newBlock(kCommentTag, 10).release();
  ASSERT_EQ(c->payload.size(), 10u);
  EXPECT_EQ(c->payload[0], 0) << "an empty sub-block chain";
  a->insertAfterBlock(a->head, BlockPtr(c));
  EXPECT_EQ(c->next, frameAt(*a, 0));
  EXPECT_EQ(frameAt(*a, 0)->prev, c);
}

// The model keeps the links, positions and count right through every chain
// operation; checked against a walk of the links after each one.
void expectConsistent(const Animation& a) {
  int n = 0;
  const Block* prev = a.head;
  for (const Block* b = a.head->next; b; prev = b, b = b->next) {
    EXPECT_EQ(b->prev, prev);
    EXPECT_EQ(b->owner, &a);
    if (b->isFrame()) {
      EXPECT_EQ(frameAt(a, n), b);
      EXPECT_EQ(frameIndex(a, static_cast<const Frame*>(b)), n);
      ++n;
    }
  }
  EXPECT_EQ(a.frameCount(), n);
  EXPECT_EQ(frameAt(a, n), nullptr);
}

std::vector<int> delaysOf(const Animation& a) {
  std::vector<int> out;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) out.push_back(f->delay);
  return out;
}

TEST(Document, TheModelKeepsItsIndexThroughEveryChainOperation) {
  auto a = makeAnimation(6);  // delays 10..60
  addComment(*a, frameAt(*a, 2), "between");
  expectConsistent(*a);

  removeFramesIf(*a, [](Frame& f) { return f.delay % 20 == 0; });
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 30, 50}));
  expectConsistent(*a);

  auto more = makeAnimation(2);
  frameAt(*more, 0)->delay = 7;
  frameAt(*more, 1)->delay = 8;
  a->insertBeforeFrame(1, more->takeAll());
  EXPECT_EQ(more->frameCount(), 0);
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 7, 8, 30, 50}));
  expectConsistent(*a);

  // Frames 0 and 3 move before the frame that was at 2, in their old order.
  int first = moveFrames(*a, {3, 0}, 2);
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{7, 10, 30, 8, 50}));
  EXPECT_EQ(first, 1);
  expectConsistent(*a);
  EXPECT_EQ(moveFrames(*a, {0}, -1), 4) << "to the end";
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 30, 8, 50, 7}));
  expectConsistent(*a);

  // A block taken out is no longer the animation's; taking it twice does nothing.
  Frame* last = frameAt(*a, 4);
  BlockPtr held = a->take(last);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->owner, nullptr);
  EXPECT_EQ(a->take(last), nullptr);
  expectConsistent(*a);
  // A block moved into another animation leaves the first one.
  auto other = createAnimation();
  other->append(held);
  Frame* f0 = frameAt(*a, 0);
  other->append(a->take(f0));
  expectConsistent(*a);
  expectConsistent(*other);
  EXPECT_EQ(delaysOf(*other), (std::vector<int>{7, 10}));
}

TEST(Document, AnOwnBlockInsertedAgainMovesRatherThanStandingTwice) {
  auto a = makeAnimation(3);  // delays 10, 20, 30
  a->append(a->share(frameAt(*a, 0)));
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{20, 30, 10}));
  EXPECT_EQ(a->blockCount(), 3u);
  expectConsistent(*a);
  a->insertAt(0, {a->share(frameAt(*a, 2))});
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 20, 30}));
  expectConsistent(*a);
  // Before itself: it stays before the block that follows it.
  a->insertAt(1, {a->share(frameAt(*a, 1))});
  EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 20, 30}));
  expectConsistent(*a);
  // One block named twice joins once.
  BlockPtr extra(newBlankFrame(1, 1));
  a->insertAt(0, {extra, extra});
  EXPECT_EQ(a->frameCount(), 4);
  EXPECT_EQ(a->blockCount(), 4u);
  expectConsistent(*a);
}

TEST(Document, AFramesPaletteIsAlwaysItsOwnersGlobalPalette) {
  auto a = makeAnimation(2);
  auto b = makeAnimation(1);
  Rgb other[2] = {{1, 2, 3}, {4, 5, 6}};
  setGlobalPalette(*b, makePalette(other, 2));
  Frame* f = frameAt(*a, 1);
  EXPECT_EQ(f->palette(), a->globalPalette.get());
  b->append(a->take(f));
  EXPECT_EQ(f->palette(), b->globalPalette.get()) << "it follows the frame to its new owner";
  // Replacing the global palette needs no re-pointing.
  setGlobalPalette(*b, makePalette(other, 1));
  EXPECT_EQ(f->palette(), b->globalPalette.get());
  // Queued documents merged: their frames show the receiver's palette, not the
  // palette of a record that is gone.
  a->nextAnimation = std::move(b);
  mergeQueuedAnimations(*a);
  EXPECT_EQ(a->frameCount(), 3);
  for (Frame* g = firstFrame(*a); g; g = nextFrame(g))
    EXPECT_EQ(g->palette(), a->globalPalette.get());
  // A frame that outlives its document shows nothing rather than a freed palette.
  BlockPtr kept = a->take(frameAt(*a, 0));
  a.reset();
  EXPECT_EQ(static_cast<Frame&>(*kept).palette(), nullptr);
}

TEST(Document, SwapContentsExchangesEverythingButIdentity) {
  auto a = makeAnimation(3, 4, 3);
  auto b = makeAnimation(1, 9, 9);
  Palette* aGlobal = a->globalPalette.get();
  Frame* aFirst = frameAt(*a, 0);
  swapContents(*a, *b);
  EXPECT_EQ(a->width, 9);
  EXPECT_EQ(a->frameCount(), 1);
  EXPECT_EQ(b->frameCount(), 3);
  EXPECT_EQ(b->globalPalette.get(), aGlobal);
  EXPECT_EQ(frameAt(*b, 0), aFirst);
  EXPECT_EQ(aFirst->palette(), aGlobal);
  expectConsistent(*a);
  expectConsistent(*b);
}

TEST(Document, MergeQueuedAnimationsAppendsEveryChainInOrder) {
  auto a = makeAnimation(2);
  auto b = makeAnimation(1);
  auto c = makeAnimation(3);
  Frame* b0 = frameAt(*b, 0);
  Frame* c2 = frameAt(*c, 2);
  b->nextAnimation = std::move(c);
  a->nextAnimation = std::move(b);
  mergeQueuedAnimations(*a);
  EXPECT_EQ(a->frameCount(), 6);
  EXPECT_EQ(a->nextAnimation, nullptr);
  EXPECT_EQ(frameAt(*a, 2), b0);
  EXPECT_EQ(frameAt(*a, 5), c2);
  int n = 0;
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) ++n;
  EXPECT_EQ(n, 6);
}

TEST(Document, FramesMovedByTheMergeUseTheReceivingPalette) {
  // Queued documents have global palettes of their own, destroyed with them:
  // their frames must not keep showing those (the sanitizer build sees a use
  // of freed memory; every build sees the palette).
  auto a = makeAnimation(1);
  auto b = makeAnimation(2);
  Rgb other[4] = {{9, 9, 9}, {80, 80, 80}, {160, 160, 160}, {255, 255, 255}};
  setGlobalPalette(*b, makePalette(other, 4));
  Frame* moved = frameAt(*b, 1);
  a->nextAnimation = std::move(b);
  mergeQueuedAnimations(*a);
  EXPECT_EQ(frameAt(*a, 2), moved);
  EXPECT_EQ(moved->palette(), a->globalPalette.get());
  EXPECT_EQ((*moved->palette())[0], (Rgb{0, 0, 0})) << "read through the frame's palette";
}

TEST(Document, DuplicateIsDeepAndIndependent) {
  auto a = makeAnimation(2);
  addComment(*a, a->head, "keep me");
  Frame* f1 = frameAt(*a, 1);
  setLocalPalette(*f1, makePalette(nullptr, 2));
  setFrameName(*f1, "named");
  f1->rgb.assign(static_cast<size_t>(stride24(4)) * 3, 9);
  f1->controlFlags = 1;
  f1->transparentIndex = 1;
  setBitmap(*f1, copyBitmap(*f1->dib));

  RecordingProgress progress;
  auto d = duplicateAnimation(*a, &progress);
  ASSERT_TRUE(d);
  EXPECT_EQ(progress.position(), 3);
  EXPECT_EQ(d->frameCount(), 2);
  EXPECT_NE(d->globalPalette.get(), a->globalPalette.get());
  EXPECT_EQ(*d->globalPalette, *a->globalPalette);
  Frame* g0 = frameAt(*d, 0);
  Frame* g1 = frameAt(*d, 1);
  EXPECT_EQ(g0->palette(), d->globalPalette.get()) << "a copy uses the new document's palette";
  EXPECT_NE(g1->localPalette.get(), f1->localPalette.get());
  EXPECT_EQ(g1->palette(), g1->localPalette.get());
  EXPECT_EQ(g1->imageFlags, f1->imageFlags);
  EXPECT_EQ(g1->rgb, f1->rgb);
  EXPECT_TRUE(g1->mask) << "a transparent copy has its mask";
  EXPECT_EQ(frameName(*g1), "named");
  EXPECT_EQ(atomRefCount(f1->name), 2);
  std::string text;
  ASSERT_TRUE(commentText(d->head->next, text));
  EXPECT_EQ(text, "keep me");

  g0->dib->row(0)[0] = 3;
  EXPECT_EQ(frameAt(*a, 0)->dib->row(0)[0], 0);
  Atom name = f1->name;
  d.reset();
  EXPECT_EQ(atomRefCount(name), 1) << "destroying the copy releases only its reference";
}

TEST(Document, ALargeDocumentIsCopiedWholeAndInOrder) {
  // Enough pixels that the frames are copied on several threads: the copy
  // must still hold every block in its place, and share names as one does.
  auto a = makeAnimation(9, 400, 320);
  int k = 0;
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f), ++k)
    f->dib->row(k)[k] = static_cast<uint8_t>(100 + k);  // each frame told apart
  addComment(*a, frameAt(*a, 3), "between");
  setFrameName(*frameAt(*a, 6), "sixth");
  Frame* see = frameAt(*a, 7);
  see->controlFlags = 1;
  see->transparentIndex = 3;
  see->mask = buildMask(*see->dib, see->transparentIndex);

  RecordingProgress progress;
  auto d = duplicateAnimation(*a, &progress);
  ASSERT_TRUE(d);
  EXPECT_EQ(fbtest::digest(*d), fbtest::digest(*a));
  EXPECT_EQ(atomRefCount(frameAt(*a, 6)->name), 2);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(frameAt(*d, i)->palette(), d->globalPalette.get()) << i;
  d.reset();
  EXPECT_EQ(atomRefCount(frameAt(*a, 6)->name), 1);
}

TEST(Document, PaletteSettersKeepTheFlagsInStep) {
  auto a = createAnimation();
  setGlobalPalette(*a, makePalette(nullptr, 5));
  EXPECT_EQ(a->screenFlags, 0x80 | (2 << 4) | 2);
  setGlobalPalette(*a, makePalette(nullptr, 256));
  EXPECT_EQ(a->screenFlags, 0xF7);
  auto old = setGlobalPalette(*a, nullptr, false);
  EXPECT_EQ(a->screenFlags, 0);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->count, 256);

  Frame f;
  f.imageFlags = 0x40;  // interlaced stays
  auto none = setLocalPalette(f, makePalette(nullptr, 17));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(f.imageFlags, 0x80 | 0x40 | 4);
  EXPECT_EQ(f.palette(), f.localPalette.get());
  auto prev = setLocalPalette(f, nullptr);
  EXPECT_EQ(prev->count, 17);
  EXPECT_EQ(f.imageFlags, 0x40);
}

TEST(Document, TransparencySettersMaintainTheMask) {
  Rgb pal[2] = {{10, 20, 30}, {40, 50, 60}};
  auto p = makePalette(pal, 2);
  Frame f;
  f.width = 9;
  f.height = 2;
  f.lendPalette(p.get());
  f.dib = createBitmap(9, 2, p.get());
  f.dib->row(0)[8] = 1;
  f.dib->row(1)[0] = 1;
  EXPECT_FALSE(f.mask);
  EXPECT_TRUE(setTransparent(f, true));
  EXPECT_FALSE(setTransparent(f, true)) << "unchanged: nothing";
  ASSERT_TRUE(f.mask);
  EXPECT_TRUE(f.mask->transparentAt(0, 0));
  EXPECT_FALSE(f.mask->transparentAt(8, 0));
  setTransparentIndex(f, 1);
  ASSERT_TRUE(f.mask);
  EXPECT_FALSE(f.mask->transparentAt(0, 0));
  EXPECT_TRUE(f.mask->transparentAt(8, 0));
  EXPECT_TRUE(f.mask->transparentAt(0, 1));
  // The colour table keeps the palette's colour; a viewer shows transparent
  // pixels as the button face, the frame's own colour or a custom colour.
  EXPECT_EQ(f.dib->colours[1], pal[1]);
  EXPECT_EQ(transparentDisplayColour(f, true, 0), (Rgb{0xF0, 0xF0, 0xF0}));
  EXPECT_EQ(transparentDisplayColour(f, true, 0x1000000), pal[1]);
  EXPECT_EQ(transparentDisplayColour(f, true, 0x20000FF), (Rgb{0xFF, 0, 0}));
  EXPECT_EQ(transparentDisplayColour(f, false, 0x20000FF), pal[1]);
  setTransparent(f, false);
  EXPECT_FALSE(f.mask);
  setTransparent(f, true);

  setBitmap(f, createBitmap(9, 2, p.get()));
  ASSERT_TRUE(f.mask) << "a new bitmap of a transparent frame gets its mask";
  EXPECT_FALSE(f.mask->transparentAt(0, 0));
}

TEST(Document, MaskMarksExactlyTheTransparentPixels) {
  // Widths around the 16- and 8-pixel steps; rows of a few values, and rows
  // where every one of a byte's 256 patterns of transparent pixels occurs.
  for (int w : {1, 7, 8, 9, 15, 16, 17, 31, 33, 64, 2056}) {
    auto b = createBitmap(w, 3, nullptr);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x)
        b->row(y)[x] = y == 2 ? static_cast<uint8_t>(((x / 8) >> (x % 8) & 1) ? 128 : 127)
                              : static_cast<uint8_t>((x * 7 + y * 13) % 5 + 126);
    auto m = buildMask(*b, 128);
    ASSERT_TRUE(m);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(m->transparentAt(x, y), b->row(y)[x] == 128) << w << " " << x << "," << y;
  }
}

TEST(Document, NamesAndComments) {
  auto a = makeAnimation(3);
  setFrameName(*frameAt(*a, 1), "kept");
  nameUnnamedFrames(*a, "/dir/sub/anim.gif");
  EXPECT_EQ(frameName(*frameAt(*a, 0)), "anim.gif - 帧 1");
  EXPECT_EQ(frameName(*frameAt(*a, 1)), "kept");
  EXPECT_EQ(frameName(*frameAt(*a, 2)), "anim.gif - 帧 3");

  auto one = makeAnimation(1);
  EXPECT_EQ(frameName(*firstFrame(*one)), "[未命名]");
  nameUnnamedFrames(*one, "anim.gif");
  EXPECT_EQ(frameName(*firstFrame(*one)), "anim.gif");

  Frame* f = firstFrame(*one);
  EXPECT_FALSE(setFrameName(*f, "anim.gif")) << "the same name is no change";
  EXPECT_EQ(atomRefCount(f->name), 1);
  EXPECT_TRUE(setFrameName(*f, nullptr));
  EXPECT_EQ(frameName(*f), "[未命名]");

  Block* app = newBlock(kApplicationTag, 1).release();
  EXPECT_EQ(setCommentText(app, "x"), nullptr);
  EXPECT_EQ(app->payload, std::vector<uint8_t>{0});
  std::string t;
  EXPECT_FALSE(commentText(app, t));
  delete app;

  Block* c = newBlock(kCommentTag, 1).release();
  ASSERT_EQ(setCommentText(c, "hi"), c);
  EXPECT_EQ(c->payload, (std::vector<uint8_t>{2, 'h', 'i', 0}));
  std::string longText(600, 'x');
  setCommentText(c, longText);
  EXPECT_EQ(c->payload.size(), 600u + 3 + 1) << "split into sub-blocks of at most 255";
  EXPECT_EQ(c->payload[0], 255);
  ASSERT_TRUE(commentText(c, t));
  EXPECT_EQ(t, longText);
  delete c;
}

TEST(Document, ColourBits) {
  int expect[][2] = {{0, 1},  {1, 1},  {2, 1},  {3, 2},  {4, 2},  {5, 3},   {8, 3},   {9, 4},
                     {16, 4}, {17, 5}, {33, 6}, {64, 6}, {65, 7}, {128, 7}, {129, 8}, {256, 8}};
  for (auto& e : expect) EXPECT_EQ(colourBits(e[0]), e[1]) << e[0];
}

TEST(Document, DelayTimeBase) {
  EXPECT_EQ(gifDelayToTicks(50, 100), 50);
  EXPECT_EQ(ticksToGifDelay(50, 100), 50u);
  EXPECT_EQ(gifDelayToTicks(50, 10), 5);
  EXPECT_EQ(ticksToGifDelay(5, 10), 50u);
  EXPECT_EQ(gifDelayToTicks(65535, 10), 6553);
  // Finer than the GIF unit: no division by zero.
  EXPECT_EQ(gifDelayToTicks(50, 1000), 500);
  EXPECT_EQ(ticksToGifDelay(500, 1000), 50u);

  uint8_t gce[5] = {4, 0x09, 0xFF, 0xFF, 7};
  DocumentDefaults tenths;
  tenths.timeBase = 10;
  EXPECT_EQ(newFrame(gce, tenths)->delay, 6553);
  std::unique_ptr<Frame> f(newFrame(gce));
  EXPECT_EQ(f->delay, 65535) << "delays are unsigned";
  EXPECT_EQ(f->controlFlags, 0x09);
  EXPECT_EQ(f->transparentIndex, 7);
  EXPECT_EQ(f->disposal(), 2);
}

TEST(Document, CountsAndSummaries) {
  auto a = makeAnimation(3, 10, 10);
  EXPECT_EQ(totalDelay(*a), 60);
  Frame* f2 = frameAt(*a, 2);
  f2->left = 1500;
  f2->top = 1200;
  Frame* f0 = frameAt(*a, 0);
  f0->left = 1100;
  f0->top = 1300;
  frameAt(*a, 1)->left = 1200;
  frameAt(*a, 1)->top = 1100;
  Extent e = frameExtent(*a);
  EXPECT_EQ(e.width, 1510);
  EXPECT_EQ(e.height, 1310);
  Bounds b = frameBounds(*a);
  EXPECT_EQ(b.left, 1100) << "frames far from the origin report their true minimum";
  EXPECT_EQ(b.top, 1100);
  EXPECT_EQ(b.right, 1510);
  EXPECT_EQ(b.bottom, 1310);
  auto empty = createAnimation();
  EXPECT_EQ(frameExtent(*empty).width, 0);
  EXPECT_EQ(frameBounds(*empty).right, 0);

  rescaleDelays(*a, 10, 100);
  EXPECT_EQ(frameAt(*a, 0)->delay, 1);
  EXPECT_EQ(frameAt(*a, 2)->delay, 3);

  EXPECT_TRUE(setPlayCount(*a, 3));
  EXPECT_FALSE(setPlayCount(*a, 3));

  recountColourUsage(*a);
  EXPECT_EQ(a->colourUsage[0], 100);
  EXPECT_EQ(a->colourUsage[1], 100);
  EXPECT_EQ(a->colourUsage[2], 100);
  setLocalPalette(*frameAt(*a, 1), makePalette(nullptr, 4));
  recountColourUsage(*a);
  EXPECT_EQ(a->colourUsage[1], 0) << "frames with their own palette do not count";

  // Large enough to be counted in groups side by side: every frame is counted
  // once, whichever group takes it, and the counts start afresh.
  auto large = makeAnimation(7, 420, 420);
  setLocalPalette(*frameAt(*large, 5), makePalette(nullptr, 4));
  large->colourUsage.fill(9);
  recountColourUsage(*large);
  EXPECT_EQ(large->colourUsage[0], 2 * 176400);  // frames 0 and 4
  EXPECT_EQ(large->colourUsage[1], 176400);      // frame 1; frame 5 has its own palette
  EXPECT_EQ(large->colourUsage[2], 2 * 176400);
  EXPECT_EQ(large->colourUsage[3], 176400);
  EXPECT_EQ(large->colourUsage[4], 0);
}

TEST(Document, HostileSizesAreRefusedNotAllocated) {
  EXPECT_EQ(createBitmap(65535, 65535, nullptr), nullptr);
  EXPECT_EQ(createBitmap(-1, 5, nullptr), nullptr);
  auto b = createBitmap(0, 0, nullptr);
  ASSERT_TRUE(b);
  EXPECT_TRUE(b->data.empty());
  auto c = createBitmap(5, 2, nullptr);
  EXPECT_EQ(c->stride, 8);
  EXPECT_EQ(stride24(5), 16);
}

TEST(Document, CroppingATrueColourFrameKeepsItUnmapped) {
  // A frame of 24-bit data only (as a PNG reader delivers it) half outside
  // the screen, and one wholly outside.
  auto a = createAnimation();
  a->width = 2;
  a->height = 2;
  for (int left : {-1, 5}) {
    auto f = newBlankFrame(3, 2);
    f->left = left;
    std::vector<uint8_t> rgb(static_cast<size_t>(stride24(3)) * 2, 0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x)
        rgb[static_cast<size_t>(y) * stride24(3) + 3 * x] = uint8_t(100 + x);
    setRgb(*f, std::move(rgb));
    appendFrame(*a, std::move(f));
  }
  ASSERT_TRUE(clipFramesToScreen(*a));
  Frame* f = frameAt(*a, 0);
  EXPECT_EQ(f->dib, nullptr) << "no zero-filled indexed image: still to be mapped";
  EXPECT_EQ(f->left, 0);
  EXPECT_EQ(f->width, 2);
  EXPECT_EQ(f->rgb[0], 101);
  EXPECT_EQ(f->rgb[3], 102);
  Frame* g = frameAt(*a, 1);
  EXPECT_EQ(g->dib, nullptr);
  EXPECT_EQ(g->width, 1);
  ASSERT_FALSE(g->alpha.empty());
  EXPECT_EQ(g->alpha[0], 0) << "a frame wholly outside shows nothing";
}

namespace fb {
namespace {

// Counts of every index, padding bytes left out, on both sides of the size
// where the counting changes method.
TEST(Document, IndexCountsSkipRowPaddingAtEverySize) {
  for (int width : {3, 61, 131}) {
    for (int height : {1, 40}) {
      auto b = createBitmap(width, height, nullptr);
      ASSERT_TRUE(b);
      std::fill(b->data.begin(), b->data.end(), uint8_t{255});  // padding included
      int64_t expected[256] = {};
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const uint8_t v = static_cast<uint8_t>((x * 7 + y * 13) % 200);  // never 255
          b->row(y)[x] = v;
          ++expected[v];
        }
      int64_t counts[256] = {};
      counts[3] = 5;  // added to, not overwritten
      expected[3] += 5;
      addIndexCounts(*b, counts);
      for (int i = 0; i < 256; ++i) ASSERT_EQ(counts[i], expected[i]) << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace fb
