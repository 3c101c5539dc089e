#!/usr/bin/env python3
"""e2e: end-to-end cases. Each starts the real program in a fresh data folder on a virtual
display that a CTest fixture started, plays it with real key presses and clicks, and checks the
screen, the results files, standard output and the exit status.

  e2e.py CASE --program PATH --display-file STATEFILE --work FOLDER

Exit status 0 passed, 1 failed. The data folder of a failed case is kept for inspection; its
path is printed.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "lib"))
import xsubject  # noqa: E402
from xsubject import Failure  # noqa: E402
from records import (Bad, Design, TAB_HEADER, COORD_HEADER, readtab, readcoord,  # noqa: E402
                     checktrial, checkdesign, checktally, expect, readevents, checkevents,
                     EVENT_COLUMNS, PHASES)

# A design small enough to play in seconds: three sets, one of them outside the exit tally.
SHORT_DESIGN = """num_x: 10
num_y: 10
watch_length: 1.0
shift_length: 0.5
rotate_length: 0.6
num_trials_per_set: 2
num_with_borders: 1
num_instant_shifts: 1
num_blank_wait: 1
wait_lengths:
0.3
0.5
length_end:
rotation_angles
-90
180
20
angle_end:
tarcolsetstart:
40 200 230
300 20 10
end:
target_distract_sets:
9 12
12 9
4 5
set_end
"""


ONE_TRIAL_DESIGN = """num_x: 10
num_y: 10
watch_length: 0.8
shift_length: 0.4
rotate_length: 0.4
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


# Three trials of short phases, each of another kind: rings, an instant shift, a blank wait.
EVENT_DESIGN = """num_x: 10
num_y: 10
watch_length: 0.6
shift_length: 0.4
rotate_length: 0.4
num_trials_per_set: 3
num_with_borders: 1
num_instant_shifts: 1
num_blank_wait: 1
wait_lengths:
0.3
0.5
length_end:
rotation_angles
-90
180
20
angle_end:
target_distract_sets:
9 12
set_end
"""

# Forty trials of a few tenths of a second, more than a small disk holds.
FULL_DISK_DESIGN = """num_x: 10
num_y: 10
watch_length: 0.05
shift_length: 0.05
rotate_length: 0.05
num_trials_per_set: 40
wait_lengths:
0.05
length_end:
target_distract_sets:
9 12
set_end:
"""


