#include "base/number_format.h"

#include <langinfo.h>
#include <locale.h>

#include "resources/strings.h"

namespace fb {

std::string thousandsSeparator() {
  // The user's locale, read without changing the process's own.
  static const std::string sep = [] {
    std::string s;
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc) {
      const char* t = nl_langinfo_l(THOUSEP, loc);
      if (t) s = t;
      freelocale(loc);
    }
    return s.empty() ? std::string(",") : s;
  }();
  return sep;
}

std::string formatThousands(int64_t value) {
  bool negative = value < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(v);
  std::string out;
  const std::string sep = thousandsSeparator();
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[static_cast<size_t>(i)];
    int left = n - 1 - i;
    if (left > 0 && left % 3 == 0) out += sep;
  }
  return negative ? "-" + out : out;
}

std::string formatByteCount(int64_t bytes) {
  if (bytes < 0) return std::string();
  if (bytes == 0) return text(Str::NoBytes);
  return format(Str::ByteCount, formatThousands(bytes).c_str());
}

}  // namespace fb
