"""reader: one run's files read into tidy tables, and many runs into one study.

Owns the formats of what a run leaves in its data folder: the tab results file results<N>.txt
(settings echo, header, one line per trial, message lines for empty angle pools), the
coordinate results file results_coord<N>.txt (fixed-width columns, one record per trial over
several lines) and, when the program wrote one, the event log results_events<N>.tsv with its
sidecar results_events<N>.json.

Reading goes in two steps. Each file is first read on its own, line by line, and checked
against its format: what does not fit raises ResultsError naming the file and line. Then the
files of all the runs read together are put into tables at once, and the checks across files
and trials are grouped operations on those tables, so a study of a thousand runs costs little
more than its files' size. A run whose results files disagree is left out with a
ResultsError; a log that disagrees with its results files is refused (`refused`) and the run is
read from its results files; what only needs saying (a trial cut short, an empty angle pool) is
a note in `problems`. Summaries and the report are left to summary.py and report.py.
"""

import csv
import glob
import io
import json
import os
import re
import stat
import types
from urllib.parse import unquote_to_bytes

import numpy as np
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
HIT_COLUMNS = TRIAL_COLUMNS[8:]
CONDITION = ["targets", "distractors", "borders", "blank", "instant", "wait_length",
             "rotate_angle"]

VALUE = re.compile(r"[^ ]+")  # a value in the coordinate file: anything but blanks
DIGITS = 15  # whole numbers have at most 15 digits, which a double holds exactly
INT = re.compile(r"-?[0-9]{1,15}")
FLOAT = re.compile(r"-?([0-9]{1,30}\.[0-9]{1,30}|inf|nan)")

# Settings echo lines: key -> kind of value(s).
ECHO_INTS = {"num_instant_shifts", "num_with_borders", "num_blank_wait", "num_trials_per_set",
             "num_x", "num_y", "borderwidth"}
ECHO_RANGES = {"num_targets", "num_distracts"}
ECHO_FLOATS = {"depth_sep", "watch_length", "shift_length", "rotate_length"}
ECHO_COLOURS = {"discolsetstart", "tarcolsetstart"}
DEFAULT_NUM_X = 5  # the grid's columns when the settings do not give num_x
DEFAULT_NUM_Y = 5  # the grid's rows when the settings do not give num_y
MAX_GRID = 512  # the experiment lays out at most 512 columns and rows

EVENT_COLUMNS = [
    "onset", "duration", "trial", "event", "frame", "frames", "set_length", "frame_median_ms",
    "frame_max_ms", "late_frames", "targets", "distractors", "borders", "blank", "instant",
    "wait_length", "rotate_angle", "shift_x", "shift_y", "layout_ms", "seed_layout",
    "seed_cells", "x_px", "y_px", "grid_x", "grid_y", "col", "row", "result", "rt",
    "targets_hit", "distracts_hit", "empty_hit", "total_hit", "score", "button", "action", "key"]
# Every log begins with these; the program adds columns only after them (button and action,
# then key, came later), so a log with fewer of the known ones is read with the rest missing,
# and a column not known here is kept as text.
FIRST_EVENT_COLUMNS = EVENT_COLUMNS[:35]
EVENT_INTS = {"trial", "frame", "frames", "late_frames", "targets", "distractors", "borders",
              "blank", "instant", "shift_x", "shift_y", "seed_layout", "seed_cells", "x_px",
              "y_px", "col", "row", "button"}
EVENT_TEXTS = {"event", "result", "action", "key"}
EVENT_FLOATS = [c for c in EVENT_COLUMNS if c not in EVENT_INTS and c not in EVENT_TEXTS]
MAX_LOG_COLUMNS = 1000  # a log's header names fewer columns than this
# Names the reader gives columns of its own: a log column of one of these names is refused.
ADDED_COLUMNS = {"line", "folder", "run"}
PHASES = ["WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"]
# A browser's page leaving full screen or hidden during a trial, and its return: never input.
PAGE_EVENTS = ["fullscreen_left", "fullscreen_back", "page_hidden", "page_shown"]
AWAY_EVENTS = ["fullscreen_left", "page_hidden"]
EVENTS = ["trial_start"] + PHASES + ["early", "click", "trial_end"] + PAGE_EVENTS  # as the
# sidecar lists them
RESULTS = ["target", "distractor", "empty", "repeat", "off_grid", "wheel"]
ACTIONS = ["press", "release"]
WHEEL_BUTTONS = (3, 4)  # the toolkit reports the wheel as presses and releases of these
# The columns each kind of row must fill (besides onset, trial and event).
EVENT_NEEDS = {
    "trial_start": ["frame"] + CONDITION + ["shift_x", "shift_y", "layout_ms", "seed_layout",
                                            "seed_cells"],
    "click": ["frame", "x_px", "y_px", "result", "rt"],
    "trial_end": ["frame"] + HIT_COLUMNS + ["score"],
    "PICK": ["frame", "duration", "frames", "late_frames"],
}
for _phase in PHASES[:-1]:
    EVENT_NEEDS[_phase] = EVENT_NEEDS["PICK"] + ["set_length"]
CLICK_PLACE = ["grid_x", "grid_y", "col", "row"]  # filled by every click row but the wheel's

CLICK_COLUMNS = ["trial", "index", "source", "onset", "rt", "x_px", "y_px", "grid_x", "grid_y",
                 "col", "row", "cell", "on_grid", "result", "button", "action"]
CELL_COLUMNS = ["trial", "kind", "index", "col", "row", "cell"]
DURATIONS = {phase: phase.lower() + "_duration" for phase in PHASES}
LOG_TRIAL_COLUMNS = (["trial_onset", "shift_x", "shift_y", "layout_ms", "seed_layout",
                      "seed_cells"] + list(DURATIONS.values()) + ["first_click_rt",
                                                                  "early_inputs",
                                                                  "interruptions"])
# Added to a study's tables, before each table's own columns.
STUDY_COLUMNS = ["folder", "run"]
PARTICIPANT_COLUMNS = ["participant", "session"]

# A run number as the program counts them: no sign, no leading zero, an int.
RUN_FILE = re.compile(r"results(?:_coord|_events)?(0|[1-9][0-9]{0,8})\.(?:txt|tsv|json)$")
TAB_FILE = re.compile(r"results(0|[1-9][0-9]{0,8})\.txt")

# From this version on, a click is scored at the cell its position rounds down to and only
# when that cell is on the grid, the wheel is not a click, and input before PICK is on screen
# is logged as early. Earlier versions cut the position toward zero and scored any click.
FLOOR_SCORING = (1, 2, 0)


# ---- reading a file ----

QUOTE_LIMIT = 200  # characters of a bad line or value quoted in a message


def clip(text):
    """A text to show in a message: at most QUOTE_LIMIT characters of it."""
    return text if len(text) <= QUOTE_LIMIT else \
        f"{text[:QUOTE_LIMIT]}... ({len(text)} characters)"


def quote(text):
    return repr(text) if len(text) <= QUOTE_LIMIT else \
        f"{text[:QUOTE_LIMIT]!r}... ({len(text)} characters)"


def oneline(text):
    """A text as one line of printable characters: control characters escaped, and the bytes
    of a name that are not UTF-8 (or a lone surrogate from a JSON escape) as \\xNN."""
    try:
        data = text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:
        data = text.encode("utf-8", "backslashreplace")
    return CONTROL.sub(lambda m: repr(m.group())[1:-1], data.decode("utf-8", "backslashreplace"))


CONTROL = re.compile(r"[\x00-\x1f\x7f]")


def intvalue(text, path, line, what):
    if not INT.fullmatch(text):
        raise ResultsError(path, line, f"{what}: {quote(text)} is not a whole number of at most "
                           f"{DIGITS} digits")
    return int(text)


def floatvalue(text, path, line, what):
    if not FLOAT.fullmatch(text):
        raise ResultsError(path, line, f"{what}: {quote(text)} is not a number")
    return float(text)


def lineof(text, position):
    return text.count("\n", 0, position) + 1


