#!/usr/bin/env python3
"""cli: end-to-end cases of the command line.

  cli.py messages --program PATH --check PATH --version X.Y.Z --work FOLDER
  cli.py data_folder|pilot_window --program PATH --display-file STATEFILE --work FOLDER

`messages` needs no display: --help, --version, mistakes and unusable data folders, of both
programs. The other two play a trial on the virtual display a CTest fixture started: one full
screen with a DATA_FOLDER argument, one in a pilot window with the toolkit's -display option.
Exit status 0 passed, 1 failed.
"""

import argparse
import ctypes
import os
import shlex
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "lib"))
import xsubject  # noqa: E402
from xsubject import Failure  # noqa: E402
from records import Bad, Design, expect, readcoord, readtab  # noqa: E402

ONE_TRIAL = ("num_x: 10\nnum_y: 10\nwatch_length: 0.5\nshift_length: 0.3\nrotate_length: 0.3\n"
             "wait_lengths:\n0.2\nlength_end:\nrotation_angles:\n90\nangle_end:\n"
             "target_distract_sets:\n9 12\nset_end:\n")


def launcher(*args, nodisplay=False):
    """A wrapper for xsubject.Run that starts the program by its path with these arguments."""
    script = "unset DISPLAY; " if nodisplay else ""
    return ["sh", "-c", script + 'exec "$1" ' + " ".join(map(shlex.quote, args)), "sh"]


def case_messages(args, work):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

    def run(program, *words):
        p = subprocess.run([program, *words], env=env, cwd=work, text=True, timeout=30,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return p.returncode, p.stdout, p.stderr

    for program, name in ((args.program, "spatialmemory"), (args.check, "spatialmemory-check")):
        status, out, err = run(program, "--help")
        expect((status, err) == (0, "") and out.startswith(f"usage: {name} [OPTIONS]"),
               f"{name} --help: {status} {out!r} {err!r}")
        options = ["--help", "--version"] + (["--window"] if name == "spatialmemory" else [])
        expect(all(o in out for o in options), f"{name} --help leaves out an option: {out!r}")
        expect(run(program, "--version") == (0, f"{name} {args.version}\n", ""),
               f"{name} --version: {run(program, '--version')}")
        status, out, err = run(program, "--windows")
        expect(status == 2 and out == "" and "--windows" in err and "usage:" in err,
               f"{name} --windows: {status} {out!r} {err!r}")
    # Unusable folders: one line naming each, status 1, nothing made anywhere.
    afile = os.path.join(work, "settings.txt")
    with open(afile, "w") as f:
        f.write(ONE_TRIAL)
    deep = os.path.join(work, *["d" * 90] * 3)
    os.makedirs(deep)
    for folder in (os.path.join(work, "missing"), afile, deep):
        before = sorted(os.walk(work))
        status, out, err = run(args.program, folder)
        expect(status == 1 and err.count("\n") == 1 and folder in err and out == "",
               f"folder {folder}: status {status}, stdout {out!r}, stderr {err!r}")
        expect(sorted(os.walk(work)) == before, f"folder {folder}: something was created")


def visiblepointer(display):
    """Whether the pointer's current shape shows any pixel (XFixes' cursor image)."""

    class CursorImage(ctypes.Structure):
        _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                    ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort),
                    ("yhot", ctypes.c_ushort), ("serial", ctypes.c_ulong),
                    ("pixels", ctypes.POINTER(ctypes.c_ulong))]

    x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    image = xfixes.XFixesGetCursorImage(connection).contents
    shown = any(image.pixels[i] >> 24 for i in range(image.width * image.height))
    x11.XCloseDisplay(connection)
    return shown


def case_played(args, work, display, screen):
    """One trial, 'g' after it ends the run with status 0, and both results files hold it."""
    pilot = args.case == "pilot_window"
    session = os.path.join(work, "session")
    os.makedirs(session)
    # Started by the path that the folder rule reads, the run takes `elsewhere` only without
    # an argument: elsewhere/spatialmemory.app/spatialmemory.
    elsewhere = session if pilot else os.path.join(work, "elsewhere")
    with open(os.path.join(session, "settings.txt"), "w") as f:
        f.write(ONE_TRIAL)
    words = ["-display", display, "--window"] if pilot else [session]
    run = xsubject.Run(display, screen, elsewhere, args.program,
                       wrapper=launcher(*words, nodisplay=pilot))
    try:
        if pilot:
            # The picture is the window's, at the screen's top-left corner, with its bands.
            run.geometry = xsubject.Geometry(1024, 768)
            run.waitfor("idle screen in the window", run.idle, 60)
            window = run.windowgeometry()
            expect(window[1:] == (1024, 768, 0, 0), f"the pilot window is {window[1:]}")
            run.movepointer(512, 384)
        else:
            run.waitready()
        run.starttrial()
        # In a picture 640 rows high the phase label reaches into the prompt's box: only the
        # prompt lights its columns beyond the longest label.
        prompt = run.geometry.textbox(0.0, 0.9, len(xsubject.PICK_PROMPT))
        prompt = (prompt[0] + 7 * xsubject.GLYPH_WIDTH, *prompt[1:])
        run.waitfor("PICK phase", lambda: run.shot().white(prompt) >= 12, 60)
        run.finishtrial()
        expect(visiblepointer(display) == pilot,
               f"pointer {'hidden' if pilot else 'shown'} on the idle screen after a trial")
        run.key("g")
        expect(run.wait() == 0, f"status {run.process.returncode}: {run.stderr()!r}")
    finally:
        run.stop()
    design = Design(ONE_TRIAL)
    trials, _ = readtab(os.path.join(session, "results0.txt"), design)
    readcoord(os.path.join(session, "results_coord0.txt"), trials)
    expect(len(trials) == 1 and trials[0].complete and trials[0].angle == 90,
           f"{len(trials)} trials recorded in {session}")
    if not pilot:
        left = [n for n in os.listdir(elsewhere) if n.startswith("results")]
        expect(not left, f"results files in the folder from the program's path: {left}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["messages", "data_folder", "pilot_window"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--check")
    parser.add_argument("--version")
    parser.add_argument("--display-file")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    work = os.path.join(os.path.abspath(args.work), "cli.work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        if args.case == "messages":
            case_messages(args, work)
        else:
            with open(args.display_file) as f:
                display, _, width, height = f.read().split()
            case_played(args, work, display, (int(width), int(height)))
    except (Bad, Failure) as problem:
        print(f"FAILED {args.case}: {problem}\nwork folder kept: {work}")
        return 1
    print(f"passed {args.case}")
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
