// Undo and redo over every edit: done, undone and redone, each gives back the
// exact document (pictures, encoded size, selection, current frame), and
// every frame's colour table follows its palette throughout.
#include "imaging/edits.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <new>

#include "base/progress.h"
#include "base/reporter.h"
#include "document/history.h"
#include "formats/image_files.h"
#include "formats/png_writer.h"
#include "formats/timing_file.h"
#include "gif/gif_writer.h"
#include "imaging/frame_update.h"
#include "imaging/optimizer.h"
#include "io/external_edit.h"
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

// Files the edits that read them are given.
const fbtest::TempDir& scratch() {
  static fbtest::TempDir dir;
  return dir;
}

// Frame `i` with a local palette of its own (a copy of what it shows).
void giveLocalPalette(Animation& doc, int i) {
  Frame& f = *frameAt(doc, i);
  if (f.localPalette) return;
  setLocalPalette(f, copyPalette(*f.palette()));
  refreshFrameColours(f, doc.globalPalette.get());
}

// The document with frame `i` mirrored, one frame turned true colour or the
// whole animation as it would come back from an image editor.
std::unique_ptr<Animation> editedCopy(const Animation& doc) {
  auto copy = duplicateAnimation(doc, nullptr);
  EXPECT_TRUE(flipAnimation(*copy, FlipAxis::Vertical));
  return copy;
}

// An external edit whose editor saved `write(path)`.
Edit externalEdit(Animation& doc, ExternalEditOptions options,
                  const std::function<bool(const std::string&)>& write) {
  options.folder = scratch().path();
  auto session = ExternalEdit::begin(doc, options);
  Edit edit;
  EXPECT_TRUE(session && write(session->path()));
  if (!session) return edit;
  // A time of its own: a save within the clock's tick of the first write could share it.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
  ::utimensat(AT_FDCWD, session->path().c_str(), times, 0);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Settling);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Saved);
  EXPECT_TRUE(session->readBack(doc, edit));
  return edit;  // the session goes, and its file with it: the edit holds what it read
}

