"""report: the spatialmemory-report command. Reads the runs given, writes the tidy tables,
the per-condition summary and one self-contained HTML page to look at a study before
analysing it.

    spatialmemory-report DATA... [--out DIR] [--bids OUT]

DATA are results files, data folders or glob patterns. Writes into DIR (default
./spatialmemory-report): trials.csv, clicks.csv, cells.csv, summary.csv (and, where runs
record their participant, summary_by_participant.csv) and report.html; with --bids, the runs
as a BIDS dataset in OUT as well (bids.py). A run whose files are malformed is left out with
one line on standard error naming the file and line, and the command then exits with status
1, as it does when it refuses a log that does not belong with its run's results files (the
run is then read from those); notes on the data (trials cut short, empty angle pools, display
timing not synced) go into the report and onto standard error, and leave the status 0. When
the report or the dataset cannot be written, or on a fault of its own, it says so in one line
and exits with status 2, leaving any earlier report as it was.

Reading the files belongs to reader.py, the summary to summary.py and the dataset's layout to
bids.py; this module owns the command line, the plots and the page.
"""

import argparse
import base64
import datetime
import html
import io
import os
import sys
import tempfile
import traceback

import matplotlib

matplotlib.use("Agg")
import matplotlib.image  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from . import __version__  # noqa: E402
from .bids import BidsError, export  # noqa: E402
from .reader import PHASES, WHEEL_BUTTONS, clip, oneline, read_study  # noqa: E402
from .summary import summarize, withmeasures  # noqa: E402

THUMBNAIL_WIDTH = 240  # pixels across of a replay image in the trial table
LOG_COLUMNS = ["watch_duration", "shift_duration", "rotate_duration", "wait_duration",
               "pick_duration", "first_click_rt"]
# Column headings of the page's tables, with units.
HEADINGS = {
    "wait_length": "wait length (s)", "rotate_angle": "rotation angle (deg)",
    "targets_hit": "targets hit", "distracts_hit": "distractors hit", "empty_hit": "empty hit",
    "total_hit": "total hit", "angle_pool_empty": "angle pool empty",
    "trials_cut_short": "trials cut short", "hits_mean": "hits mean", "hits_sd": "hits SD",
    "false_alarms_mean": "false alarms mean", "false_alarms_sd": "false alarms SD",
    "distractor_hits_mean": "distractor hits mean", "empty_hits_mean": "empty hits mean",
    "score_mean": "score mean", "score_sd": "score SD", "hit_rate": "hit rate",
    "watch_duration": "WATCH (s)", "shift_duration": "SHIFT (s)",
    "rotate_duration": "ROTATE (s)", "wait_duration": "WAIT (s)", "pick_duration": "PICK (s)",
    "first_click_rt": "first click (s)"}


# ---- plots ----


def pngdata(fig):
    """A figure as a data: URI of a PNG, so the page needs no file beside it."""
    buffer = io.BytesIO()
    fig.savefig(buffer, format="png", dpi=100, bbox_inches="tight")
    return "data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode("ascii")


def levelstats(trials, column):
    """Per level of a column: complete trials, mean and standard error of the hit rate and of
    the false alarms."""
    groups = trials.groupby(column, observed=True)
    stats = pd.DataFrame({"n": groups.size(),
                          "hit_rate": groups["hit_rate"].mean(),
                          "hit_rate_se": groups["hit_rate"].sem(),
                          "false_alarms": groups["false_alarms"].mean(),
                          "false_alarms_se": groups["false_alarms"].sem()})
    return stats.sort_index()


