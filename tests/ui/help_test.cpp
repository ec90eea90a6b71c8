#include "editor/dialogs/help.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTest>

#include "base/settings_file.h"
#include "resources/strings.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;

class HelpTest : public QObject {
  Q_OBJECT

 private slots:
  void pagesAreFoundInTheBuildTree() {
    fbui::FreshSettings settings;
    fbui::TestPickers pickers;
    RecordingReporter reporter;
    QVERIFY(!dataDirectory().isEmpty());
    QVERIFY(openHelp(reporter));
    QCOMPARE(pickers.opened.size(), size_t(1));
    QVERIFY(pickers.opened[0].isLocalFile());
    QVERIFY(pickers.opened[0].toLocalFile().endsWith("/help/help.htm"));
    QVERIFY(QFileInfo(pickers.opened[0].toLocalFile()).isFile());

    QVERIFY(openTutorial(reporter));
    QVERIFY(pickers.opened[1].toLocalFile().endsWith("/tutorial/fbktut.htm"));
    // The tutorial's samples become the open dialogs' folder.
    const QString initDir =
        QString::fromStdString(SettingsStore(settings.path()).getString("InitDir").value_or(""));
    QCOMPARE(initDir, dataDirectory() + "/samples");
    QVERIFY(!QDir(initDir).entryList({"*.gif"}).isEmpty());
    QVERIFY(!QDir(samplesDirectory()).entryList({"*.gif"}).isEmpty());
    QVERIFY(reporter.entries().empty());

    // A page the browser cannot show is reported as missing help.
    pickers.urlResult = false;
    QVERIFY(!openHelp(reporter));
    QCOMPARE(reporter.texts(), std::vector<std::string>{text(Str::EditorHelpMissing)});
  }
};

FB_UI_TEST(HelpTest);
#include "help_test.moc"
