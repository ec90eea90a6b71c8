#include "editor/dialogs/property_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "document/atoms.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"

namespace fb::ui {
namespace {

constexpr int kMaxComment = 255;  // bytes of one comment block's text

// A whole number typed in a field, within [low, high].
bool wholeNumber(const QString& text, int64_t low, int64_t high, int& value) {
  bool ok = false;
  const int64_t v = text.trimmed().toLongLong(&ok);
  if (!ok || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

QSpinBox* spin(const char* id, int low, int high, int value, QWidget* parent) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(id);
  s->setRange(low, high);
  s->setValue(value);
  return s;
}

QLineEdit* line(const char* id, const QString& value, QWidget* parent) {
  auto* e = new QLineEdit(value, parent);
  e->setObjectName(id);
  return e;
}

// The value all `frames` share, or nothing when they differ.
template <typename F>
auto common(const Animation& a, const std::vector<int>& frames, F get)
    -> std::optional<decltype(get(*a.frame(0)))> {
  std::optional<decltype(get(*a.frame(0)))> out;
  for (int i : frames) {
    const Frame* f = a.frame(i);
    if (!f) continue;
    auto v = get(*f);
    if (out && *out != v) return std::nullopt;
    out = v;
  }
  return out;
}

// A check box showing a shared flag, or half checked when the frames differ.
QCheckBox* flagBox(Str label, const char* id, std::optional<bool> value, Qt::CheckState& shown,
                   QWidget* parent) {
  QCheckBox* c = makeCheck(label, id, parent);
  if (!value) c->setTristate(true);
  shown = !value ? Qt::PartiallyChecked : *value ? Qt::Checked : Qt::Unchecked;
  c->setCheckState(shown);
  return c;
}

std::optional<bool> flagOf(const QCheckBox* c, Qt::CheckState shown) {
  if (c->checkState() == shown || c->checkState() == Qt::PartiallyChecked) return std::nullopt;
  return c->checkState() == Qt::Checked;
}

// The form above OK and Cancel.
void layOut(QDialog* dialog, QFormLayout* form) {
  auto* layout = new QVBoxLayout(dialog);
  layout->addLayout(form);
  layout->addWidget(makeButtons(dialog));
}

// A refused field shows what the toolbar shows then, chosen for typing anew.
void refused(QLineEdit* field, int shown) {
  field->setText(QString::number(shown));
  field->setFocus();
  field->selectAll();
}

}  // namespace

bool readDelay(const QString& text, Reporter& reporter, int& value) {
  if (wholeNumber(text, 0, 65535, value)) return true;
  reporter.message(fb::text(Str::InvalidDelayCaption), fb::text(Str::InvalidDelay), Icon::Warning);
  return false;
}

bool readPlayCount(const QString& text, Reporter& reporter, int& value) {
  if (wholeNumber(text, 0, 65536, value)) return true;
  reporter.message(fb::text(Str::InvalidPlayCountCaption), fb::text(Str::InvalidPlayCount),
                   Icon::Warning);
  return false;
}

bool commentFits(const QString& text, Reporter& reporter) {
  if (text.toUtf8().size() <= kMaxComment) return true;
  reporter.message(fb::text(Str::CommentTooLongCaption), fb::text(Str::CommentTooLong),
                   Icon::Warning);
  return false;
}

// ---- Frame properties ----

FramePropertiesDialog::FramePropertiesDialog(const Animation& doc, std::vector<int> frames,
                                             bool allFrames, Reporter& reporter, QWidget* parent)
    : QDialog(parent), frames_(std::move(frames)), all_(allFrames), reporter_(reporter) {
  if (all_) {
    frames_.clear();
    for (int i = 0; i < doc.frameCount(); ++i) frames_.push_back(i);
  }
  setObjectName(all_ ? "allFrameProperties" : "frameProperties");
  setWindowTitle(qtext(all_ ? Str::UndoAllFrames : Str::UndoFrameProperties));
  const QString mixed = qtext(Str::PropsMixed);

  auto delay = common(doc, frames_, [](const Frame& f) { return int(f.delay); });
  delayShown_ = delay ? QString::number(*delay) : QString();
  delay_ = line("delay", delayShown_, this);
  delay_->setPlaceholderText(mixed);

  disposal_ = new QComboBox(this);
  disposal_->setObjectName("disposal");
  for (Str s : {Str::PropUnspecified, Str::PropDisposeNone, Str::PropDisposeBackground,
                Str::PropDisposePrevious})
    disposal_->addItem(qtext(s));
  auto disposal = common(doc, frames_, [](const Frame& f) { return f.disposal(); });
  if (!disposal || *disposal > 3) disposal_->addItem(mixed);
  disposalShown_ = disposal && *disposal <= 3 ? *disposal : 4;
  disposal_->setCurrentIndex(disposalShown_);

  transparent_ = flagBox(Str::PropTransparent, "transparent",
                         common(doc, frames_, [](const Frame& f) { return f.transparent(); }),
                         transparentShown_, this);
  auto index = common(doc, frames_, [](const Frame& f) { return int(f.transparentIndex); });
  indexShown_ = index ? *index : -1;
  transparentIndex_ = spin("transparentIndex", index ? 0 : -1, 255, indexShown_, this);
  transparentIndex_->setSpecialValueText(mixed);
  userInput_ =
      flagBox(Str::PropsUserInput, "userInput",
              common(doc, frames_, [](const Frame& f) { return bool(f.controlFlags & 2); }),
              userInputShown_, this);
  interlaced_ = flagBox(Str::PropInterlace, "interlaced",
                        common(doc, frames_, [](const Frame& f) { return f.interlaced(); }),
                        interlacedShown_, this);

  auto* form = new QFormLayout;
  form->addRow(qtext(Str::PropsDelay), delay_);
  form->addRow(qtext(Str::PropsDisposal), disposal_);
  form->addRow(transparent_);
  form->addRow(qtext(Str::PropsTransparentIndex), transparentIndex_);
  form->addRow(userInput_);
  form->addRow(interlaced_);
  if (!all_ && frames_.size() == 1) {
    if (const Frame* f = doc.frame(frames_[0])) {
      leftShown_ = f->left;
      topShown_ = f->top;
      nameShown_ = f->name ? QString::fromStdString(atomText(f->name)) : QString();
    }
    left_ = spin("left", 0, 65535, leftShown_, this);
    top_ = spin("top", 0, 65535, topShown_, this);
    // A position the field cannot show (a frame centred on a smaller screen)
    // changes only when the user sets one.
    leftShown_ = left_->value();
    topShown_ = top_->value();
    name_ = line("name", nameShown_, this);
    form->addRow(qtext(Str::PropsLeft), left_);
    form->addRow(qtext(Str::PropsTop), top_);
    form->addRow(qtext(Str::PropsName), name_);
  }
  layOut(this, form);
}

bool FramePropertiesDialog::collect(FrameProperties& p) {
  if (delay_->text() != delayShown_) {
    int v = 0;
    if (!readDelay(delay_->text(), reporter_, v)) {
      refused(delay_, kDelayAfterRefusal);
      return false;
    }
    p.delay = v;
  }
  if (disposal_->currentIndex() != disposalShown_ && disposal_->currentIndex() <= 3)
    p.disposal = disposal_->currentIndex();
  p.transparent = flagOf(transparent_, transparentShown_);
  if (transparentIndex_->value() != indexShown_ && transparentIndex_->value() >= 0)
    p.transparentIndex = transparentIndex_->value();
  p.userInput = flagOf(userInput_, userInputShown_);
  p.interlaced = flagOf(interlaced_, interlacedShown_);
  if (left_ && left_->value() != leftShown_) p.left = left_->value();
  if (top_ && top_->value() != topShown_) p.top = top_->value();
  if (name_ && name_->text() != nameShown_) p.name = spath(name_->text());
  return true;
}

void FramePropertiesDialog::accept() {
  FrameProperties p;
  if (!collect(p)) return;
  const bool any = p.delay || p.disposal || p.transparent || p.transparentIndex || p.userInput ||
                   p.interlaced || p.left || p.top || p.name;
  edit_.reset();
  if (any) edit_ = all_ ? allFramePropertiesEdit(p) : framePropertiesEdit(frames_, p);
  QDialog::accept();
}

// ---- Animation properties ----

AnimationPropertiesDialog::AnimationPropertiesDialog(const Animation& doc, Reporter& reporter,
                                                     QWidget* parent)
    : QDialog(parent), doc_(doc), reporter_(reporter) {
  setObjectName("animationProperties");
  setWindowTitle(qtext(Str::UndoAnimationProperties));
  width_ = spin("width", 1, 65535, doc.width, this);
  height_ = spin("height", 1, 65535, doc.height, this);
  widthShown_ = width_->value();  // a screen of no size shows as 1
  heightShown_ = height_->value();
  playCount_ = line("playCount", QString::number(doc.playCount), this);
  background_ = spin("background", 0, 255, doc.backgroundIndex, this);
  auto* form = new QFormLayout;
  form->addRow(qtext(Str::PropsScreenWidth), width_);
  form->addRow(qtext(Str::PropsScreenHeight), height_);
  form->addRow(qtext(Str::PropsPlayCount), playCount_);
  form->addRow(qtext(Str::PropsBackground), background_);
  layOut(this, form);
}

void AnimationPropertiesDialog::accept() {
  AnimationProperties p;
  int count = 0;
  if (!readPlayCount(playCount_->text(), reporter_, count)) {
    refused(playCount_, kPlayCountAfterRefusal);
    return;
  }
  if (count != doc_.playCount) p.playCount = count;
  if (width_->value() != widthShown_) p.width = width_->value();
  if (height_->value() != heightShown_) p.height = height_->value();
  if (background_->value() != doc_.backgroundIndex) p.backgroundIndex = background_->value();
  edit_.reset();
  if (p.width || p.height || p.playCount || p.backgroundIndex) edit_ = animationPropertiesEdit(p);
  QDialog::accept();
}

// ---- Comments ----

CommentsDialog::CommentsDialog(const Animation& doc, Reporter& reporter, QWidget* parent)
    : QDialog(parent), reporter_(reporter), before_(comments(doc)) {
  setObjectName("comments");
  setWindowTitle(qtext(Str::UndoComment));
  for (size_t i = 0; i < before_.size(); ++i)
    items_.push_back({static_cast<int>(i), QString::fromStdString(before_[i])});
  list_ = new QListWidget(this);
  list_->setObjectName("list");
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("text");
  text_->setTabChangesFocus(true);
  auto* add = makeButton(Str::CommentsAdd, "add", this);
  auto* remove = makeButton(Str::CommentsRemove, "remove", this);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  layout->addWidget(new QLabel(qtext(Str::CommentsText), this));
  layout->addWidget(text_);
  layout->addWidget(makeButtons(this));

  connect(list_, &QListWidget::currentRowChanged, this, &CommentsDialog::choose);
  // Only what is typed is kept: the text box's own reading of a comment (bytes
  // that are not UTF-8, its line ends and spaces) is no change of it.
  connect(text_, &QPlainTextEdit::textChanged, this, [this] {
    if (row_ < 0 || row_ >= static_cast<int>(items_.size())) return;
    items_[static_cast<size_t>(row_)].text = text_->toPlainText();
    list_->item(row_)->setText(items_[static_cast<size_t>(row_)].text.section('\n', 0, 0));
  });
  connect(add, &QPushButton::clicked, this, [this] {
    items_.push_back({-1, QString()});
    refreshList();
    showRow(list_->count() - 1);
    text_->setFocus();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (row_ < 0 || row_ >= static_cast<int>(items_.size())) return;
    const int original = items_[static_cast<size_t>(row_)].original;
    if (original >= 0) removed_.push_back(original);
    items_.erase(items_.begin() + row_);
    const int next = std::min(row_, static_cast<int>(items_.size()) - 1);
    refreshList();
    showRow(next);
  });
  refreshList();
  showRow(items_.empty() ? -1 : 0);
}

void CommentsDialog::refreshList() {
  QSignalBlocker block(list_);
  list_->clear();
  for (const Item& item : items_) list_->addItem(item.text.section('\n', 0, 0));
  row_ = -1;
}

bool CommentsDialog::changed(const Item& item) const {
  return item.original < 0 ||
         item.text != QString::fromStdString(before_[static_cast<size_t>(item.original)]);
}

// The row chosen and its text shown, even when the list's current row stays
// (the list was refilled, or emptied).
void CommentsDialog::showRow(int row) {
  {
    QSignalBlocker block(list_);
    list_->setCurrentRow(row);
  }
  choose(row);
}

void CommentsDialog::choose(int row) {
  row_ = -1;  // the text shown next belongs to no item until it is shown
  QSignalBlocker block(text_);
  text_->setPlainText(row >= 0 && row < static_cast<int>(items_.size())
                          ? items_[static_cast<size_t>(row)].text
                          : QString());
  text_->setEnabled(row >= 0);
  row_ = row;
}

void CommentsDialog::accept() {
  // A long comment read from a file is kept as it is; only new texts are held to one block.
  for (size_t i = 0; i < items_.size(); ++i)
    if (changed(items_[i]) && !commentFits(items_[i].text, reporter_)) {
      list_->setCurrentRow(static_cast<int>(i));
      text_->setFocus();
      return;
    }
  // Changed texts first, while every old index still names its comment; then
  // the removals from the last, then the new comments.
  std::vector<Edit> edits;
  for (const Item& item : items_)
    if (item.original >= 0 && changed(item))
      edits.push_back(setCommentEdit(item.original, item.text.toStdString()));
  std::vector<int> removed = removed_;
  std::sort(removed.rbegin(), removed.rend());
  for (int i : removed) edits.push_back(removeCommentEdit(i));
  for (const Item& item : items_)
    if (item.original < 0) edits.push_back(addCommentEdit(item.text.toStdString()));
  edit_.reset();
  if (!edits.empty()) edit_ = sessionEdit(text(Str::UndoComment), std::move(edits));
  QDialog::accept();
}

// ---- Timing ----

TimingDialog::TimingDialog(const Animation& doc, Reporter& reporter, QWidget* parent)
    : QDialog(parent), reporter_(reporter) {
  setObjectName("timing");
  setWindowTitle(qtext(Str::UndoTiming));
  table_ = new QTableWidget(doc.frameCount(), 2, this);
  table_->setObjectName("delays");
  table_->setHorizontalHeaderLabels({qtext(Str::TimingFrame), qtext(Str::PropsDelay)});
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setTabKeyNavigation(false);
  for (int i = 0; i < doc.frameCount(); ++i) {
    const Frame* f = doc.frame(i);
    before_.push_back(f->delay);
    auto* name = new QTableWidgetItem(QString::fromStdString(frameName(*f)));
    name->setFlags(name->flags() & ~Qt::ItemIsEditable);
    table_->setItem(i, 0, name);
    table_->setItem(i, 1, new QTableWidgetItem(QString::number(f->delay)));
  }
  table_->resizeColumnToContents(0);
  table_->setCurrentCell(0, 1);

  all_ = line("allDelays", QString(), this);
  auto* setAll = makeButton(Str::TimingSetAll, "setAll", this);
  connect(setAll, &QPushButton::clicked, this, [this] {
    int v = 0;
    if (!readDelay(all_->text(), reporter_, v)) {
      all_->setFocus();
      return;
    }
    for (int r = 0; r < table_->rowCount(); ++r) table_->item(r, 1)->setText(QString::number(v));
  });
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(qtext(Str::PropsDelay), this));
  row->addWidget(all_);
  row->addWidget(setAll);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(row);
  layout->addWidget(makeButtons(this));
}

void TimingDialog::accept() {
  std::vector<int> delays;
  for (int r = 0; r < table_->rowCount(); ++r) {
    int v = before_[static_cast<size_t>(r)];
    // A delay left as shown stays, even one past what can be typed.
    if (table_->item(r, 1)->text() != QString::number(v) &&
        !readDelay(table_->item(r, 1)->text(), reporter_, v)) {
      table_->setCurrentCell(r, 1);
      table_->setFocus();
      return;
    }
    delays.push_back(v);
  }
  edit_.reset();
  if (delays != before_) edit_ = setFrameDelaysEdit(std::move(delays));
  QDialog::accept();
}

}  // namespace fb::ui
