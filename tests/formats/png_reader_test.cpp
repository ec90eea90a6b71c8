#include "formats/png_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "document/player.h"
#include "formats/png_builder.h"
#include "formats/png_rgba.h"
#include "gif/gif_reader.h"
#include "imaging/palette_merge.h"
#include "testutil.h"

using namespace fb;
using fbtest::PngBuilder;
using fbtest::Rows;
using fbtest::solid;

namespace {

const char* kCorrupt = "Error reading PNG data. File appears to be corrupt.";

int readPng(const std::vector<uint8_t>& bytes, std::unique_ptr<Animation>& a,
            Progress* progress = nullptr, const DocumentDefaults& defaults = {}) {
  MemorySource src(bytes.data() + 8, bytes.size() - 8);
  return ReadPngStream(src, progress, a, defaults);
}

std::vector<Frame*> framesOf(const Animation& a) {
  std::vector<Frame*> v;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) v.push_back(f);
  return v;
}

std::array<uint8_t, 3> rgbAt(const Frame& f, int x, int y) {
  const uint8_t* p = f.rgb.data() + size_t(y) * stride24(f.width) + 3 * x;
  return {p[0], p[1], p[2]};
}
uint8_t alphaAt(const Frame& f, int x, int y) {
  return f.alpha[size_t(y) * stride8(f.width) + x];
}

// A 4 x 2 RGBA animation: an opaque red default image that is frame 0, then
// three frames with the given controls.
std::vector<uint8_t> fourFrames() {
  PngBuilder b;
  b.ihdr(4, 2, 8, 6).actl(4, 3);
  b.fctl(0, 4, 2, 0, 0, 1, 10, 0, 0).idat(solid(4, 2, {255, 0, 0, 255}));
  b.fctl(1, 2, 1, 1, 1, 3, 0, 1, 1).fdat(2, solid(2, 1, {0, 255, 0, 128}));
  b.fctl(3, 1, 1, 3, 0, 0, 100, 2, 0).fdat(4, solid(1, 1, {0, 0, 255, 255}));
  b.fctl(5, 4, 2, 0, 0, 65535, 1000, 0, 1).fdat(6, solid(4, 2, {1, 2, 3, 4}));
  b.iend();
  return b.bytes;
}

}  // namespace

TEST(PngReader, APlainPictureIsOneFrameWithoutDelay) {
  PngBuilder b;
  b.ihdr(3, 2, 8, 3).plte({10, 20, 30, 40, 50, 60, 70, 80, 90});
  b.idat({{0, 1, 2}, {2, 1, 0}}).iend();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->width, 3);
  EXPECT_EQ(a->height, 2);
  EXPECT_EQ(a->frameCount(), 1);
  EXPECT_EQ(a->playCount, 0);
  EXPECT_EQ(a->hideFirstFrame, 0);
  EXPECT_EQ(a->apngRules, 0);
  ASSERT_TRUE(a->globalPalette);
  EXPECT_EQ(a->globalPalette->count, 3) << "every PLTE entry";
  EXPECT_EQ((*a->globalPalette)[2], (Rgb{70, 80, 90}));
  Frame* f = firstFrame(*a);
  EXPECT_EQ(f->delay, 0);
  EXPECT_EQ(f->disposal(), 1);
  EXPECT_EQ(f->blend, 0);
  EXPECT_FALSE(f->transparent());
  EXPECT_FALSE(f->hasRgb());
  EXPECT_EQ(f->palette(), a->globalPalette.get());
  EXPECT_EQ(f->dib->row(1)[0], 2);
  EXPECT_EQ(f->dib->colours[1], (Rgb{40, 50, 60}));
}

