// The GIF reader on hostile bytes, then the compositor over what it kept.
// Each input is read twice, with its images decoded on the reading thread
// and beside it: the two must agree in result, messages and document.
#include <cstddef>
#include <cstdint>

#include "../tests/testutil.h"
#include "base/byte_source.h"
#include "document/player.h"
#include "fuzz_common.h"
#include "gif/gif_reader.h"

namespace {

int read(const uint8_t* data, size_t size, unsigned threads, std::unique_ptr<fb::Animation>& a) {
  fb::MemorySource src(data, size);
  if (!fb::isGifSignature(src)) return -1;
  fb::GifReadOptions options;
  options.threads = threads;
  return fb::readGif(src, nullptr, a, options);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fb::RecordingReporter& sink = fbfuzz::quiet();
  std::unique_ptr<fb::Animation> a, b;
  const int result = read(data, size, 1, a);
  const auto said = sink.texts();
  if (result < 0) return 0;
  sink.clear();
  const int again = read(data, size, 2, b);
  if (again != result || sink.texts() != said || (a == nullptr) != (b == nullptr) ||
      (a && fbtest::digest(*a) != fbtest::digest(*b)))
    __builtin_trap();
  if (result == fb::kReadFailed) return 0;
  fbfuzz::composite(*a);
  return 0;
}
