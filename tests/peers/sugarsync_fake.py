#!/usr/bin/env python3
"""SugarSync's XML API over HTTPS, in the standard library only.

    sugarsync_fake.py STATE_DIR CERT KEY READY_FILE

  POST /app-authorization   user "sync@example.test", password "sync pass":
                            201, Location = a refresh token (401 otherwise;
                            password "locked": 403 with a Location)
  POST /authorization       a known refresh token: 201, Location = an access
                            token, body <authorization><user>URL</user>...
                            (the refresh token BASE/app-authorization/notxml:
                            an access token with a body that is no XML;
                            BASE/app-authorization/user-NAME: the user
                            BASE/user/NAME of QUIRK_USERS)
Every other call needs Authorization = an access token (401 otherwise):
  GET  /user                            quota and the deleted-items folder
  GET  /user/folders/contents           the top folders   (?start=&max=, paged)
  GET  /folder/ID/contents              a folder's items  (paged: hasMore, end)
  POST /folder/ID  <file>|<folder>      a new file or folder: 201, Location
  POST /folder/ID  <fileCopy source=..> a copy: 201, Location of the copy
  PUT  /file/ID | /folder/ID            rename (displayName), move (parent)
  GET|PUT /file/ID/data                 a file's bytes (a body starting
                                        "REFUSE" is refused with 500)
  DELETE /file/ID                       removes a file

The tree lives in memory. The top holds "Sync Folder" (empty), "Big" (1,200
files), "refused" (its listing answers 403), "notxml" (its listing answers
HTML), "noend" (its listing says more is to come but not where it ended),
"maxend" (two pages, the first ending at 2^31 - 1), "stuck" (every page
ends at 2^31 - 1), "endless" (pages that always say more is to come),
"onebyone" (pages of one entry each, whatever max asks), "badend" (a first
page whose end cannot be read as a number, then pages from any start),
"evil" (entries named "..", "a/b" and "ok.txt"), "blanks" (files named
" lead.txt", "trail.txt " and " both ") with the empty "blanks copied" and
"blanks moved". Every request is counted by method and path in
STATE_DIR/counts.json; one sent in the clear to the HTTPS port is counted as
"CLEAR <method> <path>" and refused. Before answering a POST, PUT or DELETE
the fake writes its tree to STATE_DIR/tree.json: each item's path of names
(as they stand, blanks kept) -> its size, or -1 for a folder; and to
STATE_DIR/contents.json each file's path -> the SHA-1 of its bytes, those
in the deleted-items folder under "/Deleted Files".
POST /__control/hold {"method", "prefix", "contains"}, GET /__control/held
and POST /__control/release hold a request on its way (peerlib.RequestHold).
"""
import hashlib
import json
import os
import itertools
import ssl
import sys
import threading
import time
import urllib.parse
import uuid
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler
from xml.sax.saxutils import escape

import peerlib

USER, PASSWORD = "sync@example.test", "sync pass"
ACCESS_KEY_ID = "QkVmYzA1OTg3NjEwMjQ5ODcxNjQ"
PRIVATE_KEY = "ZWQxNGE3YjI5OGMwZDNhNjFmYzU4ZTI3YjA5NGQxYzk"

LOCK = threading.Lock()
IDS = itertools.count(1)
STATE = {"dir": None, "base": None, "counts": {}, "refresh": set(), "access": set(), "items": {}}


# Users whose resource reads in an unusual way: quota counts missing or
# repeated.
QUIRK_USERS = {
    "nousage": "<quota><limit>1000</limit></quota>",
    "twolimits": "<quota><limit>1000</limit><limit>9</limit><usage>400</usage><usage>1</usage></quota>",
}


def new_item(name, parent, folder, data=b""):
    item_id = str(next(IDS))
    STATE["items"][item_id] = {"name": name, "parent": parent, "folder": folder, "data": data, "mtime": time.time()}
    return item_id


def ref(item_id):
    item = STATE["items"][item_id]
    return "%s/%s/%s" % (STATE["base"], "folder" if item["folder"] else "file", item_id)


def id_of(reference):
    parts = urllib.parse.urlsplit(reference or "").path.strip("/").split("/")
    return parts[1] if len(parts) >= 2 and parts[1] in STATE["items"] else None


def count(key):
    peerlib.count_request(STATE, LOCK, key)


