// make_samples: draws the sample animations bundled in samples/.
//
//   make_samples DIR
//
// The pictures are computed here (a ball bouncing over a striped floor, and a
// colour wheel turning), so the samples belong to the project.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A small, self-contained GIF emitter. It writes LZW data that never grows the
// code width (a clear code every few literals): big files, but trivially right.
class GifOut {
 public:
  GifOut(int w, int h, const std::vector<uint8_t>& rgbPalette, int loop) : w_(w), h_(h) {
    put("GIF89a");
    u16(w);
    u16(h);
    int n = static_cast<int>(rgbPalette.size() / 3);
    bits_ = 1;
    while ((1 << bits_) < n) ++bits_;
    out_.push_back(static_cast<uint8_t>(0x80 | ((bits_ - 1) << 4) | (bits_ - 1)));
    out_.push_back(0);
    out_.push_back(0);
    out_.insert(out_.end(), rgbPalette.begin(), rgbPalette.end());
    out_.resize(out_.size() + static_cast<size_t>(3 * ((1 << bits_) - n)), 0);
    if (loop >= 0) {
      put("\x21\xFF\x0BNETSCAPE2.0\x03\x01");
      u16(loop);
      out_.push_back(0);
    }
  }

  void comment(const std::string& text) {
    put("\x21\xFE");
    out_.push_back(static_cast<uint8_t>(text.size()));
    put(text);
    out_.push_back(0);
  }

  void frame(int left, int top, int w, int h, const uint8_t* px, int delay, int disposal,
             int transparent) {
    put("\x21\xF9\x04");
    out_.push_back(static_cast<uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0)));
    u16(delay);
    out_.push_back(static_cast<uint8_t>(transparent >= 0 ? transparent : 0));
    out_.push_back(0);
    out_.push_back(0x2C);
    u16(left);
    u16(top);
    u16(w);
    u16(h);
    out_.push_back(0);
    int s = bits_ < 2 ? 2 : bits_;
    out_.push_back(static_cast<uint8_t>(s));
    int clear = 1 << s, width = s + 1;
    int perRun = (1 << width) - clear - 3;  // literals before the width would grow
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int nbits = 0;
    auto code = [&](int c) {
      acc |= static_cast<uint32_t>(c) << nbits;
      nbits += width;
      while (nbits >= 8) {
        data.push_back(static_cast<uint8_t>(acc));
        acc >>= 8;
        nbits -= 8;
      }
    };
    int run = 0;
    code(clear);
    for (int i = 0; i < w * h; ++i) {
      if (run == perRun) {
        code(clear);
        run = 0;
      }
      code(px[i]);
      ++run;
    }
    code(clear + 1);
    if (nbits > 0) data.push_back(static_cast<uint8_t>(acc));
    for (size_t i = 0; i < data.size(); i += 255) {
      size_t n = std::min<size_t>(255, data.size() - i);
      out_.push_back(static_cast<uint8_t>(n));
      out_.insert(out_.end(), data.begin() + static_cast<long>(i),
                  data.begin() + static_cast<long>(i + n));
    }
    out_.push_back(0);
  }

  bool save(const std::string& path) {
    out_.push_back(0x3B);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out_.data(), 1, out_.size(), f) == out_.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  void put(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void u16(int v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  int w_, h_, bits_ = 1;
  std::vector<uint8_t> out_;
};

bool bouncingBall(const std::string& path) {
  const int W = 120, H = 80, N = 16;
  std::vector<uint8_t> pal = {
      250, 248, 240,  // 0 paper
      40,  60,  90,   // 1 floor dark
      70,  100, 140,  // 2 floor light
      220, 50,  40,   // 3 ball
      250, 150, 120,  // 4 ball highlight
      120, 30,  25,   // 5 ball shade
      180, 180, 170,  // 6 shadow
      0,   0,   0,    // 7 unused, the transparent index of the moving frames
  };
  GifOut gif(W, H, pal, 0);
  gif.comment("Flickbook sample: a bouncing ball");
  // Frame 0: the whole scene without the ball.
  std::vector<uint8_t> bg(W * H, 0);
  for (int y = 60; y < H; ++y)
    for (int x = 0; x < W; ++x) bg[y * W + x] = ((x / 8 + y / 8) & 1) ? 1 : 2;
  gif.frame(0, 0, W, H, bg.data(), 10, 1, -1);
  // Then the ball alone, in a small frame restored to the background after it.
  const int B = 24;
  for (int i = 0; i < N; ++i) {
    double t = static_cast<double>(i) / N;
    int cx = 12 + static_cast<int>(t * (W - 24));
    int cy = 12 + static_cast<int>(36 * std::fabs(std::cos(t * 2 * M_PI)));
    std::vector<uint8_t> px(B * B, 7);
    for (int y = 0; y < B; ++y) {
      for (int x = 0; x < B; ++x) {
        double dx = x - B / 2 + 0.5, dy = y - B / 2 + 0.5;
        double r2 = dx * dx + dy * dy;
        if (r2 > (B / 2) * (B / 2)) continue;
        if (r2 < 20 && dx < 0 && dy < 0) px[y * B + x] = 4;
        else if (dx + dy > 9) px[y * B + x] = 5;
        else px[y * B + x] = 3;
      }
    }
    gif.frame(cx - B / 2, cy - B / 2, B, B, px.data(), 6, 2, 7);
  }
  return gif.save(path);
}

bool colourWheel(const std::string& path) {
  const int S = 64, N = 12;
  std::vector<uint8_t> pal;
  for (int i = 0; i < 12; ++i) {
    double hue = i / 12.0 * 6;
    int k = static_cast<int>(hue);
    double f = hue - k;
    double r = 0, g = 0, b = 0;
    switch (k % 6) {
      case 0: r = 1, g = f; break;
      case 1: r = 1 - f, g = 1; break;
      case 2: g = 1, b = f; break;
      case 3: g = 1 - f, b = 1; break;
      case 4: r = f, b = 1; break;
      default: r = 1, b = 1 - f; break;
    }
    pal.push_back(static_cast<uint8_t>(r * 255));
    pal.push_back(static_cast<uint8_t>(g * 255));
    pal.push_back(static_cast<uint8_t>(b * 255));
  }
  pal.insert(pal.end(), {255, 255, 255, 30, 30, 30, 128, 128, 128, 200, 200, 200});
  GifOut gif(S, S, pal, 3);
  for (int i = 0; i < N; ++i) {
    std::vector<uint8_t> px(S * S, 12);
    for (int y = 0; y < S; ++y) {
      for (int x = 0; x < S; ++x) {
        double dx = x - S / 2 + 0.5, dy = y - S / 2 + 0.5;
        double r = std::sqrt(dx * dx + dy * dy);
        if (r > S / 2 - 2) continue;
        if (r < 6) {
          px[y * S + x] = 13;
          continue;
        }
        double a = std::atan2(dy, dx) / (2 * M_PI) + 0.5;
        px[y * S + x] = static_cast<uint8_t>((static_cast<int>(a * 12) + i) % 12);
      }
    }
    gif.frame(0, 0, S, S, px.data(), 8, 1, -1);
  }
  return gif.save(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  if (!bouncingBall(dir + "/bouncing-ball.gif") || !colourWheel(dir + "/colour-wheel.gif")) {
    std::fprintf(stderr, "make_samples: cannot write to %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
