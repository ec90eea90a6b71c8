#include "editor/main_window.h"

#include <new>

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDockWidget>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "base/file_ops.h"
#include "base/number_format.h"
#include "base/prefs.h"
#include "editor/choosers.h"
#include "editor/clipboard.h"
#include "editor/command_table.h"
#include "editor/dialogs/merge_dialogs.h"
#include "editor/filmstrip_view.h"
#include "editor/frame_model.h"
#include "editor/preview_window.h"
#include "editor/property_bar.h"
#include "editor/qt_reporter.h"
#include "editor/recent_files.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"
#include "io/options.h"

namespace fb {
namespace {

constexpr uint32_t kPropertyBarHidden = 0x10000000;  // word 6
constexpr uint32_t kPropertiesHidden = 0x2;          // word 15
constexpr uint32_t kExternalTakesPsd = 0x8;          // word 15
constexpr uint32_t kTipsOn = 0x1;                    // word 13

struct Speed {
  const char* name;
  int bitsPerSecond;
};
constexpr Speed kSpeeds[] = {{"14.4K", 14400}, {"28.8K", 28800},  {"33.6K", 33600},
                             {"56K", 56000},   {"64K", 64000},    {"128K", 128000}};

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Flickbook");
  setAcceptDrops(true);
  merge_ = std::make_unique<ui::QtMergeChooser>(reporter(), this);
  model_ = new FrameListModel(ctx_, this);
  strip_ = new FilmstripView(ctx_, model_, this);
  setCentralWidget(strip_);
  buildActions();
  buildMenus();
  buildToolbars();
  buildStatusBar();

  propsText_ = new QLabel;
  propsText_->setObjectName("propertiesText");
  propsText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  propsText_->setMargin(6);
  propsDock_ = new QDockWidget(qtext(Str::PropertiesWindow), this);
  propsDock_->setObjectName("propertiesWindow");
  propsDock_->setWidget(propsText_);
  addDockWidget(Qt::RightDockWidgetArea, propsDock_);
  propsDock_->setVisible(!(prefGet(pref::MoreOptions) & kPropertiesHidden));

  uint32_t general = prefGet(pref::GeneralOptions);
  strip_->setStripOrientation(general & 0x10   ? FilmstripView::Vertical
                              : general & 0x20 ? FilmstripView::Horizontal
                                               : FilmstripView::Default);
  propBar_->setVisible(!(general & kPropertyBarHidden));

  connect(&ctx_, &DocumentContext::aboutToChange, this, &MainWindow::stopBackground);
  connect(&ctx_, &DocumentContext::documentReplaced, this, [this] {
    restartSize();
    refreshProperties();
    updateCommands();
  });
  connect(&ctx_, &DocumentContext::changed, this, [this] {
    restartSize();
    refreshProperties();
    updateCommands();
  });
  connect(&ctx_, &DocumentContext::selectionChanged, this, [this] {
    refreshProperties();
    updateCommands();
  });
  connect(&ctx_, &DocumentContext::stateChanged, this, [this] {
    updateTitle();
    updateCommands();
  });
  connect(&size_, &SizeWorker::finished, this, [this] {
    updateStatus();
    updateDownloadTexts();
  });
  // Asking the clipboard can mean a round trip to another program: only when it changes.
  auto clipboardChanged = [this] {
    clipboardHasFrames_ = mimeHasFrames(QApplication::clipboard()->mimeData());
    updateCommands();
  };
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, clipboardChanged);
  clipboardHasFrames_ = mimeHasFrames(QApplication::clipboard()->mimeData());
  connect(strip_, &FilmstripView::contextMenuWanted, this, &MainWindow::showFrameMenu);
  connect(strip_, &QAbstractItemView::doubleClicked, this,
          [this] { runCommand(cmd::FrameProperties); });
  connect(model_, &FrameListModel::filesDropped, this,
          [this](const QStringList& paths, int row) {
            if (row >= 0 && ctx_.hasDocument())
              insertFiles(paths, row);
            else if (saveChangesRule())
              openFiles(paths);
          },
          Qt::QueuedConnection);
  connect(propBar_, &PropertyBar::commandRequested, this, [this](int id) { runCommand(id); });

  rebuildRecentMenu();
  updateTitle();
  updateStatus();
  refreshProperties();
  updateCommands();
  resize(900, 600);
}

