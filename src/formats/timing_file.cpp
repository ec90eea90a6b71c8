#include "formats/timing_file.h"

#include <sys/stat.h>

#include <charconv>

#include "base/file_ops.h"
#include "base/reporter.h"
#include "formats/picture_frames.h"
#include "resources/strings.h"

namespace fb {
namespace {

// Far more than 65535 frames' worth of delay lines and comments.
constexpr int64_t kMaxTimingBytes = 4 << 20;

// The line as the message quotes it: printable, and short.
std::string quoted(std::string_view line) {
  std::string out;
  for (char c : line.substr(0, 60)) {
    unsigned char u = static_cast<unsigned char>(c);
    out += u < 0x20 || u == 0x7F ? '?' : c;
  }
  if (line.size() > 60) out += "...";
  return out;
}

std::string_view trimmed(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string timingFilePath(const std::string& documentPath) {
  // The folder part as it stands (nothing when there is none), then the new name.
  size_t slash = documentPath.rfind('/');
  std::string folder = slash == std::string::npos ? "" : documentPath.substr(0, slash + 1);
  return folder + fileops::stemOf(documentPath) + "_timing.txt";
}

bool parseTiming(std::string_view text, int frameCount, std::vector<uint32_t>& out) {
  out.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view value = trimmed(line.substr(0, line.find('#')));
    if (value.empty()) continue;
    uint32_t delay = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), delay);
    if (ec != std::errc() || ptr != value.data() + value.size() || delay > 65535) {
      showWarning(format(Str::TimingBadLine, lineNumber, quoted(line).c_str()));
      out.clear();
      return false;
    }
    out.push_back(delay);
  }
  if (static_cast<int64_t>(out.size()) != frameCount) {
    showWarning(format(Str::TimingCountWrong, static_cast<int>(out.size()), frameCount));
    out.clear();
    return false;
  }
  return true;
}

std::string timingText(const Animation& a, uint32_t timeBase) {
  std::string s = "# Flickbook timing: one delay per frame, in hundredths of a second\n";
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    s += std::to_string(std::min<uint32_t>(ticksToGifDelay(f->delay, timeBase), 65535)) + "\n";
  return s;
}

bool loadTimingFile(Animation& a, const std::string& path, uint32_t timeBase) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kMaxTimingBytes) {
    showWarning(text(Str::TimingTooLarge));
    return false;
  }
  std::string bytes;
  if (!fileops::readWholeFile(path, bytes)) {
    showWarning(format(Str::CannotOpenFile, path.c_str()));
    return false;
  }
  std::vector<uint32_t> delays;
  if (!parseTiming(bytes, a.frameCount(), delays)) return false;
  int i = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f))
    f->delay = gifDelayToTicks(delays[static_cast<size_t>(i++)], timeBase);
  a.encodedSize = -1;
  return true;
}

Edit loadTimingEdit(std::string path, uint32_t timeBase) {
  return {text(Str::UndoLoadTiming), Change::allFrameFields(),
          [path, timeBase](Animation& a, Progress*) {
            return loadTimingFile(a, path, timeBase) ? 1 : 0;
          }};
}

bool saveTimingFile(const Animation& a, const std::string& path, uint32_t timeBase) {
  std::string s = timingText(a, timeBase);
  if (writeFileBytes(path, std::vector<uint8_t>(s.begin(), s.end()))) return true;
  showWarning(format(Str::CannotWriteTo, path.c_str()));
  return false;
}

}  // namespace fb
