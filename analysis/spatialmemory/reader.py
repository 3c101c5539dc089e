"""reader: one run's files read into tidy tables, and many runs into one study.

Owns the formats of what a run leaves in its data folder: the tab results file results<N>.txt
(settings echo, header, one line per trial, message lines for empty angle pools), the
coordinate results file results_coord<N>.txt (fixed-width columns, one record per trial over
several lines) and, when the program wrote one, the event log results_events<N>.tsv with its
sidecar results_events<N>.json. Every file is checked as it is read: what does not fit its
format raises ResultsError naming the file and line. A trial cut short by the end of the
program is read as far as it goes and flagged; what the files say that does not add up (a log
that disagrees with the results files, an empty angle pool) is kept as a note in `problems`.
Summaries and the report are left to summary.py and report.py.
"""

import glob
import json
import math
import os
import re

import pandas as pd

# ---- errors ----


class ResultsError(Exception):
    """A file that is not what the program writes: names the file and, when known, the line."""

    def __init__(self, path, line, message):
        super().__init__(message)
        self.path = path
        self.line = line
        self.message = message

    def __str__(self):
        where = f"{self.path}:{self.line}" if self.line else self.path
        return f"{where}: {self.message}"


# ---- formats ----

TAB_HEADER = ("trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
              "targets hit\tdistracts hit\tempty hit\ttotal hit")
COORD_NAMES = ["trial", "targets", "distrac", "borders", "blank", "instant", "waitlength",
               "rotate angle", "targets hit", "distracts hit", "empty hit", "total hit",
               "clicks X", "clicks Y", "targets X", "targets Y", "distractors X", "distractors Y"]
COORD_HEADER = " ".join(f"{name:<13}" for name in COORD_NAMES)
WIDTH = 13  # a coordinate-file value is left-aligned in at least 13 characters
LEAD = 12 * (WIDTH + 1)  # the blank trial columns that start a continuation line
EMPTY_POOL = "Trying to POP from an empty vector : "

# The twelve values of a trial line, under the names the tables use.
TRIAL_COLUMNS = ["trial", "targets", "distractors", "borders", "blank", "instant", "wait_length",
                 "rotate_angle", "targets_hit", "distracts_hit", "empty_hit", "total_hit"]
CONDITION = ["targets", "distractors", "borders", "blank", "instant", "wait_length",
             "rotate_angle"]

VALUE = re.compile(r"[^ ]+")  # a value in the coordinate file: anything but blanks
INT = re.compile(r"-?\d+")
FLOAT = re.compile(r"-?(\d+\.\d+|inf|nan)")

# Settings echo lines: key -> kind of value(s).
ECHO_INTS = {"num_instant_shifts", "num_with_borders", "num_blank_wait", "num_trials_per_set",
             "num_x", "num_y", "borderwidth"}
ECHO_RANGES = {"num_targets", "num_distracts"}
ECHO_FLOATS = {"depth_sep", "watch_length", "shift_length", "rotate_length"}
ECHO_COLOURS = {"discolsetstart", "tarcolsetstart"}
DEFAULT_NUM_X = 5  # the grid's columns when the settings do not give num_x
DEFAULT_NUM_Y = 5  # the grid's rows when the settings do not give num_y

EVENT_COLUMNS = [
    "onset", "duration", "trial", "event", "frame", "frames", "set_length", "frame_median_ms",
    "frame_max_ms", "late_frames", "targets", "distractors", "borders", "blank", "instant",
    "wait_length", "rotate_angle", "shift_x", "shift_y", "layout_ms", "seed_layout",
    "seed_cells", "x_px", "y_px", "grid_x", "grid_y", "col", "row", "result", "rt",
    "targets_hit", "distracts_hit", "empty_hit", "total_hit", "score", "button", "action", "key"]
# Every log begins with these; the program adds columns only after them (button, action and key
# came later), so a log with fewer of the known ones is read with the rest missing, and a
# column not known here is kept as text.
FIRST_EVENT_COLUMNS = EVENT_COLUMNS[:35]
EVENT_INTS = {"trial", "frame", "frames", "late_frames", "targets", "distractors", "borders",
              "blank", "instant", "shift_x", "shift_y", "seed_layout", "seed_cells", "x_px",
              "y_px", "col", "row", "button"}
