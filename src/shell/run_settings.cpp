#include "shell/run_settings.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "base/file_ops.h"
#include "base/reporter.h"
#include "imaging/optimizer.h"
#include "imaging/reduce.h"
#include "io/open_save.h"
#include "resources/strings.h"

namespace fb {
namespace {

// How many arguments a long option takes.
enum class Arity {
  None,
  One,
  JoinedOnly,  // --optimize[=WORD]: a value only when joined
  Many,
};

struct LongOption {
  const char* name;
  Arity arity;
};

constexpr LongOption kLongOptions[] = {
    {"--info", Arity::Many},        {"--verbose", Arity::Many},
    {"--each", Arity::None},        {"--in-place", Arity::None},
    {"--format", Arity::One},       {"--optimize", Arity::JoinedOnly},
    {"--colors", Arity::One},       {"--dither", Arity::None},
    {"--loop", Arity::One},         {"--delay", Arity::One},
    {"--truecolour-png", Arity::None}, {"--no-signature", Arity::None},
    {"--quality", Arity::None},     {"--lossy", Arity::One},
};

const LongOption* findLongOption(const std::string& name) {
  for (const LongOption& o : kLongOptions)
    if (name == o.name) return &o;
  return nullptr;
}

void inputError(const std::string& what) {
  showWarning(format(Str::BatchInputError, what.c_str()));
}

// The arguments a flag may have: at most `allowed`, at least `required`.
// The first stray one, or the flag itself when one is missing, is the error.
bool argumentCount(const FlagArg& flag, size_t required, size_t allowed) {
  if (flag.values.size() > allowed) {
    inputError(flag.values[allowed]);
    return false;
  }
  if (flag.values.size() < required) {
    inputError(flag.arg);
    return false;
  }
  return true;
}

// A whole number in min..max: decimal as strtol reads it (as -t always has),
// or hexadecimal after "0x".
bool parseNumber(const std::string& text, int64_t min, int64_t max, uint32_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long v;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (!std::isxdigit(static_cast<unsigned char>(text[2]))) return false;
    v = std::strtoll(text.c_str() + 2, &end, 16);
  } else {
    v = std::strtoll(text.c_str(), &end, 10);
  }
  if (*end || v < min || v > max) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// One value in min..max; the flag's mistakes are shown as the batch shows them.
bool numberArgument(const FlagArg& flag, int64_t min, int64_t max, uint32_t& out) {
  if (!argumentCount(flag, 0, 1)) return false;
  if (flag.values.empty() || !parseNumber(flag.values[0], min, max, out)) {
    inputError(flag.values.empty() ? flag.arg : flag.values[0]);
    return false;
  }
  return true;
}

}  // namespace

bool isFlag(const std::string& arg) {
  return arg.size() >= 2 && arg[0] == '-';
}

std::vector<FlagArg> splitFlags(const std::vector<std::string>& args) {
  std::vector<FlagArg> flags;
  for (size_t i = 0; i < args.size();) {
    FlagArg f;
    f.arg = args[i];
    if (f.arg.size() > 2 && f.arg[1] == '-') {
      size_t eq = f.arg.find('=');
      f.name = f.arg.substr(0, eq);
      if (eq != std::string::npos) {
        f.values.push_back(f.arg.substr(eq + 1));
        f.joined = true;
      }
    } else if (isFlag(f.arg)) {
      f.name = std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(f.arg[1]))));
      if (f.arg.size() > 2) {
        f.values.push_back(f.arg.substr(f.arg[2] == '=' ? 3 : 2));
        f.joined = true;
      }
    }
    size_t next = i + 1;
    while (next < args.size() && !isFlag(args[next])) f.values.push_back(args[next++]);
    flags.push_back(std::move(f));
    i = next;
  }
  return flags;
}

