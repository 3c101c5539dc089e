"""bids: the runs of a study as a BIDS dataset, for sharing them as behavioural data.

    OUT/dataset_description.json, README, participants.tsv, participants.json
    OUT/sub-<label>/[ses-<label>/]beh/sub-<label>[_ses-<label>]_task-spatialmemory[_run-<k>]_
        beh.tsv, beh.json        one row per trial: the values of the results files
        events.tsv, events.json  the event log (runs that have one), its columns described
    OUT/sourcedata/sub-<label>[_ses-<label>]_task-spatialmemory[_run-<k>]/
        the run's own files, byte for byte (results<N>.txt, results_coord<N>.txt, the log and
        its sidecar)

A subject is a participant as the runs record them (--participant), or, for runs that record
none, the data folder. BIDS labels hold letters and digits only: every other character of a
participant's or session's name is left out (a name that then comes out empty, or like
another's, gets "x2", "x3", ... added), and participants.tsv keeps each subject's name as the
runs recorded it. Runs of one subject and session are numbered run-1, run-2, ... in the order
read. The dataset is made in a folder beside OUT and put in its place when whole, replacing an
earlier one that this command made.

Reading the files belongs to reader.py; this module only lays them out.
"""

import json
import math
import os
import re
import shutil
import tempfile

import numpy as np
import pandas as pd

from .reader import clip, oneline

TASK = "spatialmemory"
BIDS_VERSION = "1.8.0"

# The log's columns, as a BIDS sidecar describes them, for logs whose own sidecar does not.
EVENTS = {
    "onset": ("when the event began, on the program's clock: for a phase, right after the "
              "buffer swap of its first frame; for a click, when the program received it", "s"),
    "duration": ("phases only: from the onset to the swap of the next phase's first frame "
                 "(PICK: to 's')", "s"),
    "trial": ("the trial's number, as in the results files (1 = first)", None),
    "event": ("what the row records", None),
    "frame": ("the display's frame counter at the event", None),
    "frames": ("phases only: frames shown in the phase", None),
    "set_length": ("WATCH, SHIFT, ROTATE, WAIT: the length the settings asked for", "s"),
    "frame_median_ms": ("phases only: median interval between buffer swaps", "ms"),
    "frame_max_ms": ("phases only: longest interval between buffer swaps", "ms"),
    "late_frames": ("phases only: intervals over 1.5 times the phase's median", None),
    "targets": ("trial_start: number of targets", None),
    "distractors": ("trial_start: number of distractors", None),
    "borders": ("trial_start: 1 when the holes had coloured rings", None),
    "blank": ("trial_start: 1 when the screen was blank during WAIT", None),
    "instant": ("trial_start: 1 when the shift was instant", None),
    "wait_length": ("trial_start: the trial's WAIT length", "s"),
    "rotate_angle": ("trial_start: the rotation reached in ROTATE", "degrees"),
    "shift_x": ("trial_start: the shift direction across, one of -1, 0, 1", "cells"),
    "shift_y": ("trial_start: the shift direction up, one of -1, 0, 1", "cells"),
    "layout_ms": ("trial_start: time the layout of the trial's map took", "ms"),
    "seed_layout": ("trial_start: the seed of the random numbers at the start of the layout",
                    None),
    "seed_cells": ("trial_start: the seed of the random numbers when the cells were drawn",
                   None),
    "x_px": ("click, early: window x as the toolkit gave it, from the left", "px"),
    "y_px": ("click, early: window y as the toolkit gave it, from the top", "px"),
    "grid_x": ("click: position across the layer beneath, as the coordinate file's clicks X",
               "cells"),
    "grid_y": ("click: position up the layer beneath, as the coordinate file's clicks Y",
               "cells"),
    "col": ("click: the column the hit test took", None),
    "row": ("click: the row the hit test took", None),
    "result": ("click: what the click scored", None),
    "rt": ("click: time since PICK's onset", "s"),
    "targets_hit": ("trial_end: target cells clicked, as the tab results file", None),
    "distracts_hit": ("trial_end: distractor cells clicked, as the tab results file", None),
    "empty_hit": ("trial_end: other cells clicked, as the tab results file", None),
    "total_hit": ("trial_end: all cells clicked, each once, as the tab results file", None),
    "score": ("trial_end: targets_hit - distracts_hit - empty_hit", None),
    "button": ("click, early: the mouse button, 0 left, 1 middle, 2 right, 3 and 4 the wheel",
               None),
    "action": ("click, early: whether the button went down or came up", None),
    "key": ("early: the key typed", None),
}
LEVELS = {
    "event": {"trial_start": "'g' started the trial and its map was laid out",
              "WATCH": "the map sways; the targets show red through their holes",
              "SHIFT": "the layer beneath moves by one cell",
              "ROTATE": "the whole map turns by the trial's angle",
              "WAIT": "the map stands still, or the screen is blank",
              "PICK": "the subject clicks where the targets now are",
              "click": "a mouse press or release in PICK",
              "early": "a mouse event or 's' before PICK was on screen; it did nothing",
              "trial_end": "'s' finished the trial",
              "fullscreen_left": "the browser's page left full screen during the trial",
              "fullscreen_back": "the page was full screen again",
              "page_hidden": "the browser's page could not be seen during the trial",
              "page_shown": "the page could be seen again"},
    "result": {"target": "a target cell, scored +1", "distractor": "a distractor cell, scored -1",
               "empty": "a cell holding neither, scored -1",
               "repeat": "a cell already clicked in the trial, not scored",
               "off_grid": "a click off the grid, not scored",
               "wheel": "the mouse wheel turned, not scored"},
    "action": {"press": "the button went down", "release": "the button came up"},
}
UNKNOWN = "a column of the log that this version of the package does not know, as written"

