#include "gif/gif_writer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <future>
#include <new>
#include <thread>

#include "base/file_ops.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "gif/lzw_encoder.h"
#include "gif/gif_limits.h"
#include "resources/strings.h"

namespace fb {

bool ByteSink::write(const void* data, size_t size) {
  total_ += static_cast<int64_t>(size);
  if (file_) return file_->write(data, size);
  if (memory_) {
    const auto* p = static_cast<const uint8_t*>(data);
    memory_->insert(memory_->end(), p, p + size);
  }
  return true;
}

namespace {

bool put16(ByteSink& s, uint32_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  return s.write(b, 2);
}

// A colour table padded with black to the power of two its header declares.
bool writeColourTable(ByteSink& s, const Palette& p) {
  uint8_t table[768] = {};
  int entries = 1 << colourBits(p.count);
  for (int i = 0; i < p.count; ++i) {
    table[3 * i] = p[i].r;
    table[3 * i + 1] = p[i].g;
    table[3 * i + 2] = p[i].b;
  }
  return s.write(table, static_cast<size_t>(3 * entries));
}

// The signature comment's text begins with this, whatever version wrote it.
constexpr const char* kSignaturePrefix = "Built with Flickbook";

bool isSignatureComment(const Block* b, const std::string& signature) {
  std::string text;
  if (!commentText(b, text)) return false;
  return text.rfind(kSignaturePrefix, 0) == 0 || (!signature.empty() && text == signature);
}

// Bytes a kept extension block takes in the stream.
int64_t extensionSize(const Block* b) {
  size_t i = 0;
  const auto& p = b->payload;
  while (i < p.size() && p[i] != 0) i += p[i] + 1u;
  return 2 + static_cast<int64_t>(std::min(i, p.size())) + 1;
}

bool writeExtension(ByteSink& s, const Block* b) {
  uint8_t head[2] = {0x21, b->tag};
  if (!s.write(head, 2)) return false;
  // The stored sub-blocks up to the first zero length, then the terminator.
  const auto& p = b->payload;
  size_t i = 0;
  while (i < p.size() && p[i] != 0) {
    size_t n = std::min<size_t>(p[i], p.size() - i - 1);
    uint8_t len = static_cast<uint8_t>(n);
    if (!s.write(&len, 1) || !s.write(p.data() + i + 1, n)) return false;
    i += p[i] + 1u;
  }
  return s.put(0);
}

}  // namespace

bool writeLzwImage(ByteSink& sink, const uint8_t* pixels, int width, int height, int stride,
                   int codeSize, bool interlaced) {
  return encodeLzw(sink, LzwImage{pixels, width, height, stride, interlaced}, codeSize,
                   LzwLayout::Standard);
}

namespace {

// The descriptor's packed byte as written: it always describes the table that
// is written, so the file decodes.
uint8_t writtenImageFlags(const Frame& f) {
  if (f.localPalette)
    return static_cast<uint8_t>((f.imageFlags & ~0x07) | 0x80 | (colourBits(f.localPalette->count) - 1));
  return static_cast<uint8_t>(f.imageFlags & ~0x87);
}

int largestIndex(const Frame& f) {
  uint8_t top = 0;
  if (f.dib->width < 8) {
    // Rows of a few pixels: down the columns, without a loop per row.
    const uint8_t* px = f.dib->data.data();
    const size_t stride = static_cast<size_t>(f.dib->stride);
    for (int x = 0; x < f.dib->width; ++x)
      for (int y = 0; y < f.dib->height; ++y) top = std::max(top, px[y * stride + x]);
    return top;
  }
  for (int y = 0; y < f.dib->height && top < 255; ++y) {
    const uint8_t* row = f.dib->row(y);
    uint8_t rowTop = 0;  // a byte-wide maximum: the compiler does it many at a time
    for (int x = 0; x < f.dib->width; ++x) rowTop = std::max(rowTop, row[x]);
    top = std::max(top, rowTop);
  }
  return top;
}

LzwImage lzwImageOf(const Frame& f) {
  if (!f.dib) return LzwImage{};
  return LzwImage{f.pixels(), f.dib->width, f.dib->height, f.dib->stride,
                  (writtenImageFlags(f) & 0x40) != 0};
}

}  // namespace

namespace {

// What a frame's image data was encoded from: the layout, code size and
// geometry. The pixels themselves are kept too and compared exactly, since a
// fingerprint of user content can be made to collide, and a collision here
// would write another picture without a word.
struct EncodedKey {
  LzwLayout layout = LzwLayout::Standard;
  int codeSize = 0, width = 0, height = 0;
  bool interlaced = false;
  bool operator==(const EncodedKey&) const = default;
};

}  // namespace

struct EncodedImage {
  EncodedKey key;
  std::vector<uint8_t> indices;  // the rows encoded, one after the other
  std::vector<uint8_t> bytes;    // as encodeLzw writes them
};

namespace {

EncodedKey encodedKeyOf(const LzwImage& image, int codeSize, LzwLayout layout) {
  return EncodedKey{layout, codeSize, image.width, image.height, image.interlaced};
}

void copyIndices(const LzwImage& image, std::vector<uint8_t>& out) {
  const size_t w = static_cast<size_t>(image.width);
  out.resize(w * static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y)
    std::memcpy(out.data() + y * w, image.pixels + static_cast<size_t>(y) * image.stride, w);
}

// Whether `kept` was encoded from exactly these pixels, as they are written now.
bool stillEncodes(const EncodedImage& kept, const LzwImage& image, int codeSize, LzwLayout layout) {
  if (!(kept.key == encodedKeyOf(image, codeSize, layout))) return false;
  const size_t w = static_cast<size_t>(image.width);
  for (int y = 0; y < image.height; ++y)
    if (std::memcmp(kept.indices.data() + y * w,
                    image.pixels + static_cast<size_t>(y) * image.stride, w) != 0)
      return false;
  return true;
}

}  // namespace

int frameCodeSize(const Frame& f, LzwLayout layout) {
  const uint8_t* px = f.pixels();
  if (layout == LzwLayout::Smallest)
    return px ? std::max(2, colourBits(largestIndex(f) + 1)) : 2;
  int codeSize = std::max(2, colourBits(f.palette() ? f.palette()->count : 256));
  // Indices beyond the padded table (from damaged files, say) widen the code
  // size rather than being written as codes that do not fit.
  if (codeSize < 8 && px) codeSize = std::max(codeSize, colourBits(largestIndex(f) + 1));
  return codeSize;
}

int64_t frameImageDataSize(const Frame& f, LzwLayout layout) {
  return lzwEncodedSize(lzwImageOf(f), frameCodeSize(f, layout), layout);
}

bool writeFrameImage(ByteSink& sink, const Frame& f, uint32_t timeBase, LzwLayout layout) {
  uint8_t gce[8] = {0x21, 0xF9, 0x04, f.controlFlags, 0, 0, f.transparentIndex, 0};
  // Delays beyond what the field holds are kept as long as possible, not wrapped.
  uint32_t delay = std::min<uint32_t>(ticksToGifDelay(f.delay, timeBase), 0xFFFF);
  gce[4] = static_cast<uint8_t>(delay);
  gce[5] = static_cast<uint8_t>(delay >> 8);
  if (!sink.write(gce, sizeof gce)) return false;

  const uint8_t flags = writtenImageFlags(f);
  if (!sink.put(0x2C) || !put16(sink, static_cast<uint32_t>(f.left)) ||
      !put16(sink, static_cast<uint32_t>(f.top)) || !put16(sink, static_cast<uint32_t>(f.width)) ||
      !put16(sink, static_cast<uint32_t>(f.height)) || !sink.put(flags))
    return false;
  if (f.localPalette && !writeColourTable(sink, *f.localPalette)) return false;
  const LzwImage image = lzwImageOf(f);
  const int codeSize = frameCodeSize(f, layout);
  // What a count just encoded is written as it is, when it is still this frame's.
  if (const auto kept = f.encoded; kept && stillEncodes(*kept, image, codeSize, layout))
    return sink.write(kept->bytes.data(), kept->bytes.size());
  return encodeLzw(sink, image, codeSize, layout);
}

namespace {

int64_t frameHeadSize(const Frame& f) {
  int64_t head = 8 + 10;
  if (f.localPalette) head += 3 * (int64_t{1} << colourBits(f.localPalette->count));
  return head;
}

// Counts a frame as frameEncodedSize does, keeping the encoding in the frame
// for the write that follows.
int64_t frameEncodedSizeKept(Frame& f, LzwLayout layout) {
  const LzwImage image = lzwImageOf(f);
  const int codeSize = frameCodeSize(f, layout);
  // An encoding an optimizer pass made of these very pixels is counted as it
  // stands: it is what the write will take.
  if (const auto kept = f.encoded; kept && stillEncodes(*kept, image, codeSize, layout))
    return frameHeadSize(f) + static_cast<int64_t>(kept->bytes.size());
  std::vector<uint8_t> bytes;
  ByteSink memory(&bytes);
  // An encoding that did not finish is never kept: the write would take it whole.
  if (!encodeLzw(memory, image, codeSize, layout)) return frameEncodedSize(f, layout);
  const int64_t size = frameHeadSize(f) + memory.total();
  keepFrameEncoding(f, image, codeSize, layout, std::move(bytes));
  return size;
}

}  // namespace

int64_t frameEncodedSize(const Frame& f, LzwLayout layout) {
  return frameHeadSize(f) + frameImageDataSize(f, layout);
}

namespace {

// Renumbers the root codes of an encoding (as encodeLzw writes it, minimum
// code size `codeSize`) by `map`. Each code keeps its width and place, so the
// stream's layout stands bit for bit; the decoder's table holds the same
// strings renumbered alike. False when the stream is not one this can follow.
bool renumberRoots(std::vector<uint8_t>& bytes, const int* map, int codeSize) {
  if (bytes.empty() || bytes[0] != codeSize || codeSize < 2 || codeSize > 8) return false;
  // The data without its sub-block length bytes.
  std::vector<uint8_t> data;
  data.reserve(bytes.size());
  size_t at = 1;
  for (;;) {
    if (at >= bytes.size()) return false;
    const size_t len = bytes[at];
    if (len == 0) break;
    if (len > bytes.size() - at - 1) return false;
    data.insert(data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 1),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + 1 + len));
    at += 1 + len;
  }
  const int clear = 1 << codeSize, end = clear + 1;
  // Codes span at most three bytes: words of four, with padding at the end.
  data.resize(data.size() + 4, 0);
  auto word = [&](uint64_t pos) {
    uint32_t w;
    std::memcpy(&w, data.data() + (pos >> 3), 4);  // little-endian host
    return w;
  };
  auto read = [&](uint64_t pos, int bits) {
    return static_cast<int>((word(pos) >> (pos & 7)) & ((1u << bits) - 1));
  };
  auto write = [&](uint64_t pos, int bits, int value) {
    const uint32_t mask = ((1u << bits) - 1) << (pos & 7);
    const uint32_t w = (word(pos) & ~mask) | (static_cast<uint32_t>(value) << (pos & 7));
    std::memcpy(data.data() + (pos >> 3), &w, 4);
  };
  // The decoder's widths: a table entry for each code but the first after a
  // clear, one bit more when the next entry reaches a power of two.
  int bits = codeSize + 1, next = clear + 2;
  bool first = true, ended = false;
  const uint64_t limit = static_cast<uint64_t>(data.size() - 4) * 8;
  for (uint64_t pos = 0; pos + static_cast<uint64_t>(bits) <= limit;) {
    const int code = read(pos, bits);
    if (code == end) {
      ended = true;
      break;
    }
    if (code == clear) {
      pos += static_cast<uint64_t>(bits);
      bits = codeSize + 1;
      next = clear + 2;
      first = true;
      continue;
    }
    if (code < clear) {
      const int to = map[code];
      if (to < 0 || to >= clear) return false;
      write(pos, bits, to);
    }
    pos += static_cast<uint64_t>(bits);
    if (first) {
      first = false;
    } else if (next < 4096) {
      ++next;
      if (next == (1 << bits) && bits < 12) ++bits;
    }
  }
  if (!ended) return false;
  // Back into the sub-blocks, each as long as it was.
  size_t from = 0;
  for (at = 1; bytes[at] != 0; at += 1 + bytes[at]) {
    std::memcpy(bytes.data() + at + 1, data.data() + from, bytes[at]);
    from += bytes[at];
  }
  return true;
}

}  // namespace

