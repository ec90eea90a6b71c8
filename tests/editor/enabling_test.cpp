// The enabling rules and check marks, for each state a document can be in.
#include <QMimeData>

#include "editor/clipboard.h"
#include "editor/ui_text.h"
#include "editor_fixture.h"
#include "editor_suites.h"

using namespace fb;
using namespace edtest;

namespace {

bool on(MainWindow& w, int id) { return act(w, id)->isEnabled(); }

class EnablingSuite : public QObject {
  Q_OBJECT

 private slots:
  void withoutDocument() {
    Harness h;
    MainWindow w;
    w.updateCommands();
    for (int id : {cmd::Restart, cmd::SaveAs, cmd::Optimize, cmd::Unoptimize, cmd::Html,
                   cmd::SelectAll, cmd::InvertSelection, cmd::AnimationProperties, cmd::Comment,
                   cmd::CentreAll, cmd::ResizeAnimation, cmd::CropAnimation, cmd::AnimFlipV,
                   cmd::Preview, cmd::SaveAsGif, cmd::Save, cmd::Revert, cmd::Undo, cmd::Redo,
                   cmd::Cut, cmd::Copy, cmd::Delete, cmd::Paste, cmd::GlobalPalette})
      QVERIFY2(!on(w, id), qPrintable(QString::number(id)));
    for (int id : {cmd::Open, cmd::OpenAvi, cmd::Exit, cmd::Preferences, cmd::About, cmd::ZoomIn})
      QVERIFY2(on(w, id), qPrintable(QString::number(id)));
    QCOMPARE(w.windowTitle(), QString("无标题 - Flickbook"));
  }

  void byFrameCount() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(0));
    QVERIFY(on(w, cmd::Restart) && on(w, cmd::SaveAs) && on(w, cmd::CentreAll));
    for (int id : {cmd::Preview, cmd::SaveAsGif, cmd::Blend, cmd::Timing, cmd::LoadTiming,
                   cmd::SaveTiming, cmd::ReduceColours, cmd::AllFrameProperties, cmd::Reverse})
      QVERIFY2(!on(w, id), qPrintable(QString::number(id)));
    QVERIFY(!on(w, cmd::Copy));  // no frame, so none is current

    load(w, makeDoc(1));
    for (int id : {cmd::Preview, cmd::SaveAsGif, cmd::ReduceColours, cmd::AllFrameProperties,
                   cmd::Copy, cmd::Cut, cmd::Delete, cmd::PreviewSelected, cmd::FrameFlipH})
      QVERIFY2(on(w, id), qPrintable(QString::number(id)));
    for (int id : {cmd::Reverse, cmd::Thin, cmd::PingPong}) QVERIFY(!on(w, id));

    load(w, makeDoc(2));
    for (int id : {cmd::Reverse, cmd::Thin, cmd::PingPong}) QVERIFY(on(w, id));
  }

  void withoutCurrentFrame() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(3));
    QCOMPARE(w.context().currentFrame(), 0);
    w.context().setSelection({}, -1);
    w.updateCommands();
    for (int id : {cmd::PreviewSelected, cmd::Cut, cmd::Copy, cmd::Delete, cmd::FrameProperties,
                   cmd::EditPixels, cmd::MoveCrop, cmd::ResizeFrames, cmd::FrameRotate180,
                   cmd::ExternalEditFrame, cmd::LocalPalette})
      QVERIFY2(!on(w, id), qPrintable(QString::number(id)));
    QVERIFY(on(w, cmd::Reverse) && on(w, cmd::SelectAll));
    // Reached anyway (a stale accelerator), they only beep.
    std::string before = docDigest(w);
    QVERIFY(!w.runCommand(cmd::Delete));
    QVERIFY(!w.runCommand(cmd::Copy));
    QVERIFY(!w.runCommand(cmd::Cut));
    QCOMPARE(h.beeps, 3);
    QCOMPARE(docDigest(w), before);
  }

  void modifiedAndNamed() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    QVERIFY(!on(w, cmd::Save) && !on(w, cmd::Revert));
    w.context().setModified(true);
    QVERIFY(on(w, cmd::Save));
    QVERIFY(!on(w, cmd::Revert));  // nothing to go back to without a name
    load(w, makeDoc(2), h.dir.file("a.gif"));
    w.context().setModified(true);
    QVERIFY(on(w, cmd::Save) && on(w, cmd::Revert));
    QCOMPARE(w.windowTitle(), QString("a.gif - Flickbook"));
  }

  void palettesAndExternalEditor() {
    Harness h;
    MainWindow w;
    auto a = makeDoc(2);
    setLocalPalette(*a->frame(1), copyPalette(*a->globalPalette));
    load(w, std::move(a));
    QVERIFY(on(w, cmd::GlobalPalette));
    QVERIFY(!on(w, cmd::LocalPalette));
    w.context().selectOnly(1);
    QVERIFY(on(w, cmd::LocalPalette));
    QVERIFY(!on(w, cmd::ExternalEditAnimation));
    prefSetBits(pref::MoreOptions, 0x8, true);
    w.updateCommands();
    QVERIFY(on(w, cmd::ExternalEditAnimation));
    auto bare = makeDoc(1);
    setGlobalPalette(*bare, nullptr);
    load(w, std::move(bare));
    QVERIFY(!on(w, cmd::GlobalPalette));
  }

  void pasteFollowsTheClipboard() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    QVERIFY(!on(w, cmd::Paste));
    QApplication::clipboard()->setText("words are not frames");
    QVERIFY(!on(w, cmd::Paste));
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    QApplication::clipboard()->setImage(image);
    QVERIFY(on(w, cmd::Paste));
    QApplication::clipboard()->clear();
    QVERIFY(!on(w, cmd::Paste));
    auto* mime = new QMimeData;
    mime->setData(kFrameMime, encodeFrames(*w.context().animation(), {0}));
    QApplication::clipboard()->setMimeData(mime);
    QVERIFY(on(w, cmd::Paste));
  }

  void checkMarks() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    QVERIFY(act(w, cmd::ZoomActual)->isChecked());
    QVERIFY(act(w, cmd::OrientDefault)->isChecked());
    QVERIFY(act(w, cmd::TranspWindow)->isChecked());
    QVERIFY(act(w, cmd::Speed144 + 1)->isChecked());  // 28.8K by default
    QVERIFY(act(w, cmd::PropertyToolbar)->isChecked());
    QVERIFY(!act(w, cmd::FrameTips)->isChecked());
    act(w, cmd::OrientVertical)->trigger();
    QVERIFY(act(w, cmd::OrientVertical)->isChecked());
    QCOMPARE(prefGet(pref::GeneralOptions) & 0x30, 0x10u);
    act(w, cmd::Speed144 + 5)->trigger();
    QCOMPARE(prefGet(pref::ConnectionSpeed), 5u);
    act(w, cmd::FrameTips)->trigger();
    QVERIFY(prefGet(pref::FrameTips) & 1);
    QVERIFY(act(w, cmd::FrameTips)->isChecked());
    act(w, cmd::PropertyToolbar)->trigger();
    QVERIFY(!act(w, cmd::PropertyToolbar)->isChecked());
    QVERIFY(prefGet(pref::GeneralOptions) & 0x10000000);
    h.files.colours.push_back(QColor(10, 20, 30));
    act(w, cmd::TranspCustom)->trigger();
    QCOMPARE(prefGet(pref::TransparencyDisplay), 0x021E140Au);
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeEnablingSuite() { return std::make_unique<EnablingSuite>(); }

#include "enabling_test.moc"
