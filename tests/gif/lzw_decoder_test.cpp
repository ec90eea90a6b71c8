#include "gif/lzw_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "base/byte_source.h"
#include "gif/gif_writer.h"
#include "gif/lzw_encoder.h"
#include "testutil.h"

using namespace fb;

namespace {

// Packs codes of `width` bits LSB first.
std::vector<uint8_t> pack(const std::vector<int>& codes, int width) {
  fbtest::GifBuilder b;
  b.codeData(codes, width, false, 255);
  // Strip the sub-block length bytes: the decoder takes the joined data.
  std::vector<uint8_t> out;
  for (size_t i = 0; i < b.bytes.size();) {
    size_t n = b.bytes[i];
    out.insert(out.end(), b.bytes.begin() + static_cast<long>(i + 1),
               b.bytes.begin() + static_cast<long>(i + 1 + n));
    i += n + 1;
  }
  return out;
}

std::vector<int> pixelByPixel(LzwDecoder& d, int max) {
  std::vector<int> out;
  for (int i = 0; i < max; ++i) {
    int p = d.nextPixel();
    out.push_back(p);
    if (p < 0) break;
  }
  return out;
}

}  // namespace

TEST(LzwDecoder, DecodesLiteralsStringsAndTheKwKwKCase) {
  // s = 2: clear 4, end 5. Code 6 arrives while it is the next free code
  // (the string is the previous one plus its own first pixel).
  auto head = pack({4, 0, 6, 1}, 3);  // 12 bits; the width grows to 4 after code 1
  uint16_t bits = static_cast<uint16_t>(head[0] | (head[1] << 8));
  bits |= static_cast<uint16_t>(5u << 12);  // the end code, 4 bits wide
  std::vector<uint8_t> data = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8)};
  LzwDecoder d;
  ASSERT_TRUE(d.initFromData(data.data(), data.size(), true, 2));
  EXPECT_EQ(pixelByPixel(d, 20), (std::vector<int>{0, 0, 0, 1, LzwDecoder::kEnded}));
}

TEST(LzwDecoder, EndCodeAndCutShortData) {
  auto data = pack({4, 1, 5}, 3);
  LzwDecoder d;
  d.initFromData(data.data(), data.size(), true, 2);
  EXPECT_EQ(pixelByPixel(d, 5), (std::vector<int>{1, LzwDecoder::kEnded}));
  d.initFromData(data.data(), data.size(), false, 2);
  EXPECT_EQ(pixelByPixel(d, 5), (std::vector<int>{1, LzwDecoder::kReadFailed}))
      << "an end code in data that was cut short";

  // Codes ending exactly at the last byte: readable after a terminator only,
  // because the data is fetched one sub-block ahead.
  auto exact = pack({8, 1, 2, 3, 1, 2}, 4);  // 24 bits = 3 bytes exactly
  ASSERT_EQ(exact.size(), 3u);
  d.initFromData(exact.data(), exact.size(), true, 3);
  EXPECT_EQ(pixelByPixel(d, 20), (std::vector<int>{1, 2, 3, 1, 2, LzwDecoder::kCorrupt}));
  d.initFromData(exact.data(), exact.size(), false, 3);
  EXPECT_EQ(pixelByPixel(d, 20), (std::vector<int>{1, 2, 3, 1, LzwDecoder::kCorrupt}))
      << "the last code is lost when the data was cut short";
}

TEST(LzwDecoder, FirstCodeSkipsClearsAndClearRestartsTheTable) {
  auto data = pack({4, 4, 4, 2, 4, 3, 5}, 3);
  LzwDecoder d;
  d.initFromData(data.data(), data.size(), true, 2);
  EXPECT_EQ(pixelByPixel(d, 10), (std::vector<int>{2, 3, LzwDecoder::kEnded}));
}

