// Messages and questions as modal message boxes over a parent window.
#pragma once

#include "base/reporter.h"

class QWidget;

namespace fb::ui {

class MessageBoxReporter : public Reporter {
 public:
  explicit MessageBoxReporter(QWidget* parent = nullptr) : parent_(parent) {}
  void message(std::string_view caption, std::string_view text, Icon icon) override;
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override;
  bool hasWindow() const override { return true; }

 private:
  QWidget* parent_;
};

}  // namespace fb::ui
