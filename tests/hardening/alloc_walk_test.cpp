// Every allocation of an edit, of its undo and of its redo, made to fail in
// turn: no exception escapes, and the document is always either as it was or
// as the edit leaves it, with a history that still takes it back exactly.
// The same walk over reading a whole file (it is always closed again) and
// over saving (nothing is left behind) and starting a worker.
#include <dirent.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <thread>

#include "base/file_ops.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "document/history.h"
#include "document/pictures.h"
#include "document/rgba.h"
#include "formats/filmstrip.h"
#include "gif/gif_writer.h"
#include "imaging/edits.h"
#include "imaging/encoding_pass.h"
#include "imaging/optimizer.h"
#include "io/open_save.h"
#include "shell/each.h"
#include "testutil.h"

// The replacements below pair malloc with free; GCC cannot see that through them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
// Allocations on this thread before the one that fails; -1: none fails.
thread_local long t_failIn = -1;

void* allocate(std::size_t n) {
  if (t_failIn >= 0 && t_failIn-- == 0) return nullptr;
  return std::malloc(n ? n : 1);
}
}  // namespace

void* operator new(std::size_t n) {
  if (void* p = allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return allocate(n);
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

using namespace fb;

namespace {

std::unique_ptr<Animation> document() {
  fbtest::GifBuilder b;
  b.header().screen(6, 4, 0x81).colours(4).loop(0);
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> px(24, static_cast<uint8_t>(i));
    px[5] = 3;
    b.gce(i == 2 ? 0x09 : 0x04, 10 + i, 3).descriptor(0, 0, 6, 4).image(2, px);
  }
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(b.trailer().bytes, a);
  frameAt(*a, 1)->selected = 1;
  countSelected(*a);
  return a;
}

// The digest, masks aside: a mask memory could not hold is rebuilt when next needed.
std::string digestOf(Animation& a) {
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    if (f->transparent() && f->dib && !f->mask) f->mask = buildMask(*f->dib, f->transparentIndex);
  return fbtest::digest(a);
}

// Runs `step` with allocation `n` failing; true when the walk is done (it
// did not reach that allocation).
template <class Step>
bool failing(long n, Step step) {
  t_failIn = n;
  step();
  const bool done = t_failIn >= 0;
  t_failIn = -1;
  return done;
}

// The same on a thread of its own: encoders keep their coders per thread, so
// on one thread a walk's runs would not allocate alike (a run that failed
// mid-encoding leaves none for the next), and the walk would end early.
template <class Step>
bool failingOnNewThread(long n, Step step) {
  bool done = false;
  std::thread([&] { done = failing(n, step); }).join();
  return done;
}
std::vector<std::function<Edit()>> everyEdit() {
  return {
      [] {
        return setDelayEdit({0, 2}, 55);
      },
      [] {
        return deleteFramesEdit({1, 3});
      },
      [] { return moveFramesEdit({0}, -1); },
      [] { return reverseEdit(); },
      [] { return thinEdit(2); },
      [] {
        return frameFieldsEdit({0, 1}, [](Frame& f) {
          setTransparent(f, !f.transparent());
          return true;
        });
      },
      [] { return unoptimizeEdit(); },
      [] { return rotateAnimationEdit(Rotation::Clockwise90); },
      [] { return flipFramesEdit({0, 2}, FlipAxis::Horizontal); },
      [] { return cropAnimationEdit(Rect{1, 1, 4, 2}); },
      [] { return moveCropFrameEdit(1, 2, 0, Rect{1, 1, 3, 2}); },
      [] { return resizeAnimationEdit(9, 3, {}); },
      [] { return resizeFramesEdit({1}, 3, 5, {ResizeFilter::Bicubic}); },
      [] { return pingPongEdit(); },
      [] {
        return blendEdit(std::shared_ptr<const Animation>(document()), {}, nullptr);
      },
      [] { return reorderPaletteEdit(PaletteTarget::global(), {3, 2, 1, 0}); },
      [] {
        FrameProperties p;
        p.delay = 70;
        p.name = "named";
        return framePropertiesEdit({0, 3}, p);
      },
      [] { return addCommentEdit("note"); },
      [] { return paintPixelsEdit(2, {{0, 0}, {5, 3}}, 1); },
      [] { return floodFillEdit(0, {1, 1}, 2); },
      [] { return pickTransparentIndexEdit(1, {0, 0}); },
  };
}

TEST(AllocationWalk, AnEditIsWholeOrNotAtAll) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  const auto edits = everyEdit();
  for (size_t e = 0; e < edits.size(); ++e) {
    SCOPED_TRACE(edits[e]().name);
    // The states a first step and this edit lead to, without failures.
    auto doc = document();
    const std::string origin = digestOf(*doc);
    History plain(20);
    ASSERT_EQ(runEdit(*doc, plain, setDelayEdit({3}, 7), -1, nullptr), 1);
    const std::string start = digestOf(*doc);
    ASSERT_EQ(runEdit(*doc, plain, edits[e](), 0, nullptr), 1);
    const std::string done = digestOf(*doc);

    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      auto d = document();
      History history(20);
      ASSERT_EQ(runEdit(*d, history, setDelayEdit({3}, 7), -1, nullptr), 1);
      const Edit edit = edits[e]();
      int result = -1;
      const bool finished = failing(n, [&] {
        try {
          result = runEdit(*d, history, edit, 0, nullptr);
        } catch (...) {
          ADD_FAILURE() << "an exception left runEdit";
        }
      });
      int current = 0;
      if (result == 0) {
        ASSERT_TRUE(digestOf(*d) == start) << "a failed edit leaves the document as it was";
        ASSERT_TRUE(history.undo(*d, current));
        ASSERT_TRUE(digestOf(*d) == origin) << "and its history as it was";
      } else {
        ASSERT_EQ(result, 1);
        ASSERT_TRUE(digestOf(*d) == done);
        ASSERT_TRUE(history.undo(*d, current));
        ASSERT_TRUE(digestOf(*d) == start) << "the edit's step takes it back";
        ASSERT_TRUE(history.redo(*d, current));
        ASSERT_TRUE(digestOf(*d) == done);
      }
      if (finished) break;
    }
  }
}

