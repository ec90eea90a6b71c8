// Colour reduction of true-colour pictures: our palette merge (the adaptive
// octree method, plain and dithered) against ImageMagick (`-colors N`) and
// gifsicle (`--colors N`) on the same pictures in the same run.
//
//   build/bench/quantize [--runs N] [--keep DIR]
//
// Pictures are generated (photograph-like, flat-colour art with smooth edges,
// a wide gradient). For each picture, colour count (256, 64, 16) and dither
// choice it prints PSNR against the original (dB, RGB, higher is better) and
// the median time of N runs (3 by default):
//  - ours: a true-colour frame inserted into an empty document with the
//    adaptive method, in process, no file I/O;
//  - ours+mc: the same at 256 colours, then the reduce-colours command (median
//    cut) down to N, as the editor offers it;
//  - ours HQ: the adaptive method in the high-quality mode (its palette refined
//    by clustering, exact nearest colours), in process;
//  - ImageMagick: `convert in.ppm [+dither | -dither FloydSteinberg] -colors N
//    out.gif`, a whole process run;
//  - gifsicle: `gifsicle --colors N [--dither] in.gif -o out.gif`, a whole
//    process run. gifsicle reads only GIF, so it is given the exact picture as
//    a GIF of 16 × 16 tiles, each with its own colour table.
// The "start" row of each peer is a run doing no reduction (reading the
// input, writing nothing or copying the tiles): its start-up and I/O share.
// Outputs are decoded with giflib. The last line compares the high-quality
// mode with ImageMagick at 256 and 64 colours, plain and dithered: the mean
// PSNR difference (dB, ours minus theirs) and the ratio of the total times:
//   quantize-hq-vs-imagemagick DB_DIFF TIME_RATIO
#include <gif_lib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "document/animation.h"
#include "imaging/palette_merge.h"
#include "imaging/reduce.h"
#include "base/reporter.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Picture {
  std::string name;
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;  // tightly packed
  uint8_t* at(int x, int y) { return &rgb[(size_t(y) * w + x) * 3]; }
};

// ---- Pictures ----

// Multi-octave value noise in 0..1.
struct Noise {
  explicit Noise(uint32_t seed) {
    std::mt19937 rng(seed);
    for (float& v : lattice) v = std::uniform_real_distribution<float>(0, 1)(rng);
  }
  float lattice[256 * 256];
  float value(float x, float y) const {
    int xi = int(std::floor(x)), yi = int(std::floor(y));
    float fx = x - xi, fy = y - yi;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    auto L = [&](int i, int j) { return lattice[((j & 255) << 8) | (i & 255)]; };
    float a = L(xi, yi) + (L(xi + 1, yi) - L(xi, yi)) * fx;
    float b = L(xi, yi + 1) + (L(xi + 1, yi + 1) - L(xi, yi + 1)) * fx;
    return a + (b - a) * fy;
  }
  float fractal(float x, float y, int octaves) const {
    float sum = 0, amp = 0.5f, freq = 1;
    for (int o = 0; o < octaves; ++o, amp *= 0.5f, freq *= 2)
      sum += amp * value(x * freq, y * freq);
    return sum;
  }
};

uint8_t clamp8(double v) {
  return uint8_t(std::clamp(v, 0.0, 255.0));
}

