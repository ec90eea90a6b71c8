#include "document/player.h"

#include <gtest/gtest.h>

#include "formats/png_rgba.h"

using namespace fb;

namespace {

struct Doc {
  std::unique_ptr<Animation> a;

  Doc(int w, int h, int background = 0) {
    a = createAnimation();
    a->width = w;
    a->height = h;
    a->backgroundIndex = static_cast<uint8_t>(background);
    Rgb pal[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    setGlobalPalette(*a, makePalette(pal, 4));
  }
  Frame& add(int l, int t, int w, int h, uint8_t fill, int disposal = 0, int transparent = -1) {
    Frame* f = newBlankFrame(w, h).release();
    f->left = l;
    f->top = t;
    f->lendPalette(a->globalPalette.get());
    f->dib = createBitmap(w, h, f->palette());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f->dib->row(y)[x] = fill;
    f->setDisposal(disposal);
    if (transparent >= 0) {
      f->transparentIndex = static_cast<uint8_t>(transparent);
      f->controlFlags |= 1;
    }
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
    return *f;
  }
};

uint8_t idx(const Frame* c, int x, int y) { return c->dib->row(y)[x]; }
std::array<uint8_t, 4> px(const Frame* c, int x, int y) {
  auto rgba = canvasToRgba(*c);
  size_t i = (static_cast<size_t>(y) * c->width + x) * 4;
  return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

}  // namespace

TEST(FramePlayer, DisposalToBackgroundFillsOnlyThePreviousRectangle) {
  Doc d(4, 4, 3);
  d.add(0, 0, 4, 4, 1, 1);      // red everywhere, kept
  d.add(1, 1, 2, 2, 2, 2);      // green square, restored to background after
  d.add(0, 0, 1, 1, 1, 0);      // a red dot elsewhere
  auto p = startPlayer(*d.a);
  Frame* c = firstPicture(*p);
  ASSERT_TRUE(c);
  EXPECT_EQ(idx(c, 1, 1), 1);
  c = nextPicture(*p);
  EXPECT_EQ(idx(c, 1, 1), 2);
  EXPECT_EQ(idx(c, 0, 0), 1);
  c = nextPicture(*p);
  EXPECT_EQ(idx(c, 1, 1), 3) << "the disposed rectangle shows the background index";
  EXPECT_EQ(idx(c, 2, 2), 3);
  EXPECT_EQ(idx(c, 3, 3), 1) << "outside it the canvas keeps its pixels";
  EXPECT_EQ(idx(c, 0, 3), 1);
  EXPECT_EQ(px(c, 1, 1), (std::array<uint8_t, 4>{0, 0, 255, 255}));
  EXPECT_EQ(c->delay, frameAt(*d.a, 2)->delay);
  EXPECT_EQ(nextPicture(*p), nullptr);
  EXPECT_EQ(p->canvas, nullptr);
}

TEST(FramePlayer, RestoreToBackgroundUnderATransparentFrameIsTransparent) {
  Doc d(3, 1, 3);
  d.add(0, 0, 3, 1, 1, 2);
  d.add(0, 0, 1, 1, 2, 0, 0);  // transparent index 0; pixel is 2 (drawn)
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(idx(c, 1, 0), 0) << "filled with the new frame's transparent index";
  EXPECT_EQ(px(c, 1, 0)[3], 0);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 255, 0, 255}));
}

TEST(FramePlayer, FirstFillDependsOnTheFirstFrame) {
  Doc opaque(3, 3, 2);
  opaque.add(1, 1, 1, 1, 1);
  auto p = startPlayer(*opaque.a);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(idx(c, 0, 0), 2);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 255, 0, 255}));

  Doc clear(3, 3, 2);
  clear.add(1, 1, 1, 1, 1, 0, 3);
  auto q = startPlayer(*clear.a);
  c = firstPicture(*q);
  EXPECT_EQ(idx(c, 0, 0), 3);
  EXPECT_EQ(px(c, 0, 0)[3], 0) << "pixels no frame covered are transparent";
  EXPECT_EQ(px(c, 1, 1), (std::array<uint8_t, 4>{255, 0, 0, 255}));
}

TEST(FramePlayer, RestoreToPreviousAndTransparentPixels) {
  Doc d(2, 1);
  d.add(0, 0, 2, 1, 1, 1);
  Frame& f = d.add(0, 0, 2, 1, 2, 3, 0);
  f.dib->row(0)[1] = 0;  // transparent pixel: red shows through
  d.add(0, 0, 1, 1, 3, 0, 0);
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(idx(c, 0, 0), 2);
  EXPECT_EQ(idx(c, 1, 0), 1);
  c = nextPicture(*p);
  EXPECT_EQ(idx(c, 0, 0), 3);
  EXPECT_EQ(idx(c, 1, 0), 1) << "the frame before the disposal-3 frame is restored";
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
}

