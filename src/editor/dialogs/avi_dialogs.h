// AVI export choices: the options panel (283, inside Save As), "AVI 设置"
// (dialog 193), the panel that offers "Fix for AVI" (311) for animations a
// video cannot show, and the codec chooser behind the custom compression.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>

#include "base/reporter.h"
#include "document/edit.h"
#include "formats/avi.h"
#include "resources/strings.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStackedLayout;

namespace fb::ui {

// Runs an edit on the open document as one undo step (the main window's
// runEdit with its history) and returns its result.
using EditRunner = std::function<int(const Edit&)>;

// "Fix for AVI": local palettes onto one global palette, one transparent
// index, full frames; all or nothing.
Edit fixForAviEdit(uint32_t traits, const MergeOptions& merge);

// The compression, 24-bit and audio choices (panel 283; `customText` names
// the custom choice: "自定义参数 ( 高级)" in the panel, "其他/ 自定义设置" in 193).
class AviOptionsPanel : public QWidget {
 public:
  AviOptionsPanel(uint32_t traits, const AviSettings& settings, AviCodecChooser* chooser,
                  Reporter& reporter, Str customText, QWidget* parent = nullptr);
  // The user's confirmation: false when the audio file has no audio (message
  // shown, the path field focused). Otherwise fills `out` and stores the
  // compression choice in the settings.
  bool confirm(AviSaveOptions& out);
  const AviPanelState& state() const { return state_; }

 private:
  void show(const AviPanelState& s);
  void browseAudio();
  uint32_t traits_;
  AviSettings settings_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  AviPanelState state_;
  QRadioButton *none_, *video1_, *rle8_, *custom_;
  QCheckBox *write24Bit_, *includeAudio_;
  QLineEdit* audioPath_;
};

// The AVI choices for a document: panel 311 with "修复" while the document
// needs the fix, then the options panel.
class AviExportPanel : public QWidget {
 public:
  AviExportPanel(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                 Reporter& reporter, Str customText, QWidget* parent = nullptr);
  // False while the fix is still needed.
  bool ready() const { return options_ != nullptr; }
  // "修复": true when the document was fixed.
  bool fix();
  bool confirm(AviSaveOptions& out);
  // Told when ready() changes (the dialog's save button follows it).
  std::function<void(bool)> onReadyChanged;

 private:
  void showOptions();
  Animation& doc_;
  EditRunner runEdit_;
  AviCodecChooser* chooser_;
  Reporter& reporter_;
  Str customText_;
  QStackedLayout* stack_;
  AviOptionsPanel* options_ = nullptr;
};

// "AVI 设置" (dialog 193).
//   QtAviCodecChooser codecs(this);
//   AviSettingsDialog dlg(*ctx.animation(), [&](const Edit& e) { return ctx.apply(e); }, &codecs,
//                         reporter(), this);
//   if (dlg.exec() == QDialog::Accepted) save with dlg.options() as SaveOptions::aviPanel;
class AviSettingsDialog : public QDialog {
 public:
  AviSettingsDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                    Reporter& reporter, QWidget* parent = nullptr);
  const AviSaveOptions& options() const { return options_; }
  void accept() override;
  AviExportPanel* panel() const { return panel_; }

 private:
  AviExportPanel* panel_;
  AviSaveOptions options_;
};

// The codec, key-frame interval, quality and data rate of the custom choice.
class CodecDialog : public QDialog {
 public:
  CodecDialog(const std::vector<avi::EncoderInfo>& encoders, const avi::CompressOptions& options,
              QWidget* parent = nullptr);
  // After OK.
  avi::CompressOptions options() const;

 private:
  std::vector<avi::EncoderInfo> encoders_;
  avi::CompressOptions initial_;
  QListWidget* list_;
  QSpinBox *keyFrames_, *dataRate_;
  QSlider* quality_;
};

class QtAviCodecChooser : public AviCodecChooser {
 public:
  explicit QtAviCodecChooser(QWidget* parent = nullptr) : parent_(parent) {}
  bool choose(const std::vector<avi::EncoderInfo>& encoders,
              avi::CompressOptions& options) override;

 private:
  QWidget* parent_;
};

}  // namespace fb::ui
