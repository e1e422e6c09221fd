#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Dotloom end to end, as a person uses it: the real program in its own Xvfb, driven with
xdotool through the menu's access keys and the real file dialogs.

    dotloom_e2e.py PROGRAM [--scale N] [--screenshot OUT.png]

Opens a Bitfile and checks the screen shows exactly its pixels, saves it as .bit and .bmp
and checks both files, opens the BMP and saves it as a Bitfile again (the conversion), and
closes the window, which must end the program at once. Every wait is bounded.
"""

import argparse
import ctypes
import os
import re
import select
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bitfile_art  # noqa: E402

WAIT_SECONDS = 10
CLIENT_HEIGHT = 56
BORDER = 2
INTERIOR = (99, 52)


class Failure(Exception):
    pass


def wait_until(what, condition, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.05)


def start_xvfb():
    """Xvfb on a display number it picks itself, so parallel runs never collide."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + WAIT_SECONDS
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            server.kill()
            raise Failure("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


class Desktop:
    def __init__(self, display, scale, workdir):
        self.display = display
        self.scale = scale
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                                 "DESKTOP_SESSION", "WAYLAND_DISPLAY", "QT_SCALE_FACTOR",
                                 "LANGUAGE")}
        runtime = os.path.join(workdir, "runtime")
        os.mkdir(runtime, 0o700)
        # The C locale keeps the dialogs' titles untranslated, so they can be found by name.
        self.env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                        HOME=workdir, QT_SCALE_FACTOR=str(scale), LC_ALL="C.UTF-8")

    def run(self, *command, check=True):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=WAIT_SECONDS, check=check)

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *args, check=check).stdout.split()

    def visible_windows(self, name):
        return self.xdotool("search", "--onlyvisible", "--name", f"^{re.escape(name)}$", check=False)

    def wait_for_window(self, name):
        return wait_until(f"window {name!r}", lambda: self.visible_windows(name))[0]

    def geometry(self, window):
        info = self.run("xwininfo", "-id", window).stdout
        value = lambda label: int(re.search(label + r":\s+(-?\d+)", info).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"),
                value("Width"), value("Height"))

    def screenshot(self):
        """The whole screen as (width, height, rgb bytes)."""
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                             capture_output=True, timeout=WAIT_SECONDS, check=True).stdout
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        return int(match.group(1)), int(match.group(2)), ppm[match.end():]

    def close_window(self, window):
        """What a window manager does when the close button is pressed: WM_DELETE_WINDOW."""
        xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XInternAtom.restype = ctypes.c_ulong
        xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                    ctypes.c_void_p]
        xlib.XFlush.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class Event(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        connection = xlib.XOpenDisplay(self.display.encode())
        if not connection:
            raise Failure("cannot open the display to close the window")
        try:
            event = Event()
            event.xclient.type = 33  # ClientMessage
            event.xclient.window = int(window)
            event.xclient.message_type = xlib.XInternAtom(connection, b"WM_PROTOCOLS", 0)
            event.xclient.format = 32
            event.xclient.data[0] = xlib.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
            xlib.XSendEvent(connection, int(window), 0, 0, ctypes.byref(event))
            xlib.XFlush(connection)
        finally:
            xlib.XCloseDisplay(connection)


class Session:
    """One running Dotloom and the person in front of it."""

    def __init__(self, desktop, program, log):
        self.desktop = desktop
        self.process = subprocess.Popen([program], env=desktop.env, stdout=log, stderr=log)
        try:
            self.window = desktop.wait_for_window("Dotloom")
            self.desktop.xdotool("windowfocus", "--sync", self.window)
        except BaseException:
            self.kill()
            raise

    def kill(self):
        self.process.kill()
        self.process.wait()

    def choose(self, key, dialog_title, path):
        """Alt+F, then the item's access key; types path into the dialog and presses Enter."""
        self.desktop.xdotool("windowfocus", "--sync", self.window)
        self.desktop.xdotool("key", "--clearmodifiers", "alt+f")
        self.desktop.xdotool("key", "--clearmodifiers", key)
        dialog = self.desktop.wait_for_window(dialog_title)
        self.desktop.xdotool("windowfocus", "--sync", dialog)
        self.desktop.xdotool("type", "--delay", "2", path)
        self.desktop.xdotool("key", "Return")
        # A Return taken by the file name completer only closes its list: press it again, as
        # a person would, until the dialog is gone.
        for _ in range(5):
            try:
                wait_until(f"the {dialog_title!r} dialog to close",
                           lambda: not self.desktop.visible_windows(dialog_title), seconds=1)
                return
            except Failure:
                self.desktop.xdotool("key", "Return")
        raise Failure(f"the {dialog_title!r} dialog did not take {path}")

    def interior_origin(self):
        """The device pixel of canvas pixel (0, 0): the client area is the bottom 56 pixels
        of the window, and the canvas sits in its top-left corner inside a 2-pixel border."""
        x, y, _, height = self.desktop.geometry(self.window)
        scale = self.desktop.scale
        return x + BORDER * scale, y + height - (CLIENT_HEIGHT - BORDER) * scale

    def close(self):
        self.desktop.close_window(self.window)
        try:
            return self.process.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise Failure("closing the window did not end the program") from None


def mismatches(width, rgb, origin, scale, black, background):
    """Canvas pixels whose device pixels are not all black (when in black) or background."""
    wrong = []
    for y in range(INTERIOR[1]):
        for x in range(INTERIOR[0]):
            want = b"\0\0\0" if (x, y) in black else background
            for dy in range(scale):
                for dx in range(scale):
                    at = 3 * ((origin[1] + y * scale + dy) * width + origin[0] + x * scale + dx)
                    if rgb[at:at + 3] != want:
                        wrong.append((x, y))
    return wrong


def check_screen(session, black):
    """Waits until the canvas shows exactly the black pixels over a single background colour."""
    scale = session.desktop.scale
    origin = session.interior_origin()
    last = []

    def shows():
        width, _, rgb = session.desktop.screenshot()
        at = 3 * ((origin[1] + (INTERIOR[1] - 1) * scale) * width + origin[0])  # bottom-left
        background = rgb[at:at + 3]
        last[:] = mismatches(width, rgb, origin, scale, black, background)
        return background if not last and background != b"\0\0\0" else None

    try:
        return wait_until("the canvas to show the Bitfile", shows)
    except Failure:
        raise Failure(f"{len(last)} canvas pixels wrong on screen, first {last[:5]}") from None


def read_bmp_pixels(path):
    """A BMP file's size and pixels, read through ImageMagick."""
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True, check=True,
                         timeout=WAIT_SECONDS).stdout
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    return (int(match.group(1)), int(match.group(2))), ppm[match.end():]


