#!/usr/bin/python3
"""web: the browser build against the desktop program. Each case plays the same scripted run,
on the same fixed seeds, in the page (headless Chromium, real key and mouse events) and in the
desktop program (a virtual display, xdotool), and compares what they wrote or showed.

  web.py CASE --page FOLDER --program PATH --replay PATH --work FOLDER [--pictures FOLDER]

  same_run      the tab results file byte for byte, the coordinate file but for click
                coordinates within 1e-4 of a cell, the event logs row for row; the sidecar's
                facts; the page's end screen, its four files, and no error in the page
  same_picture  every phase of trials on a 16:10 screen as the desktop shows it (WATCH's
                first frame as the replay draws it), the pointer hidden but in PICK, and the
                idle screen letterboxed on a 5:4 screen

Exit status 0 passed, 1 failed; the work folder of a failed case is kept.
"""

import argparse
import csv
import io
import os
import re
import subprocess
import sys
import json

import numpy

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "lib"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import websubject  # noqa: E402
import xsubject  # noqa: E402
from records import Bad, Design, expect  # noqa: E402

SEED = 4000000001  # near the top of the range: the seeds after it wrap round past 2^32 - 1
WIDE = (1280, 800)
# Four trials: rings or not, an instant shift or a slide, a blank wait or not, two angles.
RUN = Design([(9, 12), (12, 9)], waits=(0.3, 0.5), angles=(90, -30),
             colours=("40 200 230", "250 150 20"), watch_length=0.6, shift_length=0.4,
             rotate_length=0.4, num_trials_per_set=2, num_with_borders=1, num_instant_shifts=1,
             num_blank_wait=1)
# Two trials with rings and instant shifts, phases long enough to be looked at; one blank wait.
LOOK = Design([(9, 12)], waits=(2.5,), angles=(60, -120), colours=("40 200 230",),
              watch_length=1.0, shift_length=2.5, rotate_length=0.8, num_trials_per_set=2,
              num_with_borders=2, num_instant_shifts=2, num_blank_wait=1)
# The columns of the event log that hold times and frame counts, which no two runs share.
WORK = [None]  # the running case's work folder
PICTURES = [None]  # --pictures: where every picture compared is kept
TIMING = {"onset", "duration", "frame", "frames", "frame_median_ms", "frame_max_ms",
          "late_frames", "layout_ms", "rt"}


# ---- the two programs ----


class Desktop:
    """The desktop program on a virtual display of its own, started with --seed."""

    def __init__(self, args, folder, design, screen=WIDE):
        self.server = xsubject.Xvfb(*screen)
        self.run = xsubject.Run(self.server.display, screen, folder, args.program, design.text,
                                wrapper=["sh", "-c", f'exec "$0" --seed {SEED}'])
        self.run.waitready()

    def stop(self):
        self.run.stop()
        self.server.stop()


class Browser:
    """The page on a served copy of the built page with the design as its settings.txt, in a
    headless Chromium, loaded and started (the idle screen drawn)."""

    def __init__(self, args, design, screen=WIDE, query=f"?seed={SEED}"):
        self.site = websubject.Site(args.page, {"settings.txt": design.text})
        try:
            self.page = websubject.Page(self.site.url + "index.html" + query, screen)
            self.page.ready()
            self.page.start()
        except BaseException:
            self.site.stop()
            raise

    def stop(self):
        self.page.stop()
        self.site.stop()


def tabline(tab):
    """The running trial's fields from the tab results file's text."""
    return tab.rstrip("\n").split("\n")[-1].split("\t")


def trials(tab):
    """Each trial's fields from the tab results file's text, by trial number."""
    rows = tab.split("trial\ttargets", 1)[1].split("\n")[1:]
    return {int(r.split("\t")[0]): r.split("\t") for r in rows if r[:1].isdigit()}


def clicks(angle, trial):
    """The points the subject clicks in a trial: a few cells, one twice, one off the board;
    every cell of the grid and a band around it in trial 2."""
    g = xsubject.Geometry(*WIDE)
    cells = xsubject.lattice(10, 10) if trial == 2 else [(1, 1), (8, 2), (4, 5), (1, 1), (12, 3)]
    points = [g.cellcentre(c, r, 10, 10, angle) for c, r in cells]
    return [(x, y) for x, y in points if 0 <= x < g.width and 0 <= y < g.height]


def playdesktop(desktop, design, count):
    run = desktop.run
    for n in range(1, count + 1):
        run.starttrial()
        run.waitpick(60)
        run.clickat(clicks(float(tabline(open(run.resultspath()).read())[7]), n))
        run.finishtrial()
    run.key("g")
    expect(run.wait(30) == 0, f"the desktop run ended with status {run.process.returncode}")
    folder = run.folder
    return {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)
            if n.startswith("results")}


