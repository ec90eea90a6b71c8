#include "gif/gif_reader.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "base/byte_source.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "gif/gif_limits.h"
#include "gif/lzw_decoder.h"
#include "resources/strings.h"

namespace fb {
namespace {

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::unique_ptr<Palette> readPalette(ByteSource& file, int n, bool& readOk) {
  uint8_t raw[768];
  readOk = file.read(raw, static_cast<size_t>(3 * n));
  if (!readOk) return nullptr;
  auto p = makePalette(nullptr, n);
  if (!p) return nullptr;
  for (int i = 0; i < n; ++i) (*p)[i] = Rgb{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
  return p;
}

enum class ExtResult { Ok, Failed };

// Reads an extension with label 0x01, 0xFE or 0xFF. `stored` receives a block
// to keep (or stays null). Loop counts go into the animation.
ExtResult readExtension(ByteSource& file, uint8_t label, Animation& a,
                        std::unique_ptr<Block>& stored) {
  stored = nullptr;
  std::vector<uint8_t> payload;
  int len = file.readByte();
  if (len < 0) return ExtResult::Failed;
  if (len == 0) return ExtResult::Ok;
  uint8_t first[255];
  if (!file.read(first, static_cast<size_t>(len))) return ExtResult::Failed;
  try {
    payload.push_back(static_cast<uint8_t>(len));
    payload.insert(payload.end(), first, first + len);
    if (label == kApplicationTag && len == 11 && std::memcmp(first, "NETSCAPE2.0", 11) == 0) {
      int m = file.readByte();
      if (m < 0) return ExtResult::Failed;
      uint8_t sub[255];
      if (m > 0 && !file.read(sub, static_cast<size_t>(m))) return ExtResult::Failed;
      if (m == 3) {
        if (file.readByte() != 0) return ExtResult::Failed;
        int loop = le16(sub + 1);
        a.playCount = loop ? loop + 1 : 0;
        return ExtResult::Ok;
      }
      payload.push_back(static_cast<uint8_t>(m));
      if (m == 0) {
        // That was the terminator: the block is complete.
        stored = newBlock(label, 0);
        if (!stored) return ExtResult::Failed;
        stored->payload = std::move(payload);
        return ExtResult::Ok;
      }
      payload.insert(payload.end(), sub, sub + m);
    }
    for (;;) {
      int n = file.readByte();
      if (n < 0) return ExtResult::Failed;
      payload.push_back(static_cast<uint8_t>(n));
      if (n == 0) break;
      size_t at = payload.size();
      payload.resize(at + static_cast<size_t>(n));
      if (!file.read(payload.data() + at, static_cast<size_t>(n))) return ExtResult::Failed;
    }
    stored = newBlock(label, 0);
    if (!stored) return ExtResult::Failed;
    stored->payload = std::move(payload);
  } catch (const std::bad_alloc&) {
    return ExtResult::Failed;
  }
  return ExtResult::Ok;
}

bool skipSubBlocks(ByteSource& file) {
  uint8_t buf[255];
  for (;;) {
    int n = file.readByte();
    if (n < 0) return false;
    if (n == 0) return true;
    if (!file.read(buf, static_cast<size_t>(n))) return false;
  }
}

}  // namespace

bool isGifSignature(ByteSource& file) {
  uint8_t sig[6];
  if (!file.read(sig, 6)) return false;
  return std::memcmp(sig, "GIF8", 4) == 0 && (sig[4] == '7' || sig[4] == '9') && sig[5] == 'a';
}

namespace {

// One image's pixels to be made from its data, apart from the file and the
// document: on the reading thread or on another (it raises no message).
struct ImageJob {
  std::vector<uint8_t> data;  // as LzwDecoder::gather leaves it
  size_t used = 0;
  bool terminated = false;
  int minCodeSize = 0;
  int width = 0, height = 0;
  bool interlaced = false;
  const Palette* palette = nullptr;  // lives as long as the document
  int transparentIndex = -1;         // -1: no mask
  int64_t bytes = 0;                 // what the frame costs (pixels and mask)

