"""An HTTP server for the download cache's cases: replies with chosen
caching headers, 304 answers to revalidations, and a count of the requests
each path received.

    cache_fake_server.py PORT

Routes (query parameters in brackets):
  /page[etag,cc,pragma,expires,body,status,location]
        a page with ETag etag and a fixed Last-Modified, the Cache-Control,
        Pragma, Expires and Location headers given, the given status; a request whose
        If-None-Match names etag gets 304 with no body
        (wait: seconds to wait before answering)
  /count[path]   how many requests /page?... with that path part received
  /log[path]     the methods of those requests, in order, comma-separated
"""
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LAST_MODIFIED = "Wed, 01 May 2013 10:20:30 GMT"
counts = {}
methods = {}
lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def send(self, code, body=b"", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if code != 304:
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if code != 304 and self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        if url.path == "/count":
            with lock:
                n = counts.get(q.get("path", ""), 0)
            self.send(200, str(n).encode())
            return
        if url.path == "/log":
            with lock:
                seen = ",".join(methods.get(q.get("path", ""), []))
            self.send(200, seen.encode())
            return
        with lock:
            counts[url.path] = counts.get(url.path, 0) + 1
            methods.setdefault(url.path, []).append(self.command)
        if "wait" in q:
            time.sleep(float(q["wait"]))
        etag = '"%s"' % q.get("etag", "v1")
        headers = [("ETag", etag), ("Last-Modified", LAST_MODIFIED)]
        for key, name in (("cc", "Cache-Control"), ("pragma", "Pragma"), ("expires", "Expires"),
                          ("location", "Location")):
            if key in q:
                headers.append((name, q[key]))
        if self.headers.get("If-None-Match") == etag:
            self.send(304, headers=headers)
            return
        self.send(int(q.get("status", "200")), q.get("body", "page " + url.path).encode(), headers)

    do_HEAD = do_GET


if __name__ == "__main__":
    server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.daemon_threads = True
    server.serve_forever()
