// Texts of the string table and engine strings as Qt strings, and back.
#pragma once

#include <QString>
#include <string>

#include "resources/strings.h"

namespace fb::ui {

inline QString qtext(Str id) {
  return QString::fromUtf8(text(id));
}
template <typename... Args>
QString qformat(Str id, Args... args) {
  return QString::fromUtf8(format(id, args...));
}
inline QString qstr(const std::string& s) {
  return QString::fromStdString(s);
}
inline std::string stdstr(const QString& s) {
  return s.toStdString();
}

}  // namespace fb::ui
