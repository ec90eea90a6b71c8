// The editor's start-up and message loop.
#pragma once

namespace fb {

// Creates the application and the main window, opens the first file named on
// the command line, and runs until the window closes. Settings and
// preferences are already loaded. Returns the exit code.
int runEditor(int argc, char** argv);

}  // namespace fb
