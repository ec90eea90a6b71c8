#include "editor/dialogs/purpose.h"

#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/palette_merge.h"

namespace fb::ui {
namespace {

constexpr uint32_t kKeep24Bit = 0x2000000;     // word 6
constexpr uint32_t kNoAutoPreview = 0x200000;  // word 6
constexpr uint32_t kFirstRunAsked = 0x40;      // word 15
constexpr uint32_t kGifMethod = 0x880001, kIconMethod = 0x880010;
constexpr uint32_t kGifTips = 173, kIconTips = 1161;

}  // namespace

Purpose purposeOf(const PrefWords& w) {
  const uint32_t general = w[pref::GeneralOptions], method = w[pref::MergeMethod];
  if ((general & kKeep24Bit) && (general & kNoAutoPreview) && method == kIconMethod)
    return Purpose::Icon;
  if (!(general & kKeep24Bit) && method == kGifMethod) return Purpose::Gif;
  return Purpose::Other;
}

void applyPurpose(Purpose p, PrefWords& w) {
  switch (p) {
    case Purpose::Gif:
      w[pref::GeneralOptions] &= ~kKeep24Bit;
      w[pref::MergeMethod] = kGifMethod;
      w[pref::FrameTips] = kGifTips;
      break;
    case Purpose::Icon:
      w[pref::GeneralOptions] |= kKeep24Bit | kNoAutoPreview;
      w[pref::MergeMethod] = kIconMethod;
      w[pref::FrameTips] = kIconTips;
      w[pref::SizeConflict] = 32;
      break;
    case Purpose::Other:
      break;
  }
}

PrefWords currentWords() {
  PrefWords w{};
  for (int i = 0; i < pref::kWordCount; ++i) w[static_cast<size_t>(i)] = prefGet(i);
  return w;
}

void storeChangedWords(const PrefWords& words, const PrefWords& before) {
  for (int i = 0; i < pref::kWordCount; ++i)
    if (words[static_cast<size_t>(i)] != before[static_cast<size_t>(i)])
      prefSet(i, words[static_cast<size_t>(i)]);
}

PurposeChoice::PurposeChoice(QWidget* parent)
    : gif_(makeRadio(Str::PurposeGif, "purposeGif", parent)),
      icon_(makeRadio(Str::PurposeIcons, "purposeIcon", parent)),
      other_(makeRadio(Str::PurposeOther, "purposeOther", parent)) {}

void PurposeChoice::set(Purpose p) {
  button(p)->setChecked(true);
}

Purpose PurposeChoice::get() const {
  return gif_->isChecked() ? Purpose::Gif : icon_->isChecked() ? Purpose::Icon : Purpose::Other;
}

QRadioButton* PurposeChoice::button(Purpose p) const {
  return p == Purpose::Gif ? gif_ : p == Purpose::Icon ? icon_ : other_;
}

PurposeDialog::PurposeDialog(QWidget* parent) : QDialog(parent), choice_(this) {
  setObjectName("313");
  setWindowTitle(qtext(Str::PurposeTitle));
  shown_ = purposeOf(currentWords());
  choice_.set(shown_);
  auto* prompt = new QLabel(qtext(Str::PurposePrompt), this);
  prompt->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  for (Purpose p : {Purpose::Gif, Purpose::Icon, Purpose::Other})
    layout->addWidget(choice_.button(p));
  layout->addWidget(makeButtons(this));
}

void PurposeDialog::accept() {
  const Purpose chosen = choice_.get();
  if (chosen != shown_) {
    const PrefWords before = currentWords();
    PrefWords words = before;
    applyPurpose(chosen, words);
    storeChangedWords(words, before);
  }
  QDialog::accept();
}

void askPurposeOnFirstRun(QWidget* parent) {
  if (prefGet(pref::MoreOptions) & kFirstRunAsked) return;
  PurposeDialog(parent).exec();
  prefSetBits(pref::MoreOptions, kFirstRunAsked, true);
}

}  // namespace fb::ui
