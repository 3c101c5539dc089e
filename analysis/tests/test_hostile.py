"""Hostile inputs: a run's files damaged or forged the ways a full disk, another program or an
attacker would leave them. Each is refused in one line that names the file and line and quotes
at most about 200 characters of it; the command leaves that run out, reports the others and
exits with status 1; nothing hangs and nothing ends in a traceback."""

import os

import pandas as pd
import pytest

import spatialmemory
from conftest import fixture, report, stopduring

LOG, SIDECAR = "results_events0.tsv", "results_events0.json"
TAB, COORD = "results0.txt", "results_coord0.txt"
D20 = "12345678901234567890"
LONG = 1_000_000  # characters of a line no program of this project writes


def sub(old, new):
    def change(text):
        assert old in text, old
        return text.replace(old, new, 1)
    return change


# name: (file, change of its text, line named, start of the message)
CORPUS = {
    "20-digit trial in the log": (LOG, sub("\t1\ttrial_start\t", f"\t{D20}\ttrial_start\t"), 2,
                                  f"trial: '{D20}' is not a whole number of at most 15 digits"),
    "20-digit seed": (LOG, sub("\t1796596661\t1796596661\t", f"\t{D20}\t1796596661\t"), 2,
                      f"seed_layout: '{D20}' is not a whole number"),
    "20-digit pixel": (LOG, sub("\t304\t727\t", f"\t304\t{D20}\t"), 20,
                       f"y_px: '{D20}' is not a whole number"),
    "a digit that is not ASCII": (LOG, sub("\t1\ttrial_start\t", "\t\u0661\ttrial_start\t"), 2,
                                  "trial: '\u0661' is not a whole number"),
    "log column named line": (LOG, sub("\tscore\n", "\tscore\tline\n"), 1,
                              "a column named 'line', a name the reader gives a column of its own"),
    "log column named run": (LOG, sub("\tscore\n", "\tscore\trun\n"), 1, "a column named 'run'"),
    "two log columns of one name": (LOG, sub("\tscore\n", "\tscore\tscore\n"), 1,
                                    "two columns named 'score'"),
    "a million-character result": (LOG, sub("\ttarget\t", f"\t{'x' * LONG}\t"), 20,
                                   "unknown click result 'xxxxxxxx"),
    "a row longer than its header": (LOG, sub("\tn/a\n", "\tn/a\tn/a\n"), 2,
                                     "36 values; the header has 35"),
    "a click without its place": (LOG, sub("\t-1.503922\t5.500299\t", "\tn/a\t5.500299\t"), 20,
                                  "a click row without its grid_x"),
    "a second start": (LOG, lambda t: t.replace("\n", "\n" + t.split("\n")[1] + "\n", 1), 3,
                       "a second trial_start row for trial 1"),
    "a Latin-1 byte in the log": (LOG, sub("\tWATCH\t", "\tWATCH\xe9\t"), 3,
                                  "not a text file of the program (a byte that is not UTF-8)"),
    "sidecar without screen_height": (SIDECAR, sub('  "screen_height": 800,\n', ""), 1,
                                      "no screen_height: not a sidecar the program wrote"),
    "refresh interval a word": (SIDECAR, sub("3.922", '"fast"'), 59,
                                'refresh_interval_ms is "fast": not a number or null'),
    "sidecar nested 100000 deep": (SIDECAR, sub('"Mesa/X.org"', "[" * 100000 + "]" * 100000), 53,
                                   "nested deeper than any sidecar"),
    "NaN in the sidecar": (SIDECAR, sub("3.922", "NaN"), 59, "NaN is no JSON number"),
    "a 5000-digit number": (SIDECAR, sub("3.922", "9" * 5000), 59,
                            "not a JSON number the reader can take"),
    "participant a number": (SIDECAR, sub('  "clock"', '  "participant": 7,\n  "clock"'), 60,
                             "participant is 7: not a string or null"),
    "sidecar a list": (SIDECAR, lambda t: "[]", 1, "the sidecar is one JSON object"),
    "version a word": (SIDECAR, sub('"1.1.0"', '"one"'), 41,
                       'version is "one": not a version string'),
    "a million-digit setting": (TAB, sub("num_y\t5\n", f"num_y\t{'5' * LONG}\n"), 2,
                                "num_y: '5555555555"),
    "20-digit targets": (TAB, sub("\n1\t3\t2\t", f"\n1\t{D20}\t2\t"), 14,
                         f"column 2 (targets): '{D20}' is not a whole number"),
    "a grid of no columns": (TAB, sub("num_x\t6", "num_x\t0"), 1, "num_x 0 outside 1 to 512"),
    "carriage returns": (TAB, lambda t: t.replace("\n", "\r\n"), 1, "a carriage return"),
    "an empty tab file": (TAB, lambda t: "", 1, "no header line"),
    "eight values and a line end": (TAB, sub("0.300000\t90.000000\t1.000000\t0.000000\t3.000000"
                                             "\t4.000000\t\n", "0.300000\t90.000000\t\n"), 19,
                                    "a trial line has 12 values, this one 8"),
    "a NUL byte": (COORD, sub("total hit", "total\0hit"), 1, "a NUL byte"),
    # Files another program wrote or a hand mended.
    "trial_start without targets": (LOG, sub("trial_start\t104\tn/a\tn/a\tn/a\tn/a\tn/a\t3",
                                             "trial_start\t104" + "\tn/a" * 6), 2,
                                    "a trial_start row without its targets"),
    "event WATCHING": (LOG, sub("\tWATCH\t", "\tWATCHING\t"), 3, "unknown event 'WATCHING'"),
    "sidecar not JSON": (SIDECAR, sub('"program": ', '"program" '), 40, "not JSON: Expecting ':'"),
    "setting num_z": (TAB, sub("num_y\t5", "num_z\t5"), 2, "neither a settings line"),
    "trial 5 for 4": (TAB, sub("\n4\t2\t3", "\n5\t2\t3"), 17, "trial 5 where trial 4 was due"),
    "trial line without its last tab": (TAB, sub("36.000000\t\n", "36.000000\n"), 14,
                                        "a trial line ends with a tab"),
    "coordinate header": (COORD, sub("total hit", "total hits"), 1,
                          "not the coordinate file's header"),
    "167 blanks": (COORD, sub("\n" + " " * 168 + "-1.503921", "\n" + " " * 167 + "-1.503921"), 3,
                   "a continuation line starts with 168 blanks"),
    "distractors of another run": (COORD, sub("\n3             3             2             1",
                                              "\n3             3             4             1"),
                                   64, "distractors 4 differs from 2 at line 16 of"),
    "a click half blank": (COORD, sub("5.500299      4 ", " " * 8 + "      4 "), 2,
                           "a click with one of its two values blank"),
    "a distractor below a blank": (COORD, sub("4.494000" + " " * 61 + "\n",
                                              f"4.494000{'':34}{4:<13} {2:<13}\n"), 6,
                                   "a distractor cell below a blank one"),
}


