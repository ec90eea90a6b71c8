// What the window shows and how it is reached: zoom, the status bar and the
// download times, the preview's timing, the filmstrip's thumbnails, every
// command by keyboard, and screenshots for a look.
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "base/number_format.h"
#include "document/pictures.h"
#include "editor/filmstrip_view.h"
#include "editor/preview_window.h"
#include "editor/progress_dialog.h"
#include "editor/property_bar.h"
#include "editor/save_as_dialog.h"
#include "editor/ui_text.h"
#include "io/options.h"
#include "editor_fixture.h"
#include "editor_suites.h"

using namespace fb;
using namespace edtest;

namespace {

QImage thumbnailOf(MainWindow& w, int row) {
  FrameListModel* m = w.frameModel();
  m->data(m->index(row), Qt::DecorationRole);  // asks for it
  m->finishThumbnails();
  return qvariant_cast<QImage>(m->data(m->index(row), Qt::DecorationRole));
}

QImage expected(const Frame& f, int box) {
  Rgba t = frameThumbnail(f, box);
  return QImage(t.pixels.data(), t.width, t.height, t.width * 4, QImage::Format_RGBA8888).copy();
}

class ViewSuite : public QObject {
  Q_OBJECT

 private slots:
  void zoomStaysWithinItsLevels() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    QCOMPARE(w.zoomText(), QString("100%"));
    QVERIFY(!act(w, cmd::ZoomActual)->isEnabled());
    for (int i = 0; i < 5; ++i) w.runCommand(cmd::ZoomIn);
    QCOMPARE(w.zoomLevel(), 3);
    QCOMPARE(w.zoomText(), QString("400%"));
    QVERIFY(!act(w, cmd::ZoomIn)->isEnabled());
    QVERIFY(act(w, cmd::Zoom400)->isChecked());
    for (int i = 0; i < 10; ++i) w.runCommand(cmd::ZoomOut);
    QCOMPARE(w.zoomLevel(), -4);
    QCOMPARE(w.zoomText(), QString("20%"));
    QVERIFY(!act(w, cmd::ZoomOut)->isEnabled());
    act(w, cmd::Zoom20 + 2)->trigger();
    QCOMPARE(w.zoomText(), QString("33%"));
    QVERIFY(act(w, cmd::ZoomActual)->isEnabled());
    act(w, cmd::ZoomActual)->trigger();
    QCOMPARE(w.zoomLevel(), 0);
    // Thumbnails follow the zoom: 400% of a 6 × 4 frame.
    w.setZoomLevel(3);
    QCOMPARE(thumbnailOf(w, 0).size(), QSize(24, 16));
  }

  void statusBarAndDownloadTimes() {
    Harness h;
    MainWindow w;
    QCOMPARE(w.statusText(), QString("Ready to Animate"));
    load(w, makeDoc(3));
    QCOMPARE(w.statusText(), QString("Ready to Animate  文件尺寸: 正在计算..."));
    QCOMPARE(act(w, cmd::Speed144)->text(), QString("14.4K"));
    int64_t size = w.documentSize();
    QVERIFY(size > 0);
    QCOMPARE(w.statusText(), QString::fromStdString("Ready to Animate  文件尺寸: " +
                                                    formatByteCount(size)));
    QCOMPARE(w.sizeWorker().size(),
             int64_t(encodedSize(*w.context().animation(), true, nullptr,
                                 gifWriteOptionsFromPreferences())));
    // A small file downloads in under a tenth of a second at 128K.
    QCOMPARE(act(w, cmd::Speed128)->text(), QString("128K :\t < 0.1秒"));
    // An edit makes the size unknown until it is counted again.
    w.runCommand(cmd::Delete);
    QVERIFY(w.statusText().endsWith("正在计算..."));
    w.sizeWorker().finish();
    QVERIFY(w.sizeWorker().size() > 0 && w.sizeWorker().size() < size);
    // A big one takes seconds: 14.4K for 2,000,000 bytes is 1111.1 s.
    std::string big = fbtest::dataPath("gif-real/life-ffmpeg.gif");
    h.files.opens.push_back({QString::fromStdString(big)});
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    h.reporter.queueAnswer(Answer::No);  // the deletion is not kept
    QVERIFY(w.runCommand(cmd::Open));
    w.sizeWorker().finish();
    double seconds = double(w.sizeWorker().size()) * 8 / 14400;
    QCOMPARE(act(w, cmd::Speed144)->text(),
             QString("14.4K :\t %1secs").arg(QString::number(seconds, 'f', 1)));
  }