def readtext(path, encoding="ascii", lines=True):
    """A file's text. Only a regular file is opened: a pipe or a device under a run's name
    would hang the reader or feed it without end. A file of `lines` has the program's line
    ends (LF alone)."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            raise ResultsError(path, None, "not a regular file")
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise ResultsError(path, None, f"cannot read: {e.strerror}") from None
    try:
        text = data.decode(encoding)
    except UnicodeDecodeError as e:
        raise ResultsError(path, data.count(b"\n", 0, e.start) + 1, "not a text file of the "
                           f"program (a byte that is not {encoding.upper()})") from None
    for char, what in (("\0", "a NUL byte: not a text file of the program"),
                       ("\r" if lines else "\0", "a carriage return: the file was saved with "
                                                  "other line ends than the program's (LF)")):
        if char in text:
            raise ResultsError(path, lineof(text, text.index(char)), what)
    return text


def splitlines(text):
    """The file's lines, and whether its last line has its line end."""
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
                raise ResultsError(path, number, f"colour {quote(line)} outside 0 to 255")
            colours.append(rgb)
            continue
        colours = None
        if key in ECHO_INTS and len(fields) == 2:
            settings[key] = intvalue(fields[1], path, number, key)
            if key in ("num_x", "num_y") and not 1 <= settings[key] <= MAX_GRID:
                raise ResultsError(path, number, f"{key} {settings[key]} outside 1 to "
                                   f"{MAX_GRID}: no run lays out such a grid")
        elif key in ECHO_RANGES and len(fields) == 3:
            settings[key] = tuple(intvalue(v, path, number, key) for v in fields[1:])
        elif key in ECHO_FLOATS and len(fields) == 2:
            settings[key] = floatvalue(fields[1], path, number, key)
        else:
            raise ResultsError(path, number, "neither a settings line nor the header: "
                               f"{quote(line)}")
    raise ResultsError(path, len(lines) or 1, "no header line (\"trial\\ttargets\\t...\")" +
                       ("" if lines else ": the file is empty"))


def readtab(path):
    """Settings, trial rows (tuples of the twelve values, whether complete, whether the angle
    pool was empty, and the line), notes, and where the file was cut short ((line, trial or
    None), or None when its last line has its line end). A last line without its line end is
    the trial the program was writing when it ended: it keeps the values written in full
    (each followed by its tab) and has no hit counts; cut before its eighth value, it says too
    little to keep."""
    lines, ended = splitlines(readtext(path))
    settings, header = readsettings(lines, path)
    rows, notes, cut = [], [], None
    empty_pool = None  # the message line waiting for the trial it belongs to
    for index in range(header + 1, len(lines)):
        line, number = lines[index], index + 1
        if index == len(lines) - 1 and not ended:
            cut = (number, None)
        if line.startswith(EMPTY_POOL):
            if empty_pool:
                raise ResultsError(path, number, "two empty angle pool lines for one trial")
            empty_pool = (line[len(EMPTY_POOL):], number)
            continue
        if cut:
            fields = line.split("\t")[:-1]  # the values written in full
            if len(fields) < 8:
                notes.append(f"{path}:{number}: the last trial line was cut short before its "
                             "condition was written in full: left out")
                break
            fields = fields[:8] + [None] * 4
        else:
            if not line.endswith("\t"):
                raise ResultsError(path, number, "a trial line ends with a tab; this one does "
                                   f"not: {quote(line)}")
            fields = line[:-1].split("\t")
            if len(fields) != 12:
                raise ResultsError(path, number, f"a trial line has 12 values, this one "
                                   f"{len(fields)} (only the last line of a run cut short may "
                                   "have fewer, and no line end)")
        values = [None if text is None else
                  (intvalue if i < 6 else floatvalue)(text, path, number,
                                                      f"column {i + 1} ({TRIAL_COLUMNS[i]})")
                  for i, text in enumerate(fields)]
        if values[0] != len(rows) + 1:
            raise ResultsError(path, number, f"trial {values[0]} where trial {len(rows) + 1} "
                               "was due")
        if empty_pool:
            notes.append(f"{path}:{empty_pool[1]}: trial {values[0]} found the angle pool of "
                         f"its condition ({clip(empty_pool[0])}) empty; its rotation angle "
                         f"{values[7]:g} is not one of the design's")
        if cut:
            cut = (number, values[0])
        rows.append((*values, not cut, bool(empty_pool), number))
        empty_pool = None
    if empty_pool:
        notes.append(f"{path}:{empty_pool[1]}: an empty angle pool line with no trial after it")
    return settings, rows, notes, cut


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


def fixedcolumns(line, start, count, closed):
    """The `count` columns from position `start` of a line whose values are no wider than 13
    characters, the common case, read by their fixed places; None when the line is not laid
    out so (scancolumns then reads it and names what is wrong)."""
    size = count * (WIDTH + 1) - closed
    if len(line) < start + size or (closed and len(line) != start + size) or \
            line[start + WIDTH:start + size:WIDTH + 1] != " " * (count - closed):
        return None
    values = [line[p:p + WIDTH].rstrip(" ") or None for p in range(start, start + size,
                                                                      WIDTH + 1)]
    if any(v and " " in v for v in values):
        return None
    return values


def columns(line, start, count, path, number, closed):
    """As scancolumns, by the fixed places when they fit."""
    values = fixedcolumns(line, start, count, closed)
    if values is None:
        return scancolumns(line, start, count, path, number, closed)
    return values, start + count * (WIDTH + 1) - closed


ITEMS = ("click", "target cell", "distractor cell")


def readrow(line, start, path, number, record):
    """One row of columns 13 to 18 (a click, a target cell, a distractor cell, any of them
    blank once its list has run out), appended as texts to the record's three lists."""
    values, p = columns(line, start, 6, path, number, closed=True)
    if p != len(line):
        raise ResultsError(path, number, "more than six columns in a row of clicks and cells")
    if values == [None] * 6:
        raise ResultsError(path, number, "a row of clicks and cells with nothing in it")
    for k in range(3):
        a, b = values[2 * k], values[2 * k + 1]
        if (a is None) != (b is None):
            raise ResultsError(path, number, f"a {ITEMS[k]} with one of its two values blank")
        if a is None:
            record["ended"][k] = True
        elif record["ended"][k]:
            raise ResultsError(path, number, f"a {ITEMS[k]} below a blank one")
        else:
            record["texts"][k].append((a, b, number))


FLOATS = re.compile(f"(?:(?:{FLOAT.pattern})\n)*+")
INTS = re.compile(f"(?:(?:{INT.pattern})\n)*+")


def numbers(texts, parse, path):
    """The numbers of many (text, line, what), checked together: (values, None), or (None,
    the ResultsError of the first that is not a number)."""
    joined = "".join(text + "\n" for text, _, _ in texts)
    if (FLOATS if parse is floatvalue else INTS).fullmatch(joined):
        return list(map(float if parse is floatvalue else int, (t for t, _, _ in texts))), None
    for text, line, what in texts:
        try:
            parse(text, path, line, what)
        except ResultsError as e:
            return None, e
    raise AssertionError("numbers found a text that is no number and then none")


def parsecoord(records, path):
    """The texts of every record's lead values and lists made numbers, all checked together;
    the first that is not a number (by line) raises its ResultsError."""
    lead = [[], []]  # whole numbers (columns 1 to 6) and the others: (text, line, what)
    items = [[], []]  # the clicks' coordinates, the cells'
    for record in records:
        for i, text in enumerate(record["lead"]):
            lead[i >= 6].append((text, record["line"], f"column {i + 1} ({TRIAL_COLUMNS[i]})"))
        for k, texts in enumerate(record["texts"]):
            items[k > 0] += [(t, n, ITEMS[k]) for a, b, n in texts for t in (a, b)]
    done = [numbers(texts, parse, path) for texts, parse in
            ((lead[0], intvalue), (lead[1], floatvalue), (items[0], floatvalue),
             (items[1], intvalue))]
    errors = [e for _, e in done if e]
    if errors:
        raise min(errors, key=lambda e: e.line)
    wholes, others, coords, cells = (iter(values) for values, _ in done)
    for record in records:
        record["lead"] = [next(wholes) if i < 6 else next(others)
                          for i in range(len(record["lead"]))]
        record["lists"] = tuple([(next(values), next(values)) for _ in texts]
                                for values, texts in zip((coords, cells, cells),
                                                         record["texts"]))
        del record["texts"], record["ended"]


def leadcolumns(line, path, number):
    """The values written in full at the start of a line cut short (each with its padding and
    the space after it), up to twelve, as texts."""
    values, p = [], 0
    while len(values) < 12:
        try:
            value, p = scancolumns(line, p, 1, path, number, closed=False)
        except ResultsError:
            break
        if value[0] is None:
            break
        values += value
    return values


def readcoord(path):
    """The coordinate file's records (see readcoordfile)."""
    return readcoordfile(path)[0]


