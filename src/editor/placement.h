// The main window's placement, kept as the 44-byte "Placement" value: length,
// flags, show state, minimised and maximised positions, normal rectangle.
#pragma once

#include <QRect>

class QWidget;

namespace fb {

struct Placement {
  bool maximized = false;
  QRect normal;  // left, top, right, bottom kept as the rectangle's edges
};

// False when none (or a value of another length) is stored.
bool loadPlacement(Placement& out);
void storePlacement(const QWidget& window);
void applyPlacement(QWidget& window, const Placement& p);

}  // namespace fb