  void previewPlaysWithTheRealDelays() {
    Harness h;
    MainWindow w;
    auto doc = makeDoc(3);
    doc->frame(0)->delay = 10;
    doc->frame(1)->delay = 25;
    doc->frame(2)->delay = 0;
    doc->playCount = 2;
    load(w, std::move(doc));
    QVERIFY(w.runCommand(cmd::Preview));
    PreviewWindow* p = w.preview();
    QVERIFY(p && p->playing());
    QCOMPARE(p->intervalFor(0), 100);
    QCOMPARE(p->intervalFor(1), 250);
    QCOMPARE(p->intervalFor(2), 10);  // a zero delay must not spin the event loop
    // Two plays, then it stops on the last picture.
    for (int i = 0; i < 5; ++i) p->advance();
    QCOMPARE(p->playsDone(), 1);
    QVERIFY(p->playing());
    p->advance();
    QCOMPARE(p->playsDone(), 2);
    QVERIFY(!p->playing());
    QCOMPARE(p->position(), 2);
    // Another time base: 1000 ticks a second.
    prefSet(pref::TimeBase, 1000);
    QCOMPARE(p->intervalFor(1), 25);
    w.context().animation()->frame(1)->delay = INT32_MAX;  // beyond what a timer holds
    QCOMPARE(p->intervalFor(1), INT_MAX);
    w.context().animation()->frame(1)->delay = 25;
    // The command closes it again.
    QVERIFY(w.runCommand(cmd::Preview));
    QVERIFY(!w.preview());

    // Looping for ever whatever the count says; the selected frames only.
    prefSet(pref::TimeBase, 100);
    prefSetBits(pref::GeneralOptions, 0x1000, true);
    w.context().setSelection({0, 2}, 0);
    QVERIFY(w.runCommand(cmd::PreviewSelected));
    p = w.preview();
    QVERIFY(p->selectedOnly());
    QVERIFY(act(w, cmd::PreviewSelected)->isChecked());
    QCOMPARE(p->intervalFor(1), 10);  // frame 2's delay
    for (int i = 0; i < 10; ++i) p->advance();
    QVERIFY(p->playing());
    QCOMPARE(p->playsDone(), 5);
  }

