#!/usr/bin/python3
"""web_bench: the browser build's figures against its targets. A benchmark, not a test: it
measures and reports, and says which target a figure misses.

  web_bench.py PAGE_FOLDER

- download: spatialmemory.wasm plus spatialmemory.js after gzip -9 (target: 200 KB at most);
- first frame: from the start of loading the page to the program's first frame, with Start
  clicked as soon as it is offered, in headless Chromium here (target: 1 s at most); also from
  the click alone;
- layout of a default trial: under node (spatialmemory-layout-timing.js: the layout and its
  mip levels, without the GL), and in the page (layout_ms of the event log, which includes
  handing the images to WebGL), median over the trials of a short run (target: 16 ms at most).
"""

import gzip
import os
import statistics
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts", "lib"))
import websubject  # noqa: E402

# Five trials on the default 5 x 5 grid with two targets and two distractors, short phases.
DESIGN = """watch_length: 0.3
shift_length: 0.2
rotate_length: 0.2
num_trials_per_set: 5
num_instant_shifts: 5
wait_lengths:
0.1
length_end:
target_distract_sets:
2 2
set_end:
"""


def say(what, value, unit, target):
    mark = "" if value <= target else f"  MISSES the target of {target:g} {unit}"
    print(f"{what:58} {value:8.1f} {unit}{mark}")


def main():
    page = os.path.abspath(sys.argv[1])
    size = sum(len(gzip.compress(open(os.path.join(page, n), "rb").read(), 9))
               for n in ("spatialmemory.wasm", "spatialmemory.js"))
    say("spatialmemory.wasm + .js after gzip -9", size / 1000, "KB", 200)

    env = dict(os.environ, NODE_PATH="/usr/share/nodejs")
    out = subprocess.run(["node", os.path.join(page, "spatialmemory-layout-timing.js")],
                         env=env, capture_output=True, text=True, check=True).stdout
    median = float(out.split("with mip levels: median ")[1].split(" ms")[0])
    say("layout of a default trial, node (median of 30)", median, "ms", 16)

    firsts, clicks, layouts = [], [], []
    for attempt in range(3):
        site = websubject.Site(page, {"settings.txt": DESIGN})
        browser = None
        try:
            browser = websubject.Page(site.url + "index.html?seed=7")
            browser.ready()
            clicked = browser.js("return performance.now()")
            first = browser.start()
            firsts.append(first)
            clicks.append(first - clicked)
            for _ in range(5):
                browser.key("g")
                browser.waitphase(5, 60)
                browser.key("s")
                browser.waitphase(0, 60)
            log = browser.files()["results_events0.tsv"].decode().split("\n")
            column = log[0].split("\t").index("layout_ms")
            layouts += [float(r.split("\t")[column]) for r in log if "\ttrial_start\t" in r]
        finally:
            if browser:
                browser.stop()
            site.stop()
    say("first frame from the start of loading (median of 3)", statistics.median(firsts), "ms",
        1000)
    print(f"{'  of which from the click on Start':58} {statistics.median(clicks):8.1f} ms")
    say(f"layout of a default trial, page (median of {len(layouts)})",
        statistics.median(layouts), "ms", 16)
    return 0


if __name__ == "__main__":
    sys.exit(main())
