// Frame transforms: rotate, flip, move/crop, crop, centre and resize.
#include "imaging/transform.h"

#include <gtest/gtest.h>

#include "base/reporter.h"
#include "imaging/imaging_util.h"
#include "testutil.h"

using namespace fb;
using namespace fbtest;

namespace {

// A 7 × 5 screen: a full opaque frame; a transparent 3 × 2 sprite restoring
// to the background with a hot spot; a 4 × 3 frame with a local palette and
// 24-bit colour and alpha data restoring to the previous picture.
std::unique_ptr<Animation> sample() {
  Frame* full = indexedFrame(7, 5, [](int x, int y) { return (x * 3 + y * 5) % 8; });
  full->delay = 10;
  full->setDisposal(1);
  Frame* sprite = indexedFrame(3, 2, [](int x, int y) { return x == 1 ? 3 : (x + y + 4) % 8; });
  sprite->left = 2;
  sprite->top = 1;
  sprite->delay = 20;
  sprite->setDisposal(2);
  sprite->hotspotX = 2;
  sprite->hotspotY = 1;
  Frame* local = indexedFrame(4, 3, [](int x, int y) { return (x + 2 * y) % 4; });
  local->left = 3;
  local->top = 2;
  local->delay = 30;
  local->setDisposal(3);
  auto a = animationOf(7, 5, spreadColours(8), {full, sprite, local});
  makeTransparent(*sprite, 3);
  const Rgb own[4] = {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {90, 90, 90}};
  setLocalPalette(*local, makePalette(own, 4));
  refreshFrameColours(*local, a->globalPalette.get());
  std::vector<uint8_t> rgb(static_cast<size_t>(stride24(4)) * 3), alpha(stride8(4) * 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      Rgb c = own[(x + 2 * y) % 4];
      uint8_t* p = rgb.data() + y * stride24(4) + 3 * x;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      alpha[y * stride8(4) + x] = x == 3 && y == 0 ? 0 : 255;
    }
  setRgb(*local, std::move(rgb));
  setAlpha(*local, std::move(alpha));
  return a;
}

std::vector<int> allFrames(const Animation& a) {
  std::vector<int> v;
  for (int i = 0; i < a.frameCount(); ++i) v.push_back(i);
  return v;
}

TEST(Transform, TurningAndMirroringComeBackToTheSameDocument) {
  for (Rotation r : {Rotation::Clockwise90, Rotation::Half, Rotation::Anticlockwise90}) {
    auto a = sample();
    std::string before = digest(*a);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(rotateAnimation(*a, r));
    EXPECT_TRUE(digest(*a) == before) << "four turns of the animation";
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(rotateFrames(*a, allFrames(*a), r));
    EXPECT_TRUE(digest(*a) == before) << "four turns of each frame";
  }
  auto a = sample();
  std::string before = digest(*a);
  ASSERT_TRUE(rotateAnimation(*a, Rotation::Clockwise90));
  EXPECT_TRUE(digest(*a) != before);
  ASSERT_TRUE(rotateAnimation(*a, Rotation::Anticlockwise90));
  EXPECT_TRUE(digest(*a) == before) << "90 then 270";
  for (FlipAxis axis : {FlipAxis::Horizontal, FlipAxis::Vertical}) {
    ASSERT_TRUE(flipAnimation(*a, axis));
    EXPECT_TRUE(digest(*a) != before);
    ASSERT_TRUE(flipAnimation(*a, axis));
    EXPECT_TRUE(digest(*a) == before) << "flip twice";
    ASSERT_TRUE(flipFrames(*a, {1, 2}, axis));
    ASSERT_TRUE(flipFrames(*a, {2, 1, 1}, axis));
    EXPECT_TRUE(digest(*a) == before) << "flip the frames twice";
  }
}

TEST(Transform, TurnedAnimationShowsTurnedPictures) {
  auto a = sample();
  std::vector<Picture> old = visiblePictures(*a);
  const int w = a->width, h = a->height;

  auto turned = sample();
  ASSERT_TRUE(rotateAnimation(*turned, Rotation::Clockwise90));
  EXPECT_EQ(turned->width, h);
  EXPECT_EQ(turned->height, w);
  std::vector<Picture> now = visiblePictures(*turned);
  ASSERT_EQ(now.size(), old.size());
  for (size_t i = 0; i < old.size(); ++i)
    EXPECT_EQ(now[i], remapped(old[i], w, h, w,
                               [h](int x, int y) {
                                 return std::pair{y, h - 1 - x};
                               }))
        << "picture " << i;

  for (FlipAxis axis : {FlipAxis::Horizontal, FlipAxis::Vertical}) {
    auto m = sample();
    ASSERT_TRUE(flipAnimation(*m, axis));
    now = visiblePictures(*m);
    for (size_t i = 0; i < old.size(); ++i)
      EXPECT_EQ(now[i], remapped(old[i], w, w, h,
                                 [&](int x, int y) {
                                   return axis == FlipAxis::Horizontal ? std::pair{w - 1 - x, y}
                                                                       : std::pair{x, h - 1 - y};
                                 }))
          << "picture " << i;
  }
  // Indices, palettes, transparency and delays stay as they were.
  Frame* sprite = turned->frame(1);
  EXPECT_TRUE(sprite->transparent());
  EXPECT_EQ(sprite->transparentIndex, 3);
  EXPECT_EQ(sprite->delay, 20);
  EXPECT_EQ(sprite->disposal(), 2);
  EXPECT_EQ(*turned->globalPalette, *a->globalPalette);
  EXPECT_EQ(*turned->frame(2)->localPalette, *a->frame(2)->localPalette);
  // The hot spot turns with its pixel: (2, 1) of a 3 × 2 frame is (0, 2) of the 2 × 3 one.
  EXPECT_EQ(sprite->hotspotX, 0);
  EXPECT_EQ(sprite->hotspotY, 2);
}

TEST(Transform, TurningSelectedFramesKeepsTheirCornerAndTheScreen) {
  auto a = sample();
  const std::vector<uint8_t> frame0 = a->frame(0)->dib->data;
  ASSERT_TRUE(rotateFrames(*a, {1}, Rotation::Clockwise90));
  Frame* f = a->frame(1);
  EXPECT_EQ(std::tuple(f->left, f->top, f->width, f->height), std::tuple(2, 1, 2, 3));
  EXPECT_EQ(a->width, 7);
  EXPECT_EQ(a->frame(0)->dib->data, frame0) << "other frames untouched";

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto b = sample();
  const std::string before = digest(*b);
  EXPECT_FALSE(rotateFrames(*b, {0, 8}, Rotation::Half));
  EXPECT_TRUE(rec.contains("There is no frame 9."));
  EXPECT_TRUE(digest(*b) == before) << "nothing changed, not even frame 0";
}

TEST(Transform, CropToTheScreenChangesNothingAndCropCutsThePictures) {
  auto a = sample();
  std::string before = digest(*a);
  ASSERT_TRUE(cropAnimation(*a, Rect{0, 0, 7, 5}));
  EXPECT_TRUE(digest(*a) == before);

  std::vector<Picture> old = visiblePictures(*a);
  for (Rect r : {Rect{1, 1, 4, 3}, Rect{0, 0, 2, 1}, Rect{6, 4, 1, 1}}) {
    auto c = sample();
    ASSERT_TRUE(cropAnimation(*c, r));
    EXPECT_EQ(c->width, r.width);
    EXPECT_EQ(c->height, r.height);
    ASSERT_EQ(c->frameCount(), 3);
    std::vector<Picture> now = visiblePictures(*c);
    for (size_t i = 0; i < old.size(); ++i)
      EXPECT_EQ(now[i], remapped(old[i], 7, r.width, r.height,
                                 [&r](int x, int y) {
                                   return std::pair{x + r.x, y + r.y};
                                 }))
          << "picture " << i << " of crop " << r.x << "," << r.y;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c->frame(i)->delay, (i + 1) * 10) << "delays kept";
  }
  // Nothing of the sprite is left in the top-left corner: one transparent pixel.
  auto c = sample();
  ASSERT_TRUE(cropAnimation(*c, Rect{0, 0, 2, 1}));
  Frame* gone = c->frame(1);
  EXPECT_EQ(std::tuple(gone->left, gone->top, gone->width, gone->height), std::tuple(0, 0, 1, 1));
  EXPECT_TRUE(gone->transparent());
  EXPECT_EQ(gone->dib->row(0)[0], gone->transparentIndex);
  EXPECT_NE(gone->disposal(), 2);

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  for (Rect bad : {Rect{-1, 0, 3, 3}, Rect{5, 0, 3, 3}, Rect{0, 0, 0, 3}, Rect{0, 4, 7, 2}}) {
    auto d = sample();
    EXPECT_FALSE(cropAnimation(*d, bad));
    EXPECT_TRUE(digest(*d) == before);
  }
  EXPECT_EQ(rec.texts().size(), 4u);
  EXPECT_TRUE(rec.contains(
      "The rectangle 5,0,3,3 must be at least one pixel and lie within the animation (7 x 5)."));
}

