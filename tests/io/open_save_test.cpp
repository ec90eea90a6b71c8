#include "io/open_save.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "gif/gif_writer.h"
#include "io/save_document.h"
#include "testutil.h"

using namespace fb;
using fbtest::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> gifBytes(int frames = 2, bool transparent = false) {
  fbtest::GifBuilder b;
  b.header().screen(4, 2, 0x81).colours(4);
  for (int i = 0; i < frames; ++i) {
    if (transparent) b.gce(0x01, 10, 3);
    b.descriptor(0, 0, 4, 2).image(2, {0, 1, 2, 3, 3, 2, 1, 0});
  }
  b.trailer();
  return b.bytes;
}

std::unique_ptr<Animation> docFromBytes(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(bytes, a);
  return a;
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `fn` without root's power to ignore permissions (in a child process
// as "nobody" when the tests run as root). True when `fn` returned true.
template <typename Fn>
bool unprivileged(Fn fn) {
  if (::geteuid() != 0) return fn();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ::_exit(fn() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct FakeDialog : SaveAsDialog {
  std::string answer;
  int type = -1;
  uint32_t options = 1;
  std::string seenFolder, seenName;
  int seenType = 0;
  bool choose(const std::string& folder, const std::string& name, int& typeIndex, uint32_t& opts,
              std::string& chosen) override {
    seenFolder = folder;
    seenName = name;
    seenType = typeIndex;
    if (answer.empty()) return false;
    if (type > 0) typeIndex = type;
    opts = options;
    chosen = answer;
    return true;
  }
};

}  // namespace

TEST(FileTypes, TypeOfPath) {
  struct Case {
    const char* path;
    int type;
  } cases[] = {{"a.gif", kTypeGif},  {"A.GIF", kTypeGif},        {"movie.Avi", kTypeAvi},
               {"x.jpg", kTypeJpeg}, {"x.jpeg", kTypeJpeg},      {"x.JPE", kTypeJpeg},
               {"x.png", kTypePng},  {"x.bmp", kTypeBmp},        {"x.dib", kTypeBmp},
               {"x.ani", kTypeAni},  {"x.ico", kTypeIco},        {"x.cur", kTypeCur},
               {"x.psd", kTypePsd},  {"x.swf", kTypeSwf},        {"noext", kTypeGif},
               {"x.txt", kTypeGif},  {"dir.png/file", kTypeGif}, {"/a/b.c/d.png", kTypePng},
               {"x.apng", kTypePng}, {"X.APNG", kTypePng}};
  for (auto c : cases) EXPECT_EQ(typeOfPath(c.path), c.type) << c.path;
  EXPECT_STREQ(fileType(kTypeJpeg).pattern, "*.jpg;*.jpe,*.jpeg");
  EXPECT_STREQ(fileType(kTypeGif).filterText, "GIF animation/image(s) (.gif)");
  EXPECT_STREQ(fileType(0).extension, "dummy");
  EXPECT_EQ(extensionOf("/x.y/z"), "");
  EXPECT_EQ(numberedPath("/d/anim.gif", 3, 12), "/d/anim-003.gif");
  EXPECT_EQ(numberedPath("anim", 12, 2000), "anim-0012");
}

TEST(OpenFile, ChoosesTheReaderByExtensionAndSaysWhyItCannot) {
  TempDir dir;
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;

  EXPECT_EQ(openFile(dir.file("missing.gif"), a, nullptr), kReadFailed);
  EXPECT_EQ(rec.texts().back(), "无法打开文件 '" + dir.file("missing.gif") + "'.");
  EXPECT_EQ(openFile(dir.path(), a, nullptr), kReadFailed) << "a folder is not a file";

  fbtest::writeBytes(dir.file("PICTURE.GIF"), gifBytes());
  EXPECT_EQ(openFile(dir.file("PICTURE.GIF"), a, nullptr), kReadComplete);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frameCount(), 2);

  fbtest::writeBytes(dir.file("picture.gif"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0});
  EXPECT_EQ(openFile(dir.file("picture.gif"), a, nullptr), kReadFailed);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(rec.texts().back(), dir.file("picture.gif") + " 不是有效的GIF文件。");

  fbtest::writeBytes(dir.file("notes.txt"), gifBytes());
  EXPECT_EQ(openFile(dir.file("notes.txt"), a, nullptr), kReadFailed);
  EXPECT_EQ(rec.texts().back(), "无法读取这个类型的文件。") << "contents are sniffed only for GIF";
}

TEST(OpenFile, StepsAfterReading) {
  TempDir dir;
  std::unique_ptr<Animation> a;
  fbtest::writeBytes(dir.file("anim.gif"), gifBytes(3));
  ASSERT_EQ(openFile(dir.file("anim.gif"), a, nullptr), kReadComplete);
  EXPECT_EQ(frameName(*frameAt(*a, 2)), "anim.gif - 帧 3");
  EXPECT_EQ(a->colourUsage[3], 6) << "colour usage counted over the frames";
  EXPECT_EQ(firstFrame(*a)->disposal(), 0);

  fbtest::writeBytes(dir.file("one.gif"), gifBytes(1, true));
  ASSERT_EQ(openFile(dir.file("one.gif"), a, nullptr), kReadComplete);
  EXPECT_EQ(frameName(*firstFrame(*a)), "one.gif");
  EXPECT_EQ(firstFrame(*a)->disposal(), 2) << "a lone transparent frame restores to background";

  // The colour to load as transparent: the grey ramp's entry 1 is 0x555555.
  prefSet(pref::MoreOptions, more::TransparentOnLoad);
  prefSet(pref::TransparentOnLoad, 0x555555);
  OpenOptions options = openOptionsFromPreferences();
  ASSERT_EQ(openFile(dir.file("anim.gif"), a, nullptr, options), kReadComplete);
  EXPECT_TRUE(firstFrame(*a)->transparent());
  EXPECT_EQ(firstFrame(*a)->transparentIndex, 1);
  options.transparentColour = Rgb{0x55, 0x55, 0x56};  // no exact match: nothing changes
  ASSERT_EQ(openFile(dir.file("anim.gif"), a, nullptr, options), kReadComplete);
  EXPECT_FALSE(firstFrame(*a)->transparent());
}

TEST(SaveByType, WritesANewFileAndReplacesAnOldOneKeepingItsPermissions) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  std::string target = dir.file("out.gif");
  ASSERT_TRUE(saveByType(target, *a, saveopt::WholeAnimation, kTypeGif, nullptr));
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            static_cast<fs::perms>(0666 & ~mask));
  ::chmod(target.c_str(), 0640);
  auto before = fbtest::readBytes(target);
  firstFrame(*a)->delay = 77;
  ASSERT_TRUE(saveByType(target, *a, saveopt::WholeAnimation, kTypeGif, nullptr));
  EXPECT_NE(fbtest::readBytes(target), before);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, static_cast<fs::perms>(0640));
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.gif"})
      << "no backup or temporary left";

  // A private file's new content is never open to others while it is written.
  ::chmod(target.c_str(), 0600);
  mode_t whileWritten = 0777;
  fileops::setFaultHook([&](fileops::Op op, const std::string& path) {
    struct stat st;
    if (op == fileops::Op::Write && ::stat(path.c_str(), &st) == 0) whileWritten = st.st_mode;
    return false;
  });
  const bool saved = saveByType(target, *a, saveopt::WholeAnimation, kTypeGif, nullptr);
  fileops::setFaultHook(nullptr);
  ASSERT_TRUE(saved);
  EXPECT_EQ(whileWritten & 077, 0u);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, static_cast<fs::perms>(0600));
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifPath(target, back), kReadComplete);
  EXPECT_EQ(firstFrame(*back)->delay, 77);
  std::string comment;
  ASSERT_TRUE(commentText(back->head->next, comment));
  EXPECT_EQ(comment, "Built with Flickbook 4.0");

  // Through a symbolic link, the file it points to is replaced.
  fs::create_symlink(target, dir.file("link.gif"));
  ASSERT_TRUE(saveByType(dir.file("link.gif"), *a, saveopt::WholeAnimation, kTypeGif, nullptr));
  EXPECT_TRUE(fs::is_symlink(dir.file("link.gif")));
}

