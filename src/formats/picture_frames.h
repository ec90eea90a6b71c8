// Between the codecs' pictures and the document: pictures become frames of a
// new animation, frames and composited screens become pictures, and codec
// failures become the messages the user sees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/animation.h"
#include "formats/picture.h"

namespace fb {

class Progress;

// A new animation of the given screen size holding one frame per picture, in
// order, with the disposal given. When all pictures are indexed, they share
// the first one's palette as the global palette when theirs is the same, else
// keep their own as a local one (as they always do beside true colour); true-colour pictures become
// frames with 24-bit colour data (and alpha, when any pixel has some) for frame insertion to map.
// The pictures' pixels are moved out. Null when memory runs out.
// Delays are turned into ticks of the defaults' time base; a picture without
// one takes the default delay.
std::unique_ptr<Animation> animationFromPictures(std::vector<Picture>& pictures, int width,
                                                 int height, int disposal,
                                                 const DocumentDefaults& defaults = {});

// One picture as an unlinked frame of its size at (0, 0), its palette a local
// one. Null when memory runs out.
std::unique_ptr<Frame> frameFromPicture(const Picture& picture,
                                        const DocumentDefaults& defaults = {});

// A frame's own image: indexed (its pixels, its palette in effect and its
// transparent index) when it has indexed pixels and no 24-bit data and
// `trueColour` is false; else R, G, B, A. False when memory runs out.
// `timeBase`: delay ticks per second.
bool pictureFromFrame(const Frame& frame, bool trueColour, Picture& out, uint32_t timeBase = 100);

// Every picture a viewer sees (screen-sized, R, G, B, A), each with its
// delay in hundredths of a second. NoMemory or Cancelled on failure.
CodecStatus composedPictures(Animation& animation, std::vector<Picture>& out, Progress* progress,
                             uint32_t timeBase = 100);

// Creates `path` and writes `bytes`. False without a message: the save that
// called says that the file could not be written.
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

class PixelBudget;

// A one-picture file read with `decode` (budgeted by the file's size) as a
// one-frame animation. 0 with the message shown, or 1.
using PictureDecoder = CodecStatus (*)(const uint8_t* data, size_t size, PixelBudget* budget,
                                       Picture& out);
int readOnePicture(const uint8_t* data, size_t size, PictureDecoder decode, const char* format,
                   std::unique_ptr<Animation>& out, const DocumentDefaults& defaults);

// Reads the file and hands its bytes to `read`. 0 with the message shown when
// it cannot be read.
int readFileWith(const std::string& path,
                 int (*read)(const uint8_t*, size_t, std::unique_ptr<Animation>&,
                             const DocumentDefaults&),
                 std::unique_ptr<Animation>& out, const DocumentDefaults& defaults);

// Writes what an encoder made, or shows why it made nothing (a cancel says nothing).
bool finishWrite(const std::string& path, CodecStatus status, const std::vector<uint8_t>& bytes,
                 const char* format);

// The message for a codec's failure; `format` names the format ("BMP").
void reportReadFailure(CodecStatus status, const char* format);
void reportWriteFailure(CodecStatus status, const char* format);

}  // namespace fb