def readcoordfile(path):
    """The coordinate file's records, and the line at which it was cut short (None when its
    last record is whole). A record: its line, its lead values, whether it is whole, and its
    click, target and distractor lists. The last record may be cut short anywhere (without its
    last line end, or without its closing line): it keeps the lead values written in full and
    no clicks or cells."""
    lines, ended = splitlines(readtext(path))
    if not lines or lines[0] != COORD_HEADER:
        raise ResultsError(path, 1, "not the coordinate file's header line")
    partial = len(lines) - 1 if not ended and len(lines) > 1 else None  # index of a line cut
    records, cut = [], None
    index = 1
    blank = " " * LEAD
    while index < len(lines):
        line, number = lines[index], index + 1
        if line[:1] in ("", " "):
            raise ResultsError(path, number, "a line of clicks and cells outside any trial's "
                               "record")
        index += 1
        record = {"line": number, "texts": ([], [], []), "ended": [False] * 3,
                  "complete": True}
        records.append(record)
        if number - 1 == partial:
            record.update(lead=leadcolumns(line, path, number), complete=False)
            cut = number
            break
        lead, p = columns(line, 0, 8, path, number, closed=False)
        if p == len(line):
            raise ResultsError(path, number, "a trial with 8 columns (only the last line of a "
                               "run cut short may stop there, without its line end)")
        hits, p = columns(line, p, 4, path, number, closed=False)
        record["lead"] = lead + hits
        if None in record["lead"]:
            raise ResultsError(path, number, f"column {record['lead'].index(None) + 1} of a "
                               "trial is blank")
        if p == len(line):
            continue  # no clicks and no cells: the record is this one line
        readrow(line, p, path, number, record)
        while True:
            if index == len(lines) or index == partial:
                # Cut short after a row's line end, or in a later row or the closing line.
                record.update(complete=False, texts=([], [], []))
                cut = min(index + 1, len(lines))
                index = len(lines)
                break
            line, number = lines[index], index + 1
            index += 1
            if not line.startswith(blank):
                raise ResultsError(path, number, "a continuation line starts with 168 blanks; "
                                   "this one does not")
            if len(line) == LEAD:
                break
            readrow(line, LEAD, path, number, record)
    parsecoord(records, path)
    return records, cut


# ---- the event log ----

LOG_PATTERNS = {
    "int": rf"n/a|-?[0-9]{{1,{DIGITS}}}",
    "float": r"n/a|-?(?:[0-9]{1,30}\.[0-9]{1,30}|inf|nan)",
    "text": r"[^\t\n]*",
}


def kindof(column):
    return "int" if column in EVENT_INTS else "float" if column in EVENT_FLOATS else "text"


_row_patterns = {}


def rowpattern(header):
    """The regular expression of a log's rows under a header: one line each, with its line
    end. Cached: the logs of a study share one or two headers."""
    key = tuple(header)
    if key not in _row_patterns:
        # Atomic: a field once matched is not matched again another way, which no field needs.
        row = "\t".join(f"(?>{LOG_PATTERNS[kindof(c)]})" for c in header)
        _row_patterns[key] = (re.compile(f"(?:{row}\n)*+"), re.compile(row))
    return _row_patterns[key]


def badrow(body, header, path):
    """The ResultsError for the first row of a log body that does not fit its header."""
    for number, line in enumerate(body.split("\n"), 2):
        fields = line.split("\t")
        if len(fields) != len(header):
            raise ResultsError(path, number, f"{len(fields)} values; the header has "
                               f"{len(header)}")
        for name, text in zip(header, fields):
            kind = kindof(name)
            if not re.fullmatch(LOG_PATTERNS[kind], text):
                what = "a whole number of at most 15 digits" if kind == "int" else "a number"
                raise ResultsError(path, number, f"{name}: {quote(text)} is not {what} (or "
                                   "n/a)")
    raise AssertionError("badrow is called for a body that does not fit its header")


def readlog(path):
    """The event log, checked against its format: its header, its body (the rows written in
    full, each with its line end), their count, and where it was cut short ((line, trial or
    None) of a last row without its line end, left out; None when it ends with a line end).
    Parsing the rows into a table is left to parselogs, which does it for many logs at once."""
    text = readtext(path, "utf-8")
    end = text.find("\n")
    header = (text if end < 0 else text[:end]).split("\t")
    if header[:len(FIRST_EVENT_COLUMNS)] != FIRST_EVENT_COLUMNS:
        raise ResultsError(path, 1, "not the event log's header line (onset, duration, trial, "
                           "...)")
    if len(header) > MAX_LOG_COLUMNS:
        raise ResultsError(path, 1, f"{len(header)} columns: more than any log of the program "
                           "has")
    seen = set()
    for name in header:
        if name in ADDED_COLUMNS:
            raise ResultsError(path, 1, f"a column named {quote(name)}, a name the reader "
                               "gives a column of its own")
        if name in seen:
            raise ResultsError(path, 1, f"two columns named {quote(name)}")
        seen.add(name)
    body = "" if end < 0 else text[end + 1:]
    cut = None
    if body and not body.endswith("\n"):
        start = body.rfind("\n") + 1
        fields = body[start:].split("\t")[:-1]  # the values written in full
        trial = int(fields[2]) if len(fields) > 2 and INT.fullmatch(fields[2]) else None
        body = body[:start]
        cut = (body.count("\n") + 2, trial)
    if not rowpattern(header)[0].fullmatch(body):
        badrow(body, header, path)
    return {"path": path, "header": header, "body": body, "rows": body.count("\n"),
            "cut": cut}


def readevents(path):
    """A log alone, as the events table (with line) and its notes: for a log read while its
    run goes on. A last row without its line end is left out and noted; a malformed row
    raises ResultsError."""
    log = readlog(path)
    events = parselogs([types.SimpleNamespace(log=log)])
    found = {}
    checkevents(events, lambda i, e: found.setdefault(i, e))
    if found:
        found[0].path = path
        raise found[0]
    notes = [f"{path}:{log['cut'][0]}: a row cut short (no line end): left out"] \
        if log["cut"] else []
    return events.drop(columns="_run"), notes


# ---- the sidecar ----

# The run's facts a sidecar holds, and the type of each: "text" (a string or null), "whole",
# "number" (or null), "flag", "viewport" (four whole numbers), "numbers" (a list of numbers),
# "pools" (an object of lists of numbers). The first ones, which every sidecar ever written
# holds and the report shows, must be there.
REQUIRED_FACTS = {"version": "version", "started": "text", "screen_width": "whole",
                  "screen_height": "whole", "swap_synced": "flag",
                  "refresh_interval_ms": "number"}
FACTS = {**REQUIRED_FACTS,
         "description": "text", "program": "text", "run_number": "whole",
         "results_file": "text", "coord_file": "text", "events_file": "text",
         "settings_file": "text", "settings_file_bytes": "text", "settings_sha256": "text",
         "pilot": "flag", "viewport": "viewport", "gl_vendor": "text", "gl_renderer": "text",
         "gl_version": "text", "swap_interval_requested": "whole", "swap_control": "text",
         "clock": "text", "participant": "text", "session": "text", "settings_text": "text",
         "settings_text_bytes": "text", "wait_lengths": "numbers",
         "rotation_angles": "numbers", "shuffle_angles": "flag", "angle_pools": "pools",
         "shuffle_seed": "whole"}
SIDECAR_DEPTH = 64  # deeper nesting than this is no sidecar the program writes
VERSION = re.compile(r"([0-9]{1,9})\.([0-9]{1,9})\.([0-9]{1,9})")


def number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and \
        abs(value) < 1e300


def factproblem(kind, value):
    """What is wrong with a fact's value for its kind, or None."""
    if kind == "text":
        ok = value is None or isinstance(value, str)
        want = "a string or null"
    elif kind == "version":
        ok = isinstance(value, str) and VERSION.match(value)
        want = "a version string (1.2.0)"
    elif kind == "whole":
        ok = value is None or number(value) and value == int(value) and abs(value) < 2 ** 53
        want = "a whole number"
    elif kind == "number":
        ok = value is None or number(value)
        want = "a number or null"
    elif kind == "flag":
        ok = isinstance(value, bool)
        want = "true or false"
    elif kind == "viewport":
        ok = isinstance(value, list) and len(value) == 4 and all(
            number(v) and v == int(v) for v in value)
        want = "a list of four whole numbers"
    elif kind == "numbers":
        ok = value is None or isinstance(value, list) and all(number(v) for v in value)
        want = "a list of numbers"
    else:
        ok = value is None or isinstance(value, dict) and all(
            isinstance(v, list) and all(number(a) for a in v) for v in value.values())
        want = "an object of lists of numbers"
    return None if ok else want


def keyline(text, key):
    """The line of a key in a JSON text (the first place it is named), for messages."""
    m = re.search(r'"' + re.escape(key) + r'"\s*:', text)
    return lineof(text, m.start()) if m else 1


