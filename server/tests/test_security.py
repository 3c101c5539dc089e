"""What keeps a study's data its experimenter's: tokens and where they work, file names,
sizes, rewrites, what the browser is allowed to run, and the database's own guard."""

import base64
import secrets

import psycopg
import pytest

from conftest import MAX_FILE_BYTES, bearer, fixture_file, link_paths, put


def test_upload_tokens_work_for_their_own_run_only(client, started, experimenter):
    _, _, _, mine = started()
    _, _, _, theirs = started()
    guessed = secrets.token_urlsafe(32)
    for headers in ({}, bearer(guessed), bearer(theirs["upload_token"]),
                    bearer(experimenter()), {"Authorization": mine["upload_token"]},
                    {"Authorization": "Basic " + base64.b64encode(
                        f"x:{mine['upload_token']}".encode()).decode()}):
        answer = client.put(f"{mine['files_url']}results0.txt", data=b"x", headers=headers)
        assert answer.status_code == 401, headers
        assert client.post(mine["finish_url"], headers=headers).status_code == 401
        assert client.get(f"/api/runs/{mine['run']}", headers=headers).status_code == 401
    stored = client.get(f"/api/runs/{mine['run']}", headers=bearer(mine["upload_token"]))
    assert stored.json["files"] == {} and not stored.json["finished"]
    # A run's token is no experimenter's.
    assert client.get("/api/studies", headers=bearer(mine["upload_token"])).status_code == 401


def test_file_names_come_from_the_list(client, started):
    token, name, _, start = started()
    bad = ["../results0.txt", "../../../etc/passwd", "results0.txt/../../x", "settings.txt",
           ".results0.txt", "results10.txt", "results0.txt.bak", "RESULTS0.TXT", "results0.txt ",
           "results_events0.json/", "x/results0.txt"]
    for file in bad:
        answer = client.put(f"{start['files_url']}{file}", data=b"x",
                            headers=bearer(start["upload_token"]))
        assert answer.status_code in (400, 404), file
    # Encoded slashes and dots reach the name check as what they stand for.
    raw = client.put(f"{start['files_url']}%2e%2e%2fresults0.txt", data=b"x",
                     headers=bearer(start["upload_token"]))
    assert raw.status_code == 400
    assert client.get(f"/api/runs/{start['run']}",
                      headers=bearer(start["upload_token"])).json["files"] == {}
    refused = client.get(f"/api/studies/{name}", headers=bearer(token)).json["refusals"]
    assert len(refused) >= 9 and all(x["status"] == 400 for x in refused)


def test_a_file_over_the_limit_is_refused_with_413(client, started):
    token, name, _, start = started()
    answer = put(client, start, "results_events0.tsv", b"x" * (MAX_FILE_BYTES + 1))
    assert answer.status_code == 413
    assert str(MAX_FILE_BYTES) in answer.json["message"] and "results_events0.tsv" in \
        answer.json["message"]
    assert put(client, start, "results_events0.tsv", b"x" * MAX_FILE_BYTES).status_code == 200
    refused = client.get(f"/api/studies/{name}", headers=bearer(token)).json["refusals"]
    assert [(x["status"], x["size"]) for x in refused] == [(413, MAX_FILE_BYTES + 1)]


def test_nothing_of_a_study_is_read_without_its_experimenters_token(client, started, experimenter):
    token, name, _, start = started()
    put(client, start, "results0.txt", fixture_file("whole", "results0.txt"))
    other = experimenter()
    for path in (f"/api/studies/{name}", f"/api/studies/{name}/download",
                 f"/api/studies/{name}/links"):
        assert client.get(path).status_code == 401
        assert client.get(path, headers=bearer(secrets.token_urlsafe(32))).status_code == 401
        assert client.get(path, headers=bearer(other)).status_code == 404
    assert name not in client.get("/api/studies", headers=bearer(other)).get_data(as_text=True)
    assert client.post(f"/api/studies/{name}/links", headers=bearer(other),
                       json={"count": 1}).status_code == 404

    def page(password, path="/experimenter/"):
        credentials = base64.b64encode(f"me:{password}".encode()).decode()
        return client.get(path, headers={"Authorization": f"Basic {credentials}"})

    assert client.get("/experimenter/").status_code == 401
    assert "Basic" in client.get("/experimenter/").headers["WWW-Authenticate"]
    assert page(secrets.token_urlsafe(32)).status_code == 401
    assert name in page(token).get_data(as_text=True)
    assert name not in page(other).get_data(as_text=True)
    assert page(other, f"/experimenter/{name}.zip").status_code == 404
    assert page(token, f"/experimenter/{name}.zip").mimetype == "application/zip"


