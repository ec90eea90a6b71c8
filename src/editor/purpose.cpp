#include "editor/purpose.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/prefs.h"
#include "editor/ui_text.h"

namespace fb {
namespace {
constexpr uint32_t kKeep24 = 0x2000000;
constexpr uint32_t kNoAutoPreview = 0x200000;
}  // namespace

Purpose currentPurpose() {
  uint32_t general = prefGet(pref::GeneralOptions);
  uint32_t merge = prefGet(pref::MergeMethod);
  if ((general & kKeep24) && merge == 0x880010 && (general & kNoAutoPreview)) return Purpose::Icons;
  if (!(general & kKeep24) && merge == 0x880001) return Purpose::Gif;
  return Purpose::Other;
}

void applyPurpose(Purpose purpose, Purpose shownAtOpening) {
  if (purpose == shownAtOpening) return;
  switch (purpose) {
    case Purpose::Gif:
      prefSetBits(pref::GeneralOptions, kKeep24, false);
      prefSet(pref::MergeMethod, 0x880001);
      prefSet(pref::FrameTips, 173);
      break;
    case Purpose::Icons:
      prefSetBits(pref::GeneralOptions, kKeep24 | kNoAutoPreview, true);
      prefSet(pref::MergeMethod, 0x880010);
      prefSet(pref::FrameTips, 1161);
      prefSet(pref::SizeConflict, 32);
      break;
    case Purpose::Other: break;
  }
}

PurposeDialog::PurposeDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("313");
  setWindowTitle(qtext(Str::PurposeTitle));
  auto* layout = new QVBoxLayout(this);
  group_ = new QButtonGroup(this);
  const Str texts[] = {Str::PurposeGif, Str::PurposeIcons, Str::PurposeOther};
  for (int k = 0; k < 3; ++k) {
    auto* r = new QRadioButton(qtext(texts[k]));
    r->setObjectName(QString("purpose%1").arg(k));
    group_->addButton(r, k);
    layout->addWidget(r);
  }
  group_->button(static_cast<int>(currentPurpose()))->setChecked(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

Purpose PurposeDialog::chosen() const { return static_cast<Purpose>(group_->checkedId()); }

}  // namespace fb
