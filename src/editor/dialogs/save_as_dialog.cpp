#include "editor/dialogs/save_as_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/ui_text.h"
#include "io/open_save.h"

namespace fb::ui {

AviSaveAsPanel::AviSaveAsPanel(QWidget* parent, const QString& path, int typeIndex,
                               uint32_t options, Animation& document, EditRunner runEdit,
                               AviCodecChooser* chooser, Reporter& reporter)
    : SaveAsPanel(parent, path, typeIndex, options),
      doc_(document),
      runEdit_(std::move(runEdit)),
      chooser_(chooser),
      reporter_(reporter) {
  if (auto* type = findChild<QComboBox*>("saveType"))
    connect(type, &QComboBox::currentIndexChanged, this, &AviSaveAsPanel::typeShown);
  typeShown();
}

void AviSaveAsPanel::typeShown() {
  const bool avi = typeIndex() == kTypeAvi;
  if (avi && !aviPanel_) {
    aviPanel_ = new AviExportPanel(doc_, runEdit_, chooser_, reporter_, Str::AviCustom, this);
    aviPanel_->onReadyChanged = [this](bool) { typeShown(); };
    auto* box = qobject_cast<QVBoxLayout*>(layout());
    box->insertWidget(box->count() - 1, aviPanel_);
  }
  if (aviPanel_) aviPanel_->setVisible(avi);
  // The save options word means nothing to a video.
  if (auto* options = findChild<QGroupBox*>()) options->setVisible(!avi);
  if (auto* buttons = findChild<QDialogButtonBox*>())
    if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
      ok->setEnabled(!avi || aviPanel_->ready());
  adjustSize();
}

void AviSaveAsPanel::accept() {
  avi_.reset();
  if (typeIndex() == kTypeAvi) {
    AviSaveOptions chosen;
    if (!aviPanel_ || !aviPanel_->confirm(chosen)) return;
    avi_ = chosen;
  }
  SaveAsPanel::accept();
}

QtSaveAsDialog::QtSaveAsDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                               Reporter& reporter, QWidget* parent)
    : doc_(document),
      runEdit_(std::move(runEdit)),
      chooser_(chooser),
      reporter_(reporter),
      parent_(parent) {}

std::unique_ptr<AviSaveAsPanel> QtSaveAsDialog::make(const std::string& folder,
                                                     const std::string& name, int typeIndex,
                                                     uint32_t options) {
  const QString start = qpath(folder.empty() ? name : folder + "/" + name);
  return std::make_unique<AviSaveAsPanel>(parent_, start, typeIndex, options, doc_, runEdit_,
                                          chooser_, reporter_);
}

bool QtSaveAsDialog::finish(AviSaveAsPanel& panel, int& typeIndex, uint32_t& options,
                            std::string& chosenPath) {
  avi_.reset();
  if (panel.result() != QDialog::Accepted || panel.path().isEmpty()) return false;
  typeIndex = panel.typeIndex();
  options = panel.options();
  chosenPath = spath(panel.path());
  avi_ = panel.aviChoice();
  return true;
}

bool QtSaveAsDialog::choose(const std::string& folder, const std::string& name, int& typeIndex,
                            uint32_t& options, std::string& chosenPath) {
  auto panel = make(folder, name, typeIndex, options);
  panel->exec();
  return finish(*panel, typeIndex, options, chosenPath);
}

}  // namespace fb::ui
