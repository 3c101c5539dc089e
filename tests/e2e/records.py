"""records: a run's files, read by the analysis package, checked against the design that made
them and the clicks the subject made: the trials the design builds, the cells and scores, the
exit tally, the event log's rows and phase durations; and both results files byte for byte
against what the values read back print as. Driving the program is left to e2e.py, the files'
formats to the package's reader (analysis/spatialmemory/reader.py), which notes where the files
disagree with one another.
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "analysis"))
import spatialmemory  # noqa: E402
from spatialmemory.reader import COORD_HEADER, EMPTY_POOL, PHASES, TAB_HEADER  # noqa: E402, F401


class Bad(Exception):
    """A run's files are not what the design and the clicks make them."""


def expect(condition, message):
    if not condition:
        raise Bad(message)


class Design:
    """A design and the settings file that asks for it: the set lines, wait lengths, rotation
    angles, target colours and any settings given as keywords (num_x and num_y default to 10)."""

    def __init__(self, sets, waits=(0.3,), angles=(), colours=(), **values):
        self.sets, self.waits, self.angles = list(sets), list(waits), list(angles)
        self.values = {"num_x": 10, "num_y": 10, **values}
        lines = [f"{k}: {v}" for k, v in self.values.items()]
        for head, items, end in (("wait_lengths:", waits, "length_end:"),
                                 ("rotation_angles:", angles, "angle_end:"),
                                 ("tarcolsetstart:", colours, "end:"),
                                 ("target_distract_sets:", [f"{t} {d}" for t, d in sets],
                                  "set_end:")):
            lines += [head, *map(str, items), end] if items else []
        self.text = "\n".join(lines) + "\n"

    def get(self, key, default=0):
        return type(default)(self.values.get(key, default))


def readrun(folder, design, cut=()):
    """The run in `folder`, read by the package, with its records checked: no note but one
    for each trial numbered in `cut` (the run was ended during it), both files byte for byte,
    and each finished trial's cells and hit counts."""
    run = spatialmemory.read_run(os.path.join(folder, "results0.txt"))
    expect(len(run.problems) == len(cut) and
           all(f": trial {n} was cut short" in p for n, p in zip(cut, run.problems)),
           f"the reader notes {run.problems}")
    checklayout(run)
    nx, ny = design.get("num_x"), design.get("num_y")
    for t in run.trials[run.trials.complete].itertuples():
        cells = run.cells[run.cells.trial == t.trial]
        expect(len(set(cells.cell)) == len(cells) and
               all(0 <= c < nx and 0 <= r < ny and c % 2 == 0 and r % 2 == 0
                   for c, r in zip(cells.col, cells.row)),
               f"trial {t.trial}: cells {list(zip(cells.col, cells.row))} twice or where the "
               "layout may not put one (both column and row even)")
        expect(t.total_hit == t.targets_hit + t.distracts_hit + t.empty_hit,
               f"trial {t.trial}: total hits {t.total_hit} is not the sum of the others")
    return run


def checklayout(run):
    """Both results files, byte for byte, as the trials and cells tables read back print (the
    analysis tests use this on their fixtures too): trial lines of six
    whole numbers and six numbers of six decimals, each ended by a tab; records of 13-character
    columns, each and a space, rows of clicks and cells under "clicks X", each followed by 168
    blanks; a trial cut short with only its first eight values and no line end."""
    tab, coord = [], [COORD_HEADER + "\n"]
    records = spatialmemory.reader.readcoord(run.files["coord"])
    for t, record in zip(run.trials.itertuples(), records):
        done = bool(t.complete)
        values = [str(v) for v in (t.trial, t.targets, t.distractors, t.borders, t.blank,
                                   t.instant)]
        values += [f"{v:f}" for v in (t.wait_length, t.rotate_angle) +
                   ((t.targets_hit, t.distracts_hit, t.empty_hit, t.total_hit) * done)]
        tab.append("".join(v + "\t" for v in values) + "\n" * done)
        # The clicks as the coordinate file orders them (by their single-precision values,
        # which its six decimals cannot always tell apart); the cells from the cells table.
        cells = run.cells[run.cells.trial == t.trial]
        lists = [record["lists"][0]] + [list(zip(cells[cells.kind == k].col, cells[
            cells.kind == k].row)) for k in ("target", "distractor")]
        rows = "".join(" ".join(f"{v[i][0]:<13{f}} {v[i][1]:<13{f}}" if i < len(v) else " " * 27
                                for v, f in zip(lists, "fdd")) + "\n" + " " * 168
                       for i in range(max(map(len, lists))))
        coord.append("".join(f"{v:<13} " for v in values) + rows + "\n" * done)
    with open(run.files["results"]) as f:
        text = f.read()
    body = text[text.index(TAB_HEADER + "\n") + len(TAB_HEADER) + 1:].splitlines(keepends=True)
    same(run.files["results"], [line for line in body if not line.startswith(EMPTY_POOL)], tab)
    with open(run.files["coord"]) as f:
        same(run.files["coord"], f.read().splitlines(keepends=True), "".join(coord).splitlines(
            keepends=True))


def same(path, lines, want):
    """The lines of a file against those its values print as; the first that differs named."""
    for n, (line, printed) in enumerate(zip(lines + [""], want + [""])):
        expect(line == printed, f"{path}: line {n + 1} of its records is {line!r}, its values "
               f"print as {printed!r}")


