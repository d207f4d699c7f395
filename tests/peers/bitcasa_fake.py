#!/usr/bin/env python3
"""A fake of the Bitcasa REST API (version 1, JSON) for the Bitcasa
handler's tests, written from what the handler sends: OAuth 2 at
/v1/oauth2/authenticate (redirect with authorization_code) and
/v1/oauth2/access_token, items addressed by full paths of opaque ids under
/v1/folders and /v1/files, multipart uploads, downloads by ?path=, and the
rename, copy and move operations. The top holds "Bitcasa Infinite Drive".
Besides the frame's controls: entry (a file of any name in the folder of the
given item id, "parent", or in the Infinite Drive) and slow (requests under a
prefix wait that many seconds before they are served).

    bitcasa_fake.py CONFIG_JSON
"""
import base64
import copy
import json
import os
import re
import threading
import time
import urllib.parse

import webdrive_fake as w

SLOW = []  # {"prefix", "seconds"}; read outside the frame's lock
SLOW_LOCK = threading.Lock()


def new_id():
    return base64.urlsafe_b64encode(os.urandom(12)).decode()


class Bitcasa(w.Service):
    authorize_path = "/v1/oauth2/authenticate"
    token_path = "/v1/oauth2/access_token"

    def reset(self):
        super().reset()
        self.items = {}
        with SLOW_LOCK:
            SLOW.clear()
        self.drive = self.add(True, "Bitcasa Infinite Drive", None)["id"]

    # --- OAuth 2 -------------------------------------------------------------
    def authorize(self, handler, query):
        redirect = query.get("redirect", "")
        if not redirect or query.get("client_id") != "varnello-bitcasa-client":
            return handler.reply(400, "no redirect or unknown client", "text/plain")
        code = self.new_token("code")
        self.codes.add(code)
        handler.reply(302, "", "text/html",
                      {"Location": "%s?authorization_code=%s" % (redirect, urllib.parse.quote(code))})

    def token(self, handler, form):
        # Access tokens do not run out; there is no refresh token.
        if form.get("code") not in self.codes or form.get("client_secret") != "varnello-bitcasa-secret":
            return handler.reply(400, {"error": {"code": 1020, "message": "Bad authorization code"}})
        self.codes.discard(form["code"])
        access = self.new_token("access")
        self.access_tokens.add(access)
        handler.reply(200, {"access_token": access, "token_type": "bearer"})

    # --- The tree --------------------------------------------------------------
    def add(self, folder, name, parent, data=b""):
        iid = new_id()
        self.items[iid] = {"id": iid, "folder": folder, "name": name, "parent": parent, "data": data,
                           "mtime": int(time.time() * 1000)}
        return self.items[iid]

    def full_path(self, item):
        ids = []
        while item:
            ids.append(item["id"])
            item = self.items.get(item["parent"])
        return "/" + "/".join(reversed(ids))

    def display_path(self, item):
        names = []
        while item:
            names.append(item["name"])
            item = self.items.get(item["parent"])
        return "/" + "/".join(reversed(names))

    def lookup(self, full_path):
        """The item at the full path; None for the top, False when there is none."""
        parent = None
        for iid in [p for p in full_path.split("/") if p]:
            item = self.items.get(iid)
            if not item or item["parent"] != parent:
                return False
            parent = iid
        return self.items[parent] if parent else None

    def children(self, parent):
        return sorted((i for i in self.items.values() if i["parent"] == parent), key=lambda i: i["name"])

    def named(self, parent, name):
        return next((i for i in self.children(parent) if i["name"] == name), None)

    def record(self, item):
        ext = item["name"].rsplit(".", 1)[-1].lower()
        category = "folders" if item["folder"] else ("photos" if ext in ("jpg", "png", "gif") else "documents")
        return {"name": item["name"], "path": self.full_path(item), "category": category,
                "type": 1 if item["folder"] else 0, "mtime": item["mtime"],
                "size": 0 if item["folder"] else len(item["data"])}

    def tree(self):
        return {self.display_path(i): {"is_dir": i["folder"], "sha1": w.sha1(i["data"])}
                for i in self.items.values()}

    def control(self, what, args):
        if what == "entry":
            self.add(False, args["name"], args.get("parent", self.drive), b"x")
            return {}
        if what == "slow":
            with SLOW_LOCK:
                SLOW.append({"prefix": args["prefix"], "seconds": args.get("seconds", 1.0)})
            return {}
        return None

    # --- The API ---------------------------------------------------------------------
    @staticmethod
    def answer(h, items, status=200):
        h.reply(status, {"result": {"items": [items] if isinstance(items, dict) else items}, "error": None})

    @staticmethod
    def refuse(h, status, code, message):
        h.reply(status, {"result": None, "error": {"code": code, "message": message}})

    @staticmethod
    def multipart(h, body):
        """The "file" part's data and file name (UTF-8, as the handler sends it)."""
        boundary = re.search(r'boundary="?([^";]+)"?', h.headers.get("Content-Type", ""))
        for part in body.split(b"--" + boundary.group(1).encode())[1:] if boundary else []:
            head, _, data = part.partition(b"\r\n\r\n")
            head = head.decode("utf-8", "replace")
            if 'name="file"' in head:
                name = re.search(r'filename="([^"]*)"', head)
                return data[:-2] if data.endswith(b"\r\n") else data, name.group(1) if name else ""
        return b"", ""

    def api(self, h, method, path, query, body, fault):
        for kind in ("/v1/folders", "/v1/files"):
            if path == kind or path.startswith(kind + "/"):
                return self.items_call(h, method, kind == "/v1/folders", path[len(kind):] or "/", query, body, fault)
        return self.refuse(h, 404, 9999, "unknown call")

    def items_call(self, h, method, folders, rest, query, body, fault):
        if method == "DELETE":
            item = self.lookup(query.get("path", ""))
            if not item or item["folder"] != folders:
                return self.refuse(h, 404, 2003, "No such item")
            doomed = [item["id"]]
            while doomed:
                d = doomed.pop()
                doomed += [i["id"] for i in self.children(d)]
                self.items.pop(d, None)
            return h.reply(200, {"result": {"success": True}, "error": None})
        if method == "GET" and not folders:  # /v1/files/<name>?path=
            item = self.lookup(query.get("path", ""))
            if not item or item["folder"]:
                return self.refuse(h, 404, 2003, "No such file")
            if fault and fault.get("drop_body"):
                return h.drop_body(item["data"])
            return h.reply(200, item["data"], "application/octet-stream")
        form = dict(urllib.parse.parse_qsl(body.decode("utf-8", "replace"), keep_blank_values=True))
        operation = query.get("operation")
        item = self.lookup(rest)
        if method == "POST" and not folders and operation is None:  # an upload into the folder at rest
            if item is False or (item and not item["folder"]):
                return self.refuse(h, 404, 2003, "No such folder")
            data, name = self.multipart(h, body)
            parent = item["id"] if item else None
            existing = self.named(parent, name)
            if existing and query.get("exists") == "overwrite" and not existing["folder"]:
                existing["data"], existing["mtime"] = data, int(time.time() * 1000)
                return self.answer(h, self.record(existing))
            if existing:
                return self.refuse(h, 409, 2042, "An item of that name exists")
            return self.answer(h, self.record(self.add(False, name, parent, data)))
        if item is False or (item and item["folder"] != folders):
            return self.refuse(h, 404, 2003, "No such item")
        parent = item["id"] if item else None
        if method == "GET":
            records = [self.record(i) for i in self.children(parent)]
            if fault and fault.get("drop_body"):
                return h.drop_body(json.dumps({"result": {"items": records}, "error": None}).encode())
            return self.answer(h, records)
        if method != "POST":
            return self.refuse(h, 405, 9998, "method not allowed")
        if folders and operation == "create":
            if self.named(parent, form.get("name", "")):
                return self.refuse(h, 409, 2042, "An item of that name exists")
            return self.answer(h, self.record(self.add(True, form["name"], parent)))
        if not item:
            return self.refuse(h, 400, 2001, "the top cannot be changed")
        if operation == "rename":
            if self.named(item["parent"], form.get("name", "")):
                return self.refuse(h, 409, 2042, "An item of that name exists")
            item["name"] = form["name"]
            return self.answer(h, self.record(item))
        if operation in ("copy", "move"):
            target = self.lookup(form.get("to", ""))
            if target is False or (target and not target["folder"]):
                return self.refuse(h, 404, 2003, "No such folder")
            target_id = target["id"] if target else None
            if self.named(target_id, item["name"]):
                return self.refuse(h, 409, 2042, "An item of that name exists")
            if operation == "move":
                item["parent"] = target_id
                return self.answer(h, self.record(item))
            return self.answer(h, self.record(self.copy_tree(item, target_id)))
        return self.refuse(h, 400, 2000, "unknown operation")

    def copy_tree(self, item, parent):
        made = self.add(item["folder"], item["name"], parent, copy.copy(item["data"]))
        for child in self.children(item["id"]):
            self.copy_tree(child, made["id"])
        return made


class SlowHandler(w.Handler):
    def dispatch(self):
        path = urllib.parse.unquote(self.path.partition("?")[0])
        with SLOW_LOCK:
            delay = next((s["seconds"] for s in SLOW if path.startswith(s["prefix"])), 0)
        if delay:
            time.sleep(delay)
        super().dispatch()


if __name__ == "__main__":
    w.serve(Bitcasa, SlowHandler)
