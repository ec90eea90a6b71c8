// The window's dialogs, each opened through its menu action and answered
// through the injected dialog runner: the change is one undo step that undo
// takes back exactly; cancelling changes nothing.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QSpinBox>

#include "editor/dialogs/frame_count_dialog.h"
#include "editor/dialogs/merge_dialogs.h"
#include "editor/dialogs/optimize_dialog.h"
#include "editor/dialogs/preferences_dialog.h"
#include "editor/dialogs/reduce_colours_dialog.h"
#include "editor/dialogs/save_as_dialog.h"
#include "editor_fixture.h"
#include "editor_suites.h"
#include "imaging/palette_merge.h"
#include "io/open_save.h"
#include "resources/strings.h"

using namespace fb;
using namespace edtest;

namespace {

// Frames that differ from the first in one pixel only: the optimizer has much to gain.
std::unique_ptr<Animation> nearlyStill(int frames) {
  auto a = makeDoc(frames, 16, 16);
  for (int i = 1; i < frames; ++i)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) a->frame(i)->dib->row(y)[x] = a->frame(0)->dib->row(y)[x];
  for (int i = 1; i < frames; ++i) a->frame(i)->dib->row(i)[i] ^= 1;
  return a;
}

class DialogSuite : public QObject {
  Q_OBJECT

