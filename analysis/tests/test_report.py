"""The report on real runs: every table and plot there, a page that parses and needs nothing
outside itself, numbers that agree with summary.csv, and replay images in the trial table."""

import html.parser
import math
import os
import re
import statistics

import pandas as pd
import pytest
from matplotlib.figure import Figure

import spatialmemory
import spatialmemory.report
from conftest import addbuttons, fixture, logrows, report, version12


class Page(html.parser.HTMLParser):
    """The page's tables (id -> rows of cell texts), images and every referenced resource."""

    def __init__(self, text):
        super().__init__()
        self.tables, self.images, self.references, self.open = {}, [], [], []
        self.table = self.row = None
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.open.append(tag) if tag not in ("meta", "img", "br") else None
        self.references += [attrs[a] for a in ("src", "href", "data") if a in attrs]
        if tag == "table":
            self.table = self.tables.setdefault(attrs.get("id"), [])
        elif tag == "tr" and self.table is not None:
            self.row = []
            self.table.append(self.row)
        elif tag in ("td", "th") and self.row is not None:
            self.row.append("")
        elif tag == "img":
            self.images.append(attrs)
        elif tag in ("link", "script", "iframe", "object"):
            self.references.append(tag)

    def handle_endtag(self, tag):
        assert self.open and self.open.pop() == tag, f"</{tag}> closes nothing open"
        if tag == "table":
            self.table = self.row = None

    def handle_data(self, data):
        if self.row is not None and self.row:
            self.row[-1] += data.strip()


def tablines(name):
    """The trial lines of a fixture's tab file."""
    with open(os.path.join(fixture(name), "results0.txt")) as f:
        return [line for line in f.read().split("\n")[1:] if line[:1].isdigit() and
                line.count("\t") >= 8]


def coordrows(folder):
    """The click positions and the number of cells a coordinate file lists."""
    clicks, cells = [], 0
    with open(os.path.join(folder, "results_coord0.txt")) as f:
        for line in f.read().split("\n")[1:]:
            row = line[168:]
            if row[:13].strip():
                clicks.append((float(row[:13]), float(row[14:27])))
            cells += bool(row[28:41].strip()) + bool(row[56:69].strip())
    return clicks, cells


def makereport(tmp_path, *folders):
    out = tmp_path / "out"
    done = report(*folders, "--out", str(out))
    assert done.returncode == 0, done.stderr
    with open(out / "report.html", encoding="utf-8") as f:
        return out, done, Page(f.read())


def test_report_on_real_runs_has_every_table_and_plot(tmp_path):
    out, done, page = makereport(tmp_path, fixture("whole"), fixture("killed"),
                                 fixture("emptypool"), fixture("nolog"))
    assert sorted(os.listdir(out)) == ["cells.csv", "clicks.csv", "report.html", "summary.csv",
                                       "trials.csv"]
    assert done.stderr.count("reading run ") == 4
    assert not page.open, f"elements left open: {page.open}"
    assert {"runs", "settings", "summary", "timing", "trials"} <= set(page.tables)
    plots = [i for i in page.images if i.get("class") == "plot"]
    assert [i["alt"] for i in plots] == [
        "By rotation angle", "By wait length", "By set size",
        "By borders, instant shift and blank wait", "phase durations"]
    # The timing audit: one row per phase, each counting the phases the logs hold (6 trials,
    # 3 trials, and 1 of the killed run: its second lost all but its start).
    timing = page.tables["timing"]
    assert [row[0] for row in timing[1:]] == spatialmemory.reader.PHASES
    assert [row[1] for row in timing[1:]] == ["10"] * 5
    assert all(ref.startswith("data:image/png;base64,") for ref in page.references)
    assert not [i for i in page.images if i.get("alt", "").endswith("replayed")]
    # Every trial in the table, every problem named with its file and line.
    assert len(page.tables["trials"]) == 1 + 17
    text = open(out / "report.html", encoding="utf-8").read()
    assert "killed/results0.txt:15: trial 2 was cut short" in text
    assert "emptypool/results0.txt:10: trial 3 found the angle pool" in text
    # Not one of these runs had its swaps synced to the display (a virtual one): each is named
    # for it, and no refresh interval is given for scale.
    assert [n for n in ("whole", "killed", "emptypool") if f"{n}/results_events0.json: display "
            "timing not synced to the refresh" in text] == ["whole", "killed", "emptypool"]
    assert "Refresh interval" not in text
    # The tidy tables are the tables the reader reads (its tests hold those to the files).
    study = spatialmemory.read_study([fixture(n) for n in ("whole", "killed", "emptypool",
                                                           "nolog")])
    for name in ("trials", "clicks", "cells"):
        written, read = pd.read_csv(out / f"{name}.csv"), getattr(study, name)
        assert list(written.columns) == list(read.columns) and len(written) == len(read)
        numbers = read.select_dtypes("number").columns
        pd.testing.assert_frame_equal(written[numbers], read[numbers], check_dtype=False)


