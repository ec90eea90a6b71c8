// fbinfo: a window into a document. Reads a file and prints its structure as
// JSON; can dump the composited pictures and the frames' own images as PNGs.
//
//   fbinfo [OPTIONS] FILE...   (a JSON array when there are several)
//     --optimize     optimize with the saved options
//     --optimize=best  optimize for the smallest file without changing a pixel
//                    (0x106E: the lossless options and the smallest LZW layout)
//     --optimize-options WORD   optimize with these option bits (hexadecimal, e.g. 0x46E;
//                    0x1000 adds the smallest LZW layout)
//     --lossy N      lossy LZW of strength N (0 off) in the optimizations after it
//     --smallest-layout  write the document with the smallest LZW layout
//     --unoptimize   make every frame a full, opaque picture
//     --thin N       remove every N-th frame, keeping the running time
//     --reduce N, --colors N   reduce every palette to N colours (2..256)
//     --dither       dither when reducing (with --reduce)
//     --rotate 90|180|270  turn the whole animation clockwise
//     --flip h|v     mirror the whole animation left-right (h) or upside down (v)
//     --crop X,Y,W,H crop the animation to the rectangle
//     --resize WxH   resize the animation (nearest pixel; --bicubic for bicubic)
//     --centre       centre every frame on the screen
//     --reverse      reverse the frame order
//     --ping-pong    play forwards then backwards
//     --blend FILE   blend the animation of FILE into this one (the stored blend options)
//     --load-timing FILE, --save-timing FILE   the frames' delays from or to a timing file
//     --html         print the HTML snippet for the file
//     --select all|I,J,...  the frames the frame commands below act on (0-based;
//                    every frame until given); the first is the current frame
//     --rotate-frames 90|180|270, --flip-frames h|v, --resize-frames WxH
//                    turn, mirror or resize the selected frames, each about itself
//     --move-crop X,Y,CX,CY,CW,CH  the current frame keeps its part CX,CY,CW,CH,
//                    placed at X,Y
//     --frame-props FIELD=VALUE,...  the frame dialog on the selected frames
//                    (every frame: the all-frames dialog): delay, disposal,
//                    transparent (0|1), transparent-index, user-input (0|1),
//                    interlaced (0|1), left, top, name (last: the rest of the text)
//     --animation-props FIELD=VALUE,...  width, height, play-count, background
//     --delays D,D,...   the timing editor: every frame's delay, in ticks
//     --comment-add TEXT, --comment-set N=TEXT, --comment-remove N   comment blocks
//                    (N 0-based among the comments)
//     --palette global|local   the palette the palette commands edit (local: the
//                    current frame's)
//     --palette-set FIRST=RRGGBB,...  entries from FIRST on take these colours
//     --palette-reorder I,J,...  new entry k is old entry I_k
//     --palette-merge  merge duplicate colours
//     --palette-load F.pal, --palette-save F.pal  the palette from or to a file
//     --paint INDEX:X,Y,X,Y,...  paint points of the current frame (one stroke)
//     --fill X,Y,INDEX  flood fill the current frame from X,Y
//     --pick-transparent X,Y  the index at X,Y becomes the transparent index
//     --co-edit PROGRAM, --co-edit-animation PROGRAM   the external editor on the
//                    current frame (a PNG) or the animation (a layered PSD):
//                    PROGRAM FILE runs to its end, and what it saved is read back
//     --undo, --redo   take back (or again) the last editing operation's step
//     --quality      the high-quality colour mode, when reducing and when mapping
//                    true-colour frames into palettes
//     --write OUT    save the document as OUT (the type from its extension; an AVI
//                    with the stored compression, after "Fix for AVI" when needed)
//     --avi-audio F  interleave the audio of file F into the AVI written
//     --save-options WORD  the save options word (hexadecimal; default 0x3, the
//                    whole animation): 0x8 24-bit, 0x10 filmstrip, 0x20 numbered files
//     --jpeg-quality Q     JPEG quality 1..100 (default: from the preferences)
//     --psd-layer-mask     PSD layers hide pixels with a layer mask
//     --icon-order-as-is   icon images in frame order (not PNG images last)
//     --icon-no-png        256-pixel icon images as bitmaps, not PNG
//   A FILE or OUT ending in .pal is a palette file: reading one prints its
//   colours; writing one saves the global palette (else the first frame's).
//   The operations run in the order given, before --write, --frames and --raw.
//     --frames DIR   every composited picture as DIR/frame-0000.png, ...
//     --raw DIR      every frame's own image as DIR/frame-0000.png, ...
//     --quiet        no JSON
//     --keep-24bit   keep 24-bit colour and alpha data after mapping true-colour
//                    frames into palettes (the preference, for this run only)
//   True-colour frames (PNG) are mapped into palettes after reading, as the
//   editor does when it opens them.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/animation.h"
#include "document/edit.h"
#include "document/frame_order.h"
#include "document/history.h"
#include "document/player.h"
#include "formats/avi.h"
#include "formats/html_snippet.h"
#include "formats/image_files.h"
#include "formats/png_rgba.h"
#include "formats/timing_file.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/blend.h"
#include "imaging/edits.h"
#include "imaging/frame_count.h"
#include "imaging/optimizer.h"
#include "imaging/palette_merge.h"
#include "imaging/reduce.h"
#include "imaging/transform.h"
#include "imaging/unoptimize.h"
#include "io/external_edit.h"
#include "io/open_save.h"
#include "io/options.h"