TEST(PngReader, FrameControlsMapOntoFrames) {
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(fourFrames(), a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 4);
  EXPECT_EQ(a->playCount, 3);
  EXPECT_EQ(a->hideFirstFrame, 0);
  EXPECT_EQ(a->apngRules, 1);
  auto f = framesOf(*a);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0]->delay, 10) << "1/10 s";
  EXPECT_EQ(f[1]->delay, 3) << "a denominator of 0 means hundredths";
  EXPECT_EQ(f[2]->delay, 0);
  EXPECT_EQ(f[3]->delay, 6553) << "65535/1000 s, rounded down";
  EXPECT_EQ(f[0]->disposal(), 1);
  EXPECT_EQ(f[1]->disposal(), 2);
  EXPECT_EQ(f[2]->disposal(), 3);
  EXPECT_EQ(f[0]->blend, 0);
  EXPECT_EQ(f[1]->blend, 1);
  EXPECT_EQ(f[2]->blend, 0);
  EXPECT_EQ(f[1]->left, 1);
  EXPECT_EQ(f[1]->top, 1);
  EXPECT_EQ(f[1]->width, 2);
  EXPECT_EQ(f[1]->height, 1);
  EXPECT_EQ(f[2]->left, 3);
  EXPECT_EQ(rgbAt(*f[1], 1, 0), (std::array<uint8_t, 3>{0, 255, 0}));
  EXPECT_EQ(alphaAt(*f[1], 1, 0), 128);

  // Delays count in ticks of the time base: 1/10 s is one tick of 10 per second.
  DocumentDefaults tenths;
  tenths.timeBase = 10;
  ASSERT_EQ(readPng(fourFrames(), a, nullptr, tenths), kReadComplete);
  EXPECT_EQ(firstFrame(*a)->delay, 1);
}

TEST(PngReader, ASingleFrameAnimationReadsNoFrameControl) {
  // acTL says one frame: the picture is read as a still one (no delay, dispose
  // op 0, blend op 0), whatever its fcTL says; the number of plays is kept.
  PngBuilder b;
  b.ihdr(4, 2, 8, 6).actl(1, 5);
  b.fctl(0, 4, 2, 0, 0, 7, 10, 1, 1).idat(solid(4, 2, {255, 0, 0, 255})).iend();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(b.bytes, a), kReadComplete);
  ASSERT_EQ(a->frameCount(), 1);
  EXPECT_EQ(a->playCount, 5);
  Frame* f = firstFrame(*a);
  EXPECT_EQ(f->delay, 0);
  EXPECT_EQ(f->disposal(), 1);
  EXPECT_EQ(f->blend, 0);
  EXPECT_EQ(f->width, 4);
}

TEST(PngReader, PalettePartialAlphaBecomesTheOneTransparentIndex) {
  PngBuilder b;
  std::vector<uint8_t> plte;
  for (int i = 0; i < 10; ++i) plte.insert(plte.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  std::vector<uint8_t> trns(10, 255);
  trns[5] = 128;
  trns[9] = 0;
  b.ihdr(4, 1, 8, 3).plte(plte).trns(trns).idat({{9, 5, 1, 9}}).iend();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(b.bytes, a), kReadComplete);
  Frame* f = firstFrame(*a);
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->transparentIndex, 5);
  const uint8_t* row = f->dib->row(0);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{5, 5, 1, 5}));
  ASSERT_TRUE(f->mask);
  EXPECT_TRUE(f->mask->transparentAt(0, 0));
  EXPECT_FALSE(f->mask->transparentAt(2, 0));
  EXPECT_EQ(a->globalPalette->count, 10);
}

