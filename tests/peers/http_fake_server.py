"""An HTTP server for what real servers will not do on demand: exact bytes,
chunked and close-delimited bodies, connections dropped mid-body, silence,
401 loops, odd headers, broken gzip, ranges and an NTLM exchange.

    http_fake_server.py PORT [HTTPS-PORT CERT KEY]

Routes (query parameters in brackets):
  /echo            the request as JSON: method, path, headers, body length,
                   SHA-256 and (when short) the body itself; [close] closes the
                   connection after it
  /bytes[n]        n bytes (i % 251), with Content-Length; also under a file
                   name's extension (/bytes.php)
  /chunked[n]      the same bytes, chunked
  /nolength[n]     the same bytes, no length, ended by closing
  /drop[n,after]   announces n bytes, sends `after`, closes
  /silent          reads the request, answers nothing
  /stall[n]        headers and half the body, then nothing
  /stallonce[key,n,ranges]  the first request of a key: /stall; later ones
                   the whole body, or with ranges=1 the rest a Range asks for
                   (ranges=2: a 206 of the whole body, whatever was asked;
                   ranges=3: a 200 of the whole body with the Content-Range
                   the Range asked for). [validator=etag|date|weak] names the
                   version (If-Range honoured), [changed=1] makes later
                   versions other bytes, [gzip=1] sends it gzip-encoded
  /slow[n,wait,ka] n bytes, the second half after a pause, the connection kept
                   (ka: a Keep-Alive header)
  /uploadstall     never reads the body, never answers
  /nohead[n]       /bytes for a GET; a HEAD finds the connection closed
  /loop401         401 with a Basic challenge, whatever is sent
  /negotiate401    401 offering only Negotiate
  /nochallenge401  401 without any challenge
  /redirect[code,to,body]  a redirect with a body of its own
  /setcookie[name,value]   sets a cookie for /
  /text[ct]        UTF-8 text "café" with the given Content-Type
  /page[ref...]    an HTML page with an image for each `ref` URL, a link for
                   each `link` URL, a style sheet for each `sheet` URL; [meta]
                   a meta charset, [text=1] non-ASCII UTF-8 text, [lm=key] a
                   Last-Modified date, later after the first request of the
                   key; [etag=key] likewise an ETag; [status] the reply's
                   status (200), [empty=1] no body at all
  /sheet[ref...]   a style sheet with a url(...) for each `ref` URL; [status]
  /range           also answers 304 to If-Modified-Since and If-None-Match
                   (never changed)
  /octal-length    "Content-Length: 010" and ten bytes
  /gzip[n]         /bytes gzip-encoded; /badgzip garbage; /truncgzip cut short
  /range[n]        /bytes with Range support; 416 past the end
  /multi           two X-Multi headers
  /status[code]    that status with a short body
  /form            a form body parsed (URL-encoded or multipart) as JSON; a
                   gzip body (Content-Encoding) is inflated first
  /ntlm            NTLM (NTLMv2) for user VARNELLO\\carol, password "ntlm-pass"
  /s3error[code,key]  an S3 error reply (application/xml) with that Code; its
                   Message counts the requests made with that key: "attempt N"
  /s3signed        checks the request's S3 signature (key "key", secret
                   "secret"; the bucket is the Host's first label): 200 when
                   it is right, else 403; the header X-Signature says
                   "valid", "invalid" or "missing" (a HEAD can read it too);
                   a header X-Check-Resource names the resource to check it
                   for, instead of the request's own
Every route answers over TLS too on a second port, when one is given with a
certificate and its key (arguments: port [https-port cert key]).
"""
import base64
import gzip
import hashlib
import hmac
import json
import os
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

