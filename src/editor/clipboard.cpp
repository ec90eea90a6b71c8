#include "editor/clipboard.h"

#include <QImage>
#include <QMimeData>
#include <cstring>

#include "document/rgba.h"
#include "formats/picture_frames.h"

namespace fb {
namespace {

constexpr char kMagic[4] = {'F', 'B', 'F', '2'};

class Writer {
 public:
  void u8(uint8_t v) { out.append(static_cast<char>(v)); }
  void i32(int32_t v) {
    for (int k = 0; k < 4; ++k) u8(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k)));
  }
  void bytes(const void* p, size_t n) {
    i32(static_cast<int32_t>(n));
    out.append(static_cast<const char*>(p), static_cast<qsizetype>(n));
  }
  void palette(const Palette* p) {
    u8(p ? 1 : 0);
    if (!p) return;
    i32(p->count);
    for (int i = 0; i < p->count; ++i) {
      u8(p->entries[i].r);
      u8(p->entries[i].g);
      u8(p->entries[i].b);
    }
  }
  QByteArray out;
};

class Reader {
 public:
  explicit Reader(const QByteArray& b) : data(b) {}
  bool ok = true;
  uint8_t u8() {
    if (pos + 1 > data.size()) return fail();
    return static_cast<uint8_t>(data[pos++]);
  }
  int32_t i32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(u8()) << (8 * k);
    return static_cast<int32_t>(v);
  }
  // Exactly `expected` bytes (or any length when `expected` is -1).
  bool bytes(std::vector<uint8_t>& out, int64_t expected) {
    int32_t n = i32();
    if (!ok || n < 0 || (expected >= 0 && n != expected) || n > data.size() - pos) return fail();
    out.assign(data.begin() + pos, data.begin() + pos + n);
    pos += n;
    return true;
  }
  std::unique_ptr<Palette> palette(bool& present) {
    present = u8() != 0;
    if (!ok || !present) return nullptr;
    int count = i32();
    if (count < 0 || count > 256) {
      fail();
      return nullptr;
    }
    auto p = std::make_unique<Palette>();
    p->count = count;
    for (int i = 0; i < count; ++i) p->entries[i] = {u8(), u8(), u8()};
    return ok ? std::move(p) : nullptr;
  }
  uint8_t fail() {
    ok = false;
    return 0;
  }
  const QByteArray& data;
  qsizetype pos = 0;
};

}  // namespace

QByteArray encodeFrames(const Animation& a, const std::vector<int>& indices) {
  Writer w;
  w.out.append(kMagic, 4);
  w.i32(a.width);
  w.i32(a.height);
  w.palette(a.globalPalette.get());
  w.i32(static_cast<int32_t>(indices.size()));
  for (int i : indices) {
    const Frame* f = a.frame(i);
    if (!f) return {};
    for (int32_t v : {f->left, f->top, f->width, f->height, f->hotspotX, f->hotspotY, f->delay,
                      f->blend})
      w.i32(v);
    w.u8(f->controlFlags);
    w.u8(f->transparentIndex);
    w.u8(f->imageFlags);
    std::string name = f->name ? frameName(*f) : std::string();
    w.u8(f->name ? 1 : 0);
    w.bytes(name.data(), name.size());
    w.palette(f->localPalette.get());
    w.u8(f->dib ? 1 : 0);
    if (f->dib) w.bytes(f->dib->data.data(), f->dib->data.size());
    w.bytes(f->rgb.data(), f->rgb.size());
    w.bytes(f->alpha.data(), f->alpha.size());
  }
  return w.out;
}

