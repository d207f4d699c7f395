#!/usr/bin/env python3
"""A fake of the Live Connect REST API (version 5.0, JSON) for the OneDrive
handler's tests, written from what the handler sends: OAuth 2 at
/oauth20_authorize.srf (redirecting to the desktop redirect page, or with
an error once "refuse" was asked) and /oauth20_token.srf, the drive's top at
me/skydrive, items by id, listings at <folder>/files in pages of three with
a next link, downloads redirected to a public content address, uploads by
PUT into <folder>/files/<name>, COPY and MOVE with a destination, read links
and the quota. The API answers with or without the "/v5.0" prefix.

    onedrive_fake.py CONFIG_JSON
"""
import json
import os
import re
import time
import urllib.parse

import webdrive_fake as w

PAGE = 3
SCOPES = {"wl.signin", "wl.offline_access", "wl.skydrive_update"}
ROOT = "folder.root"

# Live Connect copies and moves with methods of their own.
w.Handler.do_COPY = w.Handler.dispatch
w.Handler.do_MOVE = w.Handler.dispatch


class OneDrive(w.Service):
    authorize_path = "/oauth20_authorize.srf"
    token_path = "/oauth20_token.srf"

    def reset(self):
        super().reset()
        self.items = {ROOT: {"id": ROOT, "type": "folder", "name": "SkyDrive", "parent": None, "data": b"",
                             "modified": time.time()}}
        self.refuse = False
        self.redirect = None

    def authorize(self, handler, query):
        redirect = query.get("redirect_uri", "")
        if (query.get("response_type") != "code" or not query.get("client_id") or not redirect
                or set(query.get("scope", "").split()) != SCOPES):
            return handler.reply(400, "bad authorization request", "text/plain")
        if self.refuse:
            location = redirect + "?error=access_denied&error_description=The%20user%20refused"
            return handler.reply(302, "", "text/html", {"Location": location})
        self.redirect = redirect
        return super().authorize(handler, query)

    def token(self, handler, form):
        # A desktop client names its redirect page in every exchange and has no secret.
        if form.get("redirect_uri") != self.redirect or "client_secret" in form:
            return handler.reply(400, {"error": "invalid_request", "error_description": "Bad redirect or secret"})
        return super().token(handler, form)

    def record(self, item, base):
        folder = item["type"] == "folder"
        r = {"id": item["id"], "name": item["name"], "type": item["type"], "parent_id": item["parent"],
             "size": len(item["data"]),
             "updated_time": time.strftime("%Y-%m-%dT%H:%M:%S+0000", time.gmtime(item["modified"]))}
        if folder:
            r["count"] = len(self.children(item["id"]))
            r["upload_location"] = "%s/%s/files/" % (base, item["id"])
        else:
            r["source"] = "%s/content/%s" % (base, item["id"])
        return r

    def children(self, fid):
        return sorted((i for i in self.items.values() if i["parent"] == fid), key=lambda i: i["name"])

    def named(self, parent, name):
        return next((i for i in self.items.values() if i["parent"] == parent and i["name"] == name), None)

    def add(self, kind, name, parent, data=b""):
        iid = "%s.%s" % (kind, os.urandom(5).hex())
        self.items[iid] = {"id": iid, "type": kind, "name": name, "parent": parent, "data": data,
                           "modified": time.time()}
        return self.items[iid]

    def path_of(self, iid):
        parts = []
        while iid != ROOT:
            parts.append(self.items[iid]["name"])
            iid = self.items[iid]["parent"]
        return "/" + "/".join(reversed(parts))

    def tree(self):
        return {self.path_of(i): {"is_dir": v["type"] == "folder", "sha1": w.sha1(v["data"])}
                for i, v in self.items.items() if i != ROOT}

    def control(self, what, args):
        if what == "entry":
            self.add("file", args["name"], args.get("parent", ROOT), b"x")
            return {}
        if what == "refuse":
            self.refuse = True
            return {}
        return None

    def public(self, handler, method, path, query):
        # Downloads land here, redirected from <file>/content, like the service's storage hosts.
        m = re.fullmatch(r"/storage/([^/]+)", path)
        if not m or m.group(1) not in self.items:
            return False
        handler.reply(200, self.items[m.group(1)]["data"], "application/octet-stream")
        return True

    def conflict(self, h, name):
        h.reply(400, {"error": {"code": "resource_already_exists",
                                "message": "The resource %s already exists." % name}})

    def api(self, h, method, path, query, body, fault):
        base = h.base_url()
        if path.startswith("/v5.0/"):
            path, base = path[5:], base + "/v5.0"
        if path == "/me/skydrive":
            return h.reply(200, self.record(self.items[ROOT], base))
        if path == "/me/skydrive/quota":
            used = sum(len(i["data"]) for i in self.items.values())
            return h.reply(200, {"quota": 25 * 1024 ** 3, "available": 25 * 1024 ** 3 - used})
        m = re.fullmatch(r"/([^/]+)/files/([^/]+)", path)
        if m and method == "PUT":
            parent, name = m.group(1), m.group(2)
            if self.items.get(parent, {}).get("type") != "folder":
                return h.error(404, "resource_not_found")
            existing = self.named(parent, name)
            if existing and query.get("overwrite") != "true":
                return self.conflict(h, name)
            if existing:
                existing["data"], existing["modified"] = body, time.time()
                item = existing
            else:
                item = self.add("file", name, parent, body)
            return h.reply(201, {"id": item["id"], "name": item["name"], "source": "%s/storage/%s" % (base, item["id"])})
        m = re.fullmatch(r"/([^/]+)(/files|/content|/shared_read_link)?", path)
        if not m or m.group(1) not in self.items:
            return h.error(404, "resource_not_found")
        iid, sub = m.group(1), m.group(2)
        item = self.items[iid]
        if sub == "/files" and method == "GET":
            if item["type"] != "folder":
                return h.error(400, "request_url_invalid")
            offset, limit = int(query.get("offset", 0)), min(int(query.get("limit", PAGE)), PAGE)
            entries = self.children(iid)
            reply = {"data": [self.record(i, base) for i in entries[offset:offset + limit]], "paging": {}}
            if offset + limit < len(entries):
                reply["paging"]["next"] = "%s/%s/files?limit=%d&offset=%d" % (base, iid, limit, offset + limit)
            if fault and fault.get("drop_body"):
                return h.drop_body(json.dumps(reply).encode())
            return h.reply(200, reply)
        if sub == "/content" and method == "GET":
            if item["type"] != "file":
                return h.error(400, "request_url_invalid")
            if fault and fault.get("drop_body"):
                return h.drop_body(item["data"])
            return h.reply(302, "", "text/plain", {"Location": "%s/storage/%s" % (h.base_url(), iid)})
        if sub == "/shared_read_link" and method == "GET":
            return h.reply(200, {"link": "https://onedrive.example/redir?resid=%s" % urllib.parse.quote(iid)})
        if sub:
            return h.error(400, "request_method_invalid")
        if method == "POST":
            if item["type"] != "folder":
                return h.error(400, "request_url_invalid")
            name = json.loads(body)["name"]
            if self.named(iid, name):
                return self.conflict(h, name)
            return h.reply(201, self.record(self.add("folder", name, iid), base))
        if method == "PUT":
            name = json.loads(body or b"{}").get("name", item["name"])
            if name != item["name"] and self.named(item["parent"], name):
                return self.conflict(h, name)
            item["name"] = name
            return h.reply(200, self.record(item, base))
        if method in ("COPY", "MOVE"):
            destination = json.loads(body or b"{}").get("destination")
            if self.items.get(destination, {}).get("type") != "folder":
                return h.error(400, "request_body_invalid")
            if self.named(destination, item["name"]):
                return self.conflict(h, item["name"])
            if method == "COPY":
                if item["type"] == "folder":
                    return h.error(400, "request_method_invalid")
                return h.reply(201, self.record(self.add("file", item["name"], destination, item["data"]), base))
            item["parent"] = destination
            return h.reply(200, self.record(item, base))
        if method == "DELETE":
            if iid == ROOT:
                return h.error(400, "request_method_invalid")
            doomed = [iid]
            while doomed:
                d = doomed.pop()
                doomed += [i["id"] for i in self.children(d)]
                self.items.pop(d, None)
            return h.reply(204)
        return h.reply(200, self.record(item, base))


if __name__ == "__main__":
    w.serve(OneDrive)
