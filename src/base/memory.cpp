#include "base/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
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

}  // namespace

int64_t availableMemory() {
  int64_t best = -1;
  auto bound = [&best](int64_t v) {
    if (v >= 0 && (best < 0 || v < best)) best = v;
  };
  bound(systemAvailable());
  bound(groupAvailable());
  int64_t addressSpace = 0, data = 0;
  if (processUse(addressSpace, data)) {
    rlimit r{};
    if (::getrlimit(RLIMIT_AS, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
      bound(std::max<int64_t>(0, static_cast<int64_t>(r.rlim_cur) - addressSpace));
    if (::getrlimit(RLIMIT_DATA, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
      bound(std::max<int64_t>(0, static_cast<int64_t>(r.rlim_cur) - data));
  }
  return best >= 0 ? best : int64_t{4} << 30;
}

}  // namespace fb
