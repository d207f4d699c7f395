#!/usr/bin/env python3
"""A fake of the Dropbox REST service (API version 1, OAuth 1.0 signed) for
the Dropbox drive's tests, written from what the client sends.

    dropbox_fake.py STATE_JSON

Serves, on an https port (the test CA's certificate) and a plain http port
(the authorization page, for the web login sheet):
  POST /1/oauth/request_token, GET /1/oauth/authorize, POST /1/oauth/access_token
  GET /1/account/info, GET /1/metadata/dropbox/<path>, GET /1/search/dropbox/<path>
  GET /1/files/dropbox/<path>, PUT /1/files_put/dropbox/<path>
  POST /1/fileops/{create_folder,delete,move,copy}, POST /1/shares/dropbox/<path>
Every call's OAuth signature is checked (HMAC-SHA1, RFC 5849). Files live in
memory. Test controls under /__control/: reset, log, clear_log, fault, revoke,
entry, file, tree.
"""
import base64
import hashlib
import json
import os
import sys
import threading
import time
import urllib.parse
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler

import webdrive_fake

LOCK = threading.Lock()
STATE = {}


def reset():
    STATE.update({
        "tree": {"": {"path": "/", "is_dir": True, "data": b"", "modified": time.time()}},
        "request_tokens": {},   # token -> {"secret", "authorized"}
        "access_tokens": {},    # token -> {"secret", "uid"}
        "log": [],
        "faults": [],           # {"prefix", "method", "status", "times", "drop_body"}
        "extra_entries": [],    # raw entries added to every listing
    })


def key_of(path):
    return "/".join(p for p in path.lower().split("/") if p)


def metadata(entry):
    m = {"path": entry["path"], "is_dir": entry["is_dir"], "root": "dropbox",
         "modified": formatdate(entry["modified"], usegmt=False).replace("-0000", "+0000"),
         "rev": "%x" % int(entry["modified"] * 1000), "thumb_exists": False}
    if not entry["is_dir"]:
        m["bytes"] = len(entry["data"])
        m["size"] = "%d bytes" % len(entry["data"])
    else:
        m["bytes"] = 0
    return m


