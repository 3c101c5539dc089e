"""checks: what a run's stored files say, read by the analysis package (the one reader of the
program's files) exactly as an analysis will read them after download.

A run's files are laid out in a scratch folder as the download lays them out, read with
spatialmemory.read_run, and the result kept with the run: its trials, the complete ones, and
every problem the reader noted or raised, plus this server's own: the sidecar must name the
participant and the study (as session) the run was started for, and the settings the study
gave it.
"""

import functools
import hashlib
import importlib.util
import os
import tempfile



CHECKS = "1"  # counts up when the server's own checks change


@functools.lru_cache(maxsize=None)
def readers():
    """What the checks read with: this module and the analysis package's source, so that a
    check kept from before either changed is made again."""
    package = importlib.util.find_spec("spatialmemory")
    parts = [CHECKS]
    for folder in package.submodule_search_locations if package else []:
        for name in sorted(os.listdir(folder)):
            if name.endswith(".py"):
                with open(os.path.join(folder, name), "rb") as f:
                    parts.append(hashlib.sha256(f.read()).hexdigest())
    return "".join(f"{p}\n" for p in parts)


def digest(files):
    """What a check is about: the names and digests of the run's files ({name: hex}), and
    what read them."""
    text = readers() + "".join(f"{name}:{sha}\n" for name, sha in sorted(files.items()))
    return hashlib.sha256(text.encode("ascii")).digest()


def run_folder(study, participant, number):
    """Where a run's files lie in a download (and in this check's messages)."""
    return f"{study}/{participant}/run{number}"


def check_run(files, settings, study, participant, number, settings_sha256):
    """Reads a run's files ({name: bytes}) with the analysis package. Returns {"trials",
    "complete", "problems"}; problems name the file as the download has it."""
    # The analysis package, with pandas: loaded only when a check is made.
    import spatialmemory
    from spatialmemory.reader import RUN_FILE

    result = {"trials": 0, "complete": 0, "problems": []}
    problems = result["problems"]
    folder = run_folder(study, participant, number)
    with tempfile.TemporaryDirectory(prefix="sm-check-") as scratch:
        where = os.path.join(scratch, folder)
        os.makedirs(where)
        for name, content in files.items():
            with open(os.path.join(where, name), "wb") as f:
                f.write(content)
        with open(os.path.join(where, "settings.txt"), "wb") as f:
            f.write(settings)
        numbers = sorted({int(RUN_FILE.fullmatch(name).group(1)) for name in files})
        for n in numbers:
            tab = os.path.join(where, f"results{n}.txt")
            if not os.path.exists(tab):
                problems.append(f"{folder}: files of run {n} but no results{n}.txt")
                continue
            try:
                run = spatialmemory.read_run(tab)
            except spatialmemory.ResultsError as e:
                problems.append(str(e).replace(scratch + os.sep, ""))
                continue
            result["trials"] += len(run.trials)
            result["complete"] += int(run.trials["complete"].sum())
            problems += [p.replace(scratch + os.sep, "") for p in run.problems]
            if run.sidecar is not None:
                problems += sidecar_problems(run.sidecar, f"{folder}/results_events{n}.json",
                                             participant, study, settings_sha256)
    return result


def sidecar_problems(doc, where, participant, study, settings_sha256):
    """The sidecar must say whose run it is and with which settings it ran."""
    facts = doc["spatialmemory"] if isinstance(doc.get("spatialmemory"), dict) else doc
    out = []
    for key, want in (("participant", participant), ("session", study),
                      ("settings_sha256", settings_sha256)):
        if key not in facts:
            out.append(f"{where}: no \"{key}\" (the run was started for {want!r})")
        elif facts[key] != want:
            out.append(f"{where}: \"{key}\" is {facts[key]!r}; the run was started for {want!r}")
    return out
