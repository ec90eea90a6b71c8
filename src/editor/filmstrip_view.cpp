#include "editor/filmstrip_view.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>

#include "editor/document_context.h"
#include "editor/frame_model.h"

namespace fb {
namespace {
constexpr int kMargin = 6;
}

void FrameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  painter->save();
  QRect cell = option.rect.adjusted(2, 2, -2, -2);
  if (option.state & QStyle::State_Selected)
    painter->fillRect(cell, option.palette.highlight());
  QSize size = index.data(FrameListModel::FrameSizeRole).toSize();
  int textHeight = option.fontMetrics.height();
  QRect picture(cell.left() + (cell.width() - size.width()) / 2, cell.top() + kMargin - 2,
                size.width(), size.height());
  QImage image = qvariant_cast<QImage>(index.data(Qt::DecorationRole));
  // Transparent pixels show the window's background, the frame's own colour or a chosen one.
  QVariant backdrop = index.data(FrameListModel::BackdropRole);
  painter->fillRect(picture, backdrop.isValid() ? qvariant_cast<QColor>(backdrop)
                                                : option.palette.base().color());
  if (!image.isNull()) painter->drawImage(picture, image);
  painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                        : option.palette.text().color());
  painter->drawText(QRect(cell.left(), picture.bottom() + 2, cell.width(), textHeight),
                    Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
  if (option.state & QStyle::State_HasFocus) {
    painter->setPen(QPen(option.palette.text().color(), 1, Qt::DotLine));
    painter->drawRect(cell.adjusted(0, 0, -1, -1));
  }
  painter->restore();
}

QSize FrameDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = index.data(FrameListModel::FrameSizeRole).toSize();
  return QSize(std::max(size.width(), 24) + 2 * kMargin,
               size.height() + option.fontMetrics.height() + 2 * kMargin);
}

FilmstripView::FilmstripView(DocumentContext& context, FrameListModel* model, QWidget* parent)
    : QListView(parent), ctx_(context), model_(model) {
  setObjectName("filmstrip");
  setAccessibleName("filmstrip");
  setModel(model);
  setItemDelegate(new FrameDelegate(this));
  setSelectionMode(ExtendedSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setMovement(Snap);
  setResizeMode(Adjust);
  setLayoutMode(Batched);
  setBatchSize(256);
  setSpacing(2);
  setStripOrientation(Default);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &FilmstripView::pushSelection);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          &FilmstripView::pushSelection);
  connect(&ctx_, &DocumentContext::selectionChanged, this, &FilmstripView::pullSelection);
  connect(model, &QAbstractItemModel::modelReset, this, &FilmstripView::pullSelection);
}

void FilmstripView::setStripOrientation(int orientation) {
  orientation_ = orientation;
  setFlow(orientation == Vertical ? TopToBottom : LeftToRight);
  setWrapping(orientation == Default);
  setViewMode(ListMode);
}

void FilmstripView::pushSelection() {
  if (syncing_) return;
  syncing_ = true;
  std::vector<int> rows;
  for (const QModelIndex& i : selectionModel()->selectedIndexes()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  QModelIndex current = selectionModel()->currentIndex();
  int cur = current.isValid() && selectionModel()->isSelected(current) ? current.row() : -1;
  ctx_.setSelection(rows, cur);
  syncing_ = false;
}

void FilmstripView::pullSelection() {
  if (syncing_) return;
  syncing_ = true;
  QItemSelection selection;
  std::vector<int> rows = ctx_.selectedFrames();
  for (size_t k = 0; k < rows.size();) {
    size_t end = k;
    while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1) ++end;
    selection.select(model_->index(rows[k]), model_->index(rows[end]));
    k = end + 1;
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  int cur = ctx_.currentFrame();
  selectionModel()->setCurrentIndex(cur >= 0 ? model_->index(cur) : QModelIndex(),
                                    QItemSelectionModel::NoUpdate);
  if (cur >= 0) scrollTo(model_->index(cur));
  syncing_ = false;
}

void FilmstripView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() || event->source() == this)
    QListView::dragEnterEvent(event);
  else
    event->ignore();
}

void FilmstripView::dragMoveEvent(QDragMoveEvent* event) {
  QListView::dragMoveEvent(event);
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void FilmstripView::dropEvent(QDropEvent* event) {
  // The model carries the move out as one edit; the view must not then
  // remove the dragged rows itself, so the drop is reported as a copy.
  QModelIndex at = indexAt(event->position().toPoint());
  int row = -1;
  QModelIndex parent;
  if (at.isValid()) {
    QRect r = visualRect(at);
    QPoint p = event->position().toPoint();
    bool after = flow() == LeftToRight ? p.x() > r.center().x() : p.y() > r.center().y();
    row = at.row() + (after ? 1 : 0);
  } else {
    row = model_->rowCount();
  }
  if (event->mimeData()->hasUrls() && !at.isValid()) row = -1;
  bool done = model_->dropMimeData(event->mimeData(), Qt::MoveAction, row, 0, parent);
  event->setDropAction(Qt::CopyAction);
  if (done)
    event->accept();
  else
    event->ignore();
  stopAutoScroll();
  setState(NoState);
}

void FilmstripView::contextMenuEvent(QContextMenuEvent* event) {
  QModelIndex at = indexAt(event->pos());
  if (at.isValid() && !ctx_.isSelected(at.row())) ctx_.selectOnly(at.row());
  emit contextMenuWanted(event->globalPos());
}

}  // namespace fb
