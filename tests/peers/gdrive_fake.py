#!/usr/bin/env python3
"""A fake of the Google Drive REST API (version 3, JSON) for the Google
Drive handler's tests, written from what the handler sends: OAuth 2 at
/o/oauth2/auth and /o/oauth2/token, files by id under /drive/v3/files,
resumable uploads (their sessions on another base when told), permissions,
about. Listings come in pages of three.

    gdrive_fake.py CONFIG_JSON
"""
import json
import os
import re
import time

import webdrive_fake as w

FOLDER = "application/vnd.google-apps.folder"
PAGE = 3


class Drive(w.Service):
    authorize_path = "/o/oauth2/auth"
    token_path = "/o/oauth2/token"

    def reset(self):
        super().reset()
        self.files = {"root": {"id": "root", "name": "My Drive", "mimeType": FOLDER, "parents": [], "data": b"",
                               "modifiedTime": time.time()}}
        self.sessions = {}
        self.pages = {}
        self.session_base = None  # where upload sessions live (default: this origin)

    def session_url(self, h, sid):
        return (self.session_base or h.base_url()) + "/upload/session/" + sid

    def record(self, f, fields=None):
        r = {"id": f["id"], "name": f["name"], "mimeType": f["mimeType"], "parents": f["parents"],
             "modifiedTime": time.strftime("%Y-%m-%dT%H:%M:%S.000Z", time.gmtime(f["modifiedTime"]))}
        if f["mimeType"] != FOLDER:
            r["size"] = str(len(f["data"]))
        r["webViewLink"] = "https://drive.example/file/d/%s/view" % f["id"]
        return r

    def new_file(self, name, parents, mime, data=b""):
        fid = "f" + os.urandom(6).hex()
        self.files[fid] = {"id": fid, "name": name, "mimeType": mime, "parents": list(parents), "data": data,
                           "modifiedTime": time.time()}
        return self.files[fid]

    def path_of(self, fid):
        parts = []
        while fid != "root":
            f = self.files[fid]
            parts.append(f["name"])
            fid = f["parents"][0]
        return "/" + "/".join(reversed(parts))

    def tree(self):
        return {self.path_of(fid): {"is_dir": f["mimeType"] == FOLDER, "sha1": w.sha1(f["data"])}
                for fid, f in self.files.items() if fid != "root"}

    def control(self, what, args):
        if what == "session_base":
            self.session_base = args.get("base")
            return {}
        if what == "entry":
            parent = args.get("parent", "root")
            fid = "x" + os.urandom(4).hex()
            self.files[fid] = {"id": fid, "name": args["name"],
                                                     "mimeType": "text/plain", "parents": [parent], "data": b"x",
                                                     "modifiedTime": time.time()}
            return {}
        return None

    def matches(self, f, q):
        m = re.search(r"'((?:[^'\\]|\\.)*)' in parents", q)
        if m and m.group(1) not in f["parents"]:
            return False
        m = re.search(r"name = '((?:[^'\\]|\\.)*)'", q)
        if m and f["name"] != m.group(1).replace("\\'", "'").replace("\\\\", "\\"):
            return False
        m = re.search(r"mimeType != '([^']*)'", q)
        if m and f["mimeType"] == m.group(1):
            return False
        m = re.search(r"name contains '((?:[^'\\]|\\.)*)'", q)
        if m and m.group(1).lower() not in f["name"].lower():
            return False
        return True

    def api(self, h, method, path, query, body, fault):
        if path == "/drive/v3/about":
            used = sum(len(f["data"]) for f in self.files.values())
            return h.reply(200, {"user": {"emailAddress": "test@example.com", "permissionId": "0815"},
                                 "storageQuota": {"limit": str(15 * 1024 ** 3), "usage": str(used)}})
        if path == "/drive/v3/files" and method == "GET":
            token = query.get("pageToken")
            if token:
                matching = self.pages.pop(token, None)
                if matching is None:
                    return h.error(400, "bad page token")
            else:
                matching = sorted((fid for fid, f in self.files.items() if fid != "root" and self.matches(f, query.get("q", ""))),
                                  key=lambda fid: self.files[fid]["name"])
            page, rest = matching[:PAGE], matching[PAGE:]
            reply = {"files": [self.record(self.files[fid]) for fid in page if fid in self.files]}
            if rest:
                nxt = os.urandom(4).hex()
                self.pages[nxt] = rest
                reply["nextPageToken"] = nxt
            return h.reply(200, reply)
        if path == "/drive/v3/files" and method == "POST":
            meta = json.loads(body or b"{}")
            parents = meta.get("parents") or ["root"]
            if any(p not in self.files for p in parents):
                return h.error(404, "File not found")
            return h.reply(200, self.record(self.new_file(meta["name"], parents, meta.get("mimeType", "text/plain"))))
        if path == "/upload/drive/v3/files" and method == "POST" and query.get("uploadType") == "resumable":
            meta = json.loads(body or b"{}")
            sid = os.urandom(6).hex()
            self.sessions[sid] = meta
            return h.reply(200, b"", "text/plain", {"Location": self.session_url(h, sid)})
        m = re.fullmatch(r"/upload/drive/v3/files/([^/]+)", path)
        if m and method == "PATCH" and query.get("uploadType") == "resumable":
            if m.group(1) not in self.files:
                return h.error(404, "File not found: %s" % m.group(1))
            sid = os.urandom(6).hex()
            self.sessions[sid] = {"update": m.group(1)}
            return h.reply(200, b"", "text/plain", {"Location": self.session_url(h, sid)})
        m = re.fullmatch(r"/upload/session/(\w+)", path)
        if m and method == "PUT":
            meta = self.sessions.pop(m.group(1), None)
            if meta is None:
                return h.error(404, "no upload session")
            if "update" in meta:
                f = self.files[meta["update"]]
                f["data"], f["modifiedTime"] = body, time.time()
                return h.reply(200, self.record(f))
            parents = meta.get("parents") or ["root"]
            return h.reply(200, self.record(self.new_file(meta["name"], parents, "application/octet-stream", body)))
        m = re.fullmatch(r"/drive/v3/files/([^/]+)(/copy|/permissions)?", path)
        if not m:
            return h.error(404, "unknown call")
        fid, sub = m.group(1), m.group(2)
        f = self.files.get(fid)
        if not f:
            return h.error(404, "File not found: %s" % fid)
        if sub == "/permissions" and method == "POST":
            return h.reply(200, {"id": "anyoneWithLink", "type": "anyone", "role": "reader"})
        if sub == "/copy" and method == "POST":
            meta = json.loads(body or b"{}")
            return h.reply(200, self.record(self.new_file(meta.get("name", f["name"]), meta.get("parents") or f["parents"],
                                                          f["mimeType"], f["data"])))
        if method == "GET":
            if query.get("alt") == "media":
                if fault and fault.get("drop_body"):
                    return h.drop_body(f["data"])
                return h.reply(200, f["data"], "application/octet-stream")
            return h.reply(200, self.record(f))
        if method == "PATCH":
            meta = json.loads(body or b"{}")
            if "name" in meta:
                f["name"] = meta["name"]
            if query.get("addParents"):
                removed = [p for p in query.get("removeParents", "").split(",") if p]
                f["parents"] = [p for p in f["parents"] if p not in removed] + [query["addParents"]]
            f["modifiedTime"] = time.time()
            return h.reply(200, self.record(f))
        if method == "DELETE":
            doomed = [fid]
            while doomed:
                d = doomed.pop()
                doomed += [k for k, v in self.files.items() if d in v["parents"]]
                self.files.pop(d, None)
            return h.reply(204)
        return h.error(405, "method not allowed")


if __name__ == "__main__":
    w.serve(Drive)
