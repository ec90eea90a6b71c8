// Every GIF of the test data that reads completely survives a write and a
// read unchanged, and writing it again gives the same bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "document/player.h"
#include "formats/png_rgba.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "base/reporter.h"
#include "testutil.h"

using namespace fb;

namespace {

std::vector<std::string> corpusGifs() {
  std::vector<std::string> files;
  for (const char* dir : {"gif-suite", "gif-real"})
    for (auto& e : std::filesystem::directory_iterator(fbtest::dataPath(dir)))
      if (e.path().extension() == ".gif") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> write(Animation& a) {
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  EXPECT_EQ(writeGifStream(sink, a, nullptr), kWriteDone);
  return out;
}

void expectSameDocument(Animation& a, Animation& b, const std::string& name) {
  ASSERT_EQ(a.frameCount(), b.frameCount()) << name;
  EXPECT_EQ(a.width, b.width) << name;
  EXPECT_EQ(a.height, b.height) << name;
  EXPECT_EQ(a.playCount == 1 || a.frameCount() < 2 ? 1 : a.playCount, b.playCount) << name;
  for (Frame *f = firstFrame(a), *g = firstFrame(b); f; f = nextFrame(f), g = nextFrame(g)) {
    ASSERT_EQ(frameToRgba(*f), frameToRgba(*g)) << name;
    EXPECT_EQ(f->left, g->left);
    EXPECT_EQ(f->top, g->top);
    EXPECT_EQ(f->delay, g->delay);
    EXPECT_EQ(f->controlFlags, g->controlFlags);
    if (f->transparent()) {
      EXPECT_EQ(f->transparentIndex, g->transparentIndex);
    }
  }
  auto pa = startPlayer(a);
  auto pb = startPlayer(b);
  Frame* ca = firstPicture(*pa);
  Frame* cb = firstPicture(*pb);
  for (; ca && cb; ca = nextPicture(*pa), cb = nextPicture(*pb))
    ASSERT_EQ(canvasToRgba(*ca), canvasToRgba(*cb)) << name << " picture " << pa->index;
  EXPECT_EQ(ca, nullptr);
  EXPECT_EQ(cb, nullptr);
}

class RoundTrip : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(RoundTrip, WriteReadWriteIsStable) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::unique_ptr<Animation> a;
  // What a partial read kept is written and read back the same way.
  if (fbtest::readGifPath(GetParam(), a) == kReadFailed) GTEST_SKIP() << "does not read";
  auto first = write(*a);
  std::unique_ptr<Animation> b;
  ASSERT_EQ(fbtest::readGifBytes(first, b), kReadComplete);
  expectSameDocument(*a, *b, GetParam());
  auto second = write(*b);
  EXPECT_EQ(first, second);
}

TEST_P(RoundTrip, EncodedSizeOfAnUnchangedDocumentIsTheSavedFileSize) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::unique_ptr<Animation> a;
  if (openFile(GetParam(), a, nullptr) != kReadComplete) GTEST_SKIP() << "does not read completely";
  int32_t size = encodedSize(*a, true, nullptr);
  fbtest::TempDir dir;
  ASSERT_TRUE(saveByType(dir.file("out.gif"), *a, 1, kTypeGif, nullptr));
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(dir.file("out.gif"))), size);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RoundTrip, ::testing::ValuesIn(corpusGifs()),
                         [](const auto& info) {
                           std::string n = std::filesystem::path(info.param).stem().string();
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });
