// The Save As panel: a file name (typed, or chosen with the file dialog),
// the type table, and the options panel of the save options word (whole
// animation or first frame, numbered files, filmstrip with its orientation and
// frames per row, 24-bit colour).
#pragma once

#include <QDialog>

#include "io/save_document.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace fb {

class SaveAsPanel : public QDialog {
  Q_OBJECT
 public:
  SaveAsPanel(QWidget* parent, const QString& path, int typeIndex, uint32_t options);
  QString path() const;
  int typeIndex() const;
  uint32_t options() const;

 private:
  void typeChosen();
  void browse();
  QLineEdit* name_;
  QComboBox* type_;
  QButtonGroup* what_;
  QCheckBox* vertical_;
  QSpinBox* perRow_;
  QCheckBox* trueColour_;
};

// The path a typed name stands for: a name without a folder goes into
// `folder`, the one the dialog showed (not the program's working folder), and
// "~/" is the home folder.
QString resolvedSavePath(const QString& typed, const QString& folder);

}  // namespace fb
