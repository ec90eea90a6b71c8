// Hostile files declare huge sizes, huge frame counts or image data that never
// ends. Each must end with the reader's own message, within bounded memory: the
// read runs in a child process that may not have more than 512 MB of address
// space (and a CPU-time limit, so that a hang fails instead of stalling the run).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/reporter.h"
#include "formats/png_builder.h"
#include "formats/png_reader.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "testutil.h"

using namespace fb;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressLimit = false;  // the sanitizer reserves terabytes up front
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressLimit = false;
#else
constexpr bool kAddressLimit = true;
#endif
#else
constexpr bool kAddressLimit = true;
#endif

struct Outcome {
  bool exited = false;
  int result = -1;
  std::string messages;
};

// Reads `bytes` with `read` in a child process under the limits; the child
// reports the result and every message through a pipe.
template <typename Read>
Outcome readLimited(const std::vector<uint8_t>& bytes, Read read) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (kAddressLimit) {
      rlimit mem{512ull << 20, 512ull << 20};
      ::setrlimit(RLIMIT_AS, &mem);
    }
    rlimit cpu{60, 60};
    ::setrlimit(RLIMIT_CPU, &cpu);
    RecordingReporter rec;
    ScopedReporter scope(rec);
    MemorySource src(bytes.data(), bytes.size());
    int result = read(src);
    std::string report = std::to_string(result) + "\n";
    for (const auto& t : rec.texts()) report += t + "\n";
    ssize_t ignored = ::write(fds[1], report.data(), report.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Outcome o;
  o.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !out.empty();
  if (o.exited) {
    o.result = std::stoi(out.substr(0, out.find('\n')));
    o.messages = out.substr(out.find('\n') + 1);
  }
  return o;
}

int readGifFromSource(ByteSource& src) {
  if (!isGifSignature(src)) return -1;
  std::unique_ptr<Animation> a;
  return readGif(src, nullptr, a);
}

// A GIF of `frames` full w × h frames, each drawn by `draw(frame, pixels)`
// onto the same buffer and encoded as it comes (the document is never whole
// in memory here).
template <typename Draw>
std::vector<uint8_t> streamedGif(int w, int h, int frames, Draw draw) {
  fbtest::GifBuilder b;
  b.header().screen(w, h, 0x81).colours(4).loop(0);
  Rgb grey[4] = {{0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}};
  auto palette = makePalette(grey, 4);
  std::unique_ptr<Frame> f(newBlankFrame(w, h));
  f->lendPalette(palette.get());
  f->dib = createBitmap(w, h, palette.get());
  ByteSink sink(&b.bytes);
  for (int k = 0; k < frames; ++k) {
    draw(k, *f->dib);
    writeFrameImage(sink, *f);
  }
  return b.trailer().bytes;
}

int readPngFromSource(ByteSource& src) {
  std::unique_ptr<Animation> a;
  return ReadPngStream(src, nullptr, a);
}

}  // namespace

TEST(ResourceBounds, AGifDeclaringAHugeFrame) {
  fbtest::GifBuilder b;
  b.header().screen(65535, 65535, 0x80).colours(2).descriptor(0, 0, 65535, 65535).image(2, {1});
  Outcome o = readLimited(b.trailer().bytes, readGifFromSource);
  ASSERT_TRUE(o.exited) << "the reader must come back, not be killed";
  EXPECT_EQ(o.result, kReadFailed);
  EXPECT_EQ(o.messages, "Not enough memory to build frame image.\nUnable to read file successfully.\n");
}

TEST(ResourceBounds, AGifOfManyLargeFramesThatNeverSendTheirPixels) {
  // Each 2000 × 2000 frame sends one pixel, then the end code.
  fbtest::GifBuilder b;
  b.header().screen(2000, 2000, 0x80).colours(2);
  while (b.bytes.size() < 1000000 - 40) b.descriptor(0, 0, 2000, 2000).raw({2}).codeData({4, 1, 5}, 3);
  ASSERT_LT(b.trailer().bytes.size(), 1u << 20);
  Outcome o = readLimited(b.bytes, readGifFromSource);
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.result, kReadPartial) << "the frames that fit are kept";
  EXPECT_EQ(o.messages, "Not enough memory to build frame image.\nOnly part of the animation was read.\n");
}

TEST(ResourceBounds, AGifOfVeryManyTinyFrames) {
  fbtest::GifBuilder b;
  b.header().screen(1, 1, 0x80).colours(2);
  int frames = 0;
  while (b.bytes.size() < 1000000 - 20) {
    b.descriptor(0, 0, 1, 1).image(2, {1});
    ++frames;
  }
  Outcome o = readLimited(b.trailer().bytes, readGifFromSource);
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.result, kReadComplete) << frames << " frames";
  EXPECT_EQ(o.messages, "");
}

