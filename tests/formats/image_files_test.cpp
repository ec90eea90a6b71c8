// The further formats as documents: pictures into frames, the open and save
// dispatch, the options taken from the preferences, and hostile files.
#include "formats/image_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/reporter.h"
#include "formats/ani_codec.h"
#include "formats/avi_riff.h"
#include "formats/bmp_codec.h"
#include "formats/picture_frames.h"
#include "formats/psd_codec.h"
#include "io/open_save.h"
#include "testutil.h"

using namespace fb;
using fbtest::TempDir;

namespace {

Picture indexedPicture(int w, int h, std::vector<Rgb> palette, int transparent = -1) {
  Picture p;
  EXPECT_EQ(allocatePixels(p, w, h, true, nullptr), CodecStatus::Ok);
  for (size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = static_cast<uint8_t>(i % palette.size());
  p.palette = std::move(palette);
  p.transparentIndex = transparent;
  return p;
}

Picture rgbaPicture(int w, int h, uint8_t alpha) {
  Picture p;
  EXPECT_EQ(allocatePixels(p, w, h, false, nullptr), CodecStatus::Ok);
  for (size_t i = 0; i < p.pixels.size(); i += 4) {
    p.pixels[i] = 200;
    p.pixels[i + 3] = alpha;
  }
  return p;
}

TEST(PictureFrames, PalettesAreSharedOnlyAmongIndexedPictures) {
  const std::vector<Rgb> a = {{1, 1, 1}, {2, 2, 2}}, b = {{3, 3, 3}, {4, 4, 4}};
  std::vector<Picture> pictures = {indexedPicture(2, 2, a), indexedPicture(2, 2, a, 1),
                                   indexedPicture(2, 2, b)};
  pictures[1].delay = 25;
  pictures[1].name = "second";
  auto doc = animationFromPictures(pictures, 2, 2, 2);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->frameCount(), 3);
  Frame* f0 = frameAt(*doc, 0);
  Frame* f1 = frameAt(*doc, 1);
  Frame* f2 = frameAt(*doc, 2);
  ASSERT_TRUE(doc->globalPalette);
  EXPECT_EQ(f0->palette(), doc->globalPalette.get());
  EXPECT_EQ(f1->palette(), doc->globalPalette.get()) << "the same colours share the global palette";
  ASSERT_TRUE(f2->localPalette) << "other colours keep their own";
  EXPECT_EQ((*f2->localPalette)[0], (Rgb{3, 3, 3}));
  EXPECT_TRUE(f1->transparent());
  EXPECT_EQ(f1->transparentIndex, 1);
  EXPECT_EQ(f1->delay, 25);
  EXPECT_EQ(frameName(*f1), "second");
  EXPECT_EQ(f2->disposal(), 2);

  // Beside true colour, indexed pictures keep their palettes to themselves:
  // mapping the true colour into a global palette leaves them alone.
  std::vector<Picture> mixed = {indexedPicture(2, 2, a), rgbaPicture(2, 2, 255),
                                rgbaPicture(2, 2, 7)};
  doc = animationFromPictures(mixed, 2, 2, 1);
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->globalPalette);
  EXPECT_TRUE(frameAt(*doc, 0)->localPalette);
  EXPECT_TRUE(frameAt(*doc, 1)->hasRgb());
  EXPECT_TRUE(frameAt(*doc, 1)->alpha.empty()) << "opaque true colour has no alpha plane";
  EXPECT_EQ(frameAt(*doc, 2)->alpha[0], 7);
}

TEST(PictureFrames, FramesBackToPictures) {
  std::vector<Picture> pictures = {indexedPicture(3, 2, {{9, 9, 9}, {8, 8, 8}, {7, 7, 7}}, 2)};
  auto doc = animationFromPictures(pictures, 3, 2, 1);
  ASSERT_TRUE(doc);
  Frame& f = *firstFrame(*doc);
  Picture p;
  ASSERT_TRUE(pictureFromFrame(f, false, p));
  EXPECT_TRUE(p.indexed);
  EXPECT_EQ(p.transparentIndex, 2);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{0, 1, 2, 0, 1, 2}));
  ASSERT_TRUE(pictureFromFrame(f, true, p));
  ASSERT_FALSE(p.indexed);
  EXPECT_EQ(p.pixels[4], 8);
  EXPECT_EQ(p.pixels[4 * 2 + 3], 0) << "the transparent index has alpha 0";
}

