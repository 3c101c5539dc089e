"""The reader on runs the real program wrote: values read back equal the files' values, runs
cut short and empty angle pools flagged, several folders read as one study, and every
malformed file refused with its file and line."""

import math
import os

import pytest

import spatialmemory
from conftest import fixture, report

WHOLE = os.path.join(fixture("whole"), "results0.txt")


def tablines(path):
    """The trial lines of a tab results file, split at tabs, read here independently."""
    with open(path) as f:
        lines = f.read().split("\n")
    body = lines[lines.index(spatialmemory.reader.TAB_HEADER) + 1:]
    return [line.rstrip("\t").split("\t") for line in body
            if line and not line.startswith("Trying")]


def coordlists(path):
    """Clicks and cells per trial, cut from the coordinate file at its 14-character columns."""
    with open(path) as f:
        lines = f.read().split("\n")[1:]
    trials = {}
    for line in lines:
        if line[:1].strip():
            current = trials.setdefault(int(line[:13]), ([], [], []))
        cols = [line[i:i + 13].strip() for i in range(12 * 14, 18 * 14, 14)]
        for k in range(3):
            if cols[2 * k]:
                current[k].append((cols[2 * k], cols[2 * k + 1]))
    return trials


def test_whole_run_reads_back_the_files_values():
    run = spatialmemory.read_run(WHOLE)
    assert run.settings["num_y"] == 5 and run.settings["watch_length"] == 0.6
    assert run.settings["tarcolsetstart"] == [(40, 200, 230), (44, 20, 10)]
    lines = tablines(WHOLE)
    trials = run.trials
    assert len(trials) == len(lines) == 6 and trials["complete"].all()
    for (_, row), fields in zip(trials.iterrows(), lines):
        ints = [f"{row[c]}" for c in spatialmemory.reader.TRIAL_COLUMNS[:6]]
        floats = [f"{row[c]:f}" for c in spatialmemory.reader.TRIAL_COLUMNS[6:]]
        assert ints + floats == fields
        assert row["score"] == row["targets_hit"] - row["distracts_hit"] - row["empty_hit"]
    # Cells and clicks as the coordinate file lists them, order kept.
    for trial, (clicks, targets, distracts) in coordlists(WHOLE.replace("results", "results_coord")).items():
        mine = run.clicks[run.clicks.trial == trial]
        assert [(f"{x:f}", f"{y:f}") for x, y in zip(mine.grid_x, mine.grid_y)] == clicks
        for kind, cells in (("target", targets), ("distractor", distracts)):
            got = run.cells[(run.cells.trial == trial) & (run.cells.kind == kind)]
            assert [(str(c), str(r)) for c, r in zip(got.col, got.row)] == cells
            assert list(got.cell) == [int(c) * 5 + int(r) for c, r in cells]
    # The results worked out from the cells give the file's hit counts; nothing to note.
    counts = run.clicks.groupby(["trial", "result"]).size().unstack(fill_value=0)
    assert list(counts["target"].reindex(trials.trial, fill_value=0)) == list(trials.targets_hit)
    assert run.problems == [] and run.events.empty and not run.has_log


def test_run_killed_in_pick_keeps_its_finished_trial_and_flags_the_other():
    run = spatialmemory.read_run(os.path.join(fixture("killed"), "results_coord0.txt"))
    first, cut = run.trials.iloc[0], run.trials.iloc[1]
    assert first["complete"] and not cut["complete"]
    assert math.isnan(cut["targets_hit"]) and math.isnan(cut["score"])
    assert (cut["targets"], cut["wait_length"], cut["rotate_angle"]) == (3, 0.5, 90.0)
    assert set(run.cells.trial) == set(run.clicks.trial) == {1}
    assert run.problems == [f"{fixture('killed')}/results0.txt:15: trial 2 was cut short (no "
                            "hit counts): the program ended during it"]


def test_empty_angle_pool_flags_its_trial():
    run = spatialmemory.read_run(os.path.join(fixture("emptypool"), "results0.txt"))
    assert list(run.trials.angle_pool_empty) == [False, False, True]
    assert list(run.trials.rotate_angle) == [60.0, 30.0, 0.0]
    assert len(run.problems) == 1 and ":10: trial 3 found the angle pool" in run.problems[0]


