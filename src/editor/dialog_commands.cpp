// The commands that open a dialog: optimize, reduce colours, frame-count
// reduction and the preferences. Each dialog only collects the choices (and
// computes its previews on its own worker); the change it asks for is one
// edit, one undo step.
#include "base/prefs.h"
#include "base/reporter.h"
#include "editor/choosers.h"
#include "editor/dialogs/frame_count_dialog.h"
#include "editor/dialogs/optimize_dialog.h"
#include "editor/dialogs/preferences_dialog.h"
#include "editor/dialogs/reduce_colours_dialog.h"
#include "editor/filmstrip_view.h"
#include "editor/main_window.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"
#include "io/options.h"

namespace fb {

bool MainWindow::cmdOptimize() {
  if (!ctx_.hasDocument()) return false;
  ctx_.prepareChange();  // the trials read the document
  ui::OptimizeDialog dlg(*ctx_.animation(), optimizeOptionsFromPreferences(), reporter(), this);
  if (runModal(dlg) == QDialog::Accepted && dlg.edit()) return ctx_.apply(*dlg.edit()) != 0;
  ctx_.announce(Change());  // background work resumes on the unchanged document
  return false;
}

bool MainWindow::cmdReduceColours() {
  if (ctx_.frameCount() < 1) return false;
  ctx_.prepareChange();  // the previews read the document
  ui::ReduceColoursDialog dlg(*ctx_.animation(), reporter(), this);
  // Its exec() refuses palettes that cannot be reduced, then opens through runModal.
  if (dlg.exec() == QDialog::Accepted) return ctx_.apply(dlg.edit()) != 0;
  ctx_.announce(Change());
  return false;
}

bool MainWindow::cmdFrameCount() {
  if (ctx_.frameCount() < 2) return false;
  ui::FrameCountDialog dlg(*ctx_.animation(), reporter(), this);
  return runModal(dlg) == QDialog::Accepted && ctx_.apply(dlg.edit()) != 0;
}

bool MainWindow::cmdPreferences() {
  ui::PreferencesDialog dlg(reporter(), this);
  if (runModal(dlg) != QDialog::Accepted) return false;
  ctx_.applyUndoLevels();
  Animation* a = ctx_.animation();
  if (dlg.interlaceTurnedOff() && a) {
    std::vector<int> interlaced;
    for (int i = 0; i < a->frameCount(); ++i)
      if (a->frame(i)->interlaced()) interlaced.push_back(i);
    if (!interlaced.empty()) {
      Edit e = frameFieldsEdit(interlaced, [](Frame& f) {
        f.imageFlags = static_cast<uint8_t>(f.imageFlags & ~0x40);
        return true;
      });
      e.name = text(Str::UndoInterlace);
      ctx_.apply(e);
    }
  }
  // The signature and the GIF options count in the size; the tips follow word 13.
  restartSize();
  strip_->viewport()->update();
  updateCommands();
  return true;
}

}  // namespace fb
