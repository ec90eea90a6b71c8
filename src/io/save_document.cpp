#include "io/save_document.h"

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/frame_ops.h"
#include "io/open_save.h"
#include "resources/strings.h"

namespace fb {
namespace {

bool clipCheck(Animation& a, const SaveOptions& options) {
  if (options.clipWithoutAsking) return clipFramesToScreen(a);
  if (!framesOutsideScreen(a)) return true;
  Reporter& r = reporter();
  if (r.hasWindow() && r.ask(text(Str::ClipCaption), text(Str::ClipQuestion), Icon::Warning,
                             Buttons::YesNo, Answer::Yes) != Answer::Yes)
    return false;
  return clipFramesToScreen(a);
}

std::string replaceExtension(const std::string& name, const std::string& ext) {
  std::string current = extensionOf(name);
  if (current.empty()) return name + "." + ext;
  if (current == ext) return name;
  return name.substr(0, name.size() - current.size()) + ext;
}

}  // namespace

bool saveDocument(OpenDocument& doc, Progress* progress, SaveAsDialog* dialog) {
  if (!doc.animation) return true;
  if (doc.path.empty()) {
    if (!clipCheck(*doc.animation, saveOptionsFromPreferences())) return false;
    return saveAs(doc, kTypeGif, progress, dialog);
  }
  return saveDocumentWith(doc, typeOfPath(doc.path), saveopt::WholeAnimation,
                          saveOptionsFromPreferences(), progress);
}

bool saveDocumentWith(OpenDocument& doc, int type, uint32_t saveWord, const SaveOptions& options,
                      Progress* progress) {
  if (!doc.animation) return true;
  if (!clipCheck(*doc.animation, options)) return false;
  if (!saveByType(doc.path, *doc.animation, saveWord, type, progress, options)) return false;
  doc.modified = false;
  return true;
}

bool saveAs(OpenDocument& doc, int typeIndex, Progress* progress, SaveAsDialog* dialog) {
  if (!doc.animation) return true;
  std::string folder, name;
  int type = typeIndex;
  uint32_t stored = prefGet(pref::SaveType);
  if (type < 0) type = static_cast<int>(stored & 0xFF);
  if (type < 1 || type >= kTypeCount) type = kTypeGif;
  if (!doc.path.empty()) {
    folder = fileops::directoryOf(doc.path);
    name = replaceExtension(fileops::baseName(doc.path), fileType(type).extension);
  } else {
    folder = settings().getString("SaveDir").value_or(std::string());
    name = format(Str::UntitledName, fileType(type).extension);
  }
  uint32_t options = stored >> 16;
  if (!dialog) return false;
  std::string chosen;
  int chosenType = type;
  if (!dialog->choose(folder, name, chosenType, options, chosen)) return false;
  if (typeIndex < 0)
    prefSet(pref::SaveType,
            (stored & 0xFF00) | (static_cast<uint32_t>(chosenType) & 0xFF) | (options << 16));
  SaveOptions saveOptions = saveOptionsFromPreferences();
  if (chosenType == kTypeAvi) saveOptions.aviPanel = dialog->aviChoice();
  if (!saveByType(chosen, *doc.animation, options, chosenType, progress, saveOptions))
    return false;
  settings().setString("SaveDir", fileops::directoryOf(chosen));
  bool singleImages =
      doc.animation->frameCount() > 1 &&
      ((chosenType == kTypeGif && !(options & saveopt::WholeAnimation)) || chosenType == kTypeBmp ||
       chosenType == kTypeJpeg ||
       (chosenType == kTypePng && (options & (saveopt::Numbered | saveopt::Filmstrip))));
  if (!singleImages) {
    doc.path = chosen;
    doc.modified = false;
  }
  return true;
}

}  // namespace fb
