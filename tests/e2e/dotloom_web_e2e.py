#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Dotloom's page end to end in headless Chromium, driven through the menu's access keys:

    dotloom_web_e2e.py SITE --port PORT --bmp-writer DOTLOOM_WRITE_BMP.js
                       --window-sizes DOTLOOM_WINDOW_SIZES.js [--screenshots DIR]

Serves SITE on 127.0.0.1:PORT and, at device scales 1, 1.5 and 2, does what the desktop test
does: opens a Bitfile and checks the screen shows exactly its pixels, each a block of the scale
rounded, in the canvas's edge; saves it as .bit over the start of a longer file and as .bmp
(read back in Pillow); opens that BMP and a BMP in colour. Headless Chromium cancels every
picker at once, which is the cancel; for the other steps the pickers are answered with real
handles of the origin-private file system. Then the same once more with the File System Access
API hidden: the file chooser and the name asked in the page, which saves to the downloads.
Last, offline: the server stopped, the page reloaded from its service worker opens and saves,
and asks the network for nothing while doing so.
"""

import argparse
import base64
import io
import json
import os
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # the test writes into temporary folders only
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bitfile_art  # noqa: E402
from e2e_support import (WAIT_SECONDS, WHITE, Failure, mismatches, pixel_scale,  # noqa: E402
                         read, read_layout, report, stop, wait_for_canvas, wait_for_contents,
                         wait_for_interior, wait_until, write_bmp)

from PIL import Image  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

# The pickers answered with handles of the origin-private file system, named by the test;
# the types they were offered are kept for the test to read.
PICK_FROM_OPFS = """
const answer = async (options, create) => {
  window.dotloomTestTypes = options.types;
  const name = window.dotloomTestPick;
  if (!name) throw new DOMException('The user aborted a request.', 'AbortError');
  return (await navigator.storage.getDirectory()).getFileHandle(name, {create});
};
window.showOpenFilePicker = async (options) => [await answer(options, false)];
window.showSaveFilePicker = async (options) => answer(options, true);
"""
# What the pickers offer besides their own "All files": the dialog filter's kinds.
PICKER_TYPES = [
    {"description": "Bitfile (*.bit)", "accept": {"application/octet-stream": [".bit"]}},
    {"description": "Bitmap (*.bmp)", "accept": {"application/octet-stream": [".bmp"]}},
]
SYSTEM_COLOUR = """
const probe = document.createElement('span');
probe.style.color = arguments[0];
document.body.append(probe);
const colour = getComputedStyle(probe).color.match(/\\d+/g).slice(0, 3).map(Number);
probe.remove();
return colour;
"""
HIDE_FILE_SYSTEM_ACCESS = """
for (const name of ['showOpenFilePicker', 'showSaveFilePicker']) {
  delete window[name];
  delete Window.prototype[name];
}
"""


class Page:
    """The page in one headless Chromium at a device scale, and the screen it is drawn on."""

    sharp = True

    def __init__(self, workdir, url, scale, layout, hide_api=False):
        self.url = url
        self.scale = pixel_scale(scale)
        self.layout = layout
        # Each browser with its own profile and downloads.
        own = tempfile.mkdtemp(prefix="chromium-", dir=workdir)
        self.downloads = os.path.join(own, "downloads")
        os.mkdir(self.downloads)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         f"--force-device-scale-factor={scale:g}", "--window-size=480,320",
                         "--no-first-run", "--disable-background-networking",
                         f"--user-data-dir={os.path.join(own, 'profile')}"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        # A page's second download asks the user first, unless allowed.
        options.add_experimental_option(
            "prefs", {"profile.default_content_setting_values.automatic_downloads": 1})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            self.driver.set_script_timeout(WAIT_SECONDS)
            self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                        {"behavior": "allow", "downloadPath": self.downloads})
            if hide_api:
                self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                            {"source": HIDE_FILE_SYSTEM_ACCESS})
                # The chooser opens no window of its own; the test hands it the file.
                self.driver.execute_cdp_cmd("Page.setInterceptFileChooserDialog", {"enabled": True})
            self.load()
        except BaseException:
            self.driver.quit()
            raise

    def load(self, reload=False):
        if reload:
            self.driver.refresh()
        else:
            self.driver.get(self.url)
        wait_until("the page to start", lambda: self.script(
            "return document.body.dataset.ready === 'true'"))

    def script(self, source, *arguments):
        return self.driver.execute_script(source, *arguments)

    def run_async(self, body, *arguments):
        """Runs body, the text of an async function of `args`, and returns what it returns."""
        return self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            f"(async (args) => {{ {body} }})(Array.from(arguments).slice(0, -1))"
            ".then(done, (error) => done({error: String(error)}));", *arguments)

    def screenshot(self):
        return Image.open(io.BytesIO(self.driver.get_screenshot_as_png())).convert("RGB")

    def choose(self, key, name=None):
        """File > (the item of access key `key`), the picker answering name (None: cancel)."""
        self.script("window.dotloomTestPick = arguments[0]", name)
        ActionChains(self.driver).key_down(Keys.ALT).send_keys("f").key_up(Keys.ALT).perform()
        ActionChains(self.driver).send_keys(key).perform()
        self.wait_idle()

    def wait_idle(self):
        wait_until("the command to end", lambda: self.script(
            "return document.getElementById('Picture1').getAttribute('aria-busy') === 'false'"))

    def put(self, name, data):
        result = self.run_async(
            "const root = await navigator.storage.getDirectory();"
            "const file = await root.getFileHandle(args[0], {create: true});"
            "const writable = await file.createWritable();"
            "await writable.write(Uint8Array.from(atob(args[1]), (c) => c.charCodeAt(0)));"
            "await writable.close();", name, base64.b64encode(data).decode())
        if result:
            raise Failure(f"writing {name} to the private file system: {result}")

    def get(self, name):
        result = self.run_async(
            "const root = await navigator.storage.getDirectory();"
            "let file;"
            "try { file = await (await root.getFileHandle(args[0])).getFile(); } catch (e) { return null; }"
            "const bytes = new Uint8Array(await file.arrayBuffer());"
            "let text = ''; for (const byte of bytes) text += String.fromCharCode(byte);"
            "return btoa(text);", name)
        return None if result is None else base64.b64decode(result)

    def requests(self):
        """The network requests made since the last call."""
        sent = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                url = message["params"]["request"]["url"]
                if not url.startswith(("data:", "blob:")):
                    sent.append(url)
        return sent

    def quit(self):
        self.driver.quit()


def check_saved_bmp(data, size, black, background):
    """The BMP read back in Pillow: the canvas's pixels exactly, size = (width, height)."""
    image = Image.open(io.BytesIO(data)).convert("RGB")
    if image.size != size:
        raise Failure(f"the saved BMP is {image.size}, not {size}")
    wrong = mismatches(image, (0, 0), 1, size, black, background)
    if wrong:
        raise Failure(f"{len(wrong)} pixels of the saved BMP wrong, first {wrong[:5]}")


