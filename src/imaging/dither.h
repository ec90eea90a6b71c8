// Error-diffusion dithering (Floyd–Steinberg) into a palette through the
// inverse colour map, with a 4 × 4 patterned threshold that picks each
// channel's 5-bit level. Also the undithered mapping of true-colour pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "document/animation.h"
#include "imaging/colour_match.h"

namespace fb {

class Progress;

// 24-bit pixels with alpha below this are transparent when frames are mapped
// into palettes: a GIF pixel is either shown or not, and half-covered is
// nearer to shown.
constexpr int kAlphaThreshold = 128;

// The bias of the threshold pattern at (row mod 4, column mod 4).
int ditherBias(int row, int column);
// The 5-bit level of channel value `value` (0..255) under bias `bias` (0..7).
int ditherLevel(int bias, int value);

// What the ditherer keeps between frames: the inverse map (rebuilt only for a
// different palette) and two error rows of three int32 per pixel plus a guard
// pixel at each end (grown only for a wider frame).
struct DitherState {
  InverseColourMap map;
  std::vector<int32_t> errors;
  int width = 0;
};

// The calling thread's own state, so that consecutive calls share the map.
DitherState& threadDitherState();

// Results of the dithering functions.
enum class DitherResult { Done, NoMemoryForMap, NoMemoryForErrors };
// Shows the message for a failed result ("Insufficient memory for dithering."
// or "Not enough resources for error diffusion of dithering operations.").
void reportDitherFailure(DitherResult r);

// Dithers 24-bit rows (stride24, R, G, B) into indices of `palette` (rows of
// stride8). Pixels whose alpha is below `alphaThreshold` become
// `transparentIndex` and spread no error; no other pixel takes that index,
// even when it lies inside the palette.
DitherResult ditherRgb(const Palette& palette, uint8_t* out, const uint8_t* rgbRows,
                       const uint8_t* alphaPlane, int width, int height, int transparentIndex,
                       int alphaThreshold = kAlphaThreshold, DitherState* state = nullptr);

// Dithers 8-bit pixels (stride8) shown through `source` into indices of
// `palette`. Pixels equal to `oldTransparent` (-1: none) become
// `newTransparent` and spread no error. `out` may be `pixels` itself.
DitherResult ditherIndexed(const Palette& source, const uint8_t* pixels, int width, int height,
                           int oldTransparent, const Palette& palette, uint8_t* out,
                           int newTransparent, DitherState* state = nullptr);

// Maps 24-bit rows without dithering: a colour present in `palette` takes its
// entry; any other takes the inverse map's cell of (r ÷ 8, g ÷ 8, b ÷ 8).
DitherResult mapRgb(const Palette& palette, uint8_t* out, const uint8_t* rgbRows,
                    const uint8_t* alphaPlane, int width, int height, int transparentIndex,
                    int alphaThreshold = kAlphaThreshold, DitherState* state = nullptr);

// Dithers one frame into `palette`: its pixels (from its 24-bit data when it
// has some, else from its indices through its palette) become indices of
// `palette`; transparent pixels become `newTransparent`, which also becomes
// the frame's transparent index when it is transparent. The caller gives the
// frame its palette. False (message shown) when memory runs out.
bool ditherFrame(Frame& frame, const Palette& palette, int newTransparent);

// Dithers every frame drawn with the global palette into `palette`, which
// becomes the global palette. 1 done, 0 failed (message shown, nothing
// changed), 2 cancelled (nothing changed).
int ditherFrames(Animation& animation, const Palette& palette, int newTransparent,
                 Progress* progress);

}  // namespace fb
