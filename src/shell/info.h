// --info: what a file holds, in words.
#pragma once

#include <string>
#include <vector>

#include "document/animation.h"
#include "shell/run_settings.h"

namespace fb {

// The summary of a document read from a file of `type` (`fileBytes` long),
// named `name`: type, screen, frames, loop behaviour, running time, palette
// and sizes; with --verbose one line per frame.
std::string describeAnimation(const std::string& name, int type, int64_t fileBytes,
                              Animation& animation, const RunSettings& run);

// Prints the summary of every --info file on stdout. True when every file
// read completely (a partial one is described as far as it was read).
bool runInfo(const std::vector<FlagArg>& flags, const RunSettings& run);

}  // namespace fb
