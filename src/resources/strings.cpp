#include "resources/strings.h"

#include <array>

namespace fb {
namespace {

struct Entry {
  Str id;
  const char* text;
};

constexpr Entry kTable[] = {
    {Str::CaptionError, "错误"},

    {Str::Unnamed, "[未命名]"},
    {Str::FrameNameFormat, "%s - 帧 %d"},
    {Str::NoMemoryComment, "Not enough memory for new comment."},

    {Str::ReadingGif, "正在读取GIF文件...  (Esc键中止)"},
    {Str::GifCorrupt, "Error encountered when reading file. The GIF file appears to be corrupt."},
    {Str::GifPartial, "Only part of the animation was read."},
    {Str::GifUnreadable, "Unable to read file successfully."},
    {Str::NoLocalPalette, "Unable to create a local palette."},
    {Str::NoMemoryFrameImage, "Not enough memory to build frame image."},

    {Str::WritingGif, "正在写入 GIF 动画... (Esc键中止)"},
    {Str::CannotSaveTemporary, "无法保存到 '%s' (临时文件)。"},

    {Str::CannotOpenFile, "无法打开文件 '%s'."},
    {Str::NotAGifFile, "%s 不是有效的GIF文件。"},
    {Str::CannotReadType, "无法读取这个类型的文件。"},
    {Str::CannotSaveType, "无法保存这个类型的文件。"},
    {Str::CannotWriteTo, "无法写入到 %s."},
    {Str::CannotRecover, "Can't overwrite %s and unable to recover that file after failure."},
    {Str::BackupKeptAs, "The original file is kept as %s."},
    {Str::CannotDeleteTemporary, "Unable to delete temporary file %s. Please delete it manually."},
    {Str::ClipCaption, "动画需要剪切"},
    {Str::ClipQuestion,
     "This animation has some frames that extend beyond the GIF \"screen\" and should be clipped "
     "(not a reversible action).\n\nShould the animation be clipped and saved?"},
    {Str::UntitledName, "无标题.%s"},

    {Str::AviNoVideoStream, "无法找到视频流在 %s中。"},
    {Str::AviNoMemoryMovie, "内存不足以读取影片"},
    {Str::AviBadStreamFormat, "Bad stream format."},
    {Str::AviCodecMissing,
     "The \"%s\" codec must be installed for this AVI to be successfully imported.\n\nThe codec "
     "can usually be found online by searching for \"%s codec\"."},
    {Str::AviNoPalette, "Unable to create 8-bit global palette."},
    {Str::AviReadError, "Error encountered while reading video."},
    {Str::AviNoMemoryVideo, "Ran out of memory while reading video data."},
    {Str::AviCannotOpen, "Unable to AVI open %s. Error: 0x%x."},
    {Str::AviCannotCreate, "Unable to create AVI file %s."},
    {Str::AviFormatProblem, "Problems setting AVI format."},
    {Str::AviFrameError, "Error 0x%x when outputting frames to AVI."},
    {Str::AviCompressorFailed,
     "The Video For Windows compressor failed with %s.\nDo you want to save the AVI uncompressed "
     "and without audio?"},
    {Str::AviOutOfMemoryReason, "an Out of Memory Error"},
    {Str::AviErrorReason, "an Error 0x%x"},
    {Str::AviCompressionCaption, "Compression Error"},
    {Str::ReadingAvi, "正在读取AVI文件... (Esc键中止)"},
    {Str::PreparingAvi, "正在准备输出为AVI... (Esc键中止)"},
    {Str::WritingAvi, "正在输出为AVI... (Esc键中止)"},
    {Str::AviNoAudioIn,
     "No audio stream was found in %s. \n\nEither select another file or export the AVI without "
     "audio."},
    {Str::AviNoAudioToInterleave,
     "No audio stream found for interleaving. Export operation aborted."},
    {Str::AviNeedsFix,
     "该动画无法保存为 AVI 视频，它包含以下一项或多项: "
     "本地调色板、透明度或不完整的帧。所有这些问题可以被自动修复。"},
    {Str::FixForAviStep, "Fix for AVI"},
    {Str::AviLibrariesMissing,
     "AVI files need the FFmpeg libraries, which could not be loaded:\n%s"},
    {Str::OptimizingFrames, "正在优化帧图像..."},
    {Str::OptimizeNoResources, "Not enough resources to fully optimize animation."},
    {Str::OptimizeRanOut, "Ran out of resources during optimization."},
    {Str::OptimizeNoTrialMemory,
     "There is insufficient memory to experiment with optimization settings.\n\nTo optimize the "
     "animation, please choose the settings you desire and hit OK."},
    {Str::CopyingAnimation, "正在复制动画..."},
    {Str::ComputingSize, "正在计算文件尺寸..."},
    {Str::RemovingLocalPalettes, "正在移除局部调色板..."},
    {Str::ShrinkingGlobal, "正在收缩全局调色板..."},
    {Str::ShrinkingLocal, "正在收缩局部调色板..."},
    {Str::ByteCount, "%s 字节"},
    {Str::NoBytes, "无"},
    {Str::SavingPercent, "(%.1f%%)"},

    {Str::Unoptimizing, "正在反优化动画..."},
    {Str::UnoptimizeLocalPalettes,
     "Because of the existence of local palettes in this animation, it cannot be unoptimized."},
    {Str::UnoptimizeCaption, "Unable to Unoptimize"},
    {Str::UnoptimizeNoMemory, "Not enough memory for unoptimization."},
    {Str::UnoptimizeNoMemoryFrame, "Not enough memory to complete the unoptimizing."},

    {Str::BatchInputError, "input error: %s"},
    {Str::BatchUnknownFlag, "Unrecognized flag: %s"},
    {Str::BatchFileNotFound, "Input file %s not found"},
    {Str::BatchListReadError, "Error reading file list."},
    {Str::BatchMergeFailed, "Input merge unsuccessful."},
    {Str::BatchInputFailed, "Input operation unsuccessful."},
    {Str::BatchNothingToOutput, "Nothing to output."},
    {Str::BatchNothingToOptimize, "Nothing to optimize."},

    {Str::ThinIntervalInvalid,
     "The deletion interval must be in the range between 2 and the total number of frames."},
    {Str::ThinIntervalCaption, "Invalid Deletion Interval"},

    {Str::ReducingPalette, "正在缩减调色板..."},
    {Str::DitheringFrames, "正在抖动帧..."},
    {Str::RemappingFrames, "正在重映帧..."},
    {Str::RemappingLocalPalettes, "正在重映局部调色板..."},
    {Str::NonReducibleCaption, "Non-reducible Palette"},
    {Str::NonReducible,
     "The animation's palette contains 8 or fewer colors and cannot be further reduced."},
    {Str::NoMemoryReduce, "Not enough memory to reduce palette(s)."},
    {Str::NoMemoryPalettes, "Not enough memory to build new palettes."},
    {Str::NoMemoryDither, "Insufficient memory for dithering."},
    {Str::NoErrorRows, "Not enough resources for error diffusion of dithering operations."},

    {Str::NoResourcesLocalPalette, "Insufficient resources for removing the local palette."},

    {Str::PngCorrupt, "Error reading PNG data. File appears to be corrupt."},
    {Str::PngEncodeError,
     "There was an unexpected error encoding to PNG. Try saving to another format.\n\n"
     "Please report this problem, with the document if you can, to bugs@norvane.org."},
    {Str::ApngMixedKinds,
     "Cannot save an animated PNG (APNG) with mixed resolutions. All the frames need to be "
     "either 8bit, 24bit, or 32bit."},
    {Str::ApngLocalPalettes,
     "Cannot save an animated PNG (APNG) with local palettes. Use Animation>Optimize to "
     "automatically remove local palettes."},
    {Str::ApngMixedTransparency,
     "Cannot save an animated PNG (APNG) with a mix of transparent and non-transparent frames."},
    {Str::ApngTransparentIndex,
     "Cannot save an animated PNG (APNG) with transparent frames that do not use the same "
     "transparent index."},
    {Str::ApngFirstFrameMemory,
     "Unable to save the APNG due to memory constraints of filling the first frame."},
    {Str::FilmstripNameFormat, " (%dx%d)"},

    {Str::ImageCorrupt, "Error reading %s data. File appears to be corrupt."},
    {Str::ImageUnsupported, "This %s file uses a kind of image that cannot be read."},
    {Str::ImageEncodeError,
     "There was an unexpected error encoding to %s. Try saving to another format."},
    {Str::ImageTooLarge, "The animation is too large to be saved as %s."},

    {Str::OptimizeTitle, "优化动画"},
    {Str::OptimizeCropFrames, "缩减帧为最小的必须矩形"},
    {Str::OptimizeTransparency, "将重复的像素替换为透明"},
    {Str::OptimizeRemoveFrames, "删除不需要的帧"},
    {Str::OptimizeRemoveLocal, "删除局部调色板"},
    {Str::OptimizeMethodFit, "仅当可以映射到当前全局调色板时删除"},
    {Str::OptimizeMethodMap, "映射到全局调色板"},
    {Str::OptimizeMethodAdaptive, "创建一个全局外部调色板"},
    {Str::OptimizeShrink, "缩减调色板 ( 全局和局部 )"},
    {Str::OptimizeManual, "手工操作"},
    {Str::OptimizeStart, "开始"},
    {Str::OptimizeCurrentSize, "当前大小"},
    {Str::OptimizeAfterSize, "优化后大小"},
    {Str::OptimizeSaving, "节省"},
    {Str::CheckingRemovable, "正在检查可移动帧..."},
    {Str::CheckingRemoved, "正在检查被移动的帧..."},
    {Str::ButtonDone, "完成"},
    {Str::ButtonCancel, "取消"},
    {Str::ButtonOk, "确定"},

    {Str::ReduceTitle, "减少调色板"},
    {Str::ReduceColours, "颜色数:"},
    {Str::ReduceDither, "抖动调色板"},
    {Str::ReduceLocked, "锁定颜色(高级)"},
    {Str::DuplicatingAnimation, "正在重复动画..."},
    {Str::FileSizeBytes, "文件尺寸: %s 字节"},
    {Str::SavingBytes, "保存: %s 字节 (%.1f%%)"},
    {Str::SavingNone, "保存:无"},
    {Str::ColourCount, "(%d 色彩)"},
    {Str::ReduceBefore, "原图"},
    {Str::ReduceAfter, "缩减后"},
    {Str::LockedTitle, "选取锁定颜色"},
    {Str::LockedHint, "单击调色板或图像中的颜色以锁定或解锁它。"},
    {Str::LockedClear, "全部解锁"},

    {Str::ThinTitle, "减少帧计数"},
    {Str::ThinInterval, "每 N 帧删除一帧, N ="},
    {Str::ThinCurrent, "当前帧数:"},
    {Str::ThinAfter, "减少后帧数:"},
    {Str::ThinUnknown, "?"},

    {Str::MergeTitle, "调色板合并"},
    {Str::MergeAdaptive, "使用自适应全局调色板 ( 推荐 )"},
    {Str::MergeIntoGlobal, "将新调色板与当前全局调色板合并"},
    {Str::MergeMapGlobal, "映射新的调色板到当前全局调色板 ( 无改变 )"},
    {Str::MergeCube, "映射所有到 \"魔方\" 调色板"},
    {Str::MergeFixed, "映射所有到固定的调色板"},
    {Str::MergeLocal, "为每个新的帧使用局部调色板"},
    {Str::MergeDither, "当映射颜色时抖动"},
    {Str::MergeMaxColours, "最大颜色数 :"},
    {Str::MergeLocalColours, "当映射高彩色 (24-位) 帧时使用的最大颜色数"},
    {Str::MergeMakeDefault, "以此作为默认设置且不再提示"},
    {Str::ButtonLoad, "加载..."},
    {Str::ButtonEdit, "编辑..."},
    {Str::AlwaysAsk, "总是询问"},
    {Str::SizeTitle, "帧尺寸冲突"},
    {Str::SizeQuestion, "将要插入的帧大于当前动画的尺寸。您将采取何种方式处理?"},
    {Str::SizeClip, "剪切将要插入的帧以适应当前尺寸"},
    {Str::SizeGrow, "改变当前尺寸以适应将要插入的帧"},
    {Str::SizeMakeDefault, "使用这个作为默认设置不再提示"},
    {Str::FixedPaletteLoadTitle, "加载固定调色板"},
    {Str::FixedPaletteFilter, "调色板和图像 (*.pal *.gif *.png *.bmp);;所有文件 (*)"},
    {Str::FixedPaletteEditTitle, "编辑固定调色板"},
    {Str::FixedPaletteNone, "(没有固定调色板)"},

    {Str::PrefsTitle, "Preferences"},
    {Str::PagePurpose, "用途"},
    {Str::PageGeneral, "常规"},
    {Str::PagePalette, "调色板"},
    {Str::PageAnimation, "动画"},
    {Str::PageOutput, "输出"},
    {Str::PageOutput2, "输出II"},
    {Str::PageFrameTips, "帧提示"},
    {Str::PurposeGif, "创建GIF 和/或 256-色 AVI 动画。"},
    {Str::PurposeIcon, "创建Windows XP 图标。"},
    {Str::PurposeOther, "其它。我将自行管理调色板和色彩设置。"},
    {Str::PurposeTitle, "欢迎使用 Flickbook"},
    {Str::PurposePrompt, "您主要用 Flickbook 做什么? 调色板和色彩设置将据此调整, 以后可在参数选择的\"用途\"页中更改。"},
    {Str::InvalidDelay, "延迟必须在范围0 到65535内。."},
    {Str::InvalidDelayCaption, "无效延迟值"},
    {Str::InvalidPlayCount, "重复次数的数字必须从 0到65536。"},
    {Str::InvalidPlayCountCaption, "错误重复值"},
    {Str::CommentTooLong,
     "The comment string must be shorter than 255 characters. Use multiple comment blocks if "
     "necessary."},
    {Str::CommentTooLongCaption, "注释过长"},
    {Str::AssociationFailed, "Error setting GIF file association. Association not set."},
    {Str::ButtonChoose, "选择..."},
    {Str::PrefAutoPreview, "打开后自动预览动画"},
    {Str::PrefPreviewLoops, "预览时忽略重复次数, 一直循环"},
    {Str::PrefFullScreen, "全屏预览, 不显示控制 (按 Esc 键退出)"},
    {Str::PrefHideStart, "启动时不显示开始对话框"},
    {Str::PrefAssociate, "将 Flickbook 设为 GIF 文件的默认程序"},
    {Str::PrefInterlace, "允许隔行扫描"},
    {Str::PrefUndoLevels, "撤消级数:"},
    {Str::PrefEditor, "外部图像编辑器:"},
    {Str::PrefEditorTitle, "选择图像编辑器"},
    {Str::PrefPaletteMethod, "插入帧时的调色板处理"},
    {Str::PrefDefaultDelay, "新帧的默认延迟:"},
    {Str::PrefDefaultPlayCount, "新动画的默认重复次数 (0 = 一直循环):"},
    {Str::PrefSizeRule, "插入的帧大于动画时"},
    {Str::PrefKeep24Bit, "保留 24-位色彩和 Alpha 数据"},
    {Str::PrefTransparentOnLoad, "加载 8-位图像时将此颜色作为透明色"},
    {Str::PrefTransparentColourTitle, "透明色"},
    {Str::PrefSignature, "在保存的文件中加入注释:"},
    {Str::PrefFixedRate, "AVI 使用固定的帧速率 (帧/秒):"},
    {Str::PrefFramesPerSecond, "%.2f"},
    {Str::PrefJpegQuality, "JPEG 质量:"},
    {Str::PrefPsdLayerMask, "PSD 输出时用图层蒙版表示透明"},
    {Str::PrefIconXpOrder, "图标使用 XP 兼容的图像顺序"},
    {Str::PrefIconPng256, "256 像素的图标图像保存为 PNG"},
    {Str::PrefFilmstripNames, "电影胶片文件名中加入 \"( M x N )\""},
    {Str::PrefPngAlways24, "PNG 总是保存为 24-位或 32-位"},
    {Str::PrefTipsShown, "显示帧提示"},
    {Str::TipName, "帧名称"},
    {Str::TipNumber, "帧编号"},
    {Str::TipSize, "尺寸"},
    {Str::TipOffset, "偏移"},
    {Str::TipDelay, "延迟"},
    {Str::TipDisposal, "处理方式"},
    {Str::TipTransparency, "透明"},
    {Str::TipPaletteKind, "调色板类型"},
    {Str::TipBitCount, "位数"},

    {Str::AviSettingsTitle, "AVI 设置"},
    {Str::AviNone, "无压缩"},
    {Str::AviVideo1, "Video 1 ( CRAM ) 压缩"},
    {Str::AviRle8, "RLE8 压缩 ( 推荐)"},
    {Str::AviCustom, "自定义参数 ( 高级)"},
    {Str::AviCustomOther, "其他/ 自定义设置"},
    {Str::AviWrite24Bit, "保存为 24-位色"},
    {Str::AviIncludeAudio, "包含音频流"},
    {Str::AviBrowse, "浏览 ..."},
    {Str::AviInsertAudio, "Insert Audio"},
    {Str::AviAudioFilter,
     "Supported Audio Formats (*.wav *.mp3 *.ogg *.oga *.flac *.m4a *.aac *.avi *.mp4 *.mkv)"},
    {Str::AviFix, "修复"},
    {Str::CodecTitle, "视频压缩"},
    {Str::CodecName, "压缩程序:"},
    {Str::CodecKeyFrames, "关键帧间隔:"},
    {Str::CodecQuality, "压缩质量:"},
    {Str::CodecDataRate, "数据速率 (KB/秒, 0 = 不限):"},
    {Str::CodecNone, "没有可用的压缩程序。"},

    {Str::SaveAsTitle, "保存为"},
    {Str::SaveWholeAnimation, "整个动画"},
    {Str::SaveFramesOneByOne, "每帧一个文件"},
    {Str::SaveSingleImage, "仅当前帧"},
    {Str::SaveFilmstrip, "所有帧组成一张电影胶片图像"},
    {Str::SaveNumbered, "每帧一个编号的文件"},
    {Str::SaveFramesPerRow, "每行帧数 (0 = 全部):"},
    {Str::SaveVertical, "纵向排列"},
    {Str::SaveTrueColour, "保存为 24-位色"},

    {Str::HelpMissing, "Unable to find help file. Please re-install Flickbook."},
    {Str::TutorialMissing,
     "Unable to find the tutorial. Please re-install Flickbook.\n\nThe tutorial can also be read "
     "online at %s"},
    {Str::AboutTitle, "关于 Flickbook"},
    {Str::AboutText, "Flickbook %s\n\n动画 GIF 编辑器"},

    {Str::UndoOptimize, "优化动画"},
    {Str::UndoUnoptimize, "反优化动画"},
    {Str::UndoReduceColours, "缩减调色板"},
    {Str::UndoThin, "减少帧计数"},
    {Str::UndoReverse, "反向顺序"},
    {Str::UndoDelete, "删除"},
    {Str::UndoMoveFrames, "移动帧"},
    {Str::UndoInsertFrames, "插入帧"},
    {Str::UndoFrameProperties, "帧属性"},
    {Str::UndoCentre, "全部居中"},
    {Str::UndoDelays, "延迟"},
};

constexpr auto kIndex = [] {
  std::array<const char*, static_cast<size_t>(Str::Count_)> index{};
  for (const Entry& e : kTable) index[static_cast<size_t>(e.id)] = e.text;
  return index;
}();

static_assert(
    [] {
      for (const char* t : kIndex)
        if (t == nullptr) return false;
      return true;
    }(),
    "every string id needs a text");

}  // namespace

const char* text(Str id) {
  auto i = static_cast<size_t>(id);
  return i < kIndex.size() ? kIndex[i] : "";
}

}  // namespace fb