TEST(FramePlayer, LocalPalettesShowTheirOwnColours) {
  Doc d(2, 1);
  d.add(0, 0, 2, 1, 1, 1);  // red through the global palette
  Frame& f = d.add(1, 0, 1, 1, 1, 1);
  Rgb local[2] = {{0, 0, 0}, {10, 20, 30}};
  setLocalPalette(f, makePalette(local, 2));
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255})) << "earlier pixels keep colour";
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{10, 20, 30, 255}));
  EXPECT_EQ(c->palette(), f.localPalette.get());
}

TEST(FramePlayer, TrueColourFramesAreCompositedOver) {
  Doc d(2, 1);
  Frame& base = d.add(0, 0, 2, 1, 1, 2);  // disposal 2 on a true-colour document
  base.rgb = {200, 0, 0, 200, 0, 0, 0, 0};
  base.alpha = {255, 255, 0, 0};
  Frame& top = d.add(0, 0, 1, 1, 2, 1);
  top.rgb = {0, 0, 255, 0};
  top.alpha = {128, 0, 0, 0};
  Frame& half = d.add(1, 0, 1, 1, 2, 1);
  half.rgb = {0, 255, 0, 0};
  half.alpha = {255, 0, 0, 0};
  half.blend = 0;

  auto p = startPlayer(*d.a);
  ASSERT_TRUE(p->has24Bit);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{200, 0, 0, 255}));
  c = nextPicture(*p);
  // The disposed rectangle becomes transparent, then half-transparent blue goes over it.
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 0, 255, 128}));
  EXPECT_EQ(px(c, 1, 0)[3], 0);
  c = nextPicture(*p);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 0, 255, 128})) << "untouched by frame 2";
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{0, 255, 0, 255}));
}

TEST(FramePlayer, DisposalOfATrueColourFrameClearsOnlyItsRectangle) {
  Doc d(3, 1);
  Frame& wide = d.add(0, 0, 3, 1, 1, 1);
  wide.rgb = {9, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0};
  wide.alpha = {255, 255, 255, 0};
  Frame& dot = d.add(2, 0, 1, 1, 1, 2);
  dot.rgb = {1, 2, 3, 0};
  dot.alpha = {255, 0, 0, 0};
  Frame& last = d.add(0, 0, 1, 1, 1, 1);
  last.rgb = {7, 7, 7, 0};
  last.alpha = {255, 0, 0, 0};
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  nextPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{9, 9, 9, 255})) << "never covered by the dot";
  EXPECT_EQ(px(c, 2, 0)[3], 0);
}

TEST(FramePlayer, FramesBeyondTheScreenAreClipped) {
  Doc d(2, 2);
  d.add(-1, -1, 2, 2, 1);
  d.add(1, 1, 5, 5, 2);
  auto p = startPlayer(*d.a);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(idx(c, 0, 0), 1);
  EXPECT_EQ(idx(c, 1, 1), 0);
  c = nextPicture(*p);
  EXPECT_EQ(idx(c, 1, 1), 2);
  auto empty = createAnimation();
  auto q = startPlayer(*empty);
  EXPECT_EQ(firstPicture(*q), nullptr);
}

TEST(FramePlayer, AnimatedPngsComposeByTheirOwnRules) {
  // Opaque indexed frames restored to the background: transparent in an
  // animated PNG (only the frame's rectangle), the background colour in a GIF.
  for (int apng = 0; apng < 2; ++apng) {
    Doc d(3, 1, 3);
    d.a->apngRules = apng;
    d.add(0, 0, 3, 1, 1, 1);
    d.add(1, 0, 1, 1, 2, 2);
    d.add(0, 0, 1, 1, 3, 1);
    auto p = startPlayer(*d.a);
    firstPicture(*p);
    nextPicture(*p);
    Frame* c = nextPicture(*p);
    EXPECT_EQ(idx(c, 1, 0), 3) << "the indexed canvas holds the background index either way";
    if (apng) EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    else EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(px(c, 2, 0), (std::array<uint8_t, 4>{255, 0, 0, 255})) << "outside: untouched";
  }

  // The canvas starts transparent; restoring the first frame to "previous"
  // brings that back.
  Doc first(2, 1, 1);
  first.a->apngRules = 1;
  first.add(0, 0, 1, 1, 2, 3);
  first.add(1, 0, 1, 1, 3, 1);
  auto p = startPlayer(*first.a);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(px(c, 1, 0)[3], 0);
  c = nextPicture(*p);
  EXPECT_EQ(px(c, 0, 0)[3], 0);
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{0, 0, 255, 255}));
}

