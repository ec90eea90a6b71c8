// What the program is used for, asked once at first start (dialog 313) and
// on the preferences' first page: each choice sets a few preference words.
#pragma once

#include <QDialog>

class QButtonGroup;

namespace fb {

enum class Purpose { Gif = 0, Icons = 1, Other = 2 };

// The choice the preference words show now.
Purpose currentPurpose();
// Sets the words for `purpose` (Other changes nothing). Only a choice that
// differs from the one shown at opening is written.
void applyPurpose(Purpose purpose, Purpose shownAtOpening);

class PurposeDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PurposeDialog(QWidget* parent = nullptr);
  Purpose chosen() const;

 private:
  QButtonGroup* group_;
};

}  // namespace fb
