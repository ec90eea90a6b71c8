#include "editor/dialogs/optimize_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/number_format.h"
#include "base/prefs.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "gif/gif_writer.h"
#include "imaging/edits.h"
#include "io/options.h"

namespace fb::ui {

OptimizeDialog::OptimizeDialog(Animation& document, uint32_t options, Reporter& reporter,
                               QWidget* parent)
    : TrialDialog(parent),
      doc_(document),
      reporter_(reporter),
      merge_(mergeOptionsFromPreferences()),
      gif_(gifWriteOptionsFromPreferences()) {
  setObjectName("169");
  setWindowTitle(qtext(Str::OptimizeTitle));
  hasGlobal_ = doc_.globalPalette != nullptr;
  for (int i = 0; i < doc_.frameCount(); ++i)
    if (doc_.frame(i)->localPalette) anyLocal_ = true;
  job_.document = &doc_;
  job_.hasDialog = true;
  job_.merge = merge_;
  job_.gif = gif_;

  auto* frames = new QGroupBox(this);
  auto* fl = new QVBoxLayout(frames);
  crop_ = makeCheck(Str::OptimizeCropFrames, "1121", frames);
  transparency_ = makeCheck(Str::OptimizeTransparency, "1122", frames);
  removeFrames_ = makeCheck(Str::OptimizeRemoveFrames, "1125", frames);
  fl->addWidget(crop_);
  fl->addWidget(transparency_);
  fl->addWidget(removeFrames_);

  auto* palettes = new QGroupBox(this);
  auto* pl = new QVBoxLayout(palettes);
  removeLocal_ = makeCheck(Str::OptimizeRemoveLocal, "1124", palettes);
  fit_ = makeRadio(Str::OptimizeMethodFit, "1073", palettes);
  map_ = makeRadio(Str::OptimizeMethodMap, "1074", palettes);
  adaptive_ = makeRadio(Str::OptimizeMethodAdaptive, "1075", palettes);
  shrink_ = makeCheck(Str::OptimizeShrink, "1083", palettes);
  pl->addWidget(removeLocal_);
  for (QRadioButton* r : {fit_, map_, adaptive_}) {
    r->setContentsMargins(20, 0, 0, 0);
    pl->addWidget(r);
  }
  pl->addWidget(shrink_);

  auto* encoding = new QHBoxLayout;
  smallest_ = makeCheck(Str::OptimizeSmallest, "smallestEncoding", this);
  lossy_ = new QSpinBox(this);
  lossy_->setObjectName("lossyStrength");
  lossy_->setRange(0, 1000);
  lossy_->setKeyboardTracking(false);  // one trial for a typed number, not one per digit
  encoding->addWidget(smallest_);
  encoding->addStretch();
  encoding->addWidget(new QLabel(qtext(Str::OptimizeLossy), this));
  encoding->addWidget(lossy_);

  manual_ = makeCheck(Str::OptimizeManual, "1257", this);
  start_ = makeButton(Str::OptimizeStart, "1268", this);

  auto* sizes = new QFormLayout;
  currentSize_ = makeField("1153", this);
  afterSize_ = makeField("1154", this);
  saving_ = makeField("1155", this);
  percent_ = makeField("1158", this);
  auto* savingRow = new QHBoxLayout;
  savingRow->addWidget(saving_);
  savingRow->addWidget(percent_);
  savingRow->addStretch();
  sizes->addRow(qtext(Str::OptimizeCurrentSize), currentSize_);
  sizes->addRow(qtext(Str::OptimizeAfterSize), afterSize_);
  sizes->addRow(qtext(Str::OptimizeSaving), savingRow);

  auto* buttons = makeButtons(this, Str::ButtonDone);

  auto* manualRow = new QHBoxLayout;
  manualRow->addWidget(manual_);
  manualRow->addWidget(start_);
  manualRow->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frames);
  layout->addWidget(palettes);
  layout->addLayout(encoding);
  layout->addLayout(manualRow);
  layout->addLayout(sizes);
  layout->addWidget(progressText());
  layout->addWidget(progressBar());
  layout->addWidget(buttons);