MainWindow::~MainWindow() {
  closePreview();
  stopBackground();
}

MergeChooser* MainWindow::merger() {
  MergeChooser* set = mergeChooser();
  return set ? set : merge_.get();
}

QAction* MainWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

// ---- Construction ----

void MainWindow::buildActions() {
  auto* zoomGroup = new QActionGroup(this);
  auto* orientGroup = new QActionGroup(this);
  auto* transpGroup = new QActionGroup(this);
  auto* speedGroup = new QActionGroup(this);
  for (const CommandInfo& c : commandTable()) {
    if (c.id == 0) continue;
    auto* a = new QAction(qtext(c.text), this);
    a->setObjectName(QString::number(c.id));
    a->setToolTip(plainText(c.text));
    a->setIconText(plainText(c.text));  // toolbar buttons: without the accelerator
    if (*c.keys) a->setShortcut(QKeySequence(QString::fromLatin1(c.keys)));
    int id = c.id;
    connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    actions_[id] = a;
    switch (c.menu) {
      case Menu::Zoom:
        if (id >= cmd::Zoom20 && id <= cmd::Zoom400) {
          a->setCheckable(true);
          zoomGroup->addAction(a);
        }
        break;
      case Menu::Orientation: a->setCheckable(true), orientGroup->addAction(a); break;
      case Menu::Transparency: a->setCheckable(true), transpGroup->addAction(a); break;
      case Menu::Download: a->setCheckable(true), speedGroup->addAction(a); break;
      case Menu::None: addAction(a); break;  // reached by its accelerator only
      default: break;
    }
  }
  for (int id : {cmd::Preview, cmd::PreviewSelected, cmd::PropertyToolbar, cmd::FrameTips,
                 cmd::PropertiesWindow})
    actions_[id]->setCheckable(true);
  // The Del key is also the filmstrip's: keep it for the window.
  actions_[cmd::Delete]->setShortcutContext(Qt::WindowShortcut);
}

void MainWindow::buildMenus() {
  std::map<Menu, QMenu*> menus;
  auto top = [&](Menu m, Str title, const char* name) {
    QMenu* menu = menuBar()->addMenu(qtext(title));
    menu->setObjectName(name);
    menus[m] = menu;
    return menu;
  };
  fileMenu_ = top(Menu::File, Str::MenuFile, "fileMenu");
  top(Menu::Edit, Str::MenuEdit, "editMenu");
  top(Menu::View, Str::MenuView, "viewMenu");
  top(Menu::Frame, Str::MenuFrame, "frameMenu");
  top(Menu::Animation, Str::MenuAnimation, "animationMenu");
  top(Menu::Help, Str::MenuHelp, "helpMenu");
  auto sub = [&](Menu m, Menu parent, Str title, const char* name, QAction* before = nullptr) {
    QMenu* menu = new QMenu(qtext(title), this);
    menu->setObjectName(name);
    if (before)
      menus[parent]->insertMenu(before, menu);
    else
      menus[parent]->addMenu(menu);
    menus[m] = menu;
  };
  sub(Menu::Import, Menu::File, Str::MenuImport, "importMenu");
  sub(Menu::FrameRotate, Menu::Frame, Str::MenuFrameRotate, "frameRotateMenu");
  sub(Menu::AnimationRotate, Menu::Animation, Str::MenuAnimationRotate, "animationRotateMenu");
  sub(Menu::Zoom, Menu::View, Str::MenuZoom, "zoomMenu");
  sub(Menu::Orientation, Menu::View, Str::MenuOrientation, "orientationMenu");
  sub(Menu::Transparency, Menu::View, Str::MenuTransparency, "transparencyMenu");
  sub(Menu::Download, Menu::View, Str::MenuDownload, "downloadMenu");
  for (const CommandInfo& c : commandTable()) {
    if (c.menu == Menu::None) continue;
    QMenu* menu = menus[c.menu];
    if (c.id == 0)
      menu->addSeparator();
    else
      menu->addAction(actions_[c.id]);
  }
  exitAction_ = actions_[cmd::Exit];
  // The enabling rules run as any menu opens.
  for (auto& [m, menu] : menus)
    connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateCommands);

  frameMenu_ = new QMenu(this);
  frameMenu_->setObjectName("106");
  for (int id : {cmd::Cut, cmd::Copy, cmd::Paste, cmd::Delete, 0, cmd::SelectAll,
                 cmd::InvertSelection, 0, cmd::FrameProperties, cmd::PreviewSelected}) {
    if (id == 0)
      frameMenu_->addSeparator();
    else
      frameMenu_->addAction(actions_[id]);
  }
  connect(frameMenu_, &QMenu::aboutToShow, this, &MainWindow::updateCommands);
}

