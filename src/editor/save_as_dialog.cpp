#include "editor/save_as_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "editor/choosers.h"
#include "editor/ui_text.h"
#include "io/open_save.h"

namespace fb {
namespace {

enum What { kWhole = 0, kFirst = 1, kNumbered = 2, kFilmstrip = 3 };

QString withExtension(const QString& path, const QString& ext) {
  QFileInfo info(path);
  QString base = info.completeBaseName();
  if (info.suffix().isEmpty()) base = info.fileName();
  QString dir = path.left(path.size() - info.fileName().size());
  return dir + base + "." + ext;
}

}  // namespace

SaveAsPanel::SaveAsPanel(QWidget* parent, const QString& path, int typeIndex, uint32_t options)
    : QDialog(parent) {
  setObjectName("saveAsPanel");
  setWindowTitle(qtext(Str::EditorSaveAsTitle));
  auto* form = new QFormLayout;
  auto* nameRow = new QHBoxLayout;
  name_ = new QLineEdit(path);
  name_->setObjectName("saveName");
  name_->setAccessibleName(plainText(Str::SaveFileName));
  auto* browse = new QPushButton(qtext(Str::SaveBrowse));
  browse->setObjectName("saveBrowse");
  nameRow->addWidget(name_, 1);
  nameRow->addWidget(browse);
  form->addRow(qtext(Str::SaveFileName), nameRow);
  type_ = new QComboBox;
  type_->setObjectName("saveType");
  type_->setAccessibleName(plainText(Str::SaveType));
  for (int i = 1; i < kTypeCount; ++i) type_->addItem(QString::fromUtf8(fileType(i).filterText), i);
  type_->setCurrentIndex(std::max(0, typeIndex - 1));
  form->addRow(qtext(Str::SaveType), type_);

  auto* box = new QGroupBox(qtext(Str::SaveOptions));
  auto* v = new QVBoxLayout(box);
  what_ = new QButtonGroup(this);
  const std::pair<Str, What> choices[] = {{Str::SaveWhole, kWhole},
                                          {Str::SaveFirstFrame, kFirst},
                                          {Str::SaveNumbered, kNumbered},
                                          {Str::SaveFilmstrip, kFilmstrip}};
  for (auto [s, id] : choices) {
    auto* r = new QRadioButton(qtext(s));
    r->setObjectName(QString("saveWhat%1").arg(id));
    what_->addButton(r, id);
    v->addWidget(r);
  }
  auto* strip = new QHBoxLayout;
  vertical_ = new QCheckBox(qtext(Str::SaveVertical));
  vertical_->setObjectName("saveVertical");
  perRow_ = new QSpinBox;
  perRow_->setObjectName("savePerRow");
  perRow_->setAccessibleName(plainText(Str::SavePerRow));
  perRow_->setRange(0, 9999);
  strip->addWidget(vertical_);
  strip->addWidget(new QLabel(qtext(Str::SavePerRow)));
  strip->addWidget(perRow_);
  v->addLayout(strip);
  trueColour_ = new QCheckBox(qtext(Str::SaveTrueColour));
  trueColour_->setObjectName("saveTrueColour");
  v->addWidget(trueColour_);

  int what = (options & saveopt::Filmstrip)   ? kFilmstrip
             : (options & saveopt::Numbered)  ? kNumbered
             : (options & saveopt::WholeAnimation) || options == 0 ? kWhole
                                                                   : kFirst;
  what_->button(what)->setChecked(true);
  vertical_->setChecked(options & saveopt::FilmstripVertical);
  perRow_->setValue(saveopt::framesPerRow(options));
  trueColour_->setChecked(options & saveopt::TrueColour);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(box);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, &SaveAsPanel::browse);
  connect(type_, &QComboBox::currentIndexChanged, this, &SaveAsPanel::typeChosen);
}

void SaveAsPanel::typeChosen() {
  QString ext = QString::fromUtf8(fileType(typeIndex()).extension);
  if (!name_->text().isEmpty()) name_->setText(withExtension(name_->text(), ext));
}

void SaveAsPanel::browse() {
  QString pattern = QString::fromUtf8(fileType(typeIndex()).pattern).replace(',', ' ').replace(';', ' ');
  QString filter = type_->currentText() + " (" + pattern + ")";
  QString chosen = fileChooser().saveFile(this, windowTitle(), name_->text(), {filter});
  if (!chosen.isEmpty()) name_->setText(chosen);
}

QString SaveAsPanel::path() const { return name_->text().trimmed(); }
int SaveAsPanel::typeIndex() const { return type_->currentData().toInt(); }

uint32_t SaveAsPanel::options() const {
  uint32_t o = 0;
  switch (what_->checkedId()) {
    case kWhole: o = saveopt::WholeAnimation; break;
    case kFirst: o = 0; break;
    case kNumbered: o = saveopt::Numbered; break;
    case kFilmstrip:
      o = saveopt::Filmstrip | static_cast<uint32_t>(perRow_->value()) << 16;
      if (vertical_->isChecked()) o |= saveopt::FilmstripVertical;
      break;
  }
  if (trueColour_->isChecked()) o |= saveopt::TrueColour;
  return o;
}

bool SaveAsPanelDialog::choose(const std::string& folder, const std::string& name, int& typeIndex,
                               uint32_t& options, std::string& chosenPath) {
  QString start = QString::fromStdString(folder.empty() ? name : folder + "/" + name);
  SaveAsPanel panel(QApplication::activeWindow(), start, typeIndex, options);
  if (panel.exec() != QDialog::Accepted || panel.path().isEmpty()) return false;
  typeIndex = panel.typeIndex();
  options = panel.options();
  chosenPath = panel.path().toStdString();
  return true;
}

}  // namespace fb
