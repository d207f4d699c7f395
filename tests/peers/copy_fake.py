#!/usr/bin/env python3
"""A fake of the Copy REST API for the Copy handler's tests, written from
what the handler sends: OAuth 1.0 (every call's HMAC-SHA1 signature checked)
at /oauth/request, /applications/authorize and /oauth/access; items by path
under /rest/meta/copy, /rest/files, /rest/thumbs/copy; links and the user.
Every API call must carry "X-Api-Version: 1". Control "entry" puts an entry of
any name (one no path could hold, too) into the folder at "parent" (a drive
path, the top by default); it is listed after the folder's own children.

    copy_fake.py CONFIG_JSON
"""
import hashlib
import os
import re
import time

import webdrive_fake as w

CONSUMER_KEY = "varnello-copy-key"
CONSUMER_SECRET = "varnello-copy-secret"


class Copy(w.OAuth1Service):
    authorize_path = "/applications/authorize"

    def reset(self):
        super().reset()
        self.items = {"": {"type": "root", "name": "", "data": b"", "modified": time.time()}}
        self.entries = {}  # folder key -> records of the entries put there by name alone

    def signed(self, h, token_secret):
        return w.oauth1_signed(h, CONSUMER_KEY, CONSUMER_SECRET, token_secret)

    # --- files ------------------------------------------------------------------
    def record(self, key):
        item = self.items[key]
        r = {"id": "/copy/" + key, "path": "/" + key, "name": item["name"],
             "type": "file" if item["type"] == "file" else "dir", "modified_time": int(item["modified"])}
        if item["type"] == "file":
            r["size"] = len(item["data"])
        return r

    def children(self, key):
        prefix = key + "/" if key else ""
        return sorted(k for k in self.items if k and k.startswith(prefix) and "/" not in k[len(prefix):])

    def tree(self):
        tree = {"/" + k: {"is_dir": v["type"] != "file", "sha1": w.sha1(v["data"])} for k, v in self.items.items() if k}
        for key, records in self.entries.items():
            for r in records:
                tree["/" + (key + "/" if key else "") + r["name"]] = {"is_dir": False, "sha1": w.sha1(b"x")}
        return tree

    def below(self, keys, key):
        """The keys that are key or lie below it."""
        return [k for k in keys if k == key or k.startswith(key + "/")]

    def control(self, what, args):
        if what == "pending":  # the request token waiting for the user's approval
            token = next(iter(self.request_tokens), "")
            return {"token": token, "secret": self.request_tokens[token]["secret"] if token else ""}
        if what == "entry":
            key = w_key(args.get("parent", ""))
            self.entries.setdefault(key, []).append({"name": args["name"], "type": "file", "size": 1})
            return {}
        return None

    def api(self, h, method, path, query, body, fault):
        if path == "/oauth/request":
            if not self.signed(h, ""):
                return h.error(401, "bad signature")
            token, secret = os.urandom(8).hex(), os.urandom(8).hex()
            self.request_tokens[token] = {"secret": secret, "callback": query.get("oauth_callback", "")}
            return h.reply(200, "oauth_token=%s&oauth_token_secret=%s&oauth_callback_confirmed=true" % (token, secret),
                           "text/plain")
        if path == "/oauth/access":
            token = w.oauth_params(h).get("oauth_token", "")
            rt = self.request_tokens.get(token)
            if not rt or not self.signed(h, rt["secret"]) or query.get("oauth_verifier") != rt.get("verifier"):
                return h.error(401, "bad signature, token or verifier")
            del self.request_tokens[token]
            access, secret = "access-" + os.urandom(8).hex(), os.urandom(8).hex()
            self.users[access] = secret
            return h.reply(200, "oauth_token=%s&oauth_token_secret=%s" % (access, secret), "text/plain")
        token = w.oauth_params(h).get("oauth_token", "")
        if token not in self.users or not self.signed(h, self.users[token]):
            return h.reply(401, {"error": 1300, "error_string": "Unauthorized"})
        if h.headers.get("X-Api-Version") != "1":
            return h.reply(400, {"error": 1000, "error_string": "X-Api-Version missing"})
        if path == "/rest/user":
            used = sum(len(i["data"]) for i in self.items.values())
            return h.reply(200, {"id": "77", "email": "copy@example.com", "storage": {"used": used, "quota": 15 * 1024 ** 3}})
        if path == "/rest/links" and method == "POST":
            key = w_key(query.get("path", ""))
            if key not in self.items:
                return h.reply(404, {"error": 1021, "error_string": "Path not found"})
            return h.reply(200, {"id": "L1", "public": True, "url": "https://copy.example/s/" + hashlib.sha1(key.encode()).hexdigest()[:10]})
        for prefix in ("/rest/meta/copy", "/rest/files", "/rest/thumbs/copy"):
            if path == prefix or path.startswith(prefix + "/"):
                key = w_key(path[len(prefix):])
                break
        else:
            return h.reply(404, {"error": 1, "error_string": "unknown call"})
        item = self.items.get(key)
        parent = key.rsplit("/", 1)[0] if "/" in key else ""
        if prefix == "/rest/meta/copy":
            if not item or item["type"] == "file":
                return h.reply(404, {"error": 1021, "error_string": "Folder not found"})
            r = self.record(key) if key else {"id": "/copy", "path": "/", "name": "", "type": "root"}
            # Children come in pages of two, from list_index on.
            children = [self.record(k) for k in self.children(key)] + self.entries.get(key, [])
            start = int(query.get("list_index", "0"))
            r["children"] = children[start:start + 2]
            r["children_count"] = len(children) + (1 if fault and fault.get("cut") else 0)
            return h.reply(200, r)
        if prefix == "/rest/thumbs/copy":
            return h.reply(200, b"\x89PNG\r\n\x1a\nthumb", "image/png") if item else h.reply(404, {"error_string": "none"})
        if method == "GET":
            if not item or item["type"] != "file":
                return h.reply(404, {"error": 1021, "error_string": "File not found"})
            if fault and fault.get("drop_body"):
                return h.drop_body(item["data"])
            return h.reply(200, item["data"], "application/octet-stream")
        if method == "POST":
            if h.headers.get("Content-Type", "").startswith("multipart/form-data"):
                if not item or item["type"] == "file":
                    return h.reply(404, {"error_string": "Folder not found"})
                objects = []
                for name, data in multipart_files(h.headers["Content-Type"], body):
                    k = (key + "/" if key else "") + name
                    self.items[k] = {"type": "file", "name": name, "data": data, "modified": time.time()}
                    objects.append(self.record(k))
                return h.reply(200, {"objects": objects})
            if item or parent not in self.items:
                return h.reply(400, {"error_string": "Exists or no parent"})
            self.items[key] = {"type": "dir", "name": key.rsplit("/", 1)[-1], "data": b"", "modified": time.time()}
            return h.reply(200, self.record(key))
        if method == "PUT" and "name" in query:
            if not item:
                return h.reply(404, {"error_string": "Path not found"})
            new_key = (parent + "/" if parent else "") + query["name"]
            if new_key in self.items:
                return h.reply(400, {"error_string": "Exists"})
            for k in self.below(list(self.items), key):
                moved = self.items.pop(k)
                nk = new_key + k[len(key):]
                if k == key:
                    moved = dict(moved, name=query["name"])
                self.items[nk] = moved
            for k in self.below(list(self.entries), key):
                self.entries[new_key + k[len(key):]] = self.entries.pop(k)
            return h.reply(200, self.record(new_key))
        if method == "DELETE":
            if not item or not key:
                return h.reply(404, {"error_string": "Path not found"})
            for k in self.below(list(self.items), key):
                del self.items[k]
            for k in self.below(list(self.entries), key):
                del self.entries[k]
            return h.reply(204)
        return h.reply(405, {"error_string": "method not allowed"})


def multipart_files(content_type, body):
    """(file name, bytes) of each file part; names read as the UTF-8 they were sent in."""
    boundary = re.search(r'boundary="?([^";]+)"?', content_type).group(1).encode()
    files = []
    for part in body.split(b"--" + boundary)[1:]:
        if part.startswith(b"--"):
            break
        headers, _, data = part.partition(b"\r\n\r\n")
        m = re.search(rb'filename="([^"]*)"', headers)
        if m:
            files.append((m.group(1).decode("utf-8"), data[:-2] if data.endswith(b"\r\n") else data))
    return files


def w_key(path):
    return "/".join(p for p in path.split("/") if p)


if __name__ == "__main__":
    w.serve(Copy)
