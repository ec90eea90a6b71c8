// Timing files: the frames' delays as text, one per line, to edit elsewhere
// and load back (the editor's "加载时间文件..." and "保存时间文件...").
//
// The format (ASCII, or UTF-8 with or without a byte-order mark):
//  - each delay line holds one delay in hundredths of a second, a whole
//    number from 0 to 65535; the first delay is the first frame's, and so on;
//  - "#" starts a comment that runs to the end of its line; blank lines, and
//    spaces and tabs around a delay, are ignored; lines end in LF or CR LF;
//  - the file holds exactly one delay per frame.
// Saving writes one comment line that says what the file is, then one delay
// per line. The name the editor offers is the document's name without its
// extension followed by "_timing.txt".
//
// Loading is all or nothing: a malformed line is refused with a message that
// names the line (1-based, counting every line), and so is a count of delays
// that is not the frame count; the animation is then unchanged.
// Undo (loadTimingEdit): loading changes every frame's fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/animation.h"
#include "document/edit.h"

namespace fb {

// "dir/name.gif" -> "dir/name_timing.txt".
std::string timingFilePath(const std::string& documentPath);

// The delays of `text` in hundredths of a second. False (message shown) for a
// malformed line or a count other than `frameCount`.
bool parseTiming(std::string_view text, int frameCount, std::vector<uint32_t>& hundredths);

// The file's text for the animation's delays (ticks of `timeBase` per second).
std::string timingText(const Animation& animation, uint32_t timeBase);

// Every frame's delay from the file. False (message shown, nothing changed)
// when it cannot be read or is not a timing file for this animation.
bool loadTimingFile(Animation& animation, const std::string& path, uint32_t timeBase);
// The load as one undo step ("加载时间文件").
Edit loadTimingEdit(std::string path, uint32_t timeBase);
// False (message shown) when the file cannot be written.
bool saveTimingFile(const Animation& animation, const std::string& path, uint32_t timeBase);

}  // namespace fb
