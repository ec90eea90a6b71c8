#include "base/progress.h"

#include <gtest/gtest.h>

#include "base/reporter.h"

using namespace fb;

namespace {

class Spy : public Progress {
 public:
  int lastPos = -1, lastRange = -1;

 protected:
  void onPosition(int p, int r) override {
    lastPos = p;
    lastRange = r;
  }
};

}  // namespace

TEST(Progress, LargeRangesAreScaledByPowersOfTen) {
  Spy p;
  p.setRange(123456);
  EXPECT_EQ(p.lastRange, 123);
  p.setPosition(61728);
  EXPECT_EQ(p.lastPos, 61);
  p.setRange(1000);
  EXPECT_EQ(p.lastRange, 1000);
  p.setRange(1001);
  EXPECT_EQ(p.lastRange, 100);
  p.setPosition(5000);  // beyond the range: shown full
  EXPECT_EQ(p.lastPos, 100);
}

TEST(Progress, CancelMakesEveryLaterStepFail) {
  RecordingProgress p;
  p.setRange(10);
  EXPECT_TRUE(p.step());
  p.cancelAfter(3);
  EXPECT_TRUE(p.step());
  EXPECT_FALSE(p.step());
  EXPECT_FALSE(p.setPosition(1));
  p.resetCancel();
  p.cancelAfter(-1);
  EXPECT_TRUE(p.step());
}

TEST(Reporter, ScopedReporterCatchesMessagesOnThisThreadOnly) {
  RecordingReporter rec;
  {
    ScopedReporter scope(rec);
    showWarning("one");
    EXPECT_EQ(reporter().ask("q", "really?", Icon::Question, Buttons::YesNo, Answer::No),
              Answer::No);
    rec.queueAnswer(Answer::Yes);
    EXPECT_EQ(reporter().ask("q", "again?", Icon::Question, Buttons::YesNo, Answer::No),
              Answer::Yes);
  }
  auto e = rec.entries();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].caption, "错误");
  EXPECT_EQ(e[0].text, "one");
  EXPECT_FALSE(e[0].question);
  EXPECT_TRUE(e[1].question);
  EXPECT_NE(&reporter(), &rec);
}
