#!/usr/bin/python3
"""page: the browser page's own features in headless Chromium, played with real key and mouse
events: on a static server, and from the links of a real study server (PostgreSQL and
gunicorn on loopback, started here).

  page.py CASE --page FOLDER --work FOLDER [--check PATH] [--pictures FOLDER]

  away          the page taken out of full screen and hidden during a trial: the overlay asks
                the subject back and input does nothing meanwhile; the log's rows of it, read
                by the analysis package; nothing logged on the idle screen
  serve         the static server of run-example --web: the WebAssembly's type, no folder
                listings, the page runs from it
  recover       no design beside the page: the setup screen's file, participant and session; a
                tab crashed in the middle of the second trial; the recovery page offers the
                files as they stood at the last 'g'
  study         a study made with the server's command line, its link opened, a run played (the
                site's data cleared after the first trial): the study's texts, the end's thanks
                and the completion address; the downloaded zip holds the page's files byte for
                byte, read_study reads the same tables from both, spatialmemory-report runs on
                it; the used link sends nothing more
  offline       the network gone for a minute from the middle of the run to after its end: the
                end screen waits, then every file arrives as the page wrote it
  closed        a tab closed in the middle of a run while offline: the link opened again sends
                what was left unsent, the files as they stood at the last 'g'

Exit status 0 passed, 1 failed; the work folder of a failed case is kept.
"""

import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..", "..")
sys.path[:0] = [os.path.join(REPO, "scripts", "lib"), os.path.join(REPO, "tests", "e2e"),
                os.path.join(REPO, "server", "tests"), os.path.join(REPO, "server"),
                os.path.join(REPO, "analysis")]
import websubject  # noqa: E402
import xsubject  # noqa: E402
from records import Bad, Design, expect  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

SCREEN = (1280, 800)
COMMAND = os.path.join(REPO, "server", "spatialmemory-server")
# Three short trials, each of another condition.
DESIGN = Design([(9, 12), (12, 9), (9, 9)], waits=(0.3,), angles=(90, -30), watch_length=0.5,
                shift_length=0.3, rotate_length=0.3, num_trials_per_set=1)
NAMES = ["results0.txt", "results_coord0.txt", "results_events0.tsv", "results_events0.json"]
PAGE_ROWS = ["fullscreen_left", "fullscreen_back", "page_hidden", "page_shown"]
PICTURES = [None]


def picture(page, name):
    """A screenshot kept in --pictures when it is given."""
    if PICTURES[0]:
        page.shot(os.path.join(PICTURES[0], name + ".png"))


def cell(files, column, row):
    """The screen point of a cell of the running trial's map (10 x 10 cells), from its files."""
    angle = float(files["results0.txt"].decode().rstrip("\n").split("\n")[-1].split("\t")[7])
    return xsubject.Geometry(*SCREEN).cellcentre(column, row, 10, 10, angle)


def trial(page, cells=((1, 1), (4, 5))):
    """One trial played: 'g', the cells clicked in PICK, 's'."""
    page.key("g")
    page.waitphase(5)
    page.clickat([cell(page.files(), c, r) for c, r in cells])
    page.key("s")
    page.waitphase(0)


def rows(files):
    """The event log's rows as dicts."""
    lines = files["results_events0.tsv"].decode().rstrip("\n").split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def keep(folder, files, settings):
    """The files written into a run folder of their own, with the settings beside them."""
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    with open(os.path.join(folder, "settings.txt"), "w") as f:
        f.write(settings)
    return folder


def newtab(page):
    """Opens a tab and shows it; returns the handle of the one shown before."""
    before = page.driver.current_window_handle
    page.driver.switch_to.new_window("tab")
    return before


def network(page, online):
    """Chromium's network emulation for the page's tab: offline, or back."""
    page.driver.execute_cdp_cmd("Network.enable", {})
    page.driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
        "offline": not online, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})


# The completion address is the study server's (a 404 page): what a browser says of it, and of
# the favicon it then asks for, is no fault of the experiment's page.
AFTER = ["/complete?cc=C0DE - Failed to load resource", "/favicon.ico - Failed to load resource"]


