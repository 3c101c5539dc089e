"""cli: the spatialmemory-server command.

The experimenter's commands talk to a running server through its HTTP API, with the
experimenter's token, so they work from any machine that reaches the server:

    spatialmemory-server study create NAME settings.txt [--title T] [--instructions FILE]
                         [--completion-url URL] [--runs-per-participant K] [--force]
    spatialmemory-server studies
    spatialmemory-server links NAME --count N         N single-use links, one per participant
    spatialmemory-server links NAME --general [--param P]   the link for recruiting platforms
    spatialmemory-server links NAME                   every link and whether it was used
    spatialmemory-server status NAME
    spatialmemory-server download NAME OUT.zip
    spatialmemory-server report NAME OUT/             the runs in OUT/data, the report in OUT/

The server's address comes from --server or SPATIALMEMORY_SERVER (default
http://127.0.0.1:8000), the token from --token-file or SPATIALMEMORY_TOKEN.

The administrator's commands work on the database itself (DATABASE_URL, or --database):

    spatialmemory-server migrate                 applies the schema's migrations
    spatialmemory-server experimenter add NAME   a new experimenter; prints its token
    spatialmemory-server experimenter token NAME a new token for NAME (the old one stops)
    spatialmemory-server experimenter first      the first experimenter, if there is none

Exit status: 0 done, 1 refused or failed (one line on standard error says why), 2 usage.
"""

import argparse
import base64
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.error
import urllib.parse
import urllib.request
import zipfile

DEFAULT_SERVER = "http://127.0.0.1:8000"
HERE = os.path.dirname(os.path.abspath(__file__))


class Failed(Exception):
    """Ends the command with status 1 and this message."""


# ---- the HTTP API ----


class Client:
    def __init__(self, server, token):
        self.server = server.rstrip("/")
        self.token = token

    def call(self, method, path, data=None, raw=False):
        body = json.dumps(data).encode("utf-8") if data is not None else None
        request = urllib.request.Request(
            self.server + path, data=body, method=method,
            headers={"Authorization": f"Bearer {self.token}",
                     **({"Content-Type": "application/json"} if body else {})})
        try:
            with urllib.request.urlopen(request, timeout=300) as response:
                content = response.read()
        except urllib.error.HTTPError as e:
            text = e.read().decode("utf-8", "replace")
            try:
                message = json.loads(text)["message"]
            except (ValueError, KeyError, TypeError):
                message = text.strip() or e.reason
            raise Failed(f"{method} {path}: {e.code} {message}") from None
        except (urllib.error.URLError, OSError) as e:
            reason = getattr(e, "reason", e)
            raise Failed(f"cannot reach the server at {self.server}: {reason} (is it running? "
                         "--server or SPATIALMEMORY_SERVER names it)") from None
        return content if raw else json.loads(content)


def client(args):
    token = os.environ.get("SPATIALMEMORY_TOKEN", "").strip()
    if args.token_file:
        try:
            with open(args.token_file, encoding="utf-8") as f:
                token = f.readline().strip()
        except OSError as e:
            raise Failed(f"{args.token_file}: {e.strerror}") from None
    if not token:
        raise Failed("no experimenter token: set SPATIALMEMORY_TOKEN or give --token-file FILE")
    return Client(args.server, token)


def quote(name):
    return urllib.parse.quote(name, safe="")