def seed():
    STATE["root"] = new_item("", None, True)
    STATE["deleted"] = new_item("Deleted Files", None, True)
    new_item("Sync Folder", STATE["root"], True)
    big = new_item("Big", STATE["root"], True)
    for i in range(1200):
        new_item("file %04d.txt" % i, big, False, b"%d" % i)
    refused = new_item("refused", STATE["root"], True)
    new_item("kept.txt", refused, False, b"kept")
    notxml = new_item("notxml", STATE["root"], True)
    new_item("kept.txt", notxml, False, b"kept")
    noend = new_item("noend", STATE["root"], True)
    new_item("kept.txt", noend, False, b"kept")
    for name in ("maxend", "stuck", "endless", "onebyone", "badend", "blanks copied", "blanks moved"):
        new_item(name, STATE["root"], True)
    evil = new_item("evil", STATE["root"], True)
    for name in ("..", "a/b", "ok.txt"):
        new_item(name, evil, False, b"x")
    blanks = new_item("blanks", STATE["root"], True)
    for name in (" lead.txt", "trail.txt ", " both "):
        new_item(name, blanks, False, name.encode())


def dump_tree():
    def path(item_id):
        names = []
        while item_id and item_id != STATE["root"]:
            item = STATE["items"].get(item_id)
            if item is None:
                return None
            names.append(item["name"])
            item_id = item["parent"]
        return "/" + "/".join(reversed(names)) if item_id == STATE["root"] else None
    tree = {}
    for item_id, item in list(STATE["items"].items()):
        where = path(item_id)
        if where is not None and item_id != STATE["root"]:
            tree[where] = -1 if item["folder"] else len(item["data"])
    tmp = os.path.join(STATE["dir"], "tree.json.tmp")
    with open(tmp, "w") as f:
        json.dump(tree, f)
    os.replace(tmp, os.path.join(STATE["dir"], "tree.json"))
    dump_contents()


def dump_contents():
    def path(item_id):
        names = []
        while item_id not in (STATE["root"], STATE["deleted"]):
            item = STATE["items"].get(item_id)
            if item is None:
                return None
            names.append(item["name"])
            item_id = item["parent"]
        top = "" if item_id == STATE["root"] else "/Deleted Files"
        return top + "/" + "/".join(reversed(names))
    contents = {}
    for item_id, item in list(STATE["items"].items()):
        where = None if item["folder"] else path(item_id)
        if where is not None:
            contents[where] = hashlib.sha1(item["data"]).hexdigest()
    tmp = os.path.join(STATE["dir"], "contents.json.tmp")
    with open(tmp, "w") as f:
        json.dump(contents, f)
    os.replace(tmp, os.path.join(STATE["dir"], "contents.json"))


