#include "imaging/transform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <unordered_map>

#include "base/progress.h"
#include "base/reporter.h"
#include "document/edit_checks.h"
#include "imaging/colour_match.h"
#include "resources/strings.h"

namespace fb {
namespace {

// Where the pixel x, y of the turned or mirrored w × h image comes from.
struct Turn {
  Rotation rotation;
  int w, h;  // the source's size
  std::pair<int, int> operator()(int x, int y) const {
    switch (rotation) {
      case Rotation::Clockwise90:
        return {y, h - 1 - x};
      case Rotation::Half:
        return {w - 1 - x, h - 1 - y};
      case Rotation::Anticlockwise90:
        break;
    }
    return {w - 1 - y, x};
  }
};

struct Mirror {
  FlipAxis axis;
  int w, h;
  std::pair<int, int> operator()(int x, int y) const {
    if (axis == FlipAxis::Horizontal) return {w - 1 - x, y};
    return {x, h - 1 - y};
  }
};

bool swapsSides(Rotation r) {
  return r != Rotation::Half;
}

// Where a point of the source lands (the inverse of Turn).
std::pair<int, int> turnPoint(Rotation r, int w, int h, int x, int y) {
  switch (r) {
    case Rotation::Clockwise90:
      return {h - 1 - y, x};
    case Rotation::Half:
      return {w - 1 - x, h - 1 - y};
    case Rotation::Anticlockwise90:
      break;
  }
  return {y, w - 1 - x};
}

void turnHotspot(Rotation r, const Frame& f, FrameImage& im) {
  if (f.hotspotX < 0 || f.hotspotY < 0) return;
  auto [x, y] = turnPoint(r, f.width, f.height, f.hotspotX, f.hotspotY);
  im.hotspotX = x;
  im.hotspotY = y;
}

void mirrorHotspot(FlipAxis axis, const Frame& f, FrameImage& im) {
  if (f.hotspotX < 0 || f.hotspotY < 0) return;
  if (axis == FlipAxis::Horizontal)
    im.hotspotX = f.width - 1 - f.hotspotX;
  else
    im.hotspotY = f.height - 1 - f.hotspotY;
}

bool reportNoMemory() {
  showWarning(text(Str::EditNoMemory));
  return false;
}

// Turns (or mirrors) the pixels of `f` into `im`, whose geometry the caller set.
template <class Map>
bool stagePixels(const Frame& f, Map map, FrameImage& im) {
  if (f.width <= 0 || f.height <= 0) return true;  // nothing to move
  return mapFrameImage(f, im.width, im.height, map, im);
}

// ---- Resampling ----

// One axis of a resize: for each new pixel, the first old pixel it reads
// and the weights of the old pixels from there.
struct AxisWeights {
  std::vector<int> first;
  std::vector<int> taps;  // weights per new pixel
  std::vector<float> weights;
  int maxTaps = 0;
};

double catmullRom(double t) {
  t = std::fabs(t);
  if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
  if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
  return 0;
}

AxisWeights bicubicWeights(int from, int to) {
  AxisWeights a;
  double scale = static_cast<double>(to) / from;
  double widen = std::max(1.0, 1.0 / scale);  // shrinking: every old pixel counts
  double support = 2.0 * widen;
  a.maxTaps = static_cast<int>(std::ceil(support)) * 2 + 1;
  a.first.resize(static_cast<size_t>(to));
  a.taps.resize(static_cast<size_t>(to));
  a.weights.assign(static_cast<size_t>(to) * static_cast<size_t>(a.maxTaps), 0.f);
  for (int x = 0; x < to; ++x) {
    double centre = (x + 0.5) / scale;
    int lo = std::max(0, static_cast<int>(std::floor(centre - support)));
    int hi = std::min(from, static_cast<int>(std::ceil(centre + support)) + 1);
    hi = std::min(hi, lo + a.maxTaps);
    double sum = 0;
    float* w = a.weights.data() + static_cast<size_t>(x) * a.maxTaps;
    for (int i = lo; i < hi; ++i) {
      double v = catmullRom((i + 0.5 - centre) / widen);
      w[i - lo] = static_cast<float>(v);
      sum += v;
    }
    if (sum != 0)
      for (int i = lo; i < hi; ++i) w[i - lo] = static_cast<float>(w[i - lo] / sum);
    a.first[static_cast<size_t>(x)] = lo;
    a.taps[static_cast<size_t>(x)] = hi - lo;
  }
  return a;
}

// A picture of premultiplied RGBA floats.
struct FloatPicture {
  int width = 0, height = 0;
  std::vector<float> px;  // 4 per pixel
  float* at(int x, int y) { return px.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

void resample(const FloatPicture& in, FloatPicture& out, const AxisWeights& xs,
              const AxisWeights& ys) {
  FloatPicture mid;
  mid.width = out.width;
  mid.height = in.height;
  mid.px.assign(static_cast<size_t>(mid.width) * mid.height * 4, 0.f);
  for (int y = 0; y < in.height; ++y) {
    const float* row = in.px.data() + static_cast<size_t>(y) * in.width * 4;
    for (int x = 0; x < out.width; ++x) {
      const float* w = xs.weights.data() + static_cast<size_t>(x) * xs.maxTaps;
      const float* s = row + static_cast<size_t>(xs.first[static_cast<size_t>(x)]) * 4;
      float acc[4] = {0, 0, 0, 0};
      for (int k = 0; k < xs.taps[static_cast<size_t>(x)]; ++k)
        for (int c = 0; c < 4; ++c) acc[c] += w[k] * s[k * 4 + c];
      std::copy(acc, acc + 4, mid.at(x, y));
    }
  }
  out.px.assign(static_cast<size_t>(out.width) * out.height * 4, 0.f);
  for (int y = 0; y < out.height; ++y) {
    const float* w = ys.weights.data() + static_cast<size_t>(y) * ys.maxTaps;
    int first = ys.first[static_cast<size_t>(y)];
    float* dst = out.at(0, y);
    for (int k = 0; k < ys.taps[static_cast<size_t>(y)]; ++k) {
      const float* src = mid.px.data() + static_cast<size_t>(first + k) * mid.width * 4;
      for (int i = 0; i < mid.width * 4; ++i) dst[i] += w[k] * src[i];
    }
  }
}

struct Unpremultiplied {
  Rgb colour;
  int alpha;
};

Unpremultiplied unpremultiply(const float* p) {
  float a = std::clamp(p[3], 0.f, 255.f);
  Unpremultiplied u{};
  u.alpha = static_cast<int>(std::lround(a));
  if (a <= 0) return u;
  auto channel = [a](float v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v * 255.f / a), 0L, 255L));
  };
  u.colour = Rgb{channel(p[0]), channel(p[1]), channel(p[2])};
  return u;
}

// Nearest entries of one palette, remembered per colour.
class PaletteMapper {
 public:
  PaletteMapper(const Palette* p, int exclude) : palette_(p), exclude_(exclude) {}
  uint8_t map(Rgb c) {
    uint32_t key = packRgb(c);
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    int i = palette_ ? nearestColour(*palette_, c, exclude_) : -1;
    uint8_t v = static_cast<uint8_t>(i < 0 ? 0 : i);
    cache_.emplace(key, v);
    return v;
  }

