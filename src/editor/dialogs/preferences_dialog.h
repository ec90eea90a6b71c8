// "Preferences": the seven pages of settings. Every control stands for a
// preference word's bits (or a stored setting); OK checks the typed values
// and writes the words that changed.
//
//   PreferencesDialog dlg(reporter(), this);
//   if (runModal(dlg) == QDialog::Accepted) {
//     ctx.applyUndoLevels();
//     showFrameTips(dlg.frameTipsShown());
//     if (dlg.interlaceTurnedOff()) clear the open document's interlace flags (one undo step);
//   }
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "base/reporter.h"
#include "editor/dialogs/purpose.h"

class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace fb::ui {

class MergeMethodPanel;
class SteppedSpinBox;

class PreferencesDialog : public QDialog {
 public:
  explicit PreferencesDialog(Reporter& reporter, QWidget* parent = nullptr);

  void accept() override;

  // After OK.
  bool frameTipsShown() const;
  // Interlacing was allowed and no longer is: the window takes the flag off
  // every frame of the open document.
  bool interlaceTurnedOff() const;

  QTabWidget* pages() const { return tabs_; }

 private:
  void load();
  void collect();
  void purposeChosen(Purpose p);
  bool validate();
  void updateTipBoxes();

  Reporter& reporter_;
  PrefWords before_;  // as the dialog opened
  PrefWords words_;   // as the controls say
  Purpose shownPurpose_;
  bool wasDefaultForGif_ = false;
  double shownFrameRate_ = 0;
  int shownJpegStep_ = 0;
  QString shownSignature_, shownEditor_;

  QTabWidget* tabs_;
  std::unique_ptr<PurposeChoice> purpose_;  // not a widget: its buttons belong to the page
  // General
  QCheckBox *autoPreview_, *previewLoops_, *fullScreen_, *hideStart_, *associate_, *interlace_;
  QSpinBox* undoLevels_;
  QLineEdit* editor_;
  // Palette
  MergeMethodPanel* method_;
  QCheckBox* askMerge_;
  // Animation
  SteppedSpinBox *delay_, *playCount_;
  QRadioButton *sizeClip_, *sizeGrow_;
  QCheckBox* sizeAsk_;
  // Output
  QCheckBox *keep24Bit_, *transparentOnLoad_, *signatureOn_, *fixedRate_, *psdLayerMask_;
  QPushButton* transparentColour_;
  uint32_t colour_ = 0;
  QLineEdit* signature_;
  QDoubleSpinBox* frameRate_;
  QSlider* jpegQuality_;
  // Output II
  QCheckBox *iconXpOrder_, *iconPng256_, *filmstripNames_, *pngAlways24_;
  // Frame tips
  QCheckBox* tipsShown_;
  std::vector<std::pair<QCheckBox*, uint32_t>> tipBoxes_;
  QCheckBox* tipBitCount_;
};

}  // namespace fb::ui
