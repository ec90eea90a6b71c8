#include "base/prefs.h"

#include <array>
#include <atomic>
#include <vector>

#include "base/settings_file.h"

namespace fb {
namespace {

constexpr std::array<uint32_t, pref::kWordCount> kDefaults = {
    10,        // 0 default delay
    0,         // 1 default play count
    32,        // 2 size conflict: grow
    0,         // 3
    0,         // 4
    0x46E,     // 5 optimizer options
    0x800000,  // 6 general options
    0,         // 7 transparency display
    7,         // 8 preview
    1,         // 9 connection speed
    0x880001,  // 10 merge method
    0,         // 11 last colour
    20,        // 12 undo levels
    0,         // 13 frame tips
    100,       // 14 delay units per second
    0,         // 15 more options
    1,         // 16 save type
    0,         // 17 AVI frame rate
    0,         // 18 transparent colour on load
};

std::atomic<uint32_t> g_words[pref::kWordCount] = {
    kDefaults[0],  kDefaults[1],  kDefaults[2],  kDefaults[3],  kDefaults[4],
    kDefaults[5],  kDefaults[6],  kDefaults[7],  kDefaults[8],  kDefaults[9],
    kDefaults[10], kDefaults[11], kDefaults[12], kDefaults[13], kDefaults[14],
    kDefaults[15], kDefaults[16], kDefaults[17], kDefaults[18]};

bool valid(int word) { return word >= 0 && word < pref::kWordCount; }

void writeThrough() {
  std::vector<uint8_t> bytes(pref::kWordCount * 4);
  for (int i = 0; i < pref::kWordCount; ++i) {
    uint32_t v = g_words[i].load();
    for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<uint8_t>(v >> (8 * b));
  }
  settings().set({{"Pref", SettingValue::ofBinary(std::move(bytes))},
                  {"NPref", SettingValue::ofDword(pref::kWordCount)}});
}

}  // namespace

void resetPreferences() {
  for (int i = 0; i < pref::kWordCount; ++i) g_words[i].store(kDefaults[i]);
}

void loadPreferences() {
  std::array<uint32_t, pref::kWordCount> w = kDefaults;
  SettingsStore& store = settings();
  if (store.opened()) {
    if (auto stored = store.getBinary("Pref")) {
      // A shorter value replaces only the bytes it holds; bytes past the block are ignored.
      size_t n = std::min(stored->size(), w.size() * 4);
      for (size_t i = 0; i < n; ++i) {
        uint32_t& word = w[i / 4];
        int shift = static_cast<int>(i % 4) * 8;
        word = (word & ~(0xFFu << shift)) | (static_cast<uint32_t>((*stored)[i]) << shift);
      }
    }
    uint32_t npref = store.getDword("NPref").value_or(0);
    if (npref < 13) w[pref::UndoLevels] = 100;
  }
  if (w[pref::TimeBase] == 0) w[pref::TimeBase] = 100;
  if (w[pref::SaveType] == 0) w[pref::SaveType] = 1;
  for (int i = 0; i < pref::kWordCount; ++i) g_words[i].store(w[i]);
}

uint32_t prefRaw(int word) { return valid(word) ? g_words[word].load() : 0; }

uint32_t prefGet(int word) {
  uint32_t v = prefRaw(word);
  if (word == pref::SizeConflict) {
    switch (v) {
      case 1: return 36;
      case 2: return 16;
      case 0:
      case 3: return 32;
      default: return v;
    }
  }
  return v;
}

void prefSet(int word, uint32_t value) {
  if (!valid(word)) return;
  g_words[word].store(value);
  writeThrough();
}

void prefSetBits(int word, uint32_t mask, bool on) {
  uint32_t v = prefRaw(word);
  prefSet(word, on ? (v | mask) : (v & ~mask));
}

}  // namespace fb
