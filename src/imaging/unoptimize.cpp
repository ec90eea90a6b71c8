#include "imaging/unoptimize.h"

#include <algorithm>
#include <cstring>

#include "resources/strings.h"
#include "base/progress.h"
#include "base/reporter.h"

namespace fb {
namespace {

void drawOnto(Bitmap& b, const Frame& f) {
  if (!f.dib) return;
  int x0 = std::max(0, f.left), y0 = std::max(0, f.top);
  int x1 = std::min(b.width, f.left + f.width), y1 = std::min(b.height, f.top + f.height);
  if (x1 <= x0 || y1 <= y0) return;
  for (int y = y0; y < y1; ++y) {
    const uint8_t* src = f.dib->row(y - f.top) - f.left;
    uint8_t* dst = b.row(y);
    if (!f.transparent()) {
      std::memcpy(dst + x0, src + x0, static_cast<size_t>(std::max(0, x1 - x0)));
      continue;
    }
    for (int x = x0; x < x1; ++x)
      if (src[x] != f.transparentIndex) dst[x] = src[x];
  }
}

void fillRect(Bitmap& b, int left, int top, int w, int h, uint8_t value) {
  int x0 = std::max(0, left), y0 = std::max(0, top);
  int x1 = std::min(b.width, left + w), y1 = std::min(b.height, top + h);
  if (x1 <= x0 || y1 <= y0) return;
  for (int y = y0; y < y1; ++y)
    std::memset(b.row(y) + x0, value, static_cast<size_t>(std::max(0, x1 - x0)));
}

}  // namespace

bool unoptimize(Animation& a, Progress* progress) {
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    if (f->localPalette) {
      reporter().message(text(Str::UnoptimizeCaption), text(Str::UnoptimizeLocalPalettes),
                         Icon::Warning);
      return false;
    }
  }
  Palette* global = a.globalPalette.get();
  auto screen = createBitmap(a.width, a.height, global);
  if (!screen) {
    showWarning(text(Str::UnoptimizeNoMemory));
    return false;
  }
  std::fill(screen->data.begin(), screen->data.end(), a.backgroundIndex);
  if (progress) {
    progress->setText(text(Str::Unoptimizing));
    progress->setRange(a.frameCount());
  }
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    int d = f->disposal();
    if (d != 3) drawOnto(*screen, *f);
    auto picture = copyBitmap(*screen);
    if (!picture) {
      showWarning(text(Str::UnoptimizeNoMemoryFrame));
      return false;
    }
    if (d == 3) drawOnto(*picture, *f);
    int oldLeft = f->left, oldTop = f->top, oldW = f->width, oldH = f->height;
    setTransparent(*f, false);
    f->left = f->top = 0;
    f->width = a.width;
    f->height = a.height;
    setBitmap(*f, std::move(picture));
    // 24-bit data no longer matches the new picture.
    if (f->hasRgb()) setRgb(*f, {});
    if (d == 2) fillRect(*screen, oldLeft, oldTop, oldW, oldH, a.backgroundIndex);
    f->setDisposal(1);
    if (progress) progress->step();
  }
  recountColourUsage(a);
  a.encodedSize = -1;
  return true;
}

}  // namespace fb
