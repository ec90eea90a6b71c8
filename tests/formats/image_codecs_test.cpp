// The picture codecs on hand-built files: the edge cases peers rarely make.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "document/bitmap.h"
#include "formats/ani_codec.h"
#include "formats/avi_riff.h"
#include "formats/bmp_codec.h"
#include "formats/ico_codec.h"
#include "formats/jpeg_codec.h"
#include "formats/pal_codec.h"
#include "formats/picture.h"
#include "formats/psd_codec.h"
#include "formats/swf_codec.h"
#include "testutil.h"

using namespace fb;
using avi::putU16;
using avi::putU32;

namespace {

// A .bmp file: file header, a 40-byte header, the palette, then `pixels`.
std::vector<uint8_t> bmpFile(int w, int h, int bits, uint32_t compression,
                             const std::vector<Rgb>& palette, const std::vector<uint8_t>& pixels,
                             const std::vector<uint32_t>& masks = {}) {
  std::vector<uint8_t> out = {'B', 'M'};
  const uint32_t offset = static_cast<uint32_t>(14 + 40 + 4 * masks.size() + 4 * palette.size());
  putU32(out, static_cast<uint32_t>(offset + pixels.size()));
  putU32(out, 0);
  putU32(out, offset);
  avi::BitmapInfoHeader hd;
  hd.width = w;
  hd.height = h;
  hd.bitCount = static_cast<uint16_t>(bits);
  hd.compression = compression;
  hd.sizeImage = static_cast<uint32_t>(pixels.size());
  hd.clrUsed = static_cast<uint32_t>(palette.size());
  avi::appendBitmapInfoHeader(out, hd);
  for (uint32_t m : masks) putU32(out, m);
  for (const Rgb& c : palette) out.insert(out.end(), {c.b, c.g, c.r, 0});
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

const std::vector<Rgb> kFour = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

CodecStatus decode(const std::vector<uint8_t>& file, Picture& p, PixelBudget* budget = nullptr) {
  return decodeBmp(file.data(), file.size(), budget, p);
}

TEST(BmpCodec, Rle8RunsDeltasAndUnpaintedPixelsTransparent) {
  // 4 × 3, bottom-up: runs fill row 0 (the bottom); a delta skips column 0
  // of row 1; the end comes before the top row.
  const std::vector<uint8_t> rle = {2, 1, 1, 2, 1, 3, 0, 0,  // row 0: 1 1, 2, 3, end of line
                                    0, 2, 1, 0,              // delta: x + 1 on row 1
                                    1, 3, 0, 1};             // one 3, end of picture
  Picture p;
  ASSERT_EQ(decode(bmpFile(4, 3, 8, 1, kFour, rle), p), CodecStatus::Ok);
  ASSERT_TRUE(p.indexed);
  ASSERT_EQ(p.transparentIndex, 4);                // a new entry: the palette had room
  const std::vector<uint8_t> want = {4, 4, 4, 4,   // top row: never painted
                                     4, 3, 4, 4,   // row 1: the delta skipped column 0
                                     1, 1, 2, 3};  // bottom row
  EXPECT_EQ(p.pixels, want);
}

TEST(BmpCodec, RleOverrunsAndMissingEndAreDamage) {
  Picture p;
  // A run of 5 in a row of 4.
  EXPECT_EQ(decode(bmpFile(4, 1, 8, 1, kFour, {5, 1, 0, 1}), p), CodecStatus::Corrupt);
  // A delta that leaves the picture.
  EXPECT_EQ(decode(bmpFile(4, 1, 8, 1, kFour, {0, 2, 9, 0, 0, 1}), p), CodecStatus::Corrupt);
  // Data that stops before the end-of-picture mark.
  EXPECT_EQ(decode(bmpFile(4, 1, 8, 1, kFour, {4, 1}), p), CodecStatus::Corrupt);
  // A literal that reads past the data.
  EXPECT_EQ(decode(bmpFile(4, 1, 8, 1, kFour, {0, 4, 1, 2}), p), CodecStatus::Corrupt);
  // An index beyond the palette.
  EXPECT_EQ(decode(bmpFile(4, 1, 8, 1, kFour, {4, 7, 0, 1}), p), CodecStatus::Corrupt);
}

TEST(BmpCodec, Rle4OddLiteralsArePaddedToWords) {
  // A literal of 3 nibbles takes 2 bytes (+ none: already even); then 1 more by run.
  const std::vector<uint8_t> rle = {0, 3, 0x12, 0x30, 1, 0x20, 0, 1};
  Picture p;
  ASSERT_EQ(decode(bmpFile(4, 1, 4, 2, kFour, rle), p), CodecStatus::Ok);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{1, 2, 3, 2}));
  EXPECT_EQ(p.transparentIndex, -1);
}

