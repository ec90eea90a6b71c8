// Editing commands: each one undo step that undo and redo, through the menu,
// take back and bring back exactly; the clipboard between documents and with
// other programs; dragging frames; the property toolbar's checks.
#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>

#include "document/rgba.h"
#include "editor/clipboard.h"
#include "editor/filmstrip_view.h"
#include "editor/property_bar.h"
#include "editor_fixture.h"
#include "editor_suites.h"

using namespace fb;
using namespace edtest;

namespace {

class EditSuite : public QObject {
  Q_OBJECT

 private slots:
  void undoAndRedoOfEveryEditingCommand_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("field");  // a property field's text, when the command reads one
    QTest::addColumn<QString>("step");
    QTest::newRow("delete") << cmd::Delete << "" << "删除";
    QTest::newRow("cut") << cmd::Cut << "" << "剪切";
    QTest::newRow("centre") << cmd::CentreAll << "" << "全部居中";
    QTest::newRow("reverse") << cmd::Reverse << "" << "反向顺序";
    QTest::newRow("unoptimize") << cmd::Unoptimize << "" << "反优化动画";
    QTest::newRow("delay") << cmd::Delay << "77" << "延迟";
    QTest::newRow("play count") << cmd::PlayCount << "3" << "重复次数";
    QTest::newRow("transparency") << cmd::Transparency << "" << "透明度";
    QTest::newRow("interlace") << cmd::Interlace << "" << "隔行扫描";
    QTest::newRow("disposal") << cmd::DisposeBackground << "" << "处理方法";
    QTest::newRow("local palette") << cmd::LocalPaletteOnOff << "" << "局部调色板";
    QTest::newRow("24-bit") << cmd::TrueColour << "" << "24位颜色";
    QTest::newRow("paste") << cmd::Paste << "" << "粘贴";
  }

  void undoAndRedoOfEveryEditingCommand() {
    QFETCH(int, command);
    QFETCH(QString, field);
    QFETCH(QString, step);
    Harness h;
    MainWindow w;
    auto doc = makeDoc(4);
    doc->frame(2)->left = 0;  // centring moves frames that are smaller than the screen
    doc->width = 10;
    load(w, std::move(doc));
    w.context().setSelection({1, 2}, 1);
    if (command == cmd::Paste) QApplication::clipboard()->setMimeData(
        framesToMime(*w.context().animation(), {0, 3}));
    if (command == cmd::Delay) w.propertyBar()->setDelayText(field);
    if (command == cmd::PlayCount) w.propertyBar()->setPlayCountText(field);
    for (int check : {cmd::Transparency, cmd::Interlace, cmd::LocalPaletteOnOff, cmd::TrueColour})
      if (command == check)
        w.propertyBar()->findChild<QAbstractButton*>(QString::number(check))->setChecked(true);
    const std::string before = docDigest(w);
    QVERIFY(!act(w, cmd::Undo)->isEnabled());
    QVERIFY(w.runCommand(command));
    const std::string after = docDigest(w);
    QVERIFY(after != before);
    QVERIFY(w.context().modified());
    QCOMPARE(w.context().history().steps(), size_t(1));
    w.updateCommands();
    QCOMPARE(act(w, cmd::Undo)->text(), QString("撤消 %1(&U)\tCtrl+Z").arg(step));
    act(w, cmd::Undo)->trigger();
    QCOMPARE(docDigest(w), before);
    QCOMPARE(act(w, cmd::Redo)->text(), QString("重做 %1(&R)\tCtrl+Y").arg(step));
    act(w, cmd::Redo)->trigger();
    QCOMPARE(docDigest(w), after);
    QVERIFY(h.reporter.entries().empty());
  }

