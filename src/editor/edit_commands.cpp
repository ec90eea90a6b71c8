// The Edit menu and the property toolbar: undo and redo, the clipboard,
// delete, unoptimize, and the frame fields, each one undo step.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>

#include "document/rgba.h"
#include "editor/choosers.h"
#include "editor/clipboard.h"
#include "editor/command_table.h"
#include "editor/dialogs/property_dialogs.h"
#include "editor/main_window.h"
#include "editor/progress_dialog.h"
#include "editor/property_bar.h"
#include "editor/qt_reporter.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"
#include "imaging/palette_merge.h"
#include "io/options.h"

namespace fb {
namespace {

// 24-bit colour rows and an alpha plane made from the frame's indexed pixels.
bool addTrueColour(Frame& f) {
  if (f.hasRgb() || !f.dib) return true;
  std::vector<uint8_t> rgba = frameToRgba(f);
  if (rgba.size() < static_cast<size_t>(f.width) * f.height * 4) return false;
  std::vector<uint8_t> rgb(static_cast<size_t>(stride24(f.width)) * f.height);
  std::vector<uint8_t> alpha(static_cast<size_t>(stride8(f.width)) * f.height);
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * f.width + x) * 4];
      uint8_t* q = &rgb[static_cast<size_t>(y) * stride24(f.width) + x * 3];
      q[0] = p[0];
      q[1] = p[1];
      q[2] = p[2];
      alpha[static_cast<size_t>(y) * stride8(f.width) + x] = p[3];
    }
  setRgb(f, std::move(rgb));
  setAlpha(f, std::move(alpha));
  return true;
}

}  // namespace

bool MainWindow::cmdUndo(bool redo) {
  bool done = redo ? ctx_.redo() : ctx_.undo();
  if (!done) beep();
  return done;
}

bool MainWindow::cmdCopy(bool cut) {
  std::vector<int> selected = ctx_.selectedFrames();
  if (selected.empty() || ctx_.currentFrame() < 0) {
    beep();
    return false;
  }
  QApplication::clipboard()->setMimeData(framesToMime(*ctx_.animation(), selected));
  if (!cut) return true;
  Edit e = deleteFramesEdit(selected);
  e.name = text(Str::UndoCut);
  return ctx_.apply(e) != 0;
}

bool MainWindow::cmdPaste() {
  std::unique_ptr<Animation> pasted =
      animationFromMime(QApplication::clipboard()->mimeData(), documentDefaultsFromPreferences());
  if (!pasted || pasted->frameCount() == 0) {
    beep();
    return false;
  }
  const MergeOptions merge = mergeOptionsFromPreferences();
  ProgressDialog progress(this);
  if (!ctx_.hasDocument()) {
    // Into an empty window: the frames become a new, unsaved animation.
    if (mergePalettes(nullptr, *pasted, 0, merger(), &progress, merge) != 1) return false;
    ctx_.setDocument(std::move(pasted), std::string());
    ctx_.setModified(true);
    return true;
  }
  int count = pasted->frameCount();
  int before = ctx_.frameCount();
  int at = ctx_.currentFrame() >= 0 ? ctx_.currentFrame() : before;
  auto sources = std::make_shared<std::unique_ptr<Animation>>(std::move(pasted));
  Edit e = insertEdit(sources, ctx_.currentFrame(), merger(), merge);
  e.name = text(Str::UndoPaste);
  if (ctx_.apply(e, &progress) != 1) return false;
  ctx_.setSelection(indexRange(at, std::min(count, ctx_.frameCount() - before)), at);
  return true;
}

bool MainWindow::cmdDelete() {
  std::vector<int> selected = ctx_.selectedFrames();
  if (selected.empty() || ctx_.currentFrame() < 0) {
    beep();
    return false;
  }
  if (ctx_.apply(deleteFramesEdit(selected)) == 0) return false;
  // The frame that took the first deleted one's place becomes current.
  int next = std::min(selected.front(), ctx_.frameCount() - 1);
  if (next >= 0) ctx_.selectOnly(next);
  return true;
}