void MainWindow::buildToolbars() {
  auto* main = addToolBar(plainText(Str::MenuFile));
  main->setObjectName("mainToolbar");
  for (int id : {cmd::Open, cmd::Save, cmd::InsertFrames, 0, cmd::Undo, cmd::Redo, 0, cmd::Cut,
                 cmd::Copy, cmd::Paste, cmd::Delete, 0, cmd::Preview, cmd::Optimize,
                 cmd::ReduceColours, 0, cmd::ZoomIn, cmd::ZoomOut}) {
    if (id == 0) {
      main->addSeparator();
      continue;
    }
    QAction* a = actions_[id];
    main->addAction(a);
    if (QWidget* w = main->widgetForAction(a)) {
      w->setObjectName(QString("toolbar%1").arg(id));
      w->setAccessibleName(plainText(a->text()));
    }
  }
  addToolBarBreak();
  propBar_ = new PropertyBar(ctx_, this);
  addToolBar(propBar_);
}

void MainWindow::buildStatusBar() {
  statusBar()->setObjectName("4");
  status_ = new QLabel(qtext(Str::EditorReady));
  status_->setObjectName("statusText");
  sizeLabel_ = new QLabel;
  sizeLabel_->setObjectName("statusSize");
  zoomLabel_ = new QLabel;
  zoomLabel_->setObjectName("statusZoom");
  statusBar()->addWidget(status_, 1);
  statusBar()->addPermanentWidget(sizeLabel_);
  statusBar()->addPermanentWidget(zoomLabel_);
}

QString MainWindow::statusText() const { return status_->text() + sizeLabel_->text(); }
QString MainWindow::zoomText() const { return zoomLabel_->text(); }

void MainWindow::rebuildRecentMenu() {
  for (QAction* a : recentActions_) {
    fileMenu_->removeAction(a);
    actions_.erase(a->objectName().toInt());
    delete a;
  }
  recentActions_.clear();
  std::vector<std::string> files = recentFiles();
  for (size_t k = 0; k < files.size(); ++k) {
    int n = static_cast<int>(k) + 1;
    auto* a = new QAction(qformat(Str::EditorRecentEntry, n, fileops::baseName(files[k]).c_str()),
                          this);
    a->setObjectName(QString::number(cmd::RecentFirst + n - 1));
    a->setToolTip(qpath(files[k]));
    connect(a, &QAction::triggered, this, [this, n] { runCommand(cmd::RecentFirst + n - 1); });
    fileMenu_->insertAction(exitAction_, a);
    actions_[cmd::RecentFirst + n - 1] = a;
    recentActions_.push_back(a);
  }
  if (!recentActions_.empty()) {
    QAction* sep = new QAction(this);
    sep->setSeparator(true);
    sep->setObjectName("recentSeparator");
    fileMenu_->insertAction(exitAction_, sep);
    recentActions_.push_back(sep);
  }
}

// ---- Views ----

void MainWindow::updateTitle() {
  std::string name = ctx_.path().empty() ? text(Str::EditorUntitled)
                                         : fileops::baseName(ctx_.path());
  setWindowTitle(qformat(Str::EditorTitle, name.c_str(), text(Str::EditorProgram)));
}

void MainWindow::updateStatus() {
  if (!ctx_.hasDocument())
    sizeLabel_->clear();
  else if (size_.size() < 0)
    sizeLabel_->setText(qtext(Str::EditorSizeComputing));
  else
    sizeLabel_->setText(
        qformat(Str::EditorSizeKnown, formatByteCount(size_.size()).c_str()));
  zoomLabel_->setText(qformat(Str::EditorZoomPercent, static_cast<int>(std::lround(
                                                          model_->scale() * 100))));
}

