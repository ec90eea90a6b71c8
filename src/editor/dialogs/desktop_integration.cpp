#include "editor/dialogs/desktop_integration.h"

#include <QDir>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace fb::ui {
namespace {

bool runXdgMime(const QStringList& args, QByteArray* output = nullptr) {
  QProcess p;
  p.start(QStringLiteral("xdg-mime"), args);
  if (!p.waitForStarted(5000) || !p.waitForFinished(30000)) return false;
  if (output) *output = p.readAllStandardOutput();
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString execField(const QString& path) {
  // The desktop entry's Exec quoting, only where a reserved character needs
  // it (xdg-mime reads the program name unquoted).
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool plain = true;
  for (QChar c : path) plain = plain && !reserved.contains(c);
  if (plain) return path;
  QString out = path;
  for (const char* c : {"\\", "\"", "`", "$"})
    out.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
  // The value's own string escaping comes on top: each backslash doubled.
  out = QLatin1Char('"') + out + QLatin1Char('"');
  return out.replace(QLatin1String("\\"), QLatin1String("\\\\"));
}

}  // namespace

bool writeDesktopEntry(const QString& executable) {
  const QString folder =
      QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/applications";
  if (!QDir().mkpath(folder)) return false;
  QSaveFile f(folder + "/" + kDesktopEntryName);
  if (!f.open(QIODevice::WriteOnly)) return false;
  const QString entry = QStringLiteral(
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Flickbook\n"
                            "Comment=Animated GIF editor\n"
                            "Exec=%1 %f\n"
                            "Terminal=false\n"
                            "Categories=Graphics;2DGraphics;RasterGraphics;\n"
                            "MimeType=image/gif;image/png;image/apng;video/x-msvideo;image/bmp;"
                            "image/jpeg;image/vnd.adobe.photoshop;image/vnd.microsoft.icon;\n")
                            .arg(execField(executable));
  f.write(entry.toUtf8());
  return f.commit();
}

bool makeDefaultForGif(const QString& executable) {
  return writeDesktopEntry(executable) && runXdgMime({"default", kDesktopEntryName, "image/gif"});
}

bool isDefaultForGif() {
  QByteArray out;
  return runXdgMime({"query", "default", "image/gif"}, &out) &&
         out.trimmed() == QByteArray(kDesktopEntryName);
}

}  // namespace fb::ui
