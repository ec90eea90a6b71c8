// The Save As dialog: a file name (typed, or chosen with the file dialog),
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

// The engine's SaveAsDialog shown as the panel above.
class SaveAsPanelDialog : public SaveAsDialog {
 public:
  bool choose(const std::string& folder, const std::string& name, int& typeIndex,
              uint32_t& options, std::string& chosenPath) override;
};

}  // namespace fb
