// The PNG and animated PNG reader on hostile bytes, then the compositor over
// what it kept.
#include <cstddef>
#include <cstdint>

#include "formats/png_reader.h"
#include "fuzz_common.h"
#include "base/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fbfuzz::quiet();
  fb::MemorySource src(data, size);
  std::unique_ptr<fb::Animation> a;
  if (fb::ReadPngStream(src, nullptr, a) == 0 || !a) return 0;
  fbfuzz::composite(*a);
  return 0;
}
