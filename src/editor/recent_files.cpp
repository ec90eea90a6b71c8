#include "editor/recent_files.h"

#include <strings.h>
#include <unistd.h>

#include "base/settings_file.h"

namespace fb {
namespace {

std::string slot(int n) { return "File" + std::to_string(n); }

bool sameFile(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::vector<std::string> recentFiles() {
  std::vector<std::string> out;
  for (int n = 1; n <= kRecentMax; ++n) {
    auto v = settings().getString(slot(n));
    if (!v) break;
    out.push_back(*v);
  }
  return out;
}

void addRecentFile(const std::string& path) {
  // Each entry moves down one slot, until the slot that held the same path
  // (which the move overwrites) or the last one.
  std::vector<std::pair<std::string, SettingValue>> values;
  std::string carry = path;
  for (int n = 1; n <= kRecentMax; ++n) {
    auto old = settings().getString(slot(n));
    values.emplace_back(slot(n), SettingValue::ofString(carry));
    if (!old || sameFile(*old, path)) break;
    carry = *old;
  }
  settings().set(values);
}

bool removeRecentFile(const std::string& path) {
  std::vector<std::string> list = recentFiles();
  size_t i = 0;
  while (i < list.size() && !sameFile(list[i], path)) ++i;
  if (i == list.size()) return false;
  std::vector<std::pair<std::string, SettingValue>> values;
  for (size_t j = i; j + 1 < list.size(); ++j)
    values.emplace_back(slot(static_cast<int>(j) + 1), SettingValue::ofString(list[j + 1]));
  if (!values.empty()) settings().set(values);
  settings().remove(slot(static_cast<int>(list.size())));
  return true;
}

void compactRecentFiles() {
  std::vector<std::string> list = recentFiles();
  for (size_t n = 1; n <= list.size(); ++n) settings().remove(slot(static_cast<int>(n)));
  std::vector<std::pair<std::string, SettingValue>> values;
  for (const std::string& p : list)
    if (access(p.c_str(), R_OK) == 0)
      values.emplace_back(slot(static_cast<int>(values.size()) + 1), SettingValue::ofString(p));
  if (!values.empty()) settings().set(values);
}

}  // namespace fb
