// "Preferences": the seven pages of settings. Every control stands for a
// preference word's bits (or a stored setting); OK checks the typed values
// and writes the words that changed.
//
//   ctx.prepareChange();
//   PreferencesDialog dlg(reporter(), &ctx.openDocument(), this);
//   if (dlg.exec() == QDialog::Accepted) {
//     ctx.applyUndoLevels();
//     showFrameTips(dlg.frameTipsShown());
//     if (dlg.documentChanged()) ctx.announce(Change::allFrameFields());
//   }
#pragma once

#include <QDialog>
#include <QString>

#include "base/reporter.h"
#include "editor/dialogs/purpose.h"
#include "io/save_document.h"

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
  // `document` (may be null): the open document, whose frames lose their
  // interlace flag when interlacing is turned off.
  PreferencesDialog(Reporter& reporter, OpenDocument* document, QWidget* parent = nullptr);

  void accept() override;

  // After OK.
  bool frameTipsShown() const;
  // The document was changed (interlace flags removed): it is marked
  // modified and its size counted again; the views need a refresh.
  bool documentChanged() const { return documentChanged_; }

  QTabWidget* pages() const { return tabs_; }

 private:
  void load();
  void collect();
  void purposeChosen(Purpose p);
  bool validate();
  void updateTipBoxes();

  Reporter& reporter_;
  OpenDocument* document_;
  PrefWords before_;  // as the dialog opened
  PrefWords words_;   // as the controls say
  Purpose shownPurpose_;
  bool documentChanged_ = false;
  bool wasDefaultForGif_ = false;
  double shownFrameRate_ = 0;
  int shownJpegStep_ = 0;
  QString shownSignature_, shownEditor_;

  QTabWidget* tabs_;
  PurposeChoice* purpose_;
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
