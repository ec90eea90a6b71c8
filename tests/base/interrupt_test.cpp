#include "base/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "testutil.h"

using namespace fb;
using fbtest::TempDir;
namespace fs = std::filesystem;

// The most files a batch run keeps live at once: `--each -j 64`, each file
// with its staged copy, the writer's own copy and the backup of the first.
TEST(Interrupt, EveryFileOfTheLargestRunIsRemoved) {
  TempDir dir;
  constexpr int kFiles = 64 * 3;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::vector<std::unique_ptr<LiveTemporary>> live;
    for (int i = 0; i < kFiles; ++i) {
      std::string path = dir.file("t-XXXXXX.gif");
      live.push_back(std::make_unique<LiveTemporary>());
      if (!createLiveTemporary(path, 4, 0600, *live.back())) ::_exit(2);
    }
    cleanUpOnInterrupt();
    ::raise(SIGTERM);
    ::_exit(3);  // not reached
  }
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 128 + SIGTERM);
  int left = 0;
  for (auto& e : fs::directory_iterator(dir.path())) left += e.is_regular_file();
  EXPECT_EQ(left, 0) << "files left behind by the interrupt";
}
