#!/usr/bin/python3
"""e2e: end-to-end cases. Each starts the real program (in a fresh data folder, on a virtual
display that a CTest fixture started, unless it needs none), plays it with real key presses and
clicks, and checks the screen, the files written, standard output and the exit status.

  e2e.py CASE --program PATH --work FOLDER [--display-file STATEFILE] [--replay PATH]
         [--check PATH] [--version X.Y.Z]
  e2e.py start STATEFILE WIDTH HEIGHT    the fixture: starts Xvfb, writes "display pid w h"
  e2e.py stop STATEFILE                  stops the Xvfb named in STATEFILE

Exit status 0 passed, 1 failed. The work folder of a failed case is kept; its path is printed.
"""

import argparse
import contextlib
import ctypes
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
from records import (Bad, Design, checkdesign, checklog, checktally, expect,  # noqa: E402
                     readrun, spatialmemory)

# Six trials played in seconds: three sets, one of them outside the exit tally, each with a
# trial of rings, an instant shift and a blank wait; three angles for conditions of two trials.
SHORT = Design([(9, 12), (12, 9), (4, 5)], waits=(0.3, 0.5), angles=(-90, 180, 20),
               colours=("40 200 230", "300 20 10"), watch_length=1.0, shift_length=0.5,
               rotate_length=0.6, num_trials_per_set=2, num_with_borders=1,
               num_instant_shifts=1, num_blank_wait=1)
# One set line of trials that turn by -30, then by 90 degrees.
ONE, TWO = (Design([(9, 12)], angles=(90, -30), watch_length=0.8, shift_length=0.4,
                   rotate_length=0.4, num_trials_per_set=n) for n in (1, 2))
# Forty trials of a few tenths of a second, more than a small disk holds.
FULL_DISK = Design([(9, 12)], waits=(0.05,), watch_length=0.05, shift_length=0.05,
                   rotate_length=0.05, num_trials_per_set=40)
SPOTS = [(1, 1), (8, 2), (4, 5), (2, 8)]  # far enough apart that no two marks touch
# The fill of a click mark by result (replay/marks.cpp).
MARK_COLOURS = {(0x2e, 0xcc, 0x40), (0xff, 0x41, 0x36), (0xff, 0xdc, 0x00), (0xaa, 0xaa, 0xaa)}

started = []  # the runs started, stopped however a case ends


def start(args, folder, design=None, wrapper=None, screen=None):
    """The program started in `folder` on the display of the state file, with the design."""
    with open(args.display_file) as f:
        display, _, width, height = f.read().split()
    run = xsubject.Run(display, screen or (int(width), int(height)), folder, args.program,
                       design.text if design else None, wrapper=wrapper)
    started.append(run)
    return run


def play(run, cells, design, watch_click=False):
    """One trial, watched: 'g', every screen until PICK, the cells clicked, 's'. With
    `watch_click`, one click lands in WATCH, where it must be ignored. Returns the points
    clicked in PICK and the first screenshot of PICK."""
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
        labels.add(run.label(shots[-1]))
        return run.picking(shots[-1])

    run.waitfor("PICK phase", pick, timeout=60, interval=0.05)
    expect(labels <= {4, 5, 6}, f"a screen before PICK showed no phase label (lengths {labels})")
    # Red shows through the target holes while the layers are aligned, and nowhere once the
    # layer beneath has moved on by a cell: the subject must recall, not see, the targets.
    expect(shots[0].redblocks() > 0, "no red target disc showed at the start of WATCH")
    expect(shots[-1].redblocks() == 0, "red shows in PICK, after the shift")
    points = run.clickcells(cells, design.get("num_x"), design.get("num_y"))
    run.finishtrial()
    return points, shots[-1]