TEST(BmpCodec, TopDownRowsAndBitfieldScaling) {
  // 2 × 2, 16 bits 5-6-5, top-down (negative height).
  std::vector<uint8_t> px;
  putU16(px, 0xF800);  // red at full
  putU16(px, 0x0020);  // green 1 of 63
  putU16(px, 0x001F);  // blue at full
  putU16(px, 0x0841);  // 1, 2, 1
  auto file = bmpFile(2, -2, 16, 3, {}, px, {0xF800, 0x07E0, 0x001F});
  Picture p;
  ASSERT_EQ(decode(file, p), CodecStatus::Ok);
  ASSERT_FALSE(p.indexed);
  const std::vector<uint8_t> want = {255, 0, 0,   255, 0, 4, 0, 255,   // top row as stored first
                                     0,   0, 255, 255, 8, 8, 8, 255};  // 1*255/31, 2*255/63
  EXPECT_EQ(p.pixels, want);
  // A colour channel without bits is damage.
  EXPECT_EQ(decode(bmpFile(2, -2, 16, 3, {}, px, {0xF800, 0x07E0, 0}), p), CodecStatus::Corrupt);
}

TEST(BmpCodec, SizesAreCheckedBeforeAnythingIsMade) {
  // 60000 × 60000 pixels claimed by a tiny file: refused as too large, not read.
  Picture p;
  PixelBudget budget(100);
  EXPECT_EQ(decode(bmpFile(60000, 60000, 8, 0, kFour, {0, 0, 0, 0}), p, &budget),
            CodecStatus::TooLarge);
  EXPECT_TRUE(p.pixels.empty());
  // Within the limit but beyond what the data holds: truncated.
  EXPECT_EQ(decode(bmpFile(100, 100, 8, 0, kFour, {0, 0, 0, 0}), p), CodecStatus::Corrupt);
  // Rows the file cannot hold are damage, found before any room is made for
  // them: 64 million pixels (within the budget) from a file of 74 bytes.
  const auto tiny = bmpFile(8000, 8000, 8, 0, kFour, {0, 0, 0, 0});
  PixelBudget fileBudget(static_cast<int64_t>(tiny.size()));
  const int64_t before = fileBudget.memoryLeft();
  EXPECT_EQ(decode(tiny, p, &fileBudget), CodecStatus::Corrupt);
  EXPECT_EQ(fileBudget.memoryLeft(), before) << "nothing taken from the budget";
}

TEST(BmpCodec, AlphaMaskAfterAShortV2Header) {
  // A 52-byte header holds three masks; with alpha bit fields the fourth
  // follows it, before the pixels.
  std::vector<uint8_t> f = {'B', 'M'};
  putU32(f, 14 + 56 + 4);
  putU32(f, 0);
  putU32(f, 14 + 56);
  avi::BitmapInfoHeader hd;
  hd.size = 52;
  hd.width = 1;
  hd.height = 1;
  hd.bitCount = 32;
  hd.compression = 6;
  hd.sizeImage = 4;
  avi::appendBitmapInfoHeader(f, hd);
  for (uint32_t m : {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u}) putU32(f, m);
  f.insert(f.end(), {1, 2, 3, 128});  // B, G, R, A
  Picture p;
  ASSERT_EQ(decode(f, p), CodecStatus::Ok);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{3, 2, 1, 128}));
  // A file (saying so in its size field) that ends right after the header:
  // refused without reading past the end (an allocation of exactly that
  // size, for the address sanitizer).
  auto cut = std::make_unique<uint8_t[]>(14 + 52);
  std::memcpy(cut.get(), f.data(), 14 + 52);
  cut[2] = 14 + 52;
  EXPECT_EQ(decodeBmp(cut.get(), 14 + 52, nullptr, p), CodecStatus::Corrupt);
}

