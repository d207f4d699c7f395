"""A fake HTTP server for the data-API fetchers' tests (standard library only).

Endpoints (query arguments in brackets):
  /echo [close]              JSON of the request: method, path, headers, body,
                             the client's port (close=1: the connection closes
                             after it)
  /status [code, body]       that status with that body
  /bytes [n]                 n bytes of a fixed pattern
  /redirect [to, code]       a redirect (302 by default) to `to` ("self": itself)
  /setcookie [name, value, domain, path, secure]   a Set-Cookie, then echo
  /etag [tag]                "ETag: tag", or 304 when If-None-Match equals it
  /script [key, statuses]    the n-th call of `key` answers the n-th status
  /trickle [n, delay]        n bytes, one every `delay` seconds
  /stall                     headers, then silence until the client leaves
  /hold [key] /release [key] /hold answers only after /release of its key
  /auth [t]                  Basic u:p, else 401 with a Basic challenge
  /log, /log/clear           the requests seen so far (method, path, headers)
  resumable upload:
  POST /upload/create [move, fail]   200 with "Location" of a new session
  PUT  /upload/session/ID    "Content-Range: bytes a-b/L" stores a chunk and
                             answers 308 "Range: bytes=0-e" (a new "Location"
                             once when the session was made with move=1), or
                             201 with JSON {size, sha1} after the last byte;
                             "bytes */L" asks the state (308, or 201 when whole)
  data API (Atom):
  /data/feed [pages, page, odd]  a feed of one entry linking "next" up to
                             `pages` (odd=1: with an element of an unknown namespace)
  /data/entry [stale]        an entry with gd:etag and ETag; PUT or DELETE
                             with "If-Match" of `stale` answers 412 with the
                             error document; DELETE answers an empty 200;
                             a written body without the Atom namespace: 400
  POST /data/batch           a batch feed (with the gd and batch namespaces,
                             else 400) answers a feed of one result
  /data/empty, /data/html    an empty 200; an HTML 200
  /data/status [code]        that status with the error document
  POST /upload/create [entry=1] the finished upload answers an Atom entry
  POST /accounts/ClientLogin Email=u@example.com&Passwd=p answers "Auth=tok-N"
                             (a new token each time; only the newest is good),
                             anything else 403 "Error=BadAuthentication";
                             Passwd=captcha: a captcha challenge, answered by
                             logintoken=ct&logincaptcha=answer; Passwd=busy: 503;
                             Passwd=noauth: 200 with Error, Info, CaptchaUrl, no Auth
  /data/private              an entry for the newest token, else 401
"""
import hashlib
import json
import sys
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

LOCK = threading.Lock()
LOG = []
SCRIPTS = {}
HOLDS = {}
SESSIONS = {}
TOKENS = {"n": 0}


def pattern(n):
    block = bytes(i % 251 for i in range(251 * 64))
    out = bytearray()
    while len(out) < n:
        out += block
    return bytes(out[:n])


class Session:
    def __init__(self, move, fail):
        self.received = 0
        self.sha = hashlib.sha1()
        self.move = move
        self.entry = False
        self.fail = fail
        self.chunks = 0


ATOM = "http://www.w3.org/2005/Atom"
BATCH = "http://schemas.google.com/gdata/batch"
GD = "http://schemas.google.com/g/2005"
ERRORS = ("<?xml version='1.0' encoding='UTF-8'?><errors xmlns='%s'><error><domain>GData</domain>"
          "<code>%s</code><internalReason>%s</internalReason></error></errors>")


