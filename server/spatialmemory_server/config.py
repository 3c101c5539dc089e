"""config: the server's settings, read from the environment, so that every process of a
deployment (on one host or several) is set up the same way by the same variables.

    DATABASE_URL                    the PostgreSQL database (a URL or libpq "key=value" string)
    SPATIALMEMORY_WEB               the browser experiment's folders, ':'-separated, searched in
                                    order for each file of the page
    SPATIALMEMORY_PUBLIC_URL        the address participants reach the server at, for the links
                                    it prints (default: the address of the request)
    SPATIALMEMORY_MAX_FILE_BYTES    the largest results file a run may upload (default 16 MiB)
    SPATIALMEMORY_RUN_IDLE_HOURS    a run that sent nothing for this long is closed (default 24)
    SPATIALMEMORY_POOL_SIZE         database connections per server process (default 8)
    SPATIALMEMORY_PROXIES           reverse proxies in front whose X-Forwarded-* headers are
                                    trusted (default 0)
"""

import os

DEFAULT_MAX_FILE_BYTES = 16 * 1024 * 1024
DEFAULT_RUN_IDLE_HOURS = 24.0
DEFAULT_POOL_SIZE = 8


class ConfigError(Exception):
    """A variable that is missing or does not read as its kind; names the variable."""


def number(environ, name, default, kind, low):
    text = environ.get(name, "").strip()
    if not text:
        return default
    try:
        value = kind(text)
    except ValueError:
        raise ConfigError(f"{name}={text!r} is not a number") from None
    if value < low:
        raise ConfigError(f"{name}={text!r}: at least {low}")
    return value


def from_environment(environ=None):
    """The Flask configuration keys the server reads, from the environment given (default
    os.environ)."""
    environ = os.environ if environ is None else environ
    url = environ.get("DATABASE_URL", "").strip()
    if not url:
        raise ConfigError("DATABASE_URL is not set: it names the PostgreSQL database "
                          "(scripts/run-server sets it for a cluster of its own)")
    public = environ.get("SPATIALMEMORY_PUBLIC_URL", "").strip().rstrip("/")
    if public and not public.startswith(("http://", "https://")):
        raise ConfigError(f"SPATIALMEMORY_PUBLIC_URL={public!r} is not an http(s) address")
    return {
        "DATABASE_URL": url,
        "WEB_FOLDERS": [f for f in environ.get("SPATIALMEMORY_WEB", "").split(":") if f],
        "PUBLIC_URL": public or None,
        "MAX_FILE_BYTES": number(environ, "SPATIALMEMORY_MAX_FILE_BYTES",
                                 DEFAULT_MAX_FILE_BYTES, int, 1024),
        "RUN_IDLE_SECONDS": 3600 * number(environ, "SPATIALMEMORY_RUN_IDLE_HOURS",
                                          DEFAULT_RUN_IDLE_HOURS, float, 0.001),
        "POOL_SIZE": number(environ, "SPATIALMEMORY_POOL_SIZE", DEFAULT_POOL_SIZE, int, 1),
        "PROXIES": number(environ, "SPATIALMEMORY_PROXIES", 0, int, 0),
    }