TEST(BmpCodec, WritesTheFewestIndexBitsAndReadsBack) {
  for (int colours : {2, 16, 17, 256}) {
    Picture p;
    ASSERT_EQ(allocatePixels(p, 7, 3, true, nullptr), CodecStatus::Ok);
    for (int i = 0; i < colours; ++i)
      p.palette.push_back(Rgb{static_cast<uint8_t>(i), 1, static_cast<uint8_t>(255 - i)});
    for (size_t i = 0; i < p.pixels.size(); ++i)
      p.pixels[i] = static_cast<uint8_t>((i * 5) % colours);
    std::vector<uint8_t> file;
    ASSERT_EQ(encodeBmp(p, false, file), CodecStatus::Ok);
    const int bits = avi::getU16(file.data() + 28);
    EXPECT_EQ(bits, colours <= 2 ? 1 : colours <= 16 ? 4 : 8) << colours;
    Picture back;
    ASSERT_EQ(decode(file, back), CodecStatus::Ok);
    EXPECT_EQ(back.pixels, p.pixels);
    EXPECT_EQ(back.palette, p.palette);
    // The same as 24 bits: the colours, alpha opaque.
    ASSERT_EQ(encodeBmp(p, true, file), CodecStatus::Ok);
    ASSERT_EQ(decode(file, back), CodecStatus::Ok);
    ASSERT_FALSE(back.indexed);
    for (size_t i = 0; i < p.pixels.size(); ++i) {
      const Rgb c = p.palette[p.pixels[i]];
      ASSERT_EQ(back.pixels[4 * i], c.r);
      ASSERT_EQ(back.pixels[4 * i + 2], c.b);
    }
  }
}

TEST(IconCodec, MasksBecomeTransparencyAndAFullPaletteTurnsTrueColour) {
  Picture p;
  ASSERT_EQ(allocatePixels(p, 3, 2, true, nullptr), CodecStatus::Ok);
  p.palette.assign(256, Rgb{9, 9, 9});
  for (int i = 0; i < 6; ++i) p.pixels[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 50);
  p.palette[200] = Rgb{1, 2, 3};
  p.transparentIndex = 250;  // pixel 5
  IconFile icon;
  icon.cursor = true;
  icon.entries.emplace_back();
  icon.entries[0].picture = p;
  icon.entries[0].picture.hotspotX = 2;
  icon.entries[0].picture.hotspotY = 1;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodeIcon(icon, bytes), CodecStatus::Ok);
  IconFile back;
  ASSERT_EQ(decodeIcon(bytes.data(), bytes.size(), nullptr, back), CodecStatus::Ok);
  ASSERT_TRUE(back.cursor);
  ASSERT_EQ(back.entries.size(), 1u);
  const Picture& q = back.entries[0].picture;
  EXPECT_EQ(q.hotspotX, 2);
  EXPECT_EQ(q.hotspotY, 1);
  // 256 entries: the hidden pixel takes an index no visible pixel uses.
  ASSERT_TRUE(q.indexed);
  ASSERT_GE(q.transparentIndex, 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(q.pixels[static_cast<size_t>(i)], p.pixels[static_cast<size_t>(i)]);
    EXPECT_NE(q.pixels[static_cast<size_t>(i)], q.transparentIndex);
  }
  EXPECT_EQ(q.pixels[5], q.transparentIndex);
  EXPECT_EQ(q.palette[200], (Rgb{1, 2, 3}));

  // Every entry visible somewhere: no index is free, so the picture turns true colour.
  Picture full;
  ASSERT_EQ(allocatePixels(full, 16, 17, true, nullptr), CodecStatus::Ok);
  full.palette.assign(256, Rgb{});
  for (int i = 0; i < 256; ++i)
    full.palette[static_cast<size_t>(i)] = Rgb{static_cast<uint8_t>(i), 0, 0};
  for (size_t i = 0; i < full.pixels.size(); ++i) full.pixels[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> hidden(full.pixels.size(), 0);
  hidden.back() = 1;  // pixel 271 (index 15), which also shows at pixel 15
  ASSERT_TRUE(applyTransparency(full, hidden));
  ASSERT_FALSE(full.indexed);
  EXPECT_EQ(full.pixels[4 * 271 + 3], 0);
  EXPECT_EQ(full.pixels[4 * 15 + 3], 255);
  EXPECT_EQ(full.pixels[4 * 15], 15);
}

