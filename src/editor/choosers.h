// The questions the editor asks with standard dialogs (files, colours) and
// the engine's choosers, each behind an interface that tests (and later
// dialogs) replace, so that no test waits on a modal dialog.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
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

// Every modal dialog of the editor and its dialogs opens through runModal:
// exec() unless a runner is set, which answers the dialog instead (sets its
// controls, accepts or rejects it) and returns its result. A dialog whose own
// exec() checks something before it opens calls runModal(*this) from there,
// and its callers call its exec().
using DialogRunner = std::function<int(QDialog&)>;
int runModal(QDialog& dialog);
void setDialogRunner(DialogRunner runner);  // empty: exec()

// The palette-merge and frame-size questions of frame insertion: the one set
// here, else null. The main window installs its own while it lives.
MergeChooser* mergeChooser();
void setMergeChooser(MergeChooser* chooser);

// A Save As dialog set here replaces the window's own; null when none is set.
SaveAsDialog* saveAsDialog();
void setSaveAsDialog(SaveAsDialog* dialog);

}  // namespace fb
