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
    {Str::GifTooLarge,
     "A GIF cannot hold this animation: its screen, or a frame's size or position, goes beyond "
     "65535 pixels. Crop the animation first. Nothing was written."},

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
    {Str::AviFixedForSave,
     "The video was saved from a fixed copy: one global palette, no transparency and whole "
     "frames. The animation itself is unchanged."},
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

    {Str::OptimizeCaption, "优化动画"},
    {Str::OptimizeNotSmaller, "优化结果 (%s) 不小于当前编码 (%s)，动画保持不变。"},
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