TEST(Transform, MoveCropAndCentre) {
  auto a = sample();
  ASSERT_TRUE(moveCropFrame(*a, 0, 10, 20, Rect{2, 1, 3, 2}));
  Frame* f = a->frame(0);
  EXPECT_EQ(std::tuple(f->left, f->top, f->width, f->height), std::tuple(10, 20, 3, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(f->dib->row(y)[x], ((x + 2) * 3 + (y + 1) * 5) % 8);
  // Moving alone keeps the pixels.
  Frame* sprite = a->frame(1);
  std::vector<uint8_t> pixels = sprite->dib->data;
  ASSERT_TRUE(moveCropFrame(*a, 1, 0, 3, Rect{0, 0, 3, 2}));
  EXPECT_EQ(sprite->dib->data, pixels);
  EXPECT_EQ(std::tuple(sprite->left, sprite->top), std::tuple(0, 3));

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  std::string before = digest(*a);
  EXPECT_FALSE(moveCropFrame(*a, 1, 0, 0, Rect{1, 0, 3, 2}));
  EXPECT_FALSE(moveCropFrame(*a, 1, 70000, 0, Rect{0, 0, 3, 2}));
  EXPECT_TRUE(digest(*a) == before);
  EXPECT_TRUE(
      rec.contains("The rectangle 1,0,3,2 must be at least one pixel and lie within the frame "
                   "(3 x 2)."));

  centreFrames(*a);
  EXPECT_EQ(std::tuple(f->left, f->top), std::tuple((7 - 3) / 2, (5 - 2) / 2));
  EXPECT_EQ(std::tuple(a->frame(2)->left, a->frame(2)->top), std::tuple(1, 1));
}

TEST(Transform, ResizeToTheSameSizeChangesNothing) {
  for (ResizeFilter filter : {ResizeFilter::Nearest, ResizeFilter::Bicubic}) {
    auto a = sample();
    std::string before = digest(*a);
    ASSERT_TRUE(resizeAnimation(*a, 7, 5, {filter}));
    EXPECT_TRUE(digest(*a) == before);
    ASSERT_TRUE(resizeFrames(*a, {1}, 3, 2, {filter}));
    EXPECT_TRUE(digest(*a) == before);
  }
}

TEST(Transform, NearestResizeShowsThePicturesSampledAtTheNewPixels) {
  auto a = sample();
  std::vector<Picture> old = visiblePictures(*a);
  for (auto size : {std::pair{11, 3}, std::pair{3, 8}, std::pair{14, 10}, std::pair{2, 2},
                    std::pair{21, 15}, std::pair{7, 15}}) {
    const int w = size.first, h = size.second;  // captured below, which bindings cannot be
    auto r = sample();
    ASSERT_TRUE(resizeAnimation(*r, w, h, {}));
    ASSERT_EQ(r->frameCount(), 3);
    std::vector<Picture> now = visiblePictures(*r);
    for (size_t i = 0; i < old.size(); ++i)
      EXPECT_EQ(
          now[i],
          remapped(
              old[i], 7, w, h,
              [&](int x, int y) {
                // The old pixel under the new one's centre; on an edge, the one before.
                return std::pair{((2 * x + 1) * 7 - 1) / (2 * w), ((2 * y + 1) * 5 - 1) / (2 * h)};
              }))
          << "picture " << i << " at " << w << "x" << h;
    EXPECT_TRUE(r->frame(1)->transparent());
    EXPECT_EQ(totalDelay(*r), 60);
  }
  // An even screen puts some new centres exactly on old pixel edges.
  auto even = sample();
  ASSERT_TRUE(cropAnimation(*even, Rect{0, 0, 6, 4}));
  std::vector<Picture> six = visiblePictures(*even);
  ASSERT_TRUE(resizeAnimation(*even, 9, 3, {}));
  std::vector<Picture> nine = visiblePictures(*even);
  for (size_t i = 0; i < six.size(); ++i)
    EXPECT_EQ(nine[i],
              remapped(six[i], 6, 9, 3,
                       [](int x, int y) {
                         return std::pair{((2 * x + 1) * 6 - 1) / 18, ((2 * y + 1) * 4 - 1) / 6};
                       }))
        << "picture " << i;
  // Doubling: every old pixel becomes four, the indices as they were.
  auto d = sample();
  ASSERT_TRUE(resizeFrames(*d, {1}, 6, 4, {}));
  Frame* f = d->frame(1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(f->dib->row(y)[x], a->frame(1)->dib->row(y / 2)[x / 2]);
  EXPECT_EQ(std::tuple(f->hotspotX, f->hotspotY), std::tuple(5, 3));
}

TEST(Transform, BicubicMapsBackIntoThePaletteAndKeepsTransparency) {
  // Left half transparent, right half one colour; a second colour nearby in
  // the palette must not be chosen for a flat area.
  const std::vector<Rgb> pal = {{0, 0, 0}, {250, 10, 10}, {240, 20, 20}, {0, 0, 255}};
  Frame* f = indexedFrame(8, 4, [](int x, int) { return x < 4 ? 0 : 1; });
  f->delay = 42;
  auto a = animationOf(8, 4, pal, {f});
  makeTransparent(*f, 0);
  ASSERT_TRUE(resizeAnimation(*a, 20, 9, {ResizeFilter::Bicubic}));
  ASSERT_EQ(std::tuple(f->width, f->height), std::tuple(20, 9));
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->delay, 42);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(f->dib->row(y)[x], 0) << x << "," << y;
    for (int x = 12; x < 20; ++x) EXPECT_EQ(f->dib->row(y)[x], 1) << x << "," << y;
    for (int x = 0; x < 20; ++x) EXPECT_NE(f->dib->row(y)[x], 3) << "no colour from nowhere";
  }
  // Shrinking a fine pattern averages it: a checkerboard of black and blue
  // becomes the palette colour nearest to dark blue.
  const std::vector<Rgb> pal2 = {{0, 0, 0}, {0, 0, 255}, {0, 0, 120}};
  Frame* g = indexedFrame(16, 16, [](int x, int y) { return (x + y) % 2; });
  auto b = animationOf(16, 16, pal2, {g});
  ASSERT_TRUE(resizeAnimation(*b, 4, 4, {ResizeFilter::Bicubic}));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(g->dib->row(y)[x], 2);
}

TEST(Transform, ResizeRefusesSizesItCannotMake) {
  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto a = sample();
  std::string before = digest(*a);
  EXPECT_FALSE(resizeAnimation(*a, 0, 5, {}));
  EXPECT_FALSE(resizeFrames(*a, {0}, 7, 70000, {}));
  EXPECT_FALSE(resizeAnimation(*a, 60000, 60000, {}));
  EXPECT_TRUE(digest(*a) == before);
  EXPECT_TRUE(rec.contains("Widths and heights must be from 1 to 65535 pixels."));
  EXPECT_TRUE(rec.contains("The result would be too large to hold in memory."));
}

}  // namespace