 private:
  const Palette* palette_;
  int exclude_;
  std::unordered_map<uint32_t, uint8_t> cache_;
};

// Bicubic: the frame's shown colours resampled to im.width × im.height and
// mapped back into its palette; 24-bit data resampled alike.
bool stageBicubic(const Frame& f, FrameImage& im) {
  bool hasRgb = false, hasAlpha = false;
  if (!detail::allocateFrameImage(f, im.width, im.height, im, hasRgb, hasAlpha)) return false;
  AxisWeights xs = bicubicWeights(f.width, im.width);
  AxisWeights ys = bicubicWeights(f.height, im.height);
  FloatPicture in, out;
  in.width = f.width;
  in.height = f.height;
  out.width = im.width;
  out.height = im.height;
  if (f.dib) {
    const Palette* pal = f.palette();
    const bool transparent = f.transparent();
    const int ti = f.transparentIndex;
    in.px.assign(static_cast<size_t>(in.width) * in.height * 4, 0.f);
    for (int y = 0; y < f.height; ++y) {
      const uint8_t* row = f.dib->row(y);
      for (int x = 0; x < f.width; ++x) {
        if (transparent && row[x] == ti) continue;  // premultiplied: all zero
        Rgb c = paletteColour(pal, row[x]);
        float* p = in.at(x, y);
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
        p[3] = 255.f;
      }
    }
    resample(in, out, xs, ys);
    PaletteMapper mapper(pal, transparent ? ti : -1);
    for (int y = 0; y < im.height; ++y) {
      uint8_t* row = im.dib->row(y);
      for (int x = 0; x < im.width; ++x) {
        Unpremultiplied u = unpremultiply(out.at(x, y));
        row[x] = transparent && u.alpha < 128 ? static_cast<uint8_t>(ti) : mapper.map(u.colour);
      }
    }
  }
  if (hasRgb) {
    int s24 = stride24(f.width), s8 = stride8(f.width);
    in.px.assign(static_cast<size_t>(in.width) * in.height * 4, 0.f);
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const uint8_t* s = f.rgb.data() + static_cast<size_t>(y) * s24 + 3 * x;
        float a = hasAlpha ? f.alpha[static_cast<size_t>(y) * s8 + x] : 255.f;
        float* p = in.at(x, y);
        p[0] = s[0] * a / 255.f;
        p[1] = s[1] * a / 255.f;
        p[2] = s[2] * a / 255.f;
        p[3] = a;
      }
    resample(in, out, xs, ys);
    int d24 = stride24(im.width), d8 = stride8(im.width);
    for (int y = 0; y < im.height; ++y)
      for (int x = 0; x < im.width; ++x) {
        Unpremultiplied u = unpremultiply(out.at(x, y));
        uint8_t* d = im.rgb.data() + static_cast<size_t>(y) * d24 + 3 * x;
        d[0] = u.colour.r;
        d[1] = u.colour.g;
        d[2] = u.colour.b;
        if (hasAlpha) im.alpha[static_cast<size_t>(y) * d8 + x] = static_cast<uint8_t>(u.alpha);
      }
  }
  return true;
}