TEST(SaveByType, ATargetThatCannotBeOpenedForWritingIsLeftAlone) {
  // Read-only (or another's): replacing it needs only the folder, but the
  // user may not write it, so the save is refused as for a locked file.
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  auto a = docFromBytes(gifBytes());
  std::string target = dir.file("locked.gif");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  fbtest::writeBytes(target, old);
  ::chmod(target.c_str(), 0444);
  EXPECT_TRUE(unprivileged([&] {
    RecordingReporter rec;
    ScopedReporter scope(rec);
    return !saveByType(target, *a, saveopt::WholeAnimation, kTypeGif, nullptr) &&
           rec.texts() == std::vector<std::string>{"无法写入到 " + target + "."};
  }));
  EXPECT_EQ(fbtest::readBytes(target), old);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"locked.gif"}) << "nothing left behind";
}

TEST(SaveByType, AFolderIsNeverATarget) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  RecordingReporter rec;
  ScopedReporter scope(rec);
  fs::create_directory(dir.file("taken.gif"));
  EXPECT_FALSE(saveByType(dir.file("taken.gif"), *a, 1, kTypeGif, nullptr));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"无法写入到 " + dir.file("taken.gif") + "."});
  EXPECT_TRUE(fs::is_directory(dir.file("taken.gif")));
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken.gif"});
}

