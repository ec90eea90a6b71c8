// No slow corners: every combination of the optimizer's options against the
// stored default (0x46E) on every GIF of the test data, in the same run.
//   build/bench/optimize_options [--runs N] [--all] [FILE...]
// Times one optimization in place (on a fresh copy each time; the copy is not
// timed), the best of N runs (at least 3, and more until 20 ms were spent), in
// processor time of every thread: on a machine others share, wall-clock time
// says more about them than about the options.
// Prints, per file, the default's time and the slowest combination of the
// option bits with its ratio (with --all, every combination's time too), and
// apart from those the slowest with lossy LZW (strength 40) added, an extra
// pass that trades pictures for bytes; then the slowest ratio of the
// combinations without the smallest encoding (0x1000, which runs a second code
// table beside the first); last the slowest ratio of all option combinations:
//   optimize-options-slowest-vs-default RATIO
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

double secondsFor(const Animation& original, const Options& o, int runs) {
  double best = 1e30, spent = 0;
  for (int i = 0; i < runs || spent < 0.02; ++i) {
    auto copy = duplicateAnimation(original, nullptr);
    OptimizeJob job;
    job.document = copy.get();
    job.options = o.word;
    job.lossy = o.lossy;
    const std::clock_t c0 = std::clock();
    runOptimizeJob(job);
    double s = double(std::clock() - c0) / CLOCKS_PER_SEC;
    best = std::min(best, s);
    spent += s;
    if (i > 1000) break;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  bool every = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--all"))
      every = true;
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
  const auto all = combinations();
  const Options byDefault{0x46E, 0};
  double worst = 0, worstLossy = 0, worstStandard = 0;
  std::printf("%-36s %10s %10s %8s %6s %10s %8s %6s\n", "file", "default ms", "slowest ms",
              "options", "ratio", "lossy ms", "options", "ratio");
  for (const auto& path : files) {
    auto a = load(path);
    if (!a || a->frameCount() == 0) continue;
    double base = secondsFor(*a, byDefault, runs);
    double slowest = 0, slowestLossy = 0, slowestStandard = 0;
    Options which{}, whichLossy{};
    for (const auto& o : all) {
      double s = secondsFor(*a, o, runs);
      if (every)
        std::printf("  0x%04X lossy %2d %10.3f %6.2f\n", o.word, o.lossy, s * 1e3, s / base);
      if (!o.lossy && !(o.word & opt::SmallestEncoding))
        slowestStandard = std::max(slowestStandard, s);
      double& top = o.lossy ? slowestLossy : slowest;
      if (s > top) {
        top = s;
        (o.lossy ? whichLossy : which) = o;
      }
    }
    worst = std::max(worst, slowest / base);
    worstLossy = std::max(worstLossy, slowestLossy / base);
    worstStandard = std::max(worstStandard, slowestStandard / base);
    std::printf("%-36s %10.3f %10.3f %8X %6.2f %10.3f %8X %6.2f\n",
                std::filesystem::path(path).filename().string().c_str(), base * 1e3, slowest * 1e3,
                which.word, slowest / base, slowestLossy * 1e3, whichLossy.word,
                slowestLossy / base);
    std::fflush(stdout);
  }
  std::printf("with lossy LZW, the slowest against the default: %.2f\n", worstLossy);
  std::printf("without the smallest encoding, the slowest against the default: %.2f\n",
              worstStandard);
  std::printf("optimize-options-slowest-vs-default %.2f\n", worst);
  return 0;
}
