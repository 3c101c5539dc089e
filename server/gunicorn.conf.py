# gunicorn's settings for the study server: threaded workers, each with its own pool of database
# connections (one per thread), and the schema's migrations applied once by the master before
# any worker starts. Any value here may be overridden on gunicorn's command line; the
# environment variables of spatialmemory_server/config.py configure the application itself.
import os
import sys

wsgi_app = "spatialmemory_server:create_app()"
worker_class = "gthread"
workers = int(os.environ.get("SPATIALMEMORY_WORKERS", "2"))
threads = int(os.environ.get("SPATIALMEMORY_THREADS", "8"))
os.environ.setdefault("SPATIALMEMORY_POOL_SIZE", str(threads))
timeout = 60  # a worker silent this long is killed and replaced
graceful_timeout = 10
keepalive = 30  # seconds an idle browser connection stays open between uploads
errorlog = "-"
loglevel = "info"


def on_starting(server):
    from spatialmemory_server import db
    url = os.environ.get("DATABASE_URL", "")
    if not url:
        sys.exit("DATABASE_URL is not set: it names the PostgreSQL database")
    db.migrate(url, log=server.log.info)
