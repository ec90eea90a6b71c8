#include "base/interrupt.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace fb {
namespace {

// A slot is free (0), being filled (1) or live (2). Paths too long for a slot
// are not tracked (the save still works; an interrupt may leave the file).
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
  char restoreTo[PATH_MAX];
};
constexpr int kSlots = 64;
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

}  // namespace fb
