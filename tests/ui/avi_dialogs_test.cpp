#include "editor/dialogs/avi_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "base/prefs.h"
#include "base/progress.h"
#include "base/settings_file.h"
#include "document/history.h"
#include "editor/dialogs/save_as_dialog.h"
#include "formats/avi.h"
#include "io/open_save.h"
#include "io/options.h"
#include "resources/strings.h"
#include "testutil.h"
#include "ui_test.h"

using namespace fb;
using namespace fb::ui;
using fbui::find;

namespace {

// Answers the codec dialog without showing it.
struct FakeCodecChooser : AviCodecChooser {
  bool answer = true;
  int asked = 0;
  bool choose(const std::vector<avi::EncoderInfo>&, avi::CompressOptions& o) override {
    ++asked;
    o.fccHandler = 0x64697678;  // "xvid"
    o.quality = 5000;
    return answer;
  }
};

const std::string kAudioFile = FB_TEST_DATA "/avi/test_mp3.avi";
const std::string kSilentFile = FB_TEST_DATA "/gif-real/screen-sprite-ffmpeg.gif";

}  // namespace

class AviDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void compressionChoiceIsStored() {
    fbui::FreshSettings settings;
    RecordingReporter reporter;
    FakeCodecChooser codecs;
    AviOptionsPanel panel(0, aviSettingsFromPreferences(), &codecs, reporter, Str::AviCustom);
    QVERIFY(find<QRadioButton>(&panel, "rle8")->isChecked());  // nothing stored: RLE8
    QVERIFY(!find<QCheckBox>(&panel, "write24Bit")->isVisibleTo(&panel));
    QVERIFY(!find<QCheckBox>(&panel, "includeAudio")->isEnabled());

    find<QRadioButton>(&panel, "none")->click();
    AviSaveOptions out;
    QVERIFY(panel.confirm(out));
    QVERIFY(!out.compress);
    QCOMPARE(settings.storedWord(pref::GeneralOptions) & gen::AviUncompressed,
             gen::AviUncompressed);

    find<QRadioButton>(&panel, "video1")->click();
    QVERIFY(panel.confirm(out));
    QVERIFY(out.compress);
    QCOMPARE(settings.storedWord(pref::GeneralOptions) & gen::AviUncompressed, 0u);
    QCOMPARE(*SettingsStore(settings.path()).getBinary("AVICompress"),
             packAviCompression(aviPreset(AviPreset::Video1)));

