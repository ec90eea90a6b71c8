// The preference block: 19 numbered 32-bit words holding every user option the
// engine reads. Stored as the binary value "Pref" (76 bytes, little-endian) with
// "NPref" = 19 in the settings file; written through on every change.
//
// Only the main thread sets words; worker threads may read at any time.
#pragma once

#include <cstdint>

namespace fb {

namespace pref {
constexpr int kWordCount = 19;
constexpr int DefaultDelay = 0;         // delay of new frames, in ticks
constexpr int DefaultPlayCount = 1;     // play count of new animations (0 = forever)
constexpr int SizeConflict = 2;         // 16 clip, 32 grow; bit 4 set = ask (read translated)
constexpr int OptimizeOptions = 5;      // optimizer option bits
constexpr int GeneralOptions = 6;       // general option bits
constexpr int TransparencyDisplay = 7;  // low 24 bits colour, top byte mode
constexpr int Preview = 8;              // low 16 bits speed, bit 16 all-frames delay
constexpr int ConnectionSpeed = 9;
constexpr int MergeMethod = 10;  // palette merge method word
constexpr int LastColour = 11;
constexpr int UndoLevels = 12;
constexpr int FrameTips = 13;
constexpr int TimeBase = 14;     // delay ticks per second
constexpr int MoreOptions = 15;  // more option bits
constexpr int SaveType = 16;  // low byte Save As type, bits 8..15 JPEG step, high 16 export options
constexpr int AviFrameRate = 17;       // fixed AVI frame rate × 10000
constexpr int TransparentOnLoad = 18;  // colour made transparent when loading 8-bit images
}  // namespace pref

// General option bits (word 6).
namespace gen {
constexpr uint32_t NoSignature = 0x8;
constexpr uint32_t ClipWithoutAsking = 0x4;
constexpr uint32_t KeepInterlace = 0x1000000;
constexpr uint32_t Keep24Bit = 0x2000000;
constexpr uint32_t AviAudio = 0x80000;
// The same bit as the AVI export reads it: "无压缩" chosen (no compression).
constexpr uint32_t AviUncompressed = 0x80000;
}  // namespace gen

// More option bits (word 15).
namespace more {
constexpr uint32_t PsdLayerMask = 0x1;
constexpr uint32_t AviFixedRate = 0x4;
constexpr uint32_t TransparentOnLoad = 0x20;
constexpr uint32_t IconNoPng256 = 0x80;
constexpr uint32_t IconNoXpOrder = 0x100;
constexpr uint32_t FilmstripSizeInName = 0x200;
constexpr uint32_t PngAlways24 = 0x400;
}  // namespace more

// Loads the block from the current settings store (defaults where it has none)
// and applies the repairs of stored values.
void loadPreferences();
// Puts every word back to its default without touching the settings file.
void resetPreferences();

// Word 2 is translated on the way out (1 -> 36, 2 -> 16, 0 or 3 -> 32).
uint32_t prefGet(int word);
// Stores the word and writes the whole block through to the settings file.
void prefSet(int word, uint32_t value);
void prefSetBits(int word, uint32_t mask, bool on);
// The stored word without translation.
uint32_t prefRaw(int word);

}  // namespace fb
