#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""The Windows build end to end, as a person uses it: the real dotloom.exe under Wine in its
own Xvfb and its own Wine prefix, driven with xdotool through the menu's access keys and
Wine's real file dialogs.

    dotloom_wine_e2e.py DOTLOOM_EXE PROBE_EXE [--scale FACTOR] [--version X.Y.Z]
                        [--screenshot OUT.png] [--bmp-writer DOTLOOM_WRITE_BMP_EXE]
                        --window-sizes DOTLOOM_WINDOW_SIZES_EXE

PROBE_EXE (win32_window_probe.cpp) reads the window's geometry from inside, the window sizes
program (window_sizes.cpp) prints the sizes window/ gives it, and the tests' BMP writer
(write_bmp.cpp, by default the one beside the program's build) writes the colour BMP, all under
the same Wine. --scale sets the
desktop's dpi the way Windows' display settings do (LogPixels: 1.5 is 144 dpi), and every
canvas pixel must then show as a whole block of the scale rounded (1.25 -> 1 x 1, 1.5 -> 2 x 2);
--version is the version the program file must carry. Checks the program file's icon and
version, the client area and the canvas's place, both read from inside and found on screen, a
Bitfile drawn bit-exactly, Bitfile -> Bitfile, CON.bit, cancelled dialogs, Save As over a file
answered No, a missing file and folder, a BMP save and BMP -> Bitfile, a BMP of pure red, green
and blue, then closes the window with Alt+F4 and checks no port name of the prefix leads to
/dev. The prefix lives in a temporary
folder, so nothing of the user's is touched and nothing is left behind.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bitfile_art  # noqa: E402
from e2e_support import (WAIT_SECONDS, WHITE, Desktop, Failure, Session,  # noqa: E402
                         convert_and_close, find_bmp_writer, pixel_scale,
                         print_log_tail, read, read_layout, report, start_xvfb, stop,
                         wait_for_canvas, wait_for_contents, wait_for_interior)

# Making a prefix is Wine's slowest step; a busy machine may need much longer than usual.
PREFIX_SECONDS = 180
WINE_FONTS = "/usr/share/wine/fonts"
WINE_DEVICES = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                            "scripts", "wine-devices.sh")

REGISTRY = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:{dpi:08x}
"""


def windows_path(path):
    """The path as a Windows program under Wine names it: drive Z: is the root."""
    return "Z:" + path.replace("/", "\\")


def wine_desktop(display, dpi, workdir):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("WINE", "LC_", "LANG"))}
    env.update(DISPLAY=display, HOME=workdir, LC_ALL="C.UTF-8", WINEDEBUG="-all",
               WINEARCH="win64", WINEPREFIX=os.path.join(workdir, "prefix"),
               # No offer to download Mono or Gecko while the prefix is made.
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return Desktop(display, pixel_scale(dpi / 96), env)


def make_prefix(desktop, dpi, workdir):
    """Wine's own set-up, then no crash dialog, Wine drawing the window frames itself (there
    is no window manager, so the X window spans the whole frame) and the desktop's dpi."""
    desktop.run("wineboot", "--init", timeout=PREFIX_SECONDS)
    registry = os.path.join(workdir, "settings.reg")
    with open(registry, "w", encoding="ascii") as file:
        file.write(REGISTRY.format(dpi=dpi))
    desktop.run("wine", "regedit", "/S", windows_path(registry), timeout=PREFIX_SECONDS)
    # No port name leads to a device of the machine; this also waits for the set-up's
    # server to end, so that the program never meets one on its way out.
    desktop.run(WINE_DEVICES, timeout=PREFIX_SECONDS)
    # The caption buttons are drawn with Marlett, which this Wine does not find by itself.
    marlett = os.path.join(WINE_FONTS, "marlett.ttf")
    if os.path.exists(marlett):
        shutil.copy(marlett, os.path.join(desktop.env["WINEPREFIX"], "drive_c/windows/Fonts"))


def probe(desktop, probe_exe):
    """The probe's key=value lines; rectangles as (x, y, width, height) tuples."""
    lines = desktop.run("wine", probe_exe, timeout=WAIT_SECONDS * 3).stdout.split()
    values = dict(line.split("=", 1) for line in lines if "=" in line)
    return {key: tuple(int(n) for n in value.split(",")) if "," in value else value
            for key, value in values.items()}


def rgb_of(colour_ref):
    """A COLORREF as the screenshot's (r, g, b)."""
    value = int(colour_ref, 16)
    return value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF


class WineSession(Session):
    """dotloom.exe under Wine, closed with Alt+F4 as a person does without a mouse."""

    name = "dotloom.exe"
    # The first program in a new prefix waits for Wine's own services to come up.
    window_seconds = WAIT_SECONDS * 6

    def __init__(self, desktop, program, log, debug="-all,err+all"):
        # Wine's own errors go to the log, which a failing run prints.
        super().__init__(desktop, ["wine", program], log, env=dict(desktop.env, WINEDEBUG=debug))

    def typed(self, path):
        return windows_path(path)

    def request_close(self):
        self.focus()
        self.desktop.xdotool("key", "--clearmodifiers", "alt+F4")


def check_no_devices(prefix):
    """After the run, no name in the prefix's dosdevices leads to the machine's /dev."""
    folder = os.path.join(prefix, "dosdevices")
    for name in sorted(os.listdir(folder)):
        target = os.path.realpath(os.path.join(folder, name))
        if target == "/dev" or target.startswith("/dev/"):
            raise Failure(f"the prefix maps {name} to {target}")


def check_resources(geometry, version):
    if geometry["icon"] != "1":
        raise Failure("the program file has no icon")
    if version and geometry["file_version"] != version + ".0":
        raise Failure(f"the program file says version {geometry['file_version']}, not {version}")


def check_geometry(geometry, layout, dpi, scale):
    """The client area and the picture control at the sizes window/ gives (layout), drawn at
    scale device pixels per canvas pixel at dpi."""
    client, picture, interior = geometry["client"], geometry["picture"], geometry["interior"]
    print(f"dpi {geometry['dpi']}: window {geometry['window'][2:]}, client {client[2:]}, "
          f"picture {picture[2:]} at {picture[0] - client[0]},{picture[1] - client[1]}, "
          f"interior {interior[2:]} at {interior[0] - client[0]},{interior[1] - client[1]}")
    want = {
        "dpi": str(dpi),
        "client": layout.client[0] * scale, "client_h": layout.client[1] * scale,
        "picture at": (0, 0),
        "picture": layout.picture[0] * scale, "picture_h": layout.picture[1] * scale,
        "interior at": (layout.border * scale, layout.border * scale),
        "interior": layout.interior[0] * scale, "interior_h": layout.interior[1] * scale,
        "sizable": "0", "client_edge": "1",
    }
    got = {
        "dpi": geometry["dpi"],
        "client": client[2], "client_h": client[3],
        "picture at": (picture[0] - client[0], picture[1] - client[1]),
        "picture": picture[2], "picture_h": picture[3],
        "interior at": (interior[0] - client[0], interior[1] - client[1]),
        "interior": interior[2], "interior_h": interior[3],
        "sizable": geometry["sizable"], "client_edge": geometry["client_edge"],
    }
    wrong = [f"{key} {got[key]} (want {value})" for key, value in want.items() if got[key] != value]
    if wrong:
        raise Failure("window geometry: " + ", ".join(wrong))


def check_right_column(desktop, client, colour):
    """The client area's rightmost column (scale pixels wide) shows the window's background."""
    pixel = desktop.screenshot().load()
    scale = desktop.scale
    for y in range(client[1], client[1] + client[3]):
        for x in range(client[0] + client[2] - scale, client[0] + client[2]):
            if pixel[x, y] != colour:
                raise Failure(f"client pixel ({x - client[0]}, {y - client[1]}) is "
                              f"{pixel[x, y]}, not the window background {colour}")


