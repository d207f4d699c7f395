#!/usr/bin/env python3
"""A fake of the Flickr API for the Flickr handler's tests, written from what
the handler sends: OAuth 1.0a (every call's HMAC-SHA1 signature checked, form
fields included) at /services/oauth/request_token, /services/oauth/authorize
(the plain-http page that redirects to the callback) and
/services/oauth/access_token; JSON REST methods at /services/rest/ (writes
only by POST); multipart uploads at /services/upload/ answered in XML; photo
files under /static/ for plain GETs. Controls: pending, set, entry,
max_per_page, lie_total, tree.

    flickr_fake.py CONFIG_JSON
"""
import os
import re
import time
import urllib.parse

import webdrive_fake as w

CONSUMER_KEY = "varnello-flickr-key"
CONSUMER_SECRET = "varnello-flickr-secret"
NSID = "12345678@N00"
WRITES = {"flickr.photos.delete", "flickr.photos.setMeta", "flickr.photosets.delete", "flickr.photosets.editMeta",
          "flickr.photosets.addPhoto", "flickr.photosets.removePhoto"}


def multipart(content_type, body):
    """(name, file name or None, bytes) of each part."""
    boundary = re.search(r'boundary="?([^";]+)"?', content_type).group(1).encode()
    parts = []
    for part in body.split(b"--" + boundary)[1:]:
        if part.startswith(b"--"):
            break
        headers, _, data = part.partition(b"\r\n\r\n")
        name = re.search(rb'name="([^"]*)"', headers)
        filename = re.search(rb'filename="([^"]*)"', headers)
        data = data[:-2] if data.endswith(b"\r\n") else data
        parts.append((name.group(1).decode() if name else "", filename.group(1).decode() if filename else None, data))
    return parts


