"""participant: the participant's side. A link serves the browser experiment and the study's
settings, title and instructions beside it; the page starts its run there and then uploads the
run's files, with the upload token the start gave it, to /api/runs/<run>/.

A link is a folder of its own, so that the page finds everything by relative addresses:

    /s/<token>/                     a single-use link
    /g/<token>/?<param>=<id>        the general link: sends on to /g/<token>/<id>/

    <link>/                         the page (index.html of the browser experiment)
    <link>/study.json               the study's title, instructions, participant, ...
    <link>/settings.txt             the study's settings file, byte for byte
    <link>/start                    POST: starts the run, answers with its upload token
    <link>/<file>                   the page's other files (scripts, WebAssembly, styles)

Opening a link starts nothing (link previews and scanners open links too); the run starts when
the page posts to `start`. A link that cannot start a run (used already, the participant's runs
used up) answers with a plain page that says so.
"""

import json
import mimetypes
import os

from flask import Blueprint, current_app, jsonify, redirect, request, send_from_directory

from . import security, store
from .store import Refused
from .web import body, config, db, error, page, refused_json

bp = Blueprint("participant", __name__)
mimetypes.add_type("application/wasm", ".wasm")  # compiled while it downloads only with this


def place(token, participant):
    """The link and the participant a request is about; Refused when there is no such link."""
    lk = db().run(lambda conn: store.link(conn, token))
    if not lk or (lk["general"] and not store.PARTICIPANT.fullmatch(participant or "")) or \
            (not lk["general"] and participant is not None):
        raise Refused(404, "no_link", "This link is not known here. Please check that you "
                      "copied all of it.")
    return lk, participant if lk["general"] else lk["participant"]


def startable(token, participant):
    """The link, when it may start a run for the participant now; else Refused."""
    lk, participant = place(token, participant)
    db().run(lambda conn: store.may_start(conn, lk, participant))
    return lk, participant


def asset_folder(name):
    """The first of the page's folders that holds the file, or None."""
    for folder in config("WEB_FOLDERS"):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            return folder
    return None


RESUME = "resume.js"  # the page's script that sends what an earlier tab left unsent


def link_page(refused):
    """The plain page of a link that cannot start a run. With the page's resume script, which
    sends on whatever an earlier tab of this browser left unacknowledged in its store (a tab
    that crashed, then the link opened again)."""
    resume = refused.status in (403, 410) and asset_folder(RESUME) is not None
    text, status = page(refused.status, "Cannot start", refused.message, resume=resume)
    response = current_app.make_response((text, status))
    return security.harden(response, page=resume)


def page_answer(token, participant):
    try:
        startable(token, participant)
    except Refused as e:
        return link_page(e)
    folder = asset_folder("index.html")
    if not folder:
        current_app.logger.error("no index.html in the page's folders %s (SPATIALMEMORY_WEB)",
                                 config("WEB_FOLDERS"))
        return page(503, "Not ready", "The experiment is not installed on this server yet. "
                    "Please try again later or tell the researcher.")
    response = send_from_directory(folder, "index.html", max_age=0)
    response.headers["Cache-Control"] = "no-store"
    return security.harden(response, page=True)


def study_answer(token, participant):
    try:
        lk, participant = startable(token, participant)
    except Refused as e:
        return refused_json(e)
    return jsonify({"study": lk["study"], "title": lk["title"],
                    "instructions": lk["instructions"], "completion_url": lk["completion_url"],
                    "participant": participant, "session": lk["study"],
                    "runs_per_participant": lk["runs_per_participant"],
                    "settings_sha256": lk["settings_sha256"],
                    "max_file_bytes": config("MAX_FILE_BYTES")})


def settings_answer(token, participant):
    try:
        lk, _ = startable(token, participant)
    except Refused as e:
        return refused_json(e)
    settings = db().run(lambda conn: store.settings(conn, lk["study_id"]))
    # No charset: the file is the experimenter's bytes, whatever their encoding.
    return current_app.response_class(settings, content_type="text/plain")


def start_answer(token, participant):
    try:
        place(token, participant)
        attempt = None
        data = body(4096, "the start request").strip()
        if data:
            try:
                attempt = json.loads(data).get("attempt")
            except (ValueError, AttributeError):
                raise Refused(400, "bad_json", "the start request's body is a JSON object, "
                              "such as {\"attempt\": \"...\"}") from None
        answer, created = db().run(
            lambda conn: store.start_run(conn, token, participant, attempt))
    except Refused as e:
        return refused_json(e)
    answer["max_file_bytes"] = config("MAX_FILE_BYTES")
    current_app.logger.info("run %s started: study %s, participant %s, run %d%s", answer["run"],
                            answer["study"], answer["participant"], answer["run_number"],
                            "" if created else " (the start repeated)")
    return jsonify(answer), 201 if created else 200


def asset_answer(token, participant, name):
    try:
        place(token, participant)
    except Refused as e:
        return page(e.status, "Not found", e.message)
    folder = asset_folder(name) if not name.startswith(".") and "/." not in name else None
    if not folder:
        return page(404, "Not found", "There is no such file here.")
    response = send_from_directory(folder, name, max_age=0)
    response.headers["Cache-Control"] = "no-cache"
    return security.harden(response, page=True)