def run(program, probe_exe, bmp_writer, window_sizes, scale, version, screenshot, workdir):
    screen = f"{round(1024 * scale)}x{round(768 * scale)}x24"
    with open(os.path.join(workdir, "xvfb.log"), "wb") as xvfb_log:
        server, display = start_xvfb(xvfb_log, screen)
    dpi = round(96 * scale)
    desktop = wine_desktop(display, dpi, workdir)
    session = None
    log_path = os.path.join(workdir, "dotloom.log")
    try:
        started = time.monotonic()
        make_prefix(desktop, dpi, workdir)
        print(f"Wine prefix made in {time.monotonic() - started:.1f} s")
        black = bitfile_art.black_pixels()
        original = os.path.join(workdir, "Dotloom art.bit")
        with open(original, "wb") as file:
            file.write(bitfile_art.encode(black))

        started = time.monotonic()
        with open(log_path, "wb") as log:
            session = WineSession(desktop, program, log)
        print(f"window up {time.monotonic() - started:.1f} s after launch")
        desktop.layout = read_layout(lambda: desktop.run(
            "wine", window_sizes, timeout=WAIT_SECONDS * 3).stdout)
        geometry = probe(desktop, probe_exe)
        check_geometry(geometry, desktop.layout, dpi, desktop.scale)
        check_resources(geometry, version)
        origin = geometry["interior"][:2]
        # And on screen: the interior where the window says it is, in its sunken edge.
        shown = wait_for_interior(desktop, geometry["window"])
        if shown != geometry["interior"]:
            raise Failure(f"the canvas interior shows at {shown}, the window puts it at "
                          f"{geometry['interior']}")
        background = rgb_of(geometry["highlight_text"])
        if background == (0, 0, 0):
            background = WHITE  # the canvas's mend for a black highlight text
        wait_for_canvas(desktop, origin, set(), background)
        check_right_column(desktop, geometry["client"], rgb_of(geometry["button_face"]))

        print("open a Bitfile")
        session.choose("o", "Open", original)
        wait_for_canvas(desktop, origin, black, background)
        if screenshot:
            desktop.save_screenshot(screenshot, *geometry["window"])

        print("Bitfile -> Bitfile")
        saved_bit = os.path.join(workdir, "copy.bit")
        session.choose("s", "Save As", saved_bit)
        wait_for_contents(saved_bit, read(original),
                          "the saved Bitfile differs from the one opened")

        print("CON.bit")
        # A device name: the dialog takes it, asking first on Save As since it "exists", and
        # the program ends the command silently, writing nothing and never blocking. Open
        # clears the drawing, as it does for any chosen name.
        device = os.path.join(workdir, "CON.bit")
        session.choose("s", "Save As", device)
        session.choose("o", "Open", device)
        wait_for_canvas(desktop, origin, set(), background)
        if os.path.exists(device):
            raise Failure("CON.bit was written as a file")
        # And the next command works as ever.
        session.choose("o", "Open", original)
        wait_for_canvas(desktop, origin, black, background)

        print("cancelled dialogs")
        # A cancelled dialog has no file name, not the last one: with the copy just opened
        # gone, nothing is written again and the canvas is not cleared.
        session.choose("o", "Open", saved_bit)
        wait_for_canvas(desktop, origin, black, background)
        os.remove(saved_bit)
        session.cancel("s", "Save As")
        session.cancel("o", "Open")
        time.sleep(0.5)
        if os.path.exists(saved_bit):
            raise Failure("a cancelled Save As wrote the last file again")
        wait_for_canvas(desktop, origin, black, background)

        print("Save As over a file, answered No")
        other = os.path.join(workdir, "other.bit")
        with open(other, "wb") as file:
            file.write(bytes(576))
        session.answered("s", "Save As", other, "n")
        time.sleep(0.5)
        if read(other) != bytes(576):
            raise Failure("Save As replaced a file though the answer was No")
        os.remove(other)

        print("a missing file")
        # The open dialog says so itself, and the command never starts. The save dialog takes
        # a name in a missing folder; the program then writes nothing and makes no folder.
        session.answered("o", "Open", os.path.join(workdir, "missing.bit"), "Return")
        wait_for_canvas(desktop, origin, black, background)
        missing_folder = os.path.join(workdir, "no such folder")
        session.choose("s", "Save As", os.path.join(missing_folder, "copy.bit"))
        wait_for_canvas(desktop, origin, black, background)
        if os.path.exists(missing_folder):
            raise Failure("Save As into a missing folder made it")

        writer = bmp_writer and (lambda path, *rest: desktop.run(
            "wine", bmp_writer, windows_path(path), *rest, timeout=WAIT_SECONDS * 3))
        convert_and_close(session, lambda: origin, black, background, workdir, original, writer)
        session = None
        check_no_devices(desktop.env["WINEPREFIX"])
        leftovers = sorted(set(os.listdir(workdir)) - {
            "prefix", "settings.reg", "dotloom.log", "xvfb.log", "Dotloom art.bit", "copy.bmp",
            "converted.bit", "colours.bmp", ".cache", ".local", ".config"})
        if leftovers:
            raise Failure(f"files left beside the saved ones: {leftovers}")
    except BaseException:
        for log in (log_path, os.path.join(workdir, "xvfb.log")):
            print_log_tail(log, sys.stderr)
        raise
    finally:
        if session is not None:
            session.kill()
        subprocess.run(["wineserver", "--kill"], env=desktop.env, check=False,
                       capture_output=True, timeout=WAIT_SECONDS)
        stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("probe")
    parser.add_argument("--scale", type=float, default=1)
    parser.add_argument("--version")
    parser.add_argument("--screenshot")
    parser.add_argument("--bmp-writer")
    parser.add_argument("--window-sizes", required=True)
    args = parser.parse_args()
    return report(lambda workdir: run(os.path.abspath(args.program), os.path.abspath(args.probe),
                                      find_bmp_writer(args.program, args.bmp_writer),
                                      os.path.abspath(args.window_sizes), args.scale, args.version,
                                      args.screenshot and os.path.abspath(args.screenshot),
                                      workdir), prefix="dotloom-wine-e2e-")


if __name__ == "__main__":
    sys.exit(main())
