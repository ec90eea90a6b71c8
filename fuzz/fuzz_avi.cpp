// The AVI reader (with FFmpeg's demuxer and decoders behind it) on hostile
// bytes, then the palette merge that true-colour frames go through and the
// compositor over what it kept.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/avi.h"
#include "fuzz_common.h"
#include "gif/gif_reader.h"
#include "imaging/palette_merge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fbfuzz::quiet();
  // The reader takes a file: one per process, rewritten for every input.
  static const std::string path = [] {
    char name[] = "/tmp/fuzz-avi-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    return std::string(name);
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::unique_ptr<fb::Animation> a;
  if (fb::ReadAviFile(path, nullptr, a) == fb::kReadFailed) return 0;
  if (fb::mergePalettes(nullptr, *a, 0, nullptr, nullptr) == 1) fbfuzz::composite(*a);
  return 0;
}
