#!/usr/bin/env python3
"""replay_e2e: a trial played on a virtual display, then drawn again by spatialmemory-replay.

  replay_e2e.py --program PATH --replay PATH --display-file STATEFILE --work FOLDER

A screenshot is taken in PICK, four cells are clicked (each a press and a release), 's' ends
the trial. Replayed at the size the run recorded, the PICK picture must equal the screenshot
outside the rows of the phase labels (which the replay leaves out), at most 0.1 % of the pixels
differing, and the marked picture must hold one mark per spot clicked. Exit status 0 passed,
1 failed; the work folder of a failed run is kept.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "lib"))
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
target_distract_sets:
9 12
set_end:
"""
CELLS = [(1, 1), (8, 2), (4, 5), (2, 8)]  # far enough apart that no two marks touch
# The fill of a click mark by result (marks.cpp). A mark on a 1280 x 800 picture fills some 400
# of its pixels; the smaller marks of the legend's key stay under 200.
MARK_COLOURS = {(0x2e, 0xcc, 0x40), (0xff, 0x41, 0x36), (0xff, 0xdc, 0x00), (0xaa, 0xaa, 0xaa)}
MARK_PIXELS = 200


def readpng(path):
    return subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                          stdout=subprocess.PIPE).stdout


def marks(rgb, width):
    """Areas (4-neighbours) of one mark colour of at least MARK_PIXELS pixels."""
    inside = {i // 3: rgb[i:i + 3] for i in range(0, len(rgb), 3)
              if tuple(rgb[i:i + 3]) in MARK_COLOURS}
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
        found += size >= MARK_PIXELS
    return found


def case(run, replay, folder):
    g = run.geometry
    run.waitready()
    run.starttrial()
    run.waitfor("PICK phase", run.picking, timeout=60, interval=0.05)
    shot = run.shot(os.path.join(folder, "screenshot-pick.png"))
    run.clickat([g.cellcentre(c, r, 10, 10, run.lastangle()) for c, r in CELLS])
    run.finishtrial()
    out = os.path.join(folder, "replay")
    done = subprocess.run([replay, run.resultspath(), "--trial", "1", "--out", out], text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    if done.returncode != 0:
        raise Failure(f"spatialmemory-replay ended with status {done.returncode}: {done.stderr}")

    pick = readpng(os.path.join(out, "trial1-pick.png"))
    if len(pick) != len(shot.pixels):
        raise Failure(f"trial1-pick.png is not {g.width}x{g.height}, the screen's size")
    # Only rows of "PICK" and "press 's' to finish" are left out.
    top, bottom = g.textbox(0.0, 0.92, 4)[1], g.textbox(0.0, 0.9, 19)[3]
    row = 3 * g.width
    differing = sum(1 for y in range(g.height) if not top <= y < bottom
                    for x in range(0, row, 3)
                    if pick[y * row + x:y * row + x + 3] != shot.pixels[y * row + x:y * row + x + 3])
    compared = g.width * (g.height - (bottom - top))
    print(f"PICK: {differing} of {compared} pixels differ from the screenshot")
    if differing > compared / 1000:
        raise Failure(f"the replayed PICK differs from the screenshot in {differing} pixels")

    with open(os.path.join(folder, "results_events0.tsv")) as f:
        clicks = sum(1 for line in f if line.split("\t")[3:4] == ["click"])
    found = marks(readpng(os.path.join(out, "trial1-marked.png")), g.width)
    print(f"marked: {found} marks for {len(CELLS)} spots clicked, {clicks} clicks logged")
    if clicks != 2 * len(CELLS) or found != len(CELLS):
        raise Failure(f"{found} marks and {clicks} clicks logged for {len(CELLS)} spots clicked")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--program", "--replay", "--display-file", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with open(args.display_file) as f:
        display, _, width, height = f.read().split()
    folder = os.path.join(os.path.abspath(args.work), "e2e.work", "replay")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    run = xsubject.Run(display, (int(width), int(height)), folder, args.program, DESIGN)
    try:
        case(run, os.path.abspath(args.replay), folder)
    except Failure as problem:
        print(f"FAILED replay: {problem}\nwork folder kept: {folder}\nstderr: {run.stderr()!r}")
        return 1
    finally:
        run.stop()
    print("passed replay")
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
