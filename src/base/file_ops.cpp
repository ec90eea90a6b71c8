#include "base/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <random>

namespace fb::fileops {
namespace {

std::mutex g_hookMu;
FaultHook g_hook;

bool injected(Op op, const std::string& path) {
  FaultHook hook;
  {
    std::lock_guard lock(g_hookMu);
    hook = g_hook;
  }
  if (hook && hook(op, path)) {
    errno = (op == Op::Write || op == Op::Flush || op == Op::Close) ? ENOSPC : EIO;
    return true;
  }
  return false;
}

constexpr size_t kBufferSize = 1 << 16;

}  // namespace

void setFaultHook(FaultHook hook) {
  std::lock_guard lock(g_hookMu);
  g_hook = std::move(hook);
}

WriteFile::~WriteFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool WriteFile::create(const std::string& path, bool exclusive) {
  if (fd_ >= 0) close();
  path_ = path;
  written_ = 0;
  failed_ = false;
  buffer_.clear();
  if (injected(Op::Create, path)) return false;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  fd_ = ::open(path.c_str(), flags, 0666);
  return fd_ >= 0;
}

bool WriteFile::createUnique(std::string& pathTemplate, int suffixLength, unsigned mode) {
  if (fd_ >= 0) close();
  written_ = 0;
  failed_ = false;
  buffer_.clear();
  const size_t end = pathTemplate.size() -
                     std::min<size_t>(pathTemplate.size(), static_cast<size_t>(suffixLength));
  if (end < 6 || pathTemplate.compare(end - 6, 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return false;
  }
  // Nothing may fail once the file exists (no one would remove it), and
  // nothing is thrown (callers hold signals blocked meanwhile): names are
  // made before the file, and short of memory this fails with ENOMEM.
  try {
    if (injected(Op::Create, pathTemplate)) return false;
    // The umask is applied by the system: the mode needs no process-wide
    // setting that other threads would see.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = pathTemplate;
      name.replace(end - 6, 6, randomName(6));
      path_ = name;
      fd_ =
          ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
      if (fd_ >= 0) {
        pathTemplate.swap(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  }
  return false;
}

bool WriteFile::flushBuffer() {
  if (buffer_.empty()) return true;
  if (injected(Op::Write, path_)) {
    failed_ = true;
    return false;
  }
  const char* p = buffer_.data();
  size_t left = buffer_.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  buffer_.clear();
  return true;
}

bool WriteFile::write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  written_ += static_cast<int64_t>(size);
  if (buffer_.size() + size > kBufferSize) {
    if (!flushBuffer()) return false;
    if (size >= kBufferSize) {
      buffer_.assign(static_cast<const char*>(data), size);
      return flushBuffer();
    }
  }
  buffer_.append(static_cast<const char*>(data), size);
  return true;
}

bool WriteFile::writeAt(int64_t offset, const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  if (offset < 0 || offset + static_cast<int64_t>(size) > written_) return false;
  if (!flushBuffer()) return false;
  if (injected(Op::Write, path_)) {
    failed_ = true;
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return false;
    }
    p += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteFile::sync() {
  if (fd_ < 0 || failed_) return false;
  if (!flushBuffer()) return false;
  if (injected(Op::Flush, path_) || ::fsync(fd_) != 0) {
    failed_ = true;
    return false;
  }
  return true;
}

bool WriteFile::close() {
  if (fd_ < 0) return false;
  bool ok = !failed_ && flushBuffer();
  if (injected(Op::Close, path_)) ok = false;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  return ok;
}

bool renameFile(const std::string& from, const std::string& to) {
  if (injected(Op::Rename, to)) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool linkFile(const std::string& from, const std::string& to) {
  if (injected(Op::Link, to)) return false;
  return ::link(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) {
  if (injected(Op::Remove, path)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool syncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

void copyPermissions(const std::string& path, const std::string& like) {
  struct stat st;
  if (::stat(like.c_str(), &st) == 0) ::chmod(path.c_str(), st.st_mode & 07777);
}

std::string randomName(int length) {
  static std::mutex mu;
  static std::mt19937_64 rng(std::random_device{}() ^ (static_cast<uint64_t>(::getpid()) << 32) ^
                             static_cast<uint64_t>(::time(nullptr)));
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s(static_cast<size_t>(std::max(0, length)), 'x');
  std::lock_guard lock(mu);
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stemOf(const std::string& path) {
  std::string base = baseName(path);
  auto dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectories(const std::string& dir) {
  if (dir.empty() || isDirectory(dir)) return true;
  std::string parent = directoryOf(dir);
  if (parent != dir && parent != "." && parent != "/" && !makeDirectories(parent)) return false;
  return ::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST;
}

int openForReading(const std::string& path) {
  auto refuse = [](const struct stat& st) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  };
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return refuse(st);
  // Opened without waiting, in case it was swapped for a pipe meanwhile.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = e;
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool openableForWriting(const std::string& path) {
  // Neither created nor truncated: only asked.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool readWholeFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = openForReading(path);
  if (fd < 0) return false;
  char buf[1 << 16];
  bool ok = true;
  int error = 0;
  try {
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        error = errno;
        ok = false;
        break;
      }
      if (n == 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    // Told like any other failure to read, and the file is closed all the same.
    error = ENOMEM;
    ok = false;
  }
  ::close(fd);
  if (!ok) {
    std::string().swap(out);
    errno = error;
  }
  return ok;
}

std::string resolvedPath(const std::string& path) {
  // Freed whatever happens, the copy running out of memory included.
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return path;
  return std::string(real.get());
}

}  // namespace fb::fileops
