"""Shared by the analysis tests: the package on the path, the fixture runs (played with the
real program by scripts/make-analysis-fixtures), the end-to-end tests' layout check, and the
command run as a user runs it."""

import json
import os
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
FIXTURES = os.path.join(HERE, "fixtures")
# The end-to-end tests' check that a run's tables print back as its results files, byte for byte.
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
from records import checklayout  # noqa: E402, F401

import spatialmemory  # noqa: E402


def fixture(name):
    return os.path.join(FIXTURES, name)


def report(*args):
    """The command as installed in the build tree (SPATIALMEMORY_REPORT, set by CTest), or the
    package run by this interpreter. Returns the finished process."""
    launcher = os.environ.get("SPATIALMEMORY_REPORT")
    if launcher:
        command = [launcher]
    else:
        command = [sys.executable, "-B", "-c", "import sys; sys.path.insert(0, sys.argv.pop(1)); "
                   "from spatialmemory.report import main; sys.exit(main())",
                   os.path.dirname(HERE)]
    return subprocess.run(command + list(args), capture_output=True, text=True, timeout=240)


def trialparts(folder):
    """Each of a run's three files split by trial: {name: (head, [part of trial 1, 2, ...])},
    a part being the trial's line, record or log rows with their line ends."""
    parts = {}
    for name, field in (("results0.txt", 0), ("results_coord0.txt", 0),
                        ("results_events0.tsv", 2)):
        text = (folder / name).read_text()
        cut = text.index("\n", text.index("total")) + 1  # after the header
        pieces, trial = [], None
        for line in text[cut:].splitlines(keepends=True):
            number = line.split("\t" if field else " ")[field]
            if number and number != trial:
                pieces.append("")
                trial = number
            pieces[-1] += line
        parts[name] = (text[:cut], pieces)
    return parts


def stopduring(folder, trial, kept):
    """The run's files as the program leaves them when it ends during `trial`: each holds the
    trials before it and, of that trial's part, the first kept[name] characters (None: all,
    negative: all but so many)."""
    for name, (head, pieces) in trialparts(folder).items():
        part = pieces[trial - 1]
        (folder / name).write_text(head + "".join(pieces[:trial - 1]) + part[:kept[name]])


def addbuttons(folder, first="press", extra=None):
    """The run's log with the columns button and action, as later versions write them: each
    click with the left button, presses and releases taking turns from `first` in each trial;
    `extra` (name, value) adds a column the reader does not know."""
    log = folder / "results_events0.tsv"
    header, *rows = log.read_text().split("\n")[:-1]
    turns = ("press", "release") if first == "press" else ("release", "press")
    out, k = [header + "\tbutton\taction" + (f"\t{extra[0]}" if extra else "")], 0
    for row in rows:
        event = row.split("\t")[3]
        k = 0 if event == "trial_start" else k + (event == "click")
        out.append(row + (f"\t0\t{turns[(k - 1) % 2]}" if event == "click" else "\tn/a\tn/a") +
                   (f"\t{extra[1]}" if extra else ""))
    log.write_text("\n".join(out) + "\n")


def logrows(folder, event=None):
    """The rows of a run's log (of one kind of event), as dicts of the texts written."""
    with open(os.path.join(folder, "results_events0.tsv")) as f:
        header, *rows = [line.split("\t") for line in f.read().split("\n") if line]
    return [dict(zip(header, row)) for row in rows if event in (None, row[3])]


@pytest.fixture
def copyrun(tmp_path):
    """A fixture run copied into a folder of the test's own, to be changed there."""

    def copy(name, folder="data"):
        target = tmp_path / folder
        shutil.copytree(fixture(name), target)
        return target

    return copy


def newsidecar(folder, version="1.2.0", **facts):
    """The run's sidecar rewritten in the layout that describes each log column at the top
    level (Description, Units, Levels), the display under StimulusPresentation and the run's
    facts under "spatialmemory", as version 1.2.0 writes it; `facts` added to those."""
    path = folder / "results_events0.json"
    old = json.loads(path.read_text())
    columns = old.pop("columns")
    columns["button"] = {"description": "click, early: the mouse button, 0 left, 1 middle, 2 "
                                        "right, 3 and 4 the wheel"}
    columns["action"] = {"description": "whether the button went down or came up",
                         "levels": {"press": "down", "release": "up"}}
    columns["key"] = {"description": "early: the key typed"}
    columns["event"]["levels"]["early"] = "input before PICK was on screen; it did nothing"
    columns["result"]["levels"].update(off_grid="a click off the grid, not scored",
                                       wheel="the wheel turned, not scored")
    doc = {name: {k.capitalize(): v for k, v in c.items()} for name, c in columns.items()}
    doc["StimulusPresentation"] = {
        "SoftwareName": "spatialmemory", "SoftwareVersion": version,
        "OperatingSystem": "Linux 6.1.0-18-amd64 x86_64",
        "ScreenResolution": f"{old['screen_width']}x{old['screen_height']}"}
    old.update({"version": version, "participant": None, "session": None,
                "settings_text": None, "wait_lengths": [0.5, 0.3], "rotation_angles": [90, -45],
                "shuffle_angles": False, "angle_pools": {}, "shuffle_seed": None, **facts})
    doc["spatialmemory"] = old
    path.write_text(json.dumps(doc, indent=2))


