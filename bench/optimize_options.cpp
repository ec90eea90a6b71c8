// No slow corners: every combination of the optimizer's options against the
// stored default (0x46E) on every GIF of the test data, in the same run.
//   build/bench/optimize_options [--runs N] [--cap SECONDS] [--all] [--only WORD] [FILE...]
// Times optimizations in place on fresh copies (copying is not timed), in
// processor time of every thread: on a machine others share, wall-clock time
// says more about them than about the options. A small file is optimized
// many times in one timed batch (as many copies as make the default's batch
// last a few milliseconds, the same number for every combination), so that
// its times are not the clock's resolution; the best of N batches (3) counts.
// A file whose combinations have taken more than the cap (60 s) has the rest
// timed with one batch each.
// Prints, per file, the default's time and the slowest combination of the
// option bits with its ratio (with --all, every combination's time too), and
// apart from those the slowest with lossy LZW (strength 40) added; then the
// slowest ratio without lossy LZW, and last the slowest ratio of all the
// combinations, lossy ones included, with its file and options:
//   optimize-options-worst RATIO FILE OPTIONS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "base/reporter.h"
#include "gif/gif_reader.h"
#include "imaging/optimizer.h"

using namespace fb;

namespace {

struct Options {
  uint32_t word;
  int lossy;
};

std::vector<Options> combinations() {
  const uint32_t framePass[] = {0, 0x002, 0x006, 0x042, 0x046};
  const uint32_t localPalettes[] = {0, 0x008, 0x018, 0x408};
  std::vector<Options> out;
  for (uint32_t f : framePass)
    for (uint32_t l : localPalettes)
      for (uint32_t shrink : {0u, 0x020u})
        for (uint32_t smallest : {0u, opt::SmallestEncoding})
          for (int lossy : {0, 40}) out.push_back({f | l | shrink | smallest, lossy});
  return out;
}

std::unique_ptr<Animation> load(const std::string& path) {
  std::unique_ptr<Animation> a;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return a;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  MemorySource src(bytes.data(), bytes.size());
  if (!isGifSignature(src) || readGif(src, nullptr, a) != kReadComplete) a.reset();
  return a;
}

std::string describe(const Options& o) {
  char text[48];
  std::snprintf(text, sizeof text, o.lossy ? "0x%04X+lossy%d" : "0x%04X", o.word, o.lossy);
  return text;
}

// Processor seconds of one optimization with `o`: the best of `runs` batches
// of `batch` optimizations each, divided by `batch`.
double secondsFor(const Animation& original, const Options& o, int runs, int batch) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    std::vector<std::unique_ptr<Animation>> copies;
    for (int k = 0; k < batch; ++k) copies.push_back(duplicateAnimation(original, nullptr));
    std::vector<OptimizeJob> jobs(static_cast<size_t>(batch));
    for (int k = 0; k < batch; ++k) {
      jobs[size_t(k)].document = copies[size_t(k)].get();
      jobs[size_t(k)].options = o.word;
      jobs[size_t(k)].lossy = o.lossy;
    }
    const std::clock_t c0 = std::clock();
    for (auto& job : jobs) runOptimizeJob(job);
    best = std::min(best, double(std::clock() - c0) / CLOCKS_PER_SEC / batch);
  }
  return best;
}

// Optimizations per batch: enough for the default to take about 2 ms.
int batchFor(const Animation& a) {
  const double once = secondsFor(a, Options{0x46E, 0}, 3, 1);
  return std::clamp(static_cast<int>(0.002 / std::max(once, 1e-7)), 1, 1000);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  double cap = 60;
  bool every = false;
  long only = -1;  // one option word (with and without lossy LZW), for profiling
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--cap") && i + 1 < argc)
      cap = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--all"))
      every = true;
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = std::strtoul(argv[++i], nullptr, 16);
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) {
    for (const char* dir : {"gif-real", "gif-suite"})
      for (auto& e : std::filesystem::directory_iterator(std::string(FB_TEST_DATA) + "/" + dir))
        if (e.path().extension() == ".gif") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
  }
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  auto all = combinations();
  if (only >= 0)
    all = {Options{static_cast<uint32_t>(only), 0}, Options{static_cast<uint32_t>(only), 40}};
  const Options byDefault{0x46E, 0};
  double worst = 0, worstLossless = 0;
  std::string worstFile, worstOptions;
  std::printf("%-36s %5s %10s %10s %8s %6s %10s %8s %6s\n", "file", "batch", "default ms",
              "slowest ms", "options", "ratio", "lossy ms", "options", "ratio");
  for (const auto& path : files) {
    auto a = load(path);
    if (!a || a->frameCount() == 0) continue;
    const std::string name = std::filesystem::path(path).filename().string();
    const int batch = batchFor(*a);
    const auto started = std::chrono::steady_clock::now();
    const double base = secondsFor(*a, byDefault, runs, batch);
    double slowest = 0, slowestLossy = 0;
    Options which{}, whichLossy{};
    bool capped = false;
    for (const auto& o : all) {
      capped |= std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >
                cap;
      const double s = secondsFor(*a, o, capped ? 1 : runs, batch);
      if (every) std::printf("  %-16s %10.4f %6.2f\n", describe(o).c_str(), s * 1e3, s / base);
      double& top = o.lossy ? slowestLossy : slowest;
      if (s > top) {
        top = s;
        (o.lossy ? whichLossy : which) = o;
      }
    }
    worstLossless = std::max(worstLossless, slowest / base);
    for (const auto& [s, o] : {std::pair{slowest, which}, std::pair{slowestLossy, whichLossy}})
      if (s / base > worst) {
        worst = s / base;
        worstFile = name;
        worstOptions = describe(o);
      }
    std::printf("%-36s %5d %10.4f %10.4f %8X %6.2f %10.4f %8X %6.2f%s\n", name.c_str(), batch,
                base * 1e3, slowest * 1e3, which.word, slowest / base, slowestLossy * 1e3,
                whichLossy.word, slowestLossy / base, capped ? " (capped)" : "");
    std::fflush(stdout);
  }
  std::printf("without lossy LZW, the slowest against the default: %.2f\n", worstLossless);
  std::printf("optimize-options-worst %.2f %s %s\n", worst, worstFile.c_str(),
              worstOptions.c_str());
  return 0;
}
