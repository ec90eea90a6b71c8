#include "imaging/optimizer.h"

#include <gtest/gtest.h>

#include <random>

#include "base/number_format.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "document/player.h"
#include "formats/png_rgba.h"
#include "gif/gif_writer.h"
#include "imaging/palette_merge.h"
#include "imaging/palette_pass.h"
#include "testutil.h"
#include "timeline.h"

using namespace fb;

using fbtest::timeline;

namespace {

struct Doc {
  std::unique_ptr<Animation> a;
  explicit Doc(int w, int h, int colours = 8) {
    a = createAnimation();
    a->width = w;
    a->height = h;
    a->playCount = 0;
    std::vector<Rgb> pal;
    for (int i = 0; i < colours; ++i)
      pal.push_back({static_cast<uint8_t>(i * 30), static_cast<uint8_t>(255 - i * 30),
                     static_cast<uint8_t>(i * 7)});
    setGlobalPalette(*a, makePalette(pal.data(), colours));
  }
  // A frame of the given rectangle; `px(x, y)` gives its pixels.
  template <typename Px>
  Frame& add(int l, int t, int w, int h, Px px, int disposal = 1, int transparent = -1,
             int delay = 10) {
    Frame* f = newBlankFrame(w, h).release();
    f->left = l;
    f->top = t;
    f->delay = delay;
    f->lendPalette(a->globalPalette.get());
    f->setDisposal(disposal);
    auto dib = createBitmap(w, h, f->palette());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) dib->row(y)[x] = static_cast<uint8_t>(px(x, y));
    if (transparent >= 0) {
      f->transparentIndex = static_cast<uint8_t>(transparent);
      f->controlFlags |= 1;
    }
    setBitmap(*f, std::move(dib));
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
    return *f;
  }
};

OptimizeJob inPlace(Animation& a, uint32_t options) {
  OptimizeJob job;
  job.document = &a;
  job.options = options;
  return job;
}

}  // namespace

TEST(Optimizer, FirstOpaqueFrameStaysWholeAndUnchangedPixelsGo) {
  Doc d(8, 6);
  d.add(0, 0, 8, 6, [](int x, int y) { return (x + y) % 3; });
  // The same picture with one 2 × 2 square changed.
  d.add(0, 0, 8, 6,
        [](int x, int y) { return (x >= 3 && x < 5 && y >= 2 && y < 4) ? 7 : (x + y) % 3; });
  auto before = timeline(*d.a);
  auto job = inPlace(*d.a, opt::CropFrames);
  ASSERT_TRUE(runOptimizeJob(job));
  Frame* f0 = frameAt(*d.a, 0);
  Frame* f1 = frameAt(*d.a, 1);
  EXPECT_EQ(f0->width, 8);
  EXPECT_EQ(f0->height, 6);
  EXPECT_EQ(f1->left, 3);
  EXPECT_EQ(f1->top, 2);
  EXPECT_EQ(f1->width, 2);
  EXPECT_EQ(f1->height, 2);
  EXPECT_EQ(timeline(*d.a), before);
  EXPECT_EQ(d.a->encodedSize, -1);
}

TEST(Optimizer, TransparentFirstFrameIsCroppedToItsOpaquePixels) {
  Doc d(10, 10);
  d.add(
      0, 0, 10, 10, [](int x, int y) { return (x >= 2 && x < 4 && y == 5) ? 1 : 0; }, 1, 0);
  auto job = inPlace(*d.a, opt::CropFrames);
  runOptimizeJob(job);
  Frame* f = firstFrame(*d.a);
  EXPECT_EQ(f->left, 2);
  EXPECT_EQ(f->top, 5);
  EXPECT_EQ(f->width, 2);
  EXPECT_EQ(f->height, 1);
}