def find_check():
    """The design checker: SPATIALMEMORY_CHECK, on PATH, or in this source tree's build/."""
    for candidate in (os.environ.get("SPATIALMEMORY_CHECK"), shutil.which("spatialmemory-check"),
                      os.path.join(HERE, "..", "..", "build", "spatialmemory-check")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def study_create(args):
    try:
        with open(args.settings, "rb") as f:
            settings = f.read()
        instructions = ""
        if args.instructions:
            with open(args.instructions, encoding="utf-8") as f:
                instructions = f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise Failed(f"{getattr(e, 'filename', None) or args.instructions}: "
                     f"{getattr(e, 'strerror', None) or e}") from None
    check = find_check()
    if not check:
        print("spatialmemory-server: spatialmemory-check not found: the settings were not checked",
              file=sys.stderr)
    else:
        done = subprocess.run([check, args.settings], capture_output=True, text=True)
        if done.returncode != 0:
            problems = [line for line in done.stdout.splitlines() + done.stderr.splitlines()
                        if line.startswith(args.settings + ":")] or [done.stderr.strip()]
            for line in problems:
                print(line, file=sys.stderr)
            if not args.force:
                raise Failed(f"spatialmemory-check finds problems in {args.settings}; fix them, "
                             "or give --force to use the file as it is")
    answer = client(args).call("POST", "/api/studies", {
        "name": args.name, "settings_base64": base64.b64encode(settings).decode("ascii"),
        "title": args.title, "instructions": instructions,
        "completion_url": args.completion_url,
        "runs_per_participant": args.runs_per_participant})
    print(f"study {answer['name']} created: {answer['title']}")


def studies(args):
    for s in client(args).call("GET", "/api/studies")["studies"]:
        print(f"{s['name']}\t{s['runs']} runs, {s['finished']} finished\t{s['title']}")


def links(args):
    api = client(args)
    path = f"/api/studies/{quote(args.name)}/links"
    if args.count is not None:
        for link in api.call("POST", path, {"count": args.count})["single"]:
            print(f"{link['participant']}\t{link['url']}")
    elif args.general:
        link = api.call("POST", path, {"general": True, "param": args.param})["general"]
        print(link["url"])
        print(f"(the participant's id goes after '{link['param']}=': recruiting platforms append "
              "it, or put their placeholder there)", file=sys.stderr)
    else:
        answer = api.call("GET", path)
        for link in answer["single"]:
            print(f"{link['participant']}\t{link['url']}\t{'used' if link['used'] else 'unused'}")
        if answer["general"]:
            print(f"general\t{answer['general']['url']}")


def when(iso):
    """An ISO time as the status prints it: to the second, in UTC."""
    if not iso:
        return "-"
    moment = datetime.datetime.fromisoformat(iso).astimezone(datetime.timezone.utc)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


def status(args):
    s = client(args).call("GET", f"/api/studies/{quote(args.name)}")
    study, runs = s["study"], s["runs"]
    states = {state: sum(1 for r in runs if r["state"] == state)
              for state in ("finished", "open", "abandoned")}
    print(f"study {study['name']}: {study['title']}")
    print(f"created {when(study['created_at'])} UTC; at most {study['runs_per_participant']} "
          f"run(s) per participant; settings sha256 {study['settings_sha256']}")
    print(f"single-use links: {s['links']['single_used']} of {s['links']['single']} used; "
          f"general link: {s['links']['general'] or 'none'}")
    print(f"runs: {len(runs)}: {states['finished']} finished, {states['open']} open, "
          f"{states['abandoned']} abandoned")
    if runs:
        print("participant\trun\tstate\tstarted (UTC)\tlast upload\ttrials\tcomplete\tbytes"
              "\tproblems\trefused")
    for r in runs:
        print("\t".join(str(v) for v in (
            r["participant"], r["run_number"], r["state"], when(r["started_at"]),
            when(r["last_upload_at"]), r["trials"], r["complete_trials"],
            sum(f["size"] for f in r["files"].values()), len(r["problems"]), r["refusals"])))
    for r in runs:
        for problem in r["problems"]:
            print(f"problem: {problem}")
    for x in s["refusals"]:
        print(f"refused: {when(x['at'])} {x['participant']} {x['name']}: {x['status']} "
              f"{x['reason']}")


def fetch_zip(args, out):
    """The study's zip written to `out` (whole or not at all); returns its size."""
    data = client(args).call("GET", f"/api/studies/{quote(args.name)}/download", raw=True)
    folder = os.path.dirname(os.path.abspath(out))
    with tempfile.NamedTemporaryFile(dir=folder, prefix=".download-", delete=False) as f:
        f.write(data)
    os.replace(f.name, out)
    return len(data)


def download(args):
    print(f"{args.out}: {fetch_zip(args, args.out)} bytes")


def report(args):
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "study.zip")
        fetch_zip(args, path)
        data = os.path.join(args.out, "data")
        if os.path.isdir(os.path.join(data, args.name)):
            shutil.rmtree(os.path.join(data, args.name))
        with zipfile.ZipFile(path) as z:
            z.extractall(data)
    folder = os.path.join(data, args.name)
    runs = sorted(os.path.join(folder, p, r) for p in os.listdir(folder)
                  if os.path.isdir(os.path.join(folder, p))
                  for r in os.listdir(os.path.join(folder, p)))
    runs = [r for r in runs if any(n.startswith("results") for n in os.listdir(r))]
    if not runs:
        raise Failed(f"study {args.name} has no run with files yet: nothing to report")
    print(f"{len(runs)} runs in {folder}", file=sys.stderr)
    from spatialmemory.report import main as report_main
    return report_main(runs + ["--out", args.out])


# ---- the database ----


def database(args):
    url = args.database or os.environ.get("DATABASE_URL", "").strip()
    if not url:
        raise Failed("no database: set DATABASE_URL or give --database")
    return url