def playbrowser(browser, count):
    page = browser.page
    for n in range(1, count + 1):
        page.key("g")
        page.waitphase(5)
        page.clickat(clicks(float(tabline(page.files()["results0.txt"].decode())[7]), n))
        page.key("s")
        page.waitphase(0)
    files = page.files()
    page.key("g")
    page.waitfor("the end screen", page.ended, 30)
    return files


# ---- comparing files ----


def samecoords(web, desk):
    """The coordinate files alike but for click coordinates (the columns from the 13th, at
    character 168) that agree within 1e-4 of a cell. Returns the largest such difference."""
    worst = 0.0
    wl, dl = web.split("\n"), desk.split("\n")
    expect(len(wl) == len(dl), f"coordinate files of {len(wl)} and {len(dl)} lines")
    for i, (a, b) in enumerate(zip(wl, dl)):
        ta = [(m.start(), m.group()) for m in re.finditer(r"\S+", a)]
        tb = [(m.start(), m.group()) for m in re.finditer(r"\S+", b)]
        expect(len(ta) == len(tb), f"coordinate line {i + 1}: {a!r} against {b!r}")
        for (pa, va), (pb, vb) in zip(ta, tb):
            if va == vb:
                continue
            expect(pa == pb and 168 <= pa < 196 and abs(float(va) - float(vb)) <= 1e-4,
                   f"coordinate line {i + 1}: {va} against {vb} at character {pa}")
            worst = max(worst, abs(float(va) - float(vb)))
    return worst


def samelog(web, desk):
    """The event logs row for row: every column but times and frame counts equal, the grid
    positions within 1e-4 of a cell."""
    rows = [list(csv.DictReader(io.StringIO(t), delimiter="\t")) for t in (web, desk)]
    expect(len(rows[0]) == len(rows[1]),
           f"event logs of {len(rows[0])} and {len(rows[1])} rows")
    for i, (a, b) in enumerate(zip(*rows)):
        expect(list(a) == list(b), f"event log columns {list(a)} against {list(b)}")
        for column in a:
            if column in TIMING or a[column] == b[column]:
                continue
            close = (column in ("grid_x", "grid_y") and
                     abs(float(a[column]) - float(b[column])) <= 1e-4)
            expect(close, f"event log row {i + 2}, {column}: {a[column]} against {b[column]}")
    return [r["event"] for r in rows[0]]


# ---- comparing pictures ----


def png2rgb(png):
    """8-bit RGB rows from PNG bytes."""
    return subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=png, check=True,
                          stdout=subprocess.PIPE).stdout


def alike(what, web, desk, width, height, skip=()):
    """Two pictures of the same frame drawn by two GL implementations: their texture filtering
    rounds differently (and a tilted map's mip levels are chosen by each one's own
    approximation), so pixels may differ a little, but at most 0.1 % by more than 24 in a
    channel, and the mean difference stays under 3 (a layer missing or moved, or texels
    thrown away, make it 15 and more). Rows in `skip` (top, bottom) are left out. Labels are
    compared exactly by samelabels."""
    expect(len(web) == len(desk) == 3 * width * height, f"{what}: pictures of other sizes")
    a = numpy.frombuffer(web, numpy.uint8).reshape(height, width, 3).astype(int)
    b = numpy.frombuffer(desk, numpy.uint8).reshape(height, width, 3).astype(int)
    rows = numpy.ones(height, bool)
    for top, bottom in skip:
        rows[top:bottom] = False
    d = numpy.abs(a - b).max(axis=2)[rows]
    far, mean = int((d > 24).sum()), float(d.mean())
    print(f"{what}: {far} pixels differ by more than 24, mean difference {mean:.3f}")
    if far > d.size / 1000 or mean >= 3 or PICTURES[0]:
        for side, pixels in (("page", web), ("desktop", desk)):
            keep(f"{what} {side}", pixels, width, height)
    expect(far <= d.size / 1000 and mean < 3, f"{what} differs from the desktop's: "
           f"{far} pixels by more than 24, mean difference {mean:.3f}")


def keep(name, pixels, width, height):
    """A picture saved as PNG in the work folder, for a look after a failure."""
    path = os.path.join(PICTURES[0] or WORK[0], re.sub(r"\W+", "-", name) + ".png")
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "rgb:-", path],
                   input=pixels, check=True)


def whites(pixels, width, box):
    left, top, right, bottom = box
    return {(x, y) for y in range(top, bottom) for x in range(left, right)
            if pixels[3 * (y * width + x):3 * (y * width + x) + 3] == b"\xff\xff\xff"}


