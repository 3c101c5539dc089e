"""uploader: a scripted participant's browser. It replays a recorded run's files as they grew
(at every 'g' and 's' of the run, at the run's own pace or faster) and uploads them as the page
does: every file that changed in a save is queued whole, a newer state replacing a queued older
one; each is sent until the server acknowledges it with the SHA-256 of what was sent; a failed
attempt (no connection, a cut one, 5xx, 408, 429) is tried again after a backoff that doubles
from 1 s up to 30 s, with jitter; the end waits for every acknowledgement, then finishes the run.
Time comes from a clock object: SimClock counts simulated seconds and sleeps a fraction of each
for real, so a test runs a session's minutes in seconds.
"""

import functools
import hashlib
import http.client
import json
import math
import os
import random
import threading
import time
import urllib.parse

FIRST_BACKOFF, MAX_BACKOFF = 1.0, 30.0  # seconds before the first retry, and at most
REQUEST_TIMEOUT = 10.0  # seconds a request may take before it counts as failed


class Refused(Exception):
    """The server refused for good (a 4xx other than 408 and 429)."""


class RealClock:
    now = staticmethod(time.monotonic)
    sleep = staticmethod(time.sleep)


class SimClock:
    """Simulated seconds: sleeping s of them takes s * scale real seconds."""

    def __init__(self, scale):
        self.scale, self.t, self.lock = scale, 0.0, threading.Lock()

    def now(self):
        with self.lock:
            return self.t

    def sleep(self, seconds):
        if seconds > 0:
            time.sleep(seconds * self.scale)
            with self.lock:
                self.t += seconds


def retryable(status):
    return status is None or status >= 500 or status in (408, 429)


class Connection:
    """One keep-alive connection to the server, made again after any failure."""

    def __init__(self, base):
        parts = urllib.parse.urlsplit(base)
        self.host, self.port, self.conn = parts.hostname, parts.port, None

    def request(self, method, path, body=None, headers=None):
        """(status, parsed JSON answer or raw bytes); (None, None) when the request failed."""
        if self.conn is None:
            self.conn = http.client.HTTPConnection(self.host, self.port, timeout=REQUEST_TIMEOUT)
        try:
            self.conn.request(method, path, body=body, headers=headers or {})
            response = self.conn.getresponse()
            data = response.read()
        except (OSError, http.client.HTTPException):
            self.close()
            return None, None
        if response.getheader("Connection", "").lower() == "close":
            self.close()
        if response.getheader("Content-Type", "").startswith("application/json"):
            return response.status, json.loads(data)
        return response.status, data

    def close(self):
        if self.conn:
            self.conn.close()
        self.conn = None


class Uploader:
    def __init__(self, base, start, clock=None, record=None):
        """base: the server's address; start: the answer of the link's start; record: called
        with (seconds, status) after every request."""
        self.connection, self.start = Connection(base), start
        self.headers = {"Authorization": f"Bearer {start['upload_token']}",
                        "Content-Type": "application/octet-stream"}
        self.clock, self.record = clock or RealClock(), record
        self.queue = {}  # name -> (content, save) not yet acknowledged
        self.written = {}  # name -> the file's content as the program last wrote it
        self.saves, self.backoff, self.retry_at = 0, FIRST_BACKOFF, None
        self.rng = random.Random(start["run"])

    def save(self, files):
        """A 'g' or 's': the run's files as they stand; the changed ones are queued."""
        self.saves += 1
        for name, content in files.items():
            if self.written.get(name) != content:
                self.written[name], self.queue[name] = content, (content, self.saves)

    def call(self, method, path, body=None):
        began = time.monotonic()
        status, answer = self.connection.request(method, path, body, self.headers)
        if self.record:
            self.record(time.monotonic() - began, status)
        if status is not None and not retryable(status) and status not in (200, 201):
            raise Refused(f"{status}: {answer}")
        return status, answer

    def wait(self):
        """Sleeps until the retry after a failure is due."""
        self.clock.sleep(max(0.0, self.retry_at - self.clock.now()))
        self.retry_at = None

    def failed(self):
        self.retry_at = self.clock.now() + self.backoff * self.rng.uniform(0.8, 1.2)
        self.backoff = min(MAX_BACKOFF, self.backoff * 2)

    def pending(self, until=None):
        """Sends the queue; True when it is empty, False when `until` (clock time) comes
        before the next retry."""
        while self.queue:
            if self.retry_at is not None:
                if until is not None and self.retry_at >= until:
                    return False
                self.wait()
            name, (content, save) = next(iter(self.queue.items()))
            status, answer = self.call("PUT", f"{self.start['files_url']}{name}?save={save}",
                                       content)
            if retryable(status):
                self.failed()
                continue
            assert answer["sha256"] == hashlib.sha256(content).hexdigest(), (name, answer)
            if self.queue.get(name, (None,))[0] is content:
                del self.queue[name]
            self.backoff = FIRST_BACKOFF
        return True

    def finish(self):
        """The end screen: every file acknowledged, then the run finished. Returns the
        server's answer (the files it holds)."""
        self.pending()
        while retryable((done := self.call("POST", self.start["finish_url"]))[0]):
            self.failed()
            self.wait()
        return done[1]


def start_run(base, link_path, attempt=None, clock=None):
    """Starts a run from a link's path (/s/<token>/), retrying failures as the page does."""
    connection, clock, backoff = Connection(base), clock or RealClock(), FIRST_BACKOFF
    body = json.dumps({"attempt": attempt or os.urandom(8).hex()})
    while True:
        status, answer = connection.request("POST", link_path + "start", body,
                                            {"Content-Type": "application/json"})
        if not retryable(status):
            connection.close()
            if status not in (200, 201):
                raise Refused(f"{status}: {answer}")
            return answer
        clock.sleep(backoff)
        backoff = min(MAX_BACKOFF, backoff * 2)


# ---- a recorded run, as it grew ----


def cuts(content, count):
    """`count` growing lengths of a file: after whole lines, spread over its lines, the last
    the whole file; every other one reaches halfway into the next line, as a trial's line
    stands between 'g' and 's'."""
    ends = [i + 1 for i, byte in enumerate(content) if byte == 0x0A]
    if not ends or ends[-1] != len(content):
        ends.append(len(content))
    out = [0]
    for k in range(1, count + 1):
        index = math.ceil(k * len(ends) / count) - 1
        cut = ends[index]
        if k % 2 == 1 and k < count and index + 1 < len(ends):
            cut += (ends[index + 1] - cut) // 2
        out.append(max(out[-1], cut))
    return out[1:-1] + [len(content)]


def sidecar(content, participant, session, known=True):
    """The sidecar as the program writes it for this participant and session; before the
    display's refresh is known, without the figures that need it."""
    doc = json.loads(content)
    facts = doc["spatialmemory"] if isinstance(doc.get("spatialmemory"), dict) else doc
    facts["participant"], facts["session"] = participant, session
    if not known:
        facts["refresh_interval_ms"] = None
        doc.get("StimulusPresentation", {}).pop("ScreenRefreshRate", None)
    return (json.dumps(doc, indent=2, ensure_ascii=False) + "\n").encode("utf-8")


@functools.lru_cache(maxsize=None)
def growth(folder):
    """A recorded run's save times (those of its 'g' and 's' from its log, every 2 s without
    one) and its files."""
    import spatialmemory
    run = spatialmemory.read_run(os.path.join(folder, "results0.txt"))
    times = sorted(run.events.loc[run.events["event"].isin(["trial_start", "trial_end"]),
                                  "onset"]) or [2.0 * (k + 1) for k in range(2 * len(run.trials))]
    files = {}
    for name in ("results0.txt", "results_coord0.txt", "results_events0.tsv",
                 "results_events0.json"):
        if os.path.exists(os.path.join(folder, name)):
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
    return [float(t) for t in times], files


def recorded_saves(folder, participant, session):
    """The saves of a recorded run (a folder of analysis/tests/fixtures): [(seconds from the
    start, {name: content})]. The last holds the files as recorded, the sidecar naming the
    participant and session."""
    times, files = growth(os.path.abspath(folder))
    lengths = {name: cuts(content, len(times)) for name, content in files.items()
               if name != "results_events0.json"}
    saves = []
    for k, t in enumerate(times):
        state = {name: files[name][:lengths[name][k]] for name in lengths}
        if "results_events0.json" in files:
            state["results_events0.json"] = sidecar(files["results_events0.json"], participant,
                                                    session, known=k >= len(times) // 2)
        saves.append((t, state))
    return saves


def replay(uploader, saves, speed=1.0):
    """Plays the saves at their pace divided by `speed`, uploading as it goes, then finishes
    the run. Returns the files as last written ({name: bytes})."""
    clock = uploader.clock
    begin = clock.now()
    for k, (t, files) in enumerate(saves):
        clock.sleep(max(0.0, begin + t / speed - clock.now()))
        uploader.save(files)
        following = begin + saves[k + 1][0] / speed if k + 1 < len(saves) else None
        uploader.pending(until=following)
    uploader.finish()
    return dict(uploader.written)
