"""store: what the server keeps and the rules it keeps it by, in SQL with parameters only.

Every function takes an open connection inside a transaction (db.Database.run) and may be run
again on a fresh connection after a lost one, so none of them does anything outside it. What a
request may not do raises Refused with the HTTP status and a message for a person.

The rules:
- a study belongs to the experimenter who made it; nothing of it is found by another one;
- a single-use link starts one run; the general link starts runs for the id its URL parameter
  gives, at most runs_per_participant each; a start the page repeats (same `attempt`) is the
  same run, with a fresh upload token, as long as nothing has been uploaded with the first;
- a run's page uploads its results files whole, by names from a fixed list; a file only grows
  (new content begins with what is stored), except the event log's sidecar, which the program
  rewrites and which may be replaced while the run is open; an upload of what is stored, or of
  an older state of it, is acknowledged and changes nothing; everything else is refused and
  recorded in `refusals`.
"""

import hashlib
import hmac
import re

import psycopg

from . import security

STUDY_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9_-]{0,63}")
PARTICIPANT = re.compile(r"[A-Za-z0-9][A-Za-z0-9_.-]{0,63}")
PARAM = re.compile(r"[A-Za-z_][A-Za-z0-9_.-]{0,63}")
RUN_NUMBERS = range(10)  # the N of results<N>.txt a run may upload
RESULT_FILES = frozenset(
    name.format(n) for n in RUN_NUMBERS
    for name in ("results{}.txt", "results_coord{}.txt", "results_events{}.tsv",
                 "results_events{}.json"))
SIDECAR = re.compile(r"results_events\d\.json")
MAX_SETTINGS_BYTES = 64 * 1024
MAX_TITLE = 200
MAX_INSTRUCTIONS = 20000
MAX_URL = 2000
MAX_RUNS_PER_PARTICIPANT = 1000
MAX_LINKS = 10000  # single-use links made at one time
MAX_ATTEMPT = 100


class Refused(Exception):
    """A request the rules do not allow: `status` (HTTP), `code` (a word for programs) and
    `message` (a sentence for people)."""

    def __init__(self, status, code, message):
        super().__init__(message)
        self.status = status
        self.code = code
        self.message = message


def sha256hex(data):
    return hashlib.sha256(data).hexdigest()


# ---- experimenters ----


def add_experimenter(conn, name):
    """A new experimenter and its token (returned once; only its digest is kept)."""
    if not STUDY_NAME.fullmatch(name):
        raise Refused(400, "bad_name", f"{name!r}: an experimenter's name is letters, digits, "
                      "'-' and '_', at most 64")
    token = security.new_token()
    try:
        with conn.transaction():
            conn.execute("INSERT INTO experimenters (name, token_sha256) VALUES (%s, %s)",
                         [name, security.digest(token)])
    except psycopg.errors.UniqueViolation:
        raise Refused(409, "exists", f"there is an experimenter {name!r} already") from None
    return token


def replace_token(conn, name):
    token = security.new_token()
    row = conn.execute("UPDATE experimenters SET token_sha256 = %s WHERE name = %s RETURNING id",
                       [security.digest(token), name]).fetchone()
    if not row:
        raise Refused(404, "unknown", f"no experimenter {name!r}")
    return token


def first_experimenter(conn, name="experimenter"):
    """The first experimenter's token when there is none yet, else None. Servers starting
    together on one database make one between them."""
    conn.execute("SELECT pg_advisory_xact_lock(%s)", [0x5350_4D45_4D00_0002])
    if conn.execute("SELECT 1 FROM experimenters LIMIT 1").fetchone():
        return None
    return add_experimenter(conn, name)


def experimenter(conn, token):
    """(id, name) of the experimenter whose token this is, or None."""
    if not token:
        return None
    row = conn.execute("SELECT id, name FROM experimenters WHERE token_sha256 = %s",
                       [security.digest(token)]).fetchone()
    return (row["id"], row["name"]) if row else None


# ---- studies and links ----


