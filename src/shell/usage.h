// The command's usage, written once: `--help` prints it as text and the build
// turns the same sections into the manual page flickbook(1), so the two never
// tell different stories.
#pragma once

#include <string>

namespace fb {

// The text `flickbook --help` prints, lines of at most 79 characters.
std::string usageText();

// The manual page flickbook(1) in man(7) markup.
std::string manPage();

}  // namespace fb
