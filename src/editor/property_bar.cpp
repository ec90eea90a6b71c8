#include "editor/property_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QToolButton>

#include "editor/command_table.h"
#include "editor/document_context.h"
#include "editor/ui_text.h"

namespace fb {

PropertyBar::PropertyBar(DocumentContext& context, QWidget* parent)
    : QToolBar(parent), ctx_(context) {
  setObjectName("propertyToolbar");
  setWindowTitle(plainText(Str::Cmd40128));
  interlace_ = check(cmd::Interlace, qtext(Str::PropInterlace));
  transparent_ = check(cmd::Transparency, qtext(Str::PropTransparent));
  pick_ = button(cmd::PickTransparent, qtext(Str::PropPickTransparent), false);
  local_ = check(cmd::LocalPaletteOnOff, qtext(Str::PropLocalPalette));
  addSeparator();
  addWidget(new QLabel(qtext(Str::PropFrameName)));
  name_ = new QComboBox;
  name_->setObjectName(QString::number(cmd::FrameByName));
  name_->setAccessibleName(plainText(Str::PropFrameName));
  name_->setMinimumContentsLength(12);
  addWidget(name_);
  connect(name_, &QComboBox::activated, this, [this] { emit commandRequested(cmd::FrameByName); });
  delay_ = field(cmd::Delay, Str::PropDelay);
  addSeparator();
  disposeNone_ = button(cmd::DisposeNone, qtext(Str::PropDisposeNone), true);
  disposeBackground_ = button(cmd::DisposeBackground, qtext(Str::PropDisposeBackground), true);
  disposePrevious_ = button(cmd::DisposePrevious, qtext(Str::PropDisposePrevious), true);
  addSeparator();
  playCount_ = field(cmd::PlayCount, Str::PropPlayCount);
  trueColour_ = check(cmd::TrueColour, qtext(Str::PropTrueColour));
  // The names are listed anew only when the frames change, not at every click.
  connect(&ctx_, &DocumentContext::documentReplaced, this, [this] { namesStale_ = true; });
  connect(&ctx_, &DocumentContext::changed, this, [this] { namesStale_ = true; });
  refresh();
}

QLineEdit* PropertyBar::field(int id, Str label) {
  addWidget(new QLabel(qtext(label)));
  auto* e = new QLineEdit;
  e->setObjectName(QString::number(id));
  e->setAccessibleName(plainText(label));
  e->setMaximumWidth(70);
  addWidget(e);
  // Enter applies the field; the dispatcher checks it.
  connect(e, &QLineEdit::returnPressed, this, [this, id] { emit commandRequested(id); });
  return e;
}

QCheckBox* PropertyBar::check(int id, const QString& text) {
  auto* c = new QCheckBox(text);
  c->setObjectName(QString::number(id));
  c->setAccessibleName(plainText(text));
  addWidget(c);
  connect(c, &QCheckBox::clicked, this, [this, id] { emit commandRequested(id); });
  return c;
}

QToolButton* PropertyBar::button(int id, const QString& text, bool checkable) {
  auto* b = new QToolButton;
  b->setObjectName(QString::number(id));
  b->setText(text);
  b->setAccessibleName(plainText(text));
  b->setCheckable(checkable);
  addWidget(b);
  connect(b, &QToolButton::clicked, this, [this, id] { emit commandRequested(id); });
  return b;
}

void PropertyBar::refresh() {
  Frame* f = ctx_.frame(ctx_.currentFrame());
  Animation* a = ctx_.animation();
  const QList<QWidget*> frameControls = {interlace_, transparent_, pick_,
                                         local_,     delay_,       disposeNone_,
                                         disposeBackground_, disposePrevious_, trueColour_};
  for (QWidget* w : frameControls) {
    QSignalBlocker block(w);
    w->setEnabled(f != nullptr);
  }
  {
    QSignalBlocker block(name_);
    if (namesStale_) {
      QStringList names;
      if (a)
        for (Frame* g = firstFrame(*a); g; g = nextFrame(g))
          names << QString::fromStdString(frameName(*g));
      name_->clear();
      name_->addItems(names);
      namesStale_ = false;
    }
    name_->setEnabled(a && a->frameCount() > 0);
    name_->setCurrentIndex(f ? ctx_.currentFrame() : -1);
  }
  playCount_->setEnabled(a != nullptr);
  playCount_->setText(a ? QString::number(a->playCount) : QString());
  if (!f) {
    delay_->clear();
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
             interlace_, transparent_, local_, trueColour_, disposeNone_, disposeBackground_,
             disposePrevious_})
      b->setChecked(false);
    return;
  }
  interlace_->setChecked(f->interlaced());
  transparent_->setChecked(f->transparent());
  local_->setChecked(f->localPalette != nullptr);
  trueColour_->setChecked(f->hasRgb());
  delay_->setText(QString::number(f->delay));
  disposeNone_->setChecked(f->disposal() == 1);
  disposeBackground_->setChecked(f->disposal() == 2);
  disposePrevious_->setChecked(f->disposal() == 3);
}

QString PropertyBar::delayText() const { return delay_->text(); }
QString PropertyBar::playCountText() const { return playCount_->text(); }
void PropertyBar::setDelayText(const QString& text) { delay_->setText(text); }
void PropertyBar::setPlayCountText(const QString& text) { playCount_->setText(text); }
int PropertyBar::chosenFrame() const { return name_->currentIndex(); }

bool PropertyBar::checked(int id) const {
  switch (id) {
    case cmd::Interlace: return interlace_->isChecked();
    case cmd::Transparency: return transparent_->isChecked();
    case cmd::LocalPaletteOnOff: return local_->isChecked();
    case cmd::TrueColour: return trueColour_->isChecked();
    default: return false;
  }
}

}  // namespace fb
