// Helpers for the dialog tests: fresh settings per test, controls found by
// their ids, answers set in advance instead of modal windows, screenshots.
#pragma once

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "document/animation.h"
#include "editor/choosers.h"

namespace fbui {

// A test class registers itself for the runner (tests/ui/ui_main.cpp).
void registerTest(const char* name, std::function<std::unique_ptr<QObject>()> make);
template <typename T>
struct Registration {
  explicit Registration(const char* name) {
    registerTest(name, [] { return std::make_unique<T>(); });
  }
};
#define FB_UI_TEST(Class) static fbui::Registration<Class> registration_##Class(#Class)

// Every test gets its own settings file (and XDG_CONFIG_HOME) with the defaults.
class FreshSettings {
 public:
  FreshSettings();
  ~FreshSettings();
  std::string path() const;
  // Word `word` of "Pref" as the settings file holds it now.
  uint32_t storedWord(int word) const;
  QString folder() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
};

// The child with this object name, failing the test run when there is none.
template <typename T>
T* find(QObject* parent, const char* id) {
  T* w = parent->findChild<T*>(QString::fromLatin1(id));
  if (!w) qFatal("no control '%s' of the expected kind", id);
  return w;
}

// Delivers what workers posted to the dialogs' thread.
inline void deliver() {
  QCoreApplication::processEvents();
}

// File and colour choosers and a browser whose next answers a test sets.
class TestPickers : public fb::FileChooser {
 public:
  TestPickers();
  ~TestPickers() override;
  QStringList openFiles(QWidget*, const QString& title, const QString&, const QStringList&,
                        const QString&, bool) override;
  QString saveFile(QWidget*, const QString&, const QString&, const QStringList&) override;
  bool chooseColour(QWidget*, QColor& colour) override;

  std::vector<QString> files;  // answered first to last; none left: cancelled
  std::vector<QColor> colours;
  std::vector<QString> titles;  // what each file dialog was titled
  std::vector<QUrl> opened;
  bool urlResult = true;
};

std::unique_ptr<fb::Animation> loadGif(const std::string& relativePath);
// `frames` identical full frames of 8 x 8 in four colours: nothing to fix for AVI, and
// every frame after the first changes nothing.
std::unique_ptr<fb::Animation> blankAnimation(int frames);
// The document as a GIF stream (no signature): equal bytes, equal documents.
std::vector<uint8_t> gifBytes(fb::Animation& a);
// Saves the widget's picture under the build folder's screenshots/.
void screenshot(QWidget* w, const char* name);

}  // namespace fbui
