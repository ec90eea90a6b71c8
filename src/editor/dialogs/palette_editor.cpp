#include "editor/dialogs/palette_editor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <numeric>

#include "editor/choosers.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "formats/image_files.h"
#include "imaging/edits.h"

namespace fb::ui {

PaletteEditorDialog::PaletteEditorDialog(const Animation& document, PaletteTarget target,
                                         Reporter& reporter, QWidget* parent)
    : SessionDialog(text(target.frame < 0 ? Str::UndoGlobalPalette : Str::UndoLocalPalette),
                    reporter, parent),
      target_(target) {
  setObjectName("paletteEditor");
  setWindowTitle(qtext(target.frame < 0 ? Str::UndoGlobalPalette : Str::UndoLocalPalette));
  {
    ScopedReporter scope(reporter_);
    if (!targetPalette(document, target) || !copyDocument(document)) return;
  }
  grid_ = new SwatchGrid(this);
  grid_->setObjectName("entries");
  grid_->onClick = [this](int i) { setEntry(i); };
  entry_ = new QSpinBox(this);
  entry_->setObjectName("entry");
  info_ = makeField("entryColour", this);
  auto* colour = makeButton(Str::PaletteEditColour, "editColour", this);
  auto* earlier = makeButton(Str::PaletteEarlier, "earlier", this);
  auto* later = makeButton(Str::PaletteLater, "later", this);
  auto* merge = makeButton(Str::PaletteMerge, "mergeDuplicates", this);
  auto* load = makeButton(Str::ButtonLoad, "load", this);
  auto* save = makeButton(Str::PaletteSave, "save", this);

  auto* entryRow = new QHBoxLayout;
  entryRow->addWidget(new QLabel(qtext(Str::PaletteEntry), this));
  entryRow->addWidget(entry_);
  entryRow->addWidget(info_, 1);
  auto* buttons = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{colour, earlier, later, merge, load, save})
    buttons->addWidget(w);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_);
  layout->addLayout(entryRow);
  layout->addLayout(buttons);
  layout->addWidget(makeButtons(this));

  connect(entry_, &QSpinBox::valueChanged, this, [this] { refresh(); });
  connect(colour, &QPushButton::clicked, this, &PaletteEditorDialog::chooseColour);
  connect(earlier, &QPushButton::clicked, this, [this] { moveEntry(-1); });
  connect(later, &QPushButton::clicked, this, [this] { moveEntry(1); });
  connect(merge, &QPushButton::clicked, this, &PaletteEditorDialog::mergeDuplicates);
  connect(load, &QPushButton::clicked, this, &PaletteEditorDialog::loadFile);
  connect(save, &QPushButton::clicked, this, &PaletteEditorDialog::saveFile);
  refresh();
}

const Palette& PaletteEditorDialog::palette() const {
  return *targetPalette(*copy_, target_);
}

int PaletteEditorDialog::entry() const {
  return entry_->value();
}

void PaletteEditorDialog::setEntry(int entry) {
  entry_->setValue(entry);
}

void PaletteEditorDialog::refresh() {
  const Palette& p = palette();
  entry_->setRange(0, std::max(0, p.count - 1));
  showPalette(grid_, &p, entry());
  const Rgb c = p[entry()];
  info_->setText(qformat(Str::PaletteEntryColour, c.r, c.g, c.b, p.count));
}

void PaletteEditorDialog::chooseColour() {
  const Rgb c = palette()[entry()];
  QColor chosen(c.r, c.g, c.b);
  if (!ui::chooseColour(this, chosen)) return;
  const Rgb now{static_cast<uint8_t>(chosen.red()), static_cast<uint8_t>(chosen.green()),
                static_cast<uint8_t>(chosen.blue())};
  if (now != c) run(setPaletteEntriesEdit(target_, entry(), {now}));
}

void PaletteEditorDialog::moveEntry(int by) {
  const int from = entry(), to = from + by;
  if (to < 0 || to >= palette().count) return;
  std::vector<int> order(static_cast<size_t>(palette().count));
  std::iota(order.begin(), order.end(), 0);
  std::swap(order[static_cast<size_t>(from)], order[static_cast<size_t>(to)]);
  if (run(reorderPaletteEdit(target_, std::move(order)))) setEntry(to);
}

void PaletteEditorDialog::mergeDuplicates() {
  const int before = palette().count;
  // Nothing merged is no change to keep.
  if (run(mergeDuplicateColoursEdit(target_)) && palette().count == before) forgetLast();
}

void PaletteEditorDialog::loadFile() {
  const QString path = chooseFile(this, qtext(Str::PaletteLoadTitle), qtext(Str::PaletteFilter));
  if (path.isEmpty()) return;
  // Read once: the step keeps the colours, not the file that may change later.
  std::unique_ptr<Palette> loaded;
  {
    ScopedReporter scope(reporter_);
    if (!ReadPaletteFile(spath(path), loaded) || !loaded) return;
  }
  run(replacePaletteColoursEdit(
      target_, std::vector<Rgb>(loaded->entries.begin(), loaded->entries.begin() + loaded->count)));
}

void PaletteEditorDialog::saveFile() {
  const QString path = fileChooser().saveFile(this, qtext(Str::PaletteSaveTitle), QString(),
                                              qtext(Str::PaletteFilter).split(";;"));
  if (path.isEmpty()) return;
  ScopedReporter scope(reporter_);
  SavePaletteFileFrom(*copy_, target_, spath(path));
}

}  // namespace fb::ui