EVENT_TEXTS = {"event", "result", "action", "key"}
PHASES = ["WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"]
EVENTS = ["trial_start"] + PHASES + ["early", "click", "trial_end"]
RESULTS = ["target", "distractor", "empty", "repeat", "off_grid", "wheel"]
ACTIONS = ["press", "release"]
# The columns each kind of row must fill.
EVENT_NEEDS = {
    "trial_start": ["targets", "distractors", "borders", "blank", "instant", "wait_length",
                    "rotate_angle", "shift_x", "shift_y", "layout_ms", "seed_layout",
                    "seed_cells"],
    "click": ["x_px", "y_px", "result", "rt"],
    "trial_end": ["targets_hit", "distracts_hit", "empty_hit", "total_hit", "score"],
    "PICK": ["duration", "frames", "late_frames"],
}
for _phase in PHASES[:-1]:
    EVENT_NEEDS[_phase] = EVENT_NEEDS["PICK"] + ["set_length"]

CLICK_COLUMNS = ["trial", "index", "source", "onset", "rt", "x_px", "y_px", "grid_x", "grid_y",
                 "col", "row", "cell", "on_grid", "result", "button", "action"]

RUN_FILE = re.compile(r"results(?:_coord|_events)?(\d+)\.(?:txt|tsv|json)$")


def intvalue(text, path, line, what):
    if not INT.fullmatch(text):
        raise ResultsError(path, line, f"{what}: {text!r} is not a whole number")
    return int(text)


def floatvalue(text, path, line, what):
    if not FLOAT.fullmatch(text):
        raise ResultsError(path, line, f"{what}: {text!r} is not a number")
    return float(text)


def readtext(path, encoding="ascii"):
    try:
        with open(path, encoding=encoding, newline="") as f:
            return f.read()
    except UnicodeDecodeError as e:
        line = None
        with open(path, "rb") as f:
            line = f.read()[:e.start].count(b"\n") + 1
        raise ResultsError(path, line, f"not a text file of the program (a byte that is not "
                           f"{encoding.upper()})") from None
    except OSError as e:
        raise ResultsError(path, None, f"cannot read: {e.strerror}") from None


def splitlines(text, path):
    """The file's lines, and whether its last line has its line end."""
    if "\r" in text:
        raise ResultsError(path, text[:text.index("\r")].count("\n") + 1,
                           "a carriage return: the file was saved with other line ends than "
                           "the program's (LF)")
    lines = text.split("\n")
    ended = lines[-1] == ""
    if ended:
        lines.pop()
    return lines, ended


# ---- the tab results file ----


def readsettings(lines, path):
    """The settings echo at the top of the tab results file, up to the header. Returns the
    settings (key -> value(s), a later echo of a key replacing an earlier one) and the index of
    the header line."""
    settings = {}
    colours = None  # the colour list being filled, after its block's opening line
    for index, line in enumerate(lines):
        number = index + 1
        if line == TAB_HEADER:
            return settings, index
        fields = line.split("\t")
        key = fields[0]
        if key in ECHO_COLOURS and len(fields) == 1:
            colours = settings[key] = []
            continue
        if colours is not None and INT.fullmatch(key) and len(fields) == 3:
            rgb = tuple(intvalue(v, path, number, "colour") for v in fields)
            if not all(0 <= v <= 255 for v in rgb):
                raise ResultsError(path, number, f"colour {line!r} outside 0 to 255")
            colours.append(rgb)
            continue
        colours = None
        if key in ECHO_INTS and len(fields) == 2:
            settings[key] = intvalue(fields[1], path, number, key)
        elif key in ECHO_RANGES and len(fields) == 3:
            settings[key] = tuple(intvalue(v, path, number, key) for v in fields[1:])
        elif key in ECHO_FLOATS and len(fields) == 2:
            settings[key] = floatvalue(fields[1], path, number, key)
        else:
            raise ResultsError(path, number, f"neither a settings line nor the header: {line!r}")
    raise ResultsError(path, len(lines) or 1, "no header line (\"trial\\ttargets\\t...\")" +
                       ("" if lines else ": the file is empty"))


