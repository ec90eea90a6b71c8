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
  BatchNeedsEach,        // ours: "%s works only with --each"
  BatchEachNeedsOutput,  // ours
  BatchCannotCombine,    // ours: "%s cannot be used with %s"
  BatchSameOutput,       // ours: two inputs, one output name
  BatchStdinTooLarge,    // ours
  BatchKeptInput,        // ours (--verbose): the input was not made smaller
  BatchOutOfMemory,      // ours: a file of --each ran out of memory
  StandardInput,         // ours: how messages name "-"

  // --info (ours)
  InfoSummary,
  InfoColours,
  InfoNone,
  InfoPlaysOnce,
  InfoPlaysTimes,
  InfoLoopsForEver,
  InfoFrame,
  InfoDisposalNone,
  InfoDisposalKeep,
  InfoDisposalBackground,
  InfoDisposalPrevious,
  InfoDisposalOther,
  InfoTransparent,
  InfoOpaque,
  InfoLocalPalette,
  InfoGlobalPalette,

  // The editor: window, status bar, questions, property toolbar, preview, Save As panel
  EditorReady,
  EditorTitle,  // file name, program
  EditorProgram,
  EditorUntitled,
  EditorSizeComputing,
  EditorSizeKnown,  // the byte count
  EditorZoomPercent,
  EditorSaveChangesTo,
  EditorSaveChangesUntitled,
  EditorRevertQuestion,
  EditorRevertCaption,
  EditorRecentEntry,
  EditorHelpMissing,
  EditorTutorialMissing,
  EditorNotAvailable,  // the command's text
  EditorSpeedItem,     // speed name, time
  EditorSeconds,
  EditorUnderTenth,
  EditorInsertTitle,
  EditorBlendTitle,
  EditorOpenTitle,
  EditorSaveAsTitle,
  EditorAllSupported,
  EditorFilmstripFilter,
  EditorAllFiles,
  FilterGif,
  FilterAvi,
  FilterBmp,
  FilterJpeg,
  FilterPsd,
  FilterPng,
  FilterIcon,
  FilterCursor,
  FilterAniCursor,
  PurposeTitle,
  PurposeGif,
  PurposeIcons,
  PurposeOther,
  EditorAbout,  // version
  EditorAboutCaption,
  InvalidDelayCaption,
  InvalidDelay,
  InvalidPlayCountCaption,
  InvalidPlayCount,
  EditorUndoNamed,   // the step's name
  EditorRedoNamed,   // the step's name
  UndoPaste,         // undo step
  UndoCut,           // undo step
  UndoPlayCount,     // undo step
  UndoTransparency,  // undo step
  UndoLocalPalette,  // undo step
  UndoTrueColour,    // undo step
  UndoInterlace,     // undo step
  UndoDisposal,      // undo step
  MenuFile,
  MenuImport,
  MenuEdit,
  MenuView,
  MenuFrame,
  MenuAnimation,
  MenuHelp,
  MenuZoom,
  MenuOrientation,
  MenuTransparency,
  MenuDownload,
  MenuFrameRotate,
  MenuAnimationRotate,
  PropInterlace,
  PropTransparent,
  PropPickTransparent,
  PropLocalPalette,
  PropFrameName,
  PropDelay,
  PropDisposeNone,
  PropDisposeBackground,
  PropDisposePrevious,
  PropPlayCount,
  PropTrueColour,
  PropertiesWindow,
  PropScreen,
  PropFrames,
  PropFrameNumber,
  PropSize,
  PropOffset,
  PropDelayValue,
  PropDisposalValue,
  PropTransparentValue,
  PropOpaque,
  PropPaletteLocal,
  PropPaletteGlobal,
  PropBitCount,
  PropUnspecified,
  PreviewTitle,
  PreviewPlay,
  PreviewPause,
  PreviewStep,
  PreviewSpeed,
  PreviewClose,
  SaveWhole,
  SaveFirstFrame,
  SaveNumbered,
  SaveFilmstrip,
  SaveVertical,
  SavePerRow,
  SaveTrueColour,
  SaveFileName,
  SaveType,
  SaveBrowse,
  SaveOptions,
  // Command texts, by command id
  Cmd1002,
  Cmd40111,
  Cmd40109,
  Cmd40110,
  Cmd40113,
  Cmd40112,
  Cmd40342,
  Cmd40133,
  Cmd40142,
  Cmd40118,
  Cmd40013,
  Cmd40125,
  Cmd1015,
  Cmd1016,
  Cmd40161,
  Cmd40080,
  Cmd40021,
  Cmd40082,
  Cmd1003,
  Cmd40001,
  Cmd40120,
  Cmd40002,
  Cmd1012,
  Cmd40004,
  Cmd40012,
  Cmd40131,
  Cmd40132,
  Cmd40035,
  Cmd40009,
  Cmd40052,
  Cmd40044,
  Cmd40072,
  Cmd40135,
  Cmd40074,
  Cmd40073,
  Cmd40075,
  Cmd40076,
  Cmd40077,
  Cmd40343,
  Cmd40337,
  Cmd40008,
  Cmd40050,
  Cmd40016,
  Cmd40116,
  Cmd40092,
  Cmd40105,
  Cmd40104,
  Cmd40106,
  Cmd40107,
  Cmd40108,
  Cmd325,
  Cmd40336,
  Cmd40081,
  Cmd40005,
  Cmd40019,
  Cmd40119,
  Cmd40115,
  Cmd40341,
  Cmd40289,
  Cmd324,
  Cmd326,
  Cmd40010,
  Cmd40340,
  Cmd40128,
  Cmd40344,
  Cmd40335,
  Cmd40038,
  Cmd40039,
  Cmd40060,
  Cmd40061,
  Cmd40062,
  Cmd40063,
  Cmd40064,
  Cmd40065,
  Cmd40066,
  Cmd40067,
  Cmd40027,
  Cmd40028,
  Cmd40029,
  Cmd40088,
  Cmd40089,
  Cmd40090,
  Cmd40093,
  Cmd40094,
  Cmd40095,
  Cmd40096,
  Cmd40097,
  Cmd40098,
  Cmd40023,
  Cmd40127,
  Cmd1004,

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

  // Dialogs: optimize (169)
  OptimizeTitle,           // "优化动画"
  OptimizeCropFrames,      // 1121
  OptimizeTransparency,    // 1122
  OptimizeRemoveFrames,    // 1125
  OptimizeRemoveLocal,     // 1124
  OptimizeMethodFit,       // 1073
  OptimizeMethodMap,       // 1074
  OptimizeMethodAdaptive,  // 1075
  OptimizeShrink,          // 1083
  OptimizeManual,          // 1257
  OptimizeStart,           // 1268
  OptimizeCurrentSize,
  OptimizeAfterSize,
  OptimizeSaving,
  OptimizeSmallest,  // ours: the smallest-encoding bit
  OptimizeLossy,     // ours: the lossy LZW strength
  CheckingRemovable,
  CheckingRemoved,
  ButtonDone,
  ButtonCancel,
  ButtonOk,
  // Reduce colours (175) and locked colours (273)
  ReduceTitle,
  ReduceColours,
  ReduceDither,  // 1077
  ReduceLocked,   // 1270
  ReduceQuality,  // ours: the high-quality palettes
  DuplicatingAnimation,
  FileSizeBytes,
  SavingBytes,
  SavingNone,
  ColourCount,
  ReduceBefore,
  ReduceAfter,
  LockedTitle,
  LockedHint,
  LockedClear,
  // Frame count (227)
  ThinTitle,
  ThinInterval,
  ThinCurrent,
  ThinAfter,
  ThinUnknown,
  // Palette merge (201) and frame-size conflict (108)
  MergeTitle,
  MergeAdaptive,     // 1197
  MergeIntoGlobal,   // 1198
  MergeMapGlobal,    // 1199
  MergeCube,         // 1200
  MergeFixed,        // 1201
  MergeLocal,        // 1202
  MergeDither,       // 1204
  MergeMaxColours,   // 1289
  MergeLocalColours, // 1203
  MergeMakeDefault,  // 1205
  ButtonLoad,        // 1290
  ButtonEdit,        // 1291
  AlwaysAsk,
  SizeTitle,
  SizeQuestion,
  SizeClip,
  SizeGrow,
  SizeMakeDefault,
  FixedPaletteLoadTitle,
  FixedPaletteFilter,
  FixedPaletteEditTitle,
  FixedPaletteNone,
  // Preferences and the first-run purpose dialog (313)
  PrefsTitle,
  PagePurpose,
  PageGeneral,
  PagePalette,
  PageAnimation,
  PageOutput,
  PageOutput2,
  PageFrameTips,
  PurposePrompt,
  PrefsInvalidPlayCount,
  CommentTooLong,
  CommentTooLongCaption,
  AssociationFailed,
  ButtonChoose,
  PrefAutoPreview,
  PrefPreviewLoops,
  PrefFullScreen,
  PrefHideStart,
  PrefAssociate,
  PrefInterlace,
  PrefUndoLevels,
  PrefEditor,
  PrefEditorTitle,
  PrefPaletteMethod,
  PrefDefaultDelay,
  PrefDefaultPlayCount,
  PrefSizeRule,
  PrefKeep24Bit,
  PrefTransparentOnLoad,
  PrefSignature,
  PrefFixedRate,
  PrefFramesPerSecond,
  PrefJpegQuality,
  PrefPsdLayerMask,
  PrefIconXpOrder,
  PrefIconPng256,
  PrefFilmstripNames,
  PrefPngAlways24,
  PrefTipsShown,
  TipName,
  TipNumber,
  TipSize,
  TipOffset,
  TipDelay,
  TipDisposal,
  TipTransparency,
  TipPaletteKind,
  TipBitCount,
  // AVI export (283, 193, 311) and the codec chooser
  AviSettingsTitle,
  AviNone,
  AviVideo1,
  AviRle8,
  AviCustom,
  AviCustomOther,
  AviWrite24Bit,
  AviIncludeAudio,
  AviBrowse,
  AviInsertAudio,
  AviAudioFilter,
  AviFix,
  CodecTitle,
  CodecName,
  CodecKeyFrames,
  CodecQuality,
  CodecDataRate,
  CodecNone,
  // Property, comment, timing, palette and pixel dialogs
  PropsMixed,
  PropsDelay,
  PropsDisposal,
  PropsTransparentIndex,
  PropsUserInput,
  PropsLeft,
  PropsTop,
  PropsName,
  PropsScreenWidth,
  PropsScreenHeight,
  PropsPlayCount,
  PropsBackground,
  CommentsAdd,
  CommentsRemove,
  CommentsText,
  TimingFrame,
  TimingSetAll,
  PaletteEntry,
  PaletteEntryColour,
  PaletteEditColour,
  PaletteEarlier,
  PaletteLater,
  PaletteMerge,
  PaletteSave,
  PaletteLoadTitle,
  PaletteSaveTitle,
  PaletteFilter,
  PixelPaint,
  PixelFill,
  PixelPick,
  PixelZoom,
  PixelGrid,
  PixelColour,
  // Dialogs: move/crop, crop, resize, blend, timing files, HTML, external editor
  XformLeft,
  XformTop,
  XformPlace,  // group: where the frame goes
  XformKeep,   // group: the part kept
  XformX,
  XformY,
  XformWidth,
  XformHeight,
  XformFrameSize,   // "%d x %d"
  XformScreenSize,  // "%d x %d"
  ResizeKeepAspect,
  ResizeBicubic,
  BlendFileName,  // "%s": the file
  BlendByFrame,
  BlendByTime,
  BlendLoopShorter,
  BlendResultLength,  // "%d" frames, "%s" seconds
  BlendResultTooLong,
  TimingOpenTitle,
  TimingFilter,
  TimingSaveTitle,
  HtmlTitle,
  HtmlAltText,
  HtmlCode,
  HtmlCopy,
  ExternalChooseEditor,
  ExternalWaiting,   // "%s": the file
  ExternalReadBack,  // "%d": how many saves were taken in
  ExternalDone,
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

  // Undo step names of the editing commands (their menu items)
  UndoRotate90,             // "顺时针旋转90°"
  UndoRotate180,            // "旋转180°"
  UndoRotate270,            // "逆时针旋转90°"
  UndoFlipHorizontal,       // "水平翻转"
  UndoFlipVertical,         // "垂直翻转"
  UndoMoveCrop,             // "移动/剪切"
  UndoCropAnimation,        // "剪切"
  UndoResize,               // "调整大小"
  UndoPingPong,             // "乒乓动画"
  UndoBlend,                // "混合动画"
  UndoLoadTiming,           // "加载时间文件"
  UndoTiming,               // "时间"
  UndoGlobalPalette,        // "全局调色板"
  UndoAllFrames,            // "全局属性"
  UndoAnimationProperties,  // "动画属性"
  UndoComment,              // "GIF 注释"
  UndoPixels,               // "编辑像素"
  UndoExternalEdit,         // "使用图像编辑器即时编辑"

  // Editing: frame transforms, blend, timing files, palettes, pixels, properties
  EditNoMemory,
  EditNoFrame,  // "%d": a 1-based frame number
  EditSizeInvalid,
  EditResultTooLarge,
  EditCropOutsideScreen,  // "%d,%d,%d,%d" the rectangle, "%d x %d" the screen
  EditCropOutsideFrame,   // the same with the frame's size
  EditPositionInvalid,
  EditNeedsTwoFrames,
  BlendNoFrames,
  TimingBadLine,     // "%d": the line, "%s": its text
  TimingCountWrong,  // "%d" delays, "%d" frames
  TimingTooLarge,
  DelayCountWrong,  // "%d" delays, "%d" frames
  DisposalInvalid,
  TransparentIndexInvalid,
  BackgroundIndexInvalid,
  NoGlobalPalette,
  NoLocalPaletteToEdit,
  PaletteEntriesInvalid,  // "%d" colours from entry "%d"
  PaletteOrderInvalid,
  PixelOutsideFrame,   // "%d,%d" the point, "%d x %d" the frame
  ColourIndexInvalid,  // "%d" the index, "%d" the palette's colours
  NoSuchComment,       // "%d": a 1-based comment number
  FrameNotIndexed,
  ExternalTempFailed,   // "%s": why
  ExternalCannotStart,  // "%s" the editor, "%s" why
  ExternalFrameGone,
  ExternalNoPicture,
  ExternalLayerCount,  // "%d" layers, "%d" frames

  Count_
};

// The text of a string-table entry, exactly as the program shows it.
const char* text(Str id);

// printf-style formatting of a string-table entry.
template <typename... Args>
std::string format(Str id, Args... args) {
  const char* fmt = text(id);
  // Most texts fit a small buffer: formatted once there, else measured first.
  char small[256];
  int n = std::snprintf(small, sizeof small, fmt, args...);
  if (n <= 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), fmt, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace fb
