#include "gif/lzw_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "document/palette.h"
#include "gif/gif_writer.h"

namespace fb {
namespace {

constexpr int kMaxBits = 12;
constexpr int kTableSize = 1 << kMaxBits;  // 4096 codes

// The standard layout's table, exactly as compress(1) keeps it: 5003 slots,
// hash shift 4, probing backwards while the probed key is positive. Its
// quirks decide which strings the encoder finds (a key of 0 ends a probe, and
// the slot it stopped at is written over), so they are kept as they are: the
// default saves depend on them byte for byte.
class CompressTable {
 public:
  static constexpr int kSize = 5003;
  static constexpr int kShift = 4;

  void clear(int /*codes*/) { std::memset(keys_, 0xFF, sizeof keys_); }

  static uint32_t keyOf(int prefix, int pixel) {
    return (static_cast<uint32_t>(pixel) << kMaxBits) + static_cast<uint32_t>(prefix);
  }
  // The code for `key`, or -1 with `slot` where it would go.
  int find(uint32_t key, uint32_t& slot) const {
    const int32_t fcode = static_cast<int32_t>(key);
    int i = static_cast<int>(((key >> kMaxBits) << kShift) ^ (key & (kTableSize - 1)));
    int32_t k = keys_[i];
    if (k == fcode) return codes_[i];
    if (k >= 0) {
      const int disp = i == 0 ? 1 : kSize - i;
      do {
        if ((i -= disp) < 0) i += kSize;
        k = keys_[i];
        if (k == fcode) return codes_[i];
      } while (k > 0);
    }
    slot = static_cast<uint32_t>(i);
    return -1;
  }
  void insert(uint32_t slot, uint32_t key, int code) {
    keys_[slot] = static_cast<int32_t>(key);
    codes_[slot] = static_cast<uint16_t>(code);
  }

 private:
  int32_t keys_[kSize];
  uint16_t codes_[kSize];
};

// The smallest layout's table: open addressing in four times the codes it
// may hold, so probes stay short (and a small image clears a small table).
class StringTable {
 public:
  static constexpr int kMaxSlotBits = 14;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

  // Empty, for up to `codes` strings (only added ones take a slot).
  void clear(int codes) {
    slotBits_ = 6;
    while (slotBits_ < kMaxSlotBits && (1 << slotBits_) < 4 * codes) ++slotBits_;
    mask_ = (1u << slotBits_) - 1;
    std::memset(slots_, 0xFF, sizeof(uint32_t) << slotBits_);
  }

  static uint32_t keyOf(int prefix, int pixel) {
    return (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
  }
  int find(uint32_t key, uint32_t& slot) const {
    uint32_t i = (key * 0x9E3779B1u) >> (32 - slotBits_);
    for (;;) {
      const uint32_t s = slots_[i];
      if (s == kEmpty) {
        slot = i;
        return -1;
      }
      if ((s >> kMaxBits) == key) return static_cast<int>(s & (kTableSize - 1));
      i = (i + 1) & mask_;
    }
  }
  void insert(uint32_t slot, uint32_t key, int code) {
    slots_[slot] = (key << kMaxBits) | static_cast<uint32_t>(code);
  }

 private:
  // (key << 12) | code with a 20-bit key. No entry is all ones: prefix 4095
  // exists only once the table is full, when nothing more is added.
  uint32_t slots_[1u << kMaxSlotBits];
  int slotBits_ = kMaxSlotBits;
  uint32_t mask_ = (1u << kMaxSlotBits) - 1;
};

// Codes into bytes and data sub-blocks, or only counted. The standard layout
// writes sub-blocks of 254 bytes, the smallest one of 255, the most there is.
class CodeWriter {
 public:
  CodeWriter(ByteSink* sink, LzwLayout layout)
      : sink_(sink), packet_size_(layout == LzwLayout::Standard ? 254 : 255) {}

  void put(int code, int bits) {
    totalBits_ += bits;
    if (!sink_) return;
    acc_ |= static_cast<uint64_t>(code) << accBits_;
    accBits_ += bits;
    while (accBits_ >= 8) {
      packet_[count_++] = static_cast<uint8_t>(acc_);
      acc_ >>= 8;
      accBits_ -= 8;
      if (count_ == packet_size_) flush();
    }
  }

