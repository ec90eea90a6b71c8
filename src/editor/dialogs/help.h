// Help and the tutorial. The pages are installed beside the program:
// <prefix>/share/flickbook/{help,tutorial,samples} for <prefix>/bin/flickbook,
// and the build tree is laid out the same way.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

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
constexpr const char* kOnlineTutorial = "https://flickbook.norvane.org/tutorial/";

// How pages reach the browser (QDesktopServices unless a test set its own;
// empty puts it back). The opener returns false when the page could not be shown.
void setUrlOpener(std::function<bool(const QUrl&)> opener);

}  // namespace fb::ui
