#include "base/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_ops.h"

namespace fb {

bool ByteSource::readSlow(uint8_t* dst, size_t n) {
  while (n > 0) {
    size_t avail = static_cast<size_t>(end_ - cur_);
    if (avail == 0) {
      if (!refill()) return false;
      continue;
    }
    size_t take = avail < n ? avail : n;
    std::memcpy(dst, cur_, take);
    cur_ += take;
    dst += take;
    n -= take;
  }
  return true;
}

MemorySource::MemorySource(const void* data, size_t size) : size_(size) {
  buffer_ = cur_ = static_cast<const uint8_t*>(data);
  end_ = buffer_ + size;
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileSource::open(const std::string& path) {
  fd_ = fileops::openForReading(path);
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = st.st_size;
  storage_.resize(1 << 16);
  return true;
}

bool FileSource::fill() {
  if (fd_ < 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, storage_.data(), storage_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed_ = true;
    if (n <= 0) return false;
    buffer_ = cur_ = storage_.data();
    end_ = buffer_ + n;
    return true;
  }
}

}  // namespace fb
