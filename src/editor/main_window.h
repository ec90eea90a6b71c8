// The main window: menus, toolbars, the filmstrip, the status bar and the
// dispatcher every command goes through (menu item, accelerator, toolbar
// button, property control or test: runCommand(id)).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "editor/document_context.h"
#include "editor/preview_window.h"
#include "editor/size_worker.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QMenu;

namespace fb {

class MergeChooser;
class SaveAsDialog;
namespace ui {
class QtMergeChooser;
}
class FilmstripView;
class FrameListModel;

class PropertyBar;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  DocumentContext& context() { return ctx_; }
  FrameListModel* frameModel() const { return model_; }
  FilmstripView* filmstrip() const { return strip_; }
  PropertyBar* propertyBar() const { return propBar_; }
  PreviewWindow* preview() const { return preview_; }
  SizeWorker& sizeWorker() { return size_; }
  QAction* action(int id) const;
  QMenu* fileMenu() const { return fileMenu_; }
  QString statusText() const;
  QString zoomText() const;

  // The dispatcher: runs command `id` as the menu would (nothing happens to a
  // disabled command). True when the command did its work.
  bool runCommand(int id);
  // The enabling rules and check marks, for the state now.
  void updateCommands();

  // Opening, as the open command, a recent entry, the command line and a drop do it.
  // `paths` are merged into one new animation. False when nothing opened.
  bool openFiles(const QStringList& paths);
  // Inserts the files' frames before `position` (-1: at the end). False when nothing joined.
  bool insertFiles(const QStringList& paths, int position);
  // The save-changes question; false when the command must not go on.
  bool saveChangesRule();

  // The document's encoded size, waiting (with the wait cursor) for the
  // background count when it is still running; -1 without a document.
  int64_t documentSize();

  int zoomLevel() const { return zoom_; }
  void setZoomLevel(int level);
  // Commands whose dialogs or operations come later all end here, so that
  // wiring one is a single change.
  void runDialogCommand(int id);
  // The palette-merge and frame-size questions of insertion, paste and open:
  // the window's own dialogs unless another chooser was set.
  MergeChooser* merger();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool dispatchCommand(int id);
  // Construction (main_window.cpp).
  void buildActions();
  void buildMenus();
  void buildToolbars();
  void buildStatusBar();
  void rebuildRecentMenu();
  void updateTitle();
  void updateUndoTexts();
  void updateDownloadTexts();
  void updateStatus();
  void refreshProperties();
  void showFrameMenu(const QPoint& globalPos);
  // Background work: stopped before a change, restarted after it.
  void stopBackground();
  void restartSize();

  // File commands (file_commands.cpp).
  bool cmdOpen(int id);
  bool cmdInsert();
  bool cmdSave();
  bool cmdSaveAs(int typeIndex);
  // Runs `save` with the Save As dialog (the window's own, with the AVI panel,
  // unless another was set); the document may be changed by the panel's fix.
  bool withSaveAsDialog(const std::function<bool(SaveAsDialog*)>& save);
  bool cmdRevert();
  bool cmdRestart();
  bool cmdRecent(int n);
  bool openWithDialog(const QString& title, const QStringList& filters, const QString& selected,
                      bool multiple, QStringList& chosen);
  bool readFiles(const QStringList& paths, std::unique_ptr<Animation>& first);
  void afterOpen(const std::string& path);
  void cmdHelp(bool tutorial);

  // Editing commands (edit_commands.cpp).
  bool cmdUndo(bool redo);
  bool cmdCopy(bool cut);
  bool cmdPaste();
  bool cmdDelete();
  bool cmdUnoptimize();
  bool cmdProperty(int id);
  bool applyToSelected(const std::string& name, std::function<bool(Frame&)> change);

  // Commands that open the dialogs (dialog_commands.cpp).
  bool cmdOptimize();
  bool cmdReduceColours();
  bool cmdFrameCount();
  bool cmdPreferences();

  // The property, comment, timing, palette and pixel dialogs (property_commands.cpp).
  bool cmdFrameProperties(bool allFrames);
  bool cmdAnimationProperties();
  bool cmdComments();
  bool cmdTiming();
  bool cmdPalette(bool global);
  bool cmdPixels(bool pickTransparent);
  // Transforms, blend, timing files, the HTML snippet and the external editor
  // (transform_commands.cpp); openFilters is the open dialog's (file_commands.cpp).
  bool cmdTransform(int id);
  bool cmdBlend();
  bool cmdExternalEdit(bool wholeAnimation);
  static QStringList openFilters();

  // View commands (view_commands.cpp).
  bool cmdPreview(bool selectedOnly);
  void closePreview();
  void setOrientation(int orientation);
  bool cmdTransparencyMode(int mode);
  void toggleProperties();
  void togglePropertyBar();

  DocumentContext ctx_;
  FrameListModel* model_ = nullptr;
  FilmstripView* strip_ = nullptr;
  PropertyBar* propBar_ = nullptr;
  QDockWidget* propsDock_ = nullptr;
  QLabel* propsText_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  QPointer<PreviewWindow> preview_;
  QMenu* fileMenu_ = nullptr;
  QMenu* frameMenu_ = nullptr;  // the frame context menu
  QAction* exitAction_ = nullptr;
  std::vector<QAction*> recentActions_;
  std::map<int, QAction*> actions_;
  SizeWorker size_;
  std::unique_ptr<ui::QtMergeChooser> merge_;
  int zoom_ = 0;
  bool clipboardHasFrames_ = false;
};

}  // namespace fb
