// "减少帧计数" (dialog 227): every N-th frame goes, its time added to the
// frame before it.
//
//   FrameCountDialog dlg(*ctx.animation(), reporter(), this);
//   if (dlg.exec() == QDialog::Accepted) ctx.apply(dlg.edit());
#pragma once

#include <QDialog>

#include "base/reporter.h"
#include "document/edit.h"

class QLabel;

namespace fb::ui {

class SteppedSpinBox;

class FrameCountDialog : public QDialog {
 public:
  FrameCountDialog(const Animation& document, Reporter& reporter, QWidget* parent = nullptr);
  int interval() const;
  // After OK: "减少帧计数" with the chosen interval.
  Edit edit() const;
  void accept() override;

 private:
  void update();
  const Animation& doc_;
  Reporter& reporter_;
  SteppedSpinBox* interval_;
  QLabel* after_;
};

}  // namespace fb::ui