def children(key):
    prefix = key + "/" if key else ""
    return [e for k, e in STATE["tree"].items()
            if k and k.startswith(prefix) and "/" not in k[len(prefix):]]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    # --- replies ---------------------------------------------------------
    def reply(self, status, body=b"", content_type="application/json", headers=None):
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def error(self, status, message):
        self.reply(status, {"error": message})

    # --- request parts ---------------------------------------------------
    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def oauth_header(self):
        return webdrive_fake.oauth_params(self) or None

    def check_signature(self, oauth, form, token_secret):
        return webdrive_fake.oauth1_signed(self, STATE["app_key"], STATE["app_secret"], token_secret, form) is not None

    def fault_for(self, path):
        for fault in STATE["faults"]:
            if path.startswith(fault["prefix"]) and fault.get("method", self.command) == self.command \
                    and fault["times"] != 0:
                fault["times"] -= 1
                return fault
        return None

    # --- dispatch --------------------------------------------------------
    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def dispatch(self):
        raw_path, _, raw_query = self.path.partition("?")
        path = urllib.parse.unquote(raw_path)
        body = self.read_body()
        if path.startswith("/__control/"):
            return self.control(path[len("/__control/"):], body)
        with LOCK:
            STATE["log"].append({"method": self.command, "path": path, "query": raw_query,
                                 "tls": self.server.is_tls, "authorization": "Authorization" in self.headers})
            fault = self.fault_for(path)
        if fault and not fault.get("drop_body"):
            return self.error(fault["status"], "injected fault")
        if path == "/1/oauth/authorize":
            return self.authorize(urllib.parse.parse_qs(raw_query))
        if not self.server.is_tls:
            return self.error(403, "the API needs https")
        oauth = self.oauth_header()
        if oauth is None:
            return self.error(401, "no OAuth header")
        form = []
        if "application/x-www-form-urlencoded" in self.headers.get("Content-Type", "") and body:
            form = urllib.parse.parse_qsl(body.decode(), keep_blank_values=True)
        with LOCK:
            if path == "/1/oauth/request_token":
                if not self.check_signature(oauth, form, ""):
                    return self.error(401, "bad signature")
                token, secret = os.urandom(8).hex(), os.urandom(8).hex()
                STATE["request_tokens"][token] = {"secret": secret, "authorized": False}
                return self.reply(200, "oauth_token_secret=%s&oauth_token=%s" % (secret, token), "text/plain")
            if path == "/1/oauth/access_token":
                rt = STATE["request_tokens"].get(oauth.get("oauth_token", ""))
                if not rt or not self.check_signature(oauth, form, rt["secret"]):
                    return self.error(401, "bad signature or token")
                if not rt["authorized"]:
                    return self.error(403, "request token not authorized")
                del STATE["request_tokens"][oauth["oauth_token"]]
                token, secret = os.urandom(8).hex(), os.urandom(8).hex()
                STATE["access_tokens"][token] = {"secret": secret, "uid": STATE["uid"]}
                return self.reply(200, "oauth_token_secret=%s&oauth_token=%s&uid=%s" % (secret, token, STATE["uid"]),
                                  "text/plain")
            at = STATE["access_tokens"].get(oauth.get("oauth_token", ""))
            if not at or not self.check_signature(oauth, form, at["secret"]):
                return self.error(401, "bad signature or token")
            return self.api(path, dict(urllib.parse.parse_qsl(raw_query, keep_blank_values=True)), dict(form),
                            body, fault)

    def authorize(self, query):
        token = (query.get("oauth_token") or [""])[0]
        callback = (query.get("oauth_callback") or [""])[0]
        with LOCK:
            rt = STATE["request_tokens"].get(token)
            if not rt or not callback:
                return self.reply(400, "<html><body>Unknown request token</body></html>", "text/html")
            rt["authorized"] = True
        sep = "&" if "?" in callback else "?"
        target = "%s%suid=%s&oauth_token=%s" % (callback, sep, STATE["uid"], token)
        self.reply(302, "", "text/html", {"Location": target})

    # --- the files API ---------------------------------------------------
    def api(self, path, query, form, body, fault):
        tree = STATE["tree"]
        parts = path.split("/")  # "", "1", call, root?, path...
        call = parts[2] if len(parts) > 2 else ""
        if call == "account":
            used = sum(len(e["data"]) for e in tree.values())
            return self.reply(200, {"uid": int(STATE["uid"]), "display_name": "Test User",
                                    "email": "test@example.com",
                                    "quota_info": {"shared": 1000, "quota": 2 * 1024 ** 3, "normal": used}})
        if call == "fileops":
            return self.fileops(parts[3] if len(parts) > 3 else "", form)
        if len(parts) < 4 or parts[3] != "dropbox":
            return self.error(404, "unknown call")
        item = "/" + "/".join(parts[4:])
        key = key_of(item)
        if call == "metadata":
            entry = tree.get(key)
            if not entry:
                return self.error(404, "Path '%s' not found" % item)
            m = metadata(entry)
            if entry["is_dir"] and query.get("list", "true") != "false":
                m["contents"] = [metadata(c) for c in sorted(children(key), key=lambda e: e["path"].lower())]
                m["contents"] += STATE["extra_entries"]
            return self.reply(200, m)
        if call == "search":
            text = query.get("query", "").lower()
            prefix = key + "/" if key else ""
            hits = [metadata(e) for k, e in tree.items()
                    if k.startswith(prefix) and text and text in k.rsplit("/", 1)[-1]]
            return self.reply(200, hits)
        if call == "files" and self.command == "GET":
            entry = tree.get(key)
            if not entry or entry["is_dir"]:
                return self.error(404, "File not found")
            data = entry["data"]
            if fault and fault.get("drop_body"):
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data[: len(data) // 2])
                self.wfile.flush()
                self.close_connection = True
                return
            return self.reply(200, data, "application/octet-stream",
                              {"x-dropbox-metadata": json.dumps(metadata(entry))})
        if call == "files_put" and self.command == "PUT":
            parent = key.rsplit("/", 1)[0] if "/" in key else ""
            if parent not in tree or not tree[parent]["is_dir"]:
                return self.error(404, "The parent folder does not exist")
            if key in tree and tree[key]["is_dir"]:
                return self.error(403, "A folder is there")
            path_text = (tree[parent]["path"].rstrip("/") + "/" + item.rsplit("/", 1)[-1])
            tree[key] = {"path": path_text, "is_dir": False, "data": body, "modified": time.time()}
            return self.reply(200, metadata(tree[key]))
        if call == "shares" and self.command == "POST":
            if key not in tree:
                return self.error(404, "Path not found")
            return self.reply(200, {"url": "https://db.tt/%s" % hashlib.sha1(key.encode()).hexdigest()[:8],
                                    "expires": "Tue, 01 Jan 2030 00:00:00 +0000"})
        return self.error(404, "unknown call")

    def fileops(self, op, form):
        tree = STATE["tree"]
        if form.get("root") != "dropbox":
            return self.error(400, "bad root")

        def parent_of(key):
            return key.rsplit("/", 1)[0] if "/" in key else ""

        def display(path):
            return "/" + "/".join(p for p in path.split("/") if p)

        if op == "create_folder":
            key = key_of(form.get("path", ""))
            if not key or key in tree:
                return self.error(403, "There is already a folder at the given destination")
            if parent_of(key) not in tree:
                return self.error(404, "The parent folder does not exist")
            tree[key] = {"path": display(form["path"]), "is_dir": True, "data": b"", "modified": time.time()}
            return self.reply(200, metadata(tree[key]))
        if op == "delete":
            key = key_of(form.get("path", ""))
            if not key or key not in tree:
                return self.error(404, "Path not found")
            m = metadata(tree[key])
            for k in [k for k in tree if k == key or k.startswith(key + "/")]:
                del tree[k]
            m["is_deleted"] = True
            return self.reply(200, m)
        if op in ("move", "copy"):
            src, dst = key_of(form.get("from_path", "")), key_of(form.get("to_path", ""))
            if not src or src not in tree:
                return self.error(404, "Path not found")
            if dst in tree and dst != src:
                return self.error(403, "A file is already at the destination")
            if parent_of(dst) not in tree or dst.startswith(src + "/"):
                return self.error(403, "Bad destination")
            moved = {}
            src_path = tree[src]["path"]
            for k, e in list(tree.items()):
                if k == src or k.startswith(src + "/"):
                    new_key = dst + k[len(src):]
                    new_path = display(form["to_path"]) + e["path"][len(src_path):]
                    moved[new_key] = dict(e, path=new_path)
                    if op == "move":
                        del tree[k]
            tree.update(moved)
            return self.reply(200, metadata(tree[dst]))
        return self.error(404, "unknown file operation")

    # --- test controls ---------------------------------------------------
    def control(self, what, body):
        args = json.loads(body or b"{}")
        with LOCK:
            if what == "reset":
                reset()
                return self.reply(200, {})
            if what == "log":
                return self.reply(200, STATE["log"])
            if what == "clear_log":
                STATE["log"] = []
                return self.reply(200, {})
            if what == "fault":
                STATE["faults"].append({"prefix": args["prefix"], "status": args.get("status", 500),
                                        "times": args.get("times", 1), "drop_body": args.get("drop_body", False),
                                        **({"method": args["method"]} if "method" in args else {})})
                return self.reply(200, {})
            if what == "revoke":
                STATE["access_tokens"].clear()
                return self.reply(200, {})
            if what == "entry":
                STATE["extra_entries"].append(args)
                return self.reply(200, {})
            if what == "file":
                key = key_of(args["path"])
                STATE["tree"][key] = {"path": args["path"], "is_dir": args.get("is_dir", False),
                                      "data": base64.b64decode(args.get("data", "")), "modified": time.time()}
                return self.reply(200, {})
            if what == "tree":
                return self.reply(200, {k: {"path": e["path"], "is_dir": e["is_dir"],
                                            "sha1": hashlib.sha1(e["data"]).hexdigest()}
                                        for k, e in STATE["tree"].items()})
        return self.error(404, "unknown control")


def main():
    with open(sys.argv[1]) as f:
        config = json.load(f)
    STATE.update({"app_key": config["app_key"], "app_secret": config["app_secret"], "uid": config["uid"]})
    reset()
    webdrive_fake.serve_both(Handler, config)


if __name__ == "__main__":
    main()