def plotby(trials, factors, title):
    """Hit rate and false alarms by each factor: means of the complete trials with their
    standard errors, n under each level. One factor gives the two panels side by side;
    several give a row of hit rates over a row of false alarms."""
    single = len(factors) == 1
    rows, cols = (1, 2) if single else (2, len(factors))
    fig = Figure(figsize=(9, 3.6) if single else (3.6 * len(factors), 6.2))
    axes = fig.subplots(rows, cols, squeeze=False)
    measures = (("hit_rate", "hit rate (targets hit / targets)", "tab:blue"),
                ("false_alarms", "false alarms per trial\n(distractor + empty hits)", "tab:red"))
    for j, (column, label) in enumerate(factors):
        stats = levelstats(trials, column)
        ticks = [f"{level:g}\nn={n}" if isinstance(level, float) else f"{level}\nn={n}"
                 for level, n in zip(stats.index, stats["n"])]
        x = range(len(stats))
        for i, (measure, unit, colour) in enumerate(measures):
            ax = axes[0][i] if single else axes[i][j]
            ax.errorbar(x, stats[measure], yerr=stats[measure + "_se"].fillna(0), fmt="o",
                        color=colour, capsize=4, ms=6)
            ax.set_xticks(list(x), ticks)
            ax.set_xlim(-0.5, len(stats) - 0.5)
            ax.grid(axis="y", alpha=0.3)
            if measure == "hit_rate":
                ax.set_ylim(-0.05, 1.05)
            else:
                ax.set_ylim(bottom=0)
            if single or i == rows - 1:
                ax.set_xlabel(label)
            if single or j == 0:
                ax.set_ylabel(unit)
    fig.suptitle(title)
    fig.tight_layout()
    return pngdata(fig)


def setsizes(trials):
    """Each trial's set size, targets/distractors, ordered by their numbers (9/12 before 12/9)
    rather than as texts."""
    sizes = sorted(set(zip(trials.targets, trials.distractors)))
    return pd.Series(pd.Categorical(
        [f"{t}/{d}" for t, d in zip(trials.targets, trials.distractors)],
        categories=[f"{t}/{d}" for t, d in sizes], ordered=True), index=trials.index)


def conditionplots(trials):
    """The page's plots of hit rate and false alarms, or none when no trial is complete."""
    done = withmeasures(trials[trials["complete"].astype(bool)])
    if done.empty:
        return []
    done = done.assign(set_size=setsizes(done))
    return [
        ("By rotation angle", plotby(done, [("rotate_angle", "rotation angle (deg)")],
                                     "Hit rate and false alarms by rotation angle")),
        ("By wait length", plotby(done, [("wait_length", "wait length (s)")],
                                  "Hit rate and false alarms by wait length")),
        ("By set size", plotby(done, [("set_size", "set size (targets / distractors)")],
                               "Hit rate and false alarms by set size")),
        ("By borders, instant shift and blank wait",
         plotby(done, [("borders", "borders (0 no, 1 yes)"),
                       ("instant", "instant shift (0 no, 1 yes)"),
                       ("blank", "blank wait (0 no, 1 yes)")],
                "Hit rate and false alarms by borders, instant shift and blank wait")),
    ]


# ---- the timing audit ----


def phaserows(events):
    rows = events[events["event"].isin(PHASES)].copy()
    rows["overshoot_ms"] = (rows["duration"] - rows["set_length"]) * 1000
    return rows


def timingtable(events):
    """Per phase: how long it was set to last and lasted, its frames and late frames."""
    rows = phaserows(events)
    groups = rows.groupby("event")
    table = pd.DataFrame({
        "phases": groups.size(),
        "set length mean (s)": groups["set_length"].mean(),
        "actual mean (s)": groups["duration"].mean(),
        "actual - set mean (ms)": groups["overshoot_ms"].mean(),
        "actual - set max (ms)": groups["overshoot_ms"].max(),
        "frames mean": groups["frames"].mean(),
        "frame interval median (ms)": groups["frame_median_ms"].median(),
        "frame interval max (ms)": groups["frame_max_ms"].max(),
        "late frames": groups["late_frames"].sum(),
    })
    table = table.reindex([p for p in PHASES if p in table.index])
    table.index.name = "phase"
    return table.reset_index()


