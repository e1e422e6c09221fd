# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""What the end-to-end tests share, whichever window system runs Dotloom: a private Xvfb
driven with xdotool or a private headless sway driven with wtype, both read back through
screenshots, and the checks on what the canvas shows and what the saved files hold. Every wait
is bounded. Pictures are read with Pillow, colours are (r, g, b) tuples.

    Imported by the scripts beside it; run alone it only prints this."""

import contextlib
import io
import json
import math
import os
import pwd
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from collections import namedtuple

from PIL import Image, ImageGrab
from Xlib import X, display as xdisplay, protocol

WAIT_SECONDS = 10
BLACK, WHITE = (0, 0, 0), (255, 255, 255)

# The window's sizes at one device pixel per canvas pixel, as window/ describes them: the
# canvas interior, the picture control and the client area as (width, height), and the
# edge's width in canvas pixels.
Layout = namedtuple("Layout", "interior picture client border")


def read_layout(run):
    """The Layout that the tests' dotloom_window_sizes program prints; run() runs it and
    returns its output."""
    values = {name: [int(n) for n in numbers]
              for name, *numbers in (line.split() for line in run().splitlines() if line)}
    return Layout(tuple(values["interior"]), tuple(values["picture"]), tuple(values["client"]),
                  values["border"][0])


class Failure(Exception):
    pass


def report(test, *errors, prefix=None):
    """Runs test, in a fresh temporary folder when prefix names one, and returns the exit
    status of a one-test program: 0 after "1 passed", or 1 after saying why it failed."""
    try:
        if prefix is None:
            test()
        else:
            with tempfile.TemporaryDirectory(prefix=prefix) as workdir:
                test(workdir)
    except (Failure, subprocess.SubprocessError, *errors) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    print("1 passed, 0 failed")
    return 0


def wait_until(what, condition, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.05)


def start_xvfb(log, screen="1024x768x24"):
    """Xvfb on a display number it picks itself, so parallel runs never collide, writing its
    messages to the open file log. -noreset: by default the server resets whenever its last
    client leaves, and a client whose connection it has taken but not yet set up when that
    happens is dropped; so a program starting while xdotool polls for its window, or a Wine
    program starting after the set-up's last one ended, would at times find no server."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp",
         "-noreset"], pass_fds=(write_end,), stdout=log, stderr=log)
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


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=WAIT_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Desktop:
    """The X display and the tools a test uses on it, all with one environment. sharp: the
    screen shows the program's device pixels as they are, so the canvas can be checked;
    layout: the window's sizes (a Layout)."""

    sharp = True

    def __init__(self, display, scale, env, layout=None):
        self.display = display
        self.scale = scale
        self.env = env
        self.layout = layout

    def run(self, *command, check=True, timeout=WAIT_SECONDS):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=timeout, check=check)

    def start(self, command, log, env=None):
        return subprocess.Popen(command, env=env or self.env, stdout=log, stderr=log)

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *args, check=check).stdout.split()

    def key(self, *names):
        """Keys or chords in xdotool's names, one after the other: "Return", "alt+f"."""
        self.xdotool("key", "--clearmodifiers", *names)

    def type_text(self, text):
        self.xdotool("type", "--delay", "2", text)

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window)

    def visible_windows(self, name=None):
        """The viewable windows named name exactly, or all viewable windows."""
        pattern = "" if name is None else f"^{re.escape(name)}$"
        return self.xdotool("search", "--onlyvisible", "--name", pattern, check=False)

    def wait_for_window(self, name, seconds=WAIT_SECONDS):
        return wait_until(f"window {name!r}", lambda: self.visible_windows(name), seconds)[0]

    @contextlib.contextmanager
    def x_window(self, window):
        """The window, by its id, on a connection of its own to the display."""
        connection = xdisplay.Display(self.display)
        try:
            yield connection, connection.create_resource_object("window", int(window))
        finally:
            connection.close()

    def geometry(self, window):
        """The window's place on the screen and its size, (x, y, width, height)."""
        with self.x_window(window) as (connection, target):
            size = target.get_geometry()
            corner = connection.screen().root.translate_coords(target, 0, 0)
            return corner.x, corner.y, size.width, size.height

    def screenshot(self):
        """The whole screen as an RGB image."""
        return ImageGrab.grab(xdisplay=self.display).convert("RGB")

    def save_screenshot(self, path, x, y, width, height):
        self.screenshot().crop((x, y, x + width, y + height)).save(path)

    def close_window(self, window):
        """What a window manager does when the close button is pressed: WM_DELETE_WINDOW."""
        with self.x_window(window) as (connection, target):
            atom = connection.intern_atom
            target.send_event(protocol.event.ClientMessage(
                window=target, client_type=atom("WM_PROTOCOLS"),
                data=(32, [atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
            # A round trip, so the server has delivered the event before the connection goes:
            # python-xlib's flush alone at times left it unsent.
            connection.sync()


def unprivileged_user():
    """Whom the compositor and the program run as: sway will not run as root, and a program
    can only connect to it as its own user. None when the test is no root."""
    return pwd.getpwnam("nobody") if os.geteuid() == 0 else None


class SwayDesktop(Desktop):
    """A headless sway of one output at scale, driven with wtype and read back with grim, all
    run as user (a pwd entry, or None for the test's own user). Windows are sway's container
    ids; geometries and screenshots in the output's device pixels."""

    def __init__(self, scale, pixels, env, user, sharp=True):
        super().__init__(None, pixels, env)  # the display's name once sway has made it
        self.output_scale = scale
        self.user = user
        self.sharp = sharp

    def as_user(self):
        if self.user is None:
            return {}
        return dict(user=self.user.pw_uid, group=self.user.pw_gid, extra_groups=[])

    def run(self, *command, check=True, timeout=WAIT_SECONDS, text=True):
        return subprocess.run(command, env=self.env, capture_output=True, text=text,
                              timeout=timeout, check=check, **self.as_user())

    def start(self, command, log, env=None):
        return subprocess.Popen(command, env=env or self.env, stdout=log, stderr=log,
                                **self.as_user())

    def reachable(self, program, workdir):
        """program as the desktop's user can start it: when that is not the test's own user, a
        copy in workdir, which is that user's, as the build folder may be closed to others."""
        if self.user is None:
            return program
        copy = os.path.join(workdir, os.path.basename(program))
        shutil.copy2(program, copy)
        os.chmod(copy, 0o755)
        return copy

    def views(self):
        """Every window sway shows, as its tree's nodes."""
        found, nodes = [], [json.loads(self.run("swaymsg", "-r", "-t", "get_tree").stdout)]
        while nodes:
            node = nodes.pop()
            if node.get("pid") and node.get("visible"):
                found.append(node)
            nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        return found

    def visible_windows(self, name=None):
        return [str(view["id"]) for view in self.views() if name in (None, view["name"])]

    def geometry(self, window):
        """The device pixels holding the window, each one it touches included."""
        rect = next(view["rect"] for view in self.views() if str(view["id"]) == window)
        left = math.floor(rect["x"] * self.output_scale)
        top = math.floor(rect["y"] * self.output_scale)
        right = math.ceil((rect["x"] + rect["width"]) * self.output_scale)
        bottom = math.ceil((rect["y"] + rect["height"]) * self.output_scale)
        return left, top, right - left, bottom - top

    def screenshot(self):
        ppm = self.run("grim", "-t", "ppm", "-", text=False).stdout
        return Image.open(io.BytesIO(ppm)).convert("RGB")

    def key(self, *names):
        """Keys or chords, all through one wtype. Each wtype hands the program a keymap of
        its own that numbers just its keys from the first, and Qt reads a key through the
        keymap it holds when it handles the key, not when the key came: on a busy machine a key
        still waiting when the next wtype's keymap comes is read as the key with its number
        there (Alt+F as Alt+O, and no menu opens). So keys read together go in one call."""
        args = []
        for name in names:
            *modifiers, key = name.split("+")
            args += [arg for modifier in modifiers for arg in ("-M", modifier)] + ["-k", key]
            args += [arg for modifier in modifiers for arg in ("-m", modifier)]
        self.run("wtype", *args)

    def type_text(self, text):
        self.run("wtype", "-d", "2", text)

    def focus(self, window):
        self.run("swaymsg", f"[con_id={window}]", "focus")
        wait_until(f"window {window} to have the focus", lambda: any(
            view["focused"] for view in self.views() if str(view["id"]) == window))

    def move_to_odd_position(self, window):
        """Moves the window to logical pixel 101, 101: at a fractional scale its corner then
        lies inside a device pixel, and a window not a whole number of device pixels large
        gets its buffer resampled to fit."""
        self.run("swaymsg", f"[con_id={window}]", "move", "position", "101", "101")
        wait_until("the window to move", lambda: any(
            (view["rect"]["x"], view["rect"]["y"]) == (101, 101)
            for view in self.views() if str(view["id"]) == window))

    def close_window(self, window):
        """What the close button does: the compositor asks the window to close."""
        self.run("swaymsg", f"[con_id={window}]", "kill")


def start_sway(workdir, scale, log, sharp=True):
    """A headless sway with one output of 1200 x 960 device pixels at scale, a whole number of
    logical pixels at 1, 1.25, 1.5 and 2 (at 1600 x 1200 and 1.5 the screenshots show rows
    blurred by half a pixel), and a virtual keyboard: Qt takes keys only when the seat had a
    keyboard before it started. Its runtime
    folder, and the work folder the program saves into, belong to the user it runs as.
    Returns the desktop and the processes to stop."""
    user = unprivileged_user()
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    if user is not None:
        for folder in (workdir, runtime):
            os.chown(folder, user.pw_uid, user.pw_gid)
    config = os.path.join(workdir, "sway.config")
    with open(config, "w") as file:
        file.write(f"xwayland disable\noutput HEADLESS-1 resolution 1200x960 scale {scale:g}\n"
                   "default_border none\ndefault_floating_border none\n"
                   # A key held longer than the delay repeats, as a busy machine can make one.
                   "input * repeat_rate 0\n")
    keep = ("PATH", "LANG", "TZ")
    env = {k: v for k, v in os.environ.items() if k in keep}
    env.update(HOME=workdir, XDG_RUNTIME_DIR=runtime, WLR_BACKENDS="headless",
               WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")
    desktop = SwayDesktop(scale, pixel_scale(scale), env, user, sharp)
    processes = [desktop.start(["sway", "--config", config], log)]
    try:
        def sockets():
            if processes[0].poll() is not None:
                raise Failure(f"sway ended with status {processes[0].returncode}")
            names = os.listdir(runtime)
            display = [n for n in names if n.startswith("wayland-") and "." not in n]
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            return display and ipc and (display[0], os.path.join(runtime, ipc[0]))

        display, ipc = wait_until("sway's sockets", sockets)
        env.update(WAYLAND_DISPLAY=display, SWAYSOCK=ipc)
        desktop.display = display
        wait_until("sway to answer", lambda: desktop.run("swaymsg", "-t", "get_outputs",
                                                          check=False).returncode == 0)
        # An hour, longer than any test (wtype's sleep takes no more than 2^32 microseconds),
        # then an x it never gets to type: its keymap, which the seat hands Qt, is not empty.
        processes.append(desktop.start(["wtype", "-s", "3600000", "x"], log))
        wait_until("the virtual keyboard", lambda: any(
            device["type"] == "keyboard"
            for device in json.loads(desktop.run("swaymsg", "-r", "-t", "get_inputs").stdout)))
    except BaseException:
        for process in reversed(processes):
            stop(process)
        raise
    return desktop, processes


def pixel_scale(display_scale):
    """Device pixels per canvas pixel: the display's scale rounded, halves up, at least 1."""
    return max(1, int(display_scale + 0.5))


def find_interior(desktop, area):
    """The canvas interior on screen, (x, y, width, height) in device pixels: the first
    rectangle inside area = (x, y, width, height) that is exactly the layout's interior times
    the desktop's scale of one colour, with another colour all around. None when there is
    none."""
    scale = desktop.scale
    want = (desktop.layout.interior[0] * scale, desktop.layout.interior[1] * scale)
    shot = desktop.screenshot()
    pixel = shot.load()
    width, height = shot.size
    left, top = max(area[0], 1), max(area[1], 1)
    right, bottom = min(area[0] + area[2], width - 1), min(area[1] + area[3], height - 1)

    def run(x, y, dx, dy):
        colour, length = pixel[x, y], 0
        while x < right and y < bottom and pixel[x, y] == colour:
            x, y, length = x + dx, y + dy, length + 1
        return length

    for y in range(top, bottom - want[1] + 1):
        x = left
        while x <= right - want[0]:
            length = run(x, y, 1, 0)
            colour = pixel[x, y]
            if (length == want[0] and pixel[x - 1, y] != colour and pixel[x, y - 1] != colour
                    and run(x, y, 0, 1) == want[1] and run(x + want[0] - 1, y, 0, 1) == want[1]
                    and all(run(x, y + dy, 1, 0) == want[0] for dy in range(want[1]))
                    and all(pixel[x + dx, y - 1] != colour and pixel[x + dx, y + want[1]] != colour
                            for dx in range(want[0]))):
                return x, y, want[0], want[1]
            x += length
    return None


def wait_for_interior(desktop, area):
    """Waits until the empty canvas shows inside area with its edge around it; returns it."""
    interior = desktop.layout.interior
    found = wait_until(f"the canvas interior, {interior[0] * desktop.scale} x "
                       f"{interior[1] * desktop.scale} device pixels of one colour",
                       lambda: find_interior(desktop, area))
    check_edge(desktop, found)
    return found


def check_edge(desktop, interior):
    """The sunken edge around the interior, the layout's border wide: on each side two lines
    of device pixels, the inner one canvas pixel wide, each of one colour, measured across the
    middle of that side."""
    scale = desktop.scale
    pixel = desktop.screenshot().load()
    x, y, w, h = interior
    middle = (x + w // 2, y + h // 2)
    sides = {"left": (x - 1, middle[1], -1, 0), "top": (middle[0], y - 1, 0, -1),
             "right": (x + w, middle[1], 1, 0), "bottom": (middle[0], y + h, 0, 1)}
    for side, (at_x, at_y, dx, dy) in sides.items():
        line = [pixel[at_x + i * dx, at_y + i * dy] for i in range(desktop.layout.border * scale)]
        inner, outer = line[:scale], line[scale:]
        if len(set(inner)) != 1 or len(set(outer)) != 1 or inner[0] == outer[0]:
            raise Failure(f"the canvas's {side} edge is not two lines of {scale} device pixels: "
                          + " ".join(bytes(colour).hex() for colour in line))


def mismatches(shown, origin, scale, size, black, background, colours=None):
    """Canvas pixels, of size (width, height) shown at origin of the image shown, whose device
    pixels are not all black (when in black), their colour (when in colours, a dict of (x, y)
    to colours) or background."""
    pixel = shown.load()
    wrong = []
    colours = colours or {}
    for y in range(size[1]):
        for x in range(size[0]):
            want = colours.get((x, y), BLACK if (x, y) in black else background)
            for dy in range(scale):
                for dx in range(scale):
                    if pixel[origin[0] + x * scale + dx, origin[1] + y * scale + dy] != want:
                        wrong.append((x, y))
    return wrong


def wait_for_canvas(desktop, origin, black, background=None, colours=None):
    """Waits until the canvas at origin shows exactly the black pixels and the coloured ones
    over one background colour (the given one, or whatever its bottom-left pixel shows);
    returns that colour. A desktop that is not sharp is not looked at: background is returned
    as it is."""
    if not desktop.sharp:
        return background
    scale = desktop.scale
    size = desktop.layout.interior
    last = []

    def shows():
        shot = desktop.screenshot()
        bottom_left = shot.getpixel((origin[0], origin[1] + (size[1] - 1) * scale))
        shown = background if background is not None else bottom_left
        last[:] = mismatches(shot, origin, scale, size, black, shown, colours)
        return shown if not last and shown != BLACK else None

    try:
        return wait_until("the canvas to show the Bitfile", shows)
    except Failure:
        raise Failure(f"{len(last)} canvas pixels wrong on screen, first {last[:5]}") from None


def write_bmp(writer, path, size, background, colours):
    """A 24-bit BMP of size pixels in background, with the colours dict's pixels, written by the
    tests' own BMP writer (write_bmp.cpp): writer(*arguments) runs that program."""
    writer(path, str(size[0]), str(size[1]), bytes(background).hex(),
           *(f"{x},{y}={bytes(rgb).hex()}" for (x, y), rgb in colours.items()))


def find_bmp_writer(program, given):
    """The BMP writer given, or else the one the program's build made, or None."""
    if given:
        return os.path.abspath(given)
    build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(program))))
    for name in ("dotloom_write_bmp", "dotloom_write_bmp.exe"):
        path = os.path.join(build, "tests", "e2e", name)
        if os.path.exists(path):
            return path
    return None


def read_bmp_pixels(path):
    """A BMP file as an RGB image, read by Pillow."""
    with Image.open(path) as image:
        if image.format != "BMP":
            raise Failure(f"{path} is a {image.format} file, not a BMP")
        return image.convert("RGB")


def same_pixels(path, other):
    """Whether two BMP files hold the same size and pixels."""
    first, second = read_bmp_pixels(path), read_bmp_pixels(other)
    return first.size == second.size and first.tobytes() == second.tobytes()


def check_bmp(path, size, black, background):
    """The BMP is size = (width, height) pixels showing the black pixels over background, or
    when that is None over whatever colour other than black its bottom-left pixel has."""
    image = read_bmp_pixels(path)
    if image.size != size:
        raise Failure(f"the saved BMP is {image.size}, not {size}")
    if background is None:
        background = image.getpixel((0, size[1] - 1))
        if background == BLACK:
            raise Failure("the saved BMP's background is black")
    wrong = mismatches(image, (0, 0), 1, size, black, background)
    if wrong:
        raise Failure(f"{len(wrong)} pixels of the saved BMP wrong, first {wrong[:5]}")


def wait_for_bmp(path, size, black, background):
    """Waits until the BMP at path passes check_bmp: where no unnamed file can be made (FAT),
    the save creates its name before it writes the bytes."""
    def passes():
        with contextlib.suppress(Failure, OSError):
            return check_bmp(path, size, black, background) or True

    try:
        wait_until(os.path.basename(path), passes)
    except Failure:
        check_bmp(path, size, black, background)  # says why
        raise


def read(path):
    with open(path, "rb") as file:
        return file.read()


def wait_for_contents(path, contents, what):
    """Waits until the file at path holds exactly contents. A Bitfile is written in place, so
    the file can be seen before all of its bytes are."""
    def holds():
        try:
            return read(path) == contents
        except FileNotFoundError:
            return False

    try:
        wait_until(os.path.basename(path), holds)
    except Failure:
        raise Failure(what) from None


def print_log_tail(path, stream):
    if os.path.exists(path):
        with open(path, errors="replace") as log:
            stream.write(f"--- the end of {os.path.basename(path)}:\n{log.read()[-4000:]}\n")


class Session:
    """One running Dotloom and the person in front of it, driving it through the menu's access
    keys and the real file dialogs. A window system's session says how a path is typed
    (typed), how the window is closed (request_close) and how long the window may take."""

    name = "the program"
    window_seconds = WAIT_SECONDS

    def __init__(self, desktop, command, log, env=None):
        self.desktop = desktop
        self.process = desktop.start(command, log, env)
        try:
            self.window = wait_until("the Dotloom window", self.shown, self.window_seconds)
            self.focus()
        except BaseException:
            self.kill()
            raise

    def shown(self):
        if self.process.poll() is not None:
            raise Failure(f"{self.name} ended with status {self.process.returncode} before "
                          "its window showed")
        windows = self.desktop.visible_windows("Dotloom")
        return windows[0] if windows else None

    def kill(self):
        self.process.kill()
        self.process.wait()

    def typed(self, path):
        return path

    def focus(self):
        self.desktop.focus(self.window)

    def new_windows(self, before):
        return [w for w in self.desktop.visible_windows() if w not in before]

    def open_dialog(self, key, title):
        """Alt+F, then the item's access key, sent together (see SwayDesktop.key); returns the
        dialog once it has the focus. Sent once: keys sent again could meet a dialog that
        was only slow to come."""
        self.focus()
        self.desktop.key("alt+f", key)
        dialog = self.desktop.wait_for_window(title)
        self.desktop.focus(dialog)
        return dialog

    def wait_closed(self, title, seconds=WAIT_SECONDS):
        wait_until(f"the {title!r} dialog to close",
                   lambda: not self.desktop.visible_windows(title), seconds)

    def choose(self, key, title, path):
        """Types path into the dialog and presses Enter until the dialog is gone: a Return
        taken by the name box's completion list only closes that list, and one that meets the
        dialog's question (replace an existing file?) answers it with its default: yes in the
        Windows dialog, no in Qt's (replace answers yes there). An even number of Returns
        leaves no message about a mistyped name open by then."""
        self.open_dialog(key, title)
        self.desktop.type_text(self.typed(path))
        for _ in range(4):
            self.desktop.key("Return")
            try:
                self.wait_closed(title, seconds=1.5)
                return
            except Failure:
                pass
        raise Failure(f"the {title!r} dialog did not take {path}")

    def replace(self, key, title, path):
        """Saves over the file at path. Qt asks first, in a message of the dialog's title whose
        default is No, so y answers it; Returns are pressed as choose says."""
        dialog = self.open_dialog(key, title)
        self.desktop.type_text(self.typed(path))
        for _ in range(4):
            self.desktop.key("Return")
            with contextlib.suppress(Failure):
                message = wait_until("the question", lambda: [
                    w for w in self.desktop.visible_windows(title) if w != dialog], 1.5)[0]
                break
        else:
            raise Failure(f"the {title!r} dialog did not ask whether to replace {path}")
        self.desktop.focus(message)
        self.desktop.key("y")
        self.wait_closed(title)

    def cancel(self, key, title):
        self.open_dialog(key, title)
        self.desktop.key("Escape")
        self.wait_closed(title)

    def answered(self, key, title, path, answer):
        """A name the dialog asks about or refuses: its message is answered with the key
        answer, then the dialog, still open, is cancelled."""
        dialog = self.open_dialog(key, title)
        before = self.desktop.visible_windows()
        self.desktop.type_text(self.typed(path))
        self.desktop.key("Return")
        message = wait_until("the dialog's message", lambda: self.new_windows(before))[0]
        self.desktop.focus(message)
        self.desktop.key(answer)
        wait_until("the message to close", lambda: message not in self.desktop.visible_windows())
        self.desktop.focus(dialog)
        self.desktop.key("Escape")
        self.wait_closed(title)

    def request_close(self):
        raise NotImplementedError

    def close(self):
        """Closes the window, which must end the program at once with status 0."""
        self.request_close()
        try:
            status = self.process.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise Failure("closing the window did not end the program") from None
        if status != 0:
            raise Failure(f"the program ended with status {status} when its window closed")


def convert_and_close(session, origin, black, background, workdir, original, writer):
    """What both windows end with: the canvas saved as a BMP, that BMP opened as the
    background and saved as a Bitfile again (the conversion), a BMP of pure red, green and
    blue shown as it is (written by writer, see write_bmp; left out when it is None), and the
    window closed."""
    desktop = session.desktop
    interior = desktop.layout.interior
    print("Bitfile -> BMP")
    saved_bmp = os.path.join(workdir, "copy.bmp")
    session.choose("s", "Save As", saved_bmp)
    wait_for_bmp(saved_bmp, interior, black, background)

    print("BMP -> Bitfile")
    session.choose("o", "Open", saved_bmp)
    wait_for_canvas(desktop, origin(), black, background)
    converted = os.path.join(workdir, "converted.bit")
    session.choose("s", "Save As", converted)
    wait_for_contents(converted, read(original),
                      "the Bitfile converted from the BMP differs from the original")

    if writer is None:
        print("no BMP writer (--bmp-writer): the BMP in colour is left out")
        session.close()
        return
    print("a BMP in colour")
    # Red, green and blue each where they are, so swapped channels show.
    colours = {(1, 1): (255, 0, 0), (3, 1): (0, 255, 0), (5, 1): (0, 0, 255),
               (interior[0] - 1, interior[1] - 2): (255, 0, 0)}
    coloured = os.path.join(workdir, "colours.bmp")
    write_bmp(writer, coloured, interior, WHITE, colours)
    session.choose("o", "Open", coloured)
    try:
        wait_for_canvas(desktop, origin(), set(), WHITE, colours)
    except Failure as failure:
        raise Failure(f"the colour BMP: {failure}") from None
    if not desktop.sharp:
        # What the screen would have shown, saved instead. Only once the file is whole is the
        # program surely back from the dialog, where a close request is not refused.
        saved = os.path.join(workdir, "colours copy.bmp")
        session.choose("s", "Save As", saved)
        wait_until("the colour BMP saved", lambda: os.path.exists(saved)
                   and same_pixels(saved, coloured))

    session.close()


if __name__ == "__main__":
    print(__doc__)
    sys.exit(0 if sys.argv[1:] in ([], ["-h"], ["--help"]) else 2)
