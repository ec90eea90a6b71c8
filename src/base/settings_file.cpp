#include "base/settings_file.h"

#include <cerrno>
#include <cstdlib>

#include "base/file_ops.h"

namespace fb {
namespace {

constexpr const char* kHeader = "Flickbook settings 1";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kHex[] = "0123456789abcdef";

std::string escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        if (i + 2 >= s.size()) return false;
        int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

std::unique_ptr<SettingsStore>& current() {
  static std::unique_ptr<SettingsStore> store = std::make_unique<SettingsStore>(std::string());
  return store;
}

}  // namespace

SettingValue SettingValue::ofBinary(std::vector<uint8_t> b) {
  SettingValue v;
  v.type = Type::Binary;
  v.binary = std::move(b);
  return v;
}

SettingValue SettingValue::ofDword(uint32_t d) {
  SettingValue v;
  v.type = Type::Dword;
  v.dword = d;
  return v;
}

SettingValue SettingValue::ofString(std::string s) {
  SettingValue v;
  v.type = Type::String;
  v.string = std::move(s);
  return v;
}

std::string SettingsStore::defaultPath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/norvane/Flickbook/2.0/settings";
}

std::string SettingsStore::serialize(
    const std::vector<std::pair<std::string, SettingValue>>& values) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& [name, v] : values) {
    out += name;
    switch (v.type) {
      case SettingValue::Type::Binary:
        out += "=binary:";
        for (uint8_t b : v.binary) {
          out += kHex[b >> 4];
          out += kHex[b & 15];
        }
        break;
      case SettingValue::Type::Dword: {
        out += "=dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(v.dword >> shift) & 15];
        break;
      }
      case SettingValue::Type::String:
        out += "=string:";
        out += escape(v.string);
        break;
    }
    out += '\n';
  }
  return out;
}

bool SettingsStore::parse(const std::string& text,
                          std::vector<std::pair<std::string, SettingValue>>& out) {
  out.clear();
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kHeader) return false;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    size_t eq = line.find('=');
    size_t colon = line.find(':', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || eq == 0 || colon == std::string::npos) return false;
    std::string name = line.substr(0, eq);
    std::string type = line.substr(eq + 1, colon - eq - 1);
    std::string data = line.substr(colon + 1);
    SettingValue v;
    if (type == "binary") {
      if (data.size() % 2) return false;
      v.type = SettingValue::Type::Binary;
      for (size_t i = 0; i < data.size(); i += 2) {
        int hi = hexValue(data[i]), lo = hexValue(data[i + 1]);
        if (hi < 0 || lo < 0) return false;
        v.binary.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
    } else if (type == "dword") {
      if (data.empty() || data.size() > 8) return false;
      v.type = SettingValue::Type::Dword;
      for (char c : data) {
        int h = hexValue(c);
        if (h < 0) return false;
        v.dword = v.dword * 16 + static_cast<uint32_t>(h);
      }
    } else if (type == "string") {
      v.type = SettingValue::Type::String;
      if (!unescape(data, v.string)) return false;
    } else {
      return false;
    }
    for (auto& [n, old] : out) {
      if (n == name) return false;  // a name twice: not a file we wrote
    }
    out.emplace_back(std::move(name), std::move(v));
  }
  return !first;
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
  if (path_.empty()) return;
  std::string text;
  if (!fileops::readWholeFile(path_, text)) {
    state_ = (errno == ENOENT || errno == ENOTDIR) ? State::Missing : State::Unreadable;
    return;
  }
  std::vector<std::pair<std::string, SettingValue>> parsed;
  if (!parse(text, parsed)) {
    state_ = State::Damaged;
    return;
  }
  values_ = std::move(parsed);
  state_ = State::Opened;
}

SettingsStore::State SettingsStore::state() const {
  std::lock_guard lock(mu_);
  return state_;
}

std::optional<SettingValue> SettingsStore::get(const std::string& name) const {
  std::lock_guard lock(mu_);
  for (const auto& [n, v] : values_)
    if (n == name) return v;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> SettingsStore::getBinary(const std::string& name) const {
  auto v = get(name);
  if (!v || v->type != SettingValue::Type::Binary) return std::nullopt;
  return v->binary;
}

std::optional<uint32_t> SettingsStore::getDword(const std::string& name) const {
  auto v = get(name);
  if (!v || v->type != SettingValue::Type::Dword) return std::nullopt;
  return v->dword;
}

std::optional<std::string> SettingsStore::getString(const std::string& name) const {
  auto v = get(name);
  if (!v || v->type != SettingValue::Type::String) return std::nullopt;
  return v->string;
}

bool SettingsStore::set(const std::vector<std::pair<std::string, SettingValue>>& values) {
  std::lock_guard lock(mu_);
  for (const auto& [name, value] : values) {
    bool found = false;
    for (auto& [n, v] : values_) {
      if (n == name) {
        v = value;
        found = true;
        break;
      }
    }
    if (!found) values_.emplace_back(name, value);
  }
  return writeLocked();
}

bool SettingsStore::setBinary(const std::string& name, std::vector<uint8_t> bytes) {
  return set({{name, SettingValue::ofBinary(std::move(bytes))}});
}

bool SettingsStore::setDword(const std::string& name, uint32_t value) {
  return set({{name, SettingValue::ofDword(value)}});
}

bool SettingsStore::setString(const std::string& name, std::string value) {
  return set({{name, SettingValue::ofString(std::move(value))}});
}

bool SettingsStore::remove(const std::string& name) {
  std::lock_guard lock(mu_);
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (it->first == name) {
      values_.erase(it);
      return writeLocked();
    }
  }
  return true;
}

std::string SettingsStore::damagedCopyPath() const {
  std::lock_guard lock(mu_);
  return damagedCopy_;
}

bool SettingsStore::writeLocked() {
  if (path_.empty()) return true;
  // A file we could not read may hold anything: never replace it.
  if (state_ == State::Unreadable) return false;
  std::string dir = fileops::directoryOf(path_);
  if (!fileops::makeDirectories(dir)) return false;
  if (state_ == State::Damaged) {
    // Keep the damaged file beside the new one rather than overwrite it.
    std::string aside = path_ + ".damaged";
    for (int i = 1; fileops::exists(aside); ++i) aside = path_ + ".damaged." + std::to_string(i);
    if (!fileops::renameFile(path_, aside)) return false;
    damagedCopy_ = aside;
    state_ = State::Missing;
  }
  std::string text = serialize(values_);
  std::string tmp = path_ + ".tmp-XXXXXX";
  fileops::WriteFile f;
  if (!f.createUnique(tmp)) return false;
  bool ok = f.write(text.data(), text.size()) && f.sync();
  ok = f.close() && ok;
  if (!ok || !fileops::renameFile(tmp, path_)) {
    fileops::removeFile(tmp);
    return false;
  }
  fileops::syncDirectory(dir);
  state_ = State::Opened;
  return true;
}

SettingsStore& settings() { return *current(); }

SettingsStore& openSettings(const std::string& path) {
  current() = std::make_unique<SettingsStore>(path.empty() ? SettingsStore::defaultPath() : path);
  return *current();
}

void closeSettings() { current() = std::make_unique<SettingsStore>(std::string()); }

}  // namespace fb
