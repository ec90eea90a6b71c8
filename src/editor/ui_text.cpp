#include "editor/ui_text.h"

namespace fb {

QString plainText(const QString& menuText) {
  QString t = menuText.section('\t', 0, 0);
  QString out;
  for (int i = 0; i < t.size(); ++i) {
    if (t[i] == '&' && i + 1 < t.size()) {
      ++i;  // "&&" is a literal '&'
    }
    out += t[i];
  }
  return out;
}

}  // namespace fb
