#include "dialogs/save_as_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "dialogs/qt_text.h"
#include "dialogs/widgets.h"
#include "io/open_save.h"

namespace fb::ui {
namespace {

// "GIF animation/image(s) (.gif)" with "*.gif" becomes a Qt name filter.
QString nameFilter(const FileType& t) {
  QString pattern = QString::fromLatin1(t.pattern);
  pattern.replace(QLatin1Char(';'), QLatin1Char(' ')).replace(QLatin1Char(','), QLatin1Char(' '));
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(t.filterText), pattern);
}

bool picturesType(int type) {
  return type == kTypeBmp || type == kTypeJpeg || type == kTypePng;
}

}  // namespace

SaveAsFileDialog::SaveAsFileDialog(Animation& document, EditRunner runEdit,
                                   AviCodecChooser* chooser, Reporter& reporter, QWidget* parent)
    : QFileDialog(parent),
      doc_(document),
      runEdit_(std::move(runEdit)),
      chooser_(chooser),
      reporter_(reporter) {
  setObjectName("saveAs");
  setWindowTitle(qtext(Str::SaveAsTitle));
  setOption(QFileDialog::DontUseNativeDialog);  // the options panel lives inside it
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  for (int i = 1; i < kTypeCount; ++i) filters_ << nameFilter(fileType(i));
  setNameFilters(filters_);

  panels_ = new QStackedWidget(this);
  panels_->setObjectName("savePanels");
  none_ = new QWidget(panels_);
  gifPanel_ = new QWidget(panels_);
  whole_ = makeRadio(Str::SaveWholeAnimation, "wholeAnimation", gifPanel_);
  oneByOne_ = makeRadio(Str::SaveFramesOneByOne, "framesOneByOne", gifPanel_);
  auto* gl = new QVBoxLayout(gifPanel_);
  gl->addWidget(whole_);
  gl->addWidget(oneByOne_);
  picturePanel_ = new QWidget(panels_);
  single_ = makeRadio(Str::SaveSingleImage, "singleImage", picturePanel_);
  filmstrip_ = makeRadio(Str::SaveFilmstrip, "filmstrip", picturePanel_);
  numbered_ = makeRadio(Str::SaveNumbered, "numbered", picturePanel_);
  perRow_ = new QSpinBox(picturePanel_);
  perRow_->setObjectName("framesPerRow");
  perRow_->setRange(0, 0xFFFF);
  vertical_ = makeCheck(Str::SaveVertical, "vertical", picturePanel_);
  trueColour_ = makeCheck(Str::SaveTrueColour, "trueColour", picturePanel_);
  auto* pl = new QVBoxLayout(picturePanel_);
  for (QWidget* w : {static_cast<QWidget*>(single_), static_cast<QWidget*>(filmstrip_)})
    pl->addWidget(w);
  auto* row = new QFormLayout;
  row->addRow(qtext(Str::SaveFramesPerRow), perRow_);
  pl->addLayout(row);
  pl->addWidget(vertical_);
  pl->addWidget(numbered_);
  pl->addWidget(trueColour_);
  for (QWidget* w : {none_, gifPanel_, picturePanel_}) panels_->addWidget(w);
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(panels_, grid->rowCount(), 0, 1, grid->columnCount());

  connect(this, &QFileDialog::filterSelected, this,
          [this](const QString& f) { typeChosen(static_cast<int>(filters_.indexOf(f)) + 1); });
}

void SaveAsFileDialog::setup(const QString& folder, const QString& name, int typeIndex,
                             uint32_t options) {
  if (!folder.isEmpty()) setDirectory(folder);
  selectFile(name);
  whole_->setChecked((options & saveopt::WholeAnimation) || !(options & saveopt::FramesOneByOne));
  oneByOne_->setChecked(!whole_->isChecked());
  filmstrip_->setChecked(options & saveopt::Filmstrip);
  numbered_->setChecked(!filmstrip_->isChecked() && (options & saveopt::Numbered));
  single_->setChecked(!filmstrip_->isChecked() && !numbered_->isChecked());
  perRow_->setValue(saveopt::framesPerRow(options));
  vertical_->setChecked(options & saveopt::FilmstripVertical);
  trueColour_->setChecked(options & saveopt::TrueColour);
  selectType(typeIndex >= 1 && typeIndex < kTypeCount ? typeIndex : kTypeGif);
}

