// Encoding speed and size: this writer against giflib's EGif on the same
// decoded frames, both into memory.
//   build/bench/gif_encode
// Reports megapixels per second and the bytes each produces.
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
#include "gif/gif_writer.h"
#include "base/reporter.h"

namespace {

std::unique_ptr<fb::Animation> load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  fb::MemorySource src(bytes.data(), bytes.size());
  fb::isGifSignature(src);
  std::unique_ptr<fb::Animation> a;
  fb::readGif(src, nullptr, a);
  return a;
}

int64_t pixelsOf(fb::Animation& a) {
  int64_t n = 0;
  for (fb::Frame* f = fb::firstFrame(a); f; f = fb::nextFrame(f))
    n += static_cast<int64_t>(f->width) * f->height;
  return n;
}

void ours(benchmark::State& state, fb::Animation* a) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    out.reserve(1 << 20);
    fb::ByteSink sink(&out);
    fb::writeGifStream(sink, *a, nullptr);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixelsOf(*a)) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(bytes);
}

int writeMem(GifFileType* gif, const GifByteType* data, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

ColorMapObject* colourMap(const fb::Palette* p) {
  if (!p) return nullptr;
  int n = 1 << fb::colourBits(p->count);
  std::vector<GifColorType> c(static_cast<size_t>(n));
  for (int i = 0; i < p->count; ++i) c[static_cast<size_t>(i)] = {(*p)[i].r, (*p)[i].g, (*p)[i].b};
  return GifMakeMapObject(n, c.data());
}

void giflib(benchmark::State& state, fb::Animation* a) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    out.reserve(1 << 20);
    int err = 0;
    GifFileType* gif = EGifOpen(&out, writeMem, &err);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = colourMap(a->globalPalette.get());
    EGifPutScreenDesc(gif, a->width, a->height, 8, a->backgroundIndex, global);
    for (fb::Frame* f = fb::firstFrame(*a); f; f = fb::nextFrame(f)) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = f->disposal();
      gcb.DelayTime = f->delay;
      gcb.TransparentColor = f->transparent() ? f->transparentIndex : NO_TRANSPARENT_COLOR;
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
      ColorMapObject* local = f->localPalette ? colourMap(f->localPalette.get()) : nullptr;
      EGifPutImageDesc(gif, f->left, f->top, f->width, f->height, false, local);
      for (int y = 0; y < f->height; ++y) EGifPutLine(gif, f->dib->row(y), f->width);
      if (local) GifFreeMapObject(local);
    }
    EGifCloseFile(gif, &err);
    if (global) GifFreeMapObject(global);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixelsOf(*a)) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (auto& e : std::filesystem::directory_iterator(std::string(FB_TEST_DATA) + "/gif-real"))
    if (e.path().extension() == ".gif") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  static std::vector<std::unique_ptr<fb::Animation>> docs;
  for (const auto& f : files) {
    docs.push_back(load(f));
    std::string name = std::filesystem::path(f).stem().string();
    benchmark::RegisterBenchmark(("flickbook/" + name).c_str(), ours, docs.back().get())
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("giflib/" + name).c_str(), giflib, docs.back().get())
        ->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