TEST(Optimizer, FramesThatChangeNothing) {
  auto make = [] {
    auto d = std::make_unique<Doc>(4, 4);
    d->add(
        0, 0, 4, 4, [](int x, int) { return x; }, 1, -1, 10);
    d->add(
        0, 0, 4, 4, [](int x, int) { return x; }, 1, -1, 20);  // identical
    d->add(
        0, 0, 4, 4, [](int x, int y) { return x == 0 && y == 0 ? 5 : x; }, 1, -1, 30);
    return d;
  };
  auto kept = make();
  auto job = inPlace(*kept->a, opt::CropFrames);
  runOptimizeJob(job);
  ASSERT_EQ(kept->a->frameCount(), 3);
  Frame* same = frameAt(*kept->a, 1);
  EXPECT_EQ(same->width, 1) << "a 1 × 1 frame at its own origin";
  EXPECT_EQ(same->left, 0);

  auto removed = make();
  auto before = timeline(*removed->a);
  job = inPlace(*removed->a, opt::CropFrames | opt::RemoveFrames);
  runOptimizeJob(job);
  ASSERT_EQ(removed->a->frameCount(), 2);
  EXPECT_EQ(firstFrame(*removed->a)->delay, 30) << "its time goes to the frame before";
  EXPECT_EQ(timeline(*removed->a), before);
  EXPECT_EQ(totalDelay(*removed->a), 60);

  // Not after a frame that restores to the background.
  auto afterClear = make();
  firstFrame(*afterClear->a)->setDisposal(2);
  job = inPlace(*afterClear->a, opt::CropFrames | opt::RemoveFrames);
  runOptimizeJob(job);
  EXPECT_EQ(afterClear->a->frameCount(), 3);
}

TEST(Optimizer, RestoreToBackgroundKeepsEverythingOverKnownContent) {
  Doc d(6, 6);
  d.add(0, 0, 6, 6, [](int, int) { return 1; });
  // Identical to what is on screen, but it clears its area afterwards.
  d.add(
      1, 1, 4, 4, [](int, int) { return 1; }, 2);
  d.add(0, 0, 6, 6, [](int x, int) { return x % 2 ? 3 : 1; });
  auto before = timeline(*d.a);
  auto job = inPlace(*d.a, opt::CropFrames | opt::Transparency | opt::RemoveFrames);
  runOptimizeJob(job);
  Frame* clearing = frameAt(*d.a, 1);
  EXPECT_EQ(clearing->width, 4);
  EXPECT_EQ(clearing->height, 4) << "its cleared area is not reduced";
  EXPECT_EQ(timeline(*d.a), before);
}

TEST(Optimizer, LocalPaletteFramesAreNeverComparedWithTheScreen) {
  Doc d(4, 4);
  d.add(0, 0, 4, 4, [](int, int) { return 2; });
  Frame& local = d.add(0, 0, 4, 4, [](int, int) { return 2; });
  setLocalPalette(local, copyPalette(*d.a->globalPalette));
  d.add(0, 0, 4, 4, [](int, int) { return 2; });
  auto job = inPlace(*d.a, opt::CropFrames | opt::RemoveFrames);
  runOptimizeJob(job);
  ASSERT_EQ(d.a->frameCount(), 3);
  EXPECT_EQ(frameAt(*d.a, 1)->width, 4) << "kept whole";
  EXPECT_EQ(frameAt(*d.a, 2)->width, 4) << "the screen under it is unknown afterwards";
}

TEST(Optimizer, TransparencyOnlyWhenItShrinksTheFrame) {
  // A detailed picture where only a stripe changes: the unchanged detail
  // compresses far better as one transparent colour.
  std::mt19937 rng(5);
  std::vector<int> noise(40 * 40);
  for (auto& n : noise) n = static_cast<int>(rng() % 6);
  Doc d(40, 40);
  d.add(0, 0, 40, 40, [&](int x, int y) { return noise[y * 40 + x]; });
  d.add(0, 0, 40, 40, [&](int x, int y) { return (x == 0 || x == 39) ? 7 : noise[y * 40 + x]; });
  auto before = timeline(*d.a);
  ByteSink whole;
  writeFrameImage(whole, *frameAt(*d.a, 1));
  auto job = inPlace(*d.a, opt::CropFrames | opt::Transparency);
  runOptimizeJob(job);
  Frame* f = frameAt(*d.a, 1);
  EXPECT_TRUE(f->transparent());
  EXPECT_EQ(f->transparentIndex, 6) << "the highest index no kept pixel uses";
  ByteSink now;
  writeFrameImage(now, *f);
  EXPECT_LT(now.total(), whole.total());
  EXPECT_EQ(timeline(*d.a), before);

  // Every index in use by the changes: nothing to make transparent.
  Doc full(16, 1, 8);
  full.add(0, 0, 16, 1, [](int, int) { return 0; });
  full.add(0, 0, 16, 1, [](int x, int) { return x < 8 ? x : 0; });
  job = inPlace(*full.a, opt::CropFrames | opt::Transparency);
  runOptimizeJob(job);
  EXPECT_FALSE(frameAt(*full.a, 1)->transparent());
}

