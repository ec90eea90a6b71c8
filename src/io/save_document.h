// The Save and Save As commands over the open document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/animation.h"
#include "formats/avi.h"
#include "io/options.h"

namespace fb {

class Progress;

// The one document the editor (or a batch run) works on.
struct OpenDocument {
  std::unique_ptr<Animation> animation;
  std::string path;  // empty: untitled
  bool modified = false;
};

// The Save As dialog, shown by the editor. Given the initial folder, file name,
// type and options, it lets the user choose; false when cancelled.
class SaveAsDialog {
 public:
  virtual ~SaveAsDialog() = default;
  virtual bool choose(const std::string& folder, const std::string& name, int& typeIndex,
                      uint32_t& options, std::string& chosenPath) = 0;
  // The AVI options the dialog's panel chose for this save; null: the stored ones.
  virtual const AviSaveOptions* aviChoice() const { return nullptr; }
};

// Save: clips frames beyond the screen (asking first when a window can ask),
// then saves under the current path, or runs Save As for an untitled document.
// True when saved (or when there is nothing to save).
bool saveDocument(OpenDocument& doc, Progress* progress, SaveAsDialog* dialog);

// Save under the document's path (which must be set) with options the caller
// made (a batch run's own), as `type` with the save options word `saveWord`.
bool saveDocumentWith(OpenDocument& doc, int type, uint32_t saveWord, const SaveOptions& options,
                      Progress* progress);

// Save As: `typeIndex` -1 lets the user choose the type (remembered in the
// preferences). Without a dialog nothing can be chosen and it returns false.
bool saveAs(OpenDocument& doc, int typeIndex, Progress* progress, SaveAsDialog* dialog);

}  // namespace fb
