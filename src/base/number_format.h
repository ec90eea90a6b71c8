// Numbers as the user reads them.
#pragma once

#include <cstdint>
#include <string>

namespace fb {

// The digits grouped in threes from the right with the user's thousands
// separator (from the locale; "," when it has none).
std::string formatThousands(int64_t value);
std::string thousandsSeparator();

// "%s 字节" with the digits grouped in threes; "无" for 0; "" for -1.
std::string formatByteCount(int64_t bytes);

}  // namespace fb
