#include "editor/dialogs/pixel_editor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "document/rgba.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"

namespace fb::ui {
namespace {

constexpr int kMaxZoom = 32;
constexpr int kFitBox = 480;  // the view's first size, in screen pixels

}  // namespace

// ---- The view ----

PixelView::PixelView(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
}

void PixelView::setFrame(const Frame* frame) {
  image_ = QImage();
  if (frame && frame->width > 0 && frame->height > 0) {
    std::vector<uint8_t> rgba = frameToRgba(*frame);
    if (rgba.size() >= static_cast<size_t>(frame->width) * frame->height * 4)
      image_ = QImage(rgba.data(), frame->width, frame->height, frame->width * 4,
                      QImage::Format_RGBA8888)
                   .copy();
  }
  cursor_.x = std::clamp(cursor_.x, 0, std::max(0, image_.width() - 1));
  cursor_.y = std::clamp(cursor_.y, 0, std::max(0, image_.height() - 1));
  updateGeometry();
  resize(sizeHint());
  update();
}

void PixelView::setZoom(int zoom) {
  zoom_ = std::clamp(zoom, 1, kMaxZoom);
  updateGeometry();
  resize(sizeHint());
  update();
}

void PixelView::setGrid(bool on) {
  grid_ = on;
  update();
}

void PixelView::setPending(const std::vector<Point>& points, QColor colour) {
  pending_ = points;
  pendingColour_ = colour;
  update();
}

void PixelView::setCursorPoint(Point p) {
  if (image_.isNull()) return;
  cursor_.x = std::clamp(p.x, 0, image_.width() - 1);
  cursor_.y = std::clamp(p.y, 0, image_.height() - 1);
  // In a scrolled view the keyboard cursor stays in sight.
  if (QWidget* port = parentWidget())
    if (auto* area = qobject_cast<QScrollArea*>(port->parentWidget()))
      area->ensureVisible(cursor_.x * zoom_ + zoom_ / 2, cursor_.y * zoom_ + zoom_ / 2, zoom_,
                          zoom_);
  update();
}

QSize PixelView::sizeHint() const {
  return image_.size() * zoom_ + QSize(1, 1);
}

void PixelView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // Transparent pixels over a grey of their own, so that they show as such.
  p.fillRect(rect(), QColor(192, 192, 192));
  if (image_.isNull()) return;
  p.drawImage(QRect(QPoint(0, 0), image_.size() * zoom_), image_);
  for (const Point& q : pending_)
    p.fillRect(q.x * zoom_, q.y * zoom_, zoom_, zoom_, pendingColour_);
  if (grid_ && zoom_ >= 4) {
    p.setPen(QColor(128, 128, 128));
    for (int x = 0; x <= image_.width(); ++x)
      p.drawLine(x * zoom_, 0, x * zoom_, image_.height() * zoom_);
    for (int y = 0; y <= image_.height(); ++y)
      p.drawLine(0, y * zoom_, image_.width() * zoom_, y * zoom_);
  }
  if (hasFocus()) {
    p.setPen(QPen(Qt::red, 1));
    p.drawRect(cursor_.x * zoom_, cursor_.y * zoom_, zoom_, zoom_);
  }
}

bool PixelView::pointAt(const QPointF& at, Point& out) const {
  const int x = static_cast<int>(at.x()) / zoom_, y = static_cast<int>(at.y()) / zoom_;
  if (at.x() < 0 || at.y() < 0 || x >= image_.width() || y >= image_.height()) return false;
  out = {x, y};
  return true;
}

void PixelView::mousePressEvent(QMouseEvent* event) {
  Point q;
  if (event->button() != Qt::LeftButton || !pointAt(event->position(), q)) return;
  pressed_ = true;
  cursor_ = q;
  if (onPress) onPress(q);
}

void PixelView::mouseMoveEvent(QMouseEvent* event) {
  Point q;
  if (pressed_ && pointAt(event->position(), q) && onDrag) onDrag(q);
}

void PixelView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (onRelease) onRelease();
}

