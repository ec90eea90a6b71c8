// The batch command line taken apart: flags with their arguments, the long
// options that set up one run (never stored in the preferences), the
// operations that change a document, and standard input and output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/interrupt.h"
#include "document/animation.h"
#include "io/options.h"

namespace fb {

class Progress;

// One flag and the arguments that belong to it: text joined to the flag
// ("-t10", "-o=x", "--colors=16") comes first, then every argument up to the
// next flag.
struct FlagArg {
  std::string arg;   // as typed
  std::string name;  // a short flag's letter in lower case ("i"), a long one whole ("--each")
  std::vector<std::string> values;
  bool joined = false;  // the first value was joined to the flag
  bool isLong() const { return name.size() > 2 && name[0] == '-'; }
};

// A flag starts only at an argument beginning with '-' and longer than it:
// "-" alone is a path (standard input or output).
bool isFlag(const std::string& arg);
// The flags of a command line whose first argument is a flag.
std::vector<FlagArg> splitFlags(const std::vector<std::string>& args);

// What the long options (and -j) set for this run.
struct RunSettings {
  enum class Mode { Merge, Each, Info } mode = Mode::Merge;
  bool inPlace = false;
  bool verbose = false;
  bool dither = false;   // for --colors
  bool quality = false;  // for --colors: the high-quality colour mode
  int lossy = 0;         // lossy LZW strength for the optimizations (0: off)
  bool trueColourPng = false;
  int format = 0;     // a type index for every output; 0: by name (or the input's type)
  unsigned jobs = 0;  // files at once with --each; 0: one per core
  std::string outputFolder;  // --each -o FOLDER

  // The user's settings with this run's changes, made once before any work.
  OpenOptions open;
  SaveOptions save;
  uint32_t optimizeOptions = 0;  // the saved word
};

// Reads the long options and -j of `flags` into `run` and checks them and
// how they go together; the short flags are left for the run itself. False
// (with the message shown) on a mistake: nothing may run then.
bool scanRunSettings(const std::vector<FlagArg>& flags, RunSettings& run);

// The save options word for an output of `type` in this run.
uint32_t saveWordFor(int type, const RunSettings& run);

// Something a flag does to the document: -t / --delay, -z / --optimize,
// --colors, --loop.
struct Operation {
  enum class Kind { Delay, Optimize, Colours, Loop } kind = Kind::Delay;
  uint32_t value = 0;  // ticks, option bits, colours, loop count
};

// Whether the flag is an operation; when it is, `op` is filled in and `valid`
// tells whether its arguments were right (if not, the message is shown).
bool operationOf(const FlagArg& flag, const RunSettings& run, Operation& op, bool& valid);

// Applies an operation to a document; false (message shown) when it failed.
// `changed` (when given) is false after an optimization that was not taken.
bool applyOperation(Animation& animation, const Operation& op, const RunSettings& run,
                    Progress* progress, bool* changed = nullptr);

// ---- Standard input and output ----

// A private folder in the system's temporary folder, removed with what it
// holds at the end of the scope.
class ScratchFolder {
 public:
  ScratchFolder() = default;
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // A path in the folder, made on first use; empty when it cannot be made.
  std::string file(const std::string& name);

 private:
  std::string path_;
  // The folder and its files are removed on an interrupt too.
  std::vector<std::unique_ptr<LiveTemporary>> live_;
};

// Opens `path` as openFile does; "-" reads standard input (its type from its
// first bytes) through a file in `scratch`. `opened` (when given) is set to
// the file read.
int openInput(const std::string& path, std::unique_ptr<Animation>& animation, Progress* progress,
              const OpenOptions& options, ScratchFolder& scratch, std::string* opened = nullptr);
// How a message names an input: its path, or "standard input" for "-".
std::string inputLabel(const std::string& path);

// Copies a file to standard output; false (message shown) when it cannot.
bool copyToStdout(const std::string& path);

}  // namespace fb
