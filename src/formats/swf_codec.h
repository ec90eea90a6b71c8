// Flash (SWF) movies made of pictures: a zlib-compressed file ("CWS") whose
// stage is the pictures' size, each picture a lossless bitmap (32-bit,
// premultiplied alpha) filling a rectangle placed on the stage and shown for
// a number of frames at one frame rate.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

struct SwfShot {
  const Picture* picture = nullptr;  // true colour, the stage's size
  int frames = 1;                    // how many frames it stays
};

struct SwfMovie {
  int width = 0, height = 0;
  // Frames per second as 8.8 fixed point (256 = one frame a second).
  uint16_t frameRate = 256 * 10;
  bool playOnce = false;  // stop on the last frame instead of looping
  std::vector<SwfShot> shots;
};

constexpr int kSwfVersion = 8;

CodecStatus encodeSwf(const SwfMovie& movie, std::vector<uint8_t>& out);

// The frame timing for delays in hundredths of a second: a period that
// divides every nonzero delay (at most one second), and how many periods each
// delay lasts (a zero delay still shows for one).
struct SwfTiming {
  int period = 10;  // hundredths of a second
  std::vector<int> frames;
};
SwfTiming swfTiming(const std::vector<int>& delays);
// 8.8 fixed-point frames per second for a period in hundredths of a second.
uint16_t swfFrameRate(int period);

}  // namespace fb