  // The last bits, the last packet and the terminator.
  bool finish() {
    if (!sink_) return true;
    if (accBits_ > 0) {
      packet_[count_++] = static_cast<uint8_t>(acc_);
      if (count_ == packet_size_) flush();
    }
    flush();
    return ok_ && sink_->put(0);
  }
  // The data bytes with their length bytes, and the terminator.
  int64_t blockBytes() const {
    const int64_t data = (totalBits_ + 7) / 8;
    return data + (data + packet_size_ - 1) / packet_size_ + 1;
  }

 private:
  void flush() {
    if (count_ == 0) return;
    const uint8_t len = static_cast<uint8_t>(count_);
    if (!sink_->write(&len, 1) || !sink_->write(packet_, static_cast<size_t>(count_))) ok_ = false;
    count_ = 0;
  }

  ByteSink* sink_;
  int packet_size_;
  bool ok_ = true;
  uint64_t acc_ = 0;
  int accBits_ = 0;
  int count_ = 0;
  int64_t totalBits_ = 0;
  uint8_t packet_[256];
};

// What a pixel may become besides itself.
enum class Mode { Exact, Lossy, Flexible };

// Lossy: the palette's close colours, and the frame's transparent index
// (never given to or taken from another pixel).
struct Choices {
  const LossyColours* colours = nullptr;
  int transparentIndex = -1;
  // Which values have a close one among the others the image uses (the
  // transparent index never has): only their pixels look for one.
  bool hasClose[256] = {};
  // The pixels changed, counted as the changes land.
  mutable int64_t changed = 0;
  // Flexible: how far a new string looks for the longer run of its two
  // values when the table favours neither (0: it does not).
  int runLook = 0;
};

struct Change {
  uint8_t* at;
  uint8_t value;
};

// One encoder state: its table, the string being matched, the code width.
// Codes go straight to a writer, or are held until the caller commits them
// (the smallest layout runs two states side by side and keeps one).
template <class Table, Mode M>
class Coder {
 public:
  // `pixels`: how many the image has, which bounds the strings a table gets.
  void init(int codeSize, CodeWriter* direct, const Choices* choices, int64_t pixels) {
    initBits_ = codeSize + 1;
    clear_ = 1 << codeSize;
    eof_ = clear_ + 1;
    codesBound_ = static_cast<int>(std::min<int64_t>(kTableSize, clear_ + 2 + pixels));
    direct_ = direct;
    choices_ = choices;
    ent_ = -1;
    lastChosen_ = -1;
    resume_ = false;
    clearPending_ = false;
    discard();
    reset();
    nBits_ = initBits_;
    maxCode_ = (1 << nBits_) - 1;
  }

  bool full() const { return freeEnt_ >= kTableSize; }
  // The next run goes on from where the last one paused.
  void resume() { resume_ = true; }
  int64_t bits() const { return bits_; }

