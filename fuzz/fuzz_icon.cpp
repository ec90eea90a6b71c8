// The icon and cursor reader on hostile bytes.
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fbfuzz::readImage(fb::ReadIconBytes, data, size);
}
