#include "dialogs/message_box_reporter.h"

#include <QMessageBox>

namespace fb::ui {
namespace {

QMessageBox::Icon qtIcon(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return QMessageBox::Warning;
    case Icon::Error:
      return QMessageBox::Critical;
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

void MessageBoxReporter::message(std::string_view caption, std::string_view text, Icon icon) {
  QMessageBox box(qtIcon(icon), q(caption), q(text), QMessageBox::Ok, parent_);
  box.exec();
}

Answer MessageBoxReporter::ask(std::string_view caption, std::string_view text, Icon icon,
                               Buttons buttons, Answer) {
  QMessageBox::StandardButtons set;
  switch (buttons) {
    case Buttons::Ok:
      set = QMessageBox::Ok;
      break;
    case Buttons::OkCancel:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case Buttons::YesNo:
      set = QMessageBox::Yes | QMessageBox::No;
      break;
    case Buttons::YesNoCancel:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case Buttons::RetryCancel:
      set = QMessageBox::Retry | QMessageBox::Cancel;
      break;
  }
  QMessageBox box(qtIcon(icon), q(caption), q(text), set, parent_);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return Answer::Ok;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    case QMessageBox::Retry:
      return Answer::Retry;
    default:
      return Answer::Cancel;
  }
}

}  // namespace fb::ui
