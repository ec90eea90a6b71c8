// The property dialogs: of frames ("帧属性" on the selected frames, "全局属性"
// on every frame), of the animation, the comment editor and the timing
// editor. Each only collects the changes; OK gives them as one edit (none
// when nothing changed).
//
//   FramePropertiesDialog dlg(*ctx.animation(), ctx.selectedFrames(), false, reporter(), this);
//   if (runModal(dlg) == QDialog::Accepted && dlg.edit()) ctx.apply(*dlg.edit());
//
// Typed values are read as the property toolbar reads its fields (below), so
// a wrong delay or play count says the same thing wherever it is typed.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "document/edit.h"
#include "document/properties.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class QTableWidget;

namespace fb::ui {

// ---- Fields typed by the user ----

// A delay, 0..65535 ticks; otherwise "无效延迟值" through `reporter` and false.
bool readDelay(const QString& text, Reporter& reporter, int& value);
// A play count, 0..65536; otherwise "错误重复值" through `reporter` and false.
bool readPlayCount(const QString& text, Reporter& reporter, int& value);
// What the property toolbar shows in place of a refused field.
constexpr int kDelayAfterRefusal = 65535, kPlayCountAfterRefusal = 0;
// A comment block's text (and the preferences' signature): at most 255 bytes,
// otherwise "注释过长" through `reporter` and false.
bool commentFits(const QString& text, Reporter& reporter);

// ---- Frame properties ----

// The fields show the frames' common values; a field whose frames differ shows
// "(不同)" (blank, half-checked) and stays so unless set. OK changes only the
// fields set differently from what was shown. Name and position are offered
// for a single frame only.
class FramePropertiesDialog : public QDialog {
 public:
  // `frames`: the frames the edit names; `allFrames`: "全局属性" on every frame.
  FramePropertiesDialog(const Animation& document, std::vector<int> frames, bool allFrames,
                        Reporter& reporter, QWidget* parent = nullptr);
  void accept() override;
  // After OK: the edit, or none when nothing changed.
  const std::optional<Edit>& edit() const { return edit_; }

 private:
  bool collect(FrameProperties& p);
  std::vector<int> frames_;
  bool all_;
  Reporter& reporter_;
  QLineEdit* delay_;
  QComboBox* disposal_;
  QCheckBox *transparent_, *userInput_, *interlaced_;
  QSpinBox* transparentIndex_;
  QSpinBox *left_ = nullptr, *top_ = nullptr;
  QLineEdit* name_ = nullptr;
  // What each field showed when the dialog opened.
  QString delayShown_, nameShown_;
  int disposalShown_, indexShown_, leftShown_ = 0, topShown_ = 0;
  Qt::CheckState transparentShown_, userInputShown_, interlacedShown_;
  std::optional<Edit> edit_;
};

// ---- Animation properties ----

// Screen size, play count (read as the toolbar reads it) and background index.
class AnimationPropertiesDialog : public QDialog {
 public:
  AnimationPropertiesDialog(const Animation& document, Reporter& reporter,
                            QWidget* parent = nullptr);
  void accept() override;
  const std::optional<Edit>& edit() const { return edit_; }

 private:
  const Animation& doc_;
  Reporter& reporter_;
  QSpinBox *width_, *height_, *background_;
  int widthShown_, heightShown_;
  QLineEdit* playCount_;
  std::optional<Edit> edit_;
};

// ---- Comments ----

// The comment blocks as a list with the chosen one's text below; add, remove
// and edit; OK gives every change as one step "GIF 注释". New comments go
// before the first frame.
class CommentsDialog : public QDialog {
 public:
  CommentsDialog(const Animation& document, Reporter& reporter, QWidget* parent = nullptr);
  void accept() override;
  const std::optional<Edit>& edit() const { return edit_; }

 private:
  struct Item {
    int original;  // its index among the document's comments; -1 when new
    QString text;
  };
  bool changed(const Item& item) const;
  void showRow(int row);
  void choose(int row);
  void refreshList();
  Reporter& reporter_;
  std::vector<std::string> before_;
  std::vector<Item> items_;
  std::vector<int> removed_;
  int row_ = -1;
  QListWidget* list_;
  QPlainTextEdit* text_;
  std::optional<Edit> edit_;
};

// ---- Timing ----

// Every frame's delay in a table, one row a frame; OK gives "时间".
class TimingDialog : public QDialog {
 public:
  TimingDialog(const Animation& document, Reporter& reporter, QWidget* parent = nullptr);
  void accept() override;
  const std::optional<Edit>& edit() const { return edit_; }
  QTableWidget* table() const { return table_; }

 private:
  Reporter& reporter_;
  std::vector<int> before_;
  QTableWidget* table_;
  QLineEdit* all_;
  std::optional<Edit> edit_;
};

}  // namespace fb::ui
