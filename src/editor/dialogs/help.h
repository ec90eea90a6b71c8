// Help, the tutorial and the about box. The pages are installed beside the
// program: <prefix>/share/flickbook/{help,tutorial,samples} for
// <prefix>/bin/flickbook, and the build tree is laid out the same way.
#pragma once

#include <QDialog>
#include <QString>

#include "base/reporter.h"

namespace fb::ui {

// The data folder found from the running program; empty when there is none.
QString dataDirectory();
// The folder open dialogs start in when none was remembered; empty when missing.
QString samplesDirectory();

// "目录": opens help/help.htm in the user's browser, or says it is missing.
bool openHelp(Reporter& reporter);
// "教程": opens tutorial/fbktut.htm and makes its samples the open dialogs'
// folder ("InitDir"), or says where the tutorial can be read instead.
bool openTutorial(Reporter& reporter);

// The online copy of the tutorial named when the installed one is missing.
constexpr const char* kOnlineTutorial = "https://flickbook.example.org/tutorial/";

class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace fb::ui
