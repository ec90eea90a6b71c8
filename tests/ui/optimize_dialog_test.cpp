#include "editor/dialogs/optimize_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <thread>

#include "base/byte_source.h"
#include "base/number_format.h"
#include "base/prefs.h"
#include "document/history.h"
#include "editor/dialogs/trial_worker.h"
#include "gif/gif_reader.h"
#include "imaging/edits.h"
#include "imaging/optimizer.h"
#include "io/options.h"
#include "resources/strings.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

class OptimizeDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsFollowTheOptionsWord() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/testsrc-localpal-ffmpeg.gif");
    QVERIFY(doc);
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, 0x46E, reporter);
    QVERIFY(find<QCheckBox>(&dlg, "1121")->isChecked());
    QVERIFY(find<QCheckBox>(&dlg, "1124")->isEnabled());  // the file has local palettes
    QVERIFY(find<QRadioButton>(&dlg, "1075")->isChecked());
    QCOMPARE(dlg.trialOptions(), 0x46Eu);
    find<QCheckBox>(&dlg, "1121")->setChecked(false);
    QVERIFY(!find<QCheckBox>(&dlg, "1122")->isEnabled());
    QVERIFY(!find<QCheckBox>(&dlg, "1125")->isEnabled());
    find<QCheckBox>(&dlg, "1124")->setChecked(false);
    QVERIFY(!find<QRadioButton>(&dlg, "1073")->isEnabled());
    QCOMPARE(dlg.trialOptions() & opt::RemoveLocalPalettes, 0u);

    // Without local palettes the palette method cannot be chosen and does not count.
    auto plain = fbui::blankAnimation(2);
    OptimizeDialog dlg2(*plain, 0x46E, reporter);
    QVERIFY(!find<QCheckBox>(&dlg2, "1124")->isEnabled());
    QCOMPARE(dlg2.trialOptions() & opt::RemoveLocalPalettes, 0u);
  }

  void trialRestartsWhenAnOptionChanges() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, 0x46E, reporter);
    dlg.show();
    fbui::deliver();  // the first trial starts once the dialog is shown
    QCOMPARE(dlg.trialsStarted(), 1);
    QVERIFY(!find<QLabel>(&dlg, "1153")->text().isEmpty());
    // An option change while the trial runs cancels it and starts another.
    find<QCheckBox>(&dlg, "1122")->setChecked(false);
    QCOMPARE(dlg.trialsStarted(), 2);
    dlg.finishTrial();
    QVERIFY(dlg.trialValid());
    QCOMPARE(dlg.validTrialOptions(), 0x46Eu & ~opt::Transparency);
    const QString after = find<QLabel>(&dlg, "1154")->text();
    QVERIFY(after.endsWith(QString::fromUtf8(" 字节")));
    QVERIFY(find<QLabel>(&dlg, "1158")->text().endsWith("%)"));
    fbui::screenshot(&dlg, "optimize-169");
    // Back to options the valid trial was made with: nothing recomputed.
    find<QCheckBox>(&dlg, "1122")->setChecked(true);
    QCOMPARE(dlg.trialsStarted(), 3);
    dlg.finishTrial();
    find<QCheckBox>(&dlg, "1083")->setChecked(true);  // already on: no change
    QCOMPARE(dlg.trialsStarted(), 3);
    QVERIFY(reporter.entries().empty());
    dlg.reject();
  }

  void okGivesTheBatchResultAsOneUndoStep() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/testsrc-localpal-ffmpeg.gif");
    auto batch = duplicateAnimation(*doc, nullptr);
    const auto original = fbui::gifBytes(*doc);
    const uint32_t word = 0x46E & ~opt::Transparency;
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, word, reporter);
    dlg.show();
    fbui::deliver();
    find<QPushButton>(&dlg, "ok")->click();  // waits for the running trial
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.edit());
    QCOMPARE(dlg.edit()->name, std::string(text(Str::UndoOptimize)));
    QCOMPARE(fbui::gifBytes(*doc), original);  // nothing changes before the edit runs

    History history(20);
    QCOMPARE(runEdit(*doc, history, *dlg.edit(), 0, nullptr), 1);
    QVERIFY(optimizeInPlace(*batch, word, mergeOptionsFromPreferences()));
    QCOMPARE(fbui::gifBytes(*doc), fbui::gifBytes(*batch));
    QCOMPARE(history.steps(), size_t(1));
    int current = 0;
    QVERIFY(history.undo(*doc, current));
    QCOMPARE(fbui::gifBytes(*doc), original);
    // The options are kept in word 5 of the settings file.
    QCOMPARE(settings.storedWord(pref::OptimizeOptions), word);
  }

  void smallestEncodingAndLossyGiveTheBatchResult() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/testsrc-localpal-ffmpeg.gif");
    auto batch = duplicateAnimation(*doc, nullptr);
    auto plain = duplicateAnimation(*doc, nullptr);
    const uint32_t word = 0x46E | opt::SmallestEncoding;
    const int strength = 60;
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, 0x46E, reporter);
    auto* smallest = find<QCheckBox>(&dlg, "smallestEncoding");
    auto* lossy = find<QSpinBox>(&dlg, "lossyStrength");
    QVERIFY(!smallest->isChecked());  // off unless the stored word says so
    QCOMPARE(lossy->value(), 0);
    QCOMPARE(lossy->maximum(), 1000);
    dlg.show();
    fbui::deliver();
    const int started = dlg.trialsStarted();
    smallest->setChecked(true);
    QCOMPARE(dlg.trialsStarted(), started + 1);
    lossy->setValue(strength);
    QCOMPARE(dlg.trialsStarted(), started + 2);
    dlg.finishTrial();
    QCOMPARE(dlg.validTrialOptions(), word);
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(dlg.edit());

    History history(20);
    QCOMPARE(runEdit(*doc, history, *dlg.edit(), 0, nullptr), 1);
    const Edit same = optimizeEdit(word, mergeOptionsFromPreferences(),
                                   gifWriteOptionsFromPreferences(), strength);
    QCOMPARE(runEdit(*batch, history, same, 0, nullptr), 1);
    QCOMPARE(fbui::gifBytes(*doc), fbui::gifBytes(*batch));
    // The two settings reached the trial: without them the result differs.
    QCOMPARE(runEdit(*plain, history, optimizeEdit(0x46E, mergeOptionsFromPreferences()), 0,
                     nullptr),
             1);
    QVERIFY(fbui::gifBytes(*doc) != fbui::gifBytes(*plain));
    QCOMPARE(settings.storedWord(pref::OptimizeOptions), word);
  }

  // A trial no smaller than the document's current encoding (the bytes it was
  // read from, to which a save adds the signature) is not taken: the dialog
  // says so and OK leaves no edit.
  void aTrialNoSmallerIsNotTaken() {
    fbui::FreshSettings settings;
    auto blank = fbui::blankAnimation(1);
    const auto bytes = fbui::gifBytes(*blank);
    MemorySource src(bytes.data(), bytes.size());
    std::unique_ptr<Animation> doc;
    QVERIFY(isGifSignature(src));
    QCOMPARE(readGif(src, nullptr, doc), kReadComplete);
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, 0x46E, reporter);
    dlg.show();
    fbui::deliver();
    dlg.finishTrial();
    QVERIFY(dlg.trialValid());
    QVERIFY(find<QLabel>(&dlg, "progressText")->text().contains(QString::fromUtf8("动画保持不变")));
    find<QPushButton>(&dlg, "ok")->click();
    QVERIFY(!dlg.edit());
    QCOMPARE(fbui::gifBytes(*doc), bytes);
    QVERIFY(reporter.entries().empty());
  }

  void cancelLeavesTheDocumentUntouched() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/testsrc-localpal-ffmpeg.gif");
    const auto original = fbui::gifBytes(*doc);
    RecordingReporter reporter;
    {
      OptimizeDialog dlg(*doc, 0x46E, reporter);
      dlg.show();
      fbui::deliver();
      find<QCheckBox>(&dlg, "1083")->setChecked(false);
      find<QPushButton>(&dlg, "cancel")->click();  // with a trial still running
      QCOMPARE(dlg.result(), int(QDialog::Rejected));
      QVERIFY(!dlg.edit());
      fbui::deliver();
    }
    QCOMPARE(fbui::gifBytes(*doc), original);
    QCOMPARE(settings.storedWord(pref::OptimizeOptions), 0xFFFFFFFFu);  // nothing written
  }

  void manualComputesOnlyOnStart() {
    fbui::FreshSettings settings;
    auto doc = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    RecordingReporter reporter;
    OptimizeDialog dlg(*doc, 0x46E | opt::Manual, reporter);
    dlg.show();
    fbui::deliver();
    auto* start = find<QPushButton>(&dlg, "1268");
    QCOMPARE(dlg.trialsStarted(), 0);
    QVERIFY(start->isEnabled());
    start->click();
    dlg.finishTrial();
    QVERIFY(dlg.trialValid());
    QVERIFY(!start->isEnabled());
    QVERIFY(!find<QLabel>(&dlg, "1154")->text().isEmpty());
    // A change clears the sizes and waits for "开始".
    find<QCheckBox>(&dlg, "1121")->setChecked(false);
    QCOMPARE(dlg.trialsStarted(), 1);
    QVERIFY(start->isEnabled());
    QVERIFY(find<QLabel>(&dlg, "1154")->text().isEmpty());
    // OK without a trial computes one (undo is on) and keeps the manual bit.
    dlg.accept();
    QCOMPARE(dlg.trialsStarted(), 2);
    QVERIFY(dlg.edit());
    QCOMPARE(settings.storedWord(pref::OptimizeOptions) & opt::Manual, opt::Manual);
  }

  void removeFramesRecomputesOnlyWhenItMatters() {
    fbui::FreshSettings settings;
    RecordingReporter reporter;
    // Frames that change nothing are left as 1 x 1: removing them matters.
    auto still = fbui::blankAnimation(3);
    OptimizeDialog dlg(*still, 0x46E & ~opt::RemoveFrames, reporter);
    dlg.show();
    fbui::deliver();
    dlg.finishTrial();
    QCOMPARE(dlg.trialsStarted(), 1);
    find<QCheckBox>(&dlg, "1125")->setChecked(true);
    QCOMPARE(dlg.trialsStarted(), 2);
    dlg.finishTrial();
    // The trial lost frames: keeping them matters too.
    find<QCheckBox>(&dlg, "1125")->setChecked(false);
    QCOMPARE(dlg.trialsStarted(), 3);
    dlg.finishTrial();
    QVERIFY(dlg.trialValid());

    // A document whose frames all change: the valid trial stands for both.
    auto moving = fbui::loadGif("gif-real/screen-sprite-ffmpeg.gif");
    OptimizeDialog other(*moving, 0x46E & ~opt::RemoveFrames, reporter);
    other.show();
    fbui::deliver();
    other.finishTrial();
    find<QCheckBox>(&other, "1125")->setChecked(true);
    QCOMPARE(other.trialsStarted(), 1);
    QVERIFY(other.trialValid());
    QCOMPARE(other.validTrialOptions(), other.trialOptions());
    find<QCheckBox>(&other, "1125")->setChecked(false);
    QCOMPARE(other.trialsStarted(), 1);
  }

  // The worker's failures reach the user on the dialog's thread; nothing
  // thrown on the worker escapes it.
  void workerFailuresAreShownOnTheDialogThread() {
    struct Recorder : RecordingReporter {
      std::thread::id thread;
      void message(std::string_view c, std::string_view t, Icon i) override {
        thread = std::this_thread::get_id();
        RecordingReporter::message(c, t, i);
      }
    } reporter;
    QObject owner;
    TrialWorker worker(&owner, {}, {});
    bool done = false;
    worker.start(
        [](Progress&) {
          showWarning("from the worker");
          throw std::bad_alloc();
        },
        [&] { done = true; }, reporter, "out of memory");
    worker.finish();
    QVERIFY(done);
    QCOMPARE(reporter.texts(), (std::vector<std::string>{"from the worker", "out of memory"}));
    QVERIFY(reporter.thread == std::this_thread::get_id());
    // A cancelled job is never collected.
    done = false;
    worker.start(
        [](Progress& p) {
          while (!p.cancelled()) std::this_thread::yield();
        },
        [&] { done = true; }, reporter, "");
    worker.cancelAndWait();
    fbui::deliver();
    QVERIFY(!done);
  }
};

FB_UI_TEST(OptimizeDialogTest);
#include "optimize_dialog_test.moc"
