"""records: reads the two results files of a run and checks them against the design that made
them, independently of the program's own code.

Owns the parsing of the tab results file and of the fixed-width coordinate results file, and
the checks that tie them together (same trials in both, scores that follow from the recorded
clicks and cells, trials that follow from the design). Driving the program is left to e2e.py.
"""

import math
import re

TAB_HEADER = ("trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
              "targets hit\tdistracts hit\tempty hit\ttotal hit")
COORD_NAMES = ["trial", "targets", "distrac", "borders", "blank", "instant", "waitlength",
               "rotate angle", "targets hit", "distracts hit", "empty hit", "total hit",
               "clicks X", "clicks Y", "targets X", "targets Y", "distractors X", "distractors Y"]
COORD_HEADER = " ".join(f"{n:<13}" for n in COORD_NAMES)
COLUMN = 14  # a value left-aligned in 13 characters and one space
LEAD = 12 * COLUMN  # the twelve trial columns; blank at the start of a continuation line
INT_PATTERN = r"-?\d+"
FLOAT_PATTERN = r"-?\d+\.\d{6}"


class Bad(Exception):
    """A results file is not what the design and the clicks make it."""


def expect(condition, message):
    if not condition:
        raise Bad(message)


# ---- the design ----


class Design:
    """What a settings file asks for, as far as the checks need it."""

    def __init__(self, text):
        self.text = text
        self.values = {}
        self.lists = {"wait_lengths": [], "rotation_angles": []}
        self.sets = []
        lines = text.split("\n")
        i = 0
        while i < len(lines):
            line = lines[i]
            m = re.match(r"(\w+):\s*(.*)$", line)
            if line.startswith("wait_lengths:") or line.startswith("rotation_angles"):
                name = "wait_lengths" if line.startswith("wait") else "rotation_angles"
                end = "length_end:" if name == "wait_lengths" else "angle_end:"
                i += 1
                while i < len(lines) and not lines[i].startswith(end):
                    if lines[i].strip():
                        self.lists[name].append(float(lines[i]))
                    i += 1
            elif line.startswith("target_distract_sets:"):
                i += 1
                while i < len(lines) and not lines[i].startswith("set_end"):
                    if lines[i].strip():
                        t, d = lines[i].split()
                        self.sets.append((int(t), int(d)))
                    i += 1
            elif line.startswith("tarcolsetstart:") or line.startswith("discolsetstart:"):
                i += 1
                while i < len(lines) and not lines[i].startswith("end:"):
                    i += 1
            elif m:
                self.values[m.group(1)] = m.group(2)
            i += 1

    def number(self, key, default):
        return type(default)(self.values.get(key, default))

    @property
    def num_x(self):
        return self.number("num_x", 5)

    @property
    def num_y(self):
        return self.number("num_y", 5)

    @property
    def per_set(self):
        return self.number("num_trials_per_set", 1)

    def echo(self):
        """The lines the settings reader echoes into the tab results file, in file order."""
        ints = {"num_instant_shifts", "num_with_borders", "num_blank_wait", "num_trials_per_set",
                "num_x", "num_y", "borderwidth"}
        floats = {"depth_sep", "watch_length", "shift_length", "rotate_length"}
        ranges = {"num_targets", "num_distracts"}
        out = []
        colours = False
        for line in self.text.split("\n"):
            if colours:
                if line.startswith("end:"):
                    colours = False
                elif len(line.split()) == 3:
                    out.append("\t".join(str(int(v) & 255) for v in line.split()))
                continue
            m = re.match(r"(\w+):\s*(.*)$", line)
            if line.startswith("tarcolsetstart:") or line.startswith("discolsetstart:"):
                out.append(line[:14])
                colours = True
            elif m and m.group(1) in ints:
                out.append(f"{m.group(1)}\t{int(m.group(2))}")
            elif m and m.group(1) in floats:
                out.append(f"{m.group(1)}\t{float(m.group(2)):f}")
            elif m and m.group(1) in ranges:
                low, high = re.match(r"(-?\d+)\s*to\s*(-?\d+)", m.group(2)).groups()
                out.append(f"{m.group(1)}\t{int(low)}\t{int(high)}")
        return out

    def candidate(self, column, row):
        """Whether a cell may hold a target or a distractor: only cells whose column and row
        are both even, so that no two of them are neighbours."""
        return column % 2 == 0 and row % 2 == 0