// Files whose declared pictures run to gigapixels from a few bytes are
// refused with a message, before anything is made.
TEST(HostileFiles, PixelBudgetsRefuseRepeatedSteps) {
  // An animated cursor whose sequence shows one 256 × 256 frame 3000 times:
  // 196 million pixels from a file of some kilobytes.
  AniFile ani;
  IconFile icon;
  icon.entries.emplace_back();
  ASSERT_EQ(allocatePixels(icon.entries[0].picture, 256, 256, true, nullptr), CodecStatus::Ok);
  icon.entries[0].picture.palette.assign(2, Rgb{});
  ani.frames.push_back(icon);
  ani.steps.push_back({0, 1});
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodeAni(ani, bytes), CodecStatus::Ok);
  const size_t anih = std::string(bytes.begin(), bytes.end()).find("anih");
  const uint32_t steps = 3000;
  std::memcpy(&bytes[anih + 8 + 8], &steps, 4);
  avi::putU32(bytes, avi::fourcc("seq "));
  avi::putU32(bytes, 4 * steps);
  for (uint32_t i = 0; i < steps; ++i) avi::putU32(bytes, 0);
  RecordingReporter said;
  ScopedReporter scope(said);
  std::unique_ptr<Animation> doc;
  EXPECT_EQ(ReadAniBytes(bytes.data(), bytes.size(), doc), 0);
  EXPECT_FALSE(doc);
  EXPECT_TRUE(said.contains("Not enough memory to build frame image."));

  // The same file showing it 10 times reads.
  std::memcpy(&bytes[anih + 8 + 8], "\x0a\0\0\0", 4);
  said.clear();
  EXPECT_EQ(ReadAniBytes(bytes.data(), bytes.size(), doc), 1);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->frameCount(), 10);
}

TEST(HostileFiles, EveryReaderRefusesNonsenseWithItsMessage) {
  const std::vector<uint8_t> junk = {'B', 'M', 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  struct Case {
    ImageBytesReader read;
    const char* message;
  } cases[] = {
      {ReadBmpBytes, "Error reading BMP data. File appears to be corrupt."},
      {ReadJpegBytes, "Error reading JPEG data. File appears to be corrupt."},
      {ReadPsdBytes, "Error reading PSD data. File appears to be corrupt."},
      {ReadIconBytes, "Error reading icon data. File appears to be corrupt."},
      {ReadAniBytes, "Error reading animated cursor data. File appears to be corrupt."},
  };
  for (const Case& c : cases) {
    for (size_t n : {size_t{0}, size_t{5}, junk.size()}) {
      RecordingReporter said;
      ScopedReporter scope(said);
      std::unique_ptr<Animation> doc;
      EXPECT_EQ(c.read(junk.data(), n, doc, {}), 0) << c.message;
      EXPECT_FALSE(doc);
      ASSERT_EQ(said.texts().size(), 1u) << c.message << " " << n;
      EXPECT_EQ(said.texts()[0], c.message);
    }
  }
}

TEST(PsdFiles, LayersAreCutToTheCanvas) {
  // A layer hanging off the left of a 6 × 6 canvas and one wholly beyond it:
  // frames hold what shows, at offsets every format can store.
  Picture off;
  ASSERT_EQ(allocatePixels(off, 3, 3, false, nullptr), CodecStatus::Ok);
  for (size_t i = 0; i < 9; ++i) {
    off.pixels[4 * i] = static_cast<uint8_t>(10 * i);
    off.pixels[4 * i + 3] = 255;
  }
  off.left = -1;
  off.top = 2;
  Picture beyond = off;
  beyond.left = beyond.top = 10;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodePsd({off, beyond}, 6, 6, false, bytes), CodecStatus::Ok);
  std::unique_ptr<Animation> doc;
  ASSERT_EQ(ReadPsdBytes(bytes.data(), bytes.size(), doc), 1);
  ASSERT_EQ(doc->frameCount(), 1);
  const Frame& f = *firstFrame(*doc);
  EXPECT_EQ(f.left, 0);
  EXPECT_EQ(f.top, 2);
  ASSERT_EQ(f.width, 2);
  ASSERT_EQ(f.height, 3);
  Picture back;
  ASSERT_TRUE(pictureFromFrame(f, true, back));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x)
      EXPECT_EQ(back.row(y)[4 * x], 10 * (3 * y + x + 1)) << x << "," << y;
}

