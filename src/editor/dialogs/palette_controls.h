// The palette-merge method controls shared by "调色板合并" (dialog 201) and
// the preferences' palette page, and the user's fixed palette: loaded from a
// palette file or a picture, or edited entry by entry.
#pragma once

#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "base/reporter.h"
#include "document/palette.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace fb::ui {

class SwatchGrid;

// The six methods, the dither box and the two colour-count lists.
class MergeMethodPanel : public QWidget {
 public:
  MergeMethodPanel(Reporter& reporter, QWidget* parent = nullptr);
  // Method bit, dither bit and colour counts of the word; other bits are ignored.
  void setWord(uint32_t word);
  uint32_t word() const;

 private:
  void fixedChosen(bool on);
  Reporter& reporter_;
  QRadioButton *adaptive_, *merge_, *map_, *cube_, *fixed_, *local_;
  QCheckBox* dither_;
  QComboBox *adaptiveCount_, *localCount_;
};

// Asks for a palette file (or a picture whose palette to take) and stores it
// as the fixed palette. False when cancelled or it could not be read (message shown).
bool loadFixedPaletteFromFile(QWidget* parent, Reporter& reporter);

// The fixed palette's entries as a grid of colours; a click picks a new
// colour for an entry. OK stores it.
class FixedPaletteDialog : public QDialog {
 public:
  explicit FixedPaletteDialog(QWidget* parent = nullptr);
  const Palette& palette() const { return palette_; }
  void accept() override;

 private:
  void refresh();
  Palette palette_;
  QSpinBox* count_;
  SwatchGrid* grid_;
};

}  // namespace fb::ui
