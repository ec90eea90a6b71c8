// What the editor tests share: documents made in memory, a window with its
// modal questions answered by a recording reporter and scripted choosers, and
// a way to compare documents exactly.
#pragma once

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QDialog>
#include <QStringList>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/prefs.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/animation.h"
#include "editor/choosers.h"
#include "editor/command_table.h"
#include "editor/frame_model.h"
#include "editor/main_window.h"
#include "editor/qt_reporter.h"
#include "gif/gif_writer.h"
#include "io/save_document.h"
#include "testutil.h"

namespace edtest {

// A document of `frames` frames of w × h, each with its own pixels and delay,
// drawn with a four-colour global palette.
inline std::unique_ptr<fb::Animation> makeDoc(int frames, int w = 6, int h = 4) {
  auto a = fb::createAnimation();
  a->width = w;
  a->height = h;
  fb::Rgb colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  fb::setGlobalPalette(*a, fb::makePalette(colours, 4));
  for (int i = 0; i < frames; ++i) {
    auto f = fb::newBlankFrame(w, h);
    f->dib = fb::createBitmap(w, h, a->globalPalette.get());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f->dib->row(y)[x] = static_cast<uint8_t>((x + y + i) % 4);
    f->delay = 10 * (i + 1);
    f->setDisposal(1);
    fb::appendFrame(*a, std::move(f));
  }
  return a;
}

class ScriptedFiles : public fb::FileChooser {
 public:
  std::deque<QStringList> opens;
  std::deque<QString> saves;
  std::deque<QColor> colours;
  QString lastTitle;
  QString lastSelectedFilter;
  QString lastFolder;
  QStringList openFiles(QWidget*, const QString& title, const QString& folder,
                        const QStringList&, const QString& selected, bool) override {
    lastTitle = title;
    lastSelectedFilter = selected;
    lastFolder = folder;
    if (opens.empty()) return {};
    QStringList r = opens.front();
    opens.pop_front();
    return r;
  }
  QString saveFile(QWidget*, const QString&, const QString&, const QStringList&) override {
    if (saves.empty()) return {};
    QString r = saves.front();
    saves.pop_front();
    return r;
  }
  bool chooseColour(QWidget*, QColor& c) override {
    if (colours.empty()) return false;
    c = colours.front();
    colours.pop_front();
    return true;
  }
};

class ScriptedSaveAs : public fb::SaveAsDialog {
 public:
  std::string path;  // empty: cancel
  int type = 1;
  uint32_t options = 0x3;
  int calls = 0;
  bool choose(const std::string&, const std::string&, int& typeIndex, uint32_t& o,
              std::string& chosen) override {
    ++calls;
    if (path.empty()) return false;
    typeIndex = type;
    o = options;
    chosen = path;
    return true;
  }
};

// Answers the modal dialogs in turn: each answer sets the dialog's controls
// and accepts or rejects it. A dialog without an answer is cancelled, so no
// test ever waits on one; `shown` says which opened (their object names).
class ScriptedDialogs {
 public:
  using Answer = std::function<void(QDialog&)>;
  std::deque<Answer> answers;
  QStringList shown;
  int run(QDialog& d) {
    shown << d.objectName();
    if (answers.empty()) {
      d.reject();
    } else {
      Answer a = std::move(answers.front());
      answers.pop_front();
      a(d);
      if (d.isVisible()) d.reject();  // an answer that left it open cancels it
    }
    return d.result();
  }
};

// Installs the recording reporter and scripted choosers for one test, with
// settings in memory and the preferences at their defaults.
class Harness {
 public:
  Harness() {
    fb::closeSettings();
    fb::resetPreferences();
    reporter.setHasWindow(true);
    fb::setGlobalReporter(&reporter);
    fb::setFileChooser(&files);
    fb::setSaveAsDialog(&saveAs);
    fb::setDialogRunner([this](QDialog& d) { return dialogs.run(d); });
    fb::setBeepHook([this] { ++beeps; });
    QApplication::clipboard()->clear();
  }
  ~Harness() {
    fb::setGlobalReporter(nullptr);
    fb::setFileChooser(nullptr);
    fb::setSaveAsDialog(nullptr);
    fb::setDialogRunner(nullptr);
    fb::setBeepHook(nullptr);
  }
  fb::RecordingReporter reporter;
  ScriptedFiles files;
  ScriptedSaveAs saveAs;
  ScriptedDialogs dialogs;
  int beeps = 0;
  fbtest::TempDir dir;
};

// The window's document, exactly (the size cache left out: a worker counts it).
inline std::string docDigest(fb::MainWindow& w) {
  w.sizeWorker().stop();
  fb::Animation* a = w.context().animation();
  if (!a) return "none";
  int32_t size = a->encodedSize;
  a->encodedSize = -1;
  std::string d = fbtest::digest(*a);
  a->encodedSize = size;
  return d;
}

inline void writeGif(const std::string& path, fb::Animation& a) {
  fb::writeGifFile(path, a, nullptr, fb::GifWriteOptions{100, "", false});
}

inline QAction* act(fb::MainWindow& w, int id) {
  QAction* a = w.action(id);
  if (!a) qFatal("no action %d", id);
  return a;
}

// A dialog's control by its id, of the kind the test expects.
template <typename T>
T* control(QObject* parent, const char* id) {
  T* w = parent->findChild<T*>(QString::fromLatin1(id));
  if (!w) qFatal("no control '%s' of the expected kind", id);
  return w;
}

// The dialog the runner was handed, as the kind the test expects.
template <typename T>
T& as(QDialog& d) {
  T* t = dynamic_cast<T*>(&d);
  if (!t) qFatal("dialog '%s' is not of the expected kind", qPrintable(d.objectName()));
  return *t;
}

// Runs `command` through its action; the document must change as one undo
// step named `step` that undo takes back and redo brings back exactly.
inline void checkOneStep(fb::MainWindow& w, int command, const std::string& step) {
  const std::string before = docDigest(w);
  act(w, command)->trigger();
  const std::string after = docDigest(w);
  QVERIFY2(after != before, step.c_str());
  QVERIFY(w.context().modified());
  QCOMPARE(w.context().history().steps(), size_t(1));
  QCOMPARE(w.context().history().undoName(), step);
  QVERIFY(w.runCommand(fb::cmd::Undo));
  QCOMPARE(docDigest(w), before);
  QVERIFY(w.runCommand(fb::cmd::Redo));
  QCOMPARE(docDigest(w), after);
}

// Sets a document into the window as if it had been opened from `path`.
inline void load(fb::MainWindow& w, std::unique_ptr<fb::Animation> a, const std::string& path = "") {
  w.context().setDocument(std::move(a), path);
  w.updateCommands();
}

}  // namespace edtest
