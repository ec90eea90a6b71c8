// The property toolbar: the current frame's interlace, transparency, local
// palette, name, delay, disposal and 24-bit data, and the animation's play
// count. Each control carries its command id as objectName and asks the
// window's dispatcher to act; the fields are checked there.
#pragma once

#include <QToolBar>

#include "resources/strings.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QToolButton;

namespace fb {

class DocumentContext;

class PropertyBar : public QToolBar {
  Q_OBJECT
 public:
  PropertyBar(DocumentContext& context, QWidget* parent = nullptr);
  // Shows the current frame's values (signals held back).
  void refresh();
  QString delayText() const;
  QString playCountText() const;
  void setDelayText(const QString& text);
  void setPlayCountText(const QString& text);
  bool checked(int id) const;
  int chosenFrame() const;  // the frame chosen by name

 signals:
  void commandRequested(int id);

 private:
  QCheckBox* check(int id, const QString& text);
  QLineEdit* field(int id, Str label);
  QToolButton* button(int id, const QString& text, bool checkable);
  DocumentContext& ctx_;
  QCheckBox* interlace_;
  QCheckBox* transparent_;
  QToolButton* pick_;
  QCheckBox* local_;
  QComboBox* name_;
  QLineEdit* delay_;
  QToolButton* disposeNone_;
  QToolButton* disposeBackground_;
  QToolButton* disposePrevious_;
  QLineEdit* playCount_;
  QCheckBox* trueColour_;
  bool namesStale_ = true;
};

}  // namespace fb
