#include "editor/placement.h"

#include <QWidget>
#include <cstring>
#include <vector>

#include "base/settings_file.h"

namespace fb {
namespace {
constexpr int kShowNormal = 1;
constexpr int kShowMaximized = 3;
constexpr size_t kBytes = 44;

void put(std::vector<uint8_t>& b, int32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k)));
}
int32_t get(const std::vector<uint8_t>& b, size_t word) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(b[word * 4 + k]) << (8 * k);
  return static_cast<int32_t>(v);
}
}  // namespace

bool loadPlacement(Placement& out) {
  auto bytes = settings().getBinary("Placement");
  if (!bytes || bytes->size() != kBytes) return false;
  out.maximized = get(*bytes, 2) == kShowMaximized;
  int left = get(*bytes, 7), top = get(*bytes, 8), right = get(*bytes, 9), bottom = get(*bytes, 10);
  if (right <= left || bottom <= top) return false;
  out.normal = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
  return true;
}

void storePlacement(const QWidget& window) {
  QRect r = window.normalGeometry();
  if (!r.isValid()) r = window.geometry();
  std::vector<uint8_t> b;
  put(b, static_cast<int32_t>(kBytes));
  put(b, 0);
  put(b, window.isMaximized() ? kShowMaximized : kShowNormal);
  put(b, -1), put(b, -1);  // minimised position: none
  put(b, -1), put(b, -1);  // maximised position: none
  put(b, r.left()), put(b, r.top()), put(b, r.right() + 1), put(b, r.bottom() + 1);
  settings().setBinary("Placement", std::move(b));
}

void applyPlacement(QWidget& window, const Placement& p) {
  window.setGeometry(p.normal);
  if (p.maximized) window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

}  // namespace fb
