#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Every program source includes headers only of its own folder and the folders it links.

The layers are declared once, in the CMake link graph, and read from there: a folder may
include the headers of the libraries its targets link, directly or through one another. The
program's folders are those its target, dotloom, reaches. The arrows point down: app ->
platform -> window -> commands -> image and files -> base; an include the other way, or a
folder that links itself through others, fails here with the line.
"""
import argparse
import pathlib
import re
import sys

PROGRAM = "dotloom"
DEFINE = re.compile(r"^\s*(?:add_library|add_executable|qt_add_executable)\(\s*([\w-]+)", re.M)
LINK = re.compile(r"^\s*target_link_libraries\(([^)]*)\)", re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_graph(source: pathlib.Path):
    """Which folders define each target, and which targets each folder's targets link."""
    defined, links = {}, {}
    for cmake in sorted(source.rglob("CMakeLists.txt")):
        folder = cmake.parent.relative_to(source).as_posix()
        if folder.startswith(("build", ".")):
            continue
        text = re.sub(r"#.*", "", cmake.read_text(encoding="utf-8"))
        for target in DEFINE.findall(text):
            defined.setdefault(target, set()).add(folder)
        for arguments in LINK.findall(text):
            links.setdefault(folder, set()).update(arguments.split()[1:])
    return defined, links


def below(folder: str, defined: dict, links: dict) -> set:
    """The folders that folder links, all the way down. A target both window systems define
    (dotloom_platform) is the folder's own one where the folder defines it too."""
    seen, todo = set(), [folder]
    while todo:
        by = todo.pop()
        for target in links.get(by, ()):
            folders = defined.get(target, set())
            for where in ({by} if by in folders else folders) - seen - {by}:
                seen.add(where)
                todo.append(where)
    return seen


def check(source: pathlib.Path) -> list:
    defined, links = read_graph(source)
    if PROGRAM not in defined:
        sys.exit(f"check_layers.py: no CMakeLists.txt under {source} defines {PROGRAM}")
    program = set().union(*(below(f, defined, links) | {f} for f in defined[PROGRAM])) - {"."}
    deepest_first = sorted({f for fs in defined.values() for f in fs}, key=lambda f: -len(f))
    home = lambda path: next((f for f in deepest_first if path.startswith(f + "/")), None)
    failures = []
    for folder in sorted(program):
        allowed = below(folder, defined, links)
        if folder in allowed:
            failures.append(f"{folder} links itself through the folders it links")
        for path in sorted((source / folder).rglob("*")):
            relative = path.relative_to(source).as_posix()
            if path.suffix not in {".h", ".cpp"} or home(relative) != folder:
                continue  # not a source, or one of a folder below with targets of its own
            for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if "/" in header and home(header) != folder and home(header) not in allowed:
                    failures.append(f"{relative}: includes {header}, which {folder} does not link")
    return failures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("source", type=pathlib.Path, help="the source tree's top folder")
    source = parser.parse_args().source
    if not (source / "CMakeLists.txt").is_file():
        parser.error(f"{source} is no source tree: it has no CMakeLists.txt")
    failures = check(source)
    print("\n".join(failures), file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