void remapKeptEncoding(Frame& f, const int* map) {
  const std::shared_ptr<const EncodedImage> old = std::move(f.encoded);
  f.encoded.reset();
  if (!old) return;
  const LzwLayout layout = old->key.layout;
  const LzwImage image = lzwImageOf(f);
  const int codeSize = frameCodeSize(f, layout);
  if (!(old->key == encodedKeyOf(image, codeSize, layout))) return;
  // The frames are renumbered one after the other: running out of memory
  // here only loses the encoding, never the renumbering of the rest.
  try {
    auto kept = std::make_shared<EncodedImage>();
    kept->key = old->key;
    kept->indices.resize(old->indices.size());
    for (size_t i = 0; i < old->indices.size(); ++i) {
      const int to = map[old->indices[i]];
      if (to < 0 || to > 255) return;
      kept->indices[i] = static_cast<uint8_t>(to);
    }
    // Only while what it encoded, renumbered, is what the frame holds now.
    if (!stillEncodes(*kept, image, codeSize, layout)) return;
    kept->bytes = old->bytes;
    if (!renumberRoots(kept->bytes, map, codeSize)) return;
    f.encoded = std::move(kept);
  } catch (const std::bad_alloc&) {
  }
}

bool keepFrameEncoding(Frame& f, const LzwImage& image, int codeSize, LzwLayout layout,
                       std::vector<uint8_t> bytes) {
  f.encoded.reset();
  // Keeping only saves the count and the write some work: without the memory
  // for it the frame keeps none (callers keep it after changing the frame,
  // which must not be left half done).
  try {
    auto kept = std::make_shared<EncodedImage>();
    kept->key = encodedKeyOf(image, codeSize, layout);
    copyIndices(image, kept->indices);
    bytes.shrink_to_fit();
    kept->bytes = std::move(bytes);
    f.encoded = std::move(kept);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

// Everything before the first block: signature, screen, global table, loop
// extension. The colour resolution written is raised as the stream needs; the
// document itself is only read (sizes are counted while others read it too).
bool writeStreamHead(ByteSink& sink, const Animation& a) {
  if (!sink.write("GIF89a", 6)) return false;

  int res = (a.screenFlags >> 4) & 7;
  res = std::max(res, colourBits(2 << (a.screenFlags & 7)) - 1);
  for (Frame* f = firstFrame(a); f && res < 7; f = nextFrame(f))
    if (f->localPalette) res = std::max(res, colourBits(f->localPalette->count) - 1);
  uint8_t flags = static_cast<uint8_t>((a.screenFlags & ~0x70) | (res << 4));
  if (a.globalPalette)
    flags = static_cast<uint8_t>((flags & ~0x07) | 0x80 | (colourBits(a.globalPalette->count) - 1));
  else
    flags = static_cast<uint8_t>(flags & ~0x87);
  // The screen a reader will take from the file: no frame reaches past it.
  Extent screen = gifScreenFor(a);
  if (!put16(sink, static_cast<uint32_t>(screen.width)) ||
      !put16(sink, static_cast<uint32_t>(screen.height)) || !sink.put(flags) ||
      !sink.put(a.backgroundIndex) || !sink.put(a.aspectRatio))
    return false;
  if (a.globalPalette && !writeColourTable(sink, *a.globalPalette)) return false;

  if (a.playCount != 1 && a.frameCount() > 1) {
    uint32_t loop = a.playCount == 0 ? 0 : std::min<uint32_t>(a.playCount - 1, 0xFFFF);
    static const uint8_t app[16] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S',  'C',
                                    'A',  'P',  'E',  '2', '.', '0', 0x03, 0x01};
    if (!sink.write(app, sizeof app) || !put16(sink, loop) || !sink.put(0)) return false;
  }
  return true;
}

LzwLayout layoutOf(const Animation& a) {
  return a.smallestEncoding ? LzwLayout::Smallest : LzwLayout::Standard;
}

bool isKeptExtension(const Block* b) {
  return b->tag == kPlainTextTag || b->tag == kCommentTag || b->tag == kApplicationTag;
}

}  // namespace

