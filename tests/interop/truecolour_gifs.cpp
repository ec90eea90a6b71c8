// Builds true-colour frames in memory, inserts them into an 8-bit animation
// under every palette-merge method (plain and dithered), and saves each
// result as a GIF beside a description of what it must show:
//
//   truecolour_gifs OUTDIR
//
// For every case NAME: NAME.gif, NAME-K.rgba (our composited picture K,
// width × height × 4 bytes) and one line of cases.json. The originals are
// flat.rgba and photo.rgba. truecolour_interop.py checks the files with Pillow,
// ImageMagick and gifsicle.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/prefs.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/animation.h"
#include "document/player.h"
#include "formats/png_rgba.h"
#include "gif/gif_writer.h"
#include "imaging/fixed_palette.h"
#include "imaging/frame_insert.h"
#include "imaging/frame_update.h"
#include "imaging/palette_merge.h"

using namespace fb;

namespace {

constexpr int W = 96, H = 64;

struct Picture {
  std::vector<uint8_t> rgba;  // W × H × 4
};

// Flat art: 40 colours in tiles, a round hole (transparent) in the middle.
Picture flatArt() {
  Picture p{std::vector<uint8_t>(size_t(W) * H * 4)};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int tile = (x / 12) + (y / 16) * 8;   // 8 × 4 = 32 tiles
      int band = (x + y) % 97 < 8 ? 1 : 0;  // a diagonal stripe adds 8 more
      int k = band ? 32 + (x / 12) : tile;
      uint8_t* o = &p.rgba[(size_t(y) * W + x) * 4];
      o[0] = uint8_t(k * 53 % 256);
      o[1] = uint8_t(k * 97 % 256);
      o[2] = uint8_t(k * 31 % 256);
      int dx = x - W / 2, dy = y - H / 2;
      o[3] = dx * dx + dy * dy < 14 * 14 ? 0 : 255;
    }
  return p;
}

// Photograph-like: smooth light and shade with fine texture, soft alpha edge
// on the left.
Picture photo() {
  Picture p{std::vector<uint8_t>(size_t(W) * H * 4)};
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double u = x / double(W), v = y / double(H);
      double light = 0.55 + 0.45 * std::sin(6.0 * u + 2.0 * v);
      double tex = 0.08 * std::sin(x * 1.7) * std::cos(y * 1.3);
      uint8_t* o = &p.rgba[(size_t(y) * W + x) * 4];
      o[0] = uint8_t(std::clamp(255 * (0.9 * light + tex), 0.0, 255.0));
      o[1] = uint8_t(std::clamp(255 * (0.6 * light * (1 - v) + 0.3 * u + tex), 0.0, 255.0));
      o[2] = uint8_t(std::clamp(255 * (0.3 + 0.5 * v * light - tex), 0.0, 255.0));
      o[3] = uint8_t(std::clamp(x * 32, 0, 255));  // alpha 0..255 over 8 columns
    }
  return p;
}

Frame* frameOf(const Picture& p) {
  Frame* f = newBlankFrame(W, H).release();
  std::vector<uint8_t> rgb(size_t(stride24(W)) * H), alpha(size_t(stride8(W)) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint8_t* s = &p.rgba[(size_t(y) * W + x) * 4];
      std::copy(s, s + 3, &rgb[size_t(y) * stride24(W) + 3 * x]);
      alpha[size_t(y) * stride8(W) + x] = s[3];
    }
  setRgb(*f, std::move(rgb));
  setAlpha(*f, std::move(alpha));
  f->setDisposal(1);
  return f;
}

// The 8-bit document the frames go into: two grey frames.
std::unique_ptr<Animation> baseDocument() {
  auto a = createAnimation();
  a->width = W;
  a->height = H;
  std::vector<Rgb> greys;
  for (int i = 0; i < 16; ++i)
    greys.push_back(Rgb{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)});
  setGlobalPalette(*a, makePalette(greys.data(), 16));
  for (int k = 0; k < 2; ++k) {
    Frame* f = newBlankFrame(W, H).release();
    f->dib = createBitmap(W, H, nullptr);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) f->dib->row(y)[x] = uint8_t((x / 8 + y / 8 + k * 5) % 16);
    f->setDisposal(1);
    fb::appendBlock(*a, std::unique_ptr<fb::Block>(f));
    refreshFrameColours(*f, a->globalPalette.get());
  }
  return a;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: truecolour_gifs OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  RecordingReporter quiet;
  ScopedReporter scope(quiet);
  Picture flat = flatArt(), shot = photo();
  if (!writeBytes(dir + "/flat.rgba", flat.rgba) || !writeBytes(dir + "/photo.rgba", shot.rgba))
    return 1;

  // The fixed palette: a 4 × 4 × 4 cube.
  Palette fixed;
  for (int r = 0; r < 4; ++r)
    for (int g = 0; g < 4; ++g)
      for (int b = 0; b < 4; ++b)
        fixed[fixed.count++] = Rgb{uint8_t(r * 85), uint8_t(g * 85), uint8_t(b * 85)};
  MergeOptions options;
  options.fixedPalette = copyPalette(fixed);

  struct Method {
    const char* name;
    uint32_t word;
  } methods[] = {{"adaptive", merge::Adaptive}, {"merge", merge::MergeGlobal},
                 {"map", merge::MapGlobal},     {"cube", merge::Cube},
                 {"fixed", merge::Fixed},       {"local", merge::LocalPerFrame}};
  std::string json = "[\n";
  bool first = true;
  for (const Method& m : methods) {
    for (int dither = 0; dither < 2; ++dither) {
      for (int withPhoto = 0; withPhoto < 2; ++withPhoto) {
        std::string name =
            std::string(m.name) + (dither ? "-dither" : "") + (withPhoto ? "-photo" : "");
        // The stored word decides, as it does for the editor and batch mode.
        options.storedMethod = 0x880000 | m.word | (dither ? merge::Dither : 0);
        auto doc = baseDocument();
        auto sources = createAnimation();
        sources->width = W;
        sources->height = H;
        appendBlock(*sources, std::unique_ptr<Block>(frameOf(flat)));
        if (withPhoto) {
          auto more = createAnimation();
          more->width = W;
          more->height = H;
          appendBlock(*more, std::unique_ptr<Block>(frameOf(shot)));
          sources->nextAnimation = std::move(more);
        }
        // Between the two grey frames.
        if (insertAnimations(*doc, sources, 1, nullptr, nullptr, options) != 1) {
          std::fprintf(stderr, "%s: insertion failed\n", name.c_str());
          return 1;
        }
        if (!writeGifFile(dir + "/" + name + ".gif", *doc, nullptr)) return 1;
        auto player = startPlayer(*doc);
        int k = 0;
        for (Frame* c = firstPicture(*player); c; c = nextPicture(*player), ++k)
          if (!writeBytes(dir + "/" + name + "-" + std::to_string(k) + ".rgba", canvasToRgba(*c)))
            return 1;
        json += std::string(first ? "" : ",\n") + "  {\"name\": \"" + name + "\", \"method\": \"" +
                m.name + "\", \"dither\": " + (dither ? "true" : "false") +
                ", \"photo\": " + (withPhoto ? "true" : "false") +
                ", \"frames\": " + std::to_string(k) + ", \"width\": " + std::to_string(W) +
                ", \"height\": " + std::to_string(H) + "}";
        first = false;
      }
    }
  }
  json += "\n]\n";
  return writeBytes(dir + "/cases.json", std::vector<uint8_t>(json.begin(), json.end())) ? 0 : 1;
}
