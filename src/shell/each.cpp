#include "shell/each.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "base/file_ops.h"
#include "base/interrupt.h"
#include "base/reporter.h"
#include "base/task_pool.h"
#include "imaging/palette_merge.h"
#include "io/open_save.h"
#include "resources/strings.h"
#include "shell/batch.h"

namespace fb {
namespace {

// What every file goes through.
struct Plan {
  std::vector<std::string> inputs;
  std::vector<Operation> operations;
  bool onlyOptimize = false;  // then no output may be larger than its input
};

// One file's messages, kept until the file is done and then printed whole,
// each line led by the file's path: files running at once never mix lines.
class FileMessages : public Reporter {
 public:
  explicit FileMessages(std::string path) : path_(std::move(path)) {}
  void message(std::string_view caption, std::string_view text, Icon) override {
    add(std::string(caption) + ": " + std::string(text));
  }
  Answer ask(std::string_view caption, std::string_view text, Icon icon, Buttons,
             Answer noWindowAnswer) override {
    message(caption, text, icon);
    return noWindowAnswer;
  }
  // (The optimizer's own workers may report here too.)
  void add(const std::string& line) {
    std::lock_guard lock(mu_);
    lines_ += path_ + ": " + line + "\n";
  }
  void print(std::mutex& printing) {
    std::lock_guard lock(mu_);
    if (lines_.empty()) return;
    std::lock_guard out(printing);
    std::fwrite(lines_.data(), 1, lines_.size(), stderr);
    std::fflush(stderr);
  }

