#!/usr/bin/env python3
"""analysis_bench: how long the analysis package takes to read a long run and a large study.

Both are made from the runs the real program recorded for the package's tests
(analysis/tests/fixtures): a run of 1200 trials, the six trials of the whole run (every cell
swept, a log of each press) played 200 times over, and a study of 1000 runs, each a copy of
that whole run in a session folder of its own. Times read_run on the first and read_study on
the second, best of a few rounds, against the targets of 1 s and 10 s.

    /usr/bin/python3 bench/analysis_bench.py [--rounds N] [--keep DIR]

Run it with Debian's python3 (pandas); it is a benchmark, not a test: the figures depend on
the machine and what else runs on it.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "analysis"))
import spatialmemory  # noqa: E402

WHOLE = os.path.join(HERE, "..", "analysis", "tests", "fixtures", "whole")
FILES = ("results0.txt", "results_coord0.txt", "results_events0.tsv")


def read(name):
    with open(os.path.join(WHOLE, name)) as f:
        return f.read()


def split(text, header_end, trial_of):
    """A file's head (up to its header's end) and its trials' parts, in order."""
    head, body = text[:header_end], text[header_end:]
    parts, trial = [], None
    for line in body.splitlines(keepends=True):
        number = trial_of(line)
        if number and number != trial:
            parts.append("")
            trial = number
        parts[-1] += line
    return head, parts


def longrun(folder, repeats):
    """The whole run's trials played `repeats` times over, numbered on, into folder."""
    tab, coord, log = (read(name) for name in FILES)
    tabhead, tabparts = split(tab, tab.index("total hit") + 10, lambda line: line.split("\t")[0])
    coordhead, coordparts = split(coord, coord.index("\n") + 1,
                                  lambda line: line.split(" ")[0])
    loghead, logparts = split(log, log.index("\n") + 1, lambda line: line.split("\t")[2])
    out = {name: [head] for name, head in zip(FILES, (tabhead, coordhead, loghead))}
    count = len(tabparts)
    for r in range(repeats):
        for k in range(count):
            n = r * count + k + 1
            out[FILES[0]].append(f"{n}\t" + tabparts[k].split("\t", 1)[1])
            first, rest = coordparts[k].split(" ", 1)
            out[FILES[1]].append(f"{n:<13}" + rest[13 - len(first) - 1:] if len(first) < 13
                                 else f"{n} " + rest)
            out[FILES[2]].append("".join(
                "\t".join(f[:2] + [str(n)] + f[3:]) for f in
                (line.split("\t") for line in logparts[k].splitlines(keepends=True))))
    os.makedirs(folder)
    for name in FILES:
        with open(os.path.join(folder, name), "w") as f:
            f.write("".join(out[name]))
    shutil.copy(os.path.join(WHOLE, "results_events0.json"), folder)


def study(folder, runs):
    """`runs` copies of the whole run, one session folder each."""
    for k in range(runs):
        shutil.copytree(WHOLE, os.path.join(folder, f"session-{k + 1:04d}"))


def timed(what, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        result = what()
        times.append(time.perf_counter() - start)
    return result, times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=3, help="times each read is made")
    parser.add_argument("--keep", metavar="DIR", help="make the data in DIR and keep it")
    args = parser.parse_args()
    top = args.keep or tempfile.mkdtemp(prefix="analysis-bench.")
    try:
        longrun(os.path.join(top, "long"), 200)
        study(os.path.join(top, "study"), 1000)
        run, times = timed(lambda: spatialmemory.read_run(os.path.join(top, "long",
                                                                      "results0.txt")),
                           args.rounds)
        assert len(run.trials) == 1200 and run.trials.complete.all() and not run.problems, \
            run.problems[:3]
        print(f"read_run, 1200 trials ({len(run.clicks)} clicks, {len(run.events)} log rows): "
              f"best {min(times):.2f} s, median {statistics.median(times):.2f} s "
              "(target 1 s)")
        folders = os.path.join(top, "study", "session-*")
        many, times = timed(lambda: spatialmemory.read_study([folders]), args.rounds)
        assert len(many.runs) == 1000 and not many.problems
        print(f"read_study, 1000 runs of 6 trials ({len(many.clicks)} clicks, "
              f"{len(many.events)} log rows): best {min(times):.2f} s, median "
              f"{statistics.median(times):.2f} s (target 10 s)")
    finally:
        if not args.keep:
            shutil.rmtree(top)


if __name__ == "__main__":
    main()