TEST(SaveByType, AReadOnlyFolderRefusesTheTemporaryFile) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  std::string locked = dir.file("locked");
  fs::create_directory(locked);
  fbtest::writeBytes(locked + "/old.gif", {1, 2, 3});
  ::chmod((locked + "/old.gif").c_str(), 0666);  // the file may be written, its folder not
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(locked.c_str(), 0555);
  bool ok = unprivileged([&] {
    RecordingReporter rec;
    ScopedReporter scope(rec);
    bool saved = saveByType(locked + "/old.gif", *a, 1, kTypeGif, nullptr);
    auto texts = rec.texts();
    return !saved && texts.size() == 1 && texts[0].find("无法保存到 '" + locked + "/.gif-") == 0 &&
           texts[0].find("(临时文件)。") != std::string::npos;
  });
  ::chmod(locked.c_str(), 0755);
  EXPECT_TRUE(ok);
  EXPECT_EQ(fbtest::readBytes(locked + "/old.gif"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(entries(locked), std::vector<std::string>{"old.gif"});
}

TEST(SaveByType, EveryFailurePointLeavesTheTargetWhole) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  std::string target = dir.file("keep.gif");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  using fileops::Op;
  struct Case {
    Op op;
    const char* message;  // the first message shown
  } cases[] = {{Op::Create, "无法保存到 '"},
               {Op::Write, "无法写入到 "},
               {Op::Flush, "无法写入到 "},
               {Op::Close, "无法写入到 "},
               {Op::Rename, "无法写入到 "}};
  for (auto c : cases) {
    fbtest::writeBytes(target, old);
    RecordingReporter rec;
    ScopedReporter scope(rec);
    fileops::setFaultHook([&](Op op, const std::string&) { return op == c.op; });
    EXPECT_FALSE(saveByType(target, *a, 1, kTypeGif, nullptr)) << int(c.op);
    fileops::setFaultHook(nullptr);
    EXPECT_EQ(fbtest::readBytes(target), old) << int(c.op);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"keep.gif"}) << int(c.op);
    ASSERT_FALSE(rec.texts().empty()) << int(c.op);
    EXPECT_EQ(rec.texts()[0].find(c.message), 0u) << rec.texts()[0];
  }
}

TEST(SaveByType, AFailureIsToldOnce) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  RecordingReporter rec;
  ScopedReporter scope(rec);
  // The writer's own file cannot be made: its message is the only one.
  fileops::setFaultHook([](fileops::Op op, const std::string& p) {
    return op == fileops::Op::Create && p.find("XXXXXX") == std::string::npos;
  });
  EXPECT_FALSE(saveByType(dir.file("x.gif"), *a, 1, kTypeGif, nullptr));
  fileops::setFaultHook(nullptr);
  ASSERT_EQ(rec.texts().size(), 1u);
  EXPECT_EQ(rec.texts()[0].find("无法保存到 '"), 0u);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
}

TEST(SaveByType, TrueColourFramesGetAPaletteBeforeAGifIsWritten) {
  TempDir dir;
  auto a = createAnimation();
  a->width = 2;
  a->height = 1;
  Frame* f = newBlankFrame(2, 1).release();
  f->rgb = {250, 10, 10, 10, 250, 10, 0, 0};
  appendBlock(*a, std::unique_ptr<Block>(f));
  ASSERT_TRUE(saveByType(dir.file("rgb.gif"), *a, 1, kTypeGif, nullptr));
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifPath(dir.file("rgb.gif"), back), kReadComplete);
  Frame* g = firstFrame(*back);
  ASSERT_TRUE(g && g->palette());
  EXPECT_EQ((*g->palette())[g->dib->row(0)[0]], (Rgb{250, 10, 10}));
  EXPECT_EQ((*g->palette())[g->dib->row(0)[1]], (Rgb{10, 250, 10}));
}

