#!/usr/bin/env python3
"""play: the scripted subject's jobs on a virtual display.

  play.py example FOLDER PROGRAM        plays the design in FOLDER/settings.txt to its end,
                                        with screenshots of trial 1's phases and of the idle
                                        screen before each trial in FOLDER/screenshots
  play.py screenshots OUTDIR PROGRAM    makes the documentation's screenshots of every phase
  play.py memory FOLDER PROGRAM         runs 42 quick trials and reports resident memory
  play.py replay OUTFILE PROGRAM REPLAY plays one trial of the bundled example and makes the
                                        documentation's marked picture of it with REPLAY
  play.py fixtures OUTDIR PROGRAM [NAME...]
                                        plays the analysis tests' fixture runs (whole, killed,
                                        nolog, emptypool; all when none named) into OUTDIR/NAME
  play.py demo OUTDIR PROGRAM           two sessions into OUTDIR/session-1 and -2, for the
                                        documentation's picture of the report

Each starts its own Xvfb and stops it at the end. The running of the program, the input and
the screenshots belong to xsubject; this file only decides what to play and what to keep.
"""

import contextlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xsubject  # noqa: E402

SCREEN = (1280, 800)
PHASES = ["WATCH", "SHIFT", "ROTATE", "WAIT"]
LABEL_CHARS = {"WATCH": 5, "SHIFT": 5, "ROTATE": 6, "WAIT": 4, "PICK": 4}


def setting(text, key, default):
    for line in text.split("\n"):
        if line.startswith(key + ":"):
            return type(default)(line.split(":", 1)[1].split()[0])
    return default


def trialfields(run):
    """Targets, wait length and angle of the trial now running, from its line in the tab
    results file (written and flushed at 'g')."""
    fields = run.resultlines()[-1].split("\t")
    return int(fields[1]), float(fields[6]), float(fields[7])


def tour(run, settings, shots, prefix, rng):
    """Plays one trial; with `shots`, saves a screenshot in the middle of every phase.
    Returns the screenshots' paths."""
    lengths = [setting(settings, k, d) for k, d in
               (("watch_length", 14.0), ("shift_length", 2.0), ("rotate_length", 2.0))]
    num_x, num_y = setting(settings, "num_x", 5), setting(settings, "num_y", 5)
    began = run.starttrial()
    targets, wait, angle = trialfields(run)
    lengths.append(wait)
    saved = []
    if shots:
        start = began
        for phase, length in zip(PHASES, lengths):
            delay = start + length / 2 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            path = os.path.join(shots, f"{prefix}-{phase.lower()}.png")
            label = run.label(run.shot(path))
            if label != LABEL_CHARS[phase]:
                print(f"  note: {os.path.basename(path)} shows a {label}-character label; "
                      f"{phase} has {LABEL_CHARS[phase]}")
            saved.append(path)
            start += length
    run.waitpick(timeout=sum(lengths) + 60)
    run.clickcells(xsubject.somecells(num_x, num_y, targets, rng), num_x, num_y, angle)
    if shots:
        path = os.path.join(shots, f"{prefix}-pick.png")
        run.shot(path)
        saved.append(path)
    run.finishtrial()
    return saved


def trialcount(settings):
    sets = 0
    inside = False
    for line in settings.split("\n"):
        if line.startswith("target_distract_sets:"):
            inside = True
        elif line.startswith("set_end"):
            inside = False
        elif inside and len(line.split()) == 2:
            sets += 1
    return sets * setting(settings, "num_trials_per_set", 1)


@contextlib.contextmanager
def playing(screen, folder, program, **options):
    """A virtual display of `screen` (width, height) with the program started on it and its
    window up; both are stopped however the play ends."""
    server = xsubject.Xvfb(*screen)
    run = None
    try:
        run = xsubject.Run(server.display, screen, folder, program, **options)
        run.waitready()
        yield run
    finally:
        if run is not None:
            run.stop()
        server.stop()


def example(folder, program):
    """The bundled example to its end, as a subject would play it, with screenshots."""
    with open(os.path.join(folder, "settings.txt")) as f:
        settings = f.read()
    shots = os.path.join(folder, "screenshots")
    os.makedirs(shots, exist_ok=True)
    rng = random.Random()
    with playing(SCREEN, folder, program, log_prefix="spatialmemory") as run:
        total = trialcount(settings)
        print(f"Virtual display {run.display} ({SCREEN[0]}x{SCREEN[1]}); {total} trials.")
        for n in range(1, total + 1):
            run.shot(os.path.join(shots, f"trial{n}-0-idle.png"))
            print(f"  trial {n}: 'g', watching the phases, clicking in PICK, 's'")
            tour(run, settings, shots if n == 1 else None, f"trial{n}", rng)
        run.shot(os.path.join(shots, "end-idle.png"))
        run.key("g")
        status = run.wait(timeout=60)
    print(f"\nThe program ended with status {status}. Its tally of trials per set:")
    print(run.stdout().rstrip("\n").split("\n\n")[-1] if run.stdout() else "(none)")
    print("\nResults files:")
    for name in sorted(os.listdir(folder)):
        if name.startswith("results"):
            print(f"  {os.path.join(folder, name)}")
    print(f"Screenshots (every phase of trial 1, the idle screen before each trial):\n  {shots}")
    return 0 if status == 0 else 1