# The trials' columns in beh.tsv.
TRIALS = {
    "trial": ("the trial's number in the run (1 = first)", None),
    "targets": ("number of targets", None),
    "distractors": ("number of distractors", None),
    "borders": ("1 when the holes had coloured rings", None),
    "blank": ("1 when the screen was blank during WAIT", None),
    "instant": ("1 when the shift was instant", None),
    "wait_length": ("WAIT's length", "s"),
    "rotate_angle": ("the rotation of the map", "degrees"),
    "targets_hit": ("target cells clicked", None),
    "distracts_hit": ("distractor cells clicked", None),
    "empty_hit": ("other cells clicked", None),
    "total_hit": ("all cells clicked, each once", None),
    "score": ("targets_hit - distracts_hit - empty_hit", None),
    "complete": ("whether the trial was finished", None),
    "angle_pool_empty": ("whether the trial's condition had no rotation angle left (its angle, "
                         "0, is then none of the design's)", None),
}
FLAGS = {"complete": {"1": "finished with 's'", "0": "cut short: the program ended during it"},
         "angle_pool_empty": {"1": "no angle was left", "0": "an angle was left"}}


class BidsError(Exception):
    """The dataset cannot be written where asked."""


def label(text):
    """A name as a BIDS label: its ASCII letters and digits."""
    return re.sub(r"[^A-Za-z0-9]", "", text)


def unique(name, taken):
    """A label for a name, not one of `taken` (then added to it)."""
    base = label(name) or "x"
    chosen, n = base, 1
    while chosen in taken:
        n += 1
        chosen = f"{base}x{n}"
    taken.add(chosen)
    return chosen


def layout(runs):
    """Each run's place in the dataset, in the order given: (subject label, the name it stands
    for or None, session label or None, BIDS base name of its files)."""
    subjects, taken = {}, set()
    for run in runs:
        key = ("participant", run.participant) if run.participant is not None else \
            ("folder", os.path.abspath(run.folder))
        if key not in subjects:
            name = run.participant if run.participant is not None else \
                os.path.basename(os.path.abspath(run.folder))
            subjects[key] = unique(oneline(name), taken)
    sessions, used = {}, {}
    places = []
    for run in runs:
        key = ("participant", run.participant) if run.participant is not None else \
            ("folder", os.path.abspath(run.folder))
        subject = subjects[key]
        session = None
        if run.session is not None:
            if (subject, run.session) not in sessions:
                sessions[subject, run.session] = unique(oneline(run.session),
                                                        used.setdefault(subject, set()))
            session = sessions[subject, run.session]
        places.append((subject, run.participant, session))
    counts = {}
    for subject, _, session in places:
        counts[subject, session] = counts.get((subject, session), 0) + 1
    seen, out = {}, []
    for subject, name, session in places:
        k = seen[subject, session] = seen.get((subject, session), 0) + 1
        base = f"sub-{subject}" + (f"_ses-{session}" if session else "") + f"_task-{TASK}" + \
            (f"_run-{k}" if counts[subject, session] > 1 else "")
        out.append((subject, name, session, base))
    return out


