"""db: the connection pool of one server process, transactions that survive a lost
connection, and the schema's numbered migrations.

Everything that matters lives in the database: a server process keeps nothing between
requests but its pool, so any number of processes on any number of hosts may share one
database. Migrations run under an advisory lock, so processes that start together apply each
one exactly once.
"""

import importlib.resources
import re

import psycopg
import psycopg_pool
from psycopg.rows import dict_row

MIGRATION_LOCK = 0x5350_4D45_4D00_0001  # pg_advisory_lock key: "SPMEM" and the lock's number
MIGRATION_NAME = re.compile(r"(\d{4})_[a-z0-9_]+\.sql")
POOL_TIMEOUT = 2.0  # seconds a request waits for one of the pool's connections
CONNECT_TIMEOUT = 3  # seconds a request's own connection may take to open
CONNECTION = {"autocommit": True, "row_factory": dict_row}


class Unavailable(Exception):
    """The database cannot be reached just now: the request may be tried again."""


def migrations():
    """(version, file name, SQL) of every migration in the package, by version."""
    found = []
    for entry in importlib.resources.files(__package__).joinpath("migrations").iterdir():
        m = MIGRATION_NAME.fullmatch(entry.name)
        if m:
            found.append((int(m.group(1)), entry.name, entry.read_text(encoding="utf-8")))
    found.sort()
    versions = [v for v, _, _ in found]
    assert versions == list(range(1, len(found) + 1)), \
        f"migrations must be numbered 0001, 0002, ... without gaps; found {versions}"
    return found


def latest_version():
    return len(migrations())


def migrate(conninfo, log=None):
    """Applies the migrations the database lacks, each in a transaction of its own with its
    record in schema_migrations. Returns the versions applied."""
    applied_now = []
    with psycopg.connect(conninfo, autocommit=True) as conn:
        conn.execute("SELECT pg_advisory_lock(%s)", [MIGRATION_LOCK])
        try:
            conn.execute("CREATE TABLE IF NOT EXISTS schema_migrations ("
                         " version integer PRIMARY KEY, name text NOT NULL,"
                         " applied_at timestamptz NOT NULL DEFAULT now())")
            applied = {v for (v,) in conn.execute("SELECT version FROM schema_migrations")}
            for version, name, sql in migrations():
                if version in applied:
                    continue
                with conn.transaction():
                    conn.execute(sql)
                    conn.execute("INSERT INTO schema_migrations (version, name) VALUES (%s, %s)",
                                 [version, name])
                applied_now.append(version)
                if log:
                    log(f"applied migration {name}")
        finally:
            conn.execute("SELECT pg_advisory_unlock(%s)", [MIGRATION_LOCK])
    return applied_now


def schema_version(conn):
    try:
        with conn.transaction():
            return conn.execute("SELECT max(version) AS v FROM schema_migrations").fetchone()["v"]
    except psycopg.errors.UndefinedTable:
        return None


class Database:
    """One process's pool. `run(work)` calls work(conn) inside a transaction and returns its
    result. Everything the server does in one transaction may be repeated, so a connection lost
    on the way (the database restarted, a network cut) is dropped and the work done again on
    another. When the pool has no connection to give (it reconnects with growing pauses after
    an outage), a connection of the request's own is tried, so that service resumes as soon as
    the database is back. What still fails raises Unavailable."""

    def __init__(self, conninfo, size):
        self.conninfo = conninfo
        self.pool = psycopg_pool.ConnectionPool(
            conninfo, min_size=1, max_size=size, timeout=POOL_TIMEOUT, name="spatialmemory",
            kwargs=CONNECTION, open=True)

    def close(self):
        self.pool.close()

    def run(self, work, attempts=3):
        for attempt in range(1, attempts + 1):
            try:
                try:
                    with self.pool.connection() as conn:
                        with conn.transaction():
                            return work(conn)
                except psycopg_pool.PoolTimeout:
                    with psycopg.connect(self.conninfo, connect_timeout=CONNECT_TIMEOUT,
                                         **CONNECTION) as conn:
                        with conn.transaction():
                            return work(conn)
            except psycopg.OperationalError as e:
                if attempt == attempts:
                    raise Unavailable(str(e).strip() or type(e).__name__) from None
                # Broken connections in the pool go, and new ones are made at once.
                self.pool.check()
