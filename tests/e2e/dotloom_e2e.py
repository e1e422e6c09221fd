#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Dotloom end to end, as a person uses it: the real program in its own Xvfb, driven with
xdotool, or with --wayland on its own headless sway, driven with wtype, through the menu's
access keys and the real file dialogs.

    dotloom_e2e.py PROGRAM [--scale FACTOR] [--wayland QT_VERSION] [--screenshot OUT.png]
                   [--emulator EMULATOR] [--bmp-writer DOTLOOM_WRITE_BMP] [--fat]
                   --window-sizes DOTLOOM_WINDOW_SIZES

--scale sets the screen's scale the way a desktop does for Qt (QT_SCREEN_SCALE_FACTORS under X,
the output's scale on sway), so a fractional one too: each canvas pixel must then show as a
whole block of the scale rounded (1.25 -> 1 x 1, 1.5 -> 2 x 2). Qt before 6.5 draws at the
scale rounded up on Wayland and the compositor shrinks the window to a fractional scale, so
there the screen is not checked, only what the commands do and save.

Measures the window on screen against the sizes window/ gives (printed by
tests/e2e/window_sizes.cpp): the canvas interior in its edge, at its place in the client area.
Opens a Bitfile and checks the screen shows exactly its pixels in such blocks, saves it as .bit and .bmp and checks both files, opens the BMP and saves it as a
Bitfile again (the conversion), shows a BMP of pure red, green and blue, and closes the window,
which must end the program at once. Every wait is bounded. --emulator starts a cross-built
program through the given emulator (qemu-user for an arm64 build on an x86-64 machine), and
the window sizes program and the tests' BMP writer (tests/e2e/write_bmp.cpp, by default the
one beside the program's build) with it.

--fat saves all on a FAT image of the test's own (as on SD cards), mounted with fusefat (status 77
where FUSE cannot), and there also a Bitfile over a longer file, whose end must stay, and a BMP
over a larger one.
"""

import argparse
import contextlib
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bitfile_art  # noqa: E402
from PIL import Image  # noqa: E402
from e2e_support import (WAIT_SECONDS, Desktop, Failure, Session,  # noqa: E402
                         WHITE, convert_and_close, find_bmp_writer, pixel_scale,
                         print_log_tail, read, read_layout, report, start_sway, start_xvfb, stop,
                         wait_for_bmp, wait_for_canvas, wait_for_contents, wait_for_interior)


def qt_env(**settings):
    """The environment a Qt program sees: nothing of the user's display, theme or scaling."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                        "DESKTOP_SESSION", "WAYLAND_DISPLAY", "DISPLAY", "QT_SCALE_FACTOR",
                        "LANGUAGE", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
                        "QT_SCALE_FACTOR_ROUNDING_POLICY")}
    # The C locale keeps the dialogs' titles untranslated, so they can be found by name. No
    # desktop portal either: these desktops have no session bus, and Qt 6.8 asks the portal at
    # start-up and leaks the question left unanswered, which fails the run under LeakSanitizer.
    env.update(LC_ALL="C.UTF-8", QT_NO_XDG_DESKTOP_PORTAL="1", **settings)
    return env


def qt_desktop(display, scale, workdir):
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    env = qt_env(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime, HOME=workdir,
                 QT_SCREEN_SCALE_FACTORS=f"{scale:g}")
    return Desktop(display, pixel_scale(scale), env)


class QtSession(Session):
    """Dotloom under Qt, closed through its window's close button."""

    def request_close(self):
        self.desktop.close_window(self.window)