// Sky, hills, foliage texture, soft highlights and sensor noise.
Picture photoLike(int w, int h) {
  Picture p{"photo", w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  Noise n(11), m(23);
  std::mt19937 rng(5);
  std::normal_distribution<double> grain(0, 2.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double u = x / double(w), v = y / double(h);
      double horizon = 0.45 + 0.08 * std::sin(u * 7) + 0.05 * n.fractal(u * 6, 3, 3);
      double r, g, b;
      if (v < horizon) {
        double t = v / horizon;
        double cloud = std::max(0.0, m.fractal(u * 5, v * 9, 5) - 0.45) * 2.2;
        r = 90 + 110 * t + 140 * cloud;
        g = 140 + 80 * t + 120 * cloud;
        b = 230 - 20 * t + 25 * cloud;
      } else {
        double t = (v - horizon) / (1 - horizon);
        double leaf = n.fractal(u * 40, v * 30, 5);
        double shade = 0.6 + 0.4 * std::sin(u * 3 + t * 2);
        r = (40 + 90 * leaf) * shade + 60 * t;
        g = (70 + 120 * leaf) * shade + 20 * t;
        b = (25 + 50 * leaf) * shade;
      }
      // A warm light from the upper right.
      double dx = u - 0.8, dy = v - 0.2, light = std::exp(-(dx * dx + dy * dy) * 6) * 40;
      uint8_t* o = p.at(x, y);
      o[0] = clamp8(r + light + grain(rng));
      o[1] = clamp8(g + light * 0.8 + grain(rng));
      o[2] = clamp8(b + light * 0.4 + grain(rng));
    }
  return p;
}

// Flat colours: 24 hues in circles and boxes, edges anti-aliased (4 × 4 samples).
Picture flatArt(int w, int h) {
  Picture p{"flat-art", w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  std::mt19937 rng(3);
  struct Shape {
    bool circle;
    double x, y, a, b;
    uint8_t c[3];
  };
  std::vector<Shape> shapes;
  auto pick = [&] { return uint8_t(std::uniform_int_distribution<int>(0, 5)(rng) * 51); };
  for (int i = 0; i < 40; ++i) {
    Shape s;
    s.circle = i % 2;
    s.x = std::uniform_real_distribution<double>(0, w)(rng);
    s.y = std::uniform_real_distribution<double>(0, h)(rng);
    s.a = std::uniform_real_distribution<double>(10, w / 5.0)(rng);
    s.b = std::uniform_real_distribution<double>(10, h / 5.0)(rng);
    s.c[0] = pick(), s.c[1] = pick(), s.c[2] = pick();
    shapes.push_back(s);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double acc[3] = {0, 0, 0};
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          uint8_t c[3] = {245, 240, 225};
          for (const Shape& s : shapes) {
            bool in = s.circle ? (px - s.x) * (px - s.x) + (py - s.y) * (py - s.y) < s.a * s.a
                               : std::abs(px - s.x) < s.a && std::abs(py - s.y) < s.b;
            if (in) std::copy(s.c, s.c + 3, c);
          }
          for (int k = 0; k < 3; ++k) acc[k] += c[k];
        }
      uint8_t* o = p.at(x, y);
      for (int k = 0; k < 3; ++k) o[k] = uint8_t(acc[k] / 16 + 0.5);
    }
  return p;
}

// A wide, slow gradient: where banding shows first.
Picture gradient(int w, int h) {
  Picture p{"gradient", w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double u = x / double(w - 1), v = y / double(h - 1);
      uint8_t* o = p.at(x, y);
      o[0] = clamp8(255 * (0.15 + 0.7 * u));
      o[1] = clamp8(255 * (0.25 + 0.5 * v * (1 - u * 0.5)));
      o[2] = clamp8(255 * (0.8 - 0.6 * u * v));
    }
  return p;
}

// ---- Measuring ----

double psnr(const Picture& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    double d = double(a.rgb[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (se / a.rgb.size()));
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The picture a palette-merged document shows.
std::vector<uint8_t> shown(const fb::Animation& a) {
  const fb::Frame* f = fb::firstFrame(a);
  std::vector<uint8_t> out(size_t(f->width) * f->height * 3);
  for (int y = 0; y < f->height; ++y)
    for (int x = 0; x < f->width; ++x) {
      uint8_t v = f->dib->row(y)[x];
      fb::Rgb c = v < f->palette()->count ? (*f->palette())[v] : fb::Rgb{};
      uint8_t* o = &out[(size_t(y) * f->width + x) * 3];
      o[0] = c.r, o[1] = c.g, o[2] = c.b;
    }
  return out;
}

std::unique_ptr<fb::Animation> sourceOf(const Picture& p) {
  auto a = fb::createAnimation();
  a->width = p.w;
  a->height = p.h;
  fb::Frame* f = fb::appendFrame(*a, fb::newBlankFrame(p.w, p.h));
  std::vector<uint8_t> rgb(size_t(fb::stride24(p.w)) * p.h);
  for (int y = 0; y < p.h; ++y)
    std::copy(&p.rgb[size_t(y) * p.w * 3], &p.rgb[size_t(y + 1) * p.w * 3],
              &rgb[size_t(y) * fb::stride24(p.w)]);
  fb::setRgb(*f, std::move(rgb));
  return a;
}

int log2of(int n) {
  int b = 0;
  while ((1 << b) < n) ++b;
  return b;
}

struct Result {
  double psnr = 0, ms = 0;
  bool ok = false;
};

// Our adaptive method to N colours (in the high-quality mode with `quality`),
// then optionally the median cut to M.
Result ours(const Picture& p, int colours, bool dither, int reduceTo, int runs,
            bool quality = false) {
  Result r;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    auto target = fb::createAnimation();
    auto src = sourceOf(p);
    uint32_t word = fb::merge::Adaptive | (uint32_t(log2of(colours)) << 16) |
                    (dither ? fb::merge::Dither : 0) | (quality ? fb::merge::Quality : 0);
    auto t0 = Clock::now();
    if (fb::mergePalettes(target.get(), *src, word, nullptr, nullptr) != 1) return r;
    if (reduceTo && fb::reducePalettes(*target, reduceTo, dither, {}, nullptr) != 1) return r;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (i == 0) r.psnr = psnr(p, shown(*target));
  }
  r.ms = median(times);
  r.ok = true;
  return r;
}

// ---- Files and peers ----

bool writePpm(const Picture& p, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << p.w << " " << p.h << "\n255\n";
  out.write(reinterpret_cast<const char*>(p.rgb.data()), std::streamsize(p.rgb.size()));
  return bool(out);
}

// The exact picture as a GIF of 16 × 16 tiles with local colour tables.
bool writeTiledGif(const Picture& p, const std::string& path) {
  int err = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
  if (!gif) return false;
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, p.w, p.h, 8, 0, nullptr) == GIF_OK;
  std::vector<GifPixelType> line(16);
  for (int ty = 0; ok && ty < p.h; ty += 16)
    for (int tx = 0; ok && tx < p.w; tx += 16) {
      int tw = std::min(16, p.w - tx), th = std::min(16, p.h - ty);
      std::map<uint32_t, int> index;
      std::vector<GifColorType> colours;
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
          const uint8_t* c = &p.rgb[(size_t(ty + y) * p.w + tx + x) * 3];
          uint32_t key = (uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2];
          if (index.emplace(key, int(colours.size())).second)
            colours.push_back(GifColorType{c[0], c[1], c[2]});
        }
      int size = 2;
      while (size < int(colours.size())) size *= 2;
      colours.resize(size_t(size), GifColorType{0, 0, 0});
      ColorMapObject* map = GifMakeMapObject(size, colours.data());
      ok = map && EGifPutImageDesc(gif, tx, ty, tw, th, false, map) == GIF_OK;
      GifFreeMapObject(map);
      for (int y = 0; ok && y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          const uint8_t* c = &p.rgb[(size_t(ty + y) * p.w + tx + x) * 3];
          line[size_t(x)] =
              GifPixelType(index[(uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2]]);
        }
        ok = EGifPutLine(gif, line.data(), tw) == GIF_OK;
      }
    }
  return EGifCloseFile(gif, &err) == GIF_OK && ok;
}

