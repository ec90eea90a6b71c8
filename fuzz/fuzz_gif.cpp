// The GIF reader on hostile bytes, then the compositor over what it kept.
#include <cstddef>
#include <cstdint>

#include "document/player.h"
#include "fuzz_common.h"
#include "base/byte_source.h"
#include "gif/gif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fbfuzz::quiet();
  fb::MemorySource src(data, size);
  if (!fb::isGifSignature(src)) return 0;
  std::unique_ptr<fb::Animation> a;
  if (fb::readGif(src, nullptr, a) == fb::kReadFailed) return 0;
  fbfuzz::composite(*a);
  return 0;
}