using namespace fb;

namespace {

// One operation of the command line. Those that run as undo steps, or change
// nothing, keep the history; any other change ends it (--undo cannot reach past).
struct Operation {
  template <class F>
  Operation(F f, bool keeps = false) : run(std::move(f)), keepsHistory(keeps) {}
  std::function<bool(Animation&)> run;
  bool keepsHistory;
};

void usage(std::FILE* out) {
  std::fputs(
      "usage: fbinfo [OPTIONS] FILE...\n"
      "Prints the structure of an animation as JSON (an array of them for several\n"
      "files; --write, --frames and --raw take one FILE).\n"
      "  --optimize     optimize with the saved options\n"
      "  --optimize=best\n"
      "                 optimize for the smallest file without changing a pixel (0x106E)\n"
      "  --optimize-options WORD\n"
      "                 optimize with these option bits (hexadecimal, e.g. 0x46E;\n"
      "                 0x1000 adds the smallest LZW layout)\n"
      "  --lossy N      lossy LZW of strength N (0 off) in the optimizations after it\n"
      "  --smallest-layout\n"
      "                 write the document with the smallest LZW layout\n"
      "  --unoptimize   make every frame a full, opaque picture\n"
      "  --thin N       remove every N-th frame, keeping the running time\n"
      "  --reduce N, --colors N\n"
      "                 reduce every palette to N colours (2..256)\n"
      "  --dither       dither when reducing (with --reduce)\n"
      "  --rotate 90|180|270  turn the whole animation clockwise\n"
      "  --flip h|v     mirror the animation left-right (h) or upside down (v)\n"
      "  --crop X,Y,W,H crop the animation to the rectangle\n"
      "  --resize WxH   resize the animation (nearest pixel)\n"
      "  --bicubic      resize with bicubic resampling (with --resize)\n"
      "  --centre       centre every frame on the screen\n"
      "  --reverse      reverse the frame order\n"
      "  --ping-pong    play forwards then backwards\n"
      "  --blend FILE   blend the animation of FILE into this one\n"
      "  --load-timing FILE   every frame's delay from a timing file\n"
      "  --save-timing FILE   the frames' delays to a timing file\n"
      "  --html         print the HTML snippet\n"
      "  --select all|I,J,...  the frames the frame commands act on (0-based; default all);\n"
      "                 the first is the current frame\n"
      "  --rotate-frames 90|180|270, --flip-frames h|v, --resize-frames WxH\n"
      "                 turn, mirror or resize the selected frames\n"
      "  --move-crop X,Y,CX,CY,CW,CH  the current frame keeps CX,CY,CW,CH, placed at X,Y\n"
      "  --frame-props FIELD=VALUE,...  delay, disposal, transparent, transparent-index,\n"
      "                 user-input, interlaced, left, top, name (last) of the selected frames\n"
      "  --animation-props FIELD=VALUE,...  width, height, play-count, background\n"
      "  --delays D,D,...  every frame's delay, in ticks (the timing editor)\n"
      "  --comment-add TEXT, --comment-set N=TEXT, --comment-remove N\n"
      "  --palette global|local   the palette the palette commands edit\n"
      "  --palette-set FIRST=RRGGBB,...  --palette-reorder I,J,...  --palette-merge\n"
      "  --palette-load F.pal, --palette-save F.pal\n"
      "  --paint INDEX:X,Y,...  --fill X,Y,INDEX  --pick-transparent X,Y   (current frame)\n"
      "  --co-edit PROGRAM, --co-edit-animation PROGRAM   the external editor, run to its end\n"
      "  --undo, --redo   take back (or again) the last editing operation's step\n"
      "  --quality      the high-quality colour mode, when reducing and when mapping\n"
      "                 true-colour frames into palettes\n"
      "  (operations run in the order given, before the outputs)\n"
      "  --write OUT    save the document as OUT (the type from its extension; an AVI\n"
      "                 with the stored compression, after \"Fix for AVI\" when needed)\n"
      "  --avi-audio F  interleave the audio of file F into the AVI written\n"
      "  --save-options WORD\n"
      "                 the save options word (hexadecimal; default 0x3): 0x8 24-bit,\n"
      "                 0x10 filmstrip, 0x20 numbered files\n"
      "  --jpeg-quality Q      JPEG quality 1..100\n"
      "  --psd-layer-mask      PSD layers hide pixels with a layer mask\n"
      "  --icon-order-as-is    icon images in frame order\n"
      "  --icon-no-png         256-pixel icon images as bitmaps, not PNG\n"
      "  a FILE or OUT ending in .pal is a palette file\n"
      "  --frames DIR   write every composited picture as DIR/frame-NNNN.png\n"
      "  --raw DIR      write every frame's own image as DIR/frame-NNNN.png\n"
      "  --quiet        do not print the JSON\n"
      "  --keep-24bit   keep true-colour frames' 24-bit data when mapping them into palettes\n"
      "  -h, --help     this text\n",
      out);
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  // Keep the output valid UTF-8 even for comments that are not.
  std::string clean;
  for (size_t i = 0; i < out.size();) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= out.size();
    for (int k = 1; ok && k < len; ++k)
      ok = (static_cast<unsigned char>(out[i + k]) & 0xC0) == 0x80;
    if (ok) {
      clean.append(out, i, static_cast<size_t>(len));
      i += static_cast<size_t>(len);
    } else {
      clean += "\\ufffd";
      ++i;
    }
  }
  return clean + "\"";
}

