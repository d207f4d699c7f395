#!/usr/bin/env python3
"""A fake of the Box content API (version 2.0, JSON) for the Box handler's
tests, written from what the handler sends: OAuth 2 at /api/oauth2/authorize
and /oauth2/token, items by id under /2.0/files and /2.0/folders, multipart
uploads at /api/2.0/files/content, shared links, thumbnails and the user's
quota. Folder listings come in pages of three.

    box_fake.py CONFIG_JSON
"""
import email
import json
import os
import re
import time

import webdrive_fake as w

PAGE = 3


class Box(w.Service):
    authorize_path = "/api/oauth2/authorize"
    token_path = "/oauth2/token"

    def reset(self):
        super().reset()
        self.items = {"0": {"id": "0", "type": "folder", "name": "All Files", "parent": None, "data": b"",
                            "modified": time.time()}}
        self.links = set()
        self.overcount = 0  # listings claim this many more entries than they hold

    def token(self, handler, form):
        # Box answers a refresh with a new refresh token; the old one is spent.
        if form.get("grant_type") == "refresh_token" and form.get("refresh_token") in self.refresh_tokens:
            self.refresh_tokens.discard(form["refresh_token"])
            access, refresh = self.new_token("access"), self.new_token("refresh")
            self.access_tokens.add(access)
            self.refresh_tokens.add(refresh)
            return handler.reply(200, {"access_token": access, "refresh_token": refresh, "token_type": "bearer",
                                       "expires_in": 3600})
        return super().token(handler, form)

    def record(self, item):
        r = {"type": item["type"], "id": item["id"], "name": item["name"],
             "modified_at": time.strftime("%Y-%m-%dT%H:%M:%S-00:00", time.gmtime(item["modified"])),
             "parent": {"type": "folder", "id": item["parent"]} if item["parent"] else None,
             "size": len(item["data"])}
        if item["id"] in self.links:
            r["shared_link"] = {"url": "https://app.box.example/s/%s" % item["id"], "access": "open",
                                "unshared_at": "2031-02-03T04:05:06-00:00"}
        return r

    def children(self, fid):
        return sorted((i for i in self.items.values() if i["parent"] == fid), key=lambda i: i["name"])

    def named(self, parent, name):
        return next((i for i in self.items.values() if i["parent"] == parent and i["name"] == name), None)

    def add(self, kind, name, parent, data=b""):
        iid = ("d" if kind == "folder" else "f") + os.urandom(5).hex()
        self.items[iid] = {"id": iid, "type": kind, "name": name, "parent": parent, "data": data,
                           "modified": time.time()}
        return self.items[iid]

    def path_of(self, iid):
        parts = []
        while iid != "0":
            parts.append(self.items[iid]["name"])
            iid = self.items[iid]["parent"]
        return "/" + "/".join(reversed(parts))

    def tree(self):
        return {self.path_of(i): {"is_dir": v["type"] == "folder", "sha1": w.sha1(v["data"])}
                for i, v in self.items.items() if i != "0"}

    def control(self, what, args):
        if what == "entry":
            self.add("file", args["name"], args.get("parent", "0"), b"x")
            return {}
        if what == "overcount":
            self.overcount = args["n"]
            return {}
        return None

    def conflict(self, h, existing):
        h.reply(409, {"type": "error", "status": 409, "code": "item_name_in_use",
                      "message": "Item with the same name already exists",
                      "context_info": {"conflicts": {"type": existing["type"], "id": existing["id"]}}})

    def multipart(self, h, body):
        message = email.message_from_bytes(b"Content-Type: " + h.headers["Content-Type"].encode() + b"\r\n\r\n" + body)
        fields = {}
        for part in message.get_payload():
            fields[part.get_param("name", header="content-disposition")] = part.get_payload(decode=True)
        return fields

    def api(self, h, method, path, query, body, fault):
        if path == "/2.0/users/me":
            used = sum(len(i["data"]) for i in self.items.values())
            return h.reply(200, {"type": "user", "id": "1234", "login": "box@example.com",
                                 "space_amount": 10 * 1024 ** 3, "space_used": used})
        if path == "/2.0/folders" and method == "POST":
            meta = json.loads(body)
            parent = meta["parent"]["id"]
            if parent not in self.items:
                return h.error(404, "not_found")
            existing = self.named(parent, meta["name"])
            if existing:
                return self.conflict(h, existing)
            return h.reply(201, self.record(self.add("folder", meta["name"], parent)))
        if path == "/api/2.0/files/content" and method == "POST":
            fields = self.multipart(h, body)
            attributes = json.loads(fields["attributes"])
            parent = attributes["parent"]["id"]
            existing = self.named(parent, attributes["name"])
            if existing:
                return self.conflict(h, existing)
            item = self.add("file", attributes["name"], parent, fields.get("file") or b"")
            return h.reply(201, {"total_count": 1, "entries": [self.record(item)]})
        m = re.fullmatch(r"/api/2.0/files/([^/]+)/content", path)
        if m and method == "POST":
            item = self.items.get(m.group(1))
            if not item:
                return h.error(404, "not_found")
            item["data"] = self.multipart(h, body).get("file") or b""
            item["modified"] = time.time()
            return h.reply(201, {"total_count": 1, "entries": [self.record(item)]})
        m = re.fullmatch(r"/2.0/(files|folders)/([^/]+)(/items|/content|/copy|/thumbnail\.png)?", path)
        if not m:
            return h.error(404, "unknown call")
        kind, iid, sub = m.group(1), m.group(2), m.group(3)
        item = self.items.get(iid)
        if not item or (item["type"] == "folder") != (kind == "folders"):
            return h.error(404, "not_found")
        if sub == "/items":
            offset, entries = int(query.get("offset", 0)), self.children(iid)
            return h.reply(200, {"total_count": len(entries) + self.overcount, "offset": offset, "limit": PAGE,
                                 "entries": [self.record(i) for i in entries[offset:offset + PAGE]]})
        if sub == "/content":
            if fault and fault.get("drop_body"):
                return h.drop_body(item["data"])
            return h.reply(200, item["data"], "application/octet-stream")
        if sub == "/thumbnail.png":
            return h.reply(200, b"\x89PNG\r\n\x1a\nthumbnail", "image/png")
        if sub == "/copy" and method == "POST":
            parent = json.loads(body)["parent"]["id"]
            if self.named(parent, item["name"]):
                return self.conflict(h, self.named(parent, item["name"]))
            return h.reply(201, self.record(self.add(item["type"], item["name"], parent, item["data"])))
        if method == "PUT":
            meta = json.loads(body or b"{}")
            if "shared_link" in meta:
                self.links.add(iid)
            if "name" in meta:
                if self.named(item["parent"], meta["name"]):
                    return self.conflict(h, self.named(item["parent"], meta["name"]))
                item["name"] = meta["name"]
            if "parent" in meta:
                if self.named(meta["parent"]["id"], item["name"]):
                    return self.conflict(h, self.named(meta["parent"]["id"], item["name"]))
                item["parent"] = meta["parent"]["id"]
            return h.reply(200, self.record(item))
        if method == "DELETE":
            if item["type"] == "folder" and self.children(iid) and query.get("recursive") != "true":
                return h.error(400, "folder_not_empty")
            doomed = [iid]
            while doomed:
                d = doomed.pop()
                doomed += [i["id"] for i in self.children(d)]
                self.items.pop(d, None)
            return h.reply(204)
        return h.reply(200, self.record(item))


if __name__ == "__main__":
    w.serve(Box)
