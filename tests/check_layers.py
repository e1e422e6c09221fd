#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Every program source includes only its own folder and the folders below it.

The arrows point down: app -> platform -> window -> commands -> image and files -> base. A
header included the other way, or two folders including each other, fails here with the line.
Usage: check_layers.py SOURCE_DIR
"""
import pathlib
import re
import sys

# What each folder may include besides itself. platform/ shows the dialog that the commands
# declare, so it may include commands/file_dialog.h and nothing else of commands/.
ALLOWED = {
    "base": set(),
    "image": set(),
    "files": {"base"},
    "commands": {"image", "files"},
    "window": {"commands", "image"},
    "platform": {"window", "image", "base", "commands/file_dialog.h"},
    "app": {"platform", "window", "commands", "image", "base"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main(source: pathlib.Path) -> int:
    failures = []
    for folder, allowed in ALLOWED.items():
        for path in sorted((source / folder).rglob("*")):
            if path.suffix not in {".h", ".cpp"}:
                continue
            for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
                top = header.split("/", 1)[0]
                if top == folder or top in allowed or header in allowed or "/" not in header:
                    continue
                failures.append(f"{path.relative_to(source)}: includes {header}")
    print("\n".join(failures), file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(pathlib.Path(sys.argv[1])))