std::vector<Case> issue17Edits() {
  auto resize = [](ResizeFilter filter) {
    ResizeOptions o;
    o.filter = filter;
    return o;
  };
  return {
      {"rotate-90", [](Animation&) { return rotateAnimationEdit(Rotation::Clockwise90); }},
      {"rotate-180", [](Animation&) { return rotateAnimationEdit(Rotation::Half); }},
      {"flip-h", [](Animation&) { return flipAnimationEdit(FlipAxis::Horizontal); }},
      {"rotate-frames",
       [](Animation&) {
         return rotateFramesEdit({1, 3}, Rotation::Anticlockwise90);
       }},
      {"flip-frames",
       [](Animation&) {
         return flipFramesEdit({0, 2}, FlipAxis::Vertical);
       }},
      {"move-crop",
       [](Animation&) {
         return moveCropFrameEdit(2, 7, 5, Rect{3, 4, 40, 30});
       }},
      {"crop",
       [](Animation&) {
         return cropAnimationEdit(Rect{10, 20, 90, 50});
       }},
      {"resize",
       [=](Animation&) { return resizeAnimationEdit(77, 301, resize(ResizeFilter::Nearest)); }},
      {"resize-bicubic",
       [=](Animation&) { return resizeAnimationEdit(120, 60, resize(ResizeFilter::Bicubic)); }},
      {"resize-frames",
       [=](Animation&) {
         return resizeFramesEdit({0, 4}, 33, 22, resize(ResizeFilter::Bicubic));
       }},
      {"ping-pong", [](Animation&) { return pingPongEdit(); }},
      {"blend",
       [](Animation&) {
         std::shared_ptr<const Animation> other = load("screen-sprite-ffmpeg.gif");
         BlendOptions o;
         o.byTime = true;
         return blendEdit(other, o, nullptr);
       }},
      {"global-entries",
       [](Animation&) {
         return setPaletteEntriesEdit(PaletteTarget::global(), 2, {{1, 2, 3}, {200, 100, 50}});
       }},
      {"global-reorder",
       [](Animation& doc) {
         std::vector<int> order;
         for (int i = doc.globalPalette->count - 1; i >= 0; --i) order.push_back(i);
         return reorderPaletteEdit(PaletteTarget::global(), order);
       }},
      {"global-merge",
       [](Animation& doc) {
         // Entries 2 and 3 alike, so that there is something to merge.
         setPaletteEntries(doc, PaletteTarget::global(), 3, {(*doc.globalPalette)[2]});
         return mergeDuplicateColoursEdit(PaletteTarget::global());
       }},
      {"global-replace",
       [](Animation&) {
         return replacePaletteColoursEdit(PaletteTarget::global(), {{9, 9, 9}, {250, 0, 0}});
       }},
      {"local-reorder",
       [](Animation& doc) {
         giveLocalPalette(doc, 1);
         std::vector<int> order;
         for (int i = 0; i < frameAt(doc, 1)->localPalette->count; ++i)
           order.push_back((i + 5) % frameAt(doc, 1)->localPalette->count);
         return reorderPaletteEdit(PaletteTarget::local(1), order);
       }},
      {"local-palette-file",
       [](Animation& doc) {
         giveLocalPalette(doc, 1);
         const std::string path = scratch().file("ramp.pal");
         std::vector<Rgb> ramp;
         for (int i = 0; i < 256; ++i) ramp.push_back({uint8_t(255 - i), uint8_t(i), 0});
         EXPECT_TRUE(WritePaletteFile(path, *makePalette(ramp.data(), 256)));
         return loadPaletteFileEdit(PaletteTarget::local(1), path);
       }},
      {"frame-properties",
       [](Animation&) {
         FrameProperties p;
         p.delay = 33;
         p.disposal = 3;
         p.name = "renamed";
         p.left = 4;
         p.transparent = false;
         return framePropertiesEdit({1, 2}, p);
       }},
      {"all-frame-properties",
       [](Animation&) {
         FrameProperties p;
         p.interlaced = true;
         p.userInput = true;
         return allFramePropertiesEdit(p);
       }},
      {"animation-properties",
       [](Animation& doc) {
         AnimationProperties p;
         p.width = doc.width + 9;
         p.playCount = 3;
         p.backgroundIndex = 1;
         return animationPropertiesEdit(p);
       }},
      {"comment-add", [](Animation&) { return addCommentEdit("made here"); }},
      {"comment-set",
       [](Animation& doc) {
         addComment(doc, "old text");
         return setCommentEdit(0, "new text");
       }},
      {"comment-remove",
       [](Animation& doc) {
         addComment(doc, "going");
         return removeCommentEdit(0);
       }},
      {"paint",
       [](Animation&) {
         return paintPixelsEdit(1, {{0, 0}, {5, 7}, {6, 7}}, 3);
       }},
      {"flood-fill",
       [](Animation& doc) {
         const int under = frameAt(doc, 2)->dib->row(0)[0];
         return floodFillEdit(2, {0, 0}, under == 4 ? 5 : 4);
       }},
      {"pick-transparent",
       [](Animation& doc) {
         // A pixel that is not the transparent index now.
         Frame& f = *frameAt(doc, 1);
         Point at{0, 0};
         for (int x = 0; x < f.width; ++x)
           if (!f.transparent() || f.dib->row(3)[x] != f.transparentIndex) at = {x, 3};
         return pickTransparentIndexEdit(1, at);
       }},
      {"palette-session",
       [](Animation& doc) {
         std::vector<int> order;
         for (int i = doc.globalPalette->count - 1; i >= 0; --i) order.push_back(i);
         return sessionEdit("全局调色板",
                            {setPaletteEntriesEdit(PaletteTarget::global(), 2, {{1, 2, 3}}),
                             reorderPaletteEdit(PaletteTarget::global(), order)});
       }},
      {"pixel-session",
       [](Animation&) {
         return sessionEdit("编辑像素",
                            {paintPixelsEdit(1, {{0, 0}, {1, 0}}, 3), floodFillEdit(1, {0, 0}, 4),
                             pickTransparentIndexEdit(1, {1, 0})});
       }},
      {"load-timing",
       [](Animation& doc) {
         std::string text;
         for (int i = 0; i < doc.frameCount(); ++i) text += std::to_string(i + 1) + "\n";
         const std::string path = scratch().file("t_timing.txt");
         fbtest::writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
         return loadTimingEdit(path, 100);
       }},
      {"timing-editor",
       [](Animation& doc) {
         std::vector<int> delays;
         for (int i = 0; i < doc.frameCount(); ++i) delays.push_back(65535 - i * 7);
         return setFrameDelaysEdit(delays);
       }},
      {"external-frame-same-palette",
       [](Animation& doc) {
         ExternalEditOptions o;
         o.frame = 1;
         Edit e = externalEdit(doc, o, [&](const std::string& path) {
           auto copy = editedCopy(doc);
           return WritePngFrame(path, *frameAt(*copy, 1), nullptr) == 1;
         });
         EXPECT_FALSE(e.change.header || e.change.allFrames) << "the frame alone changes";
         return e;
       }},
      {"external-frame-true-colour",
       [](Animation& doc) {
         ExternalEditOptions o;
         o.frame = 2;
         Edit e = externalEdit(doc, o, [&](const std::string& path) {
           auto copy = editedCopy(doc);
           Frame& f = *frameAt(*copy, 2);
           return addTrueColour(f, true) && WritePngFrame(path, f, nullptr) == 1;
         });
         EXPECT_TRUE(e.change.allFrames) << "colours go through the palette merge";
         return e;
       }},
      {"external-animation",
       [](Animation& doc) {
         ExternalEditOptions o;
         o.wholeAnimation = true;
         return externalEdit(doc, o, [&](const std::string& path) {
           return WritePsdFile(path, *editedCopy(doc), false, nullptr);
         });
       }},
  };
}

