// flickbook: the editor, or, when the command line starts with '-', the
// batch tool (which never opens a window).
#include <cstdio>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "base/prefs.h"
#include "base/settings_file.h"
#include "shell/batch.h"
#include "shell/usage.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(fb::usageText().c_str(), stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("flickbook %s\n", FLICKBOOK_VERSION);
      return 0;
    }
  }

  // Settings come first, whichever way the program goes.
  fb::openSettings();
  fb::loadPreferences();

  if (!args.empty() && !args[0].empty() && args[0][0] == '-') {
    // Ctrl-C during a save leaves no temporary file and the target as it was.
    fb::cleanUpOnInterrupt();
    fb::OpenDocument doc;
    bool ok = fb::runBatch(args, doc);
    return ok ? 0 : 1;
  }
  std::fputs(fb::usageText().c_str(), stderr);
  return 1;
}
