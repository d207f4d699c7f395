#!/usr/bin/env python3
"""A server that plays the hostile side for the tests of what leaves the
machine and what comes back: two plain-http origins ("a" and "b", two ports
of 127.0.0.1) and one https origin ("tls", a certificate of the test CA for
localhost and 127.0.0.1). Each port also takes the other scheme (a
connection that opens with a TLS handshake gets TLS, any other plain http),
so two URLs may differ in their scheme alone. Every request is logged as one
JSON line (origin, scheme, method, path, headers, body) to the log file; a
reply cut off by the client logs how much of it had been sent.

    hostile_fake.py LOG PORT_A PORT_B PORT_TLS CERT KEY

Routes (on every origin, any method, any path prefix before the last segment;
a CONNECT is logged and answered 407, asking for Basic credentials):
  .../echo                   200, the request's headers as JSON
  .../redirect?to=U&code=C   a redirect (302 unless given) to U
  .../bomb?mib=N             gzip of N MiB of zeros (Content-Encoding: gzip)
  .../gzip?n=N               gzip of N bytes of text, for data callbacks
  .../endless?status=S&mib=N a body without end (status 200 unless given; up
                             to 1 GiB, or N MiB, or exactly N bytes with
                             bytes=N), ended by closing
  .../refuse                 401 with a JSON error
  .../challenge[?basic=1]    401 asking for Basic credentials; 200 once sent
                             (with basic=1: only once Basic credentials are)
  .../feed?page=I&pages=N&next=U
                             an Atom feed page with one entry; a next link
                             to U (default: this route with page I+1) while
                             I+1 < N
  .../stuck308               308 "Range: bytes=0-0" whatever was sent
  .../sink                   200 "ok" (the body is logged)
"""
import gzip
import json
import socket
import socketserver
import ssl
import sys
import threading
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler

LOG_LOCK = threading.Lock()
BOMBS = {}


def bomb(mib):
    if mib not in BOMBS:
        c = zlib.compressobj(9, zlib.DEFLATED, 31)
        zeros = bytes(1 << 20)
        BOMBS[mib] = b"".join([c.compress(zeros) for _ in range(mib)] + [c.flush()])
    return BOMBS[mib]


def feed(base, page, pages, next_url):
    link = ""
    if page + 1 < pages:
        link = "<link rel='next' type='application/atom+xml' href='%s'/>" % next_url.replace("&", "&amp;")
    return ("<?xml version='1.0' encoding='UTF-8'?>"
            "<feed xmlns='http://www.w3.org/2005/Atom' xmlns:gphoto='http://schemas.google.com/photos/2007'>"
            "<id>%s</id><title>Page %d</title>%s"
            "<entry><id>%s/entry%d</id><title>Entry %d</title></entry></feed>"
            % (base, page, link, base, page, page)).encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, **extra):
        entry = {"origin": self.server.origin, "scheme": self.scheme(), "method": self.command, "path": self.path,
                 "headers": {k: v for k, v in self.headers.items()}}
        entry.update(extra)
        with LOG_LOCK, open(self.server.log, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def scheme(self):
        return "https" if isinstance(self.connection, ssl.SSLSocket) else "http"

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        route = url.path.rstrip("/").rsplit("/", 1)[-1]
        body = self.read_body()
        if route == "endless":
            self.record()
            self.send_response(int(q.get("status", 200)))
            self.send_header("Content-Type", "text/plain")
            self.send_header("Connection", "close")
            self.end_headers()
            sent = 0
            piece = b"x" * 65536
            limit = int(q.get("bytes", 0)) or (int(q.get("mib", 0)) << 20) or (1 << 30)
            try:
                while sent < limit:
                    part = piece[:limit - sent]
                    self.wfile.write(part)
                    sent += len(part)
            except OSError:
                pass
            self.close_connection = True
            self.record(sent=sent, ended=True)
            return
        self.record(body=body.decode("latin-1"))
        if self.command == "CONNECT":
            self.reply(407, b"", [("Proxy-Authenticate", 'Basic realm="hostile"')])
        elif route == "echo":
            self.reply(200, json.dumps(dict(self.headers.items())).encode(), [("Content-Type", "application/json")])
        elif route == "redirect":
            self.reply(int(q.get("code", 302)), b"moved", [("Location", q["to"])])
        elif route == "bomb":
            self.reply(200, bomb(int(q.get("mib", 1))), [("Content-Type", "text/plain"),
                                                         ("Content-Encoding", "gzip")])
        elif route == "gzip":
            plain = "".join("compressed line %d\n" % i for i in range(int(q.get("n", 1000)))).encode()
            self.reply(200, gzip.compress(plain), [("Content-Type", "text/xml"), ("Content-Encoding", "gzip")])
        elif route == "feed":
            page, pages = int(q.get("page", 0)), int(q.get("pages", 1))
            here = "%s://%s%s" % (self.scheme(), self.headers.get("Host"), url.path)
            next_url = q.get("next") or "%s?page=%d&pages=%d" % (here, page + 1, pages)
            self.reply(200, feed(here, page, pages, next_url), [("Content-Type", "application/atom+xml")])
        elif route == "challenge":
            sent = self.headers.get("Authorization") or ""
            if sent and (not q.get("basic") or sent.startswith("Basic ")):
                self.reply(200, b"ok", [("Content-Type", "text/plain")])
            else:
                self.reply(401, b"", [("WWW-Authenticate", 'Basic realm="hostile"')])
        elif route == "refuse":
            self.reply(401, b'{"error": "refused"}', [("Content-Type", "application/json")])
        elif route == "stuck308":
            self.reply(308, b"", [("Range", "bytes=0-0")])
        else:
            self.reply(200, b"ok", [("Content-Type", "text/plain")])

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PROPFIND = do_CONNECT = handle_any


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def finish_request(self, request, client_address):
        # On the request's own thread: a TLS handshake (0x16 first) or plain http.
        try:
            request.settimeout(30)
            first = request.recv(1, socket.MSG_PEEK)
            if first == b"\x16":
                request = self.context.wrap_socket(request, server_side=True)
            request.settimeout(None)
        except (OSError, ssl.SSLError):
            return
        self.RequestHandlerClass(request, client_address, self)
        if isinstance(request, ssl.SSLSocket):
            self.shutdown_request(request)


def serve(origin, port, log, context):
    server = Server(("127.0.0.1", port), Handler)
    server.origin, server.log, server.context = origin, log, context
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    log, port_a, port_b, port_tls, cert, key = sys.argv[1:7]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    serve("a", int(port_a), log, context)
    serve("b", int(port_b), log, context)
    serve("tls", int(port_tls), log, context)
    threading.Event().wait()


if __name__ == "__main__":
    main()