NTLM_USER, NTLM_DOMAIN, NTLM_PASSWORD = "carol", "VARNELLO", "ntlm-pass"
SERVER_CHALLENGE = b"\x01\x23\x45\x67\x89\xab\xcd\xef"
ATTEMPTS = {}
ATTEMPTS_LOCK = threading.Lock()
STALLED = set()  # keys of /stallonce already stalled once
STALLED_LOCK = threading.Lock()
STALL_DATES = {1: "Mon, 07 Dec 2026 10:00:00 GMT", 2: "Mon, 07 Dec 2026 11:00:00 GMT"}


# The sub-resources an S3 signature covers (the other query parameters it
# leaves out).
S3_SUBRESOURCES = {"acl", "cors", "delete", "lifecycle", "location", "logging", "notification", "partNumber",
                   "policy", "requestPayment", "restore", "tagging", "torrent", "uploadId", "uploads", "versionId",
                   "versioning", "versions", "website", "response-cache-control", "response-content-disposition",
                   "response-content-encoding", "response-content-language", "response-content-type",
                   "response-expires"}


def s3_signature_state(handler):
    """'valid', 'invalid' or 'missing': the request's signature version 2
    checked for its own method, headers and resource."""
    auth = handler.headers.get("Authorization")
    if not auth:
        return "missing"
    url = urllib.parse.urlsplit(handler.path)
    bucket = handler.headers.get("Host", "").split(":")[0].split(".")[0]
    params = sorted(p for p in url.query.split("&") if p and p.split("=")[0] in S3_SUBRESOURCES)
    resource = "/" + bucket + url.path + ("?" + "&".join(params) if params else "")
    resource = handler.headers.get("X-Check-Resource", resource)
    amz = sorted((k.lower(), v.strip()) for k, v in handler.headers.items() if k.lower().startswith("x-amz-"))
    date = "" if any(k == "x-amz-date" for k, _ in amz) else handler.headers.get("Date", "")
    text = "\n".join([handler.command, handler.headers.get("Content-MD5", ""), handler.headers.get("Content-Type", ""),
                      date]) + "\n" + "".join("%s:%s\n" % kv for kv in amz) + resource
    signature = base64.b64encode(hmac.new(b"secret", text.encode("utf-8"), hashlib.sha1).digest()).decode()
    return "valid" if auth == "AWS key:" + signature else "invalid"


def pattern(n):
    block = bytes(i % 251 for i in range(251 * 64))
    out = bytearray()
    while len(out) < n:
        out += block
    return bytes(out[:n])


def md4(data):
    try:
        return hashlib.new("md4", data).digest()
    except ValueError:
        pass
    # RFC 1320, for OpenSSL builds without MD4.
    def f(x, y, z): return (x & y) | (~x & z)
    def g(x, y, z): return (x & y) | (x & z) | (y & z)
    def h(x, y, z): return x ^ y ^ z
    def rol(v, s): v &= 0xffffffff; return ((v << s) | (v >> (32 - s))) & 0xffffffff
    msg = bytearray(data) + b"\x80"
    while len(msg) % 64 != 56:
        msg += b"\x00"
    msg += struct.pack("<Q", len(data) * 8)
    a, b, c, d = 0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476
    for off in range(0, len(msg), 64):
        X = struct.unpack("<16I", msg[off:off + 64])
        aa, bb, cc, dd = a, b, c, d
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            if i % 4 == 0: a = rol(a + f(b, c, d) + X[k], s)
            elif i % 4 == 1: d = rol(d + f(a, b, c) + X[k], s)
            elif i % 4 == 2: c = rol(c + f(d, a, b) + X[k], s)
            else: b = rol(b + f(c, d, a) + X[k], s)
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            if i % 4 == 0: a = rol(a + g(b, c, d) + X[k] + 0x5a827999, s)
            elif i % 4 == 1: d = rol(d + g(a, b, c) + X[k] + 0x5a827999, s)
            elif i % 4 == 2: c = rol(c + g(d, a, b) + X[k] + 0x5a827999, s)
            else: b = rol(b + g(c, d, a) + X[k] + 0x5a827999, s)
        order = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)
        for i in range(16):
            k, s = order[i], (3, 9, 11, 15)[i % 4]
            if i % 4 == 0: a = rol(a + h(b, c, d) + X[k] + 0x6ed9eba1, s)
            elif i % 4 == 1: d = rol(d + h(a, b, c) + X[k] + 0x6ed9eba1, s)
            elif i % 4 == 2: c = rol(c + h(d, a, b) + X[k] + 0x6ed9eba1, s)
            else: b = rol(b + h(c, d, a) + X[k] + 0x6ed9eba1, s)
        a, b, c, d = (a + aa) & 0xffffffff, (b + bb) & 0xffffffff, (c + cc) & 0xffffffff, (d + dd) & 0xffffffff
    return struct.pack("<4I", a, b, c, d)


