#include "shell/info.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>

#include "base/progress.h"
#include "base/reporter.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "io/open_save.h"
#include "resources/strings.h"
#include "shell/batch.h"

namespace fb {
namespace {

std::string loopWords(int32_t playCount) {
  if (playCount == 0) return text(Str::InfoLoopsForEver);
  if (playCount == 1) return text(Str::InfoPlaysOnce);
  return format(Str::InfoPlaysTimes, static_cast<int>(playCount));
}

std::string disposalWords(int disposal) {
  switch (disposal) {
    case 0:
      return text(Str::InfoDisposalNone);
    case 1:
      return text(Str::InfoDisposalKeep);
    case 2:
      return text(Str::InfoDisposalBackground);
    case 3:
      return text(Str::InfoDisposalPrevious);
    default:
      return format(Str::InfoDisposalOther, disposal);
  }
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string describeAnimation(const std::string& name, int type, int64_t fileBytes, Animation& a,
                              const RunSettings& run) {
  const double ticksPerSecond = run.open.defaults.timeBase ? run.open.defaults.timeBase : 100;
  std::string palette = a.globalPalette ? format(Str::InfoColours, a.globalPalette->count)
                                        : std::string(text(Str::InfoNone));
  std::string out = format(
      Str::InfoSummary, name.c_str(), upper(fileType(type).extension).c_str(), a.width, a.height,
      a.frameCount(), loopWords(a.playCount).c_str(), static_cast<double>(totalDelay(a)) / ticksPerSecond,
      palette.c_str(), static_cast<long long>(countEncodedSize(a, nullptr, run.save.gif)),
      static_cast<long long>(fileBytes));
  if (!run.verbose) return out;
  int n = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f)) {
    std::string transparency = f->transparent() ? format(Str::InfoTransparent, f->transparentIndex)
                                                : std::string(text(Str::InfoOpaque));
    std::string own = f->localPalette ? format(Str::InfoLocalPalette, f->localPalette->count)
                                      : std::string(text(Str::InfoGlobalPalette));
    out += format(Str::InfoFrame, ++n, f->left, f->top, f->width, f->height,
                  static_cast<double>(f->delay) / ticksPerSecond, disposalWords(f->disposal()).c_str(),
                  transparency.c_str(), own.c_str());
  }
  return out;
}

bool runInfo(const std::vector<FlagArg>& flags, const RunSettings& run) {
  ScratchFolder scratch;
  bool ok = true, first = true;
  for (const FlagArg& f : flags) {
    if (f.name != "--info" && f.name != "--verbose") continue;  // the files follow either
    for (const std::string& v : f.values) {
      std::vector<std::string> paths = v == "-" ? std::vector<std::string>{v} : expandInput(v);
      if (paths.empty()) {
        showWarning(format(Str::BatchFileNotFound, v.c_str()));
        ok = false;
      }
      for (const std::string& path : paths) {
        std::unique_ptr<Animation> a;
        std::string opened;
        int result;
        {
          InputNoteReporter note(reporter(), inputLabel(path));
          ScopedReporter scope(note);
          StderrProgress progress;
          result = openInput(path, a, &progress, run.open, scratch, &opened);
        }
        if (result != kReadComplete) ok = false;
        if (result == kReadFailed || !a) continue;
        struct stat st;
        int64_t bytes = ::stat(opened.c_str(), &st) == 0 ? st.st_size : -1;
        std::string summary =
            describeAnimation(inputLabel(path), typeOfPath(opened), bytes, *a, run);
        if (!first) std::fputs("\n", stdout);
        first = false;
        std::fputs(summary.c_str(), stdout);
        std::fflush(stdout);
      }
    }
  }
  return ok;
}

}  // namespace fb