 private slots:
  void optimize() {
    Harness h;
    MainWindow w;
    load(w, nearlyStill(4));
    uint32_t trialOptions = 0;
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto& dlg = as<ui::OptimizeDialog>(d);
      control<QCheckBox>(&dlg, "1122")->setChecked(false);  // no transparency
      dlg.show();
      QCoreApplication::processEvents();  // the trial starts once shown
      dlg.finishTrial();
      QVERIFY(dlg.trialValid());
      trialOptions = dlg.validTrialOptions();
      control<QAbstractButton>(&dlg, "ok")->click();
    });
    checkOneStep(w, cmd::Optimize, "优化动画");
    QCOMPARE(h.dialogs.shown, QStringList{"169"});
    QCOMPARE(trialOptions & opt::Transparency, 0u);
    QCOMPARE(prefGet(pref::OptimizeOptions) & opt::Transparency, 0u);
    // The second frame keeps only the pixel that changes from the first.
    Frame* f = w.context().animation()->frame(1);
    QCOMPARE(f->width * f->height, 1);
    QVERIFY(h.reporter.entries().empty());
  }

  void reduceColoursWithALockedColour() {
    Harness h;
    MainWindow w;
    // Sixteen colours, every one used: blue among them.
    auto doc = makeDoc(3, 8, 8);
    Rgb colours[16];
    for (int i = 0; i < 16; ++i)
      colours[i] = Rgb{uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i % 3 * 100)};
    const Rgb blue{0, 0, 255};
    colours[5] = blue;
    setGlobalPalette(*doc, makePalette(colours, 16));
    for (int i = 0; i < 3; ++i) {
      Frame* f = doc->frame(i);
      f->dib = createBitmap(8, 8, doc->globalPalette.get());
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) f->dib->row(y)[x] = uint8_t((x + 2 * y + i) % 16);
    }
    load(w, std::move(doc));
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto& dlg = as<ui::ReduceColoursDialog>(d);
      control<QComboBox>(&dlg, "1076")->setEditText("8");
      control<QAbstractButton>(&dlg, "1270")->click();  // the locked colours, answered next
      QCOMPARE(dlg.lockedColours(), std::vector<Rgb>{blue});
      control<QAbstractButton>(&dlg, "ok")->click();
    });
    h.dialogs.answers.push_back([&](QDialog& d) {
      as<ui::LockedColoursDialog>(d).toggle(blue);
      d.accept();
    });
    checkOneStep(w, cmd::ReduceColours, "缩减调色板");
    QCOMPARE(h.dialogs.shown, (QStringList{"175", "273"}));
    const Palette* p = w.context().animation()->frame(0)->palette();
    QVERIFY(p->count <= 8);
    bool kept = false;
    for (int i = 0; i < p->count; ++i) kept = kept || (*p)[i] == blue;
    QVERIFY(kept);
  }

  void frameCountReduction() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(6));
    h.dialogs.answers.push_back([](QDialog& d) {
      control<QSpinBox>(&d, "1069")->setValue(3);
      d.accept();
    });
    checkOneStep(w, cmd::Thin, "减少帧计数");
    QCOMPARE(h.dialogs.shown, QStringList{"227"});
    // Frames 3 and 6 go; their time joins the frame before.
    Animation* a = w.context().animation();
    QCOMPARE(a->frameCount(), 4);
    QCOMPARE(a->frame(1)->delay, 20 + 30);
    QCOMPARE(a->frame(3)->delay, 50 + 60);
  }

  void insertionAsksForTheMergeMethod() {
    Harness h;
    prefSet(pref::MergeMethod, prefGet(pref::MergeMethod) | merge::Ask);
    MainWindow w;
    load(w, makeDoc(2));
    // A picture in true colour: its colours must join the palette.
    QImage picture(6, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) picture.setPixel(x, y, qRgb(40 * x, 60 * y, 200));
    const std::string path = h.dir.path() + "/other.png";
    QVERIFY(picture.save(QString::fromStdString(path)));
    h.files.opens.push_back({QString::fromStdString(path)});
    h.dialogs.answers.push_back([](QDialog& d) {
      control<QAbstractButton>(&d, "1199")->click();  // map onto the global palette
      control<QCheckBox>(&d, "1205")->setChecked(true);
      d.accept();
    });
    checkOneStep(w, cmd::InsertFrames, "插入帧");
    QCOMPARE(h.dialogs.shown, QStringList{"201"});
    QCOMPARE(w.context().frameCount(), 3);
    // Made the default: stored without "ask every time", so the next insertion does not ask.
    const uint32_t stored = prefRaw(pref::MergeMethod);
    QCOMPARE(stored & merge::Ask, 0u);
    QCOMPARE(stored & merge::MethodBits, merge::MapGlobal);
    h.files.opens.push_back({QString::fromStdString(path)});
    act(w, cmd::InsertFrames)->trigger();
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(w.context().frameCount(), 4);
  }

  void preferencesTakeInterlacingOff() {
    Harness h;
    prefSetBits(pref::GeneralOptions, 0x1000000, true);
    MainWindow w;
    auto doc = makeDoc(3);
    doc->frame(0)->imageFlags |= 0x40;
    doc->frame(2)->imageFlags |= 0x40;
    load(w, std::move(doc));
    h.dialogs.answers.push_back([](QDialog& d) {
      control<QCheckBox>(&d, "interlace")->setChecked(false);
      control<QSpinBox>(&d, "undoLevels")->setValue(7);
      control<QCheckBox>(&d, "tipsShown")->setChecked(true);
      d.accept();
    });
    checkOneStep(w, cmd::Preferences, "隔行扫描");
    QCOMPARE(h.dialogs.shown, QStringList{"preferences"});
    for (int i = 0; i < 3; ++i) QVERIFY(!w.context().animation()->frame(i)->interlaced());
    QCOMPARE(w.context().history().levels(), 7);
    QVERIFY(act(w, cmd::FrameTips)->isChecked());
    QVERIFY(w.runCommand(cmd::Undo));
    QVERIFY(w.context().animation()->frame(2)->interlaced());
  }

  void saveAsAviWithTheFix() {
    Harness h;
    setSaveAsDialog(nullptr);  // the window's own, with the AVI panel
    MainWindow w;
    auto doc = makeDoc(3);
    setTransparent(*doc->frame(1), true);  // a video cannot show it until fixed
    setTransparentIndex(*doc->frame(1), 2);
    load(w, std::move(doc));
    const std::string path = h.dir.path() + "/clip.avi";
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto& panel = as<ui::AviSaveAsPanel>(d);
      control<QLineEdit>(&panel, "saveName")->setText(QString::fromStdString(path));
      auto* type = control<QComboBox>(&panel, "saveType");
      type->setCurrentIndex(type->findData(kTypeAvi));
      QVERIFY(panel.aviPanel() && !panel.aviPanel()->ready());
      control<QAbstractButton>(&panel, "fix")->click();
      QVERIFY(panel.aviPanel()->ready());
      control<QAbstractButton>(&panel, "none")->click();  // uncompressed
      panel.accept();
    });
    const std::string before = docDigest(w);
    act(w, cmd::SaveAs)->trigger();
    QCOMPARE(h.dialogs.shown, QStringList{"saveAsPanel"});
    QVERIFY(QFile(QString::fromStdString(path)).size() > 0);
    QCOMPARE(w.context().path(), path);
    QVERIFY(!w.context().modified());
    QCOMPARE(w.context().history().steps(), size_t(1));
    QCOMPARE(w.context().history().undoName(), std::string("Fix for AVI"));
    QCOMPARE(aviExportTraits(*w.context().animation()) & avitraits::NeedsFix, 0u);
    QVERIFY(w.runCommand(cmd::Undo));
    QCOMPARE(docDigest(w), before);
    QVERIFY(w.context().modified());
    QVERIFY(h.reporter.entries().empty());
  }

  void cancelledDialogsChangeNothing() {
    Harness h;
    MainWindow w;
    load(w, nearlyStill(3));
    const std::string before = docDigest(w);
    for (int id : {cmd::Optimize, cmd::ReduceColours, cmd::Thin, cmd::Preferences}) {
      QVERIFY(!w.runCommand(id));  // no answer: cancelled
      QCOMPARE(docDigest(w), before);
    }
    QCOMPARE(h.dialogs.shown, (QStringList{"169", "175", "227", "preferences"}));
    QCOMPARE(w.context().history().steps(), size_t(0));
    QVERIFY(!w.context().modified());
    QCOMPARE(prefRaw(pref::OptimizeOptions), 0x46Eu);
    // The size count resumes after a cancelled dialog.
    QVERIFY(w.documentSize() > 0);

    // A palette of two colours cannot be reduced: said, and no dialog opens.
    auto two = makeDoc(2);
    Rgb bw[2] = {{0, 0, 0}, {255, 255, 255}};
    setGlobalPalette(*two, makePalette(bw, 2));
    for (int i = 0; i < 2; ++i) two->frame(i)->dib = createBitmap(6, 4, two->globalPalette.get());
    load(w, std::move(two));
    QVERIFY(!w.runCommand(cmd::ReduceColours));
    QCOMPARE(h.dialogs.shown.size(), 4);
    QVERIFY(h.reporter.contains(text(Str::NonReducible)));
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeDialogSuite() {
  return std::make_unique<DialogSuite>();
}

#include "dialog_test.moc"
