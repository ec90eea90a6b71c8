// What crosses threads: nothing thrown leaves a worker (out of memory there
// becomes the owner's message and result), messages raised on workers reach
// the owner's reporter, workers only read the document, and saves on several
// threads neither collide nor touch the process's umask.
//
// This executable replaces operator new (large allocations on threads other
// than the test's own can be made to fail) and umask (calls are counted), so
// it runs apart from the other suites.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <thread>

#include "base/reporter.h"
#include "base/task_pool.h"
#include "document/player.h"
#include "formats/png_rgba.h"
#include "gif/gif_writer.h"
#include "imaging/optimizer.h"
#include "io/open_save.h"
#include "testutil.h"
#include "timeline.h"

namespace {

std::atomic<bool> g_failWorkerAllocations{false};
std::thread::id g_testThread;
std::atomic<int> g_umaskCalls{0};

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
void* allocate(std::size_t n) {
  if (n >= (256u << 10) && g_failWorkerAllocations.load(std::memory_order_relaxed) &&
      std::this_thread::get_id() != g_testThread)
    throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* allocateOrNull(std::size_t n) noexcept {
  try {
    return allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
}  // namespace
// Every ordinary form, so that nothing allocated here is freed by the
// runtime's own (the sanitizer build tells the two apart).
void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return allocateOrNull(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return allocateOrNull(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

extern "C" mode_t umask(mode_t mask) {
  ++g_umaskCalls;
  return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

using namespace fb;
using fbtest::pictures;
namespace fs = std::filesystem;

namespace {

class Threads : public ::testing::Test {
 protected:
  void SetUp() override { g_testThread = std::this_thread::get_id(); }
  void TearDown() override { g_failWorkerAllocations = false; }
};

// `frames` full frames of w × h in a 256-colour palette; pixels noisy where
// `noisy`, else a few flat colours, with blocks in two far corners that
// change from frame to frame (so what changes spans the whole frame).
std::unique_ptr<Animation> document(int frames, int w, int h, bool noisy) {
  auto a = createAnimation();
  a->width = w;
  a->height = h;
  std::vector<Rgb> pal(256);
  for (int i = 0; i < 256; ++i) pal[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  setGlobalPalette(*a, makePalette(pal.data(), 256));
  std::mt19937 rng(7);
  for (int k = 0; k < frames; ++k) {
    auto f = newBlankFrame(w, h);
    f->delay = 10;
    auto dib = createBitmap(w, h, a->globalPalette.get());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        bool block = (x < 20 && y < 20) || (x >= w - 20 && y >= h - 20);
        dib->row(y)[x] = static_cast<uint8_t>(block   ? 200 + k
                                              : noisy ? rng() % 256
                                                      : (x / 100 + y / 100) % 4);
      }
    setBitmap(*f, std::move(dib));
    appendFrame(*a, std::move(f));
  }
  return a;
}

}  // namespace

TEST_F(Threads, APoolTaskThatThrowsIsToldToTheOwnerAndItsMessagesToo) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::atomic<int> ran{0};
  {
    TaskPool pool(2, 4, reporter());
    pool.submit([] { throw std::bad_alloc(); });
    for (int i = 0; i < 6; ++i)
      pool.submit([&] {
        ++ran;
        showWarning("from a worker");
      });
    pool.drain();
    EXPECT_TRUE(pool.failed());
  }
  EXPECT_EQ(ran.load(), 6);
  EXPECT_EQ(rec.texts(), std::vector<std::string>(6, "from a worker"));
}

TEST_F(Threads, PiecesAreTakenOnceEachAndAFailureStopsTheTaking) {
  std::vector<std::atomic<int>> seen(2000);
  EXPECT_TRUE(forEachPiece(seen.size(), 3, [&](size_t i, bool) {
    ++seen[i];
    return true;
  }));
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& n) { return n.load() == 1; }));

  // A piece that throws (on whichever thread took it) or says stop: the
  // result says so, nothing escapes, and no piece runs twice.
  for (bool throws : {true, false}) {
    for (auto& n : seen) n = 0;
    EXPECT_FALSE(forEachPiece(seen.size(), 3, [&](size_t i, bool) {
      ++seen[i];
      if (i == 700 && throws) throw std::bad_alloc();
      return i != 700;
    }));
    EXPECT_EQ(seen[700].load(), 1);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& n) { return n.load() <= 1; }));
  }
  // Nothing to take.
  EXPECT_TRUE(forEachPiece(0, 3, [](size_t, bool) { return false; }));
}

TEST_F(Threads, ACopyAHelperCouldNotMakeIsFinishedOnTheCallingThread) {
  // Large enough that frames are copied beside this thread, whose own
  // allocations still succeed: the copy is whole (and the optimizer's passes
  // behind it are reached, which the two tests below rely on).
  if (TaskPool::cores() < 2) GTEST_SKIP() << "no helper copies beside this thread on one core";
  auto a = document(24, 600, 480, false);  // each bitmap over 256 KB
  g_failWorkerAllocations = true;
  auto copy = duplicateAnimation(*a, nullptr);
  g_failWorkerAllocations = false;
  ASSERT_TRUE(copy);
  EXPECT_EQ(fbtest::digest(*copy), fbtest::digest(*a));
}

