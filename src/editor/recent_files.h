// The recently used files, "File1" (newest) .. "File7" in the settings.
#pragma once

#include <string>
#include <vector>

namespace fb {

constexpr int kRecentMax = 7;

// The entries in order, newest first, up to the first missing value.
std::vector<std::string> recentFiles();
// Puts `path` first; an entry equal to it (compared without case) moves up,
// the oldest falls off past seven.
void addRecentFile(const std::string& path);
// Takes out the entry equal to `path`, closing up the numbers. True when one was.
bool removeRecentFile(const std::string& path);
// At start: entries that no longer open for reading drop out, the numbering closes up.
void compactRecentFiles();

}  // namespace fb
