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
};

constexpr auto kIndex = [] {
  std::array<const char*, static_cast<size_t>(Str::Count_)> index{};
  for (const Entry& e : kTable) index[static_cast<size_t>(e.id)] = e.text;
  return index;
}();

static_assert([] {
  for (const char* t : kIndex)
    if (t == nullptr) return false;
  return true;
}(), "every string id needs a text");

}  // namespace

const char* text(Str id) {
  auto i = static_cast<size_t>(id);
  return i < kIndex.size() ? kIndex[i] : "";
}

}  // namespace fb