  // Encodes pixels [p, p + n) of one row (`has`, `alt`: that row's
  // alternatives for the flexible mode). With `stopWhenFull`, returns right after the pixel
  // whose string filled the table; with `restartWhenFull`, a full table is
  // cleared at the next new string (the standard layout). Returns the
  // pixels taken. The flexible mode looks ahead up to `rowLeft` pixels from
  // `start` (n when not given).
  int run(uint8_t* const start, int n, const uint8_t* has, const uint8_t* alt, bool stopWhenFull,
          bool restartWhenFull, int rowLeft = -1) {
    uint8_t* p = start;
    uint8_t* const end = start + n;
    uint8_t* const seen = start + std::max(n, rowLeft);
    if (p == end) return 0;
    int ent = ent_;
    // The value chosen for the pixel before (none at a row's start or a
    // race's, unless the caller only paused there).
    int prev = resume_ ? lastChosen_ : -1;
    resume_ = false;
    if (ent < 0) prev = ent = *p++;
    for (; p < end; ++p, prev = lastChosen_) {
      const int c = *p;
      lastChosen_ = c;
      if constexpr (kMemo) {
        // The child a string had last time is usually the one it has again.
        const uint32_t m = memo_[ent];
        if ((m >> 16) == static_cast<uint32_t>(c) + 1) {
          ent = static_cast<int>(m & 0xFFFF);
          continue;
        }
      }
      uint32_t key = Table::keyOf(ent, c);
      uint32_t slot;
      const int code = table_.find(key, slot);
      if (code >= 0) {
        if constexpr (kMemo)
          if (memoizable(key))
            memo_[ent] = (static_cast<uint32_t>(c) + 1) << 16 | static_cast<uint32_t>(code);
        ent = code;
        continue;
      }
      int next = c;  // the pixel the next string starts with
      if constexpr (M == Mode::Flexible) {
        const size_t x = static_cast<size_t>(p - start);
        const int a = alt[x];
        if (has[x] && a != c && a < clear_) {
          uint32_t other;
          const int code2 = table_.find(Table::keyOf(ent, a), other);
          if (code2 >= 0) {
            change(p, a);
            ent = code2;
            continue;
          }
          // A new string starts with whichever value goes on further: the
          // one with a string for what the next pixel may be.
          if (p + 1 < seen) {
            const int n1 = p[1], a1 = has[x + 1] && alt[x + 1] < clear_ ? alt[x + 1] : -1;
            auto goesOn = [&](int r) {
              uint32_t unused;
              return table_.find(Table::keyOf(r, n1), unused) >= 0 ||
                     (a1 >= 0 && table_.find(Table::keyOf(r, a1), unused) >= 0);
            };
            const bool cOn = goesOn(c), aOn = goesOn(a);
            // Neither goes on better: the one the next pixel may be, else the
            // one the pixel before became (a run goes on).
            bool takeA;
            int runC = 0, runA = 0;
            if (aOn == cOn && choices_ && choices_->runLook > 0) {
              // Neither goes on better: the value whose run reaches further
              // (a run makes long strings whatever the table holds).
              const int64_t look = std::min<int64_t>(choices_->runLook, seen - p);
              auto can = [&](int k, int v) { return p[k] == v || (has[x + k] && alt[x + k] == v); };
              while (runC + 1 < look && can(runC + 1, c)) ++runC;
              while (runA + 1 < look && can(runA + 1, a)) ++runA;
            }
            if (aOn != cOn)
              takeA = aOn;
            else if (runA != runC)
              takeA = runA > runC;
            else if (n1 == a || a1 == a || n1 == c || a1 == c)
              takeA = (n1 == a || a1 == a) && n1 != c && a1 != c;
            else
              takeA = prev == a;
            if (takeA) {
              change(p, a);
              next = a;
              key = Table::keyOf(ent, a);
              slot = other;
            }
          }
        }
      }
      if constexpr (M == Mode::Lossy) {
        // The closest colour among those that continue the string, walking
        // the string's children (few, where a table of close colours per
        // colour would cost more to make than a small image takes to encode).
        const int t = choices_->transparentIndex;
        if (choices_->hasClose[c]) {
          const LossyColours& colours = *choices_->colours;
          // Error, then value, then the newest child (the standard table
          // may hold a lost string and its successor) in one number, so that
          // the smallest wins without a branch per child (which way each goes
          // is as good as random on a noisy picture).
          const uint64_t limit = static_cast<uint64_t>(colours.maxError() + 1) << 20;
          uint64_t bestScore = limit;
          for (int ch = firstChild_[ent]; ch; ch = sibling_[ch]) {
            const int v = suffix_[ch];
            const uint64_t score = (static_cast<uint64_t>(colours.error(c, v)) << 20) |
                                   static_cast<uint64_t>(v) << 12 |
                                   static_cast<uint64_t>(kTableSize - 1 - ch);
            const bool allowed = v != t && v < clear_ && colours.holds(v);
            bestScore = allowed && score < bestScore ? score : bestScore;
          }
          if (bestScore < limit) {
            const int best = kTableSize - 1 - static_cast<int>(bestScore & (kTableSize - 1));
            const int bestValue = static_cast<int>(bestScore >> 12) & 0xFF;
            // The standard table may have lost a string to its quirks (only
            // the one of key 0 can be): only one it still finds is taken.
            const uint32_t bestKey = Table::keyOf(ent, bestValue);
            uint32_t unused;
            if (memoizable(bestKey) || table_.find(bestKey, unused) == best) {
              change(p, bestValue);
              ent = best;
              continue;
            }
          }
        }
      }
      emit(ent);
      if (freeEnt_ < kTableSize) {
        table_.insert(slot, key, freeEnt_);
        if constexpr (M == Mode::Lossy) {
          suffix_[freeEnt_] = static_cast<uint8_t>(next);
          sibling_[freeEnt_] = firstChild_[ent];
          firstChild_[ent] = static_cast<uint16_t>(freeEnt_);
        }
        if constexpr (kMemo)
          if (memoizable(key))
            memo_[ent] = (static_cast<uint32_t>(next) + 1) << 16 | static_cast<uint32_t>(freeEnt_);
        if (++freeEnt_ == kTableSize && stopWhenFull) {
          ent_ = next;
          return static_cast<int>(p + 1 - start);
        }
      } else if (restartWhenFull) {
        restart();
      }
      ent = next;
    }
    ent_ = ent;
    return n;
  }