// Every frame's colour table holds its palette's colours (black past them).
bool coloursFollowPalettes(const Animation& doc) {
  for (Frame* f = firstFrame(doc); f; f = nextFrame(f)) {
    if (!f->dib || !f->palette()) continue;
    for (int i = 0; i < 256; ++i)
      if (!(f->dib->colours[i] == (i < f->palette()->count ? (*f->palette())[i] : Rgb{})))
        return false;
  }
  return true;
}

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
  std::vector<Case> cases = everyEdit();
  for (Case& c : issue17Edits()) cases.push_back(std::move(c));
  for (const Case& c : cases) {
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
    EXPECT_TRUE(quiet.texts().empty()) << quiet.texts().front();
    encodedSize(*doc, true, nullptr);
    const std::string after = fbtest::digest(*doc);
    EXPECT_TRUE(after != before) << "the edit changed nothing to test";
    EXPECT_TRUE(coloursFollowPalettes(*doc));
    EXPECT_EQ(history.undoName(), edit.name);

    int current = 7;
    Change changed;
    ASSERT_TRUE(history.undo(*doc, current, &changed));
    EXPECT_TRUE(fbtest::digest(*doc) == before);
    EXPECT_TRUE(coloursFollowPalettes(*doc));
    EXPECT_EQ(encodedSize(*doc, true, nullptr), sizeBefore);
    EXPECT_EQ(current, 1) << "the current frame comes back too";
    EXPECT_EQ(history.redoName(), edit.name);
    ASSERT_TRUE(history.redo(*doc, current, &changed));
    encodedSize(*doc, true, nullptr);
    EXPECT_TRUE(fbtest::digest(*doc) == after);
    EXPECT_TRUE(coloursFollowPalettes(*doc));
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

TEST(History, ASessionIsOneStepAndALaterFailureTakesBackTheEarlierEdits) {
  auto doc = load("cellauto-ffmpeg.gif");
  const std::string before = fbtest::digest(*doc);
  History history(20);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  Edit strokes = sessionEdit(
      "编辑像素", {paintPixelsEdit(1, {{0, 0}}, 3), paintPixelsEdit(1, {{1, 0}, {100000, 0}}, 3)});
  EXPECT_EQ(runEdit(*doc, history, strokes, 1, nullptr), 0);
  EXPECT_FALSE(rec.texts().empty()) << "the failing stroke says why";
  EXPECT_TRUE(fbtest::digest(*doc) == before) << "the first stroke is taken back too";
  EXPECT_FALSE(history.canUndo());

  Edit two =
      sessionEdit("编辑像素", {paintPixelsEdit(1, {{0, 0}}, 3), paintPixelsEdit(2, {{0, 0}}, 3)});
  EXPECT_EQ(two.change.frames, (std::vector<int>{1, 2}));
  ASSERT_EQ(runEdit(*doc, history, two, 1, nullptr), 1);
  EXPECT_EQ(history.steps(), 1u);
  int current = 1;
  ASSERT_TRUE(history.undo(*doc, current));
  EXPECT_TRUE(fbtest::digest(*doc) == before);
}

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

TEST(History, AFailedEditLeavesTheRedoStepsAndAThrowIsSaid) {
  auto doc = load("testsrc-localpal-ffmpeg.gif");
  History history(20);
  ASSERT_NE(runEdit(*doc, history, setDelayEdit({0}, 77), -1, nullptr), 0);
  const std::string edited = fbtest::digest(*doc);
  int current = -1;
  ASSERT_TRUE(history.undo(*doc, current));
  const std::string before = fbtest::digest(*doc);
  RecordingReporter said;
  ScopedReporter scope(said);
  Edit failing{"x", Change::everything(), [](Animation& a, Progress*) { return 0; }};
  Edit throwing{"y", Change::everything(), [](Animation& a, Progress*) -> int {
                  frameAt(a, 0)->delay = 5;
                  throw std::bad_alloc();
                }};
  EXPECT_EQ(runEdit(*doc, history, failing, -1, nullptr), 0);
  EXPECT_TRUE(said.entries().empty()) << "an edit that failed has said why itself";
  EXPECT_EQ(runEdit(*doc, history, throwing, -1, nullptr), 0);
  EXPECT_EQ(said.entries().size(), 1u) << "a throw is said once";
  EXPECT_TRUE(fbtest::digest(*doc) == before);
  ASSERT_TRUE(history.canRedo());
  ASSERT_TRUE(history.redo(*doc, current));
  EXPECT_TRUE(fbtest::digest(*doc) == edited);
  // A successful edit still replaces what could be redone.
  ASSERT_TRUE(history.undo(*doc, current));
  ASSERT_NE(runEdit(*doc, history, setDelayEdit({0}, 55), -1, nullptr), 0);
  EXPECT_FALSE(history.canRedo());
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

// Cancelled through the progress, a resize or a blend changes nothing and
// leaves no step behind (the document is not modified by a cancel).
TEST(Edits, ACancelledResizeOrBlendLeavesNoStep) {
  auto doc = load("testsrc-localpal-ffmpeg.gif");
  auto other = std::shared_ptr<const Animation>(load("testsrc-localpal-ffmpeg.gif"));
  const std::string before = fbtest::digest(*doc);
  const Edit edits[] = {resizeAnimationEdit(doc->width * 2, doc->height, {}),
                        resizeFramesEdit({0, 1}, 5, 5, {}), blendEdit(other, {}, nullptr)};
  for (const Edit& e : edits) {
    History history(20);
    RecordingReporter said;
    ScopedReporter scope(said);
    RecordingProgress progress;
    progress.cancelAfter(1);
    EXPECT_EQ(runEdit(*doc, history, e, 0, &progress), 0) << e.name;
    EXPECT_TRUE(progress.cancelled()) << e.name;
    EXPECT_TRUE(fbtest::digest(*doc) == before) << e.name;
    EXPECT_FALSE(history.canUndo()) << e.name;
    EXPECT_TRUE(said.entries().empty()) << e.name << ": a cancel is not a failure to report";
  }
}