def play(run, clicks, watch_click=False):
    """One trial: 'g', the timed phases, the given clicks in PICK, 's'. `clicks` maps the
    trial's rotation angle to the screen points to click. With `watch_click`, one click lands
    before PICK, where it must be ignored."""
    run.key("g")

    def begun():  # the first screen without the idle prompt: the earliest look at WATCH
        shot = run.shot()
        return None if run.idle(shot) else shot

    shots = [run.waitfor("start of WATCH", begun, 60, interval=0.05)]
    if watch_click:
        run.clickat([(run.geometry.width // 2, run.geometry.height // 2)])
        expect(not run.picking(), "PICK came before the early click was sent; lengthen WATCH")
    # Every screen until PICK shows a phase label, whatever the map does beneath it.
    labels = {run.label(shots[0])}

    def pick():
        shots.append(run.shot())
        if run.picking(shots[-1]):
            return True
        labels.add(run.label(shots[-1]))
        return False

    run.waitfor("PICK phase", pick, timeout=60, interval=0.05)
    expect(labels <= {4, 5, 6}, f"a screen before PICK showed no phase label (lengths {labels})")
    # Red shows through the target holes while the layers are aligned, and nowhere once the
    # layer beneath has moved on by a cell: the subject must recall, not see, the targets.
    expect(shots[0].redblocks() > 0, "no red target disc showed at the start of WATCH")
    expect(shots[-1].redblocks() == 0, "red shows in PICK, after the shift")
    points = clicks(run.lastangle())
    run.clickat(points)
    run.finishtrial()
    return points


def onscreen(run, cells, design, angle):
    g = run.geometry
    points = [g.cellcentre(c, r, design.num_x, design.num_y, angle) for c, r in cells]
    return [(x, y) for x, y in points if 0 <= x < g.width and 0 <= y < g.height]


# ---- the cases ----


def case_idle_screen(run, folder):
    """The idle screen: both lines in white where they belong in the 16:10 picture, and
    nothing else lit, so the black bands of a screen of another shape stay black."""
    run.waitready()
    shot = run.shot(os.path.join(folder, "idle.png"))
    g = run.geometry
    lines = [("Press 'g' to start.", 0.5, 0.5, 0), ("points: 200.000000", 0.5, 0.48, 1)]
    boxes = []
    for text, fx, fy, plain in lines:
        col, baseline = g.textorigin(fx, fy)
        box = g.textbox(fx, fy, len(text))
        boxes.append(box)
        white = shot.whitepixels(box)
        expect(len(white) > 40 * len(text) // 10,
               f"{text!r}: only {len(white)} white pixels in {box}")
        left = min(x for x, _ in white)
        expect(col <= left <= col + 3, f"{text!r} starts at column {left}, expected {col}")
        right = max(x for x, _ in white)
        expect(right < col + len(text) * xsubject.GLYPH_WIDTH,
               f"{text!r} reaches column {right}, beyond its {len(text)} glyphs from {col}")
        # A glyph without descender rests on the baseline row.
        glyph = [y for x, y in white if col + plain * 9 <= x < col + (plain + 1) * 9]
        expect(glyph and abs(max(glyph) - baseline) <= 1,
               f"{text!r}: baseline at row {max(glyph) if glyph else None}, expected {baseline}")
    lit = shot.lit((0, 0, g.width, g.height))
    inside = sum(shot.lit(b) for b in boxes)
    expect(lit == inside, f"{lit - inside} lit pixels outside the two lines of text")
    if g.vy:
        top_band = (0, 0, g.width, g.height - g.vy - g.vh)
        bottom_band = (0, g.height - g.vy, g.width, g.height)
        expect(shot.lit(top_band) == 0 and shot.lit(bottom_band) == 0, "a band is not black")
    run.stop()


def case_whole_run(run, folder):
    """A whole run: six trials with sweeps over every cell, a few clicks (one cell twice, one
    click before PICK) or none, then the last 'g'. Checks every record, the scores against the
    clicks and cells, the trials against the design, the tally and the exit status."""
    design = Design(SHORT_DESIGN)
    run.waitready()
    planned = []
    scoreline = run.geometry.textbox(0.5, 0.48, 24)
    scores = [run.shot().crop(scoreline)]
    total = len(design.sets) * design.per_set
    for i in range(total):
        kind = ("sweep", "few", "none")[i % 3]
        if kind == "sweep":
            cells = xsubject.lattice(design.num_x, design.num_y)
        elif kind == "few":
            cells = xsubject.somecells(design.num_x, design.num_y, 4)
            cells.append(cells[0])
        else:
            cells = []
        points = play(run, lambda a: onscreen(run, cells, design, a),
                      watch_click=kind == "few")
        planned.append((kind, len(set(points))))
        scores.append(run.shot().crop(scoreline))
        # Both files hold the finished trial at once: a later crash cannot take it.
        trials, _ = readtab(run.resultspath(), design)
        expect(len(trials) == i + 1 and trials[-1].complete,
               f"after trial {i + 1} the tab results file holds {len(trials)} trials, "
               "the last one unfinished")
    run.key("g")
    status = run.wait(timeout=30)
    expect(status == 0, f"exit status {status} after the last 'g'")
    trials, messages = readtab(run.resultspath(), design)
    readcoord(run.resultspath(coord=True), trials)
    for trial, (kind, distinct) in zip(trials, planned):
        checktrial(trial, design)
        if kind == "sweep":
            expect(trial.hits[:2] == [trial.targets, trial.distracts],
                   f"trial {trial.number}: a click on every cell found {trial.hits[:2]} of "
                   f"{trial.targets} targets and {trial.distracts} distractors")
        else:
            expect(len(trial.clicks) == distinct,
                   f"trial {trial.number}: {len(trial.clicks)} clicks recorded for {distinct} "
                   "points clicked in PICK")
        # The idle screen after the trial shows a new score exactly when the trial scored.
        score = trial.hits[0] - trial.hits[1] - trial.hits[2]
        changed = scores[trial.number] != scores[trial.number - 1]
        expect(changed == (score != 0), f"trial {trial.number} scored {score}, but the idle "
               f"screen's score line {'changed' if changed else 'stayed the same'}")
    checkdesign(trials, messages, design)
    checktally(run.stdout(), trials)


def case_killed_run(run, folder):
    """A run killed in its third trial keeps the first two complete in both files."""
    design = Design(SHORT_DESIGN)
    run.waitready()
    for _ in range(2):
        cells = xsubject.somecells(design.num_x, design.num_y, 3)
        play(run, lambda a: onscreen(run, cells, design, a))
    run.starttrial()
    time.sleep(0.3)
    run.kill()
    trials, _ = readtab(run.resultspath(), design)
    expect(len(trials) == 3 and trials[0].complete and trials[1].complete,
           f"{len(trials)} trials in the tab results file; expected two finished and one begun")
    log = readevents(os.path.join(run.folder, "results_events0.tsv"))
    expect([log[n][-1]["event"] for n in (1, 2)] == ["trial_end"] * 2 and
           log[3][0]["event"] == "trial_start", "the log lost a finished trial or the killed "
           "trial's start")
    expect(not trials[2].complete, "the killed trial has hit counts")
    readcoord(run.resultspath(coord=True), trials)
    for trial in trials[:2]:
        checktrial(trial, design)


def case_letterboxed_trial(run, folder):
    """A trial on a 5:4 screen: the map stays inside the centred 16:10 picture, the bands stay
    black in every phase, and clicks still find their cells through the offset picture."""
    design = Design(ONE_TRIAL_DESIGN)
    g = run.geometry
    bands = [(0, 0, g.width, g.height - g.vy - g.vh), (0, g.height - g.vy, g.width, g.height)]
    picture = (g.vx, g.height - g.vy - g.vh, g.vx + g.vw, g.height - g.vy)
    run.waitready()
    lit = []

    def sweep(angle):
        shot = run.shot(os.path.join(folder, "pick.png"))
        lit.append((sum(shot.lit(b) for b in bands), shot.lit(picture)))
        return onscreen(run, xsubject.lattice(design.num_x, design.num_y), design, angle)

    play(run, sweep)
    expect(lit[0][0] == 0, f"{lit[0][0]} lit pixels in the black bands during PICK")
    expect(lit[0][1] > 0.95 * g.vw * g.vh, "the map does not fill the 16:10 picture in PICK")
    run.key("g")
    expect(run.wait(timeout=30) == 0, "the run did not end with status 0")
    trials, messages = readtab(run.resultspath(), design)
    readcoord(run.resultspath(coord=True), trials)
    checktrial(trials[0], design)
    expect(trials[0].hits[:2] == [trials[0].targets, trials[0].distracts],
           f"a click on every cell found {trials[0].hits[:2]} of {trials[0].targets} targets "
           f"and {trials[0].distracts} distractors")


def case_event_log(run, folder):
    """A short design played through: the event log agrees with both results files on every
    trial, click and count; every timed phase lasted at least its set length; the sidecar is
    JSON describing every column and the run."""
    design = Design(EVENT_DESIGN)
    run.waitready()
    timed = sum(design.number(k, 0.0) for k in ("watch_length", "shift_length", "rotate_length"))
    clicked = []
    for i in range(3):
        run.key("g")
        # No screenshot while the phases are timed: grabbing the screen stalls the X server and
        # with it the frames being measured.
        time.sleep(timed + 0.5 + 1.0)
        run.waitpick(60)
        cells = [xsubject.lattice(design.num_x, design.num_y), [(2, 2), (2, 2), (5, 1)], []][i]
        points = onscreen(run, cells, design, run.lastangle())
        run.clickat(points)
        clicked.append(2 * len(points))  # a press and its release are each judged as a click
        run.finishtrial()
    run.key("g")
    expect(run.wait(timeout=30) == 0, "the run did not end with status 0")
    trials, _ = readtab(run.resultspath(), design)
    readcoord(run.resultspath(coord=True), trials)
    log = readevents(os.path.join(run.folder, "results_events0.tsv"))
    expect(sorted(log) == [t.number for t in trials], f"trials {sorted(log)} in the log")
    overshoot = []
    for trial, count in zip(trials, clicked):
        overshoot += checkevents(log[trial.number], trial, design, count)
    # One to two frames over the length, one and a half on average; more means the phases are
    # timed from too early a moment or tested too late.
    print(f"phases over their lengths by {min(overshoot):.2f} to {max(overshoot):.2f} median "
          f"frame intervals, median {statistics.median(overshoot):.2f}")
    expect(statistics.median(overshoot) < 2, f"phases overshoot by {overshoot} frame intervals")
    with open(os.path.join(run.folder, "results_events0.json")) as f:
        side = json.load(f)
    columns = side["columns"]
    expect(list(columns) == EVENT_COLUMNS and all(c["description"] for c in columns.values()),
           f"the sidecar describes the columns {list(columns)}")
    expect(set(columns["event"]["levels"]) == {"trial_start", "click", "trial_end", *PHASES} and
           set(columns["result"]["levels"]) == {"target", "distractor", "empty", "repeat"},
           "the sidecar's levels of event or result")
    g = run.geometry
    with open(os.path.join(run.folder, "settings.txt"), "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    want = {"program": "spatialmemory", "run_number": 0, "results_file": "results0.txt",
            "coord_file": "results_coord0.txt", "events_file": "results_events0.tsv",
            "settings_file": os.path.join(run.folder, "settings.txt"), "settings_sha256": digest,
            "pilot": False, "screen_width": g.width, "screen_height": g.height,
            "viewport": [g.vx, g.vy, g.vw, g.vh], "swap_interval_requested": 1}
    got = {k: side.get(k) for k in want}
    expect(got == want, f"sidecar {got}, expected {want}")
    expect(isinstance(side["swap_synced"], bool) and side["refresh_interval_ms"] > 0 and
           re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d", side["started"]),
           f"sidecar swap_synced, refresh_interval_ms or started: {side}")
    print(f"swap control {side['swap_control']}, synced {side['swap_synced']}, refresh interval "
          f"{side['refresh_interval_ms']} ms")


def case_disk_full(run, folder):
    """The data folder on a disk that fills up while trials are played: the run ends at once
    with status 1 and one line naming the file, and the trials finished before are kept."""
    design = Design(FULL_DISK_DESIGN)
    run.waitready()

    def ended(shows):  # polls until the screen shows something, or the program has ended
        while run.process.poll() is None:
            if shows():
                return False
            time.sleep(0.1)
        return True

    finished = -1  # the idle screen shows after a trial only once its records were kept
    while not ended(run.idle) and finished < 40:
        finished += 1
        run.key("g")
        if ended(run.picking):
            break
        run.clickat(onscreen(run, xsubject.somecells(10, 10, 4), design, 0))
        run.key("s")
    expect(run.wait(timeout=30) == 1, "the run did not end with status 1 on a full disk")
    names = "|".join(re.escape(os.path.join(folder, n)) for n in
                     ("results0.txt", "results_coord0.txt", "results_events0.tsv",
                      "results_events0.json"))
    reason = "(No space left on device|File too large)"
    message = rf"cannot write the results file ({names}): {reason}\n"
    expect(re.fullmatch(message, run.stderr()), f"standard error {run.stderr()!r}")
    with open(os.path.join(run.datafolder, "results0.txt")) as f:
        complete = [line for line in f.read().split("\n") if line.count("\t") == 12]
    expect(finished >= 1 and len(complete) >= finished,
           f"{len(complete)} complete trials kept of {finished} finished before the disk was full")
    print(f"after {finished} trials: {run.stderr().strip()}")


def case_missing_settings(run, folder):
    """No settings file: both messages, defaults, a results file with only its header, and
    'g' ends the run with a failure status since there is no trial to run."""
    run.waitready()
    want = f"error, file not found! {run.folder}/settings.txt\nusing defaults\n"
    run.waitfor("the missing-file messages", lambda: want in run.stdout(), 10)
    run.key("g")
    status = run.wait(timeout=30)
    expect(status != 0, "'g' with no trial at all ended the run with status 0")
    with open(run.resultspath()) as f:
        tab = f.read()
    expect(tab == TAB_HEADER + "\n", f"tab results file {tab!r}, expected the header alone")
    with open(run.resultspath(coord=True)) as f:
        coord = f.read()
    expect(coord == COORD_HEADER + "\n", f"coordinate results file {coord!r}")


def case_results_folder_readonly(run, folder):
    """A data folder where the results files cannot be created, not even by root: the run
    stops at once with a non-zero status and a message that names the file."""
    status = run.wait(timeout=60)
    blocked = os.path.join(run.datafolder, "results0.txt")
    expect(status != 0, f"status 0 although {blocked} could not be created")
    expect(blocked in run.stderr(), f"standard error does not name {blocked}: {run.stderr()!r}")


CASES = {
    "idle_screen": (case_idle_screen, "num_x: 10\nnum_y: 10\n"),
    "whole_run": (case_whole_run, SHORT_DESIGN),
    "killed_run": (case_killed_run, SHORT_DESIGN),
    "letterboxed_trial": (case_letterboxed_trial, ONE_TRIAL_DESIGN),
    "event_log": (case_event_log, EVENT_DESIGN),
    "disk_full": (case_disk_full, FULL_DISK_DESIGN),
    "missing_settings": (case_missing_settings, None),
    "results_folder_readonly": (case_results_folder_readonly, SHORT_DESIGN),
}


def wrapperfor(name, folder):
    """How a case starts the program, when not directly; and the data folder it will use.
    The read-only folder is the case's own behind a read-only bind mount where the machine
    allows one; elsewhere /proc, where nobody can create a file, named in argv[0]. The full
    disk is a small tmpfs over the case's folder in a mount namespace of its own, whose
    results are copied to <folder>.out once the program has ended; where no such mount can
    be made, a limit on the size of the files the program writes."""
    if name == "disk_full":
        script = ('s=$(mktemp -d) && cp -a "$1/." "$s" && mount -t tmpfs -o size=64k tmpfs "$1" '
                  '&& cp -a "$s/." "$1" && rm -rf "$s" || exit 3; "$0" & p=$!; '
                  'trap \'kill $p\' TERM; wait $p; r=$?; cp "$1"/results* "$1.out"; exit $r')
        probe = subprocess.run(["unshare", "--mount", "sh", "-c",
                                f'mount -t tmpfs -o size=64k tmpfs "{folder}"'],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if probe.returncode == 0:
            os.makedirs(folder + ".out")
            return ["unshare", "--mount", "sh", "-c", script], folder + ".out"
        print(f"no tmpfs mount here ({probe.stdout.strip()}); limiting the file size instead")
        return ["bash", "-c", 'trap "" XFSZ; ulimit -f 24; exec "$0"'], folder
    if name != "results_folder_readonly":
        return None, folder
    probe = subprocess.run(["unshare", "--mount", "sh", "-c",
                            f'mount --bind -o ro "{folder}" "{folder}"'],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if probe.returncode == 0:
        return ["unshare", "--mount", "sh", "-c", 'mount --bind -o ro "$1" "$1" && exec "$0"'], \
            folder
    print(f"no read-only bind mount here ({probe.stdout.strip()}); using /proc")
    return ["bash", "-c", 'exec -a /proc/spatialmemory.app/spatialmemory "$0"'], "/proc"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--display-file", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    case, settings = CASES[args.case]
    with open(args.display_file) as f:
        display, _, width, height = f.read().split()
    # A dot in the path before the application folder must not move the data folder.
    folder = os.path.join(os.path.abspath(args.work), "e2e.work", args.case)
    for old in (folder, folder + ".out"):
        shutil.rmtree(old, ignore_errors=True)
    os.makedirs(folder)
    run = None
    try:
        wrapper, datafolder = wrapperfor(args.case, folder)
        if settings is not None:
            with open(os.path.join(folder, "settings.txt"), "w") as f:
                f.write(settings)
        run = xsubject.Run(display, (int(width), int(height)), folder, args.program,
                           wrapper=wrapper)
        run.datafolder = datafolder
        case(run, folder)
    except (Bad, Failure) as problem:
        print(f"FAILED {args.case}: {problem}\ndata folder kept: {folder}")
        if run:
            print(f"stdout tail: {run.stdout()[-600:]!r}\nstderr: {run.stderr()[-600:]!r}")
        return 1
    finally:
        if run:
            run.stop()
    print(f"passed {args.case}")
    shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(folder + ".out", ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