def idlescreen(run, folder):
    """The idle screen: both lines in white where they belong in the 16:10 picture, and
    nothing else lit, so the black bands of a screen of another shape stay black."""
    run.waitready()
    shot = run.shot(os.path.join(folder, "idle.png"))
    g = run.geometry
    boxes = []
    for text, fx, fy, plain in (("Press 'g' to start.", 0.5, 0.5, 0),
                                ("points: 200.000000", 0.5, 0.48, 1)):
        col, baseline = g.textorigin(fx, fy)
        boxes.append(g.textbox(fx, fy, len(text)))
        white = shot.whitepixels(boxes[-1])
        expect(len(white) > 4 * len(text), f"{text!r}: only {len(white)} white pixels")
        left, right = min(x for x, _ in white), max(x for x, _ in white)
        expect(col <= left <= col + 3 and right < col + len(text) * xsubject.GLYPH_WIDTH,
               f"{text!r} spans columns {left} to {right}, expected {len(text)} glyphs from {col}")
        # A glyph without descender rests on the baseline row.
        glyph = [y for x, y in white if col + plain * 9 <= x < col + (plain + 1) * 9]
        expect(glyph and abs(max(glyph) - baseline) <= 1,
               f"{text!r}: baseline at row {max(glyph) if glyph else None}, expected {baseline}")
    lit = shot.lit((0, 0, g.width, g.height))
    inside = sum(shot.lit(b) for b in boxes)
    expect(lit == inside, f"{lit - inside} lit pixels outside the two lines of text")


# ---- the cases ----


def case_whole_run(args, folder):
    """A whole run of six trials on a 16:10 screen: sweeps over every cell, a few clicks (one
    cell twice, one click before PICK) or none; the first three watched on screen, the last
    three left alone so that their phases are timed undisturbed. Checks the records, the scores
    against the clicks and cells, the trials against the design, the event log against the
    clicks and the set lengths, its sidecar, the tally, the exit status, and the second trial
    drawn again by spatialmemory-replay against its screenshot."""
    design = SHORT
    run = start(args, folder, design)
    idlescreen(run, folder)
    g = run.geometry
    scoreline = g.textbox(0.5, 0.48, 24)
    scores = [run.shot().crop(scoreline)]
    timed = sum(design.get(k, 0.0) for k in ("watch_length", "shift_length", "rotate_length"))
    planned, clicked, early, pick = {}, {}, {}, None
    for n in range(1, 7):
        kind = ("sweep", "few", "none")[n % 3 - 1]
        cells = {"sweep": xsubject.lattice(10, 10), "few": SPOTS + SPOTS[:1], "none": []}[kind]
        if n <= 3:
            points, shot = play(run, cells, design, watch_click=kind == "few")
            pick = pick or (kind == "few" and (points, shot))
        else:
            run.key("g")
            # No screenshot while the phases are timed: grabbing the screen stalls the X
            # server and with it the frames being measured.
            time.sleep(timed + max(design.waits) + 1.0)
            run.waitpick(60)
            points = run.clickcells(cells, 10, 10)
            run.finishtrial()
        planned[n], clicked[n] = kind, 2 * len(points)  # each a press and a release
        early[n] = 2 if n <= 3 and kind == "few" else 0  # the click in WATCH
        scores.append(run.shot().crop(scoreline))
        # Both files hold the finished trial at once: a later crash cannot take it.
        trials = spatialmemory.read_run(run.resultspath()).trials
        expect(len(trials) == n and trials.complete.all(),
               f"after trial {n} the results files hold {len(trials)} trials, some unfinished")
    run.key("g")
    expect(run.wait(timeout=30) == 0, "the run did not end with status 0 after the last 'g'")
    files = readrun(folder, design)
    for t in files.trials.itertuples():
        if planned[t.trial] == "sweep":
            expect([t.targets_hit, t.distracts_hit] == [t.targets, t.distractors],
                   f"trial {t.trial}: a click on every cell found {t.targets_hit} of {t.targets}"
                   f" targets and {t.distracts_hit} of {t.distractors} distractors")
        # The idle screen after the trial shows a new score exactly when the trial scored.
        changed = scores[t.trial] != scores[t.trial - 1]
        expect(changed == (t.score != 0), f"trial {t.trial} scored {t.score}, but the idle "
               f"screen's score line {'changed' if changed else 'stayed the same'}")
    checkdesign(files, design)
    checktally(run.stdout(), files.trials)
    overshoot = checklog(files, design, clicked, timed={4, 5, 6}, early=early)
    # One to two frames over the length, one and a half on average; more means the phases are
    # timed from too early a moment or tested too late.
    print(f"phases over their lengths by {min(overshoot):.2f} to {max(overshoot):.2f} median "
          f"frame intervals, median {statistics.median(overshoot):.2f}")
    expect(statistics.median(overshoot) < 2, f"phases overshoot by {overshoot} frame intervals")
    checksidecar(folder, design, g)
    startupline(run, folder)
    replayed(args, folder, run, *pick)