TEST(PngReader, GreyImagesAreIndexedInARamp) {
  std::unique_ptr<Animation> a;
  PngBuilder two;
  two.ihdr(4, 1, 2, 0).idat({fbtest::pack(2, {0, 1, 2, 3})}).iend();
  ASSERT_EQ(readPng(two.bytes, a), kReadComplete);
  ASSERT_EQ(a->globalPalette->count, 4);
  EXPECT_EQ((*a->globalPalette)[1], (Rgb{85, 85, 85}));
  EXPECT_EQ((*a->globalPalette)[3], (Rgb{255, 255, 255}));
  EXPECT_EQ(firstFrame(*a)->dib->row(0)[2], 2) << "one byte per pixel";
  EXPECT_FALSE(firstFrame(*a)->hasRgb());

  PngBuilder sixteen;
  sixteen.ihdr(2, 1, 16, 0).idat({{0x12, 0x34, 0xFF, 0xFF}}).iend();
  ASSERT_EQ(readPng(sixteen.bytes, a), kReadComplete);
  EXPECT_EQ(a->globalPalette->count, 256);
  EXPECT_EQ(firstFrame(*a)->dib->row(0)[0], 0x12) << "16 bits cut to their high byte";
  EXPECT_EQ(firstFrame(*a)->dib->row(0)[1], 0xFF);

  // A grey colour key names one ramp entry: it is the transparent index.
  PngBuilder keyed;
  keyed.ihdr(3, 1, 4, 0).trns({0, 7}).idat({fbtest::pack(4, {7, 3, 7})}).iend();
  ASSERT_EQ(readPng(keyed.bytes, a), kReadComplete);
  EXPECT_TRUE(firstFrame(*a)->transparent());
  EXPECT_EQ(firstFrame(*a)->transparentIndex, 7);

  // A 16-bit key cannot: those pixels get an alpha plane instead.
  PngBuilder keyed16;
  keyed16.ihdr(2, 1, 16, 0).trns({0x12, 0x34}).idat({{0x12, 0x34, 0x12, 0x35}}).iend();
  ASSERT_EQ(readPng(keyed16.bytes, a), kReadComplete);
  Frame* f = firstFrame(*a);
  ASSERT_TRUE(f->hasRgb());
  EXPECT_EQ(alphaAt(*f, 0, 0), 0);
  EXPECT_EQ(alphaAt(*f, 1, 0), 255) << "only the exact 16-bit key is transparent";
  EXPECT_EQ(rgbAt(*f, 1, 0), (std::array<uint8_t, 3>{0x12, 0x12, 0x12}));
}

TEST(PngReader, TrueColourFramesKeepTheirColoursForFrameInsertion) {
  std::unique_ptr<Animation> a;
  PngBuilder rgb;
  rgb.ihdr(2, 1, 8, 2).idat({{255, 0, 0, 0, 102, 204}}).iend();
  ASSERT_EQ(readPng(rgb.bytes, a), kReadComplete);
  Frame* f = firstFrame(*a);
  ASSERT_TRUE(f->hasRgb());
  EXPECT_TRUE(f->alpha.empty());
  EXPECT_EQ(rgbAt(*f, 1, 0), (std::array<uint8_t, 3>{0, 102, 204}));
  // Indexed pixels and palettes are frame insertion's to make.
  EXPECT_EQ(f->dib, nullptr);
  EXPECT_EQ(f->palette(), nullptr);
  EXPECT_EQ(a->globalPalette, nullptr);
  ASSERT_EQ(mergePalettes(nullptr, *a, 0, nullptr, nullptr), 1);
  ASSERT_TRUE(f->dib);
  ASSERT_TRUE(f->palette());
  EXPECT_EQ((*f->palette())[f->dib->row(0)[1]], (Rgb{0, 102, 204})) << "two colours fit exactly";

  PngBuilder greyAlpha;
  greyAlpha.ihdr(2, 1, 8, 4).idat({{200, 255, 10, 20}}).iend();
  ASSERT_EQ(readPng(greyAlpha.bytes, a), kReadComplete);
  f = firstFrame(*a);
  EXPECT_EQ(rgbAt(*f, 0, 0), (std::array<uint8_t, 3>{200, 200, 200}));
  EXPECT_EQ(alphaAt(*f, 1, 0), 20);
  ASSERT_EQ(mergePalettes(nullptr, *a, 0, nullptr, nullptr), 1);
  EXPECT_TRUE(f->transparent()) << "mostly transparent pixels take a transparent index";
  EXPECT_EQ(f->dib->row(0)[1], f->transparentIndex);
  EXPECT_NE(f->dib->row(0)[0], f->transparentIndex);

  // An RGB colour key keeps those pixels transparent, in an alpha plane.
  PngBuilder keyed;
  keyed.ihdr(2, 1, 8, 2).trns({0, 1, 0, 2, 0, 3}).idat({{1, 2, 3, 1, 2, 4}}).iend();
  RecordingReporter rec;
  ScopedReporter scope(rec);
  ASSERT_EQ(readPng(keyed.bytes, a), kReadComplete);
  f = firstFrame(*a);
  EXPECT_EQ(alphaAt(*f, 0, 0), 0);
  EXPECT_EQ(alphaAt(*f, 1, 0), 255);
  EXPECT_TRUE(rec.texts().empty());
}