TEST(LzwDecoder, TheEndCodeFirstEndsAnImageWithoutPixels) {
  // A clear code and the end code: no pixel, by every way of decoding.
  auto none = pack({4, 5}, 3);
  LzwDecoder d;
  d.initFromData(none.data(), none.size(), true, 2);
  EXPECT_EQ(pixelByPixel(d, 3), std::vector<int>{LzwDecoder::kEnded});
  uint8_t out[4 + LzwDecoder::kSlack] = {};
  d.initFromData(none.data(), none.size(), true, 2);
  EXPECT_EQ(d.decode(out, 1), 0u);
  EXPECT_EQ(d.status(), LzwDecoder::kEnded);
  d.initFromData(none.data(), none.size(), true, 2);
  EXPECT_EQ(d.decodeAll(out, 1), 0u) << "a one-pixel image gets no pixel from the end code";
  EXPECT_EQ(d.status(), LzwDecoder::kEnded);
  d.initFromData(none.data(), none.size(), false, 2);
  EXPECT_EQ(pixelByPixel(d, 3), std::vector<int>{LzwDecoder::kReadFailed});

  // The same after a clear in the middle; a code no fresh table holds is corrupt.
  auto later = pack({4, 1, 4, 5}, 3);
  d.initFromData(later.data(), later.size(), true, 2);
  EXPECT_EQ(pixelByPixel(d, 5), (std::vector<int>{1, LzwDecoder::kEnded}));
  d.initFromData(later.data(), later.size(), true, 2);
  EXPECT_EQ(d.decodeAll(out, 4), 1u);
  EXPECT_EQ(d.status(), LzwDecoder::kEnded);
  auto undefined = pack({4, 6, 5}, 3);
  d.initFromData(undefined.data(), undefined.size(), true, 2);
  EXPECT_EQ(pixelByPixel(d, 3), std::vector<int>{LzwDecoder::kCorrupt});
  d.initFromData(undefined.data(), undefined.size(), true, 2);
  EXPECT_EQ(d.decodeAll(out, 4), 0u);
  EXPECT_EQ(d.status(), LzwDecoder::kCorrupt);
}

TEST(LzwDecoder, AMinimumCodeSizeNoTwelveBitCodeCanHoldIsCorrupt) {
  // Sizes 12 and up would put the clear code past the 4096-entry tables.
  std::vector<uint8_t> data(64, 0xFF);
  uint8_t out[16 + LzwDecoder::kSlack] = {};
  for (int size : {12, 13, 31, -1}) {
    LzwDecoder d;
    ASSERT_TRUE(d.initFromData(data.data(), data.size(), true, size));
    EXPECT_EQ(pixelByPixel(d, 3), std::vector<int>{LzwDecoder::kCorrupt}) << size;
    d.initFromData(data.data(), data.size(), true, size);
    EXPECT_EQ(d.decodeAll(out, 16), 0u) << size;
    EXPECT_EQ(d.status(), LzwDecoder::kCorrupt) << size;
  }
  // 11 is the largest that works: clear 2048, end 2049, 12-bit codes.
  auto eleven = pack({2048, 7, 2049}, 12);
  LzwDecoder d;
  d.initFromData(eleven.data(), eleven.size(), true, 11);
  EXPECT_EQ(pixelByPixel(d, 3), (std::vector<int>{7, LzwDecoder::kEnded}));
}

TEST(LzwDecoder, LiteralsWiderThanAByteGiveTheSamePixelsOnEveryPath) {
  // Sizes 9 to 11 have literals above 255, whose pixel is the low byte; a
  // string that starts with one must not spill its high bits into the next
  // pixel. After the first literal, then after a clear.
  for (int size : {9, 11}) {
    const int clear = 1 << size, first = clear + 2;
    auto data = pack({clear, 300, 6, first, clear, 511, 2, first, clear + 1}, size + 1);
    LzwDecoder a;
    a.initFromData(data.data(), data.size(), true, size);
    std::vector<uint8_t> one(20);
    ASSERT_EQ(a.decode(one.data(), one.size()), 8u) << size;
    one.resize(8);
    LzwDecoder b;
    b.initFromData(data.data(), data.size(), true, size);
    std::vector<int> single = pixelByPixel(b, 20);
    ASSERT_EQ(single.size(), 9u) << size;
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(static_cast<uint8_t>(single[i]), one[i]) << size << " " << i;
    LzwDecoder c;
    c.initFromData(data.data(), data.size(), true, size);
    std::vector<uint8_t> all(20 + LzwDecoder::kSlack);
    ASSERT_EQ(c.decodeAll(all.data(), 20), 8u) << size;
    EXPECT_EQ(c.status(), LzwDecoder::kEnded) << size;
    all.resize(8);
    EXPECT_EQ(all, one) << size;
  }
}