def checkdesign(run, design):
    """The trials against the trial set the design builds: every set line num_trials_per_set
    times, each set's counts of borders, blank waits and instant shifts, the wait lengths dealt
    in turn, and each condition's angles taken from the end of the list, and reported once
    none is left."""
    t = run.trials
    per_set = design.get("num_trials_per_set", 1)
    expect(sorted(zip(t.targets, t.distractors)) == sorted(design.sets * per_set),
           f"trials {list(zip(t.targets, t.distractors))} for the sets {design.sets} x {per_set}")
    for s in set(design.sets):
        mine = t[(t.targets == s[0]) & (t.distractors == s[1])]
        for flag, key in (("borders", "num_with_borders"), ("blank", "num_blank_wait"),
                          ("instant", "num_instant_shifts")):
            want = design.sets.count(s) * min(per_set, design.get(key))
            expect(mine[flag].sum() == want, f"set {s}: {mine[flag].sum()} trials with {flag}, "
                   f"expected {want}")
    dealt = [design.waits[i % len(design.waits)] for i in range(len(design.sets) * per_set)]
    expect(sorted(t.wait_length) == sorted(round(w, 6) for w in dealt),
           f"wait lengths {sorted(t.wait_length)}, expected {dealt}")
    empty = 0
    # A condition's pool is named by targets, blank wait, wait length, instant shift, borders.
    for key, group in t.groupby(["targets", "blank", "wait_length", "instant", "borders"]):
        got, want = list(group.rotate_angle), design.angles[::-1]
        expect(got[:len(want)] == want[:len(got)], f"condition {key}: angles {got}, expected "
               f"{want} (taken from the end)")
        empty += max(0, len(got) - len(want))
    expect(t.angle_pool_empty.sum() == empty, f"{t.angle_pool_empty.sum()} empty angle pools")


def checktally(stdout, trials):
    """The exit tally: sixteen lines for 9, 12, 15, 18 targets by distractors and an empty
    line, counting the trials started whose counts fall in the table."""
    want = []
    for i in range(16):
        t, d = (i // 4 + 3) * 3, (i % 4 + 3) * 3
        started = sum(1 for a, b in zip(trials.targets, trials.distractors)
                      if 9 <= a <= 20 and 9 <= b <= 20 and a // 3 * 3 == t and b // 3 * 3 == d)
        want.append(f"{t} {d}: {started}\n")
    tally = "".join(want) + "\n"
    expect(stdout.endswith(tally), f"standard output does not end with the tally:\n{tally}"
           f"it ends with:\n{stdout[-400:]}")


def checklog(run, design, clicked, timed, early=None):
    """The event log of every trial against what was done: its rows in order, an early row for
    each mouse event before PICK was shown (`early`, by trial; written after PICK's row), one
    click row for each press and each release of the left button in PICK (`clicked`, by
    trial), each click's cell its position rounded down, each phase until the next row. The
    phases of the trials in `timed`, which no screenshot held up, lasted their set lengths and
    less than two of their longest frame intervals more. Returns those overshoots in median
    frame intervals."""
    early = early or {}
    lengths = [design.get("watch_length", 14.0), design.get("shift_length", 2.0),
               design.get("rotate_length", 2.0)]
    overshoot = []
    for t in run.trials.itertuples():
        rows = run.events[run.events.trial == t.trial]
        want = ["trial_start", *PHASES, *["early"] * early.get(t.trial, 0),
                *["click"] * clicked[t.trial], "trial_end"]
        expect(list(rows.event) == want, f"trial {t.trial}: rows {list(rows.event)}")
        # Early rows come with the clicks at 's', though they happened before PICK.
        rows = rows[rows.event != "early"]
        onsets = list(rows.onset)
        expect(onsets == sorted(onsets), f"trial {t.trial}: onsets out of order {onsets}")
        for k, (p, end) in enumerate(zip(rows[1:6].itertuples(), onsets[2:6] + onsets[-1:])):
            expect(abs(p.onset + p.duration - end) < 2e-6,
                   f"trial {t.trial}: {p.event} does not last until the next row's onset")
            if k == 4:
                break
            length = (lengths + [t.wait_length])[k]
            expect(abs(p.set_length - length) < 1e-6, f"trial {t.trial}: {p.event} set_length "
                   f"{p.set_length}, expected {length}")
            # Timed from its first swap and tested after each swap, a phase is on screen for
            # more than its length and less than two of its frame intervals longer.
            if t.trial in timed:
                expect(length <= p.duration < length + 2 * p.frame_max_ms / 1000,
                       f"trial {t.trial}: {p.event} lasted {p.duration} s for {length} s "
                       f"(longest frame {p.frame_max_ms} ms)")
                overshoot.append((p.duration - length) / (p.frame_median_ms / 1000))
        # The wheel is logged as clicks of buttons 3 and 4 without a place on the grid.
        clicks = rows[(rows.event == "click") & (rows.result != "wheel")]
        expect(list(clicks.grid_x.map(math.floor)) == list(clicks.col) and
               list(clicks.grid_y.map(math.floor)) == list(clicks.row) and (clicks.rt >= 0).all(),
               f"trial {t.trial}: a click's column and row are not its position rounded down, "
               f"or its rt is negative: {list(clicks.rt)}")
        # The scripted subject clicks with the left button, each press released before the next.
        expect(list(clicks.action) == ["press", "release"] * (len(clicks) // 2) and
               set(clicks.button) <= {0}, f"trial {t.trial}: buttons {list(clicks.button)} "
               f"and actions {list(clicks.action)}")
    return overshoot
