#include "formats/ffmpeg_api.h"

#include <dlfcn.h>

#include <mutex>

extern "C" {
#include <libavutil/macros.h>
}

namespace fb::ff {

#define FB_FFMPEG_DEFINE(name) decltype(&::name) name = nullptr;
FB_FFMPEG_FUNCTIONS(FB_FFMPEG_DEFINE)
#undef FB_FFMPEG_DEFINE

namespace {

// The versions the program was built against: their sonames carry the
// major version, and only those are binary compatible with the headers.
constexpr const char* kLibraries[] = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
    "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
};

std::string error;
bool loaded = false;

void* find(void* const* handles, const char* name) {
  for (size_t i = 0; i < std::size(kLibraries); ++i)
    if (void* p = dlsym(handles[i], name)) return p;
  return nullptr;
}

void loadOnce() {
  void* handles[std::size(kLibraries)] = {};
  for (size_t i = 0; i < std::size(kLibraries); ++i) {
    // Never unloaded: the pointers stay valid for the life of the process.
    handles[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_LOCAL);
    if (!handles[i]) {
      const char* why = dlerror();
      error = why ? why : kLibraries[i];
      return;
    }
  }
#define FB_FFMPEG_RESOLVE(fn)                                           \
  fn = reinterpret_cast<decltype(&::fn)>(find(handles, #fn));           \
  if (!fn) {                                                            \
    error = std::string(#fn) + " is missing from the FFmpeg libraries"; \
    return;                                                             \
  }
  FB_FFMPEG_FUNCTIONS(FB_FFMPEG_RESOLVE)
#undef FB_FFMPEG_RESOLVE
  av_log_set_level(AV_LOG_QUIET);
  loaded = true;
}

}  // namespace

bool load() {
  static std::once_flag once;
  std::call_once(once, loadOnce);
  return loaded;
}

const std::string& loadError() {
  return error;
}

}  // namespace fb::ff