def timingplot(events, refresh_ms):
    """Each timed phase's actual minus set duration, one point a phase shown; the refresh
    interval drawn for scale."""
    rows = phaserows(events)
    timed = [p for p in PHASES[:-1] if p in set(rows["event"])]
    fig = Figure(figsize=(7, 4))
    ax = fig.subplots()
    data = [rows.loc[(rows["event"] == p) & np.isfinite(rows["overshoot_ms"]), "overshoot_ms"]
            for p in timed]
    ax.boxplot(data, labels=timed, showfliers=False)
    for i, values in enumerate(data, 1):
        jitter = [(k % 7 - 3) * 0.03 for k in range(len(values))]
        ax.plot([i + d for d in jitter], values, "o", color="tab:blue", alpha=0.6, ms=4)
    ax.axhline(0, color="black", lw=0.8)
    if refresh_ms:
        ax.axhline(refresh_ms, color="tab:orange", ls="--", lw=1,
                   label=f"one refresh interval ({refresh_ms:.2f} ms)")
        ax.legend(loc="upper right")
    ax.set_ylabel("actual - set duration (ms)")
    ax.set_xlabel("phase")
    ax.set_title("Phase durations against the settings")
    ax.grid(axis="y", alpha=0.3)
    return pngdata(fig)


# ---- tables ----


def table(frame, table_id, escape=True):
    shown = frame.rename(columns=HEADINGS)
    return '<div class="wide">' + shown.to_html(
        index=False, table_id=table_id, classes="data", na_rep="", float_format=number,
        escape=escape, border=0) + "</div>"


def number(value):
    """Whole numbers as such (hit counts, angles), others to three decimals."""
    return f"{value:.0f}" if float(value).is_integer() else f"{value:.3f}"


def fact(run, key):
    """A fact of the run's sidecar as the page shows it: a text clipped to a line's length."""
    value = run.facts.get(key)
    return "" if value is None else clip(oneline(str(value)))


def participants(study):
    """Whether any run of the study records its participant."""
    return any(run.participant is not None for run in study.runs)


def displaynotes(study):
    """A note for each run whose buffer swaps were not synced to the display: its frames came
    as fast as they were drawn, so its timing says nothing of the display's refresh."""
    return [f"{run.files['sidecar']}: display timing not synced to the refresh (swap_synced "
            "is false): the frame intervals and the refresh interval measured are how fast "
            "the screen was drawn, not the display's refresh"
            for run in study.runs if run.facts.get("swap_synced") is False]


def rundate(run):
    if run.facts.get("started"):
        return fact(run, "started")
    try:
        when = datetime.datetime.fromtimestamp(os.path.getmtime(run.files["results"]))
    except OSError:
        return ""
    return when.strftime("%Y-%m-%d %H:%M") + " (file modified)"


def runstable(study):
    """Per run: its files, trials, clicks and display. Clicks are presses of a mouse button
    (a log tells presses from releases; without one each click the coordinate file keeps)."""
    clicks = study.clicks
    pressed = (clicks["action"] != "release") & ~clicks["button"].isin(WHEEL_BUTTONS)
    off = pressed & ~clicks["on_grid"].fillna(False).astype(bool)
    counts = pd.DataFrame({"clicks": pressed, "off": off, "folder": clicks["folder"],
                           "run": clicks["run"]}).groupby(["folder", "run"], sort=False).sum()
    rows = []
    carried = participants(study)
    for run in study.runs:
        trials = run.trials
        mine = counts.loc[(run.folder, run.number)] if (run.folder, run.number) in counts.index \
            else {"clicks": 0, "off": 0}
        refresh = run.facts.get("refresh_interval_ms")
        row = {"folder": oneline(run.folder), "run": run.number}
        if carried:
            row.update(participant=fact(run, "participant"), session=fact(run, "session"))
        row.update({
            "date": rundate(run),
            "trials": len(trials), "complete": int(trials["complete"].sum()),
            "cut short": int((~trials["complete"].astype(bool)).sum()),
            "empty angle pools": int(trials["angle_pool_empty"].sum()),
            "clicks": int(mine["clicks"]), "clicks off the grid": int(mine["off"]),
            "event log": "yes" if run.has_log else "refused" if run.refused else "no",
            "program version": fact(run, "version"),
            "screen (px)": (f"{fact(run, 'screen_width')} x {fact(run, 'screen_height')}"
                            if run.facts else ""),
            "refresh interval (ms)": refresh if refresh is not None else float("nan"),
            "swaps synced": {True: "yes", False: "no"}.get(run.facts.get("swap_synced"), ""),
        })
        rows.append(row)
    return pd.DataFrame(rows)


