// The picture-format readers on hostile bytes, then the compositor over what
// they kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/image_files.h"
#include "fuzz_common.h"

namespace fbfuzz {

inline int readImage(fb::ImageBytesReader read, const uint8_t* data, size_t size) {
  quiet();
  std::unique_ptr<fb::Animation> a;
  if (read(data, size, a, {}) == 0 || !a) return 0;
  composite(*a);
  return 0;
}

}  // namespace fbfuzz