def conditionkey(targets, blank, wait, instant, borders):
    """The key that names a trial's angle pool: the wait length in the stream's default
    float form (six significant digits, no trailing zeros)."""
    return f"{targets}{blank}{wait:g}{instant}{borders}"


# ---- the tab results file ----


class Trial:
    """One trial as the results files give it."""

    def __init__(self, fields):
        self.number = int(fields[0])
        self.targets = int(fields[1])
        self.distracts = int(fields[2])
        self.borders = int(fields[3])
        self.blank = int(fields[4])
        self.instant = int(fields[5])
        self.wait = float(fields[6])
        self.angle = float(fields[7])
        self.hits = [float(v) for v in fields[8:12]]  # targets, distractors, empty, total
        self.complete = len(fields) == 12
        self.clicks = []  # (x, y) from the coordinate file
        self.target_cells = []  # (column, row)
        self.distract_cells = []

    def key(self):
        return conditionkey(self.targets, self.blank, self.wait, self.instant, self.borders)


TAB_FORMATS = [INT_PATTERN] * 6 + [FLOAT_PATTERN] * 6


def readtab(path, design):
    """Parses a tab results file: echo lines, header, trial lines (the last one may lack its
    end when the run was killed). Returns (trials, message lines)."""
    with open(path) as f:
        text = f.read()
    echo = design.echo()
    lines = text.split("\n")
    expect(lines[:len(echo)] == echo,
           f"{path}: settings echo {lines[:len(echo)]!r}, expected {echo!r}")
    expect(lines[len(echo)] == TAB_HEADER, f"{path}: header line {lines[len(echo)]!r}")
    trials, messages = [], []
    body = lines[len(echo) + 1:]
    for n, line in enumerate(body):
        last = n == len(body) - 1
        if last and line == "":
            break
        if line.startswith("Trying to POP from an empty vector : "):
            messages.append(line)
            continue
        expect(line.endswith("\t"), f"{path}: trial line without its closing tab: {line!r}")
        fields = line[:-1].split("\t")
        expect(len(fields) == 12 or (last and len(fields) == 8),
               f"{path}: trial line with {len(fields)} values: {line!r}")
        for value, pattern in zip(fields, TAB_FORMATS):
            expect(re.fullmatch(pattern, value), f"{path}: malformed value {value!r} in {line!r}")
        trials.append(Trial(fields))
    return trials, messages


# ---- the coordinate results file ----


def columns(text, count, path):
    """Splits `count` fixed columns off the start of text; None for a blank column."""
    values = []
    for i in range(count):
        cell = text[i * COLUMN:i * COLUMN + 13]
        gap = text[i * COLUMN + 13:i * COLUMN + 14]
        expect(len(cell) == 13, f"{path}: short column {i + 1} in {text!r}")
        expect(gap in (" ", "") if i == count - 1 else gap == " ",
               f"{path}: column {i + 1} not followed by a space in {text!r}")
        values.append(cell.rstrip() or None)
        expect(cell.rstrip() == cell.strip(), f"{path}: value not left-aligned: {cell!r}")
    return values


def readcoord(path, trials):
    """Parses the coordinate results file and adds each record's clicks and cells to the
    trials read from the tab results file, checking both agree on columns 1 to 12."""
    with open(path) as f:
        text = f.read()
    lines = text.split("\n")
    expect(lines[0] == COORD_HEADER, f"{path}: header line {lines[0]!r}")
    records = []
    for line in lines[1:]:
        if line[:COLUMN].strip():
            records.append([line])
        else:
            expect(records, f"{path}: continuation line before any record: {line!r}")
            records[-1].append(line)
    if records and records[-1] == [""]:
        records.pop()
    if records and records[-1][-1] == "":  # the file's final newline
        records[-1].pop()
    expect(len(records) == len(trials),
           f"{path}: {len(records)} records for {len(trials)} trials in the tab results file")
    for trial, record in zip(trials, records):
        readrecord(path, trial, record)