def depthline(text):
    """The line at which a JSON text nests deeper than SIDECAR_DEPTH."""
    depth, string = 0, False
    for m in re.finditer(r'\\.|["\[\]{}]', text):
        c = m.group()
        if c == '"':
            string = not string
        elif not string and c in "[{":
            depth += 1
            if depth > SIDECAR_DEPTH:
                return lineof(text, m.start())
        elif not string and c in "]}":
            depth -= 1
    return 1


class Constant(ValueError):
    """NaN or Infinity in a sidecar: JSON has no such numbers."""


def refuseconstant(name):
    raise Constant(name)


def readsidecar(path):
    """The sidecar as read, and the run's facts in it: the object "spatialmemory" in the
    layout that describes each log column at the top level, the top level itself in the
    earlier layout (facts at the top, the columns under "columns"). Each fact the reader knows
    is checked for its type."""
    text = readtext(path, "utf-8", lines=False)  # JSON takes any line ends
    try:
        doc = json.loads(text, parse_constant=refuseconstant)
    except json.JSONDecodeError as e:
        raise ResultsError(path, e.lineno, f"not JSON: {e.msg}") from None
    except RecursionError:
        raise ResultsError(path, depthline(text), "nested deeper than any sidecar: not one "
                           "the program wrote") from None
    except Constant as e:
        raise ResultsError(path, lineof(text, text.find(str(e))), f"{e} is no JSON number")
    except ValueError as e:  # a number of thousands of digits
        m = re.search(r"[0-9]{4000}", text)
        raise ResultsError(path, lineof(text, m.start()) if m else 1,
                           f"not a JSON number the reader can take: {clip(str(e))}") from None
    if not isinstance(doc, dict):
        raise ResultsError(path, 1, "the sidecar is one JSON object")
    facts = doc.get("spatialmemory")
    if not isinstance(facts, dict):
        facts = doc
    for key, kind in FACTS.items():
        if key not in facts:
            if key in REQUIRED_FACTS:
                raise ResultsError(path, keyline(text, "spatialmemory") if facts is not doc
                                   else 1, f"no {key}: not a sidecar the program wrote")
            continue
        want = factproblem(kind, facts[key])
        if want:
            raise ResultsError(path, keyline(text, key), f"{key} is "
                               f"{clip(json.dumps(facts[key]))}: not {want}")
    return doc, facts


def rawbytes(facts, key):
    """The exact bytes of a text fact: from its percent-encoded <key>_bytes when the text was
    not valid UTF-8 (the text then reads each stray byte as a Latin-1 character), else the
    text's own UTF-8."""
    if isinstance(facts.get(key + "_bytes"), str):
        return unquote_to_bytes(facts[key + "_bytes"])
    value = facts.get(key)
    return value.encode("utf-8", "surrogateescape") if isinstance(value, str) else None


def scoringrule(facts, header):
    """How the run scored its clicks: "floor" from FLOOR_SCORING on, "truncate" before. Known
    from the sidecar's version; without a sidecar, a log with the key column is of a version
    that floors, and a run without either is read as scored before."""
    if facts and isinstance(facts.get("version"), str):
        m = VERSION.match(facts["version"])
        return "floor" if tuple(map(int, m.groups())) >= FLOOR_SCORING else "truncate"
    return "floor" if header and "key" in header else "truncate"


# ---- one run ----


class Run:
    """One run: where its files are, what they hold, and what was found in reading them.

    folder, number: where the run's files are and its run number N.
    files: paths of the "results", "coord", "events" and "sidecar" files (None when absent).
    settings: the settings echo (key -> int, float, (low, high) or a list of (r, g, b)).
    sidecar: the run's facts from the log's sidecar (its object "spatialmemory", or its top
        level in the earlier layout), or None without one; facts: the same, {} without one.
    sidecar_document: the sidecar as read, whole (its column descriptions too), or None.
    participant, session: as the sidecar records them, or None.
    scoring: how the run's version scored clicks: "floor" or "truncate" (FLOOR_SCORING).
    has_log: whether the event log's rows are in the tables (not when it was refused).
    trials, cells, clicks, events: DataFrames (events empty without a log).
    problems: notes on the data, each naming its file and line.
    refused: files left out for disagreeing with the results files (a log from another run),
        each one line naming file and line.
    """

    def __init__(self, folder, number):
        self.folder = folder
        self.number = number
        self.files = {}
        self.settings = {}
        self.sidecar = None
        self.sidecar_document = None
        self.facts = {}
        self.scoring = "truncate"
        self.has_log = False
        self.problems = []
        self.refused = []
        self._tables = None  # the Tables this run's rows are in, and its place there
        self._index = None
        self._parts = {}

    @property
    def participant(self):
        return self.facts.get("participant")

    @property
    def session(self):
        return self.facts.get("session")

    def note(self, message):
        self.problems.append(message)

    def _part(self, name):
        if name not in self._parts:
            self._parts[name] = self._tables.part(name, self._index)
        return self._parts[name]

    trials = property(lambda self: self._part("trials"))
    cells = property(lambda self: self._part("cells"))
    clicks = property(lambda self: self._part("clicks"))
    events = property(lambda self: self._part("events"))


def runfiles(folder, number):
    def there(name):
        path = os.path.join(folder, name)
        return path if os.path.lexists(path) else None

    return {"results": os.path.join(folder, f"results{number}.txt"),
            "coord": there(f"results_coord{number}.txt"),
            "events": there(f"results_events{number}.tsv"),
            "sidecar": there(f"results_events{number}.json")}


def parserun(path):
    """A run's files (from any of them), each read and checked against its own format. What
    the files say together is left to assemble."""
    folder, number = splitrunpath(path)
    run = Run(folder, number)
    run.files = files = runfiles(folder, number)
    tab = files["results"]
    if not os.path.lexists(tab):
        raise ResultsError(tab, None, "no such file (every run has its tab results file)")
    run.settings, run.tabrows, notes, run.tabcut = readtab(tab)
    run.problems += notes
    run.records = run.coordcut = run.log = None
    if files["coord"]:
        run.records, run.coordcut = readcoordfile(files["coord"])
    else:
        run.note(f"{tab}: no coordinate file results_coord{number}.txt beside it: no cells and "
                 "no clicks")
    if files["events"]:
        run.log = readlog(files["events"])
    if files["sidecar"]:
        run.sidecar_document, run.sidecar = readsidecar(files["sidecar"])
        run.facts = run.sidecar
    elif run.log:
        run.note(f"{files['events']}: no sidecar results_events{number}.json beside it")
    run.scoring = scoringrule(run.facts, run.log and run.log["header"])
    return run


# ---- the runs' files together ----


def parselogs(runs):
    """The rows of every run's log in one table, with the run's place in `runs` (_run) and
    the row's line in its file (line). Logs with the same header, as a study's are, are
    parsed in one go."""
    groups = {}
    for i, run in enumerate(runs):
        if run.log and run.log["rows"]:
            groups.setdefault(tuple(run.log["header"]), []).append(i)
    extra = [c for header in groups for c in header if c not in EVENT_COLUMNS]
    columns = EVENT_COLUMNS + list(dict.fromkeys(extra))
    frames = []
    for header, members in groups.items():
        counts = [runs[i].log["rows"] for i in members]
        # Whole numbers are read as doubles, which hold their 15 digits exactly, and made
        # whole after: faster than reading them whole.
        frame = pd.read_csv(
            io.StringIO("".join(runs[i].log["body"] for i in members)), sep="\t",
            header=None, names=list(header),
            dtype={c: object if kindof(c) == "text" else float for c in header},
            na_values={c: ["n/a"] if kindof(c) == "text" else ["n/a", "nan", "-nan"]
                       for c in header},
            keep_default_na=False, quoting=csv.QUOTE_NONE, skip_blank_lines=False,
            engine="c", low_memory=False)
        frame["line"] = np.concatenate([np.arange(2, c + 2) for c in counts])
        frame["_run"] = np.repeat(members, counts)
        frames.append(frame)
    events = pd.concat(frames, ignore_index=True) if len(frames) > 1 else \
        frames[0] if frames else pd.DataFrame()
    size = sum(len(f) for f in frames)
    if len(frames) > 1:
        events = events.sort_values(["_run", "line"], kind="stable", ignore_index=True)
    table = {}
    for c in columns + ["line", "_run"]:
        values = events[c].to_numpy() if c in events else None
        if c in ("line", "_run"):
            table[c] = values.astype(np.int64) if size else np.zeros(0, np.int64)
        elif kindof(c) == "text":
            table[c] = values if values is not None else np.full(size, np.nan, dtype=object)
        else:
            values = values if values is not None else np.full(size, np.nan)
            values = values.astype(float)
            if kindof(c) == "int":
                missing = np.isnan(values)
                values = pd.arrays.IntegerArray(np.where(missing, 0, values).astype(np.int64),
                                                missing)
            table[c] = values
    return pd.DataFrame(table)