TEST(Optimizer, TransparencyVariantB) {
  // Row: A A [A A B C] with the bracketed pixels unchanged: B keeps the run of
  // A coming from the left and fills from the first other colour.
  Frame f;
  Rgb pal[8] = {};
  auto p = makePalette(pal, 8);
  f.width = 6;
  f.height = 1;
  f.lendPalette(p.get());
  f.dib = createBitmap(6, 1, p.get());
  uint8_t row[6] = {1, 1, 1, 1, 2, 3};
  std::memcpy(f.dib->row(0), row, 6);
  uint8_t mask[8] = {1, 1, 0, 0, 0, 0};
  tryTransparency(f, mask, 8);
  // Whatever variant won, kept pixels are untouched and the unchanged ones are
  // either their old colour or the transparent index.
  EXPECT_EQ(f.dib->row(0)[0], 1);
  EXPECT_EQ(f.dib->row(0)[1], 1);
  for (int x = 2; x < 6; ++x) {
    uint8_t v = f.dib->row(0)[x];
    EXPECT_TRUE(v == row[x] || (f.transparent() && v == f.transparentIndex)) << x;
  }
}

TEST(Optimizer, ShrinkPalette) {
  Palette p;
  p.count = 16;
  for (int i = 0; i < 16; ++i) p[i] = Rgb{static_cast<uint8_t>(i), 1, 2};
  int64_t usage[256] = {};
  for (int i : {1, 3, 4, 8, 9, 12, 15}) usage[i] = i * 10;
  int map[256];
  auto small = shrinkPalette(p, usage, map);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->count, 8) << "7 colours in a table of 8";
  EXPECT_EQ((*small)[7], (Rgb{0, 0, 0}));
  EXPECT_EQ((*small)[0], p[1]);
  EXPECT_EQ((*small)[6], p[15]);
  EXPECT_EQ(map[0], -1);
  EXPECT_EQ(map[1], 0);
  EXPECT_EQ(map[15], 6);
  for (int i = 0; i < 16; ++i) usage[i] = 1;
  EXPECT_EQ(shrinkPalette(p, usage, map), nullptr) << "a fully used palette is left alone";
}

TEST(Optimizer, ShrinkingPalettesKeepsThePictures) {
  Doc d(5, 5, 200);
  d.add(0, 0, 5, 5, [](int x, int y) { return (x * 40 + y) % 200; });
  Frame& t = d.add(
      0, 0, 5, 5, [](int x, int) { return x == 2 ? 199 : 180; }, 1, 199);
  Frame& local = d.add(1, 1, 2, 2, [](int x, int) { return x ? 9 : 4; });
  Rgb lp[16] = {};
  lp[4] = {1, 2, 3};
  lp[9] = {4, 5, 6};
  setLocalPalette(local, makePalette(lp, 16));
  auto before = timeline(*d.a);
  auto job = inPlace(*d.a, opt::ShrinkPalettes);
  runOptimizeJob(job);
  EXPECT_LT(d.a->globalPalette->count, 64);
  EXPECT_TRUE(t.transparent());
  EXPECT_EQ(local.localPalette->count, 2);
  EXPECT_EQ(timeline(*d.a), before);
  // The colour counts follow the pixels to their new indices.
  const auto usage = d.a->colourUsage;
  recountColourUsage(*d.a);
  EXPECT_EQ(d.a->colourUsage, usage);
}

TEST(Optimizer, CleanUpAlone) {
  Doc d(4, 4);
  Block* text = newBlock(kPlainTextTag, 1).release();
  Block* app = newBlock(kApplicationTag, 1).release();
  Block* comment = newBlock(kCommentTag, 1).release();
  setCommentText(comment, "stays");
  fb::appendBlock(*d.a, std::unique_ptr<fb::Block>(text));
  fb::appendBlock(*d.a, std::unique_ptr<fb::Block>(app));
  fb::appendBlock(*d.a, std::unique_ptr<fb::Block>(comment));
  d.add(-2, 0, 4, 4, [](int x, int) { return x; });
  auto job = inPlace(*d.a, 0);
  runOptimizeJob(job);
  int blocks = 0;
  for (Block* b = d.a->head->next; b; b = b->next) {
    ++blocks;
    EXPECT_NE(b->tag, kPlainTextTag);
    EXPECT_NE(b->tag, kApplicationTag);
  }
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(firstFrame(*d.a)->left, 0);
  EXPECT_EQ(firstFrame(*d.a)->width, 2) << "clipped to the screen";
}

