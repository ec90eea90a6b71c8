// The editing operations on hostile documents: a GIF is read, then turned,
// mirrored, cropped, resized, played back and forth, its palette merged and a
// frame filled, as the first bytes choose, each as one undo step; the result
// must composite and write, and undoing every step must give back the bytes
// the document wrote before. The whole input is also parsed as a timing file.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "document/history.h"
#include "formats/timing_file.h"
#include "fuzz_common.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/edits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fbfuzz::quiet();
  std::vector<uint32_t> delays;
  fb::parseTiming(std::string_view(reinterpret_cast<const char*>(data), size),
                  static_cast<int>(size % 7), delays);
  if (size < 12) return 0;
  // Two bytes choose the operations and their sizes; the rest is the file.
  const uint8_t op = data[0], w = data[1];
  const uint8_t h = static_cast<uint8_t>(w * 7 + 3), at = static_cast<uint8_t>(w * 13);
  fb::MemorySource src(data + 2, size - 2);
  if (!fb::isGifSignature(src)) return 0;
  std::unique_ptr<fb::Animation> a;
  if (fb::readGif(src, nullptr, a) == fb::kReadFailed) return 0;
  // Keep each run small: the fuzzer wants many of them.
  if (static_cast<int64_t>(a->width) * a->height > (1 << 18) || a->frameCount() > 32) return 0;
  for (const fb::Frame* f = fb::firstFrame(*a); f; f = fb::nextFrame(f))
    if (static_cast<int64_t>(f->width) * f->height > (1 << 18)) return 0;
  // Every operation as the editor runs it: one undo step each. Taking them
  // all back must give the very document that was read.
  std::vector<uint8_t> before;
  fb::ByteSink original(&before);
  if (fb::writeGifStream(original, *a, nullptr) != fb::kWriteDone) __builtin_trap();
  fb::History history(64);
  auto run = [&](const fb::Edit& e) { fb::runEdit(*a, history, e, 0, nullptr); };
  const auto rotation = static_cast<fb::Rotation>(op % 3);
  if (op & 0x04) run(fb::rotateAnimationEdit(rotation));
  if (op & 0x08)
    run(fb::flipAnimationEdit(op & 0x80 ? fb::FlipAxis::Vertical : fb::FlipAxis::Horizontal));
  if (op & 0x10) run(fb::cropAnimationEdit(fb::Rect{at % 8, at / 32, w % 64 + 1, h % 64 + 1}));
  if (op & 0x20) {
    fb::ResizeOptions o;
    if (op & 0x80) o.filter = fb::ResizeFilter::Bicubic;
    run(fb::resizeAnimationEdit(w % 96 + 1, h % 96 + 1, o));
    run(fb::resizeFramesEdit({0, at % 4}, h % 32 + 1, w % 32 + 1, o));
  }
  if (op & 0x40) {
    run(fb::rotateFramesEdit({0, 1}, rotation));
    run(fb::pingPongEdit());
    run(fb::mergeDuplicateColoursEdit(fb::PaletteTarget::global()));
    run(fb::floodFillEdit(0, fb::Point{at % 4, w % 4}, h));
  }
  fbfuzz::composite(*a);
  std::vector<uint8_t> out;
  fb::ByteSink sink(&out);
  if (fb::writeGifStream(sink, *a, nullptr) != fb::kWriteDone) __builtin_trap();
  int current = 0;
  while (history.undo(*a, current)) {
  }
  std::vector<uint8_t> after;
  fb::ByteSink undone(&after);
  if (fb::writeGifStream(undone, *a, nullptr) != fb::kWriteDone || after != before)
    __builtin_trap();
  return 0;
}
