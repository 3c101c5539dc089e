"""security: the server's secrets and the headers every answer carries.

Tokens come from `secrets`: experimenters' and uploads' 256 bits, links' 144 bits (a link only
starts a run; the upload token it gives is what writes). Experimenters' and uploads' tokens are
stored as SHA-256 digests: a token of that much entropy needs no slow hash, and a copy of the
database grants nothing.
"""

import hashlib
import re
import secrets

TOKEN_BYTES = 32  # experimenters' and uploads' tokens: 256 bits
LINK_BYTES = 18  # links: 144 bits, 24 characters in a URL
RUN_ID_BYTES = 9  # runs' public names: not secret, just not a count of the study's runs
TOKEN_SHAPE = re.compile(r"[A-Za-z0-9_-]{16,100}")  # what a token of ours can look like

# The participant's page: its own scripts only (and its WebAssembly compiled), requests to this
# server only, no plug-ins, not framed by other sites.
PAGE_POLICY = ("default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; "
               "img-src 'self' data: blob:; style-src 'self'; object-src 'none'; "
               "base-uri 'self'; form-action 'self'; frame-ancestors 'none'")
# Everything else the server answers: nothing runs, styles from the server's own sheet.
PLAIN_POLICY = ("default-src 'none'; style-src 'self'; img-src 'self'; base-uri 'none'; "
                "form-action 'self'; frame-ancestors 'none'")


def new_token():
    return secrets.token_urlsafe(TOKEN_BYTES)


def new_link_token():
    return secrets.token_urlsafe(LINK_BYTES)


def new_run_id():
    return secrets.token_urlsafe(RUN_ID_BYTES)


def digest(token):
    """The stored form of a token."""
    return hashlib.sha256(token.encode("ascii")).digest()


def bearer(headers):
    """The token of an "Authorization: Bearer TOKEN" header, or None when there is none or it
    cannot be one of ours."""
    value = headers.get("Authorization", "")
    scheme, _, token = value.partition(" ")
    token = token.strip()
    if scheme.lower() != "bearer" or not TOKEN_SHAPE.fullmatch(token):
        return None
    return token


def basic_password(authorization):
    """The password of HTTP Basic credentials (werkzeug's parsed Authorization), which the
    experimenter's page takes as the token; None without one of the right shape."""
    if authorization is None or authorization.type != "basic":
        return None
    token = (authorization.password or "").strip()
    return token if TOKEN_SHAPE.fullmatch(token) else None


def harden(response, page=False):
    """The headers every answer gets: its Content-Security-Policy, no sniffing, no referrer
    (links carry their token in the path), no caching of anything that is not the page's
    own files."""
    response.headers.setdefault("Content-Security-Policy", PAGE_POLICY if page else PLAIN_POLICY)
    response.headers["X-Content-Type-Options"] = "nosniff"
    response.headers["Referrer-Policy"] = "no-referrer"
    response.headers["X-Frame-Options"] = "DENY"
    response.headers.setdefault("Cache-Control", "no-store")
    return response
