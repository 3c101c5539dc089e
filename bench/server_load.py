#!/usr/bin/python3
"""server_load: the study server under many participants at once, on this machine's loopback.

    bench/server_load.py [--participants 200] [--speed 1] [--workers 2] [--threads 8]
                         [--clients 4] [--spread 10] [--run whole]

Starts a PostgreSQL cluster of its own in a temporary folder and the server under gunicorn
(as tests do), makes a study with a single-use link per participant, and lets every participant
start a run and replay a recorded run (analysis/tests/fixtures/RUN) through the scripted
uploader: its files as they grew, at each 'g' and 's' of the recording, at its pace times
--speed, the starts spread over --spread seconds. Participants are threads of --clients
processes. Then it downloads the study and compares every file with what its participant wrote.

Prints the requests made, the throughput, the latency of uploads (p50, p99, max), retries,
and whether every file arrived byte for byte; exits 1 when anything was lost or refused.
Bounded: --participants at most 1000, the whole run at most 10 minutes.
"""

import argparse
import io
import json
import multiprocessing
import os
import random
import statistics
import sys
import threading
import time
import urllib.parse
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "server", "tests")
sys.path[:0] = [TESTS, os.path.join(HERE, "..", "server"), os.path.join(HERE, "..", "analysis")]
sys.dont_write_bytecode = True

from pgcluster import Cluster, Server, children  # noqa: E402
from spatialmemory_server import db, store  # noqa: E402
from uploader import Uploader, recorded_saves, replay, start_run  # noqa: E402

DEADLINE = 600  # seconds the participants may take, all together