def version12(folder, **facts):
    """A copy of the whole run made into one version 1.2.0 could have written: its trials 3
    and 4 as trials 1 and 2, the log with the button, action and key columns, the sidecar in
    the new layout, and in trial 1 (cells: targets (2, 4), (2, 2), (4, 2), distractors (4, 0),
    (0, 2)) input before PICK was on screen, clicks on a target and a distractor, clicks off
    the grid on its left and on its top edge, and the wheel turned."""
    parts = trialparts(folder)
    head, tab = parts["results0.txt"]
    assert tab[2].startswith("3\t3\t2\t1\t0\t0\t0.300000\t90.000000\t")
    (folder / "results0.txt").write_text(
        head + "1\t3\t2\t1\t0\t0\t0.300000\t90.000000\t1.000000\t1.000000\t0.000000\t"
        "2.000000\t\n2\t" + tab[3].split("\t", 1)[1])
    head, coord = parts["results_coord0.txt"]
    lead = "".join(f"{v:<13} " for v in ["1", "3", "2", "1", "0", "0", "0.300000", "90.000000",
                                         "1.000000", "1.000000", "0.000000", "2.000000"])
    rows = [("-0.250000", "3.500000", "2", "4", "4", "0"), ("0.500000", "2.500000", "2", "2",
            "0", "2"), ("2.500000", "4.500000", "4", "2", "", ""), ("3.000000", "5.000000")]
    cells = [" ".join(f"{v:<13}" for v in row + ("",) * (6 - len(row))) for row in rows]
    (folder / "results_coord0.txt").write_text(
        head + lead + ("\n" + " " * 168).join(cells) + "\n" + " " * 168 + "\n" +
        "2" + coord[3][1:])
    head, log = parts["results_events0.tsv"]
    na = ["n/a"] * 38

    def row(onset, event, **values):
        fields = dict(zip(spatialmemory.reader.EVENT_COLUMNS, na), onset=onset, trial="1",
                      event=event, frame="484", **values)
        return "\t".join(fields[c] for c in spatialmemory.reader.EVENT_COLUMNS) + "\n"

    def click(onset, x, y, col, row_, result, button="0", action="press", rt="0.1"):
        return row(onset, "click", x_px="600", y_px="300", grid_x=x, grid_y=y, col=col,
                   row=row_, result=result, rt=rt, button=button, action=action)

    def renumber(part, trial):
        """A trial's rows under another number, with a press and a release of the left
        button taking turns in its clicks."""
        out, k = [], 0
        for line in part.splitlines():
            fields = line.split("\t")
            fields[2] = trial
            k += fields[3] == "click"
            out.append("\t".join(fields) + ("\t0\t" + ("release", "press")[k % 2] + "\tn/a\n"
                                            if fields[3] == "click" else "\tn/a\tn/a\tn/a\n"))
        return out

    extend = renumber(log[2], "1")
    extend[-1] = extend[-1].replace("\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t",
                                    "\t1.000000\t1.000000\t0.000000\t2.000000\t0.000000\t")
    new = [row("11.100000", "early", x_px="500", y_px="200", button="0", action="press"),
           row("11.200000", "early", x_px="500", y_px="200", button="0", action="release"),
           row("11.250000", "early", key="s"),
           click("11.40", "2.500000", "4.500000", "2", "4", "target", rt="0.143597"),
           click("11.41", "2.500000", "4.500000", "2", "4", "repeat", action="release"),
           click("11.50", "-0.250000", "3.500000", "-1", "3", "off_grid"),
           click("11.51", "-0.250000", "3.500000", "-1", "3", "off_grid", action="release"),
           click("11.52", "3.000000", "5.000000", "3", "5", "off_grid"),
           click("11.53", "3.000000", "5.000000", "3", "5", "off_grid", action="release"),
           row("11.54", "click", x_px="600", y_px="300", result="wheel", rt="0.2", button="3",
               action="press"),
           row("11.55", "click", x_px="600", y_px="300", result="wheel", rt="0.2", button="3",
               action="release"),
           click("11.60", "0.500000", "2.500000", "0", "2", "distractor"),
           click("11.61", "0.500000", "2.500000", "0", "2", "repeat", action="release")]
    (folder / "results_events0.tsv").write_text(
        head.rstrip("\n") + "\tbutton\taction\tkey\n" + "".join(extend[:-1] + new + extend[-1:]) +
        "".join(renumber(log[3], "2")))
    newsidecar(folder, **facts)


def pytest_configure(config):
    config.addinivalue_line("markers", "validator: checks with npm's BIDS validator (CTest "
                                       "test analysis_bids)")
