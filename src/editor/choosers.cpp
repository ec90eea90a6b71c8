#include "editor/choosers.h"

#include <QColorDialog>
#include <QFileDialog>

#include "editor/save_as_dialog.h"

namespace fb {
namespace {

class QtFileChooser : public FileChooser {
 public:
  QStringList openFiles(QWidget* parent, const QString& title, const QString& folder,
                        const QStringList& filters, const QString& selected,
                        bool multiple) override {
    QFileDialog dialog(parent, title, folder);
    dialog.setObjectName("openDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (!selected.isEmpty()) dialog.selectNameFilter(selected);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
  }

  QString saveFile(QWidget* parent, const QString& title, const QString& path,
                   const QStringList& filters) override {
    QFileDialog dialog(parent, title);
    dialog.setObjectName("saveDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.selectFile(path);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
  }

  bool chooseColour(QWidget* parent, QColor& colour) override {
    QColor c = QColorDialog::getColor(colour, parent);
    if (!c.isValid()) return false;
    colour = c;
    return true;
  }
};

FileChooser* gFileChooser = nullptr;
MergeChooser* gMergeChooser = nullptr;
SaveAsDialog* gSaveAsDialog = nullptr;

}  // namespace

FileChooser& fileChooser() {
  static QtFileChooser standard;
  return gFileChooser ? *gFileChooser : standard;
}
void setFileChooser(FileChooser* chooser) { gFileChooser = chooser; }

MergeChooser* mergeChooser() { return gMergeChooser; }
void setMergeChooser(MergeChooser* chooser) { gMergeChooser = chooser; }

SaveAsDialog* saveAsDialog() {
  static SaveAsPanelDialog standard;
  return gSaveAsDialog ? gSaveAsDialog : &standard;
}
void setSaveAsDialog(SaveAsDialog* dialog) { gSaveAsDialog = dialog; }

}  // namespace fb
