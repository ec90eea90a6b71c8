// The external editor's session: the file it writes, how it sees a save, what
// it reads back, the editor it starts, and that it leaves nothing behind.
// (Undo of the read-back edits is in the every-edit test.)
#include "io/external_edit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "base/file_ops.h"
#include "base/reporter.h"
#include "document/history.h"
#include "formats/image_files.h"
#include "formats/png_writer.h"
#include "imaging/transform.h"
#include "io/open_save.h"
#include "testutil.h"

using namespace fb;
using namespace fbtest;

namespace {

std::unique_ptr<Animation> load(const std::string& name) {
  std::unique_ptr<Animation> a;
  EXPECT_EQ(readGifPath(dataPath("gif-real/" + name), a), 1);
  return a;
}

bool isEmptyFolder(const std::string& dir) {
  return std::filesystem::is_empty(dir);
}

// The frame's pixels as a string, to compare pictures.
std::string pixelsOf(const Frame& f) {
  std::string s;
  for (int y = 0; f.dib && y < f.dib->height; ++y)
    s.append(reinterpret_cast<const char*>(f.dib->row(y)), static_cast<size_t>(f.dib->width));
  return s;
}

// A file time of its own: saves within the file system's clock tick (a few
// milliseconds) could otherwise carry the same time.
void stamp(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Frame `i` of `doc` turned upside down, as an editor would save it.
bool writeEditedFrame(const Animation& doc, int i, const std::string& path) {
  auto copy = duplicateAnimation(doc, nullptr);
  return copy && flipFrames(*copy, {i}, FlipAxis::Vertical) &&
         WritePngFrame(path, *frameAt(*copy, i), nullptr) == 1;
}

TEST(ExternalEdit, EachSaveIsReadBackOnceAsOneStep) {
  TempDir dir;
  auto doc = load("testsrc-localpal-ffmpeg.gif");
  ExternalEditOptions o;
  o.frame = 2;
  o.folder = dir.path();
  o.documentName = "/somewhere/clock.gif";
  auto session = ExternalEdit::begin(*doc, o);
  ASSERT_TRUE(session);
  EXPECT_EQ(fileops::baseName(session->path()), "clock-3.png");
  {
    std::unique_ptr<Animation> written;
    ASSERT_EQ(openFile(session->path(), written, nullptr), 1);
    EXPECT_EQ(pixelsOf(*firstFrame(*written)), pixelsOf(*frameAt(*doc, 2)));
  }
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Unchanged);

  // Saved with nothing changed: seen, then let go.
  writeBytes(session->path(), readBytes(session->path()));
  stamp(session->path(), 1000);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Settling);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Unchanged);

  // A real save: settling, then saved, then never again for the same save.
  ASSERT_TRUE(writeEditedFrame(*doc, 2, session->path()));
  stamp(session->path(), 2000);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Settling);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Saved);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Unchanged);

  const std::string others = digest(*doc);
  const auto upright = pixelsOf(*frameAt(*doc, 2));
  const int32_t delay = frameAt(*doc, 2)->delay;
  const std::string name = frameName(*frameAt(*doc, 2));
  auto expected = duplicateAnimation(*doc, nullptr);
  ASSERT_TRUE(flipFrames(*expected, {2}, FlipAxis::Vertical));
  Edit e;
  ASSERT_TRUE(session->readBack(*doc, e));
  History history(5);
  ASSERT_EQ(runEdit(*doc, history, e, 2, nullptr), 1);
  EXPECT_EQ(pixelsOf(*frameAt(*doc, 2)), pixelsOf(*frameAt(*expected, 2)));
  EXPECT_EQ(frameAt(*doc, 2)->delay, delay);
  EXPECT_EQ(frameName(*frameAt(*doc, 2)), name);
  EXPECT_EQ(history.undoName(), "使用图像编辑器即时编辑");
  for (int i : {0, 1, 3}) EXPECT_EQ(pixelsOf(*frameAt(*doc, i)), pixelsOf(*frameAt(*expected, i)));

  // A second save replaces the picture the first one read back (here it
  // turns the frame back upright), as a step of its own.
  ASSERT_TRUE(writeEditedFrame(*doc, 2, session->path()));
  stamp(session->path(), 3000);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Settling);
  EXPECT_EQ(session->poll(), ExternalEdit::Status::Saved);
  ASSERT_TRUE(session->readBack(*doc, e));
  ASSERT_EQ(runEdit(*doc, history, e, 2, nullptr), 1);
  EXPECT_EQ(pixelsOf(*frameAt(*doc, 2)), upright);
  int current = 2;
  history.undo(*doc, current);
  EXPECT_EQ(pixelsOf(*frameAt(*doc, 2)), pixelsOf(*frameAt(*expected, 2)));
  history.undo(*doc, current);
  EXPECT_TRUE(digest(*doc) == others);

  session.reset();
  EXPECT_TRUE(isEmptyFolder(dir.path())) << "the file and its folder go with the session";
}

