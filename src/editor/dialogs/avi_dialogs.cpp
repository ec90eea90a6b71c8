#include "editor/dialogs/avi_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QStackedLayout>
#include <QStyle>
#include <QVBoxLayout>

#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "io/options.h"

namespace fb::ui {
namespace {

QString fourcc(uint32_t code) {
  QString s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    s += QLatin1Char(c >= 32 && c < 127 ? c : '?');
  }
  return s;
}

}  // namespace

Edit fixForAviEdit(uint32_t traits, const MergeOptions& merge) {
  return {text(Str::FixForAviStep), Change::everything(),
          [traits, merge](Animation& a, Progress* progress) {
            return FixForAvi(a, traits, progress, merge) ? 1 : 0;
          }};
}

AviOptionsPanel::AviOptionsPanel(uint32_t traits, const AviSettings& settings,
                                 AviCodecChooser* chooser, Reporter& reporter, Str customText,
                                 QWidget* parent)
    : QWidget(parent),
      traits_(traits),
      settings_(settings),
      chooser_(chooser),
      reporter_(reporter),
      state_(openAviPanel(traits, settings)) {
  setObjectName("283");
  none_ = makeRadio(Str::AviNone, "none", this);
  video1_ = makeRadio(Str::AviVideo1, "video1", this);
  rle8_ = makeRadio(Str::AviRle8, "rle8", this);
  custom_ = makeRadio(customText, "custom", this);
  write24Bit_ = makeCheck(Str::AviWrite24Bit, "write24Bit", this);
  includeAudio_ = makeCheck(Str::AviIncludeAudio, "includeAudio", this);
  audioPath_ = new QLineEdit(this);
  audioPath_->setObjectName("audioPath");
  auto* browse = makeButton(Str::AviBrowse, "browseAudio", this);

  auto* layout = new QVBoxLayout(this);
  for (QWidget* w : std::initializer_list<QWidget*>{none_, video1_, rle8_, custom_, write24Bit_})
    layout->addWidget(w);
  layout->addWidget(includeAudio_);
  auto* row = new QHBoxLayout;
  row->addWidget(audioPath_);
  row->addWidget(browse);
  layout->addLayout(row);

  // 24-bit data is written as 24-bit frames: the box only says so.
  write24Bit_->setEnabled(false);
  show(state_);

  auto choose = [this](QRadioButton* r, AviPreset preset) {
    connect(r, &QRadioButton::clicked, this, [this, preset] {
      chooseAviPreset(state_, preset, chooser_);
      show(state_);
    });
  };
  choose(none_, AviPreset::None);
  choose(video1_, AviPreset::Video1);
  choose(rle8_, AviPreset::Rle8);
  choose(custom_, AviPreset::Custom);
  connect(audioPath_, &QLineEdit::textEdited, this, [this](const QString& path) {
    setAviAudioPath(state_, spath(path));
    show(state_);
  });
  connect(includeAudio_, &QCheckBox::clicked, this,
          [this](bool on) { state_.includeAudio = on && state_.audioEnabled; });
  connect(browse, &QPushButton::clicked, this, &AviOptionsPanel::browseAudio);
}

void AviOptionsPanel::show(const AviPanelState& s) {
  const std::pair<QRadioButton*, AviPreset> radios[] = {{none_, AviPreset::None},
                                                        {video1_, AviPreset::Video1},
                                                        {rle8_, AviPreset::Rle8},
                                                        {custom_, AviPreset::Custom}};
  for (auto [r, preset] : radios) r->setChecked(s.choice == preset);
  rle8_->setEnabled(s.rle8Enabled);
  write24Bit_->setVisible(s.show24Bit);
  write24Bit_->setChecked(s.show24Bit);
  includeAudio_->setEnabled(s.audioEnabled);
  includeAudio_->setChecked(s.includeAudio);
  if (audioPath_->text() != qpath(s.audioPath)) audioPath_->setText(qpath(s.audioPath));
}

void AviOptionsPanel::browseAudio() {
  // A file without audio is refused and the dialog opens again.
  for (;;) {
    const QString f = chooseFile(this, qtext(Str::AviInsertAudio), qtext(Str::AviAudioFilter));
    if (f.isEmpty()) return;
    if (aviHasAudioStream(spath(f))) {
      setAviAudioPath(state_, spath(f));
      show(state_);
      return;
    }
    reporter_.message(text(Str::CaptionError), format(Str::AviNoAudioIn, spath(f).c_str()),
                      Icon::Warning);
  }
}

bool AviOptionsPanel::confirm(AviSaveOptions& out) {
  ScopedReporter scope(reporter_);
  if (!confirmAviPanel(state_, traits_, out, settings_)) {
    audioPath_->setFocus();
    return false;
  }
  storeAviSettings(settings_);
  return true;
}