def test_report_numbers_agree_with_summary_csv(tmp_path):
    out, _, page = makereport(tmp_path, fixture("whole"), fixture("nolog"))
    summary = pd.read_csv(out / "summary.csv")
    rows = page.tables["summary"]
    assert len(rows) == 1 + len(summary)
    assert rows[0][:2] == ["targets", "distractors"]
    for shown, (_, row) in zip(rows[1:], summary.iterrows()):
        for text, value in zip(shown, row):
            if pd.isna(value):
                assert text == ""
            else:
                assert abs(float(text) - value) <= 0.0005, (text, value)
    # Each condition's figures, worked out here from the lines of both tab files.
    groups = {}
    for line in tablines("whole") + tablines("nolog"):
        v = [float(x) for x in line.split("\t")[:12]]
        groups.setdefault(tuple(v[1:8]), []).append(v)
    # (Conditions whose trials differ in hits: there the SD's divisor shows.)
    assert len(summary) == len(groups) and sum(len({v[8] for v in g}) > 1
                                               for g in groups.values()) >= 2
    for _, row in summary.iterrows():
        mine = groups[tuple(row[spatialmemory.CONDITION])]
        hits = [v[8] for v in mine]
        alarms = [v[9] + v[10] for v in mine]
        scores = [v[8] - v[9] - v[10] for v in mine]
        assert row.trials == len(mine)
        assert row.hits_mean == pytest.approx(statistics.mean(hits))
        assert row.false_alarms_mean == pytest.approx(statistics.mean(alarms))
        assert row.hit_rate == pytest.approx(sum(hits) / sum(v[1] for v in mine))
        for name, values in (("hits_sd", hits), ("false_alarms_sd", alarms),
                             ("score_sd", scores)):  # n - 1, none for one trial
            assert row[name] == pytest.approx(statistics.stdev(values)) if len(mine) > 1 \
                else math.isnan(row[name])


def test_replay_images_are_embedded_in_the_trial_table(tmp_path, copyrun):
    folder = copyrun("whole")
    os.mkdir(folder / "replay0")
    fig = Figure(figsize=(6.4, 4))  # a stand-in for spatialmemory-replay's marked image
    fig.add_subplot().plot([0, 1], [1, 0], "r")
    fig.savefig(folder / "replay0" / "trial2-marked.png")
    _, _, page = makereport(tmp_path, str(folder))
    replays = [i for i in page.images if i.get("alt", "").endswith("replayed")]
    assert [i["alt"] for i in replays] == ["trial 2 replayed"]
    assert replays[0]["src"].startswith("data:image/jpeg;base64,")
    header, *rows = page.tables["trials"]
    assert header[:3] == ["run", "trial", "replay"]


def test_an_earlier_report_is_never_emptied(tmp_path, monkeypatch, capsys):
    """The tables and the page are made in full, written under temporary names and renamed:
    a failure leaves the earlier report's page as it was, and no temporary file behind."""
    out = tmp_path / "out"
    out.mkdir()
    (out / "report.html").write_text("the earlier report")
    (out / "clicks.csv").mkdir()  # a table that cannot be replaced
    assert spatialmemory.report.main([fixture("nolog"), "--out", str(out)]) == 2
    said = capsys.readouterr().err.splitlines()
    assert said == [f"spatialmemory-report: {out}/clicks.csv: cannot write: Is a directory; no "
                    "report written"]
    assert (out / "report.html").read_text() == "the earlier report"
    assert sorted(os.listdir(out)) == ["clicks.csv", "report.html", "trials.csv"]

    def fault(*args):
        raise KeyError("a fault of the page's code")

    monkeypatch.setattr(spatialmemory.report, "page", fault)
    assert spatialmemory.report.main([fixture("nolog"), "--out", str(out)]) == 2
    said = capsys.readouterr().err.splitlines()
    assert len(said) == 1 and said[0].startswith("spatialmemory-report: internal error, no "
                                                 "report written: KeyError:")
    assert (out / "report.html").read_text() == "the earlier report"
    assert sorted(os.listdir(out)) == ["clicks.csv", "report.html", "trials.csv"]


