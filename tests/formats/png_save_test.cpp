// PNG through the open and save entry points.
#include <gtest/gtest.h>

#include "base/prefs.h"
#include "base/reporter.h"
#include "formats/png_builder.h"
#include "formats/png_writer.h"
#include "imaging/frame_insert.h"
#include "io/open_save.h"
#include "testutil.h"

using namespace fb;
using fbtest::chunkList;
using fbtest::chunksOf;
using fbtest::readBytes;
using fbtest::TempDir;

namespace {

// Three 2 x 1 frames on a four-colour global palette, delays 10, 20, 30.
std::unique_ptr<Animation> threeFrames(bool transparent = false) {
  fbtest::GifBuilder b;
  b.header().screen(2, 1, 0x81).colours(4);
  for (int i = 0; i < 3; ++i) {
    b.gce(transparent ? 0x01 : 0, 10 * (i + 1), 0);
    b.descriptor(0, 0, 2, 1).image(2, {uint8_t(i + 1), 0});
  }
  b.trailer();
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(b.bytes, a);
  return a;
}

int colourType(const std::string& path) {
  auto s = chunksOf(readBytes(path));
  return s.chunks.empty() ? -1 : s.data(s.chunks[0])[9];
}

}  // namespace

TEST(PngOpenSave, OpensByExtension) {
  TempDir dir;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  fbtest::PngBuilder b;
  b.ihdr(2, 1, 8, 3).plte({0, 0, 0, 9, 9, 9}).trns({0}).idat({{0, 1}}).iend();
  for (const char* name : {"a.png", "B.PNG", "c.apng"}) {
    fbtest::writeBytes(dir.file(name), b.bytes);
    std::unique_ptr<Animation> a;
    ASSERT_EQ(openFile(dir.file(name), a, nullptr), kReadComplete) << name;
    EXPECT_EQ(frameName(*firstFrame(*a)), name);
    EXPECT_EQ(firstFrame(*a)->disposal(), 2) << "a lone transparent frame restores to background";
  }
  fbtest::writeBytes(dir.file("bad.png"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0});
  std::unique_ptr<Animation> a;
  EXPECT_EQ(openFile(dir.file("bad.png"), a, nullptr), kReadFailed);
  EXPECT_EQ(rec.texts(),
            std::vector<std::string>{"Error reading PNG data. File appears to be corrupt."});
}

TEST(PngOpenSave, SavesPicturesAnimationsAndNumberedFiles) {
  TempDir dir;
  auto a = threeFrames();
  ASSERT_TRUE(saveByType(dir.file("anim.png"), *a, 0, kTypePng, nullptr));
  EXPECT_EQ(chunkList(chunksOf(readBytes(dir.file("anim.png")))),
            "IHDR PLTE acTL fcTL IDAT fcTL fdAT fcTL fdAT IEND");
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(dir.file("anim.png"), back, nullptr), kReadComplete);
  EXPECT_EQ(back->frameCount(), 3);
  EXPECT_EQ(frameAt(*back, 2)->delay, 30);

  ASSERT_TRUE(saveByType(dir.file("f.png"), *a, saveopt::Numbered, kTypePng, nullptr));
  for (int i = 1; i <= 3; ++i) {
    std::string name = numberedPath(dir.file("f.png"), i, 3);
    EXPECT_EQ(chunkList(chunksOf(readBytes(name))), "IHDR PLTE IDAT IEND") << name;
  }
  auto one = threeFrames();
  removeBlock(*one, frameAt(*one, 2));
  removeBlock(*one, frameAt(*one, 1));
  ASSERT_TRUE(saveByType(dir.file("one.png"), *one, 0, kTypePng, nullptr));
  EXPECT_EQ(chunkList(chunksOf(readBytes(dir.file("one.png")))), "IHDR PLTE IDAT IEND");
}

