"""The reader on runs the real program wrote: values read back equal the files' values, runs
cut short and empty angle pools flagged, several folders read as one study, a log of another
run left out. (test_hostile.py refuses the malformed files.)"""

import math
import os

import pytest

import spatialmemory
from conftest import (addbuttons, checklayout, fixture, logrows, stopduring,
                      trialparts, version12)

WHOLE = os.path.join(fixture("whole"), "results0.txt")


@pytest.mark.parametrize("name", ["nolog", "whole"])
def test_run_reads_back_the_files_values(name):
    run = spatialmemory.read_run(os.path.join(fixture(name), "results0.txt"))
    assert run.settings["num_y"] == 5 and run.settings["watch_length"] == 0.6
    assert run.settings["tarcolsetstart"] == [(40, 200, 230), (44, 20, 10)]
    # The trials and cells tables print back as both results files, byte for byte.
    checklayout(run)
    trials, cells, c = run.trials, run.cells, run.clicks
    assert len(trials) == 6 and trials["complete"].all() and run.problems == run.refused == []
    assert list(trials.score) == list(trials.targets_hit - trials.distracts_hit - trials.empty_hit)
    assert list(cells.cell) == list(cells.col * 5 + cells.row)
    if name == "nolog":  # the coordinate file's clicks, in its order
        assert not run.has_log and run.events.empty
        records = spatialmemory.reader.readcoord(run.files["coord"])
        assert list(zip(c.trial, c.grid_x, c.grid_y)) == [
            (n, x, y) for n, r in enumerate(records, 1) for x, y in r["lists"][0]]
    else:  # the log's clicks, in the order made, and its phase durations
        logged = logrows(fixture(name), "click")
        assert [(r["trial"], r["grid_x"], r["grid_y"], r["x_px"], r["rt"], r["result"])
                for r in logged] == \
            [(str(t), f"{x:f}", f"{y:f}", str(px), f"{rt:.6f}", res) for t, x, y, px, rt, res in
             zip(c.trial, c.grid_x, c.grid_y, c.x_px, c.rt, c.result)]
        for phase in spatialmemory.reader.PHASES:
            durations = [r["duration"] for r in logrows(fixture(name), phase)]
            assert durations == [f"{d:.6f}" for d in trials[phase.lower() + "_duration"]]
        first = {r["trial"]: r["rt"] for r in reversed(logged)}
        assert [first.get(str(t), "nan") for t in trials.trial] == \
            [f"{v:.6f}" if v == v else "nan" for v in trials.first_click_rt]
    # The sweeps reach half a cell past the edges, where the run judged cells on the grid.
    assert (~c.on_grid & c.row.between(0, 4) & c.col.between(0, 5)).any()
    # Whatever the source, each cell's first click gives the file's hit counts.
    counts = c.groupby(["trial", "result"]).size().unstack(fill_value=0)
    assert list(counts["target"].reindex(trials.trial, fill_value=0)) == list(trials.targets_hit)


# A log that does not belong with the results files: (line edited, text, replacement,
# the refusal's start). Line 20 is a click of trial 1 on a target; 137 ends trial 2; 126 is a
# click of trial 2, 121 starts it.
OTHER_LOGS = [
    (137, "\t0.000000\t0.000000\t3.000000", "\t9.000000\t0.000000\t3.000000",
     "{tab}:15: trial 2: targets_hit 0, but 9 in the log ({log}:137)"),
    (121, "\t3\t4\t1\t1\t0\t", "\t3\t5\t1\t1\t0\t",
     "{tab}:15: trial 2: distractors 4, but 5 in the log ({log}:121)"),
    (20, "\ttarget\t", "\tempty\t",
     "{log}:20: trial 1: a click logged as empty, which the cells in {coord} make target"),
    (127, "\t5.492627\t", "\t5.592627\t", "{log}: trial 2: 5 click positions in the log, 4 in "
     "{coord}, and they differ"),
    (121, "\t2\ttrial_start\t", "\t12\ttrial_start\t", "{log}:121: trial 12 is not in {tab}"),
]


