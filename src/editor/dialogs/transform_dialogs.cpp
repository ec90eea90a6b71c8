#include "editor/dialogs/transform_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "base/prefs.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "formats/html_snippet.h"
#include "imaging/edits.h"
#include "io/external_edit.h"
#include "io/options.h"

namespace fb::ui {
namespace {

constexpr int kMaxSide = 65535;
// More result frames than this and the blend preview stops counting.
constexpr size_t kPreviewSteps = 100000;

SteppedSpinBox* makeSpin(const char* id, int low, int high, int value, QWidget* parent) {
  auto* s = new SteppedSpinBox(parent);
  s->setObjectName(id);
  s->setStepRange(low, high);
  s->setValue(value);
  return s;
}

// Says `message` and puts the cursor in the field at fault.
bool refuse(Reporter& reporter, const std::string& message, SteppedSpinBox* field) {
  reporter.message(text(Str::CaptionError), message, Icon::Warning);
  field->setFocus();
  field->selectAll();
  return false;
}

// A group holding a form; the form is returned.
QFormLayout* group(Str title, const char* id, QVBoxLayout* into, QWidget* parent) {
  auto* box = new QGroupBox(qtext(title), parent);
  box->setObjectName(id);
  auto* form = new QFormLayout(box);
  into->addWidget(box);
  return form;
}

QLabel* sizeNote(Str format, int w, int h, QWidget* parent) {
  auto* l = new QLabel(qformat(format, w, h), parent);
  l->setObjectName("size");
  return l;
}

std::vector<int32_t> frameDelays(const Animation& a) {
  std::vector<int32_t> d;
  for (int i = 0; i < a.frameCount(); ++i) d.push_back(a.frame(i)->delay);
  return d;
}

}  // namespace

// ---- A rectangle's fields ----

RectFields::RectFields(QWidget* parent, QFormLayout* form, const Rect& r)
    : x(makeSpin("x", 0, kMaxSide, r.x, parent)),
      y(makeSpin("y", 0, kMaxSide, r.y, parent)),
      width(makeSpin("width", 1, kMaxSide, r.width, parent)),
      height(makeSpin("height", 1, kMaxSide, r.height, parent)) {
  form->addRow(qtext(Str::XformX), x);
  form->addRow(qtext(Str::XformY), y);
  form->addRow(qtext(Str::XformWidth), width);
  form->addRow(qtext(Str::XformHeight), height);
}

Rect RectFields::rect() const {
  return Rect{x->value(), y->value(), width->value(), height->value()};
}

bool RectFields::check(int w, int h, Str message, Reporter& reporter) const {
  const Rect r = rect();
  SteppedSpinBox* fault = r.width < 1                   ? width
                          : r.height < 1                ? height
                          : r.x >= w                    ? x
                          : r.y >= h                    ? y
                          : r.x + int64_t{r.width} > w  ? width
                          : r.y + int64_t{r.height} > h ? height
                                                        : nullptr;
  if (!fault) return true;
  return refuse(reporter, format(message, r.x, r.y, r.width, r.height, w, h), fault);
}

// ---- Move/crop a frame ----

MoveCropDialog::MoveCropDialog(const Animation& document, int frame, Reporter& reporter,
                               QWidget* parent)
    : QDialog(parent), frame_(frame), reporter_(reporter) {
  setObjectName("moveCrop");
  setWindowTitle(qtext(Str::UndoMoveCrop));
  const Frame* f = document.frame(frame);
  frameWidth_ = f ? f->width : 0;
  frameHeight_ = f ? f->height : 0;
  auto* layout = new QVBoxLayout(this);
  QFormLayout* place = group(Str::XformPlace, "place", layout, this);
  left_ = makeSpin("left", 0, kMaxSide, f ? f->left : 0, this);
  top_ = makeSpin("top", 0, kMaxSide, f ? f->top : 0, this);
  place->addRow(qtext(Str::XformLeft), left_);
  place->addRow(qtext(Str::XformTop), top_);
  QFormLayout* keep = group(Str::XformKeep, "keep", layout, this);
  keep_ = std::make_unique<RectFields>(this, keep, Rect{0, 0, frameWidth_, frameHeight_});
  layout->addWidget(sizeNote(Str::XformFrameSize, frameWidth_, frameHeight_, this));
  layout->addWidget(makeButtons(this));
}

Edit MoveCropDialog::edit() const {
  return moveCropFrameEdit(frame_, left_->value(), top_->value(), keep_->rect());
}

void MoveCropDialog::accept() {
  for (SteppedSpinBox* s : {left_, top_})
    if (s->value() > kMaxSide) {
      refuse(reporter_, text(Str::EditPositionInvalid), s);
      return;
    }
  if (!keep_->check(frameWidth_, frameHeight_, Str::EditCropOutsideFrame, reporter_)) return;
  QDialog::accept();
}

// ---- Crop the animation ----

CropDialog::CropDialog(const Animation& document, Reporter& reporter, QWidget* parent)
    : QDialog(parent),
      screenWidth_(document.width),
      screenHeight_(document.height),
      reporter_(reporter) {
  setObjectName("cropAnimation");
  setWindowTitle(qtext(Str::UndoCropAnimation));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  rect_ = std::make_unique<RectFields>(this, form, Rect{0, 0, screenWidth_, screenHeight_});
  layout->addWidget(sizeNote(Str::XformScreenSize, screenWidth_, screenHeight_, this));
  layout->addWidget(makeButtons(this));
}

Edit CropDialog::edit() const {
  return cropAnimationEdit(rect_->rect());
}

void CropDialog::accept() {
  if (rect_->check(screenWidth_, screenHeight_, Str::EditCropOutsideScreen, reporter_))
    QDialog::accept();
}

// ---- Resize ----

ResizeDialog::ResizeDialog(const Animation& document, std::vector<int> frames, Reporter& reporter,
                           QWidget* parent)
    : QDialog(parent), frames_(std::move(frames)), reporter_(reporter) {
  setObjectName("resize");
  setWindowTitle(qtext(Str::UndoResize));
  const Frame* base = frames_.empty() ? nullptr : document.frame(frames_.front());
  baseWidth_ = base ? base->width : document.width;
  baseHeight_ = base ? base->height : document.height;
  width_ = makeSpin("width", 1, kMaxSide, baseWidth_, this);
  height_ = makeSpin("height", 1, kMaxSide, baseHeight_, this);
  keepAspect_ = makeCheck(Str::ResizeKeepAspect, "keepAspect", this);
  keepAspect_->setChecked(true);
  bicubic_ = makeCheck(Str::ResizeBicubic, "bicubic", this);
  bicubic_->setChecked(resizeOptionsFromPreferences().filter == ResizeFilter::Bicubic);

  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(qtext(Str::XformWidth), width_);
  form->addRow(qtext(Str::XformHeight), height_);
  layout->addLayout(form);
  layout->addWidget(keepAspect_);
  layout->addWidget(bicubic_);
  layout->addWidget(
      sizeNote(base ? Str::XformFrameSize : Str::XformScreenSize, baseWidth_, baseHeight_, this));
  layout->addWidget(makeButtons(this));

  connect(width_, &QSpinBox::valueChanged, this, [this] { follow(true); });
  connect(height_, &QSpinBox::valueChanged, this, [this] { follow(false); });
  connect(keepAspect_, &QCheckBox::toggled, this, [this] { follow(true); });
}

void ResizeDialog::follow(bool widthChanged) {
  if (!keepAspect_->isChecked() || baseWidth_ < 1 || baseHeight_ < 1) return;
  // The other side in proportion, rounded, at least one pixel.
  SteppedSpinBox* from = widthChanged ? width_ : height_;
  SteppedSpinBox* to = widthChanged ? height_ : width_;
  const double ratio =
      widthChanged ? double(baseHeight_) / baseWidth_ : double(baseWidth_) / baseHeight_;
  const long other = std::lround(from->value() * ratio);
  QSignalBlocker quiet(to);
  to->setValue(static_cast<int>(std::clamp<long>(other, 1, 9999999)));
}

Edit ResizeDialog::edit() const {
  ResizeOptions o;
  o.filter = bicubic_->isChecked() ? ResizeFilter::Bicubic : ResizeFilter::Nearest;
  if (frames_.empty()) return resizeAnimationEdit(width_->value(), height_->value(), o);
  return resizeFramesEdit(frames_, width_->value(), height_->value(), o);
}

void ResizeDialog::accept() {
  for (SteppedSpinBox* s : {width_, height_})
    if (s->value() < 1 || s->value() > kMaxSide) {
      refuse(reporter_, text(Str::EditSizeInvalid), s);
      return;
    }
  prefSetBits(pref::GeneralOptions, gen::ResizeBicubic, bicubic_->isChecked());
  QDialog::accept();
}

// ---- Blend ----

BlendDialog::BlendDialog(const Animation& document, std::shared_ptr<const Animation> other,
                         const QString& name, const BlendOptions& defaults, MergeChooser* chooser,
                         QWidget* parent)
    : QDialog(parent),
      delays_(frameDelays(document)),
      otherDelays_(other ? frameDelays(*other) : std::vector<int32_t>()),
      timeBase_(documentDefaultsFromPreferences().timeBase),
      other_(std::move(other)),
      defaults_(defaults),
      chooser_(chooser) {
  setObjectName("blend");
  setWindowTitle(qtext(Str::UndoBlend));
  auto* file = new QLabel(qformat(Str::BlendFileName, name.toUtf8().constData()), this);
  file->setObjectName("file");
  byFrame_ = makeRadio(Str::BlendByFrame, "byFrame", this);
  byTime_ = makeRadio(Str::BlendByTime, "byTime", this);
  (defaults.byTime ? byTime_ : byFrame_)->setChecked(true);
  loop_ = makeCheck(Str::BlendLoopShorter, "loopShorter", this);
  loop_->setChecked(defaults.loopShorter);
  result_ = makeField("result", this);

  auto* layout = new QVBoxLayout(this);
  for (QWidget* w : std::initializer_list<QWidget*>{file, byFrame_, byTime_, loop_, result_})
    layout->addWidget(w);
  layout->addWidget(makeButtons(this));
  connect(byTime_, &QRadioButton::toggled, this, &BlendDialog::update);
  connect(loop_, &QCheckBox::toggled, this, &BlendDialog::update);
  update();
}

BlendOptions BlendDialog::options() const {
  BlendOptions o = defaults_;
  o.byTime = byTime_->isChecked();
  o.loopShorter = loop_->isChecked();
  return o;
}

Edit BlendDialog::edit() const {
  return blendEdit(other_, options(), chooser_);
}

QString BlendDialog::resultText() const {
  return result_->text();
}

void BlendDialog::update() {
  std::vector<BlendStep> steps;
  if (!blendTimeline(delays_, otherDelays_, options(), kPreviewSteps, steps)) {
    result_->setText(qtext(Str::BlendResultTooLong));
    return;
  }
  int64_t ticks = 0;
  for (const BlendStep& s : steps) ticks += s.delay;
  const QString seconds = QString::number(double(ticks) / std::max(timeBase_, 1u), 'f', 2);
  result_->setText(qformat(Str::BlendResultLength, static_cast<int>(steps.size()),
                           seconds.toUtf8().constData()));
}

void BlendDialog::accept() {
  prefSetBits(pref::GeneralOptions, gen::BlendByTime, byTime_->isChecked());
  prefSetBits(pref::GeneralOptions, gen::BlendLoop, loop_->isChecked());
  QDialog::accept();
}

// ---- HTML snippet ----

HtmlDialog::HtmlDialog(const std::string& path, int width, int height, QWidget* parent)
    : QDialog(parent),
      path_(path.empty() ? std::string(text(Str::EditorUntitled)) + ".gif" : path),
      width_(width),
      height_(height) {
  setObjectName("html");
  setWindowTitle(qtext(Str::HtmlTitle));
  alt_ = new QLineEdit(QString::fromStdString(defaultAltText(path_)), this);
  alt_->setObjectName("alt");
  code_ = new QLineEdit(this);
  code_->setObjectName("code");
  code_->setReadOnly(true);
  code_->setMinimumWidth(420);
  QPushButton* copy = makeButton(Str::HtmlCopy, "copy", this);
  auto* form = new QFormLayout;
  form->addRow(qtext(Str::HtmlAltText), alt_);
  form->addRow(qtext(Str::HtmlCode), code_);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  close->button(QDialogButtonBox::Close)->setObjectName("close");
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(copy, 0, Qt::AlignLeft);
  layout->addWidget(close);
  connect(alt_, &QLineEdit::textChanged, this, &HtmlDialog::update);
  connect(copy, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(snippet()); });
  update();
}