def firsts(frame, mask):
    """Of the rows `mask` marks, the first of each run (a frame in file order within runs), as
    dicts."""
    marked = np.flatnonzero(np.asarray(mask, dtype=bool))
    if not len(marked):
        return []
    _, first = np.unique(frame["_run"].to_numpy()[marked], return_index=True)
    return frame.iloc[np.sort(marked[first])].to_dict("records")


def shown(value):
    return "n/a" if pd.isna(value) else str(value)


def checkevents(events, fail):
    """Each log row's event, result and action one the program writes, and the columns its
    kind of row fills; the first row of a run that is not is that run's ResultsError."""
    ev = events
    found = []

    def bad(mask, message):
        found.extend((r["_run"], r["line"], message(r)) for r in firsts(ev, mask))

    bad(~ev.event.isin(EVENTS), lambda r: f"unknown event {quote(shown(r['event']))}")
    for name, levels in (("result", RESULTS), ("action", ACTIONS)):
        what = "click " + name
        bad(ev[name].notna() & ~ev[name].isin(levels),
            lambda r, what=what, name=name: f"unknown {what} {quote(shown(r[name]))}")
    missing = {name: ev[name].isna().to_numpy() for name in EVENT_COLUMNS}
    event = ev.event.to_numpy()
    for kind, needs in [(None, ["onset", "trial"])] + list(EVENT_NEEDS.items()) + \
            [("click", CLICK_PLACE)]:
        rows = True if kind is None else event == kind
        if needs is CLICK_PLACE:
            rows = rows & (ev.result != "wheel").to_numpy()
        bad(rows & np.logical_or.reduce([missing[c] for c in needs]),
            lambda r, needs=needs: f"a {shown(r['event'])} row without its "
                                   f"{next(c for c in needs if pd.isna(r[c]))}")
    mouse = ev[["x_px", "y_px", "button", "action"]].notna().all(axis=1)
    bad((ev.event == "early") & ~mouse & ev.key.isna(),
        lambda r: "an early row with neither a mouse event (x_px, y_px, button, action) nor "
                  "a key")
    for run, line, message in sorted(found):
        fail(run, ResultsError(None, line, message))


def wheels(frame):
    """Which rows of a log are of the wheel's buttons (not for a row without a button)."""
    return frame["button"].isin(WHEEL_BUTTONS).to_numpy(dtype=bool, na_value=False)


def within(x, y, num_x, num_y):
    """Whether grid positions (or columns and rows) lie on a grid of num_x by num_y cells:
    from 0 up to but not including num_x across, and likewise up."""
    return (x >= 0) & (x < num_x) & (y >= 0) & (y < num_y)


def judge(clicks, cells, floor, num_x, num_y):
    """What each click scored, by the hit test of its run's version, the clicks of a trial
    taken in the order given. `clicks` has _run, trial, col, row (the cell's column and row as
    the hit test took them; missing for a wheel) and wheel; `floor` (by run) whether the run
    scored by FLOOR_SCORING. Returns (result, cell, on_grid): the result (None where the
    position is not a number), the cell number the hit test used (NaN where none) and whether
    column and row are on the grid."""
    r = clicks["_run"].to_numpy()
    col = clicks["col"].to_numpy(dtype=float, na_value=np.nan)
    row = clicks["row"].to_numpy(dtype=float, na_value=np.nan)
    fl, nx, ny = floor[r], num_x[r], num_y[r]
    wheel = clicks["wheel"].to_numpy(dtype=bool)
    known = (np.abs(col) < 2 ** 52) & (np.abs(row) < 2 ** 52)  # False for NaN and inf
    on_grid = within(col, row, nx, ny)
    scored = known & ~(fl & (wheel | ~on_grid))
    cell = np.where(scored, col * ny + row, np.nan)
    taken = pd.DataFrame({"r": r, "t": clicks["trial"].to_numpy(), "c": cell})[scored]
    first = np.zeros(len(clicks), dtype=bool)
    first[np.flatnonzero(scored)[~taken.duplicated().to_numpy()]] = True
    kinds = cells.drop_duplicates(["_run", "trial", "cell"]).set_index(
        ["_run", "trial", "cell"])["kind"]
    wanted = pd.MultiIndex.from_arrays([r[first], clicks["trial"].to_numpy()[first],
                                        cell[first].astype(np.int64)])
    result = np.full(len(clicks), None, dtype=object)
    result[scored] = "repeat"
    result[first] = kinds.reindex(wanted).fillna("empty").to_numpy()
    result[fl & ~wheel & ~on_grid & ~np.isnan(col) & ~np.isnan(row)] = "off_grid"
    result[fl & wheel] = "wheel"
    return result, cell, on_grid


def tally(frame, column, levels):
    """How many rows of each level of a column each trial has: a frame indexed by (_run,
    trial), a column per level."""
    if frame.empty:
        index = pd.MultiIndex.from_arrays([[], []], names=["_run", "trial"])
        return pd.DataFrame(0, index=index, columns=levels)
    counts = frame.groupby(["_run", "trial", column]).size().unstack(fill_value=0)
    return counts.reindex(columns=levels, fill_value=0)


def wholes(values):
    """Numbers as nullable whole numbers: missing where not a number or beyond 2^52."""
    values = np.asarray(values, dtype=float)
    missing = ~(np.abs(values) < 2 ** 52)
    return pd.arrays.IntegerArray(np.where(missing, 0, values).astype(np.int64), missing)


def key(run, trial):
    """One whole number for a run's trial, to match trials across tables. A trial number
    beyond 2^32 - 1 (no tab file has one) takes that number's key."""
    trial = np.clip(np.asarray(trial, dtype=np.int64), 0, 2 ** 32 - 1)
    return (np.asarray(run, dtype=np.int64) << 32) | trial


def keys(frame):
    return key(frame["_run"].to_numpy(), frame["trial"].to_numpy(dtype=np.int64))


def cutkeys(table):
    return key([i for i, _ in table], [t for _, t in table])


def only(frame, mask):
    """The rows of a frame that `mask` marks, the frame itself when that is all of them."""
    mask = np.asarray(mask, dtype=bool)
    return frame if mask.all() else frame[mask]


def same(a, b):
    """Equal to the six decimals the files write, or both missing."""
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return (np.round(a, 6) == np.round(b, 6)) | (np.isnan(a) & np.isnan(b))


