"""A small frame shared by the web-drive fakes: an https server (the test
CA's certificate) and a plain http one (authorization pages, for the web
login sheet), OAuth 2 code and refresh-token endpoints, bearer-token checks,
a request log, fault injection and the test controls under /__control/:
reset, log, clear_log, fault, expire (access tokens run out), tree, and
hold / held / release: the next request of a method (and path prefix) is
held before the service sees it, until released, and then carried out
whatever the client did meanwhile (peerlib.RequestHold).

A fake subclasses Service, fills `routes` and keeps its files in memory."""
import base64
import hashlib
import hmac
import json
import os
import socketserver
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

import peerlib

LOCK = threading.Lock()
# Request headers kept in the log, for tests that assert what was sent.
LOGGED_HEADERS = ("Authorization", "Content-Type", "Content-Range", "GData-Version", "If-Match", "Slug",
                  "X-Upload-Content-Length", "X-Upload-Content-Type")


class Service:
    """The state of one fake service; subclasses add their files."""

    def __init__(self, config):
        self.config = config
        self.reset()

    def reset(self):
        self.codes = set()
        self.refresh_tokens = set()
        self.access_tokens = set()
        self.log = []
        self.faults = []
        self.hold = peerlib.RequestHold()

    def new_token(self, kind):
        return "%s-%s" % (kind, os.urandom(8).hex())

    # --- OAuth 2 -----------------------------------------------------------
    def authorize(self, handler, query):
        redirect = query.get("redirect_uri", "")
        if not redirect:
            return handler.reply(400, "no redirect_uri", "text/plain")
        code = self.new_token("code")
        self.codes.add(code)
        sep = "&" if "?" in redirect else "?"
        handler.reply(302, "", "text/html", {"Location": "%s%scode=%s" % (redirect, sep, urllib.parse.quote(code))})

    def token(self, handler, form):
        grant = form.get("grant_type")
        if grant == "authorization_code" and form.get("code") in self.codes:
            self.codes.discard(form["code"])
        elif grant == "refresh_token" and form.get("refresh_token") in self.refresh_tokens:
            pass
        else:
            return handler.reply(400, {"error": "invalid_grant", "error_description": "Bad code or token"})
        access = self.new_token("access")
        self.access_tokens.add(access)
        reply = {"access_token": access, "token_type": "Bearer", "expires_in": 3600}
        if grant == "authorization_code":
            refresh = self.new_token("refresh")
            self.refresh_tokens.add(refresh)
            reply["refresh_token"] = refresh
        handler.reply(200, reply)

    def authorized(self, handler):
        header = handler.headers.get("Authorization", "")
        return header.startswith("Bearer ") and header[7:] in self.access_tokens

    def tree(self):
        return {}

    def public(self, handler, method, path, query):
        """Answers a request that needs no token (media on another host); True when it did."""
        return False

    def control(self, what, args):
        return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: without this each reply
    # on a kept connection waits for the client's delayed acknowledgement.
    disable_nagle_algorithm = True
    service = None

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, body=b"", content_type="application/json", headers=None):
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        if status != 204:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.end_headers()
        if body:
            self.wfile.write(body)

    def error(self, status, message):
        self.reply(status, {"error": {"code": status, "message": message}})

    def drop_body(self, data):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[: len(data) // 2])
        self.wfile.flush()
        self.close_connection = True

    def base_url(self):
        return "%s://%s" % ("https" if self.server.is_tls else "http", self.headers.get("Host", ""))

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_PATCH(self):
        self.dispatch()

    def do_DELETE(self):
        self.dispatch()

    def dispatch(self):
        service = self.service
        raw_path, _, raw_query = self.path.partition("?")
        path = urllib.parse.unquote(raw_path)
        query = dict(urllib.parse.parse_qsl(raw_query, keep_blank_values=True))
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        hold = None if path.startswith("/__control/") else service.hold.wait_if_armed(self, path, body)
        try:
            self.answer(service, path, query, body)
        except OSError:
            if not hold:
                raise
            # Carried out; the client was gone.
        finally:
            service.hold.carried_out(hold)

    def answer(self, service, path, query, body):
        with LOCK:
            if path.startswith("/__control/"):
                return self.control(path[len("/__control/"):], json.loads(body or b"{}"))
            service.log.append({"method": self.command, "path": path, "query": query, "tls": self.server.is_tls,
                                "headers": {k: self.headers[k] for k in LOGGED_HEADERS if k in self.headers},
                                "body": body[:2048].decode("utf-8", "replace")})
            fault = None
            for f in service.faults:
                if path.startswith(f["prefix"]) and f["times"] != 0 and f.get("method", self.command) == self.command:
                    if f["after"] > 0:  # let that many matching calls through first
                        f["after"] -= 1
                        continue
                    f["times"] -= 1
                    fault = f
                    break
            if fault and fault.get("reply") is not None:
                return self.made_reply(fault)
            if fault and not (fault.get("drop_body") or fault.get("cut")):
                return self.error(fault["status"], "injected fault")
            if path == service.authorize_path:
                return service.authorize(self, query)
            if path == service.token_path:
                return service.token(self, dict(urllib.parse.parse_qsl(body.decode(), keep_blank_values=True)))
            self.body = body
            if service.public(self, self.command, path, query):
                return None
            if not self.server.is_tls:
                return self.error(403, "the API needs https")
            if not service.authorized(self):
                return self.error(401, "Invalid Credentials")
            return service.api(self, self.command, path, query, body, fault)

    def made_reply(self, fault):
        """A reply the test made: "{items}" becomes "items" copies of "item",
        "{n}" the count of replies this fault gave (a fresh page token each
        time, where the test wants one)."""
        fault["served"] += 1
        items = ",".join([fault.get("item") or "{}"] * fault.get("items", 0))
        body = fault["reply"].replace("{items}", items).replace("{n}", str(fault["served"]))
        self.reply(200, body.encode())

    def control(self, what, args):
        service = self.service
        if what == "reset":
            service.reset()
        elif what == "clear_faults":
            service.faults = []
        elif what == "log":
            return self.reply(200, service.log)
        elif what == "clear_log":
            service.log = []
        elif what == "fault":
            service.faults.append({"prefix": args["prefix"], "status": args.get("status", 500),
                                   "times": args.get("times", 1), "drop_body": args.get("drop_body", False),
                                   "cut": args.get("cut", False),
                                   "after": args.get("after", 0),
                                   # A made reply instead of the service's (see made_reply); times < 0: always.
                                   "reply": args.get("reply"), "item": args.get("item"),
                                   "items": args.get("items", 0), "served": 0})
        elif what == "expire":
            service.access_tokens.clear()
        elif what == "tree":
            return self.reply(200, service.tree())
        elif what == "hold":
            service.hold.arm(args)
        elif what == "held":
            return self.reply(200, service.hold.state())
        elif what == "release":
            service.hold.release()
        else:
            answer = service.control(what, args)
            if answer is None:
                return self.error(404, "unknown control")
            return self.reply(200, answer)
        self.reply(200, {})


def quote(text):
    return urllib.parse.quote(text, safe="~")


def oauth_params(h):
    """The OAuth 1 parameters of the request's Authorization header ({} without one)."""
    header = h.headers.get("Authorization", "")
    if not header.startswith("OAuth "):
        return {}
    oauth = {}
    for part in header[6:].split(","):
        if "=" in part:
            k, v = part.strip().split("=", 1)
            oauth[urllib.parse.unquote(k)] = urllib.parse.unquote(v.strip('"'))
    return oauth


def oauth1_signed(h, consumer_key, consumer_secret, token_secret, form=()):
    """The request's OAuth 1 parameters when its HMAC-SHA1 signature (over the
    query, the form fields and the header's parameters) holds for the consumer
    and the token's secret; else None."""
    oauth = oauth_params(h)
    raw_path, _, raw_query = h.path.partition("?")
    scheme = "https" if h.server.is_tls else "http"
    host = h.headers.get("Host", "").lower()
    default = ":443" if scheme == "https" else ":80"
    if host.endswith(default):
        host = host[: -len(default)]
    params = urllib.parse.parse_qsl(raw_query, keep_blank_values=True) + list(form)
    params += [(k, v) for k, v in oauth.items() if k not in ("realm", "oauth_signature")]
    normalized = "&".join("%s=%s" % kv for kv in sorted((quote(k), quote(v)) for k, v in params))
    base = "&".join([quote(h.command), quote("%s://%s%s" % (scheme, host, raw_path)), quote(normalized)])
    key = ("%s&%s" % (quote(consumer_secret), quote(token_secret))).encode()
    expected = base64.b64encode(hmac.new(key, base.encode(), hashlib.sha1).digest()).decode()
    ok = hmac.compare_digest(expected, oauth.get("oauth_signature", "")) and \
        oauth.get("oauth_consumer_key") == consumer_key and oauth.get("oauth_signature_method") == "HMAC-SHA1"
    return oauth if ok else None


class OAuth1Service(Service):
    """A service signed in with OAuth 1: request tokens approved on the
    authorize page, which redirects to the callback with a verifier."""
    token_path = "/unused"

    def reset(self):
        super().reset()
        self.request_tokens = {}  # token -> {"secret", "verifier", "callback"}
        self.users = {}           # access token -> secret

    def authorized(self, h):
        return True  # every call checks its own signature in api()

    def authorize(self, h, query):
        rt = self.request_tokens.get(query.get("oauth_token", ""))
        if not rt:
            return h.reply(400, "unknown request token", "text/plain")
        rt["verifier"] = os.urandom(6).hex()
        sep = "&" if "?" in rt["callback"] else "?"
        h.reply(302, "", "text/html", {"Location": "%s%soauth_token=%s&oauth_verifier=%s" % (
            rt["callback"], sep, query["oauth_token"], rt["verifier"])})


class Server(socketserver.ThreadingMixIn, HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def sha1(data):
    return hashlib.sha1(data).hexdigest()


def serve(service_class, handler_class=None):
    handler_class = handler_class or Handler
    with open(sys.argv[1]) as f:
        config = json.load(f)
    handler_class.service = service_class(config)
    serve_both(handler_class, config)


def serve_both(handler_class, config):
    """Serves on the config's https port (with its certificate) and its http port."""
    https = Server(("127.0.0.1", config["https_port"]), handler_class)
    https.is_tls = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(config["cert"], config["key"])
    https.socket = context.wrap_socket(https.socket, server_side=True)
    http = Server(("127.0.0.1", config["http_port"]), handler_class)
    http.is_tls = False
    threading.Thread(target=http.serve_forever, daemon=True).start()
    https.serve_forever()


def start_peer(workdir, script, extra=None):
    """Starts a fake as a peer: its config (with extra, which the peer state
    also gets), the test CA, two ports."""
    import apache_peer
    import peerlib
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    extra = extra or {}
    config = dict(extra, https_port=peerlib.free_port(), http_port=peerlib.free_port(), cert=tls["cert"], key=tls["key"])
    path = os.path.join(workdir, "config.json")
    with open(path, "w") as f:
        json.dump(config, f)
    pid = peerlib.spawn_python(os.path.join(peerlib.HERE, script), [path], workdir, "fake.log")
    peerlib.wait_for_port(config["https_port"])
    peerlib.wait_for_port(config["http_port"])
    return dict(extra, available=True, https_port=config["https_port"], http_port=config["http_port"],
                ca_file=tls["ca"], pids=[pid])
