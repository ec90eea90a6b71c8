// AVI import and export: the video stream of an AVI file read as an
// animation (one frame per sample, delays from the stream's timing), and an
// animation written as an AVI video, optionally compressed and interleaved
// with the audio of another file.
//
// Messages (string-table entry, then the id the program has always used):
//   AviNoVideoStream 40082, AviNoMemoryMovie 40083, AviBadStreamFormat 40084,
//   AviCodecMissing 40085, AviNoPalette 40086, AviReadError 40087,
//   AviNoMemoryVideo 40088, AviCannotOpen 40091, AviCannotCreate 40092,
//   AviFormatProblem 40093, AviFrameError 40094, AviCompressorFailed 40095,
//   AviOutOfMemoryReason 40096, AviErrorReason 40097, AviCompressionCaption 40098,
//   ReadingAvi 40099, PreparingAvi 40100, WritingAvi 40101, AviNoAudioIn 40327,
//   AviNoAudioToInterleave 40328; AviNeedsFix is the text of panel 311.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/animation.h"
#include "formats/avi_file.h"
#include "imaging/palette_merge.h"

namespace fb {

class Progress;

// What an animation holds that a video may not show (the export traits).
namespace avitraits {
constexpr uint32_t ManyFrames = 0x01;
constexpr uint32_t Selection = 0x02;
constexpr uint32_t TrueColour = 0x04;  // some frame has 24-bit data
constexpr uint32_t LocalPalettes = 0x08;
constexpr uint32_t Transparency = 0x10;
constexpr uint32_t PartialFrames = 0x20;  // some frame is not the whole screen at (0, 0)
// Export needs these clear; "Fix for AVI" clears them.
constexpr uint32_t NeedsFix = LocalPalettes | Transparency | PartialFrames;
}  // namespace avitraits

uint32_t aviExportTraits(const Animation& animation);

enum class AviPreset { None, Video1, Rle8, Custom };
avi::CompressOptions aviPreset(AviPreset preset);

// The user's stored AVI choices: "无压缩" (word 6), the "AVICompress" record,
// and the fixed frame rate (word 15 0x4, word 17). The program fills it.
struct AviSettings {
  bool uncompressed = false;
  avi::CompressOptions compression = aviPreset(AviPreset::Rle8);
  bool fixedRate = false;
  uint32_t frameRateX10000 = 0;  // used when `fixedRate`
};

// The video's frame rate: the frames' own time step in the delay unit, or the
// stored fixed rate.
struct AviTiming {
  uint32_t timeBase = 100;  // delay ticks per second
  bool fixedRate = false;
  uint32_t frameRateX10000 = 0;
};

// One save's choices (filled by the options panel, or from the stored
// settings when no panel is shown).
struct AviSaveOptions {
  uint32_t traits = 0;
  std::string audioPath;
  bool includeAudio = false;
  bool compress = false;  // false: the uncompressed stream is kept
  avi::CompressOptions compression;
  bool write24Bit = false;
  AviTiming timing;
};

// How an AVI is read: the delay unit, the default play count.
struct AviReadOptions {
  DocumentDefaults defaults;
};

// ---- Stored compression ("AVICompress", 44 bytes) ----

// Video 1 or RLE8 when all eleven words equal the preset's; otherwise custom.
AviPreset recogniseAviPreset(const avi::CompressOptions& options);
std::vector<uint8_t> packAviCompression(const avi::CompressOptions& options);
bool unpackAviCompression(const std::vector<uint8_t>& bytes, avi::CompressOptions& options);
// The options of a save without the panel (batch and quick save): no audio,
// 24-bit when the animation has 24-bit data, compressed with the stored
// choice unless "无压缩" was chosen (RLE8 becomes Video 1 for 24-bit frames).
AviSaveOptions aviOptionsWithoutPanel(const Animation& animation, const AviSettings& settings,
                                      uint32_t timeBase);

// The codec chooser behind "自定义参数 ( 高级)": picks one of `encoders` and
// sets the handler, key-frame interval, quality, data rate and flags.
class AviCodecChooser {
 public:
  virtual ~AviCodecChooser() = default;
  virtual bool choose(const std::vector<avi::EncoderInfo>& encoders,
                      avi::CompressOptions& options) = 0;
};
// True when the user confirmed a codec; only the handler, key-frame interval,
// quality, data rate and flags are kept. Without a chooser nothing is chosen.
bool ChooseCustomAviCompression(avi::CompressOptions& options, AviCodecChooser* chooser);

// True when `path` has an audio stream to interleave.
bool aviHasAudioStream(const std::string& path);

// What the AVI options panel (283 in the save dialog, 193 "AVI 设置") shows
// and lets the user choose, without its widgets.
struct AviPanelState {
  AviPreset choice =
      AviPreset::Rle8;  // "无压缩", "Video 1 ( CRAM ) 压缩", "RLE8 压缩 ( 推荐)", custom
  avi::CompressOptions custom;  // the codec chooser's record for the custom choice
  bool show24Bit = false;       // "保存为 24-位色" shown (and ticked) for 24-bit data
  bool rle8Enabled = true;
  bool includeAudio = false;  // "包含音频流"
  bool audioEnabled = false;
  std::string audioPath;
};
// The panel as it opens for an animation of these traits: "无压缩" when the
// settings say so, else the stored record's preset; 24-bit data ticks the
// 24-bit box and disables RLE8 (an RLE8 choice becomes Video 1).
AviPanelState openAviPanel(uint32_t traits, const AviSettings& settings);
// Typing a path ticks and enables the audio box; clearing it unticks it.
void setAviAudioPath(AviPanelState& state, const std::string& path);
// Choosing a preset; custom runs the codec chooser, and a cancel there falls
// back to Video 1 (24-bit) or RLE8.
void chooseAviPreset(AviPanelState& state, AviPreset preset, AviCodecChooser* chooser);
// Confirmation: an audio file without audio is refused with its message (the
// save does not go ahead). Otherwise fills `out` and updates `settings` with
// the choice ("无压缩", the chosen record), for the caller to store.
bool confirmAviPanel(const AviPanelState& state, uint32_t traits, AviSaveOptions& out,
                     AviSettings& settings);

// ---- Import and export ----

// Result 0 (failed, message shown), 1 (complete) or 2 (stopped by the user:
// the frames read so far). 8-bit video keeps its palette (frames whose sample
// carries another palette get it as a local palette); other video gives
// frames with 24-bit data only.
int ReadAviFile(const std::string& path, Progress* progress, std::unique_ptr<Animation>& out,
                const AviReadOptions& options = {});

// Writes "<path>1.avi" with WriteAviVideoStream, then either recompresses it
// into `path` or moves it there. 1 on success, 0 on failure (message shown,
// no partial file left).
int WriteAviFile(const std::string& path, Animation& animation, const AviSaveOptions& options,
                 Progress* progress);
// The uncompressed video-only file. 1/0.
int WriteAviVideoStream(const std::string& path, Animation& animation, bool write24Bit,
                        Progress* progress, const AviTiming& timing = {});
// `destPath` from the uncompressed `tempPath` (deleted unless renamed). 1/0.
int RecompressAvi(const std::string& destPath, const std::string& tempPath,
                  const AviSaveOptions& options, Progress* progress);

// The common time step of the frames' delays, in delay ticks (delays below 2
// count as 1).
int FrameStepForAvi(const Animation& animation);

// The fixes "修复" makes for the bits of `traits`: one global palette for
// frames with local palettes, one transparent index (moved to 0; when frames
// use different ones, every frame becomes the whole opaque picture a viewer
// sees), and unoptimized full frames. All or nothing: on failure (message
// shown) the animation is as it was. True when every requested fix succeeded.
// Local palettes go with the merge settings' dither choice and colour count.
bool FixForAvi(Animation& animation, uint32_t traits, Progress* progress,
               const MergeOptions& merge = {});

// The save table's writer for AVI: the panel's options (`panel`, or those of
// a save without the panel from `settings`), a fixed copy of the document when
// it still needs one (said as information when there is no window to press
// "修复" in), then WriteAviFile. Shows its own messages.
bool writeAviForSave(const std::string& path, Animation& animation, Progress* progress,
                     const AviSaveOptions* panel, const AviSettings& settings, uint32_t timeBase,
                     const MergeOptions& merge);

}  // namespace fb
