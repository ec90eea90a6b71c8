#include "editor/dialogs/palette_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "formats/image_files.h"
#include "imaging/palette_merge.h"
#include "io/open_save.h"
#include "io/options.h"

namespace fb::ui {
namespace {

int log2Of(int n) {
  int b = 0;
  while ((1 << (b + 1)) <= n && b < 8) ++b;
  return b;
}

}  // namespace

MergeMethodPanel::MergeMethodPanel(Reporter& reporter, QWidget* parent)
    : QWidget(parent), reporter_(reporter) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  adaptive_ = makeRadio(Str::MergeAdaptive, "1197", this);
  merge_ = makeRadio(Str::MergeIntoGlobal, "1198", this);
  map_ = makeRadio(Str::MergeMapGlobal, "1199", this);
  cube_ = makeRadio(Str::MergeCube, "1200", this);
  fixed_ = makeRadio(Str::MergeFixed, "1201", this);
  local_ = makeRadio(Str::MergeLocal, "1202", this);
  auto* load = makeButton(Str::ButtonLoad, "1290", this);
  auto* edit = makeButton(Str::ButtonEdit, "1291", this);
  adaptiveCount_ = new QComboBox(this);
  adaptiveCount_->setObjectName("1289");
  localCount_ = new QComboBox(this);
  localCount_->setObjectName("1203");
  fillColourCounts(adaptiveCount_);
  fillColourCounts(localCount_);
  dither_ = makeCheck(Str::MergeDither, "1204", this);

  auto* adaptiveRow = new QHBoxLayout;
  adaptiveRow->addWidget(adaptive_);
  adaptiveRow->addStretch();
  adaptiveRow->addWidget(new QLabel(qtext(Str::MergeMaxColours), this));
  adaptiveRow->addWidget(adaptiveCount_);
  auto* fixedRow = new QHBoxLayout;
  fixedRow->addWidget(fixed_);
  fixedRow->addStretch();
  fixedRow->addWidget(load);
  fixedRow->addWidget(edit);
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(new QLabel(qtext(Str::MergeLocalColours), this));
  localRow->addWidget(localCount_);
  layout->addLayout(adaptiveRow);
  layout->addWidget(merge_);
  layout->addWidget(map_);
  layout->addWidget(cube_);
  layout->addLayout(fixedRow);
  layout->addWidget(local_);
  layout->addLayout(localRow);
  layout->addWidget(dither_);

  connect(fixed_, &QRadioButton::toggled, this, &MergeMethodPanel::fixedChosen);
  connect(load, &QPushButton::clicked, this, [this] { loadFixedPaletteFromFile(this, reporter_); });
  connect(edit, &QPushButton::clicked, this, [this] { FixedPaletteDialog(this).exec(); });
}

void MergeMethodPanel::setWord(uint32_t word) {
  QSignalBlocker block(fixed_);
  switch (methodOf(word)) {
    case merge::MergeGlobal:
      merge_->setChecked(true);
      break;
    case merge::MapGlobal:
      map_->setChecked(true);
      break;
    case merge::Cube:
      cube_->setChecked(true);
      break;
    case merge::Fixed:
      fixed_->setChecked(true);
      break;
    case merge::LocalPerFrame:
      local_->setChecked(true);
      break;
    default:
      adaptive_->setChecked(true);
      break;
  }
  dither_->setChecked(word & merge::Dither);
  showColourCount(adaptiveCount_, adaptiveColourCount(word));
  showColourCount(localCount_, localColourCount(word));
}

uint32_t MergeMethodPanel::word() const {
  uint32_t w = merge::Adaptive;
  if (merge_->isChecked()) w = merge::MergeGlobal;
  if (map_->isChecked()) w = merge::MapGlobal;
  if (cube_->isChecked()) w = merge::Cube;
  if (fixed_->isChecked()) w = merge::Fixed;
  if (local_->isChecked()) w = merge::LocalPerFrame;
  if (dither_->isChecked()) w |= merge::Dither;
  w |= static_cast<uint32_t>(log2Of(colourCountOf(adaptiveCount_))) << 16;
  w |= static_cast<uint32_t>(log2Of(colourCountOf(localCount_))) << 20;
  return w;
}

void MergeMethodPanel::fixedChosen(bool on) {
  // The fixed method needs a palette: without one, load it now; failing
  // that, the recommended method stands.
  if (!on || loadFixedPalette()) return;
  if (!loadFixedPaletteFromFile(this, reporter_)) adaptive_->setChecked(true);
}

bool loadFixedPaletteFromFile(QWidget* parent, Reporter& reporter) {
  const QString path =
      chooseFile(parent, qtext(Str::FixedPaletteLoadTitle), qtext(Str::FixedPaletteFilter));
  if (path.isEmpty()) return false;
  ScopedReporter scope(reporter);
  std::unique_ptr<Palette> palette;
  const std::string p = spath(path);
  if (path.endsWith(QLatin1String(".pal"), Qt::CaseInsensitive)) {
    if (!ReadPaletteFile(p, palette)) return false;
  } else {
    // A picture: its global palette, else its first frame's.
    std::unique_ptr<Animation> a;
    if (openFile(p, a, nullptr) == 0 || !a) return false;
    const Palette* source = a->globalPalette  ? a->globalPalette.get()
                            : a->frameCount() ? a->frame(0)->palette()
                                              : nullptr;
    if (!source) {
      showWarning(text(Str::CannotReadType));
      return false;
    }
    palette = copyPalette(*source);
  }
  return palette && storeFixedPalette(*palette);
}

FixedPaletteDialog::FixedPaletteDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("fixedPalette");
  setWindowTitle(qtext(Str::FixedPaletteEditTitle));
  if (auto stored = loadFixedPalette())
    palette_ = *stored;
  else
    palette_ = *cubePalette();
  count_ = new QSpinBox(this);
  count_->setObjectName("count");
  count_->setRange(1, 256);
  count_->setValue(palette_.count);
  grid_ = new SwatchGrid(this);
  grid_->onClick = [this](int i) {
    const Rgb c = palette_[i];
    QColor chosen(c.r, c.g, c.b);
    if (!chooseColour(this, chosen)) return;
    palette_[i] = Rgb{static_cast<uint8_t>(chosen.red()), static_cast<uint8_t>(chosen.green()),
                      static_cast<uint8_t>(chosen.blue())};
    refresh();
  };
  connect(count_, &QSpinBox::valueChanged, this, [this](int n) {
    palette_.count = n;
    refresh();
  });
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(qtext(Str::ReduceColours), count_);
  layout->addLayout(form);
  layout->addWidget(grid_);
  layout->addWidget(makeButtons(this));
  refresh();
}

void FixedPaletteDialog::refresh() {
  grid_->setColours(palette_.entries.data(), palette_.count);
}

void FixedPaletteDialog::accept() {
  storeFixedPalette(palette_);
  QDialog::accept();
}

}  // namespace fb::ui