TEST(AllocationWalk, UndoAndRedoAreWholeOrNotAtAll) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  for (const auto& make : everyEdit()) {
    SCOPED_TRACE(make().name);
    for (bool redo : {false, true}) {
      for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        auto d = document();
        const std::string before = digestOf(*d);
        History history(20);
        ASSERT_EQ(runEdit(*d, history, make(), 0, nullptr), 1);
        const std::string after = digestOf(*d);
        int current = 0;
        if (redo) {
          ASSERT_TRUE(history.undo(*d, current));
        }
        bool moved = false;
        const bool finished = failing(n, [&] {
          try {
            moved = redo ? history.redo(*d, current) : history.undo(*d, current);
          } catch (...) {
            ADD_FAILURE() << "an exception left undo or redo";
          }
        });
        const std::string& from = redo ? before : after;
        const std::string& to = redo ? after : before;
        if (moved) {
          ASSERT_TRUE(digestOf(*d) == to);
        } else {
          ASSERT_TRUE(digestOf(*d) == from)
              << "a step that could not be taken leaves all as it was";
          ASSERT_TRUE(redo ? history.redo(*d, current) : history.undo(*d, current));
          ASSERT_TRUE(digestOf(*d) == to) << "and can be taken later";
        }
        if (finished) break;
      }
    }
  }
}

TEST(AllocationWalk, ChainOperationsAreWholeOrNotAtAll) {
  for (long n = 0;; ++n) {
    std::unique_ptr<Animation> a;
    const bool finished = failing(n, [&] {
      try {
        a = createAnimation();
      } catch (...) {
        ADD_FAILURE() << "createAnimation threw instead of giving null";
      }
    });
    if (finished) break;
  }
  for (int op = 0; op < 2; ++op) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      auto a = document(), b = document();
      const std::string before = digestOf(*a), other = digestOf(*b);
      BlockPtr mover = b->share(frameAt(*b, 2));
      bool threw = false;
      const bool finished = failing(n, [&] {
        try {
          if (op == 0)
            a->insertAt(1, {a->share(frameAt(*a, 3)), mover});
          else
            a->append(mover);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      });
      if (threw) {
        ASSERT_TRUE(digestOf(*a) == before) << op;
        ASSERT_TRUE(digestOf(*b) == other) << op;
      } else {
        ASSERT_EQ(a->frameCount(), 5) << op;
        ASSERT_EQ(b->frameCount(), 3) << op;
      }
      if (finished) break;
    }
  }
}