TEST(Optimizer, ATrialReportsTheSavingAndCanBeCancelled) {
  Doc d(30, 30);
  for (int i = 0; i < 6; ++i)
    d.add(0, 0, 30, 30, [i](int x, int y) { return (x / 10 == i % 3 && y < 10) ? 5 : 1; });
  int64_t size = encodedSize(*d.a, true, nullptr);
  OptimizeJob job;
  job.document = d.a.get();
  job.hasDialog = true;
  job.options = 0x46E;
  RecordingProgress p;
  job.progress = &p;
  ASSERT_TRUE(runOptimizeJob(job));
  ASSERT_TRUE(job.trial);
  EXPECT_TRUE(job.trialValid);
  EXPECT_EQ(job.documentSize, size);
  EXPECT_EQ(job.trialSize, encodedSize(*job.trial, false, nullptr));
  EXPECT_EQ(job.saving, job.documentSize - job.trialSize);
  EXPECT_GT(job.saving, 0);
  EXPECT_NEAR(job.savingPercent, 100.0 * job.saving / job.documentSize, 1e-9);
  EXPECT_EQ(frameAt(*d.a, 1)->width, 30) << "the document itself is untouched";
  auto texts = p.texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "正在复制动画..."), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "正在计算文件尺寸..."), texts.end());

  RecordingProgress cancel;
  cancel.cancelAfter(4);
  job.progress = &cancel;
  EXPECT_FALSE(runOptimizeJob(job));
  EXPECT_FALSE(job.trialValid);
  EXPECT_FALSE(cancel.cancelled()) << "the request is reset afterwards";

  OptimizeWorker worker(*d.a, reporter(), MergeOptions(), GifWriteOptions());
  worker.start(0x46E);
  worker.start(0x066);  // a new request replaces the running one
  worker.wait();
  ASSERT_TRUE(worker.job().trialValid);
  EXPECT_EQ(worker.job().options, 0x066u);
  int64_t trialSize = worker.job().trialSize;
  ASSERT_TRUE(worker.acceptTrial());
  EXPECT_EQ(encodedSize(*d.a, true, nullptr), trialSize);
}

TEST(Optimizer, ByteCountsAsShown) {
  EXPECT_EQ(formatByteCount(-1), "");
  EXPECT_EQ(formatByteCount(0), "无");
  std::string sep = thousandsSeparator();
  EXPECT_EQ(formatByteCount(1234567), "1" + sep + "234" + sep + "567 字节");
  EXPECT_EQ(formatThousands(999), "999");
  EXPECT_EQ(formatThousands(-1000), "-1" + sep + "000");
}

TEST(Optimizer, TheOptionBitsDriveTheInPlaceEntry) {
  Doc d(6, 6);
  d.add(0, 0, 6, 6, [](int, int) { return 1; });
  d.add(0, 0, 6, 6, [](int, int) { return 1; });
  ASSERT_TRUE(optimizeInPlace(*d.a, opt::CropFrames | opt::RemoveFrames));
  EXPECT_EQ(d.a->frameCount(), 1);
  d.add(0, 0, 6, 6, [](int, int) { return 1; });
  optimizeInPlace(*d.a, 0);
  EXPECT_EQ(d.a->frameCount(), 2);
}

