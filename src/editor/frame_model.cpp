#include "editor/frame_model.h"

#include <QCoreApplication>
#include <QColor>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "base/prefs.h"
#include "document/pictures.h"
#include "editor/document_context.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"

namespace fb {

// ---- ThumbnailMaker ----

ThumbnailMaker::ThumbnailMaker(Deliver deliver) : deliver_(std::move(deliver)) {
  thread_ = std::thread([this] { run(); });
}

ThumbnailMaker::~ThumbnailMaker() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void ThumbnailMaker::request(quint64 generation, int row, const Frame* frame, int box) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    jobs_.push_back({generation, row, frame, box});
  }
  wake_.notify_one();
}

void ThumbnailMaker::stop() {
  std::unique_lock<std::mutex> lock(mu_);
  jobs_.clear();
  idle_.wait(lock, [this] { return !busy_; });
}

void ThumbnailMaker::drain() {
  std::unique_lock<std::mutex> lock(mu_);
  idle_.wait(lock, [this] { return !busy_ && jobs_.empty(); });
}

void ThumbnailMaker::run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (quit_) return;
    Job job = jobs_.front();
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    QImage image;
    try {
      Rgba t = frameThumbnail(*job.frame, job.box);
      image = QImage(t.pixels.data(), t.width, t.height, t.width * 4, QImage::Format_RGBA8888)
                  .copy();
    } catch (...) {
      image = QImage();  // out of memory: the row stays blank
    }
    deliver_(job.generation, job.row, image);
    lock.lock();
    busy_ = false;
    idle_.notify_all();
  }
}

// ---- FrameListModel ----

FrameListModel::FrameListModel(DocumentContext& context, QObject* parent)
    : QAbstractListModel(parent),
      ctx_(context),
      maker_([this](quint64 generation, int row, QImage image) {
        QMetaObject::invokeMethod(
            this, [this, generation, row, image] { deliver(generation, row, image); },
            Qt::QueuedConnection);
      }) {
  cache_.setMaxCost(256 * 1024);  // KiB
  connect(&ctx_, &DocumentContext::aboutToChange, this, &FrameListModel::stopWork);
  connect(&ctx_, &DocumentContext::documentReplaced, this, &FrameListModel::reset);
  connect(&ctx_, &DocumentContext::changed, this, &FrameListModel::refresh);
}

FrameListModel::~FrameListModel() { maker_.stop(); }

void FrameListModel::stopWork() {
  maker_.stop();
  ++generation_;
  requested_.clear();
}

void FrameListModel::finishThumbnails() {
  maker_.drain();
  QCoreApplication::sendPostedEvents(this);
}

void FrameListModel::reset() {
  stopWork();
  beginResetModel();
  cache_.clear();
  endResetModel();
}

void FrameListModel::refresh(const Change& change) {
  if (change.structure || change.header || change.allFrames) {
    reset();
    return;
  }
  for (int row : change.frames) {
    cache_.remove(row);
    QModelIndex i = index(row);
    if (i.isValid()) emit dataChanged(i, i);
  }
}

void FrameListModel::setScale(double scale) {
  if (scale == scale_) return;
  scale_ = scale;
  reset();
}

int FrameListModel::boxFor(const Frame& f) const {
  return std::max(1, static_cast<int>(std::lround(std::max(f.width, f.height) * scale_)));
}

void FrameListModel::deliver(quint64 generation, int row, const QImage& image) {
  if (generation != generation_) return;
  requested_.remove(row);
  if (row >= rowCount()) return;
  cache_.insert(row, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / 1024));
  QModelIndex i = index(row);
  emit dataChanged(i, i, {Qt::DecorationRole});
  emit thumbnailReady(row);
}

int FrameListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ctx_.frameCount();
}

QVariant FrameListModel::data(const QModelIndex& index, int role) const {
  Frame* f = index.isValid() ? ctx_.frame(index.row()) : nullptr;
  if (!f) return {};
  int row = index.row();
  switch (role) {
    case Qt::DisplayRole: return QString::number(row + 1);
    case Qt::AccessibleTextRole: return qformat(Str::PropFrameNumber, row + 1);
    case Qt::DecorationRole:
      if (QImage* image = cache_.object(row)) return *image;
      if (!requested_.contains(row)) {
        requested_.insert(row);
        const_cast<ThumbnailMaker&>(maker_).request(generation_, row, f, boxFor(*f));
      }
      return {};
    case Qt::ToolTipRole: return tip(row);
    case DelayRole: return f->delay;
    case DisposalRole: return f->disposal();
    case TransparentRole: return f->transparent();
    case BackdropRole: {
      uint32_t word = prefGet(pref::TransparencyDisplay);
      if ((word >> 24) == 0) return {};
      Rgb c = transparentDisplayColour(*f, true, word);
      return QColor(c.r, c.g, c.b);
    }
    case FrameSizeRole: {
      int box = boxFor(*f);
      double k = static_cast<double>(box) / std::max(1, std::max(f->width, f->height));
      return QSize(std::max(1, static_cast<int>(f->width * k)),
                   std::max(1, static_cast<int>(f->height * k)));
    }
    default: return {};
  }
}