def settingstable(study):
    rows = []
    for run in study.runs:
        row = {"folder": oneline(run.folder), "run": str(run.number)}
        for key, value in run.settings.items():
            if isinstance(value, list):
                value = "; ".join(" ".join(str(c) for c in rgb) for rgb in value)
            elif isinstance(value, tuple):
                value = f"{value[0]} to {value[1]}"
            row[key] = f"{value:f}" if isinstance(value, float) else str(value)
        rows.append(row)
    return pd.DataFrame(rows).fillna("")


def thumbnail(path):
    """A replay image shrunk to THUMBNAIL_WIDTH pixels across, as a data: URI of a JPEG (the
    noise of the map makes a PNG of it ten times larger)."""
    image = matplotlib.image.imread(path)
    rows, cols = image.shape[:2]
    scale = min(1.0, THUMBNAIL_WIDTH / cols)
    fig = Figure(figsize=(cols * scale / 100, rows * scale / 100), dpi=100)
    ax = fig.add_axes([0, 0, 1, 1], frameon=False, xticks=[], yticks=[])
    ax.imshow(image, aspect="auto", interpolation="antialiased")
    buffer = io.BytesIO()
    fig.savefig(buffer, format="jpeg", dpi=100, pil_kwargs={"quality": 85})
    return "data:image/jpeg;base64," + base64.b64encode(buffer.getvalue()).decode("ascii")


def replayimages(study, notes):
    """The marked replay image of each trial that has one (replay<N>/trial<K>-marked.png
    beside the run's results), as <img> elements in trial-table order; '' where there is
    none."""
    cells = []
    for folder, run, trial in zip(study.trials["folder"], study.trials["run"],
                                  study.trials["trial"]):
        path = os.path.join(folder, f"replay{run}", f"trial{trial}-marked.png")
        if not os.path.exists(path):
            cells.append("")
            continue
        try:
            cells.append(f'<img src="{thumbnail(path)}" alt="trial {trial} replayed" '
                         f'width="{THUMBNAIL_WIDTH}">')
        except Exception as e:  # whatever the image library finds wrong with the file
            notes.append(f"{path}: not a PNG image the report can show ({clip(str(e))})")
            cells.append("")
    return cells


def runlabels(study):
    """A short name for each run of the study, (folder, number) -> text: the folder relative
    to the folder that holds them all, and the run number."""
    folders = [run.folder for run in study.runs]
    common = os.path.commonpath([os.path.dirname(os.path.abspath(f)) for f in folders])
    return {(run.folder, run.number):
            oneline(f"{os.path.relpath(os.path.abspath(run.folder), common)} #{run.number}")
            for run in study.runs}


def trialstable(study, notes):
    columns = ["trial", "targets", "distractors", "borders", "blank", "instant", "wait_length",
               "rotate_angle", "targets_hit", "distracts_hit", "empty_hit", "score",
               "complete", "angle_pool_empty"]
    if any(run.has_log for run in study.runs):
        columns += [c for c in LOG_COLUMNS if c in study.trials]
    shown = study.trials[columns].copy()
    labels = runlabels(study)
    shown.insert(0, "run", [html.escape(labels[key]) for key in
                            zip(study.trials["folder"], study.trials["run"])])
    if participants(study):
        shown.insert(1, "participant", [html.escape(oneline(p)) if isinstance(p, str) else ""
                                        for p in study.trials["participant"]])
    for flag in ("complete", "angle_pool_empty"):
        shown[flag] = shown[flag].map({True: "yes", False: "no"})
    images = replayimages(study, notes)
    if any(images):
        shown.insert(2, "replay", images)
    return table(shown, "trials", escape=False)


# ---- the page ----

