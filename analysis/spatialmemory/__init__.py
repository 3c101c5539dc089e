"""spatialmemory: the results of spatialmemory runs as tidy tables, for analysis scripts and
for the spatialmemory-report command.

    import spatialmemory
    run = spatialmemory.read_run("session-07/results0.txt")
    study = spatialmemory.read_study(["session-*/"])
    study.trials.groupby("rotate_angle").targets_hit.mean()

The formats of the files belong to reader.py, the per-condition summary to summary.py, the
command and its page to report.py.
"""

import os
import re

from .reader import CONDITION, ResultsError, Run, Study, find_runs, read_run, read_study
from .summary import summarize

__all__ = ["CONDITION", "ResultsError", "Run", "Study", "find_runs", "read_run", "read_study",
           "summarize", "__version__"]


def _version():
    """The version of the build the package belongs to, CMake's project version: written into
    _version.py when it is installed, read from the project's CMakeLists.txt when it runs
    where it stands in the source tree."""
    try:
        from ._version import VERSION
        return VERSION
    except ImportError:
        pass
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
    try:
        with open(top, encoding="utf-8") as f:
            m = re.search(r"project\(spatialmemory\s+VERSION\s+([0-9.]+)", f.read())
    except OSError:
        m = None
    return m.group(1) if m else "unknown"


__version__ = _version()
