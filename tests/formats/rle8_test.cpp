#include "formats/rle8.h"

#include <gtest/gtest.h>

#include <random>

using namespace fb;

namespace {

// A strict decoder of the format as published: any step outside the picture
// or past the data is an error.
bool decodeRle8(const std::vector<uint8_t>& in, int width, int height, std::vector<uint8_t>& out) {
  int x = 0, y = 0;  // y = 0 is the bottom line
  size_t i = 0;
  auto need = [&](size_t n) { return i + n <= in.size(); };
  while (need(2)) {
    uint8_t a = in[i], b = in[i + 1];
    i += 2;
    if (a > 0) {
      if (y >= height || x + a > width) return false;
      for (int k = 0; k < a; ++k) out[static_cast<size_t>(y) * width + x++] = b;
      continue;
    }
    if (b == 0) {  // end of line
      x = 0;
      if (++y >= height) return false;
    } else if (b == 1) {  // end of picture
      return true;
    } else if (b == 2) {
      if (!need(2)) return false;
      x += in[i];
      y += in[i + 1];
      i += 2;
      if (x >= width || y >= height) return false;
    } else {
      if (!need(b) || y >= height || x + b > width) return false;
      for (int k = 0; k < b; ++k) out[static_cast<size_t>(y) * width + x++] = in[i + k];
      i += b + (b & 1);
    }
  }
  return false;  // no end-of-picture
}

struct Picture {
  int w, h;
  std::vector<uint8_t> px;  // bottom line first, no padding
};

std::vector<uint8_t> encode(const Picture& p, const Picture* prev = nullptr) {
  return encodeRle8(p.px.data(), p.w, p.w, p.h, prev ? prev->px.data() : nullptr,
                    prev ? prev->w : 0);
}

void expectRoundTrip(const Picture& p, const Picture* prev = nullptr) {
  auto coded = encode(p, prev);
  std::vector<uint8_t> out = prev ? prev->px : std::vector<uint8_t>(p.px.size(), 0xEE);
  ASSERT_TRUE(decodeRle8(coded, p.w, p.h, out)) << p.w << "x" << p.h;
  EXPECT_EQ(out, p.px) << p.w << "x" << p.h;
  EXPECT_NE(coded.size(), static_cast<size_t>(((p.w + 3) & ~3) * p.h));
}

Picture random(int w, int h, int colours, std::mt19937& rng) {
  Picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
  for (auto& v : p.px) v = static_cast<uint8_t>(rng() % colours);
  return p;
}

}  // namespace

TEST(Rle8, KeyFramesDecodeToThePicture) {
  std::mt19937 rng(7);
  // Widths around the literal and run limits, noisy and flat content.
  for (int w : {1, 2, 3, 4, 5, 7, 254, 255, 256, 257, 600})
    for (int colours : {1, 2, 3, 256}) expectRoundTrip(random(w, 3, colours, rng));
  // Long runs cut at 255, literal strings of odd and even length.
  Picture p{700, 2, std::vector<uint8_t>(1400, 9)};
  for (int x = 300; x < 303; ++x) p.px[x] = static_cast<uint8_t>(x);
  for (int x = 900; x < 1161; ++x) p.px[x] = static_cast<uint8_t>(x * 7);
  expectRoundTrip(p);
}

TEST(Rle8, FlatPicturesCompressAndNoisyOnesStayNearRawSize) {
  std::mt19937 rng(1);
  Picture flat{320, 240, std::vector<uint8_t>(320 * 240, 4)};
  EXPECT_LT(encode(flat).size(), 320u * 240 / 50);
  Picture noise = random(320, 240, 256, rng);
  EXPECT_LT(encode(noise).size(), 320u * 240 * 103 / 100);
}

TEST(Rle8, DeltaFramesCodeOnlyTheChanges) {
  std::mt19937 rng(3);
  for (int w : {1, 5, 64, 300, 700}) {
    Picture a = random(w, 300, 16, rng);
    // Unchanged: only the end of the picture.
    EXPECT_EQ(encode(a, &a), (std::vector<uint8_t>{0, 1}));
    // Scattered changes, far apart (skips longer than 255 in both directions).
    Picture b = a;
    for (int k = 0; k < 40; ++k) {
      size_t at = rng() % b.px.size();
      b.px[at] = static_cast<uint8_t>(b.px[at] + 1);
    }
    b.px[0] ^= 1;                             // first pixel
    b.px[b.px.size() - 1] ^= 1;               // last pixel
    b.px[static_cast<size_t>(w) * 290] ^= 2;  // start of a line after a long skip
    expectRoundTrip(b, &a);
    // A change that ends a line, then one left of it on a later line.
    Picture c = a;
    c.px[static_cast<size_t>(w) * 10 + w - 1] ^= 4;
    c.px[static_cast<size_t>(w) * 11] ^= 4;
    expectRoundTrip(c, &a);
    // Every pixel changed.
    Picture d = random(w, 300, 256, rng);
    expectRoundTrip(d, &a);
  }
}

TEST(Rle8, NeverTheSizeOfTheRawPicture) {
  // 4 × 1 of four different pixels: 2 + 4 literal bytes + end = 8 bytes... and
  // pictures where the coded size would equal the raw size get two more bytes.
  std::mt19937 rng(5);
  int hits = 0;
  for (int n = 0; n < 2000; ++n) {
    int w = 1 + static_cast<int>(rng() % 12), h = 1 + static_cast<int>(rng() % 6);
    Picture p = random(w, h, 1 + static_cast<int>(rng() % 4), rng);
    auto coded = encode(p);
    size_t raw = static_cast<size_t>(((w + 3) & ~3) * h);
    ASSERT_NE(coded.size(), raw);
    std::vector<uint8_t> out(p.px.size());
    ASSERT_TRUE(decodeRle8(coded, w, h, out));
    ASSERT_EQ(out, p.px);
    if (coded.size() == raw + 2 && coded[coded.size() - 3] == 1) ++hits;
  }
  EXPECT_GT(hits, 0);  // the case does occur
}