def problems(page, allowed=()):
    return [e for e in page.errors() if not any(a in e for a in [*allowed, *AFTER])]


# ---- a static server ----


def case_away(args, folder):
    """Out of full screen and hidden in a trial: asked back, input held, rows in the log."""
    design = Design([(9, 12)], waits=(0.3,), angles=(90,), watch_length=1.0, shift_length=0.3,
                    rotate_length=0.3, num_trials_per_set=1)
    site = websubject.Site(args.page, {"settings.txt": design.text})
    page = websubject.Page(site.url + "index.html?seed=17", SCREEN)
    try:
        page.ready()
        page.start()
        expect(page.js("return !!document.fullscreenElement"), "Start did not go full screen")
        page.key("g")
        page.waitphase(1)
        page.js("document.exitFullscreen()")
        page.waitfor("the overlay", lambda: page.js(
            "return !document.getElementById('away').hidden"), 10)
        picture(page, "away")
        page.waitphase(5)  # the phases go on meanwhile
        page.key("s")
        page.clickat([(640, 100)])  # on the overlay, not the board
        time.sleep(0.5)
        expect(page.phase() == 5, "'s' ended PICK while the page asked the subject back")
        page.driver.find_element(By.ID, "return").click()
        page.waitfor("full screen again", lambda: page.js(
            "return !!document.fullscreenElement && document.getElementById('away').hidden"), 10)
        files = page.files()
        page.clickat([cell(files, 4, 5)])
        back = newtab(page)
        time.sleep(0.5)
        page.driver.close()
        page.driver.switch_to.window(back)
        page.waitfor("the page shown", lambda: page.js("return !document.hidden"), 10)
        if not page.js("return document.getElementById('away').hidden"):
            page.driver.find_element(By.ID, "return").click()  # a browser that left full screen
        page.waitfor("input taken again", lambda: page.js(
            "return document.getElementById('away').hidden"), 10)
        page.key("s")
        page.waitphase(0)
        # On the idle screen: asked back too, but nothing is logged, and 'g' waits.
        page.js("document.exitFullscreen()")
        page.waitfor("the overlay", lambda: page.js(
            "return !document.getElementById('away').hidden"), 10)
        page.key("g")
        time.sleep(0.5)
        expect(not page.ended(), "'g' ended the run while the page asked the subject back")
        page.driver.find_element(By.ID, "return").click()
        page.waitfor("full screen again", lambda: page.js(
            "return document.getElementById('away').hidden"), 10)
        files = page.files()
        page.key("g")
        page.waitfor("the end screen", page.ended, 30)
        picture(page, "end-local")
        errors = problems(page)
    finally:
        page.stop()
        site.stop()
    expect(not errors, f"errors in the page: {errors}")
    log = rows(files)
    events = [r["event"] for r in log]
    mine = [e for e in events if e in PAGE_ROWS]
    expect(mine[:2] == ["fullscreen_left", "fullscreen_back"] and
           mine[2:4] == ["page_hidden", "page_shown"] and
           set(mine[4:]) <= {"fullscreen_left", "fullscreen_back"} and len(mine) in (4, 6),
           f"the page's rows: {mine}")
    expect(all(r["trial"] == "1" and r["x_px"] == "n/a" for r in log if r["event"] in PAGE_ROWS),
           "a page row outside the trial, or with input columns")
    expect(events.index("trial_end") == len(events) - 1, f"rows after the trial's end: {events}")
    clicks = [r for r in log if r["event"] == "click"]
    expect(len(clicks) == 2 and "early" not in events,
           f"{len(clicks)} click rows and early rows {events.count('early')}: the input while "
           "the page asked the subject back reached the program")
    tab = files["results0.txt"].decode().rstrip("\n").split("\n")[-1].split("\t")
    expect(tab[11] == "1.000000", f"the trial's total hits: {tab[11]}")
    levels = json.loads(files["results_events0.json"])["event"]["Levels"]
    expect(all(e in levels for e in PAGE_ROWS), f"the sidecar's events: {list(levels)}")
    import spatialmemory
    run = spatialmemory.read_run(keep(os.path.join(folder, "run"), files, design.text) +
                                 "/results0.txt")
    expect(run.refused == [] and list(run.trials.interruptions) == [len(mine) // 2] and
           len(run.clicks) == 2, f"read back: refused {run.refused}, interruptions "
           f"{list(run.trials.interruptions)}, {len(run.clicks)} clicks")
    print(f"page rows {mine}; the input meanwhile held back")


def recovered(page):
    """The recovery page's runs: [{state, files: {name: bytes}}], read from its downloads."""
    page.waitfor("the recovery page", lambda: page.js("return window.spatialmemoryRecovered"), 20)
    found = page.driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        const runs = [];
        (async () => {
          for (const box of document.querySelectorAll('.run')) {
            const files = {};
            for (const a of box.querySelectorAll('a[download]')) {
              const bytes = new Uint8Array(await (await fetch(a.href)).arrayBuffer());
              let s = '';
              for (const c of bytes) s += String.fromCharCode(c);
              files[a.download] = btoa(s);
            }
            runs.push({state: box.querySelector('.state').textContent, files});
          }
          return runs;
        })().then(done, (e) => done(String(e)));""")
    expect(isinstance(found, list), f"the recovery page: {found}")
    return [{"state": r["state"], "files": {n: base64.b64decode(b) for n, b in r["files"].items()}}
            for r in found]


def case_recover(args, folder):
    """The setup screen, a crashed tab, and its files from the recovery page."""
    settings = os.path.join(folder, "design.txt")
    with open(settings, "w") as f:
        f.write(DESIGN.text)
    site = websubject.Site(args.page)
    os.unlink(os.path.join(site.folder, "settings.txt"))
    page = websubject.Page(site.url + "index.html", SCREEN)
    try:
        page.waitfor("the setup screen", lambda: page.js(
            "return !document.getElementById('setup').hidden"), 30)
        page.driver.find_element(By.ID, "setup-done").click()
        page.waitfor("a refusal without a design", lambda: "Choose the settings file" in page.js(
            "return document.getElementById('setup-problem').textContent"), 10)
        page.driver.find_element(By.ID, "setup-settings").send_keys(settings)
        page.driver.find_element(By.ID, "setup-participant").send_keys("P/7")
        page.driver.find_element(By.ID, "setup-done").click()
        page.waitfor("a refusal of the participant", lambda: "'/'" in page.js(
            "return document.getElementById('setup-problem').textContent"), 10)
        page.driver.find_element(By.ID, "setup-participant").clear()
        page.driver.find_element(By.ID, "setup-participant").send_keys("P07")
        page.driver.find_element(By.ID, "setup-session").send_keys("S 1")
        picture(page, "setup")
        page.driver.find_element(By.ID, "setup-done").click()
        page.ready()
        page.start()
        trial(page)
        page.key("g")
        page.waitphase(3)
        files = page.files()  # as they stood at that 'g'
        before = newtab(page)
        page.driver.switch_to.window(before)
        try:
            page.driver.set_script_timeout(5)
            page.driver.execute_cdp_cmd("Page.crash", {})
        except Exception:
            pass  # the renderer is gone before it can answer
        for handle in page.driver.window_handles:
            if handle != before:
                page.driver.switch_to.window(handle)
        page.driver.get(site.url + "recover.html")
        runs = recovered(page)
        picture(page, "recover")
        errors = problems(page, ["/settings.txt - Failed to load resource"])
    finally:
        page.stop()
        site.stop()
    expect(not errors, f"errors in the page: {errors}")
    expect(len(runs) == 1, f"{len(runs)} runs on the recovery page")
    state, kept = runs[0]["state"], runs[0]["files"]
    expect(state.startswith("Unfinished: 1 trial finished, the last one cut short"),
           f"the recovery page says {state!r}")
    expect(sorted(kept) == sorted(NAMES), f"the recovery page offers {sorted(kept)}")
    for name in NAMES:
        expect(kept[name] == files[name], f"{name} from the recovery page differs from the page's "
               f"({len(kept[name])} and {len(files[name])} bytes)")
    facts = json.loads(kept["results_events0.json"])["spatialmemory"]
    expect((facts["participant"], facts["session"]) == ("P07", "S 1") and
           facts["settings_sha256"] == __import__("hashlib").sha256(DESIGN.text.encode()).hexdigest(),
           f"the sidecar's participant, session and design: {facts['participant']!r}, "
           f"{facts['session']!r}, {facts['settings_sha256']}")
    import spatialmemory
    run = spatialmemory.read_run(keep(os.path.join(folder, "run"), kept, DESIGN.text) +
                                 "/results0.txt")
    expect(list(run.trials.complete) == [True, False], f"read back: {run.trials}")
    print("the crashed run's files from the recovery page, as they stood at its last 'g'")


def case_serve(args, folder):
    """The example's static server (run-example --web): WebAssembly as application/wasm, no
    folder listings, and the page it serves runs."""
    import urllib.error
    import urllib.request
    site = os.path.join(folder, "site")
    os.makedirs(os.path.join(site, "sub"))
    for name in os.listdir(args.page):
        if os.path.isfile(os.path.join(args.page, name)):
            shutil.copy(os.path.join(args.page, name), site)
    open(os.path.join(site, "sub", "private.txt"), "w").close()
    server = subprocess.Popen([sys.executable, os.path.join(REPO, "scripts", "lib", "serve.py"),
                               site, "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline()
        expect(line.startswith("The experiment's page runs at http://127.0.0.1:"), line)
        address = line.split(" at ")[1].split(" ")[0]
        with urllib.request.urlopen(address + "spatialmemory.wasm") as reply:
            kind = reply.headers["Content-Type"]
        try:
            listing = urllib.request.urlopen(address + "sub/").status
        except urllib.error.HTTPError as e:
            listing = e.code
        page = websubject.Page(address, SCREEN)
        try:
            page.ready()
            page.start()
            errors = problems(page)
        finally:
            page.stop()
    finally:
        server.terminate()
        server.wait(10)
    expect(kind == "application/wasm", f"the WebAssembly is served as {kind}")
    expect(listing == 404, f"a folder answered {listing}, not 404")
    expect(not errors, f"errors in the page: {errors}")
    print(f"served at {address}; the page ran")


# ---- a study server ----


class Online:
    """A study server of its own: a PostgreSQL cluster, the server under gunicorn on loopback
    serving the page, an experimenter, and a study made with the command line."""

    def __init__(self, args, folder, name="rotation"):
        from pgcluster import Cluster, Server
        from spatialmemory_server import db
        self.folder, self.name = folder, name
        self.cluster = Cluster()
        self.server = None
        try:
            self.cluster.start()
            url = self.cluster.create_database("spatialmemory")
            db.migrate(url)
            self.server = Server(url, workers=1, threads=4, web=[args.page],
                                 log=os.path.join(folder, "server.log"))
            self.env = {**os.environ, "DATABASE_URL": url,
                        "SPATIALMEMORY_SERVER": self.server.url}
            if args.check:
                self.env["SPATIALMEMORY_CHECK"] = args.check
            self.env["SPATIALMEMORY_TOKEN"] = self.cli("experimenter", "add", "lab").strip()
            with open(os.path.join(folder, "settings.txt"), "w") as f:
                f.write(DESIGN.text)
            with open(os.path.join(folder, "instructions.txt"), "w") as f:
                f.write("Remember where the red cells go.\n\nPress g to begin each trial.\n")
            self.completion = f"{self.server.url}/complete?cc=C0DE"
            self.cli("study", "create", name, os.path.join(folder, "settings.txt"), "--title",
                     "Rotation study", "--instructions", os.path.join(folder, "instructions.txt"),
                     "--completion-url", self.completion)
            self.links = [line.split("\t")[1] for line in
                          self.cli("links", name, "--count", "2").splitlines()]
        except BaseException:
            self.stop()
            raise

    def cli(self, *arguments):
        done = subprocess.run([COMMAND, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=300)
        expect(done.returncode == 0, f"spatialmemory-server {' '.join(arguments)}: "
               f"{done.stdout}{done.stderr}")
        return done.stdout

    def download(self):
        """The study's zip, unpacked: {name: bytes} of the first participant's run."""
        out = os.path.join(self.folder, "study.zip")
        self.cli("download", self.name, out)
        unpacked = os.path.join(self.folder, "zip")
        shutil.rmtree(unpacked, ignore_errors=True)
        subprocess.run([sys.executable, "-m", "zipfile", "-e", out, unpacked], check=True)
        run = os.path.join(unpacked, self.name, "p0001", "run1")
        return run, {n: open(os.path.join(run, n), "rb").read() for n in os.listdir(run)
                     if n != "settings.txt"}

    def stop(self):
        if self.server:
            self.server.stop(keep_log=True)
        self.cluster.remove()


def startlink(online, link):
    page = websubject.Page(link, SCREEN)
    try:
        page.ready()
        texts = page.js("return [document.getElementById('title').textContent,"
                        " [...document.querySelectorAll('#instructions p')].map(p => p.textContent)]")
        expect(texts == ["Rotation study", ["Remember where the red cells go.",
                                            "Press g to begin each trial.\n"]],
               f"the start screen shows {texts}")
        return page
    except BaseException:
        page.stop()
        raise


def finished(page, online, timeout):
    """Waits for the thanks and the completion address."""
    page.waitfor("the thanks", lambda: (page.ended() or {}).get("sent") is not None, timeout, 0.2)
    end = page.ended()
    expect(end.get("sent") is True, f"the end screen: {end}")
    picture(page, "end-online")
    page.waitfor("the completion address", lambda: page.driver.current_url == online.completion,
                 15, 0.2)


def case_study(args, folder):
    """A study's link played through: the zip holds the page's files, read alike, reported."""
    online = Online(args, folder)
    try:
        page = startlink(online, online.links[0])
        try:
            picture(page, "start-online")
            page.start()
            trial(page)
            # The site's data cleared in the middle of the run: the page keeps the run itself
            # from then on, and sends it all the same.
            page.driver.execute_cdp_cmd("Storage.clearDataForOrigin", {
                "origin": online.server.url, "storageTypes": "indexeddb"})
            trial(page)
            trial(page)
            files = page.files()
            kept = page.logs()
            page.key("g")
            finished(page, online, 60)
            # The link again: the used link's page, which finds nothing left to send.
            page.driver.get(online.links[0])
            page.waitfor("the used link's page", lambda: page.js(
                "return window.spatialmemoryResumed || null"), 20)
            again = [page.js("return document.querySelector('h1').textContent"),
                     page.js("return window.spatialmemoryResumed")]
            errors = problems(page, ["Failed to load resource: the server responded with a "
                                     "status of 410"])
        finally:
            page.stop()
        run, stored = online.download()
        report = os.path.join(folder, "report")
        online.cli("report", online.name, report)
    finally:
        online.stop()
    expect(not errors, f"errors in the page: {errors}")
    expect(any("no longer keeps the run" in text for _, text in kept),
           "the page went on without noticing that its storage was gone")
    expect(again == ["Cannot start", {"runs": 0, "sent": True}], f"the used link: {again}")
    expect(sorted(stored) == sorted(NAMES), f"the zip holds {sorted(stored)}")
    for name in NAMES:
        expect(stored[name] == files[name], f"{name} in the zip differs from the page's")
    facts = json.loads(files["results_events0.json"])["spatialmemory"]
    expect((facts["participant"], facts["session"]) == ("p0001", online.name),
           f"the sidecar names {facts['participant']!r} and {facts['session']!r}")
    import spatialmemory
    mine = spatialmemory.read_study([keep(os.path.join(folder, "page"), files, DESIGN.text)])
    theirs = spatialmemory.read_study([run])
    for table in ("trials", "cells", "clicks", "events"):
        a, b = (getattr(s, table).drop(columns="folder") for s in (mine, theirs))
        expect(a.equals(b), f"read_study's {table} differ between the zip and the page's files")
    expect(len(mine.trials) == 3 and mine.trials.complete.all() and not theirs.problems,
           f"read back: {len(mine.trials)} trials, problems {theirs.problems}")
    expect(os.path.exists(os.path.join(report, "report.html")), "no report.html")
    print("the zip holds the page's files; the same tables; the report made")


def case_offline(args, folder):
    """A minute offline from the second trial to after the end: nothing lost."""
    online = Online(args, folder)
    try:
        page = startlink(online, online.links[0])
        try:
            page.start()
            trial(page)
            network(page, online=False)
            gone = time.monotonic()
            trial(page)
            trial(page)
            files = page.files()
            page.key("g")
            page.waitfor("the end screen", lambda: page.js(
                "return !document.getElementById('end').hidden"), 20)
            waiting = page.js("return document.getElementById('sending').textContent")
            picture(page, "end-waiting")
            time.sleep(max(0.0, 60 - (time.monotonic() - gone)))
            expect(not page.ended(), "the run ended while the page was offline")
            network(page, online=True)
            finished(page, online, 60)
            errors = problems(page, ["net::ERR_INTERNET_DISCONNECTED"])
        finally:
            page.stop()
        _, stored = online.download()
    finally:
        online.stop()
    expect(not errors, f"errors in the page: {errors}")
    expect("still to send" in waiting, f"the end screen while offline said {waiting!r}")
    for name in NAMES:
        expect(stored.get(name) == files[name], f"{name} in the zip differs from the page's")
    print(f"offline for a minute; every file arrived as written (the end screen said {waiting!r})")


def case_closed(args, folder):
    """A tab closed mid-run with its last saves unsent: the link opened again sends them."""
    online = Online(args, folder)
    try:
        page = startlink(online, online.links[0])
        try:
            page.start()
            trial(page)
            network(page, online=False)
            trial(page)
            page.key("g")
            page.waitphase(2)
            files = page.files()  # as they stood at that 'g'
            left = page.driver.execute_async_script("""
                const done = arguments[arguments.length - 1];
                const open = indexedDB.open('spatialmemory');
                open.onsuccess = () => {
                  const r = open.result.transaction('queue').objectStore('queue').count();
                  r.onsuccess = () => done(r.result);
                };""")
            before = newtab(page)
            page.driver.switch_to.window(before)
            page.driver.close()
            page.driver.switch_to.window(page.driver.window_handles[0])
            page.driver.get(online.links[0])
            page.waitfor("the used link's page to send what was left", lambda: page.js(
                "return window.spatialmemoryResumed || null"), 60, 0.2)
            resumed = page.js("return window.spatialmemoryResumed")
            said = page.js("return (document.getElementById('resume') || {}).textContent")
            picture(page, "resumed")
            errors = problems(page, ["net::ERR_INTERNET_DISCONNECTED", "status of 410"])
        finally:
            page.stop()
        _, stored = online.download()
    finally:
        online.stop()
    expect(not errors, f"errors in the page: {errors}")
    expect(left > 0, "nothing was left unsent when the tab was closed")
    expect(resumed == {"runs": 1, "sent": True}, f"the used link's page: {resumed}, {said!r}")
    for name in NAMES:
        expect(stored.get(name) == files[name], f"{name} in the zip differs from the page's "
               "files at the last 'g'")
    print(f"{left} files left unsent by the closed tab arrived from the used link's page")


CASES = {name[5:]: case for name, case in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--page", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--check", help="spatialmemory-check, for the study's design")
    parser.add_argument("--pictures", help="keep screenshots of the page in this folder")
    args = parser.parse_args()
    args.page = os.path.abspath(args.page)
    if args.pictures:
        os.makedirs(args.pictures, exist_ok=True)
        PICTURES[0] = os.path.abspath(args.pictures)
    return websubject.runcase(args, CASES, "page.work",
                              (Bad, xsubject.Failure, websubject.Failure))


if __name__ == "__main__":
    sys.exit(main())
