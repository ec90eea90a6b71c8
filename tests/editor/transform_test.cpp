// The transform commands and the commands beside them, run through their
// actions with their dialogs answered by the scripted runner: a refused value
// is said and keeps the dialog open, and each change is one undo step that
// undo takes back exactly.
#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <cstdlib>

#include "editor/dialogs/transform_dialogs.h"
#include "editor_fixture.h"
#include "editor_suites.h"
#include "io/options.h"

using namespace fb;
using namespace edtest;

namespace {

void setSpin(QDialog& d, const char* id, int value) {
  control<QSpinBox>(&d, id)->setValue(value);
}

// Whether a message said so far holds `part`.
bool said(const Harness& h, const char* part) {
  for (const std::string& t : h.reporter.texts())
    if (t.find(part) != std::string::npos) return true;
  return false;
}

// Clicks OK, which must refuse with a message holding `message` and leave the dialog open.
void refusedOk(Harness& h, QDialog& d, const char* message) {
  h.reporter.clear();
  control<QAbstractButton>(&d, "ok")->click();
  QVERIFY2(d.result() != QDialog::Accepted, message);
  QVERIFY2(said(h, message), message);
}

class TransformSuite : public QObject {
  Q_OBJECT

 private slots:
  void rotateAndFlipActOnTheSelectionOrTheAnimation() {
    Harness h;
    MainWindow w;
    const struct {
      int id;
      const char* step;
    } commands[] = {{cmd::FrameRotate180, "旋转180°"},
                    {cmd::FrameRotateCw, "顺时针旋转90°"},
                    {cmd::FrameRotateCcw, "逆时针旋转90°"},
                    {cmd::FrameFlipH, "水平翻转"},
                    {cmd::FrameFlipV, "垂直翻转"},
                    {cmd::AnimRotate180, "旋转180°"},
                    {cmd::AnimRotateCw, "顺时针旋转90°"},
                    {cmd::AnimRotateCcw, "逆时针旋转90°"},
                    {cmd::AnimFlipH, "水平翻转"},
                    {cmd::AnimFlipV, "垂直翻转"},
                    {cmd::PingPong, "乒乓动画"}};
    for (const auto& c : commands) {
      load(w, makeDoc(3));
      w.context().selectOnly(1);
      checkOneStep(w, c.id, c.step);
    }
    // A selected frame turns about itself; the others and the screen stay.
    load(w, makeDoc(3));
    w.context().selectOnly(1);
    const uint8_t untouched = w.context().frame(0)->dib->row(0)[1];
    QVERIFY(w.runCommand(cmd::FrameRotateCw));
    Animation* a = w.context().animation();
    QCOMPARE(a->frame(1)->width, 4);
    QCOMPARE(a->frame(1)->height, 6);
    QCOMPARE(a->frame(0)->width, 6);
    QCOMPARE(a->frame(0)->dib->row(0)[1], untouched);
    QCOMPARE(a->width, 6);
    // The animation turns with its screen.
    QVERIFY(w.runCommand(cmd::AnimRotateCcw));
    QCOMPARE(a->width, 4);
    QCOMPARE(a->height, 6);
    QVERIFY(h.reporter.entries().empty());
  }

  void moveCropRefusesARectangleOutsideTheFrame() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    w.context().selectOnly(1);
    h.dialogs.answers.push_back([&](QDialog& d) {
      QCOMPARE(control<QSpinBox>(&d, "width")->value(), 6);  // the whole frame to start with
      setSpin(d, "x", 2);
      refusedOk(h, d, "The rectangle 2,0,6,4 must be at least one pixel and lie within the frame");
      setSpin(d, "width", 3);
      setSpin(d, "height", 0);
      refusedOk(h, d, "The rectangle 2,0,3,0");
      setSpin(d, "height", 2);
      setSpin(d, "left", 70000);
      refusedOk(h, d, "A frame's position must be from 0 to 65535.");
      setSpin(d, "left", 5);
      setSpin(d, "top", 1);
      control<QAbstractButton>(&d, "ok")->click();
    });
    const uint8_t corner = w.context().frame(1)->dib->row(0)[2];
    checkOneStep(w, cmd::MoveCrop, "移动/剪切");
    QCOMPARE(h.dialogs.shown, QStringList{"moveCrop"});
    Frame* f = w.context().frame(1);
    QCOMPARE(f->left, 5);
    QCOMPARE(f->top, 1);
    QCOMPARE(f->width, 3);
    QCOMPARE(f->height, 2);
    QCOMPARE(f->dib->row(0)[0], corner);
    QCOMPARE(w.context().frame(0)->width, 6);
  }

