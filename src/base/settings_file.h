// The per-user settings file: named values of three types (binary, 32-bit
// number, string), the same names and byte layouts the program has always
// kept. Every change rewrites the file atomically.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fb {

struct SettingValue {
  enum class Type { Binary, Dword, String };
  Type type = Type::Dword;
  std::vector<uint8_t> binary;
  uint32_t dword = 0;
  std::string string;

  static SettingValue ofBinary(std::vector<uint8_t> b);
  static SettingValue ofDword(uint32_t v);
  static SettingValue ofString(std::string s);
};

class SettingsStore {
 public:
  enum class State {
    Missing,     // no file yet: defaults, created on the first change
    Opened,      // read and parsed
    Damaged,     // unparseable: defaults; moved aside (kept) before the first write
    Unreadable,  // exists but cannot be read: defaults; never written over
  };

  // `$XDG_CONFIG_HOME/norvane/Flickbook/2.0/settings`, with ~/.config when unset.
  static std::string defaultPath();

  // Reads the file at `path` (an empty path: in memory only, never written).
  explicit SettingsStore(std::string path);

  State state() const;
  // "The settings key could be opened": the file was read and parsed.
  bool opened() const { return state() == State::Opened; }
  const std::string& path() const { return path_; }

  std::optional<SettingValue> get(const std::string& name) const;
  std::optional<std::vector<uint8_t>> getBinary(const std::string& name) const;
  std::optional<uint32_t> getDword(const std::string& name) const;
  std::optional<std::string> getString(const std::string& name) const;

  // Sets one or several values and writes the file through. Returns false when
  // the file could not be written (the values stay set in memory).
  bool set(const std::vector<std::pair<std::string, SettingValue>>& values);
  bool setBinary(const std::string& name, std::vector<uint8_t> bytes);
  bool setDword(const std::string& name, uint32_t value);
  bool setString(const std::string& name, std::string value);
  bool remove(const std::string& name);

  // Where a damaged file was moved to, once it has been (empty before).
  std::string damagedCopyPath() const;

  // Text form, exposed for tests.
  static std::string serialize(const std::vector<std::pair<std::string, SettingValue>>& values);
  static bool parse(const std::string& text,
                    std::vector<std::pair<std::string, SettingValue>>& out);

 private:
  bool writeLocked();
  mutable std::mutex mu_;
  std::string path_;
  State state_ = State::Missing;
  std::vector<std::pair<std::string, SettingValue>> values_;
  std::string damagedCopy_;
};

// The process-wide store. Until `openSettings` is called there is an
// in-memory store that is never written (unit tests run this way).
SettingsStore& settings();
// Opens the store at `path` (empty: the per-user default path) and makes it current.
SettingsStore& openSettings(const std::string& path = std::string());
// Replaces the current store with an in-memory one.
void closeSettings();

}  // namespace fb
