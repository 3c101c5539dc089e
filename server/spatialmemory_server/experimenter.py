"""experimenter: the experimenter's side. The HTTP API under /api/studies (an
"Authorization: Bearer TOKEN" header with the experimenter's token; what spatialmemory-server's
command line uses) and one plain page at /experimenter/ listing the studies and their runs
(HTTP Basic authentication, the token as the password, any user name). Each experimenter sees
their own studies only; another's study is answered as one that does not exist.
"""

import base64
import binascii
import datetime
import functools

from flask import Blueprint, Response, g, jsonify, render_template, request, send_file

from . import archive, db as dbmodule, security, store
from .store import Refused
from .web import config, db, error, json_body, public_url, refused_json

bp = Blueprint("experimenter", __name__)
REALM = 'Basic realm="spatialmemory: your experimenter token as the password", charset="UTF-8"'


def link_url(row):
    """The address of a link row (single-use: the link; general: with its parameter)."""
    if row.get("param"):
        return public_url(f"/g/{row['token']}/") + f"?{row['param']}="
    return public_url(f"/s/{row['token']}/")


def api(view):
    """An API view: the experimenter from the bearer token in g.owner; refusals as JSON."""
    @functools.wraps(view)
    def wrapped(*args, **kwargs):
        who = db().run(lambda conn: store.experimenter(conn, security.bearer(request.headers)))
        if not who:
            response = error(401, "bad_token", "an experimenter's token is needed "
                             "(Authorization: Bearer TOKEN)")
            response.headers["WWW-Authenticate"] = 'Bearer realm="spatialmemory"'
            return response
        g.owner, g.owner_name = who
        try:
            return view(*args, **kwargs)
        except Refused as e:
            return refused_json(e)
    return wrapped


def browser(view):
    """A page for the experimenter's browser: the token as the Basic password."""
    @functools.wraps(view)
    def wrapped(*args, **kwargs):
        token = security.basic_password(request.authorization)
        who = db().run(lambda conn: store.experimenter(conn, token)) if token else None
        if not who:
            return Response("Your experimenter token is the password (any user name).\n", 401,
                            {"WWW-Authenticate": REALM}, mimetype="text/plain")
        g.owner, g.owner_name = who
        try:
            return view(*args, **kwargs)
        except Refused as e:
            return Response(e.message + "\n", e.status, mimetype="text/plain")
    return wrapped


@bp.route("/api/health")
def health():
    """For load balancers: the database answers and has this server's schema."""
    try:
        version = db().run(dbmodule.schema_version)
    except dbmodule.Unavailable as e:
        return error(503, "database", f"the database cannot be reached: {e}")
    if version != dbmodule.latest_version():
        return error(503, "schema", f"the database's schema is at version {version}; this "
                     f"server needs {dbmodule.latest_version()}: run spatialmemory-server migrate")
    return jsonify({"ok": True, "schema": version})


@bp.route("/api/studies", methods=["GET"])
@api
def list_studies():
    rows = db().run(lambda conn: store.studies(conn, g.owner))
    return jsonify({"studies": [{**r, "created_at": r["created_at"].isoformat()} for r in rows]})


@bp.route("/api/studies", methods=["POST"])
@api
def create_study():
    data = json_body()
    if "settings_base64" in data:
        try:
            settings = base64.b64decode(data["settings_base64"], validate=True)
        except (binascii.Error, TypeError, ValueError):
            raise Refused(400, "bad_settings", "settings_base64 is not base64") from None
    elif isinstance(data.get("settings"), str):
        settings = data["settings"].encode("utf-8")
    else:
        raise Refused(400, "bad_settings", "the study's settings file is needed: settings "
                      "(text) or settings_base64 (its bytes)")
    answer = db().run(lambda conn: store.create_study(
        conn, g.owner, data.get("name"), settings, data.get("title"),
        data.get("instructions", ""), data.get("completion_url"),
        data.get("runs_per_participant", 1)))
    return jsonify(answer), 201


@bp.route("/api/studies/<name>", methods=["GET"])
@api
def study_status(name):
    return jsonify(archive.status(db(), g.owner, name, config("RUN_IDLE_SECONDS"), link_url))


@bp.route("/api/studies/<name>/links", methods=["GET"])
@api
def list_links(name):
    single, general = db().run(lambda conn: store.links(conn, g.owner, name))
    return jsonify({"single": [{"participant": s["participant"], "url": link_url(s),
                                "used": s["used"]} for s in single],
                    "general": {"url": link_url(general), "param": general["param"]}
                    if general else None})


@bp.route("/api/studies/<name>/links", methods=["POST"])
@api
def make_links(name):
    data = json_body()
    if data.get("general"):
        token, param = db().run(lambda conn: store.general_link(conn, g.owner, name,
                                                                data.get("param")))
        return jsonify({"general": {"url": link_url({"token": token, "param": param}),
                                    "param": param}}), 201
    made = db().run(lambda conn: store.make_links(conn, g.owner, name, data.get("count")))
    return jsonify({"single": [{"participant": p, "url": link_url({"token": t}), "used": False}
                               for p, t in made]}), 201


def zip_answer(name):
    out = archive.write_zip(db(), g.owner, name, config("RUN_IDLE_SECONDS"), link_url)
    return send_file(out, mimetype="application/zip", as_attachment=True,
                     download_name=f"{name}.zip", max_age=0)


@bp.route("/api/studies/<name>/download", methods=["GET"])
@api
def download(name):
    return zip_answer(name)


# ---- the experimenter's page ----


@bp.app_template_filter("when")
def when(iso):
    """An ISO time from the status as the page shows it: to the second, in UTC."""
    if not iso:
        return ""
    moment = datetime.datetime.fromisoformat(iso).astimezone(datetime.timezone.utc)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


@bp.route("/experimenter/")
@browser
def overview():
    studies = db().run(lambda conn: store.studies(conn, g.owner))
    shown = [archive.status(db(), g.owner, s["name"], config("RUN_IDLE_SECONDS"), link_url)
             for s in studies]
    return render_template("studies.html", experimenter=g.owner_name, studies=shown)


@bp.route("/experimenter/<name>.zip")
@browser
def page_download(name):
    return zip_answer(name)