def read(path):
    with open(path, "rb") as file:
        return file.read()


def run(program, scale, screenshot, workdir):
    server, display = start_xvfb()
    session = None
    try:
        desktop = Desktop(display, scale, workdir)
        black = bitfile_art.black_pixels()
        original = os.path.join(workdir, "Dotloom art.bit")
        with open(original, "wb") as file:
            file.write(bitfile_art.encode(black))

        log_path = os.path.join(workdir, "dotloom.log")
        with open(log_path, "wb") as log:
            session = Session(desktop, program, log)
        _, _, width, height = desktop.geometry(session.window)
        print(f"window {width} x {height} device pixels at scale {scale}")
        if width < 104 * scale or height <= CLIENT_HEIGHT * scale:
            raise Failure(f"window {width} x {height} is too small for its client area")
        check_screen(session, set())

        session.choose("o", "Open", original)
        background = check_screen(session, black)
        if screenshot:
            x, y, _, _ = desktop.geometry(session.window)
            desktop.run("import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                        "+repage", screenshot)

        saved_bit = os.path.join(workdir, "copy.bit")
        session.choose("s", "Save As", saved_bit)
        wait_until("copy.bit", lambda: os.path.exists(saved_bit))
        if read(saved_bit) != read(original):
            raise Failure("the saved Bitfile differs from the one opened")

        saved_bmp = os.path.join(workdir, "copy.bmp")
        session.choose("s", "Save As", saved_bmp)
        wait_until("copy.bmp", lambda: os.path.exists(saved_bmp))
        size, rgb = read_bmp_pixels(saved_bmp)
        if size != INTERIOR:
            raise Failure(f"the saved BMP is {size}, not {INTERIOR}")
        wrong = mismatches(INTERIOR[0], rgb, (0, 0), 1, black, background)
        if wrong:
            raise Failure(f"{len(wrong)} pixels of the saved BMP wrong, first {wrong[:5]}")

        # The conversion: the BMP as the canvas background, encoded back into a Bitfile.
        session.choose("o", "Open", saved_bmp)
        check_screen(session, black)
        converted = os.path.join(workdir, "converted.bit")
        session.choose("s", "Save As", converted)
        wait_until("converted.bit", lambda: os.path.exists(converted))
        if read(converted) != read(original):
            raise Failure("the Bitfile converted from the BMP differs from the original")

        status = session.close()
        if status != 0:
            raise Failure(f"the program ended with status {status} when its window closed")
        session = None
    except BaseException:
        if os.path.exists(os.path.join(workdir, "dotloom.log")):
            with open(os.path.join(workdir, "dotloom.log"), errors="replace") as log:
                sys.stderr.write(log.read()[-4000:])
        raise
    finally:
        if session is not None:
            session.kill()
        server.terminate()
        try:
            server.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


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
