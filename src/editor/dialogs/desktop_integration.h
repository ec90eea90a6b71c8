// The program in the desktop's menus and as the handler of GIF files: a
// desktop entry under $XDG_DATA_HOME/applications (offering "Open with" for
// the picture types it reads) and `xdg-mime default` for image/gif.
#pragma once

#include <QString>

namespace fb::ui {

constexpr const char* kDesktopEntryName = "flickbook.desktop";

// Writes the desktop entry for `executable`. False when it cannot be written.
bool writeDesktopEntry(const QString& executable);
// The desktop entry, then the default for image/gif. False on any failure.
bool makeDefaultForGif(const QString& executable);
// True when image/gif opens with this program now.
bool isDefaultForGif();

}  // namespace fb::ui