def checksidecar(folder, design, g, participant=None, session=None, measured=True):
    """The log's sidecar as a BIDS events sidecar: every column described at the top, in column
    order, with the levels of event (none of the browser's page) and result; the software and
    screen under StimulusPresentation; the run's facts under "spatialmemory", the whole design
    among them (the settings file's text, the lists as read, each condition's pool in the order
    its trials take it: from the last angle listed) and who ran it. The refresh interval is
    known once a 'g' came after the first 120 frames (`measured`)."""
    with open(os.path.join(folder, "results_events0.json"), encoding="utf-8") as f:
        doc = json.load(f)
    columns = spatialmemory.reader.EVENT_COLUMNS
    expect(list(doc) == columns + ["StimulusPresentation", "spatialmemory"] and
           all(doc[c]["Description"] for c in columns) and
           list(doc["event"]["Levels"]) == [e for e in spatialmemory.reader.EVENTS
                                            if e not in spatialmemory.reader.PAGE_EVENTS] and
           list(doc["result"]["Levels"]) == spatialmemory.reader.RESULTS,
           f"the sidecar's top level {list(doc)} does not describe the columns as it should")
    screen = doc["StimulusPresentation"]
    expect(screen["SoftwareName"] == "spatialmemory" and
           screen["ScreenResolution"] == f"{g.width}x{g.height}" and
           screen["OperatingSystem"].startswith("Linux "), f"StimulusPresentation {screen}")
    side = doc["spatialmemory"]
    with open(os.path.join(folder, "settings.txt"), "rb") as f:
        text = f.read()
    angles = [float(a) for a in design.angles]
    want = {"program": "spatialmemory", "run_number": 0, "results_file": "results0.txt",
            "coord_file": "results_coord0.txt", "events_file": "results_events0.tsv",
            "settings_file": os.path.join(folder, "settings.txt"),
            "settings_sha256": hashlib.sha256(text).hexdigest(), "settings_text": text.decode(),
            "pilot": False, "screen_width": g.width, "screen_height": g.height,
            "viewport": [g.vx, g.vy, g.vw, g.vh], "swap_interval_requested": 1,
            "participant": participant, "session": session, "shuffle_angles": False,
            "shuffle_seed": None, "wait_lengths": [float(w) for w in design.waits],
            "rotation_angles": angles}
    got = {k: side.get(k) for k in want}
    expect(got == want, f"sidecar {got}, expected {want}")
    pools = side["angle_pools"]
    expect(pools and all(p == angles[::-1] for p in pools.values()),
           f"angle pools {pools}: each should be {angles[::-1]}")
    refresh = side["refresh_interval_ms"]
    expect(isinstance(side["swap_synced"], bool) and
           (refresh > 0 if refresh is not None else not measured) and
           re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d", side["started"]),
           f"sidecar swap_synced, refresh_interval_ms or started: {side}")


def startupline(run, folder):
    """Standard error holds the start-up line alone: the data folder in full, the four files."""
    want = (f"spatialmemory: data folder {folder}; this run's files: results0.txt, "
            "results_coord0.txt, results_events0.tsv, results_events0.json\n")
    expect(run.stderr() == want, f"standard error {run.stderr()!r}, expected {want!r}")


def replayed(args, folder, run, points, shot):
    """Trial 2 drawn again by spatialmemory-replay at the size the run recorded: its PICK
    equals the screenshot outside the rows of the phase labels (which the replay leaves out),
    at most 0.1 % of the pixels differing, and its marked picture has a mark on each point
    clicked."""
    out = os.path.join(folder, "replay")
    done = subprocess.run([args.replay, run.resultspath(), "--trial", "2", "--out", out],
                          text=True, capture_output=True, timeout=120)
    expect(done.returncode == 0, f"spatialmemory-replay: status {done.returncode}: {done.stderr}")
    g = run.geometry
    pick, marked = (subprocess.run(["convert", os.path.join(out, f"trial2-{name}.png"), "-depth",
                                    "8", "rgb:-"], check=True, stdout=subprocess.PIPE).stdout
                    for name in ("pick", "marked"))
    expect(len(pick) == len(shot.pixels), f"trial2-pick.png is not {g.width}x{g.height}")
    top, bottom = g.textbox(0.0, 0.92, 4)[1], g.textbox(0.0, 0.9, 19)[3]
    row = 3 * g.width
    differing = sum(1 for y in range(g.height) if not top <= y < bottom
                    for x in range(0, row, 3)
                    if pick[y * row + x:y * row + x + 3] != shot.pixels[y * row + x:y * row + x + 3])
    compared = g.width * (g.height - (bottom - top))
    # A mark is a disc some 25 pixels across, filled in the colour of what the click hit.
    unmarked = [(x, y) for x, y in points if sum(
        tuple(marked[3 * (j * g.width + i):3 * (j * g.width + i) + 3]) in MARK_COLOURS
        for i in range(x - 10, x + 11) for j in range(y - 10, y + 11)) < 150]
    print(f"replayed PICK: {differing} of {compared} pixels differ; points unmarked: {unmarked}")
    expect(differing <= compared / 1000 and not unmarked,
           f"the replayed PICK differs in {differing} pixels; no mark on {unmarked}")