  // "Clear now" as the continuation of `from`: its pending string is
  // emitted (a single pixel goes on as the first string instead), then a
  // clear code, then a fresh table.
  void startFresh(const Coder& from) { startFresh(from.mark()); }

  // Where a coder stood: what it had held and the string it was matching.
  struct Mark {
    size_t codes = 0, changes = 0;
    int64_t bits = 0;
    int ent = -1, nBits = 0, maxCode = 0, freeEnt = 0;
  };
  Mark mark() const { return {codes_.size(), changes_.size(), bits_, ent_, nBits_, maxCode_, freeEnt_}; }
  void startFresh(const Mark& from) {
    nBits_ = from.nBits;
    maxCode_ = from.maxCode;
    freeEnt_ = from.freeEnt;
    ent_ = -1;
    if (from.ent >= clear_) emit(from.ent);
    restart();
    if (from.ent >= 0 && from.ent < clear_) ent_ = from.ent;
  }
  // Drops what was held after `m` (the state after it is not kept: only
  // committing follows).
  void truncateTo(const Mark& m) {
    codes_.resize(m.codes);
    changes_.resize(m.changes);
    bits_ = m.bits;
  }

  // The pending string and the end code.
  void finish() {
    if (ent_ >= 0) emit(ent_);
    ent_ = -1;
    emit(eof_);
  }

  void emit(int code) {
    if (direct_)
      direct_->put(code, nBits_);
    else
      codes_.push_back(static_cast<uint32_t>(code) | static_cast<uint32_t>(nBits_) << 16);
    bits_ += nBits_;
    // Width changes follow the decoder, one code behind the table.
    if (clearPending_) {
      nBits_ = initBits_;
      maxCode_ = (1 << nBits_) - 1;
      clearPending_ = false;
    } else if (freeEnt_ > maxCode_) {
      ++nBits_;
      maxCode_ = nBits_ == kMaxBits ? kTableSize : (1 << nBits_) - 1;
    }
  }

  // Held codes go to `out`, held changes to the pixels.
  void commitTo(CodeWriter& out) {
    for (uint32_t c : codes_) out.put(static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16));
    for (const Change& ch : changes_) *ch.at = ch.value;
    if constexpr (M == Mode::Lossy) choices_->changed += static_cast<int64_t>(changes_.size());
    discard();
  }
  void discard() {
    codes_.clear();
    changes_.clear();
    bits_ = 0;
  }

 private:
  // Only the codes the image can make are cleared, and every pixel value: one
  // the code size cannot hold still starts a string, whose remembered child
  // and children must not be left over from an earlier run.
  void reset() {
    // A table gets at most one string per pixel, beyond the codes it starts with.
    table_.clear(codesBound_ - (clear_ + 2));
    const size_t named = static_cast<size_t>(std::max(codesBound_, 256));
    if constexpr (kMemo) std::memset(memo_, 0, sizeof(memo_[0]) * named);
    if constexpr (M == Mode::Lossy) std::memset(firstChild_, 0, sizeof(firstChild_[0]) * named);
    freeEnt_ = clear_ + 2;
  }

