#!/usr/bin/env python3
"""Fails when an #include "..." runs up the order of the layers.

Each folder of src/ sits on one floor; a file may include its own folder and
folders on lower floors only, never a folder beside it on the same floor.
The programs in tools/ sit above the library but below the updater's own
flow in src/app/."""
import pathlib
import re
import sys

FLOORS = [["sys"], ["res"], ["base"], ["ui", "io"], ["db"], ["net"], ["apply"], ["app"]]
FLOOR = {folder: n for n, folders in enumerate(FLOORS) for folder in folders}
TOOLS_FLOOR = FLOOR["apply"] + 0.5
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def floor_of(path: pathlib.Path, root: pathlib.Path):
    parts = path.relative_to(root).parts
    if parts[0] == "src" and len(parts) > 2:
        return parts[1], FLOOR.get(parts[1])
    if parts[0] == "tools":
        return "tools/" + parts[1], TOOLS_FLOOR
    return None, None


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    wrong = []
    for path in sorted((root / "src").rglob("*")) + sorted((root / "tools").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder, floor = floor_of(path, root)
        if folder is None:
            continue
        if floor is None:
            wrong.append(f"{path.relative_to(root)}: folder {folder} has no floor in the layer order")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) == folder.split("/")[-1]:
                continue
            target = match.group(1)
            if folder.startswith("tools/") and target in ("applier", "publish"):
                wrong.append(f"{path.relative_to(root)}:{number}: one program includes another's {target}/")
                continue
            if target not in FLOOR:
                continue
            if FLOOR[target] >= floor:
                wrong.append(f"{path.relative_to(root)}:{number}: {folder} includes {target}/, "
                             "which is not below it")
    for line in wrong:
        print(line)
    order = " -> ".join("/".join(f) for f in FLOORS)
    print(f"layers: {order}; {len(wrong)} include(s) out of order")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
