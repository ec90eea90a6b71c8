#include "formats/swf_codec.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <numeric>

#include "formats/avi_riff.h"

namespace fb {

using avi::putU16;
using avi::putU32;

namespace {

constexpr int kTwips = 20;  // per pixel
constexpr int kTagEnd = 0, kTagShowFrame = 1, kTagDefineShape = 2, kTagSetBackground = 9,
              kTagDoAction = 12, kTagPlaceObject2 = 26, kTagDefineBitsLossless2 = 36,
              kTagFileAttributes = 69;
constexpr int kMaxFrames = 65535;

// Bit fields, most significant bit first, as records and shapes hold them.
class Bits {
 public:
  // Whoever writes bits flushes them: flushing allocates, which a destructor
  // must not (short of memory it would end the program).
  explicit Bits(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc_ = static_cast<uint8_t>(acc_ << 1 | ((value >> i) & 1));
      if (++used_ == 8) flush();
    }
  }
  void flush() {
    if (!used_) return;
    out_.push_back(static_cast<uint8_t>(acc_ << (8 - used_)));
    acc_ = 0;
    used_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint8_t acc_ = 0;
  int used_ = 0;
};

// Bits needed for a signed value.
int signedBits(int32_t v) {
  int n = 1;
  while (n < 32 && (v >= (int32_t{1} << (n - 1)) || v < -(int32_t{1} << (n - 1)))) ++n;
  return n;
}

void appendRect(std::vector<uint8_t>& out, int32_t xMax, int32_t yMax) {
  const int n = std::max(signedBits(xMax), signedBits(yMax));
  Bits b(out);
  b.put(static_cast<uint32_t>(n), 5);
  b.put(0, n);
  b.put(static_cast<uint32_t>(xMax), n);
  b.put(0, n);
  b.put(static_cast<uint32_t>(yMax), n);
  b.flush();
}

void appendTag(std::vector<uint8_t>& out, int code, const std::vector<uint8_t>& body) {
  if (body.size() < 63) {
    putU16(out, static_cast<uint32_t>(code << 6 | static_cast<int>(body.size())));
  } else {
    putU16(out, static_cast<uint32_t>(code << 6 | 0x3F));
    putU32(out, static_cast<uint32_t>(body.size()));
  }
  out.insert(out.end(), body.begin(), body.end());
}

bool deflateAll(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  uLongf bound = compressBound(static_cast<uLong>(size));
  const size_t start = out.size();
  out.resize(start + bound);
  if (compress2(out.data() + start, &bound, data, static_cast<uLong>(size), 9) != Z_OK)
    return false;
  out.resize(start + bound);
  return true;
}

// DefineBitsLossless2: format 5, rows of premultiplied alpha, red, green, blue.
bool appendBitmap(std::vector<uint8_t>& out, uint16_t id, const Picture& p) {
  std::vector<uint8_t> argb(static_cast<size_t>(p.width) * p.height * 4);
  const size_t n = static_cast<size_t>(p.width) * p.height;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* s = p.pixels.data() + 4 * i;
    const int a = s[3];
    uint8_t* d = argb.data() + 4 * i;
    d[0] = static_cast<uint8_t>(a);
    for (int c = 0; c < 3; ++c) d[1 + c] = static_cast<uint8_t>((s[c] * a + 127) / 255);
  }
  std::vector<uint8_t> body;
  putU16(body, id);
  body.push_back(5);
  putU16(body, static_cast<uint32_t>(p.width));
  putU16(body, static_cast<uint32_t>(p.height));
  if (!deflateAll(argb.data(), argb.size(), body)) return false;
  appendTag(out, kTagDefineBitsLossless2, body);
  return true;
}

// DefineShape: a rectangle of the bitmap's size filled with it, one pixel per
// 20 twips.
void appendShape(std::vector<uint8_t>& out, uint16_t id, uint16_t bitmap, int w, int h) {
  const int32_t tw = w * kTwips, th = h * kTwips;
  std::vector<uint8_t> body;
  putU16(body, id);
  appendRect(body, tw, th);
  body.push_back(1);     // one fill style
  body.push_back(0x41);  // clipped bitmap fill
  putU16(body, bitmap);
  {
    // The matrix: scale 20 (16.16 fixed point) both ways, no rotation, no move.
    Bits b(body);
    const int n = 23;
    b.put(1, 1);
    b.put(n, 5);
    b.put(static_cast<uint32_t>(kTwips << 16), n);
    b.put(static_cast<uint32_t>(kTwips << 16), n);
    b.put(0, 1);  // no rotation
    b.put(0, 5);  // no translation
    b.flush();
  }
  body.push_back(0);  // no line styles
  Bits b(body);
  b.put(1, 4);  // fill index bits
  b.put(0, 4);  // line index bits
  // Style change: move to (0, 0) and take fill style 1.
  b.put(0, 1);  // not an edge
  b.put(0, 1);  // no new styles
  b.put(0, 1);  // line style unchanged
  b.put(1, 1);  // fill style 1 follows
  b.put(0, 1);  // fill style 0 unchanged
  b.put(1, 1);  // a move follows
  b.put(1, 5);  // one bit per coordinate
  b.put(0, 1);
  b.put(0, 1);
  b.put(1, 1);  // fill style 1 is the bitmap
  // Straight edges around the rectangle, each horizontal or vertical. An
  // edge holds at most 17 signed bits (3276 pixels): longer sides take several.
  constexpr int32_t kLongestEdge = 65535;
  const int n = signedBits(std::min(std::max(tw, th), kLongestEdge));
  auto edge = [&](bool vertical, int32_t delta) {
    while (delta != 0) {
      const int32_t step = std::clamp(delta, -kLongestEdge, kLongestEdge);
      b.put(1, 1);  // edge
      b.put(1, 1);  // straight
      b.put(static_cast<uint32_t>(n - 2), 4);
      b.put(0, 1);  // not a general line
      b.put(vertical ? 1 : 0, 1);
      b.put(static_cast<uint32_t>(step), n);
      delta -= step;
    }
  };
  edge(false, tw);
  edge(true, th);
  edge(false, -tw);
  edge(true, -th);
  b.put(0, 6);  // end of shape
  b.flush();
  appendTag(out, kTagDefineShape, body);
}

}  // namespace