  // The controls as the stored options say.
  shrink_->setChecked(options & opt::ShrinkPalettes);
  (options & opt::AdaptiveGlobal ? adaptive_
   : options & opt::MapToGlobal  ? map_
                                 : fit_)
      ->setChecked(true);
  removeLocal_->setChecked(options & opt::RemoveLocalPalettes);
  if (!hasGlobal_) adaptive_->setChecked(true);
  crop_->setChecked(options & opt::CropFrames);
  transparency_->setChecked(options & opt::Transparency);
  removeFrames_->setChecked(options & opt::RemoveFrames);
  manual_->setChecked(options & opt::Manual);
  smallest_->setChecked(options & opt::SmallestEncoding);
  updateEnabled();
  start_->setEnabled(manual_->isChecked());

  for (QCheckBox* c : {crop_, transparency_, removeLocal_, shrink_, smallest_})
    connect(c, &QCheckBox::toggled, this, [this] {
      updateEnabled();
      optionChanged();
    });
  connect(removeLocal_, &QCheckBox::toggled, this, [this](bool on) {
    if (on && !hasGlobal_) adaptive_->setChecked(true);
  });
  for (QRadioButton* r : {fit_, map_, adaptive_})
    connect(r, &QRadioButton::toggled, this, [this](bool on) {
      if (on) optionChanged();
    });
  connect(lossy_, &QSpinBox::valueChanged, this, [this] { optionChanged(); });
  connect(removeFrames_, &QCheckBox::toggled, this, &OptimizeDialog::removeFramesToggled);
  connect(manual_, &QCheckBox::toggled, this, [this](bool on) {
    if (on)
      start_->setEnabled(!trialValid());
    else
      optionChanged();
  });
  connect(start_, &QPushButton::clicked, this, [this] { startTrial(trialOptions()); });
}

OptimizeDialog::~OptimizeDialog() {
  worker().cancelAndWait();
}

void OptimizeDialog::updateEnabled() {
  transparency_->setEnabled(crop_->isChecked());
  removeFrames_->setEnabled(crop_->isChecked());
  removeLocal_->setEnabled(anyLocal_);
  const bool methods = anyLocal_ && removeLocal_->isChecked();
  adaptive_->setEnabled(methods);
  fit_->setEnabled(methods && hasGlobal_);
  map_->setEnabled(methods && hasGlobal_);
}

uint32_t OptimizeDialog::trialOptions() const {
  uint32_t o = 0;
  if (crop_->isChecked()) o |= opt::CropFrames;
  if (transparency_->isChecked()) o |= opt::Transparency;
  if (removeFrames_->isChecked()) o |= opt::RemoveFrames;
  if (removeLocal_->isChecked() && removeLocal_->isEnabled()) o |= opt::RemoveLocalPalettes;
  if (map_->isChecked()) o |= opt::MapToGlobal;
  if (adaptive_->isChecked()) o |= opt::AdaptiveGlobal;
  if (shrink_->isChecked()) o |= opt::ShrinkPalettes;
  if (smallest_->isChecked()) o |= opt::SmallestEncoding;
  return o;
}

int OptimizeDialog::lossy() const {
  return lossy_->value();
}

uint32_t OptimizeDialog::storedOptions() const {
  // A box disabled because this document has no local palettes keeps the
  // user's choice for the next one.
  uint32_t o = trialOptions();
  if (removeLocal_->isChecked()) o |= opt::RemoveLocalPalettes;
  if (manual_->isChecked()) o |= opt::Manual;
  return o;
}

void OptimizeDialog::begin() {
  documentSize_ = settleForWorker(doc_, gif_);
  currentSize_->setText(qpath(formatByteCount(documentSize_)));
  if (!manual_->isChecked()) startTrial(trialOptions());
}

