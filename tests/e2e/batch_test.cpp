// The flickbook command run as a user runs it: a separate process, real files
// in a temporary folder, a settings folder of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/settings_file.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "testutil.h"

extern char** environ;

using namespace fb;
using fbtest::TempDir;
namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The exit status; a run that has not ended after two minutes (waiting on
// something that never comes) is killed and gives -1.
int waitOrKill(pid_t pid) {
  for (int waited = 0;; ++waited) {
    int st = 0;
    pid_t done = waitpid(pid, &st, WNOHANG);
    if (done == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (done < 0) return -1;
    if (waited == 12000) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      return -1;
    }
    usleep(10000);
  }
}

// Starts `program` (flickbook unless said) with `args` (no shell: patterns
// reach it as typed) and exactly `env` as its environment; -1 when it cannot
// be started.
pid_t spawnProgram(const std::vector<std::string>& args, std::vector<std::string> env,
                   const posix_spawn_file_actions_t* actions, const char* program = FB_FLICKBOOK) {
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings = {program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program, actions, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

// Runs flickbook with `args` (no shell: patterns reach it as typed), with
// XDG_CONFIG_HOME set to `config` and `extraEnv` added to the environment.
Result flickbook(const std::vector<std::string>& args, const std::string& config,
                 const std::string& cwd = "", const std::vector<std::string>& extraEnv = {},
                 const char* program = FB_FLICKBOOK) {
  TempDir io;
  std::string outPath = io.file("out"), errPath = io.file("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // `extraEnv` replaces what the environment says of the same names.
  auto named = [&](const char* entry) {
    std::string name = std::string(entry).substr(0, std::string(entry).find('=') + 1);
    if (name == "XDG_CONFIG_HOME=") return true;
    for (const std::string& x : extraEnv)
      if (x.compare(0, name.size(), name) == 0) return true;
    return false;
  };
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e)
    if (!named(*e)) envStrings.emplace_back(*e);
  envStrings.push_back("XDG_CONFIG_HOME=" + config);
  envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
  Result r;
  pid_t pid = spawnProgram(args, std::move(envStrings), &actions, program);
  if (pid > 0) r.status = waitOrKill(pid);
  posix_spawn_file_actions_destroy(&actions);
  r.out = slurp(outPath);
  r.err = slurp(errPath);
  return r;
}

// A small GIF: `frames` frames of w × h, every pixel `colour`, delay 5.
void makeGif(const std::string& path, int w, int h, int frames, int colour) {
  fbtest::GifBuilder b;
  b.header().screen(w, h, 0x81).colours(4).loop(0);
  for (int i = 0; i < frames; ++i) {
    b.gce(0x04, 5, 0).descriptor(0, 0, w, h);
    std::vector<uint8_t> px(static_cast<size_t>(w * h), static_cast<uint8_t>(colour));
    if (i % 2) px[0] = static_cast<uint8_t>((colour + 1) % 4);
    b.image(2, px);
  }
  fbtest::writeBytes(path, b.trailer().bytes);
}

std::unique_ptr<Animation> readBack(const std::string& path) {
  std::unique_ptr<Animation> a;
  EXPECT_EQ(fbtest::readGifPath(path, a), kReadComplete) << path;
  return a;
}

std::vector<int> widths(Animation& a) {
  std::vector<int> w;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) w.push_back(f->width);
  return w;
}

class Batch : public ::testing::Test {
 protected:
  TempDir dir;
  TempDir config;
  std::string in(const std::string& name) { return dir.file(name); }
};

}  // namespace

// An input the optimizer cannot shrink (one tiny frame, and a save adds the
// signature comment): -z leaves the document as it was and says so.
TEST_F(Batch, OptimizingWhatWouldGrowLeavesTheDocument) {
  fbtest::GifBuilder b;
  b.header().screen(4, 4, 0x80).colours(2).gce(0x04, 5, 0).descriptor(0, 0, 4, 4);
  b.image(2, {0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0});
  fbtest::writeBytes(in("tiny.gif"), b.trailer().bytes);
  Result plain = flickbook({"-i", in("tiny.gif"), "-o", in("plain.gif")}, config.path());
  ASSERT_EQ(plain.status, 0) << plain.err;
  Result r = flickbook({"-i", in("tiny.gif"), "-z", "-o", in("z.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << "not a failure: " << r.err;
  EXPECT_NE(r.err.find("优化动画: 优化结果 ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("动画保持不变"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(in("z.gif")), slurp(in("plain.gif")));
}

// The smallest encoding, lossy LZW and the high-quality colours on the batch
// command line: --optimize=best writes fewer bytes than -z, --lossy fewer
// still; --lossy and --quality take their values or stop the run.
TEST_F(Batch, BestLossyAndQualityOptions) {
  const std::string input = fbtest::dataPath("gif-real/screen-sprite-ffmpeg.gif");
  Result z = flickbook({"-i", input, "-z", "-o", in("z.gif")}, config.path());
  ASSERT_EQ(z.status, 0) << z.err;
  Result best = flickbook({"-i", input, "--optimize=best", "-o", in("best.gif")}, config.path());
  ASSERT_EQ(best.status, 0) << best.err;
  EXPECT_LT(fs::file_size(in("best.gif")), fs::file_size(in("z.gif")));
  ASSERT_TRUE(readBack(in("best.gif")));  // its pictures: the optimizer's own tests

  Result lossy = flickbook({"-i", input, "--lossy", "80", "--optimize=best", "-o", in("l.gif")},
                           config.path());
  ASSERT_EQ(lossy.status, 0) << lossy.err;
  EXPECT_LT(fs::file_size(in("l.gif")), fs::file_size(in("best.gif")));
  Result quality = flickbook({"-i", input, "--colors", "16", "--quality", "-o", in("q.gif")},
                             config.path());
  ASSERT_EQ(quality.status, 0) << quality.err;
  EXPECT_LE(readBack(in("q.gif"))->globalPalette->count, 16);
  for (const char* bad : {"-1", "1001", "x"}) {
    Result r = flickbook({"-i", input, "--lossy", bad, "-o", in("bad.gif")}, config.path());
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_FALSE(fs::exists(in("bad.gif"))) << bad;
  }
}

TEST_F(Batch, WildcardInputDelaysOptimizeOutput) {
  fs::create_directory(in("in"));
  makeGif(in("in/b.gif"), 20, 10, 3, 1);
  makeGif(in("in/A.gif"), 30, 10, 2, 2);
  makeGif(in("in/c.gif"), 10, 10, 4, 3);
  makeGif(in("in/skip.png"), 10, 10, 1, 3);

  Result plain = flickbook({"-i", in("in/*.gif"), "-t", "10", "-o", in("plain.gif")}, config.path());
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "") << "nothing extra on a stderr that is not a terminal";
  Result r = flickbook({"-i", in("in/*.gif"), "-t", "10", "-z", "-o", in("all.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;

  auto a = readBack(in("all.gif"));
  ASSERT_EQ(a->frameCount(), 9);
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) EXPECT_EQ(f->delay, 10);
  EXPECT_EQ(a->width, 30) << "the screen grows to the largest input";
  EXPECT_EQ(a->playCount, 0);
  // Sorted by name without case: A, b, c. Optimized: unchanged frames shrink.
  auto plainDoc = readBack(in("plain.gif"));
  EXPECT_EQ(widths(*plainDoc), (std::vector<int>{30, 30, 20, 20, 20, 10, 10, 10, 10}));
  EXPECT_LT(fs::file_size(in("all.gif")), fs::file_size(in("plain.gif")));
  EXPECT_LT(widths(*a)[1], 30);
}

TEST_F(Batch, FlagsAreCaseInsensitiveAndDashesInsidePathsStayThere) {
  fs::create_directory(in("my-dir"));
  makeGif(in("my-dir/first-part.gif"), 8, 8, 2, 1);
  Result r = flickbook({"-I", in("my-dir/first-part.gif"), "-T", "7", "-Z", "-O",
                     in("my-dir/out-put.gif")},
                    config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto a = readBack(in("my-dir/out-put.gif"));
  EXPECT_EQ(firstFrame(*a)->delay, 7);
  // Joined forms work too.
  r = flickbook({"-i", in("my-dir/first-part.gif"), "-t12", "-o=" + in("joined.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(firstFrame(*readBack(in("joined.gif")))->delay, 12);
}

TEST_F(Batch, ListFilesWithEveryLineEnding) {
  makeGif(in("one.gif"), 4, 4, 1, 1);
  makeGif(in("two.gif"), 6, 4, 1, 2);
  makeGif(in("three.gif"), 8, 4, 1, 3);
  std::string a = in("one.gif"), b = in("two.gif"), c = in("three.gif");
  struct Case {
    std::string text;
    std::vector<int> widths;
    int status;
  } cases[] = {
      {a + "\n" + b + "\n" + c + "\n", {4, 6, 8}, 0},
      {a + "\r" + b + "\r" + c, {4, 6, 8}, 0},
      {a + "\r\n" + b + "\r\n" + c + "\r\n", {4, 6, 8}, 0},
      {a + "\n\n" + b + "\n\n" + c, {4, 6, 8}, 0},  // LF LF ends one line
      {a + "\n" + b + std::string(1, '\0') + c + "\n", {4, 6}, 0},  // the list ends at NUL
      {a + "\r\n\r\n" + b + "\n", {4}, 1},  // an empty line is an empty path: reading stops
  };
  int n = 0;
  for (const auto& cs : cases) {
    std::string list = in("list" + std::to_string(n) + ".txt");
    fbtest::writeBytes(list, std::vector<uint8_t>(cs.text.begin(), cs.text.end()));
    std::string out = in("list-out" + std::to_string(n++) + ".gif");
    Result r = flickbook({"-l", list, "-o", out}, config.path());
    EXPECT_EQ(r.status, cs.status) << r.err;
    auto doc = readBack(out);
    EXPECT_EQ(widths(*doc), cs.widths) << n;
  }
  Result missing = flickbook({"-l", in("nope.txt"), "-o", in("x.gif")}, config.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Input file " + in("nope.txt") + " not found"), std::string::npos);
  EXPECT_NE(missing.err.find("Input operation unsuccessful."), std::string::npos);
  EXPECT_FALSE(fs::exists(in("x.gif"))) << "nothing after a failed input runs";
}

TEST_F(Batch, ACorruptSecondInputKeepsTheFirstFilesFrames) {
  makeGif(in("good.gif"), 5, 5, 2, 1);
  auto bytes = fbtest::readBytes(in("good.gif"));
  bytes.resize(bytes.size() - 12);
  fbtest::writeBytes(in("bad.gif"), bytes);
  makeGif(in("later.gif"), 5, 5, 3, 2);
  Result r = flickbook({"-i", in("good.gif"), in("bad.gif"), in("later.gif"), "-o", in("out.gif")},
                    config.path());
  EXPECT_EQ(r.status, 1) << "a failed step is not success";
  EXPECT_NE(r.err.find("Only part of the animation was read."), std::string::npos) << r.err;
  auto a = readBack(in("out.gif"));
  EXPECT_EQ(a->frameCount(), 2);
}

TEST_F(Batch, MistakesAreReportedAndStopTheRun) {
  makeGif(in("a.gif"), 4, 4, 1, 1);
  Result unknown = flickbook({"-i", in("a.gif"), "-x", "-o", in("out.gif")}, config.path());
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("Unrecognized flag: x"), std::string::npos) << unknown.err;
  EXPECT_FALSE(fs::exists(in("out.gif")));

  Result stray = flickbook({"-i", in("a.gif"), "-z", "extra", "-o", in("out.gif")}, config.path());
  EXPECT_EQ(stray.status, 1);
  EXPECT_NE(stray.err.find("input error: extra"), std::string::npos) << stray.err;
  EXPECT_FALSE(fs::exists(in("out.gif")));

  Result badNumber = flickbook({"-i", in("a.gif"), "-t", "ten"}, config.path());
  EXPECT_EQ(badNumber.status, 1);
  EXPECT_NE(badNumber.err.find("input error: ten"), std::string::npos);

  Result noMatch = flickbook({"-i", in("*.none"), "-o", in("out.gif")}, config.path());
  EXPECT_EQ(noMatch.status, 1);
  EXPECT_NE(noMatch.err.find("Input file " + in("*.none") + " not found"), std::string::npos);
  EXPECT_NE(noMatch.err.find("Input operation unsuccessful."), std::string::npos);

  Result nothing = flickbook({"-t", "5", "-z", "-o", in("out.gif")}, config.path());
  EXPECT_EQ(nothing.status, 1);
  EXPECT_NE(nothing.err.find("Nothing to optimize."), std::string::npos);
  EXPECT_NE(nothing.err.find("Nothing to output."), std::string::npos);
  EXPECT_EQ(nothing.err.find("-t"), std::string::npos) << "-t without a document does nothing";

  Result help = flickbook({"--help"}, config.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Examples:"), std::string::npos);
  // Fits a terminal of 80 columns.
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
  Result version = flickbook({"--version"}, config.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("flickbook ", 0), 0u);
}

TEST_F(Batch, AnOutputThatCannotBeWrittenLeavesNothingBehind) {
  makeGif(in("a.gif"), 4, 4, 2, 1);
  fs::create_directory(in("taken.gif"));
  Result folder = flickbook({"-i", in("a.gif"), "-o", in("taken.gif")}, config.path());
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("无法写入到 " + in("taken.gif") + "."), std::string::npos) << folder.err;
  EXPECT_TRUE(fs::is_directory(in("taken.gif")));

  Result missingDir = flickbook({"-i", in("a.gif"), "-o", in("no/such/dir/out.gif"), "-o",
                              in("second.gif")},
                             config.path());
  EXPECT_EQ(missingDir.status, 1);
  EXPECT_TRUE(fs::exists(in("second.gif"))) << "a failed save lets the batch go on";
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.gif", "second.gif", "taken.gif"}));
}

TEST_F(Batch, SettingsComeFromTheUsersSettingsFile) {
  makeGif(in("a.gif"), 16, 16, 3, 1);
  // Optimizer options 0 (nothing but clean-up), and three plays for new animations.
  std::vector<uint8_t> pref(76, 0);
  auto word = [&](int i, uint32_t v) {
    for (int b = 0; b < 4; ++b) pref[static_cast<size_t>(i * 4 + b)] = static_cast<uint8_t>(v >> (8 * b));
  };
  word(0, 10);
  word(1, 3);
  word(5, 0);
  word(6, 0x800008);  // and no signature comment
  word(10, 0x880001);
  word(12, 20);
  word(14, 100);
  word(16, 1);
  std::string settingsPath = config.path() + "/norvane/Flickbook/2.0/settings";
  fs::create_directories(fs::path(settingsPath).parent_path());
  std::string text = SettingsStore::serialize(
      {{"Pref", SettingValue::ofBinary(pref)}, {"NPref", SettingValue::ofDword(19)}});
  fbtest::writeBytes(settingsPath, std::vector<uint8_t>(text.begin(), text.end()));

  Result r = flickbook({"-i", in("a.gif"), "-z", "-o", in("out.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto a = readBack(in("out.gif"));
  EXPECT_EQ(frameAt(*a, 1)->width, 16) << "the stored options did not crop";
  EXPECT_EQ(a->playCount, 3);
  for (Block* b = a->head->next; b; b = b->next) EXPECT_NE(b->tag, kCommentTag);

  word(5, 0x46E);
  text = SettingsStore::serialize(
      {{"Pref", SettingValue::ofBinary(pref)}, {"NPref", SettingValue::ofDword(19)}});
  fbtest::writeBytes(settingsPath, std::vector<uint8_t>(text.begin(), text.end()));
  r = flickbook({"-i", in("a.gif"), "-z", "-o", in("out2.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(frameAt(*readBack(in("out2.gif")), 1)->width, 16);
  EXPECT_EQ(slurp(settingsPath), text) << "batch mode only reads the settings";
}

// FFmpeg is loaded only when AVI work needs it: GIF runs start quickly, and an
// AVI input still converts in a fresh process. The loader's own trace tells.
TEST_F(Batch, VideoLibrariesAreLoadedOnlyForAvi) {
  makeGif(in("a.gif"), 8, 8, 2, 1);
  Result gif = flickbook({"-i", in("a.gif"), "-z", "-o", in("out.gif")}, config.path(), "",
                         {"LD_DEBUG=files"});
  EXPECT_EQ(gif.status, 0) << gif.err;
  EXPECT_NE(gif.err.find("libpng"), std::string::npos) << "the trace is missing";
  EXPECT_EQ(gif.err.find("libavcodec"), std::string::npos);

  Result avi = flickbook({"-i", fbtest::dataPath("avi/test_cinepak.avi"), "-o", in("avi.gif")},
                         config.path(), "", {"LD_DEBUG=files"});
  EXPECT_EQ(avi.status, 0) << avi.err;
  EXPECT_NE(avi.err.find("libavcodec"), std::string::npos);
  auto a = readBack(in("avi.gif"));
  ASSERT_TRUE(a);
  EXPECT_GT(a->frameCount(), 1);
}

// Batch mode creates no window and needs no display: with the X11 platform
// asked for and no display to reach, any GUI object would abort the program.
TEST_F(Batch, NeedsNoDisplay) {
  makeGif(in("a.gif"), 8, 8, 3, 1);
  Result r = flickbook({"-i", in("a.gif"), "-t", "7", "-o", in("out.gif")}, config.path(), "",
                       {"QT_QPA_PLATFORM=xcb", "DISPLAY=", "WAYLAND_DISPLAY="});
  EXPECT_EQ(r.status, 0) << r.err;
  auto out = readBack(in("out.gif"));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->frame(0)->delay, 7);
}

// The editor on a sample file, offscreen, left by the exit command: the file
// is untouched, and the settings remember it and the window's place.
TEST_F(Batch, EditorOpensAFileAndExitsLeavingItAlone) {
  std::string sample = in("ball.gif");
  fs::copy_file(std::string(FB_SAMPLES) + "/bouncing-ball.gif", sample);
  std::string before = slurp(sample);
  auto stamp = fs::last_write_time(sample);
  Result r = flickbook({sample}, config.path(), "",
                       {"QT_QPA_PLATFORM=offscreen", "FLICKBOOK_COMMANDS=1003"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(sample), before);
  EXPECT_EQ(fs::last_write_time(sample), stamp);
  SettingsStore stored(config.path() + "/norvane/Flickbook/2.0/settings");
  EXPECT_EQ(stored.getString("File1").value_or(""), sample);
  auto placement = stored.getBinary("Placement");
  ASSERT_TRUE(placement);
  EXPECT_EQ(placement->size(), 44u);
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename(), "ball.gif") << "nothing else written beside it";
}

// Without a window no one can press "修复": the fixes are made on the way out,
// and stderr says so.
TEST_F(Batch, AnAviOutputThatNeedsFixingIsFixed) {
  Result r = flickbook({"-i", fbtest::dataPath("gif-real/life-ffmpeg.gif"), "-o", in("life.avi")},
                       config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "Fix for AVI: The video was saved from a fixed copy: one global palette, no "
            "transparency and whole frames. The animation itself is unchanged.\n");
  std::unique_ptr<Animation> gif, avi;
  ASSERT_EQ(fbtest::readGifPath(fbtest::dataPath("gif-real/life-ffmpeg.gif"), gif), kReadComplete);
  ASSERT_EQ(openFile(in("life.avi"), avi, nullptr), kReadComplete);
  EXPECT_EQ(avi->width, gif->width);
  EXPECT_GE(avi->frameCount(), 2);
}

// A failed step is a failed run, the optimizer's too; the steps after it still run.
TEST_F(Batch, AnOptimizationThatRunsOutOfResourcesFailsTheRun) {
  fbtest::GifBuilder b;
  b.header().screen(10000, 10000, 0x81).colours(4);
  b.descriptor(0, 0, 2, 2).image(2, {1, 1, 1, 1}).descriptor(0, 0, 2, 2).image(2, {1, 2, 1, 1});
  fbtest::writeBytes(in("huge-screen.gif"), b.trailer().bytes);
  Result r = flickbook({"-i", in("huge-screen.gif"), "-z", "-o", in("out.gif")}, config.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "错误: Not enough resources to fully optimize animation.\n");
  EXPECT_TRUE(fs::exists(in("out.gif")));
}

// A named pipe (or device) is no file to read: refused at once, as any input
// that cannot be opened, never waited on.
TEST_F(Batch, APipeIsRefusedNotWaitedOn) {
  makeGif(in("a.gif"), 4, 4, 2, 1);
  ASSERT_EQ(mkfifo(in("pipe.gif").c_str(), 0644), 0);
  Result alone = flickbook({"-i", in("pipe.gif"), "-o", in("x.gif")}, config.path());
  EXPECT_EQ(alone.status, 1);
  EXPECT_EQ(alone.err,
            "错误: 无法打开文件 '" + in("pipe.gif") + "'.\n错误: Input operation unsuccessful.\n");
  Result after = flickbook({"-i", in("a.gif"), in("pipe.gif"), "-o", in("y.gif")}, config.path());
  EXPECT_EQ(after.status, 1);
  EXPECT_EQ(readBack(in("y.gif"))->frameCount(), 2) << "what was read before still counts";
  Result list = flickbook({"-l", in("pipe.gif"), "-o", in("z.gif")}, config.path());
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.err, "错误: Error reading file list.\n错误: Input operation unsuccessful.\n");
  Result device = flickbook({"-i", "/dev/zero", "-o", in("z.gif")}, config.path());
  EXPECT_EQ(device.status, 1);
  EXPECT_FALSE(fs::exists(in("z.gif")));
}

// A named input that does not exist is not found, as a pattern that matches nothing.
TEST_F(Batch, AMissingInputIsNotFound) {
  Result r = flickbook({"-i", in("some/missing.gif"), "-o", in("x.gif")}, config.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "错误: Input file " + in("some/missing.gif") +
                       " not found\n错误: Input operation unsuccessful.\n");
}

// ".apng" is read as PNG, and written as one: animated for several frames.
TEST_F(Batch, AnApngOutputIsAnAnimatedPng) {
  makeGif(in("a.gif"), 6, 4, 3, 1);
  Result r = flickbook({"-i", in("a.gif"), "-o", in("out.apng")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto bytes = fbtest::readBytes(in("out.apng"));
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(in("out.apng"), back, nullptr), kReadComplete);
  EXPECT_EQ(back->frameCount(), 3);
}

// Among many inputs, a message says which one it is about.
TEST_F(Batch, AMessageAboutAnInputNamesIt) {
  fs::create_directory(in("in"));
  makeGif(in("in/a.gif"), 4, 4, 2, 1);
  auto bytes = fbtest::readBytes(in("in/a.gif"));
  bytes.resize(bytes.size() - 12);
  fbtest::writeBytes(in("in/b.gif"), bytes);
  Result r = flickbook({"-i", in("in/*.gif"), "-o", in("out.gif")}, config.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "错误: Error encountered when reading file. The GIF file appears to be corrupt. (" +
                in("in/b.gif") + ")\n错误: Only part of the animation was read. (" +
                in("in/b.gif") + ")\n");
  Result info = flickbook({"--quiet", in("in/b.gif")}, config.path(), "", {}, FB_FBINFO);
  EXPECT_EQ(info.err,
            "错误: Error encountered when reading file. The GIF file appears to be corrupt. (" +
                in("in/b.gif") + ")\n错误: Only part of the animation was read. (" +
                in("in/b.gif") + ")\n")
      << "fbinfo says which file too";
}

namespace {

// Runs flickbook with stderr on a terminal (a pseudo-terminal), returning
// what it printed there.
std::string stderrOnTerminal(const std::vector<std::string>& args, const std::string& config,
                             int& status) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  std::string slave = ptsname(master);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  std::string out;
  pid_t pid = spawnProgram(args, {"XDG_CONFIG_HOME=" + config, "TERM=xterm"}, &actions);
  if (pid > 0) {
    char buf[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 120000) <= 0) break;
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;  // the program ended and closed its side
      out.append(buf, static_cast<size_t>(n));
    }
    status = waitOrKill(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(master);
  return out;
}

}  // namespace

// On a terminal a progress bar shows while a file is read; a message starts
// on a line of its own, not after the bar.
TEST_F(Batch, AMessageDuringTheProgressBarStartsOnAFreshLine) {
  makeGif(in("a.gif"), 40, 40, 3, 1);
  auto bytes = fbtest::readBytes(in("a.gif"));
  bytes.resize(bytes.size() - 30);
  fbtest::writeBytes(in("cut.gif"), bytes);
  int status = -1;
  std::string err =
      stderrOnTerminal({"-i", in("cut.gif"), "-o", in("out.gif")}, config.path(), status);
  EXPECT_EQ(status, 1);
  size_t at = err.find("错误: Error encountered");
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_NE(err.find("正在读取GIF文件"), std::string::npos) << "the bar was drawn: " << err;
  ASSERT_GT(at, 0u);
  EXPECT_EQ(err[at - 1], '\n') << err;
}

namespace {

// A large GIF of noise (slow to save), written here rather than kept.
void makeNoiseGif(const std::string& path, int frames, int side) {
  auto a = createAnimation();
  a->width = a->height = side;
  std::vector<Rgb> pal(256);
  for (int i = 0; i < 256; ++i) pal[size_t(i)] = {uint8_t(i), uint8_t(i * 3), uint8_t(i * 7)};
  setGlobalPalette(*a, makePalette(pal.data(), 256));
  uint32_t x = 12345;
  for (int k = 0; k < frames; ++k) {
    auto f = newBlankFrame(side, side);
    auto dib = createBitmap(side, side, a->globalPalette.get());
    for (auto& p : dib->data) {
      x = x * 1664525u + 1013904223u;
      p = uint8_t(x >> 24);
    }
    setBitmap(*f, std::move(dib));
    appendFrame(*a, std::move(f));
  }
  ASSERT_TRUE(writeGifFile(path, *a, nullptr));
}

// Starts flickbook and sends `sig` as soon as a save's temporary file (a name
// beginning with `prefix`) appears in `dir`; the exit status, or -1.
int interruptSave(const std::vector<std::string>& args, const std::string& config,
                  const std::string& dir, const std::string& prefix, int sig,
                  const std::vector<std::string>& extraEnv = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  int result = -1;
  std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  pid_t pid = spawnProgram(args, std::move(env), &actions);
  if (pid > 0) {
    bool sent = false;
    for (int i = 0; i < 60000 && !sent; ++i) {
      for (auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0) sent = true;
      if (sent) {
        kill(pid, sig);
      } else {
        int st;
        if (waitpid(pid, &st, WNOHANG) == pid) return -2;  // ended before it was interrupted
        usleep(1000);
      }
    }
    int st = 0;
    waitpid(pid, &st, 0);
    result = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

}  // namespace

// Ctrl-C or a polite kill while a GIF or AVI is written: the temporary files
// go, the target stays as it was, and the status says which signal it was.
TEST_F(Batch, AnInterruptedSaveLeavesNothingBehind) {
  TempDir input;
  makeNoiseGif(input.file("noise.gif"), 12, 2000);
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  fbtest::writeBytes(in("out.gif"), old);
  fbtest::writeBytes(in("out.avi"), old);
  EXPECT_EQ(interruptSave({"-i", input.file("noise.gif"), "-o", in("out.gif")}, config.path(),
                          dir.path(), ".gif-", SIGTERM),
            128 + SIGTERM);
  EXPECT_EQ(interruptSave({"-i", input.file("noise.gif"), "-o", in("out.avi")}, config.path(),
                          dir.path(), ".avi-", SIGINT),
            128 + SIGINT);
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"out.avi", "out.gif"}));
  EXPECT_EQ(fbtest::readBytes(in("out.gif")), old);
  EXPECT_EQ(fbtest::readBytes(in("out.avi")), old);
}

// Interrupted while the output for standard output is written: the private
// folder in the temporary folder goes with what it holds.
TEST_F(Batch, AnInterruptedSaveToStandardOutputLeavesNothingBehind) {
  TempDir input, tmp;
  makeNoiseGif(input.file("noise.gif"), 12, 2000);
  EXPECT_EQ(interruptSave({"-i", input.file("noise.gif"), "-o", "-"}, config.path(), tmp.path(),
                          "flickbook-", SIGTERM, {"TMPDIR=" + tmp.path()}),
            128 + SIGTERM);
  std::vector<std::string> left;
  for (auto& e : fs::recursive_directory_iterator(tmp.path())) left.push_back(e.path());
  EXPECT_EQ(left, std::vector<std::string>{});
}

// ---- The long options for scripts ----

namespace {

// Copies a file of tests/data into `to`.
void copyData(const std::string& name, const std::string& to) {
  fs::copy_file(fbtest::dataPath(name), to, fs::copy_options::overwrite_existing);
}

// A copy of `from` without its last `cut` bytes: a file that reads only in part.
void truncatedCopy(const std::string& from, const std::string& to, size_t cut) {
  auto bytes = fbtest::readBytes(from);
  bytes.resize(bytes.size() - cut);
  fbtest::writeBytes(to, bytes);
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string settingsOf(const std::string& config) {
  return slurp(config + "/norvane/Flickbook/2.0/settings");
}

}  // namespace

TEST_F(Batch, InfoDescribesEachFileAndAPartialOneFailsTheRun) {
  copyData("gif-suite/animation.gif", in("anim.gif"));
  copyData("gif-suite/loop-once.gif", in("once.gif"));
  truncatedCopy(in("anim.gif"), in("cut.gif"), 12);
  Result r = flickbook({"--info", in("anim.gif"), in("once.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, in("anim.gif") + "\n  type: GIF\n  screen: 2 x 2\n  frames: 4\n"
                                          "  loop: loops for ever\n  running time: 2.00 s\n"
                                          "  global palette: 2 colours\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "  frames: 1\n  loop: plays 2 times\n")) << "loop count 1: " << r.out;
  EXPECT_TRUE(has(r.out, "bytes on disk")) << r.out;
  EXPECT_FALSE(has(r.out, "frame 1:")) << "frames only with --verbose";

  Result verbose = flickbook({"--info", "--verbose", in("cut.gif"), in("anim.gif")}, config.path());
  EXPECT_EQ(verbose.status, 1) << "a file that reads only in part fails the run";
  EXPECT_TRUE(has(verbose.err, "Only part of the animation was read. (" + in("cut.gif") + ")"))
      << verbose.err;
  size_t cut = verbose.out.find(in("cut.gif")), whole = verbose.out.find(in("anim.gif"));
  ASSERT_NE(cut, std::string::npos) << "what was read is described: " << verbose.out;
  ASSERT_NE(whole, std::string::npos) << "and the next file still is";
  EXPECT_TRUE(has(verbose.out.substr(whole), "  frame 4: at 0,0, 2 x 2, delay 0.50 s, "))
      << verbose.out;

  Result missing = flickbook({"--info", in("nope.gif")}, config.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
}

// One corrupt file among good ones: the others are written, the corrupt one
// is named on every line it causes, and the run fails.
TEST_F(Batch, EachWritesEveryGoodFileAndNamesTheBadOne) {
  fs::create_directory(in("in"));
  copyData("gif-suite/animation.gif", in("in/anim.gif"));
  copyData("gif-suite/animation-multi-image.gif", in("in/multi.gif"));
  makeGif(in("in/flat.gif"), 30, 20, 4, 1);  // repeated frames: optimizing pays
  truncatedCopy(in("in/flat.gif"), in("in/bad.gif"), 30);
  const std::string settingsBefore = settingsOf(config.path());
  Result r = flickbook({"--each", "--optimize", "--verbose", "-j", "3", "-i", in("in/*.gif"),
                        "-o", in("out")},
                       config.path());
  EXPECT_EQ(r.status, 1) << r.err;
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(in("out"))) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"anim.gif", "flat.gif", "multi.gif"}));
  std::istringstream lines(r.err);
  int badLines = 0;
  for (std::string line; std::getline(lines, line);) {
    bool bad = line.rfind(in("in/bad.gif") + ": 错误: ", 0) == 0;
    badLines += bad;
    EXPECT_TRUE(bad || line == in("in/anim.gif") + ": kept as it was: optimizing did not make "
                                                   "it smaller" ||
                line.rfind(in("in/multi.gif") + ": kept", 0) == 0)
        << "a whole line led by its file: " << line;
  }
  EXPECT_GE(badLines, 1);
  // Optimizing alone never makes a file larger; where it pays, it is smaller.
  EXPECT_EQ(fbtest::readBytes(in("out/anim.gif")), fbtest::readBytes(in("in/anim.gif")));
  EXPECT_LE(fs::file_size(in("out/multi.gif")), fs::file_size(in("in/multi.gif")));
  EXPECT_LT(fs::file_size(in("out/flat.gif")), fs::file_size(in("in/flat.gif")));
  EXPECT_EQ(readBack(in("out/flat.gif"))->frameCount(), 4);
  EXPECT_EQ(settingsOf(config.path()), settingsBefore) << "per-run settings are not saved";

  // Another type, another extension; the loop count and colours for this run.
  Result png = flickbook({"--each", "-i", in("in/flat.gif"), "--format", "png", "--colors", "2",
                          "-o", in("png")},
                         config.path());
  ASSERT_EQ(png.status, 0) << png.err;
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(in("png/flat.png"), back, nullptr), kReadComplete);
  EXPECT_EQ(back->frameCount(), 4);
}

TEST_F(Batch, InPlaceReplacesWhatShrinksAndKeepsWhatCannot) {
  copyData("gif-suite/animation.gif", in("small.gif"));
  makeGif(in("flat.gif"), 30, 20, 4, 1);
  fs::permissions(in("flat.gif"), fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read);
  const auto smallBefore = fbtest::readBytes(in("small.gif"));
  const auto flatBefore = fs::file_size(in("flat.gif"));
  Result r = flickbook({"--each", "--in-place", "--optimize", "--verbose", "-i", in("small.gif"),
                        in("flat.gif")},
                       config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, in("small.gif") + ": kept as it was: optimizing did not make it smaller\n");
  EXPECT_EQ(fbtest::readBytes(in("small.gif")), smallBefore);
  EXPECT_LT(fs::file_size(in("flat.gif")), flatBefore);
  EXPECT_EQ(readBack(in("flat.gif"))->frameCount(), 4);
  EXPECT_EQ(fs::status(in("flat.gif")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"flat.gif", "small.gif"})) << "nothing left behind";
}

// In place through a link: the file it points to is replaced and the link
// stays a link; nothing is left in either folder.
TEST_F(Batch, InPlaceThroughALinkReplacesTheFileAndKeepsTheLink) {
  fs::create_directory(in("real"));
  makeGif(in("real/flat.gif"), 30, 20, 4, 1);
  const auto before = fs::file_size(in("real/flat.gif"));
  fs::create_symlink("real/flat.gif", in("link.gif"));
  Result r = flickbook({"--each", "--in-place", "--optimize", "-i", in("link.gif")}, config.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(in("link.gif"))) << "the link is not replaced by a file";
  EXPECT_LT(fs::file_size(in("real/flat.gif")), before) << "what it points to is optimized";
  EXPECT_EQ(readBack(in("real/flat.gif"))->frameCount(), 4);
  std::vector<std::string> names;
  for (auto& e : fs::recursive_directory_iterator(dir.path()))
    names.push_back(e.path().lexically_relative(dir.path()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.gif", "real", "real/flat.gif"}));
}

// The loop count as other GIF tools read it, and standard input and output
// through real pipes.
TEST_F(Batch, LoopCountAndPipes) {
  makeGif(in("a.gif"), 8, 6, 3, 1);
  struct Case {
    std::string loop, gifsicleSays;
  } cases[] = {{"0", "loop forever"}, {"3", "loop count 3"}};
  for (const Case& c : cases) {
    Result r = flickbook({"-i", in("a.gif"), "--loop", c.loop, "-o", in("loop.gif")},
                         config.path());
    ASSERT_EQ(r.status, 0) << r.err;
    Result info = flickbook({"--info", in("loop.gif")}, config.path(), "", {}, "/usr/bin/gifsicle");
    EXPECT_TRUE(has(info.out, c.gifsicleSays)) << info.out;
  }

  const std::string pipeline = "cat '" + in("a.gif") + "' | '" FB_FLICKBOOK
                               "' -i - --loop 2 --no-signature -o - | cat > '" + in("piped.gif") +
                               "'";
  Result piped = flickbook({"-c", pipeline}, config.path(), "", {}, "/bin/sh");
  ASSERT_EQ(piped.status, 0) << piped.err;
  auto a = readBack(in("piped.gif"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frameCount(), 3);
  EXPECT_EQ(a->playCount, 3);
  for (Block* b = a->head->next; b; b = b->next) EXPECT_NE(b->tag, kCommentTag);

  // Another type on stdout; an animation with local palettes becomes an
  // animated PNG only as true colour.
  const std::string local = fbtest::dataPath("gif-real/testsrc-localpal-ffmpeg.gif");
  Result refused = flickbook({"-i", local, "-o", in("x.png")}, config.path());
  EXPECT_EQ(refused.status, 1);
  const std::string toPng = "'" FB_FLICKBOOK "' -i '" + local +
                            "' --truecolour-png --format png -o - > '" + in("local.png") + "'";
  Result png = flickbook({"-c", toPng}, config.path(), "", {}, "/bin/sh");
  ASSERT_EQ(png.status, 0) << png.err;
  std::unique_ptr<Animation> back;
  ASSERT_EQ(openFile(in("local.png"), back, nullptr), kReadComplete);
  EXPECT_GT(back->frameCount(), 1);
}

TEST_F(Batch, LongOptionMistakesStopTheRunBeforeAnythingIsWritten) {
  makeGif(in("a.gif"), 4, 4, 2, 1);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-i", in("a.gif"), "--bogus", "-o", in("out.gif")}, "Unrecognized flag: --bogus"},
      {{"-i", in("a.gif"), "--colors", "1", "-o", in("out.gif")}, "input error: 1"},
      {{"-i", in("a.gif"), "--loop", "65536", "-o", in("out.gif")}, "input error: 65536"},
      {{"-i", in("a.gif"), "--optimize", "7", "-o", in("out.gif")}, "input error: 7"},
      {{"-i", in("a.gif"), "--format", "tiff", "-o", in("out.gif")}, "input error: tiff"},
      {{"-i", in("a.gif"), "--in-place"}, "--in-place works only with --each"},
      {{"-i", in("a.gif"), "-j", "2", "-o", in("out.gif")}, "-j works only with --each"},
      {{"--each", "-i", in("a.gif")}, "--each needs -o FOLDER or --in-place"},
      {{"--each", "--in-place", "--format", "png", "-i", in("a.gif")},
       "--format cannot be used with --in-place"},
      {{"--info", in("a.gif"), "-o", in("out.gif")}, "-o cannot be used with --info"},
  };
  for (const Case& c : cases) {
    Result r = flickbook(c.args, config.path());
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, "错误: " + c.message + "\n");
    EXPECT_FALSE(fs::exists(in("out.gif"))) << c.message;
  }
  Result help = flickbook({"--help"}, config.path());
  for (const char* option : {"--info", "--each", "--in-place", "--format", "--optimize[=WORD]",
                             "--colors", "--dither", "--loop", "--delay", "--truecolour-png",
                             "--no-signature", "-j N"})
    EXPECT_TRUE(has(help.out, option)) << option;
}

TEST_F(Batch, FbinfoTakesSeveralFilesAndChecksItsOptions) {
  copyData("gif-suite/animation.gif", in("a.gif"));
  copyData("gif-suite/loop-once.gif", in("b.gif"));
  Result two = flickbook({in("a.gif"), in("b.gif")}, config.path(), "", {}, FB_FBINFO);
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.out.rfind("[\n{", 0), 0u) << two.out;
  EXPECT_TRUE(has(two.out, "}\n,\n{")) << two.out;
  EXPECT_EQ(two.out.substr(two.out.size() - 2), "]\n");
  Result help = flickbook({"--help"}, config.path(), "", {}, FB_FBINFO);
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(has(help.out, "usage: fbinfo"));
  for (const char* bad : {"1", "257", "many"}) {
    Result r = flickbook({"--reduce", bad, in("a.gif")}, config.path(), "", {}, FB_FBINFO);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.out, "") << bad;
  }
}