def readrecord(path, trial, record):
    first = record[0]
    count = 12 if trial.complete else 8
    lead = columns(first, count, path)
    formats = [INT_PATTERN] * 6 + [FLOAT_PATTERN] * 6
    for value, pattern in zip(lead, formats):
        expect(value is not None and re.fullmatch(pattern, value),
               f"{path}: trial {trial.number}: malformed column {value!r} in {first!r}")
    tab = [trial.number, trial.targets, trial.distracts, trial.borders, trial.blank,
           trial.instant, trial.wait, trial.angle] + trial.hits
    expect([float(v) for v in lead] == [float(v) for v in tab[:count]],
           f"{path}: trial {trial.number}: columns {lead} differ from the tab file's {tab}")
    if not trial.complete:
        expect(first == first[:count * COLUMN] and len(record) == 1,
               f"{path}: unfinished trial {trial.number} has more than its start: {record!r}")
        return
    rows = [first[LEAD:]] + [line[LEAD:] for line in record[1:]]
    for line in record[1:]:
        expect(line[:LEAD] == " " * LEAD,
               f"{path}: trial {trial.number}: continuation line without its 168 blanks: {line!r}")
    if rows == [""]:
        return  # no clicks, no targets, no distractors: the record is one line
    expect(rows[-1] == "", f"{path}: trial {trial.number}: last line is not 168 blanks alone")
    lists = ([], [], [])
    for index, row in enumerate(rows[:-1]):
        expect(len(row) == 6 * COLUMN - 1, f"{path}: trial {trial.number}: row {row!r} is not "
               "six 14-character columns")
        values = columns(row, 6, path)
        for k, (a, b) in enumerate(zip(values[0::2], values[1::2])):
            expect((a is None) == (b is None), f"{path}: half-blank pair in row {row!r}")
            if a is None:
                continue
            expect(len(lists[k]) == index,
                   f"{path}: trial {trial.number}: a list resumes after a blank in {row!r}")
            pattern = FLOAT_PATTERN if k == 0 else INT_PATTERN
            expect(re.fullmatch(pattern, a) and re.fullmatch(pattern, b),
                   f"{path}: trial {trial.number}: malformed pair {a!r} {b!r}")
            lists[k].append((float(a), float(b)) if k == 0 else (int(a), int(b)))
        expect(any(v is not None for v in values), f"{path}: an empty row: {row!r}")
    trial.clicks, trial.target_cells, trial.distract_cells = lists


def cellof(click, num_y):
    """The cell a click lands in: column and row truncated toward zero, as the hit test does."""
    return math.trunc(click[0]) * num_y + math.trunc(click[1])


# ---- the checks that tie it together ----


def checktrial(trial, design):
    """The record of one finished trial against the rules of the layout and the scoring."""
    n = trial.number
    nx, ny = design.num_x, design.num_y
    expect(trial.clicks == sorted(set(trial.clicks)),
           f"trial {n}: clicks not sorted and free of repeats: {trial.clicks}")
    expect(len(trial.target_cells) == trial.targets,
           f"trial {n}: {len(trial.target_cells)} target cells for {trial.targets} targets")
    expect(len(trial.distract_cells) == trial.distracts,
           f"trial {n}: {len(trial.distract_cells)} distractor cells for {trial.distracts}")
    cells = trial.target_cells + trial.distract_cells
    expect(len(set(cells)) == len(cells), f"trial {n}: a cell is used twice: {cells}")
    for x, y in cells:
        expect(0 <= x < nx and 0 <= y < ny and design.candidate(x, y),
               f"trial {n}: cell ({x}, {y}) is not one the layout may use")
    targets = {x * ny + y for x, y in trial.target_cells}
    distracts = {x * ny + y for x, y in trial.distract_cells}
    clicked = {cellof(c, ny) for c in trial.clicks}
    hit_t = len(clicked & targets)
    hit_d = len(clicked & distracts)
    expected = [hit_t, hit_d, len(clicked) - hit_t - hit_d, len(clicked)]
    expect(trial.hits == expected,
           f"trial {n}: scores {trial.hits}, but the clicks {trial.clicks} on targets "
           f"{sorted(targets)} and distractors {sorted(distracts)} give {expected}")


