#!/usr/bin/env python3
"""A fake of the Dropbox REST service (API version 1, OAuth 1.0 signed) for
the Dropbox drive's tests, written from what the client sends.

    dropbox_fake.py CONFIG_JSON

On the web-drive fakes' frame (webdrive_fake.py): an https port for the API,
a plain http one for the authorization page and the test controls.
  POST /1/oauth/request_token, GET /1/oauth/authorize, POST /1/oauth/access_token
  GET /1/account/info, GET /1/metadata/dropbox/<path>, GET /1/search/dropbox/<path>
  GET /1/files/dropbox/<path>, PUT /1/files_put/dropbox/<path>
  POST /1/fileops/{create_folder,delete,move,copy}, POST /1/shares/dropbox/<path>
Every call's OAuth signature is checked (HMAC-SHA1, RFC 5849). Files live in
memory. Test controls beside the frame's: revoke, entry, file.
"""
import base64
import hashlib
import json
import os
import time
import urllib.parse
from email.utils import formatdate

import webdrive_fake as w


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


class Handler(w.Handler):
    def error(self, status, message):
        self.reply(status, {"error": message})


class Dropbox(w.OAuth1Service):
    authorize_path = "/1/oauth/authorize"

    def reset(self):
        super().reset()  # request_tokens: token -> {"secret", "authorized"}; users: access token -> secret
        self.files = {"": {"path": "/", "is_dir": True, "data": b"", "modified": time.time()}}
        self.extra_entries = []  # raw entries added to every listing

    def children(self, key):
        prefix = key + "/" if key else ""
        return [e for k, e in self.files.items() if k and k.startswith(prefix) and "/" not in k[len(prefix):]]

    def tree(self):
        return {k: {"path": e["path"], "is_dir": e["is_dir"], "sha1": w.sha1(e["data"])} for k, e in self.files.items()}

    def control(self, what, args):
        if what == "revoke":
            self.users.clear()
        elif what == "entry":
            self.extra_entries.append(args)
        elif what == "file":
            self.files[key_of(args["path"])] = {"path": args["path"], "is_dir": args.get("is_dir", False),
                                                "data": base64.b64decode(args.get("data", "")),
                                                "modified": time.time()}
        else:
            return None
        return {}

    def authorize(self, h, query):
        token, callback = query.get("oauth_token", ""), query.get("oauth_callback", "")
        rt = self.request_tokens.get(token)
        if not rt or not callback:
            return h.reply(400, "<html><body>Unknown request token</body></html>", "text/html")
        rt["authorized"] = True
        sep = "&" if "?" in callback else "?"
        h.reply(302, "", "text/html", {"Location": "%s%suid=%s&oauth_token=%s" % (callback, sep, self.config["uid"], token)})

    def signed(self, h, form, token_secret):
        return w.oauth1_signed(h, self.config["app_key"], self.config["app_secret"], token_secret, form) is not None

    def api(self, h, method, path, query, body, fault):
        oauth = w.oauth_params(h)
        if not oauth:
            return h.error(401, "no OAuth header")
        form = []
        if "application/x-www-form-urlencoded" in h.headers.get("Content-Type", "") and body:
            form = urllib.parse.parse_qsl(body.decode(), keep_blank_values=True)
        if path == "/1/oauth/request_token":
            if not self.signed(h, form, ""):
                return h.error(401, "bad signature")
            token, secret = os.urandom(8).hex(), os.urandom(8).hex()
            self.request_tokens[token] = {"secret": secret, "authorized": False}
            return h.reply(200, "oauth_token_secret=%s&oauth_token=%s" % (secret, token), "text/plain")
        if path == "/1/oauth/access_token":
            rt = self.request_tokens.get(oauth.get("oauth_token", ""))
            if not rt or not self.signed(h, form, rt["secret"]):
                return h.error(401, "bad signature or token")
            if not rt["authorized"]:
                return h.error(403, "request token not authorized")
            del self.request_tokens[oauth["oauth_token"]]
            token, secret = os.urandom(8).hex(), os.urandom(8).hex()
            self.users[token] = secret
            return h.reply(200, "oauth_token_secret=%s&oauth_token=%s&uid=%s" % (secret, token, self.config["uid"]),
                           "text/plain")
        secret = self.users.get(oauth.get("oauth_token", ""))
        if secret is None or not self.signed(h, form, secret):
            return h.error(401, "bad signature or token")
        return self.files_api(h, path, query, dict(form), body, fault)

    def files_api(self, h, path, query, form, body, fault):
        tree = self.files
        parts = path.split("/")  # "", "1", call, root?, path...
        call = parts[2] if len(parts) > 2 else ""
        if call == "account":
            used = sum(len(e["data"]) for e in tree.values())
            return h.reply(200, {"uid": int(self.config["uid"]), "display_name": "Test User",
                                    "email": "test@example.com",
                                    "quota_info": {"shared": 1000, "quota": 2 * 1024 ** 3, "normal": used}})
        if call == "fileops":
            return self.fileops(h, parts[3] if len(parts) > 3 else "", form)
        if len(parts) < 4 or parts[3] != "dropbox":
            return h.error(404, "unknown call")
        item = "/" + "/".join(parts[4:])
        key = key_of(item)
        if call == "metadata":
            entry = tree.get(key)
            if not entry:
                return h.error(404, "Path '%s' not found" % item)
            m = metadata(entry)
            if entry["is_dir"] and query.get("list", "true") != "false":
                m["contents"] = [metadata(c) for c in sorted(self.children(key), key=lambda e: e["path"].lower())]
                m["contents"] += self.extra_entries
            return h.reply(200, m)
        if call == "search":
            text = query.get("query", "").lower()
            prefix = key + "/" if key else ""
            hits = [metadata(e) for k, e in tree.items()
                    if k.startswith(prefix) and text and text in k.rsplit("/", 1)[-1]]
            return h.reply(200, hits)
        if call == "files" and h.command == "GET":
            entry = tree.get(key)
            if not entry or entry["is_dir"]:
                return h.error(404, "File not found")
            data = entry["data"]
            if fault and fault.get("drop_body"):
                return h.drop_body(data)
            return h.reply(200, data, "application/octet-stream",
                              {"x-dropbox-metadata": json.dumps(metadata(entry))})
        if call == "files_put" and h.command == "PUT":
            parent = key.rsplit("/", 1)[0] if "/" in key else ""
            if parent not in tree or not tree[parent]["is_dir"]:
                return h.error(404, "The parent folder does not exist")
            if key in tree and tree[key]["is_dir"]:
                return h.error(403, "A folder is there")
            path_text = (tree[parent]["path"].rstrip("/") + "/" + item.rsplit("/", 1)[-1])
            tree[key] = {"path": path_text, "is_dir": False, "data": body, "modified": time.time()}
            return h.reply(200, metadata(tree[key]))
        if call == "shares" and h.command == "POST":
            if key not in tree:
                return h.error(404, "Path not found")
            return h.reply(200, {"url": "https://db.tt/%s" % hashlib.sha1(key.encode()).hexdigest()[:8],
                                    "expires": "Tue, 01 Jan 2030 00:00:00 +0000"})
        return h.error(404, "unknown call")

    def fileops(self, h, op, form):
        tree = self.files
        if form.get("root") != "dropbox":
            return h.error(400, "bad root")

        def parent_of(key):
            return key.rsplit("/", 1)[0] if "/" in key else ""

        def display(path):
            return "/" + "/".join(p for p in path.split("/") if p)

        if op == "create_folder":
            key = key_of(form.get("path", ""))
            if not key or key in tree:
                return h.error(403, "There is already a folder at the given destination")
            if parent_of(key) not in tree:
                return h.error(404, "The parent folder does not exist")
            tree[key] = {"path": display(form["path"]), "is_dir": True, "data": b"", "modified": time.time()}
            return h.reply(200, metadata(tree[key]))
        if op == "delete":
            key = key_of(form.get("path", ""))
            if not key or key not in tree:
                return h.error(404, "Path not found")
            m = metadata(tree[key])
            for k in [k for k in tree if k == key or k.startswith(key + "/")]:
                del tree[k]
            m["is_deleted"] = True
            return h.reply(200, m)
        if op in ("move", "copy"):
            src, dst = key_of(form.get("from_path", "")), key_of(form.get("to_path", ""))
            if not src or src not in tree:
                return h.error(404, "Path not found")
            if dst in tree and dst != src:
                return h.error(403, "A file is already at the destination")
            if parent_of(dst) not in tree or dst.startswith(src + "/"):
                return h.error(403, "Bad destination")
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
            return h.reply(200, metadata(tree[dst]))
        return h.error(404, "unknown file operation")


if __name__ == "__main__":
    w.serve(Dropbox, Handler)
