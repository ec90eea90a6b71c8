#include "base/install_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testutil.h"

using namespace fb;
using fbtest::TempDir;
namespace fs = std::filesystem;

TEST(InstallDir, TheDataFolderBesideBin) {
  TempDir prefix;
  fs::create_directories(prefix.file("bin"));
  EXPECT_EQ(installDirFor(prefix.file("bin/flickbook")), "") << "no data folder yet";

  fs::create_directories(prefix.file("share/flickbook/help"));
  EXPECT_EQ(installDirFor(prefix.file("bin/flickbook")), prefix.file("share/flickbook"));
  // Any program in bin/ finds the same folder; the executable need not be
  // named flickbook.
  EXPECT_EQ(installDirFor(prefix.file("bin/fbinfo")), prefix.file("share/flickbook"));

  // Not the folder beside a program somewhere else.
  fs::create_directories(prefix.file("lib/flickbook"));
  EXPECT_EQ(installDirFor(prefix.file("lib/flickbook/tool")), "");
  // A path that is no absolute executable path finds nothing.
  EXPECT_EQ(installDirFor(""), "");
  EXPECT_EQ(installDirFor("flickbook"), "");
  EXPECT_EQ(installDirFor("bin/flickbook"), "");
}

TEST(InstallDir, AFileInTheFolderPlaceIsNoDataFolder) {
  TempDir prefix;
  fs::create_directories(prefix.file("bin"));
  fs::create_directories(prefix.file("share"));
  std::ofstream(prefix.file("share/flickbook")) << "not a folder";
  EXPECT_EQ(installDirFor(prefix.file("bin/flickbook")), "");
}

// The tests run from the build tree, which has the installed shape: the
// folder is found from this very executable, with the sources behind it.
TEST(InstallDir, TheBuildTreeWorksTheSameWay) {
  std::string dir = installDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(fs::path(dir), fs::canonical(FB_BINARY_DIR "/share/flickbook"));
  EXPECT_EQ(installPath(kSamplesFolder), dir + "/samples");
  EXPECT_FALSE(installPath("samples/bouncing-ball.gif").empty());
  EXPECT_FALSE(installPath("help").empty());
  EXPECT_FALSE(installPath("tutorial").empty());
  EXPECT_EQ(installPath("samples/no-such-file.gif"), "");
}
