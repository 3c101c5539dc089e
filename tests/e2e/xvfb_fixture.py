#!/usr/bin/env python3
"""xvfb_fixture: starts and stops the virtual display that a group of end-to-end tests share.

  xvfb_fixture.py start STATEFILE WIDTH HEIGHT   starts Xvfb, writes "display pid width height"
  xvfb_fixture.py stop STATEFILE                 stops the Xvfb named in STATEFILE

The server outlives the start command (CTest runs it as a fixture set-up); its output goes to
STATEFILE.log so that CTest does not wait on it.
"""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "lib"))
import xsubject  # noqa: E402


def ours(pid):
    """Whether pid is an Xvfb that a fixture of ours started (left over from an aborted run)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            args = f.read().split(b"\0")
    except FileNotFoundError:
        return False
    return args[0].endswith(b"Xvfb") and b"-displayfd" in args


def stop(state):
    if not os.path.exists(state):
        return
    with open(state) as f:
        fields = f.read().split()
    if len(fields) >= 2 and ours(int(fields[1])):
        xsubject.stopprocess(int(fields[1]))
    os.remove(state)


def main(argv):
    if len(argv) == 5 and argv[1] == "start":
        state, width, height = argv[2], int(argv[3]), int(argv[4])
        stop(state)
        server = xsubject.Xvfb(width, height, log_path=state + ".log")
        with open(state, "w") as f:
            f.write(f"{server.display} {server.pid} {width} {height}\n")
        print(f"Xvfb {server.display} ({width}x{height}) pid {server.pid}")
        return 0
    if len(argv) == 3 and argv[1] == "stop":
        stop(argv[2])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