def readtab(path):
    """Settings, trial rows (dicts with the line they came from) and the run's notes."""
    lines, ended = splitlines(readtext(path), path)
    settings, header = readsettings(lines, path)
    rows, notes = [], []
    empty_pool = None  # the message line waiting for the trial it belongs to
    for index in range(header + 1, len(lines)):
        line, number = lines[index], index + 1
        last = index == len(lines) - 1
        if line.startswith(EMPTY_POOL):
            if empty_pool:
                raise ResultsError(path, number, "two empty angle pool lines for one trial")
            empty_pool = (line[len(EMPTY_POOL):], number)
            continue
        if not line.endswith("\t"):
            raise ResultsError(path, number, f"a trial line ends with a tab; this one does not: "
                               f"{line!r}")
        fields = line[:-1].split("\t")
        cut = last and not ended and len(fields) == 8
        if len(fields) != 12 and not cut:
            raise ResultsError(path, number, f"a trial line has 12 values, this one "
                               f"{len(fields)} (only the last line of a run cut short may have "
                               "8 and no line end)")
        row = {"line": number, "complete": not cut, "angle_pool_empty": bool(empty_pool)}
        for i, (name, text) in enumerate(zip(TRIAL_COLUMNS, fields)):
            parse = intvalue if i < 6 else floatvalue
            row[name] = parse(text, path, number, f"column {i + 1} ({name})")
        expected = len(rows) + 1
        if row["trial"] != expected:
            raise ResultsError(path, number, f"trial {row['trial']} where trial {expected} "
                               "was due")
        if empty_pool:
            notes.append(f"{path}:{empty_pool[1]}: trial {row['trial']} found the angle pool of "
                         f"its condition ({empty_pool[0]}) empty; its rotation angle "
                         f"{row['rotate_angle']:g} is not one of the design's")
        empty_pool = None
        if cut:
            notes.append(f"{path}:{number}: trial {row['trial']} was cut short (no hit counts): "
                         "the program ended during it")
        rows.append(row)
    if empty_pool:
        notes.append(f"{path}:{empty_pool[1]}: an empty angle pool line with no trial after it")
    return settings, rows, notes


# ---- the coordinate results file ----


def scancolumns(line, start, count, path, number, closed):
    """Reads `count` columns from position `start` of a line: each a value left-aligned in at
    least 13 characters (a longer one widens its column) or 13 blanks, and a space after it
    (after the last one too, unless `closed`: the last column of a row ends the line). Returns
    the values (None for a blank column) and the position after them."""
    values, p = [], start
    for i in range(count):
        if line[p:p + WIDTH] == " " * WIDTH:
            values.append(None)
            end = p + WIDTH
        else:
            m = VALUE.match(line, p)
            if not m:
                raise ResultsError(path, number, f"column at character {p + 1} is neither a "
                                   "value nor 13 blanks")
            values.append(m.group())
            end = max(m.end(), p + WIDTH)
            if line[m.end():end] != " " * (end - m.end()):
                raise ResultsError(path, number, f"column at character {p + 1} is cut short")
        if i < count - 1 or not closed:
            if line[end:end + 1] != " ":
                raise ResultsError(path, number, f"no space after the column at character "
                                   f"{p + 1}")
            end += 1
        p = end
    return values, p


def readrow(line, start, path, number, record):
    """One row of columns 13 to 18 (a click, a target cell, a distractor cell, any of them
    blank once its list has run out), appended to the record's three lists."""
    values, p = scancolumns(line, start, 6, path, number, closed=True)
    if p != len(line):
        raise ResultsError(path, number, "more than six columns in a row of clicks and cells")
    if all(v is None for v in values):
        raise ResultsError(path, number, "a row of clicks and cells with nothing in it")
    for k, (a, b) in enumerate(zip(values[0::2], values[1::2])):
        what = ("click", "target cell", "distractor cell")[k]
        if (a is None) != (b is None):
            raise ResultsError(path, number, f"a {what} with one of its two values blank")
        if a is None:
            record["ended"][k] = True
            continue
        if record["ended"][k]:
            raise ResultsError(path, number, f"a {what} below a blank one")
        parse = floatvalue if k == 0 else intvalue
        record["lists"][k].append((parse(a, path, number, what), parse(b, path, number, what)))