// Playing, and pictures asked for in a jumbled order, while each allocation
// fails in turn: a picture is either right or refused (playing stops short and
// says so), nothing is thrown, and afterwards every picture is right and
// forgetting them all gives back every byte counted.
TEST(AllocationWalk, PicturesAreRightOrRefusedWhateverFails) {
  fbtest::GifBuilder b;
  b.header().screen(70, 40, 0x81).colours(4).loop(0);
  std::vector<uint8_t> first(70 * 40);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i % 7 % 3);
  b.gce(0x04, 5, 3).descriptor(0, 0, 70, 40).image(2, first);
  b.gce(0x0D, 5, 3).descriptor(5, 5, 20, 10).image(2, std::vector<uint8_t>(200, 1));
  b.gce(0x09, 5, 3).descriptor(40, 20, 25, 15).image(2, std::vector<uint8_t>(375, 2));
  std::vector<uint8_t> spot(70 * 40, 3);  // clear but for a square mid-screen
  for (int y = 17; y < 23; ++y)
    for (int x = 33; x < 39; ++x) spot[static_cast<size_t>(y) * 70 + x] = 1;
  b.gce(0x05, 5, 3).descriptor(0, 0, 70, 40).image(2, spot);
  b.gce(0x04, 5, 3).descriptor(60, 30, 10, 10).image(2, std::vector<uint8_t>(100, 0));
  std::unique_ptr<Animation> a;
  fbtest::readGifBytes(b.trailer().bytes, a);
  ASSERT_TRUE(a);
  std::vector<std::vector<uint8_t>> want;
  auto p = startPlayer(*a);
  for (Frame* c = firstPicture(*p); c; c = nextPicture(*p)) want.push_back(canvasToRgba(*c));
  ASSERT_EQ(want.size(), 5u);
  const int order[] = {3, 1, 4, 0, 2, 3, 1, 4, 0, 2};

  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    size_t shown = 0;
    bool stopped = false;
    const bool finished = failing(n, [&] {
      auto q = startPlayer(*a);
      stopped = !q;
      if (!q) return;
      q->rgbaMode = true;  // compared in place: no allocation of its own
      for (Frame* c = firstPicture(*q); c; c = nextPicture(*q), ++shown)
        if (shown >= want.size() || !std::equal(c->rgb.begin(), c->rgb.end(), want[shown].begin()))
          ADD_FAILURE() << "picture " << shown << " is wrong";
      stopped = q->outOfMemory;
    });
    EXPECT_EQ(shown < want.size(), stopped) << "a short run says memory ran out";
    if (finished) break;
  }

  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    PictureCache cache(*a, 5 * 70 * 40 * 4);  // room for one snapshot a frame
    const bool finished = failing(n, [&] {
      try {
        for (int k : order) {
          Rgba got;
          if (cache.picture(k, got) && got.pixels != want[static_cast<size_t>(k)])
            ADD_FAILURE() << "picture " << k << " is wrong";
        }
      } catch (...) {
        ADD_FAILURE() << "an exception left the picture cache";
      }
    });
    for (int k : order) {
      Rgba got;
      ASSERT_TRUE(cache.picture(k, got)) << k;
      ASSERT_TRUE(got.pixels == want[static_cast<size_t>(k)]) << k;
    }
    cache.invalidateFrom(0);
    EXPECT_EQ(cache.bytesHeld(), 0u);
    if (finished) break;
  }

  // A strip with fewer cells than pictures stops at its last cell: the picture
  // after it (restoring to the previous one here) is never made, so it cannot
  // refuse a strip that is complete.
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    Progress progress;
    std::unique_ptr<Frame> strip;
    const bool finished = failing(n, [&] {
      strip = makeFilmstrip(*a, FilmstripLayout{1, 1}, false, &progress);
    });
    if (!strip) {
      EXPECT_EQ(progress.position(), 0) << "a complete strip was refused";
    }
    strip.reset();
    if (finished) break;
  }
}

// Descriptors this process holds open.
int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

// Reading a whole file with each allocation failing in turn: nothing is
// thrown, the failure is told as out of memory, and the file is closed.
TEST(AllocationWalk, ReadingAWholeFileClosesItWhateverFails) {
  fbtest::TempDir dir;
  const std::string path = dir.file("list.txt");
  const std::string content(300000, 'x');  // grows the string several times
  fbtest::writeBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
  const int before = openDescriptors();
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    std::string out;
    bool read = false, threw = false;
    int error = 0;
    const bool finished = failing(n, [&] {
      try {
        read = fileops::readWholeFile(path, out);
        error = errno;
      } catch (...) {
        threw = true;
      }
    });
    ASSERT_EQ(openDescriptors(), before) << "the file stays open";
    ASSERT_FALSE(threw);
    if (read)
      ASSERT_EQ(out, content);
    else
      ASSERT_EQ(error, ENOMEM);
    if (finished) break;
  }
}