// Nearest: the pixel of old column xs[x], old row ys[y].
bool stageNearest(const Frame& f, const std::vector<int>& xs, const std::vector<int>& ys,
                  FrameImage& im) {
  auto map = [&](int x, int y) {
    return std::pair{xs[static_cast<size_t>(x)], ys[static_cast<size_t>(y)]};
  };
  return mapFrameImage(f, im.width, im.height, map, im);
}

bool stageResized(const Frame& f, const std::vector<int>& xs, const std::vector<int>& ys,
                  const ResizeOptions& options, FrameImage& im) {
  try {
    if (options.filter == ResizeFilter::Bicubic) return stageBicubic(f, im);
    return stageNearest(f, xs, ys, im);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The old pixel under the centre of new pixel i of `to` spanning `from` old
// ones (i may lie outside 0..to). A centre that falls exactly on the edge
// between two old pixels takes the one before, as ImageMagick's sampling does,
// so that both tools give the same pictures.
int64_t sampleOf(int64_t i, int64_t from, int64_t to) {
  int64_t n = (2 * i + 1) * from - 1;
  return n >= 0 ? n / (2 * to) : -((-n + 2 * to - 1) / (2 * to));
}

std::vector<int> centres(int from, int to) {
  std::vector<int> out(static_cast<size_t>(to));
  for (int i = 0; i < to; ++i)
    out[static_cast<size_t>(i)] = static_cast<int>(sampleOf(i, from, to));
  return out;
}

int64_t ceilDiv(int64_t a, int64_t b) {  // b > 0
  return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// The new position of the screen edge at old coordinate `edge`: the first new
// pixel whose sample (sampleOf) lies at or past it.
int scaledEdge(int64_t edge, int from, int to) {
  return static_cast<int>(ceilDiv(2 * edge * to - from + 1, int64_t{2} * from));
}

int scaledHotspot(int h, int from, int to) {
  if (h < 0) return h;
  return std::clamp(static_cast<int>((int64_t{2} * h + 1) * to / (int64_t{2} * from)), 0, to - 1);
}

}  // namespace

// ---- Rotate and flip ----

namespace {

std::vector<Frame*> everyFrame(const Animation& a) {
  std::vector<Frame*> out;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) out.push_back(f);
  return out;
}

// Makes each frame's new image with stage(frame, image) (the image starts as
// the frame is), then puts them all in; none when one cannot be made or the
// user cancels (`progress` steps once a frame).
template <class Stage>
bool transformEach(Animation& a, const std::vector<Frame*>& frames, Stage stage,
                   Progress* progress = nullptr) {
  std::vector<FrameImage> images;
  try {
    images.reserve(frames.size());
    if (progress) progress->setRange(static_cast<int64_t>(frames.size()));
    for (Frame* f : frames) {
      FrameImage& im = images.emplace_back();
      beginFrameImage(*f, im);
      if (!stage(*f, im)) return reportNoMemory();
      if (progress && !progress->step()) return false;
    }
  } catch (const std::bad_alloc&) {
    return reportNoMemory();
  }
  commitFrameImages(images);
  a.encodedSize = -1;
  return true;
}

// A frame turned about itself.
bool turnFrame(Rotation r, const Frame& f, FrameImage& im) {
  if (swapsSides(r)) std::swap(im.width, im.height);
  turnHotspot(r, f, im);
  return stagePixels(f, Turn{r, f.width, f.height}, im);
}

bool mirrorFrame(FlipAxis axis, const Frame& f, FrameImage& im) {
  mirrorHotspot(axis, f, im);
  return stagePixels(f, Mirror{axis, f.width, f.height}, im);
}

}  // namespace

bool rotateAnimation(Animation& a, Rotation r) {
  const int w = a.width, h = a.height;
  // Each frame turns about itself, then its rectangle moves where the screen's turn takes it.
  bool done = transformEach(a, everyFrame(a), [&](const Frame& f, FrameImage& im) {
    switch (r) {
      case Rotation::Clockwise90:
        im.left = h - f.top - f.height;
        im.top = f.left;
        break;
      case Rotation::Half:
        im.left = w - f.left - f.width;
        im.top = h - f.top - f.height;
        break;
      case Rotation::Anticlockwise90:
        im.left = f.top;
        im.top = w - f.left - f.width;
        break;
    }
    return turnFrame(r, f, im);
  });
  if (done && swapsSides(r)) std::swap(a.width, a.height);
  return done;
}

bool flipAnimation(Animation& a, FlipAxis axis) {
  const int w = a.width, h = a.height;
  return transformEach(a, everyFrame(a), [&](const Frame& f, FrameImage& im) {
    if (axis == FlipAxis::Horizontal)
      im.left = w - f.left - f.width;
    else
      im.top = h - f.top - f.height;
    return mirrorFrame(axis, f, im);
  });
}

bool rotateFrames(Animation& a, const std::vector<int>& frames, Rotation r) {
  std::vector<Frame*> chosen;
  if (!framesNamed(a, frames, chosen)) return false;
  return transformEach(a, chosen,
                       [r](const Frame& f, FrameImage& im) { return turnFrame(r, f, im); });
}

bool flipFrames(Animation& a, const std::vector<int>& frames, FlipAxis axis) {
  std::vector<Frame*> chosen;
  if (!framesNamed(a, frames, chosen)) return false;
  return transformEach(a, chosen,
                       [axis](const Frame& f, FrameImage& im) { return mirrorFrame(axis, f, im); });
}

// ---- Move, crop, centre ----

bool moveCropFrame(Animation& a, int index, int left, int top, const Rect& crop) {
  Frame* f = frameNamed(a, index);
  if (!f) return false;
  if (crop.width < 1 || crop.height < 1 || crop.x < 0 || crop.y < 0 ||
      crop.x + int64_t{crop.width} > f->width || crop.y + int64_t{crop.height} > f->height) {
    showWarning(format(Str::EditCropOutsideFrame, crop.x, crop.y, crop.width, crop.height, f->width,
                       f->height));
    return false;
  }
  if (!validPosition(left) || !validPosition(top)) {
    showWarning(text(Str::EditPositionInvalid));
    return false;
  }
  FrameImage im;
  beginFrameImage(*f, im);
  im.left = left;
  im.top = top;
  if (crop != Rect{0, 0, f->width, f->height}) {
    im.width = crop.width;
    im.height = crop.height;
    if (im.hotspotX >= 0) im.hotspotX -= crop.x;
    if (im.hotspotY >= 0) im.hotspotY -= crop.y;
    auto map = [&crop](int x, int y) { return std::pair{x + crop.x, y + crop.y}; };
    if (!mapFrameImage(*f, im.width, im.height, map, im)) return reportNoMemory();
  }
  commitFrameImage(im);
  a.encodedSize = -1;
  return true;
}

bool cropAnimation(Animation& a, const Rect& r) {
  if (r.width < 1 || r.height < 1 || r.x < 0 || r.y < 0 || r.x + int64_t{r.width} > a.width ||
      r.y + int64_t{r.height} > a.height) {
    showWarning(format(Str::EditCropOutsideScreen, r.x, r.y, r.width, r.height, a.width, a.height));
    return false;
  }
  if (!cutFramesTo(a, r)) return reportNoMemory();
  a.width = r.width;
  a.height = r.height;
  a.encodedSize = -1;
  return true;
}

void centreFrames(Animation& a) {
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    f->left = (a.width - f->width) / 2;
    f->top = (a.height - f->height) / 2;
  }
  a.encodedSize = -1;
}

