// Timing files and the HTML snippet.
#include <gtest/gtest.h>

#include "base/reporter.h"
#include "formats/html_snippet.h"
#include "formats/image_files.h"
#include "formats/timing_file.h"
#include "testutil.h"

using namespace fb;
using namespace fbtest;

namespace {

std::unique_ptr<Animation> withDelays(const std::vector<int>& delays) {
  auto a = createAnimation();
  a->width = a->height = 1;
  for (int d : delays) {
    auto f = newBlankFrame(1, 1);
    f->delay = d;
    appendFrame(*a, std::move(f));
  }
  return a;
}

TEST(TimingFile, RoundTripsAndReadsCommentsBlankLinesAndCrLf) {
  TempDir dir;
  auto a = withDelays({0, 7, 65535, 100});
  std::string path = timingFilePath(dir.file("walk.cycle.gif"));
  EXPECT_EQ(path, dir.file("walk.cycle_timing.txt"));
  ASSERT_TRUE(saveTimingFile(*a, path, 100));
  auto b = withDelays({1, 1, 1, 1});
  ASSERT_TRUE(loadTimingFile(*b, path, 100));
  EXPECT_EQ(delaysOf(*b), delaysOf(*a));

  // Another time base: ticks of a tenth of a second, written as hundredths.
  auto c = withDelays({3, 12});
  ASSERT_TRUE(saveTimingFile(*c, path, 10));
  std::vector<uint8_t> bytes = readBytes(path);
  std::string written(bytes.begin(), bytes.end());
  EXPECT_NE(written.find("\n30\n120\n"), std::string::npos) << written;
  auto d = withDelays({0, 0});
  ASSERT_TRUE(loadTimingFile(*d, path, 10));
  EXPECT_EQ(delaysOf(*d), (std::vector<int>{3, 12}));

  std::vector<uint32_t> out;
  ASSERT_TRUE(parseTiming("\xEF\xBB\xBF# mine\r\n  5\t# first\r\n\r\n\t 6  \n7", 3, out));
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 6, 7}));
}

TEST(TimingFile, MalformedLinesAreNamedAndChangeNothing) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"10\n20\nfast\n", "Line 3 of the timing file is not a delay: \"fast\"."},
      {"10\n-5\n30\n", "Line 2 of the timing file is not a delay: \"-5\"."},
      {"# c\n\n65536\n1\n2\n", "Line 3 of the timing file is not a delay: \"65536\"."},
      {"1.5\n2\n3\n", "Line 1 of the timing file is not a delay: \"1.5\"."},
      {"10 20\n2\n3\n", "Line 1 of the timing file is not a delay: \"10 20\"."},
      {"1\n2\n0x10\n", "Line 3 of the timing file is not a delay: \"0x10\"."},
      {"1\n2\n", "The timing file holds 2 delays, but the animation has 3 frames."},
      {"1\n2\n3\n4\n", "The timing file holds 4 delays, but the animation has 3 frames."},
  };
  TempDir dir;
  for (const Case& c : cases) {
    RecordingReporter rec;
    ScopedReporter scoped(rec);
    std::string path = dir.file("t_timing.txt");
    std::string text = c.text;
    writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    auto a = withDelays({10, 20, 30});
    EXPECT_FALSE(loadTimingFile(*a, path, 100)) << c.text;
    EXPECT_EQ(delaysOf(*a), (std::vector<int>{10, 20, 30})) << c.text;
    ASSERT_EQ(rec.texts().size(), 1u) << c.text;
    EXPECT_EQ(rec.texts()[0].rfind(c.message, 0), 0u) << rec.texts()[0];
  }
  RecordingReporter rec;
  ScopedReporter scoped(rec);
  auto a = withDelays({10});
  EXPECT_FALSE(loadTimingFile(*a, dir.file("missing.txt"), 100));
  EXPECT_EQ(rec.texts().size(), 1u);
}

TEST(HtmlSnippet, NamesTheFileAndEscapesWhatNeedsIt) {
  EXPECT_EQ(htmlSnippet("/home/me/cat.gif", 120, 80, "cat"),
            "<img src=\"cat.gif\" width=\"120\" height=\"80\" alt=\"cat\">");
  EXPECT_EQ(htmlSnippet("dir/my \"best\" #1.gif", 1, 2, "a <b> & \"c\""),
            "<img src=\"my%20%22best%22%20%231.gif\" width=\"1\" height=\"2\" "
            "alt=\"a &lt;b&gt; &amp; &quot;c&quot;\">");
  EXPECT_EQ(defaultAltText("/x/dancing cat.gif"), "dancing cat");
}

TEST(PaletteEditorFiles, LoadAndSaveThroughTheEditor) {
  TempDir dir;
  auto a = withDelays({1});
  Rgb grey[3] = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
  setGlobalPalette(*a, makePalette(grey, 3));
  ASSERT_TRUE(SavePaletteFileFrom(*a, PaletteTarget::global(), dir.file("g.pal")));
  auto b = withDelays({1});
  setGlobalPalette(*b, makePalette(nullptr, 2));
  ASSERT_TRUE(LoadPaletteFileInto(*b, PaletteTarget::global(), dir.file("g.pal")));
  EXPECT_EQ(*b->globalPalette, *a->globalPalette);

  RecordingReporter rec;
  ScopedReporter scoped(rec);
  EXPECT_FALSE(LoadPaletteFileInto(*b, PaletteTarget::local(0), dir.file("g.pal")));
  EXPECT_FALSE(LoadPaletteFileInto(*b, PaletteTarget::global(), dir.file("none.pal")));
  EXPECT_EQ(*b->globalPalette, *a->globalPalette);
  EXPECT_EQ(rec.texts().size(), 2u);
}

}  // namespace
