"""The report on real runs: every table and plot there, a page that parses and needs nothing
outside itself, numbers that agree with summary.csv, and replay images in the trial table."""

import html.parser
import os

import pandas as pd
import pytest
from matplotlib.figure import Figure

import spatialmemory
import spatialmemory.report
from conftest import fixture, report


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
    # The tidy tables read back equal what the library gives.
    names = ("whole", "killed", "emptypool", "nolog")
    study = spatialmemory.read_study([fixture(n) for n in names])
    trials = pd.read_csv(out / "trials.csv")
    pd.testing.assert_frame_equal(trials, study.trials, check_dtype=False)
    assert len(pd.read_csv(out / "clicks.csv")) == len(study.clicks)
    assert len(pd.read_csv(out / "cells.csv")) == len(study.cells)


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
    # Each condition's figures, worked out here from the trials of both runs.
    trials = pd.read_csv(out / "trials.csv")
    assert summary.trials.sum() == len(trials) == 12 and (summary.trials > 1).any()
    for _, row in summary.iterrows():
        mine = [t for _, t in trials.iterrows()
                if all(t[k] == row[k] for k in spatialmemory.CONDITION)]
        hits = [t.targets_hit for t in mine]
        alarms = [t.distracts_hit + t.empty_hit for t in mine]
        assert row.trials == len(mine)
        assert row.hits_mean == pytest.approx(sum(hits) / len(mine))
        assert row.false_alarms_mean == pytest.approx(sum(alarms) / len(mine))
        assert row.hit_rate == pytest.approx(sum(hits) / sum(t.targets for t in mine))


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
