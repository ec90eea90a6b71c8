#include "editor/progress_dialog.h"

#include <QApplication>
#include <QThread>

namespace fb {

ProgressDialog::ProgressDialog(QWidget* parent, const QString& text) {
  dialog_ = new QProgressDialog(text, QProgressDialog::tr("Cancel"), 0, 0, parent);
  dialog_->setObjectName("progressDialog");
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setMinimumDuration(500);
  dialog_->setAutoReset(false);
  dialog_->setAutoClose(false);
  // QProgressDialog cancels on Esc and on its button; both reach poll().
  sincePump_.start();
}

ProgressDialog::~ProgressDialog() {
  if (dialog_) {
    dialog_->hide();
    delete dialog_.data();
  }
}

bool ProgressDialog::onMainThread() const {
  return dialog_ && QThread::currentThread() == dialog_->thread();
}

void ProgressDialog::onText(std::string_view text) {
  if (onMainThread())
    dialog_->setLabelText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void ProgressDialog::onPosition(int position, int range) {
  if (!onMainThread()) return;
  if (dialog_->maximum() != range) dialog_->setMaximum(range);
  // A modal progress dialog pumps events itself in setValue.
  dialog_->setValue(position < range ? position : range);
  sincePump_.restart();
  if (dialog_->wasCanceled()) cancel();
}

void ProgressDialog::poll() {
  if (!onMainThread()) return;
  if (sincePump_.elapsed() >= 30) {
    // Until the modal dialog shows, the window must not take commands.
    QApplication::processEvents(dialog_->isVisible() ? QEventLoop::AllEvents
                                                     : QEventLoop::ExcludeUserInputEvents);
    sincePump_.restart();
  }
  if (dialog_->wasCanceled()) cancel();
}

}  // namespace fb
