#include "shell/batch.h"

#include <glob.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "base/file_ops.h"
#include "base/progress.h"
#include "base/reporter.h"
#include "gif/gif_reader.h"
#include "imaging/frame_insert.h"
#include "imaging/optimizer.h"
#include "imaging/palette_merge.h"
#include "io/open_save.h"
#include "io/options.h"
#include "resources/strings.h"
#include "shell/each.h"
#include "shell/info.h"
#include "shell/run_settings.h"

namespace fb {
namespace {

bool lessNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

// Reads `paths` in order, stopping at the first one that does not read
// completely; the documents read so far are queued behind the first.
// `failed` is set when a file could not be read completely.
std::unique_ptr<Animation> readInputs(const std::vector<std::string>& paths, int& count,
                                      bool& failed, const OpenOptions& options,
                                      ScratchFolder& scratch) {
  std::unique_ptr<Animation> head;
  Animation* tail = nullptr;
  count = 0;
  for (const std::string& path : paths) {
    std::unique_ptr<Animation> a;
    int result;
    {
      // Among many inputs a message must say which one it is about.
      InputNoteReporter note(reporter(), inputLabel(path));
      ScopedReporter scope(note);
      StderrProgress progress;
      result = openInput(path, a, &progress, options, scratch);
    }
    if (result != kReadComplete) {
      failed = true;
      break;  // a partial read is not merged either: what came before stays
    }
    ++count;
    if (!head) {
      head = std::move(a);
      tail = head.get();
    } else {
      tail->nextAnimation = std::move(a);
      tail = tail->nextAnimation.get();
    }
  }
  return head;
}

// The documents read (the first, with the others queued behind it) join the
// open document at its end, or, without one, become it: merged into the first,
// palettes reconciled, untitled, with the default play count.
bool mergeReadDocuments(OpenDocument& doc, std::unique_ptr<Animation> head, Progress* progress,
                        const MergeOptions& merge) {
  if (doc.animation) {
    if (insertAnimations(*doc.animation, head, -1, nullptr, progress, merge) != 1) return false;
  } else {
    std::unique_ptr<Animation> rest = std::move(head->nextAnimation);
    int result = rest ? insertAnimations(*head, rest, -1, nullptr, progress, merge)
                      : mergePalettes(nullptr, *head, 0, nullptr, progress, merge);
    if (result != 1) return false;
    head->playCount = merge.defaultPlayCount;
    doc.animation = std::move(head);
    doc.path.clear();
  }
  doc.animation->encodedSize = -1;
  doc.modified = true;
  return true;
}

// Reads and merges; false when this step failed. `endBatch` is set when
// nothing was read.
bool inputStep(const std::vector<std::string>& paths, OpenDocument& doc, bool& endBatch,
               const OpenOptions& options, ScratchFolder& scratch) {
  int count = 0;
  bool failed = false;
  std::unique_ptr<Animation> head = readInputs(paths, count, failed, options, scratch);
  if (!head) {
    showWarning(text(Str::BatchInputFailed));
    endBatch = true;
    return false;
  }
  StderrProgress progress;
  if (!mergeReadDocuments(doc, std::move(head), &progress, options.merge)) {
    showWarning(text(Str::BatchMergeFailed));
    return false;
  }
  return !failed;
}

}  // namespace

std::vector<std::string> expandInput(const std::string& argument) {
  if (argument.find_first_of("*?[") == std::string::npos) {
    // A plain name matches itself, when there is such a file.
    if (!fileops::exists(argument)) return {};
    return {argument};
  }
  glob_t g{};
  std::vector<std::string> names;
  if (::glob(argument.c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i)
      if (fileops::isRegularFile(g.gl_pathv[i])) names.emplace_back(g.gl_pathv[i]);
  }
  ::globfree(&g);
  // By file name without regard to case; an insertion sort keeps equal names
  // in the order they came.
  for (size_t i = 1; i < names.size(); ++i) {
    std::string item = std::move(names[i]);
    std::string key = fileops::baseName(item);
    size_t j = i;
    while (j > 0 && lessNoCase(key, fileops::baseName(names[j - 1]))) {
      names[j] = std::move(names[j - 1]);
      --j;
    }
    names[j] = std::move(item);
  }
  return names;
}

std::vector<std::string> parseFileList(const std::string& text) {
  std::vector<std::string> out;
  std::string line;
  size_t i = 0;
  while (i < text.size() && text[i] != '\0') {
    char c = text[i++];
    if (c == '\r' || c == '\n') {
      if (i < text.size() && text[i] == '\n') ++i;
      out.push_back(std::move(line));
      line.clear();
      continue;
    }
    line += c;
  }
  if (!line.empty()) out.push_back(std::move(line));
  return out;
}

bool runBatch(const std::vector<std::string>& args, OpenDocument& doc) {
  if (!args.empty() && !isFlag(args[0])) {
    showWarning(format(Str::BatchInputError, args[0].c_str()));
    return false;
  }
  const std::vector<FlagArg> flags = splitFlags(args);
  // The user's settings, read once with this run's changes: the batch never
  // changes them.
  RunSettings run;
  if (!scanRunSettings(flags, run)) return false;
  if (run.mode == RunSettings::Mode::Info) return runInfo(flags, run);
  if (run.mode == RunSettings::Mode::Each) return runEach(flags, run);

  ScratchFolder scratch;  // standard input and output go through it
  bool ok = true;
  for (const FlagArg& flag : flags) {
    const std::string& arg = flag.arg;
    const std::vector<std::string>& values = flag.values;
    auto strayAfter = [&](size_t allowed) {
      if (values.size() <= allowed) return false;
      showWarning(format(Str::BatchInputError, values[allowed].c_str()));
      return true;
    };

    Operation op;
    bool valid = true;
    if (operationOf(flag, run, op, valid)) {
      if (!valid) return false;
      if (!doc.animation) {
        // Only an optimization says that it had nothing to work on.
        if (op.kind == Operation::Kind::Optimize) {
          showWarning(text(Str::BatchNothingToOptimize));
          ok = false;
        }
        continue;
      }
      StderrProgress progress;
      bool changed = true;
      if (!applyOperation(*doc.animation, op, run, &progress, &changed)) ok = false;
      if (changed) doc.modified = true;
      continue;
    }
    if (flag.isLong()) continue;  // the run's settings, taken above

    switch (flag.name[0]) {
      case 'i': {
        if (values.empty()) {
          showWarning(text(Str::BatchInputFailed));
          return false;
        }
        std::vector<std::string> paths;
        for (const std::string& v : values) {
          auto matched = v == "-" ? std::vector<std::string>{v} : expandInput(v);
          if (matched.empty()) {
            showWarning(format(Str::BatchFileNotFound, v.c_str()));
            ok = false;
          }
          paths.insert(paths.end(), matched.begin(), matched.end());
        }
        bool endBatch = false;
        if (!inputStep(paths, doc, endBatch, run.open, scratch)) ok = false;
        if (endBatch) return false;
        break;
      }
      case 'l': {
        if (strayAfter(1)) return false;
        if (values.empty()) {
          showWarning(text(Str::BatchInputFailed));
          return false;
        }
        std::string listText;
        if (!fileops::exists(values[0])) {
          showWarning(format(Str::BatchFileNotFound, values[0].c_str()));
          showWarning(text(Str::BatchInputFailed));
          return false;
        }
        if (!fileops::readWholeFile(values[0], listText)) {
          showWarning(text(Str::BatchListReadError));
          showWarning(text(Str::BatchInputFailed));
          return false;
        }
        bool endBatch = false;
        if (!inputStep(parseFileList(listText), doc, endBatch, run.open, scratch)) ok = false;
        if (endBatch) return false;
        break;
      }
      case 'o': {
        if (strayAfter(1)) return false;
        if (!doc.animation) {
          showWarning(text(Str::BatchNothingToOutput));
          ok = false;
          break;
        }
        if (values.empty() || values[0].empty()) {
          showWarning(format(Str::BatchInputError, arg.c_str()));
          return false;
        }
        StderrProgress progress;
        const bool toStdout = values[0] == "-";
        int type = run.format ? run.format : toStdout ? kTypeGif : typeOfPath(values[0]);
        doc.path = toStdout ? scratch.file(std::string("stdout.") + fileType(type).extension)
                            : values[0];
        bool saved = saveDocumentWith(doc, type, saveWordFor(type, run), run.save, &progress);
        if (toStdout) {
          saved = saved && copyToStdout(doc.path);
          fileops::removeFile(doc.path);
          doc.path.clear();
        }
        if (!saved) ok = false;
        break;
      }
      default:
        showWarning(format(Str::BatchUnknownFlag, std::string(1, arg[1]).c_str()));
        return false;
    }
  }
  return ok;
}

}  // namespace fb
