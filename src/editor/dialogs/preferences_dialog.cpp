#include "editor/dialogs/preferences_dialog.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "editor/dialogs/desktop_integration.h"
#include "editor/dialogs/palette_controls.h"
#include "editor/dialogs/property_dialogs.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/palette_merge.h"
#include "io/options.h"

namespace fb::ui {
namespace {

// Word 6.
constexpr uint32_t kNoSignature = 0x8, kPreviewLoops = 0x1000, kFullScreen = 0x100000,
                   kNoAutoPreview = 0x200000, kInterlace = 0x1000000, kKeep24Bit = 0x2000000;
// Word 15.
constexpr uint32_t kPsdLayerMask = 0x1, kFixedRate = 0x4, kHideStart = 0x10,
                   kTransparentOnLoad = 0x20, kNoPng256 = 0x80, kNoXpOrder = 0x100,
                   kFilmstripNames = 0x200, kPngAlways24 = 0x400;
// Word 13.
constexpr uint32_t kTipsShown = 0x1, kTipBitCount = 0x400;
// Word 2.
constexpr uint32_t kSizeClip = 16, kSizeGrow = 32, kSizeAsk = 4;

constexpr int kSpinHigh = 32767;
constexpr int kMaxDelay = 65535, kMaxPlayCount = 65536;

void setBit(uint32_t& word, uint32_t bit, bool on) {
  word = on ? (word | bit) : (word & ~bit);
}

QWidget* page(QTabWidget* tabs, Str title, const char* id) {
  auto* w = new QWidget(tabs);
  w->setObjectName(id);
  tabs->addTab(w, qtext(title));
  return w;
}

void showColour(QPushButton* button, uint32_t c) {
  button->setStyleSheet(QStringLiteral("background:%1")
                            .arg(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF).name()));
}

}  // namespace

