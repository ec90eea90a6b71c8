#include "editor/editor_main.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include "base/prefs.h"
#include "base/settings_file.h"
#include "editor/main_window.h"
#include "editor/placement.h"
#include "editor/dialogs/purpose.h"
#include "editor/qt_reporter.h"
#include "editor/recent_files.h"

namespace fb {

int runEditor(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Flickbook");
  // Ties the window to the installed desktop entry (its icon and name in the
  // task bar), and takes the installed icon from the theme.
  QGuiApplication::setDesktopFileName("org.norvane.flickbook");
  QApplication::setWindowIcon(QIcon::fromTheme("org.norvane.flickbook"));
  QtReporter qtReporter;
  setGlobalReporter(&qtReporter);
  int code = 0;
  {
    // The recent list closes up over files that are gone before the menu shows it.
    compactRecentFiles();
    MainWindow window;
    qtReporter.setParentWidget(&window);
    Placement placement;
    if (loadPlacement(placement)) applyPlacement(window, placement);
    window.show();
    // The files named on the command line ("Open with" of a file manager
    // hands over every file chosen) open as the open dialog's choice does.
    if (argc > 1) {
      QStringList paths;
      for (int i = 1; i < argc; ++i)
        paths << QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
      window.openFiles(paths);
    } else {
      ui::askPurposeOnFirstRun(&window);
    }
    // For scripts and end-to-end tests: command ids run through the
    // dispatcher once the window has painted, e.g. FLICKBOOK_COMMANDS=1003 (exit).
    QStringList commands = qEnvironmentVariable("FLICKBOOK_COMMANDS").split(',', Qt::SkipEmptyParts);
    if (!commands.isEmpty()) {
      window.repaint();
      QTimer::singleShot(0, &window, [&window, commands] {
        for (const QString& id : commands) window.runCommand(id.trimmed().toInt());
      });
    }
    code = app.exec();
    storePlacement(window);
    qtReporter.setParentWidget(nullptr);
  }
  setGlobalReporter(nullptr);
  return code;
}

}  // namespace fb
