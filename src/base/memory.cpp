#include "base/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace fb {
namespace {

// "MemAvailable:" of /proc/meminfo, in bytes; -1 when unknown.
int64_t systemAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  int64_t kb;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kb * 1024;
  }
  return -1;
}

// This process's address space and data, in bytes (/proc/self/statm).
bool processUse(int64_t& addressSpace, int64_t& data) {
  std::ifstream in("/proc/self/statm");
  int64_t size, resident, shared, text, lib, dataPages;
  if (!(in >> size >> resident >> shared >> text >> lib >> dataPages)) return false;
  long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) return false;
  addressSpace = size * page;
  data = dataPages * page;
  return true;
}

// What the control group (v2) this process runs in still allows; -1 when unlimited or unknown.
int64_t groupAvailable() {
  std::ifstream self("/proc/self/cgroup");
  std::string line, path;
  while (std::getline(self, line))
    if (line.rfind("0::", 0) == 0) path = line.substr(3);
  if (path.empty()) return -1;
  std::string dir = "/sys/fs/cgroup" + path;
  std::ifstream maxFile(dir + "/memory.max"), currentFile(dir + "/memory.current");
  std::string max;
  int64_t current = 0;
  if (!(maxFile >> max) || max == "max" || !(currentFile >> current)) return -1;
  int64_t limit = std::strtoll(max.c_str(), nullptr, 10);
  return limit > 0 ? std::max<int64_t>(0, limit - current) : -1;
}

// What the system and the control group have available, the smaller (-1:
// unknown). Asking costs more than reading a small file, so an answer serves
// for a quarter of a second: many files read one after another ask once.
int64_t sharedAvailable() {
  using Clock = std::chrono::steady_clock;
  static std::mutex mu;
  static Clock::time_point asked;
  static int64_t answer = -1;
  static bool known = false;
  std::lock_guard<std::mutex> lock(mu);
  const Clock::time_point now = Clock::now();
  if (!known || now - asked > std::chrono::milliseconds(250)) {
    int64_t system = systemAvailable(), group = groupAvailable();
    answer = system < 0 ? group : group < 0 ? system : std::min(system, group);
    asked = now;
    known = true;
  }
  return answer;
}

}  // namespace

int64_t availableMemory() {
  int64_t best = -1;
  auto bound = [&best](int64_t v) {
    if (v >= 0 && (best < 0 || v < best)) best = v;
  };
  bound(sharedAvailable());
  // The process's own limits, when it has any, against what it uses now.
  rlimit space{}, data{};
  const bool spaceLimited = ::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY;
  const bool dataLimited = ::getrlimit(RLIMIT_DATA, &data) == 0 && data.rlim_cur != RLIM_INFINITY;
  int64_t spaceUsed = 0, dataUsed = 0;
  if ((spaceLimited || dataLimited) && processUse(spaceUsed, dataUsed)) {
    if (spaceLimited) bound(std::max<int64_t>(0, static_cast<int64_t>(space.rlim_cur) - spaceUsed));
    if (dataLimited) bound(std::max<int64_t>(0, static_cast<int64_t>(data.rlim_cur) - dataUsed));
  }
  return best >= 0 ? best : int64_t{4} << 30;
}

}  // namespace fb