TEST(IconCodec, DirectoriesPointingOutsideTheFileAreDamage) {
  Picture p;
  ASSERT_EQ(allocatePixels(p, 2, 2, false, nullptr), CodecStatus::Ok);
  IconFile icon;
  icon.entries.emplace_back();
  icon.entries[0].picture = p;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodeIcon(icon, bytes), CodecStatus::Ok);
  IconFile back;
  auto damaged = bytes;
  damaged[6 + 8] = 0xFF;  // the image's length beyond the file
  EXPECT_EQ(decodeIcon(damaged.data(), damaged.size(), nullptr, back), CodecStatus::Corrupt);
  damaged = bytes;
  damaged[4] = 200;  // more entries than the directory can hold
  EXPECT_EQ(decodeIcon(damaged.data(), damaged.size(), nullptr, back), CodecStatus::Corrupt);
  // Pictures over 256 pixels do not fit an entry.
  ASSERT_EQ(allocatePixels(icon.entries[0].picture, 257, 1, false, nullptr), CodecStatus::Ok);
  EXPECT_EQ(encodeIcon(icon, bytes), CodecStatus::TooLarge);
}

TEST(IconCodec, PngImagesSharingBytesAreDamage) {
  // Two directory entries naming the same PNG bytes: each would be copied
  // and decoded again, so a small file could name the same image 65535 times.
  const uint8_t png[12] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3, 4};
  auto iconWith = [&](uint32_t secondOffset) {
    std::vector<uint8_t> f;
    putU16(f, 0);
    putU16(f, 1);
    putU16(f, 2);
    const uint32_t first = 6 + 2 * 16;
    for (uint32_t offset : {first, secondOffset}) {
      f.insert(f.end(), {1, 1, 0, 0});
      putU16(f, 1);
      putU16(f, 32);
      putU32(f, sizeof png);
      putU32(f, offset);
    }
    f.insert(f.end(), png, png + sizeof png);
    f.insert(f.end(), png, png + sizeof png);
    return f;
  };
  IconFile back;
  auto apart = iconWith(6 + 2 * 16 + sizeof png);
  ASSERT_EQ(decodeIcon(apart.data(), apart.size(), nullptr, back), CodecStatus::Ok);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[1].png, std::vector<uint8_t>(png, png + sizeof png));
  auto shared = iconWith(6 + 2 * 16);
  EXPECT_EQ(decodeIcon(shared.data(), shared.size(), nullptr, back), CodecStatus::Corrupt);
}

AniFile twoFrameAni() {
  AniFile ani;
  for (int f = 0; f < 2; ++f) {
    IconFile icon;
    icon.cursor = true;
    icon.entries.emplace_back();
    Picture& p = icon.entries[0].picture;
    EXPECT_EQ(allocatePixels(p, 2, 2, false, nullptr), CodecStatus::Ok);
    for (size_t i = 0; i < 4; ++i) {
      p.pixels[4 * i] = static_cast<uint8_t>(100 * f);
      p.pixels[4 * i + 3] = 255;
    }
    ani.frames.push_back(icon);
    ani.steps.push_back({f, 3 + f});
  }
  ani.title = "Walk";
  return ani;
}

TEST(AniCodec, StepsRatesAndSequence) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodeAni(twoFrameAni(), bytes), CodecStatus::Ok);
  AniFile back;
  ASSERT_EQ(decodeAni(bytes.data(), bytes.size(), nullptr, back), CodecStatus::Ok);
  EXPECT_EQ(back.title, "Walk");
  ASSERT_EQ(back.steps.size(), 2u);
  EXPECT_EQ(back.steps[1].frame, 1);
  EXPECT_EQ(back.steps[1].jiffies, 4);
  // A sequence shows frames again, in its own order; one naming a frame
  // that does not exist is damage.
  std::vector<uint8_t> seq;
  putU32(seq, avi::fourcc("seq "));
  putU32(seq, 12);
  for (uint32_t f : {1u, 0u, 1u}) putU32(seq, f);
  auto withSeq = bytes;
  withSeq.insert(withSeq.end(), seq.begin(), seq.end());
  // Three steps need the header to say so.
  const size_t anih = std::string(withSeq.begin(), withSeq.end()).find("anih");
  withSeq[anih + 8 + 8] = 3;
  ASSERT_EQ(decodeAni(withSeq.data(), withSeq.size(), nullptr, back), CodecStatus::Ok);
  ASSERT_EQ(back.steps.size(), 3u);
  EXPECT_EQ(back.steps[0].frame, 1);
  EXPECT_EQ(back.steps[2].frame, 1);
  withSeq[withSeq.size() - 4] = 2;
  EXPECT_EQ(decodeAni(withSeq.data(), withSeq.size(), nullptr, back), CodecStatus::Corrupt);
}

