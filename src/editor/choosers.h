// The questions the editor asks with standard dialogs (files, colours) and
// the engine's choosers, each behind an interface that tests (and later
// dialogs) replace, so that no test waits on a modal dialog.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

class QWidget;

namespace fb {

class MergeChooser;
class SaveAsDialog;

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The files chosen; empty when cancelled. `filters` are name filters
  // ("GIF (*.gif)"), `selected` the one preselected.
  virtual QStringList openFiles(QWidget* parent, const QString& title, const QString& folder,
                                const QStringList& filters, const QString& selected,
                                bool multiple) = 0;
  // A path to write; empty when cancelled.
  virtual QString saveFile(QWidget* parent, const QString& title, const QString& path,
                           const QStringList& filters) = 0;
  // False when cancelled.
  virtual bool chooseColour(QWidget* parent, QColor& colour) = 0;
};

// The chooser in effect: the one set, else the standard Qt dialogs (which
// accept a typed path).
FileChooser& fileChooser();
void setFileChooser(FileChooser* chooser);  // null: the Qt dialogs

// The palette-merge and frame-size questions of frame insertion; null (the
// default) lets the engine take the stored answers.
MergeChooser* mergeChooser();
void setMergeChooser(MergeChooser* chooser);

// The Save As dialog; the editor's own one unless another is set.
SaveAsDialog* saveAsDialog();
void setSaveAsDialog(SaveAsDialog* dialog);

}  // namespace fb
