// The View menu: the preview, zoom, the filmstrip's orientation, how
// transparent pixels show, the toolbars and the properties window.
#include <QDockWidget>

#include "base/prefs.h"
#include "editor/choosers.h"
#include "editor/command_table.h"
#include "editor/filmstrip_view.h"
#include "editor/frame_model.h"
#include "editor/main_window.h"
#include "editor/preview_window.h"
#include "editor/property_bar.h"

namespace fb {

bool MainWindow::cmdPreview(bool selectedOnly) {
  // The command opens the preview, or closes the one open.
  if (preview_) {
    bool same = preview_->selectedOnly() == selectedOnly;
    closePreview();
    if (same) return true;
  }
  if (ctx_.frameCount() < 1) return false;
  std::vector<int> frames;
  if (selectedOnly) {
    frames = ctx_.selectedFrames();
    if (frames.empty()) return false;
  }
  preview_ = new PreviewWindow(ctx_, frames, this);
  connect(preview_, &QObject::destroyed, this, &MainWindow::updateCommands);
  preview_->show();
  updateCommands();
  return true;
}

void MainWindow::closePreview() {
  if (!preview_) return;
  PreviewWindow* p = preview_;
  preview_ = nullptr;
  p->pause();
  p->close();  // deletes itself
  delete p;
}

void MainWindow::setZoomLevel(int level) {
  zoom_ = std::clamp(level, -4, 3);
  // 0 is actual size; -n shows 1/(1 + n); +n shows n + 1 times.
  double scale = zoom_ >= 0 ? zoom_ + 1 : 1.0 / (1 - zoom_);
  model_->setScale(scale);
  strip_->doItemsLayout();
  updateStatus();
  updateCommands();
}

void MainWindow::setOrientation(int orientation) {
  prefSetBits(pref::GeneralOptions, 0x30, false);
  if (orientation == FilmstripView::Vertical) prefSetBits(pref::GeneralOptions, 0x10, true);
  if (orientation == FilmstripView::Horizontal) prefSetBits(pref::GeneralOptions, 0x20, true);
  strip_->setStripOrientation(orientation);
  updateCommands();
}

bool MainWindow::cmdTransparencyMode(int mode) {
  uint32_t word = prefGet(pref::TransparencyDisplay);
  uint32_t colour = word & 0xFFFFFF;
  if (mode == 2) {
    // Red is the low byte, as the word stores it.
    QColor c(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    if (!fileChooser().chooseColour(this, c)) return false;
    colour = static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
             static_cast<uint32_t>(c.blue()) << 16;
  }
  prefSet(pref::TransparencyDisplay, static_cast<uint32_t>(mode) << 24 | colour);
  strip_->viewport()->update();
  updateCommands();
  return true;
}

void MainWindow::toggleProperties() {
  bool show = prefGet(pref::MoreOptions) & 0x2;  // hidden now
  propsDock_->setVisible(show);
  prefSetBits(pref::MoreOptions, 0x2, !show);
  updateCommands();
}

void MainWindow::togglePropertyBar() {
  bool show = prefGet(pref::GeneralOptions) & 0x10000000;  // hidden now
  propBar_->setVisible(show);
  prefSetBits(pref::GeneralOptions, 0x10000000, !show);
  updateCommands();
}

}  // namespace fb
