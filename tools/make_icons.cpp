// make_icons: draws the program's icon for the hicolor theme.
//
//   make_icons DIR NAME SIZE...
//
// writes DIR/hicolor/SxS/apps/NAME.png for each SIZE and
// DIR/hicolor/scalable/apps/NAME.svg. The picture is a stack of flip-book
// pages with a ball bouncing across the top one (its earlier positions
// fading), on a blue tile. It is described once as shapes on a 256-unit grid;
// the PNGs are rasterised from that description and the SVG states it, so the
// two agree. Sizes up to 32 pixels get a plainer drawing on 16-unit steps,
// which stays sharp where a pixel is 16 units wide.
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Colour {
  double r, g, b, a;  // 0..1, not premultiplied
};

Colour hex(unsigned rgb, double alpha = 1.0) {
  return {((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0, alpha};
}

enum class Kind { RoundRect, Ellipse };

// A filled shape; a vertical gradient runs from `fill` at y0 to `fill2` at y1.
struct Shape {
  Kind kind;
  double x0, y0, x1, y1;  // bounding box on the 256-unit grid
  double radius;          // corner radius of a RoundRect
  Colour fill;
  bool gradient = false;
  Colour fill2 = {};

  bool contains(double x, double y) const {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    if (kind == Kind::Ellipse) {
      double rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
      double dx = (x - x0 - rx) / rx, dy = (y - y0 - ry) / ry;
      return dx * dx + dy * dy <= 1;
    }
    double cx = std::clamp(x, x0 + radius, x1 - radius);
    double cy = std::clamp(y, y0 + radius, y1 - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
  }

  Colour colourAt(double y) const {
    if (!gradient) return fill;
    double t = std::clamp((y - y0) / (y1 - y0), 0.0, 1.0);
    return {fill.r + (fill2.r - fill.r) * t, fill.g + (fill2.g - fill.g) * t,
            fill.b + (fill2.b - fill.b) * t, fill.a + (fill2.a - fill.a) * t};
  }
};

Shape rect(double x0, double y0, double x1, double y1, double radius, Colour c) {
  return {Kind::RoundRect, x0, y0, x1, y1, radius, c};
}

Shape circle(double cx, double cy, double r, Colour c) {
  return {Kind::Ellipse, cx - r, cy - r, cx + r, cy + r, 0, c};
}

Shape tile(double x0, double y0, double x1, double y1, double radius) {
  Shape s = rect(x0, y0, x1, y1, radius, hex(0x4a7be0));
  s.gradient = true;
  s.fill2 = hex(0x29409c);
  return s;
}

const unsigned kBall = 0xf0562a;

std::vector<Shape> detailed() {
  return {
      tile(16, 16, 240, 240, 48),
      // pages behind, then the top page with its shadow
      rect(88, 44, 216, 196, 10, hex(0xb8c6ea)),
      rect(68, 56, 196, 208, 10, hex(0xdbe3f7)),
      rect(52, 74, 180, 226, 10, hex(0x000000, 0.25)),
      rect(48, 68, 176, 220, 10, hex(0xffffff)),
      // the floor and the ball's shadow on it
      rect(60, 197, 164, 201, 2, hex(0xc4cbe0)),
      {Kind::Ellipse, 110, 195, 142, 202, 0, hex(0x000000, 0.18)},
      // where the ball was, fading, and where it is
      circle(74, 98, 10, hex(kBall, 0.18)),
      circle(91, 130, 11, hex(kBall, 0.32)),
      circle(107, 162, 12, hex(kBall, 0.5)),
      circle(126, 184, 14, hex(kBall)),
      circle(121, 179, 4, hex(0xffffff, 0.6)),
  };
}

std::vector<Shape> plain() {
  return {
      tile(0, 0, 256, 256, 48),
      rect(80, 32, 224, 192, 16, hex(0xb8c6ea)),
      rect(32, 64, 192, 240, 16, hex(0xffffff)),
      circle(80, 128, 24, hex(kBall, 0.4)),
      circle(128, 176, 32, hex(kBall)),
  };
}

// Coverage by supersampling: `n` × `n` samples per pixel.
std::vector<unsigned char> raster(const std::vector<Shape>& shapes, int size) {
  int n = size <= 64 ? 8 : 4;
  double unit = 256.0 / size;
  std::vector<unsigned char> rgba(static_cast<size_t>(size) * size * 4);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;  // premultiplied
      for (const Shape& s : shapes) {
        int inside = 0;
        for (int sy = 0; sy < n; ++sy)
          for (int sx = 0; sx < n; ++sx)
            if (s.contains((px + (sx + 0.5) / n) * unit, (py + (sy + 0.5) / n) * unit)) ++inside;
        if (!inside) continue;
        Colour c = s.colourAt((py + 0.5) * unit);
        double alpha = c.a * inside / (n * n);
        r = c.r * alpha + r * (1 - alpha);
        g = c.g * alpha + g * (1 - alpha);
        b = c.b * alpha + b * (1 - alpha);
        a = alpha + a * (1 - alpha);
      }
      unsigned char* out = &rgba[(static_cast<size_t>(py) * size + px) * 4];
      auto byte = [](double v) {
        return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
      };
      out[0] = byte(a > 0 ? r / a : 0);
      out[1] = byte(a > 0 ? g / a : 0);
      out[2] = byte(a > 0 ? b / a : 0);
      out[3] = byte(a);
    }
  }
  return rgba;
}

bool writePng(const std::string& path, const std::vector<unsigned char>& rgba, int size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info && !setjmp(png_jmpbuf(png));
  if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y)
      png_write_row(png, const_cast<png_bytep>(&rgba[static_cast<size_t>(y) * size * 4]));
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}