  // A clear code, then a fresh table.
  void restart() {
    reset();
    clearPending_ = true;
    emit(clear_);
  }

  int lastChosen_ = -1;
  bool resume_ = false;
  void change(uint8_t* at, int value) {
    lastChosen_ = value;
    if (direct_) {
      *at = static_cast<uint8_t>(value);
      if constexpr (M == Mode::Lossy) ++choices_->changed;
    } else {
      changes_.push_back({at, static_cast<uint8_t>(value)});
    }
  }

  // A remembered child per string (pixel + 1, code; 0 = none): for the
  // smallest layout, and for the lossy runs, whose misses cost a search
  // through the children besides. The standard table's quirks must decide
  // alone what it finds, so the one string they can lose (key 0: a later
  // string's probe writes over it) is never remembered; the exact encoder
  // keeps to the table alone.
  static constexpr bool kMemo = std::is_same_v<Table, StringTable> || M == Mode::Lossy;
  static bool memoizable(uint32_t key) { return std::is_same_v<Table, StringTable> || key != 0; }
  uint32_t memo_[kMemo ? kTableSize : 1];
  // Lossy: each string's children in the table (first child, next sibling;
  // 0 = none, as no string is a child of a root code's number) and the
  // pixel each ends with.
  static constexpr int kLossySize = M == Mode::Lossy ? kTableSize : 1;
  uint16_t firstChild_[kLossySize];
  uint16_t sibling_[kLossySize];
  uint8_t suffix_[kLossySize];
  Table table_;
  CodeWriter* direct_ = nullptr;
  const Choices* choices_ = nullptr;
  int initBits_ = 0, nBits_ = 0, maxCode_ = 0, clear_ = 0, eof_ = 0, freeEnt_ = 0;
  int codesBound_ = kTableSize;
  int ent_ = -1;
  bool clearPending_ = false;
  int64_t bits_ = 0;
  std::vector<uint32_t> codes_;  // code | width << 16
  std::vector<Change> changes_;
};

// The rows of an image in stream order, with their alternatives.
struct Rows {
  uint8_t* pixels;
  const uint8_t* has;
  const uint8_t* alt;
  int width, height, stride, altStride;
  // The image's own row width when its rows run as one (see packedNarrow):
  // a race still checks how it stands at each of those rows' ends.
  int span;
  std::vector<int> order;  // the stream's rows, when interlaced

