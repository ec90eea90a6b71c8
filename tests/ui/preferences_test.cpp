#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "base/prefs.h"
#include "base/settings_file.h"
#include "editor/dialogs/desktop_integration.h"
#include "editor/dialogs/preferences_dialog.h"
#include "editor/dialogs/purpose.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "io/options.h"
#include "resources/strings.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

namespace {

struct Bit {
  const char* id;
  int word;
  uint32_t bit;
};

// Every tick box of the sheet and the bit it stands for (inverted boxes flip the same bit).
const Bit kBoxes[] = {
    {"autoPreview", 6, 0x200000},
    {"previewLoops", 6, 0x1000},
    {"fullScreen", 6, 0x100000},
    {"hideStart", 15, 0x10},
    {"interlace", 6, 0x1000000},
    {"askMerge", 10, 0x200},
    {"keep24Bit", 6, 0x2000000},
    {"transparentOnLoad", 15, 0x20},
    {"signatureOn", 6, 0x8},
    {"fixedRate", 15, 0x4},
    {"psdLayerMask", 15, 0x1},
    {"iconXpOrder", 15, 0x100},
    {"iconPng256", 15, 0x80},
    {"filmstripNames", 15, 0x200},
    {"pngAlways24", 15, 0x400},
    {"tipsShown", 13, 0x1},
    {"tip2", 13, 0x2},
    {"tip4", 13, 0x4},
    {"tip8", 13, 0x8},
    {"tip10", 13, 0x10},
    {"tip20", 13, 0x20},
    {"tip40", 13, 0x40},
    {"tip80", 13, 0x80},
    {"tip100", 13, 0x100},
    {"tip400", 13, 0x400},
};

// The words the settings file holds, all of them.
std::vector<uint32_t> storedWords(const fbui::FreshSettings& s) {
  std::vector<uint32_t> w;
  for (int i = 0; i < pref::kWordCount; ++i) w.push_back(s.storedWord(i));
  return w;
}

}  // namespace

class PreferencesTest : public QObject {
  Q_OBJECT

 private slots:
  void everyBoxWritesItsBit() {
    for (const Bit& b : kBoxes) {
      fbui::FreshSettings settings;
      const std::vector<uint32_t> defaults = [] {
        std::vector<uint32_t> w;
        for (int i = 0; i < pref::kWordCount; ++i) w.push_back(prefGet(i));
        return w;
      }();
      RecordingReporter reporter;
      PreferencesDialog dlg(reporter, nullptr);
      find<QCheckBox>(&dlg, b.id)->toggle();
      dlg.accept();
      QVERIFY2(dlg.result() == QDialog::Accepted, b.id);
      std::vector<uint32_t> expected = defaults;
      expected[static_cast<size_t>(b.word)] ^= b.bit;
      QVERIFY2(storedWords(settings) == expected, b.id);
    }
  }

  void valuesAndTexts() {
    fbui::FreshSettings settings;
    fbui::TestPickers pickers;
    RecordingReporter reporter;
    PreferencesDialog dlg(reporter, nullptr);
    find<QSpinBox>(&dlg, "undoLevels")->setValue(7);
    find<QSpinBox>(&dlg, "defaultDelay")->setValue(65535);
    find<QSpinBox>(&dlg, "defaultPlayCount")->setValue(65536);
    find<QRadioButton>(&dlg, "sizeClip")->setChecked(true);
    find<QCheckBox>(&dlg, "sizeAsk")->setChecked(true);
    find<QSlider>(&dlg, "jpegQuality")->setValue(9);
    find<QDoubleSpinBox>(&dlg, "frameRate")->setValue(12.5);
    pickers.colours = {QColor(0x10, 0x20, 0x30)};
    find<QPushButton>(&dlg, "transparentColour")->click();
    find<QRadioButton>(&dlg, "1199")->setChecked(true);
    find<QCheckBox>(&dlg, "1204")->setChecked(true);
    find<QComboBox>(&dlg, "1289")->setCurrentText("32");
    find<QLineEdit>(&dlg, "signature")->setText(QString(255, QLatin1Char('s')));
    pickers.files = {"/usr/bin/gimp-2.10"};
    find<QPushButton>(&dlg, "chooseEditor")->click();
    for (int i = 0; i < dlg.pages()->count(); ++i) {
      dlg.pages()->setCurrentIndex(i);
      fbui::screenshot(&dlg, qPrintable("preferences-" + dlg.pages()->widget(i)->objectName()));
    }
    dlg.accept();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(reporter.entries().empty());
    QCOMPARE(settings.storedWord(pref::UndoLevels), 7u);
    QCOMPARE(settings.storedWord(pref::DefaultDelay), 65535u);
    QCOMPARE(settings.storedWord(pref::DefaultPlayCount), 65536u);
    QCOMPARE(settings.storedWord(pref::SizeConflict), 20u);
    QCOMPARE(settings.storedWord(pref::SaveType), 0x901u);
    QCOMPARE(settings.storedWord(pref::AviFrameRate), 125000u);
    QCOMPARE(settings.storedWord(pref::TransparentOnLoad), 0x302010u);
    QCOMPARE(settings.storedWord(pref::MergeMethod),
             merge::MapGlobal | merge::Dither | (5u << 16) | (8u << 20));
    QCOMPARE(settings.storedWord(pref::MoreOptions), 0x8u);  // an editor that takes layers
    SettingsStore file(settings.path());
    QCOMPARE(file.getString("Sig").value_or(""), std::string(255, 's'));
    QCOMPARE(file.getString("CoEdit").value_or(""), std::string("/usr/bin/gimp-2.10"));
  }

