// A dialog whose changes are made at once on a private copy of the document,
// so that it shows exactly what they do; each is kept as an edit, and OK
// hands them all over as one undo step (none when nothing changed).
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/reporter.h"
#include "document/edit.h"

namespace fb::ui {

class SwatchGrid;

class SessionDialog : public QDialog {
 public:
  ~SessionDialog() override;
  // False when the dialog cannot work (said): it is not to be opened then.
  bool ready() const { return copy_ != nullptr; }
  void accept() override;
  const std::optional<Edit>& edit() const { return edit_; }

 protected:
  // `name`: the undo step's.
  SessionDialog(std::string name, Reporter& reporter, QWidget* parent);
  // The copy to work on; false (said) when memory runs out.
  bool copyDocument(const Animation& document);
  // Makes `edit` on the copy and keeps it; false (said, nothing changed) when refused.
  bool run(Edit edit);
  // The edit kept last changed nothing worth a step.
  void forgetLast() { edits_.pop_back(); }
  // The copy changed: show it.
  virtual void refresh() = 0;

  Reporter& reporter_;
  std::unique_ptr<Animation> copy_;

 private:
  std::string name_;
  std::vector<Edit> edits_;
  std::optional<Edit> edit_;
};

// The palette's colours in `grid`, entry `chosen` framed.
void showPalette(SwatchGrid* grid, const Palette* palette, int chosen);

}  // namespace fb::ui