def readcoord(path):
    """The coordinate file's records: for each, its line, lead values, and the click, target
    and distractor lists."""
    lines, ended = splitlines(readtext(path), path)
    if not lines or lines[0] != COORD_HEADER:
        raise ResultsError(path, 1, "not the coordinate file's header line")
    records = []
    index = 1
    while index < len(lines):
        line, number = lines[index], index + 1
        if line[:1] in ("", " "):
            raise ResultsError(path, number, "a line of clicks and cells outside any trial's "
                               "record")
        lead, p = scancolumns(line, 0, 8, path, number, closed=False)
        record = {"line": number, "lead": lead, "lists": ([], [], []), "ended": [False] * 3}
        records.append(record)
        index += 1
        if p == len(line):
            if index == len(lines) and not ended:
                record["complete"] = False  # cut short after its first eight columns
                break
            raise ResultsError(path, number, "a trial with 8 columns (only the last line of a "
                               "run cut short may stop there, without its line end)")
        hits, p = scancolumns(line, p, 4, path, number, closed=False)
        record["lead"] += hits
        record["complete"] = True
        if p == len(line):
            continue  # no clicks and no cells: the record is this one line
        readrow(line, p, path, number, record)
        while True:
            if index == len(lines):
                raise ResultsError(path, len(lines), "the last record of clicks and cells "
                                   "lacks its closing line of 168 blanks")
            line, number = lines[index], index + 1
            index += 1
            if line[:LEAD] != " " * LEAD:
                raise ResultsError(path, number, "a continuation line starts with 168 blanks; "
                                   "this one does not")
            if len(line) == LEAD:
                break
            readrow(line, LEAD, path, number, record)
    return records


# ---- the event log ----


def readevents(path):
    """The event log: a DataFrame of its rows (n/a read as missing), checked row by row, and
    notes. A last row without its line end was cut short by the end of the program: left out
    and noted."""
    lines, ended = splitlines(readtext(path, "utf-8"), path)
    header = lines[0].split("\t") if lines else []
    if header[:len(FIRST_EVENT_COLUMNS)] != FIRST_EVENT_COLUMNS:
        raise ResultsError(path, 1, "not the event log's header line (onset, duration, trial, ...)")
    extra = [name for name in header if name not in EVENT_COLUMNS]
    rows, notes = [], []
    if not ended and len(lines) > 1:
        notes.append(f"{path}:{len(lines)}: a row cut short (no line end): left out")
        lines.pop()
    for index, line in enumerate(lines[1:], 2):
        fields = line.split("\t")
        if len(fields) != len(header):
            raise ResultsError(path, index, f"{len(fields)} values; the header has {len(header)}")
        row = dict.fromkeys(EVENT_COLUMNS)
        for name, text in zip(header, fields):
            if text == "n/a":
                row[name] = None
            elif name in EVENT_TEXTS or name in extra:
                row[name] = text
            elif name in EVENT_INTS:
                row[name] = intvalue(text, path, index, name)
            else:
                row[name] = floatvalue(text, path, index, name)
        event = row["event"]
        if event not in EVENTS:
            raise ResultsError(path, index, f"unknown event {event!r}")
        if row["result"] is not None and row["result"] not in RESULTS:
            raise ResultsError(path, index, f"unknown click result {row['result']!r}")
        if row["action"] is not None and row["action"] not in ACTIONS:
            raise ResultsError(path, index, f"unknown click action {row['action']!r}")
        placed = ["grid_x", "grid_y", "col", "row"] if event == "click" and \
            row["result"] != "wheel" else []  # the wheel has no place on the grid
        for name in ["onset", "trial", "frame"] + EVENT_NEEDS.get(event, []) + placed:
            if row[name] is None:
                raise ResultsError(path, index, f"a {event} row without its {name}")
        row["line"] = index
        rows.append(row)
    frame = pd.DataFrame(rows, columns=EVENT_COLUMNS + extra + ["line"])
    for name in EVENT_INTS:
        frame[name] = frame[name].astype("Int64")
    for name in set(EVENT_COLUMNS) - EVENT_INTS - EVENT_TEXTS:
        frame[name] = frame[name].astype(float)
    return frame, notes