  void copyAndPasteBetweenTwoDocuments() {
    Harness h;
    MainWindow from, to;
    auto source = makeDoc(3, 5, 5);
    source->frame(1)->delay = 33;
    setFrameName(*source->frame(1), "middle");
    setTransparent(*source->frame(1), true);
    setTransparentIndex(*source->frame(1), 2);
    load(from, std::move(source));
    from.context().setSelection({1, 2}, 1);
    QVERIFY(from.runCommand(cmd::Copy));
    QCOMPARE(from.context().frameCount(), 3);
    QVERIFY(QApplication::clipboard()->mimeData()->hasImage());  // for other programs

    load(to, makeDoc(2, 5, 5));
    to.context().selectOnly(1);
    to.updateCommands();
    QVERIFY(act(to, cmd::Paste)->isEnabled());
    QVERIFY(to.runCommand(cmd::Paste));
    Animation* a = to.context().animation();
    QCOMPARE(a->frameCount(), 4);
    Frame* pasted = a->frame(1);
    Frame* original = from.context().animation()->frame(1);
    QCOMPARE(pasted->delay, 33);
    QCOMPARE(frameName(*pasted), std::string("middle"));
    QVERIFY(pasted->transparent());
    QVERIFY(frameToRgba(*pasted) == frameToRgba(*original));
    QVERIFY(frameToRgba(*a->frame(2)) == frameToRgba(*from.context().animation()->frame(2)));
    QCOMPARE(to.context().selectedFrames(), (std::vector<int>{1, 2}));

    // Cut takes them out of the first document in one step.
    QVERIFY(from.runCommand(cmd::Cut));
    QCOMPARE(from.context().frameCount(), 1);
  }

