// Frame names: a process-wide, thread-safe, reference-counted string table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fb {

using Atom = uint32_t;  // 0 = no atom

// Adds a reference to the atom holding `text` (created when new).
Atom addAtom(std::string_view text);
// Another reference to an existing atom.
void addAtomRef(Atom atom);
// Releases one reference; the text is freed with the last one.
void deleteAtom(Atom atom);
std::string atomText(Atom atom);
// References held (0 for an unknown atom), for tests.
int atomRefCount(Atom atom);

}  // namespace fb