def readsidecar(path):
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
    except json.JSONDecodeError as e:
        raise ResultsError(path, e.lineno, f"not JSON: {e.msg}") from None
    except (OSError, UnicodeDecodeError) as e:
        raise ResultsError(path, None, f"cannot read: {e}") from None
    if not isinstance(value, dict):
        raise ResultsError(path, 1, "the sidecar is one JSON object")
    # From version 1.2.0 the run's facts stand in an object of their own beside the columns.
    own = value.get("spatialmemory")
    return own if isinstance(own, dict) else value


def floorscored(sidecar):
    """Whether the run's clicks were scored by the grid position rounded down and tested
    against the grid (version 1.2.0 on); earlier runs cut toward zero and never tested."""
    version = (sidecar or {}).get("version")
    try:
        return tuple(int(p) for p in str(version).split(".")[:3]) >= (1, 2, 0)
    except ValueError:
        return False


# ---- one run ----


def cellresults(clicks, targets, distracts, num_y, num_x=None):
    """The result of each click as the hit test gives it, in the order given: the first click
    on a cell gets what the cell holds, a later one on the same cell 'repeat'. A cell is
    column x num_y + row, column and row the click's grid position truncated toward zero; a
    click that is not a number has no result. With num_x (runs of version 1.2.0 on), column and
    row are rounded down instead, and a click outside the grid is 'off_grid'."""
    targets = {x * num_y + y for x, y in targets}
    distracts = {x * num_y + y for x, y in distracts}
    taken, results = set(), []
    for gx, gy in clicks:
        if math.isnan(gx) or math.isnan(gy) or math.isinf(gx) or math.isinf(gy):
            results.append(None)
            continue
        if num_x is not None:
            col, row = math.floor(gx), math.floor(gy)
            if not (0 <= col < num_x and 0 <= row < num_y):
                results.append("off_grid")
                continue
        cell = (math.floor(gx) * num_y + math.floor(gy) if num_x is not None else
                math.trunc(gx) * num_y + math.trunc(gy))
        if cell in taken:
            results.append("repeat")
        else:
            taken.add(cell)
            results.append("target" if cell in targets else
                           "distractor" if cell in distracts else "empty")
    return results


class Run:
    """One run: its settings as the echo stored them and its tables.

    folder, number: where the run's files are and its run number N.
    files: paths of the "results", "coord", "events" and "sidecar" files (None when absent).
    settings: the settings echo (key -> int, float, (low, high) or a list of (r, g, b)).
    sidecar: the run's facts from the event log's sidecar (a dict) or None.
    scored_num_x: num_x when the run scored clicks off the grid as such (1.2.0 on), else None.
    trials, cells, clicks, events: DataFrames (events empty without a log).
    problems: notes of what does not add up, each naming its file and line.
    """

    def __init__(self, folder, number):
        self.folder = folder
        self.number = number
        self.files = {}
        self.settings = {}
        self.sidecar = None
        self.scored_num_x = None
        self.problems = []

    @property
    def has_log(self):
        return self.files.get("events") is not None

    def note(self, message):
        self.problems.append(message)


def runfiles(folder, number):
    def there(name):
        path = os.path.join(folder, name)
        return path if os.path.exists(path) else None

    return {"results": os.path.join(folder, f"results{number}.txt"),
            "coord": there(f"results_coord{number}.txt"),
            "events": there(f"results_events{number}.tsv"),
            "sidecar": there(f"results_events{number}.json")}