TEST(AniCodec, JiffiesAndHundredthsRoundToTheNearest) {
  EXPECT_EQ(jiffiesToHundredths(10), 17);
  EXPECT_EQ(jiffiesToHundredths(20), 33);
  EXPECT_EQ(hundredthsToJiffies(10), 6);
  for (int h = 0; h < 300; h += 5) EXPECT_EQ(jiffiesToHundredths(hundredthsToJiffies(h)), h);
}

TEST(PsdCodec, PackBitsRoundTripsAndRefusesOverruns) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i < 140 ? 7 : i * 31));
  std::vector<uint8_t> packed;
  packBits(data.data(), data.size(), packed);
  EXPECT_LT(packed.size(), data.size());
  std::vector<uint8_t> back(data.size());
  ASSERT_TRUE(unpackBits(packed.data(), packed.size(), back.data(), back.size()));
  EXPECT_EQ(back, data);
  // A run longer than the row, and data that stops early.
  const uint8_t longRun[] = {0x81, 5};  // 128 × 5
  EXPECT_FALSE(unpackBits(longRun, 2, back.data(), 100));
  EXPECT_FALSE(unpackBits(packed.data(), packed.size() / 2, back.data(), back.size()));
}

Picture layer(int w, int h, int left, int top, uint8_t red, const std::string& name) {
  Picture p;
  EXPECT_EQ(allocatePixels(p, w, h, false, nullptr), CodecStatus::Ok);
  p.left = left;
  p.top = top;
  p.name = name;
  for (size_t i = 0; i < p.pixels.size() / 4; ++i) {
    p.pixels[4 * i] = red;
    p.pixels[4 * i + 1] = static_cast<uint8_t>(i);
    p.pixels[4 * i + 3] = i % 3 ? 255 : 0;
  }
  return p;
}

TEST(PsdCodec, LayersKeepPlaceNamesAndTransparencyWithChannelOrMask) {
  const std::vector<Picture> layers = {layer(5, 4, 0, 0, 10, "Bottom"),
                                       layer(3, 3, -1, 2, 200, "帧 2")};
  for (bool mask : {false, true}) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(encodePsd(layers, 6, 6, mask, bytes), CodecStatus::Ok);
    PsdImage back;
    ASSERT_EQ(decodePsd(bytes.data(), bytes.size(), nullptr, back), CodecStatus::Ok);
    ASSERT_TRUE(back.layered);
    ASSERT_EQ(back.pictures.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
      const Picture& a = layers[k];
      const Picture& b = back.pictures[k];
      EXPECT_EQ(b.name, a.name);
      EXPECT_EQ(b.left, a.left);
      EXPECT_EQ(b.top, a.top);
      ASSERT_EQ(b.width, a.width);
      for (size_t i = 0; i < a.pixels.size() / 4; ++i) {
        EXPECT_EQ(b.pixels[4 * i + 3], a.pixels[4 * i + 3]) << mask << " " << k << " " << i;
        if (a.pixels[4 * i + 3]) {
          EXPECT_EQ(b.pixels[4 * i], a.pixels[4 * i]);
        }
      }
    }
  }
}

TEST(PsdCodec, HiddenLayersAndOpacity) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodePsd({layer(2, 2, 0, 0, 1, "a"), layer(2, 2, 0, 0, 2, "b")}, 2, 2, false, bytes),
            CodecStatus::Ok);
  // The first record starts after the header (26), two empty sections (8),
  // the section and info lengths (8) and the count (2); its opacity and flags
  // follow the rectangle (16), the channels (2 + 24) and the blend key (8).
  const size_t record = 26 + 8 + 8 + 2;
  const size_t opacity = record + 16 + 2 + 24 + 8;
  auto hidden = bytes;
  hidden[opacity + 2] |= 0x02;
  PsdImage back;
  ASSERT_EQ(decodePsd(hidden.data(), hidden.size(), nullptr, back), CodecStatus::Ok);
  ASSERT_EQ(back.pictures.size(), 1u);
  EXPECT_EQ(back.pictures[0].name, "b");
  auto half = bytes;
  half[opacity] = 128;
  ASSERT_EQ(decodePsd(half.data(), half.size(), nullptr, back), CodecStatus::Ok);
  EXPECT_EQ(back.pictures[0].pixels[3 + 4], 128);  // 255 at half opacity
  EXPECT_EQ(back.pictures[0].pixels[3], 0);
}

