#include "editor/editor_main.h"

#include <QApplication>

#include "editor/qt_reporter.h"

namespace fb {

int runEditor(int argc, char** argv) {
  QApplication app(argc, argv);
  QtReporter qtReporter;
  setGlobalReporter(&qtReporter);
  int code = 0;
  setGlobalReporter(nullptr);
  return code;
}

}  // namespace fb
