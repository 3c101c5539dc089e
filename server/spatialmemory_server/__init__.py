"""spatialmemory_server: the online study server. Experimenters make studies from a settings
file and hand out links; participants' browsers run the experiment from a link and upload
every results file as it grows; experimenters download every run's files for
spatialmemory-report.

    create_app()        the Flask application, configured from the environment (config.py)

The parts: config.py (environment), db.py (pool, migrations), store.py (the rules, in SQL),
security.py (tokens, headers), participant.py and experimenter.py (the two sides' HTTP
blueprints), archive.py (status and zip), checks.py (runs read by the analysis package),
cli.py (the spatialmemory-server command).
"""

import logging
import os

from flask import Flask
from werkzeug.middleware.proxy_fix import ProxyFix

from . import config as configmodule
from . import security
from .db import Database, Unavailable
from .store import Refused
from .web import error


def create_app(overrides=None):
    """The application. `overrides` replaces configuration read from the environment (tests);
    the database pool opens in the background and is closed with close_app."""
    environ = dict(os.environ)
    if overrides and "DATABASE_URL" in overrides:
        environ["DATABASE_URL"] = overrides["DATABASE_URL"]
    settings = configmodule.from_environment(environ)
    settings.update(overrides or {})
    app = Flask(__name__)
    app.config.update(settings)
    app.config["MAX_CONTENT_LENGTH"] = None  # bodies are read within each route's own limit
    app.json.sort_keys = False
    app.extensions["spatialmemory_db"] = Database(app.config["DATABASE_URL"],
                                                  app.config["POOL_SIZE"])
    if app.config["PROXIES"]:
        n = app.config["PROXIES"]
        app.wsgi_app = ProxyFix(app.wsgi_app, x_for=n, x_proto=n, x_host=n, x_prefix=n)
    if not app.debug:
        app.logger.setLevel(logging.INFO)

    from . import experimenter, participant
    app.register_blueprint(participant.bp)
    app.register_blueprint(experimenter.bp)

    @app.errorhandler(Unavailable)
    def unavailable(e):
        app.logger.error("database unavailable: %s", e)
        response = error(503, "unavailable", "the database cannot be reached just now; "
                         "please try again shortly")
        response.headers["Retry-After"] = "5"
        return response

    @app.errorhandler(Refused)
    def refused(e):
        return error(e.status, e.code, e.message)

    @app.errorhandler(404)
    def not_found(e):
        return error(404, "not_found", "nothing here")

    @app.after_request
    def harden(response):
        return security.harden(response)

    return app


def close_app(app):
    app.extensions["spatialmemory_db"].close()