def test_page_counts_and_times_as_the_files_do(tmp_path, copyrun):
    """The runs table counts the presses of a button (a log tells them from releases) and
    those off the grid; the timing table gives each phase's mean duration in s and its excess
    over the length set in ms, with the late frames, as the log's own rows add up."""
    folder = copyrun("whole")
    addbuttons(folder)
    sidecar = folder / "results_events0.json"
    sidecar.write_text(sidecar.read_text().replace('"swap_synced": false', '"swap_synced": true')
                       .replace('"refresh_interval_ms": 3.922', '"refresh_interval_ms": 16.667'))
    out, _, page = makereport(tmp_path, str(folder), fixture("nolog"))
    text = (out / "report.html").read_text()
    assert "display timing not synced" not in text and "synced to the display): 16.667 ms" in text
    header, *rows = page.tables["runs"]
    shown = [(row[header.index("clicks")], row[header.index("clicks off the grid")])
             for row in rows]
    presses = [(float(r["grid_x"]), float(r["grid_y"])) for r in logrows(folder, "click")
               if r["action"] == "press"]
    for (count, off), clicks in zip(shown, [presses, coordrows(fixture("nolog"))[0]]):
        assert (int(count), int(off)) == (len(clicks), sum(
            not (0 <= x < 6 and 0 <= y < 5) for x, y in clicks))
    assert 0 < int(shown[0][1]) < int(shown[0][0])
    header, *rows = page.tables["timing"]
    for row in rows:
        row = dict(zip(header, row))
        log = logrows(folder, row["phase"])
        durations = [float(r["duration"]) for r in log]
        assert float(row["actual mean (s)"]) == pytest.approx(statistics.mean(durations),
                                                              abs=5e-4)
        assert int(row["late frames"]) == sum(int(r["late_frames"]) for r in log)
        if row["phase"] != "PICK":
            excess = [(d - float(r["set_length"])) * 1000 for d, r in zip(durations, log)]
            assert float(row["actual - set mean (ms)"]) == pytest.approx(
                statistics.mean(excess), abs=5e-4)
            assert float(row["actual - set max (ms)"]) == pytest.approx(max(excess), abs=5e-4)


def test_set_sizes_in_the_order_of_their_numbers_and_the_version():
    trials = pd.DataFrame({"targets": [12, 9, 9, 15], "distractors": [9, 12, 9, 12]})
    sizes = spatialmemory.report.setsizes(trials)
    assert list(sizes.cat.categories) == ["9/9", "9/12", "12/9", "15/12"]
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as f:
        version = re.search(r"project\(spatialmemory VERSION ([0-9.]+)", f.read()).group(1)
    done = report("--version")
    assert (done.returncode, done.stdout) == (0, f"spatialmemory-report {version}\n")


def test_participants_and_a_folder_named_in_latin_1(tmp_path, copyrun):
    """Runs that record their participant are summarised per participant as well as over all
    trials. A data folder whose name holds a byte that is not UTF-8 is read (its sidecar
    escapes the byte and keeps the exact name) and shown with that byte as \\xe9."""
    latin = os.fsdecode(b"lat\xe9")
    folders = [copyrun("whole", "p1"), copyrun("whole", latin), copyrun("whole", "p2")]
    exact = os.fsencode(folders[1] / "settings.txt")
    version12(folders[0], participant="P01", session="1")
    version12(folders[1], participant="P01", session="2",
              settings_file=exact.decode("latin-1"),
              settings_file_bytes="".join(chr(b) if 32 < b < 127 and b != 37 else f"%{b:02X}"
                                          for b in exact))
    version12(folders[2], participant="P02")
    run = spatialmemory.read_run(folders[1] / "results0.txt")
    assert spatialmemory.reader.rawbytes(run.facts, "settings_file") == exact
    out, _, page = makereport(tmp_path, *map(str, folders), fixture("nolog"))
    header, *rows = page.tables["runs"]
    assert [row[:4] for row in rows] == [
        [str(folders[0]), "0", "P01", "1"], [str(tmp_path / "lat") + "\\xe9", "0", "P01", "2"],
        [str(folders[2]), "0", "P02", ""], [fixture("nolog"), "0", "", ""]]
    assert list(pd.read_csv(out / "trials.csv").folder.unique())[1] == rows[1][0]
    # Each participant's trials of a condition: P01's two sessions and P02's one, hits from
    # the tab files' lines (the three runs hold the same two trials).
    lines = [line.split("\t") for line in (folders[0] / "results0.txt").read_text().split("\n")
             if line[:1] in ("1", "2") and line.count("\t") == 12]
    by = pd.read_csv(out / "summary_by_participant.csv")
    assert list(by.participant) == ["P01", "P01", "P02", "P02"]
    assert list(by.trials) == [2, 2, 1, 1] and sorted(by.hits_mean) == sorted(
        [float(v[8]) for v in lines] * 2)
    assert page.tables["participants"][0][0] == "participant"