def describe(text, units=None, levels=None):
    entry = {"Description": text}
    if units:
        entry["Units"] = units
    if levels:
        entry["Levels"] = levels
    return entry


def column(doc, name):
    """How the run's own sidecar describes a log column, in BIDS terms (both layouts), or
    None when it does not, or not in strings."""
    if not isinstance(doc, dict):
        return None
    if isinstance(doc.get("spatialmemory"), dict):
        entry = doc.get(name)
    else:
        entry = doc.get("columns", {}).get(name) if isinstance(doc.get("columns"), dict) else None
        if isinstance(entry, dict):
            entry = {k.capitalize(): v for k, v in entry.items()}
    if not isinstance(entry, dict) or not isinstance(entry.get("Description"), str):
        return None
    out = {"Description": entry["Description"]}
    if isinstance(entry.get("Units"), str):
        out["Units"] = entry["Units"]
    levels = entry.get("Levels")
    if isinstance(levels, dict) and all(isinstance(v, str) for v in levels.values()):
        out["Levels"] = levels
    return out


def eventsjson(run, header):
    """The sidecar of a run's events.tsv: each column described (as the run's own sidecar
    does, else as this package knows it), the display under StimulusPresentation and the
    run's facts under "spatialmemory"."""
    out = {}
    for name in header:
        known = EVENTS.get(name)
        fallback = describe(*known, LEVELS.get(name)) if known else describe(UNKNOWN)
        out[name] = column(run.sidecar_document, name) or fallback
        if name in LEVELS and "Levels" in out[name]:
            out[name]["Levels"] = {**LEVELS[name], **out[name]["Levels"]}
    facts = run.facts
    shown = (run.sidecar_document or {}).get("StimulusPresentation")
    if not isinstance(shown, dict):
        shown = {"SoftwareName": "spatialmemory"}
        if isinstance(facts.get("version"), str):
            shown["SoftwareVersion"] = facts["version"]
        if isinstance(facts.get("screen_width"), int) and \
                isinstance(facts.get("screen_height"), int):
            shown["ScreenResolution"] = f"{facts['screen_width']}x{facts['screen_height']}"
        refresh = facts.get("refresh_interval_ms")
        if facts.get("swap_synced") is True and isinstance(refresh, (int, float)) and refresh:
            shown["ScreenRefreshRate"] = round(1000 / refresh, 3)
    out["StimulusPresentation"] = shown
    out["spatialmemory"] = facts
    return out


def value(v):
    """A value as a TSV cell: n/a for none, 1 and 0 for flags, numbers as short as they go."""
    if v is None or v is pd.NA or (isinstance(v, float) and math.isnan(v)):
        return "n/a"
    if isinstance(v, (bool, np.bool_)):
        return "1" if v else "0"
    if isinstance(v, float):
        return f"{v:.0f}" if v.is_integer() else repr(float(v))
    return oneline(str(v))


def behtsv(trials):
    """The trials as beh.tsv: the results files' values, n/a where there are none."""
    lines = ["\t".join(TRIALS)]
    for row in trials[list(TRIALS)].itertuples(index=False):
        lines.append("\t".join(value(v) for v in row))
    return "\n".join(lines) + "\n"


def behjson():
    return {name: describe(text, units, FLAGS.get(name))
            for name, (text, units) in TRIALS.items()}


