// --each: every input read, changed and saved on its own, several at once.
#pragma once

#include <vector>

#include "shell/run_settings.h"

namespace fb {

// Runs the flags for each input file separately: the operations in the order
// given, then a save into the output folder under the input's name (or over
// the input with --in-place). A file that fails is reported with its path and
// the others go on. True when every file succeeded.
bool runEach(const std::vector<FlagArg>& flags, const RunSettings& run);

// The name an input is saved under in `folder`: its own, with the extension
// of `type` when one is given (0: kept).
std::string eachOutputPath(const std::string& input, const std::string& folder, int type);

}  // namespace fb
