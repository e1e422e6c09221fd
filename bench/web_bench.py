#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""The page against its floors, in headless Chromium, medians of runs taken in turn:

    web_bench.py SITE [--native DOTLOOM_BENCH_LARGE_BMP] [--runs N] [--port PORT]

Start-up: from navigation to the canvas drawn (the "dotloom-drawn" mark), the page against
bench/web_bare (a 99 x 52 canvas drawn by a script) and against the page's own shell (its
HTML, style, manifest and icons, its script replaced by bare.js's few lines), all from one
http.server, in turn.
Open .bmp 8000 x 8000: the page's Open command, from the click to the repaint (the
"dotloom-command" measure), on a 192 MB file in the origin-private file system, alternating
with the least any page must wait for to show those rows (the file from the private file
system, its header, then the span of the rows shown, in one read) and with the native build's
Open (bench/large_bmp_bench.cpp) when --native names it.
Run with Debian's /usr/bin/python3 (selenium).
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

# A 24-bit 8000 x 8000 BMP, grey but for its top-left pixel, black, written in the page.
WRITE_LARGE_BMP = """
const [side, done] = arguments;
(async () => {
  const row = side * 3;
  const header = new DataView(new ArrayBuffer(54));
  header.setUint16(0, 0x4d42, true);
  header.setUint32(2, 54 + row * side, true);
  header.setUint32(10, 54, true);
  header.setUint32(14, 40, true);
  header.setInt32(18, side, true);
  header.setInt32(22, side, true);
  header.setUint16(26, 1, true);
  header.setUint16(28, 24, true);
  header.setUint32(34, row * side, true);
  const root = await navigator.storage.getDirectory();
  const writable = await (await root.getFileHandle('large.bmp', {create: true})).createWritable();
  await writable.write(header.buffer);
  const rows = new Uint8Array(row * 500).fill(0x80);
  for (let y = 0; y < side; y += 500) {
    if (y + 500 >= side) rows.fill(0, (499 - (side - 1 - y)) * row + 3, (499 - (side - 1 - y)) * row + 6);
    await writable.write(rows);
  }
  await writable.close();
  window.showOpenFilePicker = async () => [await root.getFileHandle('large.bmp')];
})().then(() => done(null), (error) => done(String(error)));
"""

OPEN_ONCE = """
const done = arguments[0];
performance.clearMeasures();
const canvas = document.getElementById('Picture1');
document.querySelector('[role=menu] [role=menuitem]').click();
const poll = () => canvas.getAttribute('aria-busy') === 'false'
  ? done(performance.getEntriesByName('dotloom-command', 'measure')[0].duration)
  : setTimeout(poll, 1);
setTimeout(poll, 1);
"""


# The least a page waits for to show the top rows of that BMP: the file, its header, and one
# read of the rows the canvas shows.
READ_FLOOR = """
const done = arguments[0];
(async () => {
  const start = performance.now();
  const root = await navigator.storage.getDirectory();
  const file = await (await root.getFileHandle('large.bmp')).getFile();
  const head = new DataView(await file.slice(0, 54).arrayBuffer());
  const [offset, width, height] = [head.getUint32(10, true), head.getInt32(18, true), head.getInt32(22, true)];
  const row = Math.floor((width * 24 + 31) / 32) * 4;
  await file.slice(offset + (height - 52) * row, offset + height * row).arrayBuffer();
  return performance.now() - start;
})().then(done, (error) => done(String(error)));
"""


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-background-networking", "--window-size=480,320"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(120)
    return driver


def drawn_after(driver, url):
    """Milliseconds from navigation to the canvas drawn."""
    driver.get("about:blank")
    driver.get(url)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        marks = driver.execute_script(
            "return performance.getEntriesByName('dotloom-drawn').map((m) => m.startTime)")
        if marks:
            return marks[0]
        time.sleep(0.01)
    raise RuntimeError(f"{url}: the canvas was never drawn")


def native_open(program, runs):
    out = subprocess.run([program, "--benchmark_filter=Open .bmp 24 bpp, side/8000",
                          f"--benchmark_repetitions={runs}", "--benchmark_format=json",
                          "--benchmark_report_aggregates_only=true"],
                         capture_output=True, text=True, check=True).stdout
    for result in json.loads(out)["benchmarks"]:
        if result.get("aggregate_name") == "median":
            return result["real_time"]  # milliseconds, as the benchmark reports them
    raise RuntimeError("no median from the native benchmark")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("site")
    parser.add_argument("--native")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--port", type=int, default=18740)
    parser.add_argument("--side", type=int, default=8000, help="of the large BMP")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="dotloom-web-bench-") as root:
        os.symlink(os.path.abspath(args.site), os.path.join(root, "page"))
        bare_folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "web_bare")
        os.symlink(bare_folder, os.path.join(root, "bare"))
        shell = os.path.join(root, "shell")
        os.mkdir(shell)
        for name in os.listdir(args.site):
            if name not in ("dotloom.js", "sw.js"):
                shutil.copy(os.path.join(args.site, name), shell)
        with open(os.path.join(bare_folder, "bare.js")) as bare_script, \
                open(os.path.join(shell, "dotloom.js"), "w") as script:
            script.write(bare_script.read().replace("'canvas'", "'Picture1'"))
        server = subprocess.Popen([sys.executable, "-m", "http.server", str(args.port), "--bind",
                                   "127.0.0.1", "--directory", root],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        driver = None
        try:
            time.sleep(0.5)
            driver = browser()
            base = f"http://127.0.0.1:{args.port}/"
            times = {"page": [], "shell": [], "bare": []}
            names = list(times)
            for run in range(args.runs + 1):
                order = names[run % 3:] + names[:run % 3]
                taken = {name: drawn_after(driver, base + name + "/") for name in order}
                if run > 0:  # the first round only warms the caches and the service worker
                    for name, value in taken.items():
                        times[name].append(value)
            page, shell, bare = (statistics.median(times[name]) for name in names)
            print(f"start-up, navigation to canvas drawn, median of {args.runs}: page "
                  f"{page:.1f} ms, its shell {shell:.1f} ms, bare canvas {bare:.1f} ms, "
                  f"ratios {page / bare:.2f} and {shell / bare:.2f}")

            driver.get(base + "page/")
            error = driver.execute_async_script(WRITE_LARGE_BMP, args.side)
            if error:
                raise RuntimeError(error)
            opens, floors, natives = [], [], []
            for _ in range(args.runs):
                opens.append(driver.execute_async_script(OPEN_ONCE))
                floors.append(driver.execute_async_script(READ_FLOOR))
                if args.native:
                    natives.append(native_open(args.native, 3))
            line = (f"Open .bmp {args.side} x {args.side}, median of {args.runs}: page "
                    f"{statistics.median(opens):.2f} ms, the reads any page waits for "
                    f"{statistics.median(floors):.2f} ms, ratio "
                    f"{statistics.median(opens) / statistics.median(floors):.2f}")
            if natives:
                line += (f", native {statistics.median(natives):.3f} ms, ratio "
                         f"{statistics.median(opens) / statistics.median(natives):.1f}")
            print(line)
        finally:
            if driver is not None:
                driver.quit()
            server.terminate()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())
