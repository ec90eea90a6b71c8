// The pixel editor ("编辑像素") on one frame's indexed pixels: a zoomed view
// with a grid, the frame's palette to pick the colour from, and three tools:
// paint, flood fill and pick the transparent index. The mouse or the arrow
// keys with Space use a tool. Each stroke is made at once on a private copy
// of the document; OK gives all of them as one undo step.
//
// In pick mode (the property toolbar's "pick the transparent colour") the
// pick tool is chosen and a pick is the whole command: the dialog closes
// with OK at once.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/pixel_edit.h"
#include "editor/dialogs/session_dialog.h"

class QCheckBox;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace fb::ui {

class SwatchGrid;

// The frame's pixels, each shown as a zoom × zoom square, with grid lines
// between them from a zoom of 4 on, and a keyboard cursor.
class PixelView : public QWidget {
 public:
  explicit PixelView(QWidget* parent = nullptr);
  void setFrame(const Frame* frame);
  void setZoom(int zoom);
  void setGrid(bool on);
  // Points of the stroke under way, shown in `colour` before they are made.
  void setPending(const std::vector<Point>& points, QColor colour);
  Point cursorPoint() const { return cursor_; }
  void setCursorPoint(Point p);
  QSize sizeHint() const override;

  std::function<void(Point)> onPress, onDrag;
  std::function<void()> onRelease;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool pointAt(const QPointF& at, Point& p) const;
  QImage image_;
  int zoom_ = 8;
  bool grid_ = true;
  bool pressed_ = false;
  Point cursor_;
  std::vector<Point> pending_;
  QColor pendingColour_;
};

class PixelEditorDialog : public SessionDialog {
 public:
  enum class Tool { Paint, Fill, Pick };
  PixelEditorDialog(const Animation& document, int frame, bool pickMode, Reporter& reporter,
                    QWidget* parent = nullptr);
  // Not ready() (said) when the frame has no indexed pixels.
  void accept() override;

  // The edited copy of the frame.
  const Frame& frame() const;
  Tool tool() const;
  void setTool(Tool tool);
  int colour() const;
  void setColour(int index);
  // The tools as the mouse and keyboard use them, in frame coordinates.
  void press(Point at);
  void drag(Point at);
  void release();
  PixelView* view() const { return view_; }

 private:
  void refresh() override;
  void showStroke();
  // The palette index at `at` in the edited frame; -1 outside it.
  int indexAt(Point at) const;
  int frameIndex_;
  std::vector<Point> stroke_;
  bool pickMode_;
  PixelView* view_ = nullptr;
  SwatchGrid* swatches_ = nullptr;
  QSpinBox* colour_ = nullptr;
  QSpinBox* zoom_ = nullptr;
  QCheckBox* grid_ = nullptr;
  QRadioButton *paint_ = nullptr, *fill_ = nullptr, *pick_ = nullptr;
  QLabel* info_ = nullptr;
};

}  // namespace fb::ui
