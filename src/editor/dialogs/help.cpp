#include "dialogs/help.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include "dialogs/pickers.h"
#include "dialogs/qt_text.h"
#include "io/options.h"

namespace fb::ui {
namespace {

QString existingFile(const QString& relative) {
  const QString dir = dataDirectory();
  if (dir.isEmpty()) return QString();
  const QString path = dir + "/" + relative;
  return QFileInfo(path).isFile() ? path : QString();
}

}  // namespace

QString dataDirectory() {
  // bin/ of an installation, src/ of the build tree, or a test's folder a
  // level further down.
  QDir dir(QCoreApplication::applicationDirPath());
  for (int up = 0; up < 3; ++up) {
    if (!dir.cdUp()) break;
    const QString candidate = dir.filePath("share/flickbook");
    if (QFileInfo(candidate).isDir()) return QDir(candidate).canonicalPath();
  }
  return QString();
}

QString samplesDirectory() {
  const QString dir = dataDirectory();
  return !dir.isEmpty() && QFileInfo(dir + "/samples").isDir() ? dir + "/samples" : QString();
}

bool openHelp(Reporter& reporter) {
  const QString page = existingFile("help/help.htm");
  if (page.isEmpty() || !pickers().openUrl(QUrl::fromLocalFile(page))) {
    reporter.message(text(Str::CaptionError), text(Str::HelpMissing), Icon::Warning);
    return false;
  }
  return true;
}

bool openTutorial(Reporter& reporter) {
  const QString page = existingFile("tutorial/fbktut.htm");
  if (page.isEmpty()) {
    reporter.message(text(Str::CaptionError), format(Str::TutorialMissing, kOnlineTutorial),
                     Icon::Warning);
    return false;
  }
  storeInitialDirectory(stdstr(dataDirectory() + "/tutorial/samples"));
  return pickers().openUrl(QUrl::fromLocalFile(page));
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("about");
  setWindowTitle(qtext(Str::AboutTitle));
  auto* label = new QLabel(qformat(Str::AboutText, FLICKBOOK_VERSION), this);
  label->setObjectName("version");
  label->setAlignment(Qt::AlignCenter);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(buttons);
}

}  // namespace fb::ui
