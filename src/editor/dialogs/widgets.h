// Small pieces the dialogs share: controls made with their text and id, a
// spin box whose arrows keep to a range while typing may leave it (so that a
// dialog can say what is wrong with a typed value), and a picture view.
#pragma once

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <functional>
#include <vector>

#include "document/palette.h"
#include "document/pictures.h"
#include "resources/strings.h"

class QComboBox;
class QDialog;

namespace fb::ui {

QCheckBox* makeCheck(Str label, const char* id, QWidget* parent);
QRadioButton* makeRadio(Str label, const char* id, QWidget* parent);
QPushButton* makeButton(Str label, const char* id, QWidget* parent);
QLabel* makeField(const char* id, QWidget* parent);
// OK ("ok", with `okText`) and Cancel ("cancel") wired to the dialog's accept and reject.
QDialogButtonBox* makeButtons(QDialog* dialog, Str okText = Str::ButtonOk);

// Typed values may be anything from 0 to 9999999; the arrows stay within
// [low, high].
class SteppedSpinBox : public QSpinBox {
 public:
  explicit SteppedSpinBox(QWidget* parent = nullptr);
  void setStepRange(int low, int high);
  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;

 private:
  int low_ = 0, high_ = 32767;
};

// The colour-count lists: 256, 128, 64, 32, 16, 8.
void fillColourCounts(QComboBox* box);
// The count shown (typed or chosen); 0 when it is not a number.
int colourCountOf(const QComboBox* box);
void showColourCount(QComboBox* box, int count);

// A picture scaled to fit the view; a click reports the picture's own pixel.
class PictureView : public QLabel {
 public:
  explicit PictureView(int box, QWidget* parent = nullptr);
  void show(const Rgba& picture);
  void clear();
  const QImage& image() const { return image_; }
  std::function<void(int x, int y)> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int box_;
  QImage image_;
};

QImage toImage(const Rgba& picture);

// One existing file through the editor's file chooser ("a;;b" filters); empty when cancelled.
QString chooseFile(QWidget* parent, const QString& title, const QString& filters);
// A colour through the editor's chooser, starting from `colour`; false when cancelled.
bool chooseColour(QWidget* parent, QColor& colour);

// Up to 256 colour swatches ("entry0".."entry255") in rows of 16; marked
// ones are framed. A click reports the entry.
class SwatchGrid : public QWidget {
 public:
  explicit SwatchGrid(QWidget* parent = nullptr);
  void setColours(const Rgb* colours, int count, const std::vector<bool>& marked = {});
  std::function<void(int entry)> onClick;

 private:
  std::vector<QPushButton*> swatches_;
};

}  // namespace fb::ui
