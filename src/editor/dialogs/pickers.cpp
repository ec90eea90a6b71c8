#include "dialogs/pickers.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>

namespace fb::ui {
namespace {

class SystemPickers : public Pickers {
 public:
  QString openFile(QWidget* parent, const QString& title, const QString& folder,
                   const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
  }
  QColor colour(QWidget* parent, const QColor& initial, const QString& title) override {
    return QColorDialog::getColor(initial, parent, title);
  }
  bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

SystemPickers g_system;
Pickers* g_current = &g_system;

}  // namespace

Pickers& pickers() {
  return *g_current;
}

void setPickers(Pickers* p) {
  g_current = p ? p : &g_system;
}

}  // namespace fb::ui
