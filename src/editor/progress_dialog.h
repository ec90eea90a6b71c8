// The engine's Progress as a modal progress dialog: its text, its range, a
// Cancel button, and Esc to cancel. While the engine works on the main
// thread, each update lets the window paint and the Cancel button be pressed.
// Updates from other threads only move the engine's counters.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QWidget>

#include "base/progress.h"

namespace fb {

class ProgressDialog : public Progress {
 public:
  // The dialog appears only when the work lasts (about half a second).
  explicit ProgressDialog(QWidget* parent, const QString& text = QString());
  ~ProgressDialog() override;
  ProgressDialog(const ProgressDialog&) = delete;
  ProgressDialog& operator=(const ProgressDialog&) = delete;

  QProgressDialog* dialog() const { return dialog_; }

 protected:
  void onText(std::string_view text) override;
  void onPosition(int position, int range) override;
  void poll() override;

 private:
  bool onMainThread() const;
  QPointer<QProgressDialog> dialog_;
  QElapsedTimer sincePump_;
};

}  // namespace fb
