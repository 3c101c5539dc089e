"""Nothing lost under faults: a recorded run replayed by the scripted uploader against the real
server (gunicorn on loopback) while the database stops, a server process is killed, or the
network is gone for a minute; afterwards the downloaded files are the ones written, byte for
byte. Sessions run on a simulated clock, so a minute offline takes seconds. And the size limit
where only the real server can test it: a body sent in chunks, its length not declared."""

import io
import os
import select
import signal
import socket
import threading
import time
import zipfile

import psycopg
import pytest

from conftest import FIXTURES, MAX_FILE_BYTES, bearer, link_paths
from pgcluster import Server
from uploader import SimClock, Uploader, recorded_saves, replay, start_run


@pytest.fixture(scope="module")
def served(request, database_url, web):
    server = Server(database_url, workers=1, threads=4, web=[web],
                    env={"SPATIALMEMORY_MAX_FILE_BYTES": str(MAX_FILE_BYTES)})
    yield server
    if request.session.testsfailed:
        reporter = request.config.pluginmanager.get_plugin("terminalreporter")
        reporter.write_line("the server's log:\n" + server.log()[-20000:])
    server.stop()


def downloaded(client, token, name, participant):
    answer = client.get(f"/api/studies/{name}/download", headers=bearer(token))
    assert answer.status_code == 200
    with zipfile.ZipFile(io.BytesIO(answer.data)) as z:
        prefix = f"{name}/{participant}/run1/"
        return {n[len(prefix):]: z.read(n) for n in z.namelist()
                if n.startswith(prefix) and not n.endswith("settings.txt")}


def new_run(client, study, served, clock=None):
    token, name = study()
    start = start_run(served.url, link_paths(client, token, name, 1)[0], clock=clock)
    saves = recorded_saves(os.path.join(FIXTURES, "whole"), start["participant"],
                           start["session"])
    return token, name, start, saves


def in_background(work):
    result = {}

    def run():
        try:
            result["value"] = work()
        except BaseException as e:  # handed to the test's thread
            result["error"] = e
    thread = threading.Thread(target=run, daemon=True)
    thread.start()

    def join(timeout):
        thread.join(timeout)
        assert not thread.is_alive(), "the uploader did not finish"
        if "error" in result:
            raise result["error"]
        return result["value"]
    return join


def test_the_database_stopped_and_started_during_a_run(cluster, served, client, study):
    clock = SimClock(0.1)
    token, name, start, saves = new_run(client, study, served)
    sent = []
    uploader = Uploader(served.url, start, clock, record=lambda *request: sent.append(request))
    join = in_background(lambda: replay(uploader, saves))
    end = time.monotonic() + 30
    while uploader.saves < 4 and time.monotonic() < end:
        time.sleep(0.01)
    cluster.stop("immediate")  # a crash: whatever was acknowledged must come back from the log
    time.sleep(3)
    cluster.start()
    written = join(120)
    # The server rides out a short outage: a request it caught waited for the database, or
    # failed with 503 and was sent again.
    assert any(status == 503 or seconds > 1 for seconds, status in sent), sent
    assert downloaded(client, token, name, start["participant"]) == written