// A result that is not smaller than the document's current encoding (here the
// file it was read from: the signature comment a save adds makes up for what
// the clean-up saves) is not taken, in place or from a dialog, and the
// reporter or the job says so.
TEST(Optimizer, AResultNoSmallerIsNotTaken) {
  Doc d(6, 6);
  d.add(0, 0, 6, 6, [](int x, int y) { return (x + y) % 4; });
  d.add(0, 0, 6, 6, [](int x, int y) { return (x * y) % 4; });
  std::vector<uint8_t> file;
  ByteSink sink(&file);
  ASSERT_EQ(writeGifStream(sink, *d.a, nullptr), kWriteDone);
  std::unique_ptr<Animation> doc;
  ASSERT_EQ(fbtest::readGifBytes(file, doc), kReadComplete);
  ASSERT_EQ(doc->encodedSize, static_cast<int32_t>(file.size()));
  auto bytesOf = [](Animation& a) {
    std::vector<uint8_t> out;
    ByteSink s(&out);
    writeGifStream(s, a, nullptr);
    return out;
  };
  const auto before = bytesOf(*doc);

  RecordingReporter messages;
  ScopedReporter scope(messages);
  auto job = inPlace(*doc, 0x46E);
  ASSERT_TRUE(runOptimizeJob(job));
  EXPECT_TRUE(job.notTaken);
  EXPECT_EQ(bytesOf(*doc), before) << "the document as it was";
  EXPECT_EQ(doc->encodedSize, static_cast<int32_t>(file.size())) << "its size too";
  ASSERT_EQ(messages.entries().size(), 1u);
  EXPECT_EQ(messages.entries()[0].caption, "优化动画");
  EXPECT_EQ(messages.entries()[0].text, job.notice);
  EXPECT_NE(job.notice.find("动画保持不变"), std::string::npos) << job.notice;

  OptimizeWorker worker(*doc, messages, MergeOptions(), GifWriteOptions());
  worker.start(0x46E);
  worker.wait();
  ASSERT_TRUE(worker.job().trialValid);
  EXPECT_TRUE(worker.job().notTaken) << "the dialog shows the notice";
  EXPECT_GE(worker.job().trialSize, worker.job().documentSize);
  EXPECT_FALSE(worker.acceptTrial());
  EXPECT_EQ(bytesOf(*doc), before);
  EXPECT_EQ(messages.entries().size(), 1u) << "a dialog's worker shows no message box";

  // A document that does shrink is taken, and nothing is said.
  Doc big(40, 40);
  for (int i = 0; i < 4; ++i) big.add(0, 0, 40, 40, [i](int x, int y) { return x < 10 * i && y < 5 ? 2 : 1; });
  auto grows = inPlace(*big.a, 0x46E);
  ASSERT_TRUE(runOptimizeJob(grows));
  EXPECT_FALSE(grows.notTaken);
  EXPECT_LT(frameAt(*big.a, 1)->height, 40);
  EXPECT_EQ(messages.entries().size(), 1u);

  // One whose size is not known beforehand is counted beside the passes and
  // judged alike (a single frame: nothing to gain).
  Doc one(6, 6, 4);
  one.add(0, 0, 6, 6, [](int x, int y) { return (x + y) % 4; });
  ASSERT_LT(one.a->encodedSize, 0);
  const int64_t size = countEncodedSize(*one.a, nullptr, GifWriteOptions());
  auto same = inPlace(*one.a, 0x46E);
  ASSERT_TRUE(runOptimizeJob(same));
  EXPECT_TRUE(same.notTaken);
  EXPECT_NE(same.notice.find("(" + formatByteCount(size) + ")"), std::string::npos) << same.notice;
  EXPECT_EQ(one.a->encodedSize, size);
  EXPECT_EQ(messages.entries().size(), 2u);
}

TEST(Optimizer, APassThatEndsWithItsResourceMessageFailsTheJob) {
  // Four planes of the screen's size: beyond what a screen may cost.
  Doc d(10000, 10000);
  d.add(0, 0, 2, 2, [](int, int) { return 1; });
  d.add(0, 0, 2, 2, [](int x, int) { return x; });
  RecordingReporter rec;
  ScopedReporter scope(rec);
  OptimizeJob job = inPlace(*d.a, opt::CropFrames);
  EXPECT_FALSE(runOptimizeJob(job));
  EXPECT_EQ(rec.texts(),
            std::vector<std::string>{"Not enough resources to fully optimize animation."});
  bool failed = false;
  optimizeFrames(*d.a, opt::CropFrames, nullptr, &failed);
  EXPECT_TRUE(failed);
}