TEST(PsdCodec, DamagedSizesAreRefused) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodePsd({layer(4, 4, 0, 0, 1, "a")}, 4, 4, false, bytes), CodecStatus::Ok);
  PsdImage back;
  // Cut in the header, in the layer record, in the layer's pixels.
  for (size_t cut : {size_t{20}, size_t{60}, bytes.size() / 2}) {
    back = PsdImage{};
    EXPECT_NE(decodePsd(bytes.data(), cut, nullptr, back), CodecStatus::Ok) << cut;
  }
  // A layer the file's pixel budget cannot hold.
  auto big = bytes;
  const size_t record = 26 + 8 + 8 + 2;
  big[record + 8] = 0x7F;  // bottom far below
  PixelBudget budget(static_cast<int64_t>(big.size()));
  EXPECT_NE(decodePsd(big.data(), big.size(), &budget, back), CodecStatus::Ok);
}

TEST(PsdCodec, LayerMasksCountAgainstTheBudget) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodePsd({layer(1, 1, 0, 0, 1, "a")}, 1, 1, true, bytes), CodecStatus::Ok);
  // The record's extra data follows the rectangle (16), the channels (2 + 24),
  // the blend key (8) and opacity, clipping, flags and filler (4); the mask's
  // rectangle follows its length.
  const size_t mask = 26 + 8 + 8 + 2 + 16 + 26 + 8 + 4 + 4;
  ASSERT_EQ(bytes[mask + 3], 20);
  // A mask of 8200 × 8200 for a layer of one pixel, in a file of some bytes.
  auto big = bytes;
  for (size_t at : {mask + 4 + 8, mask + 4 + 12}) {
    big[at + 2] = 8200 >> 8;
    big[at + 3] = 8200 & 0xFF;
  }
  PixelBudget budget(static_cast<int64_t>(big.size()));
  PsdImage back;
  EXPECT_EQ(decodePsd(big.data(), big.size(), &budget, back), CodecStatus::TooLarge);
}

TEST(JpegCodec, ExifOrientationAndTurning) {
  // "Exif\0\0", a big-endian TIFF header, one entry: orientation 6.
  std::vector<uint8_t> exif = {'E', 'x', 'i',  'f',  0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
                               0,   1,   0x01, 0x12, 0, 3, 0,   0,   0, 1,  0, 6, 0, 0};
  EXPECT_EQ(exifOrientation(exif.data(), exif.size()), 6);
  EXPECT_EQ(exifOrientation(exif.data(), 20), 0);  // the entry cut off
  exif[25] = 9;
  EXPECT_EQ(exifOrientation(exif.data(), exif.size()), 0);
  // Orientation 6: the stored picture turned a quarter clockwise.
  Picture p;
  ASSERT_EQ(allocatePixels(p, 3, 2, true, nullptr), CodecStatus::Ok);
  p.pixels = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(applyOrientation(p, 6));
  EXPECT_EQ(p.width, 2);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{4, 1, 5, 2, 6, 3}));
}

TEST(JpegCodec, WritesAndReadsBackClose) {
  Picture p;
  ASSERT_EQ(allocatePixels(p, 40, 30, false, nullptr), CodecStatus::Ok);
  for (size_t i = 0; i < p.pixels.size(); i += 4) {
    p.pixels[i] = static_cast<uint8_t>(i % 160);
    p.pixels[i + 1] = 90;
    p.pixels[i + 2] = static_cast<uint8_t>(255 - i % 200);
  }
  std::vector<uint8_t> low, high;
  ASSERT_EQ(encodeJpeg(p, 50, low), CodecStatus::Ok);
  ASSERT_EQ(encodeJpeg(p, 95, high), CodecStatus::Ok);
  EXPECT_LT(low.size(), high.size());
  Picture back;
  ASSERT_EQ(decodeJpeg(high.data(), high.size(), nullptr, back), CodecStatus::Ok);
  int worst = 0;
  for (size_t i = 0; i < p.pixels.size(); ++i)
    worst = std::max(worst, std::abs(p.pixels[i] - back.pixels[i]) * (i % 4 != 3));
  EXPECT_LT(worst, 24);
  // Cut short or not a JPEG at all.
  EXPECT_NE(decodeJpeg(high.data(), 100, nullptr, back), CodecStatus::Ok);
  EXPECT_EQ(decodeJpeg(low.data() + 2, low.size() - 2, nullptr, back), CodecStatus::Corrupt);
}

