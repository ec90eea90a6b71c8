// Decoding speed: this reader against giflib (DGifSlurp) on the same files, in
// memory, each keeping every frame and freeing it all afterwards.
//   build/bench/gif_decode [--runs N] [FILE...]   (default: tests/data/gif-real)
// The two decoders take turns, N rounds of at least 50 ms each; the best round
// of each counts, in processor time of the thread (the machine is shared) with
// wall time beside it. The last line is
//   decode-vs-giflib GEOMEAN MIN
// (giflib's time over ours: the geometric mean over the files and the lowest).
#include <gif_lib.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "base/reporter.h"
#include "gif/gif_reader.h"

namespace {

std::vector<uint8_t> load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

double seconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Mem {
  const std::vector<uint8_t>* bytes;
  size_t pos;
};

int readMem(GifFileType* gif, GifByteType* dst, int n) {
  auto* m = static_cast<Mem*>(gif->UserData);
  size_t take = std::min(m->bytes->size() - m->pos, static_cast<size_t>(n));
  std::memcpy(dst, m->bytes->data() + m->pos, take);
  m->pos += take;
  return static_cast<int>(take);
}

// Frames read, or -1 when the file did not read.
int ours(const std::vector<uint8_t>& bytes) {
  fb::MemorySource src(bytes.data(), bytes.size());
  if (!fb::isGifSignature(src)) return -1;
  std::unique_ptr<fb::Animation> a;
  if (fb::readGif(src, nullptr, a) == fb::kReadFailed || !a) return -1;
  return a->frameCount();
}

int giflib(const std::vector<uint8_t>& bytes) {
  Mem m{&bytes, 0};
  int err = 0;
  GifFileType* gif = DGifOpen(&m, readMem, &err);
  if (!gif) return -1;
  int frames = DGifSlurp(gif) == GIF_OK ? gif->ImageCount : -1;
  DGifCloseFile(gif, &err);
  return frames;
}

struct Timing {
  double cpu = 1e30, wall = 1e30;  // best seconds per decode
};

// One round: decodes until 50 ms of processor time have passed.
void round(const std::function<int()>& decode, Timing& best) {
  double c0 = seconds(CLOCK_THREAD_CPUTIME_ID), w0 = seconds(CLOCK_MONOTONIC);
  int n = 0;
  double c1;
  do {
    decode();
    ++n;
    c1 = seconds(CLOCK_THREAD_CPUTIME_ID);
  } while (c1 - c0 < 0.05);
  double w1 = seconds(CLOCK_MONOTONIC);
  best.cpu = std::min(best.cpu, (c1 - c0) / n);
  best.wall = std::min(best.wall, (w1 - w0) / n);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    for (auto& e : std::filesystem::directory_iterator(std::string(FB_TEST_DATA) + "/gif-real"))
      if (e.path().extension() == ".gif") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
  }
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);

  std::printf("%-30s %7s %10s %10s %10s %10s %7s\n", "file", "frames", "ours ms", "giflib ms",
              "ours wall", "gif wall", "ratio");
  double logSum = 0, lowest = 1e30;
  int counted = 0;
  for (const auto& path : files) {
    const auto bytes = load(path);
    int frames = ours(bytes), theirs = giflib(bytes);
    std::string name = std::filesystem::path(path).stem().string();
    if (frames < 0 || theirs < 0) {
      std::printf("%-30s not read (ours %d, giflib %d)\n", name.c_str(), frames, theirs);
      continue;
    }
    Timing a, b;
    for (int r = 0; r < runs; ++r) {
      round([&] { return ours(bytes); }, a);
      round([&] { return giflib(bytes); }, b);
    }
    double ratio = b.cpu / a.cpu;
    std::printf("%-30s %7d %10.3f %10.3f %10.3f %10.3f %7.2f\n", name.c_str(), frames,
                a.cpu * 1e3, b.cpu * 1e3, a.wall * 1e3, b.wall * 1e3, ratio);
    logSum += std::log(ratio);
    lowest = std::min(lowest, ratio);
    ++counted;
  }
  if (!counted) return 1;
  std::printf("decode-vs-giflib %.2f %.2f\n", std::exp(logSum / counted), lowest);
  return 0;
}