# The two kinds of link share everything but how the participant is named.
for prefix, part in (("/s/<token>/", ""), ("/g/<token>/<participant>/", "g_")):
    def bind(view, part=part):
        def bound(token, participant=None, **kw):
            return view(token, participant, **kw)
        bound.__name__ = f"{part}{view.__name__}"
        return bound

    bp.add_url_rule(prefix, view_func=bind(page_answer))
    bp.add_url_rule(prefix + "study.json", view_func=bind(study_answer))
    bp.add_url_rule(prefix + "settings.txt", view_func=bind(settings_answer))
    bp.add_url_rule(prefix + "start", view_func=bind(start_answer), methods=["POST"])
    bp.add_url_rule(prefix + "<path:name>", view_func=bind(asset_answer))


@bp.route("/g/<token>/")
def general(token):
    """The general link as recruiting platforms send participants to it: the id in the URL
    parameter the study chose. Sent on to the participant's own folder of the link."""
    lk = db().run(lambda conn: store.link(conn, token))
    if not lk or not lk["general"]:
        return page(404, "Not found", "This link is not known here. Please check that you "
                    "copied all of it.")
    participant = request.args.get(lk["param"], "").strip()
    try:
        db().run(lambda conn: store.may_start(conn, lk, participant))
    except Refused as e:
        return page(e.status, "Cannot start", e.message)
    return redirect(f"/g/{token}/{participant}/", code=303)


# ---- uploads ----


def upload_run(public_id):
    token = security.bearer(request.headers)
    run = db().run(lambda conn: store.upload_run(conn, public_id, token,
                                                 config("RUN_IDLE_SECONDS")))
    if not run:
        current_app.logger.warning("refused %s %s: no valid upload token for run %r",
                                   request.method, request.path, public_id)
        raise Refused(401, "bad_token", "this upload token is not the run's")
    return run


def log_refusal(public_id, name, refused, size=None):
    current_app.logger.warning("refused %s of %r for run %s: %d %s", request.method,
                               name[:200], public_id, refused.status, refused.message)

    def record(conn):
        run = store.upload_run(conn, public_id, security.bearer(request.headers),
                               config("RUN_IDLE_SECONDS"))
        if run:
            store.refuse(conn, run["id"], name, refused, size)
    db().run(record)


@bp.route("/api/runs/<public_id>/files/<path:name>", methods=["PUT"])
def upload(public_id, name):
    """A run's file, whole. `save=N` names the page's save it comes from (required for the
    event log's sidecar, which only a later save may replace)."""
    token = security.bearer(request.headers)
    if not token:
        return refused_json(Refused(401, "bad_token", "an upload token is needed "
                                    "(Authorization: Bearer TOKEN)"))
    try:
        store.check_name(name)
        save = request.args.get("save")
        if save is not None:
            if not save.isdigit() or not 1 <= int(save) <= 10**9:
                raise Refused(400, "bad_save", f"save={save[:20]!r}: a whole number from 1")
            save = int(save)
        content = body(config("MAX_FILE_BYTES"), name)
    except Refused as e:
        log_refusal(public_id, name, e, request.content_length)
        return refused_json(e)

    def work(conn):
        try:
            return store.upload(conn, public_id, token, config("RUN_IDLE_SECONDS"), name,
                                content, save)
        except Refused as e:
            # Recorded in the same transaction, which has changed nothing else.
            store.refuse(conn, e.run_id, name, e, len(content))
            return e

    answer = db().run(work)
    if answer is None:
        current_app.logger.warning("refused PUT %s: not the upload token of run %r",
                                   request.path, public_id)
        return refused_json(Refused(401, "bad_token", "this upload token is not the run's"))
    if isinstance(answer, Refused):
        current_app.logger.warning("refused PUT of %r for run %s: %d %s", name, public_id,
                                   answer.status, answer.message)
        return refused_json(answer)
    return jsonify(answer)


@bp.route("/api/runs/<public_id>", methods=["GET"])
def run_state(public_id):
    """What is stored of the run: the page compares it with what it wrote."""
    try:
        run = upload_run(public_id)
    except Refused as e:
        return refused_json(e)
    files = db().run(lambda conn: store.stored_files(conn, run["id"]))
    return jsonify({"run": public_id, "closed": run["closed"],
                    "finished": run["finished_at"] is not None, "files": files})


@bp.route("/api/runs/<public_id>/finish", methods=["POST"])
def finish(public_id):
    """The page has every file acknowledged: the run is closed, nothing of it changes any
    more."""
    try:
        run = upload_run(public_id)
    except Refused as e:
        return refused_json(e)
    answer = db().run(lambda conn: store.finish_run(conn, run))
    current_app.logger.info("run %s finished", public_id)
    return jsonify(answer)


@bp.errorhandler(405)
def not_allowed(e):
    return error(405, "method", f"{request.method} is not how {request.path} is used")