STYLE = """
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 1px solid #ccc; }
table.data { border-collapse: collapse; font-size: 0.85em; margin: 0.5em 0; }
table.data th, table.data td { border: 1px solid #ccc; padding: 2px 6px; text-align: right; }
table.data th { background: #f0f0f0; }
ul.problems li { margin: 0.2em 0; font-family: monospace; font-size: 0.9em; }
img.plot { max-width: 100%; display: block; margin: 0.5em 0; }
p.note { color: #555; }
div.wide { overflow-x: auto; }
"""


def page(study, errors, summary, notes, byparticipant=None):
    notes = list(notes)
    parts = []
    add = parts.append
    add("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>spatialmemory report</title>\n<style>" + STYLE + "</style>\n</head>\n<body>")
    count = len(study.trials)
    add(f"<h1>spatialmemory report</h1>\n<p>{len(study.runs)} run(s), {count} trial(s); made "
        f"{datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}.</p>")

    trials_html = trialstable(study, notes)  # may add notes about replay images

    add('<h2 id="problems">Problems found</h2>')
    def items(lines):
        return "".join(f"<li>{html.escape(oneline(str(line)))}</li>" for line in lines)

    if errors:
        add("<p>Runs left out, their files being malformed:</p><ul class=\"problems\">" +
            items(errors) + "</ul>")
    if study.refused:
        add("<p>Files refused, the runs read without them:</p><ul class=\"problems\">" +
            items(study.refused) + "</ul>")
    if notes:
        add("<ul class=\"problems\">" + items(notes) + "</ul>")
    if not errors and not notes and not study.refused:
        add("<p>None: every trial is complete, every angle pool held an angle, and the logs "
            "agree with the results files.</p>")

    add('<h2 id="runs">Runs</h2>')
    add(table(runstable(study), "runs"))
    add('<h2 id="settings">Settings</h2>\n<p class="note">As each run\'s results file echoes '
        'them (lists of wait lengths and angles are not echoed).</p>')
    add(table(settingstable(study), "settings"))

    add('<h2 id="summary">Summary per condition</h2>\n<p class="note">Complete trials only. '
        'False alarms are distractor and empty hits; the hit rate is all targets hit over all '
        'targets shown; SD with n - 1.</p>')
    add(table(summary, "summary"))
    if byparticipant is not None:
        add('<h2 id="participants">Summary per participant</h2>\n<p class="note">As above, '
            'for each participant apart (the runs that record one), all their sessions '
            'together.</p>')
        add(table(byparticipant.assign(participant=byparticipant["participant"].map(oneline)),
                  "participants"))

    add('<h2 id="plots">Hit rate and false alarms</h2>\n<p class="note">Means of the complete '
        'trials with standard errors; n trials under each level.</p>')
    plots = conditionplots(study.trials)
    if not plots:
        add("<p>No complete trial to plot.</p>")
    for title, uri in plots:
        add(f"<h3>{html.escape(title)}</h3>\n<img class=\"plot\" alt=\"{html.escape(title)}\" "
            f"src=\"{uri}\">")

    add('<h2 id="timing">Timing audit</h2>')
    events = study.events
    if events.empty:
        add("<p>No event log (results_events&lt;N&gt;.tsv) beside these runs: the phases' "
            "actual durations are not known.</p>")
    else:
        # Only a run whose swaps waited for the display measured its refresh; another measured
        # how fast it drew.
        refresh = [r.facts.get("refresh_interval_ms") for r in study.runs
                   if r.facts.get("swap_synced") is True]
        refresh = [r for r in refresh if r is not None]
        refresh_ms = float(pd.Series(refresh).median()) if refresh else None
        add('<p class="note">From the event logs: each phase\'s actual duration (first frame '
            'to the next phase\'s first frame) against the duration set; late frames are '
            'intervals over 1.5 times the phase\'s median.' +
            (f' Refresh interval (median of the runs whose swaps were synced to the display): '
             f'{refresh_ms:.3f} ms.' if refresh_ms else '') + '</p>')
        add(table(timingtable(events), "timing"))
        add(f'<img class="plot" alt="phase durations" src="{timingplot(events, refresh_ms)}">')

    add('<h2 id="trials">Trials</h2>')
    add(trials_html)
    add("</body>\n</html>\n")
    return "\n".join(parts)