TEST(JpegCodec, PicturesCutShortAreDamageButAMissingEndMarkerIsNot) {
  Picture p;
  ASSERT_EQ(allocatePixels(p, 64, 64, false, nullptr), CodecStatus::Ok);
  for (size_t i = 0; i < p.pixels.size(); ++i) p.pixels[i] = static_cast<uint8_t>(i * 37 % 251);
  std::vector<uint8_t> whole;
  ASSERT_EQ(encodeJpeg(p, 95, whole), CodecStatus::Ok);
  Picture full, back;
  ASSERT_EQ(decodeJpeg(whole.data(), whole.size(), nullptr, full), CodecStatus::Ok);
  // Without its last third the bottom rows were never stored.
  EXPECT_EQ(decodeJpeg(whole.data(), whole.size() * 2 / 3, nullptr, back), CodecStatus::Corrupt);
  // All the pixels, only the end-of-image marker missing: the same picture.
  ASSERT_EQ(decodeJpeg(whole.data(), whole.size() - 2, nullptr, back), CodecStatus::Ok);
  EXPECT_EQ(back.pixels, full.pixels);
  // A progressive file cut in its first scan, and in its last.
  const auto progressive = fbtest::readBytes(fbtest::dataPath("jpeg/progressive.jpg"));
  ASSERT_EQ(decodeJpeg(progressive.data(), progressive.size(), nullptr, back), CodecStatus::Ok);
  const uint8_t sos[2] = {0xFF, 0xDA};
  const size_t scan = static_cast<size_t>(
      std::search(progressive.begin(), progressive.end(), sos, sos + 2) - progressive.begin());
  ASSERT_LT(scan + 4, progressive.size());
  const size_t firstData = scan + 2 + (progressive[scan + 2] << 8 | progressive[scan + 3]);
  for (size_t cut : {firstData + 6, progressive.size() - 8})
    EXPECT_EQ(decodeJpeg(progressive.data(), cut, nullptr, back), CodecStatus::Corrupt) << cut;
}

TEST(SwfCodec, TimingDividesEveryDelay) {
  SwfTiming t = swfTiming({10, 20, 30});
  EXPECT_EQ(t.period, 10);
  EXPECT_EQ(t.frames, (std::vector<int>{1, 2, 3}));
  t = swfTiming({150, 300, 0});
  EXPECT_EQ(t.period, 75);  // at least one frame a second
  EXPECT_EQ(t.frames, (std::vector<int>{2, 4, 1}));
  t = swfTiming({7, 13});
  EXPECT_EQ(t.period, 1);
  EXPECT_EQ(t.frames, (std::vector<int>{7, 13}));
  EXPECT_EQ(swfTiming({0, 0}).period, 10);
  EXPECT_EQ(swfFrameRate(10), 2560);
  EXPECT_EQ(swfFrameRate(3), 8533);
}

TEST(SwfCodec, RefusesMoreFramesThanTheFormatCounts) {
  Picture p;
  ASSERT_EQ(allocatePixels(p, 1, 1, false, nullptr), CodecStatus::Ok);
  SwfMovie m;
  m.width = m.height = 1;
  m.shots = {{&p, 40000}, {&p, 40000}};
  std::vector<uint8_t> out;
  EXPECT_EQ(encodeSwf(m, out), CodecStatus::TooLarge);
  m.shots = {{&p, 3}};
  m.playOnce = true;
  ASSERT_EQ(encodeSwf(m, out), CodecStatus::Ok);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "CWS");
}

// Bit fields, most significant bit first, as SWF records hold them.
struct SwfBits {
  const std::vector<uint8_t>& d;
  size_t bit;
  uint32_t u(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) v = v << 1 | ((d.at(bit >> 3) >> (7 - (bit & 7))) & 1);
    return v;
  }
  int32_t s(int n) {
    const uint32_t v = u(n);
    return n && (v >> (n - 1)) ? static_cast<int32_t>(v - (uint64_t{1} << n))
                               : static_cast<int32_t>(v);
  }
  size_t end() const { return (bit + 7) / 8; }
};

