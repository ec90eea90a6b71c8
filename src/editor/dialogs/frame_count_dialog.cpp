#include "editor/dialogs/frame_count_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"
#include "imaging/frame_count.h"

namespace fb::ui {

FrameCountDialog::FrameCountDialog(const Animation& document, Reporter& reporter, QWidget* parent)
    : QDialog(parent), doc_(document), reporter_(reporter) {
  setObjectName("227");
  setWindowTitle(qtext(Str::ThinTitle));
  interval_ = new SteppedSpinBox(this);
  interval_->setObjectName("1069");
  interval_->setStepRange(2, doc_.frameCount());
  interval_->setValue(2);
  auto* current = makeField("1225", this);
  current->setText(QString::number(doc_.frameCount()));
  after_ = makeField("1226", this);

  auto* form = new QFormLayout;
  form->addRow(qtext(Str::ThinInterval), interval_);
  form->addRow(qtext(Str::ThinCurrent), current);
  form->addRow(qtext(Str::ThinAfter), after_);
  auto* buttons = makeButtons(this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(interval_, &QSpinBox::valueChanged, this, &FrameCountDialog::update);
  update();
}

int FrameCountDialog::interval() const {
  return interval_->value();
}

void FrameCountDialog::update() {
  const int n = reducedFrameCount(doc_.frameCount(), interval());
  after_->setText(n < 0 ? qtext(Str::ThinUnknown) : QString::number(n));
}

Edit FrameCountDialog::edit() const {
  return thinEdit(interval());
}

void FrameCountDialog::accept() {
  ScopedReporter scope(reporter_);
  if (!validDeletionInterval(doc_, interval())) {
    interval_->setFocus();
    interval_->selectAll();
    return;
  }
  QDialog::accept();
}

}  // namespace fb::ui