  void thumbnailsFollowEdits() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(4, 8, 6));
    Animation* a = w.context().animation();
    QImage last = expected(*a->frame(3), 8);
    QCOMPARE(thumbnailOf(w, 0), expected(*a->frame(0), 8));
    w.runCommand(cmd::Reverse);
    QCOMPARE(w.frameModel()->rowCount(), 4);
    QCOMPARE(thumbnailOf(w, 0), last);
    w.context().selectOnly(0);
    w.runCommand(cmd::Delete);
    QCOMPARE(w.frameModel()->rowCount(), 3);
    QCOMPARE(thumbnailOf(w, 0), expected(*a->frame(0), 8));
    act(w, cmd::Undo)->trigger();
    QCOMPARE(thumbnailOf(w, 0), last);
    // A frame tip shows the fields word 13 asks for.
    prefSet(pref::FrameTips, 0x1 | 0x4 | 0x20);
    QCOMPARE(w.frameModel()->data(w.frameModel()->index(1), Qt::ToolTipRole).toString(),
             QString("帧 2\n延迟: 30"));
  }

  // At 400% a 2100 × 2100 frame shows 8400 pixels wide: its thumbnail must
  // still be kept (the painter scales it), not made again at every paint.
  void aLargeFrameAtHighZoomKeepsItsThumbnail() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(1, 2100, 2100));
    act(w, cmd::Zoom400)->trigger();
    QCOMPARE(w.zoomText(), QString("400%"));
    QVERIFY(!thumbnailOf(w, 0).isNull());
    QVERIFY(w.frameModel()->hasThumbnail(0));
    QCOMPARE(w.frameModel()->pendingThumbnails(), 0);
    QCOMPARE(w.frameModel()->data(w.frameModel()->index(0), FrameListModel::FrameSizeRole).toSize(),
             QSize(8400, 8400));
  }

  // Thumbnails the view asked for and not yet delivered are forgotten when a
  // change begins; after a change of one frame the view must be told to ask
  // again for the others, or they stay blank until something repaints them.
  void thumbnailsForgottenByAnEditAreAskedForAgain() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(4, 8, 6));
    FrameListModel* m = w.frameModel();
    for (int row = 0; row < 4; ++row) m->data(m->index(row), Qt::DecorationRole);
    QCOMPARE(m->pendingThumbnails(), 4);
    QSignalSpy spy(m, &QAbstractItemModel::dataChanged);
    auto* delay = w.propertyBar()->findChild<QLineEdit*>("40046");
    QVERIFY(delay);
    delay->setText("55");
    QTest::keyClick(delay, Qt::Key_Return);
    QCOMPARE(w.context().frame(0)->delay, 55);
    bool lastAskedAgain = false;
    for (const QList<QVariant>& signal : spy) {
      int first = signal[0].toModelIndex().row(), last = signal[1].toModelIndex().row();
      if (first <= 3 && last >= 3) lastAskedAgain = true;
    }
    QVERIFY(lastAskedAgain);
    QCOMPARE(thumbnailOf(w, 3), expected(*w.context().frame(3), 8));
  }

  // A long edit lets the window paint (the progress dialog pumps events): the
  // filmstrip then must not hand the thumbnail thread frames the edit is
  // changing or deleting.
  void noThumbnailIsAskedForWhileAnEditRuns() {
    Harness h;
    MainWindow w;
    w.show();
    load(w, makeDoc(4, 8, 6));
    FrameListModel* m = w.frameModel();
    FilmstripView* strip = w.filmstrip();
    int askedDuring = -1;
    Edit e{"test", Change::everything(), [&](Animation& a, Progress*) {
             a.frame(0)->delay = 7;
             strip->doItemsLayout();
             strip->grab();  // paints as the window would
             askedDuring = m->pendingThumbnails();
             return 1;
           }};
    QVERIFY(w.context().apply(e) == 1);
    QCOMPARE(askedDuring, 0);
    // Once the edit is over the same painting asks for them.
    strip->doItemsLayout();
    strip->grab();
    m->finishThumbnails();
    QVERIFY(m->hasThumbnail(0));
  }

  void transparentPixelsShowTheChosenBackdrop() {
    Harness h;
    MainWindow w;
    auto doc = makeDoc(1);
    setTransparent(*doc->frame(0), true);
    setTransparentIndex(*doc->frame(0), 1);  // red in the palette
    load(w, std::move(doc));
    QModelIndex i = w.frameModel()->index(0);
    QVERIFY(!i.data(FrameListModel::BackdropRole).isValid());  // the window's own background
    act(w, cmd::TranspFrame)->trigger();
    QCOMPARE(qvariant_cast<QColor>(i.data(FrameListModel::BackdropRole)), QColor(255, 0, 0));
    h.files.colours.push_back(QColor(1, 2, 3));
    act(w, cmd::TranspCustom)->trigger();
    QCOMPARE(qvariant_cast<QColor>(i.data(FrameListModel::BackdropRole)), QColor(1, 2, 3));
    // Cancelling the colour leaves the mode as it was.
    QVERIFY(!w.runCommand(cmd::TranspCustom));
    QCOMPARE(prefGet(pref::TransparencyDisplay) >> 24, 2u);
  }

  void progressDialogCancels() {
    MainWindow w;
    ProgressDialog p(&w, "working");
    p.setRange(2000);
    QCOMPARE(p.dialog()->maximum(), 200);  // ranges above 1000 are scaled down
    QVERIFY(p.step(10));
    QCOMPARE(p.dialog()->value(), 1);
    p.dialog()->cancel();  // the Cancel button, or Esc
    QVERIFY(!p.step());
    QVERIFY(p.cancelled());
  }

  // The buttons of the window's own dialogs read as the string table says,
  // not in the toolkit's language.
  void dialogButtonsReadFromTheStringTable() {
    MainWindow w;
    ProgressDialog p(&w, "working");
    auto* cancel = p.dialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("取消"));
    SaveAsPanel panel(&w, "a.gif", 1, 3);
    auto* box = panel.findChild<QDialogButtonBox*>();
    QVERIFY(box);
    QCOMPARE(box->button(QDialogButtonBox::Ok)->text(), QString("确定"));
    QCOMPARE(box->button(QDialogButtonBox::Cancel)->text(), QString("取消"));
  }

  void everyCommandFromTheKeyboard() {
    Harness h;
    MainWindow w;
    // Every command of the table: an action named by its id, its text, its keys,
    // in a menu whose title has a mnemonic (or on the window, by its keys only).
    QHash<QAction*, QMenu*> menuOf;
    std::function<void(QMenu*)> walk = [&](QMenu* m) {
      for (QAction* a : m->actions()) {
        menuOf[a] = m;
        if (a->menu()) walk(a->menu());
      }
    };
    for (QAction* top : w.menuBar()->actions()) {
      QVERIFY(top->text().contains('&'));
      walk(top->menu());
    }
    for (const CommandInfo& c : commandTable()) {
      if (c.id == 0) continue;
      QAction* a = w.findChild<QAction*>(QString::number(c.id));
      QVERIFY2(a, qPrintable(QString::number(c.id)));
      if (c.id != cmd::Undo && c.id != cmd::Redo && (c.id < cmd::Speed144 || c.id > cmd::Speed128))
        QCOMPARE(a->text(), qtext(c.text));
      QCOMPARE(a->shortcut(), QKeySequence(QString::fromLatin1(c.keys)));
      if (c.menu == Menu::None)
        QVERIFY(w.actions().contains(a));
      else
        QVERIFY2(menuOf.contains(a), qPrintable(QString::number(c.id)));
    }
    // Toolbar buttons carry their texts for assistive tools.
    auto* open = w.findChild<QWidget*>("toolbar1002");
    QVERIFY(open);
    QCOMPARE(open->accessibleName(), QString("打开(O)..."));
  }

  void aNewUserWithTheKeyboardOnly() {
    // Open a GIF, select all, delete, undo, Save As a new name: the saved file
    // shows the same pictures for the same time as the original.
    Harness h;
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    std::string source = fbtest::dataPath("gif-real/cellauto-ffmpeg.gif");
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    h.files.opens.push_back({QString::fromStdString(source)});
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QVERIFY(w.context().hasDocument());
    const int frames = w.context().frameCount();
    QVERIFY(frames > 1);
    QTest::keyClick(w.filmstrip(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.context().selectedCount(), frames);
    QTest::keyClick(w.filmstrip(), Qt::Key_Delete);
    QCOMPARE(w.context().frameCount(), 0);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.context().frameCount(), frames);
    h.saveAs.path = h.dir.file("again.gif");
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(h.saveAs.calls, 1);
    std::unique_ptr<Animation> original, saved;
    fbtest::readGifPath(source, original);
    fbtest::readGifPath(h.dir.file("again.gif"), saved);
    QVERIFY(original && saved);
    PictureCache a(*original), b(*saved);
    QCOMPARE(a.count(), b.count());
    for (int n = 0; n < a.count(); ++n) {
      Rgba x, y;
      QVERIFY(a.picture(n, x) && b.picture(n, y));
      QVERIFY2(x.pixels == y.pixels, qPrintable(QString::number(n)));
      QCOMPARE(original->frame(n)->delay, saved->frame(n)->delay);
    }
    QCOMPARE(totalDelay(*original), totalDelay(*saved));
  }

  void screenshots() {
    Harness h;
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    MainWindow w;
    h.files.opens.push_back({QString::fromStdString(std::string(FB_SAMPLES) + "/bouncing-ball.gif")});
    QVERIFY(w.runCommand(cmd::Open));
    w.resize(900, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    FrameListModel* m = w.frameModel();
    for (int r = 0; r < m->rowCount(); ++r) m->data(m->index(r), Qt::DecorationRole);
    m->finishThumbnails();
    w.sizeWorker().finish();
    QDir().mkpath(QString(FB_BINARY_DIR) + "/screenshots");
    QImage window = w.grab().toImage();
    QVERIFY(!window.isNull());
    QVERIFY(window.save(QString(FB_BINARY_DIR) + "/screenshots/main-window.png"));
    QVERIFY(w.runCommand(cmd::Preview));
    w.preview()->pause();
    w.preview()->advance();
    QImage preview = w.preview()->grab().toImage();
    QVERIFY(preview.save(QString(FB_BINARY_DIR) + "/screenshots/preview.png"));
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeViewSuite() { return std::make_unique<ViewSuite>(); }

#include "view_test.moc"
