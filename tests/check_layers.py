#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Every program source includes only its own folder and the libraries its folder links.

The layers are declared once, in the CMake link graph (the target_link_libraries of each
folder's CMakeLists.txt), and read from there: a folder may include the headers of the
libraries it links, and of their PUBLIC links in turn, since those come with them. The
program's folders are those the program target, dotloom, reaches. The arrows point down:
app -> platform -> window -> commands -> image and files -> base; a header included the
other way, or two folders that link each other, fails here with the line.
"""
import argparse
import pathlib
import re
import sys

PROGRAM = "dotloom"
DEFINE = re.compile(r"^\s*(?:add_library|add_executable|qt_add_executable)\(\s*([\w-]+)", re.M)
LINK = re.compile(r"^\s*target_link_libraries\(\s*([\w-]+)([^)]*)\)", re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE"}


class Graph:
    """The targets each folder defines and what each folder's targets link."""

    def __init__(self, source: pathlib.Path):
        self.folders = {}  # target -> folders that define it (one per window system)
        self.links = {}  # (folder, target) -> [(linked target, passed on to its users)]
        for cmake in sorted(source.rglob("CMakeLists.txt")):
            folder = cmake.parent.relative_to(source).as_posix()
            if folder.startswith(("build", ".")):
                continue
            text = re.sub(r"#.*", "", cmake.read_text(encoding="utf-8"))
            for target in DEFINE.findall(text):
                self.folders.setdefault(target, set()).add(folder)
            for target, arguments in LINK.findall(text):
                scope = "PUBLIC"
                for word in arguments.split():
                    if word in KEYWORDS:
                        scope = word
                    else:
                        self.links.setdefault((folder, target), []).append(
                            (word, scope != "PRIVATE"))

    def where(self, target: str, by: str) -> set:
        """The folders of target as folder by links it: its own when it defines target."""
        folders = self.folders.get(target, set())
        return {by} if by in folders else folders

    def reach(self, folder: str, target: str, public_only: bool) -> set:
        """(folder, target) of every library target, as folder defines it, links, all the way
        down; through PUBLIC links only if asked."""
        seen, todo = set(), [(folder, target)]
        while todo:
            by, target = todo.pop()
            for linked, public in self.links.get((by, target), []):
                if public or not public_only:
                    for where in self.where(linked, by):
                        if (where, linked) not in seen:
                            seen.add((where, linked))
                            todo.append((where, linked))
        return seen

    def allowed(self, folder: str) -> set:
        """The folders, other than its own, whose headers sources in folder may include: those
        its targets link, and what those pass on."""
        direct = {(where, linked) for (by, target), links in self.links.items() if by == folder
                  for linked, _ in links for where in self.where(linked, folder)}
        passed_on = set().union(*(self.reach(by, target, True) for by, target in direct))
        return {where for where, _ in direct | passed_on} - {folder}


def owner(path: str, folders: list) -> str | None:
    """The deepest of folders that holds path."""
    for folder in folders:  # deepest first
        if path == folder or path.startswith(folder + "/"):
            return folder
    return None


def check(source: pathlib.Path) -> list:
    graph = Graph(source)
    if PROGRAM not in graph.folders:
        sys.exit(f"check_layers.py: no CMakeLists.txt under {source} defines {PROGRAM}")
    program = set().union(*(graph.reach(f, PROGRAM, False) | {(f, PROGRAM)}
                            for f in graph.folders[PROGRAM]))
    folders = sorted({f for f, _ in program}, key=lambda f: (-f.count("/"), f))
    everything = sorted({f for fs in graph.folders.values() for f in fs},
                        key=lambda f: (-f.count("/"), f))
    failures = []
    for folder in folders:
        allowed = graph.allowed(folder)
        failures += [f"{folder} and {other} link each other" for other in sorted(allowed)
                     if other > folder and folder in graph.allowed(other)]
        for path in sorted((source / folder).rglob("*")):
            relative = path.relative_to(source).as_posix()
            if path.suffix not in {".h", ".cpp"} or owner(relative, folders) != folder:
                continue
            for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if "/" not in header:
                    continue  # beside the source
                home = owner(header, everything)
                if home != folder and home not in allowed:
                    failures.append(f"{relative}: includes {header}, which {folder} does not link")
    if not failures and not folders:
        sys.exit(f"check_layers.py: no sources of {PROGRAM} under {source}")
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
