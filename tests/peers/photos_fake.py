#!/usr/bin/env python3
"""A fake of the photo-album data API (Atom feeds, protocol 2.0) for the
photo-album handler's tests, written from what the handler sends: OAuth 2 at
/o/oauth2/auth and /o/oauth2/token, the user feed (albums and quota) and
album feeds in pages, photo entries whose media lies on another host
(http://localhost, no token needed), album insert, update and delete with
ETag rules, resumable photo uploads and the share-link ACL call.

Controls: reset (albums "Holiday" with two photos, "Big" with 1,234 photos,
"Empty"), entry {album, title, data} adds a photo (one titled "unsized..."
has its media sent chunked, with no length), the frame's log, fault,
expire, tree (album/photo -> size, sha1) and photos (every photo in album
order, twins of one title included: album, title, size, sha1).

    photos_fake.py CONFIG_JSON
"""
import base64
import hashlib
import os
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape, quoteattr

import webdrive_fake as w

ATOM = "http://www.w3.org/2005/Atom"
GPHOTO = "http://schemas.google.com/photos/2007"
GD = "http://schemas.google.com/g/2005"
MEDIA = "http://search.yahoo.com/mrss/"
NS = ("xmlns='%s' xmlns:gphoto='%s' xmlns:gd='%s' xmlns:media='%s' "
      "xmlns:openSearch='http://a9.com/-/&#115;pec/opensearch/1.1/'" % (ATOM, GPHOTO, GD, MEDIA))
USER = "/data/feed/api/user/default"
ENTRY = "/data/entry/api/user/default"
UPLOAD = "/data/upload/resumable/media/create-session/feed/api/user/default/albumid/"
BIG = 1234
PUBLISHED = "2026-03-04T05:06:07.000Z"


def kind(term):
    return "<category scheme='%s#kind' term='%s#%s' label='%s'/>" % (GD, GPHOTO, term, term)


