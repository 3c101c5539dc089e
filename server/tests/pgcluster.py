"""pgcluster: a private PostgreSQL cluster in a folder, and the study server under gunicorn,
for the tests and the load benchmark. The cluster runs as the postgres user when we are root
(initdb refuses root), with its socket in the folder and no TCP port; the server listens on a
loopback socket made here and handed to gunicorn, so no port is ever guessed."""

import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

PGBIN = "/usr/lib/postgresql/15/bin"
HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.dirname(HERE)
ANALYSIS = os.path.join(SERVER, "..", "analysis")


def owner_command(command):
    """The command as the cluster's owner: the postgres user when we are root."""
    if os.getuid() == 0:
        return ["runuser", "-u", "postgres", "--"] + command
    return command


class Cluster:
    def __init__(self, folder=None):
        self.folder = folder or tempfile.mkdtemp(prefix="sm-pg-")
        self.data = os.path.join(self.folder, "data")
        self.log = os.path.join(self.folder, "server.log")
        if os.getuid() == 0:
            user = pwd.getpwnam("postgres")
            os.chown(self.folder, user.pw_uid, user.pw_gid)
        os.chmod(self.folder, 0o700)
        subprocess.run(owner_command([f"{PGBIN}/initdb", "-D", self.data, "-U", "postgres",
                                      "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8",
                                      "--no-sync"]),
                       check=True, capture_output=True, timeout=120)

    def start(self):
        subprocess.run(owner_command([
            f"{PGBIN}/pg_ctl", "-D", self.data, "-w", "-t", "60", "-l", self.log,
            "-o", f"-k {self.folder} -c listen_addresses='' -c fsync=on", "start"]),
            check=True, capture_output=True, timeout=90)

    def stop(self, mode="fast"):
        """Stops the cluster; mode "immediate" is a crash: no checkpoint, recovery at start."""
        subprocess.run(owner_command([f"{PGBIN}/pg_ctl", "-D", self.data, "-w", "-m", mode,
                                      "stop"]), check=True, capture_output=True, timeout=90)

    def url(self, dbname="postgres"):
        return f"dbname={dbname} user=postgres host={self.folder}"

    def create_database(self, name):
        import psycopg
        with psycopg.connect(self.url(), autocommit=True) as conn:
            conn.execute(f'CREATE DATABASE "{name}"')  # a name of the tests' own making
        return self.url(name)

    def remove(self):
        try:
            self.stop("immediate")
        except subprocess.CalledProcessError:
            pass
        shutil.rmtree(self.folder, ignore_errors=True)


def children(pid):
    """The process ids whose parent is pid."""
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


class Server:
    """gunicorn serving the application on 127.0.0.1, on a port the system chose."""

    def __init__(self, database_url, workers=1, threads=8, web=(), log=None, env=None):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1024)
        self.port = self.listener.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        self.log_path = log or tempfile.mktemp(prefix="sm-gunicorn-", suffix=".log")
        environment = {**os.environ, "DATABASE_URL": database_url,
                       "SPATIALMEMORY_WEB": ":".join(web), "SPATIALMEMORY_WORKERS": str(workers),
                       "SPATIALMEMORY_THREADS": str(threads)}
        environment.pop("SPATIALMEMORY_POOL_SIZE", None)
        environment.update(env or {})
        fd = self.listener.fileno()
        with open(self.log_path, "ab") as log_file:
            self.process = subprocess.Popen(
                [sys.executable, "-m", "gunicorn", "-c", os.path.join(SERVER, "gunicorn.conf.py"),
                 "--pythonpath", f"{SERVER},{ANALYSIS}", "--bind", f"fd://{fd}",
                 "--graceful-timeout", "2"],
                pass_fds=[fd], env=environment, stdout=log_file, stderr=subprocess.STDOUT)
        self.wait_ready(workers)

    def wait_ready(self, workers, timeout=30):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.process.poll() is not None:
                raise RuntimeError(f"gunicorn ended with status {self.process.returncode}; "
                                   f"see {self.log_path}")
            if len(self.workers()) >= workers:
                try:
                    urllib.request.urlopen(self.url + "/api/health", timeout=2).read()
                    return
                except OSError:
                    pass
            time.sleep(0.1)
        raise RuntimeError(f"the server did not answer within {timeout} s; see {self.log_path}")

    def workers(self):
        return children(self.process.pid)

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self, keep_log=False):
        """Stops gunicorn; its log goes too unless kept."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.listener.close()
        if not keep_log:
            os.unlink(self.log_path)