def test_study_over_folders_and_globs():
    study = spatialmemory.read_study([fixture("whole"), os.path.join(FIXTURE_GLOB)])
    assert [(os.path.basename(r.folder), r.number) for r in study.runs] == \
        [("whole", 0), ("emptypool", 0), ("killed", 0)]
    assert len(study.trials) == 6 + 3 + 2
    per_run = study.trials.groupby("folder").size()
    assert per_run[fixture("killed")] == 2
    assert list(study.clicks.columns[:2]) == ["folder", "run"]
    with pytest.raises(spatialmemory.ResultsError, match="no results<N>.txt"):
        spatialmemory.read_study([os.path.dirname(fixture("whole"))])


FIXTURE_GLOB = os.path.join(os.path.dirname(WHOLE), "..", "[ek]*", "results*.txt")


def edit(path, old, new, count=1):
    with open(path) as f:
        text = f.read()
    assert old in text
    with open(path, "w") as f:
        f.write(text.replace(old, new, count))


# file, text replaced, replacement, line named, start of the message
MALFORMED = [
    ("results0.txt", "num_y\t5", "num_z\t5", 2, "neither a settings line"),
    ("results0.txt", "num_x\t6", "num_x\tsix", 1, "num_x: 'six' is not a whole number"),
    ("results0.txt", "\t-45.000000\t0.000000\t0.000000", "\t-45.000000\t0.000000", 16,
     "a trial line has 12 values, this one 11"),
    ("results0.txt", "\n4\t3\t2", "\n5\t3\t2", 17, "trial 5 where trial 4 was due"),
    ("results0.txt", "37.000000\t\n", "37.000000\n", 14, "a trial line ends with a tab"),
    ("results_coord0.txt", "total hit", "total hits", 1, "not the coordinate file's header"),
    ("results_coord0.txt", "\n" + " " * 168 + "-0.503921", "\n" + " " * 167 + "-0.503921", 3,
     "a continuation line starts with 168 blanks"),
    ("results_coord0.txt", "\n3             3             2             1",
     "\n3             3             4             1", 64,
     "distractors 4 differs from 2 at line 16 of"),
    ("results_coord0.txt", "6.488939      0.506000      2 ", "6.488939                    2 ", 60,
     "a click with one of its two values blank"),
    ("results_coord0.txt", "1.506000" + " " * 61 + "\n", f"1.506000{'':34}{4:<13} {2:<13}\n", 7,
     "a distractor cell below a blank one"),
]


@pytest.mark.parametrize("name,old,new,line,message", MALFORMED)
def test_malformed_file_is_one_clear_line(copyrun, name, old, new, line, message):
    folder = copyrun("whole")
    edit(folder / name, old, new)
    with pytest.raises(spatialmemory.ResultsError) as caught:
        spatialmemory.read_run(folder / "results0.txt")
    assert (caught.value.path, caught.value.line) == (str(folder / name), line)
    assert caught.value.message.startswith(message)


def test_command_lists_every_malformed_run_and_fails(copyrun):
    """Each bad run is one line naming file and line; the good ones still make the report."""
    bad = [copyrun("whole", "a"), copyrun("killed", "b")]
    edit(bad[0] / "results0.txt", "num_y\t5", "num_z\t5")
    edit(bad[1] / "results_coord0.txt", "total hit", "total hits")
    done = report(str(bad[0]), str(bad[1]), fixture("emptypool"), "--out", str(bad[0] / "out"))
    assert done.returncode == 1 and "Traceback" not in done.stderr
    errors = [line for line in done.stderr.splitlines() if line.startswith("spatialmemory-report")]
    assert errors == [f"spatialmemory-report: {bad[0]}/results0.txt:2: neither a settings line "
                      "nor the header: 'num_z\\t5'",
                      f"spatialmemory-report: {bad[1]}/results_coord0.txt:1: not the "
                      "coordinate file's header line"]
    assert (bad[0] / "out" / "report.html").exists()