def case_off_board(args, folder):
    """A subject who clicks before PICK is shown (a click and an 's' in WATCH), then, on a map
    turned by 30 degrees and shifted, off the board on every side (the strip left of it, below
    it, above its top row, right of its last column, far away in a corner), then on the cells
    just inside those edges (and the cell the strip above the top would have run on into), and
    turns the wheel. Run with a participant and a session. Checked against the rules: the early
    input did nothing but leave early rows; the clicks off the board are off_grid with their
    column and row rounded down, scored nothing, took no cell and are in the coordinate file;
    the cells beside them score as what they hold; the wheel is in the log only; no rt is
    negative; the sidecar names the participant and session. A screenshot of PICK after the
    clicks off the board is kept as e2e.work/off_board-pick.png."""
    design = Design([(9, 12)], angles=(30,), watch_length=1.5, shift_length=0.4,
                    rotate_length=0.4, num_trials_per_set=1)
    wrapper = ["sh", "-c", 'exec "$0" --participant P01 --session "2 b"']
    run = start(args, folder, design, wrapper)
    run.waitready()
    g = run.geometry
    run.key("g")
    run.waitfor("start of WATCH", lambda: not run.idle(), 60, interval=0.05)
    run.clickat([(g.width // 2, g.height // 2)])
    run.key("s")
    expect(not run.picking(), "PICK came before the early input was sent; lengthen WATCH")
    run.waitpick(60)
    start_row = spatialmemory.reader.readevents(os.path.join(folder, "results_events0.tsv"))[0]
    shift = start_row.iloc[0][["shift_x", "shift_y"]].astype(int).tolist()

    def screen(c, r):  # where the layer beneath shows its cell (c, r), after the shift
        return g.cellcentre(c + shift[0], r + shift[1], 10, 10, 30)

    off = [(-1, 4), (4, -1), (4, 10), (10, 4)]
    inside = [(0, 4), (4, 0), (4, 9), (9, 4), (5, 0)]
    points = [screen(c, r) for c, r in off] + [(3, 3)]
    expect(all(0 <= x < g.width and 0 <= y < g.height for x, y in points),
           f"a point off the board is off the screen: {points}")
    run.clickat(points)
    run.shot(os.path.join(args.work, "e2e.work", "off_board-pick.png"))
    run.clickat([screen(c, r) for c, r in inside])
    run.xdotool("click", "4", "click", "5")  # the wheel: the toolkit's buttons 3 and 4
    run.finishtrial()
    run.key("g")
    expect(run.wait(timeout=30) == 0, "the run did not end with status 0 after the last 'g'")

    files = readrun(folder, design)
    rows = files.events[files.events.trial == 1]
    early = rows[rows.event == "early"]
    expect(list(early.action.fillna("")) == ["press", "release", ""] and
           list(early.key.fillna("")) == ["", "", "s"] and early.result.isna().all() and
           early.rt.isna().all(), f"early rows {early.to_dict('records')}")
    clicks = rows[rows.event == "click"]
    expect(len(clicks) == 2 * (len(points) + len(inside)) + 4 and (clicks.rt >= 0).all(),
           f"{len(clicks)} click rows, rt {list(clicks.rt)}")
    presses = clicks[clicks.action == "press"]
    offs = presses.iloc[:len(points)]
    expect((offs.result == "off_grid").all() and
           list(zip(offs.col, offs.row))[:4] == off and
           not (0 <= offs.col.iloc[4] < 10 and 0 <= offs.row.iloc[4] < 10),
           f"clicks off the board judged {list(zip(offs.col, offs.row, offs.result))}")
    cells = {(c, r): k for c, r, k in zip(files.cells.col, files.cells.row, files.cells.kind)}
    near = presses.iloc[len(points):len(points) + len(inside)]
    want = [cells.get(cell, "empty") for cell in inside]
    expect(list(zip(near.col, near.row)) == inside and list(near.result) == want,
           f"the cells beside the edges gave {list(near.result)}, they hold {want}")
    wheel = clicks.iloc[-4:]
    expect(list(wheel.result) == ["wheel"] * 4 and list(wheel.button) == [3, 3, 4, 4] and
           wheel.grid_x.isna().all(), f"wheel rows {wheel.to_dict('records')}")
    t = files.trials.iloc[0]
    hits = [t.targets_hit, t.distracts_hit, t.empty_hit]
    expect(hits == [want.count(k) for k in ("target", "distractor", "empty")],
           f"hits {hits} for the cells {want}")
    record = spatialmemory.reader.readcoord(run.resultspath(coord=True))[0]
    expect(len(record["lists"][0]) == len(points) + len(inside),
           f"the coordinate file lists {len(record['lists'][0])} clicks")
    checklog(files, design, {1: len(clicks)}, timed=set(), early={1: 3})
    checksidecar(folder, design, g, participant="P01", session="2 b", measured=False)
    startupline(run, folder)


def case_letterboxed_killed(args, folder):
    """On a 5:4 screen: the idle screen; a trial whose map stays inside the centred 16:10
    picture with the bands black, while clicks through the offset picture find every cell;
    then the run killed early in its second trial, which keeps the first whole in every file
    and the second's start."""
    run = start(args, folder, TWO)
    idlescreen(run, folder)
    g = run.geometry
    bands = [(0, 0, g.width, g.height - g.vy - g.vh), (0, g.height - g.vy, g.width, g.height)]
    _, shot = play(run, xsubject.lattice(10, 10), TWO)
    lit = sum(shot.lit(b) for b in bands)
    expect(lit == 0, f"{lit} lit pixels in the black bands during PICK")
    expect(shot.lit((g.vx, g.height - g.vy - g.vh, g.vx + g.vw, g.height - g.vy)) >
           0.95 * g.vw * g.vh, "the map does not fill the 16:10 picture in PICK")
    run.starttrial()
    time.sleep(0.3)
    run.kill()
    files = readrun(folder, TWO, cut=[2])
    first = files.trials.iloc[0]
    expect([first.targets_hit, first.distracts_hit] == [9, 12],
           f"a click on every cell found {first.targets_hit} of 9 targets and "
           f"{first.distracts_hit} of 12 distractors")
    events = files.events.groupby("trial").event
    expect(list(events.last()) == ["trial_end", "trial_start"],
           "the log lost the finished trial or the killed trial's start")


def case_disk_full(args, folder):
    """The data folder on a disk that fills up while trials are played: the run ends at once
    with status 1 and one line naming the file, and the trials finished before are kept. The
    folder is a small tmpfs over the case's own in a mount namespace of its own, its results
    copied to <folder>.out once the program has ended; where no such mount can be made, a
    limit on the size of the files the program writes."""
    script = ('s=$(mktemp -d) && cp -a "$1/." "$s" && mount -t tmpfs -o size=64k tmpfs "$1" '
              '&& cp -a "$s/." "$1" && rm -rf "$s" || exit 3; "$0" & p=$!; '
              'trap \'kill $p\' TERM; wait $p; r=$?; cp "$1"/results* "$1.out"; exit $r')
    data = folder + ".out"
    wrapper = ["unshare", "--mount", "sh", "-c", script]
    if not mounts(f'mount -t tmpfs -o size=64k tmpfs "{folder}"'):
        wrapper, data = ["bash", "-c", 'trap "" XFSZ; ulimit -f 24; exec "$0"'], folder
    os.makedirs(data, exist_ok=True)
    run = start(args, folder, FULL_DISK, wrapper)
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
        run.clickcells(xsubject.somecells(10, 10, 4), 10, 10, angle=0)
        run.key("s")
    expect(run.wait(timeout=30) == 1, "the run did not end with status 1 on a full disk")
    names = "|".join(re.escape(os.path.join(folder, n)) for n in
                     ("results0.txt", "results_coord0.txt", "results_events0.tsv",
                      "results_events0.json"))
    message = rf"cannot write the results file ({names}): (No space left on device|File too large)\n"
    expect(re.fullmatch(r"spatialmemory: data folder [^\n]*\n" + message, run.stderr()),
           f"standard error {run.stderr()!r}")
    with open(os.path.join(data, "results0.txt")) as f:
        complete = [line for line in f.read().split("\n") if line.count("\t") == 12]
    expect(finished >= 1 and len(complete) >= finished,
           f"{len(complete)} complete trials kept of {finished} finished before the disk was full")
    print(f"after {finished} trials: {run.stderr().strip()}")


def mounts(command):
    """Whether a mount namespace of our own can run `command` (the machine may refuse it)."""
    probe = subprocess.run(["unshare", "--mount", "sh", "-c", command], text=True,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if probe.returncode:
        print(f"not here: {command} ({probe.stdout.strip()})")
    return probe.returncode == 0


def case_results_folder_readonly(args, folder):
    """A data folder where the results files cannot be created, not even by root: the run
    stops at once with a non-zero status and a message that names the file. The folder is the
    case's own behind a read-only bind mount where the machine allows one; elsewhere /proc,
    where nobody can create a file, named in argv[0]."""
    wrapper, data = ["unshare", "--mount", "sh", "-c",
                     'mount --bind -o ro "$1" "$1" && exec "$0"'], folder
    if not mounts(f'mount --bind -o ro "{folder}" "{folder}"'):
        wrapper, data = ["bash", "-c", 'exec -a /proc/spatialmemory.app/spatialmemory "$0"'], "/proc"
    run = start(args, folder, SHORT, wrapper)
    status = run.wait(timeout=60)
    blocked = os.path.join(data, "results0.txt")
    expect(status != 0 and blocked in run.stderr(),
           f"status {status}, standard error {run.stderr()!r}: {blocked} was not refused")


def case_messages(args, folder):
    """The command line without a display: --help, --version and an unknown option of both
    programs, participant IDs that cannot be used (one line, status 2), and data folders that
    cannot be used: one line naming each, status 1, nothing made anywhere."""
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

    def run(*words):
        p = subprocess.run(words, env=env, cwd=folder, text=True, timeout=30,
                           capture_output=True)
        return p.returncode, p.stdout, p.stderr

    for program, name in ((args.program, "spatialmemory"), (args.check, "spatialmemory-check")):
        status, out, err = run(program, "--help")
        expect(status == 0 and err == "" and out.startswith(f"usage: {name} [OPTIONS]"),
               f"{name} --help: {status} {out!r} {err!r}")
        expect(run(program, "--version") == (0, f"{name} {args.version}\n", ""), f"{name} version")
        status, out, err = run(program, "--windows")
        expect(status == 2 and out == "" and err.startswith(f"{name}: ") and "usage:" in err,
               f"{name} --windows: {status} {out!r} {err!r}")
    for bad in ("a/b", "x" * 65, "two\nlines"):  # an ID that cannot name anyone: one line, 2
        status, out, err = run(args.program, "--session", "1", "--participant", bad, folder)
        expect(status == 2 and out == "" and err.count("\n") == 1 and
               err.startswith("spatialmemory: --participant "), f"--participant {bad!r}: "
               f"{status} {out!r} {err!r}")
    afile = os.path.join(folder, "settings.txt")
    with open(afile, "w") as f:
        f.write(ONE.text)
    deep = os.path.join(folder, *["d" * 90] * 3)  # longer than the 255 characters held
    os.makedirs(deep)
    for given in (os.path.join(folder, "none"), afile, deep):
        before = sorted(os.walk(folder))
        status, out, err = run(args.program, given)
        expect(status == 1 and err.count("\n") == 1 and given in err and out == "",
               f"folder {given}: status {status}, stdout {out!r}, stderr {err!r}")
        expect(sorted(os.walk(folder)) == before, f"folder {given}: something was created")


def case_pilot(args, folder):
    """A pilot run: --window, the toolkit's -display and a DATA_FOLDER, started from a path
    whose folder rule gives another folder. A 1024 x 768 window at the screen's corner, the
    pointer visible after a trial, the results in the folder given, the sidecar saying so."""
    session = os.path.join(folder, "session")
    os.makedirs(session)
    with open(os.path.join(session, "settings.txt"), "w") as f:
        f.write(ONE.text)
    with open(args.display_file) as f:
        display = f.read().split()[0]
    script = f'exec "$1" --window -display {display} "{session}"'
    elsewhere = os.path.join(folder, "elsewhere")
    run = start(args, elsewhere, wrapper=["env", "-u", "DISPLAY", "sh", "-c", script, "sh"],
                screen=(1024, 768))
    run.waitfor("idle screen in the window", run.idle, 60)
    window = run.windowgeometry()
    expect(window[1:] == (1024, 768, 0, 0), f"the pilot window is {window[1:]}")
    run.movepointer(512, 384)
    run.starttrial()
    # In a picture 640 rows high the phase label reaches into the prompt's box: only the
    # prompt lights its columns beyond the longest label.
    prompt = run.geometry.textbox(0.0, 0.9, len(xsubject.PICK_PROMPT))
    prompt = (prompt[0] + 7 * xsubject.GLYPH_WIDTH, *prompt[1:])
    run.waitfor("PICK phase", lambda: run.shot().white(prompt) >= 12, 60)
    run.finishtrial()
    expect(visiblepointer(display), "the pointer is hidden after a trial")
    run.key("g")
    expect(run.wait() == 0, f"status {run.process.returncode}: {run.stderr()!r}")
    files = readrun(session, ONE)
    expect(len(files.trials) == 1 and files.trials.rotate_angle[0] == -30 and
           files.sidecar["pilot"] is True, f"trials {files.trials}, sidecar {files.sidecar}")
    left = [n for n in os.listdir(elsewhere) if n.startswith("results")]
    expect(not left, f"results files in the folder from the program's path: {left}")


def visiblepointer(display):
    """Whether the pointer's shape now shows any pixel, by XFixes' cursor image."""

    class Image(ctypes.Structure):
        _fields_ = [(n, ctypes.c_short) for n in "xy"] + [
            (n, ctypes.c_ushort) for n in ("width", "height", "xhot", "yhot")] + [
            ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong))]

    x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(Image)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    image = xfixes.XFixesGetCursorImage(x11.XOpenDisplay(display.encode())).contents
    return any(image.pixels[i] >> 24 for i in range(image.width * image.height))


CASES = {name[5:]: case for name, case in globals().items() if name.startswith("case_")}


def display(action, state, width=None, height=None):
    """The virtual display a group of cases shares, started or stopped as a CTest fixture. The
    server outlives the start, its output going to STATEFILE.log; one left by an aborted run
    (an Xvfb of ours, by its command line) is stopped first."""
    if os.path.exists(state):
        with open(state) as f:
            pid = int(f.read().split()[1])
        with contextlib.suppress(FileNotFoundError), open(f"/proc/{pid}/cmdline", "rb") as f:
            args = f.read().split(b"\0")
            if args[0].endswith(b"Xvfb") and b"-displayfd" in args:
                xsubject.stopprocess(pid)
        os.remove(state)
    if action == "start":
        server = xsubject.Xvfb(int(width), int(height), log_path=state + ".log")
        with open(state, "w") as f:
            f.write(f"{server.display} {server.pid} {width} {height}\n")
    return 0


def main():
    if sys.argv[1] in ("start", "stop"):
        return display(*sys.argv[1:])
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    for option in ("--program", "--work"):
        parser.add_argument(option, required=True)
    for option in ("--display-file", "--replay", "--check", "--version"):
        parser.add_argument(option)
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    # A dot in the path before the application folder must not move the data folder.
    folder = os.path.join(os.path.abspath(args.work), "e2e.work", args.case)
    for old in (folder, folder + ".out"):
        shutil.rmtree(old, ignore_errors=True)
    os.makedirs(folder)
    try:
        CASES[args.case](args, folder)
    except (Bad, xsubject.Failure, spatialmemory.ResultsError) as problem:
        print(f"FAILED {args.case}: {problem}\nwork folder kept: {folder}")
        for run in started:
            print(f"stdout tail: {run.stdout()[-600:]!r}\nstderr: {run.stderr()[-600:]!r}")
        return 1
    finally:
        for run in started:
            run.stop()
    print(f"passed {args.case}")
    shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(folder + ".out", ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
