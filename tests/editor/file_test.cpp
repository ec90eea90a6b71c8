// Opening, saving, the save-changes rule, recent files and revert, with the
// file dialogs and questions answered by script.
#include <sys/stat.h>

#include <QMenu>
#include <filesystem>

#include "document/pictures.h"
#include "editor/recent_files.h"
#include "editor_fixture.h"
#include "editor_suites.h"

using namespace fb;
using namespace edtest;

namespace {

// Every picture a viewer shows, with how long it shows.
std::vector<std::pair<std::vector<uint8_t>, int>> playback(Animation& a) {
  std::vector<std::pair<std::vector<uint8_t>, int>> out;
  PictureCache cache(a);
  for (int n = 0; n < cache.count(); ++n) {
    Rgba r;
    if (!cache.picture(n, r)) return {};
    out.emplace_back(r.pixels, a.frame(n)->delay);
  }
  return out;
}

std::unique_ptr<Animation> readBack(const std::string& path) {
  std::unique_ptr<Animation> a;
  fbtest::readGifPath(path, a);
  return a;
}

class FileSuite : public QObject {
  Q_OBJECT

 private slots:
  void openMergesSeveralFilesIntoOneUntitledDocument() {
    Harness h;
    writeGif(h.dir.file("a.gif"), *makeDoc(2));
    writeGif(h.dir.file("b.gif"), *makeDoc(3));
    prefSetBits(pref::GeneralOptions, 0x200000, true);  // no preview after opening
    MainWindow w;
    h.files.opens.push_back({QString::fromStdString(h.dir.file("a.gif")),
                             QString::fromStdString(h.dir.file("b.gif"))});
    QVERIFY(w.runCommand(cmd::Open));
    QCOMPARE(w.context().frameCount(), 5);
    QVERIFY(w.context().path().empty());
    QVERIFY(w.context().modified());
    QCOMPARE(w.context().currentFrame(), 0);
    QVERIFY(!w.preview());
    // The dialog's folder is remembered.
    QCOMPARE(settings().getString("InitDir").value_or(""), h.dir.path());
  }

  void openByTypePreselectsItsFilterAndPreviewOpensByItself() {
    Harness h;
    writeGif(h.dir.file("a.gif"), *makeDoc(2));
    MainWindow w;
    h.files.opens.push_back({QString::fromStdString(h.dir.file("a.gif"))});
    QVERIFY(w.runCommand(cmd::OpenBmp));
    QCOMPARE(h.files.lastSelectedFilter, QString("BMP Files (*.bmp *.dib)"));
    QCOMPARE(w.context().path(), h.dir.file("a.gif"));
    QVERIFY(!w.context().modified());
    QVERIFY(w.preview() != nullptr);  // more than one frame
    QVERIFY(act(w, cmd::Preview)->isChecked());
    // A change closes the preview first.
    w.runCommand(cmd::Reverse);
    QVERIFY(!w.preview());
  }

  void saveChangesRule() {
    Harness h;
    MainWindow w;
    // Unmodified: never asks.
    load(w, makeDoc(2), h.dir.file("keep.gif"));
    QVERIFY(w.runCommand(cmd::Restart));
    QVERIFY(h.reporter.entries().empty());
    QVERIFY(!w.context().hasDocument());

    // Cancel keeps the document.
    load(w, makeDoc(2), h.dir.file("doc.gif"));
    w.runCommand(cmd::Reverse);
    h.reporter.queueAnswer(Answer::Cancel);
    QVERIFY(!w.runCommand(cmd::Restart));
    QVERIFY(w.context().hasDocument());
    auto asked = h.reporter.entries();
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0].caption, std::string("Flickbook"));
    QCOMPARE(asked[0].text, "是否保存更改到 " + h.dir.file("doc.gif") + "?");
    QVERIFY(asked[0].question);

    // No closes without writing.
    h.reporter.queueAnswer(Answer::No);
    QVERIFY(w.runCommand(cmd::Restart));
    QVERIFY(!std::filesystem::exists(h.dir.file("doc.gif")));

    // Yes saves, then closes.
    load(w, makeDoc(2), h.dir.file("doc.gif"));
    w.runCommand(cmd::Reverse);
    std::string reversed = docDigest(w);
    h.reporter.queueAnswer(Answer::Yes);
    QVERIFY(w.runCommand(cmd::Restart));
    auto saved = readBack(h.dir.file("doc.gif"));
    QVERIFY(saved);
    QCOMPARE(saved->frame(0)->delay, 20);  // the reversed order was written

    // A failed save counts as Cancel: the document stays.
    std::filesystem::create_directory(h.dir.file("folder.gif"));
    load(w, makeDoc(2), h.dir.file("folder.gif"));
    w.runCommand(cmd::Reverse);
    h.reporter.clear();
    h.reporter.queueAnswer(Answer::Yes);
    QVERIFY(!w.runCommand(cmd::Restart));
    QVERIFY(w.context().hasDocument());
    QVERIFY(w.context().modified());
    QVERIFY(h.reporter.contains("无法写入到 " + h.dir.file("folder.gif") + "."));