def logtext(run):
    """The run's log as a BIDS events file: its rows written in full, as written."""
    with open(run.files["events"], encoding="utf-8") as f:
        text = f.read()
    return text[:text.rfind("\n") + 1] if not text.endswith("\n") else text


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", errors="backslashreplace") as f:
        f.write(text)


def writejson(path, doc):
    write(path, json.dumps(doc, indent=2, ensure_ascii=True) + "\n")


def export(study, out, version):
    """The study's runs as a BIDS dataset in the folder `out`. Returns notes on what was left
    out (logs refused). Raises BidsError when `out` holds something this command did not
    make, or cannot be written."""
    mine = os.path.join(out, "dataset_description.json")
    if os.path.lexists(out) and (not os.path.isdir(out) or os.listdir(out)):
        try:
            with open(mine, encoding="utf-8") as f:
                made = json.load(f).get("GeneratedBy", [{}])[0].get("Name")
        except (OSError, ValueError, AttributeError, IndexError, TypeError):
            made = None
        if made != "spatialmemory-report":
            raise BidsError(f"{out}: already there and not a dataset spatialmemory-report made: "
                            "left as it is")
    parent = os.path.dirname(os.path.abspath(out))
    try:
        os.makedirs(parent, exist_ok=True)
        work = tempfile.mkdtemp(prefix="." + os.path.basename(os.path.abspath(out)) + ".",
                                dir=parent)
    except OSError as e:
        raise BidsError(f"{out}: cannot make the dataset's folder: {e.strerror}") from None
    try:
        notes = build(study, work, version)
        if os.path.lexists(out):
            old = work + ".old"
            os.rename(out, old)
            os.rename(work, out)
            shutil.rmtree(old)
        else:
            os.rename(work, out)
        return notes
    except OSError as e:
        raise BidsError(f"{e.filename or out}: cannot write the dataset: {e.strerror}") from None
    finally:
        if os.path.lexists(work):
            shutil.rmtree(work, ignore_errors=True)


def build(study, top, version):
    notes = []
    writejson(os.path.join(top, "dataset_description.json"), {
        "Name": "spatialmemory runs", "BIDSVersion": BIDS_VERSION, "DatasetType": "raw",
        "GeneratedBy": [{"Name": "spatialmemory-report", "Version": version,
                         "Description": "the runs' results files and event logs laid out as "
                                        "BIDS behavioural data"}]})
    write(os.path.join(top, "README"),
          "Runs of spatialmemory, an experiment on spatial memory: each subject's trials "
          "(beh.tsv) and, where the run kept one, its event log (events.tsv). The files the "
          "program wrote are under sourcedata/, byte for byte.\n")
    places = layout(study.runs)
    subjects = {}
    for (subject, name, _, _) in places:
        subjects.setdefault(subject, name)
    write(os.path.join(top, "participants.tsv"), "participant_id\trecorded_as\n" + "".join(
        f"sub-{s}\t{value(n)}\n" for s, n in sorted(subjects.items())))
    writejson(os.path.join(top, "participants.json"), {
        "participant_id": describe("the subject's label: the participant's name with only its "
                                   "letters and digits"),
        "recorded_as": describe("the participant as the runs recorded it (--participant); n/a "
                                "for a subject whose runs record none, named after their data "
                                "folder")})
    for run, (subject, _, session, base) in zip(study.runs, places):
        beh = os.path.join(top, f"sub-{subject}", *([f"ses-{session}"] if session else []),
                           "beh")
        write(os.path.join(beh, base + "_beh.tsv"), behtsv(run.trials))
        writejson(os.path.join(beh, base + "_beh.json"), behjson())
        if run.has_log:
            text = logtext(run)
            write(os.path.join(beh, base + "_events.tsv"), text)
            writejson(os.path.join(beh, base + "_events.json"),
                      eventsjson(run, text.split("\n", 1)[0].split("\t")))
        elif run.refused:
            notes.append(f"{run.files['events']}: refused, so not in the dataset as events "
                         f"({clip(oneline(run.refused[0]))}); kept under sourcedata")
        source = os.path.join(top, "sourcedata", base)
        os.makedirs(source)
        for path in run.files.values():
            if path and os.path.isfile(path):
                shutil.copy2(path, source)
    return notes

