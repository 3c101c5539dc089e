#!/usr/bin/env python3
"""replay_e2e: a trial played on a virtual display, then drawn again by spatialmemory-replay.

  replay_e2e.py --program PATH --replay PATH --display-file STATEFILE --work FOLDER

The subject plays one trial: a screenshot is taken in PICK, four cells are clicked (each a
press and a release) and 's' ends the trial. The replay of that trial, at the size the run
recorded, must give a PICK picture equal to the screenshot outside the rows of the phase labels
(which the replay leaves out), at most 0.1 % of the pixels differing, and a marked picture with
one mark per spot clicked (a press and its release share one). Exit status 0 passed, 1 failed;
the work folder of a failed run is kept.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "lib"))
import xsubject  # noqa: E402
from xsubject import Failure  # noqa: E402

DESIGN = """num_x: 10
num_y: 10
watch_length: 0.8
shift_length: 0.4
rotate_length: 0.4
num_with_borders: 1
wait_lengths:
0.3
length_end:
rotation_angles:
-30
angle_end:
tarcolsetstart:
40 200 230
end:
target_distract_sets:
9 12
set_end:
"""
CELLS = [(1, 1), (8, 2), (4, 5), (2, 8)]  # far enough apart that no two marks touch

# The fill of a click mark, by result (marks.cpp). A mark on a 1280 x 800 picture fills some
# 400 pixels of it; the smaller marks of the legend's key stay under 200.
MARK_COLOURS = {(0x2e, 0xcc, 0x40), (0xff, 0x41, 0x36), (0xff, 0xdc, 0x00), (0xaa, 0xaa, 0xaa)}
MARK_PIXELS = 200


def readpng(path):
    """(width, height, RGB bytes) of a PNG file, through ImageMagick."""
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True, text=True,
                          stdout=subprocess.PIPE).stdout.split()
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                         stdout=subprocess.PIPE).stdout
    return int(size[0]), int(size[1]), raw


def differing(a, b, width, skip):
    """Pixels of two RGB images of one size that differ, in rows outside `skip`."""
    n = 0
    row = 3 * width
    for y in range(len(a) // row):
        if y in skip:
            continue
        ra, rb = a[y * row:(y + 1) * row], b[y * row:(y + 1) * row]
        if ra != rb:
            n += sum(1 for i in range(0, row, 3) if ra[i:i + 3] != rb[i:i + 3])
    return n


def blobs(rgb, width, colours, smallest):
    """Connected areas (4-neighbours) of at least `smallest` pixels, each in one of `colours`."""
    inside = {}
    for i in range(0, len(rgb), 3):
        c = (rgb[i], rgb[i + 1], rgb[i + 2])
        if c in colours:
            inside[i // 3] = c
    found = 0
    while inside:
        start, colour = inside.popitem()
        todo, size = [start], 0
        while todo:
            p = todo.pop()
            size += 1
            for q in (p - 1, p + 1, p - width, p + width):
                if inside.get(q) == colour and (q // width == p // width or q % width == p % width):
                    del inside[q]
                    todo.append(q)
        found += size >= smallest
    return found


def case(run, replay, folder):
    g = run.geometry
    run.waitready()
    run.starttrial()
    run.waitfor("PICK phase", run.picking, timeout=60, interval=0.05)
    shot = run.shot(os.path.join(folder, "screenshot-pick.png"))
    points = [g.cellcentre(c, r, 10, 10, run.lastangle()) for c, r in CELLS]
    run.clickat(points)
    run.finishtrial()
    run.key("g")
    if run.wait(timeout=30) != 0:
        raise Failure("the one-trial run did not end with status 0")

    out = os.path.join(folder, "replay")
    done = subprocess.run([replay, run.resultspath(), "--trial", "1", "--out", out], text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    if done.returncode != 0:
        raise Failure(f"spatialmemory-replay ended with status {done.returncode}: {done.stderr}")
    width, height, pick = readpng(os.path.join(out, "trial1-pick.png"))
    if (width, height) != (g.width, g.height):
        raise Failure(f"trial1-pick.png is {width}x{height}, the screen {g.width}x{g.height}")
    # The rows of "PICK" and "press 's' to finish", which only the live run draws.
    top = g.textbox(0.0, 0.92, 4)[1]
    bottom = g.textbox(0.0, 0.9, len(xsubject.PICK_PROMPT))[3]
    labels = set(range(top, bottom))
    compared = width * (height - len(labels))
    n = differing(pick, shot.pixels, width, labels)
    print(f"PICK: {n} of {compared} pixels differ from the screenshot outside rows {top}-{bottom}")
    if n > compared / 1000:
        raise Failure(f"the replayed PICK differs from the screenshot in {n} pixels, more than "
                      f"0.1 % of {compared}")

    with open(run.resultspath().replace("results0.txt", "results_events0.tsv")) as f:
        clicks = sum(1 for line in f if line.split("\t")[3:4] == ["click"])
    _, _, marked = readpng(os.path.join(out, "trial1-marked.png"))
    marks = blobs(marked, width, MARK_COLOURS, MARK_PIXELS)
    print(f"marked: {marks} marks for {len(points)} spots clicked, {clicks} click rows logged")
    if clicks != 2 * len(points):
        raise Failure(f"{clicks} click rows logged for {len(points)} presses and releases")
    if marks != len(points):
        raise Failure(f"{marks} marks on trial1-marked.png for {len(points)} spots clicked")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--replay", required=True)
    parser.add_argument("--display-file", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    with open(args.display_file) as f:
        display, _, width, height = f.read().split()
    folder = os.path.join(os.path.abspath(args.work), "e2e.work", "replay")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "settings.txt"), "w") as f:
        f.write(DESIGN)
    run = xsubject.Run(display, (int(width), int(height)), folder, args.program)
    try:
        case(run, os.path.abspath(args.replay), folder)
    except Failure as problem:
        print(f"FAILED replay: {problem}\nwork folder kept: {folder}")
        print(f"stderr: {run.stderr()[-600:]!r}")
        return 1
    finally:
        run.stop()
    print("passed replay")
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
