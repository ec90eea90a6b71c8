// The suites of editor_tests, each made by name.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace edtest {

std::unique_ptr<QObject> makeEnablingSuite();
std::unique_ptr<QObject> makeFileSuite();
std::unique_ptr<QObject> makeEditSuite();
std::unique_ptr<QObject> makeViewSuite();
std::unique_ptr<QObject> makeDialogSuite();
std::unique_ptr<QObject> makePropertySuite();
std::unique_ptr<QObject> makeTransformSuite();

inline std::map<std::string, std::function<std::unique_ptr<QObject>()>> suites() {
  return {{"Enabling", makeEnablingSuite},
          {"Files", makeFileSuite},
          {"Editing", makeEditSuite},
          {"View", makeViewSuite},
          {"Dialogs", makeDialogSuite},
          {"Properties", makePropertySuite},
          {"Transforms", makeTransformSuite}};
}

}  // namespace edtest