def steps(page, workdir, writer, screenshot):
    """Open, cancel, save both kinds and open both again, through the pickers."""
    black = bitfile_art.black_pixels()
    art = bitfile_art.encode(black)
    interior = wait_for_interior(page, (0, 0, 10**6, 10**6))
    origin = interior[:2]
    background = wait_for_canvas(page, origin, set())
    # The picture control's background is the system's highlighted-text colour, as the
    # browser shows it to a styled element.
    system = tuple(page.script(SYSTEM_COLOUR, "HighlightText"))
    if background != system:
        raise Failure(f"the canvas's background is {background}, not HighlightText {system}")

    page.choose("o")  # headless Chromium's own picker: cancelled at once
    wait_for_canvas(page, origin, set(), background)
    page.script(PICK_FROM_OPFS)
    page.put("Dotloom art.bit", art)
    page.choose("o", "Dotloom art.bit")
    wait_for_canvas(page, origin, black, background)
    offered = page.script("return window.dotloomTestTypes")
    if offered != PICKER_TYPES:
        raise Failure(f"the pickers were offered {offered}, not {PICKER_TYPES}")
    if screenshot:
        with open(screenshot, "wb") as file:
            file.write(page.driver.get_screenshot_as_png())
    page.choose("o")  # cancelled: the canvas stays
    page.choose("s")
    wait_for_canvas(page, origin, black, background)

    # The Bitfile over the start of a longer file, whose bytes past 576 stay.
    longer = bytes((i * 7 + 3) % 256 for i in range(600))
    page.put("longer.bit", longer)
    page.choose("s", "longer.bit")
    wait_until("longer.bit saved", lambda: page.get("longer.bit") == art + longer[576:])

    page.choose("s", "copy.bmp")
    saved = wait_until("copy.bmp saved", lambda: page.get("copy.bmp"))
    check_saved_bmp(saved, page.layout.interior, black, background)

    page.choose("o", "copy.bmp")
    wait_for_canvas(page, origin, black, background)
    page.choose("s", "converted.bit")
    wait_until("converted.bit saved", lambda: page.get("converted.bit") == art)

    size = page.layout.interior
    colours = {(1, 1): (255, 0, 0), (3, 1): (0, 255, 0), (5, 1): (0, 0, 255),
               (size[0] - 1, size[1] - 2): (255, 0, 0)}
    coloured = os.path.join(workdir, "colours.bmp")
    write_bmp(writer, coloured, size, WHITE, colours)
    page.put("colours.bmp", read(coloured))
    page.choose("o", "colours.bmp")
    wait_for_canvas(page, origin, set(), WHITE, colours)

    # Wider than the blocks the page reads a picked file in, stored either way up: the rows
    # shown come from the file's end and then blocks fetched backwards, or from its start and
    # then blocks fetched forwards.
    wide = os.path.join(workdir, "wide.bmp")
    write_bmp(writer, wide, (16000, size[1] + 40), WHITE, colours)
    for name, data in (("wide.bmp", read(wide)), ("wide-top-down.bmp", top_down(read(wide)))):
        page.put(name, data)
        page.choose("o", "copy.bmp")
        wait_for_canvas(page, origin, black, background)
        page.choose("o", name)
        wait_for_canvas(page, origin, set(), WHITE, colours)
    return origin