def assemble(runs, failures=None):
    """Runs whose files were each read (parserun) put into tables, the checks across files
    and trials made for all of them at once. A run whose files cannot be read together is left
    out: its ResultsError is put in the dict `failures` under the run's place in `runs`, or
    raised when `failures` is None. Returns the Tables of the runs kept."""
    failed = {}  # run -> its first ResultsError

    def fail(i, error):
        if error.path is None:
            error.path = runs[i].files["events"]
        failed.setdefault(i, error)

    count = len(runs)
    floor = np.array([run.scoring == "floor" for run in runs], dtype=bool)
    num_x = np.array([run.settings.get("num_x", DEFAULT_NUM_X) for run in runs], dtype=float)
    num_y = np.array([run.settings.get("num_y", DEFAULT_NUM_Y) for run in runs], dtype=float)
    path = lambda i, name: runs[i].files[name]  # noqa: E731

    events = parselogs(runs)
    checkevents(events, fail)

    trials = pd.DataFrame.from_records(
        [(i, *row) for i, run in enumerate(runs) for row in run.tabrows],
        columns=["_run"] + TRIAL_COLUMNS + ["complete", "angle_pool_empty", "line"])
    trials = trials.astype({c: (int if k < 6 else float) for k, c in enumerate(TRIAL_COLUMNS)} |
                           {"_run": int, "complete": bool, "angle_pool_empty": bool,
                            "line": int})
    last = np.zeros(count, dtype=int)  # each run's last trial
    last[trials["_run"].to_numpy()] = trials["trial"].to_numpy()
    ended = np.array([bool(run.tabcut or run.coordcut or run.log and run.log["cut"])
                      for run in runs], dtype=bool)  # a file cut short: the run ended early
    ended[trials.loc[~trials.complete, "_run"].to_numpy()] = True
    tabcut = np.array([bool(run.tabcut) for run in runs], dtype=bool)

    # Trials cut short, each with the first file that shows it: the tab file, the coordinate
    # file, the log (these last apart, as a log may yet be refused).
    cuts, logcuts = {}, {}

    def cutshort(table, i, first, where, why, upto=None):
        """Trials `first` to `upto` (or `first` alone) of run i cut short: one note for
        those not yet known to be."""
        new = [t for t in range(first, (upto or first) + 1)
               if (i, t) not in cuts and (i, t) not in table]
        if new:
            table.update(dict.fromkeys([(i, t) for t in new[1:]]))
            table[(i, new[0])] = (
                f"{where}: trial {new[0]} was cut short ({why}): the program ended during it"
                if len(new) == 1 else f"{where}: trials {new[0]} to {new[-1]} were cut short "
                f"({why}): the program ended during trial {new[0]}")

    for i, run in enumerate(runs):
        if run.tabcut and run.tabcut[1]:
            cutshort(cuts, i, run.tabcut[1], f"{path(i, 'results')}:{run.tabcut[0]}",
                     "no hit counts")

    # The coordinate files' records against the tab files' trials.
    leads, cells, coordclicks = [], [], []
    for i, run in enumerate(runs):
        records, tab, coord = run.records, path(i, "results"), path(i, "coord")
        if records is None:
            continue
        n = len(run.tabrows)
        if len(records) > n:
            # The trials after the one a tab file cut short ends in are not known there.
            if len(records) > n + 1 and not run.tabcut:
                fail(i, ResultsError(coord, records[n]["line"], f"a record of trial {n + 1}, "
                                     f"which {tab} does not have"))
                continue
            run.note(f"{coord}:{records[n]['line']}: the records from trial {n + 1} on are "
                     f"left out: {tab} ends before them")
            records = records[:n]
        elif len(records) < n:
            # A file cut short lacks the trials after the one it ends in; one that ends with a
            # whole record may lack the last trial's, if the program ended as it began it.
            if len(records) < n - 1 and not run.coordcut:
                fail(i, ResultsError(tab, run.tabrows[len(records)][-1], f"trial "
                                     f"{len(records) + 1} has no record in {coord}"))
                continue
            cutshort(cuts, i, len(records) + 1, f"{coord}:{run.coordcut}" if run.coordcut else
                     f"{tab}:{run.tabrows[len(records)][-1]}", "no record in the coordinate "
                     "file", upto=n)
        for trial, record in enumerate(records, 1):
            lead = record["lead"]
            leads.append((i, trial, record["line"], record["complete"], *lead) +
                         (None,) * (12 - len(lead)))
            if not record["complete"]:
                cutshort(cuts, i, trial, f"{coord}:{run.coordcut}", "its record in the "
                         "coordinate file ends before its closing line")
                continue
            lists = record["lists"]
            for kind, items in (("target", lists[1]), ("distractor", lists[2])):
                cells += [(i, trial, kind, k, c, r) for k, (c, r) in enumerate(items, 1)]
            coordclicks += [(i, trial, k, x, y) for k, (x, y) in enumerate(lists[0], 1)]
    value = [f"v{k}" for k in range(12)]
    leads = pd.DataFrame.from_records(
        leads, columns=["_run", "trial", "coord_line", "whole"] + value).merge(
        trials, on=["_run", "trial"])
    found = []
    for k, name in enumerate(TRIAL_COLUMNS):
        a = leads[value[k]].astype(float)
        check = a.notna() & ((k < 8) | (leads.whole & leads.complete))
        for r in firsts(leads, check & ~same(a, leads[name])):
            found.append((r["_run"], r["coord_line"], ResultsError(
                path(r["_run"], "coord"), r["coord_line"], f"{name} {float(r[value[k]]):g} "
                f"differs from {r[name]:g} at line {r['line']} of {path(r['_run'], 'results')}")))
    for i, _, error in sorted(found, key=lambda f: f[:2]):
        fail(i, error)

    cells = pd.DataFrame.from_records(cells, columns=["_run"] + CELL_COLUMNS[:-1]).astype(
        {"_run": int, "trial": int, "index": int, "col": int, "row": int})
    cells["cell"] = (cells["col"] * num_y[cells["_run"].to_numpy()] +
                     cells["row"]).astype(np.int64)
    coordclicks = pd.DataFrame.from_records(
        coordclicks, columns=["_run", "trial", "index", "grid_x", "grid_y"]).astype(
        {"_run": int, "trial": int, "index": int, "grid_x": float, "grid_y": float})
    # Cut toward zero before FLOOR_SCORING, rounded down from it.
    fl = floor[coordclicks["_run"].to_numpy()]
    gx, gy = coordclicks["grid_x"].to_numpy(), coordclicks["grid_y"].to_numpy()
    coordclicks["col"] = np.where(fl, np.floor(gx), np.trunc(gx))
    coordclicks["row"] = np.where(fl, np.floor(gy), np.trunc(gy))
    coordclicks["wheel"] = False
    coordclicks["result"], coordclicks["cell"], _ = judge(coordclicks, cells, floor, num_x,
                                                          num_y)

    # Each trial whole in both results files: its cells and clicks against its hit counts.
    whole = trials[trials.complete].merge(
        leads.loc[leads.whole, ["_run", "trial", "coord_line"]], on=["_run", "trial"])
    kinds = tally(cells, "kind", ["target", "distractor"])
    hits = tally(coordclicks, "result", ["target", "distractor", "empty"])
    w = whole.join(kinds, on=["_run", "trial"]).join(hits, on=["_run", "trial"],
                                                      rsuffix="_hits").fillna(0)
    for kind, want in (("target", "targets"), ("distractor", "distractors")):
        for r in w[w[kind] != w[want]].to_dict("records"):
            runs[r["_run"]].note(f"{path(r['_run'], 'coord')}:{r['coord_line']}: trial "
                                 f"{r['trial']} has {r[kind]:.0f} {kind} cells for "
                                 f"{r[want]} {kind}s")
    counted = ["target_hits", "distractor_hits", "empty"]
    stated = ["targets_hit", "distracts_hit", "empty_hit"]
    off = (w[counted].to_numpy() != w[stated].to_numpy()).any(axis=1)
    for r in w[off].to_dict("records"):
        runs[r["_run"]].note(
            f"{path(r['_run'], 'coord')}:{r['coord_line']}: trial {r['trial']}: its clicks and "
            f"cells give {r['target_hits']:.0f} target, {r['distractor_hits']:.0f} distractor "
            f"and {r['empty']:.0f} empty hits; {path(r['_run'], 'results')} says "
            f"{r['targets_hit']:g}, {r['distracts_hit']:g}, {r['empty_hit']:g}")

    # The logs against the results files. A log that disagrees is from another run, or was
    # altered: it is refused, and the run read from its results files.
    ok = ~np.isin(np.arange(count), list(failed))
    events = only(events, ok[events["_run"].to_numpy()])
    refusals = []  # (run, line, message)

    def refuse(rows, message):
        refusals.extend((r["_run"], r.get("line", 0), message(r)) for r in rows)

    kind = pd.Categorical(events["event"], categories=EVENTS).codes
    starts = events[kind == EVENTS.index("trial_start")]
    ends = events[kind == EVENTS.index("trial_end")]
    for frame, what in ((starts, "trial_start"), (ends, "trial_end")):
        for r in firsts(frame, frame.duplicated(["_run", "trial"])):
            fail(r["_run"], ResultsError(path(r["_run"], "events"), r["line"],
                                         f"a second {what} row for trial {r['trial']}"))
    ok = ~np.isin(np.arange(count), list(failed))
    events = only(events, ok[events["_run"].to_numpy()]).astype({"trial": np.int64})
    kind = pd.Categorical(events["event"], categories=EVENTS).codes
    starts, ends = starts[ok[starts["_run"].to_numpy()]], ends[ok[ends["_run"].to_numpy()]]
    logged = np.zeros(count, dtype=bool)
    logged[events["_run"].unique()] = True
    logged |= np.array([bool(run.log) for run in runs], dtype=bool) & ok

    intab = np.isin(keys(events), keys(trials))
    outside = events[~intab]
    # The trials after the one a tab file cut short ends in are not known there, nor is the
    # one the program was starting when it ended.
    o, t = outside["_run"].to_numpy(), outside["trial"].to_numpy()
    next_ = (t > last[o]) & (tabcut[o] | (t == last[o] + 1) & ended[o])
    refuse(firsts(outside, ~next_), lambda r: f"{path(r['_run'], 'events')}:{r['line']}: trial "
           f"{r['trial']} is not in {path(r['_run'], 'results')}")
    beyond = {r["_run"]: r for r in firsts(outside, next_)}
    events, kind = only(events, intab), kind[intab]

    # A log cut short lacks the rows after the trial it ends in; one that ends with a whole
    # row may lack those of the last trial, if the program ended during it.
    lt = trials[logged[trials["_run"].to_numpy()]]
    runs_ = lt["_run"].to_numpy()
    lastlogged = np.zeros(count, dtype=np.int64)
    if len(events):
        seen = events.groupby("_run")["trial"].max()
        lastlogged[seen.index.to_numpy()] = seen.to_numpy()
    logcut = np.array([bool(run.log and run.log["cut"]) for run in runs], dtype=bool)
    trial_ = lt["trial"].to_numpy()
    mayend = (trial_ >= lastlogged[runs_]) & (logcut[runs_] | (trial_ == last[runs_]))
    hasstart = np.isin(keys(lt), keys(starts))
    refuse(firsts(lt, ~hasstart & ~mayend), lambda r: f"{path(r['_run'], 'results')}:"
           f"{r['line']}: trial {r['trial']} has no trial_start row in "
           f"{path(r['_run'], 'events')}")
    hasend = np.isin(keys(lt), keys(ends))
    refuse(firsts(lt, lt.complete & ~hasend & ~mayend), lambda r:
           f"{path(r['_run'], 'results')}:{r['line']}: trial {r['trial']} is complete, but "
           f"{path(r['_run'], 'events')} has no trial_end row for it")
    ending = lt[(~hasstart | lt.complete & ~hasend) & mayend].groupby("_run")["trial"]
    for i, first, upto in zip(ending.min().index, ending.min(), ending.max()):
        log = runs[i].log
        line = log["cut"][0] if log["cut"] else log["rows"] + 1
        cutshort(logcuts, i, first, f"{log['path']}:{line}", "no trial_end row in the log",
                 upto=upto)
    for frame, names in ((starts, CONDITION), (ends, HIT_COLUMNS)):
        m = frame[["_run", "trial", "line"] + names].merge(
            trials[["_run", "trial", "line", "complete"] + names], on=["_run", "trial"],
            suffixes=("_log", ""))
        if names is HIT_COLUMNS:
            for r in m[~m.complete].drop_duplicates("_run").to_dict("records"):
                runs[r["_run"]].note(f"{path(r['_run'], 'results')}:{r['line']}: trial "
                                     f"{r['trial']} was cut short, but "
                                     f"{path(r['_run'], 'events')}:{r['line_log']} ends it")
            m = m[m.complete]
        for name in names:
            refuse(firsts(m, ~same(m[name + "_log"], m[name])), lambda r, name=name:
                   f"{path(r['_run'], 'results')}:{r['line']}: trial {r['trial']}: {name} "
                   f"{r[name]:g}, but {r[name + '_log']:g} in the log "
                   f"({path(r['_run'], 'events')}:{r['line_log']})")
    for i, run in enumerate(runs):
        if run.log and run.log["cut"] and ok[i]:
            line, trial = run.log["cut"]
            trial = last[i] if trial is None else trial
            if trial <= last[i]:
                cutshort(logcuts, i, trial, f"{run.log['path']}:{line}", "the log's last row "
                         "has no line end")
            elif not (tabcut[i] or trial == last[i] + 1):
                refuse([{"_run": i, "line": line}], lambda r: f"{run.log['path']}:{line}: a row "
                       f"of trial {trial}, which {path(i, 'results')} does not have")

    # Each trial whole in every file: the log's clicks against the coordinate file's.
    done = trials.complete.to_numpy() & ~np.isin(keys(trials), cutkeys(list(cuts) +
                                                                        list(logcuts)))
    donekeys = keys(trials[done])
    coordrun = np.array([run.records is not None for run in runs], dtype=bool)
    CLICK = EVENTS.index("click")
    lc = events.loc[(kind == CLICK) & coordrun[events["_run"].to_numpy()],
                    ["_run", "trial", "line", "grid_x", "grid_y", "col", "row", "result",
                     "button"]]
    lc = lc[np.isin(keys(lc), donekeys)]
    if floor.any():
        lc = lc[~(floor[lc["_run"].to_numpy()] & (lc.result == "wheel").to_numpy())]
    cc = coordclicks[np.isin(keys(coordclicks), donekeys) &
                     logged[coordclicks["_run"].to_numpy()]]
    spots = [pd.DataFrame({"_run": f["_run"].to_numpy(), "trial": f["trial"].to_numpy(),
                           "x": f["grid_x"].round(6).to_numpy(),
                           "y": f["grid_y"].round(6).to_numpy()}).drop_duplicates()
             for f in (lc, cc)]
    both = spots[0].merge(spots[1], how="outer", indicator=True)
    differ = both[both["_merge"] != "both"].drop_duplicates("_run")
    sizes = [s.groupby(["_run", "trial"]).size() for s in spots]
    refuse(differ.to_dict("records"), lambda r: f"{path(r['_run'], 'events')}: trial "
           f"{r['trial']}: {sizes[0].get((r['_run'], r['trial']), 0)} click positions in the "
           f"log, {sizes[1].get((r['_run'], r['trial']), 0)} in {path(r['_run'], 'coord')}, and "
           "they differ")
    lc = lc.assign(wheel=wheels(lc) &
                   floor[lc["_run"].to_numpy()])
    want = judge(lc, cells, floor, num_x, num_y)[0]
    wrong = (want != None) & (lc.result.to_numpy() != want)  # noqa: E711
    refuse(firsts(lc.assign(want=want), wrong), lambda r: f"{path(r['_run'], 'events')}:"
           f"{r['line']}: trial {r['trial']}: a click logged as {r['result']}, which the cells "
           f"in {path(r['_run'], 'coord')} make {r['want']}")

    refused = {}
    for i, _, message in refusals:  # the first check a log fails names it
        refused.setdefault(i, message)
    for i, message in refused.items():
        runs[i].refused.append(f"{message}: the log does not belong with these results files "
                               "and is left out")
    logged[list(refused)] = False
    mine = logged[events["_run"].to_numpy()]
    events, kind = only(events, mine), kind[mine]
    for i, r in beyond.items():
        if logged[i]:
            runs[i].note(f"{path(i, 'events')}:{r['line']}: the rows from trial {r['trial']} "
                         f"on are left out: {path(i, 'results')} ends before them")
    for (i, trial), message in logcuts.items():
        if logged[i]:
            cuts.setdefault((i, trial), message)
    for (i, trial), message in sorted(cuts.items()):
        if message:
            runs[i].note(message)
    trials["complete"] = trials.complete.to_numpy() & ~np.isin(keys(trials), cutkeys(cuts))
    trials.insert(13, "score", trials["targets_hit"] - trials["distracts_hit"] -
                  trials["empty_hit"])

    # The clicks: from the log where one was read, in the order made; else from the
    # coordinate file, in its order.
    lc = events.loc[kind == CLICK, ["_run", "trial", "onset", "rt", "x_px", "y_px", "grid_x",
                                    "grid_y", "col", "row", "result", "button", "action"]]
    lc = lc.assign(wheel=wheels(lc) &
                   floor[lc["_run"].to_numpy()])
    _, cell, on_grid = judge(lc, cells, floor, num_x, num_y)
    lf = floor[lc["_run"].to_numpy()]
    gx, gy = lc["grid_x"].to_numpy(), lc["grid_y"].to_numpy()
    nx, ny = num_x[lc["_run"].to_numpy()], num_y[lc["_run"].to_numpy()]
    # The log's column and row are the hit test's own, rounded down from FLOOR_SCORING on:
    # the position written, to six decimals, may round into the next cell.
    on_grid = np.where(lf, on_grid, within(gx, gy, nx, ny))
    fromlog = pd.DataFrame({
        "_run": lc["_run"].to_numpy(), "trial": lc["trial"].to_numpy(),
        "index": lc.groupby(["_run", "trial"]).cumcount().to_numpy() + 1, "source": "log",
        "onset": lc["onset"].to_numpy(), "rt": lc["rt"].to_numpy(),
        "x_px": lc["x_px"].array, "y_px": lc["y_px"].array, "grid_x": gx, "grid_y": gy,
        "col": lc["col"].array, "row": lc["row"].array, "cell": cell,
        "on_grid": pd.array(on_grid, dtype="boolean"), "result": lc["result"].to_numpy(),
        "button": lc["button"].array, "action": lc["action"].to_numpy()})
    fromlog.loc[lc.wheel.to_numpy(), "on_grid"] = pd.NA
    cc = coordclicks[~logged[coordclicks["_run"].to_numpy()]]
    gx, gy = cc["grid_x"].to_numpy(), cc["grid_y"].to_numpy()
    nx, ny = num_x[cc["_run"].to_numpy()], num_y[cc["_run"].to_numpy()]
    fromcoord = pd.DataFrame({
        "_run": cc["_run"].to_numpy(), "trial": cc["trial"].to_numpy(),
        "index": cc["index"].to_numpy(), "source": "coord", "onset": np.nan, "rt": np.nan,
        "x_px": pd.NA, "y_px": pd.NA, "grid_x": gx, "grid_y": gy, "col": cc["col"].to_numpy(),
        "row": cc["row"].to_numpy(), "cell": cc["cell"].to_numpy(),
        "on_grid": pd.array(within(gx, gy, nx, ny), dtype="boolean"),
        "result": cc["result"].to_numpy(), "button": pd.NA, "action": None})
    clicks = pd.concat([fromlog, fromcoord], ignore_index=True)
    clicks = clicks.sort_values("_run", kind="stable", ignore_index=True)
    clicks = clicks.astype({"x_px": "Int64", "y_px": "Int64", "button": "Int64",
                            "on_grid": "boolean", "onset": float, "rt": float})
    for name in ("col", "row", "cell"):
        clicks[name] = wholes(clicks[name].to_numpy(dtype=float, na_value=np.nan))

    # What the log adds to each trial: its start, shift, seeds, phase durations, the time of
    # the first press of a mouse button and the input before PICK was on screen.
    if logged.any():
        starts = events[kind == EVENTS.index("trial_start")]
        extra = starts[["_run", "trial", "onset", "shift_x", "shift_y", "layout_ms",
                        "seed_layout", "seed_cells"]].rename(columns={"onset": "trial_onset"})
        phases = events.loc[np.isin(kind, [EVENTS.index(p) for p in PHASES]),
                            ["_run", "trial", "event", "duration"]].drop_duplicates(
            ["_run", "trial", "event"])
        durations = phases.pivot(index=["_run", "trial"], columns="event",
                                 values="duration").reindex(columns=PHASES)
        durations.columns = [DURATIONS[p] for p in PHASES]
        presses = events.loc[(kind == CLICK) & (events.action != "release").to_numpy() &
                             ~wheels(events),
                             ["_run", "trial", "rt"]]
        presses = presses.drop_duplicates(["_run", "trial"])
        first = pd.Series(presses["rt"].to_numpy(), index=keys(presses))
        early = events.loc[kind == EVENTS.index("early"), ["_run", "trial"]]
        early = pd.Series(keys(early)).value_counts()
        away = events.loc[np.isin(kind, [EVENTS.index(e) for e in AWAY_EVENTS]),
                          ["_run", "trial"]]
        away = pd.Series(keys(away)).value_counts()
        trials = trials.merge(extra, on=["_run", "trial"], how="left").join(
            durations, on=["_run", "trial"])
        trials["first_click_rt"] = first.reindex(keys(trials)).to_numpy()
        runlogged = logged[trials["_run"].to_numpy()] & floor[trials["_run"].to_numpy()]
        trials["early_inputs"] = pd.array(np.where(
            runlogged, early.reindex(keys(trials), fill_value=0).to_numpy(), 0),
            dtype="Int64")
        trials.loc[~runlogged, "early_inputs"] = pd.NA
        trials["interruptions"] = pd.array(np.where(
            runlogged, away.reindex(keys(trials), fill_value=0).to_numpy(), 0), dtype="Int64")
        trials.loc[~runlogged, "interruptions"] = pd.NA
    trials = trials.drop(columns="line")

    kept = [i for i in range(count) if i not in failed]
    if failed:
        if failures is None:
            raise failed[min(failed)]
        failures.update(failed)
    for i in kept:
        runs[i].has_log = bool(logged[i])
    frames = {"trials": trials, "cells": cells, "clicks": clicks, "events": events}
    return Tables([runs[i] for i in kept], frames, kept, count)