def read_run(path):
    """One run from its tab results file (or any of its files): the coordinate file and the
    event log beside it are read when they are there. Raises ResultsError for a malformed
    file."""
    folder, number = splitrunpath(path)
    run = Run(folder, number)
    run.files = runfiles(folder, number)
    tab = run.files["results"]
    if not os.path.exists(tab):
        raise ResultsError(tab, None, "no such file (every run has its tab results file)")
    run.settings, rows, notes = readtab(tab)
    run.problems += notes
    num_y = run.settings.get("num_y", DEFAULT_NUM_Y)
    if run.files["events"] and run.files["sidecar"]:
        run.sidecar = readsidecar(run.files["sidecar"])
    # The grid's columns where the run scored clicks off it as such; None where it did not.
    run.scored_num_x = (run.settings.get("num_x", DEFAULT_NUM_X) if floorscored(run.sidecar)
                        else None)
    trials = pd.DataFrame(rows, columns=TRIAL_COLUMNS + ["complete", "angle_pool_empty", "line"])
    trials.insert(12, "score", trials["targets_hit"] - trials["distracts_hit"] -
                  trials["empty_hit"])
    cells, clicks = [], []
    if run.files["coord"]:
        records = readcoord(run.files["coord"])
        matchrecords(run, rows, records)
        for row, record in zip(rows, records):
            cells += cellrows(row["trial"], record["lists"], num_y)
            clicks += coordclicks(run, row, record, num_y)
    else:
        run.note(f"{tab}: no coordinate file results_coord{number}.txt beside it: no cells and "
                 "no clicks")
    run.cells = pd.DataFrame(cells, columns=["trial", "kind", "index", "col", "row", "cell"])
    run.events = pd.DataFrame(columns=EVENT_COLUMNS)
    if run.files["events"]:
        run.events, notes = readevents(run.files["events"])
        run.problems += notes
        if not run.files["sidecar"]:
            run.note(f"{run.files['events']}: no sidecar results_events{number}.json beside it")
        trials = addlog(run, trials, run.events)
        # The wheel never clicks: its rows have no place on the grid.
        logclicks = run.events[(run.events["event"] == "click") &
                               (run.events["result"] != "wheel")]
        checkclicks(run, rows, clicks, logclicks, run.cells, num_y)
        clicks = [{"trial": int(c.trial), "index": k + 1, "source": "log",
                   "onset": c.onset, "rt": c.rt, "x_px": c.x_px, "y_px": c.y_px,
                   "grid_x": c.grid_x, "grid_y": c.grid_y, "col": c.col, "row": c.row,
                   "cell": int(c.col) * num_y + int(c.row), "result": c.result,
                   "button": c.button, "action": c.action}
                  for _, group in logclicks.groupby("trial", sort=False)
                  for k, c in enumerate(group.itertuples())]
    run.clicks = pd.DataFrame(clicks, columns=CLICK_COLUMNS)
    for name in ("col", "row", "cell", "x_px", "y_px", "button"):
        run.clicks[name] = run.clicks[name].astype("Int64")
    # The hit test truncates toward zero and never tests the bounds, so a click up to a cell
    # beyond the left or bottom edge is judged as on the edge's cells, and one beyond the top
    # as on the next column's bottom cell: only the position tells where the click really was.
    num_x = run.settings.get("num_x", DEFAULT_NUM_X)
    run.clicks["on_grid"] = (run.clicks.grid_x.between(0, num_x, inclusive="left") &
                             run.clicks.grid_y.between(0, num_y, inclusive="left"))
    run.trials = trials.drop(columns=["line"])
    return run


def matchrecords(run, rows, records):
    """The coordinate file must hold the same trials as the tab file, value for value."""
    coord = run.files["coord"]
    if len(records) > len(rows):
        raise ResultsError(coord, records[len(rows)]["line"], f"a record of trial "
                           f"{len(rows) + 1}, which {run.files['results']} does not have")
    if len(records) < len(rows):
        row = rows[len(records)]
        raise ResultsError(run.files["results"], row["line"], f"trial {row['trial']} has no "
                           f"record in {coord}")
    for row, record in zip(rows, records):
        number = record["line"]
        if record["complete"] != row["complete"]:
            raise ResultsError(coord, number, f"trial {row['trial']} is "
                               f"{'complete' if record['complete'] else 'cut short'} here but "
                               f"not at line {row['line']} of {run.files['results']}")
        for i, (name, text) in enumerate(zip(TRIAL_COLUMNS, record["lead"])):
            parse = intvalue if i < 6 else floatvalue
            value = parse(text, coord, number, f"column {i + 1} ({name})")
            if value != row[name] and not (math.isnan(value) and math.isnan(row[name])):
                raise ResultsError(coord, number, f"{name} {text} differs from {row[name]:g} "
                                   f"at line {row['line']} of {run.files['results']}")


def cellrows(trial, lists, num_y):
    out = []
    for kind, cells in (("target", lists[1]), ("distractor", lists[2])):
        for k, (col, row) in enumerate(cells):
            out.append({"trial": trial, "kind": kind, "index": k + 1, "col": col, "row": row,
                        "cell": col * num_y + row})
    return out