AviExportPanel::AviExportPanel(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                               Reporter& reporter, Str customText, QWidget* parent)
    : QWidget(parent),
      doc_(document),
      runEdit_(std::move(runEdit)),
      chooser_(chooser),
      reporter_(reporter),
      customText_(customText) {
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  if (aviExportTraits(doc_) & avitraits::NeedsFix) {
    auto* panel = new QWidget(this);
    panel->setObjectName("311");
    auto* icon = new QLabel(panel);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    auto* message = new QLabel(qtext(Str::AviNeedsFix), panel);
    message->setWordWrap(true);
    auto* fixButton = makeButton(Str::AviFix, "fix", panel);
    connect(fixButton, &QPushButton::clicked, this, [this] { fix(); });
    auto* l = new QHBoxLayout(panel);
    l->addWidget(icon, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addWidget(message);
    right->addWidget(fixButton, 0, Qt::AlignLeft);
    right->addStretch();
    l->addLayout(right, 1);
    stack_->addWidget(panel);
  } else {
    showOptions();
  }
}

void AviExportPanel::showOptions() {
  options_ = new AviOptionsPanel(aviExportTraits(doc_), aviSettingsFromPreferences(), chooser_,
                                 reporter_, customText_, this);
  stack_->addWidget(options_);
  stack_->setCurrentWidget(options_);
  if (onReadyChanged) onReadyChanged(true);
}

bool AviExportPanel::fix() {
  if (ready()) return true;
  const uint32_t traits = aviExportTraits(doc_);
  int result;
  {
    ScopedReporter scope(reporter_);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    result = runEdit_(fixForAviEdit(traits, mergeOptionsFromPreferences()));
    QApplication::restoreOverrideCursor();
  }
  if (result != 1 || (aviExportTraits(doc_) & avitraits::NeedsFix)) return false;
  showOptions();
  return true;
}

bool AviExportPanel::confirm(AviSaveOptions& out) {
  return options_ && options_->confirm(out);
}

AviSettingsDialog::AviSettingsDialog(Animation& document, EditRunner runEdit,
                                     AviCodecChooser* chooser, Reporter& reporter, QWidget* parent)
    : QDialog(parent) {
  setObjectName("193");
  setWindowTitle(qtext(Str::AviSettingsTitle));
  auto* buttons = makeButtons(this);
  QPushButton* ok = buttons->findChild<QPushButton*>("ok");
  panel_ = new AviExportPanel(document, std::move(runEdit), chooser, reporter, Str::AviCustomOther,
                              this);
  ok->setEnabled(panel_->ready());
  panel_->onReadyChanged = [ok](bool ready) { ok->setEnabled(ready); };
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel_);
  layout->addWidget(buttons);
}

void AviSettingsDialog::accept() {
  if (!panel_->confirm(options_)) return;
  QDialog::accept();
}

CodecDialog::CodecDialog(const std::vector<avi::EncoderInfo>& encoders,
                         const avi::CompressOptions& options, QWidget* parent)
    : QDialog(parent), encoders_(encoders), initial_(options) {
  setObjectName("codecChooser");
  setWindowTitle(qtext(Str::CodecTitle));
  list_ = new QListWidget(this);
  list_->setObjectName("codecs");
  for (const auto& e : encoders_) {
    list_->addItem(QStringLiteral("%1  %2").arg(fourcc(e.fccHandler), qpath(e.description)));
    if (e.fccHandler == options.fccHandler) list_->setCurrentRow(list_->count() - 1);
  }
  if (list_->currentRow() < 0 && list_->count() > 0) list_->setCurrentRow(0);
  keyFrames_ = new QSpinBox(this);
  keyFrames_->setObjectName("keyFrames");
  keyFrames_->setRange(0, 100000);
  keyFrames_->setValue(static_cast<int>(options.keyFrameEvery));
  quality_ = new QSlider(Qt::Horizontal, this);
  quality_->setObjectName("quality");
  quality_->setRange(0, 100);
  quality_->setValue(static_cast<int>(std::min<uint32_t>(options.quality, 10000) / 100));
  dataRate_ = new QSpinBox(this);
  dataRate_->setObjectName("dataRate");
  dataRate_->setRange(0, 1000000);
  dataRate_->setValue(static_cast<int>(options.bytesPerSecond / 1024));

  auto* form = new QFormLayout;
  form->addRow(qtext(Str::CodecName), list_);
  if (encoders_.empty()) form->addRow(new QLabel(qtext(Str::CodecNone), this));
  form->addRow(qtext(Str::CodecKeyFrames), keyFrames_);
  form->addRow(qtext(Str::CodecQuality), quality_);
  form->addRow(qtext(Str::CodecDataRate), dataRate_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* buttons = makeButtons(this);
  buttons->findChild<QPushButton*>("ok")->setEnabled(!encoders_.empty());
  layout->addWidget(buttons);
}

avi::CompressOptions CodecDialog::options() const {
  avi::CompressOptions o = initial_;
  const int row = list_->currentRow();
  if (row >= 0 && static_cast<size_t>(row) < encoders_.size())
    o.fccHandler = encoders_[static_cast<size_t>(row)].fccHandler;
  o.keyFrameEvery = static_cast<uint32_t>(keyFrames_->value());
  o.quality = static_cast<uint32_t>(quality_->value()) * 100;
  o.bytesPerSecond = static_cast<uint32_t>(dataRate_->value()) * 1024;
  o.flags = (o.keyFrameEvery ? avi::compressf::KeyFrames : 0) |
            (o.bytesPerSecond ? avi::compressf::DataRate : 0);
  return o;
}

bool QtAviCodecChooser::choose(const std::vector<avi::EncoderInfo>& encoders,
                               avi::CompressOptions& options) {
  CodecDialog dlg(encoders, options, parent_);
  if (dlg.exec() != QDialog::Accepted) return false;
  options = dlg.options();
  return true;
}

}  // namespace fb::ui
