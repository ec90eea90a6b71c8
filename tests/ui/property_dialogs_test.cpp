// The property, comment, timing, palette and pixel dialogs: what each refuses
// (and says), and that what it collected is one undo step that undo takes
// back exactly.
#include "editor/dialogs/property_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "document/history.h"
#include "document/properties.h"
#include "editor/dialogs/palette_editor.h"
#include "editor/dialogs/pixel_editor.h"
#include "formats/image_files.h"
#include "imaging/edits.h"
#include "resources/strings.h"
#include "testutil.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

namespace {

// Runs the dialog's edit as one step named `step`; undo must give back `doc` exactly.
void oneStep(Animation& doc, const std::optional<Edit>& edit, const char* step) {
  QVERIFY(edit);
  const std::vector<uint8_t> before = fbui::gifBytes(doc);
  const std::vector<std::string> commentsBefore = comments(doc);
  History history(20);
  QCOMPARE(runEdit(doc, history, *edit, 0, nullptr), 1);
  QCOMPARE(history.steps(), size_t(1));
  QCOMPARE(history.undoName(), std::string(step));
  int current = 0;
  QVERIFY(history.undo(doc, current));
  QVERIFY(fbui::gifBytes(doc) == before);
  QVERIFY(comments(doc) == commentsBefore);
  QVERIFY(history.redo(doc, current));
}

bool saidOnly(const RecordingReporter& r, Str caption) {
  auto e = r.entries();
  return e.size() == 1 && e[0].caption == text(caption);
}

}  // namespace

class PropertyDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void frameFieldsAreCheckedAsTheToolbarDoes() {
    auto doc = fbui::blankAnimation(3);
    doc->frame(1)->delay = 20;  // frames 0 and 1 differ
    RecordingReporter reporter;
    FramePropertiesDialog dlg(*doc, {0, 1}, false, reporter);
    auto* delay = find<QLineEdit>(&dlg, "delay");
    QCOMPARE(delay->text(), QString());           // differing delays show blank
    QVERIFY(!dlg.findChild<QLineEdit*>("name"));  // name and position: one frame only
    dlg.show();
    for (const char* typed : {"abc", "65536", "-1"}) {
      reporter.clear();
      delay->setText(typed);
      find<QPushButton>(&dlg, "ok")->click();
      QVERIFY2(saidOnly(reporter, Str::InvalidDelayCaption), typed);
      QCOMPARE(delay->text(), QString("65535"));
      QVERIFY(dlg.isVisible());
    }
    delay->setText("25");
    find<QCheckBox>(&dlg, "interlaced")->setChecked(true);
    find<QPushButton>(&dlg, "ok")->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    oneStep(*doc, dlg.edit(), "帧属性");
    QCOMPARE(doc->frame(0)->delay, 25);
    QCOMPARE(doc->frame(1)->delay, 25);
    QVERIFY(doc->frame(1)->interlaced());
    QCOMPARE(doc->frame(2)->delay, 10);  // not among the frames
    QVERIFY(!doc->frame(2)->interlaced());
    fbui::screenshot(&dlg, "frame-properties");
  }

  void allFramesTouchOnlyWhatWasSet() {
    auto doc = fbui::blankAnimation(3);
    doc->frame(2)->delay = 40;
    RecordingReporter reporter;
    {
      FramePropertiesDialog untouched(*doc, {}, true, reporter);
      untouched.accept();
      QVERIFY(!untouched.edit());  // nothing changed: no step
    }
    FramePropertiesDialog dlg(*doc, {}, true, reporter);
    QVERIFY(!dlg.findChild<QSpinBox*>("left"));
    find<QComboBox>(&dlg, "disposal")->setCurrentIndex(2);
    find<QCheckBox>(&dlg, "transparent")->setChecked(true);
    find<QSpinBox>(&dlg, "transparentIndex")->setValue(3);
    dlg.accept();
    oneStep(*doc, dlg.edit(), "全局属性");
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(doc->frame(i)->disposal(), 2);
      QVERIFY(doc->frame(i)->transparent());
      QCOMPARE(int(doc->frame(i)->transparentIndex), 3);
    }
    QCOMPARE(doc->frame(2)->delay, 40);  // left blank: kept
    QVERIFY(reporter.entries().empty());
  }

  void oneFrameNameAndPosition() {
    auto doc = fbui::blankAnimation(2);
    RecordingReporter reporter;
    FramePropertiesDialog dlg(*doc, {1}, false, reporter);
    QCOMPARE(find<QLineEdit>(&dlg, "delay")->text(), QString("10"));
    find<QSpinBox>(&dlg, "left")->setValue(4);
    find<QLineEdit>(&dlg, "name")->setText(QString::fromUtf8("跑"));
    dlg.accept();
    oneStep(*doc, dlg.edit(), "帧属性");
    QCOMPARE(doc->frame(1)->left, 4);
    QCOMPARE(frameName(*doc->frame(1)), std::string("跑"));
    QCOMPARE(doc->frame(0)->left, 0);
  }

  void fieldsLeftAsShownChangeNothing() {
    // Values the fields cannot show (a frame centred on a smaller screen, a
    // screen of no size) are changes only when the user sets them.
    auto doc = fbui::blankAnimation(1);
    doc->frame(0)->left = -3;
    doc->width = 0;
    RecordingReporter reporter;
    AnimationPropertiesDialog screen(*doc, reporter);
    screen.accept();
    QVERIFY(!screen.edit());
    FramePropertiesDialog dlg(*doc, {0}, false, reporter);
    find<QLineEdit>(&dlg, "delay")->setText("30");
    dlg.accept();
    QVERIFY(dlg.edit());
    QCOMPARE(dlg.edit()->apply(*doc, nullptr), 1);
    QCOMPARE(doc->frame(0)->delay, 30);
    QCOMPARE(doc->frame(0)->left, -3);
  }

  void animationPlayCountIsChecked() {
    auto doc = fbui::blankAnimation(2);
    RecordingReporter reporter;
    AnimationPropertiesDialog dlg(*doc, reporter);
    auto* count = find<QLineEdit>(&dlg, "playCount");
    count->setText("65537");
    dlg.show();
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(saidOnly(reporter, Str::InvalidPlayCountCaption));
    QCOMPARE(count->text(), QString("0"));
    QVERIFY(dlg.isVisible());
    count->setText("3");
    find<QSpinBox>(&dlg, "width")->setValue(20);
    find<QSpinBox>(&dlg, "background")->setValue(2);
    find<QPushButton>(&dlg, "ok")->click();
    oneStep(*doc, dlg.edit(), "动画属性");
    QCOMPARE(doc->width, 20);
    QCOMPARE(doc->height, 8);
    QCOMPARE(doc->playCount, 3);
    QCOMPARE(int(doc->backgroundIndex), 2);
  }

  void commentsEditedAddedAndRemovedAsOneStep() {
    auto doc = fbui::blankAnimation(1);
    QVERIFY(addComment(*doc, "one"));
    QVERIFY(addComment(*doc, "two"));
    QCOMPARE(comments(*doc), (std::vector<std::string>{"one", "two"}));
    RecordingReporter reporter;
    CommentsDialog dlg(*doc, reporter);
    auto* list = find<QListWidget>(&dlg, "list");
    auto* text = find<QPlainTextEdit>(&dlg, "text");
    QCOMPARE(list->count(), 2);
    QCOMPARE(text->toPlainText(), QString("one"));
    text->setPlainText("uno");
    list->setCurrentRow(1);
    find<QPushButton>(&dlg, "remove")->click();
    find<QPushButton>(&dlg, "add")->click();
    QCOMPARE(list->currentRow(), 1);
    text->setPlainText(QString(256, 'x'));  // one byte too many
    dlg.show();
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(saidOnly(reporter, Str::CommentTooLongCaption));
    QVERIFY(dlg.isVisible());
    text->setPlainText(QString::fromUtf8("三"));
    QCOMPARE(list->item(1)->text(), QString::fromUtf8("三"));
    find<QPushButton>(&dlg, "ok")->click();
    oneStep(*doc, dlg.edit(), "GIF 注释");
    QCOMPARE(comments(*doc), (std::vector<std::string>{"uno", "三"}));
  }

  void commentsLeftAsTheyWereStayAsTheyWere() {
    // Bytes that are not UTF-8, and a text longer than one sub-block, as files have them.
    const std::string latin1 = "caf\xe9", longer(300, 'c');
    auto doc = fbui::blankAnimation(1);
    QVERIFY(addComment(*doc, latin1));
    QVERIFY(addComment(*doc, longer));
    RecordingReporter reporter;
    {
      CommentsDialog seen(*doc, reporter);
      find<QListWidget>(&seen, "list")->setCurrentRow(1);
      seen.accept();
      QCOMPARE(seen.result(), int(QDialog::Accepted));
      QVERIFY(!seen.edit());
      QVERIFY(reporter.entries().empty());
    }
    CommentsDialog dlg(*doc, reporter);
    auto* text = find<QPlainTextEdit>(&dlg, "text");
    find<QPushButton>(&dlg, "add")->click();
    text->setPlainText("new");
    dlg.accept();
    QVERIFY(reporter.entries().empty());
    oneStep(*doc, dlg.edit(), "GIF 注释");
    QCOMPARE(comments(*doc), (std::vector<std::string>{latin1, longer, "new"}));
    // The last one removed: its text goes from the box too.
    CommentsDialog one(*fbui::blankAnimation(1), reporter);
    find<QPushButton>(&one, "add")->click();
    find<QPlainTextEdit>(&one, "text")->setPlainText("gone");
    find<QPushButton>(&one, "remove")->click();
    QCOMPARE(find<QPlainTextEdit>(&one, "text")->toPlainText(), QString());
    QVERIFY(!find<QPlainTextEdit>(&one, "text")->isEnabled());
  }

  void timingTableChecksEveryDelay() {
    auto doc = fbui::blankAnimation(3);
    RecordingReporter reporter;
    TimingDialog dlg(*doc, reporter);
    QTableWidget* table = dlg.table();
    QCOMPARE(table->rowCount(), 3);
    table->item(2, 1)->setText("x");
    dlg.show();
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(saidOnly(reporter, Str::InvalidDelayCaption));
    QCOMPARE(table->currentRow(), 2);
    find<QLineEdit>(&dlg, "allDelays")->setText("7");
    find<QPushButton>(&dlg, "setAll")->click();
    table->item(1, 1)->setText("12");
    find<QPushButton>(&dlg, "ok")->click();
    oneStep(*doc, dlg.edit(), "时间");
    QCOMPARE(doc->frame(0)->delay, 7);
    QCOMPARE(doc->frame(1)->delay, 12);
    QCOMPARE(doc->frame(2)->delay, 7);
  }

  void timingKeepsDelaysItCannotType() {
    // A delay read from another format may be past what a GIF holds: left as it is, it stays.
    auto doc = fbui::blankAnimation(2);
    doc->frame(0)->delay = 100000;
    RecordingReporter reporter;
    TimingDialog dlg(*doc, reporter);
    dlg.table()->item(1, 1)->setText("5");
    dlg.accept();
    QVERIFY(reporter.entries().empty());
    oneStep(*doc, dlg.edit(), "时间");
    QCOMPARE(doc->frame(0)->delay, 100000);
    QCOMPARE(doc->frame(1)->delay, 5);
  }

  void paletteSessionIsWhatTheGridShowed() {
    fbui::TestPickers pickers;
    auto doc = fbui::blankAnimation(2);
    RecordingReporter reporter;
    {
      // Nothing to edit: said, not opened.
      PaletteEditorDialog none(*doc, PaletteTarget::local(0), reporter);
      QVERIFY(!none.ready());
      QCOMPARE(reporter.texts(), std::vector<std::string>{text(Str::NoLocalPaletteToEdit)});
      reporter.clear();
    }
    const std::vector<uint8_t> untouched = fbui::gifBytes(*doc);
    PaletteEditorDialog dlg(*doc, PaletteTarget::global(), reporter);
    QVERIFY(dlg.ready());
    // Entry 1 takes entry 3's blue, then merges with it; entry 0 moves to the end.
    find<QPushButton>(&dlg, "entry1")->click();
    QCOMPARE(dlg.entry(), 1);
    pickers.colours.push_back(QColor(0, 0, 255));
    find<QPushButton>(&dlg, "editColour")->click();
    find<QPushButton>(&dlg, "mergeDuplicates")->click();
    QCOMPARE(dlg.palette().count, 3);
    dlg.setEntry(0);
    find<QPushButton>(&dlg, "later")->click();
    find<QPushButton>(&dlg, "later")->click();
    QCOMPARE(dlg.entry(), 2);
    const Palette shown = dlg.palette();
    QVERIFY(fbui::gifBytes(*doc) == untouched);  // the document waits for OK
    find<QPushButton>(&dlg, "ok")->click();
    oneStep(*doc, dlg.edit(), "全局调色板");
    QCOMPARE(*doc->globalPalette, shown);
    QCOMPARE((*doc->globalPalette)[2], (Rgb{0, 0, 0}));
    // The pixels followed their colours: the picture is unchanged but for entry 1.
    QCOMPARE(doc->frame(0)->dib->row(0)[0], uint8_t(2));  // was entry 0, black
    QVERIFY(reporter.entries().empty());
  }

  void paletteFileLoads() {
    fbui::TestPickers pickers;
    auto doc = fbui::blankAnimation(1);
    std::unique_ptr<Palette> file;
    QVERIFY(ReadPaletteFile(fbtest::dataPath("pal/riff.pal"), file));
    RecordingReporter reporter;
    PaletteEditorDialog dlg(*doc, PaletteTarget::global(), reporter);
    pickers.files.push_back(QString::fromStdString(fbtest::dataPath("pal/riff.pal")));
    find<QPushButton>(&dlg, "load")->click();
    QVERIFY(reporter.entries().empty());
    for (int i = 0; i < file->count; ++i) QCOMPARE(dlg.palette()[i], (*file)[i]);
    dlg.accept();
    oneStep(*doc, dlg.edit(), "全局调色板");
  }

  void pixelToolsByMouseAndKeyboard() {
    auto doc = fbui::blankAnimation(2);
    RecordingReporter reporter;
    PixelEditorDialog dlg(*doc, 1, false, reporter);
    QVERIFY(dlg.ready());
    QVERIFY(find<QCheckBox>(&dlg, "grid")->isChecked());
    // A stroke from 0,0 to 3,0: the squares between are painted too.
    dlg.setColour(3);
    dlg.press({0, 0});
    dlg.drag({3, 0});
    dlg.release();
    for (int x = 0; x < 4; ++x) QCOMPARE(dlg.frame().dib->row(0)[x], uint8_t(3));
    // Fill the region of 0,1 (entry 1 at 0,1 touches no other 1 through a side).
    find<QRadioButton>(&dlg, "fill")->setChecked(true);
    dlg.setColour(2);
    dlg.press({0, 1});
    dlg.release();
    QCOMPARE(dlg.frame().dib->row(1)[0], uint8_t(2));
    // The keyboard: the pick tool at 1,1 (entry 2 there).
    find<QRadioButton>(&dlg, "pickTransparent")->setChecked(true);
    dlg.show();
    PixelView* view = dlg.view();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Space);
    QVERIFY(dlg.isVisible());  // not pick mode: the dialog stays
    QVERIFY(dlg.frame().transparent());
    QCOMPARE(int(dlg.frame().transparentIndex), 2);
    QCOMPARE(doc->frame(1)->dib->row(0)[3], uint8_t(3));  // the document waits for OK
    // The grid: a line between two squares of the same colour (entries 3 at 1,0 and 2,0).
    const int zoom = find<QSpinBox>(&dlg, "zoom")->value();
    QVERIFY(zoom >= 4);
    const QImage shot = view->grab().toImage();
    fbui::screenshot(&dlg, "pixel-editor");
    QVERIFY(shot.pixelColor(2 * zoom, 1) != shot.pixelColor(2 * zoom + 1, 1));
    find<QCheckBox>(&dlg, "grid")->setChecked(false);
    QCOMPARE(view->grab().toImage().pixelColor(2 * zoom, 1), shot.pixelColor(2 * zoom + 1, 1));
    find<QPushButton>(&dlg, "ok")->click();
    oneStep(*doc, dlg.edit(), "编辑像素");
    QCOMPARE(doc->frame(1)->dib->row(0)[3], uint8_t(3));
    QCOMPARE(doc->frame(1)->dib->row(1)[0], uint8_t(2));
    QVERIFY(doc->frame(1)->transparent());
    QVERIFY(!doc->frame(0)->transparent());
    QVERIFY(reporter.entries().empty());
  }

  void keyboardCursorScrollsIntoSight() {
    auto doc = fbui::blankAnimation(1);
    QCOMPARE(resizeAnimationEdit(400, 8, {}).apply(*doc, nullptr), 1);
    RecordingReporter reporter;
    PixelEditorDialog dlg(*doc, 0, false, reporter);
    find<QSpinBox>(&dlg, "zoom")->setValue(16);
    dlg.show();
    PixelView* view = dlg.view();
    view->setFocus();
    for (int i = 0; i < 100; ++i) QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(view->cursorPoint().x, 100);
    auto* scroll = find<QScrollArea>(&dlg, "pixelsScroll");
    const QRect seen(-view->pos(), scroll->viewport()->size());
    QVERIFY(seen.contains(100 * 16 + 8, 8));
  }

  void strokesThatChangeNothingLeaveNoStep() {
    auto doc = fbui::blankAnimation(1);
    setTransparentIndex(*doc->frame(0), 1);
    setTransparent(*doc->frame(0), true);
    RecordingReporter reporter;
    PixelEditorDialog dlg(*doc, 0, false, reporter);
    dlg.setColour(1);  // entry 1 at 1,0 and 0,1
    dlg.press({1, 0});
    dlg.drag({0, 1});
    dlg.release();
    dlg.setTool(PixelEditorDialog::Tool::Fill);
    dlg.press({1, 0});
    dlg.setTool(PixelEditorDialog::Tool::Pick);
    dlg.press({0, 1});
    dlg.accept();
    QVERIFY(!dlg.edit());
    QVERIFY(reporter.entries().empty());
  }

  void pickModeClosesWithThePick() {
    auto doc = fbui::blankAnimation(1);
    RecordingReporter reporter;
    PixelEditorDialog dlg(*doc, 0, true, reporter);
    QCOMPARE(dlg.tool(), PixelEditorDialog::Tool::Pick);
    dlg.show();
    dlg.press({2, 1});  // entry 3
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    oneStep(*doc, dlg.edit(), "透明度");
    QCOMPARE(int(doc->frame(0)->transparentIndex), 3);
  }
};

FB_UI_TEST(PropertyDialogsTest);
#include "property_dialogs_test.moc"