def checkdesign(trials, messages, design):
    """The run's trials against the trial set the design builds: every set line
    num_trials_per_set times, the per-set counts of borders, blank waits and instant shifts,
    the wait lengths dealt in turn, the angles of each condition taken from the end."""
    per_set = design.per_set
    expect(sorted((t.targets, t.distracts) for t in trials) ==
           sorted(s for s in design.sets for _ in range(per_set)),
           f"trials {[(t.targets, t.distracts) for t in trials]} do not match the sets "
           f"{design.sets} x {per_set}")
    expect([t.number for t in trials] == list(range(1, len(trials) + 1)),
           "trial numbers are not 1, 2, 3, ...")
    for s in set(design.sets):
        mine = [t for t in trials if (t.targets, t.distracts) == s]
        copies = design.sets.count(s)
        for flag, key in (("borders", "num_with_borders"), ("blank", "num_blank_wait"),
                          ("instant", "num_instant_shifts")):
            want = copies * min(per_set, design.number(key, 0))
            got = sum(getattr(t, flag) for t in mine)
            expect(got == want, f"set {s}: {got} trials with {flag}, expected {want}")
    waits = design.lists["wait_lengths"] or [0.0]
    dealt = sorted(waits[i % len(waits)] for i in range(len(design.sets) * per_set))
    expect(sorted(t.wait for t in trials) == sorted(round(w, 6) for w in dealt),
           f"wait lengths {sorted(t.wait for t in trials)}, expected {dealt}")
    angles = design.lists["rotation_angles"]
    taken = {}
    for t in trials:
        taken.setdefault(t.key(), []).append(t.angle)
    for key, got in taken.items():
        want = list(reversed(angles))[:len(got)]
        expect(got[:len(want)] == want,
               f"condition {key}: angles {got}, expected {want} (taken from the end)")
    expect(len(messages) == sum(max(0, len(g) - len(angles)) for g in taken.values()),
           f"unexpected message lines {messages}")


