#include "editor/dialogs/trial_worker.h"

#include <QLabel>
#include <QMetaObject>
#include <QObject>
#include <QProgressBar>
#include <QString>
#include <atomic>
#include <exception>

#include "resources/strings.h"

namespace fb::ui {

namespace {

// Passes text and bar positions on to the owner's thread.
class ForwardingProgress : public Progress {
 public:
  ForwardingProgress(QPointer<QObject> owner, std::function<void(const QString&)> onText,
                     std::function<void(int, int)> onPosition)
      : owner_(std::move(owner)), onText_(std::move(onText)), onPosition_(std::move(onPosition)) {}

 protected:
  void onText(std::string_view text) override {
    if (!onText_ || !owner_) return;
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    auto f = onText_;
    QMetaObject::invokeMethod(
        owner_.data(), [f, s] { f(s); }, Qt::QueuedConnection);
  }
  void onPosition(int position, int range) override {
    // Only whole steps of the scaled bar reach the dialog.
    if (!onPosition_ || !owner_ || (position == last_ && range == lastRange_)) return;
    last_ = position;
    lastRange_ = range;
    auto f = onPosition_;
    QMetaObject::invokeMethod(
        owner_.data(), [f, position, range] { f(position, range); }, Qt::QueuedConnection);
  }

 private:
  QPointer<QObject> owner_;
  std::function<void(const QString&)> onText_;
  std::function<void(int, int)> onPosition_;
  int last_ = -1, lastRange_ = -1;
};

}  // namespace

struct TrialWorker::Job {
  std::unique_ptr<ForwardingProgress> progress;
  RecordingReporter messages;  // no window: questions take their no-window answer
  std::function<void()> done;
  Reporter* reporter = nullptr;
  std::string outOfMemory;
  bool failed = false;
  std::atomic<bool> running{true};
  bool collected = false;
};

TrialDialog::TrialDialog(QWidget* parent)
    : QDialog(parent),
      progressText_(new QLabel(this)),
      progressBar_(new QProgressBar(this)),
      worker_(
          this, [this](const QString& t) { progressText_->setText(t); },
          [this](int position, int range) {
            progressBar_->setRange(0, range);
            progressBar_->setValue(position);
          }) {
  progressText_->setObjectName("progressText");
  progressBar_->setObjectName("progressBar");
  progressBar_->setTextVisible(false);
  clearProgress();
}

void TrialDialog::clearProgress() {
  progressText_->clear();
  progressBar_->setRange(0, 1);
  progressBar_->setValue(0);
}

void TrialDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!begun_)
    QMetaObject::invokeMethod(
        this, [this] { beginOnce(); }, Qt::QueuedConnection);
}

void TrialDialog::beginOnce() {
  if (begun_) return;
  begun_ = true;
  begin();
}

int64_t TrialDialog::settleForWorker(Animation& document, const GifWriteOptions& gif) {
  document.settle();
  return encodedSize(document, false, nullptr, gif);
}

TrialWorker::TrialWorker(QObject* owner, std::function<void(const QString&)> onText,
                         std::function<void(int, int)> onPosition)
    : owner_(owner), onText_(std::move(onText)), onPosition_(std::move(onPosition)) {}

TrialWorker::~TrialWorker() {
  cancelAndWait();
}

void TrialWorker::start(std::function<void(Progress&)> work, std::function<void()> done,
                        Reporter& reporter, std::string outOfMemory) {
  cancelAndWait();
  auto job = std::make_shared<Job>();
  job->progress = std::make_unique<ForwardingProgress>(owner_, onText_, onPosition_);
  job->done = std::move(done);
  job->reporter = &reporter;
  job->outOfMemory = std::move(outOfMemory);
  job_ = job;
  QPointer<QObject> owner = owner_;
  thread_ = std::thread([this, job, work = std::move(work), owner] {
    {
      ScopedReporter scope(job->messages);
      try {
        work(*job->progress);
      } catch (...) {
        // std::bad_alloc above all; whatever it was, the job is over.
        job->failed = true;
      }
    }
    job->running = false;
    if (owner)
      QMetaObject::invokeMethod(
          owner.data(), [this, job] { collect(job); }, Qt::QueuedConnection);
  });
}

void TrialWorker::collect(const std::shared_ptr<Job>& job) {
  // A stale notice (the job was cancelled or already collected) is dropped.
  if (job != job_ || job->collected) return;
  if (thread_.joinable()) thread_.join();
  job->collected = true;
  if (!job->progress->cancelled()) {
    for (const auto& e : job->messages.entries())
      if (!e.question) job->reporter->message(e.caption, e.text, e.icon);
    if (job->failed)
      job->reporter->message(text(Str::CaptionError), job->outOfMemory, Icon::Warning);
  }
  auto done = std::move(job->done);
  if (done) done();
}

void TrialWorker::cancelAndWait() {
  if (job_) job_->progress->cancel();
  if (thread_.joinable()) thread_.join();
  if (job_) job_->collected = true;
}

void TrialWorker::finish() {
  if (job_ && !job_->collected) collect(job_);
}

bool TrialWorker::busy() const {
  return job_ && job_->running.load();
}

Progress& TrialWorker::progress() {
  static Progress idle;
  return job_ ? static_cast<Progress&>(*job_->progress) : idle;
}

}  // namespace fb::ui
