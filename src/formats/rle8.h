// The 8-bit run-length compression of bitmaps (BI_RLE8, the "mrle" video
// codec): key frames code every pixel; other frames code only what changed
// since the previous picture and skip the rest with position escapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fb {

// Codes one picture. Coded line y (0 = the bottom line) is at
// `lines + y * stride`; pass the last row and a negative stride for top-down
// rows. With `previous` (same layout) only the pixels that differ from it are
// coded. The result always ends with the end-of-picture escape, and its size
// never equals that of the uncompressed picture (decoders take a sample of
// exactly that size for raw pixels).
std::vector<uint8_t> encodeRle8(const uint8_t* lines, ptrdiff_t stride, int width, int height,
                                const uint8_t* previous = nullptr, ptrdiff_t previousStride = 0);

}  // namespace fb
