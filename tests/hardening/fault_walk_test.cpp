// Every file operation of a save, made to fail in turn: the target is always
// either what it was or entirely the new file, never a part of one; a failure
// always says so; nothing is left behind but what the message names.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "testutil.h"

using namespace fb;
namespace fs = std::filesystem;

namespace {

// Counts the file operations; fails the one numbered `failAt` (0-based).
struct FaultCounter {
  int seen = 0;
  int failAt = -1;
  void install() {
    fileops::setFaultHook([this](fileops::Op, const std::string&) { return seen++ == failAt; });
  }
  ~FaultCounter() { fileops::setFaultHook(nullptr); }
};

std::unique_ptr<Animation> document() {
  fbtest::GifBuilder b;
  b.header().screen(6, 4, 0x81).colours(4).loop(0);
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> px(24, static_cast<uint8_t>(i));
    px[5] = 3;
    b.gce(0x04, 10 + i, 0).descriptor(0, 0, 6, 4).image(2, px);
  }
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(b.trailer().bytes, a);
  return a;
}

std::vector<std::string> names(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Saves `type` to `path` with every operation failing in turn; `targets` are
// the files the save writes.
void walk(int type, uint32_t options, const std::string& path,
          const std::vector<std::string>& targets, const SaveOptions& settings = {}) {
  fbtest::TempDir ref;
  auto a = document();
  {
    RecordingReporter quiet;
    ScopedReporter scope(quiet);
    ASSERT_TRUE(saveByType(ref.file(path), *a, options, type, nullptr, settings));
  }
  std::vector<std::vector<uint8_t>> fresh;
  for (const auto& t : targets) fresh.push_back(fbtest::readBytes(ref.file(t)));

  FaultCounter count;
  count.install();
  {
    fbtest::TempDir dir;
    RecordingReporter quiet;
    ScopedReporter scope(quiet);
    saveByType(dir.file(path), *a, options, type, nullptr, settings);
  }
  const int operations = count.seen;
  ASSERT_GT(operations, 3);

  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  for (int k = 0; k < operations; ++k) {
    fbtest::TempDir dir;
    for (const auto& t : targets) fbtest::writeBytes(dir.file(t), old);
    RecordingReporter rec;
    bool saved;
    {
      ScopedReporter scope(rec);
      FaultCounter fault;
      fault.failAt = k;
      fault.install();
      saved = saveByType(dir.file(path), *a, options, type, nullptr, settings);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
      auto now = fbtest::readBytes(dir.file(targets[i]));
      EXPECT_TRUE(now == old || now == fresh[i]) << "operation " << k << ": " << targets[i];
      if (saved) {
        EXPECT_EQ(now, fresh[i]) << "operation " << k;
      }
    }
    if (!saved) {
      EXPECT_FALSE(rec.entries().empty()) << "operation " << k << " failed silently";
    }
    // Only the targets remain, and a backup only when a message names it.
    for (const auto& n : names(dir.path())) {
      if (std::find(targets.begin(), targets.end(), n) != targets.end()) continue;
      bool named = false;
      for (const auto& t : rec.texts()) named |= t.find(n) != std::string::npos;
      EXPECT_TRUE(named) << "operation " << k << " left " << n;
    }
  }
}

}  // namespace

TEST(FaultWalk, GifSave) {
  walk(kTypeGif, 1, "anim.gif", {"anim.gif"});
}

TEST(FaultWalk, GifNumberedFrames) {
  walk(kTypeGif, 0x20, "frame.gif", {"frame-001.gif", "frame-002.gif", "frame-003.gif"});
}

TEST(FaultWalk, AnimatedPngSave) {
  walk(kTypePng, 0, "anim.png", {"anim.png"});
}

// AVI: the uncompressed video first, then its recompression (RLE8, the
// stored default) into the file that replaces the target.
TEST(FaultWalk, AviSave) {
  walk(kTypeAvi, 1, "anim.avi", {"anim.avi"});
}

TEST(FaultWalk, AviSaveUncompressed) {
  SaveOptions uncompressed;
  uncompressed.avi.uncompressed = true;
  walk(kTypeAvi, 1, "anim.avi", {"anim.avi"}, uncompressed);
}

TEST(FaultWalk, SettingsFile) {
  fbtest::TempDir dir;
  std::string path = dir.file("settings");
  {
    SettingsStore s(path);
    ASSERT_TRUE(s.setString("Sig", "old"));
  }
  const std::vector<uint8_t> before = fbtest::readBytes(path);
  FaultCounter count;
  count.install();
  {
    SettingsStore s(path);
    s.setString("Sig", "new");
  }
  const int operations = count.seen;
  const std::vector<uint8_t> after = fbtest::readBytes(path);
  fileops::setFaultHook(nullptr);
  ASSERT_GT(operations, 2);
  for (int k = 0; k < operations; ++k) {
    fbtest::writeBytes(path, before);
    SettingsStore s(path);
    FaultCounter fault;
    fault.failAt = k;
    fault.install();
    bool ok = s.setString("Sig", "new");
    fileops::setFaultHook(nullptr);
    auto now = fbtest::readBytes(path);
    EXPECT_TRUE(now == before || now == after) << "operation " << k;
    EXPECT_EQ(ok, now == after) << "operation " << k;
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"settings"}) << "operation " << k;
  }
}
