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


@pytest.fixture
def copyrun(tmp_path):
    """A fixture run copied into a folder of the test's own, to be changed there."""

    def copy(name, folder="data"):
        target = tmp_path / folder
        shutil.copytree(fixture(name), target)
        return target

    return copy
