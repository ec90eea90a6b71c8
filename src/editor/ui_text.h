// String-table texts as Qt strings.
#pragma once

#include <QString>
#include <string>

#include "resources/strings.h"

namespace fb {

inline QString qtext(Str id) { return QString::fromUtf8(text(id)); }

template <typename... Args>
QString qformat(Str id, Args... args) {
  return QString::fromStdString(format(id, args...));
}

// A menu text as a person reads it: without the mnemonic '&' and the
// accelerator after the tab ("打开(&O)...\tCtrl+O" reads "打开(O)...").
QString plainText(const QString& menuText);
inline QString plainText(Str id) { return plainText(qtext(id)); }

inline QString qpath(const std::string& path) { return QString::fromStdString(path); }
inline std::string spath(const QString& path) { return path.toStdString(); }

}  // namespace fb
