"""xsubject: the experiment in a virtual display, played by a scripted subject.

Owns the machinery that the headless example run, the screenshots, the memory check and the
end-to-end tests share: a virtual X display (Xvfb), a data folder laid out so that the program
finds it from its own path, the running program, its window, key presses and clicks sent with
xdotool, screenshots taken with ImageMagick, and the screen geometry needed to find the texts
and the cells on a screenshot. What to check on the results is left to the callers.
"""

import math
import os
import random
import re
import signal
import subprocess
import time

# The projection is made for 16:10 screens: at one unit in front of the eye it spans
# -0.8 .. 0.8 across and -0.5 .. 0.5 up, and the map lies in that plane, 0.7 units square.
VIEW_HALF_WIDTH = 0.8
VIEW_HALF_HEIGHT = 0.5
MAP_SIZE = 0.7
GLYPH_WIDTH = 9  # the 9x15 bitmap font
GLYPH_ASCENT = 12  # rows above the baseline row that a glyph may light
GLYPH_DESCENT = 3  # rows below the baseline row

APP_FOLDER = "spatialmemory.app"
PROGRAM_NAME = "spatialmemory"


class Failure(Exception):
    """Something the subject waited for did not happen."""


# ---- the virtual display ----


class Xvfb:
    """An Xvfb server of its own: 24-bit colour, no key repeat, display number chosen by Xvfb."""

    def __init__(self, width, height, log_path=os.devnull):
        self.width = width
        self.height = height
        read_end, write_end = os.pipe()
        with open(log_path, "ab") as log:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                 "-r", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    self.process.kill()
                    raise Failure(f"Xvfb did not start (see {log_path})")
                number += chunk
        self.display = ":" + number.decode().strip()
        self.pid = self.process.pid

    def stop(self):
        stopprocess(self.pid)
        self.process.wait()


def stopprocess(pid, grace=5.0):
    """Ends a process we started: SIGTERM, then SIGKILL after `grace` seconds."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline:
        if not pidalive(pid):
            return
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def pidalive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(") ")[-1][:1] != "Z"
    except FileNotFoundError:
        return False


# ---- screen geometry ----


class Geometry:
    """Where things land on a screen of the given size.

    The picture is the largest centred 16:10 rectangle of the screen (the whole screen at
    16:10); texts are placed at fractions of that picture and the map lies in it.
    """

    def __init__(self, width, height):
        self.width = width
        self.height = height
        if width * 10 > height * 16:
            self.vh = height
            self.vw = height * 16 // 10
        else:
            self.vw = width
            self.vh = width * 10 // 16
        self.vx = (width - self.vw) // 2
        self.vy = (height - self.vh) // 2  # from the bottom

    def textorigin(self, fx, fy):
        """Screen column and row (rows from the top) of a text's first glyph origin: the
        baseline row that a glyph without descender rests on."""
        x = self.vx + fx * self.vw
        y = self.vy + (fy * 0.985) * self.vh  # from the bottom
        return int(math.floor(x)), self.height - 1 - int(math.floor(y))

    def textbox(self, fx, fy, characters):
        """Box (left, top, right, bottom, exclusive ends) that a line of text may light."""
        col, row = self.textorigin(fx, fy)
        return (col, row - GLYPH_ASCENT, col + characters * GLYPH_WIDTH + 1,
                row + GLYPH_DESCENT + 1)

    def toscreen(self, x, y):
        """Screen column and row (from the top) of a point of the map's plane."""
        sx = self.vx + (x + VIEW_HALF_WIDTH) / (2 * VIEW_HALF_WIDTH) * self.vw
        sy = self.vy + (y + VIEW_HALF_HEIGHT) / (2 * VIEW_HALF_HEIGHT) * self.vh
        return int(round(sx)), int(round(self.height - sy))

    def cellcentre(self, column, row, num_x, num_y, angle):
        """Screen position of the centre of grid cell (column, row) of an unshifted map turned
        by `angle` degrees. Column and row may lie outside the grid."""
        x = MAP_SIZE * (column + 0.5) / num_x - MAP_SIZE / 2
        y = MAP_SIZE * (row + 0.5) / num_y - MAP_SIZE / 2
        a = math.radians(angle)
        return self.toscreen(x * math.cos(a) - y * math.sin(a), x * math.sin(a) + y * math.cos(a))


IDLE_PROMPT = "Press 'g' to start."
PICK_PROMPT = "press 's' to finish"


# ---- screenshots ----


