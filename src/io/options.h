// The user's settings as the values the engine's operations take. This is the
// one place where preference words and stored settings become options: the
// batch driver, the editor and the tools fill their options here and pass
// them down, so nothing below reads or writes a preference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document/animation.h"
#include "formats/avi.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/palette_merge.h"

namespace fb {

// How files are opened.
struct OpenOptions {
  DocumentDefaults defaults;
  bool keepInterlace = false;
  MergeOptions merge;
  // Make this colour transparent in indexed pictures (where a palette entry is exactly it).
  bool transparentOnLoad = false;
  Rgb transparentColour{};
};

// What the writers of the further formats take besides the save options word.
struct FormatOptions {
  int jpegQuality = 75;       // 1..100
  bool psdLayerMask = false;  // a layer mask instead of a transparency channel
  bool iconXpOrder = true;    // PNG images after all the others
  bool iconPng256 = true;     // 256-pixel images as PNG
};
// The JPEG quality for a slider step of 1..10 (0 means 6): step × 5 + 45.
int jpegQualityForStep(int step);

// How documents are saved.
struct SaveOptions {
  GifWriteOptions gif;
  MergeOptions merge;  // for true-colour frames that must be mapped before an indexed save
  bool pngAlways24 = false;
  bool filmstripSizeInName = false;
  AviSettings avi;
  // The Save As panel's AVI choice for this save; null: the stored settings.
  const AviSaveOptions* aviPanel = nullptr;
  // Clip frames beyond the screen without asking.
  bool clipWithoutAsking = false;
  FormatOptions formats;
};

DocumentDefaults documentDefaultsFromPreferences();
MergeOptions mergeOptionsFromPreferences();
GifWriteOptions gifWriteOptionsFromPreferences();
AviSettings aviSettingsFromPreferences();
OpenOptions openOptionsFromPreferences();
SaveOptions saveOptionsFromPreferences();
// From words 15 (PSD and icon bits) and 16 (bits 8..15 the JPEG step).
FormatOptions formatOptionsFromPreferences();
// The stored optimizer option bits (word 5).
uint32_t optimizeOptionsFromPreferences();

// Stores what the AVI panel chose ("无压缩" and the "AVICompress" record).
void storeAviSettings(const AviSettings& settings);
// The stored "AVICompress" record; the RLE8 preset when none (or a damaged one) is stored.
avi::CompressOptions loadAviCompression();

// The signature comment added to saved files ("Sig"), at most 255 characters.
void storeSignature(const std::string& text);
// The external image editor ("CoEdit"). Storing it also records (word 15,
// 0x8) whether the editor takes layered PSD files.
std::string externalEditorFromPreferences();
void storeExternalEditor(const std::string& path);
bool editorTakesLayers(const std::string& path);
// The folder open dialogs start in ("InitDir").
std::string initialDirectoryFromPreferences();
void storeInitialDirectory(const std::string& folder);

// The user's fixed palette ("FixedPal"); null when none is stored or it is unusable.
std::unique_ptr<Palette> loadFixedPalette();
// Writes all 256 entries. False when the settings file could not be written.
bool storeFixedPalette(const Palette& palette);

}  // namespace fb
