// Undo and redo over every edit: done, undone and redone, each gives back the
// exact document (pictures, encoded size, selection, current frame).
#include "imaging/edits.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/progress.h"
#include "base/reporter.h"
#include "document/history.h"
#include "gif/gif_writer.h"
#include "imaging/optimizer.h"
#include "testutil.h"

using namespace fb;

namespace {

std::unique_ptr<Animation> load(const std::string& name) {
  std::unique_ptr<Animation> a;
  EXPECT_EQ(fbtest::readGifPath(fbtest::dataPath("gif-real/" + name), a), kReadComplete);
  return a;
}

struct Case {
  const char* name;
  std::function<Edit(Animation&)> make;
  bool needsGlobalPaletteOnly = false;  // refuses local palettes
};

std::vector<Case> everyEdit() {
  return {
      {"optimize", [](Animation&) { return optimizeEdit(0x46E); }},
      {"optimize-lossless", [](Animation&) { return optimizeEdit(0x6E); }},
      {"optimize-best", [](Animation&) { return optimizeEdit(opt::Best); }},
      {"optimize-lossy", [](Animation&) { return optimizeEdit(0x46E, {}, {}, 40); }},
      {"unoptimize", [](Animation&) { return unoptimizeEdit(); }, true},
      {"reduce-colours", [](Animation&) { return reduceColoursEdit(16, true); }},
      {"reduce-colours-quality", [](Animation&) { return reduceColoursEdit(16, false, {}, true); }},
      {"thin", [](Animation&) { return thinEdit(3); }},
      {"reverse", [](Animation&) { return reverseEdit(); }},
      {"delete",
       [](Animation&) {
         return deleteFramesEdit({0, 2, 5});
       }},
      {"move",
       [](Animation&) {
         return moveFramesEdit({1, 4}, 0);
       }},
      {"centre",
       [](Animation& doc) {
         frameAt(doc, 0)->left += 3;  // off centre, so that centring changes it
         return centreAllEdit();
       }},
      {"delay",
       [](Animation&) {
         return setDelayEdit({0, 1, 3}, 77);
       }},
      {"disposal",
       [](Animation&) {
         return frameFieldsEdit({1, 2}, [](Frame& f) {
           f.setDisposal(2);
           return true;
         });
       }},
      {"transparency",
       [](Animation&) {
         return frameFieldsEdit({0, 2}, [](Frame& f) {
           setTransparentIndex(f, 3);
           setTransparent(f, !f.transparent());
           return true;
         });
       }},
      {"insert",
       [](Animation&) {
         auto more = std::make_shared<std::unique_ptr<Animation>>(load("screen-sprite-ffmpeg.gif"));
         return insertEdit(more, 2, nullptr);
       }},
      {"accept-trial",
       [](Animation& doc) {
         OptimizeJob job;
         job.document = &doc;
         job.hasDialog = true;
         job.options = 0x46E;
         EXPECT_TRUE(runOptimizeJob(job));
         return acceptTrialEdit(std::shared_ptr<Animation>(std::move(job.trial)), "优化动画");
       }},
  };
}

class EveryEdit : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryEdit, DoneUndoneAndRedoneGivesBackTheExactDocument) {
  for (const Case& c : everyEdit()) {
    SCOPED_TRACE(c.name);
    auto doc = load(GetParam());
    ASSERT_TRUE(doc);
    bool local = false;
    for (Frame* f = firstFrame(*doc); f; f = nextFrame(f)) local |= f->localPalette != nullptr;
    if (c.needsGlobalPaletteOnly && local) continue;
    frameAt(*doc, 1)->selected = 1;
    countSelected(*doc);
    doc->anchorIndex = 1;
    Edit edit = c.make(*doc);
    encodedSize(*doc, true, nullptr);
    const std::string before = fbtest::digest(*doc);
    const int32_t sizeBefore = encodedSize(*doc, true, nullptr);

    History history(20);
    RecordingReporter quiet;
    ScopedReporter scope(quiet);
    ASSERT_EQ(runEdit(*doc, history, edit, 1, nullptr), 1);
    encodedSize(*doc, true, nullptr);
    const std::string after = fbtest::digest(*doc);
    EXPECT_TRUE(after != before) << "the edit changed nothing to test";
    EXPECT_EQ(history.undoName(), edit.name);

    int current = 7;
    Change changed;
    ASSERT_TRUE(history.undo(*doc, current, &changed));
    EXPECT_TRUE(fbtest::digest(*doc) == before);
    EXPECT_EQ(encodedSize(*doc, true, nullptr), sizeBefore);
    EXPECT_EQ(current, 1) << "the current frame comes back too";
    EXPECT_EQ(history.redoName(), edit.name);
    ASSERT_TRUE(history.redo(*doc, current, &changed));
    encodedSize(*doc, true, nullptr);
    EXPECT_TRUE(fbtest::digest(*doc) == after);
    EXPECT_EQ(current, 7);
    ASSERT_TRUE(history.undo(*doc, current, &changed));
    EXPECT_TRUE(fbtest::digest(*doc) == before) << "and again";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, EveryEdit,
                         ::testing::Values("testsrc-localpal-ffmpeg.gif", "cellauto-ffmpeg.gif"),
                         [](const auto& info) {
                           std::string n = info.param;
                           n = n.substr(0, n.find('.'));
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

TEST(History, StepsAreUndoneLastFirstAndEachRestoresItsOwnState) {
  auto doc = load("cellauto-ffmpeg.gif");
  History history(20);
  std::vector<std::string> states{fbtest::digest(*doc)};
  std::vector<Edit> edits = {setDelayEdit({0}, 5),        deleteFramesEdit({1}),
                             setDelayEdit({1}, 9),        reverseEdit(),
                             reduceColoursEdit(8, false), setDelayEdit({0}, 6)};
  for (const Edit& e : edits) {
    ASSERT_EQ(runEdit(*doc, history, e, -1, nullptr), 1);
    states.push_back(fbtest::digest(*doc));
  }
  int current = -1;
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(history.undo(*doc, current));
    EXPECT_TRUE(fbtest::digest(*doc) == states[i - 1]) << i;
  }
  EXPECT_FALSE(history.canUndo());
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(history.redo(*doc, current));
    EXPECT_TRUE(fbtest::digest(*doc) == states[i]) << i;
  }
  // A new edit after an undo forgets what could have been redone.
  history.undo(*doc, current);
  runEdit(*doc, history, setDelayEdit({0}, 1), -1, nullptr);
  EXPECT_FALSE(history.canRedo());
}

TEST(History, TheLevelsLimitTheStepsAndZeroTurnsUndoOff) {
  auto doc = load("screen-sprite-ffmpeg.gif");
  History history(3);
  for (int d = 1; d <= 5; ++d) runEdit(*doc, history, setDelayEdit({0}, d), -1, nullptr);
  EXPECT_EQ(history.steps(), 3u);
  int current = -1;
  int undone = 0;
  while (history.undo(*doc, current)) ++undone;
  EXPECT_EQ(undone, 3);
  EXPECT_EQ(firstFrame(*doc)->delay, 2) << "the two oldest steps were forgotten";

  history.setLevels(0);
  EXPECT_FALSE(history.canRedo());
  runEdit(*doc, history, setDelayEdit({0}, 40), -1, nullptr);
  EXPECT_EQ(firstFrame(*doc)->delay, 40);
  EXPECT_FALSE(history.canUndo());
  EXPECT_EQ(history.steps(), 0u);
}

TEST(History, AFailedEditIsTakenBackEvenWithUndoOff) {
  for (int levels : {20, 0}) {
    auto doc = load("testsrc-localpal-ffmpeg.gif");
    const std::string before = fbtest::digest(*doc);
    History history(levels);
    Edit halfway{"x", Change::everything(), [](Animation& a, Progress*) {
                   frameAt(a, 0)->delay = 999;
                   a.take(frameAt(a, 1));
                   a.width = 3;
                   return 0;
                 }};
    EXPECT_EQ(runEdit(*doc, history, halfway, -1, nullptr), 0);
    EXPECT_TRUE(fbtest::digest(*doc) == before) << levels;
    EXPECT_FALSE(history.canUndo());
  }
}

TEST(History, StepsShareWhatTheyDidNotChange) {
  auto doc = load("testsrc2-diff-ffmpeg.gif");
  const size_t framePixels =
      static_cast<size_t>(frameAt(*doc, 0)->width) * frameAt(*doc, 0)->height;
  History history(100);
  for (int i = 0; i < 20; ++i) runEdit(*doc, history, setDelayEdit({i}, 3), -1, nullptr);
  EXPECT_LT(history.bytesHeld(), framePixels) << "twenty delay edits keep no pixels";
  runEdit(*doc, history, reverseEdit(), -1, nullptr);
  runEdit(*doc, history, moveFramesEdit({0}, -1), -1, nullptr);
  EXPECT_LT(history.bytesHeld(), framePixels) << "neither does moving frames";
  const size_t held = history.bytesHeld();
  runEdit(*doc, history, frameFieldsEdit({0}, [](Frame&) { return true; }), -1, nullptr);
  Edit paint{"paint", Change::frameContent({2}), [](Animation& a, Progress*) {
               frameAt(a, 2)->dib->row(0)[0] ^= 1;
               return 1;
             }};
  runEdit(*doc, history, paint, -1, nullptr);
  const size_t frameBytes = static_cast<size_t>(frameAt(*doc, 2)->dib->data.size());
  EXPECT_GE(history.bytesHeld() - held, frameBytes) << "a pixel edit keeps that frame";
  EXPECT_LT(history.bytesHeld() - held, frameBytes + frameBytes / 4) << "and only that frame";
}

TEST(History, AFrameNamedTwiceInOneChangeIsKeptOnce) {
  auto doc = load("cellauto-ffmpeg.gif");
  const int32_t was = frameAt(*doc, 0)->delay;
  History history(20);
  ASSERT_EQ(runEdit(*doc, history, setDelayEdit({0, 0}, was + 5), -1, nullptr), 1);
  int current = -1;
  ASSERT_TRUE(history.undo(*doc, current));
  EXPECT_EQ(frameAt(*doc, 0)->delay, was);
  ASSERT_TRUE(history.redo(*doc, current));
  EXPECT_EQ(frameAt(*doc, 0)->delay, was + 5);
  ASSERT_TRUE(history.undo(*doc, current));
  EXPECT_EQ(frameAt(*doc, 0)->delay, was);
}

TEST(History, RedoGivesBackTheSelectionTheEditLeft) {
  // Edits that remove selected frames: the document after the edit and after
  // undo and redo must be the same, selection count included.
  for (Edit edit : {deleteFramesEdit({0, 2}), thinEdit(2)}) {
    SCOPED_TRACE(edit.name);
    auto doc = load("cellauto-ffmpeg.gif");
    frameAt(*doc, 0)->selected = frameAt(*doc, 1)->selected = 1;
    countSelected(*doc);
    doc->anchorIndex = 0;
    History history(20);
    RecordingReporter quiet;
    ScopedReporter scope(quiet);
    ASSERT_EQ(runEdit(*doc, history, edit, 0, nullptr), 1);
    const std::string after = fbtest::digest(*doc);
    const int selected = doc->selectedCount;
    EXPECT_EQ(selected, countSelected(*doc)) << "the count follows the frames that went";
    int current = 0;
    ASSERT_TRUE(history.undo(*doc, current));
    ASSERT_TRUE(history.redo(*doc, current));
    EXPECT_TRUE(fbtest::digest(*doc) == after);
  }
}

TEST(History, AnAcceptedTrialLeavesTheFormerContentToTheStepAlone) {
  for (int levels : {20, 0}) {
    auto doc = load("testsrc-localpal-ffmpeg.gif");
    OptimizeJob job;
    job.document = doc.get();
    job.hasDialog = true;
    job.options = 0x46E;
    ASSERT_TRUE(runOptimizeJob(job));
    auto trial = std::shared_ptr<Animation>(std::move(job.trial));
    std::weak_ptr<Block> former = doc->share(frameAt(*doc, 0));
    const size_t formerBytes = frameAt(*doc, 0)->dib->data.size();
    History history(levels);
    const Edit accept = acceptTrialEdit(trial, "优化动画");
    ASSERT_EQ(runEdit(*doc, history, accept, 0, nullptr), 1);
    EXPECT_EQ(trial->blockCount(), 0u) << "the dialog's trial keeps nothing of the document";
    if (levels) {
      EXPECT_GE(history.bytesHeld(), formerBytes) << "the former frames count as the step's";
    } else {
      EXPECT_TRUE(former.expired()) << "with undo off nothing keeps the former frames";
    }
  }
}

TEST(History, AnEditThatThrowsIsTakenBackAndReportedAsFailed) {
  for (int levels : {20, 0}) {
    auto doc = load("testsrc-localpal-ffmpeg.gif");
    const std::string before = fbtest::digest(*doc);
    History history(levels);
    Edit throws{"x", Change::everything(), [](Animation& a, Progress*) -> int {
                  frameAt(a, 0)->delay = 999;
                  a.take(frameAt(a, 1));
                  throw std::bad_alloc();
                }};
    int result = -1;
    EXPECT_NO_THROW(result = runEdit(*doc, history, throws, -1, nullptr));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(fbtest::digest(*doc) == before) << levels;
    EXPECT_FALSE(history.canUndo());
  }
}

}  // namespace

// An optimization that would not make the file smaller (here the signature
// comment costs more than the clean-up of a tiny file saves) is no edit: the
// document stays exactly as it was, no undo step is left, and the user is told.
TEST(Edits, AnOptimizationNoSmallerLeavesNoStep) {
  fbtest::GifBuilder b;
  b.header().screen(4, 4, 0x80).colours(2).gce(0x04, 5, 0).descriptor(0, 0, 4, 4);
  b.image(2, {0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0});
  std::unique_ptr<Animation> doc;
  ASSERT_EQ(fbtest::readGifBytes(b.trailer().bytes, doc), kReadComplete);
  const std::string before = fbtest::digest(*doc);

  History history(20);
  RecordingReporter messages;
  ScopedReporter scope(messages);
  EXPECT_EQ(runEdit(*doc, history, optimizeEdit(opt::Best), 0, nullptr), 0);
  EXPECT_TRUE(fbtest::digest(*doc) == before);
  EXPECT_FALSE(history.canUndo());
  ASSERT_EQ(messages.entries().size(), 1u);
  EXPECT_NE(messages.entries()[0].text.find("动画保持不变"), std::string::npos);
}
