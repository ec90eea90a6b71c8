// flickbook: the editor, or, when the command line starts with '-', the
// batch tool (which never opens a window).
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

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
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

  if (!args.empty() && !args[0].empty() && args[0][0] == '-') {
    // Ctrl-C during a save leaves no temporary file and the target as it was.
    fb::cleanUpOnInterrupt();
    fb::OpenDocument doc;
    bool ok = fb::runBatch(args, doc);
    return ok ? 0 : 1;
  }
  usage(stderr);
  return 1;
}
