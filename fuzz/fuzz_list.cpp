// The batch list-file parser on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "shell/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto lines = fb::parseFileList(text);
  size_t total = 0;
  for (const auto& l : lines) total += l.size();
  if (total > size) __builtin_trap();  // lines are pieces of the text
  return 0;
}
