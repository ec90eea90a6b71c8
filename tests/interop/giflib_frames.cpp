// Decodes a GIF with giflib and writes every frame's own image as
// DIR/frame-NNNN.png (RGBA: its pixels through its colour table, the
// transparent index of its graphic control block with alpha 0), and prints
// "left top width height" per frame. A peer decoder for the interop tests.
//   giflib_frames FILE DIR
#include <gif_lib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/file_ops.h"
#include "formats/png_rgba.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: giflib_frames FILE DIR\n");
    return 2;
  }
  int err = 0;
  GifFileType* gif = DGifOpenFileName(argv[1], &err);
  if (!gif) {
    std::fprintf(stderr, "giflib: %s\n", GifErrorString(err));
    return 1;
  }
  if (DGifSlurp(gif) != GIF_OK) {
    std::fprintf(stderr, "giflib: %s\n", GifErrorString(gif->Error));
    DGifCloseFile(gif, &err);
    return 1;
  }
  if (!fb::fileops::makeDirectories(argv[2])) return 1;
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& im = gif->SavedImages[i];
    const GifImageDesc& d = im.ImageDesc;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, i, &gcb);
    std::vector<uint8_t> rgba(static_cast<size_t>(d.Width) * d.Height * 4);
    for (size_t p = 0; p < static_cast<size_t>(d.Width) * d.Height; ++p) {
      const int v = im.RasterBits[p];
      uint8_t* out = &rgba[4 * p];
      if (v == gcb.TransparentColor) continue;  // alpha 0
      if (map && v < map->ColorCount) {
        out[0] = map->Colors[v].Red;
        out[1] = map->Colors[v].Green;
        out[2] = map->Colors[v].Blue;
      }
      out[3] = 255;
    }
    std::printf("%d %d %d %d\n", d.Left, d.Top, d.Width, d.Height);
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%04d.png", i);
    if (d.Width > 0 && d.Height > 0 &&
        !fb::writeRgbaPng(std::string(argv[2]) + name, d.Width, d.Height, rgba.data()))
      return 1;
  }
  DGifCloseFile(gif, &err);
  return 0;
}