  Rows(const LzwImage& im, const uint8_t* a = nullptr, const uint8_t* h = nullptr, int as = 0)
      : pixels(const_cast<uint8_t*>(im.pixels)),
        has(h),
        alt(a),
        width(im.pixels ? im.width : 0),
        height(im.pixels ? im.height : 0),
        stride(im.stride),
        altStride(as),
        span(width) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    if (im.interlaced) {
      order.reserve(static_cast<size_t>(std::max(0, height)));
      for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
    }
  }
  size_t rowOf(int i) const { return static_cast<size_t>(order.empty() ? i : order[size_t(i)]); }
  uint8_t* row(int i) const { return pixels + rowOf(i) * stride; }
  const uint8_t* hasRow(int i) const { return has ? has + rowOf(i) * altStride : nullptr; }
  const uint8_t* altRow(int i) const { return alt ? alt + rowOf(i) * altStride : nullptr; }
};

// Coders are large (their tables), and small images are encoded many times
// over by the optimizer: each thread keeps the ones it made for the next
// encoding, which initialises them afresh. `Slot` tells apart the two an
// encoding may hold at once.
template <class C, int Slot>
struct CoderCache {
  static std::unique_ptr<C>& held() {
    thread_local std::unique_ptr<C> coder;
    return coder;
  }
};

// A coder for one encoding: the thread's spare one, else a new one (off the
// stack, and left uninitialised: init clears what is used).
template <class C, int Slot>
std::unique_ptr<C> takeCoder() {
  auto& held = CoderCache<C, Slot>::held();
  return held ? std::move(held) : std::unique_ptr<C>(new C);
}

// Gives a coder back for the next encoding on this thread.
template <class C, int Slot>
void keepCoder(std::unique_ptr<C> coder) {
  if (coder) CoderCache<C, Slot>::held() = std::move(coder);
}

template <Mode M>
void encodeStandard(CodeWriter& out, const Rows& rows, int codeSize, const Choices* choices) {
  using C = Coder<CompressTable, M>;
  auto coder = takeCoder<C, 0>();
  coder->init(codeSize, &out, choices, int64_t{rows.width} * rows.height);
  coder->emit(1 << codeSize);
  if (rows.width > 0 && rows.height > 0)
    for (int i = 0; i < rows.height; ++i)
      coder->run(rows.row(i), rows.width, rows.hasRow(i), rows.altRow(i), false, true);
  coder->finish();
  keepCoder<C, 0>(std::move(coder));
}

// How many pixels a fresh table is given to prove itself against a full one:
// as many as the last table took to fill, within these bounds. Long windows
// let a full table that suits the picture's top run on over a bottom it does
// not suit; short ones judge a fresh table before it has learnt anything.
constexpr int64_t kMinWindow = 4096;
constexpr int64_t kMaxWindow = 16384;
// A window is marked in this many steps: where the picture changes inside
// it, the full table may pay up to the mark where it led the fresh one most,
// and a table started there is tried too when that promises at least
// kMinSplitGain bits.

constexpr int kWindowMarks = 8;
constexpr int64_t kMinSplitGain = 64;

template <Mode M>
void encodeSmallest(CodeWriter& out, const Rows& rows, int codeSize, const Choices* choices) {
  using C = Coder<StringTable, M>;
  const int64_t pixels = int64_t{rows.width} * rows.height;
  auto kept = takeCoder<C, 0>();
  // Taken at the first race, and the first split: small images never fill a table.
  std::unique_ptr<C> fresh, later;
  kept->init(codeSize, nullptr, choices, pixels);
  kept->emit(1 << codeSize);
  bool racing = false;
  int64_t pos = 0, buildStart = 0, windowEnd = 0, window = kMinWindow, step = 0, nextMark = 0;
  struct Point {
    int64_t pos;
    int row, x;
    typename C::Mark kept;
    int64_t freshBits;
  };
  std::vector<Point> marks;
  auto startRace = [&] {
    if (!fresh) {
      fresh = takeCoder<C, 1>();
      fresh->init(codeSize, nullptr, choices, pixels);
    }
    fresh->discard();
    fresh->startFresh(*kept);
    windowEnd = pos + window;
    step = std::max<int64_t>(window / kWindowMarks, 1);
    nextMark = pos + step;
    marks.clear();
    racing = true;
  };
  // Runs `coder` over the pixels from `row`, `x` up to `pos`.
  auto replay = [&](C& coder, int row, int x, int64_t count) {
    while (count > 0) {
      if (x == rows.width) {
        ++row;
        x = 0;
      }
      const int n = static_cast<int>(std::min<int64_t>(rows.width - x, count));
      const uint8_t* h = rows.hasRow(row);
      const uint8_t* a = rows.altRow(row);
      coder.run(rows.row(row) + x, n, h ? h + x : nullptr, a ? a + x : nullptr, false, false);
      x += n;
      count -= n;
    }
  };
  // The end of a race (of the image, when `atEnd`): the kept table, the
  // fresh one, or the kept one up to a mark and a fresh one from there.
  auto settle = [&](bool atEnd) {
    if (atEnd) {
      kept->finish();
      fresh->finish();
    }
    const int64_t keptBits = kept->bits(), freshBits = fresh->bits();
    const int64_t bestBits = std::min(keptBits, freshBits);
    const Point* split = nullptr;
    int64_t bestGain = kMinSplitGain;
    for (const Point& m : marks) {
      // As if a table started there cost what the fresh one did from there.
      const int64_t gain = bestBits - (m.kept.bits + freshBits - m.freshBits);
      if (gain > bestGain) {
        bestGain = gain;
        split = &m;
      }
    }
    if (split) {
      if (!later) {
        later = takeCoder<C, 2>();
        later->init(codeSize, nullptr, choices, pixels);
      }
      later->discard();
      later->startFresh(split->kept);
      replay(*later, split->row, split->x, pos - split->pos);
      if (atEnd) later->finish();
      if (split->kept.bits + later->bits() >= bestBits) split = nullptr;
    }
    if (split) {
      kept->truncateTo(split->kept);
      kept->commitTo(out);
      std::swap(kept, later);
      buildStart = split->pos;
    } else if (freshBits < keptBits) {
      // The fresh table paid: its clear stands, and it is the table now.
      std::swap(kept, fresh);
      buildStart = windowEnd - window;
    }
    kept->commitTo(out);
    fresh->discard();
    if (later) later->discard();
    racing = false;
  };
  for (int i = 0; i < rows.height && rows.width > 0; ++i) {
    uint8_t* row = rows.row(i);
    const uint8_t* hasRow = rows.hasRow(i);
    const uint8_t* altRow = rows.altRow(i);
    int x = 0;
    while (x < rows.width) {
      const uint8_t* h = hasRow ? hasRow + x : nullptr;
      const uint8_t* a = altRow ? altRow + x : nullptr;
      if (!racing) {
        const int used = kept->run(row + x, rows.width - x, h, a, true, false);
        x += used;
        pos += used;
        kept->commitTo(out);
        if (kept->full()) {
          window = std::clamp(pos - buildStart, kMinWindow, kMaxWindow);
          startRace();
        }
        continue;
      }
      // The race ends with its window, or where the fresh table fills ahead:
      // it learns nothing after that, and a clear there is what it stands for.
      // It pauses at each mark (the runs look ahead as if unbroken).
      const int whole = static_cast<int>(std::min<int64_t>(
          {rows.width - x, windowEnd - pos, rows.span - pos % std::max(rows.span, 1)}));
      const int n = static_cast<int>(std::min<int64_t>(whole, nextMark - pos));
      const int taken = fresh->run(row + x, n, h, a, !fresh->full(), false, whole);
      kept->run(row + x, taken, h, a, false, false, taken == n ? whole : taken);
      x += taken;
      pos += taken;
      if (pos == nextMark && pos < windowEnd) {
        marks.push_back({pos, i, x, kept->mark(), fresh->bits()});
        nextMark += step;
        if (x < rows.width) {
          kept->resume();
          fresh->resume();
        }
      }
      if (pos < windowEnd && !(fresh->full() && 4 * fresh->bits() < 3 * kept->bits())) continue;
      settle(false);
      if (kept->full()) startRace();
    }
  }
  if (racing) {
    settle(true);
  } else {
    kept->finish();
    kept->commitTo(out);
  }
  // Any may be any slot's next time: they are alike.
  keepCoder<C, 0>(std::move(kept));
  keepCoder<C, 1>(std::move(fresh));
  keepCoder<C, 2>(std::move(later));
}

template <Mode M>
void encodeRows(CodeWriter& out, const Rows& rows, int codeSize, LzwLayout layout,
                const Choices* choices) {
  if (layout == LzwLayout::Standard)
    encodeStandard<M>(out, rows, codeSize, choices);
  else
    encodeSmallest<M>(out, rows, codeSize, choices);
}

// Narrow images (a few pixels a row, many rows) cost more per row than per
// pixel. An exact encoding depends only on the pixels in stream order, not on
// where rows end, so theirs run as one row of those pixels in a row of their
// own: `buffer` holds it when the image's rows are not already one after the
// other. Other images, or none to be had, are left as they are.
constexpr int kNarrowWidth = 32;
constexpr int64_t kMaxPackedPixels = int64_t{1} << 24;
constexpr size_t kStackPacked = 4096;

Rows packedNarrow(const LzwImage& im, uint8_t* stack, std::vector<uint8_t>& buffer) {
  if (!im.pixels || im.width <= 0 || im.height <= 1 || im.width >= kNarrowWidth) return Rows(im);
  const int64_t pixels = int64_t{im.width} * im.height;
  if (pixels > kMaxPackedPixels) return Rows(im);
  const uint8_t* packed = im.pixels;
  if (im.interlaced || im.stride != im.width) {
    uint8_t* out = stack;
    if (static_cast<size_t>(pixels) > kStackPacked) {
      try {
        buffer.resize(static_cast<size_t>(pixels));
      } catch (const std::bad_alloc&) {
        return Rows(im);
      }
      out = buffer.data();
    }
    const Rows rows(im);
    uint8_t* at = out;
    if (im.width == 1) {
      for (int i = 0; i < rows.height; ++i) *at++ = *rows.row(i);
    } else {
      for (int i = 0; i < rows.height; ++i) {
        const uint8_t* row = rows.row(i);
        for (int x = 0; x < rows.width; ++x) *at++ = row[x];
      }
    }
    packed = out;
  }
  const int n = static_cast<int>(pixels);
  Rows one(LzwImage{packed, n, 1, n, false});
  one.span = im.width;
  return one;
}

}  // namespace

