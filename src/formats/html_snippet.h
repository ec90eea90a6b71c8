// The HTML snippet ("HTML编码"): an <img> tag for the saved animation, to copy
// into a web page, e.g.
//   <img src="dancing%20cat.gif" width="120" height="80" alt="dancing cat">
// The file name is the base name of the document's path, percent-encoded
// where a URL needs it; the alt text is escaped for an HTML attribute.
#pragma once

#include <string>

namespace fb {

std::string htmlSnippet(const std::string& path, int width, int height, const std::string& alt);

// The alt text offered by default: the base name without its extension.
std::string defaultAltText(const std::string& path);

}  // namespace fb