TEST(OpenSave, ExtensionsReachTheirReadersAndWriters) {
  TempDir dir;
  auto doc = newAnimation(20, 10);
  ASSERT_TRUE(doc);
  RecordingReporter said;
  ScopedReporter scope(said);
  for (const char* name : {"a.bmp", "a.jpg", "a.psd", "a.ico", "a.cur", "a.ani"}) {
    ASSERT_TRUE(
        saveByType(dir.file(name), *doc, saveopt::WholeAnimation, typeOfPath(name), nullptr))
        << name << " " << (said.texts().empty() ? "" : said.texts()[0]);
    std::unique_ptr<Animation> back;
    EXPECT_EQ(openFile(dir.file(name), back, nullptr), kReadComplete) << name;
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 20) << name;
  }
  // Read under their other names.
  std::filesystem::copy_file(dir.file("a.bmp"), dir.file("b.DIB"));
  std::filesystem::copy_file(dir.file("a.jpg"), dir.file("b.jpe"));
  std::unique_ptr<Animation> back;
  EXPECT_EQ(openFile(dir.file("b.DIB"), back, nullptr), kReadComplete);
  EXPECT_EQ(openFile(dir.file("b.jpe"), back, nullptr), kReadComplete);
  // A still picture takes the default delay, in the user's unit; an animated
  // cursor's rates become ticks of that unit.
  DocumentDefaults tenths;
  tenths.delay = 7;
  tenths.timeBase = 10;
  std::vector<uint8_t> bmp = fbtest::readBytes(dir.file("a.bmp"));
  ASSERT_EQ(ReadBmpBytes(bmp.data(), bmp.size(), back, tenths), kReadComplete);
  EXPECT_EQ(firstFrame(*back)->delay, 7);
  firstFrame(*doc)->delay = 50;  // hundredths: 30 jiffies
  ASSERT_TRUE(saveByType(dir.file("slow.ani"), *doc, saveopt::WholeAnimation, kTypeAni, nullptr));
  std::vector<uint8_t> ani = fbtest::readBytes(dir.file("slow.ani"));
  ASSERT_EQ(ReadAniBytes(ani.data(), ani.size(), back, tenths), kReadComplete);
  EXPECT_EQ(firstFrame(*back)->delay, 5);
  // SWF is written, never read.
  ASSERT_TRUE(saveByType(dir.file("a.swf"), *doc, saveopt::WholeAnimation, kTypeSwf, nullptr));
  EXPECT_EQ(openFile(dir.file("a.swf"), back, nullptr), kReadFailed);
  EXPECT_TRUE(said.contains("无法读取这个类型的文件。"));
}

TEST(OpenSave, OptionsComeFromTheWordsAtTheEdge) {
  EXPECT_EQ(jpegQualityForStep(0), 75);
  EXPECT_EQ(jpegQualityForStep(1), 50);
  EXPECT_EQ(jpegQualityForStep(10), 95);
  EXPECT_EQ(jpegQualityForStep(11), 75);
  FormatOptions o = formatOptionsFromPreferences();
  EXPECT_EQ(o.jpegQuality, 75);
  EXPECT_FALSE(o.psdLayerMask);
  EXPECT_TRUE(o.iconXpOrder);
  EXPECT_TRUE(o.iconPng256);
  prefSet(pref::SaveType, (2u << 8) | 5);
  prefSet(pref::MoreOptions, more::PsdLayerMask | more::IconNoPng256 | more::IconNoXpOrder);
  o = formatOptionsFromPreferences();
  EXPECT_EQ(o.jpegQuality, 55);
  EXPECT_TRUE(o.psdLayerMask);
  EXPECT_FALSE(o.iconXpOrder);
  EXPECT_FALSE(o.iconPng256);
}

