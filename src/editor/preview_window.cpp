#include "editor/preview_window.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

#include "base/prefs.h"
#include "editor/document_context.h"
#include "editor/ui_text.h"

namespace fb {
namespace {
constexpr uint32_t kLoopForever = 0x1000;
constexpr uint32_t kFullScreen = 0x100000;
constexpr int kNormalSpeed = 7;  // the slider's middle: the real delays
}  // namespace

PreviewWindow::PreviewWindow(DocumentContext& context, std::vector<int> frames, QWidget* parent)
    : QDialog(parent), ctx_(context), frames_(std::move(frames)), selectedOnly_(!frames_.empty()) {
  setObjectName("preview");
  setWindowTitle(qtext(Str::PreviewTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  if (frames_.empty())
    for (int i = 0; i < ctx_.frameCount(); ++i) frames_.push_back(i);
  uint32_t general = prefGet(pref::GeneralOptions);
  forever_ = general & kLoopForever;
  speedValue_ = static_cast<int>(prefGet(pref::Preview) & 0xFFFF);
  if (speedValue_ < 1 || speedValue_ > 2 * kNormalSpeed) speedValue_ = kNormalSpeed;

  picture_ = new QLabel;
  picture_->setObjectName("previewPicture");
  picture_->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture_, 1);
  bool fullScreen = general & kFullScreen;
  if (!fullScreen) {
    auto* controls = new QHBoxLayout;
    playButton_ = new QPushButton(qtext(Str::PreviewPause));
    playButton_->setObjectName("previewPlay");
    auto* stepButton = new QPushButton(qtext(Str::PreviewStep));
    stepButton->setObjectName("previewStep");
    auto* close = new QPushButton(qtext(Str::PreviewClose));
    close->setObjectName("previewClose");
    speed_ = new QSlider(Qt::Horizontal);
    speed_->setObjectName("previewSpeed");
    speed_->setAccessibleName(plainText(Str::PreviewSpeed));
    speed_->setRange(1, 2 * kNormalSpeed);
    speed_->setValue(speedValue_);
    controls->addWidget(playButton_);
    controls->addWidget(stepButton);
    controls->addWidget(new QLabel(qtext(Str::PreviewSpeed)));
    controls->addWidget(speed_, 1);
    controls->addWidget(close);
    layout->addLayout(controls);
    connect(playButton_, &QPushButton::clicked, this, [this] { running_ ? pause() : play(); });
    connect(stepButton, &QPushButton::clicked, this, &PreviewWindow::step);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(speed_, &QSlider::valueChanged, this, &PreviewWindow::setSpeed);
  } else {
    layout->setContentsMargins(0, 0, 0, 0);
    setWindowState(Qt::WindowFullScreen);
  }
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &PreviewWindow::advance);
  if (!frames_.empty()) showPicture(0);
  play();
}

PreviewWindow::~PreviewWindow() = default;

int PreviewWindow::intervalFor(int position) const {
  if (position < 0 || position >= static_cast<int>(frames_.size())) return 0;
  Frame* f = ctx_.frame(frames_[position]);
  Animation* a = ctx_.animation();
  if (!f || !a) return 0;
  uint32_t timeBase = prefGet(pref::TimeBase);
  if (timeBase == 0) timeBase = 100;
  // Delays are ticks of the time base; the speed slider scales them.
  int64_t ms = static_cast<int64_t>(f->delay) * 1000 / timeBase;
  ms = ms * kNormalSpeed / std::max(speedValue_, 1);
  // A zero delay would spin the event loop; no GIF can ask for less than a
  // hundredth anyway. The timer takes an int.
  return static_cast<int>(std::clamp<int64_t>(ms, 10, INT_MAX));
}

void PreviewWindow::showPicture(int position) {
  position_ = position;
  PictureCache* cache = ctx_.pictures();
  PictureCache::View view;
  if (!cache || !cache->picture(frames_[position], view)) {
    picture_->clear();
    return;
  }
  QImage image(view.pixels, view.width, view.height, view.width * 4, QImage::Format_RGBA8888);
  picture_->setPixmap(QPixmap::fromImage(image.copy()));
}

void PreviewWindow::advance() {
  if (frames_.empty()) return;
  int next = position_ + 1;
  if (next >= static_cast<int>(frames_.size())) {
    ++plays_;
    Animation* a = ctx_.animation();
    // Play count 0 loops for ever; n plays n times.
    if (!forever_ && a && a->playCount > 0 && plays_ >= a->playCount) {
      pause();
      return;
    }
    next = 0;
  }
  showPicture(next);
  if (running_) timer_.start(intervalFor(position_));
}

void PreviewWindow::play() {
  if (frames_.empty()) return;
  running_ = true;
  if (playButton_) playButton_->setText(qtext(Str::PreviewPause));
  timer_.start(intervalFor(position_));
}

void PreviewWindow::pause() {
  running_ = false;
  timer_.stop();
  if (playButton_) playButton_->setText(qtext(Str::PreviewPlay));
}

void PreviewWindow::step() {
  pause();
  if (frames_.empty()) return;
  showPicture((position_ + 1) % static_cast<int>(frames_.size()));
}

void PreviewWindow::setSpeed(int value) {
  speedValue_ = value;
  prefSet(pref::Preview, (prefGet(pref::Preview) & ~0xFFFFu) | static_cast<uint32_t>(value));
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace fb
