"""websubject: the experiment's page in headless Chromium, played by a scripted subject.

The browser's counterpart of xsubject: a static server on 127.0.0.1 for the page's folder, a
headless Chromium driven through chromium-driver (python3-selenium) with a screen of the given
size, real key presses and clicks (the browser's own input events), screenshots, frames read as
the program draws them, the program's phase and the run's files read from the page's in-memory
file system. What to check is left to the callers.
"""

import base64
import contextlib
import functools
import http.server
import os
import re
import shutil
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# As root on a machine without a display or a GPU, talking to nothing but the local server.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-extensions", "--mute-audio"]


class Failure(Exception):
    """Something the subject waited for did not happen, or the page went wrong."""


class _Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


class Site:
    """The page's folder (a copy of the built page, with any extra files added) served on
    127.0.0.1 at a free port until stop()."""

    def __init__(self, page_folder, extra=None):
        self.folder = tempfile.mkdtemp(prefix="sm-site-")
        for name in os.listdir(page_folder):
            source = os.path.join(page_folder, name)
            if os.path.isfile(source):
                shutil.copy(source, self.folder)
        for name, text in (extra or {}).items():
            with open(os.path.join(self.folder, name), "w") as f:
                f.write(text)
        handler = functools.partial(_Quiet, directory=self.folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.folder, ignore_errors=True)


class Page:
    """A headless Chromium showing `url` on a screen of `screen` (width, height) CSS pixels at
    one device pixel each."""

    def __init__(self, url, screen=(1280, 800)):
        self.profile = tempfile.mkdtemp(prefix="sm-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        width, height = screen
        for flag in FLAGS + [f"--user-data-dir={self.profile}", f"--window-size={width},{height}",
                             f"--screen-info={{{width}x{height}}}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.console = []
        # The page, full screen or not, is exactly the screen's size.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
        self.started = time.monotonic()
        self.driver.get(url)
        self.width, self.height = width, height

    # -- waiting and reading --

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def waitfor(self, what, test, timeout, interval=0.05):
        deadline = time.monotonic() + timeout
        while True:
            value = test()
            if value:
                return value
            if time.monotonic() > deadline:
                raise Failure(f"no {what} after {timeout} s; console: {self.logs()[-5:]}")
            time.sleep(interval)

    def logs(self):
        """Every console message so far, as (level, text)."""
        self.console += [(e["level"], e["message"]) for e in self.driver.get_log("browser")]
        return self.console

    def errors(self):
        """Console messages that tell of a fault: errors and uncaught exceptions. The page asks
        for study.json to learn whether a study server serves it, and a static server has
        none: that 404 is no fault."""
        return [text for level, text in self.logs()
                if (level == "SEVERE" or "Uncaught" in text) and
                not re.search(r"/study\.json - Failed to load resource: .* 404", text)]

    def ready(self, timeout=60):
        """Waits for the program to be loaded and the Start button to be offered."""
        self.waitfor("Start button", lambda: self.js(
            "const b = document.getElementById('begin'); return b && !b.disabled"), timeout)

    def start(self, timeout=60):
        """Clicks Start and waits for the program's first frame (the idle screen); returns
        the page's clock (ms since the page began loading) at that frame."""
        self.js("window.smFirstFrame = null; window.spatialmemory.onFrame = () => {"
                " if (window.smFirstFrame === null) window.smFirstFrame = performance.now(); };")
        self.driver.find_element(By.ID, "begin").click()
        return self.waitfor("the program's first frame",
                            lambda: self.js("return window.smFirstFrame"), timeout, 0.01)

    def phase(self):
        return self.js("return window.spatialmemory.phase()")

    def waitphase(self, phase, timeout=60):
        self.waitfor(f"phase {phase}", lambda: self.phase() == phase, timeout, interval=0.02)

    def ended(self):
        return self.js("return window.spatialmemoryEnded || null")

    def files(self):
        """The run's files as {name: bytes}, as the program wrote them."""
        pairs = self.js(
            "const bytes = (b) => { let s = ''; for (const c of b) s += String.fromCharCode(c);"
            " return btoa(s); };"
            "return window.spatialmemory.files().map(f => [f.name, bytes(f.bytes)])")
        return {name: base64.b64decode(data) for name, data in pairs}

    def cursor(self):
        return self.js("return document.getElementById('canvas').style.cursor")

    def shot(self, save_as=None):
        """The page as shown, as PNG bytes; also written to `save_as` when given."""
        png = self.driver.get_screenshot_as_png()
        if save_as:
            with open(save_as, "wb") as f:
                f.write(png)
        return png

    def watchframes(self):
        """From now on keeps the first frame the program draws in each phase (0 idle .. 5
        PICK), read from the canvas right after it was drawn; frames() hands them over."""
        self.js("window.smCaught = {}; window.spatialmemory.onFrame = (gl) => {"
                " const phase = window.spatialmemory.phase();"
                " if (phase in window.smCaught) return;"
                " const w = gl.drawingBufferWidth, h = gl.drawingBufferHeight;"
                " const px = new Uint8Array(w * h * 4);"
                " gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, px);"
                " window.smCaught[phase] = [w, h, px]; };")

    def frames(self):
        """The frames kept since watchframes(), as {phase: RGB rows from the top}."""
        caught = self.js(
            "const out = {};"
            "for (const [phase, [w, h, px]] of Object.entries(window.smCaught)) {"
            " const rgb = new Uint8Array(w * h * 3);"
            " for (let y = 0; y < h; y++) for (let x = 0; x < w; x++) {"
            "  const i = 4 * ((h - 1 - y) * w + x), o = 3 * (y * w + x);"
            "  rgb[o] = px[i]; rgb[o + 1] = px[i + 1]; rgb[o + 2] = px[i + 2]; }"
            " let s = '';"
            " for (let i = 0; i < rgb.length; i += 32768)"
            "  s += String.fromCharCode.apply(null, rgb.subarray(i, i + 32768));"
            " out[phase] = btoa(s); }"
            "return out;")
        return {int(phase): base64.b64decode(data) for phase, data in caught.items()}

    # -- input --

    def key(self, name):
        ActionChains(self.driver).send_keys(name).perform()

    def clickat(self, points):
        """Presses and releases the left button at each point (page pixels from the top
        left), in one sequence of input events."""
        if not points:
            return
        actions = ActionBuilder(self.driver)
        for x, y in points:
            actions.pointer_action.move_to_location(x, y)
            actions.pointer_action.pointer_down()
            actions.pointer_action.pointer_up()
        actions.perform()

    def stop(self):
        with contextlib.suppress(Exception):
            self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


def runcase(args, cases, work, failures, begin=None):
    """Runs the case args.case of `cases` (a function of args and its folder) in a fresh folder
    <args.work>/<work>/<case>, which `begin` hears of first. The folder is removed when the case
    passes and kept when it fails with one of `failures`. Returns the exit status."""
    if not os.path.exists(os.path.join(args.page, "spatialmemory.wasm")):
        print(f"FAILED: no browser build in {args.page}; build it first: "
              "emcmake cmake -S . -B build-web && cmake --build build-web")
        return 1
    folder = os.path.join(os.path.abspath(args.work), work, args.case)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if begin:
        begin(folder)
    try:
        cases[args.case](args, folder)
    except failures as problem:
        print(f"FAILED {args.case}: {problem}\nwork folder kept: {folder}")
        return 1
    print(f"passed {args.case}")
    shutil.rmtree(folder, ignore_errors=True)
    return 0