// Saving with each allocation failing in turn: nothing is thrown, and the
// folder holds the target, as it was or as written, and nothing else.
TEST(AllocationWalk, ASaveLeavesNothingBehindWhateverFails) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  for (const char* name : {"out.gif", "out.swf"}) {
    SCOPED_TRACE(name);
    fbtest::TempDir dir;
    const std::string target = dir.file(name);
    const int type = typeOfPath(target);
    const SaveOptions options;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      fbtest::writeBytes(target, old);
      auto doc = document();
      bool saved = false, threw = false;
      const bool finished = failingOnNewThread(n, [&] {
        try {
          saved = saveByType(target, *doc, saveopt::WholeAnimation, type, nullptr, options);
        } catch (...) {
          threw = true;
        }
      });
      ASSERT_FALSE(threw);
      std::vector<std::string> left;
      for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
      ASSERT_EQ(left, std::vector<std::string>{name});
      if (!saved) {
        ASSERT_EQ(fbtest::readBytes(target), old);
      }
      if (finished) {
        ASSERT_TRUE(saved);
        break;
      }
    }
  }
}

// --each over a file that optimizing cannot shrink (its bytes are copied to
// the output), with every allocation failing in turn: the output folder holds
// the whole output or nothing, never a staged copy.
TEST(AllocationWalk, EachLeavesNoStagedFileWhateverFails) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  fbtest::TempDir dir;
  const std::string input = dir.file("anim.gif"), out = dir.file("out");
  std::filesystem::copy_file(fbtest::dataPath("gif-suite/animation.gif"), input);
  const auto flags =
      splitFlags({"--each", "--optimize", "--verbose", "-j", "1", "-i", input, "-o", out});
  RunSettings run;
  ASSERT_TRUE(scanRunSettings(flags, run));
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    bool ok = false;
    const bool finished = failingOnNewThread(n, [&] {
      try {
        ok = runEach(flags, run);
      } catch (...) {
      }
    });
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(out, ec))
      left.push_back(e.path().filename().string());
    if (!left.empty()) {
      ASSERT_EQ(left, std::vector<std::string>{"anim.gif"});
    }
    if (finished) {
      ASSERT_TRUE(ok);
      EXPECT_EQ(fbtest::readBytes(dir.file("out/anim.gif")), fbtest::readBytes(input));
      break;
    }
  }
}

// Starting the optimizer's worker with each allocation on the owner's thread
// failing in turn: nothing is thrown at the owner, and a worker that never
// started is not waited for as busy.
TEST(AllocationWalk, StartingTheOptimizerWorkerIsWholeOrNotAtAll) {
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  const MergeOptions merge;
  const GifWriteOptions gif;
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    auto doc = document();
    OptimizeWorker worker(*doc, quiet, merge, gif);
    bool threw = false;
    const bool finished = failing(n, [&] {
      try {
        worker.start(opt::CropFrames | opt::ShrinkPalettes);
      } catch (...) {
        threw = true;
      }
    });
    ASSERT_FALSE(threw);
    worker.wait();
    ASSERT_FALSE(worker.busy());
    if (finished) {
      ASSERT_TRUE(worker.job().trialValid);
      break;
    }
  }
}

// A transparency trial measures its variants in the frame itself: with each
// of its allocations failing in turn, the frame is left as it was.
TEST(AllocationWalk, ATransparencyTrialLeavesItsFrameWholeWhateverFails) {
  for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE(n);
      auto doc = document();
      Frame& f = *frameAt(*doc, 1);
      std::vector<uint8_t> changed(static_cast<size_t>(f.width) * f.height, 0);
      std::fill(changed.begin(), changed.begin() + f.width, 1);  // the first row is kept
      const std::string before = digestOf(*doc);
      bool threw = false;
      const bool finished = failingOnNewThread(n, [&] {
        try {
          tryTransparency(f, changed.data(), f.width, layout);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      });
      if (threw) {
        ASSERT_TRUE(digestOf(*doc) == before);
      }
      if (finished) break;
    }
  }
}

