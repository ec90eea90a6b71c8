// The system's own pickers (file and colour dialogs, the browser) behind one
// small interface, so that a test can set the next answer instead of facing a
// modal window.
#pragma once

#include <QColor>
#include <QString>
#include <QUrl>

class QWidget;

namespace fb::ui {

class Pickers {
 public:
  virtual ~Pickers() = default;
  // An existing file; empty when cancelled.
  virtual QString openFile(QWidget* parent, const QString& title, const QString& folder,
                           const QString& filter) = 0;
  // An invalid colour when cancelled.
  virtual QColor colour(QWidget* parent, const QColor& initial, const QString& title) = 0;
  // Shows the page in the user's browser; false when that failed.
  virtual bool openUrl(const QUrl& url) = 0;
};

// The process-wide pickers: the Qt dialogs and QDesktopServices unless a
// test installed its own (null puts the system's back).
Pickers& pickers();
void setPickers(Pickers* p);

}  // namespace fb::ui