  enum class Outcome { Decoded, Corrupt, OutOfMemory };
  Outcome outcome = Outcome::OutOfMemory;
  size_t got = 0;  // pixels the data delivered
  std::unique_ptr<Bitmap> dib;
  std::unique_ptr<Mask> mask;
};

// Reads an image descriptor (after its 0x2C), its palette and its minimum
// code size into `frame` and `job`, and with `gather` its data too; false
// with `why` set when it cannot be read. `fits`: whether the budget holds
// the memory the frame needs (its pixels and mask, and its decoding).
template <class Fits>
bool readImageHead(ByteSource& file, Frame& frame, Animation& a, const Fits& fits, bool gather,
                   ImageJob& job, Str& why) {
  why = Str::GifCorrupt;
  uint8_t d[9];
  if (!file.read(d, 9)) return false;
  frame.left = le16(d);
  frame.top = le16(d + 2);
  frame.width = le16(d + 4);
  frame.height = le16(d + 6);
  frame.imageFlags = d[8];

  if (d[8] & 0x80) {
    int n = 2 << (d[8] & 7);
    bool readOk = true;
    auto local = readPalette(file, n, readOk);
    if (!readOk) return false;
    if (!local) {
      why = Str::NoLocalPalette;
      return false;
    }
    uint8_t flags = frame.imageFlags;
    setLocalPalette(frame, std::move(local));
    frame.imageFlags = flags;
  } else {
    frame.lendPalette(a.globalPalette.get());
  }

  // What the frame will cost: its pixels and, when transparent, its mask;
  // decoding needs as much again for a while.
  const int w = frame.width, h = frame.height;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  const int64_t bytes = static_cast<int64_t>(stride8(w)) * h +
                        (frame.transparent() ? static_cast<int64_t>((w + 31) / 32 * 4) * h : 0);
  if (!sizeAcceptable(w, h) || !fits(bytes + static_cast<int64_t>(count))) {
    why = Str::NoMemoryFrameImage;
    return false;
  }

  int minCodeSize = file.readByte();
  if (minCodeSize < 0 || minCodeSize > 8) return false;
  if (gather && !LzwDecoder::gather(file, job.data, job.used, job.terminated)) {
    why = Str::NoMemoryFrameImage;
    return false;
  }
  job.minCodeSize = minCodeSize;
  job.width = w;
  job.height = h;
  job.interlaced = frame.interlaced();
  job.palette = frame.palette();
  job.transparentIndex = frame.transparent() ? frame.transparentIndex : -1;
  job.bytes = bytes;
  return true;
}

// One decoder per thread (null when memory runs out): its tables are large
// and reused frame after frame.
LzwDecoder* threadDecoder() {
  static thread_local std::unique_ptr<LzwDecoder> decoder;
  if (!decoder) decoder.reset(new (std::nothrow) LzwDecoder);
  return decoder.get();
}

// The buffer each thread decodes images into.
std::vector<uint8_t>& threadScratch() {
  static thread_local std::vector<uint8_t> scratch;
  return scratch;
}


// The whole image decoded into the thread's buffer, returned (null with the
// job's outcome set when it could not be).
const uint8_t* decodeToBuffer(LzwDecoder& decoder, ImageJob& job) {
  using Outcome = ImageJob::Outcome;
  const size_t count = static_cast<size_t>(job.width) * static_cast<size_t>(job.height);
  std::vector<uint8_t>& scratch = threadScratch();
  try {
    scratch.resize(count + LzwDecoder::kSlack);
  } catch (const std::bad_alloc&) {
    job.outcome = Outcome::OutOfMemory;
    return nullptr;
  }
  job.got = decoder.decodeAll(scratch.data(), count);
  if (job.got < count) {
    // The end code before the image is complete leaves the rest at index 0.
    if (decoder.status() != LzwDecoder::kEnded) {
      job.outcome = Outcome::Corrupt;
      return nullptr;
    }
    std::memset(scratch.data() + job.got, 0, count - job.got);
  }
  return scratch.data();
}

// The job's bitmap and mask from its decoded pixels, in the thread's buffer
// (false: out of memory). The buffer is then let go when it is very large,
// or with `keepNone` whatever its size (a worker's would stand outside the
// budget, which counts one for the reading thread).
bool buildImage(ImageJob& job, const uint8_t* decoded, bool keepNone) {
  const int w = job.width, h = job.height;
  try {
    // Laid out in rows (in stream order: straight down, or the four
    // interlace passes) as the bitmap is made.
    std::vector<int> order;  // an interlaced row's place in the stream
    if (job.interlaced) {
      order.resize(static_cast<size_t>(h));
      static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      int k = 0;
      for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < h; y += kStep[pass]) order[static_cast<size_t>(y)] = k++;
    }
    job.dib = createBitmapFrom(w, h, job.palette, [&](int y) {
      const size_t at = order.empty() ? static_cast<size_t>(y) : static_cast<size_t>(order[static_cast<size_t>(y)]);
      return decoded + at * static_cast<size_t>(w);
    });
  } catch (const std::bad_alloc&) {
    job.dib.reset();
  }
  if (keepNone || threadScratch().capacity() > (32u << 20))
    std::vector<uint8_t>().swap(threadScratch());
  if (!job.dib) return false;
  if (job.transparentIndex >= 0)
    job.mask = buildMask(*job.dib, static_cast<uint8_t>(job.transparentIndex));
  return true;
}

// Decodes on this thread as reading in turn does: the budget takes the
// frame before its bitmap is laid out. False with `why` set otherwise.
bool decodeInTurn(LzwDecoder& decoder, ImageJob& job, PixelBudget* budget, Str& why) {
  why = Str::NoMemoryFrameImage;
  const uint8_t* decoded = decodeToBuffer(decoder, job);
  if (!decoded) {
    if (job.outcome == ImageJob::Outcome::Corrupt) why = Str::GifCorrupt;
    return false;
  }
  // Pixels the data never sent are charged to the file's size as well.
  const int64_t count = static_cast<int64_t>(job.width) * job.height;
  if (budget && !budget->take(count, static_cast<int64_t>(job.got), job.bytes)) return false;
  return buildImage(job, decoded, false);
}

// Decodes a job whose data was gathered, on a worker, raising no message:
// the budget takes it when it is settled.
void decodeImage(ImageJob& job) noexcept {
  job.outcome = ImageJob::Outcome::OutOfMemory;
  LzwDecoder* decoder = threadDecoder();
  if (!decoder || !decoder->initFromGathered(job.data, job.used, job.terminated, job.minCodeSize))
    return;
  const uint8_t* decoded = decodeToBuffer(*decoder, job);
  if (decoded && buildImage(job, decoded, true)) job.outcome = ImageJob::Outcome::Decoded;
  std::vector<uint8_t>().swap(threadScratch());  // also when it failed
}

// A decoded job's pixels into its frame, once the budget has taken them;
// false with `why` set otherwise.
bool finishImage(ImageJob& job, Frame& frame, PixelBudget* budget, Str& why) {
  why = Str::NoMemoryFrameImage;
  if (job.outcome == ImageJob::Outcome::Corrupt) why = Str::GifCorrupt;
  if (job.outcome != ImageJob::Outcome::Decoded) return false;
  // Pixels the data never sent are charged to the file's size as well.
  const int64_t count = static_cast<int64_t>(job.width) * job.height;
  if (budget && !budget->take(count, static_cast<int64_t>(job.got), job.bytes)) return false;
  frame.dib = std::move(job.dib);
  frame.mask = std::move(job.mask);
  return true;
}

}  // namespace

int readImage(ByteSource& file, Frame& frame, Animation& a, PixelBudget* budget) {
  ImageJob job;
  Str why;
  auto fail = [&] {
    showWarning(text(why));
    return 0;
  };
  auto fits = [budget](int64_t need) { return !budget || budget->fits(need); };
  if (!readImageHead(file, frame, a, fits, false, job, why)) return fail();
  // The data is gathered straight into the decoder's own buffer.
  why = Str::NoMemoryFrameImage;
  LzwDecoder* decoder = threadDecoder();
  if (!decoder || !decoder->init(file, job.minCodeSize)) return fail();
  // The rest of the data, extra pixels included, was consumed with the
  // sub-blocks, so the next block starts where it should.
  if (!decodeInTurn(*decoder, job, budget, why)) return fail();
  frame.dib = std::move(job.dib);
  frame.mask = std::move(job.mask);
  return 1;
}

int readGif(ByteSource& file, Progress* progress, std::unique_ptr<Animation>& out,
            const GifReadOptions& options) {
  out.reset();
  auto a = createAnimation();
  if (!a) return kReadFailed;
  // A file cut short before its first block is damaged like any other.
  auto unreadable = [](Str why) {
    showWarning(text(why));
    showWarning(text(Str::GifUnreadable));
    return kReadFailed;
  };
  uint8_t sd[7];
  if (!file.read(sd, 7)) return unreadable(Str::GifCorrupt);
  a->width = le16(sd);
  a->height = le16(sd + 2);
  a->playCount = 1;
  a->hideFirstFrame = 0;
  a->screenFlags = sd[4];
  a->aspectRatio = sd[6];
  a->colourUsage.fill(0);

  if (sd[4] & 0x80) {
    int n = 2 << (sd[4] & 7);
    int res = (sd[4] >> 4) & 7;
    int need = colourBits(n) - 1;
    if (res < need) a->screenFlags = static_cast<uint8_t>((sd[4] & ~0x70) | (need << 4));
    a->backgroundIndex = sd[5] > n ? 0 : sd[5];
    bool readOk = true;
    a->globalPalette = readPalette(file, n, readOk);
    if (!readOk) return unreadable(Str::GifCorrupt);
    if (!a->globalPalette) return unreadable(Str::NoMemoryFrameImage);
  } else {
    a->backgroundIndex = 0;
  }

  if (progress) {
    progress->setText(text(Str::ReadingGif));
    progress->setRange(file.size() > 0 ? file.size() : 0);
  }

  std::unique_ptr<Frame> pending;
  PixelBudget budget(file.size() > 0 ? file.size() : 0);
  bool error = false;
  bool cancelled = false;
  bool complete = false;
  auto advance = [&] {
    if (progress && !progress->setPosition(file.position())) cancelled = true;
  };

  // With several threads, images are decoded beside this one while it reads
  // on. Each is a frame of the document at once, given its pixels when it
  // is settled, in order; the first that fails ends the document there, and
  // every message comes in the order reading in turn would give it.
  struct InFlight {
    Frame* frame = nullptr;
    int playCount = 0;  // the document's before anything after the frame was read
    std::unique_ptr<ImageJob> job;
    bool done = false;  // under `mu`
  };
  std::deque<InFlight> flight;
  std::mutex mu;
  std::condition_variable finished;
  int64_t reserved = 0;        // the memory of the frames in flight
  int64_t inFlightPixels = 0;  // and their pixels (as much again while decoding)
  std::vector<std::vector<uint8_t>> buffers;  // image data buffers to reuse
  Frame* cut = nullptr;  // the frame that failed: it and all after it go
  const size_t maxInFlight = 2 * static_cast<size_t>(options.threads) + 2;
  std::unique_ptr<TaskPool> pool;  // declared last: it finishes first
  if (options.threads > 1) {
    pool.reset(new (std::nothrow) TaskPool(options.threads, maxInFlight, reporter()));
    if (pool && pool->threads() == 0) pool.reset();
  }
  auto settleOldest = [&] {
    {
      // The worker writes `done` in the element itself: it stays until then.
      std::unique_lock lock(mu);
      finished.wait(lock, [&] { return flight.front().done; });
    }
    InFlight f = std::move(flight.front());
    flight.pop_front();
    reserved -= f.job->bytes;
    inFlightPixels -= static_cast<int64_t>(f.job->width) * f.job->height;
    try {
      buffers.push_back(std::move(f.job->data));
    } catch (const std::bad_alloc&) {
    }
    if (error) return;  // an earlier frame failed: this one goes with it
    Str why;
    if (!finishImage(*f.job, *f.frame, &budget, why)) {
      showWarning(text(why));
      error = true;
      complete = false;
      a->playCount = f.playCount;
      cut = f.frame;
    }
  };
  // Every frame in flight settled; the document ends where one failed.
  auto settleAll = [&] {
    while (!flight.empty()) settleOldest();
    for (Block* b = cut; b;) b = removeBlock(*a, b);
    cut = nullptr;
  };
  // The frames decoded by now, without waiting: a failure stops the reading
  // about where reading in turn would have.
  auto settleDone = [&] {
    while (!flight.empty()) {
      {
        std::lock_guard lock(mu);
        if (!flight.front().done) return;
      }
      settleOldest();
    }
  };
  // A failure found while reading: after those of the frames before it.
  auto fail = [&](const Str* why) {
    settleAll();
    if (!error && why) showWarning(text(*why));
    error = true;
  };
  auto corruptHere = [&] {
    const Str why = Str::GifCorrupt;
    fail(&why);
  };
  // One image read here and decoded on a worker (false: failed, told).
  auto readInFlight = [&](std::unique_ptr<Frame> frame) {
    Str why = Str::NoMemoryFrameImage;
    auto failed = [&] {
      fail(&why);
      return false;
    };
    std::unique_ptr<ImageJob> job(new (std::nothrow) ImageJob);
    if (!job) return failed();
    if (!buffers.empty()) {
      job->data.swap(buffers.back());
      buffers.pop_back();
    }
    // Where the memory of the frames in flight (pixels, masks and decoding)
    // leaves too little for this one, they are settled first and this one
    // is decoded here: the budget then decides as reading in turn would.
    bool inTurn = false;
    auto fits = [&](int64_t need) {
      if (budget.fits(need + reserved + inFlightPixels)) return true;
      settleAll();
      inTurn = true;
      return !error && budget.fits(need);
    };
    if (!readImageHead(file, *frame, *a, fits, true, *job, why)) return failed();
    const int64_t pixels = static_cast<int64_t>(job->width) * job->height;
    // Likewise where frames whose data might not send their pixels could
    // together go past what the file may leave unsent (a small hostile file
    // declaring huge frames).
    if (inTurn || pixels + inFlightPixels > budget.undeliveredLeft()) {
      settleAll();
      if (error) return false;
      why = Str::NoMemoryFrameImage;
      LzwDecoder* decoder = threadDecoder();
      if (!decoder ||
          !decoder->initFromGathered(job->data, job->used, job->terminated, job->minCodeSize) ||
          !decodeInTurn(*decoder, *job, &budget, why))
        return failed();
      frame->dib = std::move(job->dib);
      frame->mask = std::move(job->mask);
      appendFrame(*a, std::move(frame));
      return true;
    }
    try {
      flight.emplace_back();
    } catch (const std::bad_alloc&) {
      return failed();
    }
    InFlight& f = flight.back();
    f.playCount = a->playCount;
    try {
      f.frame = appendFrame(*a, std::move(frame));
    } catch (const std::bad_alloc&) {
      flight.pop_back();
      return failed();
    }
    f.job = std::move(job);
    reserved += f.job->bytes;
    inFlightPixels += pixels;
    ImageJob* j = f.job.get();
    bool* done = &f.done;  // deque elements stay where they are
    auto run = [j, done, &mu, &finished] {
      decodeImage(*j);
      {
        std::lock_guard lock(mu);
        *done = true;
      }
      finished.notify_all();
    };
    try {
      pool->submit(run);
    } catch (const std::bad_alloc&) {
      run();  // no memory to hand it over: decoded here
    }
    if (flight.size() >= maxInFlight) settleOldest();
    return true;
  };

  while (!error && !cancelled && !complete) {
    settleDone();
    if (error) break;
    int c = file.readByte();
    if (c < 0) {
      corruptHere();
      break;
    }
    switch (c) {
      case 0x00:
        break;
      case 0x21: {
        int label = file.readByte();
        if (label == kPlainTextTag || label == kCommentTag || label == kApplicationTag) {
          std::unique_ptr<Block> stored;
          if (readExtension(file, static_cast<uint8_t>(label), *a, stored) != ExtResult::Ok) {
            corruptHere();
            break;
          }
          if (stored) appendBlock(*a, std::move(stored));
          advance();
        } else if (label == 0xF9) {
          uint8_t gce[6];
          if (!file.read(gce, 6)) {
            corruptHere();
            break;
          }
          pending = newFrame(gce, options.defaults);
          if (!pending) fail(nullptr);
        } else if (label >= 0) {
          // An extension this program does not know: well-formed GIF lets
          // readers skip it, so it is passed over rather than failing the file.
          if (!skipSubBlocks(file)) corruptHere();
        } else {
          corruptHere();
        }
        break;
      }
      case 0x2C: {
        std::unique_ptr<Frame> frame = std::move(pending);
        if (!frame) frame = newFrame(nullptr, options.defaults);
        if (!frame) {
          fail(nullptr);
          break;
        }
        if (pool) {
          if (readInFlight(std::move(frame))) advance();
          break;
        }
        if (!readImage(file, *frame, *a, &budget)) {
          error = true;
          break;
        }
        appendFrame(*a, std::move(frame));
        advance();
        break;
      }
      case 0x3B:
        complete = true;
        break;
      default:
        corruptHere();
        break;
    }
  }
  settleAll();
  pending.reset();

  if (error) {
    if (a->frameCount() == 0) {
      showWarning(text(Str::GifUnreadable));
      return kReadFailed;
    }
    showWarning(text(Str::GifPartial));
  }
  if (cancelled && a->frameCount() == 0) return kReadFailed;  // nothing to keep
  int result = complete ? kReadComplete : kReadPartial;

  // Interlacing is dropped unless the user keeps it; the file size then no
  // longer tells the encoded size.
  bool cleared = false;
  if (!options.keepInterlace) {
    for (Frame* f = firstFrame(*a); f; f = nextFrame(f)) {
      if (f->imageFlags & 0x40) {
        f->imageFlags &= static_cast<uint8_t>(~0x40);
        cleared = true;
      }
    }
  }
  if (result == kReadComplete) {
    if (!cleared && file.size() >= 0 && file.size() <= INT32_MAX)
      a->encodedSize = static_cast<int32_t>(file.size());
    // The screen covers every frame that shows something, as far as a GIF
    // can say (a frame without pixels covers nothing).
    Extent e = gifScreenFor(*a);
    a->width = e.width;
    a->height = e.height;
  }
  out = std::move(a);
  return result;
}

}  // namespace fb
