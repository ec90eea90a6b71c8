// "保存为": the file dialog with the type list of the save table and an
// options panel for the chosen type (GIF, the picture types' single image,
// filmstrip or numbered files, and the AVI panel with its fix).
//
//   QtSaveAsDialog dialog(*doc.animation, runner, &codecChooser, reporter, window);
//   saveAs(doc, -1, &progress, &dialog);
#pragma once

#include <QFileDialog>
#include <memory>
#include <optional>

#include "dialogs/avi_dialogs.h"
#include "io/save_document.h"

class QCheckBox;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace fb::ui {

class SaveAsFileDialog : public QFileDialog {
 public:
  SaveAsFileDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                   Reporter& reporter, QWidget* parent);
  void setup(const QString& folder, const QString& name, int typeIndex, uint32_t options);
  // Selects the type's filter as the user would.
  void selectType(int typeIndex);
  int typeIndex() const;
  uint32_t options() const;
  const std::optional<AviSaveOptions>& aviChoice() const { return avi_; }
  AviExportPanel* aviPanel() const { return aviPanel_; }
  void accept() override;

 private:
  void typeChosen(int type);
  void updateSaveButton();
  Animation& doc_;
  EditRunner runEdit_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  QStringList filters_;
  int type_ = 1;
  std::optional<AviSaveOptions> avi_;
  QStackedWidget* panels_;
  QWidget *none_, *gifPanel_, *picturePanel_;
  AviExportPanel* aviPanel_ = nullptr;
  QRadioButton *whole_, *oneByOne_, *single_, *filmstrip_, *numbered_;
  QSpinBox* perRow_;
  QCheckBox *vertical_, *trueColour_;
};

class QtSaveAsDialog : public SaveAsDialog {
 public:
  QtSaveAsDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                 Reporter& reporter, QWidget* parent = nullptr);
  bool choose(const std::string& folder, const std::string& name, int& typeIndex, uint32_t& options,
              std::string& chosenPath) override;
  const AviSaveOptions* aviChoice() const override { return avi_ ? &*avi_ : nullptr; }

  // choose() in two halves, for a caller that drives the dialog itself.
  std::unique_ptr<SaveAsFileDialog> make(const std::string& folder, const std::string& name,
                                         int typeIndex, uint32_t options);
  bool finish(SaveAsFileDialog& dialog, int& typeIndex, uint32_t& options, std::string& chosenPath);

 private:
  Animation& doc_;
  EditRunner runEdit_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  QWidget* parent_;
  std::optional<AviSaveOptions> avi_;
};

}  // namespace fb::ui