def test_tokens_are_kept_as_digests_only(app, client, started):
    token, name, path, start = started()
    dump = app.extensions["spatialmemory_db"].run(lambda conn: "\n".join(
        str(row) for table in ("experimenters", "studies", "links", "runs")
        for row in conn.execute(f"SELECT * FROM {table}").fetchall()))
    assert token not in dump and start["upload_token"] not in dump
    assert path.split("/")[2] in dump  # links only start runs: kept, so they can be listed again
    assert len(base64.urlsafe_b64decode(token + "=")) * 8 >= 256
    assert len(base64.urlsafe_b64decode(start["upload_token"] + "=")) * 8 >= 256
    assert len(base64.urlsafe_b64decode(path.split("/")[2])) * 8 >= 128


def test_the_browser_may_run_the_pages_own_scripts_only(client, study):
    token, name = study()
    fresh = link_paths(client, token, name, 1)[0]
    policy = client.get(fresh).headers["Content-Security-Policy"]
    directives = dict(d.strip().split(" ", 1) for d in policy.split(";"))
    assert directives["script-src"] == "'self' 'wasm-unsafe-eval'"
    assert "unsafe-inline" not in policy and "*" not in policy
    assert directives["connect-src"] == "'self'" and directives["frame-ancestors"] == "'none'"
    wasm = client.get(fresh + "page.wasm")
    assert wasm.mimetype == "application/wasm" and wasm.headers["X-Content-Type-Options"] == \
        "nosniff"
    plain = (client.get("/api/studies"), client.get(f"/s/{secrets.token_urlsafe(18)}/"),
             client.get(fresh + "study.json"))
    for answer in plain:
        assert "default-src 'none'" in answer.headers["Content-Security-Policy"]
        assert answer.headers["Referrer-Policy"] == "no-referrer"
    # The page's folder serves the page's files only.
    for other in (".secret", "../conftest.py", "%2e%2e/conftest.py", "nothing.js"):
        assert client.get(fresh + other).status_code == 404, other


def test_what_people_type_is_stored_as_typed(client, study):
    title = "Robert'); DROP TABLE studies; -- \u00e9\u4e2d"
    token, name = study(title=title, instructions="%s %(x)s $1 \\x00 ;")
    path = link_paths(client, token, name, 1)[0]
    info = client.get(path + "study.json").json
    assert (info["title"], info["instructions"]) == (title, "%s %(x)s $1 \\x00 ;")
    for bad in ("a'b", "a;b", "x" * 65, "", "../x"):
        assert client.post("/api/studies", headers=bearer(token),
                           json={"name": bad, "settings": "num_x: 5\n"}).status_code == 400


def test_the_database_itself_refuses_to_change_stored_bytes(database_url, client, started):
    _, _, _, start = started()
    put(client, start, "results0.txt", b"trial 1\n")
    put(client, start, "results_events0.json", b"{}\n")
    with psycopg.connect(database_url, autocommit=True) as conn:
        where = "FROM runs r WHERE r.id = f.run_id AND r.public_id = %s"
        with pytest.raises(psycopg.errors.IntegrityConstraintViolation):
            conn.execute(f"UPDATE files f SET content = 'trial 2\n'::bytea, size = 8 {where}"
                         " AND f.name = 'results0.txt'", [start["run"]])
        with pytest.raises(psycopg.errors.IntegrityConstraintViolation):
            conn.execute(f"UPDATE files f SET content = 'trial'::bytea, size = 5 {where}"
                         " AND f.name = 'results0.txt'", [start["run"]])
        conn.execute(f"UPDATE files f SET content = 'trial 1\ntrial 2\n'::bytea, size = 16"
                     f" {where} AND f.name = 'results0.txt'", [start["run"]])
        conn.execute(f"UPDATE files f SET content = '[]'::bytea, size = 2 {where}"
                     " AND f.name = 'results_events0.json'", [start["run"]])