TEST(OpenSave, SingleImagesNumberedFilesAndFilmstrips) {
  TempDir dir;
  std::unique_ptr<Animation> doc;
  ASSERT_EQ(openFile(fbtest::dataPath("gif-suite/animation.gif"), doc, nullptr), kReadComplete);
  const int frames = doc->frameCount();
  ASSERT_GT(frames, 1);
  // Numbered 24-bit BMPs, one per frame.
  ASSERT_TRUE(saveByType(dir.file("n.bmp"), *doc, saveopt::Numbered | saveopt::TrueColour, kTypeBmp,
                         nullptr));
  for (int i = 1; i <= frames; ++i) {
    const auto bytes = fbtest::readBytes(numberedPath(dir.file("n.bmp"), i, frames));
    ASSERT_GT(bytes.size(), 30u) << i;
    EXPECT_EQ(bytes[28], 24) << "the 24-bit option";
  }
  // One JPEG filmstrip of every picture, two to a row.
  ASSERT_TRUE(
      saveByType(dir.file("s.jpg"), *doc, saveopt::Filmstrip | (2u << 16), kTypeJpeg, nullptr));
  std::unique_ptr<Animation> strip;
  ASSERT_EQ(openFile(dir.file("s.jpg"), strip, nullptr), kReadComplete);
  EXPECT_EQ(strip->width, 2 * doc->width);
  EXPECT_EQ(strip->height, (frames + 1) / 2 * doc->height);
  // Without either option, the first frame alone.
  ASSERT_TRUE(saveByType(dir.file("one.bmp"), *doc, 0, kTypeBmp, nullptr));
  std::unique_ptr<Animation> one;
  ASSERT_EQ(openFile(dir.file("one.bmp"), one, nullptr), kReadComplete);
  EXPECT_EQ(one->frameCount(), 1);
}

TEST(OpenSave, IconsRefuseLargePicturesAndKeepTheTargetAlone) {
  TempDir dir;
  auto doc = newAnimation(300, 20);
  fbtest::writeBytes(dir.file("keep.ico"), {1, 2, 3});
  RecordingReporter said;
  ScopedReporter scope(said);
  EXPECT_FALSE(saveByType(dir.file("keep.ico"), *doc, saveopt::WholeAnimation, kTypeIco, nullptr));
  ASSERT_EQ(said.texts().size(), 1u);
  EXPECT_EQ(said.texts()[0], "The animation is too large to be saved as icon.");
  EXPECT_EQ(fbtest::readBytes(dir.file("keep.ico")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(OpenSave, PaletteFilesBothWays) {
  TempDir dir;
  Palette p;
  p.count = 3;
  p[0] = {1, 2, 3};
  p[2] = {250, 251, 252};
  ASSERT_TRUE(WritePaletteFile(dir.file("p.pal"), p));
  std::unique_ptr<Palette> back;
  ASSERT_TRUE(ReadPaletteFile(dir.file("p.pal"), back));
  EXPECT_EQ(*back, p);
  RecordingReporter said;
  ScopedReporter scope(said);
  fbtest::writeBytes(dir.file("bad.pal"), {'J', 'A', 'S', 'C'});
  EXPECT_FALSE(ReadPaletteFile(dir.file("bad.pal"), back));
  EXPECT_TRUE(said.contains("Error reading palette data. File appears to be corrupt."));
  EXPECT_FALSE(ReadPaletteFile(dir.file("missing.pal"), back));
}

TEST(OpenSave, AFailedPaletteSaveKeepsTheOldFile) {
  TempDir dir;
  Palette p;
  p.count = 2;
  p[1] = {7, 8, 9};
  const std::string target = dir.file("keep.pal");
  const std::vector<uint8_t> old = {'J', 'A', 'S', 'C', '-', 'P', 'A', 'L', '\n'};
  using fileops::Op;
  for (Op failing : {Op::Write, Op::Flush, Op::Close, Op::Rename}) {
    fbtest::writeBytes(target, old);
    RecordingReporter said;
    ScopedReporter scope(said);
    fileops::setFaultHook([&](Op op, const std::string&) { return op == failing; });
    EXPECT_FALSE(WritePaletteFile(target, p)) << int(failing);
    fileops::setFaultHook(nullptr);
    EXPECT_EQ(fbtest::readBytes(target), old) << int(failing);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"keep.pal"}) << int(failing);
    EXPECT_TRUE(said.contains("无法写入到 " + target + ".")) << int(failing);
  }
  // Saved through a link, the file it points to is replaced and the link stays.
  const std::string link = dir.file("link.pal");
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(WritePaletteFile(link, p));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  std::unique_ptr<Palette> back;
  ASSERT_TRUE(ReadPaletteFile(target, back));
  EXPECT_EQ(*back, p);

  // A private file stays private while its new content is written beside it.
  ::chmod(target.c_str(), 0600);
  unsigned whileWritten = 0777;
  fileops::setFaultHook([&](Op op, const std::string& path) {
    struct stat st;
    if (op == Op::Write && ::stat(path.c_str(), &st) == 0) whileWritten = st.st_mode;
    return false;
  });
  const bool saved = WritePaletteFile(target, p);
  fileops::setFaultHook(nullptr);
  ASSERT_TRUE(saved);
  EXPECT_EQ(whileWritten & 077, 0u);
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