TEST(PngReader, SuiteFilesDecodeToTheirExpectedPixels) {
  // Expected RGBA from the suite's JSON; our palette rule applied (an entry
  // that is not opaque is the transparent index). The 8-bit reductions of
  // 16-bit files round where we keep the high byte: within 1.
  for (const char* name :
       {"basn0g02", "basn3p04", "tbbn0g04", "tbbn3p08", "tm3n3p02", "basi4a08", "s01n3p01",
        "tbrn2c08", "basn0g16_to8", "basn2c16_to8", "tbwn0g16_to8"}) {
    SCOPED_TRACE(name);
    std::string stem = name;
    bool to8 = stem.size() > 4 && stem.substr(stem.size() - 4) == "_to8";
    if (to8) stem.resize(stem.size() - 4);
    std::unique_ptr<Animation> a;
    ASSERT_EQ(ReadPngFile(fbtest::dataPath("pngsuite/" + stem + ".png"), nullptr, a),
              kReadComplete);
    std::ifstream in(fbtest::dataPath(std::string("pngsuite/json/") + name + ".json"));
    std::stringstream text;
    text << in.rdbuf();
    std::vector<int> expected;
    std::string s = text.str();
    for (size_t i = 0; i < s.size();) {
      if (isdigit(static_cast<unsigned char>(s[i]))) {
        size_t end;
        expected.push_back(std::stoi(s.substr(i), &end));
        i += end;
      } else {
        ++i;
      }
    }
    Frame* f = firstFrame(*a);
    auto got = frameToRgba(*f);
    ASSERT_EQ(got.size(), expected.size());
    bool palette = !f->hasRgb() && a->globalPalette->count <= 256 && stem[4] == '3';
    int bad = 0;
    for (size_t i = 0; i < got.size(); i += 4) {
      int want[4] = {expected[i], expected[i + 1], expected[i + 2], expected[i + 3]};
      if (palette && want[3] != 255) want[0] = want[1] = want[2] = want[3] = 0;
      if (want[3] == 0 && got[i + 3] == 0) continue;
      for (int k = 0; k < 4; ++k)
        if (std::abs(got[i + k] - want[k]) > (to8 ? 1 : 0)) ++bad;
    }
    EXPECT_EQ(bad, 0);
  }
}

TEST(PngReader, TheHiddenDefaultImageIsTheFirstFrame) {
  PngBuilder b;
  b.ihdr(2, 2, 8, 3).plte({0, 0, 0, 255, 255, 255}).actl(2, 0);
  b.idat(solid(2, 2, {1}));
  b.fctl(0, 2, 2, 0, 0, 5, 100).fdat(1, solid(2, 2, {0}));
  b.fctl(2, 1, 1, 1, 1, 7, 100).fdat(3, solid(1, 1, {1}));
  b.iend();
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(b.bytes, a), kReadComplete);
  EXPECT_EQ(a->hideFirstFrame, 1);
  EXPECT_EQ(a->frameCount(), 3) << "the default image and the two animation frames";
  auto f = framesOf(*a);
  EXPECT_EQ(f[0]->delay, 0);
  EXPECT_EQ(f[1]->delay, 5);
  EXPECT_EQ(f[2]->delay, 7);

  // Frames beyond the announced count are not part of the animation.
  PngBuilder more;
  more.ihdr(2, 2, 8, 3).plte({0, 0, 0, 255, 255, 255}).actl(1, 0);
  more.fctl(0, 2, 2, 0, 0, 5, 100).idat(solid(2, 2, {1}));
  more.fctl(1, 2, 2, 0, 0, 5, 100).fdat(2, solid(2, 2, {0})).iend();
  ASSERT_EQ(readPng(more.bytes, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 1);
}