TEST(LzwDecoder, CodeWidthGrowsAndStopsAtTwelveBits) {
  // s = 8: literal codes only; after 3837 additions the width would pass 12 bits.
  std::vector<int> codes = {256};
  std::vector<uint8_t> expect;
  for (int i = 0; i < 5000; ++i) {
    codes.push_back(i % 256);
    expect.push_back(static_cast<uint8_t>(i % 256));
  }
  codes.push_back(257);
  // Pack with the growing width a decoder expects.
  std::vector<uint8_t> data;
  uint64_t acc = 0;
  int n = 0, width = 9, next = 258, limit = 512;
  bool first = true;
  for (int c : codes) {
    acc |= static_cast<uint64_t>(c) << n;
    n += width;
    while (n >= 8) {
      data.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
    if (c == 256) continue;
    if (first) {
      first = false;
      continue;
    }
    if (next < 4096) {
      ++next;
      if (next >= limit && limit < 4096) {
        limit *= 2;
        ++width;
      }
    }
  }
  if (n) data.push_back(static_cast<uint8_t>(acc));
  LzwDecoder d;
  d.initFromData(data.data(), data.size(), true, 8);
  std::vector<uint8_t> out(5000);
  EXPECT_EQ(d.decode(out.data(), out.size()), 5000u);
  EXPECT_EQ(out, expect);
  EXPECT_EQ(d.nextPixel(), LzwDecoder::kEnded);
  // In bulk too: past the full table, where no entry is added any more.
  LzwDecoder bulk;
  bulk.initFromData(data.data(), data.size(), true, 8);
  std::vector<uint8_t> all(5001 + LzwDecoder::kSlack);
  EXPECT_EQ(bulk.decodeAll(all.data(), 5001), 5000u);
  EXPECT_EQ(bulk.status(), LzwDecoder::kEnded);
  all.resize(5000);
  EXPECT_EQ(all, expect);
}

TEST(LzwDecoder, CyclicTablesEndAsCorruptNotForever) {
  // With s = 1 (clear 2, end 3): codes above the next free code build prefix
  // chains that point forward and eventually loop.
  std::mt19937 rng(7);
  int corrupt = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<uint8_t> data(64);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    LzwDecoder d;
    d.initFromData(data.data(), data.size(), true, 1 + trial % 8);
    int n = 0;
    int p;
    while ((p = d.nextPixel()) >= 0 && n < 1000000) ++n;
    ASSERT_LT(n, 1000000);
    if (p == LzwDecoder::kCorrupt) ++corrupt;
  }
  EXPECT_GT(corrupt, 0);
}

TEST(LzwDecoder, BulkDecodingMatchesPixelByPixel) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 3000; ++trial) {
    int s = 1 + static_cast<int>(rng() % 8);
    std::vector<uint8_t> data(1 + rng() % 400);
    bool structured = trial % 2 == 0;
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    if (structured) {
      // Mostly valid streams: literal and recent codes at the right widths.
      fbtest::GifBuilder g;
      std::vector<uint8_t> px(rng() % 3000);
      for (auto& p : px) p = static_cast<uint8_t>(rng() % (1u << s));
      g.image(s, px, rng() % 4 != 0, true, 255);
      data.assign(g.bytes.begin() + 1, g.bytes.end());
      std::vector<uint8_t> joined;
      for (size_t i = 0; i < data.size() && data[i];) {
        joined.insert(joined.end(), data.begin() + static_cast<long>(i + 1),
                      data.begin() + static_cast<long>(i + 1 + data[i]));
        i += data[i] + 1u;
      }
      data = joined;
      if (rng() % 3 == 0 && !data.empty()) data[rng() % data.size()] ^= 1u << (rng() % 8);
    }
    bool terminated = rng() % 2;
    int want = static_cast<int>(rng() % 5000);

    LzwDecoder a, b;
    a.initFromData(data.data(), data.size(), terminated, s);
    b.initFromData(data.data(), data.size(), terminated, s);
    std::vector<uint8_t> one;
    int status = 0;
    for (int i = 0; i < want; ++i) {
      int p = a.nextPixel();
      if (p < 0) {
        status = p;
        break;
      }
      one.push_back(static_cast<uint8_t>(p));
    }
    // Bulk, in uneven pieces as rows would ask.
    std::vector<uint8_t> bulk(static_cast<size_t>(want));
    size_t got = 0;
    size_t piece = 1 + rng() % 97;
    while (got < bulk.size()) {
      size_t ask = std::min(piece, bulk.size() - got);
      size_t n = b.decode(bulk.data() + got, ask);
      got += n;
      if (n < ask) break;
    }
    bulk.resize(got);
    ASSERT_EQ(bulk, one) << "trial " << trial;
    if (status < 0) {
      EXPECT_EQ(b.status(), status) << "trial " << trial;
    }
    // The whole image at once, as the reader decodes it.
    LzwDecoder c;
    c.initFromData(data.data(), data.size(), terminated, s);
    std::vector<uint8_t> all(static_cast<size_t>(want) + LzwDecoder::kSlack);
    all.resize(c.decodeAll(all.data(), static_cast<size_t>(want)));
    ASSERT_EQ(all, one) << "trial " << trial;
    if (status < 0) {
      EXPECT_EQ(c.status(), status) << "trial " << trial;
    }
  }
}

