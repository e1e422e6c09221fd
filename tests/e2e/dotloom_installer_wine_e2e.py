#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""The Windows download as a user gets it: packs a Windows build with cpack, checks the zip,
the installer and SHA256SUMS (check_windows_package.py), then runs the installer under Wine
in its own prefix and Xvfb.

    dotloom_installer_wine_e2e.py BUILD_DIR CPACK VERSION

On a system older than Windows 10 version 1607 the installer refuses and installs nothing.
On Windows 10 a silent install (/S) puts dotloom.exe, README.txt, LICENSE.txt and the
uninstaller into %LOCALAPPDATA%\\Programs\\Dotloom, a shortcut into the user's Start menu and
an entry into the installed-apps list (HKCU); the installed program starts to its window,
loading DLLs from the system's folders only. The silent uninstall named by that entry removes
all of it: once Windows has started again (which removes the uninstaller's copy of itself
in %TEMP%), the prefix holds the same files and folders as before and the registry no trace
of Dotloom.
"""

import argparse
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_windows_package  # noqa: E402
from dotloom_wine_e2e import PREFIX_SECONDS, WineSession, make_prefix, wine_desktop  # noqa: E402
from e2e_support import Failure, print_log_tail, report, start_xvfb, stop  # noqa: E402

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dotloom"
INSTALLED = ["LICENSE.txt", "README.txt", "Uninstall.exe", "dotloom.exe"]


class Prefix:
    """The Wine prefix of one desktop, seen from Linux and from Windows."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.root = desktop.env["WINEPREFIX"]
        user = os.path.join(self.root, "drive_c", "users")
        self.user = os.path.join(user, next(name for name in sorted(os.listdir(user))
                                            if name != "Public"))
        self.install_dir = os.path.join(self.user, "AppData", "Local", "Programs", "Dotloom")
        self.shortcut = os.path.join(self.user, "AppData", "Roaming", "Microsoft", "Windows",
                                     "Start Menu", "Programs", "Dotloom.lnk")

    def windows_path(self, path):
        return "C:" + os.path.relpath(path, os.path.join(self.root, "drive_c")).join(
            ["\\", ""]).replace("/", "\\")

    def wine(self, *arguments):
        return self.desktop.run("wine", *arguments, check=False, timeout=PREFIX_SECONDS)

    def settle(self):
        """Waits until every Windows process has ended and the registry is on disk."""
        self.desktop.run("wineserver", "--wait", timeout=PREFIX_SECONDS)

    def set_windows_version(self, version):
        self.wine("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/t", "REG_SZ", "/d",
                  version, "/f")
        self.settle()

    def snapshot(self):
        """Every file and folder of drive C:, and every registry line naming Dotloom."""
        paths = set()
        for folder, folders, files in os.walk(os.path.join(self.root, "drive_c")):
            paths.update(os.path.join(folder, name) for name in folders + files)
        registry = set()
        for name in ("system.reg", "user.reg", "userdef.reg"):
            with open(os.path.join(self.root, name), encoding="utf-8", errors="replace") as file:
                registry.update(line for line in file if "dotloom" in line.lower())
        return paths, registry

    def uninstall_entry(self):
        """The installed-apps entry's values, or None when there is none."""
        result = self.wine("reg", "query", UNINSTALL_KEY)
        if result.returncode != 0:
            return None
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\s*$", result.stdout, re.M))


def check_refused_before_1607(prefix, installer, before):
    prefix.set_windows_version("win81")
    status = prefix.wine(installer, "/S").returncode
    prefix.settle()
    if status == 0 or prefix.snapshot() != before:
        raise Failure(f"the installer ran on Windows 8.1 (status {status})")
    prefix.set_windows_version("win10")


def check_installed(prefix, program_bytes, version):
    if sorted(os.listdir(prefix.install_dir)) != INSTALLED:
        raise Failure(f"installed {sorted(os.listdir(prefix.install_dir))}, not {INSTALLED}")
    with open(os.path.join(prefix.install_dir, "dotloom.exe"), "rb") as file:
        if file.read() != program_bytes:
            raise Failure("the installed dotloom.exe differs from the zip's")
    exe = prefix.windows_path(os.path.join(prefix.install_dir, "dotloom.exe"))
    uninstaller = prefix.windows_path(os.path.join(prefix.install_dir, "Uninstall.exe"))
    with open(prefix.shortcut, "rb") as file:
        link = file.read()
    if exe.encode() not in link and exe.encode("utf-16-le") not in link:
        raise Failure(f"the Start-menu shortcut does not point at {exe}")
    entry = prefix.uninstall_entry()
    want = {"DisplayName": "Dotloom", "DisplayVersion": version, "DisplayIcon": exe,
            "InstallLocation": prefix.windows_path(prefix.install_dir),
            "UninstallString": f'"{uninstaller}"', "QuietUninstallString": f'"{uninstaller}" /S'}
    wrong = {key: (entry or {}).get(key) for key, value in want.items()
             if (entry or {}).get(key) != value}
    if wrong:
        raise Failure(f"the installed-apps entry has {wrong}, want {want}")
    print(f"installed into {want['InstallLocation']}, shortcut and installed-apps entry there")
    return entry


