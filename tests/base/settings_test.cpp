#include "base/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "testutil.h"

using namespace fb;
using fbtest::TempDir;

namespace {

std::string slurp(const std::string& path) {
  std::string s;
  fileops::readWholeFile(path, s);
  return s;
}

}  // namespace

TEST(SettingsFile, EveryTypeSurvivesTheTextForm) {
  std::vector<std::pair<std::string, SettingValue>> in = {
      {"Pref", SettingValue::ofBinary({0, 1, 0x7f, 0x80, 0xff})},
      {"NPref", SettingValue::ofDword(0xDEADBEEF)},
      {"Sig", SettingValue::ofString("Built with\\ \"x\"\n\r\t\x01 帧 end")},
      {"Empty", SettingValue::ofBinary({})},
  };
  std::vector<std::pair<std::string, SettingValue>> out;
  ASSERT_TRUE(SettingsStore::parse(SettingsStore::serialize(in), out));
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out[0].second.binary, in[0].second.binary);
  EXPECT_EQ(out[1].second.dword, 0xDEADBEEFu);
  EXPECT_EQ(out[2].second.string, in[2].second.string);
  EXPECT_EQ(out[3].second.type, SettingValue::Type::Binary);
}

TEST(SettingsFile, RejectsTextItDidNotWrite) {
  std::vector<std::pair<std::string, SettingValue>> out;
  EXPECT_FALSE(SettingsStore::parse("", out));
  EXPECT_FALSE(SettingsStore::parse("something else\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nPref=binary:0\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nA=dword:123456789\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nA=string:bad\\q\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nA=string:\\x4\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nA=float:1\n", out));
  EXPECT_FALSE(SettingsStore::parse("Flickbook settings 1\nA=dword:1\nA=dword:2\n", out));
  EXPECT_TRUE(SettingsStore::parse("Flickbook settings 1\n", out));
}

TEST(SettingsFile, WritesThroughAndReadsBack) {
  TempDir dir;
  std::string path = dir.file("deep/er/settings");
  {
    SettingsStore s(path);
    EXPECT_EQ(s.state(), SettingsStore::State::Missing);
    EXPECT_FALSE(s.opened());
    EXPECT_TRUE(s.setString("Sig", "hello"));
    EXPECT_TRUE(s.setDword("NPref", 19));
  }
  SettingsStore again(path);
  EXPECT_TRUE(again.opened());
  EXPECT_EQ(again.getString("Sig").value_or(""), "hello");
  EXPECT_EQ(again.getDword("NPref").value_or(0), 19u);
  EXPECT_FALSE(again.getDword("Sig").has_value()) << "a value of another type is not read";
  EXPECT_TRUE(again.remove("Sig"));
  EXPECT_FALSE(SettingsStore(path).getString("Sig").has_value());
  // No temporary files are left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.file("deep/er"))) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(SettingsFile, ADamagedFileGivesDefaultsAndIsKept) {
  TempDir dir;
  std::string path = dir.file("settings");
  const std::string damaged = "Flickbook settings 1\nPref=binary:zz\nFile1=string:/home/me/a.gif\n";
  fbtest::writeBytes(path, std::vector<uint8_t>(damaged.begin(), damaged.end()));
  SettingsStore s(path);
  EXPECT_EQ(s.state(), SettingsStore::State::Damaged);
  EXPECT_FALSE(s.opened());
  EXPECT_FALSE(s.getString("File1").has_value());
  EXPECT_EQ(slurp(path), damaged) << "loading never changes the file";
  ASSERT_TRUE(s.setDword("NPref", 19));
  ASSERT_FALSE(s.damagedCopyPath().empty());
  EXPECT_EQ(slurp(s.damagedCopyPath()), damaged) << "the damaged content survives beside";
  EXPECT_TRUE(SettingsStore(path).opened());
}

TEST(SettingsFile, AnUnreadableFileIsNeverWrittenOver) {
  TempDir dir;
  std::string path = dir.file("settings");
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);  // a folder where the file should be
  SettingsStore s(path);
  EXPECT_EQ(s.state(), SettingsStore::State::Unreadable);
  EXPECT_FALSE(s.setDword("NPref", 19));
  EXPECT_EQ(s.getDword("NPref").value_or(0), 19u) << "the value is still kept in memory";
  EXPECT_TRUE(fileops::isDirectory(path));
}

TEST(SettingsFile, AFailedWriteLeavesTheOldFile) {
  TempDir dir;
  std::string path = dir.file("settings");
  SettingsStore s(path);
  ASSERT_TRUE(s.setString("Sig", "old"));
  std::string before = slurp(path);
  for (auto op : {fileops::Op::Create, fileops::Op::Write, fileops::Op::Flush,
                  fileops::Op::Close, fileops::Op::Rename}) {
    fileops::setFaultHook([op](fileops::Op o, const std::string&) { return o == op; });
    EXPECT_FALSE(s.setString("Sig", "new")) << static_cast<int>(op);
    fileops::setFaultHook(nullptr);
    EXPECT_EQ(slurp(path), before);
  }
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1) << "temporary files are removed after a failure";
}

TEST(SettingsFile, InMemoryStoreNeverTouchesDisk) {
  SettingsStore s{std::string()};
  EXPECT_TRUE(s.setDword("X", 1));
  EXPECT_EQ(s.getDword("X").value_or(0), 1u);
  EXPECT_TRUE(s.path().empty());
}

TEST(SettingsFile, DefaultPathFollowsXdgConfigHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
  EXPECT_EQ(SettingsStore::defaultPath(), "/tmp/cfg/norvane/Flickbook/2.0/settings");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsStore::defaultPath(), "/home/u/.config/norvane/Flickbook/2.0/settings");
  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
}
