// The document's encoded size, counted on a worker thread with the real GIF
// encoder. Like every background pass it has a running bit and a stop-request
// bit: stop() asks, then waits until the worker has let go of the document.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <thread>

#include "base/progress.h"
#include "gif/gif_writer.h"

namespace fb {

struct Animation;

class SizeWorker : public QObject {
  Q_OBJECT
 public:
  static constexpr int kRunning = 1;
  static constexpr int kStopRequest = 2;

  explicit SizeWorker(QObject* parent = nullptr);
  ~SizeWorker() override;

  // Counts `animation` anew (stopping a count still running first).
  void start(Animation& animation, const GifWriteOptions& options);
  void stop();
  // Lets the count finish and takes its result in (tests, and waiting for the size).
  void finish();
  bool running() const { return bits_.load() & kRunning; }
  // The last size counted; -1 while unknown.
  int64_t size() const { return size_; }
  void forget() { size_ = -1; }

 signals:
  void finished(qint64 size);

 private:
  class Stopper : public Progress {
   public:
    explicit Stopper(std::atomic<int>& bits) : bits_(bits) {}

   protected:
    void poll() override {
      if (bits_.load() & kStopRequest) cancel();
    }

   private:
    std::atomic<int>& bits_;
  };
  std::atomic<int> bits_{0};
  std::thread thread_;
  int64_t size_ = -1;
  quint64 generation_ = 0;
};

}  // namespace fb
