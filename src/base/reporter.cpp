#include "base/reporter.h"

#include <atomic>
#include <cstdio>

#include "base/progress.h"
#include "resources/strings.h"

namespace fb {
namespace {

StderrReporter g_stderr;
std::atomic<Reporter*> g_global{nullptr};
thread_local Reporter* t_override = nullptr;

}  // namespace

void StderrReporter::message(std::string_view caption, std::string_view text, Icon) {
  // Never at the end of a progress bar's line.
  endProgressLine();
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
}

std::string InputNoteReporter::noted(std::string_view text) const {
  std::string out(text);
  if (path_.empty() || text.find(path_) != std::string_view::npos) return out;
  return out + " (" + path_ + ")";
}

Answer StderrReporter::ask(std::string_view caption, std::string_view text, Icon icon, Buttons,
                           Answer noWindowAnswer) {
  message(caption, text, icon);
  return noWindowAnswer;
}

void RecordingReporter::message(std::string_view caption, std::string_view text, Icon icon) {
  std::lock_guard lock(mu_);
  entries_.push_back({std::string(caption), std::string(text), icon, false});
}

Answer RecordingReporter::ask(std::string_view caption, std::string_view text, Icon icon, Buttons,
                              Answer noWindowAnswer) {
  std::lock_guard lock(mu_);
  entries_.push_back({std::string(caption), std::string(text), icon, true});
  if (!answers_.empty()) {
    Answer a = answers_.front();
    answers_.erase(answers_.begin());
    return a;
  }
  return noWindowAnswer;
}

void RecordingReporter::queueAnswer(Answer a) {
  std::lock_guard lock(mu_);
  answers_.push_back(a);
}

std::vector<RecordingReporter::Entry> RecordingReporter::entries() const {
  std::lock_guard lock(mu_);
  return entries_;
}

std::vector<std::string> RecordingReporter::texts() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.text);
  return out;
}

bool RecordingReporter::contains(std::string_view text) const {
  std::lock_guard lock(mu_);
  for (const auto& e : entries_)
    if (e.text == text) return true;
  return false;
}

void RecordingReporter::clear() {
  std::lock_guard lock(mu_);
  entries_.clear();
  answers_.clear();
}

Reporter& reporter() {
  if (t_override) return *t_override;
  Reporter* g = g_global.load();
  return g ? *g : g_stderr;
}

void setGlobalReporter(Reporter* r) { g_global.store(r); }

ScopedReporter::ScopedReporter(Reporter& r) : previous_(t_override) { t_override = &r; }
ScopedReporter::~ScopedReporter() { t_override = previous_; }

void showWarning(std::string_view text) {
  reporter().message(fb::text(Str::CaptionError), text, Icon::Warning);
}

}  // namespace fb