    // Untitled: its own question.
    load(w, makeDoc(1));
    w.context().setModified(true);
    h.reporter.clear();
    h.reporter.queueAnswer(Answer::Cancel);
    QVERIFY(!w.close());
    QVERIFY(h.reporter.contains("Save changes to untitled animation?"));
  }

  void recentFileRules() {
    Harness h;
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i) {
      paths.push_back(h.dir.file("f" + std::to_string(i) + ".gif"));
      writeGif(paths.back(), *makeDoc(1));
    }
    MainWindow w;
    auto open = [&](const std::string& p) {
      h.files.opens.push_back({QString::fromStdString(p)});
      return w.runCommand(cmd::Open);
    };
    QVERIFY(open(paths[0]));
    QVERIFY(open(paths[1]));
    QVERIFY(open(paths[0]));  // the same file again moves to the top, once
    QCOMPARE(recentFiles(), (std::vector<std::string>{paths[0], paths[1]}));
    // The menu: "&1: name" entries above "退出(&x)", then a separator.
    QList<QAction*> items = w.fileMenu()->actions();
    int exit = static_cast<int>(items.indexOf(act(w, cmd::Exit)));
    QCOMPARE(items[exit - 3]->text(), QString("&1: f0.gif"));
    QCOMPARE(items[exit - 2]->text(), QString("&2: f1.gif"));
    QVERIFY(items[exit - 1]->isSeparator());
    QCOMPARE(items[exit - 3]->objectName(), QString("40150"));

    for (int i = 1; i < 9; ++i) QVERIFY(open(paths[i]));
    std::vector<std::string> list = recentFiles();
    QCOMPARE(list.size(), size_t(7));
    QCOMPARE(list.front(), paths[8]);
    QCOMPARE(list.back(), paths[2]);  // the eighth distinct file pushed the oldest out

    // An entry that no longer opens is taken out, the others close up.
    std::filesystem::remove(paths[7]);
    QVERIFY(!w.runCommand(cmd::RecentFirst + 1));
    QVERIFY(h.reporter.contains("无法打开文件 '" + paths[7] + "'."));
    list = recentFiles();
    QCOMPARE(list.size(), size_t(6));
    QCOMPARE(list[1], paths[6]);
    QVERIFY(!w.action(cmd::RecentFirst + 6));

    // Start-up compaction: missing files drop out and the numbers close up.
    std::filesystem::remove(paths[5]);
    std::filesystem::remove(paths[3]);
    compactRecentFiles();
    QCOMPARE(recentFiles(), (std::vector<std::string>{paths[8], paths[6], paths[4], paths[2]}));
    QVERIFY(!settings().getString("File5"));
  }

  void saveAsKeepsEveryPictureAndTime() {
    Harness h;
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    std::string source = fbtest::dataPath("gif-real/screen-sprite-ffmpeg.gif");
    MainWindow w;
    h.files.opens.push_back({QString::fromStdString(source)});
    QVERIFY(w.runCommand(cmd::Open));
    h.saveAs.path = h.dir.file("copy.gif");
    QVERIFY(w.runCommand(cmd::SaveAs));
    QCOMPARE(w.context().path(), h.dir.file("copy.gif"));
    QVERIFY(!w.context().modified());
    QCOMPARE(w.windowTitle(), QString("copy.gif - Flickbook"));
    QCOMPARE(recentFiles().front(), h.dir.file("copy.gif"));
    auto original = readBack(source), copy = readBack(h.dir.file("copy.gif"));
    QVERIFY(original && copy);
    QVERIFY(playback(*original) == playback(*copy));
    QVERIFY(!playback(*copy).empty());
  }

  void revertAsksAndReloads() {
    Harness h;
    writeGif(h.dir.file("r.gif"), *makeDoc(3));
    prefSetBits(pref::GeneralOptions, 0x200000, true);
    MainWindow w;
    h.files.opens.push_back({QString::fromStdString(h.dir.file("r.gif"))});
    QVERIFY(w.runCommand(cmd::Open));
    std::string opened = docDigest(w);
    w.runCommand(cmd::Reverse);
    h.reporter.queueAnswer(Answer::Cancel);
    QVERIFY(!w.runCommand(cmd::Revert));
    QVERIFY(docDigest(w) != opened);
    auto q = h.reporter.entries().back();
    QCOMPARE(q.caption, std::string("恢复到上次保存"));
    QCOMPARE(q.text,
             std::string("Reverting to Saved will lose any changes made since the last save."));
    h.reporter.queueAnswer(Answer::Ok);
    QVERIFY(w.runCommand(cmd::Revert));
    QCOMPARE(docDigest(w), opened);
    QVERIFY(!w.context().modified());
  }

  void insertGoesBeforeTheCurrentFrame() {
    Harness h;
    writeGif(h.dir.file("two.gif"), *makeDoc(2, 6, 4));
    MainWindow w;
    load(w, makeDoc(3));
    w.context().selectOnly(1);
    h.files.opens.push_back({QString::fromStdString(h.dir.file("two.gif"))});
    QVERIFY(w.runCommand(cmd::InsertFrames));
    QCOMPARE(h.files.lastTitle, QString("插入帧到动画"));
    QCOMPARE(w.context().frameCount(), 5);
    // The inserted frames (delays 10, 20) stand before the old frame 1 (delay 20), selected.
    Animation* a = w.context().animation();
    QCOMPARE(a->frame(1)->delay, 10);
    QCOMPARE(a->frame(2)->delay, 20);
    QCOMPARE(a->frame(3)->delay, 20);
    QCOMPARE(w.context().selectedFrames(), (std::vector<int>{1, 2}));
    QCOMPARE(act(w, cmd::Undo)->text(), QString("撤消 插入帧(&U)\tCtrl+Z"));
  }
};

}  // namespace

std::unique_ptr<QObject> edtest::makeFileSuite() { return std::make_unique<FileSuite>(); }

#include "file_test.moc"