def samelabels(what, web, desk, geometry):
    """The phase label and the prompt light exactly the same white pixels."""
    for fx, fy, n in ((0.0, 0.92, 6), (0.0, 0.9, 19)):
        box = geometry.textbox(fx, fy, n)
        a, b = whites(web, geometry.width, box), whites(desk, geometry.width, box)
        expect(a == b, f"{what}: the text at ({fx}, {fy}) differs in {len(a ^ b)} pixels")


def redblocks(pixels, width, height):
    return xsubject.Shot(width, height, pixels).redblocks()


# ---- the cases ----


def case_same_run(args, folder):
    """Four trials played alike in both: the same files, the page's end and no error."""
    count = 4
    desktop = Desktop(args, os.path.join(folder, "desktop"), RUN)
    try:
        desk = playdesktop(desktop, RUN, count)
    finally:
        desktop.stop()
    browser = Browser(args, RUN)
    try:
        web = playbrowser(browser, count)
        end = browser.page.ended()
        shown = browser.page.js(
            "return [document.getElementById('outcome').textContent,"
            " [...document.querySelectorAll('#files a')].map(a => a.download),"
            " [...document.querySelectorAll('#tally tbody tr')].map(r => r.textContent)]")
        errors = browser.page.errors()
    finally:
        browser.stop()
    expect(end["status"] == 0, f"the page's run ended with status {end['status']}")
    names = ["results0.txt", "results_coord0.txt", "results_events0.tsv", "results_events0.json"]
    expect(sorted(web) == sorted(names) and shown[1] == names,
           f"the page's files {sorted(web)}, offered for download {shown[1]}")
    expect(shown[0] == f"The run is complete: {count} trials." and len(shown[2]) == 2,
           f"the end screen says {shown[0]!r}, tally rows {shown[2]}")
    expect(not errors, f"errors in the page: {errors}")
    expect(web["results0.txt"] == desk["results0.txt"],
           "the tab results files differ:\n" + web["results0.txt"].decode() + "\n" +
           desk["results0.txt"].decode())
    worst = samecoords(web["results_coord0.txt"].decode(), desk["results_coord0.txt"].decode())
    events = samelog(web["results_events0.tsv"].decode(), desk["results_events0.tsv"].decode())
    expect(events.count("click") >= 2 * (4 + 144), f"only {events.count('click')} click rows")
    sw, sd = (json.loads(x["results_events0.json"])["spatialmemory"] for x in (web, desk))
    facts = ("seed", "settings_sha256", "screen_width", "screen_height", "viewport")
    expect(all(sw.get(k) == sd.get(k) for k in facts) and sw.get("seed") == SEED,
           f"sidecars differ: {[(k, sw.get(k), sd.get(k)) for k in facts]}")
    expect(sw.get("swap_synced") is True and sw.get("swap_control") == "requestAnimationFrame",
           f"the page's sidecar: swap_synced {sw.get('swap_synced')}, "
           f"swap_control {sw.get('swap_control')}")
    print(f"same files; click coordinates within {worst:.2e} of a cell; {len(events)} log rows")


def lookdesktop(run, count, shots):
    """Screenshots of the desktop in each phase that stands still (idle, SHIFT after an instant
    shift, WAIT, PICK) and one in ROTATE, per trial."""
    shots[(0, 0)] = run.shot().pixels
    for n in range(1, count + 1):
        run.key("g")
        shot = run.waitfor("SHIFT", lambda: (lambda s: s if run.label(s) == 5 and
                                             s.redblocks() == 0 else None)(run.shot()), 60, 0.05)
        shots[(n, 2)] = shot.pixels
        shots[(n, 3)] = run.waitfor("ROTATE", lambda: (lambda s: s if run.label(s) == 6
                                                       else None)(run.shot()), 60, 0.05).pixels
        shots[(n, 4)] = run.waitfor("WAIT", lambda: (lambda s: s if run.label(s) == 4 and
                                                     not run.picking(s) else None)(run.shot()),
                                    60, 0.05).pixels
        shots[(n, 5)] = run.waitfor("PICK", lambda: (lambda s: s if run.picking(s) else None)(
            run.shot()), 60, 0.1).pixels
        run.finishtrial()
    run.key("g")
    expect(run.wait(30) == 0, "the desktop run did not end with status 0")