def coordclicks(run, row, record, num_y):
    """A trial's clicks from the coordinate file, in the order written there (sorted, equal
    pairs once), with each one's result worked out from the cells; the trial's hit counts
    must follow from them."""
    clicks, targets, distracts = record["lists"]
    results = cellresults(clicks, targets, distracts, num_y, run.scored_num_x)
    cut = math.trunc if run.scored_num_x is None else math.floor
    out = []
    for k, ((gx, gy), result) in enumerate(zip(clicks, results)):
        known = result is not None
        out.append({"trial": row["trial"], "index": k + 1, "source": "coord", "onset": None,
                    "rt": None, "x_px": None, "y_px": None, "grid_x": gx, "grid_y": gy,
                    "col": cut(gx) if known else None,
                    "row": cut(gy) if known else None,
                    "cell": cut(gx) * num_y + cut(gy) if known else None,
                    "result": result, "button": None, "action": None})
    for kind, cells, want in (("target", targets, row["targets"]),
                              ("distractor", distracts, row["distractors"])):
        if row["complete"] and len(cells) != want:
            run.note(f"{run.files['coord']}:{record['line']}: trial {row['trial']} has "
                     f"{len(cells)} {kind} cells for {want} {kind}s")
    if row["complete"]:
        counts = [results.count("target"), results.count("distractor"), results.count("empty")]
        stated = [row["targets_hit"], row["distracts_hit"], row["empty_hit"]]
        if counts != stated:
            run.note(f"{run.files['coord']}:{record['line']}: trial {row['trial']}: its clicks "
                     f"and cells give {counts[0]} target, {counts[1]} distractor and {counts[2]} "
                     f"empty hits; {run.files['results']} says {stated[0]:g}, {stated[1]:g}, "
                     f"{stated[2]:g}")
    return out


# ---- the log beside the results files ----

LOG_TRIAL_COLUMNS = ["onset", "shift_x", "shift_y", "layout_ms", "seed_layout", "seed_cells"]
DURATIONS = {phase: phase.lower() + "_duration" for phase in PHASES}


def addlog(run, trials, events):
    """The trials table with what the log adds (start onset, shift, seeds, phase durations,
    first-click time); notes where the log and the results files disagree."""
    log = run.files["events"]
    starts = events[events["event"] == "trial_start"].set_index("trial")
    ends = events[events["event"] == "trial_end"].set_index("trial")
    for frame, what in ((starts, "trial_start"), (ends, "trial_end")):
        twice = frame.index[frame.index.duplicated()]
        if len(twice):
            line = frame.loc[twice[0], "line"].iloc[-1]
            raise ResultsError(log, int(line), f"a second {what} row for trial {twice[0]}")
    known = set(trials["trial"])
    for trial, line in events[["trial", "line"]].itertuples(index=False):
        if trial not in known:
            run.note(f"{log}:{line}: trial {trial} is not in {run.files['results']}")
            break
    extra = pd.DataFrame(index=trials["trial"])
    extra["trial_onset"] = starts["onset"]
    for name in LOG_TRIAL_COLUMNS[1:]:
        extra[name] = starts[name]
    for phase in PHASES:
        rows = events[events["event"] == phase].drop_duplicates("trial").set_index("trial")
        extra[DURATIONS[phase]] = rows["duration"]
    # The first press: a button held down since before PICK shows first as a release.
    clicks = events[(events["event"] == "click") & (events["action"] != "release") &
                    (events["result"] != "wheel")]
    extra["first_click_rt"] = clicks.drop_duplicates("trial").set_index("trial")["rt"]
    for row in trials.itertuples():
        t = row.trial
        where = f"{run.files['results']}:{row.line}: trial {t}"
        if t not in starts.index:
            run.note(f"{where} has no trial_start row in {log}")
            continue
        start = starts.loc[t]
        for name in CONDITION:
            if not same(start[name], getattr(row, name)):
                run.note(f"{where}: {name} {getattr(row, name):g}, but {start[name]:g} in the "
                         f"log ({log}:{start['line']})")
        if row.complete and t not in ends.index:
            run.note(f"{where} is complete, but {log} has no trial_end row for it")
        elif t in ends.index and not row.complete:
            run.note(f"{where} was cut short, but {log}:{ends.loc[t, 'line']} ends it")
        elif t in ends.index:
            end = ends.loc[t]
            for name in TRIAL_COLUMNS[8:]:
                if not same(end[name], getattr(row, name)):
                    run.note(f"{where}: {name} {getattr(row, name):g}, but {end[name]:g} in "
                             f"the log ({log}:{end['line']})")
    return trials.join(extra, on="trial")