void OptimizeDialog::optionChanged() {
  if (!begun()) return;
  const uint32_t o = trialOptions();
  if (trialValid() && job_.options == o && job_.lossy == lossy()) return;
  if (worker().busy() && runningOptions_ == o && runningLossy_ == lossy()) return;
  if (manual_->isChecked()) {
    dropTrial();
    start_->setEnabled(true);
    return;
  }
  startTrial(o);
}

void OptimizeDialog::removeFramesToggled(bool on) {
  // Whether frames go only matters when the trial has frames that change
  // nothing (left as 1 x 1) or lost some.
  progressText()->setText(qtext(on ? Str::CheckingRemovable : Str::CheckingRemoved));
  if (begun() && trialValid() && job_.trial) {
    bool matters = false;
    if (on) {
      for (int i = 0; i < job_.trial->frameCount() && !matters; ++i) {
        const Frame* f = job_.trial->frame(i);
        matters = f->width == 1 && f->height == 1;
      }
    } else {
      matters = job_.trial->frameCount() != doc_.frameCount();
    }
    if (!matters) {
      job_.options = trialOptions();
      progressText()->clear();
      return;
    }
  }
  optionChanged();
}

void OptimizeDialog::clearTrialFields() {
  afterSize_->clear();
  saving_->clear();
  percent_->clear();
}

void OptimizeDialog::dropTrial() {
  worker().cancelAndWait();
  job_.trial.reset();
  job_.trialValid = false;
  clearTrialFields();
  clearProgress();
}

void OptimizeDialog::startTrial(uint32_t options) {
  worker().cancelAndWait();
  clearTrialFields();
  job_.options = runningOptions_ = options;
  job_.lossy = runningLossy_ = lossy();
  // The trial is weighed against the size shown as the current one.
  job_.knownDocumentSize = documentSize_;
  job_.trialValid = false;
  ++trialsStarted_;
  worker().start(
      [this](Progress& progress) {
        job_.progress = &progress;
        runOptimizeJob(job_);
        job_.progress = nullptr;
      },
      [this] { trialDone(); }, reporter_, text(Str::OptimizeNoTrialMemory));
}

void OptimizeDialog::trialDone() {
  clearProgress();
  if (job_.trialValid) {
    afterSize_->setText(qpath(formatByteCount(job_.trialSize)));
    if (job_.saving >= 0) {
      saving_->setText(qpath(formatByteCount(job_.saving)));
      percent_->setText(qformat(Str::SavingPercent, job_.savingPercent));
    }
    if (job_.notTaken) progressText()->setText(qpath(job_.notice));
  } else {
    job_.trial.reset();
  }
  if (manual_->isChecked()) start_->setEnabled(false);
}

void OptimizeDialog::finishTrial() {
  worker().finish();
}

void OptimizeDialog::accept() {
  beginOnce();
  const uint32_t o = trialOptions();
  if (manual_->isChecked() && !trialValid() && !worker().busy()) {
    if (prefGet(pref::UndoLevels) != 0)
      startTrial(o);
    else
      dropTrial();
  }
  if (worker().busy()) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    worker().finish();
    QApplication::restoreOverrideCursor();
  }
  prefSet(pref::OptimizeOptions, storedOptions());
  if (job_.trialValid && job_.trial) {
    if (job_.notTaken || job_.trialSize == documentSize_)
      edit_.reset();  // nothing to gain: the document stays as it is
    else
      edit_ = acceptTrialEdit(std::shared_ptr<Animation>(job_.trial.release()),
                              text(Str::UndoOptimize));
  } else {
    edit_ = optimizeEdit(o, merge_, gif_, lossy());
  }
  job_.trialValid = false;
  QDialog::accept();
}

void OptimizeDialog::reject() {
  worker().cancelAndWait();
  job_.trial.reset();
  job_.trialValid = false;
  edit_.reset();
  QDialog::reject();
}

}  // namespace fb::ui