namespace {

int writeStream(ByteSink& sink, Animation& a, Progress* progress, const GifWriteOptions& options) {
  if (!writeStreamHead(sink, a)) return kWriteFailed;
  const LzwLayout layout = layoutOf(a);
  if (progress) progress->setRange(a.frameCount());
  int64_t pixels = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    pixels += static_cast<int64_t>(f->width) * f->height;
  unsigned workers = TaskPool::workersFor(static_cast<size_t>(a.frameCount()), pixels);
  if (workers == 0) {
    for (Block* b = a.head->next; b; b = b->next) {
      if (b->isFrame()) {
        if (!writeFrameImage(sink, static_cast<Frame&>(*b), options.timeBase, layout))
          return kWriteFailed;
        if (progress && !progress->step()) return kWriteCancelled;
      } else if (isKeptExtension(b)) {
        if (!writeExtension(sink, b)) return kWriteFailed;
      }
    }
    return sink.put(0x3B) ? kWriteDone : kWriteFailed;
  }

  // Frames are encoded ahead on workers, each into its own buffer, and
  // written in order: the same bytes, sooner.
  const size_t window = 2 * workers;
  TaskPool pool(workers, window, reporter());
  using Encoded = std::vector<uint8_t>;
  std::deque<std::pair<Block*, std::future<Encoded>>> ahead;
  auto writeFront = [&]() -> int {
    auto& [b, encoded] = ahead.front();
    if (b->isFrame()) {
      // Empty: the worker could not encode it (a frame is never 0 bytes).
      Encoded bytes = encoded.get();
      if (bytes.empty() || !sink.write(bytes.data(), bytes.size())) return kWriteFailed;
      if (progress && !progress->step()) return kWriteCancelled;
    } else if (!writeExtension(sink, b)) {
      return kWriteFailed;
    }
    ahead.pop_front();
    return kWriteDone;
  };
  for (Block* b = a.head->next; b; b = b->next) {
    if (b->isFrame()) {
      auto task = std::make_shared<std::packaged_task<Encoded()>>(
          [f = static_cast<Frame*>(b), tb = options.timeBase, layout] {
            Encoded out;
            try {
              ByteSink memory(&out);
              if (!writeFrameImage(memory, *f, tb, layout)) out.clear();
            } catch (...) {
              out.clear();  // out of memory: told to the owner by the empty result
            }
            return out;
          });
      ahead.emplace_back(b, task->get_future());
      pool.submit([task] { (*task)(); });
    } else if (isKeptExtension(b)) {
      ahead.emplace_back(b, std::future<Encoded>());
    }
    while (ahead.size() > window) {
      int r = writeFront();
      if (r != kWriteDone) return r;
    }
  }
  while (!ahead.empty()) {
    int r = writeFront();
    if (r != kWriteDone) return r;
  }
  return sink.put(0x3B) ? kWriteDone : kWriteFailed;
}

}  // namespace