bool encodeLzw(ByteSink& sink, const LzwImage& image, int codeSize, LzwLayout layout) {
  if (!sink.put(static_cast<uint8_t>(codeSize))) return false;
  CodeWriter out(&sink, layout);
  uint8_t stack[kStackPacked];
  std::vector<uint8_t> buffer;
  encodeRows<Mode::Exact>(out, packedNarrow(image, stack, buffer), codeSize, layout,
                          nullptr);
  return out.finish();
}

int64_t lzwEncodedSize(const LzwImage& image, int codeSize, LzwLayout layout) {
  CodeWriter out(nullptr, layout);
  uint8_t stack[kStackPacked];
  std::vector<uint8_t> buffer;
  encodeRows<Mode::Exact>(out, packedNarrow(image, stack, buffer), codeSize, layout,
                          nullptr);
  return 1 + out.blockBytes();
}

LossyColours::LossyColours(const Palette& palette, int strength) {
  // The strength is about the per-channel difference accepted.
  const int s = std::clamp(strength, 0, 255);
  maxError_ = s > 0 ? 9 * s * s : -1;
  count_ = std::clamp(palette.count, 0, 256);
  for (int i = 0; i < count_; ++i) {
    r_[i] = palette[i].r;
    g_[i] = palette[i].g;
    b_[i] = palette[i].b;
  }
}

