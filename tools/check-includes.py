#!/usr/bin/python3
"""Checks the include rules of docs/ARCHITECTURE.md: every project header a room's source includes
belongs to the room itself or to one the rules let it include, and no room without Qt includes a
Qt header.

Usage: tools/check-includes.py [SOURCE_ROOT]
The rules are the lines of the fenced block after the line "Include rules:" in
docs/ARCHITECTURE.md, one room a line: `room: allowed room ... [qt]`. A file belongs to the longest
room that its path starts with; folders named in no rule (tests, bench, tools) are not checked.
Prints every offending include as FILE:LINE: text and exits 1 when there is one.
"""
import pathlib
import re
import sys


def read_rules(root):
    text = (root / "docs" / "ARCHITECTURE.md").read_text(encoding="utf-8")
    match = re.search(r"^Include rules:.*?^```\n(.*?)^```", text, re.S | re.M)
    if not match:
        sys.exit("docs/ARCHITECTURE.md: no fenced block after 'Include rules:'")
    rules = {}
    for line in match.group(1).splitlines():
        if not line.strip():
            continue
        room, _, allowed = line.partition(":")
        words = allowed.split()
        rules[room.strip()] = ({w for w in words if w != "qt"}, "qt" in words)
    return rules


def room_of(path, rooms):
    best = None
    for room in rooms:
        if path == room or path.startswith(room + "/"):
            if best is None or len(room) > len(best):
                best = room
    return best


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[1])
    rules = read_rules(root)
    project = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    system = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]+|Qt[A-Za-z]*/[^>]*)>")
    faults = []
    for file in sorted(root.glob("**/*")):
        if file.suffix not in (".h", ".cpp") or "build" in file.relative_to(root).parts:
            continue
        relative = file.relative_to(root).as_posix()
        room = room_of(relative, rules)
        if room is None:
            continue
        allowed, qt = rules[room]
        for number, line in enumerate(file.read_text(encoding="utf-8").splitlines(), 1):
            m = project.match(line)
            if m:
                target = room_of(m.group(1), rules)
                if target is not None and target != room and target not in allowed:
                    faults.append(f"{relative}:{number}: {room} may not include {m.group(1)}")
            elif not qt and system.match(line):
                faults.append(f"{relative}:{number}: {room} includes Qt: {line.strip()}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