void SaveAsFileDialog::selectType(int type) {
  if (type < 1 || type >= kTypeCount) return;
  selectNameFilter(filters_[type - 1]);
  typeChosen(type);
}

void SaveAsFileDialog::typeChosen(int type) {
  if (type < 1 || type >= kTypeCount) return;
  type_ = type;
  setDefaultSuffix(QString::fromLatin1(fileType(type).extension));
  // The typed name takes the type's extension.
  const QStringList chosen = selectedFiles();
  if (!chosen.isEmpty()) {
    QFileInfo f(chosen.first());
    if (!f.fileName().isEmpty() && !f.isDir())
      selectFile(f.completeBaseName() + "." + fileType(type).extension);
  }
  if (type == kTypeAvi) {
    if (!aviPanel_) {
      aviPanel_ = new AviExportPanel(doc_, runEdit_, chooser_, reporter_, Str::AviCustom, panels_);
      aviPanel_->onReadyChanged = [this](bool) { updateSaveButton(); };
      panels_->addWidget(aviPanel_);
    }
    panels_->setCurrentWidget(aviPanel_);
  } else if (type == kTypeGif) {
    panels_->setCurrentWidget(gifPanel_);
  } else if (picturesType(type)) {
    trueColour_->setVisible(type != kTypeBmp);
    panels_->setCurrentWidget(picturePanel_);
  } else {
    panels_->setCurrentWidget(none_);
  }
  updateSaveButton();
}

void SaveAsFileDialog::updateSaveButton() {
  if (auto* box = findChild<QDialogButtonBox*>())
    if (QPushButton* save = box->button(QDialogButtonBox::Save))
      if (type_ == kTypeAvi && aviPanel_ && !aviPanel_->ready()) save->setEnabled(false);
}

int SaveAsFileDialog::typeIndex() const {
  return type_;
}

uint32_t SaveAsFileDialog::options() const {
  uint32_t o = 0;
  if (type_ == kTypeGif) o |= whole_->isChecked() ? saveopt::WholeAnimation : 0;
  if (picturesType(type_)) {
    if (filmstrip_->isChecked()) o |= saveopt::Filmstrip;
    if (numbered_->isChecked()) o |= saveopt::Numbered;
    if (vertical_->isChecked()) o |= saveopt::FilmstripVertical;
    if (trueColour_->isChecked() && type_ != kTypeBmp) o |= saveopt::TrueColour;
    o |= static_cast<uint32_t>(perRow_->value()) << 16;
  }
  return o;
}

void SaveAsFileDialog::accept() {
  avi_.reset();
  if (type_ == kTypeAvi) {
    AviSaveOptions chosen;
    if (!aviPanel_ || !aviPanel_->confirm(chosen)) return;
    avi_ = chosen;
  }
  QFileDialog::accept();
}

QtSaveAsDialog::QtSaveAsDialog(Animation& document, EditRunner runEdit, AviCodecChooser* chooser,
                               Reporter& reporter, QWidget* parent)
    : doc_(document),
      runEdit_(std::move(runEdit)),
      chooser_(chooser),
      reporter_(reporter),
      parent_(parent) {}

std::unique_ptr<SaveAsFileDialog> QtSaveAsDialog::make(const std::string& folder,
                                                       const std::string& name, int typeIndex,
                                                       uint32_t options) {
  auto dialog = std::make_unique<SaveAsFileDialog>(doc_, runEdit_, chooser_, reporter_, parent_);
  dialog->setup(qstr(folder), qstr(name), typeIndex, options);
  return dialog;
}

bool QtSaveAsDialog::finish(SaveAsFileDialog& dialog, int& typeIndex, uint32_t& options,
                            std::string& chosenPath) {
  avi_.reset();
  if (dialog.result() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosenPath = stdstr(dialog.selectedFiles().first());
  typeIndex = dialog.typeIndex();
  options = dialog.options();
  avi_ = dialog.aviChoice();
  return true;
}

bool QtSaveAsDialog::choose(const std::string& folder, const std::string& name, int& typeIndex,
                            uint32_t& options, std::string& chosenPath) {
  auto dialog = make(folder, name, typeIndex, options);
  dialog->exec();
  return finish(*dialog, typeIndex, options, chosenPath);
}

}  // namespace fb::ui
