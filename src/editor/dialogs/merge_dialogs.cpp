#include "editor/dialogs/merge_dialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/prefs.h"
#include "editor/dialogs/palette_controls.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"

namespace fb::ui {

MergeMethodDialog::MergeMethodDialog(uint32_t suggested, Reporter& reporter, QWidget* parent)
    : QDialog(parent) {
  setObjectName("201");
  setWindowTitle(qtext(Str::MergeTitle));
  panel_ = new MergeMethodPanel(reporter, this);
  panel_->setWord(suggested);
  makeDefault_ = makeCheck(Str::MergeMakeDefault, "1205", this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel_);
  layout->addWidget(makeDefault_);
  layout->addWidget(makeButtons(this));
}

MergeChooser::MethodChoice MergeMethodDialog::choice() const {
  MergeChooser::MethodChoice c;
  c.accepted = result() == QDialog::Accepted;
  c.method = panel_->word();
  c.makeDefault = makeDefault_->isChecked();
  return c;
}

SizeConflictDialog::SizeConflictDialog(bool suggestGrow, QWidget* parent) : QDialog(parent) {
  setObjectName("108");
  setWindowTitle(qtext(Str::SizeTitle));
  auto* question = new QLabel(qtext(Str::SizeQuestion), this);
  question->setWordWrap(true);
  clip_ = makeRadio(Str::SizeClip, "clip", this);
  grow_ = makeRadio(Str::SizeGrow, "grow", this);
  (suggestGrow ? grow_ : clip_)->setChecked(true);
  makeDefault_ = makeCheck(Str::SizeMakeDefault, "makeDefault", this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(question);
  layout->addWidget(clip_);
  layout->addWidget(grow_);
  layout->addWidget(makeDefault_);
  layout->addWidget(makeButtons(this));
}

MergeChooser::SizeChoice SizeConflictDialog::choice() const {
  MergeChooser::SizeChoice c;
  if (result() != QDialog::Accepted)
    c.size = MergeChooser::Size::Cancel;
  else
    c.size = grow_->isChecked() ? MergeChooser::Size::Grow : MergeChooser::Size::Clip;
  c.makeDefault = makeDefault_->isChecked();
  return c;
}

void QtMergeChooser::remember(const MethodChoice& c) {
  if (!c.accepted || !c.makeDefault) return;
  // The choice without "ask every time"; bits the dialog does not show stay.
  const uint32_t shown = merge::MethodBits | merge::Dither | merge::Ask | 0xFF0000;
  prefSet(pref::MergeMethod, (prefRaw(pref::MergeMethod) & ~shown) | (c.method & ~merge::Ask));
}

void QtMergeChooser::remember(const SizeChoice& c) {
  if (c.size == Size::Cancel || !c.makeDefault) return;
  prefSet(pref::SizeConflict, c.size == Size::Grow ? 32 : 16);
}

MergeChooser::MethodChoice QtMergeChooser::chooseMergeMethod(uint32_t suggested) {
  MergeMethodDialog dlg(suggested, reporter_, parent_);
  dlg.exec();
  MethodChoice c = dlg.choice();
  remember(c);
  return c;
}

MergeChooser::SizeChoice QtMergeChooser::chooseSizeConflict(bool suggestGrow) {
  SizeConflictDialog dlg(suggestGrow, parent_);
  dlg.exec();
  SizeChoice c = dlg.choice();
  remember(c);
  return c;
}

}  // namespace fb::ui