SwfTiming swfTiming(const std::vector<int>& delays) {
  SwfTiming t;
  int g = 0;
  for (int d : delays)
    if (d > 0) g = std::gcd(g, d);
  if (g == 0) g = 10;
  // At least one frame a second: the largest divisor of the common period up to 100.
  int period = std::min(g, 100);
  while (g % period) --period;
  t.period = period;
  for (int d : delays) t.frames.push_back(std::max(1, d / period));
  return t;
}

uint16_t swfFrameRate(int period) {
  return static_cast<uint16_t>(std::clamp((25600 + period / 2) / std::max(period, 1), 1, 0xFFFF));
}

CodecStatus encodeSwf(const SwfMovie& m, std::vector<uint8_t>& out) {
  // Twips of the stage must fit a record; bitmaps hold 16-bit sizes.
  if (m.width <= 0 || m.height <= 0 || m.width > 65535 || m.height > 65535 || m.shots.empty() ||
      m.shots.size() > 32767)
    return CodecStatus::TooLarge;
  int64_t total = 0;
  for (const SwfShot& s : m.shots) {
    if (!s.picture || s.picture->indexed || s.picture->width != m.width ||
        s.picture->height != m.height)
      return CodecStatus::Corrupt;
    total += std::max(s.frames, 1);
  }
  if (total > kMaxFrames) return CodecStatus::TooLarge;
  try {
    std::vector<uint8_t> body;
    appendRect(body, m.width * kTwips, m.height * kTwips);
    putU16(body, m.frameRate);
    putU16(body, static_cast<uint32_t>(total));
    appendTag(body, kTagFileAttributes, {0, 0, 0, 0});
    appendTag(body, kTagSetBackground, {255, 255, 255});
    int64_t shown = 0;
    for (size_t i = 0; i < m.shots.size(); ++i) {
      const uint16_t bitmap = static_cast<uint16_t>(2 * i + 1),
                     shape = static_cast<uint16_t>(2 * i + 2);
      if (!appendBitmap(body, bitmap, *m.shots[i].picture)) return CodecStatus::NoMemory;
      appendShape(body, shape, bitmap, m.width, m.height);
      // Place the shape at depth 1, replacing the one before.
      std::vector<uint8_t> place;
      place.push_back(i == 0 ? 0x02 : 0x03);  // character (and move)
      putU16(place, 1);
      putU16(place, shape);
      appendTag(body, kTagPlaceObject2, place);
      for (int k = 0; k < std::max(m.shots[i].frames, 1); ++k) {
        if (m.playOnce && ++shown == total) appendTag(body, kTagDoAction, {0x07, 0x00});  // stop
        appendTag(body, kTagShowFrame, {});
      }
    }
    appendTag(body, kTagEnd, {});
    if (body.size() + 8 > 0xFFFFFFFFu) return CodecStatus::TooLarge;
    out.clear();
    out.push_back('C');
    out.push_back('W');
    out.push_back('S');
    out.push_back(kSwfVersion);
    putU32(out, static_cast<uint32_t>(body.size() + 8));
    if (!deflateAll(body.data(), body.size(), out)) return CodecStatus::NoMemory;
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

}  // namespace fb