int64_t lossyLzwPass(const LzwImage& image, int codeSize, LzwLayout layout,
                     const LossyColours& colours, int transparentIndex) {
  if (!image.pixels || image.width <= 0 || image.height <= 0 || colours.maxError() < 0) return 0;
  Choices choices;
  choices.colours = &colours;
  choices.transparentIndex = transparentIndex;
  // The values the image uses, and which of them have a close one: a pixel
  // of a value without one has nothing to look for, and an image none of
  // whose values has one is left as it is without being encoded.
  bool used[256] = {};
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels + static_cast<size_t>(y) * image.stride;
    for (int x = 0; x < image.width; ++x) used[row[x]] = true;
  }
  int values[256], count = 0;
  for (int v = 0; v < 256 && v < (1 << codeSize); ++v)
    if (used[v] && v != transparentIndex && colours.holds(v)) values[count++] = v;
  const int64_t pixels = int64_t{image.width} * image.height;
  bool any = false;
  if (int64_t{count} * count > 16 * pixels + 4096) {
    // Pairs would cost more than the pixels: every value looks.
    for (int k = 0; k < count; ++k) choices.hasClose[values[k]] = true;
    any = count > 1;
  } else {
    for (int i = 0; i < count; ++i)
      for (int j = i + 1; j < count; ++j)
        if (colours.error(values[i], values[j]) <= colours.maxError())
          any = choices.hasClose[values[i]] = choices.hasClose[values[j]] = true;
  }
  if (!any) return 0;
  CodeWriter out(nullptr, layout);
  encodeRows<Mode::Lossy>(out, Rows(image), codeSize, layout, &choices);
  return choices.changed;
}

int64_t flexibleLzwPass(const LzwImage& image, int codeSize, LzwLayout layout,
                        const uint8_t* alternative, const uint8_t* hasAlternative,
                        int alternativeStride, ByteSink* encoding, int runLook) {
  if (encoding && !encoding->put(static_cast<uint8_t>(codeSize))) return -1;
  CodeWriter out(encoding, layout);
  Choices choices;
  choices.runLook = runLook;
  encodeRows<Mode::Flexible>(out, Rows(image, alternative, hasAlternative, alternativeStride),
                             codeSize, layout, &choices);
  if (!out.finish()) return -1;
  return 1 + out.blockBytes();
}

}  // namespace fb