def create_study(conn, owner, name, settings, title=None, instructions="", completion_url=None,
                 runs_per_participant=1):
    if not isinstance(name, str) or not STUDY_NAME.fullmatch(name):
        raise Refused(400, "bad_name", f"{name!r}: a study's name is 1 to 64 letters, digits, "
                      "'-' and '_', starting with a letter or digit")
    if not isinstance(settings, bytes) or not settings.strip():
        raise Refused(400, "bad_settings", "the settings file is empty")
    if len(settings) > MAX_SETTINGS_BYTES:
        raise Refused(400, "bad_settings", f"the settings file has {len(settings)} bytes; at "
                      f"most {MAX_SETTINGS_BYTES} are taken")
    title = name if title is None else title
    if not isinstance(title, str) or not title.strip() or len(title) > MAX_TITLE:
        raise Refused(400, "bad_title", f"a title is 1 to {MAX_TITLE} characters")
    if not isinstance(instructions, str) or len(instructions) > MAX_INSTRUCTIONS:
        raise Refused(400, "bad_instructions", f"instructions are at most {MAX_INSTRUCTIONS} "
                      "characters of text")
    if completion_url is not None and (
            not isinstance(completion_url, str) or len(completion_url) > MAX_URL or
            not re.fullmatch(r"https?://[^\s<>\"]+", completion_url)):
        raise Refused(400, "bad_completion_url", f"{completion_url!r} is not an http(s) address")
    if (not isinstance(runs_per_participant, int) or isinstance(runs_per_participant, bool) or
            not 1 <= runs_per_participant <= MAX_RUNS_PER_PARTICIPANT):
        raise Refused(400, "bad_runs_per_participant", "runs per participant: a whole number "
                      f"from 1 to {MAX_RUNS_PER_PARTICIPANT}")
    try:
        with conn.transaction():
            row = conn.execute(
                "INSERT INTO studies (experimenter_id, name, title, instructions, settings,"
                " settings_sha256, completion_url, runs_per_participant)"
                " VALUES (%s, %s, %s, %s, %b, %s, %s, %s) RETURNING id, created_at",
                [owner, name, title, instructions, settings, sha256hex(settings), completion_url,
                 runs_per_participant]).fetchone()
    except psycopg.errors.UniqueViolation:
        raise Refused(409, "exists", f"you have a study {name!r} already") from None
    return {"name": name, "title": title, "created_at": row["created_at"].isoformat()}


def study(conn, owner, name, lock=False):
    """The experimenter's study of that name; another's or none is the same 404."""
    row = conn.execute("SELECT * FROM studies WHERE experimenter_id = %s AND name = %s" +
                       (" FOR UPDATE" if lock else ""), [owner, name]).fetchone()
    if not row:
        raise Refused(404, "no_study", f"you have no study {name!r}")
    return row


def studies(conn, owner):
    return conn.execute(
        "SELECT s.name, s.title, s.created_at, s.runs_per_participant,"
        " (SELECT count(*) FROM runs r WHERE r.study_id = s.id) AS runs,"
        " (SELECT count(*) FROM runs r WHERE r.study_id = s.id AND r.finished_at IS NOT NULL)"
        "   AS finished"
        " FROM studies s WHERE s.experimenter_id = %s ORDER BY s.created_at, s.id",
        [owner]).fetchall()


def make_links(conn, owner, name, count):
    """`count` single-use links, each for a participant numbered in the study: p0001, ...
    Returns [(participant, token)]."""
    if not isinstance(count, int) or isinstance(count, bool) or not 1 <= count <= MAX_LINKS:
        raise Refused(400, "bad_count", f"links are made 1 to {MAX_LINKS} at a time")
    row = study(conn, owner, name, lock=True)
    first = row["next_participant"]
    made = [(f"p{n:04d}", security.new_link_token()) for n in range(first, first + count)]
    with conn.cursor() as cur:
        cur.executemany("INSERT INTO links (study_id, token, general, participant)"
                        " VALUES (%s, %s, false, %s)",
                        [(row["id"], token, participant) for participant, token in made])
    conn.execute("UPDATE studies SET next_participant = %s WHERE id = %s",
                 [first + count, row["id"]])
    return made


