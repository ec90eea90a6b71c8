#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "base/prefs.h"
#include "editor/dialogs/merge_dialogs.h"
#include "editor/dialogs/palette_controls.h"
#include "imaging/palette_merge.h"
#include "io/options.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

class ChoosersTest : public QObject {
  Q_OBJECT

 private slots:
  void mergeMethodWord() {
    fbui::FreshSettings settings;
    RecordingReporter reporter;
    MergeMethodDialog dlg(0x880001, reporter);
    QVERIFY(find<QRadioButton>(&dlg, "1197")->isChecked());
    QCOMPARE(find<QComboBox>(&dlg, "1289")->currentText(), QStringLiteral("256"));
    fbui::screenshot(&dlg, "palette-merge-201");
    find<QRadioButton>(&dlg, "1198")->setChecked(true);
    find<QCheckBox>(&dlg, "1204")->setChecked(true);
    find<QComboBox>(&dlg, "1289")->setCurrentText("64");
    find<QComboBox>(&dlg, "1203")->setCurrentText("16");
    dlg.accept();
    auto c = dlg.choice();
    QVERIFY(c.accepted);
    QCOMPARE(c.method, merge::MergeGlobal | merge::Dither | (6u << 16) | (4u << 20));
    QVERIFY(!c.makeDefault);
    // Not made the default: the stored word stays.
    QtMergeChooser::remember(c);
    QCOMPARE(settings.storedWord(pref::MergeMethod), 0xFFFFFFFFu);

    MergeMethodDialog again(merge::Cube | merge::Ask, reporter);
    QVERIFY(find<QRadioButton>(&again, "1200")->isChecked());
    find<QCheckBox>(&again, "1205")->setChecked(true);
    again.accept();
    QtMergeChooser::remember(again.choice());
    // "以此作为默认设置且不再提示": stored without "ask every time".
    QCOMPARE(settings.storedWord(pref::MergeMethod), merge::Cube | 0x880000u);
    QCOMPARE(resolveMergeMethod(0, mergeOptionsFromPreferences(), nullptr),
             merge::Cube | 0x880000u);

    MergeMethodDialog cancelled(0x880001, reporter);
    cancelled.reject();
    QVERIFY(!cancelled.choice().accepted);
  }

  void fixedMethodNeedsAPalette() {
    fbui::FreshSettings settings;
    fbui::TestPickers pickers;
    RecordingReporter reporter;
    MergeMethodPanel panel(reporter);
    panel.setWord(0x880001);
    // No stored palette and the load cancelled: the recommended method stands.
    find<QRadioButton>(&panel, "1201")->setChecked(true);
    QCOMPARE(pickers.titles.size(), size_t(1));
    QVERIFY(find<QRadioButton>(&panel, "1197")->isChecked());
    // A palette taken from a picture is stored and the method kept.
    pickers.files = {QString::fromUtf8(FB_TEST_DATA "/gif-real/screen-sprite-ffmpeg.gif")};
    find<QRadioButton>(&panel, "1201")->setChecked(true);
    QVERIFY(find<QRadioButton>(&panel, "1201")->isChecked());
    auto fixed = loadFixedPalette();
    QVERIFY(fixed);
    QCOMPARE(fixed->count, 256);
    QCOMPARE(panel.word() & merge::MethodBits, merge::Fixed);

    // Editing an entry stores the palette again.
    pickers.colours = {QColor(1, 2, 3)};
    FixedPaletteDialog edit;
    find<QPushButton>(&edit, "entry5")->click();
    edit.accept();
    QCOMPARE((*loadFixedPalette())[5], (Rgb{1, 2, 3}));
  }

  void sizeConflict() {
    fbui::FreshSettings settings;
    SizeConflictDialog dlg(false);
    QVERIFY(find<QRadioButton>(&dlg, "clip")->isChecked());
    fbui::screenshot(&dlg, "frame-size-108");
    find<QRadioButton>(&dlg, "grow")->setChecked(true);
    dlg.accept();
    QCOMPARE(dlg.choice().size, MergeChooser::Size::Grow);
    QtMergeChooser::remember(dlg.choice());
    QCOMPARE(settings.storedWord(pref::SizeConflict), 0xFFFFFFFFu);

    SizeConflictDialog second(true);
    find<QRadioButton>(&second, "clip")->setChecked(true);
    find<QCheckBox>(&second, "makeDefault")->setChecked(true);
    second.accept();
    QtMergeChooser::remember(second.choice());
    QCOMPARE(settings.storedWord(pref::SizeConflict), 16u);
    QCOMPARE(mergeOptionsFromPreferences().sizeRule, 16u);

    SizeConflictDialog cancelled(true);
    cancelled.reject();
    QCOMPARE(cancelled.choice().size, MergeChooser::Size::Cancel);
  }
};

FB_UI_TEST(ChoosersTest);
#include "choosers_test.moc"