uint64_t pixelHash(const Frame& f) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 1099511628211ull;
    }
  };
  if (f.dib)
    for (int y = 0; y < f.dib->height; ++y) mix(f.dib->row(y), static_cast<size_t>(f.dib->width));
  return h;
}

std::string paletteJson(const Palette* p) {
  if (!p) return "null";
  std::string s = "[";
  char buf[16];
  for (int i = 0; i < p->count; ++i) {
    std::snprintf(buf, sizeof buf, "%s\"%02x%02x%02x\"", i ? "," : "", (*p)[i].r, (*p)[i].g,
                  (*p)[i].b);
    s += buf;
  }
  return s + "]";
}

void printJson(const std::string& path, int result, Animation& a) {
  std::printf("{\n");
  std::printf("  \"file\": %s,\n", jsonString(path).c_str());
  std::printf("  \"result\": %d,\n", result);
  std::printf("  \"width\": %d,\n  \"height\": %d,\n", a.width, a.height);
  std::printf("  \"playCount\": %d,\n  \"frameCount\": %d,\n", a.playCount, a.frameCount());
  std::printf("  \"hideFirstFrame\": %d,\n", a.hideFirstFrame);
  std::printf("  \"apngRules\": %d,\n", a.apngRules);
  std::printf("  \"screenFlags\": %d,\n  \"backgroundIndex\": %d,\n  \"aspectRatio\": %d,\n",
              a.screenFlags, a.backgroundIndex, a.aspectRatio);
  std::printf("  \"encodedSize\": %d,\n", a.encodedSize);
  std::printf("  \"computedEncodedSize\": %d,\n", encodedSize(a, true, nullptr));
  std::printf("  \"totalDelay\": %lld,\n", static_cast<long long>(totalDelay(a)));
  std::printf("  \"globalPalette\": %s,\n", paletteJson(a.globalPalette.get()).c_str());
  std::printf("  \"blocks\": [");
  int index = 0;
  bool firstBlock = true;
  for (Block* b = a.head->next; b; b = b->next) {
    std::printf("%s\n    {", firstBlock ? "" : ",");
    firstBlock = false;
    if (b->isFrame()) {
      auto& f = static_cast<Frame&>(*b);
      std::printf("\"type\": \"frame\", \"index\": %d, \"name\": %s, ", index++,
                  jsonString(frameName(f)).c_str());
      std::printf("\"left\": %d, \"top\": %d, \"width\": %d, \"height\": %d, ", f.left, f.top,
                  f.width, f.height);
      std::printf("\"hotspotX\": %d, \"hotspotY\": %d, ", f.hotspotX, f.hotspotY);
      std::printf("\"delay\": %d, \"disposal\": %d, \"transparent\": %s, ", f.delay, f.disposal(),
                  f.transparent() ? "true" : "false");
      std::printf("\"transparentIndex\": %d, \"controlFlags\": %d, \"imageFlags\": %d, ",
                  f.transparentIndex, f.controlFlags, f.imageFlags);
      std::printf("\"blend\": %d, \"hasRgb\": %s, \"hasAlpha\": %s, ", f.blend,
                  f.hasRgb() ? "true" : "false", f.alpha.empty() ? "false" : "true");
      std::printf("\"localPalette\": %s, ", paletteJson(f.localPalette.get()).c_str());
      ByteSink counter;
      writeFrameImage(counter, f);
      std::printf("\"encodedFrameSize\": %lld, ", static_cast<long long>(counter.total()));
      std::printf("\"pixelHash\": \"%016llx\"}", static_cast<unsigned long long>(pixelHash(f)));
    } else {
      std::printf("\"type\": \"extension\", \"tag\": %d, \"payloadSize\": %zu", b->tag,
                  b->payload.size());
      std::string comment;
      if (commentText(b, comment)) std::printf(", \"text\": %s", jsonString(comment).c_str());
      std::printf("}");
    }
  }
  std::printf("\n  ]\n}\n");
}

std::string numbered(const std::string& dir, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%04d.png", i);
  return dir + name;
}

bool writeFrames(Animation& a, const std::string& dir) {
  if (!fileops::makeDirectories(dir)) return false;
  auto player = startPlayer(a);
  if (!player) return false;
  int i = 0;
  for (Frame* c = firstPicture(*player); c; c = nextPicture(*player), ++i) {
    auto rgba = canvasToRgba(*c);
    if (!writeRgbaPng(numbered(dir, i), c->width, c->height, rgba.data())) return false;
  }
  return true;
}

