// Buffered sequential input: files are read in large chunks, never a system
// call per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fb {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads exactly `n` bytes; false when fewer were available (or a read failed).
  bool read(void* dst, size_t n) {
    if (static_cast<size_t>(end_ - cur_) >= n) {
      std::memcpy(dst, cur_, n);
      cur_ += n;
      return true;
    }
    return readSlow(static_cast<uint8_t*>(dst), n);
  }
  // The next byte, or -1 at the end or on a read failure.
  int readByte() {
    if (cur_ < end_) return *cur_++;
    if (!refill()) return -1;
    return *cur_++;
  }
  // Bytes consumed so far.
  int64_t position() const { return base_ + (cur_ - buffer_); }
  // Total size when known, else -1.
  virtual int64_t size() const = 0;
  bool failed() const { return failed_; }

 protected:
  // Makes more bytes available in [buffer_, end_); false at the end.
  virtual bool fill() = 0;
  bool refill() {
    base_ += end_ - buffer_;
    cur_ = end_ = buffer_ = nullptr;
    return fill() && cur_ < end_;
  }
  const uint8_t* buffer_ = nullptr;
  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;
  int64_t base_ = 0;
  bool failed_ = false;

 private:
  bool readSlow(uint8_t* dst, size_t n);
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, size_t size);
  int64_t size() const override { return static_cast<int64_t>(size_); }

 protected:
  bool fill() override { return false; }

 private:
  size_t size_;
};

class FileSource : public ByteSource {
 public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // False for anything but a regular file (never waiting on a pipe or device).
  bool open(const std::string& path);
  int64_t size() const override { return size_; }

 protected:
  bool fill() override;

 private:
  int fd_ = -1;
  int64_t size_ = -1;
  std::vector<uint8_t> storage_;
};

}  // namespace fb