@pytest.mark.parametrize("line,old,new,refusal", OTHER_LOGS)
def test_log_from_another_run_is_refused_and_the_results_files_kept(copyrun, line, old, new,
                                                                     refusal):
    folder = copyrun("whole")
    log = folder / "results_events0.tsv"
    lines = log.read_text().split("\n")
    assert old in lines[line - 1]
    lines[line - 1] = lines[line - 1].replace(old, new)
    log.write_text("\n".join(lines))
    run = spatialmemory.read_run(folder / "results_coord0.txt")
    names = {"tab": folder / "results0.txt", "coord": folder / "results_coord0.txt", "log": log}
    assert run.refused == [refusal.format(**names) + ": the log does not belong with these "
                           "results files and is left out"]
    assert run.problems == [] and not run.has_log and run.events.empty
    # The trials as the results files hold them, the clicks as the coordinate file does.
    assert run.trials.complete.all() and list(run.trials.targets_hit) == [3, 0, 0, 0, 0, 1]
    assert set(run.clicks.source) == {"coord"} and "trial_onset" not in run.trials


# How much of trial 4's part of each file was written when the program ended (None: all of
# it, a negative count: all but so many characters), and the file whose end shows it first.
STOPS = {
    # The disk filled as 's' wrote trial 4's record: the coordinate file ends in a row.
    "coordinate file in a row": ({"results0.txt": None, "results_coord0.txt": 400,
                                  "results_events0.tsv": None}, "results_coord0.txt"),
    "tab line in its hits, coordinate record after eight values, log after trial_start": (
        {"results0.txt": 50, "results_coord0.txt": 112, "results_events0.tsv": 293},
        "results0.txt"),
    "log in a click row": ({"results0.txt": None, "results_coord0.txt": None,
                            "results_events0.tsv": -300}, "results_events0.tsv"),
    "coordinate file after a row's line end": (
        {"results0.txt": None, "results_coord0.txt": 252, "results_events0.tsv": 0},
        "results_coord0.txt"),
    "tab line before its condition was whole": (
        {"results0.txt": 20, "results_coord0.txt": 112, "results_events0.tsv": 293}, None),
}


@pytest.mark.parametrize("kept,shows", STOPS.values(), ids=STOPS.keys())
def test_run_ended_during_a_trial_keeps_every_whole_trial_before_it(copyrun, kept, shows):
    folder = copyrun("whole")
    parts = trialparts(folder)
    stopduring(folder, 4, kept)
    run = spatialmemory.read_run(folder / "results0.txt")
    t = run.trials
    assert list(t.trial) == [1, 2, 3, 4][:4 if shows else 3] and t.complete[:3].all()
    assert list(t.targets_hit[:3]) == [3, 0, 0] and list(t.total_hit[:3]) == [36, 3, 0]
    assert run.refused == []
    if shows:
        assert not t.complete[3]
        ends = len((folder / shows).read_text().splitlines())  # the file's last line
        cut = [p for p in run.problems if "was cut short" in p]
        assert cut == [f"{folder / shows}:{ends}: trial 4 was cut short " + cut[0].split(
            " was cut short ")[1]] and cut[0].endswith("the program ended during it")
    else:
        assert run.problems[0] == f"{folder}/results0.txt:17: the last trial line was cut short "\
            "before its condition was written in full: left out"
    # Every click and cell of the trials before it, from the files written in full there.
    clicks = run.clicks[run.clicks.trial < 4]
    assert len(clicks) == sum(p.count("\tclick\t") for p in parts["results_events0.tsv"][1][:3])
    assert set(run.cells.trial) - {4} == {1, 2, 3}
    assert (4 in set(run.cells.trial)) == (kept["results_coord0.txt"] is None)


def test_columns_added_later_are_read_and_the_first_press_times_the_first_click(copyrun):
    """A log with the button and action columns, and a column this reader does not know: each
    trial's clicks start with a release (a button held since WAIT), so its first press is its
    second click."""
    folder = copyrun("whole")
    log = folder / "results_events0.tsv"
    addbuttons(folder, first="release", extra=("pressure", "high"))
    run = spatialmemory.read_run(folder / "results0.txt")
    c = run.clicks
    turns = c.groupby("trial").cumcount()
    assert list(c.action) == [("release", "press")[i % 2] for i in turns]
    assert list(c.button) == [0] * len(c) and set(run.events.pressure) == {"high"}
    first = c[c.action == "press"].groupby("trial").rt.first()
    assert list(run.trials.first_click_rt.fillna(-1)) == \
        list(first.reindex(run.trials.trial).fillna(-1))  # -1: a trial without clicks
    log.write_text(log.read_text().replace("\tpress\t", "\tpush\t", 1))
    with pytest.raises(spatialmemory.ResultsError, match="unknown click action 'push'"):
        spatialmemory.read_run(folder / "results0.txt")