    // A cancelled codec choice falls back to RLE8; a confirmed one is kept.
    codecs.answer = false;
    find<QRadioButton>(&panel, "custom")->click();
    QVERIFY(find<QRadioButton>(&panel, "rle8")->isChecked());
    codecs.answer = true;
    find<QRadioButton>(&panel, "custom")->click();
    QVERIFY(find<QRadioButton>(&panel, "custom")->isChecked());
    QVERIFY(panel.confirm(out));
    QCOMPARE(out.compression.fccHandler, 0x64697678u);
    QCOMPARE(loadAviCompression().fccHandler, 0x64697678u);
    QCOMPARE(codecs.asked, 2);
  }

  void trueColourTakesVideo1() {
    fbui::FreshSettings settings;
    RecordingReporter reporter;
    AviOptionsPanel panel(avitraits::TrueColour, aviSettingsFromPreferences(), nullptr, reporter,
                          Str::AviCustom);
    QVERIFY(find<QCheckBox>(&panel, "write24Bit")->isVisibleTo(&panel));
    QVERIFY(find<QCheckBox>(&panel, "write24Bit")->isChecked());
    QVERIFY(!find<QRadioButton>(&panel, "rle8")->isEnabled());
    QVERIFY(find<QRadioButton>(&panel, "video1")->isChecked());
    AviSaveOptions out;
    QVERIFY(panel.confirm(out));
    QVERIFY(out.write24Bit);
  }

  void audioFile() {
    fbui::FreshSettings settings;
    fbui::TestPickers pickers;
    RecordingReporter reporter;
    AviOptionsPanel panel(0, aviSettingsFromPreferences(), nullptr, reporter, Str::AviCustom);
    auto* path = find<QLineEdit>(&panel, "audioPath");
    auto* include = find<QCheckBox>(&panel, "includeAudio");
    QTest::keyClicks(path, "x");
    QVERIFY(include->isEnabled() && include->isChecked());
    path->selectAll();
    QTest::keyClick(path, Qt::Key_Delete);
    QVERIFY(!include->isEnabled() && !include->isChecked());

    // A typed file without audio stops the save, with the message.
    QTest::keyClicks(path, QString::fromStdString(kSilentFile));
    AviSaveOptions out;
    QVERIFY(!panel.confirm(out));
    QCOMPARE(reporter.texts(),
             std::vector<std::string>{format(Str::AviNoAudioIn, kSilentFile.c_str())});
    QVERIFY(path->hasFocus() || !panel.isVisible());

    // "浏览 ...": a file without audio is refused and the dialog asked again.
    reporter.clear();
    pickers.files = {QString::fromStdString(kSilentFile), QString::fromStdString(kAudioFile)};
    find<QPushButton>(&panel, "browseAudio")->click();
    QCOMPARE(pickers.titles.size(), size_t(2));
    QCOMPARE(pickers.titles[0], QStringLiteral("Insert Audio"));
    QCOMPARE(reporter.texts().size(), size_t(1));
    QCOMPARE(path->text(), QString::fromStdString(kAudioFile));
    QVERIFY(panel.confirm(out));
    QVERIFY(out.includeAudio);
    QCOMPARE(out.audioPath, kAudioFile);
  }

  void fixForAvi() {
    fbui::FreshSettings settings;
    auto doc = fbui::blankAnimation(3);
    setTransparent(*doc->frame(1), true);
    setTransparentIndex(*doc->frame(1), 3);
    const std::string before = fbtest::digest(*doc);
    History history(20);
    RecordingReporter reporter;
    EditRunner runner = [&](const Edit& e) { return runEdit(*doc, history, e, 0, nullptr); };
    AviSettingsDialog dlg(*doc, runner, nullptr, reporter);
    QVERIFY(!dlg.panel()->ready());
    QVERIFY(!find<QPushButton>(&dlg, "ok")->isEnabled());
    fbui::screenshot(&dlg, "fix-for-avi-311");
    find<QPushButton>(&dlg, "fix")->click();
    QVERIFY(dlg.panel()->ready());
    QVERIFY(find<QPushButton>(&dlg, "ok")->isEnabled());
    QCOMPARE(aviExportTraits(*doc) & avitraits::NeedsFix, 0u);
    QCOMPARE(history.steps(), size_t(1));
    QCOMPARE(history.undoName(), std::string(text(Str::FixForAviStep)));
    fbui::screenshot(&dlg, "avi-settings-193");
    dlg.accept();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    int current = 0;
    QVERIFY(history.undo(*doc, current));
    QCOMPARE(fbtest::digest(*doc), before);

    // A fix that fails (its step taken back by the runner): the panel stays.
    RecordingReporter quiet;
    int runs = 0;
    EditRunner failing = [&](const Edit&) {
      ++runs;
      return 0;
    };
    setTransparent(*doc->frame(2), true);
    AviSettingsDialog stays(*doc, failing, nullptr, quiet);
    find<QPushButton>(&stays, "fix")->click();
    QCOMPARE(runs, 1);
    QVERIFY(!stays.panel()->ready());
    QVERIFY(!find<QPushButton>(&stays, "ok")->isEnabled());
  }

  void codecDialog() {
    std::vector<avi::EncoderInfo> encoders = {{0x6376736d, "msvideo1", "Microsoft Video 1"},
                                              {0x64697678, "mpeg4", "MPEG-4 part 2"}};
    CodecDialog dlg(encoders, aviPreset(AviPreset::Video1));
    QCOMPARE(find<QListWidget>(&dlg, "codecs")->currentRow(), 0);
    find<QListWidget>(&dlg, "codecs")->setCurrentRow(1);
    find<QSpinBox>(&dlg, "keyFrames")->setValue(25);
    find<QSlider>(&dlg, "quality")->setValue(75);
    find<QSpinBox>(&dlg, "dataRate")->setValue(100);
    fbui::screenshot(&dlg, "codec-chooser");
    dlg.accept();
    avi::CompressOptions o = dlg.options();
    QCOMPARE(o.fccHandler, 0x64697678u);
    QCOMPARE(o.keyFrameEvery, 25u);
    QCOMPARE(o.quality, 7500u);
    QCOMPARE(o.bytesPerSecond, 102400u);
    QCOMPARE(o.flags, avi::compressf::KeyFrames | avi::compressf::DataRate);
  }

  // Save As with the AVI type: the panel's choice (with audio) reaches the writer.
  void saveAsAvi() {
    fbui::FreshSettings settings;
    fbtest::TempDir dir;
    OpenDocument doc;
    doc.animation = fbui::blankAnimation(2);
    History history(20);
    RecordingReporter reporter;
    EditRunner runner = [&](const Edit& e) {
      return runEdit(*doc.animation, history, e, 0, nullptr);
    };
    struct Driven : QtSaveAsDialog {
      using QtSaveAsDialog::QtSaveAsDialog;
      std::string target;
      bool choose(const std::string& folder, const std::string& name, int& type, uint32_t& options,
                  std::string& chosen) override {
        auto d = make(folder, name, type, options);
        find<QComboBox>(d.get(), "saveType")->setCurrentIndex(kTypeAvi - 1);
        if (!d->aviPanel() || !d->aviPanel()->ready()) return false;
        fbui::screenshot(d.get(), "save-as-avi-283");
        find<QRadioButton>(d->aviPanel(), "none")->click();
        QTest::keyClicks(find<QLineEdit>(d->aviPanel(), "audioPath"),
                         QString::fromStdString(kAudioFile));
        find<QLineEdit>(d.get(), "saveName")->setText(QString::fromStdString(target));
        d->accept();
        return finish(*d, type, options, chosen);
      }
    } dialog(*doc.animation, runner, nullptr, reporter);
    dialog.target = dir.file("movie.avi");
    RecordingProgress progress;
    ScopedReporter scope(reporter);
    const bool saved = saveAs(doc, -1, &progress, &dialog);
    for (const auto& t : reporter.texts()) qWarning("%s", t.c_str());
    QVERIFY(saved);
    QCOMPARE(doc.path, dir.file("movie.avi"));
    QVERIFY(dialog.aviChoice());
    QVERIFY(!dialog.aviChoice()->compress);
    QCOMPARE(prefGet(pref::SaveType) & 0xFF, uint32_t(kTypeAvi));
    std::unique_ptr<Animation> back;
    QCOMPARE(ReadAviFile(doc.path, nullptr, back), 1);
    QCOMPARE(back->frameCount(), 2);
    // Only the panel knows of the audio: the save took its choice.
    QVERIFY(dialog.aviChoice()->includeAudio);
    QVERIFY(aviHasAudioStream(doc.path));
  }
};

FB_UI_TEST(AviDialogsTest);
#include "avi_dialogs_test.moc"
