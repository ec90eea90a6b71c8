// The file layer every save goes through. Tests can make any step fail
// (a full disk, a failed rename) through a fault injector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fb::fileops {

enum class Op { Create, Write, Flush, Close, Rename, Link, Remove };

// Returns true when the operation on `path` must fail (errno is set to `error`).
using FaultHook = std::function<bool(Op op, const std::string& path)>;
void setFaultHook(FaultHook hook);  // empty hook: no faults

// A file opened for writing. Closing is explicit so that its failure is seen.
class WriteFile {
 public:
  WriteFile() = default;
  ~WriteFile();
  WriteFile(const WriteFile&) = delete;
  WriteFile& operator=(const WriteFile&) = delete;

  // Creates or truncates `path`; with `exclusive` the file must not exist yet.
  bool create(const std::string& path, bool exclusive = false);
  // Creates a new file whose name is the template with its "XXXXXX" (before
  // the last `suffixLength` characters) made unique, with `mode` less the
  // umask: by default what any new file gets; 0600 for a copy of a file that
  // exists, until it takes that file's permissions. Safe on several threads.
  bool createUnique(std::string& pathTemplate, int suffixLength = 0, unsigned mode = 0666);
  bool write(const void* data, size_t size);
  // Overwrites bytes already written (headers whose sizes are known only at
  // the end). The range must lie within what has been written.
  bool writeAt(int64_t offset, const void* data, size_t size);
  bool sync();  // fsync
  bool close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  int64_t written() const { return written_; }

 private:
  bool flushBuffer();
  int fd_ = -1;
  std::string path_;
  int64_t written_ = 0;
  bool failed_ = false;
  std::string buffer_;
};

bool renameFile(const std::string& from, const std::string& to);
// A second name for an existing file (fails when `to` exists).
bool linkFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
bool syncDirectory(const std::string& dir);
// Gives `path` the permissions of `like` when that exists (a new file already
// has those of any new file). Never touches the process's umask.
void copyPermissions(const std::string& path, const std::string& like);
// `length` random letters and digits, for names no one else is using; safe on
// several threads at once.
std::string randomName(int length = 6);

// Small helpers over paths ('/' separated).
std::string directoryOf(const std::string& path);  // without the trailing '/', "." when none
std::string baseName(const std::string& path);      // after the last '/'
bool exists(const std::string& path);
bool isRegularFile(const std::string& path);
bool isDirectory(const std::string& path);
bool makeDirectories(const std::string& dir);
// The whole file into `out`. False when it cannot be opened or read, or
// memory runs out (errno ENOMEM); nothing is thrown and the file is closed.
bool readWholeFile(const std::string& path, std::string& out);
// A descriptor for reading `path`, or -1. Anything but a regular file (a named
// pipe, a device, a folder) is refused without being opened, so that nothing
// waits for a writer that never comes (errno EINVAL, or EISDIR for a folder).
int openForReading(const std::string& path);
// Whether `path` (an existing file) could be opened for writing by this
// process: a file the user may not write is not replaced behind its back.
bool openableForWriting(const std::string& path);
// The path with symbolic links resolved; the path itself when it cannot be.
std::string resolvedPath(const std::string& path);

}  // namespace fb::fileops