class Tables:
    """The tables of runs read together, each sorted by run (a run's rows in one block) and
    starting with the study's columns."""

    def __init__(self, runs, frames, kept, count):
        place = np.full(count, -1)  # each run read's place among those kept
        place[kept] = np.arange(len(kept))
        self.frames, self.bounds, self.added = {}, {}, {}
        folders = np.array([run.folder for run in runs] + [""], dtype=object)
        numbers = np.array([run.number for run in runs] + [0], dtype=np.int64)
        for name, frame in frames.items():
            index = place[frame["_run"].to_numpy()] if len(frame) else np.zeros(0, int)
            kept = index >= 0
            index = index[kept]
            self.bounds[name] = np.searchsorted(index, np.arange(len(runs) + 1))
            columns = {"folder": folders[index], "run": numbers[index]}
            if name == "trials":
                for fact in PARTICIPANT_COLUMNS:
                    values = np.array([run.facts.get(fact) for run in runs] + [None],
                                      dtype=object)
                    columns[fact] = values[index]
            self.added[name] = len(columns)
            all_ = kept.all()
            for c in frame.columns.drop("_run"):
                values = frame[c].array
                columns[c] = values if all_ else values[kept]
            self.frames[name] = pd.DataFrame(columns)
        for k, run in enumerate(runs):
            run._tables, run._index, run._parts = self, k, {}
        self.runs = runs

    def part(self, name, index):
        a, b = self.bounds[name][index], self.bounds[name][index + 1]
        return self.frames[name].iloc[a:b, self.added[name]:].reset_index(drop=True)


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
            try:
                names = [n for n in os.listdir(given) if TAB_FILE.fullmatch(n)]
            except OSError as e:
                raise ResultsError(given, None, f"cannot list the folder: {e.strerror}") from None
            if not names:
                raise ResultsError(given, None, "no results<N>.txt in this folder")
            for name in sorted(names, key=lambda n: int(TAB_FILE.fullmatch(n).group(1))):
                add(os.path.join(given, name))
        elif os.path.lexists(given):
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
    """Many runs in one set of tables, each row marked with its run's folder and number (and
    in `trials` with the run's participant and session).

    runs: the Run objects. trials, cells, clicks, events: the tables. problems: the notes of
    every run; refused: the files refused in every run."""

    def __init__(self, runs):
        self.runs = list(runs)
        self.problems = [p for run in self.runs for p in run.problems]
        self.refused = [p for run in self.runs for p in run.refused]
        tables = self.runs[0]._tables if self.runs else None
        if tables is not None and tables.runs == self.runs:
            for name in ("trials", "cells", "clicks", "events"):
                setattr(self, name, tables.frames[name])
            return
        # Runs read apart: their tables put together.
        for name in ("trials", "cells", "clicks", "events"):
            parts = []
            for run in self.runs:
                table = getattr(run, name).copy()
                added = {"folder": run.folder, "run": run.number}
                if name == "trials":
                    added.update(participant=run.participant, session=run.session)
                for k, (column, value) in enumerate(added.items()):
                    table.insert(k, column, [value] * len(table))
                parts.append(table)
            setattr(self, name, pd.concat(parts, ignore_index=True) if parts else
                    pd.DataFrame(columns=STUDY_COLUMNS))