  void typedValuesAreChecked() {
    fbui::FreshSettings settings;
    struct Case {
      const char* field;
      int bad;
      Str message, caption;
    } cases[] = {
        {"defaultDelay", 65536, Str::InvalidDelay, Str::InvalidDelayCaption},
        {"defaultPlayCount", 65537, Str::PrefsInvalidPlayCount, Str::InvalidPlayCountCaption}};
    for (const Case& c : cases) {
      RecordingReporter reporter;
      PreferencesDialog dlg(reporter, nullptr);
      auto* spin = find<QSpinBox>(&dlg, c.field);
      spin->setValue(32767);
      spin->stepBy(1);  // the arrows stop at 32767
      QCOMPARE(spin->value(), 32767);
      spin->setValue(c.bad);
      dlg.accept();
      QVERIFY(dlg.result() != QDialog::Accepted);
      QCOMPARE(reporter.entries().size(), size_t(1));
      QCOMPARE(reporter.entries()[0].text, std::string(text(c.message)));
      QCOMPARE(reporter.entries()[0].caption, std::string(text(c.caption)));
      QCOMPARE(dlg.pages()->currentWidget()->objectName(), QStringLiteral("animationPage"));
    }
    RecordingReporter reporter;
    PreferencesDialog dlg(reporter, nullptr);
    find<QLineEdit>(&dlg, "signature")->setText(QString(256, QLatin1Char('s')));
    dlg.accept();
    QVERIFY(dlg.result() != QDialog::Accepted);
    QCOMPARE(reporter.texts(), std::vector<std::string>{text(Str::CommentTooLong)});
    QCOMPARE(reporter.entries()[0].caption, std::string(text(Str::CommentTooLongCaption)));
    // Nothing was written by the refused sheets.
    QCOMPARE(settings.storedWord(pref::DefaultDelay), 0xFFFFFFFFu);
  }

