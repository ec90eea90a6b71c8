// Decoding speed: this reader against giflib on the same files, in memory.
//   build/bench/gif_decode [--benchmark_filter=...]
// Reports megapixels per second (frame pixels decoded) for each file and each decoder.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "gif/gif_reader.h"
#include "base/reporter.h"

namespace {

std::vector<uint8_t> load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Mem {
  const std::vector<uint8_t>* bytes;
  size_t pos;
};

int readMem(GifFileType* gif, GifByteType* dst, int n) {
  auto* m = static_cast<Mem*>(gif->UserData);
  size_t left = m->bytes->size() - m->pos;
  size_t take = std::min(left, static_cast<size_t>(n));
  std::memcpy(dst, m->bytes->data() + m->pos, take);
  m->pos += take;
  return static_cast<int>(take);
}

int64_t framePixels(const std::vector<uint8_t>& bytes) {
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  fb::MemorySource src(bytes.data(), bytes.size());
  fb::isGifSignature(src);
  std::unique_ptr<fb::Animation> a;
  fb::readGif(src, nullptr, a);
  int64_t n = 0;
  if (a)
    for (fb::Frame* f = fb::firstFrame(*a); f; f = fb::nextFrame(f))
      n += static_cast<int64_t>(f->width) * f->height;
  return n;
}

void ours(benchmark::State& state, std::vector<uint8_t> bytes) {
  int64_t pixels = framePixels(bytes);
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  for (auto _ : state) {
    fb::MemorySource src(bytes.data(), bytes.size());
    fb::isGifSignature(src);
    std::unique_ptr<fb::Animation> a;
    benchmark::DoNotOptimize(fb::readGif(src, nullptr, a));
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

void giflib(benchmark::State& state, std::vector<uint8_t> bytes) {
  int64_t pixels = framePixels(bytes);
  for (auto _ : state) {
    Mem m{&bytes, 0};
    int err = 0;
    GifFileType* gif = DGifOpen(&m, readMem, &err);
    if (!gif) {
      state.SkipWithError("giflib cannot open");
      return;
    }
    benchmark::DoNotOptimize(DGifSlurp(gif));
    DGifCloseFile(gif, &err);
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (auto& e : std::filesystem::directory_iterator(std::string(FB_TEST_DATA) + "/gif-real"))
    if (e.path().extension() == ".gif") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    auto bytes = load(f);
    std::string name = std::filesystem::path(f).stem().string();
    benchmark::RegisterBenchmark(("flickbook/" + name).c_str(), ours, bytes)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("giflib/" + name).c_str(), giflib, bytes)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