class Flickr(w.OAuth1Service):
    authorize_path = "/services/oauth/authorize"

    def reset(self):
        super().reset()
        self.sets = {}            # id -> {"title", "description", "photos": [ids]}
        self.photos = {}          # id -> {"title", "data", "format", "uploaded", "description"}
        self.next_id = 7000
        self.max_per_page = 500
        self.lie_total = 0

    def new_id(self):
        self.next_id += 1
        return str(self.next_id)

    def signed(self, h, token_secret, form=()):
        return w.oauth1_signed(h, CONSUMER_KEY, CONSUMER_SECRET, token_secret, form)

    # --- records -----------------------------------------------------------------
    def photo_record(self, pid, base):
        p = self.photos[pid]
        url = "%s/static/%s_o.%s" % (base, pid, p["format"])
        return {"id": pid, "secret": "abc", "server": "1", "farm": 1, "title": p["title"], "isprimary": "0",
                "description": {"_content": p["description"]}, "dateupload": str(int(p["uploaded"])),
                "originalformat": p["format"], "url_o": url, "width_o": 640, "height_o": 480}

    def tree(self):
        tree = {}
        for s in self.sets.values():
            tree["/" + s["title"]] = {"is_dir": True}
            for pid in s["photos"]:
                tree["/%s/%s" % (s["title"], self.photos[pid]["title"])] = {"sha1": w.sha1(self.photos[pid]["data"])}
        return tree

    def control(self, what, args):
        if what == "pending":  # the request token waiting for the user's approval
            token = next(iter(self.request_tokens), "")
            return {"token": token, "secret": self.request_tokens[token]["secret"] if token else ""}
        if what == "set":
            sid = self.new_id()
            self.sets[sid] = {"title": args["title"], "description": args.get("description", ""), "photos": []}
            return {"id": sid}
        if what == "entry":  # a photo with the given title straight into the set
            sid = next(k for k, s in self.sets.items() if s["title"] == args["set"])
            pid = self.new_id()
            self.photos[pid] = {"title": args["name"], "data": args.get("data", "x").encode(), "format": "jpg",
                                "uploaded": time.time(), "description": ""}
            self.sets[sid]["photos"].append(pid)
            return {"id": pid}
        if what == "max_per_page":
            self.max_per_page = args["value"]
            return {}
        if what == "lie_total":  # listings claim this many more items than they hold
            self.lie_total = args["value"]
            return {}
        return None

    def page(self, items, query):
        per_page = min(int(query.get("per_page") or 100), self.max_per_page)
        page = max(1, int(query.get("page") or 1))
        total = len(items) + self.lie_total
        pages = max(1, (total + per_page - 1) // per_page)
        return items[(page - 1) * per_page: page * per_page], {"page": page, "pages": pages, "perpage": per_page,
                                                               "total": str(total)}

    # --- API ---------------------------------------------------------------------
    def api(self, h, method, path, query, body, fault):
        if path == "/services/oauth/request_token":
            if not self.signed(h, ""):
                return h.reply(401, "oauth_problem=signature_invalid", "text/plain")
            token, secret = os.urandom(8).hex(), os.urandom(8).hex()
            self.request_tokens[token] = {"secret": secret, "callback": query.get("oauth_callback", "")}
            return h.reply(200, "oauth_callback_confirmed=true&oauth_token=%s&oauth_token_secret=%s" % (token, secret),
                           "text/plain")
        if path == "/services/oauth/access_token":
            token = w.oauth_params(h).get("oauth_token", "")
            rt = self.request_tokens.get(token)
            if not rt or not self.signed(h, rt["secret"]) or query.get("oauth_verifier") != rt.get("verifier"):
                return h.reply(401, "oauth_problem=token_rejected", "text/plain")
            del self.request_tokens[token]
            access, secret = "access-" + os.urandom(8).hex(), os.urandom(8).hex()
            self.users[access] = secret
            return h.reply(200, "fullname=Test%%20User&oauth_token=%s&oauth_token_secret=%s&user_nsid=%s&username=tester"
                           % (access, secret, urllib.parse.quote(NSID)), "text/plain")
        if path.startswith("/static/"):  # photo files: plain GETs, no signature
            m = re.match(r"/static/(\d+)_(o|sq)\.", path)
            photo = self.photos.get(m.group(1)) if m else None
            if not photo:
                return h.reply(404, "no such photo", "text/plain")
            data = photo["data"] if m.group(2) == "o" else b"\xff\xd8square"
            if fault and fault.get("drop_body"):
                return h.drop_body(data)
            return h.reply(200, data, "image/jpeg")
        token = w.oauth_params(h).get("oauth_token", "")
        content_type = h.headers.get("Content-Type", "")
        if path == "/services/upload/":
            parts = multipart(content_type, body) if content_type.startswith("multipart/form-data") else []
            fields = [(n, d.decode()) for n, f, d in parts if f is None]
            files = [d for n, f, d in parts if n == "photo" and f is not None]
            if token not in self.users or not self.signed(h, self.users[token], fields):
                return h.reply(200, '<?xml version="1.0"?>\n<rsp stat="fail"><err code="98" msg="Invalid auth token" /></rsp>',
                               "text/xml")
            if not files:
                return h.reply(200, '<rsp stat="fail"><err code="2" msg="No photo sent" /></rsp>', "text/xml")
            pid = self.new_id()
            title = dict(fields).get("title", "")
            fmt = title.rsplit(".", 1)[-1].lower() if "." in title else "jpg"
            self.photos[pid] = {"title": title, "data": files[0], "format": fmt, "uploaded": time.time(),
                                "description": ""}
            return h.reply(200, '<?xml version="1.0" encoding="utf-8" ?>\n<rsp stat="ok">\n<photoid>%s</photoid>\n</rsp>'
                           % pid, "text/xml")
        if path != "/services/rest/":
            return h.error(404, "unknown path")
        form = urllib.parse.parse_qsl(body.decode(), keep_blank_values=True) \
            if content_type.startswith("application/x-www-form-urlencoded") else []
        if token not in self.users or not self.signed(h, self.users[token], form):
            return h.reply(200, {"stat": "fail", "code": 98, "message": "Invalid auth token"})
        args = dict(query)
        args.update(form)
        if args.get("format") != "json" or args.get("nojsoncallback") != "1":
            return h.reply(200, "jsonFlickrApi({})", "text/javascript")
        name = args.get("method", "")
        if name in WRITES and method != "POST":
            return h.reply(200, {"stat": "fail", "code": 3, "message": "This method requires POST."})
        answer = self.method(h, name, args)
        return h.reply(200, dict(answer, stat="ok") if "code" not in answer else dict(answer, stat="fail"))

    def method(self, h, name, a):
        def fail(code, message):
            return {"code": code, "message": message}
        s = self.sets.get(a.get("photoset_id", ""))
        p = self.photos.get(a.get("photo_id", ""))
        if name == "flickr.photosets.getList":
            if a.get("user_id") != NSID:
                return fail(1, "User not found")
            records = [{"id": sid, "primary": (v["photos"] or ["0"])[0], "photos": len(v["photos"]),
                        "title": {"_content": v["title"]}, "description": {"_content": v["description"]},
                        "date_create": "1700000000", "date_update": "1700000100",
                        "primary_photo_extras": {"url_m": "%s/static/%s_sq.jpg" % (h.base_url(), (v["photos"] or ["0"])[0])}}
                       for sid, v in self.sets.items()]
            items, paging = self.page(records, a)
            return {"photosets": dict(paging, photoset=items)}
        if name == "flickr.photosets.getPhotos":
            if not s:
                return fail(1, "Photoset not found")
            items, paging = self.page([self.photo_record(pid, h.base_url()) for pid in s["photos"]], a)
            paging["per_page"] = paging["perpage"]
            return {"photoset": dict(paging, id=a["photoset_id"], owner=NSID, title=s["title"], photo=items)}
        if name == "flickr.photos.getSizes":
            if not p:
                return fail(1, "Photo not found")
            base = "%s/static/%s" % (h.base_url(), a["photo_id"])
            return {"sizes": {"size": [{"label": "Square", "width": 75, "height": 75, "source": base + "_sq.jpg"},
                                       {"label": "Original", "width": 640, "height": 480,
                                        "source": "%s_o.%s" % (base, p["format"])}]}}
        if name == "flickr.photosets.addPhoto":
            if not s or not p:
                return fail(1, "Photoset or photo not found")
            if a["photo_id"] in s["photos"]:
                return fail(3, "Photo already in set")
            s["photos"].append(a["photo_id"])
            return {}
        if name == "flickr.photosets.removePhoto":
            if not s or not p or a["photo_id"] not in s["photos"]:
                return fail(2, "Photo not in set")
            s["photos"].remove(a["photo_id"])
            return {}
        if name == "flickr.photos.delete":
            if not p:
                return fail(1, "Photo not found")
            del self.photos[a["photo_id"]]
            for v in self.sets.values():
                if a["photo_id"] in v["photos"]:
                    v["photos"].remove(a["photo_id"])
            return {}
        if name == "flickr.photosets.delete":
            if not s:
                return fail(1, "Photoset not found")
            del self.sets[a["photoset_id"]]
            return {}
        if name == "flickr.photos.setMeta":
            if not p:
                return fail(1, "Photo not found")
            p["title"] = a.get("title", p["title"])
            return {}
        if name == "flickr.photosets.editMeta":
            if not s:
                return fail(1, "Photoset not found")
            s["title"] = a.get("title", s["title"])
            return {}
        return fail(112, "Method \"%s\" not found" % name)


if __name__ == "__main__":
    w.serve(Flickr)
