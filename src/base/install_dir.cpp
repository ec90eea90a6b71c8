#include "base/install_dir.h"

#include <unistd.h>

#include <filesystem>

#include "base/file_ops.h"

// The data folder as seen from the bin/ folder, set by the build from the
// install directories it uses.
#ifndef FLICKBOOK_DATA_FROM_BIN
#define FLICKBOOK_DATA_FROM_BIN "../share/flickbook"
#endif

namespace fb {

std::string installDirFor(const std::string& executable) {
  if (executable.empty() || executable[0] != '/') return {};
  // Lexical ".." is safe here: the executable's path has no links left.
  std::filesystem::path dir =
      (std::filesystem::path(fileops::directoryOf(executable)) / FLICKBOOK_DATA_FROM_BIN)
          .lexically_normal();
  std::string s = dir.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return fileops::isDirectory(s) ? s : std::string();
}

std::string installDir() {
  std::string exe(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
  if (n <= 0 || static_cast<size_t>(n) >= exe.size()) return {};
  exe.resize(static_cast<size_t>(n));
  return installDirFor(exe);
}

std::string installPath(const std::string& relative) {
  std::string dir = installDir();
  if (dir.empty()) return {};
  std::string path = dir + "/" + relative;
  // stat, not lstat: a link to nothing is no file.
  return fileops::isRegularFile(path) || fileops::isDirectory(path) ? path : std::string();
}

}  // namespace fb