bool scanRunSettings(const std::vector<FlagArg>& flags, RunSettings& run) {
  const FlagArg* jobs = nullptr;
  const FlagArg* output = nullptr;
  const FlagArg* formatFlag = nullptr;
  const FlagArg* other = nullptr;  // any flag besides --info and --verbose
  bool each = false, info = false, noSignature = false;
  for (const FlagArg& f : flags) {
    if (f.name != "--info" && f.name != "--verbose" && !other) other = &f;
    if (f.name == "o" && !output) output = &f;
    if (f.name == "j") {
      uint32_t n = 0;
      if (!numberArgument(f, 1, 64, n)) return false;
      run.jobs = n;
      jobs = &f;
      continue;
    }
    if (!f.isLong()) continue;
    const LongOption* o = findLongOption(f.name);
    if (!o) {
      showWarning(format(Str::BatchUnknownFlag, f.name.c_str()));
      return false;
    }
    switch (o->arity) {
      case Arity::None:
        if (!argumentCount(f, 0, 0)) return false;
        break;
      case Arity::One:
        if (!argumentCount(f, 1, 1)) return false;
        break;
      case Arity::JoinedOnly:
        if (!argumentCount(f, 0, f.joined ? 1 : 0)) return false;
        break;
      case Arity::Many:  // checked below: --info's files may follow --verbose
        break;
    }
    if (f.name == "--info") info = true;
    else if (f.name == "--verbose") run.verbose = true;
    else if (f.name == "--each") each = true;
    else if (f.name == "--in-place") run.inPlace = true;
    else if (f.name == "--dither") run.dither = true;
    else if (f.name == "--quality") run.quality = true;
    else if (f.name == "--truecolour-png") run.trueColourPng = true;
    else if (f.name == "--no-signature") noSignature = true;
    else if (f.name == "--format") {
      run.format = typeOfExtension(f.values[0]);
      if (!run.format) {
        inputError(f.values[0]);
        return false;
      }
      formatFlag = &f;
    } else if (f.name == "--lossy") {
      uint32_t strength = 0;
      if (!numberArgument(f, 0, 1000, strength)) return false;
      run.lossy = static_cast<int>(strength);
    } else {
      Operation op;
      bool valid = true;
      operationOf(f, run, op, valid);
      if (!valid) return false;
    }
  }

  auto cannotCombine = [](const std::string& a, const char* b) {
    showWarning(format(Str::BatchCannotCombine, a.c_str(), b));
    return false;
  };
  size_t files = 0;
  for (const FlagArg& f : flags) {
    if (f.name == "--verbose" && !info && !argumentCount(f, 0, 0)) return false;
    if (f.name == "--info" || f.name == "--verbose") files += f.values.size();
  }
  if (info) {
    if (other) return cannotCombine(other->arg, "--info");
    if (!files) {
      inputError("--info");
      return false;
    }
    run.mode = RunSettings::Mode::Info;
  } else if (each) {
    run.mode = RunSettings::Mode::Each;
    if (run.inPlace && output) return cannotCombine(output->arg, "--in-place");
    if (run.inPlace && formatFlag) return cannotCombine(formatFlag->arg, "--in-place");
    if (!run.inPlace) {
      if (!output) {
        showWarning(text(Str::BatchEachNeedsOutput));
        return false;
      }
      for (const FlagArg& f : flags)
        if (f.name == "o" && &f != output) {
          inputError(f.arg);  // one folder for all
          return false;
        }
      if (!argumentCount(*output, 1, 1)) return false;
      if (output->values[0].empty() || output->values[0] == "-") {
        inputError(output->values[0].empty() ? output->arg : output->values[0]);
        return false;
      }
      run.outputFolder = output->values[0];
    }
  } else {
    if (jobs || run.inPlace) {
      showWarning(format(Str::BatchNeedsEach, jobs ? "-j" : "--in-place"));
      return false;
    }
  }

  // The user's settings once, with this run's changes: the file is only read.
  run.open = openOptionsFromPreferences();
  run.save = saveOptionsFromPreferences();
  if (noSignature) run.save.gif.sign = false;
  if (run.trueColourPng) run.save.pngAlways24 = true;
  run.optimizeOptions = optimizeOptionsFromPreferences();
  return true;
}

uint32_t saveWordFor(int type, const RunSettings& run) {
  uint32_t word = saveopt::WholeAnimation;
  if (run.trueColourPng && type == kTypePng) word |= saveopt::TrueColour;
  return word;
}

bool operationOf(const FlagArg& flag, const RunSettings& run, Operation& op, bool& valid) {
  valid = true;
  if (flag.name == "t" || flag.name == "--delay") {
    op.kind = Operation::Kind::Delay;
    valid = numberArgument(flag, 0, 0x7FFFFFFF, op.value);
  } else if (flag.name == "z") {
    op.kind = Operation::Kind::Optimize;
    op.value = run.optimizeOptions;
    valid = argumentCount(flag, 0, 0);
  } else if (flag.name == "--optimize") {
    op.kind = Operation::Kind::Optimize;
    op.value = run.optimizeOptions;
    if (!argumentCount(flag, 0, flag.joined ? 1 : 0)) {
      valid = false;
    } else if (flag.joined && flag.values[0] == "best") {
      op.value = opt::Best;
    } else if (flag.joined && !parseNumber(flag.values[0], 0, 0xFFFFFFFF, op.value)) {
      inputError(flag.arg);
      valid = false;
    }
  } else if (flag.name == "--colors") {
    op.kind = Operation::Kind::Colours;
    valid = numberArgument(flag, 2, 256, op.value);
  } else if (flag.name == "--loop") {
    op.kind = Operation::Kind::Loop;
    valid = numberArgument(flag, 0, 0xFFFF, op.value);
  } else {
    return false;
  }
  return true;
}

