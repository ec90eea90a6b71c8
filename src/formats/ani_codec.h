// Animated cursors (.ani): a RIFF "ACON" file with a header ("anih"), the
// frames as icon or cursor files ("LIST" "fram" of "icon" chunks), and
// optionally each step's rate ("rate", in jiffies of 1/60 s) and the order
// in which the steps show the frames ("seq ").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/ico_codec.h"

namespace fb {

class PixelBudget;

struct AniStep {
  int frame = 0;    // index into `frames`
  int jiffies = 0;  // how long it shows
};

struct AniFile {
  std::vector<IconFile> frames;
  std::vector<AniStep> steps;
  std::string title, author;
};

CodecStatus decodeAni(const uint8_t* data, size_t size, PixelBudget* budget, AniFile& out);

// One step per frame, in order, each with its rate.
CodecStatus encodeAni(const AniFile& ani, std::vector<uint8_t>& out);

// Jiffies (1/60 s) and hundredths of a second, each rounded to the nearest.
inline int jiffiesToHundredths(int jiffies) {
  return (jiffies * 100 + 30) / 60;
}
inline int hundredthsToJiffies(int hundredths) {
  return (hundredths * 60 + 50) / 100;
}

}  // namespace fb