PreferencesDialog::PreferencesDialog(Reporter& reporter, QWidget* parent)
    : QDialog(parent), reporter_(reporter) {
  setObjectName("preferences");
  setWindowTitle(qtext(Str::PrefsTitle));
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("pages");

  // 用途
  QWidget* p = page(tabs_, Str::PagePurpose, "purposePage");
  purpose_ = std::make_unique<PurposeChoice>(p);
  {
    auto* l = new QVBoxLayout(p);
    for (Purpose x : {Purpose::Gif, Purpose::Icon, Purpose::Other}) {
      l->addWidget(purpose_->button(x));
      connect(purpose_->button(x), &QRadioButton::toggled, this, [this, x](bool on) {
        if (on) purposeChosen(x);
      });
    }
    l->addStretch();
  }

  // 常规
  p = page(tabs_, Str::PageGeneral, "generalPage");
  autoPreview_ = makeCheck(Str::PrefAutoPreview, "autoPreview", p);
  previewLoops_ = makeCheck(Str::PrefPreviewLoops, "previewLoops", p);
  fullScreen_ = makeCheck(Str::PrefFullScreen, "fullScreen", p);
  hideStart_ = makeCheck(Str::PrefHideStart, "hideStart", p);
  associate_ = makeCheck(Str::PrefAssociate, "associateGif", p);
  interlace_ = makeCheck(Str::PrefInterlace, "interlace", p);
  undoLevels_ = new QSpinBox(p);
  undoLevels_->setObjectName("undoLevels");
  undoLevels_->setRange(0, 999);
  editor_ = new QLineEdit(p);
  editor_->setObjectName("editor");
  auto* chooseEditor = makeButton(Str::ButtonChoose, "chooseEditor", p);
  connect(chooseEditor, &QPushButton::clicked, this, [this] {
    QString f = chooseFile(this, qtext(Str::PrefEditorTitle), QString());
    if (!f.isEmpty()) editor_->setText(f);
  });
  {
    auto* l = new QVBoxLayout(p);
    for (QWidget* w :
         {autoPreview_, previewLoops_, fullScreen_, hideStart_, associate_, interlace_})
      l->addWidget(w);
    auto* form = new QFormLayout;
    form->addRow(qtext(Str::PrefUndoLevels), undoLevels_);
    auto* editorRow = new QHBoxLayout;
    editorRow->addWidget(editor_);
    editorRow->addWidget(chooseEditor);
    form->addRow(qtext(Str::PrefEditor), editorRow);
    l->addLayout(form);
    l->addStretch();
  }

  // 调色板
  p = page(tabs_, Str::PagePalette, "palettePage");
  method_ = new MergeMethodPanel(reporter_, p);
  askMerge_ = makeCheck(Str::AlwaysAsk, "askMerge", p);
  {
    auto* l = new QVBoxLayout(p);
    auto* box = new QGroupBox(qtext(Str::PrefPaletteMethod), p);
    auto* bl = new QVBoxLayout(box);
    bl->addWidget(method_);
    bl->addWidget(askMerge_);
    l->addWidget(box);
    l->addStretch();
  }

  // 动画
  p = page(tabs_, Str::PageAnimation, "animationPage");
  delay_ = new SteppedSpinBox(p);
  delay_->setObjectName("defaultDelay");
  delay_->setStepRange(0, kSpinHigh);
  playCount_ = new SteppedSpinBox(p);
  playCount_->setObjectName("defaultPlayCount");
  playCount_->setStepRange(0, kSpinHigh);
  sizeClip_ = makeRadio(Str::SizeClip, "sizeClip", p);
  sizeGrow_ = makeRadio(Str::SizeGrow, "sizeGrow", p);
  sizeAsk_ = makeCheck(Str::AlwaysAsk, "sizeAsk", p);
  {
    auto* l = new QVBoxLayout(p);
    auto* form = new QFormLayout;
    form->addRow(qtext(Str::PrefDefaultDelay), delay_);
    form->addRow(qtext(Str::PrefDefaultPlayCount), playCount_);
    l->addLayout(form);
    auto* box = new QGroupBox(qtext(Str::PrefSizeRule), p);
    auto* bl = new QVBoxLayout(box);
    bl->addWidget(sizeClip_);
    bl->addWidget(sizeGrow_);
    bl->addWidget(sizeAsk_);
    l->addWidget(box);
    l->addStretch();
  }

  // 输出
  p = page(tabs_, Str::PageOutput, "outputPage");
  keep24Bit_ = makeCheck(Str::PrefKeep24Bit, "keep24Bit", p);
  transparentOnLoad_ = makeCheck(Str::PrefTransparentOnLoad, "transparentOnLoad", p);
  transparentColour_ = new QPushButton(p);
  transparentColour_->setObjectName("transparentColour");
  transparentColour_->setFixedSize(40, 20);
  transparentColour_->setAutoDefault(false);
  connect(transparentColour_, &QPushButton::clicked, this, [this] {
    QColor c(colour_ & 0xFF, (colour_ >> 8) & 0xFF, (colour_ >> 16) & 0xFF);
    if (!chooseColour(this, c)) return;
    colour_ = static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
              (static_cast<uint32_t>(c.blue()) << 16);
    showColour(transparentColour_, colour_);
  });
  signatureOn_ = makeCheck(Str::PrefSignature, "signatureOn", p);
  signature_ = new QLineEdit(p);
  signature_->setObjectName("signature");
  fixedRate_ = makeCheck(Str::PrefFixedRate, "fixedRate", p);
  frameRate_ = new QDoubleSpinBox(p);
  frameRate_->setObjectName("frameRate");
  frameRate_->setDecimals(2);
  frameRate_->setRange(0.01, 1000.0);
  jpegQuality_ = new QSlider(Qt::Horizontal, p);
  jpegQuality_->setObjectName("jpegQuality");
  jpegQuality_->setRange(1, 10);
  jpegQuality_->setTickPosition(QSlider::TicksBelow);
  psdLayerMask_ = makeCheck(Str::PrefPsdLayerMask, "psdLayerMask", p);
  {
    auto* l = new QVBoxLayout(p);
    l->addWidget(keep24Bit_);
    auto* row = new QHBoxLayout;
    row->addWidget(transparentOnLoad_);
    row->addWidget(transparentColour_);
    row->addStretch();
    l->addLayout(row);
    l->addWidget(signatureOn_);
    l->addWidget(signature_);
    row = new QHBoxLayout;
    row->addWidget(fixedRate_);
    row->addWidget(frameRate_);
    row->addStretch();
    l->addLayout(row);
    auto* form = new QFormLayout;
    form->addRow(qtext(Str::PrefJpegQuality), jpegQuality_);
    l->addLayout(form);
    l->addWidget(psdLayerMask_);
    l->addStretch();
  }

  // 输出II
  p = page(tabs_, Str::PageOutput2, "output2Page");
  iconXpOrder_ = makeCheck(Str::PrefIconXpOrder, "iconXpOrder", p);
  iconPng256_ = makeCheck(Str::PrefIconPng256, "iconPng256", p);
  filmstripNames_ = makeCheck(Str::PrefFilmstripNames, "filmstripNames", p);
  pngAlways24_ = makeCheck(Str::PrefPngAlways24, "pngAlways24", p);
  {
    auto* l = new QVBoxLayout(p);
    for (QWidget* w : {iconXpOrder_, iconPng256_, filmstripNames_, pngAlways24_}) l->addWidget(w);
    l->addStretch();
  }

  // 帧提示
  p = page(tabs_, Str::PageFrameTips, "frameTipsPage");
  tipsShown_ = makeCheck(Str::PrefTipsShown, "tipsShown", p);
  {
    auto* l = new QVBoxLayout(p);
    l->addWidget(tipsShown_);
    const std::pair<Str, uint32_t> fields[] = {{Str::TipName, 0x2},
                                               {Str::TipNumber, 0x4},
                                               {Str::TipSize, 0x8},
                                               {Str::TipOffset, 0x10},
                                               {Str::TipDelay, 0x20},
                                               {Str::TipDisposal, 0x40},
                                               {Str::TipTransparency, 0x80},
                                               {Str::TipPaletteKind, 0x100},
                                               {Str::TipBitCount, kTipBitCount}};
    for (const auto& [label, bit] : fields) {
      auto* box = makeCheck(label, qPrintable(QStringLiteral("tip%1").arg(bit, 0, 16)), p);
      box->setContentsMargins(20, 0, 0, 0);
      l->addWidget(box);
      tipBoxes_.push_back({box, bit});
      if (bit == kTipBitCount) tipBitCount_ = box;
    }
    l->addStretch();
  }
  connect(keep24Bit_, &QCheckBox::toggled, this, &PreferencesDialog::updateTipBoxes);
  connect(tipsShown_, &QCheckBox::toggled, this, &PreferencesDialog::updateTipBoxes);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(makeButtons(this));

  before_ = words_ = currentWords();
  shownPurpose_ = purposeOf(words_);
  shownSignature_ = qpath(gifWriteOptionsFromPreferences().signature);
  shownEditor_ = qpath(externalEditorFromPreferences());
  wasDefaultForGif_ = isDefaultForGif();
  {
    QSignalBlocker block(purpose_->button(shownPurpose_));
    purpose_->set(shownPurpose_);
  }
  load();
  signature_->setText(shownSignature_);
  editor_->setText(shownEditor_);
  associate_->setChecked(wasDefaultForGif_);
  shownFrameRate_ = frameRate_->value();
  shownJpegStep_ = jpegQuality_->value();
}

