#include "formats/rle8.h"

#include <algorithm>

namespace fb {
namespace {

// Unchanged pixels in a row of at least this many are skipped with a
// position escape (4 bytes) rather than coded again.
constexpr int kSkipThreshold = 6;
// Runs shorter than this go into literal strings.
constexpr int kMinRun = 3;

class Coder {
 public:
  explicit Coder(std::vector<uint8_t>& out) : out_(out) {}

  // Codes p[x0..x1) of one line as runs and literal strings.
  void span(const uint8_t* p, int x0, int x1) {
    int literalStart = -1;
    int x = x0;
    while (x < x1) {
      int run = 1;
      while (x + run < x1 && run < 255 && p[x + run] == p[x]) ++run;
      if (run >= kMinRun) {
        if (literalStart >= 0) literal(p, literalStart, x);
        literalStart = -1;
        out_.push_back(static_cast<uint8_t>(run));
        out_.push_back(p[x]);
        x += run;
        continue;
      }
      if (literalStart < 0) literalStart = x;
      ++x;
      if (x - literalStart == 255) {
        literal(p, literalStart, x);
        literalStart = -1;
      }
    }
    if (literalStart >= 0) literal(p, literalStart, x1);
  }

  void endOfLine() { escape(0); }
  void endOfPicture() { escape(1); }
  void delta(int dx, int dy) {
    while (dx > 0 || dy > 0) {
      int sx = std::min(dx, 255), sy = std::min(dy, 255);
      escape(2);
      out_.push_back(static_cast<uint8_t>(sx));
      out_.push_back(static_cast<uint8_t>(sy));
      dx -= sx;
      dy -= sy;
    }
  }

 private:
  void escape(uint8_t code) {
    out_.push_back(0);
    out_.push_back(code);
  }
  // Strings of 1 or 2 pixels cannot be literal: they are runs of one.
  void literal(const uint8_t* p, int from, int to) {
    int n = to - from;
    if (n < 3) {
      for (int i = from; i < to; ++i) {
        out_.push_back(1);
        out_.push_back(p[i]);
      }
      return;
    }
    out_.push_back(0);
    out_.push_back(static_cast<uint8_t>(n));
    out_.insert(out_.end(), p + from, p + to);
    if (n & 1) out_.push_back(0);  // literal strings end on a 16-bit boundary
  }

  std::vector<uint8_t>& out_;
};

}  // namespace

std::vector<uint8_t> encodeRle8(const uint8_t* lines, ptrdiff_t stride, int width, int height,
                                const uint8_t* previous, ptrdiff_t previousStride) {
  std::vector<uint8_t> out;
  if (width <= 0 || height <= 0) {
    out = {0, 1};
    return out;
  }
  out.reserve(static_cast<size_t>(width + 8) * static_cast<size_t>(height) / 2 + 16);
  Coder coder(out);
  if (!previous) {
    for (int y = 0; y < height; ++y) {
      coder.span(lines + y * stride, 0, width);
      if (y + 1 < height) coder.endOfLine();
    }
  } else {
    // Where the decoder will write next.
    int cx = 0, cy = 0;
    for (int y = 0; y < height; ++y) {
      const uint8_t* p = lines + y * stride;
      const uint8_t* q = previous + y * previousStride;
      int x = 0;
      while (x < width) {
        while (x < width && p[x] == q[x]) ++x;
        if (x == width) break;
        // The changed stretch runs until a long enough unchanged one.
        int x0 = x, x1 = x;
        int same = 0;
        for (int i = x0; i < width; ++i) {
          if (p[i] == q[i]) {
            if (++same >= kSkipThreshold) break;
          } else {
            same = 0;
            x1 = i + 1;
          }
        }
        // Move there. A position escape may not leave the cursor at or past
        // the end of a line, so a line already finished (or a target to the
        // left) is left with an end-of-line first.
        if (cy < y && (x0 < cx || cx >= width)) {
          coder.endOfLine();
          cx = 0;
          ++cy;
        }
        coder.delta(x0 - cx, y - cy);
        coder.span(p, x0, x1);
        cx = x1;
        cy = y;
        x = x1;
      }
    }
  }
  coder.endOfPicture();
  // A sample exactly the size of the raw picture is read as raw pixels.
  int64_t rawSize = static_cast<int64_t>((width + 3) & ~3) * height;
  if (static_cast<int64_t>(out.size()) == rawSize) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

}  // namespace fb
