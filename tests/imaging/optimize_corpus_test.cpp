// For every GIF of the test data that reads completely, the optimized document
// shows the same pictures for the same time as the original, under every
// combination of the options; and so does unoptimize followed by optimize.
#include <gtest/gtest.h>

#include <filesystem>

#include "document/player.h"
#include "formats/png_rgba.h"
#include "gif/gif_writer.h"
#include "imaging/optimizer.h"
#include "imaging/unoptimize.h"
#include "base/reporter.h"
#include "testutil.h"
#include "timeline.h"

using namespace fb;

namespace {

using fbtest::Timeline;
using fbtest::timeline;

// Pictures may differ in colour only where the palette methods that map into
// one global palette had more colours than one palette holds.
bool coloursFitOnePalette(Animation& a) {
  std::vector<uint32_t> seen;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (!f->palette()) continue;
    for (int i = 0; i < f->palette()->count; ++i) {
      const Rgb& c = (*f->palette())[i];
      seen.push_back((c.r << 16) | (c.g << 8) | c.b);
    }
  }
  std::sort(seen.begin(), seen.end());
  return std::unique(seen.begin(), seen.end()) - seen.begin() <= 255;
}

std::vector<std::string> files() {
  std::vector<std::string> out;
  for (const char* dir : {"gif-suite", "gif-real"})
    for (auto& e : std::filesystem::directory_iterator(fbtest::dataPath(dir)))
      if (e.path().extension() == ".gif") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

const uint32_t kFramePass[] = {0, 0x002, 0x006, 0x042, 0x046};
const uint32_t kPalettePass[] = {0, 0x008, 0x018, 0x408, 0x020, 0x028, 0x038, 0x428};

class OptimizeCorpus : public ::testing::TestWithParam<std::string> {
 protected:
  // The file's document, or empty (the test skipped) when it cannot be read
  // completely or its screen is too large to composite every picture of.
  std::unique_ptr<Animation> readable() {
    std::unique_ptr<Animation> a;
    if (fbtest::readGifPath(GetParam(), a) != kReadComplete || a->frameCount() == 0) {
      skipWhy = "does not read completely";
      return nullptr;
    }
    if (static_cast<int64_t>(a->width) * a->height > 4000000) {
      skipWhy = "a screen too large to composite every picture of";
      return nullptr;
    }
    return a;
  }
  std::string skipWhy;
};

}  // namespace

TEST_P(OptimizeCorpus, SamePicturesForTheSameTime) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::unique_ptr<Animation> original = readable();
  if (!original) GTEST_SKIP() << skipWhy;
  const bool big = std::filesystem::file_size(GetParam()) > 200000;
  const Timeline want = timeline(*original);
  const bool fits = coloursFitOnePalette(*original);

  for (uint32_t framePass : kFramePass) {
    for (uint32_t palettePass : kPalettePass) {
      // The big files get the frame pass with each palette method once.
      if (big && framePass != 0x046 && palettePass != 0) continue;
      uint32_t options = framePass | palettePass;
      // The trial, whether or not it would be taken.
      OptimizeJob job;
      job.document = original.get();
      job.hasDialog = true;
      job.options = options;
      ASSERT_TRUE(runOptimizeJob(job)) << std::hex << options;
      Timeline got = timeline(*job.trial);
      bool mapsColours = (options & 0x008) && (options & 0x410);
      if (mapsColours && !fits) {
        int64_t wantTime = 0, gotTime = 0;
        for (auto& p : want) wantTime += p.second;
        for (auto& p : got) gotTime += p.second;
        EXPECT_EQ(gotTime, wantTime) << std::hex << options;
        continue;
      }
      ASSERT_EQ(got.size(), want.size()) << "options 0x" << std::hex << options;
      for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].first, want[i].first) << "options 0x" << std::hex << options << " picture " << std::dec << i;
        ASSERT_EQ(got[i].second, want[i].second) << "options 0x" << std::hex << options << " picture " << std::dec << i;
      }
    }
  }
}

// The smallest layout and what comes with it (renumbered palettes, unchanged
// pixels written either way) show the same pictures, also after a round trip
// through a file, for the best lossless options and for the default ones.
TEST_P(OptimizeCorpus, SmallestEncodingShowsTheSame) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::unique_ptr<Animation> original = readable();
  if (!original) GTEST_SKIP() << skipWhy;
  const Timeline want = timeline(*original);
  const bool fits = coloursFitOnePalette(*original);
  for (uint32_t options : {opt::Best, 0x046Eu | opt::SmallestEncoding, opt::SmallestEncoding}) {
    if ((options & opt::AdaptiveGlobal) && !fits) continue;
    OptimizeJob job;
    job.document = original.get();
    job.hasDialog = true;
    job.options = options;
    job.keepEncoding = options == opt::Best;  // the passes' encodings are what is written
    ASSERT_TRUE(runOptimizeJob(job));
    ASSERT_TRUE(job.trial->smallestEncoding);
    EXPECT_EQ(timeline(*job.trial), want) << std::hex << options;
    std::vector<uint8_t> bytes;
    ByteSink sink(&bytes);
    ASSERT_EQ(writeGifStream(sink, *job.trial, nullptr), kWriteDone);
    for (Frame* f = firstFrame(*job.trial); f; f = nextFrame(f)) {
      ByteSink written;
      writeFrameImage(written, *f, 100, LzwLayout::Smallest);
      ASSERT_EQ(frameEncodedSize(*f, LzwLayout::Smallest), written.total()) << "counted as written";
    }
    std::unique_ptr<Animation> back;
    ASSERT_EQ(fbtest::readGifBytes(bytes, back), kReadComplete) << std::hex << options;
    EXPECT_EQ(timeline(*back), want) << std::hex << options;
  }
}

TEST_P(OptimizeCorpus, UnoptimizeThenOptimize) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  std::unique_ptr<Animation> a = readable();
  if (!a) GTEST_SKIP() << skipWhy;
  if (!unoptimize(*a, nullptr)) {
    // Local palettes keep a document from being unoptimized: one adaptive
    // global palette first (the pass itself: a job would keep the document
    // as it was when that made it larger).
    optimizePalettes(*a, 0x408, nullptr);
    ASSERT_TRUE(unoptimize(*a, nullptr));
  }
  // Unoptimized pictures show the background where the original showed
  // transparency, so compare against the unoptimized document's own timeline.
  const Timeline full = timeline(*a);
  OptimizeJob job;
  job.document = a.get();
  job.options = 0x46E;
  ASSERT_TRUE(runOptimizeJob(job));
  EXPECT_EQ(timeline(*a), full);
}

INSTANTIATE_TEST_SUITE_P(Corpus, OptimizeCorpus, ::testing::ValuesIn(files()),
                         [](const auto& info) {
                           std::string n = std::filesystem::path(info.param).stem().string();
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });
