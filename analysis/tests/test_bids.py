"""spatialmemory-report --bids: the runs laid out as a BIDS dataset, each file holding what the
run's own files hold, and npm's BIDS validator passing it with no error and no column left
undescribed."""

import json
import os
import subprocess

import pytest

import spatialmemory
import spatialmemory.bids
from conftest import fixture, report, version12

HERE = os.path.dirname(os.path.abspath(__file__))


def study(copyrun):
    """Runs of every kind: of 1.2.0 with participants and sessions (two names that make the
    same label among them, and a folder named in Latin-1), of 1.1.0 with the earlier sidecar,
    without a log, ended during a trial, and with a log refused."""
    runs = [("p1s1", dict(participant="P 01", session="1")),
            (os.fsdecode(b"lat\xe9"), dict(participant="P 01", session="2")),
            ("p01", dict(participant="P01")), ("p2", dict(participant="P-02", session="a"))]
    folders = []
    for name, facts in runs:
        folders.append(copyrun("whole", name))
        version12(folders[-1], **facts)
    folders += [copyrun("whole", "old"), copyrun("nolog", "nolog"), copyrun("killed", "killed"),
                copyrun("whole", "other")]
    log = folders[-1] / "results_events0.tsv"
    log.write_text(log.read_text().replace("\t3\t4\t1\t1\t0\t", "\t3\t5\t1\t1\t0\t", 1))
    return folders


# Each run's base name in the dataset, in the order of study().
BASES = ["sub-P01_ses-1_task-spatialmemory", "sub-P01_ses-2_task-spatialmemory",
         "sub-P01x2_task-spatialmemory", "sub-P02_ses-a_task-spatialmemory",
         "sub-old_task-spatialmemory", "sub-nolog_task-spatialmemory",
         "sub-killed_task-spatialmemory", "sub-other_task-spatialmemory"]


def beh(base):
    sub, ses = base.split("_")[0], [p for p in base.split("_") if p.startswith("ses-")]
    return os.path.join(sub, *ses, "beh")


def test_each_run_in_its_place_holding_its_own_files(tmp_path, copyrun):
    folders = study(copyrun)
    out = tmp_path / "dataset"
    runs = spatialmemory.read_study(folders, errors=[])
    notes = spatialmemory.bids.export(runs, str(out), "1.2.0")
    assert len(notes) == 1 and notes[0].startswith(
        f"{folders[-1]}/results_events0.tsv: refused, so not in the dataset as events "
        f"({runs.refused[0][:100]}") and notes[0].endswith("; kept under sourcedata")
    with open(out / "participants.tsv") as f:
        assert f.read().split("\n") == [
            "participant_id\trecorded_as", "sub-P01\tP 01", "sub-P01x2\tP01", "sub-P02\tP-02",
            "sub-killed\tn/a", "sub-nolog\tn/a", "sub-old\tn/a", "sub-other\tn/a", ""]
    for folder, base in zip(folders, BASES):
        # The run's own files under sourcedata, byte for byte.
        kept = sorted(os.listdir(out / "sourcedata" / base))
        assert kept == sorted(n for n in os.listdir(folder) if n.startswith("results"))
        for name in kept:
            assert (out / "sourcedata" / base / name).read_bytes() == \
                (folder / name).read_bytes()
        # The trials as the tab file's lines hold them, n/a for what a trial cut short lacks.
        tab = [line.split("\t")[:-1] for line in (folder / "results0.txt").read_text().split(
            "\n") if line[:1].isdigit() and line.count("\t") >= 8]
        header, *rows = [line.split("\t") for line in (out / beh(base) / (
            base + "_beh.tsv")).read_text().split("\n")[:-1]]
        assert header[:12] == spatialmemory.reader.TRIAL_COLUMNS
        assert len(rows) == len(tab) and all(
            [float(v) for v in r[:len(t)]] + r[len(t):12] ==
            [float(v) for v in t] + ["n/a"] * (12 - len(t)) for r, t in zip(rows, tab))
        assert set(json.loads((out / beh(base) / (base + "_beh.json")).read_text())) == \
            set(header)
        # The log as written, every column described, the run's facts kept.
        events = out / beh(base) / (base + "_events.tsv")
        assert events.exists() == (base not in ("sub-nolog_task-spatialmemory",
                                                "sub-other_task-spatialmemory"))
        if events.exists():
            assert events.read_text() == (folder / "results_events0.tsv").read_text()
            sidecar = json.loads((out / beh(base) / (base + "_events.json")).read_text())
            header = events.read_text().split("\n")[0].split("\t")
            assert list(sidecar) == header + ["StimulusPresentation", "spatialmemory"]
            assert all(isinstance(sidecar[c]["Description"], str) for c in header)
            assert sidecar["spatialmemory"]["screen_width"] == 1280
    # Made again, the dataset takes the earlier one's place; a folder it did not make is left.
    spatialmemory.bids.export(runs, str(out), "1.2.0")
    assert sorted(os.listdir(tmp_path)) == sorted(["dataset"] + [f.name for f in folders])
    (tmp_path / "mine").mkdir()
    (tmp_path / "mine" / "notes.txt").write_text("a researcher's own")
    with pytest.raises(spatialmemory.bids.BidsError, match="not a dataset spatialmemory-repo"):
        spatialmemory.bids.export(runs, str(tmp_path / "mine"), "1.2.0")
    assert os.listdir(tmp_path / "mine") == ["notes.txt"]


def validate(path):
    """npm's BIDS validator on a dataset: its issues, as its --json output gives them."""
    validator = os.environ.get("SPATIALMEMORY_BIDS_VALIDATOR")
    if not validator:
        validator = os.path.join(HERE, "bids", "node_modules", ".bin", "bids-validator")
        if not os.path.exists(validator):
            pytest.skip("npm's bids-validator is not installed: npm ci in analysis/tests/bids")
    done = subprocess.run([validator, "--json", str(path)], capture_output=True, text=True,
                          timeout=240)
    return json.loads(done.stdout)


@pytest.mark.validator
def test_the_validator_passes_the_dataset(tmp_path, copyrun):
    folders = study(copyrun)
    out = tmp_path / "dataset"
    done = report(*map(str, folders), "--out", str(tmp_path / "report"), "--bids", str(out))
    assert done.returncode == 1 and done.stdout.split("\n")[-2] == str(out)  # a log refused
    result = validate(out)
    problems = [(i["code"], i["key"]) for i in result["issues"]["errors"]] + [
        (i["code"], i["key"]) for i in result["issues"]["warnings"] if i["code"] == 82]
    assert problems == []
    assert sorted(result["summary"]["subjects"]) == ["P01", "P01x2", "P02", "killed", "nolog",
                                                     "old", "other"]
    assert {"beh", "events"} <= set(result["summary"]["dataTypes"])
    # The validator sees what is wrong: the earlier layout of the sidecar fails its schema.
    events = out / beh(BASES[4]) / (BASES[4] + "_events.json")
    with open(os.path.join(fixture("whole"), "results_events0.json")) as f:
        events.write_text(f.read())
    assert 55 in [i["code"] for i in validate(out)["issues"]["errors"]]