def check_starts(prefix, workdir):
    """The installed program up to its window and closed again; every DLL it loaded on the way
    comes from the system's folders."""
    log_path = os.path.join(workdir, "installed.log")
    exe = prefix.windows_path(os.path.join(prefix.install_dir, "dotloom.exe"))
    try:
        with open(log_path, "wb") as log:
            WineSession(prefix.desktop, exe, log, debug="+loaddll").close()
    except BaseException:
        print_log_tail(log_path, sys.stderr)
        raise
    with open(log_path, encoding="utf-8", errors="replace") as log:
        loaded = re.findall(r'Loaded L"([^"]+)"', log.read())
    modules = [path.replace("\\\\", "\\") for path in loaded]
    foreign = [path for path in modules if not path.lower().startswith("c:\\windows\\")
               and path.lower() != exe.lower()]
    if not modules or foreign:
        raise Failure(f"the installed program loaded {foreign or 'nothing'}")
    print(f"the installed program started to its window; {len(modules)} modules loaded, all "
          "from C:\\windows")


def run(build, cpack, version, workdir):
    packages = os.path.join(workdir, "packages")
    packed = subprocess.run([cpack, "--config", os.path.join(build, "CPackConfig.cmake"),
                             "-B", packages], capture_output=True, text=True, check=False,
                            timeout=PREFIX_SECONDS)
    if packed.returncode != 0:
        raise Failure("cpack failed:\n" + packed.stdout + packed.stderr)
    check_windows_package.check(packages, version)
    package = f"dotloom-{version}-windows-x86_64"
    installer = os.path.join(packages, package + "-setup.exe")
    with check_windows_package.zipfile.ZipFile(os.path.join(packages, package + ".zip")) as zip:
        program_bytes = zip.read(f"dotloom-{version}/dotloom.exe")

    with open(os.path.join(workdir, "xvfb.log"), "wb") as xvfb_log:
        server, display = start_xvfb(xvfb_log)
    desktop = wine_desktop(display, 96, workdir)
    # No menu entries of the Linux desktop for the Start-menu shortcut.
    desktop.env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
    try:
        make_prefix(desktop, 96, workdir)
        prefix = Prefix(desktop)
        prefix.settle()
        before = prefix.snapshot()
        check_refused_before_1607(prefix, installer, before)
        before = prefix.snapshot()

        status = prefix.wine(installer, "/S").returncode
        prefix.settle()
        if status != 0:
            raise Failure(f"the silent install ended with status {status}")
        entry = check_installed(prefix, program_bytes, version)
        check_starts(prefix, workdir)

        command = entry["QuietUninstallString"]
        uninstaller = command[1:command.index('"', 1)]
        status = prefix.wine(uninstaller, "/S").returncode
        prefix.settle()  # the uninstaller goes on as its copy in %TEMP%
        if status != 0:
            raise Failure(f"the silent uninstall ended with status {status}")
        if os.path.exists(prefix.install_dir) or os.path.exists(prefix.shortcut):
            raise Failure("the uninstaller left the program's folder or the shortcut")
        if prefix.uninstall_entry() is not None:
            raise Failure("the uninstaller left the installed-apps entry")
        # Windows starts again, removing what was queued for then.
        desktop.run("wineboot", "--restart", timeout=PREFIX_SECONDS)
        prefix.settle()
        paths, registry = prefix.snapshot()
        left = sorted(paths - before[0]) + sorted(registry - before[1])
        if left:
            raise Failure(f"left after uninstalling: {left[:10]}")
        print("uninstalled: no file, folder or registry entry left")
    finally:
        subprocess.run(["wineserver", "--kill"], env=desktop.env, check=False,
                       capture_output=True, timeout=PREFIX_SECONDS)
        stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="the Windows build folder")
    parser.add_argument("cpack", help="the cpack program")
    parser.add_argument("version", help="the version the packages carry")
    args = parser.parse_args()
    return report(lambda workdir: run(os.path.abspath(args.build), args.cpack, args.version,
                                      workdir), OSError, prefix="installer-e2e-")


if __name__ == "__main__":
    sys.exit(main())