TEST(ExternalEdit, RefusalsSayWhyChangeNothingAndLeaveNothingOnDisk) {
  TempDir dir;
  auto doc = load("testsrc-localpal-ffmpeg.gif");
  RecordingReporter said;
  ScopedReporter scope(said);
  ExternalEditOptions o;
  o.folder = dir.path();

  o.frame = 99;
  EXPECT_FALSE(ExternalEdit::begin(*doc, o));
  EXPECT_TRUE(said.contains("There is no frame 100."));
  o.frame = 0;
  o.folder = dir.file("missing");
  EXPECT_FALSE(ExternalEdit::begin(*doc, o));
  o.folder = dir.path();
  fileops::setFaultHook([](fileops::Op op, const std::string&) {
    if (op != fileops::Op::Write) return false;
    errno = ENOSPC;
    return true;
  });
  EXPECT_FALSE(ExternalEdit::begin(*doc, o));
  fileops::setFaultHook(nullptr);
  EXPECT_EQ(said.texts().size(), 3u);
  EXPECT_TRUE(isEmptyFolder(dir.path()));

  const std::string before = digest(*doc);
  Edit e;
  {
    // Layers hidden or deleted in the editor: the frames cannot be matched.
    o.wholeAnimation = true;
    auto session = ExternalEdit::begin(*doc, o);
    ASSERT_TRUE(session);
    auto fewer = duplicateAnimation(*doc, nullptr);
    fewer->take(frameAt(*fewer, 0));
    ASSERT_TRUE(WritePsdFile(session->path(), *fewer, false, nullptr));
    stamp(session->path(), 1000);
    said.clear();
    EXPECT_FALSE(session->readBack(*doc, e));
    ASSERT_EQ(said.texts().size(), 1u);
    EXPECT_NE(said.texts().front().find("holds 19 visible layers, but the animation has 20 frames"),
              std::string::npos);
  }
  {
    // What the editor saved is no picture at all.
    o.wholeAnimation = false;
    auto session = ExternalEdit::begin(*doc, o);
    ASSERT_TRUE(session);
    writeBytes(session->path(), {'n', 'o', 't', ' ', 'a', ' ', 'P', 'N', 'G'});
    said.clear();
    EXPECT_FALSE(session->readBack(*doc, e));
    EXPECT_FALSE(said.texts().empty());
  }
  {
    // The frame was deleted while the editor had it; then once the edit is
    // made, before it runs.
    o.frame = 1;
    auto session = ExternalEdit::begin(*doc, o);
    ASSERT_TRUE(session);
    ASSERT_TRUE(writeEditedFrame(*doc, 1, session->path()));
    ASSERT_TRUE(session->readBack(*doc, e));
    auto gone = duplicateAnimation(*doc, nullptr);
    History history(5);
    said.clear();
    BlockPtr taken = doc->take(frameAt(*doc, 1));
    EXPECT_EQ(runEdit(*doc, history, e, 1, nullptr), 0);
    EXPECT_FALSE(session->readBack(*doc, e));
    EXPECT_EQ(said.texts().size(), 2u);
    doc->insertBeforeFrame(1, {taken});
  }
  EXPECT_TRUE(digest(*doc) == before);
  EXPECT_TRUE(isEmptyFolder(dir.path()));
}

TEST(ExternalEdit, TheEditorIsStartedWithTheFileAndItsSaveComesBack) {
  TempDir dir;
  auto doc = load("testsrc-localpal-ffmpeg.gif");
  RecordingReporter said;
  ScopedReporter scope(said);
  ExternalEditOptions o;
  o.frame = 0;
  o.folder = dir.path();
  auto session = ExternalEdit::begin(*doc, o);
  ASSERT_TRUE(session);

  EXPECT_FALSE(session->launch(dir.file("no-such-editor")));
  EXPECT_FALSE(session->launch(""));
  EXPECT_EQ(said.texts().size(), 2u);
  EXPECT_NE(said.texts().front().find("could not be started"), std::string::npos);

  // An "editor" that saves an edited picture over the file it was given.
  const std::string edited = dir.file("edited.png");
  ASSERT_TRUE(writeEditedFrame(*doc, 0, edited));
  const std::string editor = dir.file("editor.sh");
  const std::string script = "#!/bin/sh\necho \"$#:$1\" > '" + dir.file("args") + "'\ncp '" +
                             edited + "' \"$1\"\ntouch -d @1000 \"$1\"\n";
  writeBytes(editor, std::vector<uint8_t>(script.begin(), script.end()));
  ::chmod(editor.c_str(), 0755);
  said.clear();
  ASSERT_TRUE(session->launch(editor));
  // The editor runs on its own: wait (boundedly) for its save to settle.
  ExternalEdit::Status status = ExternalEdit::Status::Unchanged;
  for (int i = 0; i < 3000 && status != ExternalEdit::Status::Saved; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    status = session->poll();
  }
  ASSERT_EQ(status, ExternalEdit::Status::Saved);
  std::string args;
  ASSERT_TRUE(fileops::readWholeFile(dir.file("args"), args));
  EXPECT_EQ(args, "1:" + session->path() + "\n");
  Edit e;
  ASSERT_TRUE(session->readBack(*doc, e));
  History history(5);
  ASSERT_EQ(runEdit(*doc, history, e, 0, nullptr), 1);
  std::unique_ptr<Animation> saved;
  ASSERT_EQ(openFile(edited, saved, nullptr), 1);
  EXPECT_EQ(pixelsOf(*frameAt(*doc, 0)), pixelsOf(*firstFrame(*saved)));
  EXPECT_TRUE(said.texts().empty());
}

}  // namespace