def top_down(bmp):
    """A 24-bit bottom-up BMP stored top row first instead (a negative height)."""
    offset, width, height = struct.unpack_from("<I", bmp, 10)[0], *struct.unpack_from("<ii", bmp, 18)
    row = (width * 3 + 3) // 4 * 4
    rows = [bmp[offset + y * row:offset + (y + 1) * row] for y in range(height)]
    return bmp[:22] + struct.pack("<i", -height) + bmp[26:offset] + b"".join(reversed(rows))


def fallback_steps(page):
    """The same commands without the File System Access API."""
    black = bitfile_art.black_pixels()
    art = bitfile_art.encode(black)
    original = os.path.join(page.downloads, "..", f"art-{page.scale}.bit")
    with open(original, "wb") as file:
        file.write(art)
    interior = wait_for_interior(page, (0, 0, 10**6, 10**6))
    origin = interior[:2]
    background = wait_for_canvas(page, origin, set())

    ActionChains(page.driver).key_down(Keys.ALT).send_keys("f").key_up(Keys.ALT).perform()
    ActionChains(page.driver).send_keys("o").perform()
    page.driver.find_element(By.ID, "chooser").send_keys(os.path.abspath(original))
    page.wait_idle()
    wait_for_canvas(page, origin, black, background)

    for name, check in (("saved.bit", None), ("saved.bmp", None), ("cancelled.bit", "cancel")):
        ActionChains(page.driver).key_down(Keys.ALT).send_keys("f").key_up(Keys.ALT).perform()
        ActionChains(page.driver).send_keys("s").perform()
        wait_until("the name to be asked", lambda: page.script(
            "return document.activeElement.id === 'file-name'"))
        ActionChains(page.driver).send_keys(name).send_keys(
            Keys.ESCAPE if check == "cancel" else Keys.ENTER).perform()
        page.wait_idle()
    wait_for_contents(os.path.join(page.downloads, "saved.bit"), art,
                      "the downloaded Bitfile differs from the one opened")
    bmp = os.path.join(page.downloads, "saved.bmp")
    wait_until("saved.bmp downloaded", lambda: os.path.exists(bmp) and os.path.getsize(bmp) > 54)
    check_saved_bmp(read(bmp), page.layout.interior, black, background)
    if os.path.exists(os.path.join(page.downloads, "cancelled.bit")):
        raise Failure("a cancelled Save As downloaded a file")


def serve(site, port):
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind",
                               "127.0.0.1", "--directory", site],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return server


def run(site, port, writer_js, sizes_js, screenshots, workdir):
    url = f"http://127.0.0.1:{port}/"
    node = ["node", "--no-experimental-fetch"]
    writer = lambda *arguments: subprocess.run(  # noqa: E731
        [*node, writer_js, *arguments], check=True, timeout=WAIT_SECONDS)
    layout = read_layout(lambda: subprocess.run(
        [*node, sizes_js], capture_output=True, text=True, check=True,
        timeout=WAIT_SECONDS).stdout)
    server = serve(site, port)
    try:
        for scale in (1, 1.5, 2):
            print(f"scale {scale:g}: File System Access")
            page = Page(workdir, url, scale, layout)
            try:
                shot = screenshots and os.path.join(screenshots, f"web-{scale:g}.png")
                steps(page, workdir, writer, shot)
            finally:
                page.quit()
            print(f"scale {scale:g}: without File System Access")
            page = Page(workdir, url, scale, layout, hide_api=True)
            try:
                fallback_steps(page)
            finally:
                page.quit()

        print("offline")
        page = Page(workdir, url, 1, layout)
        try:
            # The page's policy refuses a connection to any other origin.
            refused = page.run_async(
                "return await new Promise((resolve) => {"
                "  document.addEventListener('securitypolicyviolation',"
                "                            (event) => resolve(event.effectiveDirective));"
                "  fetch(args[0]).then(() => resolve('fetched'), () => {});"
                "});", f"http://localhost:{port}/")
            if refused != "connect-src":
                raise Failure(f"a request to another origin was not refused by the policy: {refused}")
            wait_until("the service worker to take the page", lambda: page.script(
                "return navigator.serviceWorker.controller !== null"))
            stop(server)
            server = None
            page.load(reload=True)
            # The reload's own files, from the service worker, show that the log sees requests.
            if not any(url.endswith("dotloom.js") for url in page.requests()):
                raise Failure("the network log shows no request of the reload")
            steps(page, workdir, writer, None)
            sent = page.requests()
            if sent:
                raise Failure(f"the page asked the network after loading: {sent[:5]}")
        finally:
            page.quit()
    finally:
        if server is not None:
            stop(server)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("site")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--bmp-writer", required=True)
    parser.add_argument("--window-sizes", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    return report(lambda workdir: run(os.path.abspath(args.site), args.port,
                                      os.path.abspath(args.bmp_writer),
                                      os.path.abspath(args.window_sizes),
                                      args.screenshots and os.path.abspath(args.screenshots),
                                      workdir), prefix="dotloom-web-e2e-")


if __name__ == "__main__":
    sys.exit(main())