void MainWindow::updateDownloadTexts() {
  for (int k = 0; k < 6; ++k) {
    QAction* a = actions_[cmd::Speed144 + k];
    if (!ctx_.hasDocument() || size_.size() < 0) {
      a->setText(QString::fromLatin1(kSpeeds[k].name));
      continue;
    }
    double seconds = static_cast<double>(size_.size()) * 8 / kSpeeds[k].bitsPerSecond;
    std::string time = seconds > 0.1 ? format(Str::EditorSeconds, seconds)
                                     : std::string(text(Str::EditorUnderTenth));
    a->setText(qformat(Str::EditorSpeedItem, kSpeeds[k].name, time.c_str()));
  }
}

void MainWindow::updateUndoTexts() {
  History& h = ctx_.history();
  std::string undo = h.undoName(), redo = h.redoName();
  actions_[cmd::Undo]->setText(undo.empty() ? qtext(Str::Cmd40001)
                                            : qformat(Str::EditorUndoNamed, undo.c_str()));
  actions_[cmd::Redo]->setText(redo.empty() ? qtext(Str::Cmd40120)
                                            : qformat(Str::EditorRedoNamed, redo.c_str()));
}

void MainWindow::refreshProperties() {
  propBar_->refresh();
  Animation* a = ctx_.animation();
  QStringList lines;
  if (a) {
    lines << qformat(Str::PropScreen, a->width, a->height) << qformat(Str::PropFrames,
                                                                       a->frameCount());
    if (Frame* f = ctx_.frame(ctx_.currentFrame())) {
      lines << QString() << qformat(Str::PropFrameNumber, ctx_.currentFrame() + 1)
            << QString::fromStdString(frameName(*f)) << qformat(Str::PropSize, f->width, f->height)
            << qformat(Str::PropOffset, f->left, f->top) << qformat(Str::PropDelayValue, f->delay)
            << (f->transparent() ? qformat(Str::PropTransparentValue, int(f->transparentIndex))
                                 : qtext(Str::PropOpaque))
            << qtext(f->localPalette ? Str::PropPaletteLocal : Str::PropPaletteGlobal);
    }
  }
  propsText_->setText(lines.join('\n'));
}

void MainWindow::showFrameMenu(const QPoint& globalPos) {
  updateCommands();
  frameMenu_->popup(globalPos);
}

// ---- Enabling rules ----

void MainWindow::updateCommands() {
  if (actions_.empty()) return;
  Animation* a = ctx_.animation();
  const bool doc = a != nullptr;
  const int n = ctx_.frameCount();
  Frame* cur = ctx_.frame(ctx_.currentFrame());
  auto enable = [&](std::initializer_list<int> ids, bool on) {
    for (int id : ids)
      if (QAction* act = action(id)) act->setEnabled(on);
  };
  enable({cmd::Restart, cmd::SaveAs, cmd::Optimize, cmd::Unoptimize, cmd::Html, cmd::SelectAll,
          cmd::InvertSelection, cmd::AnimationProperties, cmd::Comment, cmd::CentreAll,
          cmd::ResizeAnimation, cmd::CropAnimation, cmd::AnimRotate180, cmd::AnimRotateCw,
          cmd::AnimRotateCcw, cmd::AnimFlipH, cmd::AnimFlipV},
         doc);
  enable({cmd::Preview, cmd::SaveAsGif, cmd::Blend, cmd::Timing, cmd::LoadTiming,
          cmd::SaveTiming, cmd::ReduceColours, cmd::AllFrameProperties},
         n >= 1);
  enable({cmd::Reverse, cmd::Thin, cmd::PingPong}, n >= 2);
  enable({cmd::PreviewSelected, cmd::Cut, cmd::Copy, cmd::Delete, cmd::FrameProperties,
          cmd::EditPixels, cmd::MoveCrop, cmd::ResizeFrames, cmd::FrameRotate180,
          cmd::FrameRotateCw, cmd::FrameRotateCcw, cmd::FrameFlipH, cmd::FrameFlipV,
          cmd::ExternalEditFrame},
         cur != nullptr);
  enable({cmd::Save}, doc && ctx_.modified());
  enable({cmd::Revert}, doc && ctx_.modified() && !ctx_.path().empty());
  enable({cmd::Paste}, clipboardHasFrames_);
  enable({cmd::GlobalPalette}, doc && a->globalPalette != nullptr);
  enable({cmd::LocalPalette}, cur && cur->localPalette != nullptr);
  enable({cmd::ExternalEditAnimation}, doc && (prefGet(pref::MoreOptions) & kExternalTakesPsd));
  enable({cmd::Undo}, doc && ctx_.history().canUndo());
  enable({cmd::Redo}, doc && ctx_.history().canRedo());
  enable({cmd::ZoomActual}, zoom_ != 0);
  enable({cmd::ZoomIn}, zoom_ < 3);
  enable({cmd::ZoomOut}, zoom_ > -4);
  updateUndoTexts();

  // Check marks.
  action(cmd::Preview)->setChecked(preview_ && !preview_->selectedOnly());
  action(cmd::PreviewSelected)->setChecked(preview_ && preview_->selectedOnly());
  action(cmd::PropertyToolbar)->setChecked(!(prefGet(pref::GeneralOptions) & kPropertyBarHidden));
  action(cmd::PropertiesWindow)->setChecked(!(prefGet(pref::MoreOptions) & kPropertiesHidden));
  action(cmd::FrameTips)->setChecked(prefGet(pref::FrameTips) & kTipsOn);
  action(cmd::ZoomActual + zoom_)->setChecked(true);
  action(cmd::OrientDefault + strip_->stripOrientation())->setChecked(true);
  int mode = static_cast<int>(prefGet(pref::TransparencyDisplay) >> 24);
  action(cmd::TranspWindow + std::clamp(mode, 0, 2))->setChecked(true);
  int speed = static_cast<int>(prefGet(pref::ConnectionSpeed));
  action(cmd::Speed144 + std::clamp(speed, 0, 5))->setChecked(true);
}

