#include "editor/dialogs/reduce_colours_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QVBoxLayout>

#include "base/number_format.h"
#include "base/prefs.h"
#include "editor/choosers.h"
#include "editor/dialogs/widgets.h"
#include "editor/ui_text.h"
#include "imaging/edits.h"
#include "imaging/reduce.h"
#include "io/options.h"

namespace fb::ui {
namespace {

constexpr int kViewSize = 220;
constexpr uint32_t kDitherBit = 1u << 16;

// Half the largest palette, to the nearest power of two.
int initialCount(int largest) {
  const double half = largest / 2.0;
  int n = 2;
  while (n < 256 && (n * 2 - half) <= (half - n)) n *= 2;
  return n;
}

}  // namespace

struct ReduceColoursDialog::Preview {
  int colours = 0;
  bool dither = false;
  bool quality = false;
  std::vector<Rgb> locked;
  int picture = 0;
  std::unique_ptr<Animation> reduced;
  int64_t size = -1;
  Rgba rendered;
};

ReduceColoursDialog::ReduceColoursDialog(Animation& document, Reporter& reporter, QWidget* parent)
    : TrialDialog(parent),
      doc_(document),
      reporter_(reporter),
      gif_(gifWriteOptionsFromPreferences()) {
  setObjectName("175");
  setWindowTitle(qtext(Str::ReduceTitle));
  const int largest = largestPaletteSize(doc_);
  reducible_ = largest > 2;

  count_ = new QComboBox(this);
  count_->setObjectName("1076");
  count_->setEditable(true);
  fillColourCounts(count_);
  showColourCount(count_, initialCount(largest));
  dither_ = makeCheck(Str::ReduceDither, "1077", this);
  dither_->setChecked(prefGet(pref::Preview) & kDitherBit);
  quality_ = makeCheck(Str::ReduceQuality, "highQuality", this);
  auto* lockedButton = makeButton(Str::ReduceLocked, "1270", this);

  before_ = new PictureView(kViewSize, this);
  before_->setObjectName("before");
  after_ = new PictureView(kViewSize, this);
  after_->setObjectName("after");
  beforeSize_ = makeField("beforeSize", this);
  afterSize_ = makeField("afterSize", this);
  beforeColours_ = makeField("beforeColours", this);
  afterColours_ = makeField("afterColours", this);
  saving_ = makeField("saving", this);
  auto* previous = new QPushButton(QStringLiteral("<"), this);
  previous->setObjectName("previousFrame");
  auto* next = new QPushButton(QStringLiteral(">"), this);
  next->setObjectName("nextFrame");
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName("frameSlider");
  slider_->setRange(0, std::max(0, doc_.frameCount() - 1));
  frameNumber_ = makeField("frameNumber", this);

  auto* choices = new QHBoxLayout;
  choices->addWidget(new QLabel(qtext(Str::ReduceColours), this));
  choices->addWidget(count_);
  choices->addWidget(dither_);
  choices->addWidget(quality_);
  choices->addStretch();
  choices->addWidget(lockedButton);
  auto* views = new QGridLayout;
  views->addWidget(new QLabel(qtext(Str::ReduceBefore), this), 0, 0);
  views->addWidget(new QLabel(qtext(Str::ReduceAfter), this), 0, 1);
  views->addWidget(before_, 1, 0);
  views->addWidget(after_, 1, 1);
  views->addWidget(beforeColours_, 2, 0);
  views->addWidget(afterColours_, 2, 1);
  views->addWidget(beforeSize_, 3, 0);
  views->addWidget(afterSize_, 3, 1);
  views->addWidget(saving_, 4, 1);
  auto* frames = new QHBoxLayout;
  frames->addWidget(previous);
  frames->addWidget(slider_, 1);
  frames->addWidget(next);
  frames->addWidget(frameNumber_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(choices);
  layout->addLayout(views);
  layout->addLayout(frames);
  layout->addWidget(progressText());
  layout->addWidget(progressBar());
  layout->addWidget(makeButtons(this));

  connect(count_, &QComboBox::currentTextChanged, this, [this] { recompute(); });
  connect(dither_, &QCheckBox::toggled, this, [this] { recompute(); });
  connect(quality_, &QCheckBox::toggled, this, [this] { recompute(); });
  connect(lockedButton, &QPushButton::clicked, this, &ReduceColoursDialog::chooseLocked);
  connect(slider_, &QSlider::valueChanged, this, &ReduceColoursDialog::showPicture);
  connect(previous, &QPushButton::clicked, this, [this] { slider_->setValue(shown_ - 1); });
  connect(next, &QPushButton::clicked, this, [this] { slider_->setValue(shown_ + 1); });
}

ReduceColoursDialog::~ReduceColoursDialog() {
  worker().cancelAndWait();
}

int ReduceColoursDialog::exec() {
  if (!reducible_) {
    reporter_.message(text(Str::NonReducibleCaption), text(Str::NonReducible), Icon::Warning);
    return QDialog::Rejected;
  }
  return runModal(*this);
}

int ReduceColoursDialog::colours() const {
  const int typed = colourCountOf(count_);
  return typed > 0 ? clampColourCount(typed) : 0;
}

bool ReduceColoursDialog::dither() const {
  return dither_->isChecked();
}

bool ReduceColoursDialog::quality() const {
  return quality_->isChecked();
}

void ReduceColoursDialog::setLockedColours(std::vector<Rgb> colours) {
  locked_ = std::move(colours);
  recompute();
}

Edit ReduceColoursDialog::edit() const {
  return reduceColoursEdit(colours(), dither(), locked_, quality());
}

void ReduceColoursDialog::begin() {
  documentSize_ = settleForWorker(doc_, gif_);
  beforeSize_->setText(qformat(Str::FileSizeBytes, formatThousands(documentSize_).c_str()));
  beforeColours_->setText(qformat(Str::ColourCount, largestPaletteSize(doc_)));
  beforeCache_ = std::make_unique<PictureCache>(doc_);
  showPicture(shown_);
  recompute();
}

void ReduceColoursDialog::showPicture(int n) {
  const int count = doc_.frameCount();
  if (count == 0) return;
  n = std::clamp(n, 0, count - 1);
  shown_ = n;
  if (slider_->value() != n) slider_->setValue(n);
  frameNumber_->setText(QStringLiteral("%1 / %2").arg(n + 1).arg(count));
  if (!beforeCache_) return;
  Rgba picture;
  if (beforeCache_->picture(n, picture)) before_->show(picture);
  if (reducedCache_ && !worker().busy() && reducedCache_->picture(n, picture))
    after_->show(picture);
}

void ReduceColoursDialog::recompute() {
  if (!begun()) return;
  const int n = colours();
  if (n == 0) return;  // not a number yet
  worker().cancelAndWait();
  reducedCache_.reset();
  reduced_.reset();
  after_->clear();
  afterSize_->clear();
  afterColours_->clear();
  saving_->clear();
  ++started_;
  auto p = std::make_shared<Preview>();
  p->colours = n;
  p->dither = dither();
  p->quality = quality();
  p->locked = locked_;
  p->picture = shown_;
  Animation* doc = &doc_;
  const GifWriteOptions gif = gif_;
  worker().start(
      [p, doc, gif](Progress& progress) {
        progress.setText(text(Str::DuplicatingAnimation));
        auto copy = duplicateAnimation(*doc, &progress);
        if (progress.cancelled()) return;
        if (!copy) {
          showWarning(text(Str::NoMemoryReduce));
          return;
        }
        if (reducePalettes(*copy, p->colours, p->dither, p->locked, &progress, p->quality) != 1)
          return;
        progress.setText(text(Str::ComputingSize));
        p->size = encodedSize(*copy, true, &progress, gif);
        if (progress.cancelled()) return;
        PictureCache cache(*copy);
        cache.picture(p->picture, p->rendered);
        p->reduced = std::move(copy);
      },
      [this, p] { previewDone(p); }, reporter_, text(Str::NoMemoryReduce));
}

void ReduceColoursDialog::previewDone(const std::shared_ptr<Preview>& p) {
  clearProgress();
  if (!p->reduced) return;
  reduced_ = std::move(p->reduced);
  reducedCache_ = std::make_unique<PictureCache>(*reduced_);
  afterColours_->setText(qformat(Str::ColourCount, largestPaletteSize(*reduced_)));
  afterSize_->setText(qformat(Str::FileSizeBytes, formatThousands(p->size).c_str()));
  const int64_t saved = documentSize_ - p->size;
  if (documentSize_ > 0 && saved > 0)
    saving_->setText(qformat(Str::SavingBytes, formatThousands(saved).c_str(),
                             static_cast<double>(saved) * 100.0 / documentSize_));
  else
    saving_->setText(qtext(Str::SavingNone));
  if (p->picture == shown_)
    after_->show(p->rendered);
  else
    showPicture(shown_);
}

void ReduceColoursDialog::finishPreview() {
  worker().finish();
}

void ReduceColoursDialog::chooseLocked() {
  LockedColoursDialog dlg(doc_, locked_, shown_, this);
  if (runModal(dlg) == QDialog::Accepted) setLockedColours(dlg.colours());
}

void ReduceColoursDialog::accept() {
  worker().cancelAndWait();
  prefSet(pref::Preview, (dither() ? kDitherBit : 0) | static_cast<uint32_t>(colours()));
  QDialog::accept();
}

void ReduceColoursDialog::reject() {
  worker().cancelAndWait();
  QDialog::reject();
}

LockedColoursDialog::LockedColoursDialog(Animation& document, std::vector<Rgb> locked, int picture,
                                         QWidget* parent)
    : QDialog(parent), locked_(std::move(locked)) {
  setObjectName("273");
  setWindowTitle(qtext(Str::LockedTitle));
  palette_ = document.globalPalette  ? document.globalPalette.get()
             : document.frameCount() ? document.frame(0)->palette()
                                     : nullptr;
  auto* hint = new QLabel(qtext(Str::LockedHint), this);
  hint->setWordWrap(true);
  grid_ = new SwatchGrid(this);
  grid_->onClick = [this](int i) {
    if (palette_ && i < palette_->count) toggle((*palette_)[i]);
  };
  picture_ = new PictureView(kViewSize, this);
  picture_->setObjectName("picture");
  Rgba shown;
  PictureCache cache(document);
  if (cache.picture(picture, shown)) picture_->show(shown);
  picture_->onClick = [this](int x, int y) {
    const QColor c = picture_->image().pixelColor(x, y);
    if (c.alpha() == 0) return;  // transparent: no colour to keep
    toggle(Rgb{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
               static_cast<uint8_t>(c.blue())});
  };
  list_ = makeField("locked", this);
  list_->setWordWrap(true);
  auto* clear = makeButton(Str::LockedClear, "clear", this);
  connect(clear, &QPushButton::clicked, this, [this] {
    locked_.clear();
    refresh();
  });
  auto* row = new QHBoxLayout;
  row->addWidget(grid_);
  row->addWidget(picture_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(hint);
  layout->addLayout(row);
  layout->addWidget(list_);
  layout->addWidget(clear);
  layout->addWidget(makeButtons(this));
  refresh();
}

void LockedColoursDialog::toggle(Rgb colour) {
  auto it = std::find(locked_.begin(), locked_.end(), colour);
  if (it != locked_.end())
    locked_.erase(it);
  else
    locked_.push_back(colour);
  refresh();
}

void LockedColoursDialog::refresh() {
  std::vector<bool> marked;
  if (palette_)
    for (int i = 0; i < palette_->count; ++i)
      marked.push_back(std::find(locked_.begin(), locked_.end(), (*palette_)[i]) != locked_.end());
  grid_->setColours(palette_ ? palette_->entries.data() : nullptr, palette_ ? palette_->count : 0,
                    marked);
  QStringList names;
  for (const Rgb& c : locked_) names << QColor(c.r, c.g, c.b).name();
  list_->setText(names.join(QStringLiteral(" ")));
}

}  // namespace fb::ui
