#include "formats/html_snippet.h"

#include <cstdio>

#include "base/file_ops.h"

namespace fb {
namespace {

// Bytes a path segment may hold as they are; the rest are %XX.
bool urlSafe(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("-._~!$'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string percentEncoded(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (urlSafe(c)) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string attributeEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
      case '\r':
      case '\t':
        out += ' ';
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string htmlSnippet(const std::string& path, int width, int height, const std::string& alt) {
  return "<img src=\"" + percentEncoded(fileops::baseName(path)) + "\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" alt=\"" +
         attributeEscaped(alt) + "\">";
}

std::string defaultAltText(const std::string& path) {
  return fileops::stemOf(path);
}

}  // namespace fb
