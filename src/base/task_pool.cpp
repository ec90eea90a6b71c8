#include "base/task_pool.h"

#include <algorithm>

#include "base/reporter.h"

namespace fb {

TaskPool::TaskPool(unsigned threads, size_t maxPending, Reporter& reporter)
    : reporter_(reporter), maxPending_(std::max<size_t>(1, maxPending)) {
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
  } catch (...) {
    // Fewer workers than asked (none: the tasks run on the caller's thread).
  }
}

TaskPool::~TaskPool() {
  drain();
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& t : threads_) t.join();
}

unsigned TaskPool::workersFor(size_t pieces, int64_t pixels, int64_t minPiecePixels) {
  // Small pieces cost more to hand over than to do.
  if (pieces < 2 || pixels < (1 << 20) || pixels / static_cast<int64_t>(pieces) < minPiecePixels)
    return 0;
  return std::min<unsigned>(cores(), 8);
}

unsigned TaskPool::cores() {
  static const unsigned count = std::max(1u, std::thread::hardware_concurrency());
  return count;
}

void TaskPool::runTask(std::function<void()>& task) {
  try {
    task();
  } catch (...) {
    failed_ = true;
  }
}

void TaskPool::submit(std::function<void()> task) {
  if (threads_.empty()) {
    runTask(task);
    return;
  }
  std::unique_lock lock(mu_);
  changed_.wait(lock, [&] { return pending_ < maxPending_; });
  queue_.push_back(std::move(task));
  ++pending_;
  changed_.notify_all();
}

void TaskPool::drain() {
  std::unique_lock lock(mu_);
  changed_.wait(lock, [&] { return pending_ == 0; });
}

void TaskPool::run() {
  ScopedReporter scope(reporter_);
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mu_);
      changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    runTask(task);
    task = nullptr;  // what it holds goes before the owner hears it is done
    {
      std::lock_guard lock(mu_);
      --pending_;
    }
    changed_.notify_all();
  }
}

bool forEachPiece(size_t count, unsigned helpers,
                  const std::function<bool(size_t, bool)>& work) {
  std::atomic<size_t> next{0};
  std::atomic<bool> stopped{false};
  auto take = [&](bool onCaller) {
    try {
      while (!stopped.load()) {
        const size_t i = next.fetch_add(1);
        if (i >= count || !work(i, onCaller)) {
          if (i < count) stopped = true;
          return;
        }
      }
    } catch (...) {
      stopped = true;
    }
  };
  helpers = static_cast<unsigned>(std::min<size_t>(helpers, count > 1 ? count - 1 : 0));
  {
    TaskPool pool(helpers, helpers, reporter());
    for (unsigned t = 0; t < pool.threads(); ++t) {
      try {
        pool.submit([&take] { take(false); });
      } catch (...) {
        break;  // the caller takes what that worker would have
      }
    }
    take(true);
    pool.drain();
  }
  return !stopped.load();
}

}  // namespace fb
