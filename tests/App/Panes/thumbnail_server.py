"""A loopback HTTP server for thumbnail fetches.

    thumbnail_server.py FOLDER LOG

Prints its port on the first line of stdout. GET /f/NAME answers the bytes of
FOLDER/NAME (404 when absent); the query may ask for `status=N` (that status,
with the file as body) and `delay=S` (seconds of silence first). Each request
is logged to LOG as one JSON line {"path", "headers"} when it arrives, and
{"done": path} once its answer was written whole.
"""
import json
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FOLDER, LOG = sys.argv[1], sys.argv[2]
lock = threading.Lock()


def log(entry):
    with lock, open(LOG, "a") as f:
        f.write(json.dumps(entry) + "\n")


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        log({"path": self.path, "headers": {k: v for k, v in self.headers.items()}})
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        time.sleep(float(query.get("delay", "0")))
        name = os.path.basename(urllib.parse.unquote(url.path))
        path = os.path.join(FOLDER, name)
        body = open(path, "rb").read() if os.path.isfile(path) else b"not found"
        status = int(query.get("status", "200" if os.path.isfile(path) else "404"))
        try:
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            log({"done": self.path})
        except OSError:
            pass


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