DOCS_DESIGN = """num_x: 10
num_y: 10
watch_length: 4
shift_length: 3
rotate_length: 3
num_trials_per_set: 1
num_with_borders: 1
wait_lengths:
3
length_end:
rotation_angles:
90
angle_end:
tarcolsetstart:
40 200 230
250 250 60
250 150 20
end:
discolsetstart:
60 220 60
200 60 230
end:
target_distract_sets:
9 12
set_end:
"""


def screenshots(outdir, program):
    """Every phase of one trial with borders on a 16:10 screen, the idle screen and PICK on a
    5:4 one, scaled to 640 pixels across for the README."""
    os.makedirs(outdir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="sm-shots.")
    try:
        with playing((1280, 1024), os.path.join(work, "square"), program,
                     settings=DOCS_DESIGN) as run:
            run.shot(os.path.join(work, "idle-5x4.png"))
            tour(run, DOCS_DESIGN, work, "square", random.Random(7))
        with playing(SCREEN, os.path.join(work, "wide"), program, settings=DOCS_DESIGN) as run:
            run.shot(os.path.join(work, "0-idle.png"))
            tour(run, DOCS_DESIGN, work, "trial", random.Random(7))
            run.waitfor("score on the idle screen", run.idle, 10)
            run.shot(os.path.join(work, "6-idle-after.png"))
        names = {"0-idle.png": "idle.png", "idle-5x4.png": "idle-5x4.png",
                 "square-pick.png": "pick-5x4.png", "6-idle-after.png": "idle-after.png"}
        for i, phase in enumerate(PHASES + ["PICK"], 1):
            names[f"trial-{phase.lower()}.png"] = f"{i}-{phase.lower()}.png"
        for source, target in names.items():
            xsubject.shrink(os.path.join(work, source), os.path.join(outdir, target))
            print(os.path.join(outdir, target))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


MEMORY_TRIALS_PER_SET = 21
MEMORY_DESIGN = f"""num_x: 10
num_y: 10
watch_length: 0.2
shift_length: 0.1
rotate_length: 0.1
num_trials_per_set: {MEMORY_TRIALS_PER_SET}
num_with_borders: 10
num_instant_shifts: 10
wait_lengths:
0.1
length_end:
rotation_angles
""" + "".join(f"{a}\n" for a in range(0, 360, 15)) + """angle_end:
target_distract_sets:
9 12
12 9
set_end:
"""


def memory(folder, program, allowed_growth_kib=4096):
    """42 quick trials, resident memory sampled on the idle screen after each. Passes when
    the last sample exceeds the one after trial 5 (once the driver's caches are warm) by no
    more than `allowed_growth_kib`: a texture of 512 x 512 kept per trial would add 1 MiB a
    trial, 37 MiB over the run."""
    rng = random.Random(1)
    samples = []
    with playing(SCREEN, folder, program, settings=MEMORY_DESIGN) as run:
        samples.append(run.rss_kib())
        total = trialcount(MEMORY_DESIGN)
        for n in range(1, total + 1):
            tour(run, MEMORY_DESIGN, None, f"trial{n}", rng)
            samples.append(run.rss_kib())
            print(f"trial {n:2d}: VmRSS {samples[-1]} KiB", flush=True)
        run.key("g")
        status = run.wait(timeout=60)
    warm = samples[5]
    print(f"\nVmRSS at start {samples[0]} KiB, after trial 1 {samples[1]} KiB, after trial 5 "
          f"{warm} KiB, last {samples[-1]} KiB, highest {max(samples)} KiB; "
          f"growth after trial 5: {samples[-1] - warm} KiB over {len(samples) - 6} trials; "
          f"exit status {status}")
    flat = samples[-1] - warm <= allowed_growth_kib and max(samples[5:]) - warm <= allowed_growth_kib
    print("memory check: " + ("passed, resident memory stays flat" if flat and status == 0 else
                              "FAILED"))
    return 0 if flat and status == 0 else 1


