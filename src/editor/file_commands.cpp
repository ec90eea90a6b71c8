// The File menu: open, open by type, insert, save, Save As, revert, restart,
// recent files, help; and the save-changes rule they share.
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include "base/file_ops.h"
#include "base/reporter.h"
#include "document/frame_ops.h"
#include "base/prefs.h"
#include "base/settings_file.h"
#include "editor/choosers.h"
#include "editor/command_table.h"
#include "editor/dialogs/help.h"
#include "editor/dialogs/save_as_dialog.h"
#include "editor/frame_model.h"
#include "editor/main_window.h"
#include "editor/preview_window.h"
#include "editor/progress_dialog.h"
#include "editor/recent_files.h"
#include "editor/ui_text.h"
#include "formats/filmstrip.h"
#include "gif/gif_reader.h"
#include "imaging/edits.h"
#include "imaging/frame_insert.h"
#include "io/open_save.h"
#include "io/options.h"

namespace fb {
namespace {

constexpr uint32_t kNoAutoPreview = 0x200000;     // word 6
constexpr uint32_t kFilmstripVertical = 0x20000000;  // word 6

// A filter as Qt reads it: the patterns inside the parentheses separated by
// blanks (the texts separate them with commas).
QString qtFilter(Str id) {
  QString f = qtext(id);
  int open = f.lastIndexOf('(');
  if (open < 0) return f;
  QString patterns = f.mid(open);
  patterns.replace(',', ' ').replace(';', ' ');
  return f.left(open) + patterns;
}

QString allSupported(Str label) {
  return qtext(label) +
         " (*.gif *.avi *.bmp *.dib *.jpg *.jpe *.jpeg *.psd *.png *.apng *.ico *.cur *.ani)";
}

}  // namespace

QStringList MainWindow::openFilters() {
  return {allSupported(Str::EditorAllSupported), qtFilter(Str::FilterGif),
          qtFilter(Str::FilterAvi),              qtFilter(Str::FilterBmp),
          qtFilter(Str::FilterJpeg),             qtFilter(Str::FilterPsd),
          qtFilter(Str::FilterPng),              qtFilter(Str::FilterIcon),
          qtFilter(Str::FilterCursor),           qtFilter(Str::FilterAniCursor),
          qtext(Str::EditorAllFiles)};
}

namespace {

Str filterOf(int id) {
  switch (id) {
    case cmd::OpenAvi: return Str::FilterAvi;
    case cmd::OpenBmp: return Str::FilterBmp;
    case cmd::OpenJpeg: return Str::FilterJpeg;
    case cmd::OpenPsd: return Str::FilterPsd;
    case cmd::OpenPng: return Str::FilterPng;
    case cmd::OpenIcon: return Str::FilterIcon;
    case cmd::OpenCursor: return Str::FilterCursor;
    case cmd::OpenAniCursor: return Str::FilterAniCursor;
    default: return Str::Count_;
  }
}

}  // namespace

bool MainWindow::saveChangesRule() {
  if (!ctx_.hasDocument() || !ctx_.modified()) return true;
  std::string question = ctx_.path().empty()
                             ? std::string(text(Str::EditorSaveChangesUntitled))
                             : format(Str::EditorSaveChangesTo, ctx_.path().c_str());
  Answer a = reporter().ask(text(Str::EditorProgram), question, Icon::Warning,
                            Buttons::YesNoCancel, Answer::Cancel);
  // A failed save counts as Cancel; so does one that wrote only single
  // pictures and left the animation itself unsaved.
  if (a == Answer::Yes) return cmdSave() && !ctx_.modified();
  return a == Answer::No;
}

bool MainWindow::openWithDialog(const QString& title, const QStringList& filters,
                                const QString& selected, bool multiple, QStringList& chosen) {
  QString folder;
  // The stored folder counts only when the settings existed before.
  if (settings().opened())
    folder = qpath(settings().getString("InitDir").value_or(std::string()));
  if (folder.isEmpty()) folder = ui::samplesDirectory();
  chosen = fileChooser().openFiles(this, title, folder, filters, selected, multiple);
  if (chosen.isEmpty()) return false;
  settings().setString("InitDir", fileops::directoryOf(spath(chosen.first())));
  return true;
}

bool MainWindow::cmdOpen(int id) {
  if (!saveChangesRule()) return false;
  QStringList filters = openFilters();
  QString selected = filters.first();
  QString title = qtext(Str::EditorOpenTitle);
  if (id == cmd::OpenFilmstrip) {
    filters.prepend(allSupported(Str::EditorFilmstripFilter));
    selected = filters.first();
  } else if (filterOf(id) != Str::Count_) {
    selected = qtFilter(filterOf(id));
  }
  QStringList chosen;
  if (!openWithDialog(title, filters, selected, id == cmd::Open, chosen)) return false;
  if (!openFiles(chosen)) return false;
  if (id != cmd::OpenFilmstrip) return true;
  // A filmstrip names its grid " (CxR)"; otherwise its frames are squares.
  Animation* a = ctx_.animation();
  QRegularExpressionMatch m =
      QRegularExpression(R"(\((\d+)\s*x\s*(\d+)\)[^/]*$)").match(chosen.first());
  int columns = 1, rows = 1;
  if (m.hasMatch()) {
    columns = m.captured(1).toInt();
    rows = m.captured(2).toInt();
  } else if (prefGet(pref::GeneralOptions) & kFilmstripVertical) {
    rows = std::max(1, a->height / std::max(1, a->width));
  } else {
    columns = std::max(1, a->width / std::max(1, a->height));
  }
  ctx_.prepareChange();
  if (!splitFilmstrip(*a, columns, rows)) {
    ctx_.closeDocument();  // on failure the document is closed
    return false;
  }
  std::string path = ctx_.path();
  std::unique_ptr<Animation> taken = std::move(ctx_.openDocument().animation);
  ctx_.setDocument(std::move(taken), path);
  return true;
}

bool MainWindow::readFiles(const QStringList& paths, std::unique_ptr<Animation>& first) {
  Animation* tail = nullptr;
  const OpenOptions options = openOptionsFromPreferences();
  for (const QString& p : paths) {
    std::unique_ptr<Animation> a;
    int result;
    {
      ProgressDialog progress(this);
      result = openFile(spath(p), a, &progress, options);
    }
    if (result == kReadFailed || !a) return false;  // the reader said why
    if (!first) {
      first = std::move(a);
      tail = first.get();
    } else {
      tail->nextAnimation = std::move(a);
      tail = tail->nextAnimation.get();
    }
  }
  return first != nullptr;
}

bool MainWindow::openFiles(const QStringList& paths) {
  if (paths.isEmpty()) return false;
  std::unique_ptr<Animation> first;
  if (!readFiles(paths, first)) return false;
  const MergeOptions merge = mergeOptionsFromPreferences();
  ProgressDialog progress(this);
  std::unique_ptr<Animation> rest = std::move(first->nextAnimation);
  int result = 1;
  if (rest) {
    result = insertAnimations(*first, rest, -1, merger(), &progress, merge);
    first->playCount = merge.defaultPlayCount;
  } else {
    bool trueColour = false;
    for (Frame* f = firstFrame(*first); f; f = nextFrame(f))
      if (f->hasRgb() && !f->dib) trueColour = true;
    if (trueColour) result = mergePalettes(nullptr, *first, 0, merger(), &progress, merge);
  }
  if (result != 1) return false;
  bool single = paths.size() == 1;
  ctx_.setDocument(std::move(first), single ? spath(paths.first()) : std::string());
  if (!single) ctx_.setModified(true);
  if (single) afterOpen(spath(paths.first()));
  if (ctx_.frameCount() > 1 && !(prefGet(pref::GeneralOptions) & kNoAutoPreview))
    cmdPreview(false);
  return true;
}

void MainWindow::afterOpen(const std::string& path) {
  addRecentFile(path);
  rebuildRecentMenu();
}

bool MainWindow::insertFiles(const QStringList& paths, int position) {
  if (!ctx_.hasDocument()) return openFiles(paths);
  std::unique_ptr<Animation> first;
  if (!readFiles(paths, first)) return false;
  int before = ctx_.frameCount();
  int at = position < 0 || position > before ? before : position;
  auto sources = std::make_shared<std::unique_ptr<Animation>>(std::move(first));
  ProgressDialog progress(this);
  if (ctx_.apply(insertEdit(sources, position < 0 ? -1 : at, merger(),
                            mergeOptionsFromPreferences()),
                 &progress) != 1)
    return false;
  ctx_.setSelection(indexRange(at, ctx_.frameCount() - before), at);
  return true;
}

bool MainWindow::cmdInsert() {
  QStringList chosen;
  QStringList filters = openFilters();
  if (!openWithDialog(qtext(Str::EditorInsertTitle), filters, filters.first(), true, chosen))
    return false;
  return insertFiles(chosen, ctx_.currentFrame());
}

bool MainWindow::withSaveAsDialog(const std::function<bool(SaveAsDialog*)>& save) {
  if (SaveAsDialog* set = saveAsDialog()) return save(set);
  ui::QtAviCodecChooser codecs(this);
  // The AVI panel's fix is an edit; the save goes on with the document
  // left alone by background work.
  ui::QtSaveAsDialog own(
      *ctx_.animation(),
      [this](const Edit& e) {
        int result = ctx_.apply(e);
        ctx_.prepareChange();
        return result;
      },
      &codecs, reporter(), this);
  return save(&own);
}

bool MainWindow::cmdSave() {
  if (!ctx_.hasDocument()) return true;
  // The save may clip frames and stamps the signature: nothing may read the document meanwhile.
  std::string before = ctx_.path();
  bool clipped = false;
  bool ok = withSaveAsDialog([&](SaveAsDialog* dialog) {
    DocumentContext::ChangeScope changing(ctx_);
    clipped = framesOutsideScreen(*ctx_.animation());
    ProgressDialog progress(this);
    return saveDocument(ctx_.openDocument(), &progress, dialog);
  });
  if (ok && ctx_.path() != before && !ctx_.path().empty()) afterOpen(ctx_.path());
  ctx_.announce(clipped ? Change::everything() : Change());
  return ok;
}

bool MainWindow::cmdSaveAs(int typeIndex) {
  if (!ctx_.hasDocument()) return false;
  std::string before = ctx_.path();
  bool ok = withSaveAsDialog([&](SaveAsDialog* dialog) {
    DocumentContext::ChangeScope changing(ctx_);
    ProgressDialog progress(this);
    return saveAs(ctx_.openDocument(), typeIndex, &progress, dialog);
  });
  if (ok && !ctx_.path().empty() && ctx_.path() != before) afterOpen(ctx_.path());
  ctx_.announce(Change());
  return ok;
}

bool MainWindow::cmdRevert() {
  if (!ctx_.hasDocument() || ctx_.path().empty() || !ctx_.modified()) return false;
  if (reporter().ask(text(Str::EditorRevertCaption), text(Str::EditorRevertQuestion),
                     Icon::Warning, Buttons::OkCancel, Answer::Cancel) != Answer::Ok)
    return false;
  return openFiles({qpath(ctx_.path())});
}

bool MainWindow::cmdRestart() {
  if (!ctx_.hasDocument() || !saveChangesRule()) return false;
  ctx_.closeDocument();
  return true;
}

bool MainWindow::cmdRecent(int n) {
  std::vector<std::string> files = recentFiles();
  if (n < 1 || n > static_cast<int>(files.size())) return false;
  if (!saveChangesRule()) return false;
  std::string path = files[n - 1];
  if (openFiles({qpath(path)})) return true;
  if (removeRecentFile(path)) rebuildRecentMenu();
  return false;
}

void MainWindow::cmdHelp(bool tutorial) {
  if (tutorial)
    ui::openTutorial(reporter());
  else
    ui::openHelp(reporter());
}

}  // namespace fb