TEST(ResourceBounds, LzwDataThatNeverEnds) {
  // A megabyte of clear codes after one pixel: the decoder reads them all and
  // the image still ends where the data does.
  std::vector<int> codes = {4, 1};
  for (int i = 0; i < 800000; ++i) codes.push_back(4);
  fbtest::GifBuilder b;
  b.header().screen(4, 4, 0x80).colours(2).descriptor(0, 0, 4, 4).raw({2}).codeData(codes, 3, false);
  Outcome o = readLimited(b.bytes, readGifFromSource);
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.result, kReadFailed);
  EXPECT_EQ(o.messages,
            "Error encountered when reading file. The GIF file appears to be corrupt.\n"
            "Unable to read file successfully.\n");
}

TEST(ResourceBounds, APngDeclaringAHugeImage) {
  // A valid header for 100000 × 100000 pixels, then a little data.
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  auto chunk = [&](const char* type, std::vector<uint8_t> data) {
    uint32_t n = static_cast<uint32_t>(data.size());
    png.insert(png.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : body) {
      crc ^= byte;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFF;
    png.insert(png.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
  };
  chunk("IHDR", {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 0, 0, 0, 0});
  chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  chunk("IEND", {});
  Outcome o = readLimited(png, readPngFromSource);
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.result, kReadFailed);
  EXPECT_FALSE(o.messages.empty());
}

// The other side of the bounds: animations as people make them read whole,
// however well they compress, up to what the machine's memory holds.
TEST(ResourceBounds, OrdinaryLargeAnimationsReadCompletely) {
  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;

  // 80 frames of 1000 × 1000 (a moving block over lines) in under 200 KB.
  auto moving = streamedGif(1000, 1000, 80, [](int k, Bitmap& b) {
    for (int y = 0; y < 1000; ++y)
      for (int x = 0; x < 1000; ++x) {
        bool block = x >= 10 * k && x < 10 * k + 120 && y >= 5 * k && y < 5 * k + 120;
        b.row(y)[x] = block ? 2 : y % 100 == 0 ? 3 : 1;
      }
  });
  ASSERT_LT(moving.size(), 200000u);
  EXPECT_EQ(fbtest::readGifBytes(moving, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 80);

  // One 9000 × 9000 picture (81 million pixels, under the cap of one image).
  auto large = streamedGif(9000, 9000, 1, [](int, Bitmap& b) {
    for (int y = 0; y < 9000; ++y) std::memset(b.row(y), y / 1000 % 4, 9000);
  });
  EXPECT_EQ(fbtest::readGifBytes(large, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 1);
  fbtest::PngBuilder png;
  png.ihdr(9000, 9000, 8, 3).plte({0, 0, 0, 255, 255, 255});
  png.idat(fbtest::Rows(9000, std::vector<uint8_t>(9000, 1))).iend();
  MemorySource src(png.bytes.data() + 8, png.bytes.size() - 8);
  EXPECT_EQ(ReadPngStream(src, nullptr, a), kReadComplete);

  // A screen recording: 300 full 1920 × 1080 frames where little changes.
  auto recording = streamedGif(1920, 1080, 300, [](int k, Bitmap& b) {
    if (k == 0)
      for (int y = 0; y < 1080; ++y) std::memset(b.row(y), y < 40 ? 2 : 1, 1920);
    for (int y = 500; y < 520; ++y) std::memset(b.row(y) + 4 * k, 3, 20);  // a moving cursor
  });
  EXPECT_EQ(fbtest::readGifBytes(recording, a), kReadComplete);
  EXPECT_EQ(a->frameCount(), 300);
  EXPECT_TRUE(rec.entries().empty());
}

// A file under a megabyte that asks for as much memory as it can: frames of
// pixels that compress as far as GIF allows. Within 512 MB the reader keeps
// what fits and says so.
TEST(ResourceBounds, AGifThatDecompressesBeyondMemory) {
  auto bytes = streamedGif(1920, 1080, 400, [](int k, Bitmap& b) {
    if (k == 0) std::fill(b.data.begin(), b.data.end(), uint8_t{1});
  });
  ASSERT_LT(bytes.size(), 1u << 20);
  Outcome o = readLimited(bytes, readGifFromSource);
  ASSERT_TRUE(o.exited) << "the reader must come back, not be killed";
  if (kAddressLimit) {
    EXPECT_EQ(o.result, kReadPartial);
    EXPECT_EQ(o.messages,
              "Not enough memory to build frame image.\nOnly part of the animation was read.\n");
  } else {
    EXPECT_TRUE(o.result == kReadComplete || o.result == kReadPartial);
  }
}
