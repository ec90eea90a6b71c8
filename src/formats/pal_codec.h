// Palette files (.pal): the RIFF "PAL " form (a "data" chunk holding a
// version, a count and red, green, blue, flags per entry) and the JASC-PAL
// text form ("JASC-PAL", "0100", the count, then "r g b" per line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/picture.h"

namespace fb {

enum class PaletteFileKind { Riff, Jasc };

// Up to 256 colours; a larger table is refused as unsupported.
CodecStatus decodePaletteFile(const uint8_t* data, size_t size, std::vector<Rgb>& out,
                              PaletteFileKind* kind = nullptr);

// The RIFF form.
void encodeRiffPalette(const std::vector<Rgb>& colours, std::vector<uint8_t>& out);

}  // namespace fb
