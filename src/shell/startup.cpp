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

namespace {

void usage(std::FILE* out) {
  std::fputs(
      "usage: flickbook -i FILE|PATTERN... [-l LIST] [-t N] [-z] [-o OUT]\n"
      "Reads animations and pictures, merges them into one animation, and writes it.\n"
      "\n"
      "  -i FILE|PATTERN...  read these files (quoted patterns are expanded and sorted\n"
      "                      by name) and add their frames to the animation\n"
      "  -l LIST             read the files named in LIST, one path per line\n"
      "  -t N                set every frame's delay to N (hundredths of a second\n"
      "                      unless the time base was changed)\n"
      "  -z                  optimize with the saved optimizer options\n"
      "  -o OUT              save the animation as OUT (the type from its extension)\n"
      "  -h, --help          this text\n"
      "      --version       the version\n"
      "\n"
      "Flags run from left to right. The exit status is 0 when every step succeeded.\n"
      "\n"
      "Example:\n"
      "  flickbook -i 'frames/*.gif' -t 10 -z -o all.gif\n",
      out);
}

}  // namespace

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
      usage(stdout);
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
    usage(stderr);
    return 1;
  }
  return editor(argc, argv);
}

}  // namespace fb
