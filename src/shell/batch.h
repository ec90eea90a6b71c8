// Batch mode: a command line of flags run against one open document, without
// a window.
//
//   -i FILE|PATTERN...   read the files (patterns expanded, sorted without
//                        case), merge them, add them to the document
//   -l LISTFILE          read the files the list names, one per line
//   -t N                 set every frame's delay to N ticks
//   -z                   optimize with the saved options
//   -o FILE              save the document as FILE
//
// Flags run strictly left to right; the letter is case-insensitive. A flag
// starts only at an argument beginning with '-'; the arguments after it, up to
// the next flag, are its own.
#pragma once

#include <string>
#include <vector>

#include "io/save_document.h"

namespace fb {

// Runs the flags in `args` (the command line without the program name) on
// `doc`. Returns true when every step succeeded.
bool runBatch(const std::vector<std::string>& args, OpenDocument& doc);

// Expands one -i argument: a pattern holding '*', '?' or '[' becomes the
// matching files, sorted by name without regard to case (equal names keep
// their order); any other argument is itself. Empty when nothing matches (a
// plain name matches when it exists).
std::vector<std::string> expandInput(const std::string& argument);

// The paths of a list file's text: a line ends at CR or LF (a CR or LF
// followed by LF ends one line), the list at the end or at a NUL byte; an
// empty line is an empty path.
std::vector<std::string> parseFileList(const std::string& text);

}  // namespace fb