class Photos(w.Service):
    authorize_path = "/o/oauth2/auth"
    token_path = "/o/oauth2/token"

    def reset(self):
        super().reset()
        self.next_id = 100
        self.albums = {}
        self.photos = {}
        self.sessions = {}
        holiday = self.new_album("Holiday")
        self.new_photo(holiday, "beach.jpg", b"\xff\xd8beach" * 1000)
        self.new_photo(holiday, "sunset.png", os.urandom(70000))
        big = self.new_album("Big")
        for i in range(BIG):
            self.new_photo(big, "img%04d.jpg" % i, b"p%d" % i)
        self.new_album("Empty")

    def new_id(self):
        self.next_id += 1
        return str(self.next_id)

    def new_album(self, title):
        aid = self.new_id()
        self.albums[aid] = {"id": aid, "title": title, "version": 1, "photos": []}
        return aid

    def new_photo(self, aid, title, data, summary="", mime="image/jpeg"):
        pid = self.new_id()
        self.photos[pid] = {"id": pid, "album": aid, "title": title, "data": data, "summary": summary,
                            "mime": mime, "version": 1}
        self.albums[aid]["photos"].append(pid)
        return pid

    def tree(self):
        out = {}
        for a in self.albums.values():
            out["/" + a["title"]] = {"is_dir": True}
            for pid in a["photos"]:
                p = self.photos[pid]
                out["/%s/%s" % (a["title"], p["title"])] = {"is_dir": False, "size": len(p["data"]),
                                                           "sha1": w.sha1(p["data"]), "summary": p["summary"]}
        return out

    def control(self, what, args):
        if what == "entry":
            aid = next(a["id"] for a in self.albums.values() if a["title"] == args["album"])
            data = base64.b64decode(args["b64"]) if "b64" in args else args.get("data", "x").encode()
            self.new_photo(aid, args["title"], data, mime=args.get("mime", "image/jpeg"))
            return {}
        if what == "photos":
            return [{"album": a["title"], "title": self.photos[p]["title"], "size": len(self.photos[p]["data"]),
                     "sha1": w.sha1(self.photos[p]["data"])} for a in self.albums.values() for p in a["photos"]]
        return None

    # --- Atom ---------------------------------------------------------------
    def album_xml(self, base, a, root=True):
        url = base + USER + "/albumid/" + a["id"]
        edit = base + ENTRY + "/albumid/" + a["id"]
        used = sum(len(self.photos[p]["data"]) for p in a["photos"])
        head = "<entry %s gd:etag='\"a%d\"'>" % (NS, a["version"]) if root else "<entry gd:etag='\"a%d\"'>" % a["version"]
        return (head + "<id>%s</id><published>%s</published><updated>%s</updated>%s"
                "<title type='text'>%s</title><summary type='text'></summary>"
                "<link rel='%s#feed' type='application/atom+xml' href=%s/>"
                "<link rel='self' type='application/atom+xml' href=%s/><link rel='edit' type='application/atom+xml' href=%s/>"
                "<gphoto:id>%s</gphoto:id><gphoto:numphotos>%d</gphoto:numphotos><gphoto:bytesUsed>%d</gphoto:bytesUsed>"
                "<media:group><media:title type='plain'>%s</media:title>"
                "<media:thumbnail url=%s height='160' width='160'/></media:group></entry>"
                % (url, PUBLISHED, PUBLISHED, kind("album"), escape(a["title"]), GD, quoteattr(url), quoteattr(edit),
                   quoteattr(edit), a["id"], len(a["photos"]), used, escape(a["title"]),
                   quoteattr("http://localhost:%d/media/album%s.jpg" % (self.config["http_port"], a["id"]))))

    def photo_xml(self, base, p, root=True):
        a = p["album"]
        edit = base + ENTRY + "/albumid/%s/photoid/%s" % (a, p["id"])
        media = "http://localhost:%d/media/%s" % (self.config["http_port"], p["id"])
        head = "<entry %s gd:etag='\"p%d\"'>" % (NS, p["version"]) if root else "<entry gd:etag='\"p%d\"'>" % p["version"]
        return (head + "<id>%s</id><published>%s</published><updated>%s</updated>%s"
                "<title type='text'>%s</title><summary type='text'>%s</summary><content type=%s src=%s/>"
                "<link rel='%s#feed' type='application/atom+xml' href=%s/>"
                "<link rel='self' type='application/atom+xml' href=%s/><link rel='edit' type='application/atom+xml' href=%s/>"
                "<gphoto:id>%s</gphoto:id><gphoto:albumid>%s</gphoto:albumid><gphoto:size>%d</gphoto:size>"
                "<media:group><media:content url=%s type=%s medium='image'/>"
                "<media:thumbnail url=%s height='72' width='72'/><media:thumbnail url=%s height='144' width='144'/>"
                "</media:group></entry>"
                % (edit, PUBLISHED, PUBLISHED, kind("photo"), escape(p["title"]), escape(p["summary"]),
                   quoteattr(p["mime"]), quoteattr(media), GD,
                   quoteattr(base + USER + "/albumid/%s/photoid/%s" % (a, p["id"])), quoteattr(edit), quoteattr(edit),
                   p["id"], a, len(p["data"]), quoteattr(media), quoteattr(p["mime"]),
                   quoteattr(media + "?s=72"), quoteattr(media + "?s=144")))

    def feed(self, handler, base, path, query, feed_kind, entries, extra=""):
        start = int(query.get("start-index", "1"))
        count = int(query.get("max-results", "1000"))
        page = entries[start - 1:start - 1 + count]
        links = "<link rel='self' href=%s/>" % quoteattr(base + path)
        if start - 1 + count < len(entries):
            links += "<link rel='next' type='application/atom+xml' href=%s/>" % quoteattr(
                "%s%s?start-index=%d&max-results=%d" % (base, path, start + count, count))
        body = ("<?xml version='1.0' encoding='UTF-8'?><feed %s gd:etag='W/\"f\"'><id>%s</id>%s<title>feed</title>%s%s"
                "<openSearch:totalResults>%d</openSearch:totalResults><openSearch:startIndex>%d</openSearch:startIndex>%s</feed>"
                % (NS, base + path, kind(feed_kind), links, extra, len(entries), start, "".join(page)))
        handler.reply(200, body, "application/atom+xml; charset=UTF-8")

    def atom(self, handler, status, xml):
        handler.reply(status, "<?xml version='1.0' encoding='UTF-8'?>" + xml, "application/atom+xml; charset=UTF-8")

    def etag_ok(self, handler, current):
        match = handler.headers.get("If-Match")
        return match is None or match == "*" or match == current

    # --- Requests -------------------------------------------------------------
    def public(self, handler, method, path, query):
        # A session's own address is its credential, as with the real service.
        if path.startswith("/data/upload/session/") and method == "PUT" and handler.server.is_tls:
            self.put_chunk(handler, handler.base_url(), path.rsplit("/", 1)[1], handler.body)
            return True
        if not path.startswith("/media/") or handler.server.is_tls:
            return False
        pid = path[len("/media/"):]
        if pid in self.photos and self.photos[pid]["title"].startswith("unsized"):
            # Sent in chunks without announcing its length.
            data = self.photos[pid]["data"]
            handler.send_response(200)
            handler.send_header("Content-Type", self.photos[pid]["mime"])
            handler.send_header("Transfer-Encoding", "chunked")
            handler.end_headers()
            for i in range(0, len(data), 4096):
                piece = data[i:i + 4096]
                handler.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            handler.wfile.write(b"0\r\n\r\n")
            return True
        if pid in self.photos:
            handler.reply(200, self.photos[pid]["data"], self.photos[pid]["mime"])
        elif pid.startswith("album"):
            handler.reply(200, b"\xff\xd8thumb", "image/jpeg")
        else:
            handler.error(404, "no media")
        return True

    def api(self, h, method, path, query, body, fault):
        base = h.base_url()
        if fault and fault.get("drop_body"):
            return h.drop_body(b"<?xml version='1.0'?><feed")
        if path.startswith("/feeds/default/private/full/") and path.endswith("/acl") and method == "POST":
            if h.headers.get("Authorization", "").startswith("OAuth ") is False:
                return h.error(401, "no OAuth header")
            return self.atom(h, 201, "<entry %s/>" % NS)
        if path.startswith(UPLOAD) and method == "POST":
            return self.create_session(h, base, path[len(UPLOAD):], body)
        if path.startswith("/data/upload/session/") and method == "PUT":
            return self.put_chunk(h, base, path.rsplit("/", 1)[1], body)
        if path == USER and method == "GET":
            used = sum(len(p["data"]) for p in self.photos.values())
            extra = ("<gphoto:user>default</gphoto:user><gphoto:quotalimit>%d</gphoto:quotalimit>"
                     "<gphoto:quotacurrent>%d</gphoto:quotacurrent>" % (1 << 30, used))
            albums = [self.album_xml(base, a, False) for a in self.albums.values()]
            return self.feed(h, base, path, query, "user", albums, extra)
        if path == USER and method == "POST":
            title = self.title_of(body)
            if title is None:
                return h.error(400, "no title")
            return self.atom(h, 201, self.album_xml(base, self.albums[self.new_album(title)]))
        parts = path.split("/")
        if (path.startswith(USER + "/albumid/") or path.startswith(ENTRY + "/albumid/")) and method == "GET":
            a = self.albums.get(parts[7])
            if a is None:
                return h.error(404, "no album")
            if len(parts) == 10 and parts[8] == "photoid":
                p = self.photos.get(parts[9])
                return self.atom(h, 200, self.photo_xml(base, p)) if p else h.error(404, "no photo")
            return self.feed(h, base, path, query, "album", [self.photo_xml(base, self.photos[p], False) for p in a["photos"]])
        if path.startswith(ENTRY + "/albumid/") and method in ("PUT", "DELETE"):
            a = self.albums.get(parts[7])
            if a is None:
                return h.error(404, "no album")
            if len(parts) == 10:
                p = self.photos.get(parts[9])
                if p is None:
                    return h.error(404, "no photo")
                if not self.etag_ok(h, '"p%d"' % p["version"]):
                    return h.error(412, "ETag mismatch")
                if method == "DELETE":
                    del self.photos[p["id"]]
                    a["photos"].remove(p["id"])
                    return h.reply(200, b"", "text/plain")
                p["title"] = self.title_of(body) or p["title"]
                p["version"] += 1
                return self.atom(h, 200, self.photo_xml(base, p))
            if not self.etag_ok(h, '"a%d"' % a["version"]):
                return h.error(412, "ETag mismatch")
            if method == "DELETE":
                for pid in a["photos"]:
                    del self.photos[pid]
                del self.albums[a["id"]]
                return h.reply(200, b"", "text/plain")
            a["title"] = self.title_of(body) or a["title"]
            a["version"] += 1
            return self.atom(h, 200, self.album_xml(base, a))
        return h.error(404, "unknown request")

    @staticmethod
    def title_of(body):
        try:
            root = ET.fromstring(body)
        except ET.ParseError:
            return None
        t = root.find("{%s}title" % ATOM)
        return t.text if t is not None and t.text else None

    def create_session(self, h, base, aid, body):
        if aid == "default":
            aid = next((a["id"] for a in self.albums.values() if a["title"] == "Drop Box"), None) or self.new_album("Drop Box")
        if aid not in self.albums:
            return h.error(404, "no album")
        title, summary = h.headers.get("Slug", "upload"), ""
        try:
            root = ET.fromstring(body)
            title = root.findtext("{%s}title" % ATOM) or title
            summary = root.findtext("{%s}summary" % ATOM) or ""
        except ET.ParseError:
            pass
        sid = os.urandom(6).hex()
        self.sessions[sid] = {"album": aid, "title": title, "summary": summary, "data": bytearray(),
                              "length": int(h.headers.get("X-Upload-Content-Length") or -1),
                              "mime": h.headers.get("X-Upload-Content-Type", "image/jpeg")}
        h.reply(200, b"", "text/plain", {"Location": base + "/data/upload/session/" + sid})

    def put_chunk(self, h, base, sid, body):
        s = self.sessions.get(sid)
        if s is None:
            return h.error(404, "no session")
        rng = h.headers.get("Content-Range", "")
        if not rng.startswith("bytes "):
            return h.error(400, "no range")
        span, total = rng[6:].split("/")
        if span != "*":
            start = int(span.split("-")[0])
            if start != len(s["data"]):
                return h.error(400, "gap")
            s["data"] += body
        if total != "*" and len(s["data"]) >= int(total):
            del self.sessions[sid]
            pid = self.new_photo(s["album"], s["title"], bytes(s["data"]), s["summary"], s["mime"])
            return self.atom(h, 201, self.photo_xml(base, self.photos[pid]))
        headers = {"Range": "bytes=0-%d" % (len(s["data"]) - 1)} if s["data"] else {}
        h.reply(308, b"", "text/plain", headers)


if __name__ == "__main__":
    w.serve(Photos)
