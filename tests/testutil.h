// Helpers shared by the test suites.
#pragma once

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "document/animation.h"
#include "gif/gif_reader.h"

namespace fbtest {

inline std::string dataPath(const std::string& rel) {
  return std::string(FB_TEST_DATA) + "/" + rel;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Reads GIF bytes from memory; returns the reader's result.
inline int readGifBytes(const std::vector<uint8_t>& bytes, std::unique_ptr<fb::Animation>& a,
                        fb::Progress* progress = nullptr, const fb::GifReadOptions& options = {}) {
  fb::MemorySource src(bytes.data(), bytes.size());
  if (!fb::isGifSignature(src)) return -1;
  return fb::readGif(src, progress, a, options);
}

// Everything a document holds, as one string: two documents with equal
// digests show the same pictures, encode to the same bytes and have the same
// selection. (Derived data, masks and display caches, is left out.)
inline std::string digest(const fb::Animation& a) {
  std::string out;
  auto put = [&](int64_t v) { out += std::to_string(v) + ","; };
  auto bytes = [&](const uint8_t* p, size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
    out += "|";
  };
  auto palette = [&](const fb::Palette* p) {
    if (!p) return put(-1);
    put(p->count);
    bytes(reinterpret_cast<const uint8_t*>(p->entries.data()), 3 * static_cast<size_t>(p->count));
  };
  for (int64_t v : {int64_t{a.width}, int64_t{a.height}, int64_t{a.playCount},
                    int64_t{a.frameCount()}, int64_t{a.hideFirstFrame}, int64_t{a.apngRules},
                    int64_t{a.anchorIndex}, int64_t{a.selectedCount}, int64_t{a.screenFlags},
                    int64_t{a.backgroundIndex}, int64_t{a.aspectRatio}, int64_t{a.encodedSize},
                    int64_t{a.smallestEncoding}})
    put(v);
  palette(a.globalPalette.get());
  for (const fb::Block* b = a.head->next; b; b = b->next) {
    put(b->tag);
    if (!b->isFrame()) {
      bytes(b->payload.data(), b->payload.size());
      continue;
    }
    const auto& f = static_cast<const fb::Frame&>(*b);
    for (int64_t v :
         {int64_t{f.selected}, int64_t{f.left}, int64_t{f.top}, int64_t{f.width}, int64_t{f.height},
          int64_t{f.hotspotX}, int64_t{f.hotspotY}, int64_t{f.delay}, int64_t{f.blend},
          int64_t{f.controlFlags}, int64_t{f.transparentIndex}, int64_t{f.imageFlags}})
      put(v);
    out += fb::frameName(f) + "|";
    palette(f.localPalette.get());
    palette(f.palette());
    if (f.dib) {
      for (int y = 0; y < f.dib->height; ++y)
        bytes(f.dib->row(y), static_cast<size_t>(f.dib->width));
    } else {
      put(-2);
    }
    bytes(f.rgb.data(), f.rgb.size());
    bytes(f.alpha.data(), f.alpha.size());
    put(f.transparent() && f.dib ? (f.mask ? 1 : 0) : 2);  // a transparent frame has its mask
  }
  return out;
}

// Every frame's delay, in order.
inline std::vector<int> delaysOf(const fb::Animation& a) {
  std::vector<int> out;
  for (fb::Frame* f = fb::firstFrame(a); f; f = fb::nextFrame(f)) out.push_back(f->delay);
  return out;
}

inline int readGifPath(const std::string& path, std::unique_ptr<fb::Animation>& a) {
  return readGifBytes(readBytes(path), a);
}

// A temporary folder removed at the end of the scope.
class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "fbtest-XXXXXX").string();
    path_ = ::mkdtemp(t.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Builds GIF streams byte by byte for reader tests.
class GifBuilder {
 public:
  GifBuilder& header(const char* sig = "GIF89a") {
    for (int i = 0; i < 6; ++i) bytes.push_back(static_cast<uint8_t>(sig[i]));
    return *this;
  }
  GifBuilder& screen(int w, int h, int packed, int bg = 0, int aspect = 0) {
    u16(w);
    u16(h);
    bytes.push_back(static_cast<uint8_t>(packed));
    bytes.push_back(static_cast<uint8_t>(bg));
    bytes.push_back(static_cast<uint8_t>(aspect));
    return *this;
  }
  GifBuilder& colours(int n) {  // a grey ramp
    for (int i = 0; i < n; ++i) {
      uint8_t v = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
      bytes.insert(bytes.end(), {v, v, v});
    }
    return *this;
  }
  GifBuilder& gce(int packed, int delay, int transparent) {
    bytes.insert(bytes.end(), {0x21, 0xF9, 0x04, static_cast<uint8_t>(packed)});
    u16(delay);
    bytes.push_back(static_cast<uint8_t>(transparent));
    bytes.push_back(0);
    return *this;
  }
  GifBuilder& descriptor(int l, int t, int w, int h, int packed = 0) {
    bytes.push_back(0x2C);
    u16(l);
    u16(t);
    u16(w);
    u16(h);
    bytes.push_back(static_cast<uint8_t>(packed));
    return *this;
  }
  // Image data for `pixels` with literal codes only (a clear before the width grows).
  GifBuilder& image(int minCodeSize, const std::vector<uint8_t>& pixels, bool endCode = true,
                    bool terminator = true, size_t subBlock = 255) {
    bytes.push_back(static_cast<uint8_t>(minCodeSize));
    std::vector<int> codes;
    int clear = 1 << minCodeSize;
    int perRun = clear - 3 > 0 ? clear - 3 : 1;
    codes.push_back(clear);
    int run = 0;
    for (uint8_t p : pixels) {
      if (run == perRun) {
        codes.push_back(clear);
        run = 0;
      }
      codes.push_back(p);
      ++run;
    }
    if (endCode) codes.push_back(clear + 1);
    return codeData(codes, minCodeSize + 1, terminator, subBlock);
  }
  // Raw codes of a fixed width, packed LSB first into sub-blocks.
  GifBuilder& codeData(const std::vector<int>& codes, int width, bool terminator = true,
                       size_t subBlock = 255) {
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int n = 0;
    for (int c : codes) {
      acc |= static_cast<uint32_t>(c) << n;
      n += width;
      while (n >= 8) {
        data.push_back(static_cast<uint8_t>(acc));
        acc >>= 8;
        n -= 8;
      }
    }
    if (n > 0) data.push_back(static_cast<uint8_t>(acc));
    return subBlocks(data, terminator, subBlock);
  }
  GifBuilder& subBlocks(const std::vector<uint8_t>& data, bool terminator = true,
                        size_t subBlock = 255) {
    for (size_t i = 0; i < data.size(); i += subBlock) {
      size_t k = std::min(subBlock, data.size() - i);
      bytes.push_back(static_cast<uint8_t>(k));
      bytes.insert(bytes.end(), data.begin() + static_cast<long>(i),
                   data.begin() + static_cast<long>(i + k));
    }
    if (terminator) bytes.push_back(0);
    return *this;
  }
  GifBuilder& loop(int count) {
    static const uint8_t kApp[16] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S',  'C',
                                     'A',  'P',  'E',  '2', '.', '0', 0x03, 0x01};
    bytes.insert(bytes.end(), kApp, kApp + 16);
    u16(count);
    bytes.push_back(0);
    return *this;
  }
  GifBuilder& comment(const std::string& text) {
    bytes.insert(bytes.end(), {0x21, 0xFE, static_cast<uint8_t>(text.size())});
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return *this;
  }
  GifBuilder& raw(std::initializer_list<uint8_t> b) {
    bytes.insert(bytes.end(), b);
    return *this;
  }
  GifBuilder& trailer() {
    bytes.push_back(0x3B);
    return *this;
  }
  void u16(int v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  std::vector<uint8_t> bytes;
};

// The indices of a grainy photograph: smooth colours with noise from `rng`,
// each matched to the nearest of 256 unordered colours (`palette`, made
// from `paletteSeed`), so that neighbouring indices have nothing in common.
inline std::vector<uint8_t> grainyPhotograph(int w, int h, std::mt19937& rng,
                                             uint32_t paletteSeed,
                                             std::array<std::array<int, 3>, 256>* palette = nullptr) {
  std::mt19937 colours(paletteSeed);
  std::array<std::array<int, 3>, 256> pal;
  for (auto& c : pal)
    for (int& v : c) v = int(colours() % 256);
  if (palette) *palette = pal;
  std::vector<uint8_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int r = int(128 + 90 * std::sin(x / 53.0)) + int(rng() % 17) - 8;
      const int g = int(128 + 90 * std::sin(y / 41.0)) + int(rng() % 17) - 8;
      const int b = int(128 + 90 * std::sin((x + y) / 67.0)) + int(rng() % 17) - 8;
      int best = 0, bestDistance = 1 << 30;
      for (int i = 0; i < 256; ++i) {
        const int d = (r - pal[i][0]) * (r - pal[i][0]) + (g - pal[i][1]) * (g - pal[i][1]) +
                      (b - pal[i][2]) * (b - pal[i][2]);
        if (d < bestDistance) bestDistance = d, best = i;
      }
      px[size_t(y) * w + x] = uint8_t(best);
    }
  return px;
}

}  // namespace fbtest
