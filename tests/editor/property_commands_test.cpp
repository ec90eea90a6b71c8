// The property, comment, timing, palette and pixel commands through the
// window: each opens its dialog and what the dialog collected is one undo
// step that undo takes back exactly; a dialog cancelled or left as it was
// changes nothing.
#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>

#include "document/properties.h"
#include "editor/dialogs/palette_editor.h"
#include "editor/dialogs/pixel_editor.h"
#include "editor/dialogs/property_dialogs.h"
#include "editor_fixture.h"
#include "editor/property_bar.h"
#include "editor_suites.h"
#include "formats/image_files.h"

using namespace fb;
using namespace edtest;

namespace {

void clickOk(QDialog& d) {
  control<QAbstractButton>(&d, "ok")->click();
}

class PropertySuite : public QObject {
  Q_OBJECT

 private slots:
  void everyCommandIsOneStep() {
    struct Case {
      int command;
      const char* dialog;
      const char* step;
      ScriptedDialogs::Answer answer;
    };
    const Case cases[] = {
        {cmd::FrameProperties, "frameProperties", "帧属性",
         [](QDialog& d) {
           control<QLineEdit>(&d, "delay")->setText("77");
           clickOk(d);
         }},
        {cmd::AllFrameProperties, "allFrameProperties", "全局属性",
         [](QDialog& d) {
           control<QComboBox>(&d, "disposal")->setCurrentIndex(3);
           clickOk(d);
         }},
        {cmd::AnimationProperties, "animationProperties", "动画属性",
         [](QDialog& d) {
           control<QLineEdit>(&d, "playCount")->setText("5");
           clickOk(d);
         }},
        {cmd::Comment, "comments", "GIF 注释",
         [](QDialog& d) {
           control<QAbstractButton>(&d, "add")->click();
           control<QPlainTextEdit>(&d, "text")->setPlainText("hello");
           clickOk(d);
         }},
        {cmd::Timing, "timing", "时间",
         [](QDialog& d) {
           control<QTableWidget>(&d, "delays")->item(1, 1)->setText("3");
           clickOk(d);
         }},
        {cmd::GlobalPalette, "paletteEditor", "全局调色板",
         [](QDialog& d) {
           as<ui::PaletteEditorDialog>(d).moveEntry(1);
           clickOk(d);
         }},
        {cmd::EditPixels, "pixelEditor", "编辑像素",
         [](QDialog& d) {
           auto& dlg = as<ui::PixelEditorDialog>(d);
           dlg.setColour(3);
           dlg.press({0, 0});
           dlg.release();
           clickOk(d);
         }},
    };
    for (const Case& c : cases) {
      Harness h;
      MainWindow w;
      load(w, makeDoc(3));
      h.dialogs.answers.push_back(c.answer);
      checkOneStep(w, c.command, c.step);
      QCOMPARE(h.dialogs.shown, QStringList{c.dialog});
      QVERIFY2(h.reporter.entries().empty(), c.dialog);
    }
  }

  void toolbarPickClosesWithThePick() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    w.context().selectOnly(1);
    h.dialogs.answers.push_back(
        [](QDialog& d) { as<ui::PixelEditorDialog>(d).press({1, 0}); });  // entry 2 there
    control<QToolButton>(w.propertyBar(), "40042")->click();
    QCOMPARE(h.dialogs.shown, QStringList{"pixelEditor"});
    QCOMPARE(w.context().history().undoName(), std::string("透明度"));
    Frame* f = w.context().frame(1);
    QVERIFY(f->transparent());
    QCOMPARE(int(f->transparentIndex), 2);
    QVERIFY(!w.context().frame(0)->transparent());
    QVERIFY(w.runCommand(cmd::Undo));
    QVERIFY(!w.context().frame(1)->transparent());
  }

  void localPaletteOfTheCurrentFrame() {
    Harness h;
    MainWindow w;
    auto doc = makeDoc(2);
    Rgb greys[4] = {{9, 9, 9}, {90, 90, 90}, {150, 150, 150}, {200, 200, 200}};
    setLocalPalette(*doc->frame(1), makePalette(greys, 4));
    load(w, std::move(doc));
    QVERIFY(!act(w, cmd::LocalPalette)->isEnabled());
    w.context().selectOnly(1);
    w.updateCommands();
    QVERIFY(act(w, cmd::LocalPalette)->isEnabled());
    h.files.colours.push_back(QColor(1, 2, 3));
    h.dialogs.answers.push_back([](QDialog& d) {
      control<QAbstractButton>(&d, "editColour")->click();
      clickOk(d);
    });
    checkOneStep(w, cmd::LocalPalette, "局部调色板");
    QCOMPARE((*w.context().frame(1)->localPalette)[0], (Rgb{1, 2, 3}));
    QCOMPARE((*w.context().animation()->globalPalette)[0], (Rgb{0, 0, 0}));
  }

  void paletteSavesWhatItShows() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(1));
    const QString path = QString::fromStdString(h.dir.path() + "/saved.pal");
    h.files.colours.push_back(QColor(10, 20, 30));
    h.files.saves.push_back(path);
    h.dialogs.answers.push_back([](QDialog& d) {
      control<QAbstractButton>(&d, "editColour")->click();
      control<QAbstractButton>(&d, "save")->click();
      d.reject();
    });
    const std::string before = docDigest(w);
    QVERIFY(!w.runCommand(cmd::GlobalPalette));
    QCOMPARE(docDigest(w), before);  // cancelled: the file holds the edit, the document not
    std::unique_ptr<Palette> saved;
    QVERIFY(ReadPaletteFile(path.toStdString(), saved));
    QCOMPARE(saved->count, 4);
    QCOMPARE((*saved)[0], (Rgb{10, 20, 30}));
  }

  void unchangedOrCancelledLeavesNoStep() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(3));
    const std::string before = docDigest(w);
    for (int id : {cmd::FrameProperties, cmd::AllFrameProperties, cmd::AnimationProperties,
                   cmd::Comment, cmd::Timing, cmd::GlobalPalette, cmd::EditPixels}) {
      h.dialogs.answers.push_back(clickOk);  // OK with nothing changed
      QVERIFY(!w.runCommand(id));
      QVERIFY(!w.runCommand(id));  // no answer: cancelled
    }
    QCOMPARE(h.dialogs.shown.size(), 14);
    QCOMPARE(docDigest(w), before);
    QVERIFY(!w.context().modified());
    QVERIFY(!w.context().history().canUndo());
    QVERIFY(h.reporter.entries().empty());
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makePropertySuite() {
  return std::make_unique<PropertySuite>();
}

#include "property_commands_test.moc"
