#include "base/prefs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/settings_file.h"
#include "testutil.h"

using namespace fb;
using fbtest::TempDir;

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> w) {
  std::vector<uint8_t> b;
  for (uint32_t v : w)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

void writeSettings(const std::string& path,
                   const std::vector<std::pair<std::string, SettingValue>>& values) {
  std::string text = SettingsStore::serialize(values);
  fbtest::writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

TEST(Preferences, DefaultsWithoutASettingsFile) {
  TempDir dir;
  openSettings(dir.file("settings"));
  loadPreferences();
  EXPECT_EQ(prefGet(pref::DefaultDelay), 10u);
  EXPECT_EQ(prefGet(pref::DefaultPlayCount), 0u);
  EXPECT_EQ(prefGet(pref::SizeConflict), 32u);
  EXPECT_EQ(prefGet(pref::OptimizeOptions), 0x46Eu);
  EXPECT_EQ(prefGet(pref::GeneralOptions), 0x800000u);
  EXPECT_EQ(prefGet(pref::MergeMethod), 0x880001u);
  EXPECT_EQ(prefGet(pref::UndoLevels), 20u) << "a missing key keeps 20 undo levels";
  EXPECT_EQ(prefGet(pref::TimeBase), 100u);
  EXPECT_EQ(prefGet(pref::SaveType), 1u);
  EXPECT_EQ(prefGet(3), 0u);
  EXPECT_EQ(prefGet(4), 0u);
}

TEST(Preferences, LoadRulesForStoredValues) {
  TempDir dir;
  std::string path = dir.file("settings");

  // A short Pref replaces only the bytes it holds; no NPref means 100 undo levels.
  writeSettings(path, {{"Pref", SettingValue::ofBinary(words({25, 3}))}});
  openSettings(path);
  loadPreferences();
  EXPECT_EQ(prefGet(pref::DefaultDelay), 25u);
  EXPECT_EQ(prefGet(pref::DefaultPlayCount), 3u);
  EXPECT_EQ(prefGet(pref::OptimizeOptions), 0x46Eu);
  EXPECT_EQ(prefGet(pref::UndoLevels), 100u);

  // A partial word overwrites only its low bytes.
  auto partial = words({7});
  partial.push_back(0x05);
  writeSettings(path, {{"Pref", SettingValue::ofBinary(partial)},
                       {"NPref", SettingValue::ofDword(19)}});
  openSettings(path);
  loadPreferences();
  EXPECT_EQ(prefGet(pref::DefaultPlayCount), 0x05u);
  EXPECT_EQ(prefGet(pref::UndoLevels), 20u) << "NPref 19 keeps the stored/default undo depth";

  // Zero time base and zero save type are repaired; NPref below 13 resets undo.
  std::vector<uint32_t> all(19, 0);
  all[pref::UndoLevels] = 5;
  std::vector<uint8_t> bytes;
  for (uint32_t v : all)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  bytes.insert(bytes.end(), {1, 2, 3, 4, 5, 6, 7, 8});  // beyond the block: ignored
  writeSettings(path, {{"Pref", SettingValue::ofBinary(bytes)},
                       {"NPref", SettingValue::ofDword(12)}});
  openSettings(path);
  loadPreferences();
  EXPECT_EQ(prefGet(pref::TimeBase), 100u);
  EXPECT_EQ(prefGet(pref::SaveType), 1u);
  EXPECT_EQ(prefGet(pref::UndoLevels), 100u);
  EXPECT_EQ(prefGet(pref::DefaultDelay), 0u);
}

TEST(Preferences, DamagedFileMeansDefaults) {
  TempDir dir;
  std::string path = dir.file("settings");
  fbtest::writeBytes(path, {0xff, 0xfe, 0x00, 0x01});
  openSettings(path);
  loadPreferences();
  EXPECT_EQ(prefGet(pref::UndoLevels), 20u);
  EXPECT_EQ(prefGet(pref::DefaultDelay), 10u);
}

TEST(Preferences, SizeConflictWordIsTranslatedOnGet) {
  struct Case {
    uint32_t stored, read;
  } cases[] = {{1, 36}, {2, 16}, {0, 32}, {3, 32}, {48, 48}, {16, 16}};
  for (auto c : cases) {
    prefSet(pref::SizeConflict, c.stored);
    EXPECT_EQ(prefGet(pref::SizeConflict), c.read) << c.stored;
    EXPECT_EQ(prefRaw(pref::SizeConflict), c.stored);
  }
  prefSet(pref::DefaultDelay, 1);
  EXPECT_EQ(prefGet(pref::DefaultDelay), 1u) << "other words are not translated";
}

TEST(Preferences, EverySetWritesTheWholeBlockThrough) {
  TempDir dir;
  std::string path = dir.file("settings");
  openSettings(path);
  loadPreferences();
  prefSet(pref::DefaultDelay, 42);
  prefSetBits(pref::GeneralOptions, 0x8, true);
  prefSetBits(pref::GeneralOptions, 0x800000, false);

  SettingsStore reread(path);
  ASSERT_TRUE(reread.opened());
  auto block = reread.getBinary("Pref");
  ASSERT_TRUE(block);
  ASSERT_EQ(block->size(), 76u);
  EXPECT_EQ(reread.getDword("NPref").value_or(0), 19u);
  EXPECT_EQ((*block)[0], 42);
  uint32_t w6 = (*block)[24] | ((*block)[25] << 8) | ((*block)[26] << 16) |
                (static_cast<uint32_t>((*block)[27]) << 24);
  EXPECT_EQ(w6, 0x8u);

  resetPreferences();
  openSettings(path);
  loadPreferences();
  EXPECT_EQ(prefGet(pref::DefaultDelay), 42u);
  EXPECT_EQ(prefGet(pref::GeneralOptions), 0x8u);
}

TEST(Preferences, WorkersReadWholeWordsWhileTheMainThreadWrites) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      uint32_t v = prefGet(pref::OptimizeOptions);
      if (v != 0x46E && v != 0xFFFF0000u && v != 0x0000FFFFu) ++torn;
    }
  });
  for (int i = 0; i < 20000; ++i)
    prefSet(pref::OptimizeOptions, (i & 1) ? 0xFFFF0000u : 0x0000FFFFu);
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}
