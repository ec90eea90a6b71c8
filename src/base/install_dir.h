// Where the installed data lies: the folder share/flickbook beside the bin/
// folder holding the executable. The build tree has the same shape
// (build/src/flickbook and build/share/flickbook), so help pages, the
// tutorial and the samples are found the same way before installing.
#pragma once

#include <string>

namespace fb {

// Below the data folder.
inline constexpr const char* kHelpPage = "help/help.htm";
inline constexpr const char* kTutorialPage = "tutorial/fbktut.htm";
// The tutorial works on the bundled samples.
inline constexpr const char* kTutorialSamples = "samples";
inline constexpr const char* kSamplesFolder = "samples";

// The data folder of the program at `executable` (an absolute path with its
// links resolved), without a trailing '/'; empty when that folder is missing.
std::string installDirFor(const std::string& executable);

// The data folder of this program (from /proc/self/exe); empty when missing.
std::string installDir();

// installDir() + "/" + `relative` when that file or folder exists, else empty
// (the caller then says the program should be re-installed).
std::string installPath(const std::string& relative);

}  // namespace fb
