#include "document/atoms.h"

#include <mutex>
#include <unordered_map>

namespace fb {
namespace {

struct Table {
  std::mutex mu;
  std::unordered_map<std::string, Atom> byText;
  std::unordered_map<Atom, std::pair<std::string, int>> byAtom;
  Atom next = 1;
};

Table& table() {
  static Table* t = new Table;  // lives until exit; frames may be freed late
  return *t;
}

}  // namespace

Atom addAtom(std::string_view text) {
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.byText.find(std::string(text));
  if (it != t.byText.end()) {
    ++t.byAtom[it->second].second;
    return it->second;
  }
  Atom a = t.next++;
  if (t.next == 0) t.next = 1;
  t.byText.emplace(std::string(text), a);
  t.byAtom.emplace(a, std::make_pair(std::string(text), 1));
  return a;
}

void addAtomRef(Atom atom) {
  if (!atom) return;
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.byAtom.find(atom);
  if (it != t.byAtom.end()) ++it->second.second;
}

void deleteAtom(Atom atom) {
  if (!atom) return;
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.byAtom.find(atom);
  if (it == t.byAtom.end()) return;
  if (--it->second.second == 0) {
    t.byText.erase(it->second.first);
    t.byAtom.erase(it);
  }
}

std::string atomText(Atom atom) {
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.byAtom.find(atom);
  return it == t.byAtom.end() ? std::string() : it->second.first;
}

int atomRefCount(Atom atom) {
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.byAtom.find(atom);
  return it == t.byAtom.end() ? 0 : it->second.second;
}

}  // namespace fb
