// Reading and writing the further picture formats as documents: BMP/DIB,
// JPEG, Photoshop PSD, icons and cursors, animated cursors, Flash SWF (write
// only) and palette files. Each reads or writes a file through its codec and
// shows its own messages.
//
// Readers: 0 failed (message shown), 1 complete. True-colour pictures become
// frames with 24-bit colour data (and alpha) only, which frame insertion maps
// into palettes; indexed ones become indexed frames.
// Writers: true on success; a file that cannot be created or written says
// nothing (the save names it), every other failure is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "document/animation.h"

namespace fb {

class Progress;

int ReadBmpFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults = {});
int ReadJpegFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults = {});
// Visible layers as frames at their offsets (bottom first); without layers, the composite.
int ReadPsdFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults = {});
// .ico and .cur: every image a frame at (0, 0), cursors with their hot spots.
int ReadIconFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults = {});
// Every step a frame, its rate as the delay.
int ReadAniFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const DocumentDefaults& defaults = {});

// The same from bytes in memory (the pixel budget taken from their size).
using ImageBytesReader = int (*)(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                                 const DocumentDefaults& defaults);
int ReadBmpBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults = {});
int ReadJpegBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                  const DocumentDefaults& defaults = {});
int ReadPsdBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults = {});
int ReadIconBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                  const DocumentDefaults& defaults = {});
int ReadAniBytes(const uint8_t* data, size_t size, std::unique_ptr<Animation>& out,
                 const DocumentDefaults& defaults = {});

// One frame's own image: indices with its palette (1, 4 or 8 bits), or 24 bits when
// `trueColour` is set or the frame has only 24-bit colour data.
bool WriteBmpFrame(const std::string& path, const Frame& frame, bool trueColour);
// One frame's own image at a quality of 1..100.
bool WriteJpegFrame(const std::string& path, const Frame& frame, int quality);

// Each frame a layer at its offset with its name, bottom first, hiding
// transparent pixels with a transparency channel or, with `layerMask`, a
// layer mask; and the composite of all layers.
bool WritePsdFile(const std::string& path, const Animation& animation, bool layerMask,
                  Progress* progress);

struct IconWriteOptions {
  bool xpOrder = true;  // images stored as PNG after all the others
  bool png256 = true;   // images of 256 pixels across or down stored as PNG
};
// Every frame's own image as an entry (indexed frames 8-bit, true colour
// 32-bit), at most 256 × 256 pixels; cursors keep the frames' hot spots.
bool WriteIconFile(const std::string& path, const Animation& animation, bool cursor,
                   const IconWriteOptions& options, Progress* progress);
// Every picture a viewer sees as a step (a cursor of the screen's size), its
// delay as the rate.
// `timeBase`: delay ticks per second.
bool WriteAniFile(const std::string& path, Animation& animation, const IconWriteOptions& options,
                  Progress* progress, uint32_t timeBase = 100);

// Every picture a viewer sees, at the animation's timing.
bool WriteSwfFile(const std::string& path, Animation& animation, Progress* progress,
                  uint32_t timeBase = 100);

// A palette file (RIFF "PAL " or JASC-PAL) into `out`. False with the message shown.
bool ReadPaletteFile(const std::string& path, std::unique_ptr<Palette>& out);
// The palette as a RIFF "PAL " file.
bool WritePaletteFile(const std::string& path, const Palette& palette);

}  // namespace fb