// ---- Background work ----

void MainWindow::stopBackground() {
  size_.stop();
  model_->stopWork();
  closePreview();
}

void MainWindow::restartSize() {
  size_.stop();
  size_.forget();
  if (Animation* a = ctx_.animation()) {
    a->blocks();  // settles the chain's index before another thread walks it
    size_.start(*a, gifWriteOptionsFromPreferences());
  }
  updateStatus();
  updateDownloadTexts();
}

int64_t MainWindow::documentSize() {
  if (!ctx_.hasDocument()) return -1;
  if (size_.size() < 0) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    size_.finish();
    if (size_.size() < 0) {  // stopped before it was done: count again
      restartSize();
      size_.finish();
    }
    QApplication::restoreOverrideCursor();
  }
  return size_.size();
}

// ---- The dispatcher ----

bool MainWindow::runCommand(int id) {
  // A command short of memory outside an edit (a copy to the clipboard, a
  // dialog's pictures) is said and the window goes on; edits take themselves back.
  try {
    return dispatchCommand(id);
  } catch (const std::bad_alloc&) {
    reporter().message(text(Str::CaptionError), text(Str::EditNoMemory), Icon::Warning);
    ctx_.announce(Change::everything());
    return false;
  }
}

bool MainWindow::dispatchCommand(int id) {
  if (id >= cmd::RecentFirst && id <= cmd::RecentLast) return cmdRecent(id - cmd::RecentFirst + 1);
  switch (id) {
    case cmd::Open:
    case cmd::OpenAvi:
    case cmd::OpenBmp:
    case cmd::OpenJpeg:
    case cmd::OpenPsd:
    case cmd::OpenPng:
    case cmd::OpenIcon:
    case cmd::OpenCursor:
    case cmd::OpenAniCursor:
    case cmd::OpenFilmstrip: return cmdOpen(id);
    case cmd::InsertFrames: return cmdInsert();
    case cmd::Save: return cmdSave();
    case cmd::SaveAs: return cmdSaveAs(-1);
    case cmd::SaveAsGif: return cmdSaveAs(1);
    case cmd::Revert: return cmdRevert();
    case cmd::Restart: return cmdRestart();
    case cmd::Exit: return close();
    case cmd::Undo: return cmdUndo(false);
    case cmd::Redo: return cmdUndo(true);
    case cmd::Cut: return cmdCopy(true);
    case cmd::Copy: return cmdCopy(false);
    case cmd::Paste: return cmdPaste();
    case cmd::Delete: return cmdDelete();
    case cmd::SelectAll: ctx_.selectAll(); return ctx_.hasDocument();
    case cmd::InvertSelection: ctx_.invertSelection(); return ctx_.hasDocument();
    case cmd::CentreAll: return ctx_.hasDocument() && ctx_.apply(centreAllEdit()) != 0;
    case cmd::Reverse: return ctx_.frameCount() >= 2 && ctx_.apply(reverseEdit()) != 0;
    case cmd::Unoptimize: return cmdUnoptimize();
    case cmd::Optimize: return cmdOptimize();
    case cmd::ReduceColours: return cmdReduceColours();
    case cmd::Thin: return cmdFrameCount();
    case cmd::Preferences: return cmdPreferences();
    case cmd::FrameProperties: return cmdFrameProperties(false);
    case cmd::AllFrameProperties: return cmdFrameProperties(true);
    case cmd::AnimationProperties: return cmdAnimationProperties();
    case cmd::Comment: return cmdComments();
    case cmd::Timing: return cmdTiming();
    case cmd::LocalPalette: return cmdPalette(false);
    case cmd::GlobalPalette: return cmdPalette(true);
    case cmd::EditPixels: return cmdPixels(false);
    case cmd::PickTransparent: return cmdPixels(true);
    case cmd::Preview: return cmdPreview(false);
    case cmd::PreviewSelected: return cmdPreview(true);
    case cmd::PropertyToolbar: togglePropertyBar(); return true;
    case cmd::PropertiesWindow: toggleProperties(); return true;
    case cmd::FrameTips:
      prefSetBits(pref::FrameTips, kTipsOn, !(prefGet(pref::FrameTips) & kTipsOn));
      updateCommands();
      return true;
    case cmd::ZoomIn: setZoomLevel(zoom_ + 1); return true;
    case cmd::ZoomOut: setZoomLevel(zoom_ - 1); return true;
    case cmd::OrientDefault:
    case cmd::OrientHorizontal:
    case cmd::OrientVertical: setOrientation(id - cmd::OrientDefault); return true;
    case cmd::TranspWindow:
    case cmd::TranspFrame:
    case cmd::TranspCustom: return cmdTransparencyMode(id - cmd::TranspWindow);
    case cmd::FrameRotate180:
    case cmd::FrameRotateCw:
    case cmd::FrameRotateCcw:
    case cmd::FrameFlipH:
    case cmd::FrameFlipV:
    case cmd::AnimRotate180:
    case cmd::AnimRotateCw:
    case cmd::AnimRotateCcw:
    case cmd::AnimFlipH:
    case cmd::AnimFlipV:
    case cmd::PingPong:
    case cmd::MoveCrop:
    case cmd::CropAnimation:
    case cmd::ResizeFrames:
    case cmd::ResizeAnimation:
    case cmd::Blend:
    case cmd::LoadTiming:
    case cmd::SaveTiming:
    case cmd::Html:
    case cmd::ExternalEditFrame:
    case cmd::ExternalEditAnimation: return cmdTransform(id);
    case cmd::Help: cmdHelp(false); return true;
    case cmd::Tutorial: cmdHelp(true); return true;
    case cmd::About:
      reporter().message(text(Str::EditorAboutCaption), format(Str::EditorAbout, FLICKBOOK_VERSION),
                         Icon::Information);
      return true;
    case cmd::Interlace:
    case cmd::Transparency:
    case cmd::LocalPaletteOnOff:
    case cmd::FrameByName:
    case cmd::Delay:
    case cmd::DisposeNone:
    case cmd::DisposeBackground:
    case cmd::DisposePrevious:
    case cmd::PlayCount:
    case cmd::TrueColour: return cmdProperty(id);
    default: break;
  }
  if (id >= cmd::Zoom20 && id <= cmd::Zoom400) {
    setZoomLevel(id - cmd::ZoomActual);
    return true;
  }
  if (id >= cmd::Speed144 && id <= cmd::Speed128) {
    prefSet(pref::ConnectionSpeed, static_cast<uint32_t>(id - cmd::Speed144));
    updateCommands();
    return true;
  }
  if (findCommand(id)) {
    runDialogCommand(id);
    return false;
  }
  return false;
}

void MainWindow::runDialogCommand(int id) {
  const CommandInfo* c = findCommand(id);
  QString name = c ? plainText(c->text) : QString::number(id);
  reporter().message(text(Str::EditorProgram),
                     format(Str::EditorNotAvailable, name.toUtf8().constData()),
                     Icon::Information);
}

// ---- Window events ----

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!saveChangesRule()) {
    event->ignore();
    return;
  }
  // Shut-down: background work stops and the preview closes before the document goes.
  stopBackground();
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  QMetaObject::invokeMethod(
      this, [this, paths] {
        if (saveChangesRule()) openFiles(paths);
      },
      Qt::QueuedConnection);
}

}  // namespace fb
