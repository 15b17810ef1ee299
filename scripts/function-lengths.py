#!/usr/bin/env python3
"""Lists the program's functions of more than LIMIT lines (default 60), longest first,
counted from the first line of the signature to the closing brace. A definition is a
'{' alone at the start of a line after its signature and ends at the next '}' at the
start of a line, as the code is laid out.

usage: scripts/function-lengths.py [LIMIT [FOLDER...]]   (run from the repository root)
"""
import pathlib
import re
import sys

limit = int(sys.argv[1]) if len(sys.argv) > 1 else 60
folders = sys.argv[2:] or ["app", "editor", "options", "platform", "launcher"]
found = []
for folder in folders:
    for path in sorted(pathlib.Path(folder).rglob("*")):
        if path.suffix not in (".cpp", ".h"):
            continue
        lines = path.read_text(errors="replace").splitlines()
        i = 0
        while i < len(lines):
            if lines[i] == "{":
                start = i - 1
                while start > 0 and lines[start - 1].strip() and not lines[start - 1].rstrip().endswith((";", "}", "{")) \
                        and not lines[start - 1].lstrip().startswith(("//", "#")):
                    start -= 1
                end = i + 1
                while end < len(lines) and lines[end] != "}":
                    end += 1
                name = re.sub(r"\s+", " ", " ".join(line.strip() for line in lines[start:i]))
                found.append((end - start + 1, f"{path}:{start + 1}", name[:90]))
                i = end
            i += 1
for length, where, name in sorted(found, reverse=True):
    if length > limit:
        print(f"{length:4d} {where} {name}")
