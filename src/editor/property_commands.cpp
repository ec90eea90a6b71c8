// The commands of the property, comment, timing, palette and pixel dialogs.
// Each dialog works on what the command hands it (a private copy where it
// shows its changes as it goes); what it collected is one edit, one undo step.
#include "editor/choosers.h"
#include "editor/dialogs/palette_editor.h"
#include "editor/dialogs/pixel_editor.h"
#include "editor/dialogs/property_dialogs.h"
#include "editor/main_window.h"

namespace fb {
namespace {

// Opens `dialog` and applies its edit when it gave one.
template <typename D>
bool runAndApply(DocumentContext& ctx, D& dialog) {
  return runModal(dialog) == QDialog::Accepted && dialog.edit() && ctx.apply(*dialog.edit()) != 0;
}

}  // namespace

bool MainWindow::cmdFrameProperties(bool allFrames) {
  if (allFrames ? ctx_.frameCount() < 1 : ctx_.currentFrame() < 0) return false;
  ui::FramePropertiesDialog dlg(*ctx_.animation(), ctx_.selectedFrames(), allFrames, reporter(),
                                this);
  return runAndApply(ctx_, dlg);
}

bool MainWindow::cmdAnimationProperties() {
  if (!ctx_.hasDocument()) return false;
  ui::AnimationPropertiesDialog dlg(*ctx_.animation(), reporter(), this);
  return runAndApply(ctx_, dlg);
}

bool MainWindow::cmdComments() {
  if (!ctx_.hasDocument()) return false;
  ui::CommentsDialog dlg(*ctx_.animation(), reporter(), this);
  return runAndApply(ctx_, dlg);
}

bool MainWindow::cmdTiming() {
  if (ctx_.frameCount() < 1) return false;
  ui::TimingDialog dlg(*ctx_.animation(), reporter(), this);
  return runAndApply(ctx_, dlg);
}

bool MainWindow::cmdPalette(bool global) {
  if (!ctx_.hasDocument() || (!global && ctx_.currentFrame() < 0)) return false;
  ui::PaletteEditorDialog dlg(
      *ctx_.animation(),
      global ? PaletteTarget::global() : PaletteTarget::local(ctx_.currentFrame()), reporter(),
      this);
  return dlg.ready() && runAndApply(ctx_, dlg);
}

bool MainWindow::cmdPixels(bool pickTransparent) {
  if (ctx_.currentFrame() < 0) return false;
  ui::PixelEditorDialog dlg(*ctx_.animation(), ctx_.currentFrame(), pickTransparent, reporter(),
                            this);
  return dlg.ready() && runAndApply(ctx_, dlg);
}

}  // namespace fb