TEST(FramePlayer, TheHiddenDefaultImageIsNotAPicture) {
  Doc d(2, 1);
  d.a->hideFirstFrame = 1;
  d.add(0, 0, 2, 1, 3, 1);
  d.add(0, 0, 1, 1, 1, 1);
  d.add(1, 0, 1, 1, 2, 1);
  auto p = startPlayer(*d.a);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(p->index, 1);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(idx(c, 1, 0), 0) << "the default image was never drawn";
  c = nextPicture(*p);
  EXPECT_EQ(idx(c, 1, 0), 2);
  EXPECT_EQ(nextPicture(*p), nullptr);
  // With nothing after it, the default image is all there is to show.
  Doc one(2, 1);
  one.a->hideFirstFrame = 1;
  one.add(0, 0, 2, 1, 3, 1);
  auto q = startPlayer(*one.a);
  EXPECT_EQ(idx(firstPicture(*q), 0, 0), 3);
}

TEST(FramePlayer, BlendSourceLetsTransparentIndexedPixelsClear) {
  Doc d(2, 1);
  d.add(0, 0, 2, 1, 1, 1);
  Frame& f = d.add(0, 0, 2, 1, 2, 1, 0);
  f.dib->row(0)[1] = 0;
  f.blend = 0;
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 255, 0, 255}));
  EXPECT_EQ(px(c, 1, 0)[3], 0) << "replaced by the frame's transparent pixel";
  EXPECT_EQ(idx(c, 1, 0), 0);
}

TEST(FramePlayer, TrueColourDocumentsStartTransparent) {
  Doc d(1, 1, 1);
  Frame& f = d.add(0, 0, 1, 1, 1, 1);
  f.rgb = {0, 0, 255, 0};
  f.alpha = {128, 0, 0, 0};
  auto p = startPlayer(*d.a);
  Frame* c = firstPicture(*p);
  EXPECT_EQ(px(c, 0, 0), (std::array<uint8_t, 4>{0, 0, 255, 128}))
      << "not blended over an opaque background colour";
}

TEST(FramePlayer, TrueColourFramesWithoutIndexedPixelsShowInTrueColour) {
  Doc d(2, 1, 1);
  d.add(0, 0, 2, 1, 2, 1);
  Frame* f = newBlankFrame(1, 1).release();  // as read from a true-colour picture, not yet mapped
  f->left = 1;
  f->rgb = {10, 20, 30, 0};
  fb::appendBlock(*d.a, std::unique_ptr<fb::Block>(f));
  auto p = startPlayer(*d.a);
  firstPicture(*p);
  Frame* c = nextPicture(*p);
  EXPECT_EQ(px(c, 1, 0), (std::array<uint8_t, 4>{10, 20, 30, 255}));
  EXPECT_EQ(idx(c, 1, 0), 2) << "the indexed canvas keeps what it had";
}

TEST(FramePlayer, AScreenBeyondThePixelCapIsRefusedInEitherMode) {
  // A hostile logical screen just over the cap, with one tiny frame.
  Doc d(9500, 9500);
  d.add(0, 0, 1, 1, 1);
  for (bool rgba : {false, true}) {
    auto p = startPlayer(*d.a);
    p->rgbaMode = rgba;
    EXPECT_EQ(firstPicture(*p), nullptr) << rgba;
  }
}

TEST(FramePlayer, TransparentPixelsLeaveTheCanvasWhereverTheyFallInEitherMode) {
  // A 29-pixel-wide frame off the left edge: transparent runs of every length,
  // starting anywhere, so whole and partial groups of eight are both passed over.
  Doc d(32, 2);
  d.add(0, 0, 32, 2, 1);  // red underneath
  Frame& f = d.add(2, 0, 29, 2, 2, 0, 0);
  std::vector<bool> shown(29);
  for (int x : {0, 1, 5, 12, 13, 14, 15, 27, 28}) shown[static_cast<size_t>(x)] = true;
  for (int x = 0; x < 29; ++x) {
    for (int y = 0; y < 2; ++y) f.dib->row(y)[x] = shown[static_cast<size_t>(x)] ? 3 : 0;
  }
  for (bool rgba : {false, true}) {
    SCOPED_TRACE(rgba);
    auto p = startPlayer(*d.a);
    p->rgbaMode = rgba;
    ASSERT_TRUE(firstPicture(*p));
    Frame* c = nextPicture(*p);
    ASSERT_TRUE(c);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool blue = x >= 2 && x < 31 && shown[static_cast<size_t>(x - 2)];
        const uint8_t* got = rgba ? c->rgb.data() + (static_cast<size_t>(y) * 32 + x) * 4 : nullptr;
        const std::array<uint8_t, 4> want =
            blue ? std::array<uint8_t, 4>{0, 0, 255, 255} : std::array<uint8_t, 4>{255, 0, 0, 255};
        if (rgba)
          EXPECT_EQ((std::array<uint8_t, 4>{got[0], got[1], got[2], got[3]}), want) << x;
        else {
          EXPECT_EQ(px(c, x, y), want) << x;
          EXPECT_EQ(idx(c, x, y), blue ? 3 : 1) << x;
        }
      }
  }
}
