// "减少调色板" (dialog 175): the colour count, dithering and locked colours,
// with the animation before and after the reduction side by side. The
// reduction of a private copy is recomputed on a worker whenever a choice
// changes.
//
//   ctx.prepareChange();
//   ReduceColoursDialog dlg(*ctx.animation(), reporter(), this);
//   if (dlg.exec() == QDialog::Accepted) ctx.apply(dlg.edit());
// exec() shows "Non-reducible Palette" and returns Rejected for palettes of 2 or fewer
// entries; otherwise it opens through runModal.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "document/edit.h"
#include "document/pictures.h"
#include "editor/dialogs/trial_worker.h"
#include "gif/gif_writer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace fb::ui {

class PictureView;
class SwatchGrid;

class ReduceColoursDialog : public TrialDialog {
 public:
  ReduceColoursDialog(Animation& document, Reporter& reporter, QWidget* parent = nullptr);
  ~ReduceColoursDialog() override;

  int exec() override;
  void accept() override;
  void reject() override;

  // The count the dialog works with (typed values clamped to 2..256).
  int colours() const;
  bool dither() const;
  // The slower high-quality palettes (not kept in the settings).
  bool quality() const;
  const std::vector<Rgb>& lockedColours() const { return locked_; }
  void setLockedColours(std::vector<Rgb> colours);
  // After OK: "缩减调色板" with the chosen settings.
  Edit edit() const;

  // The picture shown (0-based) and the two views, for the frame buttons and tests.
  void showPicture(int n);
  int shownPicture() const { return shown_; }
  const PictureView& afterView() const { return *after_; }
  void finishPreview();
  bool previewRunning() const { return worker().busy(); }
  int previewsStarted() const { return started_; }

 private:
  struct Preview;
  void begin() override;
  void recompute();
  void previewDone(const std::shared_ptr<Preview>& p);
  void chooseLocked();

  Animation& doc_;
  Reporter& reporter_;
  GifWriteOptions gif_;
  bool reducible_ = true;
  int shown_ = 0;
  int started_ = 0;
  int64_t documentSize_ = -1;
  std::vector<Rgb> locked_;
  std::unique_ptr<PictureCache> beforeCache_;
  std::unique_ptr<Animation> reduced_;  // the finished preview
  std::unique_ptr<PictureCache> reducedCache_;

  QComboBox* count_;
  QCheckBox *dither_, *quality_;
  PictureView *before_, *after_;
  QSlider* slider_;
  QLabel *frameNumber_, *beforeSize_, *afterSize_, *saving_, *beforeColours_, *afterColours_;
};

// "选取锁定颜色" (dialog 273): colours kept exactly by the reduction, picked
// by clicking the palette or the picture.
class LockedColoursDialog : public QDialog {
 public:
  LockedColoursDialog(Animation& document, std::vector<Rgb> locked, int picture,
                      QWidget* parent = nullptr);
  const std::vector<Rgb>& colours() const { return locked_; }
  void toggle(Rgb colour);

 private:
  void refresh();
  const Palette* palette_;
  std::vector<Rgb> locked_;
  SwatchGrid* grid_;
  PictureView* picture_;
  QLabel* list_;
};

}  // namespace fb::ui