// With the smallest layout, a frame whose unchanged pixels lie scattered
// among changed ones (a two-colour pattern where half the cells flip) is
// smaller written as the two colours it shows than as any mixture with
// transparency, such as the one it came in with.
TEST(Optimizer, SmallestEncodingMayWriteUnchangedPixelsAsTheyShow) {
  const int w = 96, h = 64;
  std::mt19937 rng(8);
  std::vector<int> first(w * h), second(w * h);
  for (auto& v : first) v = static_cast<int>(rng() % 2);
  for (size_t i = 0; i < second.size(); ++i) second[i] = rng() % 2 ? 1 - first[i] : first[i];
  Doc shown(w, h, 4);
  shown.add(0, 0, w, h, [&](int x, int y) { return second[y * w + x]; });
  const int64_t twoColours = frameEncodedSize(*frameAt(*shown.a, 0), LzwLayout::Smallest);

  Doc d(w, h, 4);
  d.add(0, 0, w, h, [&](int x, int y) { return first[y * w + x]; });
  d.add(0, 0, w, h,
        [&](int x, int y) { return second[y * w + x] == first[y * w + x] ? 2 : second[y * w + x]; },
        1, 2);
  auto before = timeline(*d.a);
  auto job = inPlace(*d.a, opt::Best);
  runOptimizeJob(job);
  EXPECT_EQ(timeline(*d.a), before);
  ASSERT_EQ(d.a->frameCount(), 2);
  EXPECT_LE(frameEncodedSize(*frameAt(*d.a, 1), LzwLayout::Smallest), twoColours);
}

TEST(Optimizer, SmallestEncodingComparesWhatIndicesShow) {
  // Index 5 is index 1's colour again. The second frame draws the picture
  // with 5 where the first has 1, and changes one corner: only the corner
  // shows a change, and nothing shown may change.
  const int w = 48, h = 32;
  Doc d(w, h, 8);
  (*d.a->globalPalette)[5] = (*d.a->globalPalette)[1];
  auto picture = [](int x, int y) { return (x / 4 + y / 3) % 3; };
  d.add(0, 0, w, h, picture);
  d.add(0, 0, w, h, [&](int x, int y) {
    if (x >= w - 6 && y >= h - 5) return 7;
    const int v = picture(x, y);
    return v == 1 ? 5 : v;
  });
  auto before = timeline(*d.a);
  auto job = inPlace(*d.a, opt::Best);
  runOptimizeJob(job);
  EXPECT_EQ(timeline(*d.a), before);
  ASSERT_EQ(d.a->frameCount(), 2);
  const Frame& corner = *frameAt(*d.a, 1);
  EXPECT_EQ(std::vector<int>({corner.left, corner.top, corner.width, corner.height}),
            std::vector<int>({w - 6, h - 5, 6, 5}));
}

TEST(Optimizer, RemappedPixelsKeepTheirMaskTrue) {
  Doc d(20, 3, 8);
  Frame& f = d.add(0, 0, 20, 3, [](int x, int y) { return (x + y) % 4; }, 1, 2);
  f.mask = buildMask(*f.dib, 2);
  Palette* p = d.a->globalPalette.get();
  // Nothing moves (the transparent index maps to itself, or transparency
  // would go): the mask stays as it was.
  int same[256];
  std::fill(same, same + 256, -1);
  same[2] = 2;
  const Mask* kept = f.mask.get();
  remapFramePixels(f, p, p->entries.data(), p->count, same);
  EXPECT_EQ(f.mask.get(), kept);
  ASSERT_TRUE(f.mask);
  EXPECT_EQ(f.mask->bits, buildMask(*f.dib, 2)->bits);
  // The transparent index moves to 1, and 0 joins it there: the mask marks both.
  int merge[256];
  std::fill(merge, merge + 256, -1);
  merge[0] = 1, merge[1] = 0, merge[2] = 1, merge[3] = 3;
  remapFramePixels(f, p, p->entries.data(), p->count, merge);
  ASSERT_EQ(f.transparentIndex, 1);
  ASSERT_TRUE(f.mask);
  EXPECT_EQ(f.mask->bits, buildMask(*f.dib, 1)->bits);
  EXPECT_NE(f.mask->bits, buildMask(*f.dib, 0)->bits);
}

TEST(Optimizer, ADocumentNoGifCanHoldIsLeftWithoutAFailure) {
  // Wider than a GIF's screen: it has no GIF size to compare, which is no
  // reason to fail (it may be saved as PNG).
  Doc d(70000, 2, 4);
  d.add(0, 0, 70000, 2, [](int x, int) { return x % 3; });
  d.add(0, 0, 70000, 2, [](int x, int) { return x < 5 ? 3 : x % 3; });
  auto before = timeline(*d.a);
  RecordingReporter rec;
  ScopedReporter scope(rec);
  auto job = inPlace(*d.a, 0x46E);
  EXPECT_TRUE(runOptimizeJob(job));
  EXPECT_TRUE(rec.texts().empty());
  EXPECT_EQ(timeline(*d.a), before);
}
