#include "editor/dialogs/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>

#include "base/install_dir.h"
#include "editor/ui_text.h"
#include "io/options.h"

namespace fb::ui {
namespace {

std::function<bool(const QUrl&)>& urlOpener() {
  static std::function<bool(const QUrl&)> opener;
  return opener;
}

bool showPage(const QString& page) {
  const QUrl url = QUrl::fromLocalFile(page);
  return urlOpener() ? urlOpener()(url) : QDesktopServices::openUrl(url);
}

QString existingFile(const QString& relative) {
  const QString dir = dataDirectory();
  if (dir.isEmpty()) return QString();
  const QString path = dir + "/" + relative;
  return QFileInfo(path).isFile() ? path : QString();
}

}  // namespace

void setUrlOpener(std::function<bool(const QUrl&)> opener) {
  urlOpener() = std::move(opener);
}

QString dataDirectory() {
  return QString::fromStdString(installDir());
}

QString samplesDirectory() {
  const QString dir = dataDirectory();
  return !dir.isEmpty() && QFileInfo(dir + "/" + kSamplesFolder).isDir() ? dir + "/" + kSamplesFolder : QString();
}

bool openHelp(Reporter& reporter) {
  const QString page = existingFile(kHelpPage);
  if (page.isEmpty() || !showPage(page)) {
    reporter.message(text(Str::CaptionError), text(Str::EditorHelpMissing), Icon::Warning);
    return false;
  }
  return true;
}

bool openTutorial(Reporter& reporter) {
  const QString page = existingFile(kTutorialPage);
  if (page.isEmpty()) {
    reporter.message(text(Str::CaptionError), format(Str::EditorTutorialMissing, kOnlineTutorial),
                     Icon::Warning);
    return false;
  }
  storeInitialDirectory(spath(dataDirectory() + "/" + kTutorialSamples));
  return showPage(page);
}

}  // namespace fb::ui
