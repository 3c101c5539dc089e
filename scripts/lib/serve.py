"""serve: the browser experiment's page folder on 127.0.0.1, as any static web server would
serve it: WebAssembly as application/wasm (browsers compile it while it downloads only then),
scripts as JavaScript, nothing cached, no listing of folders.

  serve.py FOLDER [--port N]

Port N (default 8000) when it is free, else one the system chooses; prints the address and
serves until Ctrl-C.
"""

import argparse
import functools
import http.server
import os
import sys

TYPES = {".wasm": "application/wasm", ".js": "text/javascript", ".mjs": "text/javascript",
         ".html": "text/html; charset=utf-8", ".css": "text/css", ".json": "application/json",
         ".txt": "text/plain"}


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, **TYPES}

    def end_headers(self):
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def list_directory(self, path):
        self.send_error(404, "No such file")
        return None

    def log_message(self, format, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A browser that drops a connection (a tab closed, a download cut short) is no error.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def server(folder, port):
    """A threading HTTP server for `folder` on 127.0.0.1: at `port` when it is free, else at
    one the system chooses."""
    handler = functools.partial(Handler, directory=folder)
    try:
        return Server(("127.0.0.1", port), handler)
    except OSError:
        return Server(("127.0.0.1", 0), handler)


def main():
    parser = argparse.ArgumentParser(description="Serve the experiment's page on 127.0.0.1.")
    parser.add_argument("folder")
    parser.add_argument("--port", type=int, default=8000)
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.folder, "index.html")):
        print(f"serve: no index.html in {args.folder}", file=sys.stderr)
        return 1
    httpd = server(args.folder, args.port)
    address = f"http://127.0.0.1:{httpd.server_address[1]}/"
    print(f"The experiment's page runs at {address} (Ctrl-C stops it).\n"
          f"Runs kept in the browser: {address}recover.html", flush=True)
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        httpd.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
