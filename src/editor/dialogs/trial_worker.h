// One background computation at a time for a dialog's preview: the work runs
// on its own thread over data the dialog hands it (never the widgets), and a
// new request cancels the running one and waits for it first.
//
// What the work tells the user is kept and shown through the dialog's
// reporter on the dialog's thread when the work is collected; its progress
// text and bar reach the dialog the same way. No exception leaves the thread.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/progress.h"
#include "base/reporter.h"
#include "gif/gif_writer.h"

class QLabel;
class QObject;
class QProgressBar;

namespace fb::ui {

class TrialWorker {
 public:
  // `owner` lives on the dialog's thread: progress and completion are
  // delivered to it. `onText` and `onPosition` may be empty.
  TrialWorker(QObject* owner, std::function<void(const QString&)> onText,
              std::function<void(int position, int range)> onPosition);
  ~TrialWorker();
  TrialWorker(const TrialWorker&) = delete;
  TrialWorker& operator=(const TrialWorker&) = delete;

  // Cancels and waits for a running job, then runs `work` on a new thread.
  // `done` runs later on the owner's thread, after the messages the work
  // gave were shown through `reporter` (unless the job was cancelled first).
  // `outOfMemory` is the warning shown when the work ran out of memory
  // (or failed in any other way).
  void start(std::function<void(Progress&)> work, std::function<void()> done, Reporter& reporter,
             std::string outOfMemory);
  // Cancels a running job and waits for it; its `done` never runs.
  void cancelAndWait();
  // Waits for a running job and collects it now (its `done` runs here).
  void finish();
  bool busy() const;
  // The progress of the job (cancel() may be called from any thread).
  Progress& progress();

 private:
  struct Job;
  void collect(const std::shared_ptr<Job>& job);
  QPointer<QObject> owner_;
  std::function<void(const QString&)> onText_;
  std::function<void(int, int)> onPosition_;
  std::shared_ptr<Job> job_;
  std::thread thread_;
};

// A dialog with a preview computed by a worker: its progress text and bar,
// and a start once it is on screen (`begin` runs once, queued after the first
// show, or earlier through beginOnce when the caller needs it sooner).
// Subclasses cancel the worker first thing in their destructor.
class TrialDialog : public QDialog {
 public:
  explicit TrialDialog(QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;
  void beginOnce();
  bool begun() const { return begun_; }
  virtual void begin() = 0;
  // Settles what the worker will read (the frame index and the cached
  // encoded size), so that it only ever reads the document; returns the size.
  static int64_t settleForWorker(Animation& document, const GifWriteOptions& gif);

  TrialWorker& worker() { return worker_; }
  const TrialWorker& worker() const { return worker_; }
  // "progressText" and "progressBar", for the subclass's layout.
  QLabel* progressText() const { return progressText_; }
  QProgressBar* progressBar() const { return progressBar_; }
  void clearProgress();

 private:
  bool begun_ = false;
  QLabel* progressText_;
  QProgressBar* progressBar_;
  TrialWorker worker_;
};

}  // namespace fb::ui
