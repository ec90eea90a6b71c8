// "优化动画" (dialog 169): the optimizer's options, a trial optimization of a
// private copy computed on a worker whenever they change, and the sizes
// before and after.
//
// Background work on the document stops first (the worker reads it):
//   ctx.prepareChange();
//   OptimizeDialog dlg(*ctx.animation(), optimizeOptionsFromPreferences(), reporter(), this);
//   if (runModal(dlg) == QDialog::Accepted && dlg.edit()) ctx.apply(*dlg.edit());
#pragma once

#include <QDialog>
#include <optional>

#include "document/edit.h"
#include "editor/dialogs/trial_worker.h"
#include "imaging/optimizer.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace fb::ui {

class OptimizeDialog : public TrialDialog {
 public:
  // `options`: the stored option bits (word 5). The document is only read
  // while the dialog is open.
  OptimizeDialog(Animation& document, uint32_t options, Reporter& reporter,
                 QWidget* parent = nullptr);
  ~OptimizeDialog() override;

  // After OK: the edit that makes the change, one undo step "优化动画" (the
  // trial swapped in, or the optimization run in place when there is no
  // trial); empty when nothing changes.
  const std::optional<Edit>& edit() const { return edit_; }

  // The option bits the controls say (what a trial is computed with).
  uint32_t trialOptions() const;
  // The lossy LZW strength (0 = off). Kept for the dialog's life only: the
  // settings file has no word for it.
  int lossy() const;
  // Waits for a running trial and shows its result now.
  void finishTrial();
  bool trialRunning() const { return worker().busy(); }
  // busy() first: while the worker runs it writes the job.
  bool trialValid() const { return !worker().busy() && job_.trialValid; }
  // The options of the valid trial.
  uint32_t validTrialOptions() const { return job_.options; }
  int trialsStarted() const { return trialsStarted_; }

  void accept() override;
  void reject() override;

 private:
  void begin() override;
  void optionChanged();
  void removeFramesToggled(bool on);
  void startTrial(uint32_t options);
  void trialDone();
  void dropTrial();
  void clearTrialFields();
  void updateEnabled();
  uint32_t storedOptions() const;

  Animation& doc_;
  Reporter& reporter_;
  MergeOptions merge_;
  GifWriteOptions gif_;
  bool hasGlobal_ = false;
  bool anyLocal_ = false;
  int64_t documentSize_ = -1;
  uint32_t runningOptions_ = 0;
  int runningLossy_ = 0;
  int trialsStarted_ = 0;
  OptimizeJob job_;
  std::optional<Edit> edit_;

  QCheckBox *crop_, *transparency_, *removeFrames_, *removeLocal_, *shrink_, *manual_, *smallest_;
  QSpinBox* lossy_;
  QRadioButton *fit_, *map_, *adaptive_;
  QPushButton* start_;
  QLabel *currentSize_, *afterSize_, *saving_, *percent_;
};

}  // namespace fb::ui