// ---- Resize ----

bool resizeAnimation(Animation& a, int width, int height, const ResizeOptions& options,
                     Progress* progress) {
  if (!validSize(width) || !validSize(height)) {
    showWarning(text(Str::EditSizeInvalid));
    return false;
  }
  if (width == a.width && height == a.height) return true;
  if (a.width < 1 || a.height < 1) {  // nothing to scale from: only the screen changes
    a.width = width;
    a.height = height;
    return true;
  }
  std::vector<FrameImage> images;
  try {
    // The geometry first, so that a result too large is refused before any work.
    images.reserve(static_cast<size_t>(a.frameCount()));
    int64_t pixels = 0;
    for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
      FrameImage& im = images.emplace_back();
      beginFrameImage(*f, im);
      int l = scaledEdge(f->left, a.width, width);
      int r = scaledEdge(int64_t{f->left} + f->width, a.width, width);
      int t = scaledEdge(f->top, a.height, height);
      int b = scaledEdge(int64_t{f->top} + f->height, a.height, height);
      im.left = l;
      im.top = t;
      im.width = r - l;
      im.height = b - t;
      if (im.width < 1 || im.height < 1 || f->width < 1 || f->height < 1) {
        im.hidden = true;
        continue;
      }
      if (!sizeAcceptable(im.width, im.height)) {
        showWarning(text(Str::EditResultTooLarge));
        return false;
      }
      pixels += int64_t{im.width} * im.height;
    }
    if (!resultFits(pixels)) {
      showWarning(text(Str::EditResultTooLarge));
      return false;
    }
    if (progress) progress->setRange(static_cast<int64_t>(images.size()));
    for (FrameImage& im : images) {
      const Frame& f = *im.frame;
      if (progress && !progress->step()) return false;
      if (im.hidden) {
        if (!hiddenFrameImage(f, 0, 0, im)) return reportNoMemory();
        continue;
      }
      // Each new pixel's centre taken back to the old screen, then into the frame.
      std::vector<int> xs(static_cast<size_t>(im.width)), ys(static_cast<size_t>(im.height));
      for (int x = 0; x < im.width; ++x) {
        int64_t old = sampleOf(im.left + x, a.width, width) - f.left;
        xs[static_cast<size_t>(x)] = static_cast<int>(std::clamp<int64_t>(old, 0, f.width - 1));
      }
      for (int y = 0; y < im.height; ++y) {
        int64_t old = sampleOf(im.top + y, a.height, height) - f.top;
        ys[static_cast<size_t>(y)] = static_cast<int>(std::clamp<int64_t>(old, 0, f.height - 1));
      }
      im.hotspotX = scaledHotspot(f.hotspotX, f.width, im.width);
      im.hotspotY = scaledHotspot(f.hotspotY, f.height, im.height);
      if (!stageResized(f, xs, ys, options, im)) return reportNoMemory();
    }
  } catch (const std::bad_alloc&) {
    return reportNoMemory();
  }
  commitFrameImages(images);
  a.width = width;
  a.height = height;
  a.encodedSize = -1;
  return true;
}