def ntlm_type2():
    target = NTLM_DOMAIN.encode("utf-16-le")
    info = struct.pack("<HH", 2, len(target)) + target + struct.pack("<HH", 0, 0)
    flags = 0x00000001 | 0x00000004 | 0x00000200 | 0x00010000 | 0x00080000 | 0x00800000
    header_len = 48
    msg = b"NTLMSSP\x00" + struct.pack("<I", 2)
    msg += struct.pack("<HHI", len(target), len(target), header_len)
    msg += struct.pack("<I", flags) + SERVER_CHALLENGE + b"\x00" * 8
    msg += struct.pack("<HHI", len(info), len(info), header_len + len(target))
    return msg + target + info


def ntlm_check_type3(msg):
    """(user, domain, password right?) of a type-3 message."""
    def field(offset):
        length, _, pos = struct.unpack("<HHI", msg[offset:offset + 8])
        return msg[pos:pos + length]
    nt = field(20)
    domain = field(28).decode("utf-16-le", "replace")
    user = field(36).decode("utf-16-le", "replace")
    nt_hash = md4(NTLM_PASSWORD.encode("utf-16-le"))
    key = hmac.new(nt_hash, (user.upper() + domain).encode("utf-16-le"), "md5").digest()
    ok = False
    if len(nt) > 24:
        proof, blob = nt[:16], nt[16:]
        ok = hmac.new(key, SERVER_CHALLENGE + blob, "md5").digest() == proof
    return user, domain, ok


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args))

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is not None:
            return self.rfile.read(int(length))
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            out = b""
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return out
                out += self.rfile.read(size)
                self.rfile.readline()
        return b""

    def send(self, code, body=b"", headers=(), content_type="application/octet-stream", length=True):
        self.send_response(code)
        if content_type:
            self.send_header("Content-Type", content_type)
        for k, v in headers:
            self.send_header(k, v)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        n = int(q.get("n", "1000"))
        route = url.path
        if getattr(self, "die_next", False):
            # A kept connection that turned out dead: closed without a reply.
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if self.path.startswith("http://") and "strictproxy" in q:
            # Asked as a proxy that answers missing or wrong credentials with
            # another 407 (tinyproxy answers wrong ones with a 401).
            expected = "Basic " + base64.b64encode(b"strict:right").decode()
            if self.headers.get("Proxy-Authorization") != expected:
                self.read_body()
                challenge = [] if "nochallenge" in q else [("Proxy-Authenticate", 'Basic realm="strict"')]
                self.send(407, b"no", challenge, "text/plain")
                return
        if route == "/uploadstall":
            time.sleep(float(q.get("wait", "30")))
            self.close_connection = True
            return
        body = self.read_body()
        if route == "/echo":
            doc = {"method": self.command, "path": self.path, "headers": dict(self.headers.items()),
                   "header_list": list(self.headers.items()), "length": len(body),
                   "sha256": hashlib.sha256(body).hexdigest(), "client_port": self.client_address[1]}
            if len(body) <= 65536:
                doc["body"] = body.decode("latin-1")
            extra = [("Keep-Alive", q["ka"])] if "ka" in q else []
            if "close" in q:
                extra.append(("Connection", "close"))
                self.close_connection = True
            self.send(200, json.dumps(doc).encode(), extra, content_type="application/json")
            # The next request on this connection finds it dead.
            self.die_next = "die_next" in q
        elif route == "/bytes" or route.startswith("/bytes."):
            self.send(200, pattern(n))
        elif route == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            data = pattern(n)
            for i in range(0, len(data), 1000):
                piece = data[i:i + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif route == "/nolength":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            data = pattern(n)
            if "wait" in q:
                # Half, then the rest after a pause.
                self.wfile.write(data[:n // 2])
                self.wfile.flush()
                time.sleep(float(q["wait"]))
                data = data[n // 2:]
            self.wfile.write(data)
            self.close_connection = True
        elif route == "/drop":
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write(pattern(int(q.get("after", "100"))))
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        elif route == "/silent":
            time.sleep(float(q.get("wait", "30")))
            self.close_connection = True
        elif route == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            if self.command == "HEAD":
                return
            self.wfile.write(pattern(n // 2))
            self.wfile.flush()
            time.sleep(float(q.get("wait", "30")))
            self.close_connection = True
        elif route == "/stallonce":
            key = q.get("key", "")
            with STALLED_LOCK:
                first = key not in STALLED
                STALLED.add(key)
            version = 2 if not first and q.get("changed") == "1" else 1
            data = pattern(n) if version == 1 else bytes((b + 7) % 251 for b in pattern(n))
            validators = {"etag": [("ETag", '"v%d"' % version)],
                          "weak": [("ETag", 'W/"v%d"' % version), ("Last-Modified", STALL_DATES[version])],
                          "date": [("Last-Modified", STALL_DATES[version])]}.get(q.get("validator"), [])
            encoding = []
            if q.get("gzip") == "1":
                data = gzip.compress(data, compresslevel=0)
                encoding = [("Content-Encoding", "gzip")]
            rng = self.headers.get("Range")
            if_range = self.headers.get("If-Range")
            if if_range is not None and if_range not in [v for _, v in validators if not v.startswith("W/")]:
                rng = None  # another version: the whole of this one
            if first:
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                for k, v in validators + encoding:
                    self.send_header(k, v)
                self.end_headers()
                self.wfile.write(data[:len(data) // 2])
                self.wfile.flush()
                time.sleep(float(q.get("wait", "10")))
                self.close_connection = True
            elif q.get("ranges") in ("1", "2", "3") and rng and rng.startswith("bytes="):
                start = int(rng[6:].split("-")[0]) if q.get("ranges") in ("1", "3") else 0
                content_range = [("Content-Range", "bytes %d-%d/%d" % (start, n - 1, n))]
                if q.get("ranges") == "3":
                    self.send(200, data, content_range + validators)
                else:
                    self.send(206, data[start:], content_range + validators)
            else:
                self.send(200, data, validators + encoding)
        elif route == "/slow":
            data = pattern(n)
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            if "ka" in q:
                self.send_header("Keep-Alive", q["ka"])
            self.end_headers()
            self.wfile.write(data[:n // 2])
            self.wfile.flush()
            time.sleep(float(q.get("wait", "1")))
            self.wfile.write(data[n // 2:])
        elif route == "/nohead":
            if self.command == "HEAD":
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            self.send(200, pattern(n))
        elif route == "/loop401":
            self.send(401, b"no", [("WWW-Authenticate", 'Basic realm="loop"')], "text/plain")
        elif route == "/negotiate401":
            self.send(401, b"no", [("WWW-Authenticate", "Negotiate")], "text/plain")
        elif route == "/nochallenge401":
            self.send(401, b"no", [], "text/plain")
        elif route == "/redirect":
            cookie = [("Set-Cookie", q["cookie"] + "; Path=/")] if "cookie" in q else []
            self.send(int(q.get("code", "302")), b"REDIRECT BODY " * 10,
                      [("Location", q.get("to", "/bytes"))] + cookie, "text/plain")
        elif route == "/setcookie":
            self.send(200, b"ok", [("Set-Cookie", "%s=%s; Path=/" % (q.get("name", "c"), q.get("value", "v")))],
                      "text/plain")
        elif route == "/text":
            self.send(200, "café ünï".encode("utf-8"), content_type=q.get("ct", "text/plain"))
        elif route == "/page":
            lists = urllib.parse.parse_qs(url.query)
            quote = lambda r: r.replace("&", "&amp;").replace('"', "&quot;")
            imgs = "".join('<img src="%s">' % quote(r) for r in lists.get("ref", []))
            links = "".join('<a href="%s">link</a>' % quote(r) for r in lists.get("link", []))
            sheets = "".join('<link rel="stylesheet" href="%s">' % quote(r) for r in lists.get("sheet", []))
            meta = '<meta charset="%s">' % q["meta"] if "meta" in q else ""
            head = "<head>%s%s</head>" % (meta, sheets) if meta or sheets else ""
            text = "<p>café ünï</p>" if q.get("text") == "1" else ""
            extra = []
            if "lm" in q:  # the page of that key is changed after its first request
                with STALLED_LOCK:
                    seen = "page:" + q["lm"] in STALLED
                    STALLED.add("page:" + q["lm"])
                extra = [("Last-Modified", STALL_DATES[2 if seen else 1])]
            if "etag" in q:
                with STALLED_LOCK:
                    seen = "page:" + q["etag"] in STALLED
                    STALLED.add("page:" + q["etag"])
                extra = [("ETag", '"p%d"' % (2 if seen else 1))]
            body = ("<html>%s<body>%s%s%s</body></html>" % (head, text, imgs, links)).encode("utf-8")
            self.send(int(q.get("status", "200")), b"" if q.get("empty") == "1" else body, extra,
                      content_type=q.get("ct", "text/html"))
        elif route == "/sheet":
            refs = urllib.parse.parse_qs(url.query).get("ref", [])
            css = "".join(".r%d { background: url(%s) }\n" % (i, r) for i, r in enumerate(refs))
            self.send(int(q.get("status", "200")), css.encode("utf-8"), content_type="text/css")
        elif route == "/octal-length":
            self.send_response(200)
            self.send_header("Content-Length", "010")
            self.end_headers()
            self.wfile.write(b"0123456789")
        elif route == "/gzip":
            self.send(200, gzip.compress(pattern(n)), [("Content-Encoding", "gzip")])
        elif route == "/badgzip":
            self.send(200, b"this is not gzip at all" * 10, [("Content-Encoding", "gzip")])
        elif route == "/truncgzip":
            self.send(200, gzip.compress(pattern(n))[:-40], [("Content-Encoding", "gzip")])
        elif route == "/range":
            data = pattern(n)
            rng = self.headers.get("Range")
            if self.headers.get("If-Modified-Since") or self.headers.get("If-None-Match"):
                self.send(304, b"", length=False, content_type=None)
                return
            if rng and rng.startswith("bytes="):
                start = int(rng[6:].split("-")[0])
                if start >= n:
                    self.send(416, b"RANGE NOT SATISFIABLE", [("Content-Range", "bytes */%d" % n)], "text/plain")
                    return
                self.send(206, data[start:], [("Content-Range", "bytes %d-%d/%d" % (start, n - 1, n))])
            else:
                self.send(200, data)
        elif route == "/pac":
            self.send(200, q.get("js", "").encode("utf-8"), content_type="application/x-ns-proxy-autoconfig")
        elif route == "/multi":
            self.send(200, b"m", [("X-Multi", "one"), ("X-Multi", "two")], "text/plain")
        elif route == "/status":
            self.send(int(q.get("code", "500")), b"status body", content_type="text/plain")
        elif route == "/form":
            ctype = self.headers.get("Content-Type", "")
            if "gzip" in self.headers.get("Content-Encoding", ""):
                body = gzip.decompress(body)
            doc = {"content_type": ctype, "fields": [], "files": []}
            if ctype.startswith("application/x-www-form-urlencoded"):
                doc["fields"] = urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True)
            elif ctype.startswith("multipart/form-data"):
                import email.parser
                import email.policy
                msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
                    b"Content-Type: " + ctype.encode() + b"\r\n\r\n" + body)
                for part in msg.iter_parts():
                    name = part.get_param("name", header="content-disposition")
                    filename = part.get_param("filename", header="content-disposition")
                    payload = part.get_payload(decode=True) or b""
                    if filename is None:
                        doc["fields"].append([name, payload.decode("utf-8")])
                    else:
                        doc["files"].append({"name": name, "filename": filename,
                                             "type": part.get_content_type(), "length": len(payload),
                                             "sha256": hashlib.sha256(payload).hexdigest()})
            self.send(200, json.dumps(doc).encode(), content_type="application/json")
        elif route == "/ntlm":
            auth = self.headers.get("Authorization", "")
            if not auth.startswith("NTLM "):
                self.send(401, b"", [("WWW-Authenticate", "NTLM")], "text/plain")
                return
            msg = base64.b64decode(auth[5:])
            kind = struct.unpack("<I", msg[8:12])[0]
            if kind == 1:
                self.send(401, b"", [("WWW-Authenticate", "NTLM " + base64.b64encode(ntlm_type2()).decode())],
                          "text/plain")
                return
            user, domain, ok = ntlm_check_type3(msg)
            if ok and user.lower() == NTLM_USER and domain.upper() == NTLM_DOMAIN:
                self.send(200, ("welcome %s\\%s" % (domain, user)).encode(), content_type="text/plain")
            else:
                self.send(401, b"denied", [("WWW-Authenticate", "NTLM")], "text/plain")
        elif route == "/s3signed":
            state = s3_signature_state(self)
            self.send(200 if state == "valid" else 403, state.encode(), [("X-Signature", state)], "text/plain")
        elif route == "/s3error":
            with ATTEMPTS_LOCK:
                ATTEMPTS[q.get("key", "")] = attempt = ATTEMPTS.get(q.get("key", ""), 0) + 1
            if attempt == 1 and q.get("first") == "drop":
                # The first attempt's connection closes without a reply.
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            if attempt == 1 and q.get("first") == "stall":
                # The first attempt hears nothing until the client gives up.
                time.sleep(float(q.get("wait", "3")))
                self.close_connection = True
                return
            xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>%s</Code><Message>attempt %d</Message>'
                   '<RequestId>1</RequestId></Error>' % (q.get("code", "RequestTimeout"), attempt))
            self.send(400, xml.encode(), content_type="application/xml")
        else:
            self.send(404, b"not here", content_type="text/plain")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PROPFIND = do_MKCOL = do_MOVE = do_COPY = \
        do_PATCH = handle_any


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


class TLSServer(Server):
    """The same routes over TLS; the handshake runs in the request's own
    thread, so a client that never makes one holds nobody else up."""
    context = None

    def finish_request(self, request, client_address):
        import ssl
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(request, client_address)
        finally:
            request.close()


if __name__ == "__main__":
    port = int(sys.argv[1])
    if len(sys.argv) > 4:  # https port, certificate, key
        import ssl
        TLSServer.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        TLSServer.context.load_cert_chain(sys.argv[3], sys.argv[4])
        tls_server = TLSServer(("127.0.0.1", int(sys.argv[2])), Handler)
        threading.Thread(target=tls_server.serve_forever, daemon=True).start()
    with Server(("127.0.0.1", port), Handler) as server:
        server.serve_forever()
