// The questions frame insertion asks: "调色板合并" (dialog 201, the palette
// merge method) and "帧尺寸冲突" (dialog 108, frames larger than the
// animation), and the chooser that asks them for the engine.
//
//   QtMergeChooser chooser(reporter(), this);  // kept by the window
//   setMergeChooser(&chooser);  // insertion, paste and open ask with it
#pragma once

#include <QDialog>

#include "base/reporter.h"
#include "imaging/palette_merge.h"

class QCheckBox;
class QRadioButton;

namespace fb::ui {

class MergeMethodPanel;

class MergeMethodDialog : public QDialog {
 public:
  MergeMethodDialog(uint32_t suggested, Reporter& reporter, QWidget* parent = nullptr);
  // After OK: the whole method word and whether it becomes the default.
  MergeChooser::MethodChoice choice() const;

 private:
  MergeMethodPanel* panel_;
  QCheckBox* makeDefault_;
};

class SizeConflictDialog : public QDialog {
 public:
  SizeConflictDialog(bool suggestGrow, QWidget* parent = nullptr);
  MergeChooser::SizeChoice choice() const;

 private:
  QRadioButton *clip_, *grow_;
  QCheckBox* makeDefault_;
};

// Asks with the dialogs above; a choice made the default is stored in the
// preferences (words 10 and 2), so the engine does not ask again.
class QtMergeChooser : public MergeChooser {
 public:
  QtMergeChooser(Reporter& reporter, QWidget* parent = nullptr)
      : reporter_(reporter), parent_(parent) {}
  MethodChoice chooseMergeMethod(uint32_t suggested) override;
  SizeChoice chooseSizeConflict(bool suggestGrow) override;

  // What a choice stores, for the dialogs' callers and tests.
  static void remember(const MethodChoice& choice);
  static void remember(const SizeChoice& choice);

 private:
  Reporter& reporter_;
  QWidget* parent_;
};

}  // namespace fb::ui