def entry_xml(host, ident, title, etag, extra="", inside_feed=False):
    # Inside a feed the entry declares no namespaces of its own, as servers send it.
    declared = "" if inside_feed else " xmlns='%s' xmlns:gd='%s'" % (ATOM, GD)
    return ("<entry%s gd:etag='%s'><id>%s</id><title>%s</title>"
            "<link rel='edit' href='http://%s/data/entry?id=%s'/>%s</entry>") % (
        declared, etag.replace("'", "&apos;").replace('"', "&quot;"), ident, title, host, ident, extra)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def q(self, name, default=None):
        v = self.query.get(name)
        return v[0] if v else default

    def reply(self, code, body=b"", headers=None):
        self.send_response(code)
        headers = headers or {}
        for k, v in headers.items():
            if isinstance(v, list):
                for item in v:
                    self.send_header(k, item)
            else:
                self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)

    def json(self, code, obj, headers=None):
        h = {"Content-Type": "application/json"}
        h.update(headers or {})
        self.reply(code, json.dumps(obj).encode(), h)

    def read_body(self, sink=None):
        length = int(self.headers.get("Content-Length") or 0)
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = bytearray()
            while True:
                size = int(self.rfile.readline().strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    break
                data += self.rfile.read(size)
                self.rfile.readline()
            if sink:
                sink(bytes(data))
            return bytes(data) if not sink else len(data)
        if sink:
            left = length
            while left > 0:
                piece = self.rfile.read(min(left, 1 << 20))
                if not piece:
                    raise ConnectionError("body cut short")
                sink(piece)
                left -= len(piece)
            return length
        return self.rfile.read(length) if length else b""

    def handle_any(self):
        url = urlparse(self.path)
        self.query = parse_qs(url.query)
        path = url.path
        if path not in ("/log", "/log/clear"):
            with LOCK:
                LOG.append({"method": self.command, "path": self.path,
                            "headers": {k: v for k, v in self.headers.items()}})
        route = getattr(self, "r_" + path.strip("/").split("/")[0].replace("-", "_"), None)
        if route is None:
            self.read_body()
            return self.reply(404, b"no such route")
        route(path)

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = handle_any

    def r_echo(self, path):
        body = self.read_body()
        closing = {"Connection": "close"} if self.q("close") else None  # send_header closes it after
        self.json(200, {"method": self.command, "path": self.path,
                        "headers": {k: v for k, v in self.headers.items()},
                        "cookie": self.headers.get("Cookie", ""),
                        "length": len(body), "body": body.decode("latin-1")[:4096],
                        "client_port": self.client_address[1]}, closing)

    def r_status(self, path):
        self.read_body()
        self.reply(int(self.q("code", "200")), self.q("body", "status body").encode(), {"Content-Type": "text/plain"})

    def r_bytes(self, path):
        self.read_body()
        self.reply(200, pattern(int(self.q("n", "0"))), {"Content-Type": "application/octet-stream"})

    def r_redirect(self, path):
        self.read_body()
        to = self.q("to", "/echo")
        self.reply(int(self.q("code", "302")), b"moved", {"Location": self.path if to == "self" else to})

    def r_setcookie(self, path):
        self.read_body()
        parts = ["%s=%s" % (self.q("name", "c"), self.q("value", "v"))]
        if self.q("domain"):
            parts.append("Domain=" + self.q("domain"))
        parts.append("Path=" + self.q("path", "/"))
        if self.q("secure"):
            parts.append("Secure")
        if self.q("expired"):
            parts.append("Expires=Thu, 01 Jan 1970 00:00:00 GMT")
        headers = {"Set-Cookie": "; ".join(parts)}
        if self.q("then"):
            headers["Location"] = self.q("then")
            return self.reply(302, b"", headers)
        self.json(200, {"cookie": self.headers.get("Cookie", "")}, headers)

    def r_etag(self, path):
        self.read_body()
        tag = '"%s"' % self.q("tag", "v1")
        if self.headers.get("If-None-Match") == tag:
            return self.reply(304, b"", {"ETag": tag})
        self.reply(200, ("etag body " + tag).encode(), {"ETag": tag, "Content-Type": "text/plain"})

    def r_script(self, path):
        self.read_body()
        key = self.q("key", "k")
        statuses = [int(s) for s in self.q("statuses", "200").split(",")]
        with LOCK:
            n = SCRIPTS.get(key, 0)
            SCRIPTS[key] = n + 1
        code = statuses[min(n, len(statuses) - 1)]
        self.reply(code, ("call %d status %d" % (n + 1, code)).encode(), {"Content-Type": "text/plain"})

    def r_trickle(self, path):
        self.read_body()
        n = int(self.q("n", "10"))
        delay = float(self.q("delay", "0.1"))
        self.send_response(200)
        self.send_header("Content-Length", str(n))
        self.end_headers()
        try:
            for _ in range(n):
                self.wfile.write(b"x")
                self.wfile.flush()
                time.sleep(delay)
        except OSError:
            pass

    def r_stall(self, path):
        self.read_body()
        self.send_response(200)
        self.send_header("Content-Length", "1000")
        self.end_headers()
        self.wfile.flush()
        try:
            for _ in range(600):
                time.sleep(0.1)
                self.wfile.write(b"")
        except OSError:
            pass
        self.close_connection = True

    def r_hold(self, path):
        self.read_body()
        key = self.q("key", "k")
        with LOCK:
            event = HOLDS.setdefault(key, threading.Event())
        event.wait(60)
        self.reply(200, ("held " + key).encode(), {"Content-Type": "text/plain"})

    def r_release(self, path):
        self.read_body()
        key = self.q("key", "k")
        with LOCK:
            HOLDS.setdefault(key, threading.Event()).set()
        self.reply(200, b"released")

    def r_auth(self, path):
        self.read_body()
        import base64
        expected = "Basic " + base64.b64encode(b"u:p").decode()
        if self.headers.get("Authorization") != expected:
            return self.reply(401, b"who are you", {"WWW-Authenticate": 'Basic realm="hf"'})
        self.reply(200, b"welcome", {"Content-Type": "text/plain"})

    def r_data(self, path):
        body = self.read_body()
        host = self.headers.get("Host")
        what = path.strip("/").split("/")[1] if "/" in path.strip("/") else ""
        atom = {"Content-Type": "application/atom+xml; charset=UTF-8", "GData-Version": "2.0"}
        if what == "feed":
            pages, page = int(self.q("pages", "1")), int(self.q("page", "1"))
            nxt = ""
            if page < pages:
                nxt = "<link rel='next' href='http://%s/data/feed?pages=%d&amp;page=%d&amp;t=%s'/>" % (
                    host, pages, page + 1, self.q("t", ""))
            odd = "<x:odd xmlns:x='urn:x:odd'>?</x:odd>" if self.q("odd") else ""
            xml = ("<?xml version='1.0' encoding='UTF-8'?><feed xmlns='%s' xmlns:gd='%s'><id>feed</id><title>Feed</title>%s%s%s</feed>"
                   % (ATOM, GD, odd, nxt, entry_xml(host, "entry-%d" % page, "Page %d" % page, 'W/"p%d"' % page, inside_feed=True)))
            return self.reply(200, xml.encode(), atom)
        if what == "entry":
            etag = '"e1"'
            if self.command in ("PUT", "DELETE", "PATCH") and self.q("stale") and self.headers.get("If-Match") == self.q("stale"):
                return self.reply(412, (ERRORS % (GD, "etagsMismatch", "Etags mismatch")).encode(),
                                  {"Content-Type": "application/vnd.google.gdata.error+xml"})
            if self.command == "DELETE":
                return self.reply(200, b"")
            if self.command in ("PUT", "POST", "PATCH") and ATOM.encode() not in (body or b""):
                return self.reply(400, b"Not an Atom entry", {"Content-Type": "text/plain"})
            title = "Updated" if self.command in ("PUT", "POST") else "One"
            xml = "<?xml version='1.0' encoding='UTF-8'?>" + entry_xml(host, self.q("id", "entry-1"), title, etag)
            headers = dict(atom)
            headers["ETag"] = etag
            return self.reply(201 if self.command == "POST" else 200, xml.encode(), headers)
        if what == "private":
            with LOCK:
                good = "Bearer tok-%d" % TOKENS["n"]
            if self.headers.get("Authorization") != good:
                return self.reply(401, b"Token invalid", {"Content-Type": "text/plain"})
            xml = "<?xml version='1.0' encoding='UTF-8'?>" + entry_xml(host, "private-1", "Private", '"x1"')
            return self.reply(200, xml.encode(), atom)
        if what == "batch":
            if BATCH.encode() not in body or GD.encode() not in body:
                return self.reply(400, b"Not a batch feed", {"Content-Type": "text/plain"})
            xml = ("<?xml version='1.0' encoding='UTF-8'?><feed xmlns='%s' xmlns:batch='%s'><id>results</id>"
                   "<entry><id>1</id><batch:status code='201' reason='Created'/></entry></feed>" % (ATOM, BATCH))
            return self.reply(200, xml.encode(), atom)
        if what == "empty":
            return self.reply(200, b"")
        if what == "html":
            return self.reply(200, b"<html><body>sign in</body></html>", {"Content-Type": "text/html"})
        if what == "status":
            return self.reply(int(self.q("code", "403")), (ERRORS % (GD, "forbidden", "Not yours")).encode(),
                              {"Content-Type": "application/vnd.google.gdata.error+xml; charset=UTF-8"})
        self.reply(404, b"no such data")

    def r_accounts(self, path):
        form = parse_qs(self.read_body().decode())
        if form.get("Email") == ["u@example.com"] and form.get("Passwd") == ["p"]:
            with LOCK:
                TOKENS["n"] += 1
                token = "tok-%d" % TOKENS["n"]
            return self.reply(200, ("SID=s\nLSID=l\nAuth=%s\n" % token).encode(), {"Content-Type": "text/plain"})
        if form.get("Passwd") == ["noauth"]:
            return self.reply(200, b"Error=AccountDisabled\nInfo=Suspended\nCaptchaUrl=Captcha?ctoken=na\n",
                              {"Content-Type": "text/plain"})
        if form.get("Passwd") == ["busy"]:
            return self.reply(503, b"Error=ServiceUnavailable\n", {"Content-Type": "text/plain"})
        if form.get("Passwd") == ["captcha"]:
            if form.get("logintoken") == ["ct"] and form.get("logincaptcha") == ["answer"]:
                return self.reply(200, b"Auth=tok-captcha\n", {"Content-Type": "text/plain"})
            return self.reply(403, b"Error=CaptchaRequired\nCaptchaToken=ct\nCaptchaUrl=Captcha?ctoken=ct\n",
                              {"Content-Type": "text/plain"})
        self.reply(403, b"Error=BadAuthentication\nInfo=WebLoginRequired\n", {"Content-Type": "text/plain"})

    def r_log(self, path):
        self.read_body()
        with LOCK:
            if path == "/log/clear":
                LOG.clear()
                SCRIPTS.clear()
                HOLDS.clear()
                return self.reply(200, b"cleared")
            entries = list(LOG)
        self.json(200, entries)

    def r_upload(self, path):
        parts = path.strip("/").split("/")
        if parts[1:2] == ["create"]:
            self.read_body()
            sid = uuid.uuid4().hex
            with LOCK:
                SESSIONS[sid] = Session(self.q("move") == "1", self.q("fail"))
                SESSIONS[sid].entry = self.q("entry") == "1"
            if self.q("nolocation"):
                return self.json(200, {})
            location = self.q("location") or "http://%s/upload/session/%s" % (self.headers.get("Host"), sid)
            return self.json(200, {"session": sid}, {"Location": location})
        if parts[1:2] != ["session"] or len(parts) < 3:
            self.read_body()
            return self.reply(404, b"no session")
        with LOCK:
            session = SESSIONS.get(parts[2])
        if session is None:
            self.read_body()
            return self.reply(404, b"no session")
        rng = self.headers.get("Content-Range", "")
        if not rng.startswith("bytes "):
            self.read_body()
            return self.reply(400, b"no range")
        span, total = rng[6:].split("/")
        total = int(total)
        if span != "*":
            start, end = [int(x) for x in span.split("-")]
            skip = max(0, session.received - start)
            if start > session.received:
                self.read_body()
                return self.reply(400, b"gap")
            # Hashed as it arrives, on a copy kept only when the chunk is whole
            # (a chunk cut short leaves the session as it was).
            state = {"skip": skip, "sha": session.sha.copy(), "n": 0}

            def sink(piece):
                if state["skip"] >= len(piece):
                    state["skip"] -= len(piece)
                    return
                if state["skip"]:
                    piece = piece[state["skip"]:]
                    state["skip"] = 0
                state["sha"].update(piece)
                state["n"] += len(piece)
            try:
                self.read_body(sink)
            except ConnectionError:
                return
            session.sha = state["sha"]
            session.received += state["n"]
            session.chunks += 1
            if session.fail and session.chunks == int(session.fail):
                return self.reply(500, b"chunk failed")
        else:
            self.read_body()
        if session.received >= total:
            if session.entry:
                xml = "<?xml version='1.0' encoding='UTF-8'?>" + entry_xml(
                    self.headers.get("Host"), "photo-1", "size %d sha1 %s" % (session.received, session.sha.hexdigest()), '"u1"')
                return self.reply(201, xml.encode(), {"Content-Type": "application/atom+xml; charset=UTF-8"})
            return self.json(201, {"size": session.received, "sha1": session.sha.hexdigest()})
        headers = {}
        if session.received > 0:
            headers["Range"] = "bytes=0-%d" % (session.received - 1)
        if session.move and session.chunks == 1 and span != "*":
            session.move = False
            new_id = uuid.uuid4().hex
            with LOCK:
                SESSIONS[new_id] = session
            headers["Location"] = "http://%s/upload/session/%s" % (self.headers.get("Host"), new_id)
        self.reply(308, b"", headers)


def main():
    port = int(sys.argv[1])
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