void PixelView::keyPressEvent(QKeyEvent* event) {
  Point c = cursor_;
  switch (event->key()) {
    case Qt::Key_Left:
      --c.x;
      break;
    case Qt::Key_Right:
      ++c.x;
      break;
    case Qt::Key_Up:
      --c.y;
      break;
    case Qt::Key_Down:
      ++c.y;
      break;
    case Qt::Key_Space:
      // The tool at the cursor, as a click there.
      if (onPress) onPress(cursor_);
      if (onRelease) onRelease();
      return;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  setCursorPoint(c);
}

// ---- The dialog ----

PixelEditorDialog::PixelEditorDialog(const Animation& document, int frame, bool pickMode,
                                     Reporter& reporter, QWidget* parent)
    : SessionDialog(text(pickMode ? Str::UndoTransparency : Str::UndoPixels), reporter, parent),
      frameIndex_(frame),
      pickMode_(pickMode) {
  setObjectName("pixelEditor");
  setWindowTitle(qtext(Str::UndoPixels));
  {
    ScopedReporter scope(reporter_);
    const Frame* f = document.frame(frame);
    if (!f) {
      showWarning(format(Str::EditNoFrame, frame + 1));
      return;
    }
    if (!f->dib) {
      showWarning(text(Str::FrameNotIndexed));
      return;
    }
    if (!copyDocument(document)) return;
  }
  const Frame& f = this->frame();
  view_ = new PixelView(this);
  view_->setObjectName("pixels");
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName("pixelsScroll");
  scroll->setWidget(view_);
  scroll->setMinimumSize(240, 240);
  scroll->setFocusPolicy(Qt::NoFocus);

  paint_ = makeRadio(Str::PixelPaint, "paint", this);
  fill_ = makeRadio(Str::PixelFill, "fill", this);
  pick_ = makeRadio(Str::PixelPick, "pickTransparent", this);
  zoom_ = new QSpinBox(this);
  zoom_->setObjectName("zoom");
  zoom_->setRange(1, kMaxZoom);
  zoom_->setValue(std::clamp(kFitBox / std::max({f.width, f.height, 1}), 1, kMaxZoom));
  grid_ = makeCheck(Str::PixelGrid, "grid", this);
  grid_->setChecked(true);
  colour_ = new QSpinBox(this);
  colour_->setObjectName("colour");
  const Palette* pal = f.palette();
  colour_->setRange(0, pal ? std::max(0, pal->count - 1) : 255);
  swatches_ = new SwatchGrid(this);
  swatches_->setObjectName("palette");
  swatches_->onClick = [this](int i) { setColour(i); };
  info_ = makeField("pixelInfo", this);

  auto* tools = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{paint_, fill_, pick_}) tools->addWidget(w);
  tools->addStretch();
  tools->addWidget(new QLabel(qtext(Str::PixelZoom), this));
  tools->addWidget(zoom_);
  tools->addWidget(grid_);
  auto* colourRow = new QHBoxLayout;
  colourRow->addWidget(new QLabel(qtext(Str::PixelColour), this));
  colourRow->addWidget(colour_);
  colourRow->addWidget(info_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(swatches_);
  side->addLayout(colourRow);
  side->addStretch();
  auto* body = new QHBoxLayout;
  body->addWidget(scroll, 1);
  body->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(tools);
  layout->addLayout(body, 1);
  layout->addWidget(makeButtons(this));

  view_->onPress = [this](Point p) { press(p); };
  view_->onDrag = [this](Point p) { drag(p); };
  view_->onRelease = [this] { release(); };
  connect(zoom_, &QSpinBox::valueChanged, view_, &PixelView::setZoom);
  connect(grid_, &QCheckBox::toggled, view_, &PixelView::setGrid);
  connect(colour_, &QSpinBox::valueChanged, this, [this] { refresh(); });
  view_->setZoom(zoom_->value());
  setTool(pickMode ? Tool::Pick : Tool::Paint);
  refresh();
  view_->setFocus();
}

const Frame& PixelEditorDialog::frame() const {
  return *copy_->frame(frameIndex_);
}

PixelEditorDialog::Tool PixelEditorDialog::tool() const {
  return fill_->isChecked() ? Tool::Fill : pick_->isChecked() ? Tool::Pick : Tool::Paint;
}

void PixelEditorDialog::setTool(Tool tool) {
  (tool == Tool::Fill ? fill_ : tool == Tool::Pick ? pick_ : paint_)->setChecked(true);
}

int PixelEditorDialog::colour() const {
  return colour_->value();
}
void PixelEditorDialog::setColour(int index) {
  colour_->setValue(index);
}

void PixelEditorDialog::refresh() {
  const Frame& f = frame();
  showPalette(swatches_, f.palette(), colour());
  info_->setText(f.transparent() ? qformat(Str::PropTransparentValue, int(f.transparentIndex))
                                 : qtext(Str::PropOpaque));
  view_->setFrame(&f);
}

int PixelEditorDialog::indexAt(Point at) const {
  const Bitmap* b = frame().dib.get();
  if (at.x < 0 || at.y < 0 || at.x >= b->width || at.y >= b->height) return -1;
  return b->row(at.y)[at.x];
}

// Tools that would change nothing are not used, so that OK leaves no empty step.
void PixelEditorDialog::press(Point at) {
  const Frame& f = frame();
  switch (tool()) {
    case Tool::Paint:
      stroke_ = {at};
      break;
    case Tool::Fill:
      if (indexAt(at) != colour()) run(floodFillEdit(frameIndex_, at, colour()));
      break;
    case Tool::Pick: {
      // With 24-bit data the pick also sets its alpha afresh: always made then.
      const bool already = !f.hasRgb() && f.transparent() && indexAt(at) == f.transparentIndex;
      if ((already || run(pickTransparentIndexEdit(frameIndex_, at))) && pickMode_) accept();
      break;
    }
  }
  if (!stroke_.empty()) showStroke();
}

void PixelEditorDialog::showStroke() {
  const Palette* pal = frame().palette();
  const Rgb c = pal && colour() < pal->count ? (*pal)[colour()] : Rgb{};
  view_->setPending(stroke_, QColor(c.r, c.g, c.b));
}

void PixelEditorDialog::drag(Point at) {
  if (stroke_.empty()) return;
  // The squares between two mouse positions too, so a fast stroke has no gaps.
  const Point from = stroke_.back();
  const int steps = std::max(std::abs(at.x - from.x), std::abs(at.y - from.y));
  for (int s = 1; s <= steps; ++s)
    stroke_.push_back({from.x + (at.x - from.x) * s / steps, from.y + (at.y - from.y) * s / steps});
  showStroke();
}

void PixelEditorDialog::release() {
  if (stroke_.empty()) return;
  std::vector<Point> points = std::move(stroke_);
  stroke_.clear();
  view_->setPending({}, QColor());
  // Painting with 24-bit data also sets its colours afresh: always made then.
  const bool same = !frame().hasRgb() && std::all_of(points.begin(), points.end(), [this](Point p) {
    return indexAt(p) == colour();
  });
  if (!same) run(paintPixelsEdit(frameIndex_, std::move(points), colour()));
}

void PixelEditorDialog::accept() {
  release();  // a stroke under way belongs to the session
  SessionDialog::accept();
}

}  // namespace fb::ui
