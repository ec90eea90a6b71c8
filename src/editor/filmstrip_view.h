// The filmstrip: every frame's thumbnail in a list view (one view for any
// number of frames), selection by click, Shift and Ctrl kept in step with the
// document's, and frames dragged to a new place.
#pragma once

#include <QListView>
#include <QStyledItemDelegate>

namespace fb {

class DocumentContext;
class FrameListModel;

class FrameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class FilmstripView : public QListView {
  Q_OBJECT
 public:
  enum Orientation { Default = 0, Horizontal = 1, Vertical = 2 };
  FilmstripView(DocumentContext& context, FrameListModel* model, QWidget* parent = nullptr);
  void setStripOrientation(int orientation);
  int stripOrientation() const { return orientation_; }

 signals:
  void contextMenuWanted(const QPoint& globalPos);

 protected:
  void dropEvent(QDropEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void pushSelection();
  void pullSelection();
  DocumentContext& ctx_;
  FrameListModel* model_;
  int orientation_ = Default;
  bool syncing_ = false;
};

}  // namespace fb