def clicksat(folder, trial, spots):
    """The coordinate file with the first clicks of a trial moved to the given grid positions
    (texts as the file writes them)."""
    path = folder / "results_coord0.txt"
    lines = path.read_text().split("\n")
    first = next(k for k, line in enumerate(lines) if line.startswith(f"{trial} "))
    for k, (x, y) in enumerate(spots, first):
        lines[k] = lines[k][:168] + f"{x:<13} {y:<13}" + lines[k][195:]
    path.write_text("\n".join(lines))


# Grid positions on the edges of a grid of 6 x 5 cells, and whether each is on it.
EDGES = [("6.000000", "2.500000", False), ("5.999999", "2.500000", True),
         ("0.000000", "0.000000", True), ("-0.000001", "2.500000", False),
         ("2.500000", "5.000000", False), ("2.500000", "4.999999", True)]


def test_clicks_at_the_edges_of_the_grid(copyrun):
    """A grid of 6 x 5 cells spans from 0 up to but not including 6 across and 5 up: a click on
    its far edge is off it, as is one a millionth of a cell before its near edge. The run's
    version judged each at its position cut toward zero, on the grid or not."""
    folder = copyrun("nolog")
    clicksat(folder, 1, [(x, y) for x, y, _ in EDGES])
    c = spatialmemory.read_run(folder / "results0.txt").clicks
    c = c[c.trial == 1][:len(EDGES)]
    assert list(c.on_grid) == [on for _, _, on in EDGES]
    assert list(c.col) == [6, 5, 0, 0, 2, 2] and list(c.row) == [2, 2, 0, 2, 5, 4]


def test_run_killed_in_pick_keeps_its_finished_trial_and_flags_the_other():
    run = spatialmemory.read_run(os.path.join(fixture("killed"), "results_coord0.txt"))
    first, cut = run.trials.iloc[0], run.trials.iloc[1]
    assert first["complete"] and not cut["complete"]
    assert math.isnan(cut["targets_hit"]) and math.isnan(cut["score"])
    checklayout(run)  # the cut trial's first eight values, and nothing after them
    # The log kept the cut trial's start (synced at 'g') and lost the rest.
    assert cut["trial_onset"] > 0 and math.isnan(cut["watch_duration"])
    assert set(run.cells.trial) == set(run.clicks.trial) == {1}
    assert run.problems == [f"{fixture('killed')}/results0.txt:15: trial 2 was cut short (no "
                            "hit counts): the program ended during it"]


def test_empty_angle_pool_flags_its_trial():
    run = spatialmemory.read_run(os.path.join(fixture("emptypool"), "results0.txt"))
    assert list(run.trials.angle_pool_empty) == [False, False, True]
    assert list(run.trials.rotate_angle) == [60.0, 30.0, 0.0]
    assert len(run.problems) == 1 and ":10: trial 3 found the angle pool" in run.problems[0]


def test_study_over_folders_and_globs():
    study = spatialmemory.read_study([fixture("whole"), FIXTURE_GLOB, fixture("nolog")])
    assert [(os.path.basename(r.folder), r.number) for r in study.runs] == \
        [("whole", 0), ("emptypool", 0), ("killed", 0), ("nolog", 0)]
    assert len(study.trials) == 6 + 3 + 2 + 6
    per_run = study.trials.groupby("folder").size()
    assert per_run[fixture("killed")] == 2
    assert list(study.clicks.columns[:2]) == ["folder", "run"]
    with pytest.raises(spatialmemory.ResultsError, match="no results<N>.txt"):
        spatialmemory.read_study([os.path.dirname(fixture("whole"))])


FIXTURE_GLOB = os.path.join(os.path.dirname(WHOLE), "..", "[ek]*", "results*.txt")