namespace {

// The joined sub-blocks of a real encoding of `px` (runs and noise), as the
// save writes it.
std::vector<uint8_t> encoded(const std::vector<uint8_t>& px, int w, int codeSize,
                             LzwLayout layout) {
  std::vector<uint8_t> bytes, data;
  ByteSink sink(&bytes);
  EXPECT_TRUE(encodeLzw(sink, LzwImage{px.data(), w, static_cast<int>(px.size()) / w, w, false},
                        codeSize, layout));
  for (size_t i = 1; i < bytes.size() && bytes[i] != 0; i += bytes[i] + 1u)
    data.insert(data.end(), bytes.begin() + static_cast<long>(i + 1),
                bytes.begin() + static_cast<long>(i + 1 + bytes[i]));
  return data;
}

// decodeAll against nextPixel on the same data and image size: the same
// pixels, and the same status when the data stops first.
void expectBulkMatches(const std::vector<uint8_t>& data, bool terminated, int codeSize,
                       size_t count, const char* what, size_t at) {
  LzwDecoder a;
  a.initFromData(data.data(), data.size(), terminated, codeSize);
  std::vector<uint8_t> one;
  int status = 0;
  while (one.size() < count) {
    int p = a.nextPixel();
    if (p < 0) {
      status = p;
      break;
    }
    one.push_back(static_cast<uint8_t>(p));
  }
  LzwDecoder b;
  b.initFromData(data.data(), data.size(), terminated, codeSize);
  std::vector<uint8_t> all(count + LzwDecoder::kSlack);
  all.resize(b.decodeAll(all.data(), count));
  ASSERT_EQ(all, one) << what << " " << at << " terminated " << terminated;
  if (status < 0) {
    EXPECT_EQ(b.status(), status) << what << " " << at << " terminated " << terminated;
  }
}

}  // namespace

TEST(LzwDecoder, BulkDecodingOfLargeImagesMatchesPixelByPixelNearEitherEnd) {
  // Large enough that decodeAll runs without its per-code checks for a while
  // and hands over near the end of the data or of the image: images cut at
  // every pixel near the end, data cut at every byte near its end, and
  // corrupt codes around both places.
  std::mt19937 rng(99);
  const int w = 320, h = 200;
  for (int codeSize : {2, 5, 8})
    for (LzwLayout layout : {LzwLayout::Standard, LzwLayout::Smallest}) {
      std::vector<uint8_t> px(size_t(w) * h);
      for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t((i / 9 % 5 == 0 ? rng() : i / 61) % (1u << codeSize));
      const std::vector<uint8_t> data = encoded(px, w, codeSize, layout);
      const size_t total = px.size();
      for (size_t cut = 1; cut <= 3000; cut += 1 + cut / 64)
        expectBulkMatches(data, true, codeSize, total - cut, "image cut by", cut);
      for (size_t cut = 0; cut <= 40 && cut < data.size(); ++cut) {
        std::vector<uint8_t> shorter(data.begin(), data.end() - static_cast<long>(cut));
        // The image asks for far more than the data holds.
        expectBulkMatches(shorter, true, codeSize, 2 * total, "data cut by", cut);
        expectBulkMatches(shorter, false, codeSize, 2 * total, "data cut by", cut);
      }
      for (int trial = 0; trial < 40; ++trial) {
        std::vector<uint8_t> bad = data;
        // Near the end of the data, or near where the image would end.
        const size_t at = trial % 2 ? bad.size() - 1 - rng() % std::min<size_t>(64, bad.size())
                                    : bad.size() * 3 / 4 + rng() % (bad.size() / 4);
        bad[at] ^= uint8_t(1u << (rng() % 8));
        expectBulkMatches(bad, true, codeSize, 2 * total, "bit flipped at", at);
        expectBulkMatches(bad, true, codeSize, total - 1 - rng() % 2000, "bit flipped at", at);
      }
    }
  // Twelve-bit codes from the first: wherever the data is cut, some batch of
  // codes read without checks would end exactly at its last bit.
  std::vector<int> codes = {2048};
  for (int i = 0; i < 24000; ++i) codes.push_back(static_cast<int>(rng() % 256));
  const std::vector<uint8_t> wide = pack(codes, 12);
  for (size_t cut = 0; cut <= 40; ++cut) {
    std::vector<uint8_t> shorter(wide.begin(), wide.end() - static_cast<long>(cut));
    expectBulkMatches(shorter, true, 11, 48000, "twelve-bit data cut by", cut);
    expectBulkMatches(shorter, false, 11, 48000, "twelve-bit data cut by", cut);
  }
}

TEST(LzwDecoder, ImageDataWithoutAnySubBlockDecodesNothing) {
  // Straight after the minimum code size: the terminator, or the end of the
  // file. A fresh decoder has no buffer yet.
  for (bool withTerminator : {true, false}) {
    const uint8_t zero = 0;
    MemorySource src(&zero, withTerminator ? 1 : 0);
    auto d = std::make_unique<LzwDecoder>();
    ASSERT_TRUE(d->init(src, 2));
    EXPECT_EQ(d->terminated(), withTerminator);
    uint8_t out[4 + LzwDecoder::kSlack] = {};
    EXPECT_EQ(d->decodeAll(out, 4), 0u);
    EXPECT_EQ(d->status(), LzwDecoder::kCorrupt);
  }
}
