"""scripts/run-server and the spatialmemory-server command as an experimenter uses them: a
private cluster made the first time and kept, the token shown once, a study made, links handed
out, runs uploaded, the study downloaded and reported; then everything again after a restart."""

import os
import signal
import socket
import subprocess
import tempfile
import zipfile

import pytest

from conftest import FIXTURES, path_of
from pgcluster import PGBIN, owner_command
from uploader import SimClock, Uploader, recorded_saves, replay, start_run

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..", "..")
COMMAND = os.path.join(REPO, "server", "spatialmemory-server")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class RunServer:
    """scripts/run-server in the background, read up to its instructions."""

    def __init__(self, folder, port, web):
        self.process = subprocess.Popen(
            [os.path.join(REPO, "scripts", "run-server"), folder, "--port", str(port),
             "--web", web], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            env={k: v for k, v in os.environ.items() if k != "DATABASE_URL"})
        self.output = []
        for line in self.process.stdout:
            self.output.append(line)
            if line.startswith("From another terminal:"):
                break
        else:
            raise AssertionError("run-server ended early:\n" + "".join(self.output))
        text = "".join(self.output)
        self.address = f"http://127.0.0.1:{port}"
        assert f"{self.address}/experimenter/" in text, text
        lines = text.splitlines()
        marks = [i for i, line in enumerate(lines) if line.startswith("Your experimenter token")]
        self.token = lines[marks[0] + 2].strip() if marks else None

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        return self.process.communicate(timeout=60)[0]


@pytest.fixture
def folder():
    # Under /tmp itself: the postgres user must be able to enter it.
    path = tempfile.mkdtemp(prefix="sm-run-server-")
    os.chmod(path, 0o755)
    started = []
    yield path, started
    for server in started:
        if server.process.poll() is None:
            server.stop()
    subprocess.run(owner_command([f"{PGBIN}/pg_ctl", "-D", f"{path}/postgres", "-m",
                                  "immediate", "stop"]), capture_output=True)
    subprocess.run(["rm", "-rf", path])


def cli(server, token, *args):
    env = {**os.environ, "SPATIALMEMORY_SERVER": server, "SPATIALMEMORY_TOKEN": token or ""}
    return subprocess.run([COMMAND, *args], capture_output=True, text=True, env=env, timeout=300)


def test_an_experimenters_study_from_start_to_report(folder, web, tmp_path):
    folder, started = folder
    port = free_port()
    server = RunServer(folder, port, web)
    started.append(server)
    address, token = server.address, server.token
    assert token and len(token) >= 43
    settings = os.path.join(FIXTURES, "whole", "settings.txt")
    instructions = tmp_path / "instructions.txt"
    instructions.write_text("Watch the red cells; click where they went.\n")

    if os.environ.get("SPATIALMEMORY_CHECK"):
        # The fixture's design has a colour outside 0 to 255: the checker's problem stops it.
        unchecked = cli(address, token, "study", "create", "pilot", settings)
        assert unchecked.returncode == 1 and "--force" in unchecked.stderr
        assert "300" in unchecked.stderr
    made = cli(address, token, "study", "create", "pilot", settings, "--title", "Pilot",
               "--instructions", str(instructions), "--completion-url",
               "https://example.org/done?cc=XYZ", "--runs-per-participant", "1", "--force")
    assert made.returncode == 0, made.stderr
    again = cli(address, token, "study", "create", "pilot", settings, "--force")
    assert again.returncode == 1 and "already" in again.stderr
    wrong = cli(address, "x" * 43, "status", "pilot")
    assert wrong.returncode == 1 and "401" in wrong.stderr

    links = cli(address, token, "links", "pilot", "--count", "2")
    assert links.returncode == 0
    rows = [line.split("\t") for line in links.stdout.splitlines()]
    assert [r[0] for r in rows] == ["p0001", "p0002"]
    general = cli(address, token, "links", "pilot", "--general", "--param", "PROLIFIC_PID")
    assert general.stdout.strip().endswith("/?PROLIFIC_PID=")

    written = {}
    for (participant, url), run in zip(rows, ("whole", "killed")):
        start = start_run(address, path_of(url))
        assert start["completion_url"] == "https://example.org/done?cc=XYZ"
        saves = recorded_saves(os.path.join(FIXTURES, run), participant, "pilot")
        written[participant] = replay(Uploader(address, start, SimClock(0.01)), saves)

    status = cli(address, token, "status", "pilot")
    assert "runs: 2: 2 finished, 0 open, 0 abandoned" in status.stdout, status.stdout
    assert "single-use links: 2 of 2 used" in status.stdout
    listed = cli(address, token, "links", "pilot")
    assert listed.stdout.count("\tused") == 2 and "general\t" in listed.stdout

    out = tmp_path / "pilot.zip"
    assert cli(address, token, "download", "pilot", str(out)).returncode == 0
    with zipfile.ZipFile(out) as z:
        for participant, files in written.items():
            for name, content in files.items():
                assert z.read(f"pilot/{participant}/run1/{name}") == content

    report = cli(address, token, "report", "pilot", str(tmp_path / "report"))
    assert report.returncode == 0, report.stderr
    trials = (tmp_path / "report" / "trials.csv").read_text().splitlines()
    assert len(trials) == 1 + 6 + 2  # the whole run's six trials, the killed run's two
    assert (tmp_path / "report" / "report.html").stat().st_size > 0

    # The administrator's commands, on the cluster's own socket.
    database = {**os.environ, "DATABASE_URL": f"dbname=spatialmemory user=postgres "
                f"host={folder}/socket"}
    added = subprocess.run([COMMAND, "experimenter", "add", "bob"], capture_output=True,
                           text=True, env=database)
    assert added.returncode == 0 and len(added.stdout.strip()) >= 43
    assert "no study" in cli(address, added.stdout.strip(), "status", "pilot").stderr
    renewed = subprocess.run([COMMAND, "experimenter", "token", "experimenter"],
                             capture_output=True, text=True, env=database).stdout.strip()
    assert cli(address, token, "status", "pilot").returncode == 1
    token = renewed
    assert cli(address, token, "status", "pilot").returncode == 0

    server.stop()
    stopped = subprocess.run(owner_command([f"{PGBIN}/pg_ctl", "-D", f"{folder}/postgres",
                                            "status"]), capture_output=True)
    assert stopped.returncode == 3  # the cluster stopped with the server

    # The second start keeps everything and shows no token.
    server = RunServer(folder, port, web)
    started.append(server)
    assert server.token is None
    assert "runs: 2: 2 finished" in cli(address, token, "status", "pilot").stdout


def test_a_folder_the_cluster_could_not_use_is_refused_plainly(tmp_path):
    deep = "/tmp/" + "d" * 100
    done = subprocess.run([os.path.join(REPO, "scripts", "run-server"), deep, "--port", "1"],
                          capture_output=True, text=True, timeout=120,
                          env={k: v for k, v in os.environ.items() if k != "DATABASE_URL"})
    assert done.returncode == 1 and "too deep" in done.stderr
    assert not os.path.exists(deep)
    assert subprocess.run([os.path.join(REPO, "scripts", "run-server"), "--port", "x"],
                          capture_output=True, timeout=60).returncode == 2