def start_desktop(workdir, scale, wayland):
    """The desktop, the processes that make it, and the program's environment on it."""
    if wayland is None:
        with open(os.path.join(workdir, "xvfb.log"), "wb") as log:
            server, display = start_xvfb(log)
        try:
            return qt_desktop(display, scale, workdir), [server], None
        except BaseException:
            stop(server)
            raise
    # Qt draws at a fractional scale on Wayland from 6.5.
    version = tuple(int(part) for part in wayland.split(".")[:2])
    sharp = scale == int(scale) or version >= (6, 5)
    with open(os.path.join(workdir, "sway.log"), "wb") as log:
        desktop, servers = start_sway(workdir, scale, log, sharp)
    # Qt's Wayland messages go to the program's log, which a failing run prints: they tell
    # whether the connection to the compositor broke.
    env = qt_env(QT_QPA_PLATFORM="wayland", QT_LOGGING_RULES="qt.qpa.wayland*=true",
                 **{k: desktop.env[k] for k in ("WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "HOME")})
    return desktop, servers, env


def check_place(layout, window, interior, n, whole):
    """The interior's distance from the window's left, right and bottom: the client area's at
    n device pixels per canvas pixel, the client area in the window's bottom-left corner and as
    wide. At a fractional scale (whole false) the window may start inside a device pixel and Qt
    may round its size up: then at least those distances."""
    want = (layout.border * n, (layout.client[0] - layout.border - layout.interior[0]) * n,
            (layout.client[1] - layout.border - layout.interior[1]) * n)
    got = (interior[0] - window[0], window[0] + window[2] - interior[0] - interior[2],
           window[1] + window[3] - interior[1] - interior[3])
    if got != want if whole else any(g < w for g, w in zip(got, want)):
        raise Failure(f"the canvas interior lies {got} device pixels from the window's left, "
                      f"right and bottom, not {want}")


@contextlib.contextmanager
def fat_folder(workdir):
    """The root of a FAT image in workdir, mounted while the test runs and unmounted whatever
    happens (lazily, should a killed program's file still be open)."""
    image, folder = os.path.join(workdir, "fat.img"), os.path.join(workdir, "fat")
    os.mkdir(folder)
    with open(image, "wb") as file:
        file.truncate(32 << 20)
    subprocess.run(["mkfs.vfat", image], check=True, capture_output=True, timeout=WAIT_SECONDS)
    mount = os.path.exists("/dev/fuse") and subprocess.run(
        ["fusefat", "-o", "rw+", image, folder], capture_output=True, text=True,
        timeout=WAIT_SECONDS)
    if not mount or mount.returncode != 0:
        print(f"SKIPPED: FUSE cannot mount a FAT image here {mount and mount.stderr}")
        raise SystemExit(77)
    try:
        yield folder
    finally:
        subprocess.run(["fusermount", "-u", "-z", folder], check=True, timeout=WAIT_SECONDS)


def run(program, scale, screenshot, emulator, bmp_writer, window_sizes, workdir, wayland, fat):
    layout = read_layout(lambda: subprocess.run(
        [*emulator, window_sizes], capture_output=True, text=True, check=True,
        timeout=WAIT_SECONDS).stdout)
    desktop, servers, env = start_desktop(workdir, scale, wayland)
    desktop.layout = layout
    session = None
    try:
        if wayland is not None:
            program = desktop.reachable(program, workdir)
        black = bitfile_art.black_pixels()
        original = os.path.join(workdir, "Dotloom art.bit")
        with open(original, "wb") as file:
            file.write(bitfile_art.encode(black))

        log_path = os.path.join(workdir, "dotloom.log")
        with open(log_path, "wb") as log:
            session = QtSession(desktop, [*emulator, program], log, env)
        if wayland is not None:
            desktop.move_to_odd_position(session.window)
        window = desktop.geometry(session.window)
        n = desktop.scale
        origin = None
        if desktop.sharp:
            interior = wait_for_interior(desktop, window)
            print(f"window {window[2]} x {window[3]} device pixels at scale {scale:g}, canvas "
                  f"interior {interior[2]} x {interior[3]} at {interior[0] - window[0]},"
                  f"{interior[1] - window[1]}")
            check_place(layout, window, interior, n, scale == int(scale))
            origin = interior[:2]
            wait_for_canvas(desktop, origin, set())
        else:
            print(f"window {window[2]} x {window[3]} device pixels at scale {scale:g}, scaled by "
                  "the compositor: the screen is not checked")

        session.choose("o", "Open", original)
        background = wait_for_canvas(desktop, origin, black)
        if screenshot:
            desktop.save_screenshot(screenshot, *window)

        folder = fat or workdir
        saved_bit = os.path.join(folder, "copy.bit")
        longer = bytes(range(200)) * 3 if fat else b""
        if fat:
            with open(saved_bit, "wb") as file:
                file.write(longer)
        (session.replace if fat else session.choose)("s", "Save As", saved_bit)
        wait_for_contents(saved_bit, read(original) + longer[bitfile_art.SIZE:],
                          "the saved Bitfile differs from the one opened")
        if fat:
            over = os.path.join(folder, "over.bmp")
            Image.new("RGB", (200, 100), WHITE).save(over)
            session.replace("s", "Save As", over)
            wait_for_bmp(over, layout.interior, black, background)

        writer = bmp_writer and (lambda *arguments: subprocess.run(
            [*emulator, bmp_writer, *arguments], check=True, timeout=WAIT_SECONDS))
        convert_and_close(session, lambda: origin, black, background, folder, original, writer)
        session = None
        if fat and read(over) != read(os.path.join(folder, "copy.bmp")):
            raise Failure("the BMP saved over a larger one differs from the one saved new")
    except BaseException:
        for log in ("dotloom.log", "xvfb.log", "sway.log"):
            print_log_tail(os.path.join(workdir, log), sys.stderr)
        raise
    finally:
        if session is not None:
            session.kill()
        for server in reversed(servers):
            stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--scale", type=float, default=1)
    parser.add_argument("--wayland", metavar="QT_VERSION",
                        help="on sway; the version of the Qt the program is built with")
    parser.add_argument("--screenshot")
    parser.add_argument("--emulator", action="append", default=[])
    parser.add_argument("--bmp-writer")
    parser.add_argument("--window-sizes", required=True)
    parser.add_argument("--fat", action="store_true")
    args = parser.parse_args()

    def test(workdir):
        with fat_folder(workdir) if args.fat else contextlib.nullcontext() as fat:
            run(os.path.abspath(args.program), args.scale,
                args.screenshot and os.path.abspath(args.screenshot), args.emulator,
                find_bmp_writer(args.program, args.bmp_writer),
                os.path.abspath(args.window_sizes), workdir, args.wayland, fat)

    return report(test, OSError, prefix="dotloom-e2e-")


if __name__ == "__main__":
    sys.exit(main())
