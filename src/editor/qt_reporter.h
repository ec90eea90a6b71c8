// The engine's messages and questions as modal message boxes, and the beep.
// The editor installs one QtReporter as the process-wide reporter; tests
// install a RecordingReporter instead (with queued answers), so no test ever
// waits on a box.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "base/reporter.h"

namespace fb {

class QtReporter : public Reporter {
 public:
  explicit QtReporter(QWidget* parent = nullptr) : parent_(parent) {}
  void setParentWidget(QWidget* parent) { parent_ = parent; }

  // From a worker thread a message is shown later by the main thread and a
  // question takes the no-window answer: a worker never waits for the main
  // thread, which may be waiting for it.
  void message(std::string_view caption, std::string_view text, Icon icon) override;
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override;
  bool hasWindow() const override { return true; }

 private:
  Answer show(const QString& caption, const QString& text, Icon icon, Buttons buttons);
  static bool onMainThread();
  QPointer<QWidget> parent_;
};

// The short sound of a command that has nothing to act on. Tests count beeps
// through the hook instead of hearing them.
void beep();
void setBeepHook(std::function<void()> hook);  // empty: the system beep

}  // namespace fb
