#include "io/options.h"

#include <cctype>

#include "base/prefs.h"
#include "base/settings_file.h"
#include "imaging/fixed_palette.h"

namespace fb {

namespace {
constexpr const char* kAviCompressValue = "AVICompress";
constexpr const char* kSignatureValue = "Sig";
constexpr const char* kFixedPaletteValue = "FixedPal";
constexpr const char* kEditorValue = "CoEdit";
constexpr const char* kInitialDirValue = "InitDir";
constexpr uint32_t kEditorTakesLayers = 0x8;  // word 15
}  // namespace

DocumentDefaults documentDefaultsFromPreferences() {
  DocumentDefaults d;
  d.delay = static_cast<int32_t>(prefGet(pref::DefaultDelay));
  d.playCount = static_cast<int32_t>(prefGet(pref::DefaultPlayCount));
  d.timeBase = prefRaw(pref::TimeBase);
  if (d.timeBase == 0) d.timeBase = 100;
  return d;
}

MergeOptions mergeOptionsFromPreferences() {
  MergeOptions m;
  m.storedMethod = prefGet(pref::MergeMethod);
  m.keep24Bit = (prefGet(pref::GeneralOptions) & gen::Keep24Bit) != 0;
  m.sizeRule = prefGet(pref::SizeConflict);
  m.defaultPlayCount = static_cast<int32_t>(prefGet(pref::DefaultPlayCount));
  m.fixedPalette = loadFixedPalette();
  return m;
}

GifWriteOptions gifWriteOptionsFromPreferences() {
  GifWriteOptions g;
  g.timeBase = documentDefaultsFromPreferences().timeBase;
  g.signature = settings().getString(kSignatureValue).value_or(g.signature);
  if (g.signature.size() > 255) g.signature.resize(255);
  g.sign = !(prefGet(pref::GeneralOptions) & gen::NoSignature);
  return g;
}

avi::CompressOptions loadAviCompression() {
  avi::CompressOptions out;
  auto stored = settings().getBinary(kAviCompressValue);
  if (!stored || !unpackAviCompression(*stored, out)) out = aviPreset(AviPreset::Rle8);
  return out;
}

AviSettings aviSettingsFromPreferences() {
  AviSettings s;
  s.uncompressed = (prefGet(pref::GeneralOptions) & gen::AviUncompressed) != 0;
  s.compression = loadAviCompression();
  s.fixedRate = (prefGet(pref::MoreOptions) & more::AviFixedRate) != 0;
  s.frameRateX10000 = prefGet(pref::AviFrameRate);
  return s;
}

void storeAviSettings(const AviSettings& s) {
  prefSetBits(pref::GeneralOptions, gen::AviUncompressed, s.uncompressed);
  if (!s.uncompressed) settings().setBinary(kAviCompressValue, packAviCompression(s.compression));
}

OpenOptions openOptionsFromPreferences() {
  OpenOptions o;
  o.defaults = documentDefaultsFromPreferences();
  o.keepInterlace = (prefGet(pref::GeneralOptions) & gen::KeepInterlace) != 0;
  o.merge = mergeOptionsFromPreferences();
  o.transparentOnLoad = (prefGet(pref::MoreOptions) & more::TransparentOnLoad) != 0;
  uint32_t c = prefGet(pref::TransparentOnLoad);
  o.transparentColour =
      Rgb{static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16)};
  return o;
}

SaveOptions saveOptionsFromPreferences() {
  SaveOptions s;
  s.gif = gifWriteOptionsFromPreferences();
  s.merge = mergeOptionsFromPreferences();
  s.pngAlways24 = (prefGet(pref::MoreOptions) & more::PngAlways24) != 0;
  s.filmstripSizeInName = (prefGet(pref::MoreOptions) & more::FilmstripSizeInName) != 0;
  s.avi = aviSettingsFromPreferences();
  s.clipWithoutAsking = (prefGet(pref::GeneralOptions) & gen::ClipWithoutAsking) != 0;
  s.formats = formatOptionsFromPreferences();
  return s;
}

int jpegQualityForStep(int step) {
  if (step <= 0 || step > 10) step = 6;
  return step * 5 + 45;
}

FormatOptions formatOptionsFromPreferences() {
  const uint32_t more = prefGet(pref::MoreOptions);
  FormatOptions o;
  o.jpegQuality = jpegQualityForStep(static_cast<int>((prefGet(pref::SaveType) >> 8) & 0xFF));
  o.psdLayerMask = more & more::PsdLayerMask;
  o.iconXpOrder = !(more & more::IconNoXpOrder);
  o.iconPng256 = !(more & more::IconNoPng256);
  return o;
}

uint32_t optimizeOptionsFromPreferences() {
  return prefGet(pref::OptimizeOptions);
}

void storeSignature(const std::string& text) {
  settings().setString(kSignatureValue, text.substr(0, 255));
}

std::string externalEditorFromPreferences() {
  return settings().getString(kEditorValue).value_or(std::string());
}

bool editorTakesLayers(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto endsWith = [&](const std::string& e) {
    return name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
  };
  // The editors here that open layered PSD files, and the one the setting was named after.
  return endsWith("photoshp.exe") || name.rfind("gimp", 0) == 0 || name.rfind("krita", 0) == 0;
}

void storeExternalEditor(const std::string& path) {
  settings().setString(kEditorValue, path);
  prefSetBits(pref::MoreOptions, kEditorTakesLayers, editorTakesLayers(path));
}

std::string initialDirectoryFromPreferences() {
  return settings().getString(kInitialDirValue).value_or(std::string());
}

void storeInitialDirectory(const std::string& folder) {
  settings().setString(kInitialDirValue, folder);
}

std::unique_ptr<Palette> loadFixedPalette() {
  auto bytes = settings().getBinary(kFixedPaletteValue);
  if (!bytes) return nullptr;
  return parseFixedPaletteRecord(*bytes);
}

bool storeFixedPalette(const Palette& palette) {
  return settings().setBinary(kFixedPaletteValue, fixedPaletteRecord(palette));
}

}  // namespace fb