class Shot:
    """A screenshot as 8-bit RGB rows."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels

    def rgb(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def count(self, box, test):
        left, top, right, bottom = clip(box, self.width, self.height)
        n = 0
        for y in range(top, bottom):
            row = self.pixels[3 * (y * self.width + left):3 * (y * self.width + right)]
            n += sum(1 for i in range(0, len(row), 3) if test(row[i], row[i + 1], row[i + 2]))
        return n

    def white(self, box):
        return self.count(box, lambda r, g, b: r == 255 and g == 255 and b == 255)

    def lit(self, box):
        return self.count(box, lambda r, g, b: r or g or b)

    def crop(self, box):
        """The pixels of a box, row after row, for comparing one screen with another."""
        left, top, right, bottom = clip(box, self.width, self.height)
        return b"".join(self.pixels[3 * (y * self.width + left):3 * (y * self.width + right)]
                        for y in range(top, bottom))

    def redblocks(self, size=8, share=0.5):
        """How many size x size blocks of the screen are mostly full red (red byte 255): a
        target's disc seen through its hole. Noise reaches 255 in one pixel of 256."""
        full = bytes(255) + b"\x01"  # maps the red byte 255 to 1, every other to 0
        red = self.pixels[0::3].translate(full)
        w = self.width
        found = 0
        for top in range(0, self.height - size + 1, size):
            sums = [0] * (w // size)
            for y in range(top, top + size):
                line = red[y * w:(y + 1) * w]
                for b in range(w // size):
                    sums[b] += sum(line[b * size:(b + 1) * size])
            found += sum(1 for n in sums if n > share * size * size)
        return found

    def whitepixels(self, box=None):
        left, top, right, bottom = clip(box or (0, 0, self.width, self.height), self.width,
                                        self.height)
        found = []
        for y in range(top, bottom):
            for x in range(left, right):
                i = 3 * (y * self.width + x)
                if self.pixels[i] == 255 and self.pixels[i + 1] == 255 and self.pixels[i + 2] == 255:
                    found.append((x, y))
        return found


def clip(box, width, height):
    left, top, right, bottom = box
    return max(0, left), max(0, top), min(width, right), min(height, bottom)


def grab(display, save_as=None):
    """Screenshot of the whole screen; also written as PNG when `save_as` is given."""
    env = dict(os.environ, DISPLAY=display)
    raw = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=env,
                         check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         timeout=60).stdout
    size = subprocess.run(["xwininfo", "-root"], env=env, check=True, stdout=subprocess.PIPE,
                          text=True, timeout=30).stdout
    width = int(re.search(r"Width: (\d+)", size).group(1))
    height = int(re.search(r"Height: (\d+)", size).group(1))
    if len(raw) != width * height * 3:
        raise Failure(f"screenshot of {len(raw)} bytes for a {width}x{height} screen")
    if save_as:
        subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "rgb:-", save_as],
                       input=raw, check=True, timeout=60)
    return Shot(width, height, raw)


def shrink(source, target, width=640):
    """A small copy of a screenshot for the documentation: scaled down, and 64 colours, which
    keep the rings, the red discs and the white text apart while the noise compresses."""
    subprocess.run(["convert", source, "-resize", f"{width}x", "-colors", "64", "+dither",
                    "-strip", "PNG8:" + target], check=True, timeout=60)


# ---- the data folder ----


def makedatafolder(folder, program, settings=None):
    """Lays out a data folder: settings.txt (when given) and an application folder holding a
    link to the program. Started as <folder>/spatialmemory.app/spatialmemory, the program takes
    <folder> as its data folder, whatever dots the path holds before it. Returns that path."""
    os.makedirs(os.path.join(folder, APP_FOLDER), exist_ok=True)
    if settings is not None:
        with open(os.path.join(folder, "settings.txt"), "w") as f:
            f.write(settings)
    link = os.path.join(folder, APP_FOLDER, PROGRAM_NAME)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.path.abspath(program), link)
    return os.path.abspath(link)


# ---- the running program ----