bool applyOperation(Animation& a, const Operation& op, const RunSettings& run, Progress* progress,
                    bool* changed) {
  if (changed) *changed = true;
  switch (op.kind) {
    case Operation::Kind::Delay:
      for (Frame* f = firstFrame(a); f; f = nextFrame(f)) f->delay = static_cast<int32_t>(op.value);
      break;
    case Operation::Kind::Optimize: {
      OptimizeJob job;
      job.document = &a;
      job.options = op.value;
      job.merge = run.open.merge;
      job.gif = run.save.gif;  // sizes measured as this run saves
      job.lossy = run.lossy;
      job.keepEncoding = true;  // the run saves what it optimized
      // With --each, the output step says which inputs were kept as they were.
      job.tellNotTaken = run.mode != RunSettings::Mode::Each;
      job.progress = progress;
      bool finished = runOptimizeJob(job);
      // A result no smaller is not taken (stderr says so): nothing changed.
      if (changed && job.notTaken) *changed = false;
      return finished;
    }
    case Operation::Kind::Colours:
      if (reducePalettes(a, static_cast<int>(op.value), run.dither, {}, progress, run.quality) != 1)
        return false;
      break;
    case Operation::Kind::Loop:
      // The file's loop count: 0 for ever, N more times after the first.
      a.playCount = op.value == 0 ? 0 : static_cast<int32_t>(op.value) + 1;
      break;
  }
  a.encodedSize = -1;
  return true;
}

// ---- Standard input and output ----

std::string ScratchFolder::file(const std::string& name) {
  if (path_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/flickbook-XXXXXX";
    auto live = std::make_unique<LiveTemporary>();
    if (!createLiveFolder(folder, *live)) return std::string();
    path_ = folder;
    live_.push_back(std::move(live));
  }
  std::string path = path_ + "/" + name;
  live_.push_back(std::make_unique<LiveTemporary>(path));
  return path;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

namespace {

constexpr int kStdinLimitMiB = 1024;

// The extension that reads `head`, the first bytes of a file.
const char* extensionByContent(const std::string& head) {
  auto starts = [&](const char* magic, size_t n, size_t at = 0) {
    return head.size() >= at + n && head.compare(at, n, magic, n) == 0;
  };
  if (starts("\x89PNG", 4)) return "png";
  if (starts("RIFF", 4) && starts("AVI ", 4, 8)) return "avi";
  if (starts("RIFF", 4) && starts("ACON", 4, 8)) return "ani";
  if (starts("BM", 2)) return "bmp";
  if (starts("\xFF\xD8\xFF", 3)) return "jpg";
  if (starts("8BPS", 4)) return "psd";
  if (starts("\0\0\1\0", 4)) return "ico";
  if (starts("\0\0\2\0", 4)) return "cur";
  return "gif";  // and whatever else: the GIF reader says what it is not
}

}  // namespace

int openInput(const std::string& path, std::unique_ptr<Animation>& animation, Progress* progress,
              const OpenOptions& options, ScratchFolder& scratch, std::string* opened) {
  if (opened) *opened = path;
  if (path != "-") return openFile(path, animation, progress, options);
  std::string bytes;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buf, static_cast<size_t>(n));
    if (bytes.size() > (static_cast<size_t>(kStdinLimitMiB) << 20)) {
      showWarning(format(Str::BatchStdinTooLarge, kStdinLimitMiB));
      return kReadFailed;
    }
  }
  std::string file = scratch.file(std::string("stdin.") + extensionByContent(bytes.substr(0, 16)));
  fileops::WriteFile out;
  if (file.empty() || !out.create(file) || !out.write(bytes.data(), bytes.size()) ||
      !out.close()) {
    showWarning(format(Str::CannotSaveTemporary, file.c_str()));
    return kReadFailed;
  }
  if (opened) *opened = file;
  return openFile(file, animation, progress, options);
}

std::string inputLabel(const std::string& path) {
  return path == "-" ? text(Str::StandardInput) : path;
}

bool copyToStdout(const std::string& path) {
  std::string bytes;
  bool ok = fileops::readWholeFile(path, bytes) &&
            std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
            std::fflush(stdout) == 0;
  if (!ok) showWarning(format(Str::CannotWriteTo, "-"));
  return ok;
}

}  // namespace fb
