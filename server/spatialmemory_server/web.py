"""web: what the blueprints share: the process's database, answers in JSON or as a plain
page, request bodies read within a limit, and the address links are printed with."""

import json

from flask import current_app, jsonify, render_template, request

from .store import Refused

MAX_JSON_BYTES = 1024 * 1024  # a request's JSON (a study's settings and instructions in it)


def db():
    return current_app.extensions["spatialmemory_db"]


def config(key):
    return current_app.config[key]


def error(status, code, message, **extra):
    response = jsonify({"error": code, "message": message, **extra})
    response.status_code = status
    return response


def refused_json(refused):
    return error(refused.status, refused.code, refused.message)


def page(status, title, message, **values):
    """A plain page for a person: a heading and a sentence or two."""
    return render_template("message.html", title=title, message=message, **values), status


def body(limit, what):
    """The request's body, at most `limit` bytes; a larger one is refused with 413 before it
    is read when its length is declared, else as soon as it passes the limit."""
    declared = request.content_length
    if declared is not None and declared > limit:
        raise Refused(413, "too_large", f"{what} has {declared} bytes; this server takes at "
                      f"most {limit} bytes")
    data = request.stream.read(limit + 1)
    if len(data) > limit:
        raise Refused(413, "too_large", f"{what} has more than {limit} bytes; this server takes "
                      f"at most {limit} bytes")
    return data


def json_body():
    """The request's JSON object ({} for an empty body)."""
    data = body(MAX_JSON_BYTES, "the request")
    if not data.strip():
        return {}
    try:
        value = json.loads(data)
    except (ValueError, UnicodeDecodeError) as e:
        raise Refused(400, "bad_json", f"the request's body is not JSON: {e}") from None
    if not isinstance(value, dict):
        raise Refused(400, "bad_json", "the request's body is one JSON object")
    return value


def public_url(path):
    """An absolute address of this server for links given out."""
    base = config("PUBLIC_URL") or request.host_url.rstrip("/")
    return base + path
