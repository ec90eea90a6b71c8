// The palette file reader (RIFF and JASC) on hostile bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/pal_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<fb::Rgb> colours;
  if (fb::decodePaletteFile(data, size, colours) == fb::CodecStatus::Ok && colours.size() > 256)
    __builtin_trap();
  return 0;
}