 private:
  std::string path_;
  std::mutex mu_;
  std::string lines_;
};

int64_t sizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool copyFile(const std::string& from, const std::string& to) {
  std::string bytes;
  fileops::WriteFile out;
  return fileops::readWholeFile(from, bytes) && out.create(to) &&
         out.write(bytes.data(), bytes.size()) && out.sync() && out.close();
}

// Reads, changes and saves one file. The result is written to a file of its
// own beside the target first, and put in place with the safe replace every
// save uses; when optimizing alone did not make it smaller, the input's bytes
// are kept instead.
bool processFile(const std::string& input, const std::string& target, const Plan& plan,
                 const RunSettings& run, FileMessages& messages) {
  std::unique_ptr<Animation> a;
  if (openFile(input, a, nullptr, run.open) != kReadComplete) return false;  // a part is no result
  // Palettes reconciled as when a file is read into the batch's document.
  if (mergePalettes(nullptr, *a, 0, nullptr, nullptr, run.open.merge) != 1) {
    showWarning(text(Str::BatchMergeFailed));
    return false;
  }
  for (const Operation& op : plan.operations)
    if (!applyOperation(*a, op, run, nullptr)) return false;

  const int inputType = typeOfPath(input);
  const int type = run.format ? run.format : inputType;
  if (fileops::exists(target) && (!fileops::isRegularFile(target) || !fileops::openableForWriting(target))) {
    showWarning(format(Str::CannotWriteTo, target.c_str()));
    return false;
  }
  std::string staged = fileops::directoryOf(target) + "/.each-XXXXXX." + fileType(type).extension;
  LiveTemporary live;
  // Private until it takes the permissions of what it replaces.
  const int suffix = static_cast<int>(std::string(fileType(type).extension).size()) + 1;
  if (!createLiveTemporary(staged, suffix, 0600, live)) {
    showWarning(format(Str::CannotSaveTemporary, staged.c_str()));
    return false;
  }
  // Every way out but the replace, a thrown one included, removes the staged
  // copy (after the replace there is nothing left under its name).
  struct RemoveStaged {
    const std::string* path;
    ~RemoveStaged() {
      if (path) fileops::removeFile(*path);
    }
  } removeStaged{&staged};
  if (!saveByType(staged, *a, saveWordFor(type, run), type, nullptr, run.save)) return false;

  bool keepInput = plan.onlyOptimize && type == inputType && sizeOf(staged) >= sizeOf(input);
  if (keepInput) {
    if (run.verbose) messages.add(text(Str::BatchKeptInput));
    if (run.inPlace) return true;
    if (!copyFile(input, staged)) {
      showWarning(format(Str::CannotWriteTo, target.c_str()));
      return false;
    }
  }
  // The output keeps the permissions of what it replaces (or of its input).
  fileops::copyPermissions(staged, fileops::exists(target) ? target : input);
  bool replaced = safeReplace(target, staged);
  removeStaged.path = nullptr;
  live.release();
  return replaced;
}

// The inputs and operations of the command line; false on a mistake that
// stops the run (messages shown). `ok` turns false for inputs not found.
bool makePlan(const std::vector<FlagArg>& flags, const RunSettings& run, Plan& plan, bool& ok) {
  for (const FlagArg& f : flags) {
    Operation op;
    bool valid = true;
    if (operationOf(f, run, op, valid)) {
      if (!valid) return false;
      plan.operations.push_back(op);
      continue;
    }
    if (f.isLong() || f.name == "o" || f.name == "j") continue;  // the run's settings
    if (f.name == "i") {
      for (const std::string& v : f.values) {
        if (v == "-") {  // a file without a name has no name to be saved under
          showWarning(format(Str::BatchCannotCombine, "-", "--each"));
          return false;
        }
        auto matched = expandInput(v);
        if (matched.empty()) {
          showWarning(format(Str::BatchFileNotFound, v.c_str()));
          ok = false;
        }
        plan.inputs.insert(plan.inputs.end(), matched.begin(), matched.end());
      }
    } else if (f.name == "l") {
      std::string list;
      if (f.values.size() != 1 || !fileops::readWholeFile(f.values[0], list)) {
        showWarning(text(Str::BatchListReadError));
        return false;
      }
      auto paths = parseFileList(list);
      plan.inputs.insert(plan.inputs.end(), paths.begin(), paths.end());
    } else {
      showWarning(format(Str::BatchUnknownFlag, f.arg.substr(1, 1).c_str()));
      return false;
    }
  }
  if (plan.inputs.empty()) {
    showWarning(text(Str::BatchInputFailed));
    return false;
  }
  plan.onlyOptimize = !plan.operations.empty() &&
                      std::all_of(plan.operations.begin(), plan.operations.end(), [](auto& op) {
                        return op.kind == Operation::Kind::Optimize;
                      });
  return true;
}

}  // namespace

std::string eachOutputPath(const std::string& input, const std::string& folder, int type) {
  std::string name = fileops::baseName(input);
  if (type) {
    std::string ext = extensionOf(name);
    if (!ext.empty()) name.resize(name.size() - ext.size() - 1);
    name += std::string(".") + fileType(type).extension;
  }
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool runEach(const std::vector<FlagArg>& flags, const RunSettings& run) {
  Plan plan;
  bool ok = true;
  if (!makePlan(flags, run, plan, ok)) return false;
  if (!run.inPlace && !fileops::isDirectory(run.outputFolder) &&
      !fileops::makeDirectories(run.outputFolder)) {
    showWarning(format(Str::CannotWriteTo, run.outputFolder.c_str()));
    return false;
  }

  const size_t count = plan.inputs.size();
  std::vector<std::string> targets(count);
  std::set<std::string> taken;
  std::vector<char> done(count, 0);
  std::mutex printing;
  auto work = [&](size_t k) {
    FileMessages messages(plan.inputs[k]);
    try {
      ScopedReporter scope(messages);
      if (targets[k].empty())
        showWarning(format(Str::BatchSameOutput,
                           eachOutputPath(plan.inputs[k], run.outputFolder, run.format).c_str()));
      else
        done[k] = processFile(plan.inputs[k], targets[k], plan, run, messages);
    } catch (...) {
      // Nothing thrown leaves the file's own work: it failed, the others go on.
      messages.message(text(Str::CaptionError), text(Str::BatchOutOfMemory), Icon::Warning);
    }
    messages.print(printing);
  };
  for (size_t k = 0; k < count; ++k) {
    // In place, a link stays a link: the file it points to is the one replaced.
    std::string t = run.inPlace ? fileops::resolvedPath(plan.inputs[k])
                                : eachOutputPath(plan.inputs[k], run.outputFolder, run.format);
    if (taken.insert(fileops::resolvedPath(t)).second) targets[k] = t;  // else: left out
  }

  unsigned jobs = run.jobs ? run.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<size_t>(jobs, count));
  if (jobs <= 1) {
    for (size_t k = 0; k < count; ++k) work(k);
  } else {
    TaskPool pool(jobs, jobs, reporter());
    for (size_t k = 0; k < count; ++k) pool.submit([&work, k] { work(k); });
    pool.drain();
  }
  for (char d : done) ok = ok && d;
  return ok;
}

}  // namespace fb