void PreferencesDialog::load() {
  const uint32_t general = words_[pref::GeneralOptions], more = words_[pref::MoreOptions];
  autoPreview_->setChecked(!(general & kNoAutoPreview));
  previewLoops_->setChecked(general & kPreviewLoops);
  fullScreen_->setChecked(general & kFullScreen);
  hideStart_->setChecked(more & kHideStart);
  interlace_->setChecked(general & kInterlace);
  undoLevels_->setValue(static_cast<int>(words_[pref::UndoLevels]));

  method_->setWord(words_[pref::MergeMethod]);
  askMerge_->setChecked(words_[pref::MergeMethod] & merge::Ask);

  delay_->setValue(static_cast<int>(words_[pref::DefaultDelay]));
  playCount_->setValue(static_cast<int>(words_[pref::DefaultPlayCount]));
  const uint32_t rule = words_[pref::SizeConflict];
  (rule & kSizeClip && !(rule & kSizeGrow) ? sizeClip_ : sizeGrow_)->setChecked(true);
  sizeAsk_->setChecked(rule & kSizeAsk);

  keep24Bit_->setChecked(general & kKeep24Bit);
  transparentOnLoad_->setChecked(more & kTransparentOnLoad);
  colour_ = words_[pref::TransparentOnLoad] & 0xFFFFFF;
  showColour(transparentColour_, colour_);
  signatureOn_->setChecked(!(general & kNoSignature));
  fixedRate_->setChecked(more & kFixedRate);
  frameRate_->setValue(words_[pref::AviFrameRate] / 10000.0);
  int step = static_cast<int>((words_[pref::SaveType] >> 8) & 0xFF);
  jpegQuality_->setValue(step >= 1 && step <= 10 ? step : 6);
  psdLayerMask_->setChecked(more & kPsdLayerMask);

  iconXpOrder_->setChecked(!(more & kNoXpOrder));
  iconPng256_->setChecked(!(more & kNoPng256));
  filmstripNames_->setChecked(more & kFilmstripNames);
  pngAlways24_->setChecked(more & kPngAlways24);

  tipsShown_->setChecked(words_[pref::FrameTips] & kTipsShown);
  for (auto& [box, bit] : tipBoxes_) box->setChecked(words_[pref::FrameTips] & bit);
  updateTipBoxes();
}