TEST(PngReader, WithoutAUsableAnimationControlAFileIsAStillPicture) {
  auto still = [](PngBuilder& b) {
    std::unique_ptr<Animation> a;
    EXPECT_EQ(readPng(b.bytes, a), kReadComplete);
    return a ? a->frameCount() : -1;
  };
  PngBuilder afterIdat;  // acTL after the image data
  afterIdat.ihdr(1, 1, 8, 0).idat({{9}}).actl(1, 0).fctl(0, 1, 1, 0, 0, 1, 1);
  afterIdat.fdat(1, {{3}}).iend();
  EXPECT_EQ(still(afterIdat), 1);
  PngBuilder none;
  none.ihdr(1, 1, 8, 0).idat({{9}}).fctl(0, 1, 1, 0, 0, 1, 1).fdat(1, {{3}}).iend();
  EXPECT_EQ(still(none), 1);
  PngBuilder zero;  // no frames announced; neither can more than 2^31 - 1 be
  zero.ihdr(1, 1, 8, 0).actl(0, 0).idat({{9}}).iend();
  EXPECT_EQ(still(zero), 1);
  PngBuilder huge;
  huge.ihdr(1, 1, 8, 0).actl(0x80000001u, 0).idat({{9}}).fctl(0, 1, 1, 0, 0, 1, 1);
  huge.fdat(1, {{3}}).iend();
  EXPECT_EQ(still(huge), 1);
}

