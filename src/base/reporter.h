// How the engine tells the user about failures and asks questions.
// The editor shows message boxes, batch mode prints to stderr, tests record.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fb {

enum class Icon { Warning, Error, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Answer { Ok, Cancel, Yes, No, Retry };

class Reporter {
 public:
  virtual ~Reporter() = default;
  // A message box with one button.
  virtual void message(std::string_view caption, std::string_view text, Icon icon) = 0;
  // A question. Without a window the answer is `noWindowAnswer`, as the caller decides.
  virtual Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
                     Answer noWindowAnswer) = 0;
  // True when questions reach a person (the editor); false for batch mode and tests.
  virtual bool hasWindow() const { return false; }
};

// Prints "caption: text" on stderr; questions take the no-window answer.
class StderrReporter : public Reporter {
 public:
  void message(std::string_view caption, std::string_view text, Icon icon) override;
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override;
};

// Keeps every message for tests. Questions take the no-window answer unless
// answers were queued with `queueAnswer`.
class RecordingReporter : public Reporter {
 public:
  struct Entry {
    std::string caption;
    std::string text;
    Icon icon;
    bool question;
  };
  void message(std::string_view caption, std::string_view text, Icon icon) override;
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override;
  bool hasWindow() const override { return window_; }
  void setHasWindow(bool on) { window_ = on; }
  void queueAnswer(Answer a);

  std::vector<Entry> entries() const;
  std::vector<std::string> texts() const;
  bool contains(std::string_view text) const;
  void clear();

 private:
  mutable std::mutex mu_;
  std::vector<Entry> entries_;
  std::vector<Answer> answers_;
  bool window_ = false;
};

// Passes everything on to another reporter, counting what went by (from any thread).
class CountingReporter : public Reporter {
 public:
  explicit CountingReporter(Reporter& inner) : inner_(inner) {}
  void message(std::string_view caption, std::string_view text, Icon icon) override {
    ++count_;
    inner_.message(caption, text, icon);
  }
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override {
    ++count_;
    return inner_.ask(caption, text, icon, buttons, noWindowAnswer);
  }
  bool hasWindow() const override { return inner_.hasWindow(); }
  int count() const { return count_.load(); }

 private:
  Reporter& inner_;
  std::atomic<int> count_{0};
};

// Passes everything on, each text followed by the path of the input being
// read, for batch runs and tools that read many inputs one after another.
// (A text that names the path already is passed as it is.)
class InputNoteReporter : public Reporter {
 public:
  InputNoteReporter(Reporter& inner, std::string path) : inner_(inner), path_(std::move(path)) {}
  void message(std::string_view caption, std::string_view text, Icon icon) override {
    inner_.message(caption, noted(text), icon);
  }
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons buttons,
             Answer noWindowAnswer) override {
    return inner_.ask(caption, noted(text), icon, buttons, noWindowAnswer);
  }
  bool hasWindow() const override { return inner_.hasWindow(); }

 private:
  std::string noted(std::string_view text) const;
  Reporter& inner_;
  std::string path_;
};

// The reporter in effect on this thread: a scoped override if one is active
// on this thread, else the process-wide one (stderr by default).
Reporter& reporter();
void setGlobalReporter(Reporter* r);  // null restores stderr

class ScopedReporter {
 public:
  explicit ScopedReporter(Reporter& r);
  ~ScopedReporter();
  ScopedReporter(const ScopedReporter&) = delete;
  ScopedReporter& operator=(const ScopedReporter&) = delete;

 private:
  Reporter* previous_;
};

// A warning with the caption "错误", the way most failures are shown.
void showWarning(std::string_view text);

}  // namespace fb
