"""archive: a study as the experimenter takes it away: its status, with every run's files
checked by the analysis package, and a zip of every run's files in data folders as the
desktop program leaves them, which spatialmemory-report reads as they are.

    <study>/study.json                  the study: title, instructions, settings' digest, ...
    <study>/settings.txt                the study's settings file
    <study>/runs.csv                    one row per run: participant, state, times, checks
    <study>/<participant>/run<k>/       the participant's k-th run: its files as uploaded,
                                        and settings.txt beside them
"""

import csv
import datetime
import io
import json
import tempfile
import zipfile

from . import checks, store


def iso(value):
    return value.isoformat() if value else None


def check_stale(db, study, rows):
    """Checks the runs whose files changed since their last check, and keeps the result."""
    for row in rows:
        files = {name: f["sha256"] for name, f in row["files"].items()}
        digest = checks.digest(files)
        if row["checked_digest"] is not None and bytes(row["checked_digest"]) == digest \
                and row["check_result"] is not None:
            continue
        contents = db.run(lambda conn: store.file_contents(conn, row["id"]))
        digest = checks.digest({n: store.sha256hex(c) for n, c in contents.items()})
        row["check_result"] = checks.check_run(contents, bytes(study["settings"]), study["name"],
                                               row["participant"], row["number"],
                                               study["settings_sha256"])
        db.run(lambda conn: store.save_check(conn, row["id"], digest, row["check_result"]))


def status(db, owner, name, idle_seconds, link_url):
    """The study, its links and its runs (each checked), as the API answers it."""
    def read(conn):
        st = store.study(conn, owner, name)
        single, general = store.links(conn, owner, name)
        return st, single, general, store.runs(conn, st["id"], idle_seconds), \
            store.refusals(conn, st["id"])

    st, single, general, rows, refused = db.run(read)
    check_stale(db, st, rows)
    runs = []
    for row in rows:
        check = row["check_result"] or {}
        runs.append({
            "run": row["public_id"], "participant": row["participant"],
            "run_number": row["number"],
            "folder": checks.run_folder(st["name"], row["participant"], row["number"]),
            "state": row["state"], "started_at": iso(row["started_at"]),
            "last_upload_at": iso(row["last_upload_at"]), "finished_at": iso(row["finished_at"]),
            "files": row["files"], "trials": check.get("trials"),
            "complete_trials": check.get("complete"), "problems": check.get("problems", []),
            "refusals": row["refusals"]})
    return {
        "study": studyfacts(st),
        "links": {"single": len(single), "single_used": sum(1 for s in single if s["used"]),
                  "general": link_url(general) if general else None},
        "runs": runs,
        "refusals": [{**r, "at": iso(r["at"])} for r in refused]}


def studyfacts(st):
    return {"name": st["name"], "title": st["title"], "instructions": st["instructions"],
            "completion_url": st["completion_url"],
            "runs_per_participant": st["runs_per_participant"],
            "settings_sha256": st["settings_sha256"], "created_at": iso(st["created_at"])}


RUN_COLUMNS = ["run", "participant", "run_number", "folder", "state", "started_at",
               "last_upload_at", "finished_at", "trials", "complete_trials", "problems",
               "refusals"]


def zipdate(value):
    value = value.astimezone(datetime.timezone.utc)
    return (max(value.year, 1980), value.month, value.day, value.hour, value.minute,
            value.second)


def write_zip(db, owner, name, idle_seconds, link_url):
    """The study's zip in a temporary file (rewound), read in one snapshot of the database."""
    state = status(db, owner, name, idle_seconds, link_url)
    out = tempfile.SpooledTemporaryFile(max_size=32 * 1024 * 1024)

    def work(conn):
        out.seek(0)
        out.truncate()
        conn.execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ")
        st = store.study(conn, owner, name)
        now = datetime.datetime.now(datetime.timezone.utc)
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
            def add(path, data, when=now):
                info = zipfile.ZipInfo(f"{name}/{path}", zipdate(when))
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o644 << 16
                z.writestr(info, data)

            facts = {**studyfacts(st), "downloaded_at": now.isoformat()}
            add("study.json", json.dumps(facts, indent=2, ensure_ascii=False) + "\n")
            add("settings.txt", bytes(st["settings"]), st["created_at"])
            table = io.StringIO()
            writer = csv.DictWriter(table, RUN_COLUMNS, extrasaction="ignore",
                                    lineterminator="\n")
            writer.writeheader()
            for run in state["runs"]:
                writer.writerow({**run, "problems": len(run["problems"])})
            add("runs.csv", table.getvalue())
            for row in conn.execute("SELECT id, participant, number, started_at FROM runs"
                                    " WHERE study_id = %s ORDER BY started_at, id",
                                    [st["id"]]).fetchall():
                folder = f"{row['participant']}/run{row['number']}"
                stored = conn.execute("SELECT name, content, uploaded_at FROM files"
                                      " WHERE run_id = %s ORDER BY name", [row["id"]],
                                      binary=True).fetchall()
                if not stored:
                    continue
                add(f"{folder}/settings.txt", bytes(st["settings"]), row["started_at"])
                for f in stored:
                    add(f"{folder}/{f['name']}", bytes(f["content"]), f["uploaded_at"])

    db.run(work)
    out.seek(0)
    return out
