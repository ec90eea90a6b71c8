// The dialogs of the frame transforms and the commands beside them: move/crop
// a frame, crop and resize, blend another animation in, the HTML snippet, and
// the wait while an image editor has the document. Each only collects the
// choices and hands back the engine's edit (one undo step); a value that
// cannot be used is said through the reporter and the dialog stays open.
//
//   ResizeDialog dlg(*ctx.animation(), {}, reporter(), this);  // {}: the animation
//   if (runModal(dlg) == QDialog::Accepted) ctx.apply(dlg.edit(), &progress);
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "document/edit.h"
#include "imaging/blend.h"
#include "imaging/transform.h"
#include "resources/strings.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;

namespace fb {
class ExternalEdit;
}

namespace fb::ui {

class SteppedSpinBox;

// A rectangle's four fields ("x", "y", "width", "height") in a form.
struct RectFields {
  SteppedSpinBox *x, *y, *width, *height;
  RectFields(QWidget* parent, QFormLayout* form, const Rect& initial);
  Rect rect() const;
  // Inside a `w` × `h` area and at least one pixel; else says `message`
  // (filled with the rectangle and the area) and focuses the field at fault.
  bool check(int w, int h, Str message, Reporter& reporter) const;
};

// "移动/剪切" (frame `frame`): where the frame goes and the part of it kept.
class MoveCropDialog : public QDialog {
 public:
  MoveCropDialog(const Animation& document, int frame, Reporter& reporter,
                 QWidget* parent = nullptr);
  Edit edit() const;  // after OK
  void accept() override;

 private:
  int frame_, frameWidth_, frameHeight_;
  Reporter& reporter_;
  SteppedSpinBox *left_, *top_;
  std::unique_ptr<RectFields> keep_;
};

// "剪切": the animation cut to a rectangle of its screen.
class CropDialog : public QDialog {
 public:
  CropDialog(const Animation& document, Reporter& reporter, QWidget* parent = nullptr);
  Edit edit() const;
  void accept() override;

 private:
  int screenWidth_, screenHeight_;
  Reporter& reporter_;
  std::unique_ptr<RectFields> rect_;
};

// "调整大小": the whole animation (`frames` empty, sized from its screen) or the
// frames at `frames` (sized from the first of them). Keeping the aspect, a
// change of one side sets the other. OK stores the bicubic choice (word 6).
class ResizeDialog : public QDialog {
 public:
  ResizeDialog(const Animation& document, std::vector<int> frames, Reporter& reporter,
               QWidget* parent = nullptr);
  Edit edit() const;
  void accept() override;

 private:
  void follow(bool widthChanged);
  std::vector<int> frames_;
  int baseWidth_, baseHeight_;
  Reporter& reporter_;
  SteppedSpinBox *width_, *height_;
  QCheckBox *keepAspect_, *bicubic_;
};

// "混合动画": how `other` (read from the file `name`) is drawn over the
// document: frame by frame or by time, the shorter one looped or not; the
// result's length is shown as the choices change. OK stores them (word 6).
class BlendDialog : public QDialog {
 public:
  BlendDialog(const Animation& document, std::shared_ptr<const Animation> other,
              const QString& name, const BlendOptions& defaults, MergeChooser* chooser,
              QWidget* parent = nullptr);
  BlendOptions options() const;
  Edit edit() const;
  QString resultText() const;
  void accept() override;

 private:
  void update();
  std::vector<int32_t> delays_, otherDelays_;
  uint32_t timeBase_;
  std::shared_ptr<const Animation> other_;
  BlendOptions defaults_;
  MergeChooser* chooser_;
  QRadioButton *byFrame_, *byTime_;
  QCheckBox* loop_;
  QLabel* result_;
};

// "HTML编码": the <img> tag for the document's file (`path`; empty: untitled)
// with an editable alt text; "复制" puts it on the clipboard.
class HtmlDialog : public QDialog {
 public:
  HtmlDialog(const std::string& path, int width, int height, QWidget* parent = nullptr);
  QString snippet() const;

 private:
  void update();
  std::string path_;
  int width_, height_;
  QLineEdit *alt_, *code_;
};

// While an image editor has the file of `session`: each save it makes is read
// back and handed to `take` (one undo step each). check() looks once; while
// the dialog shows, a timer calls it twice a second, and "完成" looks a last
// time before it closes. The caller ends the session (and its file) after.
class ExternalEditDialog : public QDialog {
 public:
  using Document = std::function<const Animation*()>;
  using Take = std::function<bool(const Edit&)>;
  ExternalEditDialog(ExternalEdit& session, Document document, Take take,
                     QWidget* parent = nullptr);
  // True when a save was read back and taken.
  bool check();
  int taken() const { return taken_; }
  const std::string& path() const;  // the file the editor has
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  ExternalEdit& session_;
  Document document_;
  Take take_;
  QTimer* timer_;
  QLabel* status_;
  int taken_ = 0;
  bool busy_ = false;
};

}  // namespace fb::ui