  void cropIsCheckedAgainstTheScreen() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    h.dialogs.answers.push_back([&](QDialog& d) {
      setSpin(d, "x", 1);
      setSpin(d, "y", 1);
      refusedOk(h, d,
                "The rectangle 1,1,6,4 must be at least one pixel and lie within the "
                "animation (6 x 4).");
      setSpin(d, "width", 4);
      setSpin(d, "height", 2);
      control<QAbstractButton>(&d, "ok")->click();
    });
    checkOneStep(w, cmd::CropAnimation, "剪切");
    Animation* a = w.context().animation();
    QCOMPARE(a->width, 4);
    QCOMPARE(a->height, 2);
    // Cancelled: nothing changes.
    const std::string before = docDigest(w);
    act(w, cmd::CropAnimation)->trigger();
    QCOMPARE(docDigest(w), before);
    QCOMPARE(w.context().history().steps(), size_t(1));
  }

  void resizeKeepsTheAspectAndStoresTheMethod() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(2));
    h.dialogs.answers.push_back([&](QDialog& d) {
      setSpin(d, "width", 12);
      QCOMPARE(control<QSpinBox>(&d, "height")->value(), 8);
      setSpin(d, "height", 0);
      QCOMPARE(control<QSpinBox>(&d, "width")->value(), 1);  // never below one pixel
      refusedOk(h, d, "Widths and heights must be from 1 to 65535 pixels.");
      control<QCheckBox>(&d, "keepAspect")->setChecked(false);
      setSpin(d, "width", 12);
      setSpin(d, "height", 2);
      control<QCheckBox>(&d, "bicubic")->setChecked(true);
      control<QAbstractButton>(&d, "ok")->click();
    });
    checkOneStep(w, cmd::ResizeAnimation, "调整大小");
    QCOMPARE(w.context().animation()->width, 12);
    QCOMPARE(w.context().animation()->height, 2);
    QVERIFY(prefGet(pref::GeneralOptions) & gen::ResizeBicubic);

    // The selected frames only, from the stored method; the screen stays.
    load(w, makeDoc(3));
    w.context().selectOnly(2);
    h.dialogs.answers.push_back([&](QDialog& d) {
      QVERIFY(control<QCheckBox>(&d, "bicubic")->isChecked());
      setSpin(d, "width", 3);
      QCOMPARE(control<QSpinBox>(&d, "height")->value(), 2);
      control<QAbstractButton>(&d, "ok")->click();
    });
    checkOneStep(w, cmd::ResizeFrames, "调整大小");
    Animation* a = w.context().animation();
    QCOMPARE(a->frame(2)->width, 3);
    QCOMPARE(a->frame(1)->width, 6);
    QCOMPARE(a->width, 6);
  }

  void blendChoosesAFileThenHowAndFillsTheLongerTime() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(3));  // delays 10, 20, 30
    auto other = makeDoc(2);
    other->frame(0)->delay = 50;
    other->frame(1)->delay = 50;
    const std::string path = h.dir.file("other.gif");
    writeGif(path, *other);
    h.files.opens.push_back({QString::fromStdString(path)});
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto& dlg = as<ui::BlendDialog>(d);
      QVERIFY(control<QLabel>(&d, "file")->text().contains("other.gif"));
      QVERIFY(control<QRadioButton>(&d, "byFrame")->isChecked());
      QCOMPARE(dlg.resultText(), QString("结果: 3 帧, 1.00 秒"));
      control<QRadioButton>(&d, "byTime")->setChecked(true);
      // This one (60 ticks) loops within the other's 100: changes at 0, 10, 30,
      // 50 (the other's second picture), 60, 70 and 90.
      QCOMPARE(dlg.resultText(), QString("结果: 7 帧, 1.00 秒"));
      control<QCheckBox>(&d, "loopShorter")->setChecked(false);
      control<QRadioButton>(&d, "byFrame")->setChecked(true);
      control<QAbstractButton>(&d, "ok")->click();
    });
    checkOneStep(w, cmd::Blend, "混合动画");
    QCOMPARE(h.files.lastTitle, QString("Blend With"));
    QCOMPARE(h.dialogs.shown, QStringList{"blend"});
    Animation* a = w.context().animation();
    QCOMPARE(a->frameCount(), 3);
    QCOMPARE(totalDelay(*a), int64_t(100));  // the other's running time, the longer
    const uint32_t word = prefGet(pref::GeneralOptions);
    QCOMPARE(word & (gen::BlendByTime | gen::BlendLoop), 0u);
  }

  void timingFilesRoundTripAndABadLineChangesNothing() {
    Harness h;
    MainWindow w;
    const std::string doc = h.dir.file("dance.gif");
    load(w, makeDoc(3), doc);
    const QString timing = QString::fromStdString(h.dir.file("dance_timing.txt"));
    h.files.saves.push_back(timing);
    QVERIFY(w.runCommand(cmd::SaveTiming));
    QVERIFY(!w.context().modified());
    QFile file(timing);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("10\n20\n30\n"));
    file.close();

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("# mine\n5\n6\n7\n");
    file.close();
    h.files.opens.push_back({timing});
    checkOneStep(w, cmd::LoadTiming, "加载时间文件");
    QCOMPARE(h.files.lastTitle, QString("Open Timing File"));
    QCOMPARE(h.files.lastFolder, timing);  // the name offered
    QCOMPARE(w.context().frame(2)->delay, 7);

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("5\nsix\n7\n");
    file.close();
    const std::string before = docDigest(w);
    h.files.opens.push_back({timing});
    QVERIFY(!w.runCommand(cmd::LoadTiming));
    QVERIFY(said(h, "Line 2 of the timing file is not a delay"));
    QCOMPARE(docDigest(w), before);
    QCOMPARE(w.context().history().steps(), size_t(1));
  }

  void htmlSnippetFollowsTheAltTextAndCopies() {
    Harness h;
    MainWindow w;
    load(w, makeDoc(1), h.dir.file("my cat.gif"));
    const std::string before = docDigest(w);
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto* code = control<QLineEdit>(&d, "code");
      QCOMPARE(code->text(),
               QString(R"(<img src="my%20cat.gif" width="6" height="4" alt="my cat">)"));
      control<QLineEdit>(&d, "alt")->setText("Tom & \"Jerry\"");
      QCOMPARE(code->text(), QString(R"(<img src="my%20cat.gif" width="6" height="4" )"
                                     R"(alt="Tom &amp; &quot;Jerry&quot;">)"));
      control<QAbstractButton>(&d, "copy")->click();
      QCOMPARE(QApplication::clipboard()->text(), code->text());
    });
    QVERIFY(w.runCommand(cmd::Html));
    QCOMPARE(h.dialogs.shown, QStringList{"html"});
    QCOMPARE(docDigest(w), before);
    QVERIFY(!w.context().modified());
  }

  void externalEditTakesEachSaveAndRemovesItsFile() {
    Harness h;
    const std::string tmp = h.dir.file("tmp");
    QVERIFY(QDir().mkpath(QString::fromStdString(tmp)));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(tmp));
    const auto leftOver = [&] {
      return QDir(QString::fromStdString(tmp)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    };
    MainWindow w;
    load(w, makeDoc(2), h.dir.file("anim.gif"));
    w.context().selectOnly(1);
    // No editor yet: the user names one, and it is kept.
    h.files.opens.push_back({"/bin/true"});
    std::string edited;
    h.dialogs.answers.push_back([&](QDialog& d) {
      auto& dlg = as<ui::ExternalEditDialog>(d);
      edited = dlg.path();
      QVERIFY(QFile::exists(QString::fromStdString(edited)));
      QVERIFY(!dlg.check());  // nothing saved yet
      // The editor saves frame 1 with its corner green.
      QImage picture(QString::fromStdString(edited));
      QVERIFY(!picture.isNull());
      picture = picture.convertToFormat(QImage::Format_ARGB32);
      picture.setPixel(0, 0, qRgb(0, 255, 0));
      QVERIFY(picture.save(QString::fromStdString(edited), "PNG"));
      struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
      ::utimensat(AT_FDCWD, edited.c_str(), times, 0);
      QVERIFY(!dlg.check());  // settling
      QVERIFY(dlg.check());
      QCOMPARE(dlg.taken(), 1);
      control<QAbstractButton>(&d, "done")->click();
    });
    checkOneStep(w, cmd::ExternalEditFrame, "使用图像编辑器即时编辑");
    QCOMPARE(externalEditorFromPreferences(), std::string("/bin/true"));
    Frame* f = w.context().frame(1);
    QVERIFY((*f->palette())[f->dib->row(0)[0]] == (Rgb{0, 255, 0}));
    QVERIFY(!edited.empty());
    QVERIFY(!QFile::exists(QString::fromStdString(edited)));
    QCOMPARE(leftOver(), QStringList());

    // An editor that cannot start: said, no window, nothing left behind.
    storeExternalEditor(h.dir.file("no-such-editor"));
    h.reporter.clear();
    QVERIFY(!w.runCommand(cmd::ExternalEditFrame));
    QVERIFY(said(h, "could not be started"));
    QCOMPARE(h.dialogs.shown.size(), 1);
    QCOMPARE(leftOver(), QStringList());
    if (oldTmp.isNull())
      qunsetenv("TMPDIR");
    else
      qputenv("TMPDIR", oldTmp);
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeTransformSuite() {
  return std::make_unique<TransformSuite>();
}

#include "transform_test.moc"
