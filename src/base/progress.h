// Progress of long operations, with cancellation (Esc in the editor).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fb {

class Progress {
 public:
  virtual ~Progress() = default;

  void setText(std::string_view text);
  // Ranges above 1000 are scaled down by powers of 10 for display.
  void setRange(int64_t range);
  // Both return false once the operation has been cancelled.
  bool setPosition(int64_t position);
  bool step(int64_t n = 1);

  // Safe from any thread.
  void cancel() { cancelled_.store(true); }
  bool cancelled() const { return cancelled_.load(); }
  void resetCancel() { cancelled_.store(false); }

  // Readable from any thread while one thread (the operation's) updates.
  int64_t range() const { return range_.load(std::memory_order_relaxed); }
  int64_t position() const { return position_.load(std::memory_order_relaxed); }
  std::string text() const;

 protected:
  // Display hooks; `position` and `range` are already scaled to at most 1000.
  virtual void onText(std::string_view text) {}
  virtual void onPosition(int position, int range) {}
  // Called at every position change so that a subclass can decide to cancel.
  virtual void poll() {}

 private:
  void show();
  std::atomic<bool> cancelled_{false};
  mutable std::mutex textMu_;
  std::string text_;
  std::atomic<int64_t> range_{0};
  std::atomic<int64_t> position_{0};
  std::atomic<int64_t> divisor_{1};
};

// Ends a progress bar's line on stderr when one is showing, so that what is
// printed next starts on a fresh line (the bar is drawn again on the next one).
void endProgressLine();

// A one-line bar on stderr, drawn only when stderr is a terminal.
class StderrProgress : public Progress {
 public:
  StderrProgress();
  ~StderrProgress() override;
  void finish();

 protected:
  void onText(std::string_view text) override;
  void onPosition(int position, int range) override;

 private:
  void draw();
  bool tty_;
  bool drawn_ = false;
  int percent_ = -1;
  std::string label_;
};

// Records what was shown; can cancel itself after a given number of position updates.
class RecordingProgress : public Progress {
 public:
  std::vector<std::string> texts() const;
  int updates() const { return updates_; }
  void cancelAfter(int updates) { cancelAfter_ = updates; }

 protected:
  void onText(std::string_view text) override;
  void poll() override;

 private:
  mutable std::mutex mu_;
  std::vector<std::string> texts_;
  int updates_ = 0;
  int cancelAfter_ = -1;
};

}  // namespace fb
