// "保存为" with the AVI choices: the editor's Save As panel (name, type and
// the options of the save options word), and for the AVI type the AVI options
// panel (283), or panel 311 with "修复" while the document needs the fix.
//
// Made for each Save As (it holds the document):
//   QtAviCodecChooser codecs(this);
//   QtSaveAsDialog dialog(*ctx.animation(), [&](const Edit& e) { return ctx.apply(e); }, &codecs,
//                         reporter(), this);
//   saveAs(ctx.openDocument(), typeIndex, &progress, &dialog);  // takes the panel's AVI choice
#pragma once

#include <memory>
#include <optional>

#include "editor/dialogs/avi_dialogs.h"
#include "editor/save_as_dialog.h"

namespace fb::ui {

class AviSaveAsPanel : public SaveAsPanel {
 public:
  AviSaveAsPanel(QWidget* parent, const QString& path, int typeIndex, uint32_t options,
                 Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                 Reporter& reporter);
  // For the AVI type the options panel must confirm first.
  void accept() override;
  const std::optional<AviSaveOptions>& aviChoice() const { return avi_; }
  // Null until the AVI type was chosen.
  AviExportPanel* aviPanel() const { return aviPanel_; }

 private:
  void typeShown();
  Animation& doc_;
  EditRunner runEdit_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  AviExportPanel* aviPanel_ = nullptr;
  std::optional<AviSaveOptions> avi_;
};

class QtSaveAsDialog : public SaveAsDialog {
 public:
  QtSaveAsDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                 Reporter& reporter, QWidget* parent = nullptr);
  bool choose(const std::string& folder, const std::string& name, int& typeIndex, uint32_t& options,
              std::string& chosenPath) override;
  const AviSaveOptions* aviChoice() const override { return avi_ ? &*avi_ : nullptr; }

  // choose() in two halves, for a caller that drives the panel itself.
  std::unique_ptr<AviSaveAsPanel> make(const std::string& folder, const std::string& name,
                                       int typeIndex, uint32_t options);
  bool finish(AviSaveAsPanel& panel, int& typeIndex, uint32_t& options, std::string& chosenPath);

 private:
  Animation& doc_;
  EditRunner runEdit_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  QWidget* parent_;
  std::optional<AviSaveOptions> avi_;
};

}  // namespace fb::ui
