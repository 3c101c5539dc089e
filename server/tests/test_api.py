"""The participant's and the experimenter's API on the real database: links and the runs they
start, the rules of uploads, the status with every run read by the analysis package, and the
zip holding every file as uploaded."""

import concurrent.futures
import io
import os
import secrets
import zipfile

import psycopg

from conftest import FIXTURES, bearer, fixture_file, link_paths, path_of, put
from spatialmemory_server import db
from uploader import recorded_saves


def test_a_single_use_link_starts_one_run_and_a_repeated_start_is_the_same_run(client, study):
    token, name = study(title="Where were they?", instructions="Click the red cells.")
    path = link_paths(client, token, name, 2)[0]

    page = client.get(path)
    assert page.status_code == 200 and b'src="page.js"' in page.data
    info = client.get(path + "study.json").json
    assert (info["participant"], info["session"], info["title"], info["instructions"]) == \
        ("p0001", name, "Where were they?", "Click the red cells.")
    settings = client.get(path + "settings.txt")
    assert settings.data == fixture_file("whole", "settings.txt")
    assert settings.headers["Content-Type"] == "text/plain"
    assert client.get(path + "page.js").data == b"fetch('study.json');\n"

    first = client.post(path + "start", json={"attempt": "tab-1"})
    assert first.status_code == 201
    # The answer was lost and the page asks again: the same run, a fresh token, the old one
    # no longer valid.
    again = client.post(path + "start", json={"attempt": "tab-1"})
    assert again.status_code == 200 and again.json["run"] == first.json["run"]
    assert put(client, first.json, "results0.txt", b"x").status_code == 401
    assert put(client, again.json, "results0.txt", b"x").status_code == 200
    # Once something is uploaded, even the same attempt cannot have the run again.
    for attempt in ("tab-1", "tab-2", None):
        refused = client.post(path + "start", json={"attempt": attempt} if attempt else None)
        assert refused.status_code == 410 and refused.json["error"] == "link_used"
    used = client.get(path)
    assert used.status_code == 410 and b"used already" in used.data
    # The page's resume script runs there, to send what a crashed tab left unsent.
    assert b'src="resume.js"' in used.data and client.get(path + "resume.js").status_code == 200
    assert client.get(path + "study.json").status_code == 410

    runs = client.get(f"/api/studies/{name}", headers=bearer(token)).json["runs"]
    assert [(r["participant"], r["run_number"]) for r in runs] == [("p0001", 1)]
    links = client.get(f"/api/studies/{name}/links", headers=bearer(token)).json
    assert [link["used"] for link in links["single"]] == [True, False]


def test_the_general_link_takes_the_id_and_keeps_to_the_runs_per_participant(client, study):
    token, name = study(runs_per_participant=2)
    made = client.post(f"/api/studies/{name}/links", headers=bearer(token),
                       json={"general": True, "param": "PROLIFIC_PID"}).json["general"]
    assert made["url"].endswith("?PROLIFIC_PID=")
    base = path_of(made["url"])

    assert client.get(base).status_code == 400  # no id: a page that says what is missing
    for bad in ("a b", "../x", "x" * 65, "'; DROP TABLE runs; --"):
        assert client.get(base, query_string={"PROLIFIC_PID": bad}).status_code == 400
    sent = client.get(base, query_string={"PROLIFIC_PID": "5f3a9c"})
    assert sent.status_code == 303 and sent.headers["Location"].endswith(f"{base}5f3a9c/")
    own = f"{base}5f3a9c/"
    assert client.get(own + "study.json").json["participant"] == "5f3a9c"

    numbers = [client.post(own + "start").json["run_number"] for _ in range(2)]
    assert numbers == [1, 2]
    over = client.post(own + "start")
    assert over.status_code == 403 and over.json["error"] == "runs_used_up"
    assert client.get(own).status_code == 403
    assert client.get(base, query_string={"PROLIFIC_PID": "5f3a9c"}).status_code == 403
    assert client.post(f"{base}other/start").status_code == 201


def test_simultaneous_starts_of_one_participant_make_one_run(app, client, study):
    token, name = study(runs_per_participant=1)
    url = client.post(f"/api/studies/{name}/links", headers=bearer(token),
                      json={"general": True}).json["general"]["url"]
    own = path_of(url) + "racer/"

    def start(_):
        return app.test_client().post(own + "start").status_code

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        statuses = sorted(pool.map(start, range(8)))
    assert statuses == [201] + [403] * 7


