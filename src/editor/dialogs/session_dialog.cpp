#include "editor/dialogs/session_dialog.h"

#include "editor/dialogs/widgets.h"
#include "imaging/edits.h"
#include "resources/strings.h"

namespace fb::ui {

SessionDialog::SessionDialog(std::string name, Reporter& reporter, QWidget* parent)
    : QDialog(parent), reporter_(reporter), name_(std::move(name)) {}

SessionDialog::~SessionDialog() = default;

bool SessionDialog::copyDocument(const Animation& document) {
  copy_ = duplicateAnimation(document, nullptr);
  if (!copy_) showWarning(text(Str::EditNoMemory));
  return copy_ != nullptr;
}

bool SessionDialog::run(Edit edit) {
  ScopedReporter scope(reporter_);
  if (edit.apply(*copy_, nullptr) != 1) return false;
  edits_.push_back(std::move(edit));
  refresh();
  return true;
}

void SessionDialog::accept() {
  edit_.reset();
  if (!edits_.empty()) edit_ = sessionEdit(name_, edits_);
  QDialog::accept();
}

void showPalette(SwatchGrid* grid, const Palette* palette, int chosen) {
  const int count = palette ? palette->count : 0;
  std::vector<bool> marked(static_cast<size_t>(count));
  if (chosen >= 0 && chosen < count) marked[static_cast<size_t>(chosen)] = true;
  grid->setColours(palette ? palette->entries.data() : nullptr, count, marked);
}

}  // namespace fb::ui