QString FrameListModel::tip(int row) const {
  uint32_t word = prefGet(pref::FrameTips);
  Frame* f = ctx_.frame(row);
  if (!(word & 0x1) || !f) return {};
  QStringList lines;
  if (word & 0x2) lines << QString::fromStdString(frameName(*f));
  if (word & 0x4) lines << qformat(Str::PropFrameNumber, row + 1);
  if (word & 0x8) lines << qformat(Str::PropSize, f->width, f->height);
  if (word & 0x10) lines << qformat(Str::PropOffset, f->left, f->top);
  if (word & 0x20) lines << qformat(Str::PropDelayValue, f->delay);
  if (word & 0x40) {
    static const Str names[] = {Str::PropUnspecified, Str::PropDisposeNone,
                                Str::PropDisposeBackground, Str::PropDisposePrevious};
    int d = f->disposal();
    QString name = d < 4 ? qtext(names[d]) : QString::number(d);
    lines << qformat(Str::PropDisposalValue, name.toUtf8().constData());
  }
  if (word & 0x80)
    lines << (f->transparent() ? qformat(Str::PropTransparentValue, int(f->transparentIndex))
                               : qtext(Str::PropOpaque));
  if (word & 0x100) lines << qtext(f->localPalette ? Str::PropPaletteLocal : Str::PropPaletteGlobal);
  if ((word & 0x400) && (prefGet(pref::GeneralOptions) & gen::Keep24Bit))
    lines << qformat(Str::PropBitCount, f->hasRgb() ? 24 : 8);
  return lines.join('\n');
}

Qt::ItemFlags FrameListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags base = QAbstractListModel::flags(index);
  if (!index.isValid()) return base | Qt::ItemIsDropEnabled;
  return base | Qt::ItemIsDragEnabled;
}

Qt::DropActions FrameListModel::supportedDropActions() const {
  return Qt::MoveAction | Qt::CopyAction;
}
Qt::DropActions FrameListModel::supportedDragActions() const { return Qt::MoveAction; }

QStringList FrameListModel::mimeTypes() const { return {kRowsMime, "text/uri-list"}; }

QMimeData* FrameListModel::mimeData(const QModelIndexList& indexes) const {
  QList<int> rows;
  for (const QModelIndex& i : indexes)
    if (i.isValid()) rows << i.row();
  std::sort(rows.begin(), rows.end());
  QByteArray bytes;
  for (int r : rows) bytes += QByteArray::number(r) + ' ';
  auto* mime = new QMimeData;
  mime->setData(kRowsMime, bytes.trimmed());
  return mime;
}

bool FrameListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                     const QModelIndex&) const {
  return data && (data->hasFormat(kRowsMime) || data->hasUrls());
}

bool FrameListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                  const QModelIndex& parent) {
  if (!data) return false;
  // Between two frames the view gives `row`; onto a frame, `parent`.
  bool between = row >= 0 && !parent.isValid();
  if (row < 0 && parent.isValid()) row = parent.row();
  if (data->hasFormat(kRowsMime)) {
    std::vector<int> rows;
    for (const QByteArray& part : data->data(kRowsMime).split(' ')) {
      bool ok = false;
      int r = part.toInt(&ok);
      if (ok && r >= 0 && r < rowCount()) rows.push_back(r);
    }
    if (rows.empty() || action == Qt::IgnoreAction) return false;
    int before = row < 0 || row >= rowCount() ? -1 : row;
    // Dropping a block of frames onto itself changes nothing: no undo step.
    bool inPlace = true;
    int target = before < 0 ? rowCount() : before;
    for (size_t k = 0; k < rows.size(); ++k)
      if (rows[k] != rows.front() + static_cast<int>(k)) inPlace = false;
    if (inPlace && target >= rows.front() && target <= rows.back() + 1) return false;
    int count = static_cast<int>(rows.size());
    int first = target - static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                                        [&](int r) { return r < target; }));
    if (ctx_.apply(moveFramesEdit(rows, before)) == 0) return false;
    std::vector<int> moved;
    for (int k = 0; k < count; ++k) moved.push_back(first + k);
    ctx_.setSelection(moved, first);
    return true;
  }
  if (data->hasUrls()) {
    QStringList paths;
    for (const QUrl& u : data->urls())
      if (u.isLocalFile()) paths << u.toLocalFile();
    if (paths.isEmpty()) return false;
    emit filesDropped(paths, between ? row : -1);
    return true;
  }
  return false;
}

}  // namespace fb
