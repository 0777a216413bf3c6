#!/usr/bin/env python3
"""Checks that every #include "..." of the product code follows the arrows of layers.txt.

A room is a folder; a file may include headers of its own room and of the rooms its room's
line in layers.txt names, nothing else. Every source file below a room's top folder must lie
in a room, every named room must exist, and the arrows must form no circle.

Which file an include means, as the compilers' include paths find it: a name with a folder
("format/zip_format.h") counts from the repository, else from the including file's folder;
a bare name ("command.h") is looked for in the including file's folder, then in the rooms of
its own program (builder/ or sfxhead/), then in the shared rooms. One program never sees the
other's files; a shared room's file, compiled into either, sees both. A name that is in none of them (a system or generated header) is not checked.

    scripts/check_layers.py [--root DIR]     prints each fault, one a line; exit status 1 on any
"""

import argparse
import re
import sys
from collections import defaultdict
from pathlib import Path

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"([^"]+)"', re.M)


def without_block_comments(text: str) -> str:
    """Blanks /* ... */ comments, keeping their newlines (and so line numbers)."""
    return re.sub(r"/\*.*?\*/", lambda m: re.sub(r"[^\n]", " ", m.group()), text, flags=re.S)


def read_layers(path: Path) -> tuple[dict[str, list[str]], list[str]]:
    """(room -> rooms it may use, faults) from a layers file."""
    arrows, faults = {}, []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        room, colon, targets = line.partition(":")
        room = room.strip().rstrip("/")
        if not colon or not room:
            faults.append(f"{path.name}:{number}: not \"room: rooms it may use\": {line}")
            continue
        if room in arrows:
            faults.append(f"{path.name}:{number}: room {room} listed twice")
        arrows[room] = [t.rstrip("/") for t in targets.split()]
    for room, targets in arrows.items():
        for target in targets:
            if target not in arrows:
                faults.append(f"{path.name}: {room} names {target}, which is no room")
    return arrows, faults


def find_circle(arrows: dict[str, list[str]]) -> list[str]:
    state: dict[str, str] = {}

    def visit(room: str, trail: list[str]) -> list[str]:
        state[room] = "open"
        for target in arrows.get(room, ()):
            if state.get(target) == "open":
                return trail[trail.index(target):] + [target]
            if target not in state:
                found = visit(target, trail + [target])
                if found:
                    return found
        state[room] = "done"
        return []

    for room in arrows:
        if room not in state:
            found = visit(room, [room])
            if found:
                return found
    return []


def program_of(room: str, programs: set[str]) -> str:
    top = room.split("/")[0]
    return top if top in programs else ""


class Resolver:
    """Finds the file an include means among the rooms' files."""

    def __init__(self, root: Path, files: dict[str, str], programs: set[str]):
        self.root = root
        self.room_of = files  # path relative to root -> its room
        self.programs = programs
        self.by_name = defaultdict(list)
        for path in files:
            self.by_name[path.rsplit("/", 1)[-1]].append(path)

    def resolve(self, includer: str, name: str) -> list[str]:
        folder = includer.rsplit("/", 1)[0]
        if "/" in name:
            for candidate in (name, f"{folder}/{name}"):
                if candidate in self.room_of:
                    return [candidate]
            return []
        candidates = self.by_name.get(name, [])
        own_program = program_of(self.room_of[includer], self.programs)
        in_folder = [c for c in candidates if c.rsplit("/", 1)[0] == folder]
        in_program = [c for c in candidates if own_program and program_of(self.room_of[c], self.programs) == own_program]
        shared = [c for c in candidates if not program_of(self.room_of[c], self.programs)]
        # A shared room's file is compiled into either program, so it would find theirs too.
        anywhere = candidates if not own_program else []
        return in_folder or in_program or shared or anywhere


def source_files(root: Path, rooms: list[str]) -> tuple[dict[str, str], list[str]]:
    """(path -> room for every source file below the rooms' top folders, faults)."""
    files, faults = {}, []
    tops = sorted({room.split("/")[0] for room in rooms})
    for top in tops:
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            relative = path.relative_to(root).as_posix()
            folder = relative.rsplit("/", 1)[0]
            if folder in rooms:
                files[relative] = folder
            else:
                faults.append(f"{relative}: lies in no room (give its folder a line in layers.txt)")
    for room in rooms:
        if not (root / room).is_dir():
            faults.append(f"layers.txt: room {room} is no folder")
    return files, faults


def check(root: Path, layers: Path) -> list[str]:
    arrows, faults = read_layers(layers)
    circle = find_circle(arrows)
    if circle:
        faults.append("layers.txt: the arrows make a circle: " + " -> ".join(circle))
    files, file_faults = source_files(root, list(arrows))
    faults += file_faults
    # A top folder that holds rooms below it is a program (builder/, sfxhead/).
    programs = {room.split("/")[0] for room in arrows if "/" in room}
    resolver = Resolver(root, files, programs)
    for path, room in files.items():
        text = without_block_comments((root / path).read_text(encoding="utf-8", errors="replace"))
        for match in INCLUDE.finditer(text):
            name = match.group(1)
            line = text.count("\n", 0, match.start()) + 1
            found = resolver.resolve(path, name)
            if len(found) > 1:
                faults.append(f"{path}:{line}: include \"{name}\" is ambiguous: {', '.join(found)}")
                continue
            if not found:
                continue
            target = files[found[0]]
            if target != room and target not in arrows.get(room, ()):
                faults.append(f"{path}:{line}: includes \"{name}\" ({target}), a room that {room} may not use")
    return faults


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parents[1])
    args = parser.parse_args()
    faults = check(args.root, args.root / "layers.txt")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} layering fault(s); the allowed arrows are in layers.txt")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
