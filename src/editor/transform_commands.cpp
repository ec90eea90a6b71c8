// The frame transforms and the commands beside them: rotate and flip (the
// selected frames or the animation), move/crop, crop, resize, ping-pong,
// blend, timing files, the HTML snippet and the external editor. Each change
// is one edit, one undo step; dialogs only collect the choices.
#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/reporter.h"
#include "editor/choosers.h"
#include "editor/command_table.h"
#include "editor/dialogs/transform_dialogs.h"
#include "editor/main_window.h"
#include "editor/progress_dialog.h"
#include "editor/qt_reporter.h"
#include "editor/ui_text.h"
#include "formats/timing_file.h"
#include "imaging/edits.h"
#include "io/external_edit.h"
#include "io/options.h"

namespace fb {
namespace {

// The frames a frame command acts on: the selected ones, else the current one.
std::vector<int> framesToChange(const DocumentContext& ctx) {
  std::vector<int> frames = ctx.selectedFrames();
  if (frames.empty() && ctx.currentFrame() >= 0) frames.push_back(ctx.currentFrame());
  return frames;
}

// Where a timing file of the document goes (beside it; untitled: by that name).
QString timingPath(const std::string& documentPath) {
  return qpath(timingFilePath(documentPath.empty() ? std::string(text(Str::EditorUntitled)) + ".gif"
                                                   : documentPath));
}

QStringList timingFilters() {
  return {qtext(Str::TimingFilter), qtext(Str::EditorAllFiles)};
}

}  // namespace

bool MainWindow::cmdTransform(int id) {
  Animation* a = ctx_.animation();
  if (!a) return false;
  const std::vector<int> frames = framesToChange(ctx_);
  // The frame commands need a frame to act on.
  auto onFrames = [&](const std::function<Edit()>& make) {
    if (frames.empty()) {
      beep();
      return false;
    }
    return ctx_.apply(make()) != 0;
  };
  switch (id) {
    case cmd::FrameRotate180:
      return onFrames([&] { return rotateFramesEdit(frames, Rotation::Half); });
    case cmd::FrameRotateCw:
      return onFrames([&] { return rotateFramesEdit(frames, Rotation::Clockwise90); });
    case cmd::FrameRotateCcw:
      return onFrames([&] { return rotateFramesEdit(frames, Rotation::Anticlockwise90); });
    case cmd::FrameFlipH:
      return onFrames([&] { return flipFramesEdit(frames, FlipAxis::Horizontal); });
    case cmd::FrameFlipV:
      return onFrames([&] { return flipFramesEdit(frames, FlipAxis::Vertical); });
    case cmd::AnimRotate180:
      return ctx_.apply(rotateAnimationEdit(Rotation::Half)) != 0;
    case cmd::AnimRotateCw:
      return ctx_.apply(rotateAnimationEdit(Rotation::Clockwise90)) != 0;
    case cmd::AnimRotateCcw:
      return ctx_.apply(rotateAnimationEdit(Rotation::Anticlockwise90)) != 0;
    case cmd::AnimFlipH:
      return ctx_.apply(flipAnimationEdit(FlipAxis::Horizontal)) != 0;
    case cmd::AnimFlipV:
      return ctx_.apply(flipAnimationEdit(FlipAxis::Vertical)) != 0;
    case cmd::PingPong:
      return ctx_.frameCount() >= 2 && ctx_.apply(pingPongEdit()) != 0;
    case cmd::MoveCrop: {
      if (ctx_.currentFrame() < 0) return false;
      ui::MoveCropDialog dlg(*a, ctx_.currentFrame(), reporter(), this);
      return runModal(dlg) == QDialog::Accepted && ctx_.apply(dlg.edit()) != 0;
    }
    case cmd::CropAnimation: {
      ui::CropDialog dlg(*a, reporter(), this);
      return runModal(dlg) == QDialog::Accepted && ctx_.apply(dlg.edit()) != 0;
    }
    case cmd::ResizeFrames:
    case cmd::ResizeAnimation: {
      if (id == cmd::ResizeFrames && frames.empty()) return false;
      ui::ResizeDialog dlg(*a, id == cmd::ResizeFrames ? frames : std::vector<int>(), reporter(),
                           this);
      if (runModal(dlg) != QDialog::Accepted) return false;
      ProgressDialog progress(this);
      return ctx_.apply(dlg.edit(), &progress) != 0;
    }
    case cmd::Blend:
      return cmdBlend();
    case cmd::LoadTiming: {
      QStringList chosen =
          fileChooser().openFiles(this, qtext(Str::TimingOpenTitle), timingPath(ctx_.path()),
                                  timingFilters(), timingFilters().first(), false);
      if (chosen.isEmpty()) return false;
      return ctx_.apply(loadTimingEdit(spath(chosen.first()),
                                       documentDefaultsFromPreferences().timeBase)) != 0;
    }
    case cmd::SaveTiming: {
      QString path = fileChooser().saveFile(this, qtext(Str::TimingSaveTitle),
                                            timingPath(ctx_.path()), timingFilters());
      return !path.isEmpty() &&
             saveTimingFile(*a, spath(path), documentDefaultsFromPreferences().timeBase);
    }
    case cmd::Html: {
      ui::HtmlDialog dlg(ctx_.path(), a->width, a->height, this);
      runModal(dlg);
      return true;
    }
    case cmd::ExternalEditFrame:
      return cmdExternalEdit(false);
    case cmd::ExternalEditAnimation:
      return cmdExternalEdit(true);
    default:
      return false;
  }
}

bool MainWindow::cmdBlend() {
  if (ctx_.frameCount() < 1) return false;
  QStringList filters = openFilters();
  QStringList chosen;
  if (!openWithDialog(qtext(Str::EditorBlendTitle), filters, filters.first(), false, chosen))
    return false;
  std::unique_ptr<Animation> read;
  if (!readFiles(chosen, read)) return false;
  std::shared_ptr<const Animation> other(std::move(read));
  const QString name = qpath(fileops::baseName(spath(chosen.first())));
  ui::BlendDialog dlg(*ctx_.animation(), other, name, blendOptionsFromPreferences(), merger(),
                      this);
  if (runModal(dlg) != QDialog::Accepted) return false;
  ProgressDialog progress(this);
  return ctx_.apply(dlg.edit(), &progress) != 0;
}

bool MainWindow::cmdExternalEdit(bool wholeAnimation) {
  if (!ctx_.hasDocument() || (!wholeAnimation && ctx_.currentFrame() < 0)) return false;
  std::string editor = externalEditorFromPreferences();
  if (editor.empty()) {
    // No editor yet: the user names one, kept for next time.
    editor = spath(fileChooser()
                       .openFiles(this, qtext(Str::ExternalChooseEditor), QString(),
                                  {qtext(Str::EditorAllFiles)}, QString(), false)
                       .value(0));
    if (editor.empty()) return false;
    storeExternalEditor(editor);
    updateCommands();
  }
  ExternalEditOptions o;
  o.wholeAnimation = wholeAnimation;
  o.frame = ctx_.currentFrame();
  o.psdLayerMask = (prefGet(pref::MoreOptions) & more::PsdLayerMask) != 0;
  o.open = openOptionsFromPreferences();
  o.chooser = merger();
  o.documentName = fileops::stemOf(ctx_.path());
  // The session owns the file: it goes when the session does, whichever way this ends.
  std::unique_ptr<ExternalEdit> session = ExternalEdit::begin(*ctx_.animation(), o);
  if (!session || !session->launch(editor)) return false;
  ui::ExternalEditDialog dlg(
      *session, [this]() -> const Animation* { return ctx_.animation(); },
      [this](const Edit& e) {
        ProgressDialog progress(this);
        return ctx_.apply(e, &progress) != 0;
      },
      this);
  runModal(dlg);
  return dlg.taken() > 0;
}

}  // namespace fb
