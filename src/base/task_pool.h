// A few worker threads for work that splits into independent pieces (frames
// encoded or tried on their own). Results never depend on how many there are.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fb {

class Reporter;

class TaskPool {
 public:
  // `threads` workers; submit() waits while `maxPending` tasks are queued or
  // running. Messages the tasks raise go to `reporter` (the owner's: workers
  // have none of their own).
  TaskPool(unsigned threads, size_t maxPending, Reporter& reporter);
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void submit(std::function<void()> task);
  // Waits until every submitted task has finished.
  void drain();
  // True when some task ended by throwing (out of memory, say): nothing
  // thrown leaves a worker, the owner asks here instead.
  bool failed() const { return failed_.load(); }
  // Workers actually started (0: submit() runs the task on the caller's thread).
  unsigned threads() const { return static_cast<unsigned>(threads_.size()); }

  // Worker threads worth starting for work of this many pieces and pixels on
  // this machine (0: do it on the calling thread). `minPiecePixels`: the
  // average piece below which handing pieces over costs more than it saves.
  static unsigned workersFor(size_t pieces, int64_t pixels, int64_t minPiecePixels = 40000);
  // The machine's cores (at least 1), asked once: the library reads files of
  // the system for it each time.
  static unsigned cores();

 private:
  void run();
  void runTask(std::function<void()>& task);
  Reporter& reporter_;
  std::mutex mu_;
  std::condition_variable changed_;
  // A list: an empty one allocates nothing, and most pools (of no workers,
  // for small work) never queue a task.
  std::list<std::function<void()>> queue_;
  size_t pending_ = 0;  // queued or running
  size_t maxPending_;
  bool stop_ = false;
  std::atomic<bool> failed_{false};
  std::vector<std::thread> threads_;
};

// Calls `work(i, onCaller)` once for each i below `count`, the indices taken
// in turn by the calling thread and by up to `helpers` workers beside it (a
// worker that cannot be had leaves its share to the others). `work` returning
// false, or throwing, stops the taking: the result is then false and the
// indices not yet taken are left undone. Nothing thrown leaves a worker.
bool forEachPiece(size_t count, unsigned helpers,
                  const std::function<bool(size_t, bool)>& work);

}  // namespace fb