QString HtmlDialog::snippet() const {
  return code_->text();
}

void HtmlDialog::update() {
  code_->setText(
      QString::fromStdString(htmlSnippet(path_, width_, height_, alt_->text().toStdString())));
}

// ---- External editor ----

ExternalEditDialog::ExternalEditDialog(ExternalEdit& session, Document document, Take take,
                                       QWidget* parent)
    : QDialog(parent),
      session_(session),
      document_(std::move(document)),
      take_(std::move(take)),
      timer_(new QTimer(this)) {
  setObjectName("externalEdit");
  setWindowTitle(qtext(Str::UndoExternalEdit));
  auto* note = new QLabel(qformat(Str::ExternalWaiting, session.path().c_str()), this);
  note->setObjectName("file");
  note->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_ = makeField("status", this);
  status_->setText(qformat(Str::ExternalReadBack, 0));
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* done = buttons->addButton(qtext(Str::ExternalDone), QDialogButtonBox::AcceptRole);
  done->setObjectName("done");
  done->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(note);
  layout->addWidget(status_);
  layout->addWidget(buttons);
  timer_->setInterval(500);
  connect(timer_, &QTimer::timeout, this, [this] { check(); });
}

const std::string& ExternalEditDialog::path() const {
  return session_.path();
}

bool ExternalEditDialog::check() {
  // A message box or progress dialog of a read-back lets the timer fire again.
  if (busy_) return false;
  const Animation* doc = document_();
  if (!doc || session_.poll() != ExternalEdit::Status::Saved) return false;
  busy_ = true;
  Edit e;
  bool took = session_.readBack(*doc, e) && take_(e);
  busy_ = false;
  if (took) status_->setText(qformat(Str::ExternalReadBack, ++taken_));
  return took;
}

void ExternalEditDialog::accept() {
  // A save made just before: one look sees it settling, the next takes it.
  for (int look = 0; look < 2 && !check(); ++look) {
  }
  QDialog::accept();
}

void ExternalEditDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  timer_->start();
}

void ExternalEditDialog::hideEvent(QHideEvent* event) {
  timer_->stop();
  QDialog::hideEvent(event);
}

}  // namespace fb::ui
