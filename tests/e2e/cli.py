#!/usr/bin/env python3
"""cli: end-to-end cases of the command line. Exit status 0 passed, 1 failed.

  cli.py messages --program PATH --check PATH --version X.Y.Z --work FOLDER
  cli.py pilot --program PATH --display-file STATEFILE --work FOLDER

`messages` needs no display: --help, --version, mistakes and unusable data folders. `pilot`
plays a trial in a --window run given a DATA_FOLDER and the toolkit's -display option.
"""

import argparse
import ctypes
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib"))
import xsubject  # noqa: E402
from records import Bad, Design, expect, readcoord, readtab  # noqa: E402

ONE_TRIAL = ("num_x: 10\nnum_y: 10\nwatch_length: 0.5\nshift_length: 0.3\nrotate_length: 0.3\nwait_lengths:\n0.2\n"
             "length_end:\nrotation_angles:\n90\nangle_end:\ntarget_distract_sets:\n9 12\nset_end:\n")


def case_messages(args, work):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

    def run(*words):
        p = subprocess.run(words, env=env, cwd=work, text=True, timeout=30,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return p.returncode, p.stdout, p.stderr

    for program, name in ((args.program, "spatialmemory"), (args.check, "spatialmemory-check")):
        status, out, err = run(program, "--help")
        expect(status == 0 and err == "" and out.startswith(f"usage: {name} [OPTIONS]"),
               f"{name} --help: {status} {out!r} {err!r}")
        expect(run(program, "--version") == (0, f"{name} {args.version}\n", ""), f"{name} version")
        status, out, err = run(program, "--windows")
        expect(status == 2 and out == "" and err.startswith(f"{name}: ") and "usage:" in err,
               f"{name} --windows: {status} {out!r} {err!r}")
    # Unusable folders: one line naming each, status 1, nothing made anywhere.
    afile = os.path.join(work, "settings.txt")
    with open(afile, "w") as f:
        f.write(ONE_TRIAL)
    deep = os.path.join(work, *["d" * 90] * 3)  # longer than the 255 characters held
    os.makedirs(deep)
    for folder in (os.path.join(work, "none"), afile, deep):
        before = sorted(os.walk(work))
        status, out, err = run(args.program, folder)
        expect(status == 1 and err.count("\n") == 1 and folder in err and out == "",
               f"folder {folder}: status {status}, stdout {out!r}, stderr {err!r}")
        expect(sorted(os.walk(work)) == before, f"folder {folder}: something was created")


def visiblepointer(display):
    """Whether the pointer's shape now shows any pixel, by XFixes' cursor image."""

    class Image(ctypes.Structure):
        _fields_ = [(n, ctypes.c_short) for n in "xy"] + [
            (n, ctypes.c_ushort) for n in ("width", "height", "xhot", "yhot")] + [
            ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong))]

    x11, xfixes = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(Image)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    image = xfixes.XFixesGetCursorImage(x11.XOpenDisplay(display.encode())).contents
    return any(image.pixels[i] >> 24 for i in range(image.width * image.height))


def case_pilot(args, work):
    with open(args.display_file) as f:
        display, _, width, height = f.read().split()
    session = os.path.join(work, "session")
    os.makedirs(session)
    with open(os.path.join(session, "settings.txt"), "w") as f:
        f.write(ONE_TRIAL)
    # Started as work/elsewhere/spatialmemory.app/spatialmemory: the folder rule gives elsewhere.
    elsewhere = os.path.join(work, "elsewhere")
    script = f'exec "$1" --window -display {display} "{session}"'
    run = xsubject.Run(display, (int(width), int(height)), elsewhere, args.program,
                       wrapper=["env", "-u", "DISPLAY", "sh", "-c", script, "sh"])
    try:
        # The picture is the window's, at the screen's top-left corner, with its bands.
        run.geometry = xsubject.Geometry(1024, 768)
        run.waitfor("idle screen in the window", run.idle, 60)
        window = run.windowgeometry()
        expect(window[1:] == (1024, 768, 0, 0), f"the pilot window is {window[1:]}")
        run.movepointer(512, 384)
        run.starttrial()
        # In a picture 640 rows high the phase label reaches into the prompt's box: only the
        # prompt lights its columns beyond the longest label.
        prompt = run.geometry.textbox(0.0, 0.9, len(xsubject.PICK_PROMPT))
        prompt = (prompt[0] + 7 * xsubject.GLYPH_WIDTH, *prompt[1:])
        run.waitfor("PICK phase", lambda: run.shot().white(prompt) >= 12, 60)
        run.finishtrial()
        expect(visiblepointer(display), "the pointer is hidden after a trial")
        run.key("g")
        expect(run.wait() == 0, f"status {run.process.returncode}: {run.stderr()!r}")
    finally:
        run.stop()
    trials, _ = readtab(os.path.join(session, "results0.txt"), Design(ONE_TRIAL))
    readcoord(os.path.join(session, "results_coord0.txt"), trials)
    expect(len(trials) == 1 and trials[0].complete and trials[0].angle == 90, f"trials {trials}")
    left = [n for n in os.listdir(elsewhere) if n.startswith("results")]
    expect(not left, f"results files in the folder from the program's path: {left}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["messages", "pilot"])
    for option in ("--program", "--check", "--version", "--display-file", "--work"):
        parser.add_argument(option)
    args = parser.parse_args()
    work = os.path.join(os.path.abspath(args.work), args.case)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        (case_messages if args.case == "messages" else case_pilot)(args, work)
    except (Bad, xsubject.Failure) as problem:
        print(f"FAILED {args.case}: {problem}\nwork folder kept: {work}")
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
