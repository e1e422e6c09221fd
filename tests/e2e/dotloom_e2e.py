#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Dotloom end to end, as a person uses it: the real program in its own Xvfb, driven with
xdotool through the menu's access keys and the real file dialogs.

    dotloom_e2e.py PROGRAM [--scale N] [--screenshot OUT.png]

Opens a Bitfile and checks the screen shows exactly its pixels, saves it as .bit and .bmp
and checks both files, opens the BMP and saves it as a Bitfile again (the conversion), shows
a BMP of pure red, green and blue, and closes the window, which must end the program at
once. Every wait is bounded.
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bitfile_art  # noqa: E402
from e2e_support import (BORDER, Desktop, Failure, Session, convert_and_close,  # noqa: E402
                         print_log_tail, read, start_xvfb, stop, wait_for_canvas,
                         wait_for_contents)

CLIENT_HEIGHT = 56


def qt_desktop(display, scale, workdir):
    """The desktop as a Qt program on it sees it: nothing of the user's theme or scaling."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                        "DESKTOP_SESSION", "WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "LANGUAGE")}
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    # The C locale keeps the dialogs' titles untranslated, so they can be found by name.
    env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime, HOME=workdir,
               QT_SCALE_FACTOR=str(scale), LC_ALL="C.UTF-8")
    return Desktop(display, scale, env)


class QtSession(Session):
    """Dotloom under Qt: the client area is the bottom 56 pixels of the window, and the
    canvas sits in its top-left corner inside a 2-pixel border."""

    def interior_origin(self):
        """The device pixel of canvas pixel (0, 0)."""
        x, y, _, height = self.desktop.geometry(self.window)
        scale = self.desktop.scale
        return x + BORDER * scale, y + height - (CLIENT_HEIGHT - BORDER) * scale

    def request_close(self):
        self.desktop.close_window(self.window)


def run(program, scale, screenshot, workdir):
    with open(os.path.join(workdir, "xvfb.log"), "wb") as xvfb_log:
        server, display = start_xvfb(xvfb_log)
    session = None
    try:
        desktop = qt_desktop(display, scale, workdir)
        black = bitfile_art.black_pixels()
        original = os.path.join(workdir, "Dotloom art.bit")
        with open(original, "wb") as file:
            file.write(bitfile_art.encode(black))

        log_path = os.path.join(workdir, "dotloom.log")
        with open(log_path, "wb") as log:
            session = QtSession(desktop, [program], log)
        _, _, width, height = desktop.geometry(session.window)
        print(f"window {width} x {height} device pixels at scale {scale}")
        if width < 104 * scale or height <= CLIENT_HEIGHT * scale:
            raise Failure(f"window {width} x {height} is too small for its client area")
        wait_for_canvas(desktop, session.interior_origin(), set())

        session.choose("o", "Open", original)
        background = wait_for_canvas(desktop, session.interior_origin(), black)
        if screenshot:
            x, y, _, _ = desktop.geometry(session.window)
            desktop.save_screenshot(screenshot, x, y, width, height)

        saved_bit = os.path.join(workdir, "copy.bit")
        session.choose("s", "Save As", saved_bit)
        wait_for_contents(saved_bit, read(original),
                          "the saved Bitfile differs from the one opened")

        convert_and_close(session, session.interior_origin, black, background, workdir,
                          original)
        session = None
    except BaseException:
        for log in ("dotloom.log", "xvfb.log"):
            print_log_tail(os.path.join(workdir, log), sys.stderr)
        raise
    finally:
        if session is not None:
            session.kill()
        stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="dotloom-e2e-") as workdir:
        try:
            run(os.path.abspath(args.program), args.scale,
                args.screenshot and os.path.abspath(args.screenshot), workdir)
        except (Failure, subprocess.SubprocessError) as failure:
            print(f"FAILED: {failure}", file=sys.stderr)
            return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