// The far corner of the first shape's outline, walked edge by edge; the
// outline must close.
std::pair<int32_t, int32_t> swfShapeCorner(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> body(avi::getU32(file.data() + 4) - 8);
  uLongf n = body.size();
  EXPECT_EQ(uncompress(body.data(), &n, file.data() + 8, file.size() - 8), Z_OK);
  SwfBits stage{body, 0};
  stage.u(4 * static_cast<int>(stage.u(5)));  // the stage's rectangle
  size_t at = stage.end() + 4;                // then the frame rate and count
  while (at + 2 <= body.size()) {
    const uint32_t codeLength = avi::getU16(body.data() + at);
    at += 2;
    size_t length = codeLength & 0x3F;
    if (length == 0x3F) {
      length = avi::getU32(body.data() + at);
      at += 4;
    }
    if (codeLength >> 6 != 2) {
      at += length;
      continue;
    }
    SwfBits b{body, 8 * (at + 2)};
    const int rb = static_cast<int>(b.u(5));
    b.u(4 * rb);
    b.bit = 8 * (b.end() + 4);                      // one fill style: kind and bitmap
    if (b.u(1)) b.u(2 * static_cast<int>(b.u(5)));  // scale
    if (b.u(1)) b.u(2 * static_cast<int>(b.u(5)));  // rotation
    b.u(2 * static_cast<int>(b.u(5)));              // translation
    b.bit = 8 * (b.end() + 1);                      // no line styles
    const int fillBits = static_cast<int>(b.u(4)), lineBits = static_cast<int>(b.u(4));
    int32_t x = 0, y = 0, maxX = 0, maxY = 0;
    for (;;) {
      if (!b.u(1)) {
        const uint32_t flags = b.u(5);
        if (!flags) break;
        if (flags & 1) {
          const int mb = static_cast<int>(b.u(5));
          x = b.s(mb);
          y = b.s(mb);
        }
        if (flags & 2) b.u(fillBits);
        if (flags & 4) b.u(fillBits);
        if (flags & 8) b.u(lineBits);
        EXPECT_FALSE(flags & 16) << "no new styles";
        continue;
      }
      EXPECT_TRUE(b.u(1)) << "straight edges only";
      const int eb = static_cast<int>(b.u(4)) + 2;
      if (b.u(1)) {
        x += b.s(eb);
        y += b.s(eb);
      } else if (b.u(1)) {
        y += b.s(eb);
      } else {
        x += b.s(eb);
      }
      maxX = std::max(maxX, x);
      maxY = std::max(maxY, y);
    }
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    return {maxX, maxY};
  }
  ADD_FAILURE() << "no shape";
  return {};
}

TEST(SwfCodec, ShapesOutlineWideStages) {
  // An edge holds at most 17 signed bits: 65535 twips, 3276 pixels.
  for (int w : {3, 3276, 3300, 8000}) {
    Picture p;
    ASSERT_EQ(allocatePixels(p, w, 2, false, nullptr), CodecStatus::Ok);
    SwfMovie m;
    m.width = w;
    m.height = 2;
    m.shots = {{&p, 1}};
    std::vector<uint8_t> out;
    ASSERT_EQ(encodeSwf(m, out), CodecStatus::Ok);
    EXPECT_EQ(swfShapeCorner(out), std::make_pair(w * 20, 2 * 20)) << w;
  }
}

TEST(PaletteFiles, JascAndRiff) {
  const std::string jasc = "JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n255 254 253\r\n";
  std::vector<Rgb> c;
  PaletteFileKind kind;
  ASSERT_EQ(decodePaletteFile(reinterpret_cast<const uint8_t*>(jasc.data()), jasc.size(), c, &kind),
            CodecStatus::Ok);
  EXPECT_EQ(kind, PaletteFileKind::Jasc);
  EXPECT_EQ(c, (std::vector<Rgb>{{1, 2, 3}, {255, 254, 253}}));
  for (std::string bad : {"JASC-PAL\n0100\n2\n1 2 3\n", "JASC-PAL\n0100\n1\n1 2 256\n",
                          "JASC-PAL\n0100\n1\n1 2\n", "JASC-PAL\n0100\nx\n"})
    EXPECT_EQ(decodePaletteFile(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), c),
              CodecStatus::Corrupt)
        << bad;
  const std::string many = "JASC-PAL\n0100\n300\n";
  EXPECT_EQ(decodePaletteFile(reinterpret_cast<const uint8_t*>(many.data()), many.size(), c),
            CodecStatus::Unsupported);
  std::vector<uint8_t> riff;
  encodeRiffPalette({{9, 8, 7}}, riff);
  ASSERT_EQ(decodePaletteFile(riff.data(), riff.size(), c, &kind), CodecStatus::Ok);
  EXPECT_EQ(kind, PaletteFileKind::Riff);
  EXPECT_EQ(c, (std::vector<Rgb>{{9, 8, 7}}));
  riff[22] = 9;  // more entries than the chunk holds
  EXPECT_EQ(decodePaletteFile(riff.data(), riff.size(), c), CodecStatus::Corrupt);
}

}  // namespace
