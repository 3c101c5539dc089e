"""Shared by the server's tests: a PostgreSQL cluster of the session's own (in a temporary
folder, socket only), a migrated database in it, the application on it (Flask's test client),
a stand-in for the browser experiment's page, and helpers that make experimenters, studies
and runs through the API."""

import os
import secrets
import sys
import urllib.parse

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE), os.path.join(HERE, "..", "..", "analysis")]
FIXTURES = os.path.join(HERE, "..", "..", "analysis", "tests", "fixtures")

from pgcluster import Cluster  # noqa: E402
from spatialmemory_server import close_app, create_app, db, store  # noqa: E402

MAX_FILE_BYTES = 100_000  # small, so that a file just over it is quick to send


def fixture_file(run, name):
    with open(os.path.join(FIXTURES, run, name), "rb") as f:
        return f.read()


@pytest.fixture(scope="session")
def cluster():
    c = Cluster()
    c.start()
    yield c
    c.remove()


@pytest.fixture(scope="session")
def database_url(cluster):
    url = cluster.create_database("spatialmemory_test")
    db.migrate(url)
    return url


@pytest.fixture(scope="session")
def web(tmp_path_factory):
    """A page of the browser experiment's shape: the page, a script, a WebAssembly module."""
    folder = tmp_path_factory.mktemp("web")
    (folder / "index.html").write_text('<!doctype html><title>run</title>'
                                       '<script type="module" src="page.js"></script>\n')
    (folder / "page.js").write_text("fetch('study.json');\n")
    (folder / "page.wasm").write_bytes(b"\0asm\1\0\0\0")
    (folder / "resume.js").write_text("// sends what an earlier tab left unsent\n")
    (folder / ".secret").write_text("not for participants\n")
    return str(folder)


@pytest.fixture(scope="session")
def app(database_url, web):
    application = create_app({"DATABASE_URL": database_url, "WEB_FOLDERS": [web],
                              "MAX_FILE_BYTES": MAX_FILE_BYTES, "RUN_IDLE_SECONDS": 3600})
    yield application
    close_app(application)


@pytest.fixture
def client(app):
    return app.test_client()


def bearer(token):
    return {"Authorization": f"Bearer {token}"}


@pytest.fixture
def experimenter(app):
    """Makes an experimenter; returns its token."""
    def make():
        name = "e" + secrets.token_hex(6)
        return app.extensions["spatialmemory_db"].run(
            lambda conn: store.add_experimenter(conn, name))
    return make


@pytest.fixture
def study(client, experimenter):
    """Makes a study from a fixture's settings; returns (token, name)."""
    def make(token=None, run="whole", **fields):
        token = token or experimenter()
        name = fields.pop("name", "s" + secrets.token_hex(4))
        answer = client.post("/api/studies", headers=bearer(token), json={
            "name": name, "settings": fixture_file(run, "settings.txt").decode(), **fields})
        assert answer.status_code == 201, answer.json
        return token, name
    return make


def path_of(url):
    return urllib.parse.urlsplit(url).path


def link_paths(client, token, name, count):
    answer = client.post(f"/api/studies/{name}/links", headers=bearer(token),
                         json={"count": count})
    assert answer.status_code == 201, answer.json
    return [path_of(link["url"]) for link in answer.json["single"]]


@pytest.fixture
def started(client, study):
    """Starts a run on a new study's single-use link; returns (experimenter's token, study,
    link path, start answer)."""
    def make(**fields):
        token, name = study(**fields)
        path = link_paths(client, token, name, 1)[0]
        answer = client.post(path + "start", json={"attempt": "a"})
        assert answer.status_code == 201, answer.json
        return token, name, path, answer.json
    return make


def put(client, start, name, content, save=1):
    return client.put(f"{start['files_url']}{name}?save={save}", data=content,
                      headers=bearer(start["upload_token"]))