TEST_F(Threads, OutOfMemoryInTransparencyTrialsFailsThePassAndKeepsThePictures) {
  auto a = document(4, 600, 600, false);
  auto before = pictures(*a);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  OptimizeJob job;
  job.document = a.get();
  job.options = 0x006;  // crop, then the transparency trials (on workers: 1.4 M pixels)
  g_failWorkerAllocations = true;
  EXPECT_FALSE(runOptimizeJob(job));
  g_failWorkerAllocations = false;
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Ran out of resources during optimization."});
  EXPECT_EQ(pictures(*a), before);
}

TEST_F(Threads, AResultThatCannotBeCountedIsAFailureAndLeavesTheDocument) {
  // Noisy frames in sixteen colours high in the palette: ordered first, they
  // need fewer bits, so the result is smaller. The size count keeps each
  // frame's encoding (over 256 KB), which fails on the helper counting
  // beside this thread.
  if (TaskPool::cores() < 2) GTEST_SKIP() << "no helper counts beside this thread on one core";
  auto a = createAnimation();
  a->width = a->height = 800;
  std::vector<Rgb> pal(256);
  for (int i = 0; i < 256; ++i) pal[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  setGlobalPalette(*a, makePalette(pal.data(), 256));
  std::mt19937 rng(3);
  for (int k = 0; k < 4; ++k) {
    auto f = newBlankFrame(800, 800);
    f->delay = 10;
    auto dib = createBitmap(800, 800, a->globalPalette.get());
    for (auto& v : dib->data) v = static_cast<uint8_t>(200 + rng() % 16);
    setBitmap(*f, std::move(dib));
    appendFrame(*a, std::move(f));
  }
  auto before = pictures(*a);
  const int32_t size = encodedSize(*a, true, nullptr);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  OptimizeJob job;
  job.document = a.get();
  job.options = opt::ShrinkPalettes | opt::SmallestEncoding;
  job.keepEncoding = true;
  g_failWorkerAllocations = true;
  const bool ok = runOptimizeJob(job);
  g_failWorkerAllocations = false;
  EXPECT_FALSE(ok);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Ran out of resources during optimization."});
  EXPECT_EQ(pictures(*a), before);
  EXPECT_EQ(encodedSize(*a, true, nullptr), size);
}

TEST_F(Threads, OutOfMemoryWhileEncodingFramesAheadIsAFailedWrite) {
  auto a = document(4, 600, 600, true);
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  g_failWorkerAllocations = true;
  EXPECT_EQ(writeGifStream(sink, *a, nullptr), kWriteFailed);
  g_failWorkerAllocations = false;
  out.clear();
  ByteSink again(&out);
  EXPECT_EQ(writeGifStream(again, *a, nullptr), kWriteDone);
}

TEST_F(Threads, TheOptimizerWorkerReportsToItsOwnerAndOnlyReadsTheDocument) {
  auto a = document(3, 600, 600, false);
  a->encodedSize = -1;
  RecordingReporter owner;  // not this thread's reporter: passed in
  OptimizeWorker worker(*a, owner, MergeOptions(), GifWriteOptions());

  g_failWorkerAllocations = true;  // the trial copy cannot be made
  worker.start(0x46E);
  worker.wait();
  g_failWorkerAllocations = false;
  EXPECT_FALSE(worker.job().trialValid);
  EXPECT_EQ(owner.texts(),
            std::vector<std::string>{
                "There is insufficient memory to experiment with optimization settings.\n\nTo "
                "optimize the animation, please choose the settings you desire and hit OK."});

  worker.start(0x46E);
  worker.wait();
  ASSERT_TRUE(worker.job().trialValid);
  EXPECT_EQ(a->encodedSize, -1) << "the worker never writes the document's cache";
  EXPECT_EQ(worker.job().documentSize, countEncodedSize(*a, nullptr));
}

TEST_F(Threads, SavesOnSeveralThreadsKeepTheirNamesAndModesApart) {
  fbtest::TempDir dir;
  auto a = document(2, 20, 10, false);
  mode_t mask = ::umask(0);
  ::umask(mask);
  for (int i = 0; i < 16; i += 2) {
    std::string old = dir.file("out" + std::to_string(i) + ".gif");
    fbtest::writeBytes(old, {'o', 'l', 'd'});
    ::chmod(old.c_str(), 0640);
  }
  g_umaskCalls = 0;
  std::atomic<int> saved{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      RecordingReporter quiet;
      ScopedReporter scope(quiet);
      auto copy = duplicateAnimation(*a, nullptr);
      for (int i = t; i < 16; i += 4)
        if (saveByType(dir.file("out" + std::to_string(i) + ".gif"), *copy, saveopt::WholeAnimation,
                       kTypeGif, nullptr))
          ++saved;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(saved.load(), 16);
  EXPECT_EQ(g_umaskCalls.load(), 0) << "the umask is the whole process's: saves leave it alone";
  int files = 0;
  for (auto& e : fs::directory_iterator(dir.path())) {
    ++files;
    std::string name = e.path().filename().string();
    int i = std::stoi(name.substr(3));
    auto mode = static_cast<mode_t>(fs::status(e.path()).permissions() & fs::perms::all);
    EXPECT_EQ(mode, i % 2 == 0 ? mode_t{0640} : (0666 & ~mask)) << name;
    std::unique_ptr<Animation> back;
    EXPECT_EQ(fbtest::readGifPath(e.path().string(), back), kReadComplete) << name;
  }
  EXPECT_EQ(files, 16) << "no temporary or backup file left";
}