int writeGifStream(ByteSink& sink, Animation& a, Progress* progress,
                   const GifWriteOptions& options) {
  // Numbers a GIF cannot hold are never written cut down to 16 bits.
  if (!gifGeometryFits(a)) return kWriteFailed;
  try {
    return writeStream(sink, a, progress, options);
  } catch (const std::bad_alloc&) {
    return kWriteFailed;  // memory for the encoded frames ran out: a failed write
  }
}

bool writeGifFile(const std::string& path, Animation& a, Progress* progress,
                  const GifWriteOptions& options) {
  if (!gifGeometryFits(a)) {
    showWarning(text(Str::GifTooLarge));
    return false;
  }
  fileops::WriteFile file;
  if (!file.create(path)) {
    showWarning(format(Str::CannotSaveTemporary, path.c_str()));
    return false;
  }
  if (progress) progress->setText(text(Str::WritingGif));
  ByteSink sink(&file);
  int result = writeGifStream(sink, a, progress, options);
  // Flushed to the disk before anyone renames it over a file that matters.
  bool ok = result == kWriteDone && file.sync();
  ok = file.close() && ok;
  return ok;
}

bool writeFrameAsGif(const std::string& path, Frame& frame, const GifWriteOptions& options) {
  // A one-frame document of its own: a copy of the frame, its palette as the
  // global table.
  auto temp = createAnimation();
  auto copy = duplicateBlock(&frame);
  if (!temp || !copy) {
    showWarning(text(Str::NoMemoryFrameImage));
    return false;
  }
  temp->width = frame.width;
  temp->height = frame.height;
  temp->playCount = 1;
  if (const Palette* p = frame.palette()) setGlobalPalette(*temp, copyPalette(*p));
  appendBlock(*temp, std::move(copy));

  fileops::WriteFile file;
  bool ok = false;
  if (!gifGeometryFits(*temp)) {
    showWarning(text(Str::GifTooLarge));
  } else if (file.create(path)) {
    ByteSink sink(&file);
    ok = writeGifStream(sink, *temp, nullptr, options) == kWriteDone && file.sync();
    ok = file.close() && ok;
  } else {
    showWarning(format(Str::CannotSaveTemporary, path.c_str()));
  }
  return ok;
}

