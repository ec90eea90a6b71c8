#include "editor/qt_reporter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace fb {
namespace {

QMessageBox::Icon iconOf(Icon icon) {
  switch (icon) {
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Information: return QMessageBox::Information;
    case Icon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsOf(Buttons b) {
  switch (b) {
    case Buttons::Ok: return QMessageBox::Ok;
    case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

Answer answerOf(int button) {
  switch (button) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Retry: return Answer::Retry;
    default: return Answer::Cancel;
  }
}

std::function<void()>& beepHook() {
  static std::function<void()> hook;
  return hook;
}

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

Answer QtReporter::show(const QString& caption, const QString& text, Icon icon, Buttons buttons) {
  QMessageBox box(iconOf(icon), caption, text, buttonsOf(buttons), parent_.data());
  box.setObjectName("messageBox");
  return answerOf(box.exec());
}

bool QtReporter::onMainThread() { return QThread::currentThread() == qApp->thread(); }

void QtReporter::message(std::string_view caption, std::string_view text, Icon icon) {
  if (onMainThread()) {
    show(qs(caption), qs(text), icon, Buttons::Ok);
    return;
  }
  // A worker never waits for the main thread, which may be waiting for it.
  QMetaObject::invokeMethod(
      qApp, [this, c = qs(caption), t = qs(text), icon] { show(c, t, icon, Buttons::Ok); },
      Qt::QueuedConnection);
}

Answer QtReporter::ask(std::string_view caption, std::string_view text, Icon icon,
                       Buttons buttons, Answer noWindowAnswer) {
  // Only the main thread can ask and wait; elsewhere the answer is the one
  // given for no window.
  if (!onMainThread()) return noWindowAnswer;
  return show(qs(caption), qs(text), icon, buttons);
}

void beep() {
  if (beepHook())
    beepHook()();
  else
    QApplication::beep();
}

void setBeepHook(std::function<void()> hook) { beepHook() = std::move(hook); }

}  // namespace fb