TEST(PngOpenSave, AFilmstripPictureReadsBackAsTheAnimation) {
  TempDir dir;
  auto a = threeFrames();
  SaveOptions named;
  named.filmstripSizeInName = true;
  ASSERT_TRUE(saveByType(dir.file("strip.png"), *a, saveopt::Filmstrip, kTypePng, nullptr, named));
  std::string name = dir.file("strip (3x1).png");
  EXPECT_EQ(chunkList(chunksOf(readBytes(name))), "IHDR PLTE IDAT pAni IEND");
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(name, back, nullptr), kReadComplete);
  ASSERT_EQ(back->frameCount(), 3);
  EXPECT_EQ(back->width, 2);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(frameAt(*back, i)->delay, 10 * (i + 1));
    EXPECT_EQ(frameAt(*back, i)->dib->row(0)[0], i + 1);
  }

  // Two to a row: the grid is 2 x 2, which "pAni" cannot describe.
  uint32_t options = saveopt::Filmstrip | (2u << 16);
  ASSERT_TRUE(saveByType(dir.file("grid.png"), *a, options, kTypePng, nullptr, named));
  auto s = chunksOf(readBytes(dir.file("grid (2x2).png")));
  EXPECT_EQ(chunkList(s), "IHDR PLTE IDAT IEND");
  EXPECT_EQ(be32(s.data(s.chunks[0])), 4u);
  // Vertical, and without the size in the name.
  ASSERT_TRUE(saveByType(dir.file("tall.png"), *a, saveopt::Filmstrip | saveopt::FilmstripVertical,
                         kTypePng, nullptr));
  s = chunksOf(readBytes(dir.file("tall.png")));
  EXPECT_EQ(be32(s.data(s.chunks[0])), 2u);
  EXPECT_EQ(be32(s.data(s.chunks[0]) + 4), 3u);
}

TEST(PngOpenSave, ARefusalIsTheOnlyMessageAndTheTargetIsKept) {
  TempDir dir;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  fbtest::writeBytes(dir.file("keep.png"), {1, 2, 3});
  auto a = threeFrames();
  Rgb local[2] = {{1, 1, 1}, {2, 2, 2}};
  setLocalPalette(*frameAt(*a, 1), makePalette(local, 2));
  EXPECT_FALSE(saveByType(dir.file("keep.png"), *a, 0, kTypePng, nullptr));
  ASSERT_EQ(rec.texts().size(), 1u);
  EXPECT_NE(rec.texts()[0].find("local palettes"), std::string::npos);
  EXPECT_EQ(readBytes(dir.file("keep.png")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "no temporary file left behind";
}

TEST(PngOpenSave, TheAlways24Or32BitOption) {
  TempDir dir;
  auto a = threeFrames();
  ASSERT_TRUE(saveByType(dir.file("a.png"), *a, saveopt::TrueColour, kTypePng, nullptr));
  EXPECT_EQ(colourType(dir.file("a.png")), 3) << "the option needs the preference";
  SaveOptions always24;
  always24.pngAlways24 = true;
  ASSERT_TRUE(saveByType(dir.file("b.png"), *a, saveopt::TrueColour, kTypePng, nullptr, always24));
  EXPECT_EQ(colourType(dir.file("b.png")), 2);
  EXPECT_FALSE(firstFrame(*a)->hasRgb()) << "the document keeps its indexed frames";
  auto t = threeFrames(true);
  ASSERT_TRUE(saveByType(dir.file("c.png"), *t, saveopt::TrueColour, kTypePng, nullptr, always24));
  EXPECT_EQ(colourType(dir.file("c.png")), 6);
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(dir.file("c.png"), back, nullptr), kReadComplete);
  EXPECT_EQ(back->frameCount(), 3);
  EXPECT_EQ(frameAt(*back, 0)->alpha[1], 0) << "the transparent index became alpha 0";
}

TEST(PngOpenSave, TrueColourFramesJoinADocumentThroughFrameInsertion) {
  TempDir dir;
  fbtest::PngBuilder b;
  b.ihdr(2, 1, 8, 6).idat({{255, 0, 0, 255, 9, 9, 9, 0}}).iend();
  fbtest::writeBytes(dir.file("red.png"), b.bytes);
  std::unique_ptr<Animation> picture;
  ASSERT_EQ(openFile(dir.file("red.png"), picture, nullptr), kReadComplete);
  EXPECT_EQ(firstFrame(*picture)->dib, nullptr) << "24-bit data only, as read";
  auto doc = threeFrames();
  ASSERT_EQ(insertAnimations(*doc, picture, -1, nullptr, nullptr), 1);
  ASSERT_EQ(doc->frameCount(), 4);
  Frame* f = frameAt(*doc, 3);
  ASSERT_TRUE(f->dib);
  ASSERT_TRUE(f->palette());
  EXPECT_EQ((*f->palette())[f->dib->row(0)[0]], (Rgb{255, 0, 0}));
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->dib->row(0)[1], f->transparentIndex);
  ASSERT_TRUE(saveByType(dir.file("joined.gif"), *doc, saveopt::WholeAnimation, kTypeGif, nullptr));
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(dir.file("joined.gif"), back, nullptr), kReadComplete);
  EXPECT_EQ(back->frameCount(), 4);
}
