#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, lowest first; a folder may include its own layer and those below.
The Qt editor (editor/, with its dialogs) sits on top of everything; nothing
below may include it or any Qt header."""
import pathlib
import re
import sys

LAYERS = [("base", "resources"), ("document",), ("gif",), ("imaging",), ("formats",), ("io",),
          ("shell",), ("editor",)]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]')

# Inside the editor the window's shared adapters and its dialogs build without
# the window: of the editor's headers they include only the adapters (and the
# dialogs their own).
ADAPTERS = {"editor/ui_text.h", "editor/qt_reporter.h", "editor/progress_dialog.h",
            "editor/document_context.h", "editor/choosers.h", "editor/save_as_dialog.h"}


def below_window_fault(rel, target):
    if not target.startswith("editor/") or target in ADAPTERS:
        return False
    if rel.startswith("editor/dialogs/"):
        return not target.startswith("editor/dialogs/")
    return rel.rsplit(".", 1)[0] + ".h" in ADAPTERS


def layer_of(rel):
    parts = rel.split("/")
    return parts[0] if parts[0] in RANK else None


def main(src):
    src = pathlib.Path(src)
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        rel = path.relative_to(src).as_posix()
        own = layer_of(rel)
        if own is None:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            if target.startswith("Q") and RANK[own] < RANK["editor"]:
                faults.append(f"{rel}:{number}: {own} includes the Qt header {target}")
                continue
            if below_window_fault(rel, target):
                faults.append(f"{rel}:{number}: {rel} includes the window's {target}")
                continue
            other = layer_of(target)
            if other is not None and RANK[other] > RANK[own]:
                faults.append(f"{rel}:{number}: {own} includes {target} of the layer {other} above it")
    for f in faults:
        print(f)
    print(f"{len(faults)} upward include(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