def read_run(path):
    """One run from its tab results file (or any of its files): the coordinate file, the event
    log and its sidecar beside it are read when they are there. Raises ResultsError for a
    malformed file."""
    return assemble([parserun(os.fspath(path))]).runs[0]


def read_study(paths, progress=None, errors=None):
    """Many runs (files, folders, glob patterns) into one Study. `progress`, when given, is
    called with (index from 1, count, path) before each run is read. A run that cannot be read
    raises its ResultsError, or, when `errors` is a list, is appended to it and left out (as
    is a path that names no run)."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    tabs, found = [], []  # found: (place in the order given, error)
    for given in paths:
        try:
            tabs += [t for t in find_runs([os.fspath(given)]) if t not in tabs]
        except ResultsError as e:
            found.append((len(tabs) - 0.5, e))
    runs, places = [], []
    for i, tab in enumerate(tabs):
        if progress:
            progress(i + 1, len(tabs), tab)
        try:
            runs.append(parserun(tab))
            places.append(i)
        except ResultsError as e:
            found.append((i, e))
    failures = {}
    tables = assemble(runs, failures)
    found += [(places[i], e) for i, e in failures.items()]
    found.sort(key=lambda f: f[0])
    if found and errors is None:
        raise found[0][1]
    if errors is not None:
        errors += [e for _, e in found]
    return Study(tables.runs)
