// The frames as a list model for the filmstrip: one row per frame, the
// thumbnails drawn on a background thread from the frames' own pictures
// (rows are asked for only when they are shown, so a long animation costs
// nothing until it is scrolled), the frame tips, and dropping onto the list:
// frames moved by dragging (one undo step), files dropped to open or insert.
#pragma once

#include <QAbstractListModel>
#include <QCache>
#include <QImage>
#include <QSet>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "document/change.h"

namespace fb {

class DocumentContext;
struct Frame;

// One worker thread making thumbnails. It reads frames of the live document,
// so whoever changes the document calls stop() first (the context's
// aboutToChange does).
class ThumbnailMaker {
 public:
  using Deliver = std::function<void(quint64 generation, int row, QImage image)>;
  explicit ThumbnailMaker(Deliver deliver);
  ~ThumbnailMaker();
  void request(quint64 generation, int row, const Frame* frame, int box);
  // Forgets queued work and waits for the thumbnail being made.
  void stop();
  // Waits until every queued thumbnail is made.
  void drain();

 private:
  struct Job {
    quint64 generation;
    int row;
    const Frame* frame;
    int box;
  };
  void run();
  Deliver deliver_;
  std::mutex mu_;
  std::condition_variable wake_, idle_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;
};

class FrameListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Role {
    DelayRole = Qt::UserRole + 1,
    DisposalRole,
    TransparentRole,
    FrameSizeRole,
    BackdropRole  // what transparent pixels show: a colour, or none for the window's own
  };
  static constexpr const char* kRowsMime = "application/x-flickbook-frame-rows";

  explicit FrameListModel(DocumentContext& context, QObject* parent = nullptr);
  ~FrameListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override;
  Qt::DropActions supportedDragActions() const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  // The view's scale (1 = actual size).
  void setScale(double scale);
  double scale() const { return scale_; }
  // Stops the thumbnail thread (before the document changes).
  void stopWork();
  // Thumbnails made so far (for tests and the status of the view).
  bool hasThumbnail(int row) const { return cache_.contains(row); }
  int pendingThumbnails() const { return requested_.size(); }
  // Makes every thumbnail asked for so far and takes them in (for tests and
  // screenshots, which must not wait on a clock).
  void finishThumbnails();

 signals:
  // Files dropped on the list: opened, or inserted before `row` (-1: none given).
  void filesDropped(const QStringList& paths, int row);
  void thumbnailReady(int row);

 private:
  void refresh(const Change& change);
  void reset();
  void deliver(quint64 generation, int row, const QImage& image);
  int boxFor(const Frame& f) const;
  QString tip(int row) const;

  DocumentContext& ctx_;
  double scale_ = 1.0;
  quint64 generation_ = 1;
  mutable QCache<int, QImage> cache_;
  mutable QSet<int> requested_;
  ThumbnailMaker maker_;
};

}  // namespace fb
