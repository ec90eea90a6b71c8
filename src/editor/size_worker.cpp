#include "editor/size_worker.h"

#include <QCoreApplication>

#include "base/reporter.h"
#include "document/animation.h"

namespace fb {

SizeWorker::SizeWorker(QObject* parent) : QObject(parent) {}

SizeWorker::~SizeWorker() { stop(); }

void SizeWorker::stop() {
  if (bits_.load() & kRunning) bits_.fetch_or(kStopRequest);
  // The worker clears both bits as it ends.
  if (thread_.joinable()) thread_.join();
  bits_.store(0);
}

void SizeWorker::finish() {
  if (thread_.joinable()) thread_.join();
  QCoreApplication::sendPostedEvents(this);
}

void SizeWorker::start(Animation& animation, const GifWriteOptions& options) {
  stop();
  size_ = -1;
  quint64 generation = ++generation_;
  bits_.store(kRunning);
  Animation* a = &animation;
  thread_ = std::thread([this, a, options, generation] {
    int64_t size = -1;
    try {
      // Messages from here would reach the user out of context: keep them.
      RecordingReporter quiet;
      ScopedReporter scoped(quiet);
      Stopper stopper(bits_);
      size = encodedSize(*a, true, &stopper, options);
      if (stopper.cancelled()) size = -1;
    } catch (...) {
      size = -1;
    }
    bool stopped = bits_.load() & kStopRequest;
    bits_.store(0);
    if (stopped) return;
    QMetaObject::invokeMethod(
        this,
        [this, size, generation] {
          if (generation != generation_) return;
          size_ = size;
          emit finished(size);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace fb
