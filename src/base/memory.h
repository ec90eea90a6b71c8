// How much memory this process can still take: what the system has
// available, within the process's own limits (address space, data size) and
// its control group's.
#pragma once

#include <cstdint>

namespace fb {

// Bytes; a guess of a few gigabytes when the system says nothing.
int64_t availableMemory();

}  // namespace fb
