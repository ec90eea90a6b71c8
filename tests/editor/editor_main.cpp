// The editor's tests: one executable, every suite a QtTest class, run on the
// offscreen platform. `editor_tests NAME [QtTest arguments]` runs one suite.
#include <QApplication>
#include <QTest>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "editor_suites.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::map<std::string, std::function<std::unique_ptr<QObject>()>> suites = edtest::suites();
  std::string only = argc > 1 && argv[1][0] != '-' ? argv[1] : "";
  int failed = 0;
  std::vector<char*> args = {argv[0]};
  for (int i = only.empty() ? 1 : 2; i < argc; ++i) args.push_back(argv[i]);
  for (const auto& [name, make] : suites) {
    if (!only.empty() && name != only) continue;
    std::unique_ptr<QObject> suite = make();
    failed += QTest::qExec(suite.get(), static_cast<int>(args.size()), args.data());
  }
  return failed ? 1 : 0;
}
