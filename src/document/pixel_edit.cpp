#include "document/pixel_edit.h"

#include <new>

#include "base/reporter.h"
#include "document/edit_checks.h"
#include "resources/strings.h"

namespace fb {
namespace {

// The frame, when it has indexed pixels and the points lie inside it.
Frame* editableFrame(const Animation& a, int index, const std::vector<Point>& points) {
  Frame* f = frameNamed(a, index);
  if (!f) return nullptr;
  if (!f->dib) {
    showWarning(text(Str::FrameNotIndexed));
    return nullptr;
  }
  for (const Point& p : points)
    if (p.x < 0 || p.y < 0 || p.x >= f->dib->width || p.y >= f->dib->height) {
      showWarning(format(Str::PixelOutsideFrame, p.x, p.y, f->width, f->height));
      return nullptr;
    }
  return f;
}

bool validColour(const Frame& f, int index) {
  const Palette* p = f.palette();
  int count = p ? p->count : 256;
  if (index >= 0 && index < count) return true;
  showWarning(format(Str::ColourIndexInvalid, index, count));
  return false;
}

// The 24-bit picture at x, y as the indexed one now shows it.
void follow24Bit(Frame& f, int x, int y) {
  if (!f.hasRgb()) return;
  uint8_t v = f.dib->row(y)[x];
  size_t at = static_cast<size_t>(y) * stride24(f.width) + 3 * static_cast<size_t>(x);
  if (at + 3 <= f.rgb.size()) {
    const Palette* p = f.palette();
    Rgb c = p && v < p->count ? (*p)[v] : Rgb{};
    f.rgb[at] = c.r;
    f.rgb[at + 1] = c.g;
    f.rgb[at + 2] = c.b;
  }
  size_t ai = static_cast<size_t>(y) * stride8(f.width) + static_cast<size_t>(x);
  if (ai < f.alpha.size()) f.alpha[ai] = f.transparent() && v == f.transparentIndex ? 0 : 255;
  f.display.clear();
}

void rebuildMask(Frame& f) {
  f.mask.reset();
  if (f.transparent()) f.mask = buildMask(*f.dib, f.transparentIndex);
}

}  // namespace

bool paintPixels(Animation& a, int frame, const std::vector<Point>& points, int index) {
  Frame* f = editableFrame(a, frame, points);
  if (!f || !validColour(*f, index)) return false;
  for (const Point& p : points) {
    f->dib->row(p.y)[p.x] = static_cast<uint8_t>(index);
    follow24Bit(*f, p.x, p.y);
  }
  rebuildMask(*f);
  a.encodedSize = -1;
  return true;
}

bool floodFill(Animation& a, int frame, Point start, int index) {
  Frame* f = editableFrame(a, frame, {start});
  if (!f || !validColour(*f, index)) return false;
  Bitmap& b = *f->dib;
  const uint8_t from = b.row(start.y)[start.x];
  if (from == index) return true;
  // The region first, so that running out of memory half way changes nothing.
  std::vector<Point> region;
  try {
    std::vector<uint8_t> seen(static_cast<size_t>(b.width) * b.height, 0);
    std::vector<Point> todo{start};
    seen[static_cast<size_t>(start.y) * b.width + start.x] = 1;
    while (!todo.empty()) {
      Point p = todo.back();
      todo.pop_back();
      region.push_back(p);
      const Point next[4] = {{p.x - 1, p.y}, {p.x + 1, p.y}, {p.x, p.y - 1}, {p.x, p.y + 1}};
      for (const Point& q : next) {
        if (q.x < 0 || q.y < 0 || q.x >= b.width || q.y >= b.height) continue;
        uint8_t& s = seen[static_cast<size_t>(q.y) * b.width + q.x];
        if (s || b.row(q.y)[q.x] != from) continue;
        s = 1;
        todo.push_back(q);
      }
    }
  } catch (const std::bad_alloc&) {
    showWarning(text(Str::EditNoMemory));
    return false;
  }
  for (const Point& p : region) {
    b.row(p.y)[p.x] = static_cast<uint8_t>(index);
    follow24Bit(*f, p.x, p.y);
  }
  rebuildMask(*f);
  a.encodedSize = -1;
  return true;
}

bool pickTransparentIndex(Animation& a, int frame, Point at) {
  Frame* f = editableFrame(a, frame, {at});
  if (!f) return false;
  const int oldIndex = f->transparent() ? f->transparentIndex : -1;
  const uint8_t index = f->dib->row(at.y)[at.x];
  std::vector<uint8_t> alpha;
  if (f->hasRgb()) {
    // The 24-bit picture hides the same pixels: its colours stay, its alpha follows.
    try {
      alpha = f->alpha;
      alpha.resize(static_cast<size_t>(stride8(f->width)) * f->height, 255);
    } catch (const std::bad_alloc&) {
      showWarning(text(Str::EditNoMemory));
      return false;
    }
    for (int y = 0; y < f->height; ++y) {
      const uint8_t* row = f->dib->row(y);
      uint8_t* ar = alpha.data() + static_cast<size_t>(y) * stride8(f->width);
      for (int x = 0; x < f->width; ++x) {
        if (row[x] == index)
          ar[x] = 0;
        else if (row[x] == oldIndex)
          ar[x] = 255;
      }
    }
  }
  setTransparentIndex(*f, index);
  setTransparent(*f, true);
  if (f->hasRgb()) setAlpha(*f, std::move(alpha));
  a.encodedSize = -1;
  return true;
}

}  // namespace fb