std::unique_ptr<Animation> decodeFrames(const QByteArray& bytes) {
  if (bytes.size() < 4 || std::memcmp(bytes.constData(), kMagic, 4) != 0) return nullptr;
  try {
    Reader r(bytes);
    r.pos = 4;
    auto a = createAnimation();
    if (!a) return nullptr;
    a->width = r.i32();
    a->height = r.i32();
    if (!r.ok || !sizeAcceptable(a->width, a->height)) return nullptr;
    bool present = false;
    a->globalPalette = r.palette(present);
    if (!r.ok) return nullptr;
    int32_t count = r.i32();
    // Every frame takes at least its fixed fields: a count beyond that is a lie.
    if (!r.ok || count < 1 || count > bytes.size() / 40) return nullptr;
    for (int32_t k = 0; k < count; ++k) {
      auto f = std::unique_ptr<Frame>(new Frame);
      f->left = r.i32();
      f->top = r.i32();
      f->width = r.i32();
      f->height = r.i32();
      f->hotspotX = r.i32();
      f->hotspotY = r.i32();
      f->delay = r.i32();
      f->blend = r.i32();
      f->controlFlags = r.u8();
      f->transparentIndex = r.u8();
      f->imageFlags = r.u8();
      if (!r.ok || !sizeAcceptable(f->width, f->height) || f->delay < 0) return nullptr;
      bool named = r.u8() != 0;
      std::vector<uint8_t> name;
      if (!r.bytes(name, -1)) return nullptr;
      if (named) {
        name.push_back(0);
        setFrameName(*f, reinterpret_cast<const char*>(name.data()));
      }
      f->localPalette = r.palette(present);
      if (!r.ok) return nullptr;
      const Palette* shown = f->localPalette ? f->localPalette.get() : a->globalPalette.get();
      bool hasDib = r.u8() != 0;
      const int64_t rows = f->height;
      if (hasDib) {
        auto dib = createBitmap(f->width, f->height, shown);
        if (!dib || !r.bytes(dib->data, static_cast<int64_t>(dib->stride) * rows)) return nullptr;
        f->dib = std::move(dib);
      }
      std::vector<uint8_t> rgb, alpha;
      if (!r.bytes(rgb, -1)) return nullptr;
      if (!rgb.empty() && static_cast<int64_t>(rgb.size()) != stride24(f->width) * rows)
        return nullptr;
      if (!r.bytes(alpha, -1)) return nullptr;
      if (!alpha.empty() && static_cast<int64_t>(alpha.size()) != stride8(f->width) * rows)
        return nullptr;
      if (!f->dib && rgb.empty()) return nullptr;
      f->rgb = std::move(rgb);
      f->alpha = std::move(alpha);
      // The mask follows the transparency fields.
      if (f->transparent()) {
        f->controlFlags &= static_cast<uint8_t>(~1);
        setTransparent(*f, true);
      }
      appendFrame(*a, std::move(f));
    }
    if (r.pos != bytes.size()) return nullptr;
    return a;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

QImage frameImage(const Frame& frame) {
  std::vector<uint8_t> rgba = frameToRgba(frame);
  if (rgba.size() < static_cast<size_t>(frame.width) * frame.height * 4) return {};
  return QImage(rgba.data(), frame.width, frame.height, frame.width * 4,
                QImage::Format_RGBA8888)
      .copy();
}

QMimeData* framesToMime(const Animation& animation, const std::vector<int>& indices) {
  auto* mime = new QMimeData;
  mime->setData(kFrameMime, encodeFrames(animation, indices));
  if (!indices.empty())
    if (const Frame* f = animation.frame(indices.front())) mime->setImageData(frameImage(*f));
  return mime;
}

bool mimeHasFrames(const QMimeData* mime) {
  return mime && (mime->hasFormat(kFrameMime) || mime->hasImage());
}

std::unique_ptr<Animation> animationFromMime(const QMimeData* mime,
                                             const DocumentDefaults& defaults) {
  if (!mime) return nullptr;
  if (mime->hasFormat(kFrameMime)) return decodeFrames(mime->data(kFrameMime));
  if (!mime->hasImage()) return nullptr;
  QImage image = qvariant_cast<QImage>(mime->imageData());
  if (image.isNull() || !sizeAcceptable(image.width(), image.height())) return nullptr;
  image = image.convertToFormat(QImage::Format_RGBA8888);
  Picture p;
  p.width = image.width();
  p.height = image.height();
  p.hasAlpha = image.hasAlphaChannel();
  try {
    p.pixels.resize(static_cast<size_t>(p.width) * p.height * 4);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  for (int y = 0; y < p.height; ++y)
    std::memcpy(p.row(y), image.constScanLine(y), static_cast<size_t>(p.width) * 4);
  std::vector<Picture> pictures;
  pictures.push_back(std::move(p));
  return animationFromPictures(pictures, image.width(), image.height(), 1, defaults);
}

}  // namespace fb
