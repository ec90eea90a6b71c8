#include "base/interrupt.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "base/file_ops.h"

namespace fb {
namespace {

// A slot is free (0), being filled (1) or live (2). Paths too long for a slot
// are not tracked (the save still works; an interrupt may leave the file).
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
  char restoreTo[PATH_MAX];
};
// Enough for the busiest run: --each with its most jobs (64), each holding up
// to three files at once (its staged copy, the writer's copy, a backup).
constexpr int kSlots = 256;
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

void onInterrupt(int sig) {
  for (Slot& s : g_slots) {
    if (s.state.load() != 2) continue;
    if (s.restoreTo[0])
      ::rename(s.path, s.restoreTo);
    else
      ::unlink(s.path);
  }
  // Folders once their files are gone (rmdir leaves anything else alone).
  for (Slot& s : g_slots)
    if (s.state.load() == 2 && !s.restoreTo[0]) ::rmdir(s.path);
  ::_exit(128 + sig);
}

}  // namespace

LiveTemporary::LiveTemporary(const std::string& path, const std::string& restoreTo) {
  track(path, restoreTo);
}

LiveTemporary::~LiveTemporary() {
  release();
}

void LiveTemporary::track(const std::string& path, const std::string& restoreTo) {
  release();
  if (path.size() >= PATH_MAX || restoreTo.size() >= PATH_MAX) return;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    std::memcpy(g_slots[i].restoreTo, restoreTo.c_str(), restoreTo.size() + 1);
    g_slots[i].state.store(2);
    slot_ = i;
    return;
  }
}

void LiveTemporary::release() {
  if (slot_ < 0) return;
  g_slots[slot_].state.store(0);
  slot_ = -1;
}

void cleanUpOnInterrupt() {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigfillset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

namespace {

struct HeldInterrupts {
  sigset_t before;
  HeldInterrupts() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, &before);
  }
  ~HeldInterrupts() { pthread_sigmask(SIG_SETMASK, &before, nullptr); }
};

}  // namespace

bool createLiveFolder(std::string& pathTemplate, LiveTemporary& live) {
  HeldInterrupts held;
  if (!::mkdtemp(pathTemplate.data())) return false;
  live.track(pathTemplate);
  return true;
}

bool createLiveTemporary(std::string& pathTemplate, int suffixLength, unsigned mode,
                         LiveTemporary& live) {
  HeldInterrupts held;
  fileops::WriteFile file;
  if (!file.createUnique(pathTemplate, suffixLength, mode)) return false;
  live.track(pathTemplate);
  file.close();
  return true;
}

}  // namespace fb