HOLD = peerlib.RequestHold()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("sugarsync %s\n" % (fmt % args))

    def send(self, status, body=b"", ctype="application/xml; charset=UTF-8", location=None):
        if self.command in ("POST", "PUT", "DELETE"):
            with LOCK:
                dump_tree()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        if location:
            self.send_header("Location", location)
        self.end_headers()
        self.wfile.write(body)

    def body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def route(self):
        url = urllib.parse.urlsplit(self.path)
        count("%s %s" % (self.command, url.path))
        return url.path.strip("/").split("/"), urllib.parse.parse_qs(url.query)

    def parse_request(self):
        if not super().parse_request():
            return False
        if isinstance(self.connection, ssl.SSLSocket):
            return True
        count("CLEAR %s %s" % (self.command, urllib.parse.urlsplit(self.path).path))
        self.close_connection = True
        self.send(403, b"<html>HTTPS only</html>", "text/html")
        return False

    def held_control(self):
        """Answers a hold control; True when the request was one."""
        path = urllib.parse.urlsplit(self.path).path
        if not path.startswith("/__control/"):
            return False
        answer = HOLD.control(path[len("/__control/"):], self.body())
        self.send(200 if answer is not None else 404, answer or b"", "application/json")
        return True

    def do_POST(self):
        if self.held_control():
            return
        parts, _ = self.route()
        data = self.body()
        if parts == ["app-authorization"]:
            doc = ET.fromstring(data)
            if doc.findtext("password") == "locked":
                # A refusal that still names a place: no token.
                return self.send(403, b"<html>Locked</html>", "text/html",
                                 location="%s/app-authorization/locked" % STATE["base"])
            if (doc.findtext("username"), doc.findtext("password")) != (USER, PASSWORD) or \
                    doc.findtext("accessKeyId") != ACCESS_KEY_ID or doc.findtext("privateAccessKey") != PRIVATE_KEY:
                return self.send(401, b"<html>Unauthorized</html>", "text/html")
            token = "%s/app-authorization/%s" % (STATE["base"], uuid.uuid4().hex)
            STATE["refresh"].add(token)
            return self.send(201, b"", location=token)
        if parts == ["authorization"]:
            doc = ET.fromstring(data)
            if doc.findtext("refreshToken") == "%s/app-authorization/notxml" % STATE["base"]:
                access = "%s/authorization/%s" % (STATE["base"], uuid.uuid4().hex)
                return self.send(201, b"Service unavailable", "text/plain", location=access)
            user = "user"
            quirk = doc.findtext("refreshToken").rsplit("/user-", 1)[-1]
            if doc.findtext("refreshToken") == "%s/app-authorization/user-%s" % (STATE["base"], quirk) and \
                    quirk in QUIRK_USERS:
                user = "user/" + quirk
            elif doc.findtext("refreshToken") not in STATE["refresh"]:
                return self.send(401, b"<html>Unauthorized</html>", "text/html")
            access = "%s/authorization/%s" % (STATE["base"], uuid.uuid4().hex)
            STATE["access"].add(access)
            body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><authorization><expiration>2030-01-01T00:00:00.000-08:00"
                    "</expiration><user>%s/%s</user></authorization>" % (STATE["base"], user)).encode()
            return self.send(201, body, location=access)
        if not self.authorized():
            return self.send(401, b"")
        if len(parts) == 2 and parts[0] == "folder" and parts[1] in STATE["items"]:
            doc = ET.fromstring(data)
            name = doc.findtext("displayName") or ""
            if doc.tag == "fileCopy":
                source = id_of(doc.get("source"))
                if not source:
                    return self.send(400, b"")
                copy = new_item(name, parts[1], False, STATE["items"][source]["data"])
                return self.send(201, b"", location=ref(copy))
            item = new_item(name, parts[1], doc.tag == "folder")
            return self.send(201, b"", location=ref(item))
        return self.send(404, b"")

    def authorized(self):
        return self.headers.get("Authorization") in STATE["access"]

    def do_GET(self):
        if self.held_control():
            return
        parts, query = self.route()
        if not self.authorized():
            return self.send(401, b"")
        if parts == ["user"]:
            used = sum(len(i["data"]) for i in STATE["items"].values())
            body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><user><username>%s</username><quota><limit>5368709120"
                    "</limit><usage>%d</usage></quota><deleted>%s</deleted></user>"
                    % (USER, used, ref(STATE["deleted"]))).encode()
            return self.send(200, body)
        if len(parts) == 2 and parts[0] == "user" and parts[1] in QUIRK_USERS:
            return self.send(200, ("<?xml version=\"1.0\"?><user>%s<deleted>%s</deleted></user>"
                                   % (QUIRK_USERS[parts[1]], ref(STATE["deleted"]))).encode())
        if parts == ["user", "folders", "contents"]:
            return self.contents(STATE["root"], query)
        if len(parts) == 3 and parts[0] == "folder" and parts[2] == "contents" and parts[1] in STATE["items"]:
            name = STATE["items"][parts[1]]["name"]
            if name == "refused":
                return self.send(403, b"<html>Forbidden</html>", "text/html")
            if name == "notxml":
                return self.send(200, b"<html><body>Service unavailable</body></html>", "text/html")
            if name in ("maxend", "stuck"):
                return self.far_pages(name, int(query.get("start", ["0"])[0]))
            if name in ("onebyone", "badend"):
                return self.short_pages(name, int(query.get("start", ["0"])[0]))
            if name == "endless":
                return self.endless_page(int(query.get("start", ["0"])[0]))
            if name == "noend":
                return self.send(200, b"<?xml version=\"1.0\" encoding=\"UTF-8\"?><collectionContents start=\"0\" "
                                      b"hasMore=\"true\"><file><displayName>kept.txt</displayName><ref>x</ref>"
                                      b"</file></collectionContents>")
            return self.contents(parts[1], query)
        if len(parts) == 3 and parts[0] == "file" and parts[2] == "data" and parts[1] in STATE["items"]:
            return self.send(200, STATE["items"][parts[1]]["data"], "application/octet-stream")
        return self.send(404, b"")

    def far_pages(self, name, start):
        # "maxend": two pages, the first ending at 2^31 - 1, and a start no
        # page begins at is refused. "stuck": every page ends at 2^31 - 1,
        # wherever it starts, and says more is to come.
        page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><collectionContents start=\"%d\" hasMore=\"%s\" end=\"%d\">" \
               "<file><displayName>%s</displayName><ref>%s/%d</ref><size>1</size></file></collectionContents>"
        if name == "stuck" or start == 0:
            body = page % (start, "true", 2147483647, "page at %d.txt" % start, ref(STATE["root"]), start)
        elif start == 2147483648:
            body = page % (start, "false", start, "last.txt", ref(STATE["root"]), start)
        else:
            return self.send(400, b"<html>Bad start</html>", "text/html")
        return self.send(200, body.encode())

    def short_pages(self, name, start):
        # "onebyone": two entries, one a page, each page ending where it
        # starts. "badend": the first page holds both entries and an end
        # that is no number; a page from any other start holds what
        # follows it.
        entries = ["first.txt", "second.txt"]
        page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><collectionContents start=\"%d\" hasMore=\"%s\" end=\"%s\">" \
               "%s</collectionContents>"
        entry = "<file><displayName>%s</displayName><ref>%s/%d</ref><size>1</size></file>"
        if name == "onebyone":
            if start >= len(entries):
                return self.send(400, b"<html>Bad start</html>", "text/html")
            shown = [start]
            end = str(start)
        else:
            shown = list(range(start, len(entries)))
            end = "two" if start == 0 else str(len(entries) - 1)
        more = "true" if (name == "badend" and start == 0) or shown[-1] + 1 < len(entries) else "false"
        body = page % (start, more, end, "".join(entry % (entries[i], ref(STATE["root"]), i) for i in shown))
        return self.send(200, body.encode())

    def endless_page(self, start):
        # Pages of 500 entries with long names (about 1 MiB a page), each
        # ending where it should and every one saying more is to come.
        entry = "<file><displayName>%08d %s.txt</displayName><ref>%s/%d</ref><size>1</size></file>"
        body = "".join(entry % (n, "x" * 2000, ref(STATE["root"]), n) for n in range(start, start + 500))
        return self.send(200, ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><collectionContents start=\"%d\" "
                               "hasMore=\"true\" end=\"%d\">%s</collectionContents>"
                               % (start, start + 499, body)).encode())

    def contents(self, folder_id, query):
        start = int(query.get("start", ["0"])[0])
        limit = int(query.get("max", ["500"])[0])
        children = [i for i, item in STATE["items"].items() if item["parent"] == folder_id]
        children.sort(key=lambda i: (not STATE["items"][i]["folder"], STATE["items"][i]["name"]))
        page = children[start:start + limit]
        out = []
        for i in page:
            item = STATE["items"][i]
            if item["folder"]:
                out.append("<collection type=\"folder\"><displayName>%s</displayName><ref>%s</ref>"
                           "<contents>%s/contents</contents></collection>" % (escape(item["name"]), ref(i), ref(i)))
            else:
                out.append("<file><displayName>%s</displayName><ref>%s</ref><size>%d</size>"
                           "<lastModified>%s</lastModified><fileData>%s/data</fileData></file>"
                           % (escape(item["name"]), ref(i), len(item["data"]),
                              time.strftime("%Y-%m-%dT%H:%M:%S.000-00:00", time.gmtime(item["mtime"])), ref(i)))
        more = start + len(page) < len(children)
        body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><collectionContents start=\"%d\" hasMore=\"%s\" end=\"%d\">"
                "%s</collectionContents>" % (start, "true" if more else "false", start + len(page) - 1, "".join(out)))
        return self.send(200, body.encode())

    def do_PUT(self):
        parts, _ = self.route()
        data = self.body()
        hold = HOLD.wait_if_armed(self, urllib.parse.urlsplit(self.path).path, data)
        try:
            self.put(parts, data)
        except OSError:
            if not hold:
                raise
            # Carried out; the client was gone.
        finally:
            HOLD.carried_out(hold)

    def put(self, parts, data):
        if not self.authorized():
            return self.send(401, b"")
        if len(parts) == 3 and parts[0] == "file" and parts[2] == "data" and parts[1] in STATE["items"]:
            if data.startswith(b"REFUSE"):
                return self.send(500, b"<html>Upload failed</html>", "text/html")
            STATE["items"][parts[1]]["data"] = data
            STATE["items"][parts[1]]["mtime"] = time.time()
            return self.send(204, b"")
        if len(parts) == 2 and parts[1] in STATE["items"]:
            doc = ET.fromstring(data)
            item = STATE["items"][parts[1]]
            if doc.findtext("displayName") is not None:
                item["name"] = doc.findtext("displayName")
            if doc.findtext("parent") is not None:
                parent = id_of(doc.findtext("parent"))
                if not parent:
                    return self.send(400, b"")
                item["parent"] = parent
            return self.send(204, b"")
        return self.send(404, b"")

    def do_DELETE(self):
        parts, _ = self.route()
        if not self.authorized():
            return self.send(401, b"")
        if len(parts) == 2 and parts[0] == "file" and parts[1] in STATE["items"]:
            del STATE["items"][parts[1]]
            return self.send(204, b"")
        return self.send(404, b"")


def main():
    state_dir, cert, key, ready = sys.argv[1:5]
    STATE["dir"] = state_dir
    seed()
    peerlib.serve_https_telling_port(Handler, cert, key, ready, STATE, clear_too=True)


if __name__ == "__main__":
    main()
