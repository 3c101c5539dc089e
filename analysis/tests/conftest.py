"""Shared by the analysis tests: the package on the path, the fixture runs (played with the
real program by scripts/make-analysis-fixtures), the end-to-end tests' layout check, and the
command run as a user runs it."""

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
