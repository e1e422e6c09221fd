#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Checks the Windows download in a folder as cpack left it:

    check_windows_package.py FOLDER VERSION

- dotloom-VERSION-windows-x86_64.zip holds one folder, dotloom-VERSION/, with dotloom.exe,
  README.txt and LICENSE.txt, the two text files with Windows line endings;
- dotloom-VERSION-windows-x86_64-setup.exe is there, and SHA256SUMS names both and verifies
  with `sha256sum -c`;
- dotloom.exe is a 64-bit GUI program under 1 MiB whose header names Windows 10.0 as both
  subsystem and OS version, with an icon at every size the shell asks for, and every DLL it
  can load is one Windows ships: those in its import table, those imported on first use
  (delay-load) and those it names to LoadLibrary, all found as the DLL names the file holds.
Prints what it found; the exit status is 1 on the first fault.
"""

import os
import re
import struct
import subprocess
import sys
import zipfile

import pefile

sys.dont_write_bytecode = True  # the check writes nothing beside itself
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import Failure, report  # noqa: E402

ICON_SIZES = {16, 20, 24, 32, 40, 48, 64, 256}
# What Windows 10 itself has in System32 and the program may need.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "dwmapi.dll", "gdi32.dll", "kernel32.dll",
    "kernelbase.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "shcore.dll",
    "shell32.dll", "shlwapi.dll", "ucrtbase.dll", "user32.dll", "uxtheme.dll", "version.dll",
    "windowscodecs.dll",
}
PE32_PLUS = 0x20B


def read_program(data):
    """A 64-bit (PE32+) Windows program, read by pefile."""
    try:
        program = pefile.PE(data=data)
    except pefile.PEFormatError as error:
        raise Failure(f"not a Windows program: {error}") from None
    if program.OPTIONAL_HEADER.Magic != PE32_PLUS:
        raise Failure("not a 64-bit (PE32+) program")
    return program


def imported_dlls(program):
    """Names from the import table and the delay-load table."""
    return [entry.dll.decode("ascii")
            for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT")
            for entry in getattr(program, table, [])]


def named_dlls(data):
    """Every DLL name the file holds as ASCII or UTF-16 text: the import tables' names, a
    delay-load descriptor's name wherever the linker put it, a LoadLibrary argument."""
    names = {name.decode("ascii") for name in
             re.findall(rb"[A-Za-z0-9_.-]+\.dll(?![A-Za-z0-9])", data, re.I)}
    for match in re.finditer(rb"(?:[A-Za-z0-9_.-]\0)+\.\0[dD]\0[lL]\0[lL]\0", data):
        start = match.start()
        # A text byte just before means the first "character" is the last letter of an
        # ASCII string and its terminating NUL.
        if start > 0 and data[start - 1] != 0:
            start += 2
        names.add(data[start:match.end()].decode("utf-16-le"))
    return names


def icon_sizes(program):
    """The sizes in the first icon group resource (RT_GROUP_ICON); 0 in a width means 256."""
    group_icon = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
    if not hasattr(program, "DIRECTORY_ENTRY_RESOURCE"):
        raise Failure("no resources")
    for kind in program.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == group_icon:
            resource = kind.directory.entries[0].directory.entries[0].data.struct
            group = program.get_data(resource.OffsetToData, resource.Size)
            count = struct.unpack_from("<H", group, 4)[0]
            return sorted(group[6 + 14 * i] or 256 for i in range(count))
    raise Failure("no icon")


def check_text(name, text):
    if b"\n" in text.replace(b"\r\n", b"") or b"\r" in text.replace(b"\r\n", b""):
        raise Failure(f"{name} has line endings other than CR LF")
    if not text.endswith(b"\r\n"):
        raise Failure(f"{name} does not end with a line break")
    text.decode("utf-8")


def check_program(data):
    program = read_program(data)
    if len(data) >= 1 << 20:
        raise Failure(f"dotloom.exe is {len(data)} bytes, over 1 MiB")
    if (program.FILE_HEADER.Machine, program.OPTIONAL_HEADER.Subsystem) != (
            pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"],
            pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]):
        raise Failure("dotloom.exe is not a 64-bit GUI program")
    header = program.OPTIONAL_HEADER
    versions = {"subsystem": (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
                "OS": (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)}
    print(f"dotloom.exe: {len(data)} bytes, subsystem version "
          f"{'.'.join(map(str, versions['subsystem']))}, OS version "
          f"{'.'.join(map(str, versions['OS']))}")
    for what, version in versions.items():
        if version != (10, 0):
            raise Failure(f"dotloom.exe's header gives {what} version {version[0]}.{version[1]}, "
                          "not 10.0")
    sizes = icon_sizes(program)
    print(f"icon sizes: {' '.join(map(str, sizes))}")
    if set(sizes) != ICON_SIZES:
        raise Failure(f"the icon holds {sizes}, not {sorted(ICON_SIZES)}")
    imported = {name.lower() for name in imported_dlls(program)}
    named = {name.lower() for name in named_dlls(data)}
    if not imported <= named:
        raise Failure(f"imported DLLs {sorted(imported - named)} not found among the names")
    later = named - imported
    print(f"DLLs imported: {' '.join(sorted(imported))}")
    print(f"DLLs loaded later: {' '.join(sorted(later))}")
    foreign = sorted(named - SYSTEM_DLLS)
    if foreign:
        raise Failure(f"dotloom.exe may load {', '.join(foreign)}, which Windows does not ship")


def check(folder, version):
    package = f"dotloom-{version}-windows-x86_64"
    zip_path = os.path.join(folder, package + ".zip")
    installer = package + "-setup.exe"
    top = f"dotloom-{version}/"
    with zipfile.ZipFile(zip_path) as archive:
        files = sorted(name for name in archive.namelist() if not name.endswith("/"))
        print(f"{os.path.basename(zip_path)}: {' '.join(files)}")
        want = [top + name for name in ("LICENSE.txt", "README.txt", "dotloom.exe")]
        if files != want or any(not name.startswith(top) for name in archive.namelist()):
            raise Failure(f"the zip holds {archive.namelist()}, not {want}")
        for name in ("README.txt", "LICENSE.txt"):
            check_text(name, archive.read(top + name))
        check_program(archive.read(top + "dotloom.exe"))
    installer_data = open(os.path.join(folder, installer), "rb").read()
    if (read_program(installer_data).FILE_HEADER.Machine
            != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]):
        raise Failure(f"{installer} is not a 64-bit program")
    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as sums:
        named = sorted(line.split("  ", 1)[1] for line in sums.read().splitlines())
    if named != sorted([package + ".zip", installer]):
        raise Failure(f"SHA256SUMS names {named}")
    result = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=folder,
                            capture_output=True, text=True, check=False)
    print(result.stdout, end="")
    if result.returncode != 0:
        raise Failure("SHA256SUMS does not verify: " + result.stderr)


def main():
    if len(sys.argv) != 3 or sys.argv[1] in ("-h", "--help"):
        print(__doc__, file=sys.stderr if len(sys.argv) != 2 else sys.stdout)
        return 0 if len(sys.argv) == 2 else 2
    return report(lambda: check(sys.argv[1], sys.argv[2]), OSError, zipfile.BadZipFile,
                  struct.error, ValueError)


if __name__ == "__main__":
    sys.exit(main())