def test_a_server_process_killed_in_the_middle_of_an_upload(database_url, served, client, study):
    token, name, start, saves = new_run(client, study, served)
    uploader = Uploader(served.url, start)
    for _, files in saves[:5]:
        uploader.save(files)
    assert uploader.pending()
    acknowledged = dict(uploader.written)
    uploader.save(saves[5][1])
    name5, (content5, save5) = next(iter(uploader.queue.items()))

    def stored():
        return downloaded(client, token, name, start["participant"])

    # Killed while the body arrives: half of it sent, the other half never.
    sock = socket.create_connection(("127.0.0.1", served.port))
    sock.sendall((f"PUT {start['files_url']}{name5}?save={save5} HTTP/1.1\r\n"
                  f"Host: 127.0.0.1\r\nAuthorization: Bearer {start['upload_token']}\r\n"
                  f"Content-Length: {len(content5)}\r\n\r\n").encode() +
                 content5[:len(content5) // 2])
    time.sleep(0.3)
    for pid in served.workers():
        os.kill(pid, signal.SIGKILL)
    sock.close()
    served.wait_ready(1)
    assert stored() == acknowledged

    # Killed inside the transaction: the worker is made to wait for a row it is about to
    # change, after it has read the whole body and begun to store it.
    with psycopg.connect(database_url) as blocker:
        blocker.execute("SELECT 1 FROM files f JOIN runs r ON r.id = f.run_id"
                        " WHERE r.public_id = %s AND f.name = %s FOR UPDATE",
                        [start["run"], name5])
        sock = socket.create_connection(("127.0.0.1", served.port))
        sock.sendall((f"PUT {start['files_url']}{name5}?save={save5} HTTP/1.1\r\n"
                      f"Host: 127.0.0.1\r\nAuthorization: Bearer {start['upload_token']}\r\n"
                      f"Content-Length: {len(content5)}\r\n\r\n").encode() + content5)
        waiting = "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
        with psycopg.connect(database_url, autocommit=True) as watch:
            end = time.monotonic() + 10
            while watch.execute(waiting).fetchone()[0] == 0 and time.monotonic() < end:
                time.sleep(0.05)
            assert watch.execute(waiting).fetchone()[0] == 1
        for pid in served.workers():
            os.kill(pid, signal.SIGKILL)
        sock.close()
    served.wait_ready(1)
    assert stored() == acknowledged

    uploader.clock = SimClock(0.02)
    written = replay(uploader, saves[5:])
    assert stored() == written


class Network:
    """A cable between the uploader and the server that can be pulled: while `down()` says so,
    connections are refused and the ones open are cut."""

    def __init__(self, port, down):
        self.port, self.down = port, down
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.address = f"http://127.0.0.1:{self.listener.getsockname()[1]}"
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            if self.down():
                client.close()
                continue
            threading.Thread(target=self.carry, args=(client,), daemon=True).start()

    def carry(self, client):
        server = socket.create_connection(("127.0.0.1", self.port))
        ends = {client: server, server: client}
        try:
            while not self.down():
                ready, _, _ = select.select(list(ends), [], [], 0.02)
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    ends[s].sendall(data)
        except OSError:
            pass
        finally:
            client.close()
            server.close()


def test_the_page_offline_for_a_minute(served, client, study):
    clock = SimClock(0.05)
    token, name, start, saves = new_run(client, study, served)
    offline = (saves[2][0], saves[2][0] + 60.0)  # from the third save on, a minute
    network = Network(served.port, lambda: offline[0] <= clock.now() < offline[1])
    sent = []
    uploader = Uploader(network.address, start, clock,
                        record=lambda seconds, status: sent.append((clock.now(), status)))
    written = replay(uploader, saves)
    failed = [t for t, status in sent if status is None]
    assert len(failed) >= 4 and all(offline[0] <= t < offline[1] + 1 for t in failed)
    assert max(t for t, _ in sent) >= offline[1]
    assert downloaded(client, token, name, start["participant"]) == written


def test_a_body_of_undeclared_length_keeps_to_the_limit(served, client, study):
    _, _, start, _ = new_run(client, study, served)

    def chunked(size):
        sock = socket.create_connection(("127.0.0.1", served.port))
        sock.sendall((f"PUT {start['files_url']}results_events0.tsv HTTP/1.1\r\n"
                      f"Host: 127.0.0.1\r\nAuthorization: Bearer {start['upload_token']}\r\n"
                      "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n").encode())
        for k in range(0, size, 10000):
            piece = b"x" * min(10000, size - k)
            sock.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        sock.sendall(b"0\r\n\r\n")
        answer = b""
        while chunk := sock.recv(65536):
            answer += chunk
        sock.close()
        return int(answer.split(b" ", 2)[1]), answer

    status, answer = chunked(MAX_FILE_BYTES + 1)
    assert status == 413 and str(MAX_FILE_BYTES).encode() in answer
    assert chunked(MAX_FILE_BYTES)[0] == 200
