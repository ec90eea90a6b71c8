// The palette editor ("全局调色板" or "局部调色板"): the entries as a grid;
// an entry takes a colour from the colour chooser, moves earlier or later,
// duplicates merge, a palette file loads or saves. Every change is made at
// once on a private copy of the document, so what the grid shows is what OK
// gives: all of them as one undo step.
//
//   PaletteEditorDialog dlg(*ctx.animation(), PaletteTarget::global(), reporter(), this);
//   if (dlg.ready() && runModal(dlg) == QDialog::Accepted && dlg.edit()) ctx.apply(*dlg.edit());
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "base/reporter.h"
#include "document/edit.h"
#include "imaging/palette_edit.h"

class QLabel;
class QSpinBox;

namespace fb::ui {

class SwatchGrid;

class PaletteEditorDialog : public QDialog {
 public:
  PaletteEditorDialog(const Animation& document, PaletteTarget target, Reporter& reporter,
                      QWidget* parent = nullptr);
  ~PaletteEditorDialog() override;
  // False when the target has no palette or the copy could not be made (said).
  bool ready() const { return copy_ != nullptr; }
  void accept() override;
  // After OK: every change as one step, or none when nothing changed.
  const std::optional<Edit>& edit() const { return edit_; }

  // The palette as edited so far, and the chosen entry.
  const Palette& palette() const;
  int entry() const;
  void setEntry(int entry);
  // The buttons' work (tests call them as the buttons do).
  void chooseColour();
  void moveEntry(int by);
  void mergeDuplicates();
  void loadFile();
  void saveFile();

 private:
  // Applies `edit` to the copy and keeps it; false (said) when it failed.
  bool run(Edit edit);
  void refresh();
  PaletteTarget target_;
  Reporter& reporter_;
  std::unique_ptr<Animation> copy_;
  std::vector<Edit> edits_;
  std::optional<Edit> edit_;
  SwatchGrid* grid_ = nullptr;
  QSpinBox* entry_ = nullptr;
  QLabel* info_ = nullptr;
};

}  // namespace fb::ui
