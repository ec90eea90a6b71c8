// Pictures on demand: every picture of a 150-frame 800 × 600 animation in a
// random order, and a 96-pixel thumbnail of every frame, against decoding the
// same file (in memory), in the same run.
//   build/bench/render [--runs N]   (the best of N runs, in CPU time)
// Last line: render-vs-decode R (the pictures' and thumbnails' time ÷ the decoding time).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "base/byte_source.h"
#include "bench_doc.h"
#include "document/pictures.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/optimizer.h"

namespace {

// The thread's own CPU time, so that other work on the machine does not count.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double seconds(const std::function<void()>& work, int runs) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    double t0 = cpuSeconds();
    work();
    best = std::min(best, cpuSeconds() - t0);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  // As people keep animations: optimized, so most frames are small changes.
  auto made = fbbench::movingDiscs(150, 800, 600);
  fb::optimizeInPlace(*made, 0x46E);
  std::vector<uint8_t> file;
  fb::ByteSink sink(&file);
  fb::writeGifStream(sink, *made, nullptr);
  std::printf("file: %zu bytes, %d frames of a 800x600 screen\n", file.size(), made->frameCount());

  std::unique_ptr<fb::Animation> doc;
  double decode = seconds(
      [&] {
        fb::MemorySource src(file.data(), file.size());
        fb::isGifSignature(src);
        fb::readGif(src, nullptr, doc);
      },
      runs);
  std::vector<int> order(static_cast<size_t>(doc->frameCount()));
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  size_t checksum = 0;
  double render = seconds(
      [&] {
        fb::PictureCache cache(*doc);
        fb::PictureCache::View pic;
        for (int n : order) {
          cache.picture(n, pic);
          checksum += pic.pixels[static_cast<size_t>(n) * 4];
        }
        for (fb::Frame* f = fb::firstFrame(*doc); f; f = fb::nextFrame(f))
          checksum += fb::frameThumbnail(*f, 96).pixels.size();
      },
      runs);
  double picturesOnly = seconds(
      [&] {
        fb::PictureCache cache(*doc);
        fb::PictureCache::View pic;
        for (int n : order) cache.picture(n, pic);
      },
      runs);
  std::printf(
      "decode: %.1f ms; every picture in a random order and every thumbnail: %.1f ms "
      "(the pictures alone %.1f ms) (%zu)\n",
      decode * 1e3, render * 1e3, picturesOnly * 1e3, checksum % 10);
  std::printf("render-vs-decode %.2f\n", render / decode);
  return 0;
}