def damage(folder, name):
    file, change, _, _ = CORPUS[name]
    path = folder / file
    path.write_bytes(change(path.read_text()).encode("latin-1" if "Latin-1" in name else "utf-8"))


@pytest.mark.parametrize("name", CORPUS)
def test_reader_refuses_each_in_one_line(copyrun, name):
    folder = copyrun("whole")
    damage(folder, name)
    with pytest.raises(spatialmemory.ResultsError) as caught:
        spatialmemory.read_run(folder / TAB)
    file, _, line, message = CORPUS[name]
    e = caught.value
    assert (e.path, e.line) == (str(folder / file), line) and e.message.startswith(message)
    assert len(e.message) < 300


def test_command_leaves_each_out_reports_the_rest_and_never_hangs(tmp_path, copyrun):
    """Each bad run is one line naming file and line, as is a log refused; the good ones, the
    run whose log was refused and the run ended during a trial still make the report."""
    other, stopped = copyrun("whole", "other"), copyrun("whole", "stopped")
    (other / LOG).write_text((other / LOG).read_text().replace("\t3\t4\t1\t1\t0\t",
                                                               "\t3\t5\t1\t1\t0\t", 1))
    stopduring(stopped, 4, {TAB: None, COORD: 400, LOG: None})
    good = [fixture("whole"), str(copyrun("killed", "killed")), str(other), str(stopped)]
    bad = []
    for k, name in enumerate(CORPUS):
        bad.append(copyrun("whole", f"bad{k}" if k else "bad\n0"))  # a line end in a name too
        damage(bad[-1], name)
    # A pipe under a run's name would block the reader that opened it.
    bad.append(copyrun("whole", "fifo"))
    os.unlink(bad[-1] / COORD)
    os.mkfifo(bad[-1] / COORD)
    out = tmp_path / "out"
    done = report(*good, *map(str, bad), "--out", str(out))
    assert done.returncode == 1 and "Traceback" not in done.stderr
    lines = [line for line in done.stderr.splitlines()
             if line.startswith("spatialmemory-report: ")]
    lines.remove(f"spatialmemory-report: {other}/{TAB}:15: trial 2: distractors 4, but 5 in the "
                 f"log ({other}/{LOG}:121): the log does not belong with these results files "
                 "and is left out")
    assert len(lines) == len(bad) and all(len(line) < 400 for line in lines)
    for line, folder, (file, _, number, message) in zip(lines, bad, CORPUS.values()):
        where = str(folder / file).replace("\n", "\\n")
        assert line.startswith(f"spatialmemory-report: {where}:{number}: {message}")
    assert lines[-1] == f"spatialmemory-report: {bad[-1] / COORD}: not a regular file"
    trials = pd.read_csv(out / "trials.csv")
    assert list(trials.groupby("folder", sort=False).size()) == [6, 2, 6, 4]
    assert list(trials.complete[-4:]) == [True] * 3 + [False]