// Every image of a GIF drawn in order (no disposal: tiles or one full frame).
bool decodeGif(const std::string& path, int w, int h, std::vector<uint8_t>& out) {
  int err = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &err);
  if (!gif) return false;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &err);
    return false;
  }
  out.assign(size_t(w) * h * 3, 0);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& im = gif->SavedImages[i];
    const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, i, &gcb);
    const GifImageDesc& d = im.ImageDesc;
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        int v = im.RasterBits[size_t(y) * d.Width + x];
        int X = d.Left + x, Y = d.Top + y;
        if (v == gcb.TransparentColor || X >= w || Y >= h || !map || v >= map->ColorCount) continue;
        uint8_t* o = &out[(size_t(Y) * w + X) * 3];
        o[0] = map->Colors[v].Red, o[1] = map->Colors[v].Green, o[2] = map->Colors[v].Blue;
      }
  }
  DGifCloseFile(gif, &err);
  return true;
}

// Runs a command (no shell), quiet; returns its wall time in ms or -1.
double runTimed(const std::vector<std::string>& args) {
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    if (devnull) {
      dup2(fileno(devnull), 1);
      dup2(fileno(devnull), 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

Result peer(const Picture& p, const std::vector<std::string>& args, const std::string& output,
            int runs) {
  Result r;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    double ms = runTimed(args);
    if (ms < 0) return r;
    times.push_back(ms);
  }
  std::vector<uint8_t> picture;
  if (!output.empty()) {
    if (!decodeGif(output, p.w, p.h, picture)) return r;
    r.psnr = psnr(p, picture);
  }
  r.ms = median(times);
  r.ok = true;
  return r;
}

std::string cell(const Result& r, bool withPsnr = true) {
  char buf[48];
  if (!r.ok) return "        n/a    ";
  if (withPsnr)
    std::snprintf(buf, sizeof buf, "%6.2f %7.1f", r.psnr, r.ms);
  else
    std::snprintf(buf, sizeof buf, "     - %7.1f", r.ms);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--keep" && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: quantize [--runs N] [--keep DIR]\n");
      return 2;
    }
  }
  fb::RecordingReporter quiet;
  fb::ScopedReporter scope(quiet);
  namespace fs = std::filesystem;
  std::string dir = keep;
  if (dir.empty()) {
    std::string t = (fs::temp_directory_path() / "fbquant-XXXXXX").string();
    if (!mkdtemp(t.data())) return 1;
    dir = t;
  } else {
    fs::create_directories(dir);
  }
  const std::string convert = "/usr/bin/convert", gifsicle = "/usr/bin/gifsicle";
  const int W = 512, H = 384;
  std::vector<Picture> pictures = {photoLike(W, H), flatArt(W, H), gradient(W, H)};

  std::printf("PSNR (dB) and median time (ms) of %d runs; %d x %d pictures\n", runs, W, H);
  std::printf("%-9s %4s %-6s | %-14s | %-14s | %-14s | %-14s | %-14s\n", "picture", "N",
              "dither", "ours (octree)", "ours+mc", "ours HQ", "ImageMagick", "gifsicle");
  std::printf("%-9s %4s %-6s | %-14s | %-14s | %-14s | %-14s | %-14s\n", "", "", "",
              "  PSNR      ms", "  PSNR      ms", "  PSNR      ms", "  PSNR      ms",
              "  PSNR      ms");
  double dbDiff = 0, hqMs = 0, imMs = 0;
  int compared = 0;
  for (const Picture& p : pictures) {
    std::string ppm = dir + "/" + p.name + ".ppm", tiles = dir + "/" + p.name + "-tiles.gif";
    if (!writePpm(p, ppm) || !writeTiledGif(p, tiles)) {
      std::fprintf(stderr, "cannot write %s\n", ppm.c_str());
      return 1;
    }
    Result imStart = peer(p, {convert, ppm, "null:"}, "", runs);
    Result gsStart = peer(p, {gifsicle, tiles, "-o", dir + "/copy.gif"}, "", runs);
    std::printf("%-9s %4s %-6s | %-14s | %-14s | %-14s | %s | %s\n", p.name.c_str(), "", "start",
                "", "", "", cell(imStart, false).c_str(), cell(gsStart, false).c_str());
    for (int n : {256, 64, 16}) {
      for (bool dither : {false, true}) {
        std::string tag = p.name + "-" + std::to_string(n) + (dither ? "-fs" : "");
        Result a = ours(p, n, dither, 0, runs);
        Result b = n < 256 ? ours(p, 256, dither, n, runs) : Result{};
        Result hq = ours(p, n, dither, 0, runs, true);
        std::string imOut = dir + "/" + tag + "-im.gif", gsOut = dir + "/" + tag + "-gs.gif";
        Result im =
            peer(p,
                 {convert, ppm, dither ? "-dither" : "+dither",
                  dither ? "FloydSteinberg" : "-quiet", "-colors", std::to_string(n), imOut},
                 imOut, runs);
        std::vector<std::string> gsArgs = {gifsicle, "--colors", std::to_string(n)};
        if (dither) gsArgs.push_back("--dither");
        gsArgs.insert(gsArgs.end(), {tiles, "-o", gsOut});
        Result gs = peer(p, gsArgs, gsOut, runs);
        std::printf("%-9s %4d %-6s | %s | %s | %s | %s | %s\n", p.name.c_str(), n,
                    dither ? "yes" : "no", cell(a).c_str(), cell(b).c_str(), cell(hq).c_str(),
                    cell(im).c_str(), cell(gs).c_str());
        if (n >= 64 && hq.ok && im.ok) {
          dbDiff += hq.psnr - im.psnr;
          hqMs += hq.ms;
          imMs += im.ms;
          ++compared;
        }
        std::fflush(stdout);
      }
    }
  }
  if (keep.empty()) fs::remove_all(dir);
  if (compared == 0 || imMs <= 0) return 1;
  std::printf("quantize-hq-vs-imagemagick %.2f %.3f\n", dbDiff / compared, hqMs / imMs);
  return 0;
}