def case_same_picture(args, folder):
    """Each phase of two trials as the desktop shows it, from the same seeds."""
    g = xsubject.Geometry(*WIDE)
    w, h = WIDE
    desk = {}
    desktop = Desktop(args, os.path.join(folder, "desktop"), LOOK)
    try:
        lookdesktop(desktop.run, 2, desk)
    finally:
        desktop.stop()
    browser = Browser(args, LOOK)
    page = browser.page
    web, cursors = {}, {}
    try:
        page.watchframes()
        page.waitfor("the idle screen's frame", lambda: page.js("return 0 in window.smCaught"),
                     30)
        web[(0, 0)] = page.frames()[0]
        cursors[0] = page.cursor()
        for n in (1, 2):
            page.watchframes()
            page.key("g")
            for phase in (1, 2, 3, 4, 5):
                page.waitphase(phase)
                cursors[phase] = page.cursor()
            page.waitfor("PICK's frame", lambda: page.js("return 5 in window.smCaught"), 30)
            for phase, frame in page.frames().items():
                web[(n, phase)] = frame
            page.key("s")
            page.waitphase(0)
        files = page.files()
        page.key("g")
        page.waitfor("the end screen", page.ended, 30)
        errors = page.errors()
    finally:
        browser.stop()
    expect(not errors, f"errors in the page: {errors}")
    expect(cursors == {0: "none", 1: "none", 2: "none", 3: "none", 4: "none", 5: "default"},
           f"the pointer over the canvas by phase: {cursors}")
    # WATCH's first frame as the replay draws it from the page's own files.
    data = os.path.join(folder, "page")
    os.makedirs(data)
    for name, content in files.items():
        with open(os.path.join(data, name), "wb") as f:
            f.write(content)
    out = os.path.join(folder, "replay")
    done = subprocess.run([args.replay, os.path.join(data, "results0.txt"), "--out", out],
                          text=True, capture_output=True, timeout=300)
    expect(done.returncode == 0, f"spatialmemory-replay: {done.stderr}")
    labels = (g.textbox(0.0, 0.92, 6)[1], g.textbox(0.0, 0.9, 19)[3])
    blank = {n: t[4] == "1" for n, t in trials(files["results0.txt"].decode()).items()}
    for n in (1, 2):
        with open(os.path.join(out, f"trial{n}-watch.png"), "rb") as f:
            alike(f"trial {n} WATCH, first frame", web[(n, 1)], png2rgb(f.read()), w, h, [labels])
        expect(redblocks(web[(n, 1)], w, h) > 0, f"trial {n}: no full red shows in WATCH")
        for phase, name in ((2, "SHIFT"), (4, "WAIT"), (5, "PICK")):
            samelabels(f"trial {n} {name}", web[(n, phase)], desk[(n, phase)], g)
            alike(f"trial {n} {name}", web[(n, phase)], desk[(n, phase)], w, h)
        samelabels(f"trial {n} ROTATE", web[(n, 3)], desk[(n, 3)], g)
        for phase in (2, 3, 4, 5):
            expect(redblocks(web[(n, phase)], w, h) == 0, f"trial {n}: red shows in phase {phase}")
        if blank[n]:
            expect(web[(n, 4)] == desk[(n, 4)], f"trial {n}: the blank WAIT differs")
    expect(any(blank.values()) and not all(blank.values()), f"blank waits {blank}")
    expect(web[(0, 0)] == desk[(0, 0)], "the idle screen differs from the desktop's")
    # A 5:4 screen: the 16:10 picture letterboxed, text where the desktop puts it.
    square = (1280, 1024)
    desktop = Desktop(args, os.path.join(folder, "square"), LOOK, square)
    try:
        idle = desktop.run.shot().pixels
    finally:
        desktop.stop()
    browser = Browser(args, LOOK, square)
    try:
        size = browser.page.js("const c = document.getElementById('canvas');"
                               " return [c.width, c.height, innerWidth, innerHeight]")
        expect(size == [1280, 1024, 1280, 1024], f"canvas and page sizes {size}")
        browser.page.watchframes()
        browser.page.waitfor("the idle screen's frame",
                             lambda: browser.page.js("return 0 in window.smCaught"), 30)
        expect(browser.page.frames()[0] == idle, "the letterboxed idle screen differs")
    finally:
        browser.stop()
    print("every phase as on the desktop")


CASES = {name[5:]: case for name, case in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    for option in ("--page", "--program", "--replay", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--pictures", help="keep every picture compared in this folder")
    args = parser.parse_args()
    if args.pictures:
        os.makedirs(args.pictures, exist_ok=True)
        PICTURES[0] = os.path.abspath(args.pictures)

    def begin(folder):
        WORK[0] = folder

    return websubject.runcase(args, CASES, "web.work",
                              (Bad, xsubject.Failure, websubject.Failure), begin)


if __name__ == "__main__":
    sys.exit(main())
