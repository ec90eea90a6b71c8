#include "editor/dialogs/widgets.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPixmap>

#include "editor/choosers.h"
#include "editor/ui_text.h"

namespace fb::ui {

QCheckBox* makeCheck(Str label, const char* id, QWidget* parent) {
  auto* c = new QCheckBox(qtext(label), parent);
  c->setObjectName(id);
  return c;
}

QRadioButton* makeRadio(Str label, const char* id, QWidget* parent) {
  auto* r = new QRadioButton(qtext(label), parent);
  r->setObjectName(id);
  return r;
}

QPushButton* makeButton(Str label, const char* id, QWidget* parent) {
  auto* b = new QPushButton(qtext(label), parent);
  b->setObjectName(id);
  b->setAutoDefault(false);
  return b;
}

QLabel* makeField(const char* id, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(id);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

QDialogButtonBox* makeButtons(QDialog* dialog, Str okText) {
  auto* box = new QDialogButtonBox(dialog);
  box->addButton(qtext(okText), QDialogButtonBox::AcceptRole)->setObjectName("ok");
  box->addButton(qtext(Str::ButtonCancel), QDialogButtonBox::RejectRole)->setObjectName("cancel");
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

SteppedSpinBox::SteppedSpinBox(QWidget* parent) : QSpinBox(parent) {
  setRange(0, 9999999);
}

void SteppedSpinBox::setStepRange(int low, int high) {
  low_ = low;
  high_ = high;
}

void SteppedSpinBox::stepBy(int steps) {
  setValue(std::clamp(value() + steps, low_, std::max(low_, high_)));
}

QAbstractSpinBox::StepEnabled SteppedSpinBox::stepEnabled() const {
  StepEnabled e = StepNone;
  if (value() < high_) e |= StepUpEnabled;
  if (value() > low_) e |= StepDownEnabled;
  return e;
}

void fillColourCounts(QComboBox* box) {
  for (int n : {256, 128, 64, 32, 16, 8}) box->addItem(QString::number(n));
}

int colourCountOf(const QComboBox* box) {
  bool ok = false;
  int n = box->currentText().trimmed().toInt(&ok);
  return ok ? n : 0;
}

void showColourCount(QComboBox* box, int count) {
  int i = box->findText(QString::number(count));
  if (i >= 0)
    box->setCurrentIndex(i);
  else if (box->isEditable())
    box->setEditText(QString::number(count));
}

PictureView::PictureView(int box, QWidget* parent) : QLabel(parent), box_(box) {
  setFixedSize(box, box);
  setAlignment(Qt::AlignCenter);
  setFrameShape(QFrame::StyledPanel);
}

QString chooseFile(QWidget* parent, const QString& title, const QString& filters) {
  const QStringList list = filters.isEmpty() ? QStringList() : filters.split(QStringLiteral(";;"));
  return fileChooser().openFiles(parent, title, QString(), list, QString(), false).value(0);
}

bool chooseColour(QWidget* parent, QColor& colour) {
  return fileChooser().chooseColour(parent, colour);
}

QImage toImage(const Rgba& p) {
  if (p.width <= 0 || p.height <= 0) return QImage();
  QImage img(p.pixels.data(), p.width, p.height, p.width * 4, QImage::Format_RGBA8888);
  return img.copy();  // own the pixels
}

void PictureView::show(const Rgba& picture) {
  image_ = toImage(picture);
  if (image_.isNull()) {
    clear();
    return;
  }
  QImage shown = image_;
  if (shown.width() > box_ - 4 || shown.height() > box_ - 4)
    shown = shown.scaled(box_ - 4, box_ - 4, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  setPixmap(QPixmap::fromImage(shown));
}

void PictureView::clear() {
  image_ = QImage();
  QLabel::clear();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
  const QPixmap pm = pixmap();
  if (!onClick || image_.isNull() || pm.isNull()) return;
  // The pixmap is centred in the label.
  const int ox = (width() - pm.width()) / 2, oy = (height() - pm.height()) / 2;
  const QPoint p = event->position().toPoint() - QPoint(ox, oy);
  if (p.x() < 0 || p.y() < 0 || p.x() >= pm.width() || p.y() >= pm.height()) return;
  onClick(p.x() * image_.width() / pm.width(), p.y() * image_.height() / pm.height());
}

SwatchGrid::SwatchGrid(QWidget* parent) : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  grid->setSpacing(1);
  grid->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 256; ++i) {
    auto* b = new QPushButton(this);
    b->setObjectName(QStringLiteral("entry%1").arg(i));
    b->setFixedSize(16, 16);
    b->setAutoDefault(false);
    grid->addWidget(b, i / 16, i % 16);
    swatches_.push_back(b);
    connect(b, &QPushButton::clicked, this, [this, i] {
      if (onClick) onClick(i);
    });
  }
}

void SwatchGrid::setColours(const Rgb* colours, int count, const std::vector<bool>& marked) {
  for (int i = 0; i < 256; ++i) {
    QPushButton* b = swatches_[static_cast<size_t>(i)];
    b->setEnabled(i < count);
    if (i >= count) {
      b->setStyleSheet(QStringLiteral("border:0"));
      continue;
    }
    const Rgb c = colours[i];
    const bool mark = static_cast<size_t>(i) < marked.size() && marked[static_cast<size_t>(i)];
    b->setStyleSheet(QStringLiteral("background:%1;border:%2")
                         .arg(QColor(c.r, c.g, c.b).name(),
                              mark ? QStringLiteral("2px solid red") : QStringLiteral("0")));
  }
}

}  // namespace fb::ui