TEST(SaveDocument, TrueColourFramesClippedToTheScreenKeepTheirColours) {
  TempDir dir;
  OpenDocument doc;
  doc.animation = createAnimation();
  doc.animation->width = 2;
  doc.animation->height = 1;
  auto f = newBlankFrame(3, 1);
  f->left = -1;
  f->rgb = {1, 1, 1, 250, 10, 10, 10, 250, 10, 0, 0, 0};
  appendFrame(*doc.animation, std::move(f));
  doc.path = dir.file("clipped.gif");
  ASSERT_TRUE(saveDocument(doc, nullptr, nullptr));
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifPath(doc.path, back), kReadComplete);
  Frame* g = firstFrame(*back);
  ASSERT_TRUE(g && g->palette());
  EXPECT_EQ((*g->palette())[g->dib->row(0)[0]], (Rgb{250, 10, 10})) << "not index 0";
  EXPECT_EQ((*g->palette())[g->dib->row(0)[1]], (Rgb{10, 250, 10}));
}

TEST(SaveByType, ABackupThatCannotBeMadeOrPutBackIsNeverLost) {
  TempDir dir;
  auto a = docFromBytes(gifBytes());
  std::string target = dir.file("keep.gif");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  using fileops::Op;

  // No second name and no way to move the target aside: nothing happens.
  fbtest::writeBytes(target, old);
  {
    RecordingReporter rec;
    ScopedReporter scope(rec);
    fileops::setFaultHook([&](Op op, const std::string& p) {
      return op == Op::Link || (op == Op::Rename && p.find("/fbk") != std::string::npos);
    });
    EXPECT_FALSE(saveByType(target, *a, 1, kTypeGif, nullptr));
    fileops::setFaultHook(nullptr);
    EXPECT_EQ(rec.texts(), std::vector<std::string>{"无法写入到 " + target + "."});
    EXPECT_EQ(fbtest::readBytes(target), old);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"keep.gif"});
  }

  // Moved aside, the new file cannot be put in place, and the old one cannot
  // be put back either: it stays under its backup name, and the user is told where.
  {
    RecordingReporter rec;
    ScopedReporter scope(rec);
    fileops::setFaultHook([&](Op op, const std::string& p) {
      return op == Op::Link || (op == Op::Rename && p == target);
    });
    EXPECT_FALSE(saveByType(target, *a, 1, kTypeGif, nullptr));
    fileops::setFaultHook(nullptr);
    auto texts = rec.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "无法写入到 " + target + ".");
    EXPECT_EQ(texts[1],
              "Can't overwrite " + target + " and unable to recover that file after failure.");
    auto names = entries(dir.path());
    ASSERT_EQ(names.size(), 1u) << "the temporary file is gone, the backup kept";
    EXPECT_EQ(names[0].rfind("fbk", 0), 0u);
    EXPECT_EQ(texts[2], "The original file is kept as " + dir.file(names[0]) + ".");
    EXPECT_EQ(fbtest::readBytes(dir.file(names[0])), old);
    fs::rename(dir.file(names[0]), target);
  }

  // Saved, but the backup will not go away: the user is asked to delete it.
  {
    RecordingReporter rec;
    ScopedReporter scope(rec);
    fileops::setFaultHook([&](Op op, const std::string& p) {
      return op == Op::Remove && p.find("/fbk") != std::string::npos;
    });
    EXPECT_TRUE(saveByType(target, *a, 1, kTypeGif, nullptr));
    fileops::setFaultHook(nullptr);
    auto names = entries(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(rec.texts(),
              std::vector<std::string>{"Unable to delete temporary file " + dir.file(names[0]) +
                                       ". Please delete it manually."});
    EXPECT_EQ(fbtest::readBytes(dir.file(names[0])), old);
  }
}

TEST(SaveByType, ACancelledWriteLeavesTheTargetAndSaysNothing) {
  TempDir dir;
  fbtest::GifBuilder b;
  b.header().screen(1, 1, 0x80).colours(2);
  for (int i = 0; i < 10; ++i) b.descriptor(0, 0, 1, 1).image(2, {1});
  auto a = docFromBytes(b.trailer().bytes);
  std::string target = dir.file("t.gif");
  fbtest::writeBytes(target, {9});
  RecordingReporter rec;
  ScopedReporter scope(rec);
  RecordingProgress p;
  p.cancelAfter(3);
  EXPECT_FALSE(saveByType(target, *a, 1, kTypeGif, &p));
  EXPECT_TRUE(rec.entries().empty());
  EXPECT_EQ(fbtest::readBytes(target), std::vector<uint8_t>{9});
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"t.gif"});
}