void PreferencesDialog::collect() {
  uint32_t& general = words_[pref::GeneralOptions];
  uint32_t& more = words_[pref::MoreOptions];
  setBit(general, kNoAutoPreview, !autoPreview_->isChecked());
  setBit(general, kPreviewLoops, previewLoops_->isChecked());
  setBit(general, kFullScreen, fullScreen_->isChecked());
  setBit(more, kHideStart, hideStart_->isChecked());
  setBit(general, kInterlace, interlace_->isChecked());
  words_[pref::UndoLevels] = static_cast<uint32_t>(undoLevels_->value());

  // The bits the panel does not show stay as they were.
  const uint32_t shown = merge::MethodBits | merge::Dither | merge::Ask | 0xFF0000;
  words_[pref::MergeMethod] = (words_[pref::MergeMethod] & ~shown) | method_->word() |
                              (askMerge_->isChecked() ? merge::Ask : 0);

  words_[pref::DefaultDelay] = static_cast<uint32_t>(delay_->value());
  words_[pref::DefaultPlayCount] = static_cast<uint32_t>(playCount_->value());
  words_[pref::SizeConflict] =
      (sizeClip_->isChecked() ? kSizeClip : kSizeGrow) | (sizeAsk_->isChecked() ? kSizeAsk : 0);

  setBit(general, kKeep24Bit, keep24Bit_->isChecked());
  setBit(more, kTransparentOnLoad, transparentOnLoad_->isChecked());
  words_[pref::TransparentOnLoad] = (words_[pref::TransparentOnLoad] & 0xFF000000) | colour_;
  setBit(general, kNoSignature, !signatureOn_->isChecked());
  setBit(more, kFixedRate, fixedRate_->isChecked());
  // The rate is written once the user set it (an unset rate stays 0).
  if (frameRate_->value() != shownFrameRate_)
    words_[pref::AviFrameRate] = static_cast<uint32_t>(frameRate_->value() * 10000.0 + 0.5);
  // Likewise the JPEG step: an unset step (0) reads as 6 and stays unset.
  if (jpegQuality_->value() != shownJpegStep_)
    words_[pref::SaveType] =
        (words_[pref::SaveType] & ~0xFF00u) | (static_cast<uint32_t>(jpegQuality_->value()) << 8);
  setBit(more, kPsdLayerMask, psdLayerMask_->isChecked());

  setBit(more, kNoXpOrder, !iconXpOrder_->isChecked());
  setBit(more, kNoPng256, !iconPng256_->isChecked());
  setBit(more, kFilmstripNames, filmstripNames_->isChecked());
  setBit(more, kPngAlways24, pngAlways24_->isChecked());

  uint32_t& tips = words_[pref::FrameTips];
  setBit(tips, kTipsShown, tipsShown_->isChecked());
  for (auto& [box, bit] : tipBoxes_) setBit(tips, bit, box->isChecked());
}

void PreferencesDialog::updateTipBoxes() {
  for (auto& [box, bit] : tipBoxes_) box->setEnabled(tipsShown_->isChecked());
  // The bit count only means something for kept 24-bit data.
  tipBitCount_->setVisible(keep24Bit_->isChecked());
}

void PreferencesDialog::purposeChosen(Purpose p) {
  // A purpose sets its words over those the dialog opened with; "other" leaves them.
  collect();
  for (int w : {pref::SizeConflict, pref::MergeMethod, pref::FrameTips})
    words_[static_cast<size_t>(w)] = before_[static_cast<size_t>(w)];
  const uint32_t mask = kKeep24Bit | kNoAutoPreview;
  words_[pref::GeneralOptions] =
      (words_[pref::GeneralOptions] & ~mask) | (before_[pref::GeneralOptions] & mask);
  applyPurpose(p, words_);
  load();
}

bool PreferencesDialog::validate() {
  auto focus = [this](QWidget* field) {
    tabs_->setCurrentWidget(field->parentWidget());
    field->setFocus();
    return false;
  };
  auto refuse = [&](QWidget* field, Str textId, Str caption) {
    reporter_.message(text(caption), text(textId), Icon::Warning);
    return focus(field);
  };
  if (delay_->value() > kMaxDelay)
    return refuse(delay_, Str::InvalidDelay, Str::InvalidDelayCaption);
  if (playCount_->value() > kMaxPlayCount)
    return refuse(playCount_, Str::PrefsInvalidPlayCount, Str::InvalidPlayCountCaption);
  if (!commentFits(signature_->text(), reporter_)) return focus(signature_);
  return true;
}

void PreferencesDialog::accept() {
  if (!validate()) return;
  collect();
  storeChangedWords(words_, before_);
  if (signature_->text() != shownSignature_) storeSignature(spath(signature_->text()));
  if (editor_->text() != shownEditor_) storeExternalEditor(spath(editor_->text()));
  if (associate_->isChecked() && !wasDefaultForGif_ &&
      !makeDefaultForGif(QCoreApplication::applicationFilePath()))
    reporter_.message(text(Str::CaptionError), text(Str::AssociationFailed), Icon::Warning);

  QDialog::accept();
}

bool PreferencesDialog::interlaceTurnedOff() const {
  return result() == QDialog::Accepted && (before_[pref::GeneralOptions] & kInterlace) &&
         !(words_[pref::GeneralOptions] & kInterlace);
}

bool PreferencesDialog::frameTipsShown() const {
  return tipsShown_->isChecked();
}

}  // namespace fb::ui