bool resizeFrames(Animation& a, const std::vector<int>& frames, int width, int height,
                  const ResizeOptions& options, Progress* progress) {
  if (!validSize(width) || !validSize(height)) {
    showWarning(text(Str::EditSizeInvalid));
    return false;
  }
  std::vector<Frame*> chosen;
  if (!framesNamed(a, frames, chosen)) return false;
  if (!sizeAcceptable(width, height) ||
      !resultFits(int64_t{width} * height * static_cast<int64_t>(chosen.size()))) {
    showWarning(text(Str::EditResultTooLarge));
    return false;
  }
  std::vector<Frame*> changing;
  for (Frame* f : chosen)
    if (f->width != width || f->height != height) changing.push_back(f);
  auto stage = [&](const Frame& f, FrameImage& im) {
    im.width = width;
    im.height = height;
    if (f.width < 1 || f.height < 1) {
      // Nothing to scale: a blank image of the new size.
      bool rgb = false, alpha = false;
      return detail::allocateFrameImage(f, width, height, im, rgb, alpha);
    }
    im.hotspotX = scaledHotspot(f.hotspotX, f.width, width);
    im.hotspotY = scaledHotspot(f.hotspotY, f.height, height);
    return stageResized(f, centres(f.width, width), centres(f.height, height), options, im);
  };
  return transformEach(a, changing, stage, progress);
}

}  // namespace fb
