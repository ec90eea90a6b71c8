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
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/file_ops.h"
#include "base/prefs.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "base/settings_file.h"
#include "document/animation.h"
#include "document/player.h"
#include "formats/avi.h"
#include "formats/image_files.h"
#include "formats/png_rgba.h"
#include "gif/gif_reader.h"
#include "gif/gif_writer.h"
#include "imaging/frame_count.h"
#include "imaging/optimizer.h"
#include "imaging/palette_merge.h"
#include "imaging/reduce.h"
#include "imaging/unoptimize.h"
#include "io/open_save.h"
#include "io/options.h"

using namespace fb;

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  std::string framesDir, rawDir, writePath, aviAudio;
  std::vector<std::string> paths;
  // Operations on the document, in the order given.
  std::vector<std::function<bool(Animation&)>> operations;
  bool quiet = false;
  bool keep24 = false;
  bool dither = false;  // read when --reduce runs, wherever it stands
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
      operations.push_back([saved, bits, lossy](Animation& a) {
        OptimizeJob job;
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
    } else if (arg == "--quality") {
      quality = true;
    } else if (arg == "--save-options") {
      if (!hexValue(saveWord)) return 2;
    } else if (arg == "--jpeg-quality") {
      std::string q;
      value(q);
      char* end = nullptr;
      long quality = std::strtol(q.c_str(), &end, 10);
      jpegQuality = q.empty() || *end || quality < 1 || quality > 100 ? 0 : static_cast<int>(quality);
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
    int result;
    {
      InputNoteReporter note(reporter(), path);  // messages say which file
      ScopedReporter scope(note);
      StderrProgress progress;
      result = openFile(path, a, &progress, openOptionsFromPreferences());
    }
    if (result == kReadFailed || !a) return 1;
    // Frames read from true-colour pictures join the document's palettes.
    bool trueColour = false;
    for (Frame* f = firstFrame(*a); f; f = nextFrame(f))
      if (f->hasRgb() && !f->dib) trueColour = true;
    if (trueColour) {
      StderrProgress progress;
      const MergeOptions mergeOptions = mergeOptionsFromPreferences();
      uint32_t method = quality ? mergeOptions.storedMethod | merge::Quality : 0;
      if (mergePalettes(nullptr, *a, method, nullptr, &progress, mergeOptions) != 1) return 1;
    }

    for (auto& op : operations)
      if (!op(*a)) return 1;

    if (!writePath.empty()) {
      StderrProgress progress;
      SaveOptions saveOptions = saveOptionsFromPreferences();
      // An AVI is written the way the editor writes it after "修复".
      if (typeOfPath(writePath) == kTypeAvi) {
        uint32_t traits = aviExportTraits(*a);
        if ((traits & avitraits::NeedsFix) && !FixForAvi(*a, traits, &progress, saveOptions.merge)) {
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