def same(a, b):
    return round(float(a), 6) == round(float(b), 6)


def checkclicks(run, rows, coordclicks, logclicks, cells, num_y):
    """The log's clicks against the coordinate file's (the same positions, once each) and its
    results against the cells the coordinate file gives."""
    log, coord = run.files["events"], run.files["coord"]
    if not coord:
        return
    for row in rows:
        t = row["trial"]
        if not row["complete"]:
            continue
        mine = logclicks[logclicks["trial"] == t]
        logged = sorted({(round(x, 6), round(y, 6)) for x, y in zip(mine.grid_x, mine.grid_y)})
        written = sorted({(round(c["grid_x"], 6), round(c["grid_y"], 6))
                          for c in coordclicks if c["trial"] == t})
        if logged != written:
            run.note(f"{log}: trial {t}: {len(logged)} click positions in the log, "
                     f"{len(written)} in {coord}, and they differ")
            continue
        lists = [list(zip(group.col, group.row)) for group in
                 (cells[(cells.trial == t) & (cells.kind == kind)]
                  for kind in ("target", "distractor"))]
        expected = cellresults(list(zip(mine.col.astype(float), mine.row.astype(float))),
                               lists[0], lists[1], num_y, run.scored_num_x)
        for result, want, line in zip(mine.result, expected, mine.line):
            if result != want:
                run.note(f"{log}:{line}: trial {t}: a click logged as {result}, which the "
                         f"cells in {coord} make {want}")
                break


# ---- finding runs ----


def splitrunpath(path):
    """(folder, run number) of any of a run's files."""
    m = RUN_FILE.fullmatch(os.path.basename(path))
    if not m:
        raise ResultsError(path, None, "not a results file (results<N>.txt, "
                           "results_coord<N>.txt or results_events<N>.tsv)")
    return os.path.normpath(os.path.dirname(path) or "."), int(m.group(1))


def find_runs(paths):
    """The runs named by files, folders (every results<N>.txt in it) and glob patterns, each
    once, in the order given: a list of paths of tab results files."""
    found = []

    def add(path):
        folder, number = splitrunpath(path)
        tab = os.path.join(folder, f"results{number}.txt")
        if tab not in found:
            found.append(tab)

    for given in paths:
        if os.path.isdir(given):
            names = [n for n in os.listdir(given) if re.fullmatch(r"results\d+\.txt", n)]
            if not names:
                raise ResultsError(given, None, "no results<N>.txt in this folder")
            for name in sorted(names, key=lambda n: int(n[7:-4])):
                add(os.path.join(given, name))
        elif os.path.exists(given):
            add(given)
        else:
            matches = sorted(glob.glob(given))
            if not matches:
                raise ResultsError(given, None, "no such file or folder")
            for match in matches:
                if os.path.isdir(match):
                    for tab in find_runs([match]):
                        if tab not in found:
                            found.append(tab)
                elif RUN_FILE.fullmatch(os.path.basename(match)):
                    add(match)
    return found


# ---- many runs ----


class Study:
    """Many runs in one set of tables, each row marked with its run's folder and number."""

    def __init__(self, runs):
        self.runs = list(runs)
        self.problems = [p for run in self.runs for p in run.problems]
        for name in ("trials", "cells", "clicks", "events"):
            parts = []
            for run in self.runs:
                table = getattr(run, name).copy()
                table.insert(0, "run", run.number)
                table.insert(0, "folder", run.folder)
                parts.append(table)
            setattr(self, name, pd.concat(parts, ignore_index=True) if parts else
                    pd.DataFrame(columns=["folder", "run"]))


def read_study(paths, progress=None):
    """Many runs (files, folders, glob patterns) into one Study. `progress`, when given, is
    called with (index from 1, count, path) before each run is read."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    tabs = find_runs([os.fspath(p) for p in paths])
    runs = []
    for i, tab in enumerate(tabs, 1):
        if progress:
            progress(i, len(tabs), tab)
        runs.append(read_run(tab))
    return Study(runs)