void stampSignature(Animation& a, const GifWriteOptions& options) {
  const std::string known = options.signature.substr(0, 255);
  for (Block* b = a.head->next; b;) {
    Block* next = b->next;
    if (isSignatureComment(b, known)) removeBlock(a, b);
    b = next;
  }
  if (!options.sign || known.empty()) return;
  auto c = newBlock(kCommentTag, 1);
  if (!c || !setCommentText(c.get(), known)) return;
  a.insertAfterBlock(a.head, BlockPtr(std::move(c)));
}

namespace {

// `keep`: frames keep their encodings for the write that follows (only for
// a document no other thread reads).
int64_t countSize(const Animation& a, Progress* progress, const GifWriteOptions& options,
                  bool keep) {
  if (!gifGeometryFits(a)) return -1;
  // Everything but the frames is counted in order; the frames, whose counts
  // are independent of each other, on several threads when it pays.
  ByteSink head;
  writeStreamHead(head, a);
  const LzwLayout layout = layoutOf(a);
  int64_t total = head.total() + 1;  // and the trailer
  std::vector<Frame*> frames;
  int64_t pixels = 0;
  for (Block* b = a.head->next; b; b = b->next) {
    if (b->isFrame()) {
      frames.push_back(static_cast<Frame*>(b));
      pixels += static_cast<int64_t>(frames.back()->width) * frames.back()->height;
    } else if (isKeptExtension(b)) {
      total += extensionSize(b);
    }
  }

  std::vector<int64_t> sizes(frames.size(), 0);
  std::atomic<size_t> done{0};
  // Helpers from the task pool count beside the calling thread, which
  // reports progress between frames.
  unsigned helpers = 0;
  if (frames.size() >= 4 && pixels >= (1 << 20)) helpers = TaskPool::cores() - 1;
  if (progress) progress->setRange(static_cast<int64_t>(frames.size()));
  auto count = [&](size_t i, bool onCaller) {
    sizes[i] = keep ? frameEncodedSizeKept(*frames[i], layout) : frameEncodedSize(*frames[i], layout);
    done.fetch_add(1);
    return !(onCaller && progress && !progress->setPosition(static_cast<int64_t>(done.load())));
  };
  if (!forEachPiece(frames.size(), helpers, std::ref(count))) return -1;
  for (int64_t s : sizes) total += s;

  // What stamping the signature will change.
  const std::string known = options.signature.substr(0, 255);
  for (Block* b = a.head->next; b; b = b->next)
    if (isSignatureComment(b, known)) total -= extensionSize(b);
  if (options.sign && !known.empty()) total += static_cast<int64_t>(known.size()) + 4;
  return total;
}

}  // namespace

int64_t countEncodedSize(const Animation& a, Progress* progress, const GifWriteOptions& options) {
  return countSize(a, progress, options, false);
}

int64_t recountEncodedSize(Animation& a, Progress* progress, const GifWriteOptions& options,
                           bool keepEncoding) {
  // Only the smallest layout costs enough to encode for keeping to pay.
  const int64_t total = countSize(a, progress, options, keepEncoding && a.smallestEncoding);
  a.encodedSize = total >= 0 && total <= INT32_MAX ? static_cast<int32_t>(total) : -1;
  return total;
}

int32_t encodedSize(Animation& a, bool force, Progress* progress, const GifWriteOptions& options,
                    bool keepEncoding) {
  if (!force && a.encodedSize >= 0) return a.encodedSize;
  recountEncodedSize(a, progress, options, keepEncoding);
  return a.encodedSize;
}

}  // namespace fb
