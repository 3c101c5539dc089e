"""spatialmemory: the results of spatialmemory runs as tidy tables, for analysis scripts and
for the spatialmemory-report command.

    import spatialmemory
    run = spatialmemory.read_run("session-07/results0.txt")
    study = spatialmemory.read_study(["session-*/"])
    study.trials.groupby("rotate_angle").targets_hit.mean()

The formats of the files belong to reader.py, the per-condition summary to summary.py, the
command and its page to report.py.
"""

from .reader import CONDITION, ResultsError, Run, Study, find_runs, read_run, read_study
from .summary import summarize

__all__ = ["CONDITION", "ResultsError", "Run", "Study", "find_runs", "read_run", "read_study",
           "summarize"]
