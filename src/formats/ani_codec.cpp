#include "formats/ani_codec.h"

#include <algorithm>
#include <new>

#include "formats/avi_riff.h"

namespace fb {

using avi::fourcc;
using avi::getU32;
using avi::putU32;

namespace {

constexpr uint32_t kIconFlag = 0x1;  // frames are icon or cursor files
constexpr int kMaxJiffies = 1 << 20;

struct Header {
  bool seen = false;
  uint32_t frames = 0, steps = 0, rate = 0, flags = 0;
  uint32_t width = 0, height = 0;
};

std::string zeroEnded(const uint8_t* p, size_t n) {
  size_t k = 0;
  while (k < n && p[k]) ++k;
  return std::string(reinterpret_cast<const char*>(p), k);
}

bool knownChunk(uint32_t id) {
  for (const char* k : {"anih", "rate", "seq ", "LIST", "icon", "INAM", "IART"})
    if (id == getU32(reinterpret_cast<const uint8_t*>(k))) return true;
  return false;
}

bool printable(uint32_t id) {
  for (int i = 0; i < 4; ++i, id >>= 8)
    if ((id & 0xFF) < 0x20 || (id & 0xFF) > 0x7E) return false;
  return true;
}

// Walks the chunks in [at, end): calls `visit(id, data, length)` for each.
// False when a chunk reaches past the end. Some writers count padding
// wrongly: where no chunk name stands, a known one up to 3 bytes away is taken.
template <typename Visit>
bool walkChunks(const uint8_t* data, size_t at, size_t end, Visit visit) {
  const size_t start = at;
  while (end - at >= 8) {
    if (!printable(getU32(data + at))) {
      for (int k : {-1, 1, -2, 2, -3, 3}) {
        const size_t near = at + static_cast<size_t>(k);
        if (near >= start && near + 8 <= end && knownChunk(getU32(data + near))) {
          at = near;
          break;
        }
      }
    }
    const uint32_t id = getU32(data + at), length = getU32(data + at + 4);
    at += 8;
    if (length > end - at) return false;
    if (!visit(id, data + at, static_cast<size_t>(length))) return false;
    at += length + (length & 1);
    if (at > end) at = end;
  }
  return true;
}

}  // namespace

CodecStatus decodeAni(const uint8_t* data, size_t size, PixelBudget* budget, AniFile& out) {
  if (size < 12 || getU32(data) != fourcc("RIFF") || getU32(data + 8) != fourcc("ACON"))
    return CodecStatus::Corrupt;
  out = AniFile{};
  // The RIFF size is not trusted: some writers leave chunks they add out of it.
  const size_t end = size;
  Header h;
  std::vector<uint32_t> rates, sequence;
  CodecStatus status = CodecStatus::Ok;
  auto readArray = [](const uint8_t* p, size_t n, std::vector<uint32_t>& v) {
    v.resize(n / 4);
    for (size_t i = 0; i < v.size(); ++i) v[i] = getU32(p + 4 * i);
  };
  bool walked;
  try {
    walked = walkChunks(data, 12, end, [&](uint32_t id, const uint8_t* p, size_t n) {
      if (id == fourcc("anih")) {
        if (n < 36) return false;
        h.seen = true;
        h.frames = getU32(p + 4);
        h.steps = getU32(p + 8);
        h.width = getU32(p + 12);
        h.height = getU32(p + 16);
        h.rate = getU32(p + 28);
        h.flags = getU32(p + 32);
      } else if (id == fourcc("rate")) {
        readArray(p, n, rates);
      } else if (id == fourcc("seq ")) {
        readArray(p, n, sequence);
      } else if (id == fourcc("LIST") && n >= 4) {
        const uint32_t type = getU32(p);
        if (type == fourcc("fram")) {
          return walkChunks(p, 4, n, [&](uint32_t sub, const uint8_t* q, size_t k) {
            if (sub != fourcc("icon")) return true;
            // Raw frames (not icon files) are refused below, from the header.
            if (h.seen && !(h.flags & kIconFlag)) return true;
            out.frames.emplace_back();
            status = decodeIcon(q, k, budget, out.frames.back());
            return status == CodecStatus::Ok;
          });
        }
        if (type == fourcc("INFO")) {
          return walkChunks(p, 4, n, [&](uint32_t sub, const uint8_t* q, size_t k) {
            if (sub == fourcc("INAM")) out.title = zeroEnded(q, k);
            if (sub == fourcc("IART")) out.author = zeroEnded(q, k);
            return true;
          });
        }
      }
      return true;
    });
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  if (status != CodecStatus::Ok) return status;
  if (!walked || !h.seen) return CodecStatus::Corrupt;
  if (!(h.flags & kIconFlag)) return CodecStatus::Unsupported;
  if (out.frames.empty()) return CodecStatus::Corrupt;

  // Steps: as many as the header says (the sequence, when there is one,
  // cannot name more than it holds).
  size_t steps = h.steps ? h.steps : out.frames.size();
  // A "seq " chunk orders the steps even where the header's flag forgets to say so.
  const bool ordered = !sequence.empty();
  if (ordered)
    steps = std::min(steps, sequence.size());
  else
    steps = std::min(steps, out.frames.size());
  try {
    out.steps.resize(steps);
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  for (size_t i = 0; i < steps; ++i) {
    const uint32_t frame = ordered ? sequence[i] : static_cast<uint32_t>(i);
    if (frame >= out.frames.size()) return CodecStatus::Corrupt;
    const uint32_t rate = i < rates.size() ? rates[i] : h.rate;
    out.steps[i].frame = static_cast<int>(frame);
    out.steps[i].jiffies = static_cast<int>(std::min<uint32_t>(rate, kMaxJiffies));
  }
  return CodecStatus::Ok;
}

CodecStatus encodeAni(const AniFile& ani, std::vector<uint8_t>& out) {
  if (ani.frames.empty() || ani.steps.size() != ani.frames.size()) return CodecStatus::Corrupt;
  try {
    std::vector<uint8_t> frames;
    putU32(frames, fourcc("fram"));
    std::vector<uint8_t> icon;
    for (const IconFile& f : ani.frames) {
      CodecStatus s = encodeIcon(f, icon);
      if (s != CodecStatus::Ok) return s;
      putU32(frames, fourcc("icon"));
      putU32(frames, static_cast<uint32_t>(icon.size()));
      frames.insert(frames.end(), icon.begin(), icon.end());
      if (icon.size() & 1) frames.push_back(0);
    }
    const IconEntry& first = ani.frames.front().entries.front();
    const uint32_t n = static_cast<uint32_t>(ani.frames.size());
    out.clear();
    putU32(out, fourcc("RIFF"));
    putU32(out, 0);  // filled in below
    putU32(out, fourcc("ACON"));
    if (!ani.title.empty() || !ani.author.empty()) {
      std::vector<uint8_t> info;
      putU32(info, fourcc("INFO"));
      auto text = [&](uint32_t id, const std::string& s) {
        if (s.empty()) return;
        putU32(info, id);
        putU32(info, static_cast<uint32_t>(s.size() + 1));
        info.insert(info.end(), s.begin(), s.end());
        info.push_back(0);
        if ((s.size() + 1) & 1) info.push_back(0);
      };
      text(fourcc("INAM"), ani.title);
      text(fourcc("IART"), ani.author);
      putU32(out, fourcc("LIST"));
      putU32(out, static_cast<uint32_t>(info.size()));
      out.insert(out.end(), info.begin(), info.end());
    }
    putU32(out, fourcc("anih"));
    putU32(out, 36);
    putU32(out, 36);
    putU32(out, n);  // frames
    putU32(out, n);  // steps
    const bool png = !first.png.empty();
    putU32(out, static_cast<uint32_t>(png ? first.width : first.picture.width));
    putU32(out, static_cast<uint32_t>(png ? first.height : first.picture.height));
    putU32(out, png || !first.picture.indexed ? 32 : 8);
    putU32(out, 1);  // planes
    putU32(out, static_cast<uint32_t>(ani.steps.front().jiffies));
    putU32(out, kIconFlag);
    putU32(out, fourcc("rate"));
    putU32(out, 4 * n);
    for (const AniStep& s : ani.steps) putU32(out, static_cast<uint32_t>(std::max(s.jiffies, 0)));
    putU32(out, fourcc("LIST"));
    putU32(out, static_cast<uint32_t>(frames.size()));
    out.insert(out.end(), frames.begin(), frames.end());
    if (out.size() > 0xFFFFFFFFu) return CodecStatus::TooLarge;
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>((out.size() - 8) >> (8 * i));
  } catch (const std::bad_alloc&) {
    return CodecStatus::NoMemory;
  }
  return CodecStatus::Ok;
}

}  // namespace fb
