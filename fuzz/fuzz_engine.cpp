// The whole engine on hostile documents: a GIF is read, then optimized with
// options taken from the input, reduced in colours, unoptimized, and written
// (to memory) again; the result must read back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_common.h"
#include "base/byte_source.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/optimizer.h"
#include "imaging/reduce.h"
#include "imaging/unoptimize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fbfuzz::quiet();
  if (size < 8) return 0;
  // The first two bytes choose the operations; the rest is the file.
  uint32_t options =
      static_cast<uint32_t>(data[0] | (data[1] << 8)) & (0x47E | fb::opt::SmallestEncoding);
  bool unopt = data[0] & 1;
  const int lossy = data[0] & 0x80 ? 40 : 0;
  fb::MemorySource src(data + 2, size - 2);
  if (!fb::isGifSignature(src)) return 0;
  std::unique_ptr<fb::Animation> a;
  if (fb::readGif(src, nullptr, a) == fb::kReadFailed) return 0;
  // Keep each run small: the fuzzer wants many of them.
  if (static_cast<int64_t>(a->width) * a->height > (1 << 20) || a->frameCount() > 64) return 0;
  if (unopt) fb::unoptimize(*a, nullptr);
  fb::OptimizeJob job;
  job.document = a.get();
  job.options = options;
  job.lossy = lossy;
  fb::runOptimizeJob(job);
  if (data[1] & 0x80) fb::reducePalettes(*a, 2 + (data[1] & 0x3F), data[1] & 0x40, {}, nullptr);
  fbfuzz::composite(*a);
  std::vector<uint8_t> out;
  fb::ByteSink sink(&out);
  if (fb::writeGifStream(sink, *a, nullptr) != fb::kWriteDone) __builtin_trap();
  fb::MemorySource back(out.data(), out.size());
  std::unique_ptr<fb::Animation> b;
  if (!fb::isGifSignature(back)) __builtin_trap();
  if (fb::readGif(back, nullptr, b) == fb::kReadFailed && a->frameCount() > 0) __builtin_trap();
  return 0;
}
