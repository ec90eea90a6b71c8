// Runs one registered QtTest class, named by the first argument (ctest runs
// each class as a test of its own), or every class without one.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QStandardPaths>
#include <QTest>
#include <cstdio>
#include <map>

#include "base/prefs.h"
#include "base/settings_file.h"
#include "document/frame_ops.h"
#include "editor/dialogs/help.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "testutil.h"
#include "ui_test.h"

namespace fbui {
namespace {
std::map<std::string, std::function<std::unique_ptr<QObject>()>>& registry() {
  static std::map<std::string, std::function<std::unique_ptr<QObject>()>> r;
  return r;
}
}  // namespace

void registerTest(const char* name, std::function<std::unique_ptr<QObject>()> make) {
  registry()[name] = std::move(make);
}

FreshSettings::FreshSettings() {
  qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
  fb::openSettings(path());
  fb::loadPreferences();
}

FreshSettings::~FreshSettings() {
  fb::closeSettings();
  fb::resetPreferences();
}

std::string FreshSettings::path() const {
  return (dir_.path() + "/settings").toStdString();
}

uint32_t FreshSettings::storedWord(int word) const {
  fb::SettingsStore store(path());
  auto bytes = store.getBinary("Pref");
  if (!bytes || bytes->size() < static_cast<size_t>(word + 1) * 4) return 0xFFFFFFFF;
  const uint8_t* p = bytes->data() + word * 4;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

TestPickers::TestPickers() {
  fb::setFileChooser(this);
  fb::ui::setUrlOpener([this](const QUrl& url) {
    opened.push_back(url);
    return urlResult;
  });
}

TestPickers::~TestPickers() {
  fb::setFileChooser(nullptr);
  fb::ui::setUrlOpener({});
}

QStringList TestPickers::openFiles(QWidget*, const QString& title, const QString&,
                                   const QStringList&, const QString&, bool) {
  titles.push_back(title);
  if (files.empty()) return {};
  QString f = files.front();
  files.erase(files.begin());
  return {f};
}

QString TestPickers::saveFile(QWidget*, const QString&, const QString&, const QStringList&) {
  return QString();
}

bool TestPickers::chooseColour(QWidget*, QColor& colour) {
  if (colours.empty()) return false;
  colour = colours.front();
  colours.erase(colours.begin());
  return true;
}

std::unique_ptr<fb::Animation> loadGif(const std::string& relativePath) {
  std::unique_ptr<fb::Animation> a;
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  if (fb::openFile(fbtest::dataPath(relativePath), a, nullptr) == 0) return nullptr;
  return a;
}

std::unique_ptr<fb::Animation> blankAnimation(int frames) {
  auto a = fb::createAnimation();
  a->width = a->height = 8;
  const fb::Rgb colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  fb::setGlobalPalette(*a, fb::makePalette(colours, 4));
  for (int i = 0; i < frames; ++i) {
    auto f = fb::newBlankFrame(8, 8);
    f->setDisposal(1);
    f->lendPalette(a->globalPalette.get());
    auto dib = fb::createBitmap(8, 8, f->palette());
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) dib->row(y)[x] = static_cast<uint8_t>((x + y) % 4);
    fb::setBitmap(*f, std::move(dib));
    fb::appendFrame(*a, std::move(f));
  }
  return a;
}

std::vector<uint8_t> gifBytes(fb::Animation& a) {
  std::vector<uint8_t> out;
  fb::ByteSink sink(&out);
  fb::GifWriteOptions o;
  o.sign = false;
  fb::writeGifStream(sink, a, nullptr, o);
  return out;
}

void screenshot(QWidget* w, const char* name) {
  QDir dir(QString::fromUtf8(FB_BINARY_DIR) + "/screenshots");
  dir.mkpath(".");
  w->adjustSize();
  w->grab().save(dir.filePath(QString::fromUtf8(name) + ".png"));
}

}  // namespace fbui

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto& tests = fbui::registry();
  std::vector<std::string> names;
  QStringList args = app.arguments();
  if (args.size() > 1 && !args[1].startsWith('-')) {
    names.push_back(args[1].toStdString());
    args.removeAt(1);
  } else {
    for (auto& [name, make] : tests) names.push_back(name);
  }
  int failures = 0;
  for (const auto& name : names) {
    auto it = tests.find(name);
    if (it == tests.end()) {
      std::fprintf(stderr, "no test class %s\n", name.c_str());
      return 2;
    }
    auto test = it->second();
    failures += QTest::qExec(test.get(), args);
  }
  return failures ? 1 : 0;
}