  void pasteOfAPlainImageMakesAFrameAtTheEnd() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    w.context().setSelection({}, -1);  // no current frame: at the end
    QImage image(5, 3, QImage::Format_ARGB32);
    image.fill(QColor(200, 10, 20));
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));
    QApplication::clipboard()->setImage(image);
    QVERIFY(w.runCommand(cmd::Paste));
    Animation* a = w.context().animation();
    QCOMPARE(a->frameCount(), 3);
    Frame* f = a->frame(2);
    QCOMPARE(f->width, 5);
    QCOMPARE(f->height, 3);
    std::vector<uint8_t> rgba = frameToRgba(*f);
    QCOMPARE(int(rgba[4]), 200);  // pixel (1, 0)
    QCOMPARE(int(rgba[5]), 10);
    QCOMPARE(int(rgba[3]), 0);  // the clear pixel stays clear
    QVERIFY(a->width >= 6 && a->height >= 4);
  }

  void damagedClipboardDataIsRefused() {
    auto a = makeDoc(2);
    QByteArray good = encodeFrames(*a, {0, 1});
    QVERIFY(decodeFrames(good) != nullptr);
    for (qsizetype cut : {qsizetype(5), good.size() / 2, good.size() - 1})
      QVERIFY(decodeFrames(good.left(cut)) == nullptr);
    QByteArray lying = good;
    lying[16] = 0x7F;  // a frame width far beyond the data sent
    QVERIFY(decodeFrames(lying) == nullptr);
    QByteArray extra = good + "x";
    QVERIFY(decodeFrames(extra) == nullptr);
    // Offsets another program put there far off any screen: offset plus size
    // would overflow where frames are drawn and clipped.
    for (int32_t far : {INT32_MAX - 2, INT32_MIN + 2}) {
      auto b = makeDoc(2);
      b->frame(1)->left = far;
      QVERIFY(decodeFrames(encodeFrames(*b, {0, 1})) == nullptr);
      b->frame(1)->left = 0;
      b->frame(1)->top = far;
      QVERIFY(decodeFrames(encodeFrames(*b, {0, 1})) == nullptr);
    }
    // Through the Paste command: a beep, and the document stays as it was.
    Harness h;
    MainWindow w;
    load(w, makeDoc(1));
    auto b = makeDoc(2);
    b->frame(1)->left = INT32_MAX - 2;
    auto* mime = new QMimeData;
    mime->setData(kFrameMime, encodeFrames(*b, {0, 1}));
    QApplication::clipboard()->setMimeData(mime);
    act(w, cmd::Paste)->trigger();
    QCOMPARE(w.context().frameCount(), 1);
    QCOMPARE(h.beeps, 1);
    QVERIFY(!w.context().modified());
  }

  void dragToReorderIsOneUndoStep() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(5));
    FrameListModel* model = w.frameModel();
    const std::string before = docDigest(w);
    std::unique_ptr<QMimeData> mime(model->mimeData({model->index(0), model->index(1)}));
    QVERIFY(model->canDropMimeData(mime.get(), Qt::MoveAction, 4, 0, {}));
    QVERIFY(model->dropMimeData(mime.get(), Qt::MoveAction, 4, 0, {}));
    Animation* a = w.context().animation();
    std::vector<int> delays;
    for (int i = 0; i < 5; ++i) delays.push_back(a->frame(i)->delay);
    QCOMPARE(delays, (std::vector<int>{30, 40, 10, 20, 50}));
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{2, 3}));
    QCOMPARE(w.context().history().steps(), size_t(1));
    QCOMPARE(model->rowCount(), 5);
    // Dropped where they already are: nothing changes, no step.
    std::unique_ptr<QMimeData> same(model->mimeData({model->index(2)}));
    QVERIFY(!model->dropMimeData(same.get(), Qt::MoveAction, 3, 0, {}));
    QCOMPARE(w.context().history().steps(), size_t(1));
    act(w, cmd::Undo)->trigger();
    QCOMPARE(docDigest(w), before);
  }

  void filesDroppedBetweenFramesAreInserted() {
    Harness h;
    writeGif(h.dir.file("one.gif"), *makeDoc(1));
    MainWindow w;
    load(w, makeDoc(3));
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(h.dir.file("one.gif")))});
    QVERIFY(w.frameModel()->dropMimeData(mime, Qt::CopyAction, 2, 0, {}));
    QCoreApplication::sendPostedEvents();  // the drop is taken up after the drag ends
    QCOMPARE(w.context().frameCount(), 4);
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{2}));
    delete mime;
  }

  void propertyFieldsAreChecked() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    const std::string before = docDigest(w);
    auto* delay = w.propertyBar()->findChild<QLineEdit*>("40046");
    auto* plays = w.propertyBar()->findChild<QLineEdit*>("40049");
    QVERIFY(delay && plays);
    QCOMPARE(delay->text(), QString("10"));
    delay->setText("65536");
    QTest::keyClick(delay, Qt::Key_Return);
    auto e = h.reporter.entries();
    QCOMPARE(e.size(), size_t(1));
    QCOMPARE(e[0].caption, std::string("无效延迟值"));
    QCOMPARE(e[0].text, std::string("延迟必须在范围0 到65535内。."));
    QCOMPARE(delay->text(), QString("65535"));
    plays->setText("-1");
    QTest::keyClick(plays, Qt::Key_Return);
    e = h.reporter.entries();
    QCOMPARE(e.size(), size_t(2));
    QCOMPARE(e[1].caption, std::string("错误重复值"));
    QCOMPARE(e[1].text, std::string("The number of iterations must be in the range from 0 to "
                                    "65536. Recall that 0 means continuous loop."));
    QCOMPARE(plays->text(), QString("0"));
    QCOMPARE(docDigest(w), before);
    // A good delay reaches every selected frame, in one step.
    w.context().selectAll();
    delay->setText("65535");
    QTest::keyClick(delay, Qt::Key_Return);
    QCOMPARE(w.context().animation()->frame(0)->delay, 65535);
    QCOMPARE(w.context().animation()->frame(1)->delay, 65535);
    QCOMPARE(w.context().history().steps(), size_t(1));
  }

  void selectionCommands() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(5));
    w.context().setSelection({1, 3}, 3);
    QVERIFY(w.runCommand(cmd::InvertSelection));
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{0, 2, 4}));
    QCOMPARE(w.context().currentFrame(), 0);  // the first selected frame becomes current
    QVERIFY(w.runCommand(cmd::SelectAll));
    QCOMPARE(w.context().selectedCount(), 5);
    w.context().selectOnly(1);
    w.context().selectRange(3);
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{1, 2, 3}));
    w.context().toggleSelected(2);
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{1, 3}));
    // The view shows the same selection.
    QCOMPARE(w.filmstrip()->selectionModel()->selectedIndexes().size(), 2);
  }

  // The frame menu opened from the keyboard acts on the frames the user chose,
  // not on whichever frame lies under the view's corner.
  void frameMenuFromTheKeyboardKeepsTheSelection() {
    Harness h;
    MainWindow w;
    w.show();
    load(w, makeDoc(4));
    FilmstripView* strip = w.filmstrip();
    strip->doItemsLayout();
    QCOMPARE(strip->indexAt(QPoint(5, 5)).row(), 0);
    w.context().selectOnly(2);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              strip->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(strip->viewport(), &menuKey);
    auto* menu = w.findChild<QMenu*>("106");
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(w.context().selectedFrames(), std::vector<int>{2});
    QAction* del = nullptr;
    for (QAction* a : menu->actions())
      if (a->objectName() == QString::number(cmd::Delete)) del = a;
    QVERIFY(del && del->isEnabled());
    menu->close();
    del->trigger();
    std::vector<int> delays;
    for (int i = 0; i < w.context().frameCount(); ++i)
      delays.push_back(w.context().frame(i)->delay);
    QCOMPARE(delays, (std::vector<int>{10, 20, 40}));
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeEditSuite() { return std::make_unique<EditSuite>(); }

#include "edit_test.moc"