std::string svgColour(const Colour& c) {
  char s[8];
  std::snprintf(s, sizeof s, "#%02x%02x%02x", static_cast<int>(std::lround(c.r * 255)),
                static_cast<int>(std::lround(c.g * 255)), static_cast<int>(std::lround(c.b * 255)));
  return s;
}

std::string svg(const std::vector<Shape>& shapes) {
  std::string defs, body;
  char buf[512];
  int gradients = 0;
  for (const Shape& s : shapes) {
    std::string fill = "fill=\"" + svgColour(s.fill) + "\"";
    if (s.gradient) {
      std::snprintf(buf, sizeof buf,
                    "    <linearGradient id=\"g%d\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" "
                    "y1=\"%g\" x2=\"0\" y2=\"%g\">\n"
                    "      <stop offset=\"0\" stop-color=\"%s\"/>\n"
                    "      <stop offset=\"1\" stop-color=\"%s\"/>\n"
                    "    </linearGradient>\n",
                    gradients, s.y0, s.y1, svgColour(s.fill).c_str(), svgColour(s.fill2).c_str());
      defs += buf;
      fill = "fill=\"url(#g" + std::to_string(gradients++) + ")\"";
    }
    if (s.fill.a < 1) {
      std::snprintf(buf, sizeof buf, " fill-opacity=\"%g\"", s.fill.a);
      fill += buf;
    }
    if (s.kind == Kind::Ellipse)
      std::snprintf(buf, sizeof buf, "  <ellipse cx=\"%g\" cy=\"%g\" rx=\"%g\" ry=\"%g\" %s/>\n",
                    (s.x0 + s.x1) / 2, (s.y0 + s.y1) / 2, (s.x1 - s.x0) / 2, (s.y1 - s.y0) / 2,
                    fill.c_str());
    else
      std::snprintf(buf, sizeof buf,
                    "  <rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" rx=\"%g\" %s/>\n", s.x0,
                    s.y0, s.x1 - s.x0, s.y1 - s.y0, s.radius, fill.c_str());
    body += buf;
  }
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
         "viewBox=\"0 0 256 256\">\n" +
         (defs.empty() ? "" : "  <defs>\n" + defs + "  </defs>\n") + body + "</svg>\n";
}

bool makeDirs(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i)
    if (i == dir.size() || dir[i] == '/')
      if (::mkdir(dir.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_icons DIR NAME SIZE...\n");
    return 2;
  }
  std::string root = std::string(argv[1]) + "/hicolor/";
  std::string name = argv[2];
  for (int i = 3; i < argc; ++i) {
    int size = std::atoi(argv[i]);
    if (size < 1 || size > 1024) {
      std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
      return 2;
    }
    std::string dir = root + std::to_string(size) + "x" + std::to_string(size) + "/apps";
    std::string path = dir + "/" + name + ".png";
    if (!makeDirs(dir) || !writePng(path, raster(size <= 32 ? plain() : detailed(), size), size)) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::string dir = root + "scalable/apps";
  std::string path = dir + "/" + name + ".svg";
  std::string text = svg(detailed());
  FILE* f = makeDirs(dir) ? std::fopen(path.c_str(), "wb") : nullptr;
  bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}
