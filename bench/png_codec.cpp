// Animated PNG speed: our reader and writer (libpng per frame, with our chunk
// layer around it) against plain libpng (its simplified API) coding the same
// frames as separate PNGs, in memory. The ratio is the cost of the animation
// layer and of building frames.
//   build/bench/png_codec [--benchmark_filter=...]
// Reports megapixels per second (frame pixels).
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/png_reader.h"
#include "formats/png_writer.h"
#include "base/byte_source.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "base/reporter.h"

namespace {

struct Sample {
  std::unique_ptr<fb::Animation> doc;        // frames to write
  std::vector<uint8_t> apng;                 // our animated PNG of them
  std::vector<std::vector<uint8_t>> frames;  // each frame's RGBA
  std::vector<std::vector<uint8_t>> pngs;    // each frame as a PNG of its own (libpng)
  std::vector<std::pair<int, int>> sizes;
  int64_t pixels = 0;
};

std::vector<uint8_t> rgbaOf(const fb::Frame& f) {
  std::vector<uint8_t> out(size_t(f.width) * f.height * 4);
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint8_t* c = f.rgb.data() + size_t(y) * fb::stride24(f.width) + 3 * x;
      uint8_t* o = out.data() + (size_t(y) * f.width + x) * 4;
      std::memcpy(o, c, 3);
      o[3] = f.alpha.empty() ? 255 : f.alpha[size_t(y) * fb::stride8(f.width) + x];
    }
  return out;
}

// A true-colour animation made from one of the test GIFs.
Sample& sample(const std::string& name) {
  static std::map<std::string, Sample> cache;
  Sample& s = cache[name];
  if (s.doc) return s;
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  fb::FileSource src;
  src.open(std::string(FB_TEST_DATA) + "/gif-real/" + name);
  fb::isGifSignature(src);
  std::unique_ptr<fb::Animation> gif;
  fb::readGif(src, nullptr, gif);
  s.doc = fb::trueColourCopy(*gif, nullptr);
  fb::ByteSink sink(&s.apng);
  fb::WriteApngFile("", *s.doc, nullptr, &sink);
  for (fb::Frame* f = fb::firstFrame(*s.doc); f; f = fb::nextFrame(f)) {
    s.frames.push_back(rgbaOf(*f));
    s.sizes.emplace_back(f->width, f->height);
    // The same encoder as the animation's frames, so both sides decode alike data.
    std::vector<uint8_t> png;
    fb::ByteSink frameSink(&png);
    fb::WritePngFrame("", *f, nullptr, &frameSink);
    s.pngs.push_back(std::move(png));
    s.pixels += int64_t(f->width) * f->height;
  }
  return s;
}

void ReadOurs(benchmark::State& state, const std::string& name) {
  Sample& s = sample(name);
  for (auto _ : state) {
    fb::MemorySource src(s.apng.data() + 8, s.apng.size() - 8);
    std::unique_ptr<fb::Animation> a;
    fb::ReadPngStream(src, nullptr, a);
    benchmark::DoNotOptimize(a.get());
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(s.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = double(s.apng.size());
}

void ReadLibpng(benchmark::State& state, const std::string& name) {
  Sample& s = sample(name);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    for (const auto& png : s.pngs) {
      png_image image{};
      image.version = PNG_IMAGE_VERSION;
      png_image_begin_read_from_memory(&image, png.data(), png.size());
      image.format = PNG_FORMAT_RGBA;
      out.resize(PNG_IMAGE_SIZE(image));
      png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
      benchmark::DoNotOptimize(out.data());
    }
  }
  size_t bytes = 0;
  for (const auto& png : s.pngs) bytes += png.size();
  state.counters["MP/s"] =
      benchmark::Counter(double(s.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = double(bytes);
}

void WriteOurs(benchmark::State& state, const std::string& name) {
  Sample& s = sample(name);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    out.clear();
    fb::ByteSink sink(&out);
    fb::WriteApngFile("", *s.doc, nullptr, &sink);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(s.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void WriteLibpng(benchmark::State& state, const std::string& name) {
  Sample& s = sample(name);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    for (size_t i = 0; i < s.frames.size(); ++i) {
      png_image image{};
      image.version = PNG_IMAGE_VERSION;
      image.width = png_uint_32(s.sizes[i].first);
      image.height = png_uint_32(s.sizes[i].second);
      image.format = PNG_FORMAT_RGBA;
      out.resize(s.pngs[i].size() * 2 + 4096);
      png_alloc_size_t size = out.size();
      png_image_write_to_memory(&image, out.data(), &size, 0, s.frames[i].data(), 0, nullptr);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(s.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

#define FILES(fn)                                                                \
  BENCHMARK_CAPTURE(fn, life_im_coalesced, std::string("life-im-coalesced.gif")) \
      ->Unit(benchmark::kMillisecond);                                           \
  BENCHMARK_CAPTURE(fn, mandelbrot_ffmpeg, std::string("mandelbrot-ffmpeg.gif")) \
      ->Unit(benchmark::kMillisecond);

FILES(ReadOurs)
FILES(ReadLibpng)
FILES(WriteOurs)
FILES(WriteLibpng)

BENCHMARK_MAIN();