TEST(SaveByType, SingleFramesAndNumberedFiles) {
  TempDir dir;
  auto a = docFromBytes(gifBytes(3));
  ASSERT_TRUE(saveByType(dir.file("first.gif"), *a, 0, kTypeGif, nullptr));
  std::unique_ptr<Animation> one;
  ASSERT_EQ(fbtest::readGifPath(dir.file("first.gif"), one), kReadComplete);
  EXPECT_EQ(one->frameCount(), 1);
  ASSERT_TRUE(saveByType(dir.file("n.gif"), *a, saveopt::Numbered, kTypeGif, nullptr));
  EXPECT_EQ(entries(dir.path()),
            (std::vector<std::string>{"first.gif", "n-001.gif", "n-002.gif", "n-003.gif"}));

  RecordingReporter rec;
  ScopedReporter scope(rec);
  // Formats of whole documents have no one-picture form.
  EXPECT_FALSE(saveByType(dir.file("x.psd"), *a, saveopt::Numbered, kTypePsd, nullptr));
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"无法保存这个类型的文件。"});
}

TEST(SaveDocument, ClipsFramesBeyondTheScreen) {
  TempDir dir;
  OpenDocument doc;
  doc.animation = docFromBytes(gifBytes(2));
  Frame* f = firstFrame(*doc.animation);
  f->left = -1;
  frameAt(*doc.animation, 1)->left = 10;  // wholly outside
  doc.path = dir.file("c.gif");
  doc.modified = true;

  // With a window the user is asked; "no" keeps everything as it was.
  RecordingReporter rec;
  ScopedReporter scope(rec);
  rec.setHasWindow(true);
  rec.queueAnswer(Answer::No);
  EXPECT_FALSE(saveDocument(doc, nullptr, nullptr));
  EXPECT_EQ(rec.entries()[0].caption, "动画需要剪切");
  EXPECT_EQ(f->left, -1);
  EXPECT_FALSE(fs::exists(doc.path));

  // Without a window there is no question.
  rec.setHasWindow(false);
  rec.clear();
  EXPECT_TRUE(saveDocument(doc, nullptr, nullptr));
  EXPECT_TRUE(rec.entries().empty());
  EXPECT_FALSE(doc.modified);
  EXPECT_EQ(f->left, 0);
  EXPECT_EQ(f->width, 3);
  Frame* gone = frameAt(*doc.animation, 1);
  EXPECT_EQ(gone->width, 1);
  EXPECT_TRUE(gone->transparent()) << "a frame wholly outside keeps its time, invisibly";
  std::unique_ptr<Animation> back;
  ASSERT_EQ(fbtest::readGifPath(doc.path, back), kReadComplete);
  EXPECT_EQ(back->frameCount(), 2);
}

TEST(SaveDocument, SaveAsChoosesAndRemembers) {
  TempDir dir;
  OpenDocument doc;
  doc.animation = docFromBytes(gifBytes(2));
  EXPECT_FALSE(saveDocument(doc, nullptr, nullptr)) << "untitled without a dialog: nothing chosen";

  FakeDialog dialog;
  settings().setString("SaveDir", dir.path());
  dialog.answer = dir.file("named.gif");
  EXPECT_TRUE(saveDocument(doc, nullptr, &dialog));
  EXPECT_EQ(dialog.seenFolder, dir.path());
  EXPECT_EQ(dialog.seenName, "无标题.gif");
  EXPECT_EQ(doc.path, dir.file("named.gif"));

  // Save As with the type left to the user: the choice is remembered.
  dialog.answer = dir.file("single.gif");
  dialog.type = kTypeGif;
  dialog.options = 0;  // frames one by one: the document stays where it was
  EXPECT_TRUE(saveAs(doc, -1, nullptr, &dialog));
  EXPECT_EQ(dialog.seenName, "named.gif");
  EXPECT_EQ(doc.path, dir.file("named.gif"));
  EXPECT_EQ(prefGet(pref::SaveType) & 0xFF, static_cast<uint32_t>(kTypeGif));
  EXPECT_EQ(prefGet(pref::SaveType) >> 16, 0u);
  EXPECT_EQ(settings().getString("SaveDir").value_or(""), dir.path());
}