TEST(PngReader, BrokenAnimationsAreRefusedAsCorrupt) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  auto base = [] {
    PngBuilder b;
    b.ihdr(4, 4, 8, 0).actl(2, 0).fctl(0, 4, 4, 0, 0, 1, 10).idat(solid(4, 4, {1}));
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, PngBuilder b) { cases.push_back({what, b.bytes}); };
  add("sequence gap", base().fctl(2, 2, 2, 0, 0, 1, 10).fdat(3, solid(2, 2, {2})).iend());
  add("sequence repeated", base().fctl(1, 2, 2, 0, 0, 1, 10).fdat(1, solid(2, 2, {2})).iend());
  add("fdAT before its fcTL", base().fdat(1, solid(2, 2, {2})).fctl(2, 2, 2, 0, 0, 1, 10).iend());
  add("fcTL without data", base()
                               .fctl(1, 2, 2, 0, 0, 1, 10)
                               .fctl(2, 2, 2, 0, 0, 1, 10)
                               .fdat(3, solid(2, 2, {2}))
                               .iend());
  add("frame past the right edge",
      base().fctl(1, 2, 2, 3, 0, 1, 10).fdat(2, solid(2, 2, {2})).iend());
  add("offset overflowing 32 bits",
      base().fctl(1, 2, 2, 0xFFFFFFFFu, 0, 1, 10).fdat(2, solid(2, 2, {2})).iend());
  add("zero-sized frame", base().fctl(1, 0, 2, 0, 0, 1, 10).fdat(2, solid(0, 2, {})).iend());
  add("dispose op 3", base().fctl(1, 2, 2, 0, 0, 1, 10, 3).fdat(2, solid(2, 2, {2})).iend());
  add("blend op 2", base().fctl(1, 2, 2, 0, 0, 1, 10, 0, 2).fdat(2, solid(2, 2, {2})).iend());
  add("fewer frames than announced", base().iend());
  add("fcTL CRC", base().chunk("fcTL", std::vector<uint8_t>(26, 0), false).iend());
  add("fdAT data short of the frame's size",
      base().fctl(1, 2, 2, 0, 0, 1, 10).fdat(2, solid(2, 1, {2})).iend());
  {
    PngBuilder b;  // the image data split by a frame
    b.ihdr(4, 4, 8, 0).actl(2, 0).fctl(0, 4, 4, 0, 0, 1, 10);
    auto z = PngBuilder::deflate(solid(4, 4, {1}));
    b.chunk("IDAT", std::vector<uint8_t>(z.begin(), z.begin() + 4));
    b.fctl(1, 2, 2, 0, 0, 1, 10).fdat(2, solid(2, 2, {2}));
    b.chunk("IDAT", std::vector<uint8_t>(z.begin() + 4, z.end())).iend();
    add("IDAT after animation chunks", b);
  }
  {
    PngBuilder b;
    b.ihdr(4, 4, 8, 0).actl(1, 0).actl(1, 0).idat(solid(4, 4, {1})).iend();
    add("two acTL", b);
  }
  {
    PngBuilder b;
    b.ihdr(4, 4, 8, 0).actl(1, 0).fctl(0, 2, 2, 0, 0, 1, 10).idat(solid(2, 2, {1})).iend();
    add("default image's fcTL not the whole canvas", b);
  }
  {
    PngBuilder b;
    b.ihdr(4, 4, 8, 0).idat(solid(4, 4, {1}));
    add("no IEND", b);
  }
  {
    PngBuilder b;
    b.ihdr(4, 4, 8, 0).chunk("IDAT", {1, 2, 3, 4}).iend();
    add("IDAT not zlib", b);
  }
  {
    PngBuilder b;
    b.ihdr(4, 4, 3, 0).idat(solid(4, 4, {1})).iend();
    add("bit depth 3", b);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rec.clear();
    std::unique_ptr<Animation> a;
    EXPECT_EQ(readPng(c.bytes, a), kReadFailed);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(rec.texts(), std::vector<std::string>{kCorrupt});
  }
}

TEST(PngReader, EveryTruncationAndDamageIsRefusedWithoutACrash) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  const auto whole = fourFrames();
  std::unique_ptr<Animation> a;
  for (size_t n = 8; n < whole.size(); ++n) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(n));
    ASSERT_EQ(readPng(cut, a), kReadFailed) << n;
  }
  EXPECT_EQ(rec.texts().size(), whole.size() - 8);
  // Random damage: whatever happens, a result and no crash (the sanitizer
  // build runs this too).
  std::mt19937 rng(7);
  int refused = 0;
  for (int i = 0; i < 3000; ++i) {
    auto bytes = whole;
    int flips = 1 + int(rng() % 4);
    for (int k = 0; k < flips; ++k) bytes[8 + rng() % (bytes.size() - 8)] = uint8_t(rng());
    int r = readPng(bytes, a);
    ASSERT_TRUE(r == kReadFailed || r == kReadComplete);
    refused += r == kReadFailed;
    if (r == kReadComplete) {
      ASSERT_GE(a->frameCount(), 1);
    }
  }
  EXPECT_GT(refused, 2000) << "CRCs catch nearly all damage";
}

TEST(PngReader, HostileSizesAreOutOfMemoryAndSignaturesAreChecked) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  PngBuilder big;
  big.ihdr(100000, 100000, 8, 6).idat({{0}}).iend();
  std::unique_ptr<Animation> a;
  EXPECT_EQ(readPng(big.bytes, a), kReadFailed);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Not enough memory to build frame image."});

  fbtest::TempDir dir;
  rec.clear();
  auto bytes = fourFrames();
  bytes[1] = 'Q';
  fbtest::writeBytes(dir.file("x.png"), bytes);
  EXPECT_EQ(ReadPngFile(dir.file("x.png"), nullptr, a), kReadFailed);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{kCorrupt});
  bytes[1] = 'P';
  fbtest::writeBytes(dir.file("x.png"), bytes);
  EXPECT_EQ(ReadPngFile(dir.file("x.png"), nullptr, a), kReadComplete);
}