def migrate(args):
    from . import db
    try:
        applied = db.migrate(database(args), log=lambda m: print(m, file=sys.stderr))
    except Exception as e:  # psycopg's errors: one line is enough for the one running it
        raise Failed(f"migrating the database: {str(e).strip()}") from None
    print(f"schema at version {db.latest_version()}"
          f"{'' if applied else ' (nothing to apply)'}", file=sys.stderr)


def experimenter(args):
    import psycopg
    from psycopg.rows import dict_row
    from . import store
    work = {"add": lambda conn: store.add_experimenter(conn, args.name),
            "token": lambda conn: store.replace_token(conn, args.name),
            "first": lambda conn: store.first_experimenter(conn)}[args.action]
    try:
        with psycopg.connect(database(args), row_factory=dict_row) as conn:
            token = work(conn)
    except store.Refused as e:
        raise Failed(e.message) from None
    except psycopg.Error as e:
        raise Failed(f"the database: {str(e).strip()}") from None
    if token:
        print(token)


def parser():
    # The connection options may stand before the command or after it.
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--server", default=argparse.SUPPRESS,
                        help="the server's address (SPATIALMEMORY_SERVER; default "
                             f"{DEFAULT_SERVER})")
    common.add_argument("--token-file", metavar="FILE", default=argparse.SUPPRESS,
                        help="a file whose first line is your experimenter token "
                             "(default: SPATIALMEMORY_TOKEN)")
    common.add_argument("--database", metavar="URL", default=argparse.SUPPRESS,
                        help="for migrate and experimenter: the PostgreSQL database "
                             "(default: DATABASE_URL)")
    p = argparse.ArgumentParser(prog="spatialmemory-server", parents=[common],
                                description="Studies on the spatialmemory study server.")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    st = sub.add_parser("study", help="make a study").add_subparsers(dest="action", required=True)
    create = st.add_parser("create", parents=[common], help="a study from a settings file")
    create.add_argument("name", metavar="NAME")
    create.add_argument("settings", metavar="SETTINGS", help="the study's settings.txt")
    create.add_argument("--title", help="shown to participants (default: the name)")
    create.add_argument("--instructions", metavar="FILE", help="a text file shown before the start")
    create.add_argument("--completion-url", metavar="URL",
                        help="where participants go when their files are safe")
    create.add_argument("--runs-per-participant", type=int, default=1, metavar="K",
                        help="runs one participant id may start (default 1)")
    create.add_argument("--force", action="store_true",
                        help="create it even when spatialmemory-check finds problems")
    create.set_defaults(run=study_create)

    sub.add_parser("studies", parents=[common], help="your studies").set_defaults(run=studies)
    ln = sub.add_parser("links", parents=[common], help="links for participants")
    ln.add_argument("name", metavar="NAME")
    kind = ln.add_mutually_exclusive_group()
    kind.add_argument("--count", type=int, metavar="N", help="make N single-use links")
    kind.add_argument("--general", action="store_true",
                      help="the general link, which takes the participant's id from a URL "
                           "parameter")
    ln.add_argument("--param", metavar="P", help="with --general: the URL parameter (default "
                    "participant; e.g. PROLIFIC_PID)")
    ln.set_defaults(run=links)
    stat = sub.add_parser("status", parents=[common], help="a study's runs and their problems")
    stat.add_argument("name", metavar="NAME")
    stat.set_defaults(run=status)
    dl = sub.add_parser("download", parents=[common], help="every run's files in a zip")
    dl.add_argument("name", metavar="NAME")
    dl.add_argument("out", metavar="OUT.zip")
    dl.set_defaults(run=download)
    rp = sub.add_parser("report", parents=[common],
                        help="download and run spatialmemory-report")
    rp.add_argument("name", metavar="NAME")
    rp.add_argument("out", metavar="OUT")
    rp.set_defaults(run=report)

    sub.add_parser("migrate", parents=[common],
                   help="apply the schema's migrations (DATABASE_URL)").set_defaults(run=migrate)
    ex = sub.add_parser("experimenter", parents=[common],
                        help="experimenters' tokens (DATABASE_URL)")
    ex.add_argument("action", choices=["add", "token", "first"])
    ex.add_argument("name", metavar="NAME", nargs="?", default="experimenter")
    ex.set_defaults(run=experimenter)
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    for name, default in (("server", os.environ.get("SPATIALMEMORY_SERVER", DEFAULT_SERVER)),
                          ("token_file", None), ("database", None)):
        if not hasattr(args, name):
            setattr(args, name, default)
    if args.command == "links" and args.param and not args.general:
        parser().error("--param goes with --general")
    try:
        return args.run(args) or 0
    except Failed as e:
        print(f"spatialmemory-server: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
