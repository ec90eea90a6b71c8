// LZW both ways. Pixels made from the input are encoded in either layout
// (after a lossy or flexible pass, when the input asks) and must decode to
// exactly what was encoded, through all three decoding paths; the counted
// size must be the written one. The input's bytes are also decoded as image
// data, where the three paths must agree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "document/palette.h"
#include "gif/gif_writer.h"
#include "gif/lzw_decoder.h"
#include "gif/lzw_encoder.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Decodes sub-block bytes with each path; all must give the same pixels and
// results. Returns what decodeAll gave.
std::vector<uint8_t> decodeEveryWay(const uint8_t* data, size_t size, bool terminated,
                                    int minCodeSize, size_t count) {
  static fb::LzwDecoder whole, pieces, single;
  whole.initFromData(data, size, terminated, minCodeSize);
  pieces.initFromData(data, size, terminated, minCodeSize);
  single.initFromData(data, size, terminated, minCodeSize);
  std::vector<uint8_t> a(count + fb::LzwDecoder::kSlack), b(count);
  const size_t na = whole.decodeAll(a.data(), count);
  size_t nb = 0;
  while (nb < count) {
    const size_t want = std::min<size_t>(37, count - nb), got = pieces.decode(b.data() + nb, want);
    nb += got;
    if (got < want) break;
  }
  size_t nc = 0;
  int last = 0;
  for (; nc < count; ++nc) {
    last = single.nextPixel();
    if (last < 0) break;
    check(a[nc] == last);
  }
  check(na == nb && na == nc && std::memcmp(a.data(), b.data(), na) == 0);
  if (na < count) check(whole.status() == pieces.status() && whole.status() == last);
  a.resize(na);
  return a;
}

struct Random {
  uint64_t s;
  uint32_t next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(s >> 33);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  decodeEveryWay(data + 4, size - 4, data[1] & 1, data[0] % 9,
                 1 + (size_t{data[2]} << 8 | data[3]));

  const int flags = data[0];
  const auto layout = flags & 1 ? fb::LzwLayout::Smallest : fb::LzwLayout::Standard;
  const int mode = (flags >> 1) % 3;  // exact, lossy, flexible
  const bool interlaced = flags & 8;
  const int codeSize = 2 + data[1] % 7;
  int w = 1 + data[2] % 200, h = 1 + data[3] % 200;
  if (data[4] & 0x80) w = 1 + (data[4] & 0x7F) * 8, h = 1 + data[5] * 2;  // tables fill up
  const int stride = w + (flags >> 4) % 4, colours = 1 + data[5] % (1 << codeSize);
  // Runs of indices from the input, then from a generator it seeds.
  Random r{0};
  for (size_t k = 0; k < size; ++k) r.s = r.s * 131 + data[k];
  std::vector<uint8_t> px(static_cast<size_t>(stride) * h, 0xEE);
  size_t at = 6;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w;) {
      const uint8_t b = at < size ? data[at++] : static_cast<uint8_t>(r.next());
      const int run = 1 + (b >> 5) * (b >> 5);
      const int v = (r.next() & 7) ? (b & 31) % colours : static_cast<int>(r.next() % colours);
      for (int k = 0; k < run && x < w; ++k, ++x) px[static_cast<size_t>(y) * stride + x] = uint8_t(v);
    }
  const std::vector<uint8_t> original = px;
  const fb::LzwImage image{px.data(), w, h, stride, interlaced};
  if (mode == 1) {
    fb::Palette palette;
    palette.count = colours;
    for (int i = 0; i < colours; ++i)
      palette[i] = fb::Rgb{uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 3)};
    const int t = flags & 0x40 ? data[1] % colours : -1;
    fb::lossyLzwPass(image, codeSize, layout, fb::LossyColours(palette, 1 + data[1] % 60), t);
    for (size_t i = 0; i < px.size(); ++i) {
      check((px[i] == t) == (original[i] == t));  // transparency neither lost nor gained
      check(px[i] < colours || px[i] == 0xEE);
    }
  } else if (mode == 2) {
    std::vector<uint8_t> alt(static_cast<size_t>(w) * h), has(alt.size());
    for (size_t k = 0; k < alt.size(); ++k) {
      has[k] = r.next() & 1;
      alt[k] = static_cast<uint8_t>(r.next() % (1u << codeSize));
    }
    fb::flexibleLzwPass(image, codeSize, layout, alt.data(), has.data(), w);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * stride + x, j = static_cast<size_t>(y) * w + x;
        check(px[i] == original[i] || (has[j] && px[i] == alt[j]));
      }
  }
  for (int y = 0; y < h; ++y)
    for (int x = w; x < stride; ++x) check(px[static_cast<size_t>(y) * stride + x] == 0xEE);

  std::vector<uint8_t> encoded;
  fb::ByteSink sink(&encoded);
  check(fb::encodeLzw(sink, image, codeSize, layout));
  check(fb::lzwEncodedSize(image, codeSize, layout) == static_cast<int64_t>(encoded.size()));
  check(encoded[0] == codeSize);
  std::vector<uint8_t> blocks;
  size_t i = 1;
  for (;;) {
    check(i < encoded.size());
    const size_t n = encoded[i++];
    if (n == 0) break;
    check(i + n <= encoded.size());
    blocks.insert(blocks.end(), encoded.begin() + static_cast<std::ptrdiff_t>(i),
                  encoded.begin() + static_cast<std::ptrdiff_t>(i + n));
    i += n;
  }
  check(i == encoded.size());
  const size_t count = static_cast<size_t>(w) * h;
  const auto decoded = decodeEveryWay(blocks.data(), blocks.size(), true, codeSize, count);
  check(decoded.size() == count);
  std::vector<int> order;
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
    for (int y = interlaced ? kStart[pass] : 0; y < h; y += interlaced ? kStep[pass] : 1)
      order.push_back(y);
  for (int k = 0; k < h; ++k)
    check(std::memcmp(decoded.data() + static_cast<size_t>(k) * w,
                      px.data() + static_cast<size_t>(order[size_t(k)]) * stride,
                      static_cast<size_t>(w)) == 0);
  return 0;
}
