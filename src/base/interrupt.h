// Files a save has made and not yet put in place, removed when the program is
// interrupted (Ctrl-C, or a polite kill) so that nothing is left behind and
// the target stays as it was. The registry is read from a signal handler:
// registering takes no lock and the handler only calls unlink, rename and
// _exit.
#pragma once

#include <string>

namespace fb {

// While it lives, `path` is one of the save's own files: on an interrupt it is
// removed (or, for a target moved aside, moved back to `restoreTo`).
class LiveTemporary {
 public:
  LiveTemporary() = default;
  explicit LiveTemporary(const std::string& path, const std::string& restoreTo = std::string());
  ~LiveTemporary();
  LiveTemporary(const LiveTemporary&) = delete;
  LiveTemporary& operator=(const LiveTemporary&) = delete;

  void track(const std::string& path, const std::string& restoreTo = std::string());
  // The file is no longer the save's to remove (renamed into place, or gone).
  void release();

 private:
  int slot_ = -1;
};

// Creates a new file from `pathTemplate` (as fileops::WriteFile::createUnique,
// which fills in the name) with `mode`, closed again, and makes it `live`'s.
// Interrupts wait meanwhile, so that the file is never made and then missed.
// False when it cannot be created.
bool createLiveTemporary(std::string& pathTemplate, int suffixLength, unsigned mode,
                         LiveTemporary& live);

// Creates a new folder from `pathTemplate` (ending in XXXXXX, as mkdtemp) and
// makes it `live`'s: an interrupt removes it once the live files in it are
// gone. False when it cannot be created.
bool createLiveFolder(std::string& pathTemplate, LiveTemporary& live);

// Batch mode: SIGINT and SIGTERM remove every live temporary file and end the
// program with the usual status, 128 + the signal's number.
void cleanUpOnInterrupt();

}  // namespace fb