def general_link(conn, owner, name, param=None):
    """The study's general link (made the first time), with its URL parameter set to `param`
    when one is given. Returns (token, param)."""
    if param is not None and not PARAM.fullmatch(param):
        raise Refused(400, "bad_param", f"{param!r} is not a URL parameter name of letters, "
                      "digits, '_', '.' and '-'")
    row = study(conn, owner, name, lock=True)
    link = conn.execute("SELECT id, token, param FROM links WHERE study_id = %s AND general",
                        [row["id"]]).fetchone()
    if not link:
        token, param = security.new_link_token(), param or "participant"
        conn.execute("INSERT INTO links (study_id, token, general, param)"
                     " VALUES (%s, %s, true, %s)", [row["id"], token, param])
        return token, param
    if param and param != link["param"]:
        conn.execute("UPDATE links SET param = %s WHERE id = %s", [param, link["id"]])
        return link["token"], param
    return link["token"], link["param"]


def links(conn, owner, name):
    """The study's single-use links with whether each started its run, and its general link
    (or None)."""
    row = study(conn, owner, name)
    single = conn.execute(
        "SELECT l.participant, l.token, EXISTS (SELECT 1 FROM runs r WHERE r.link_id = l.id)"
        " AS used FROM links l WHERE l.study_id = %s AND NOT l.general ORDER BY l.id",
        [row["id"]]).fetchall()
    general = conn.execute("SELECT token, param FROM links WHERE study_id = %s AND general",
                           [row["id"]]).fetchone()
    return single, general


# ---- the participant's side ----


def link(conn, token, lock=False):
    """The link of that token with its study's public facts, or None."""
    if not token or not security.TOKEN_SHAPE.fullmatch(token):
        return None
    return conn.execute(
        "SELECT l.id, l.general, l.participant, l.param, s.id AS study_id, s.name AS study,"
        " s.title, s.instructions, s.completion_url, s.runs_per_participant, s.settings_sha256"
        " FROM links l JOIN studies s ON s.id = l.study_id WHERE l.token = %s" +
        (" FOR UPDATE OF l" if lock else ""), [token]).fetchone()


def settings(conn, study_id):
    return bytes(conn.execute("SELECT settings FROM studies WHERE id = %s", [study_id],
                              binary=True).fetchone()["settings"])


USED = ("link_used", "This link has been used already: each link starts one session. If your "
        "session was interrupted, please contact the researcher.")
USED_UP = ("runs_used_up", "You have already taken part in this study as many times as it "
           "allows. Thank you!")


def may_start(conn, lk, participant):
    """Refused with a page's worth of explanation when the link cannot start a run for this
    participant now; else the number the new run would get."""
    if lk["general"]:
        if not participant or not PARTICIPANT.fullmatch(participant):
            raise Refused(400, "no_participant", "This link needs your participant id, which "
                          "the page that sent you here adds to it. Please go back and follow the "
                          "link from there.")
    elif conn.execute("SELECT 1 FROM runs WHERE link_id = %s", [lk["id"]]).fetchone():
        raise Refused(410, *USED)
    done = conn.execute("SELECT count(*) AS n FROM runs WHERE study_id = %s AND participant = %s",
                        [lk["study_id"], participant]).fetchone()["n"]
    if done >= lk["runs_per_participant"]:
        raise Refused(403, *USED_UP)
    return done + 1


def start_run(conn, token, participant, attempt=None):
    """Starts a run from a link. Returns (answer, created): the facts the page needs with the
    upload token, and whether the run is new (False: the same attempt repeated)."""
    if attempt is not None and (not isinstance(attempt, str) or
                                not 1 <= len(attempt) <= MAX_ATTEMPT):
        raise Refused(400, "bad_attempt", f"attempt: a string of 1 to {MAX_ATTEMPT} characters")
    lk = link(conn, token, lock=True)  # one start at a time per link
    if not lk:
        raise Refused(404, "no_link", "This link is not known here.")
    participant = lk["participant"] or participant
    upload_token = security.new_token()
    if attempt:
        again = conn.execute(
            "SELECT r.id, r.public_id, r.number, EXISTS (SELECT 1 FROM files f"
            " WHERE f.run_id = r.id) AS uploaded FROM runs r"
            " WHERE r.link_id = %s AND r.participant = %s AND r.attempt = %s",
            [lk["id"], participant, attempt]).fetchone()
        if again and not again["uploaded"]:
            conn.execute("UPDATE runs SET upload_token_sha256 = %s WHERE id = %s",
                         [security.digest(upload_token), again["id"]])
            return runanswer(lk, participant, again["public_id"], again["number"],
                             upload_token), False
    # One start at a time per participant of the study, whichever link it comes by.
    conn.execute("SELECT pg_advisory_xact_lock(hashtextextended(%s, %s))",
                 [participant or "", lk["study_id"]])
    number = may_start(conn, lk, participant)
    public_id = security.new_run_id()
    conn.execute("INSERT INTO runs (public_id, study_id, link_id, participant, number,"
                 " upload_token_sha256, attempt) VALUES (%s, %s, %s, %s, %s, %s, %s)",
                 [public_id, lk["study_id"], lk["id"], participant, number,
                  security.digest(upload_token), attempt])
    return runanswer(lk, participant, public_id, number, upload_token), True


def runanswer(lk, participant, public_id, number, upload_token):
    return {"run": public_id, "upload_token": upload_token,
            "files_url": f"/api/runs/{public_id}/files/",
            "finish_url": f"/api/runs/{public_id}/finish",
            "participant": participant, "session": lk["study"], "study": lk["study"],
            "run_number": number, "title": lk["title"], "completion_url": lk["completion_url"]}


CLOSED = ("(r.finished_at IS NOT NULL OR"
          " greatest(r.started_at, r.last_upload_at) < now() - make_interval(secs => %s))")


def upload_run(conn, public_id, token, idle_seconds):
    """The run this upload token belongs to, with whether it is closed; None when the token is
    not this run's."""
    row = conn.execute(
        f"SELECT r.id, r.upload_token_sha256, r.finished_at, {CLOSED} AS closed, s.completion_url"
        " FROM runs r JOIN studies s ON s.id = r.study_id WHERE r.public_id = %s",
        [idle_seconds, public_id]).fetchone()
    if not row or not token or not hmac.compare_digest(row["upload_token_sha256"],
                                                        security.digest(token)):
        return None
    return row


def refuse(conn, run_id, name, refused, size=None):
    conn.execute("INSERT INTO refusals (run_id, name, status, reason, size)"
                 " VALUES (%s, %s, %s, %s, %s)",
                 [run_id, name[:200], refused.status, refused.message, size])


def check_name(name):
    if name not in RESULT_FILES:
        raise Refused(400, "bad_name", f"{name[:200]!r} is not a results file a run writes "
                      "(results<N>.txt, results_coord<N>.txt, results_events<N>.tsv, "
                      "results_events<N>.json, N from 0 to 9)")


def upload(conn, public_id, token, idle_seconds, name, body, save):
    """Stores one upload of a run, its name one of the list: the token checked, the run locked
    and the file's stored state read in one query, the file and the run's last upload written
    in another. Returns the answer, or None when the token is not the run's; raises Refused
    (with the run's id in `run_id`) for an upload the rules refuse."""
    row = conn.execute(
        f"SELECT r.id, r.upload_token_sha256, {CLOSED} AS closed,"
        " f.size, f.sha256, f.save FROM runs r"
        " LEFT JOIN files f ON f.run_id = r.id AND f.name = %s"
        " WHERE r.public_id = %s FOR NO KEY UPDATE OF r",
        [idle_seconds, name, public_id]).fetchone()
    if not row or not token or not hmac.compare_digest(row["upload_token_sha256"],
                                                        security.digest(token)):
        return None
    try:
        return store_file(conn, row, name, body, save)
    except Refused as e:
        e.run_id = row["id"]
        raise