class Run:
    """The program started in a data folder on a display, with its output in files there."""

    def __init__(self, display, screen, folder, program, settings=None, wrapper=None,
                 log_prefix="program"):
        """`wrapper`, when given, is a command that gets the program's path and the data
        folder as its last two arguments and must exec the program by that path."""
        self.display = display
        self.geometry = Geometry(*screen)
        self.folder = os.path.abspath(folder)
        self.launch = makedatafolder(self.folder, program, settings)
        self.argv0 = self.launch
        self.stdout_path = os.path.join(self.folder, log_prefix + ".stdout")
        self.stderr_path = os.path.join(self.folder, log_prefix + ".stderr")
        self.env = dict(os.environ, DISPLAY=display)
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            command = wrapper + [self.launch, self.folder] if wrapper else [self.launch]
            self.process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err, start_new_session=True)
        self.pid = self.process.pid
        self.window = None

    # -- waiting --

    def waitfor(self, what, test, timeout, interval=0.2):
        """Polls test() until it gives a true value, which it returns. Fails after `timeout`
        seconds, or at once when the program has ended."""
        deadline = time.monotonic() + timeout
        while True:
            value = test()
            if value:
                return value
            if self.process.poll() is not None:
                raise Failure(f"the program ended (status {self.process.returncode}) while "
                              f"waiting for {what}; stderr: {self.stderr().strip()!r}")
            if time.monotonic() > deadline:
                raise Failure(f"no {what} after {timeout} s")
            time.sleep(interval)

    def windowgeometry(self):
        """(id, width, height, x, y) of the program's window, found by its title, or None."""
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30).stdout
        for line in tree.splitlines():
            m = re.match(r'\s*(0x[0-9a-f]+) "(.*)": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', line)
            if m and m.group(2) == self.argv0:
                return m.group(1), int(m.group(3)), int(m.group(4)), int(m.group(5)), int(
                    m.group(6))
        return None

    def waitready(self, timeout=60):
        """Waits until the window covers the screen and shows the idle screen, then puts the
        pointer on it: without a window manager, keys go to the window under the pointer."""
        g = self.geometry

        def covers():
            w = self.windowgeometry()
            return w if w and w[1:] == (g.width, g.height, 0, 0) else None

        self.window = self.waitfor("full-screen window", covers, timeout)
        self.movepointer(g.width // 2, g.height // 2)
        self.waitfor("idle screen", self.idle, timeout)

    def movepointer(self, x, y, timeout=10):
        self.xdotool("mousemove", str(x), str(y))

        def there():
            out = self.xdotool("getmouselocation")
            return f"x:{x} y:{y} " in out + " "

        self.waitfor(f"pointer at {x},{y}", there, timeout, interval=0.05)

    # -- what the screen shows --

    def shot(self, save_as=None):
        return grab(self.display, save_as)

    def shows(self, text, fx, fy, shot=None, minimum=12):
        """Whether white text lights the box of a line of `text` characters at (fx, fy)."""
        shot = shot or self.shot()
        return shot.white(self.geometry.textbox(fx, fy, len(text))) >= minimum

    def idle(self, shot=None):
        return self.shows(IDLE_PROMPT, 0.5, 0.5, shot)

    def picking(self, shot=None):
        return self.shows(PICK_PROMPT, 0.0, 0.9, shot)

    def label(self, shot=None):
        """Length in characters of the phase label at the top left (0 when none shows):
        5 for WATCH and SHIFT, 6 for ROTATE, 4 for WAIT and PICK."""
        shot = shot or self.shot()
        box = self.geometry.textbox(0.0, 0.92, 8)
        white = shot.whitepixels(box)
        if len(white) < 12:
            return 0
        return (max(x for x, _ in white) - box[0]) // GLYPH_WIDTH + 1

    # -- input --

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, text=True,
                              stdout=subprocess.PIPE, timeout=60).stdout

    def key(self, name):
        self.xdotool("key", name)

    def clickat(self, points):
        """Presses and releases the left button at each point, in one xdotool call."""
        args = []
        for x, y in points:
            args += ["mousemove", str(x), str(y), "mousedown", "1", "mouseup", "1"]
        if args:
            self.xdotool(*args)

    def clickcells(self, cells, num_x, num_y, angle=None):
        """Clicks the centre of each cell (column, row) of the unshifted grid where the map
        turned by `angle` (the running trial's when None) shows it, leaving out those off the
        screen. Returns the points clicked."""
        g = self.geometry
        angle = self.lastangle() if angle is None else angle
        points = [g.cellcentre(c, r, num_x, num_y, angle) for c, r in cells]
        points = [(x, y) for x, y in points if 0 <= x < g.width and 0 <= y < g.height]
        self.clickat(points)
        return points

    # -- one trial, played --

    def starttrial(self, timeout=60):
        """'g' on the idle screen; returns once the idle screen has gone (WATCH has begun)."""
        self.key("g")
        self.waitfor("start of WATCH", lambda: not self.idle(), timeout)
        return time.monotonic()

    def waitpick(self, timeout):
        self.waitfor("PICK phase", self.picking, timeout)

    def finishtrial(self, timeout=60):
        """'s' in PICK; returns once the idle screen is back."""
        self.key("s")
        self.waitfor("idle screen after 's'", self.idle, timeout)

    def lastangle(self):
        """Rotation angle of the trial now running, from its line in the tab results file."""
        fields = self.resultlines()[-1].split("\t")
        return float(fields[7])

    def resultlines(self):
        with open(self.resultspath()) as f:
            return f.read().split("\n")

    def resultspath(self, coord=False, number=0):
        return os.path.join(self.folder, f"results{'_coord' if coord else ''}{number}.txt")

    # -- the end --

    def wait(self, timeout=30):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s") from None

    def stop(self):
        if self.process.poll() is None:
            stopprocess(self.pid)
            self.process.wait()

    def kill(self):
        os.kill(self.pid, signal.SIGKILL)
        self.process.wait()

    def stdout(self):
        with open(self.stdout_path) as f:
            return f.read()

    def stderr(self):
        with open(self.stderr_path) as f:
            return f.read()

    def rss_kib(self):
        """Resident memory of the program now, KiB."""
        with open(f"/proc/{self.pid}/status") as f:
            return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1))


def lattice(num_x, num_y, margin=1):
    """Every cell of the grid and of a band `margin` cells wide around it: clicking all their
    centres on the screen's grid reaches every cell of the under layer, whichever way it was
    shifted by one cell."""
    return [(c, r) for c in range(-margin, num_x + margin) for r in range(-margin, num_y + margin)]


def somecells(num_x, num_y, n, rng=random):
    """n distinct cells of the grid, at random."""
    return rng.sample([(c, r) for c in range(num_x) for r in range(num_y)], n)
