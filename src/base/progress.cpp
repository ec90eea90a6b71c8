#include "base/progress.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace fb {

void Progress::setText(std::string_view text) {
  {
    std::lock_guard lock(textMu_);
    text_ = std::string(text);
  }
  onText(text);
}

std::string Progress::text() const {
  std::lock_guard lock(textMu_);
  return text_;
}

void Progress::setRange(int64_t range) {
  range = range < 0 ? 0 : range;
  int64_t divisor = 1;
  while (range / divisor > 1000) divisor *= 10;
  divisor_ = divisor;
  position_ = 0;
  range_ = range;
  show();
}

bool Progress::setPosition(int64_t position) {
  position_ = position;
  poll();
  show();
  return !cancelled();
}

bool Progress::step(int64_t n) { return setPosition(position_.load() + n); }

void Progress::show() {
  const int64_t divisor = divisor_.load();
  int r = static_cast<int>(range_.load() / divisor);
  int p = static_cast<int>(position_.load() / divisor);
  if (p > r) p = r;
  onPosition(p, r);
}

namespace {

// True while a bar has been drawn on stderr's current line.
std::atomic<bool> g_lineOpen{false};

}  // namespace

void endProgressLine() {
  if (g_lineOpen.exchange(false)) std::fputc('\n', stderr);
}

StderrProgress::StderrProgress() : tty_(isatty(2) != 0) {}

StderrProgress::~StderrProgress() { finish(); }

void StderrProgress::finish() {
  if (tty_ && drawn_ && g_lineOpen.exchange(false)) std::fputs("\r\033[K", stderr);
  drawn_ = false;
  percent_ = -1;
}

void StderrProgress::onText(std::string_view text) {
  // Drop the editor's Esc hint: there is no Esc in a terminal batch run.
  std::string t(text);
  auto cut = t.find("(Esc");
  if (cut != std::string::npos) t.erase(cut);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  label_ = t;
  percent_ = -1;
  if (tty_) draw();
}

void StderrProgress::onPosition(int position, int range) {
  if (!tty_) return;
  int pc = range > 0 ? position * 100 / range : 0;
  if (pc == percent_) return;
  percent_ = pc;
  draw();
}

void StderrProgress::draw() {
  constexpr int kWidth = 30;
  int pc = percent_ < 0 ? 0 : percent_;
  int filled = pc * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), ' ');
  std::fprintf(stderr, "\r\033[K%s [%s] %3d%%", label_.c_str(), bar.c_str(), pc);
  std::fflush(stderr);
  drawn_ = true;
  g_lineOpen = true;
}

std::vector<std::string> RecordingProgress::texts() const {
  std::lock_guard lock(mu_);
  return texts_;
}

void RecordingProgress::onText(std::string_view text) {
  std::lock_guard lock(mu_);
  texts_.emplace_back(text);
}

void RecordingProgress::poll() {
  ++updates_;
  if (cancelAfter_ >= 0 && updates_ >= cancelAfter_) cancel();
}

}  // namespace fb
