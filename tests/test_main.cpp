#include <gtest/gtest.h>

#include "base/prefs.h"
#include "base/settings_file.h"

// Every test starts from default preferences and an in-memory settings store,
// so nothing a test sets reaches the user's settings file.
class FreshPreferences : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    fb::closeSettings();
    fb::resetPreferences();
  }
};

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshPreferences);
  return RUN_ALL_TESTS();
}
