// The string table: every text the program shows, by id.
#pragma once

#include <cstdio>
#include <string>

namespace fb {

enum class Str : int {
  // Captions
  CaptionError,

  // Document model
  Unnamed,
  FrameNameFormat,  // "%s - 帧 %d"
  NoMemoryComment,

  // GIF reader
  ReadingGif,
  GifCorrupt,
  GifPartial,
  GifUnreadable,
  NoLocalPalette,
  NoMemoryFrameImage,

  // GIF writer
  WritingGif,
  CannotSaveTemporary,  // "无法保存到 '%s' (临时文件)。"
  GifTooLarge,          // ours: a size or position beyond 65535

  // Open and save
  CannotOpenFile,
  NotAGifFile,
  CannotReadType,
  CannotSaveType,
  CannotWriteTo,
  CannotRecover,
  BackupKeptAs,
  CannotDeleteTemporary,
  ClipCaption,
  ClipQuestion,
  UntitledName,

  // AVI import and export (the program's own ids in the comments)
  AviNoVideoStream,        // 40082
  AviNoMemoryMovie,        // 40083
  AviBadStreamFormat,      // 40084
  AviCodecMissing,         // 40085
  AviNoPalette,            // 40086
  AviReadError,            // 40087
  AviNoMemoryVideo,        // 40088
  AviCannotOpen,           // 40091
  AviCannotCreate,         // 40092
  AviFormatProblem,        // 40093
  AviFrameError,           // 40094
  AviCompressorFailed,     // 40095
  AviOutOfMemoryReason,    // 40096
  AviErrorReason,          // 40097
  AviCompressionCaption,   // 40098
  ReadingAvi,              // 40099
  PreparingAvi,            // 40100
  WritingAvi,              // 40101
  AviNoAudioIn,            // 40327
  AviNoAudioToInterleave,  // 40328
  AviNeedsFix,             // panel 311
  FixForAviStep,           // undo step name
  AviFixedForSave,         // ours: a save without the panel made the fixes
  AviLibrariesMissing,     // ours: FFmpeg could not be loaded
  // Optimizer
  OptimizingFrames,
  OptimizeNoResources,
  OptimizeRanOut,
  OptimizeNoTrialMemory,
  CopyingAnimation,
  ComputingSize,
  RemovingLocalPalettes,
  ShrinkingGlobal,
  ShrinkingLocal,
  ByteCount,
  NoBytes,
  SavingPercent,
  OptimizeCaption,     // "优化动画"
  OptimizeNotSmaller,  // ours: the result was not taken

  // Unoptimize
  Unoptimizing,
  UnoptimizeLocalPalettes,
  UnoptimizeCaption,
  UnoptimizeNoMemory,
  UnoptimizeNoMemoryFrame,

  // Batch mode
  BatchInputError,
  BatchUnknownFlag,
  BatchFileNotFound,
  BatchListReadError,
  BatchMergeFailed,
  BatchInputFailed,
  BatchNothingToOutput,
  BatchNothingToOptimize,

  // Frame count reduction
  ThinIntervalInvalid,
  ThinIntervalCaption,

  // Colour reduction
  ReducingPalette,         // "正在缩减调色板..."
  DitheringFrames,         // "正在抖动帧..."
  RemappingFrames,         // "正在重映帧..."
  RemappingLocalPalettes,  // "正在重映局部调色板..."
  NonReducibleCaption,
  NonReducible,
  NoMemoryReduce,
  NoMemoryPalettes,
  NoMemoryDither,
  NoErrorRows,

  // Palette merge
  NoResourcesLocalPalette,

  // PNG and animated PNG
  PngCorrupt,      // 40330
  PngEncodeError,  // 40368
  ApngMixedKinds,
  ApngLocalPalettes,
  ApngMixedTransparency,
  ApngTransparentIndex,
  ApngFirstFrameMemory,
  FilmstripNameFormat,  // " (%dx%d)": columns and rows

  // Further picture formats ("%s" names the format: "BMP", "JPEG", ...)
  ImageCorrupt,
  ImageUnsupported,
  ImageEncodeError,
  ImageTooLarge,

  // Undo step names
  UndoOptimize,         // "优化动画"
  UndoUnoptimize,       // "反优化动画"
  UndoReduceColours,    // "缩减调色板"
  UndoThin,             // "减少帧计数"
  UndoReverse,          // "反向顺序"
  UndoDelete,           // "删除"
  UndoMoveFrames,       // "移动帧"
  UndoInsertFrames,     // "插入帧"
  UndoFrameProperties,  // "帧属性"
  UndoCentre,           // "全部居中"
  UndoDelays,           // "延迟"

  Count_
};

// The text of a string-table entry, exactly as the program shows it.
const char* text(Str id);

// printf-style formatting of a string-table entry.
template <typename... Args>
std::string format(Str id, Args... args) {
  const char* fmt = text(id);
  int n = std::snprintf(nullptr, 0, fmt, args...);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), fmt, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace fb