bool writeRaw(Animation& a, const std::string& dir) {
  if (!fileops::makeDirectories(dir)) return false;
  int i = 0;
  for (Frame* f = firstFrame(a); f; f = nextFrame(f), ++i) {
    auto rgba = frameToRgba(*f);
    if (f->width == 0 || f->height == 0) continue;
    if (!writeRgbaPng(numbered(dir, i), f->width, f->height, rgba.data())) return false;
  }
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int printPaletteFile(const std::string& path, const std::function<void()>& beforeObject) {
  std::unique_ptr<Palette> p;
  if (!ReadPaletteFile(path, p)) return 1;
  beforeObject();
  std::printf("{\n  \"file\": %s,\n  \"palette\": %s\n}\n", jsonString(path).c_str(),
              paletteJson(p.get()).c_str());
  return 0;
}

// Reads a document as the editor opens it: true-colour frames join palettes.
// The reader's result, kReadFailed when it cannot be used.
// `quality`: true-colour frames join the palettes in the high-quality colour mode.
int openDocument(const std::string& path, std::unique_ptr<Animation>& a, bool quality = false) {
  int result;
  {
    InputNoteReporter note(reporter(), path);  // messages say which file
    ScopedReporter scope(note);
    StderrProgress progress;
    result = openFile(path, a, &progress, openOptionsFromPreferences());
  }
  if (result == kReadFailed || !a) return kReadFailed;
  bool trueColour = false;
  for (Frame* f = firstFrame(*a); f; f = nextFrame(f))
    if (f->hasRgb() && !f->dib) trueColour = true;
  if (trueColour) {
    StderrProgress progress;
    const MergeOptions mergeOptions = mergeOptionsFromPreferences();
    const uint32_t method = quality ? mergeOptions.storedMethod | merge::Quality : 0;
    if (mergePalettes(nullptr, *a, method, nullptr, &progress, mergeOptions) != 1)
      return kReadFailed;
  }
  return result;
}

// "X,Y,W,H" or "WxH" as whole numbers; false when the text is not exactly that.
bool parseNumbers(const std::string& s, char separator, std::vector<int>& out, size_t count) {
  out.clear();
  size_t pos = 0;
  while (out.size() < count) {
    size_t end = out.size() + 1 < count ? s.find(separator, pos) : s.size();
    if (end == std::string::npos || end == pos) return false;
    std::string part = s.substr(pos, end - pos);
    char* stop = nullptr;
    long v = std::strtol(part.c_str(), &stop, 10);
    if (*stop || v < -1000000 || v > 1000000) return false;
    out.push_back(static_cast<int>(v));
    pos = end + 1;
  }
  return true;
}

// Whole numbers separated by commas, as many as there are (at least one).
bool parseList(const std::string& s, std::vector<int>& out) {
  size_t count = static_cast<size_t>(std::count(s.begin(), s.end(), ',')) + 1;
  return parseNumbers(s, ',', out, count);
}

bool parseRotation(const std::string& v, Rotation& r) {
  if (v == "90")
    r = Rotation::Clockwise90;
  else if (v == "180")
    r = Rotation::Half;
  else if (v == "270")
    r = Rotation::Anticlockwise90;
  else
    return false;
  return true;
}

// The frames a frame command acts on: those selected, else every frame.
std::vector<int> framesOf(const std::optional<std::vector<int>>& selection, const Animation& a) {
  if (selection) return *selection;
  std::vector<int> all;
  for (int i = 0; i < a.frameCount(); ++i) all.push_back(i);
  return all;
}

ResizeOptions resizeOptions(bool bicubic) {
  ResizeOptions o;
  o.filter = bicubic ? ResizeFilter::Bicubic : ResizeFilter::Nearest;
  return o;
}

// "RRGGBB,RRGGBB,...".
bool parseColours(const std::string& s, std::vector<Rgb>& out) {
  out.clear();
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t end = std::min(s.find(',', pos), s.size());
    std::string part = s.substr(pos, end - pos);
    char* stop = nullptr;
    unsigned long v = std::strtoul(part.c_str(), &stop, 16);
    if (part.size() != 6 || *stop) return false;
    out.push_back({uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    pos = end + 1;
  }
  return !out.empty();
}

// "FIELD=VALUE,...": each field's value as a number, handed to `set`, which
// says whether it knows the field. A field named `textField` takes the rest of
// the text, commas and all.
bool parseFields(const std::string& s, const char* textField,
                 const std::function<bool(const std::string&, const std::string&)>& set) {
  size_t pos = 0;
  while (pos < s.size()) {
    size_t eq = s.find('=', pos);
    if (eq == std::string::npos) return false;
    std::string field = s.substr(pos, eq - pos);
    size_t end = field == textField ? s.size() : std::min(s.find(',', eq), s.size());
    if (!set(field, s.substr(eq + 1, end - eq - 1))) return false;
    pos = end + 1;
  }
  return !s.empty();
}

bool number(const std::string& v, std::optional<int>& out) {
  std::vector<int> n;
  if (!parseNumbers(v, ',', n, 1)) return false;
  out = n[0];
  return true;
}

bool flag(const std::string& v, std::optional<bool>& out) {
  if (v != "0" && v != "1") return false;
  out = v == "1";
  return true;
}

// delay=, disposal=, transparent=0|1, transparent-index=, user-input=0|1,
// interlaced=0|1, left=, top=, name= (last: the rest of the text).
bool parseFrameProperties(const std::string& s, FrameProperties& p) {
  return parseFields(s, "name", [&p](const std::string& f, const std::string& v) {
    if (f == "name") {
      p.name = v;
      return true;
    }
    if (f == "transparent") return flag(v, p.transparent);
    if (f == "user-input") return flag(v, p.userInput);
    if (f == "interlaced") return flag(v, p.interlaced);
    std::optional<int>* n = f == "delay"               ? &p.delay
                            : f == "disposal"          ? &p.disposal
                            : f == "transparent-index" ? &p.transparentIndex
                            : f == "left"              ? &p.left
                            : f == "top"               ? &p.top
                                                       : nullptr;
    return n && number(v, *n);
  });
}

// width=, height=, play-count=, background=.
bool parseAnimationProperties(const std::string& s, AnimationProperties& p) {
  return parseFields(s, "", [&p](const std::string& f, const std::string& v) {
    std::optional<int>* n = f == "width"        ? &p.width
                            : f == "height"     ? &p.height
                            : f == "play-count" ? &p.playCount
                            : f == "background" ? &p.backgroundIndex
                                                : nullptr;
    return n && number(v, *n);
  });
}

// The external editor as a script uses it: `program FILE` runs to its end,
// and what it saved is read back as one undo step (nothing when it saved
// nothing new). False when the program fails or the file cannot be taken.
bool coEdit(Animation& a, History& history, const ExternalEditOptions& o,
            const std::string& program) {
  auto session = ExternalEdit::begin(a, o);
  if (!session) return false;
  // The file as written dates from long ago, so that a save within the
  // clock's tick still shows as a change (same bytes still count as none).
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
  ::utimensat(AT_FDCWD, session->path().c_str(), times, 0);
  std::fflush(stdout);
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(2, 1);  // what the editor prints stays out of the JSON
    ::execlp(program.c_str(), program.c_str(), session->path().c_str(), nullptr);
    std::fprintf(stderr, "fbinfo: cannot run %s\n", program.c_str());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "fbinfo: the editor %s failed\n", program.c_str());
    return false;
  }
  for (int look = 0; look < 3; ++look) {
    ExternalEdit::Status seen = session->poll();
    if (seen == ExternalEdit::Status::Unchanged) return true;
    if (seen == ExternalEdit::Status::Saved) {
      Edit e;
      StderrProgress progress;
      return session->readBack(a, e) && runEdit(a, history, e, o.frame, &progress) == 1;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string framesDir, rawDir, writePath, aviAudio;
  std::vector<std::string> paths;
  std::string current;  // the file being processed
  // Operations on the document, in the order given.
  std::vector<Operation> operations;
  // The editing operations run as the editor's commands do, each one undo step.
  History history;
  std::optional<std::vector<int>> selection;  // --select; none: every frame
  PaletteTarget paletteTarget;                // --palette; the global one by default
  auto edit = [&](std::function<Edit(Animation&)> make) {
    operations.push_back(Operation(
        [&history, make, sel = selection](Animation& a) {
          StderrProgress progress;
          int current = sel && !sel->empty() ? sel->front() : 0;
          return runEdit(a, history, make(a), current, &progress) == 1;
        },
        true));
  };
  // The current frame: the first selected.
  auto currentFrame = [&selection] {
    return selection && !selection->empty() ? selection->front() : 0;
  };
  auto bad = [](const char* flag, const char* what, const std::string& v) {
    std::fprintf(stderr, "fbinfo: %s takes %s, not %s\n", flag, what, v.c_str());
    return 2;
  };
  bool quiet = false;
  bool keep24 = false;
  bool dither = false;   // read when --reduce runs, wherever it stands
  bool bicubic = false;  // read when --resize runs, wherever it stands
  bool quality = false;  // likewise, and for true-colour frames after reading
  int lossy = 0;        // for the optimizations given after it
  uint32_t saveWord = saveopt::WholeAnimation;
  int jpegQuality = 0;
  bool psdLayerMask = false, iconAsIs = false, iconNoPng = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        usage(stderr);
        std::exit(2);
      }
      out = argv[++i];
    };
    // The next argument as a whole number in min..max; false (said why) when it is not.
    auto number = [&](long min, long max, const char* what, long& out) {
      std::string n;
      value(n);
      char* end = nullptr;
      out = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end || out < min || out > max) {
        std::fprintf(stderr, "fbinfo: %s takes %s, not %s\n", arg.c_str(), what, n.c_str());
        return false;
      }
      return true;
    };
    // The next argument as hexadecimal bits; false (said why) when it is not.
    auto hexValue = [&](uint32_t& out) {
      std::string word;
      value(word);
      char* end = nullptr;
      out = static_cast<uint32_t>(std::strtoul(word.c_str(), &end, 16));
      if (!word.empty() && !*end) return true;
      std::fprintf(stderr, "fbinfo: %s takes hexadecimal bits, not %s\n", arg.c_str(),
                   word.c_str());
      return false;
    };
    if (arg == "--frames")
      value(framesDir);
    else if (arg == "--write")
      value(writePath);
    else if (arg == "--avi-audio")
      value(aviAudio);
    else if (arg == "--optimize" || arg == "--optimize=best" || arg == "--optimize-options") {
      // --optimize takes the saved options, read when it runs.
      const bool saved = arg == "--optimize";
      uint32_t bits = opt::Best;
      if (arg == "--optimize-options" && !hexValue(bits)) return 2;
      operations.push_back([saved, bits, lossy, &writePath](Animation& a) {
        OptimizeJob job;
        job.keepEncoding = !writePath.empty();
        job.document = &a;
        job.options = saved ? optimizeOptionsFromPreferences() : bits;
        job.merge = mergeOptionsFromPreferences();
        job.gif = gifWriteOptionsFromPreferences();
        job.lossy = lossy;
        StderrProgress progress;
        job.progress = &progress;
        return runOptimizeJob(job);
      });
    } else if (arg == "--smallest-layout") {
      operations.push_back([](Animation& a) {
        a.smallestEncoding = true;
        a.encodedSize = -1;
        return true;
      });
    } else if (arg == "--unoptimize") {
      operations.push_back([](Animation& a) {
        StderrProgress progress;
        return unoptimize(a, &progress);
      });
    } else if (arg == "--thin") {
      long parsed = 0;
      if (!number(0, 0x7FFFFFFF, "a frame interval", parsed)) return 2;
      int interval = static_cast<int>(parsed);
      operations.push_back([interval](Animation& a) { return reduceFrameCount(a, interval); });
    } else if (arg == "--reduce" || arg == "--colors") {
      long colours = 0;
      if (!number(2, 256, "a colour count of 2..256", colours)) return 2;
      operations.push_back([colours, &dither, &quality](Animation& a) {
        StderrProgress progress;
        return reducePalettes(a, static_cast<int>(colours), dither, {}, &progress, quality) == 1;
      });
    } else if (arg == "--lossy") {
      long strength = 0;
      if (!number(0, 1000, "a strength from 0 to 1000", strength)) return 2;
      lossy = static_cast<int>(strength);
    } else if (arg == "--dither") {
      dither = true;
    } else if (arg == "--rotate" || arg == "--rotate-frames") {
      std::string v;
      value(v);
      Rotation r;
      if (!parseRotation(v, r)) return bad(arg.c_str(), "90, 180 or 270", v);
      if (arg == "--rotate")
        edit([r](Animation&) { return rotateAnimationEdit(r); });
      else
        edit([r, sel = selection](Animation& a) { return rotateFramesEdit(framesOf(sel, a), r); });
    } else if (arg == "--flip" || arg == "--flip-frames") {
      std::string v;
      value(v);
      if (v != "h" && v != "v") return bad(arg.c_str(), "h or v", v);
      FlipAxis axis = v == "h" ? FlipAxis::Horizontal : FlipAxis::Vertical;
      if (arg == "--flip")
        edit([axis](Animation&) { return flipAnimationEdit(axis); });
      else
        edit([axis, sel = selection](Animation& a) {
          return flipFramesEdit(framesOf(sel, a), axis);
        });
    } else if (arg == "--crop") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseNumbers(v, ',', n, 4)) {
        std::fprintf(stderr, "fbinfo: --crop takes X,Y,W,H, not %s\n", v.c_str());
        return 2;
      }
      Rect r{n[0], n[1], n[2], n[3]};
      edit([r](Animation&) { return cropAnimationEdit(r); });
    } else if (arg == "--resize" || arg == "--resize-frames") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseNumbers(v, 'x', n, 2)) return bad(arg.c_str(), "WxH", v);
      if (arg == "--resize")
        edit([n, &bicubic](Animation&) {
          return resizeAnimationEdit(n[0], n[1], resizeOptions(bicubic));
        });
      else
        edit([n, sel = selection, &bicubic](Animation& a) {
          return resizeFramesEdit(framesOf(sel, a), n[0], n[1], resizeOptions(bicubic));
        });
    } else if (arg == "--bicubic") {
      bicubic = true;
    } else if (arg == "--centre") {
      edit([](Animation&) { return centreAllEdit(); });
    } else if (arg == "--reverse") {
      edit([](Animation&) { return reverseEdit(); });
    } else if (arg == "--ping-pong") {
      edit([](Animation&) { return pingPongEdit(); });
    } else if (arg == "--blend") {
      std::string file;
      value(file);
      operations.push_back(Operation(
          [file, &history](Animation& a) {
            std::unique_ptr<Animation> other;
            if (openDocument(file, other) == kReadFailed) return false;
            StderrProgress progress;
            Edit e = blendEdit(std::move(other), blendOptionsFromPreferences(), nullptr);
            return runEdit(a, history, e, 0, &progress) == 1;
          },
          true));
    } else if (arg == "--load-timing") {
      std::string file;
      value(file);
      edit([file](Animation&) {
        return loadTimingEdit(file, documentDefaultsFromPreferences().timeBase);
      });
    } else if (arg == "--save-timing") {
      std::string file;
      value(file);
      operations.push_back(Operation(
          [file](Animation& a) {
            return saveTimingFile(a, file, documentDefaultsFromPreferences().timeBase);
          },
          true));
    } else if (arg == "--html") {
      // The file being processed is known only when the operation runs.
      operations.push_back(Operation(
          [&current](Animation& a) {
            std::printf("%s\n",
                        htmlSnippet(current, a.width, a.height, defaultAltText(current)).c_str());
            return true;
          },
          true));
    } else if (arg == "--select") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (v == "all")
        selection.reset();
      else if (parseList(v, n))
        selection = n;
      else
        return bad("--select", "all or frame numbers I,J,...", v);
    } else if (arg == "--move-crop") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseNumbers(v, ',', n, 6)) return bad("--move-crop", "X,Y,CX,CY,CW,CH", v);
      int frame = currentFrame();
      edit([n, frame](Animation&) {
        return moveCropFrameEdit(frame, n[0], n[1], Rect{n[2], n[3], n[4], n[5]});
      });
    } else if (arg == "--frame-props") {
      std::string v;
      value(v);
      FrameProperties p;
      if (!parseFrameProperties(v, p)) return bad("--frame-props", "FIELD=VALUE,...", v);
      if (selection)
        edit([p, sel = selection](Animation& a) {
          return framePropertiesEdit(framesOf(sel, a), p);
        });
      else
        edit([p](Animation&) { return allFramePropertiesEdit(p); });
    } else if (arg == "--animation-props") {
      std::string v;
      value(v);
      AnimationProperties p;
      if (!parseAnimationProperties(v, p)) return bad("--animation-props", "FIELD=VALUE,...", v);
      edit([p](Animation&) { return animationPropertiesEdit(p); });
    } else if (arg == "--delays") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseList(v, n)) return bad("--delays", "one delay per frame D,D,...", v);
      edit([n](Animation&) { return setFrameDelaysEdit(n); });
    } else if (arg == "--comment-add") {
      std::string v;
      value(v);
      edit([v](Animation&) { return addCommentEdit(v); });
    } else if (arg == "--comment-set") {
      std::string v;
      value(v);
      size_t eq = v.find('=');
      std::vector<int> n;
      if (eq == std::string::npos || !parseList(v.substr(0, eq), n) || n.size() != 1)
        return bad("--comment-set", "N=TEXT", v);
      edit([index = n[0], t = v.substr(eq + 1)](Animation&) { return setCommentEdit(index, t); });
    } else if (arg == "--comment-remove") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseList(v, n) || n.size() != 1) return bad("--comment-remove", "a comment number", v);
      edit([index = n[0]](Animation&) { return removeCommentEdit(index); });
    } else if (arg == "--palette") {
      std::string v;
      value(v);
      if (v == "global")
        paletteTarget = PaletteTarget::global();
      else if (v == "local")
        paletteTarget = PaletteTarget::local(currentFrame());
      else
        return bad("--palette", "global or local", v);
    } else if (arg == "--palette-set") {
      std::string v;
      value(v);
      size_t eq = v.find('=');
      std::vector<int> n;
      std::vector<Rgb> colours;
      if (eq == std::string::npos || !parseList(v.substr(0, eq), n) || n.size() != 1 ||
          !parseColours(v.substr(eq + 1), colours))
        return bad("--palette-set", "FIRST=RRGGBB,RRGGBB,...", v);
      edit([t = paletteTarget, first = n[0], colours](Animation&) {
        return setPaletteEntriesEdit(t, first, colours);
      });
    } else if (arg == "--palette-reorder") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseList(v, n)) return bad("--palette-reorder", "entry numbers I,J,...", v);
      edit([t = paletteTarget, n](Animation&) { return reorderPaletteEdit(t, n); });
    } else if (arg == "--palette-merge") {
      edit([t = paletteTarget](Animation&) { return mergeDuplicateColoursEdit(t); });
    } else if (arg == "--palette-load") {
      std::string file;
      value(file);
      edit([t = paletteTarget, file](Animation&) { return loadPaletteFileEdit(t, file); });
    } else if (arg == "--palette-save") {
      std::string file;
      value(file);
      operations.push_back(Operation(
          [t = paletteTarget, file](Animation& a) {
            const Palette* p = targetPalette(a, t);
            return p && WritePaletteFile(file, *p);
          },
          true));
    } else if (arg == "--paint") {
      std::string v;
      value(v);
      size_t colon = v.find(':');
      std::vector<int> index, xy;
      if (colon == std::string::npos || !parseList(v.substr(0, colon), index) ||
          index.size() != 1 || !parseList(v.substr(colon + 1), xy) || xy.empty() || xy.size() % 2)
        return bad("--paint", "INDEX:X,Y,X,Y,...", v);
      std::vector<Point> points;
      for (size_t k = 0; k < xy.size(); k += 2) points.push_back({xy[k], xy[k + 1]});
      int frame = currentFrame();
      edit([frame, points, i = index[0]](Animation&) { return paintPixelsEdit(frame, points, i); });
    } else if (arg == "--fill") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseNumbers(v, ',', n, 3)) return bad("--fill", "X,Y,INDEX", v);
      int frame = currentFrame();
      edit([frame, n](Animation&) { return floodFillEdit(frame, {n[0], n[1]}, n[2]); });
    } else if (arg == "--pick-transparent") {
      std::string v;
      value(v);
      std::vector<int> n;
      if (!parseNumbers(v, ',', n, 2)) return bad("--pick-transparent", "X,Y", v);
      int frame = currentFrame();
      edit([frame, n](Animation&) { return pickTransparentIndexEdit(frame, {n[0], n[1]}); });
    } else if (arg == "--co-edit" || arg == "--co-edit-animation") {
      std::string program;
      value(program);
      ExternalEditOptions o;
      o.wholeAnimation = arg == "--co-edit-animation";
      o.frame = currentFrame();
      operations.push_back(Operation(
          [o, program, &history, &current](Animation& a) mutable {
            o.open = openOptionsFromPreferences();
            o.psdLayerMask = saveOptionsFromPreferences().formats.psdLayerMask;
            o.documentName = current;
            return coEdit(a, history, o, program);
          },
          true));
    } else if (arg == "--undo" || arg == "--redo") {
      const bool undo = arg == "--undo";
      operations.push_back(Operation(
          [undo, &history](Animation& a) {
            int frame = 0;
            if (undo ? history.undo(a, frame) : history.redo(a, frame)) return true;
            std::fprintf(stderr, "fbinfo: nothing to %s\n", undo ? "undo" : "redo");
            return false;
          },
          true));
    } else if (arg == "--quality") {
      quality = true;
    } else if (arg == "--save-options") {
      if (!hexValue(saveWord)) return 2;
    } else if (arg == "--jpeg-quality") {
      std::string q;
      value(q);
      char* end = nullptr;
      long quality = std::strtol(q.c_str(), &end, 10);
      jpegQuality =
          q.empty() || *end || quality < 1 || quality > 100 ? 0 : static_cast<int>(quality);
      if (!jpegQuality) {
        std::fprintf(stderr, "fbinfo: --jpeg-quality takes 1..100, not %s\n", q.c_str());
        return 2;
      }
    } else if (arg == "--psd-layer-mask")
      psdLayerMask = true;
    else if (arg == "--icon-order-as-is")
      iconAsIs = true;
    else if (arg == "--icon-no-png")
      iconNoPng = true;
    else if (arg == "--raw")
      value(rawDir);
    else if (arg == "--quiet")
      quiet = true;
    else if (arg == "--keep-24bit")
      keep24 = true;
    else if (arg == "-h" || arg == "--help") {
      usage(stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "fbinfo: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty() ||
      (paths.size() > 1 && !(writePath.empty() && framesDir.empty() && rawDir.empty()))) {
    usage(stderr);
    return 2;
  }

  openSettings();
  loadPreferences();
  if (keep24) {
    // For this run only: the settings file is left as it is.
    closeSettings();
    prefSetBits(pref::GeneralOptions, gen::Keep24Bit, true);
  }

  const bool array = paths.size() > 1 && !quiet;
  int objects = 0;
  auto beginObject = [&] {
    if (array && objects++) std::printf(",\n");
  };
  // One file: read, operations, outputs. 0, or the exit status of a failure.
  auto processFile = [&](const std::string& path) -> int {
    if (lower(extensionOf(path)) == "pal") return printPaletteFile(path, beginObject);

    std::unique_ptr<Animation> a;
    int result = openDocument(path, a, quality);
    if (result == kReadFailed) return 1;
    current = path;

    history.clear();
    for (auto& op : operations) {
      if (!op.run(*a)) return 1;
      // A change no step records: the steps before it no longer fit the document.
      if (!op.keepsHistory) history.clear();
    }

    if (!writePath.empty()) {
      StderrProgress progress;
      SaveOptions saveOptions = saveOptionsFromPreferences();
      // An AVI is written the way the editor writes it after "修复".
      if (typeOfPath(writePath) == kTypeAvi) {
        uint32_t traits = aviExportTraits(*a);
        if ((traits & avitraits::NeedsFix) &&
            !FixForAvi(*a, traits, &progress, saveOptions.merge)) {
          std::fprintf(stderr, "fbinfo: the animation cannot be fixed for AVI\n");
          return 1;
        }
      }
      // The options the save dialog's panel gives with an audio file chosen.
      AviSaveOptions withAudio;
      if (!aviAudio.empty()) {
        AviPanelState panel = openAviPanel(aviExportTraits(*a), saveOptions.avi);
        setAviAudioPath(panel, aviAudio);
        AviSettings chosen = saveOptions.avi;  // this run's choice only: nothing is stored
        if (!confirmAviPanel(panel, aviExportTraits(*a), withAudio, chosen)) return 1;
        saveOptions.aviPanel = &withAudio;
      }
      SaveOptions& settings = saveOptions;
      if (jpegQuality) settings.formats.jpegQuality = jpegQuality;
      if (psdLayerMask) settings.formats.psdLayerMask = true;
      if (iconAsIs) settings.formats.iconXpOrder = false;
      if (iconNoPng) settings.formats.iconPng256 = false;
      bool saved;
      if (lower(extensionOf(writePath)) == "pal") {
        const Frame* f = firstFrame(*a);
        const Palette* p = a->globalPalette ? a->globalPalette.get() : f ? f->palette() : nullptr;
        saved = p && WritePaletteFile(writePath, *p);
      } else {
        saved = saveByType(writePath, *a, saveWord, typeOfPath(writePath), &progress, settings);
      }
      if (!saved) return 1;
    }
    if (!quiet) {
      beginObject();
      printJson(path, result, *a);
    }
    if (!framesDir.empty() && !writeFrames(*a, framesDir)) {
      std::fprintf(stderr, "fbinfo: cannot write pictures to %s\n", framesDir.c_str());
      return 1;
    }
    if (!rawDir.empty() && !writeRaw(*a, rawDir)) {
      std::fprintf(stderr, "fbinfo: cannot write frames to %s\n", rawDir.c_str());
      return 1;
    }
    return 0;
  };
  int status = 0;
  if (array) std::printf("[\n");
  for (size_t k = 0; k < paths.size(); ++k) {
    int r = processFile(paths[k]);
    if (r) status = r;
  }
  if (array) std::printf("]\n");
  return status;
}