def api(base, token, method, path, data=None):
    request = urllib.request.Request(base + path, method=method,
                                     data=json.dumps(data).encode() if data is not None else None,
                                     headers={"Authorization": f"Bearer {token}",
                                              "Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=120) as response:
        return response.read()


def participants(base, jobs, saves_of, speed, spread, seed, results):
    """One client process: a thread per participant. Puts into `results` one tuple per
    participant: (participant, files written, [(start time, seconds, status)], error)."""
    rng = random.Random(seed)

    def one(participant, path):
        requests, error, written = [], None, {}
        lock = threading.Lock()

        def record(seconds, status):
            with lock:
                requests.append((time.time() - seconds, seconds, status))

        try:
            time.sleep(rng.uniform(0, spread))
            began = time.monotonic()
            start = start_run(base, path)
            record(time.monotonic() - began, 201)
            written = replay(Uploader(base, start, record=record), saves_of(participant), speed)
        except Exception as e:  # reported with the participant
            error = repr(e)
        results.put((participant, written, requests, error))

    threads = [threading.Thread(target=one, args=job, daemon=True) for job in jobs]
    for t in threads:
        t.start()
    for t in threads:
        t.join(DEADLINE)


def cpu_seconds(pids):
    """User and system CPU seconds the processes have used, with their reaped children's."""
    total = 0.0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += sum(int(v) for v in fields[11:15]) / os.sysconf("SC_CLK_TCK")
    return total


def process_tree(pid):
    found = [pid]
    for child in children(pid):
        found += process_tree(child)
    return found


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--participants", type=int, default=200)
    parser.add_argument("--speed", type=float, default=1.0,
                        help="the recorded session's pace times this (default 1)")
    parser.add_argument("--workers", type=int, default=2, help="gunicorn's worker processes")
    parser.add_argument("--threads", type=int, default=8, help="threads per worker")
    parser.add_argument("--clients", type=int, default=4, help="processes playing participants")
    parser.add_argument("--spread", type=float, default=10.0,
                        help="seconds over which the participants start")
    parser.add_argument("--run", default="whole", help="the recorded run each one replays")
    args = parser.parse_args()
    if not 1 <= args.participants <= 1000:
        parser.error("--participants: 1 to 1000")

    fixture = os.path.join(HERE, "..", "analysis", "tests", "fixtures", args.run)
    cluster = Cluster()
    server = None
    try:
        cluster.start()
        url = cluster.create_database("load")
        db.migrate(url)
        import psycopg
        from psycopg.rows import dict_row
        with psycopg.connect(url, row_factory=dict_row) as conn:
            token = store.add_experimenter(conn, "bench")
        server = Server(url, workers=args.workers, threads=args.threads)
        base = server.url
        with open(os.path.join(fixture, "settings.txt"), encoding="latin-1") as f:
            api(base, token, "POST", "/api/studies", {"name": "load", "settings": f.read()})
        links = json.loads(api(base, token, "POST", "/api/studies/load/links",
                               {"count": args.participants}))["single"]
        jobs = [(link["participant"], urllib.parse.urlsplit(link["url"]).path) for link in links]
        recorded = recorded_saves(fixture, "PARTICIPANT", "load")
        print(f"{args.participants} participants, each replaying {args.run}: "
              f"{len(recorded)} saves over {recorded[-1][0]:.1f} s at speed {args.speed:g}; "
              f"gunicorn {args.workers} workers x {args.threads} threads; "
              f"{os.cpu_count()} cores", flush=True)

        def saves_of(participant):
            return recorded_saves(fixture, participant, "load")

        results = multiprocessing.get_context("fork").Queue()
        processes = [multiprocessing.get_context("fork").Process(
            target=participants, args=(base, jobs[k::args.clients], saves_of, args.speed,
                                       args.spread, k, results))
            for k in range(args.clients)]
        with open(os.path.join(cluster.data, "postmaster.pid")) as f:
            postmaster = int(f.readline())

        def usage():
            return (cpu_seconds(process_tree(server.process.pid)),
                    cpu_seconds(process_tree(postmaster)), time.process_time(),
                    sum(os.times()[2:4]))
        before = usage()
        began = time.time()
        for p in processes:
            p.start()
        end = time.monotonic() + DEADLINE
        outcomes = [results.get(timeout=max(1.0, end - time.monotonic())) for _ in jobs]
        for p in processes:
            p.join(60)
        ended = time.time()
        after = usage()
        spent = [b - a for a, b in zip(before, after)]

        uploads = [r for _, _, requests, _ in outcomes for r in requests]
        ok = [seconds for _, seconds, status in uploads if status in (200, 201)]
        failed = [r for r in uploads if r[2] not in (200, 201)]
        errors = [(p, e) for p, _, _, e in outcomes if e]
        first = min(t for t, _, _ in uploads)
        last = max(t + s for t, s, _ in uploads)
        print(f"requests: {len(uploads)} in {last - first:.1f} s: "
              f"{len(uploads) / (last - first):.0f} per second "
              f"({len(failed)} failed and retried)")
        print(f"latency of answered requests: p50 {1000 * statistics.median(ok):.1f} ms, "
              f"p99 {1000 * percentile(ok, 99):.1f} ms, max {1000 * max(ok):.1f} ms")
        print(f"participants done in {ended - began:.1f} s; {len(errors)} ended in error")
        print(f"CPU seconds meanwhile: server {spent[0]:.1f}, PostgreSQL {spent[1]:.1f}, "
              f"participants {spent[2] + spent[3]:.1f} (of {2 * (ended - began):.0f} on "
              f"{os.cpu_count()} cores)")
        for participant, error in errors[:5]:
            print(f"  {participant}: {error}")

        with zipfile.ZipFile(io.BytesIO(api(base, token, "GET", "/api/studies/load/download"))) \
                as z:
            names = set(z.namelist())
            same = lost = 0
            for participant, written, _, _ in outcomes:
                for name, content in written.items():
                    path = f"load/{participant}/run1/{name}"
                    if path in names and z.read(path) == content:
                        same += 1
                    else:
                        lost += 1
        print(f"files downloaded byte-identical to what was written: {same} of {same + lost}")
        return 0 if not lost and not errors and same else 1
    finally:
        if server:
            server.stop()
        cluster.remove()


if __name__ == "__main__":
    sys.exit(main())
