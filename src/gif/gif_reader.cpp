#include "gif/gif_reader.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "base/byte_source.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "gif/gif_limits.h"
#include "gif/lzw_decoder.h"
#include "resources/strings.h"

namespace fb {
namespace {

void corrupt() {
  showWarning(text(Str::GifCorrupt));
}

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

int readImage(ByteSource& file, Frame& frame, Animation& a, PixelBudget* budget) {
  uint8_t d[9];
  if (!file.read(d, 9)) {
    corrupt();
    return 0;
  }
  frame.left = le16(d);
  frame.top = le16(d + 2);
  frame.width = le16(d + 4);
  frame.height = le16(d + 6);
  frame.imageFlags = d[8];

  if (d[8] & 0x80) {
    int n = 2 << (d[8] & 7);
    bool readOk = true;
    auto local = readPalette(file, n, readOk);
    if (!readOk) {
      corrupt();
      return 0;
    }
    if (!local) {
      showWarning(text(Str::NoLocalPalette));
      return 0;
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
  if (!sizeAcceptable(w, h) || (budget && !budget->fits(bytes + static_cast<int64_t>(count)))) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }

  int minCodeSize = file.readByte();
  if (minCodeSize < 0 || minCodeSize > 8) {
    corrupt();
    return 0;
  }
  // One decoder per thread: its tables are large and reused frame after frame.
  static thread_local std::unique_ptr<LzwDecoder> decoder;
  if (!decoder) decoder.reset(new (std::nothrow) LzwDecoder);
  if (!decoder || !decoder->init(file, minCodeSize)) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }

  // The whole image is decoded into one buffer first.
  static thread_local std::vector<uint8_t> scratch;
  try {
    scratch.resize(count + LzwDecoder::kSlack);
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }
  size_t got = decoder->decodeAll(scratch.data(), count);
  if (got < count) {
    // The end code before the image is complete leaves the rest at index 0.
    if (decoder->status() != LzwDecoder::kEnded) {
      corrupt();
      return 0;
    }
    std::memset(scratch.data() + got, 0, count - got);
  }
  // Pixels the data never sent are charged to the file's size as well.
  if (budget && !budget->take(static_cast<int64_t>(count), static_cast<int64_t>(got), bytes)) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }
  // Laid out in rows (in stream order: straight down, or the four interlace
  // passes) as the bitmap is made.
  const uint8_t* const decoded = scratch.data();
  std::vector<int> order;  // an interlaced row's place in the stream
  if (frame.interlaced()) {
    try {
      order.resize(static_cast<size_t>(h));
    } catch (const std::bad_alloc&) {
      showWarning(text(Str::NoMemoryFrameImage));
      return 0;
    }
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    int k = 0;
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < h; y += kStep[pass]) order[static_cast<size_t>(y)] = k++;
  }
  frame.dib = createBitmapFrom(w, h, frame.palette(), [&](int y) {
    const size_t at = order.empty() ? static_cast<size_t>(y) : static_cast<size_t>(order[static_cast<size_t>(y)]);
    return decoded + at * static_cast<size_t>(w);
  });
  if (!frame.dib) {
    showWarning(text(Str::NoMemoryFrameImage));
    return 0;
  }
  if (scratch.capacity() > (32u << 20)) std::vector<uint8_t>().swap(scratch);
  // The rest of the data, extra pixels included, was consumed with the
  // sub-blocks, so the next block starts where it should.
  if (frame.transparent()) frame.mask = buildMask(*frame.dib, frame.transparentIndex);
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

  while (!error && !cancelled && !complete) {
    int c = file.readByte();
    if (c < 0) {
      corrupt();
      error = true;
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
            corrupt();
            error = true;
            break;
          }
          if (stored) appendBlock(*a, std::move(stored));
          advance();
        } else if (label == 0xF9) {
          uint8_t gce[6];
          if (!file.read(gce, 6)) {
            corrupt();
            error = true;
            break;
          }
          pending = newFrame(gce, options.defaults);
          if (!pending) error = true;
        } else if (label >= 0) {
          // An extension this program does not know: well-formed GIF lets
          // readers skip it, so it is passed over rather than failing the file.
          if (!skipSubBlocks(file)) {
            corrupt();
            error = true;
          }
        } else {
          corrupt();
          error = true;
        }
        break;
      }
      case 0x2C: {
        std::unique_ptr<Frame> frame = std::move(pending);
        if (!frame) frame = newFrame(nullptr, options.defaults);
        if (!frame) {
          error = true;
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
        corrupt();
        error = true;
        break;
    }
  }
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
