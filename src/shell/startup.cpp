// flickbook: the editor, or, when the command line starts with '-', the
// batch tool (which never opens a window).
#include "shell/startup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "base/prefs.h"
#include "base/settings_file.h"
#include "shell/batch.h"
#include "shell/usage.h"

namespace fb {

bool isBatchCommandLine(int argc, char** argv) {
  return argc > 1 && argv[1] && argv[1][0] == '-';
}

int flickbookMain(int argc, char** argv, EditorMain editor) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool batch = isBatchCommandLine(argc, argv);
  for (const std::string& a : args) {
    if (!batch) break;  // in the editor's command line, every word is a file
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

  if (batch) {
    // Ctrl-C during a save leaves no temporary file and the target as it was.
    fb::cleanUpOnInterrupt();
    fb::OpenDocument doc;
    bool ok = fb::runBatch(args, doc);
    return ok ? 0 : 1;
  }
  if (!editor) {
    std::fputs(fb::usageText().c_str(), stderr);
    return 1;
  }
  return editor(argc, argv);
}

}  // namespace fb