// The same with the smallest layout's encoding kept for the save: on a noisy
// frame whose unchanged part becomes one colour (the variant is taken), the
// encoding is kept after the pixels are, and its memory failing must still
// leave the frame as it was, not with pixels whose transparency never came.
TEST(AllocationWalk, ATransparencyTrialThatKeepsItsEncodingLeavesItsFrameWhole) {
  fbtest::GifBuilder b;
  const int w = 24, h = 12;
  b.header().screen(w, h, 0x82).colours(8).loop(0);
  std::mt19937 rng(3);
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> px(size_t(w) * h);
    for (auto& v : px) v = static_cast<uint8_t>(rng() % 4);
    b.gce(0x04, 10, 0).descriptor(0, 0, w, h).image(3, px);
  }
  std::unique_ptr<Animation> base;
  fbtest::readGifBytes(b.trailer().bytes, base);
  ASSERT_TRUE(base);
  std::vector<uint8_t> changed(size_t(w) * h, 0);
  std::fill(changed.begin(), changed.begin() + w, 1);  // the first row is kept
  bool taken = false;
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    auto doc = duplicateAnimation(*base, nullptr);
    ASSERT_TRUE(doc);
    Frame& f = *frameAt(*doc, 1);
    const std::string before = digestOf(*doc);
    bool threw = false;
    const bool finished = failingOnNewThread(n, [&] {
      try {
        tryTransparency(f, changed.data(), w, LzwLayout::Smallest, nullptr, true);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    });
    if (threw) {
      ASSERT_TRUE(digestOf(*doc) == before);
    }
    if (finished) {
      taken = f.transparent() && f.encoded;
      break;
    }
  }
  EXPECT_TRUE(taken);  // the walk went through the variant's keeping
}

// Ordering the global palette renumbers every frame and the kept encodings
// with them: with each allocation failing in turn, the document is left as
// it was or shows the very same colours, never a frame left in the old
// numbering under the new palette.
TEST(AllocationWalk, OrderingPalettesWithKeptEncodingsShowsTheSameColours) {
  const int w = 16, h = 16;
  fbtest::GifBuilder b;
  b.header().screen(w, h, 0x83).colours(16).loop(0);
  std::mt19937 rng(9);
  // All sixteen colours (four bits whatever the order), then the top eight
  // only, which an order puts first: the first frame's encoding is renumbered.
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> px(size_t(w) * h);
    for (auto& v : px) v = static_cast<uint8_t>(i == 0 ? rng() % 16 : 8 + rng() % 8);
    px[0] = 15;
    b.gce(0x04, 10, 0).descriptor(0, 0, w, h).image(4, px);
  }
  std::unique_ptr<Animation> base;
  fbtest::readGifBytes(b.trailer().bytes, base);
  ASSERT_TRUE(base);
  auto colours = [](Animation& a) {
    std::vector<uint8_t> out;
    for (Frame* f = firstFrame(a); f; f = nextFrame(f))
      for (int y = 0; y < f->dib->height; ++y)
        for (int x = 0; x < f->dib->width; ++x) {
          const Rgb& c = (*f->palette())[f->dib->row(y)[x]];
          out.insert(out.end(), {c.r, c.g, c.b});
        }
    return out;
  };
  const GifWriteOptions unsigned_{100, "", false};
  bool renumbered = false;
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    auto doc = duplicateAnimation(*base, nullptr);
    ASSERT_TRUE(doc);
    doc->smallestEncoding = true;
    ASSERT_GT(encodedSize(*doc, true, nullptr, unsigned_, true), 0);
    ASSERT_TRUE(firstFrame(*doc)->encoded);
    const std::string before = digestOf(*doc);
    const std::vector<uint8_t> shown = colours(*doc);
    bool threw = false, ordered = false;
    const bool finished = failingOnNewThread(n, [&] {
      try {
        ordered = orderPalettesForCodeSize(*doc);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    });
    if (threw) {
      ASSERT_TRUE(digestOf(*doc) == before);
    } else {
      ASSERT_TRUE(colours(*doc) == shown);
    }
    if (finished) {
      renumbered = ordered && firstFrame(*doc)->encoded;
      break;
    }
  }
  EXPECT_TRUE(renumbered);  // the walk went through renumbering a kept encoding
}

TEST(AllocationWalk, ColourUsageCountedInGroupsIsRightWhateverFails) {
  // Four groups, so that one may fail to start while others already run.
  auto a = document();
  ASSERT_TRUE(a);
  std::array<int64_t, 256> expected{};
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) addIndexCounts(*f->dib, expected.data());
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    a->colourUsage.fill(7);
    bool threw = false;
    const bool finished = failing(n, [&] {
      try {
        recountColourUsageInGroups(*a, 4);
      } catch (...) {
        threw = true;
      }
    });
    EXPECT_FALSE(threw);
    ASSERT_TRUE(a->colourUsage == expected);
    if (finished) break;
  }
}

}  // namespace
