#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "base/prefs.h"
#include "document/history.h"
#include "editor/dialogs/frame_count_dialog.h"
#include "editor/dialogs/reduce_colours_dialog.h"
#include "editor/dialogs/widgets.h"
#include "imaging/edits.h"
#include "imaging/reduce.h"
#include "resources/strings.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

class ReduceDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void previewEqualsTheResult() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    QVERIFY(doc);
    RecordingReporter reporter;
    ReduceColoursDialog dlg(*doc, reporter);
    auto* count = find<QComboBox>(&dlg, "1076");
    QCOMPARE(largestPaletteSize(*doc), 256);
    QCOMPARE(dlg.colours(), 128);  // half the largest palette
    dlg.show();
    fbui::deliver();
    QCOMPARE(dlg.previewsStarted(), 1);
    // Each change starts again; a typed count is clamped.
    count->setEditText("300");
    QCOMPARE(dlg.colours(), 256);
    count->setEditText("1");
    QCOMPARE(dlg.colours(), 2);
    count->setEditText("16");
    find<QCheckBox>(&dlg, "1077")->setChecked(true);
    QVERIFY(dlg.previewsStarted() >= 4);
    find<QPushButton>(&dlg, "nextFrame")->click();
    QCOMPARE(dlg.shownPicture(), 1);
    dlg.finishPreview();
    QVERIFY(!dlg.afterView().image().isNull());
    QVERIFY(find<QLabel>(&dlg, "saving")->text().startsWith(QString::fromUtf8("保存")));
    const QImage preview = dlg.afterView().image();
    fbui::screenshot(&dlg, "reduce-colours-175");

    find<QPushButton>(&dlg, "ok")->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    History history(20);
    QCOMPARE(runEdit(*doc, history, dlg.edit(), 0, nullptr), 1);
    QCOMPARE(history.undoName(), std::string(text(Str::UndoReduceColours)));
    PictureCache cache(*doc);
    Rgba result;
    QVERIFY(cache.picture(1, result));
    QCOMPARE(toImage(result), preview);
    QCOMPARE(find<QLabel>(&dlg, "afterColours")->text(),
             QString::fromUtf8(format(Str::ColourCount, largestPaletteSize(*doc))));
    // Word 8 keeps the dither choice and the count.
    QCOMPARE(settings.storedWord(pref::Preview), (1u << 16) | 16u);
    QVERIFY(reporter.entries().empty());
  }

  void highQualityReachesPreviewAndResult() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    auto same = duplicateAnimation(*doc, nullptr);
    auto plain = duplicateAnimation(*doc, nullptr);
    RecordingReporter reporter;
    ReduceColoursDialog dlg(*doc, reporter);
    auto* quality = find<QCheckBox>(&dlg, "highQuality");
    QVERIFY(!quality->isChecked());
    dlg.show();
    fbui::deliver();
    find<QComboBox>(&dlg, "1076")->setEditText("16");
    const int started = dlg.previewsStarted();
    quality->setChecked(true);
    QCOMPARE(dlg.previewsStarted(), started + 1);
    dlg.finishPreview();
    const QImage preview = dlg.afterView().image();
    find<QPushButton>(&dlg, "ok")->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));

    History history(20);
    QCOMPARE(runEdit(*doc, history, dlg.edit(), 0, nullptr), 1);
    QCOMPARE(runEdit(*same, history, reduceColoursEdit(16, false, {}, true), 0, nullptr), 1);
    QCOMPARE(fbui::gifBytes(*doc), fbui::gifBytes(*same));
    PictureCache cache(*doc);
    Rgba result;
    QVERIFY(cache.picture(0, result));
    QCOMPARE(toImage(result), preview);
    // The mode changes this file's palettes, so a preview without it would differ.
    QCOMPARE(runEdit(*plain, history, reduceColoursEdit(16, false), 0, nullptr), 1);
    QVERIFY(fbui::gifBytes(*doc) != fbui::gifBytes(*plain));
  }

  void lockedColoursAreKept() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    RecordingReporter reporter;
    LockedColoursDialog locked(*doc, {}, 0);
    const Rgb pick = (*doc->globalPalette)[doc->globalPalette->count - 1];
    find<QPushButton>(&locked,
                      qPrintable(QStringLiteral("entry%1").arg(doc->globalPalette->count - 1)))
        ->click();
    QCOMPARE(locked.colours(), std::vector<Rgb>{pick});
    locked.toggle(pick);  // a second click lets it go
    QVERIFY(locked.colours().empty());
    locked.toggle(pick);
    fbui::screenshot(&locked, "locked-colours-273");

    ReduceColoursDialog dlg(*doc, reporter);
    dlg.show();
    fbui::deliver();
    find<QComboBox>(&dlg, "1076")->setEditText("8");
    dlg.setLockedColours(locked.colours());
    dlg.finishPreview();
    dlg.accept();
    History history(20);
    QCOMPARE(runEdit(*doc, history, dlg.edit(), 0, nullptr), 1);
    const Palette& p = *doc->globalPalette;
    QVERIFY(std::find(p.entries.begin(), p.entries.begin() + p.count, pick) !=
            p.entries.begin() + p.count);
  }

  void smallPalettesCannotBeReduced() {
    fbui::FreshSettings settings;
    auto doc = newAnimation(4, 4);
    doc->globalPalette = makePalette(nullptr, 2);
    RecordingReporter reporter;
    ReduceColoursDialog dlg(*doc, reporter);
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(reporter.entries().size(), size_t(1));
    QCOMPARE(reporter.entries()[0].caption, std::string(text(Str::NonReducibleCaption)));
  }

  void frameCountIntervalIsChecked() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    const int frames = doc->frameCount();
    int total = 0;
    for (int i = 0; i < frames; ++i) total += doc->frame(i)->delay;
    RecordingReporter reporter;
    FrameCountDialog dlg(*doc, reporter);
    auto* interval = find<QSpinBox>(&dlg, "1069");
    QCOMPARE(interval->value(), 2);
    QCOMPARE(find<QLabel>(&dlg, "1225")->text(), QString::number(frames));
    QCOMPARE(find<QLabel>(&dlg, "1226")->text(), QString::number(frames - frames / 2));
    // The arrows keep to 2..frames; a typed value outside shows "?" and is refused.
    interval->stepBy(-5);
    QCOMPARE(interval->value(), 2);
    interval->setValue(frames + 1);
    QCOMPARE(find<QLabel>(&dlg, "1226")->text(), QStringLiteral("?"));
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(dlg.result() != QDialog::Accepted);
    QCOMPARE(reporter.entries().size(), size_t(1));
    QCOMPARE(reporter.entries()[0].caption, std::string(text(Str::ThinIntervalCaption)));
    QCOMPARE(reporter.entries()[0].text, std::string(text(Str::ThinIntervalInvalid)));

    interval->setValue(3);
    dlg.accept();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    History history(20);
    QCOMPARE(runEdit(*doc, history, dlg.edit(), 0, nullptr), 1);
    QCOMPARE(doc->frameCount(), frames - frames / 3);
    int after = 0;
    for (int i = 0; i < doc->frameCount(); ++i) after += doc->frame(i)->delay;
    QCOMPARE(after, total);
    QCOMPARE(history.undoName(), std::string(text(Str::UndoThin)));
    fbui::screenshot(&dlg, "frame-count-227");
  }
};

FB_UI_TEST(ReduceDialogsTest);
#include "reduce_dialogs_test.moc"