  void purposeInBothDirections() {
    fbui::FreshSettings settings;
    PrefWords w = currentWords();
    QCOMPARE(purposeOf(w), Purpose::Gif);  // the defaults
    applyPurpose(Purpose::Icon, w);
    QCOMPARE(purposeOf(w), Purpose::Icon);
    w[pref::MergeMethod] = 0x880002;
    QCOMPARE(purposeOf(w), Purpose::Other);

    // The sheet: choosing icons sets the words and the pages show them.
    RecordingReporter reporter;
    {
      PreferencesDialog dlg(reporter, nullptr);
      QVERIFY(find<QRadioButton>(&dlg, "purposeGif")->isChecked());
      find<QRadioButton>(&dlg, "purposeIcon")->setChecked(true);
      QVERIFY(find<QCheckBox>(&dlg, "keep24Bit")->isChecked());
      QVERIFY(find<QRadioButton>(&dlg, "1202")->isChecked());
      // "other" changes nothing: the words go back to how they were.
      find<QRadioButton>(&dlg, "purposeOther")->setChecked(true);
      QVERIFY(!find<QCheckBox>(&dlg, "keep24Bit")->isChecked());
      find<QRadioButton>(&dlg, "purposeIcon")->setChecked(true);
      dlg.accept();
    }
    QCOMPARE(settings.storedWord(pref::GeneralOptions) & 0x2200000u, 0x2200000u);
    QCOMPARE(settings.storedWord(pref::MergeMethod), 0x880010u);
    QCOMPARE(settings.storedWord(pref::FrameTips), 1161u);
    QCOMPARE(settings.storedWord(pref::SizeConflict), 32u);
    {
      PreferencesDialog dlg(reporter, nullptr);
      QVERIFY(find<QRadioButton>(&dlg, "purposeIcon")->isChecked());
      QVERIFY(!find<QCheckBox>(&dlg, "tip400")->isHidden());  // bit count with 24-bit data
    }

    // The first-run dialog shares the rule, and asks only once.
    PurposeDialog first;
    QVERIFY(find<QRadioButton>(&first, "purposeIcon")->isChecked());
    find<QRadioButton>(&first, "purposeGif")->setChecked(true);
    first.accept();
    QCOMPARE(settings.storedWord(pref::GeneralOptions) & 0x2000000u, 0u);
    QCOMPARE(settings.storedWord(pref::MergeMethod), 0x880001u);
    QCOMPARE(settings.storedWord(pref::FrameTips), 173u);
    fbui::screenshot(&first, "purpose-313");
    prefSetBits(pref::MoreOptions, 0x40, true);
    askPurposeOnFirstRun(nullptr);  // answered already: returns at once
  }

  void interlaceOffClearsTheDocumentsFlags() {
    fbui::FreshSettings settings;
    prefSetBits(pref::GeneralOptions, 0x1000000, true);
    OpenOptions keep = openOptionsFromPreferences();
    OpenDocument doc;
    RecordingReporter quiet;
    {
      ScopedReporter scope(quiet);
      QVERIFY(openFile(FB_TEST_DATA "/gif-real/testsrc2-interlaced-64.gif", doc.animation, nullptr,
                       keep) != 0);
    }
    QVERIFY(doc.animation->frame(0)->interlaced());
    doc.animation->encodedSize = 1;
    RecordingReporter reporter;
    PreferencesDialog dlg(reporter, &doc);
    find<QCheckBox>(&dlg, "interlace")->setChecked(false);
    dlg.accept();
    QVERIFY(dlg.documentChanged());
    QVERIFY(doc.modified);
    for (int i = 0; i < doc.animation->frameCount(); ++i)
      QVERIFY(!doc.animation->frame(i)->interlaced());
    QCOMPARE(doc.animation->encodedSize,
             encodedSize(*doc.animation, true, nullptr, gifWriteOptionsFromPreferences()));
    QVERIFY(!dlg.frameTipsShown());
  }

  void gifAssociation() {
    fbui::FreshSettings settings;
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QByteArray path = qgetenv("PATH");
    {
      // Without xdg-mime the association fails with the message.
      qputenv("PATH", data.path().toUtf8());
      RecordingReporter reporter;
      PreferencesDialog dlg(reporter, nullptr);
      QVERIFY(!find<QCheckBox>(&dlg, "associateGif")->isChecked());
      find<QCheckBox>(&dlg, "associateGif")->setChecked(true);
      dlg.accept();
      qputenv("PATH", path);
      QCOMPARE(reporter.texts(), std::vector<std::string>{text(Str::AssociationFailed)});
    }
    // xdg-mime takes only an entry whose program exists.
    const QString program = data.path() + "/bin/flickbook";
    QVERIFY(QDir().mkpath(data.path() + "/bin"));
    QVERIFY(QFile::link("/bin/true", program));
    QVERIFY(makeDefaultForGif(program));
    QVERIFY(isDefaultForGif());
    QFile entry(data.path() + "/applications/" + kDesktopEntryName);
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains(("Exec=" + program + " %f").toUtf8()));
    // A name with a blank is quoted.
    QVERIFY(writeDesktopEntry("/opt/flick book/flickbook"));
    entry.close();
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("Exec=\"/opt/flick book/flickbook\" %f"));
  }
};

FB_UI_TEST(PreferencesTest);
#include "preferences_test.moc"