TEST(PngReader, AFilmstripChunkCutsThePictureIntoFrames) {
  auto strip = [](std::vector<uint8_t> pani) {
    PngBuilder b;
    b.ihdr(8, 2, 8, 3).plte({0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3});
    Rows rows(2, {0, 0, 1, 1, 2, 2, 3, 3});
    b.idat(rows).chunk("pAni", pani).iend();
    return b.bytes;
  };
  auto le = [](std::vector<uint32_t> v) {
    std::vector<uint8_t> out;
    for (uint32_t x : v)
      for (int i = 0; i < 4; ++i) out.push_back(uint8_t(x >> (8 * i)));
    return out;
  };
  std::unique_ptr<Animation> a;
  ASSERT_EQ(readPng(strip(le({4, 10, 20, 30, 40})), a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 4);
  EXPECT_EQ(a->width, 2);
  EXPECT_EQ(a->height, 2);
  auto f = framesOf(*a);
  ASSERT_EQ(f.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f[i]->width, 2);
    EXPECT_EQ(f[i]->left, 0);
    EXPECT_EQ(f[i]->delay, 10 * (i + 1));
    EXPECT_EQ(f[i]->disposal(), 2);
    EXPECT_EQ(f[i]->dib->row(1)[1], i) << "frame " << i << " holds its own quarter";
  }
  // A chunk that does not fit the picture is ignored.
  for (auto bad :
       {le({3, 10, 20}), le({9, 1, 1, 1, 1, 1, 1, 1, 1, 1}), le({0}), std::vector<uint8_t>{4, 0}}) {
    ASSERT_EQ(readPng(strip(bad), a), kReadComplete);
    EXPECT_EQ(a->frameCount(), 1);
    EXPECT_EQ(a->width, 8);
  }
}

TEST(PngReader, ACancelKeepsTheFramesReadSoFar) {
  RecordingProgress progress;
  progress.cancelAfter(2);
  std::unique_ptr<Animation> a;
  EXPECT_EQ(readPng(fourFrames(), a, &progress), kReadPartial);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frameCount(), 2);
}

TEST(PngReader, AnimatedCorpusFilesReadAsTheirReferencesShow) {
  // The reference pictures are what the animation shows after each frame.
  for (const char* name :
       {"ball.png", "dispose-background-blend-source.png", "fcTL-blend-source-transparent.png",
        "fcTL-dispose-in-region-none.png"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<Animation> a;
    ASSERT_EQ(ReadPngFile(fbtest::dataPath(std::string("apng/") + name), nullptr, a),
              kReadComplete);
    auto player = startPlayer(*a);
    int n = 1;
    for (Frame* c = firstPicture(*player); c; c = nextPicture(*player), ++n) {
      char ref[256];
      std::snprintf(ref, sizeof ref, "apng/reference/%s.anim_%02d.png", name, n);
      std::unique_ptr<Animation> r;
      ASSERT_EQ(ReadPngFile(fbtest::dataPath(ref), nullptr, r), kReadComplete) << ref;
      auto want = frameToRgba(*firstFrame(*r));
      auto got = canvasToRgba(*c);
      ASSERT_EQ(got.size(), want.size());
      int bad = 0;
      for (size_t i = 0; i < got.size(); i += 4)
        if (!(got[i + 3] == 0 && want[i + 3] == 0) &&
            !std::equal(got.begin() + long(i), got.begin() + long(i) + 4, want.begin() + long(i)))
          ++bad;
      EXPECT_EQ(bad, 0) << "picture " << n;
    }
    char next[256];
    std::snprintf(next, sizeof next, "apng/reference/%s.anim_%02d.png", name, n);
    EXPECT_FALSE(std::ifstream(fbtest::dataPath(next)).good()) << "fewer pictures than references";
  }
}