# ---- the command ----


class OutputError(Exception):
    """The report's folder or one of its files cannot be written."""


def csvdata(frame):
    """A table as the bytes of a CSV file in UTF-8: a folder whose name is not UTF-8 written
    with \\xNN for its stray bytes."""
    if "folder" in frame:
        frame = frame.assign(folder=[oneline(f) for f in frame["folder"]])
    return frame.to_csv(index=False).encode("utf-8", "backslashreplace")


def writefiles(out, files):
    """The files (name -> bytes) into the folder `out`, each written under a temporary name
    beside its own and renamed over it once all are written: an earlier report is never left
    empty or half-written. Returns their paths."""
    try:
        os.makedirs(out, exist_ok=True)
    except OSError as e:
        raise OutputError(f"{out}: cannot make the report's folder: {e.strerror}") from None
    mask = os.umask(0)
    os.umask(mask)
    temporary, written = [], [os.path.join(out, name) for name in files]
    target = out
    try:
        for target, data in zip(written, files.values()):
            fd, path = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.", dir=out)
            temporary.append(path)
            with os.fdopen(fd, "wb") as f:
                os.fchmod(f.fileno(), 0o666 & ~mask)
                f.write(data)
        for path, target in zip(temporary, written):
            os.replace(path, target)
        return written
    except OSError as e:
        raise OutputError(f"{target}: cannot write: {e.strerror}") from None
    finally:
        for path in temporary:
            if os.path.lexists(path):
                os.unlink(path)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="spatialmemory-report",
        description="Tidy tables, a summary per condition and a report page for spatialmemory "
                    "runs.")
    parser.add_argument("data", nargs="+", metavar="DATA",
                        help="results files, data folders or glob patterns")
    parser.add_argument("--out", default="spatialmemory-report", metavar="DIR",
                        help="folder for the tables and report.html "
                             "(default: ./spatialmemory-report)")
    parser.add_argument("--bids", metavar="OUT",
                        help="also write the runs as a BIDS dataset into the folder OUT")
    parser.add_argument("--version", action="version",
                        version=f"spatialmemory-report {__version__}",
                        help="show the version and exit")
    args = parser.parse_args(argv)
    try:
        return report(args)
    except OutputError as e:
        say(f"{e}; no report written")
    except BidsError as e:
        say(f"{e}; no dataset written")
    except Exception as e:  # a fault of this program: said in one line, the old report kept
        where = traceback.extract_tb(e.__traceback__)[-1]
        say(f"internal error, no report written: {type(e).__name__}: {clip(str(e))} (at "
            f"{os.path.basename(where.filename)}:{where.lineno}); please report it with the "
            "data that caused it")
    return 2


def say(message, prefix="spatialmemory-report: "):
    print(prefix + oneline(message), file=sys.stderr)


def report(args):
    def progress(i, count, tab):
        if count > 1:
            say(f"reading run {i} of {count}: {tab}", prefix="")

    errors = []
    study = read_study(args.data, progress=progress, errors=errors)
    for line in errors + study.refused:
        say(str(line))
    if not study.runs:
        say("no run could be read; no report written")
        return 1
    summary = summarize(study.trials)
    tables = [("trials", study.trials), ("clicks", study.clicks), ("cells", study.cells),
              ("summary", summary)]
    byparticipant = None
    if participants(study):
        byparticipant = summarize(study.trials, by=["participant"])
        tables.append(("summary_by_participant", byparticipant))
    files = {name + ".csv": csvdata(frame) for name, frame in tables}
    notes = study.problems + displaynotes(study)
    files["report.html"] = page(study, errors, summary, notes, byparticipant).encode(
        "utf-8", "backslashreplace")
    written = writefiles(args.out, files)
    if args.bids:
        notes += export(study, args.bids, __version__)
        written.append(args.bids)
    for note in notes:
        say(note, prefix="note: ")
    print("\n".join(oneline(path) for path in written))
    return 1 if errors or study.refused else 0


if __name__ == "__main__":
    sys.exit(main())