def store_file(conn, run, name, body, save):
    """The rules of one upload: `run` holds the run's id and whether it is closed, and the
    stored file's size, sha256 and save (size None when there is none)."""
    body_sha = hashlib.sha256(body).digest()
    stored = run if run["size"] is not None else None
    sidecar = SIDECAR.fullmatch(name)
    answer = {"name": name, "size": len(body), "sha256": body_sha.hex()}

    def acknowledged(kind, row):
        return {**answer, "stored": kind, "stored_size": row["size"],
                "stored_sha256": row["sha256"].hex()}

    if stored and stored["size"] == len(body) and stored["sha256"] == body_sha:
        return acknowledged("same", stored)
    if sidecar:
        if save is None:
            raise Refused(400, "no_save", f"{name} is rewritten by the program: its uploads say "
                          "which save they come from (save=N, counting up)")
        if stored and stored["save"] is not None and save < stored["save"]:
            return acknowledged("older", stored)  # a newer save of it is stored already
        if run["closed"]:
            raise Refused(409, "run_closed", f"the run is closed: {name} cannot be replaced "
                          "any more")
        if stored and save == stored["save"]:
            raise Refused(409, "save_conflict", f"save {save} of {name} is stored with other "
                          "content")
        kind = "replaced" if stored else "new"
    else:
        if stored and len(body) < stored["size"]:
            same = conn.execute("SELECT sha256(substring(content FROM 1 FOR %s)) = %s AS same"
                                " FROM files WHERE run_id = %s AND name = %s",
                                [len(body), body_sha, run["id"], name]).fetchone()["same"]
            if same:
                return acknowledged("older", stored)  # an earlier state, already stored
        if stored and (len(body) < stored["size"] or
                       hashlib.sha256(body[:stored["size"]]).digest() != stored["sha256"]):
            raise Refused(409, "not_append", f"{name} may only grow: the new content must begin "
                          f"with the {stored['size']} bytes stored, and it does not")
        if run["closed"]:
            raise Refused(409, "run_closed", f"the run is closed: {name} cannot change any more")
        kind = "appended" if stored else "new"
    conn.execute("WITH written AS (INSERT INTO files (run_id, name, content, size, sha256, save)"
                 " VALUES (%s, %s, %b, %s, %s, %s) ON CONFLICT (run_id, name) DO UPDATE SET"
                 " content = EXCLUDED.content, size = EXCLUDED.size, sha256 = EXCLUDED.sha256,"
                 " save = EXCLUDED.save, uploaded_at = now() RETURNING run_id)"
                 " UPDATE runs SET last_upload_at = now() WHERE id = (SELECT run_id FROM written)",
                 [run["id"], name, body, len(body), body_sha, save])
    return {**answer, "stored": kind, "stored_size": len(body), "stored_sha256": answer["sha256"]}


def stored_files(conn, run_id):
    return {row["name"]: {"size": row["size"], "sha256": row["sha256"].hex(), "save": row["save"]}
            for row in conn.execute("SELECT name, size, sha256, save FROM files"
                                    " WHERE run_id = %s ORDER BY name", [run_id])}


def finish_run(conn, run):
    conn.execute("UPDATE runs SET finished_at = coalesce(finished_at, now()) WHERE id = %s",
                 [run["id"]])
    return {"finished": True, "completion_url": run["completion_url"],
            "files": stored_files(conn, run["id"])}


# ---- what the experimenter reads ----


def runs(conn, study_id, idle_seconds):
    """The study's runs, oldest first, with their files' sizes and digests and their refusals."""
    rows = conn.execute(
        f"SELECT r.id, r.public_id, r.participant, r.number, r.started_at, r.last_upload_at,"
        f" r.finished_at, {CLOSED} AS closed, r.checked_digest, r.check_result,"
        " (SELECT count(*) FROM refusals x WHERE x.run_id = r.id) AS refusals"
        " FROM runs r WHERE r.study_id = %s ORDER BY r.started_at, r.id",
        [idle_seconds, study_id]).fetchall()
    files = {}
    for row in conn.execute("SELECT f.run_id, f.name, f.size, f.sha256 FROM files f"
                            " JOIN runs r ON r.id = f.run_id WHERE r.study_id = %s"
                            " ORDER BY f.name", [study_id]):
        files.setdefault(row["run_id"], {})[row["name"]] = {"size": row["size"],
                                                            "sha256": row["sha256"].hex()}
    for row in rows:
        row["files"] = files.get(row["id"], {})
        row["state"] = ("finished" if row["finished_at"] else
                        "abandoned" if row["closed"] else "open")
    return rows


def refusals(conn, study_id, limit=100):
    return conn.execute(
        "SELECT x.at, r.public_id AS run, r.participant, x.name, x.status, x.reason, x.size"
        " FROM refusals x JOIN runs r ON r.id = x.run_id WHERE r.study_id = %s"
        " ORDER BY x.at DESC, x.id DESC LIMIT %s", [study_id, limit]).fetchall()


def file_contents(conn, run_id):
    return {row["name"]: row["content"] for row in
            conn.execute("SELECT name, content FROM files WHERE run_id = %s ORDER BY name",
                         [run_id], binary=True)}


def save_check(conn, run_id, digest, result):
    conn.execute("UPDATE runs SET checked_digest = %s, check_result = %s WHERE id = %s",
                 [digest, psycopg.types.json.Jsonb(result), run_id])