def test_a_browser_runs_page_rows_are_read_counted_and_never_clicks(copyrun):
    """The page left full screen and hidden, during trial 1 (among its early input and its
    clicks) and trial 2: the same clicks and scores as without those rows, and each trial's
    interruptions counted; a row of a name no version writes is still refused."""
    folder = copyrun("whole")
    version12(folder)
    plain = spatialmemory.read_run(folder / "results0.txt")
    log = folder / "results_events0.tsv"
    text = log.read_text()
    na = "\t".join(["n/a"] * 33)

    def row(onset, trial, event):
        return f"{onset}\t{'n/a'}\t{trial}\t{event}\t480\t{na}\n"

    lines = text.splitlines(keepends=True)
    early = next(i for i, line in enumerate(lines) if "\tearly\t" in line)
    wheel = next(i for i, line in enumerate(lines) if "\twheel\t" in line)
    second = next(i for i, line in enumerate(lines) if line.split("\t")[2:4] == ["2", "trial_end"])
    lines[second:second] = [row("20.5", 2, "page_hidden"), row("21.5", 2, "page_shown")]
    lines[wheel:wheel] = [row("11.545", 1, "page_hidden"), row("11.546", 1, "page_shown")]
    lines[early:early] = [row("11.05", 1, "fullscreen_left"), row("11.07", 1, "fullscreen_back")]
    log.write_text("".join(lines))
    run = spatialmemory.read_run(folder / "results0.txt")
    assert run.refused == run.problems == []
    assert run.clicks.equals(plain.clicks)
    assert run.trials.drop(columns="interruptions").equals(plain.trials.drop(columns="interruptions"))
    assert list(plain.trials.interruptions) == [0, 0]
    assert list(run.trials.interruptions) == [2, 1]
    shown = run.events[run.events.event.isin(spatialmemory.reader.PAGE_EVENTS)]
    assert list(shown.trial) == [1, 1, 1, 1, 2, 2] and shown.result.isna().all()
    log.write_text("".join(lines).replace("\tpage_shown\t", "\tpage_gone\t", 1))
    with pytest.raises(spatialmemory.ResultsError, match="unknown event 'page_gone'"):
        spatialmemory.read_run(folder / "results0.txt")


def test_a_run_of_1_2_0_read_as_that_version_scored_it(copyrun):
    """From 1.2.0 a click is scored at the cell its position rounds down to, only on the grid;
    the wheel is no click; input before PICK is shown is logged as early; the sidecar holds
    the run's facts under "spatialmemory". The same rows from an earlier version, which cut
    positions toward zero and scored every click, cannot be right."""
    folder = copyrun("whole")
    version12(folder, participant="P01", session="2")
    run = spatialmemory.read_run(folder / "results0.txt")
    assert run.refused == run.problems == [] and run.scoring == "floor"
    assert (run.participant, run.session, run.facts["version"]) == ("P01", "2", "1.2.0")
    c = run.clicks[run.clicks.trial == 1]
    assert list(c.result) == ["target", "repeat"] + ["off_grid"] * 4 + ["wheel"] * 2 + [
        "distractor", "repeat"]
    on_grid = c.on_grid.astype(object).fillna("wheel")
    assert list(on_grid) == [True] * 2 + [False] * 4 + ["wheel"] * 2 + [True] * 2
    assert list(c.cell.fillna(-1)) == [14, 14] + [-1] * 6 + [2, 2]
    early = run.events[run.events.event == "early"]
    assert list(early.action.fillna(early.key)) == ["press", "release", "s"]
    assert list(run.trials.early_inputs) == [3, 0] and run.trials.first_click_rt[0] == 0.143597
    log = folder / "results_events0.tsv"
    for old, new, refusal in (
            ('"version": "1.2.0"', '"version": "1.1.0"', f"{log}: trial 1: 5 click positions in "
             f"the log, 4 in {folder}/results_coord0.txt, and they differ"),
            ("\t3\t5\toff_grid\t", "\t3\t5\tdistractor\t", f"{log}:15: trial 1: a click logged "
             f"as distractor, which the cells in {folder}/results_coord0.txt make off_grid")):
        name = "results_events0.json" if "version" in old else "results_events0.tsv"
        text = (folder / name).read_text()
        (folder / name).write_text(text.replace(old, new, 1))
        assert spatialmemory.read_run(folder / "results0.txt").refused[0].startswith(refusal)
        (folder / name).write_text(text)