def checktally(stdout, trials):
    """The exit tally: sixteen lines for 9, 12, 15, 18 targets by distractors and an empty
    line, counting the trials started whose counts fall in the table."""
    want = []
    for i in range(16):
        t, d = (i // 4 + 3) * 3, (i % 4 + 3) * 3
        started = sum(1 for tr in trials if 9 <= tr.targets <= 20 and 9 <= tr.distracts <= 20 and
                      tr.targets // 3 * 3 == t and tr.distracts // 3 * 3 == d)
        want.append(f"{t} {d}: {started}")
    tally = "\n".join(want) + "\n\n"
    expect(stdout.endswith(tally), f"standard output does not end with the tally:\n{tally}"
           f"it ends with:\n{stdout[-400:]}")


# ---- the event log ----

EVENT_COLUMNS = ("onset duration trial event frame frames set_length frame_median_ms frame_max_ms "
                 "late_frames targets distractors borders blank instant wait_length rotate_angle "
                 "shift_x shift_y layout_ms seed_layout seed_cells x_px y_px grid_x grid_y col row "
                 "result rt targets_hit distracts_hit empty_hit total_hit score").split()
PHASES = ["WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"]


def readevents(path):
    """Parses the event log: the header, then one dict per row, every row 35 values and n/a
    as None. Returns the rows grouped by trial number, in file order."""
    with open(path) as f:
        lines = f.read().split("\n")
    expect(lines[0].split("\t") == EVENT_COLUMNS, f"{path}: header {lines[0]!r}")
    expect(lines[-1] == "", f"{path}: the last row has no line end")
    trials = {}
    for line in lines[1:-1]:
        cells = line.split("\t")
        expect(len(cells) == 35, f"{path}: a row of {len(cells)} values: {line!r}")
        row = {k: (None if v == "n/a" else v) for k, v in zip(EVENT_COLUMNS, cells)}
        trials.setdefault(int(row["trial"]), []).append(row)
    return trials


def checkevents(rows, trial, design, clicked):
    """The log of one finished trial against its records in both results files: the rows in
    their order, the condition, every click (`clicked` events in PICK) with its result, the hit
    counts, and phases that lasted at least their set lengths. Returns, per timed phase, the
    overshoot over its set length in median frame intervals."""
    n = trial.number
    kinds = [r["event"] for r in rows]
    expect(kinds == ["trial_start"] + PHASES + ["click"] * clicked + ["trial_end"],
           f"trial {n}: rows {kinds} for {clicked} clicks")
    onsets = [float(r["onset"]) for r in rows]
    expect(onsets == sorted(onsets), f"trial {n}: onsets out of order {onsets}")
    start = rows[0]
    condition = [float(start[k]) for k in ("targets", "distractors", "borders", "blank", "instant",
                                           "wait_length", "rotate_angle")]
    expect(condition == [trial.targets, trial.distracts, trial.borders, trial.blank,
                         trial.instant, trial.wait, trial.angle],
           f"trial {n}: trial_start {condition} differs from the tab file")
    lengths = [design.number("watch_length", 14.0), design.number("shift_length", 2.0),
               design.number("rotate_length", 2.0), trial.wait]
    overshoot = []
    for k, (row, following) in enumerate(zip(rows[1:6], onsets[2:6] + onsets[-1:])):
        onset, duration = float(row["onset"]), float(row["duration"])
        expect(abs(onset + duration - following) < 2e-6,
               f"trial {n}: {row['event']} does not last until the next row's onset")
        if k == 4:
            break
        expect(abs(float(row["set_length"]) - lengths[k]) < 1e-6,
               f"trial {n}: {row['event']} set_length {row['set_length']}, expected {lengths[k]}")
        # Timed from its first swap and tested after each swap, a phase is on screen for more
        # than its length and less than two of its frame intervals longer.
        longest = float(row["frame_max_ms"]) / 1000
        expect(lengths[k] <= duration < lengths[k] + 2 * longest,
               f"trial {n}: {row['event']} lasted {duration} s for {lengths[k]} s "
               f"(longest frame {longest} s)")
        overshoot.append((duration - lengths[k]) / (float(row["frame_median_ms"]) / 1000))
    clicks = rows[6:-1]
    points = sorted({(float(r["grid_x"]), float(r["grid_y"])) for r in clicks})
    expect(points == trial.clicks, f"trial {n}: clicks {points} in the log, {trial.clicks} in "
           "the coordinate file")
    ny = design.num_y
    targets = {x * ny + y for x, y in trial.target_cells}
    distracts = {x * ny + y for x, y in trial.distract_cells}
    seen = set()
    for r in clicks:
        x, y = float(r["grid_x"]), float(r["grid_y"])
        expect((math.trunc(x), math.trunc(y)) == (int(r["col"]), int(r["row"])),
               f"trial {n}: click {r} names another cell")
        cell = cellof((x, y), ny)  # repeats are told by cell number, as the hit test does
        want = ("repeat" if cell in seen else "target" if cell in targets else
                "distractor" if cell in distracts else "empty")
        seen.add(cell)
        expect(r["result"] == want, f"trial {n}: click on {cell} logged {r['result']}, is {want}")
        expect(abs(float(r["rt"]) - (float(r["onset"]) - onsets[5])) < 2e-6,
               f"trial {n}: rt {r['rt']} is not the time since PICK's onset")
    end = rows[-1]
    hits = [float(end[k]) for k in ("targets_hit", "distracts_hit", "empty_hit", "total_hit")]
    expect(hits == trial.hits and float(end["score"]) == hits[0] - hits[1] - hits[2],
           f"trial {n}: trial_end {hits} score {end['score']}, the tab file {trial.hits}")
    return overshoot
