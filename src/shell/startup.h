// The program's start-up: settings first, then batch mode when the command
// line starts with '-' (no window, no display needed), else the editor.
#pragma once

namespace fb {

// The editor's entry point, handed in by the program so that this layer
// never sees the user interface. Returns the exit code.
using EditorMain = int (*)(int argc, char** argv);

int flickbookMain(int argc, char** argv, EditorMain editor);

// True when the command line is for batch mode: its first argument starts with '-'.
bool isBatchCommandLine(int argc, char** argv);

}  // namespace fb
