#include "formats/png_rgba.h"

#include <png.h>

#include <cstring>

namespace fb {

bool writeRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  int ok = png_image_write_to_file(&image, path.c_str(), 0, rgba, 0, nullptr);
  png_image_free(&image);
  return ok != 0;
}

}  // namespace fb