def test_files_only_grow_and_every_repeat_is_acknowledged(client, started):
    token, name, _, start = started()
    tab = fixture_file("whole", "results0.txt")
    half = tab[:len(tab) // 2]

    def stored():
        files = client.get(f"/api/runs/{start['run']}",
                           headers=bearer(start["upload_token"])).json["files"]
        return files.get("results0.txt", {}).get("size")

    assert put(client, start, "results0.txt", half).json["stored"] == "new"
    assert put(client, start, "results0.txt", half).json["stored"] == "same"
    assert put(client, start, "results0.txt", tab, save=2).json["stored"] == "appended"
    late = put(client, start, "results0.txt", half)  # a retry that arrives after the newer one
    assert late.status_code == 200 and late.json["stored"] == "older"
    assert late.json["stored_size"] == len(tab) and stored() == len(tab)
    for rewrite in (tab[:-1] + b"X", b"trial" + tab[5:], tab[:100] + b"Z", tab[1:] + b"\n"):
        refused = put(client, start, "results0.txt", rewrite, save=3)
        assert refused.status_code == 409 and stored() == len(tab), rewrite[-20:]

    side, early = fixture_file("whole", "results_events0.json"), b'{"early": true}\n'
    assert put(client, start, "results_events0.json", early, save=2).status_code == 200
    assert put(client, start, "results_events0.json", side, save=4).json["stored"] == "replaced"
    older = put(client, start, "results_events0.json", early, save=3)
    assert older.status_code == 200 and older.json["stored"] == "older"
    assert put(client, start, "results_events0.json", b"{}", save=4).status_code == 409
    nosave = client.put(f"{start['files_url']}results_events0.json", data=b"{}",
                        headers=bearer(start["upload_token"]))
    assert nosave.status_code == 400

    finished = client.post(start["finish_url"], headers=bearer(start["upload_token"]))
    assert finished.json["files"]["results_events0.json"]["sha256"] == \
        put(client, start, "results_events0.json", side, save=4).json["sha256"]
    assert put(client, start, "results_events0.json", side + b" ", save=5).status_code == 409
    assert put(client, start, "results0.txt", tab + b"more", save=5).status_code == 409
    assert put(client, start, "results0.txt", tab, save=5).json["stored"] == "same"

    status = client.get(f"/api/studies/{name}", headers=bearer(token)).json
    assert status["runs"][0]["refusals"] == 4 + 1 + 1 + 2
    assert {x["status"] for x in status["refusals"]} == {409, 400}


def test_a_run_silent_for_longer_than_the_idle_time_is_closed(app, client, started):
    token, name, _, start = started()
    side = fixture_file("whole", "results_events0.json")
    assert put(client, start, "results_events0.json", b'{"early": true}\n').status_code == 200
    app.extensions["spatialmemory_db"].run(lambda conn: conn.execute(
        "UPDATE runs SET started_at = started_at - interval '2 hours',"
        " last_upload_at = last_upload_at - interval '2 hours' WHERE public_id = %s",
        [start["run"]]))
    assert put(client, start, "results_events0.json", side, save=2).json["error"] == "run_closed"
    runs = client.get(f"/api/studies/{name}", headers=bearer(token)).json["runs"]
    assert runs[0]["state"] == "abandoned"


def upload_recorded(client, start, run):
    """The last state of a recorded run, uploaded as the page would at its end."""
    files = recorded_saves(os.path.join(FIXTURES, run), start["participant"],
                           start["session"])[-1][1]
    for name, content in files.items():
        assert put(client, start, name, content).status_code == 200
    client.post(start["finish_url"], headers=bearer(start["upload_token"]))
    return files


def test_the_zip_holds_every_run_as_uploaded_and_the_status_reads_them(client, study, tmp_path):
    token, name = study(completion_url="https://example.org/done")
    paths = link_paths(client, token, name, 4)
    written = {}
    for path, run in zip(paths, ("whole", "killed", "nolog")):
        start = client.post(path + "start").json
        written[start["participant"]] = upload_recorded(client, start, run)
    client.post(paths[3] + "start")  # a run that never uploads: no folder in the zip

    status = client.get(f"/api/studies/{name}", headers=bearer(token)).json
    by = {r["participant"]: r for r in status["runs"]}
    assert (by["p0001"]["trials"], by["p0001"]["complete_trials"], by["p0001"]["problems"]) == \
        (6, 6, [])
    assert by["p0002"]["complete_trials"] == by["p0002"]["trials"] - 1
    assert any("cut short" in p for p in by["p0002"]["problems"])
    assert by["p0004"]["files"] == {} and by["p0004"]["state"] == "open"

    download = client.get(f"/api/studies/{name}/download", headers=bearer(token))
    assert download.status_code == 200 and download.mimetype == "application/zip"
    zipped = zipfile.ZipFile(io.BytesIO(download.data))
    zipped.extractall(tmp_path)
    for participant, files in written.items():
        folder = tmp_path / name / participant / "run1"
        assert {p.name for p in folder.iterdir()} == set(files) | {"settings.txt"}
        for file, content in files.items():
            assert (folder / file).read_bytes() == content, (participant, file)
    assert not (tmp_path / name / "p0004").exists()
    assert (tmp_path / name / "runs.csv").read_text().count("\n") == 1 + 4


def test_the_sidecar_must_name_the_runs_participant_and_study(client, started):
    token, name, _, start = started()
    files = recorded_saves(os.path.join(FIXTURES, "whole"), "somebody-else", "another-study")[-1][1]
    for file, content in files.items():
        put(client, start, file, content)
    problems = client.get(f"/api/studies/{name}", headers=bearer(token)).json["runs"][0]["problems"]
    assert len(problems) == 2
    assert "'somebody-else'" in problems[0] and "'p0001'" in problems[0]
    assert "'another-study'" in problems[1] and repr(name) in problems[1]


def test_migrations_run_once_when_servers_start_together(cluster):
    url = cluster.create_database("migrate_" + secrets.token_hex(4))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        applied = list(pool.map(lambda _: db.migrate(url), range(4)))
    assert sorted(applied, key=len) == [[]] * 3 + [list(range(1, db.latest_version() + 1))]
    with psycopg.connect(url) as conn:
        rows = conn.execute("SELECT version FROM schema_migrations ORDER BY version").fetchall()
    assert [v for (v,) in rows] == list(range(1, db.latest_version() + 1))