bool MainWindow::cmdUnoptimize() {
  if (!ctx_.hasDocument()) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  int result;
  {
    ProgressDialog progress(this);
    result = ctx_.apply(unoptimizeEdit(), &progress);
  }
  QApplication::restoreOverrideCursor();
  return result != 0;
}

bool MainWindow::applyToSelected(const std::string& name, std::function<bool(Frame&)> change) {
  std::vector<int> selected = ctx_.selectedFrames();
  if (selected.empty()) {
    beep();
    return false;
  }
  Edit e = frameFieldsEdit(selected, std::move(change));
  e.name = name;
  return ctx_.apply(e) != 0;
}

bool MainWindow::cmdProperty(int id) {
  Animation* a = ctx_.animation();
  if (!a) return false;
  const std::vector<int> selected = ctx_.selectedFrames();
  const bool on = propBar_->checked(id);
  switch (id) {
    case cmd::Interlace:
      return applyToSelected(text(Str::UndoInterlace), [on](Frame& f) {
        f.imageFlags = static_cast<uint8_t>(on ? f.imageFlags | 0x40 : f.imageFlags & ~0x40);
        return true;
      });
    case cmd::Transparency:
      return applyToSelected(text(Str::UndoTransparency), [on](Frame& f) {
        setTransparent(f, on);
        return true;
      });
    case cmd::DisposeNone:
    case cmd::DisposeBackground:
    case cmd::DisposePrevious: {
      int d = id == cmd::DisposeNone ? 1 : id == cmd::DisposeBackground ? 2 : 3;
      return applyToSelected(text(Str::UndoDisposal), [d](Frame& f) {
        f.setDisposal(d);
        return true;
      });
    }
    case cmd::FrameByName: {
      int row = propBar_->chosenFrame();
      if (row < 0 || row >= ctx_.frameCount()) return false;
      ctx_.selectOnly(row);
      return true;
    }
    case cmd::Delay: {
      int v = 0;
      if (!ui::readDelay(propBar_->delayText(), reporter(), v)) {
        propBar_->setDelayText(QString::number(ui::kDelayAfterRefusal));
        return false;
      }
      if (selected.empty()) return false;
      return ctx_.apply(setDelayEdit(selected, v)) != 0;
    }
    case cmd::PlayCount: {
      int count = 0;
      if (!ui::readPlayCount(propBar_->playCountText(), reporter(), count)) {
        propBar_->setPlayCountText(QString::number(ui::kPlayCountAfterRefusal));
        return false;
      }
      if (a->playCount == count) return false;
      return ctx_.apply({text(Str::UndoPlayCount), Change::headerOnly(),
                         [count](Animation& doc, Progress*) {
                           setPlayCount(doc, count);
                           return 1;
                         }}) != 0;
    }
    case cmd::LocalPaletteOnOff: {
      if (selected.empty()) return false;
      Change c = Change::frameContent(selected);
      c.header = !on;  // colours move into the global palette
      MergeChooser* chooser = merger();
      MergeOptions merge = mergeOptionsFromPreferences();
      return ctx_.apply({text(Str::UndoLocalPalette), c,
                         [selected, on, chooser, merge](Animation& doc, Progress*) {
                           for (int i : selected) {
                             Frame* f = doc.frame(i);
                             if (!f) continue;
                             if (on && !f->localPalette && doc.globalPalette) {
                               setLocalPalette(*f, copyPalette(*doc.globalPalette));
                             } else if (!on && f->localPalette) {
                               if (mapFrameIntoGlobalPalette(chooser, doc, *f, 0, merge) != 1)
                                 return 0;
                             }
                           }
                           doc.encodedSize = -1;
                           return 1;
                         }}) != 0;
    }
    case cmd::TrueColour: {
      if (selected.empty()) return false;
      return ctx_.apply({text(Str::UndoTrueColour), Change::frameContent(selected),
                         [selected, on](Animation& doc, Progress*) {
                           for (int i : selected) {
                             Frame* f = doc.frame(i);
                             if (!f) continue;
                             if (!on) {
                               // Without indexed pixels the colour data is the picture.
                               if (f->dib) setRgb(*f, {});
                             } else if (!addTrueColour(*f)) {
                               return 0;
                             }
                           }
                           return 1;
                         }}) != 0;
    }
    default: return false;
  }
}

}  // namespace fb
