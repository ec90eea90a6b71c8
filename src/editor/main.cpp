// flickbook: batch mode when the command line starts with '-' (no window and
// no display needed), else the editor.
#include "editor/editor_main.h"
#include "shell/startup.h"

int main(int argc, char** argv) { return fb::flickbookMain(argc, argv, &fb::runEditor); }
