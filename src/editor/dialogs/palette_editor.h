// The palette editor ("全局调色板" or "局部调色板"): the entries as a grid;
// an entry takes a colour from the colour chooser, moves earlier or later,
// duplicates merge, a palette file loads or saves. Every change is made at
// once on a private copy of the document, so what the grid shows is what OK
// gives: all of them as one undo step.
//
//   PaletteEditorDialog dlg(*ctx.animation(), PaletteTarget::global(), reporter(), this);
//   if (dlg.ready() && runModal(dlg) == QDialog::Accepted && dlg.edit()) ctx.apply(*dlg.edit());
#pragma once

#include "editor/dialogs/session_dialog.h"
#include "imaging/palette_edit.h"

class QLabel;
class QSpinBox;

namespace fb::ui {

class SwatchGrid;

class PaletteEditorDialog : public SessionDialog {
 public:
  PaletteEditorDialog(const Animation& document, PaletteTarget target, Reporter& reporter,
                      QWidget* parent = nullptr);
  // Not ready() (said) when the target has no palette.

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
  void refresh() override;
  PaletteTarget target_;
  SwatchGrid* grid_ = nullptr;
  QSpinBox* entry_ = nullptr;
  QLabel* info_ = nullptr;
};

}  // namespace fb::ui