def redspots(shot, size=8):
    """Centres (screen pixels) of the areas of full red a screenshot shows: the target discs
    seen through their holes in WATCH."""
    full = bytes(255) + b"\x01"
    red = shot.pixels[0::3].translate(full)
    blocks = []
    for top in range(0, shot.height - size + 1, size):
        for left in range(0, shot.width - size + 1, size):
            n = sum(sum(red[y * shot.width + left:y * shot.width + left + size])
                    for y in range(top, top + size))
            if n > size * size / 2:
                blocks.append((left + size / 2, top + size / 2))
    spots = []  # [sum x, sum y, count] of blocks within a disc of each other
    for x, y in blocks:
        for spot in spots:
            if abs(spot[0] / spot[2] - x) < 40 and abs(spot[1] / spot[2] - y) < 40:
                spot[0] += x
                spot[1] += y
                spot[2] += 1
                break
        else:
            spots.append([x, y, 1])
    return [(sx / n, sy / n) for sx, sy, n in spots if n >= 4]


def replayfigure(outfile, program, replay):
    """One trial of the bundled example on a 16:10 screen. The scripted subject finds the red
    targets in WATCH, reads the shift from the event log, and in PICK clicks all but one of
    the targets where they now are and, wrongly, one where it was before the shift. Then
    spatialmemory-replay draws the trial, and its marked picture is kept, 960 pixels across."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "example", "settings.txt")) as f:
        settings = f.read()
    num_x, num_y = setting(settings, "num_x", 5), setting(settings, "num_y", 5)
    work = tempfile.mkdtemp(prefix="sm-replay.")
    try:
        with playing(SCREEN, os.path.join(work, "run"), program, settings=settings) as run:
            g = run.geometry
            began = run.starttrial()
            time.sleep(max(0.0, began + setting(settings, "watch_length", 14.0) / 2 - time.monotonic()))
            cells = set()
            for x, y in redspots(run.shot()):
                px = (x - g.vx) / g.vw * 2 * xsubject.VIEW_HALF_WIDTH - xsubject.VIEW_HALF_WIDTH
                py = (g.height - y - g.vy) / g.vh * 2 * xsubject.VIEW_HALF_HEIGHT - \
                    xsubject.VIEW_HALF_HEIGHT
                cells.add((int((px / xsubject.MAP_SIZE + 0.5) * num_x),
                           int((py / xsubject.MAP_SIZE + 0.5) * num_y)))
            with open(os.path.join(run.folder, "results_events0.tsv")) as f:
                start = [line.split("\t") for line in f if "\ttrial_start\t" in line][-1]
            sx, sy = int(start[17]), int(start[18])
            run.waitpick(timeout=60)
            angle = run.lastangle()
            cells = sorted(cells)
            spots = [(c + sx, r + sy) for c, r in cells[1:]] + cells[:1]
            run.clickcells(spots, num_x, num_y, angle)
            run.finishtrial()
        out = os.path.join(work, "replay")
        subprocess.run([replay, os.path.join(work, "run", "results0.txt"), "--trial", "1",
                        "--out", out], check=True, timeout=120)
        xsubject.shrink(os.path.join(out, "trial1-marked.png"), outfile, width=960)
        print(f"{outfile}: {len(cells)} targets seen in WATCH, shift ({sx}, {sy}), "
              f"turned {angle:g} degrees")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


# The analysis tests' fixture runs. WHOLE: a grid of 6 x 5 cells, so that a cell's number
# (column x 5 + row) differs from row x 6 + column; every set has borders and its second trial a
# blank wait and the longer wait length; the first two sets share their conditions, so they take
# two angles from each pool; the target colours echo a clipped value. EMPTYPOOL: three trials of
# one condition and two angles, so the third finds its angle pool empty.
FIXTURE_WHOLE = """num_x: 6
num_y: 5
watch_length: 0.6
shift_length: 0.3
rotate_length: 0.3
num_trials_per_set: 2
num_with_borders: 2
num_instant_shifts: 0
num_blank_wait: 1
wait_lengths:
0.3
0.5
length_end:
rotation_angles:
0
-45
90
angle_end:
tarcolsetstart:
40 200 230
300 20 10
end:
target_distract_sets:
3 4
3 2
2 3
set_end:
"""
FIXTURE_EMPTYPOOL = """num_x: 5
num_y: 5
watch_length: 0.5
shift_length: 0.3
rotate_length: 0.3
num_trials_per_set: 3
wait_lengths:
0.3
length_end:
rotation_angles:
30
60
angle_end:
target_distract_sets:
2 2
set_end:
"""
# Name: design, and the trial killed in its PICK (None: the run is played to its end). "nolog"
# keeps only the two results files, as a program without the event log leaves them.
FIXTURES = {"whole": (FIXTURE_WHOLE, None), "killed": (FIXTURE_WHOLE, 1),
            "nolog": (FIXTURE_WHOLE, None), "emptypool": (FIXTURE_EMPTYPOOL, None)}
# Twelve trials a session for the documentation's report: two set sizes by two wait lengths,
# three trials each, which take the three angles; the second session has every flag in some
# trials as well.
DEMO_ANGLES = """num_x: 5
num_y: 5
watch_length: 0.8
shift_length: 0.4
rotate_length: 0.4
num_trials_per_set: 6
wait_lengths:
0.3
1.0
length_end:
rotation_angles:
0
90
180
angle_end:
target_distract_sets:
3 3
4 4
set_end:
"""
DEMO_FLAGS = DEMO_ANGLES.replace("num_trials_per_set: 6\n", "num_trials_per_set: 6\n"
                                 "num_with_borders: 3\nnum_instant_shifts: 2\nnum_blank_wait: 2\n")


def session(folder, program, settings, choose, killed=None):
    """Plays a design on a virtual display of its own, clicking in each trial's PICK the cells
    choose(n) gives for trial n (from 0), and 'g' at the end; or kills the program in the PICK
    of trial `killed`. Returns the exit status, None when killed."""
    num_x, num_y = setting(settings, "num_x", 5), setting(settings, "num_y", 5)
    with playing(SCREEN, folder, program, settings=settings) as run:
        for n in range(trialcount(settings)):
            run.starttrial()
            run.waitpick(timeout=60)
            run.clickcells(choose(n, num_x, num_y), num_x, num_y)
            if n == killed:
                time.sleep(0.3)
                run.kill()
                return None
            run.finishtrial()
        run.key("g")
        return run.wait(timeout=30)


def fixtures(outdir, program, names):
    """Plays the fixture runs named (all when none) and copies the files the program wrote,
    with the settings, into OUTDIR/NAME. In each trial's PICK the subject clicks every cell
    and a band around the grid, four cells with one twice, nothing, or four cells again; in
    the killed run, four cells with one twice."""
    for name in names or sorted(FIXTURES):
        settings, killed = FIXTURES[name]
        kept = ("results0", "results_coord0") if name == "nolog" else ("results",)
        rng = random.Random(name)

        def choose(n, num_x, num_y):
            kind = "few" if killed is not None else ["sweep", "few", "none", "few", "few", "few"][n % 6]
            cells = xsubject.somecells(num_x, num_y, 4, rng) if kind == "few" else []
            return xsubject.lattice(num_x, num_y) if kind == "sweep" else cells + cells[:1]

        work = tempfile.mkdtemp(prefix=f"sm-fixture-{name}.")
        try:
            status = session(work, program, settings, choose, killed)
            if status not in (None, 0):
                raise xsubject.Failure(f"{name}: the program ended with status {status}")
            target = os.path.join(outdir, name)
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            names = [n for n in sorted(os.listdir(work)) if n.startswith(kept + ("settings",))]
            for entry in names:
                shutil.copy(os.path.join(work, entry), target)
            print(f"{target}: {', '.join(names)}")
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return 0


def demo(outdir, program):
    """Two sessions for the documentation's report, by a subject who clicks two to six cells
    at random, and now and then every cell."""
    for number, settings in ((1, DEMO_ANGLES), (2, DEMO_FLAGS)):
        folder = os.path.join(outdir, f"session-{number}")
        rng = random.Random(number)
        session(folder, program, settings, lambda n, nx, ny: xsubject.lattice(nx, ny)
                if rng.random() < 0.15 else xsubject.somecells(nx, ny, rng.randint(2, 6), rng))
        print(f"session {number}: {folder}")
    return 0


def main(argv):
    if len(argv) == 5 and argv[1] == "replay":
        try:
            return replayfigure(os.path.abspath(argv[2]), os.path.abspath(argv[3]),
                                os.path.abspath(argv[4]))
        except xsubject.Failure as problem:
            print(f"error: {problem}", file=sys.stderr)
            return 1
    if len(argv) >= 4 and argv[1] == "fixtures" and set(argv[4:]) <= set(FIXTURES):
        try:
            return fixtures(os.path.abspath(argv[2]), os.path.abspath(argv[3]), argv[4:])
        except xsubject.Failure as problem:
            print(f"error: {problem}", file=sys.stderr)
            return 1
    if len(argv) == 4 and argv[1] in ("example", "screenshots", "memory", "demo"):
        job = {"example": example, "screenshots": screenshots, "memory": memory,
               "demo": demo}[argv[1]]
        try:
            return job(os.path.abspath(argv[2]), os.path.abspath(argv[3]))
        except xsubject.Failure as problem:
            print(f"error: {problem}", file=sys.stderr)
            return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
