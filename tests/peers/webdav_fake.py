#!/usr/bin/env python3
"""What Apache cannot play for the WebDAV tests, in the standard library only.

    webdav_fake.py READY_FILE

1. The Wi-Fi disk's "pref-get" call: POST /rpc.cgi on the device's own address.
   The device is asked on the default HTTP port (80) of the drive's host. One
   listener per scenario, each on its own loopback address (127.x.y.z), so
   the address alone chooses the reply. Port 80 is used when it can be bound
   (root); otherwise every listener shares one free port and the tests point
   the handler there.
2. One scenario server on 127.0.0.1 (free port) whose first path component
   chooses the reply: RFC 4331 quota properties, crafted or broken listings,
   refused, dropped and endless transfers, and uploads whose MOVE onto the
   file's name fails (below /move-fails/there/ the name then still holds a
   file, below /move-fails/gone/ it does not, below /move-fails/unknown/ it
   cannot be looked at; the temporary file is still there, or cannot be
   looked at either), or whose MOVE is carried out and its reply lost
   (below /move-lost/kept/ the name then holds the file, below
   /move-lost/vanished/ neither name does), or whose MOVE is answered only
   after 3 s (below /move-slow/; "GAVEUP MOVE path" is seen when the client
   closes the connection meanwhile). GET /seen/PATH answers the requests
   received for paths that begin with /PATH, one "METHOD path" a line.

When listening, writes READY_FILE (JSON): {"wifi_port", "wifi_hosts", "port"}.
"""
import json
import os
import random
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PREF_GET_BODY = b'{"method":"pref-get","arguments":{"infos":["disk_list"]}}'

G = 1073741824
M = 1048576


def disk(*partitions):
    return {"partition_detail": [
        {"used": u, "avai": a, "capacity": c} for (u, a, c) in partitions]}


def pref_get_reply(disks):
    return {"arguments": {"infos": {"disk_list": {"disk_detail": disks}}}, "status": "ok"}


# Wi-Fi disk scenarios: name -> (status, content type, body bytes)
WIFI_SCENARIOS = {
    # Two disks of one partition each: used 1.5G + 500M = 2134900736 bytes.
    "ok": (200, "application/json", json.dumps(pref_get_reply([
        disk(("1.5G", "2.5G", "4G")),
        disk(("500M", "524M", "1024M"))])).encode()),
    "empty": (200, "application/json", json.dumps(pref_get_reply([])).encode()),
    "notjson": (200, "text/html", b"<html><body>Login required</body></html>"),
    "nokeys": (200, "application/json", b'{"status":"ok","arguments":{}}'),
    "error": (500, "application/json", b'{"error":"internal"}'),
}


class WifiHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    scenario = "ok"

    def log_message(self, fmt, *args):
        sys.stderr.write("wifi %s: %s\n" % (self.scenario, fmt % args))

    def reply(self, status, ctype, body):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length)
        if self.path != "/rpc.cgi":
            return self.reply(404, "text/plain", b"no such call")
        # The device only answers the exact call the file manager sends.
        if (body != PREF_GET_BODY or self.headers.get("Accept") != "application/json"
                or self.headers.get("Content-Type") != "json; charset=UTF-8"
                or self.headers.get("Authorization")):
            return self.reply(400, "text/plain", b"unexpected request: " + body)
        status, ctype, payload = WIFI_SCENARIOS[self.scenario]
        self.reply(status, ctype, payload)

    def do_GET(self):
        self.reply(405, "text/plain", b"POST only")


def multistatus(responses):
    return ('<?xml version="1.0" encoding="utf-8"?>\n<D:multistatus xmlns:D="DAV:">'
            + "".join(responses) + "</D:multistatus>").encode()


def entry(href, collection=False, length=None, name=None, created="2026-01-02T03:04:05Z"):
    props = []
    if name is not None:
        props.append("<D:displayname>%s</D:displayname>" % name)
    props.append("<D:resourcetype>%s</D:resourcetype>" % ("<D:collection/>" if collection else ""))
    if length is not None:
        props.append("<D:getcontentlength>%d</D:getcontentlength>" % length)
    props.append("<D:creationdate>%s</D:creationdate>" % created)
    return ("<D:response><D:href>%s</D:href><D:propstat><D:prop>%s</D:prop>"
            "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>" % (href, "".join(props)))


def quota_reply(available, used):
    props, missing = [], []
    for name, value in (("quota-available-bytes", available), ("quota-used-bytes", used)):
        if value is None:
            missing.append("<D:%s/>" % name)
        else:
            props.append("<D:%s>%d</D:%s>" % (name, value, name))
    stats = ""
    if props:
        stats += "<D:propstat><D:prop>%s</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>" % "".join(props)
    if missing:
        stats += ("<D:propstat><D:prop>%s</D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>"
                  % "".join(missing))
    return multistatus(["<D:response><D:href>/</D:href>%s</D:response>" % stats])


QUOTA_SCENARIOS = {
    "quota-both": (7340032000, 1610612736),
    "quota-used": (None, 123456789),
    "quota-none": (None, None),
    "quota-huge": (2**63 - 1, 2**63 - 1),
}


# "METHOD path" of every request the scenario server received.
SEEN = []
SEEN_LOCK = threading.Lock()


class ScenarioHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("scenario: %s\n" % (fmt % args))

    def parse_request(self):
        ok = super().parse_request()
        if ok:
            with SEEN_LOCK:
                SEEN.append("%s %s" % (self.command, urllib.parse.unquote(self.path.split("?")[0])))
        return ok

    def second(self):
        parts = [p for p in self.path.split("?")[0].split("/") if p]
        return parts[1] if len(parts) > 1 else ""

    def reply(self, status, body, ctype="text/xml; charset=utf-8", reason=None):
        self.send_response(status, reason)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def first(self):
        parts = [p for p in self.path.split("?")[0].split("/") if p]
        return parts[0] if parts else ""

    def do_PROPFIND(self):
        body = self.read_body()
        scenario = self.first()
        if scenario in QUOTA_SCENARIOS:
            if self.headers.get("Depth") != "0" or b"quota-used-bytes" not in body:
                return self.reply(400, b"quota request expected", "text/plain")
            return self.reply(207, quota_reply(*QUOTA_SCENARIOS[scenario]), reason="Multi-Status")
        if scenario == "quota-error":
            return self.reply(403, b"forbidden", "text/plain")
        if scenario in ("quota-garbage", "list-garbage"):
            return self.reply(207, b"this is <not xml", reason="Multi-Status")
        if scenario == "list-cut":
            # Two whole entries of a longer listing, then the connection
            # closes: no length was announced, so only the XML can tell.
            whole = multistatus([entry("/list-cut/", collection=True), entry("/list-cut/a.txt", length=1),
                                 entry("/list-cut/b.txt", length=2), entry("/list-cut/c.txt", length=3)])
            self.send_response(207, "Multi-Status")
            self.send_header("Content-Type", "text/xml; charset=utf-8")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(whole[:whole.index(b"/list-cut/c.txt")])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if scenario == "list-empty-body":
            return self.reply(207, b"", reason="Multi-Status")
        if scenario == "list-drop":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if scenario == "slow":
            self.hold()
            return
        temporary = self.path.split("?")[0].rstrip("/").rsplit("/", 1)[-1].startswith(".")
        if scenario == "move-fails":
            # The MOVE was not carried out: the temporary file is there.
            where = self.second()
            if where == "there" or (where == "gone" and temporary):
                return self.reply(207, multistatus([entry(self.path, length=3)]), reason="Multi-Status")
            if where == "gone":
                return self.reply(404, b"not here", "text/plain")
            return self.reply(500, b"broken", "text/plain")
        if scenario in ("move-lost", "move-slow"):
            # The MOVE was carried out: the temporary file is gone.
            if temporary or self.second() == "vanished":
                return self.reply(404, b"not here", "text/plain")
            return self.reply(207, multistatus([entry(self.path, length=3)]), reason="Multi-Status")
        self.reply(404, b"no such scenario", "text/plain")

    def hold(self):
        # Sends nothing until the client gives up (bounded: 60 s).
        deadline = time.time() + 60
        self.connection.settimeout(0.2)
        while time.time() < deadline:
            try:
                if self.connection.recv(1, socket.MSG_PEEK) == b"":
                    return
            except socket.timeout:
                continue
            except OSError:
                return
            time.sleep(0.2)

    def do_GET(self):
        scenario = self.first()
        if scenario == "seen":
            prefix = urllib.parse.unquote(self.path.split("?")[0])[len("/seen"):]
            with SEEN_LOCK:
                lines = [line for line in SEEN if line.split(" ", 1)[1].startswith(prefix)]
            return self.reply(200, "".join(line + "\n" for line in lines).encode(), "text/plain; charset=utf-8")
        if scenario == "error-download":
            return self.reply(500, b"<html>the server broke</html>", "text/html")
        if scenario == "missing-download":
            return self.reply(404, b"<html>not here</html>", "text/html")
        if scenario == "drop-download":
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"x" * 1000)
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if scenario == "chunked-download":
            # 24 chunks of 64 KiB over about 2.4 s, without a Content-Length.
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            try:
                for _ in range(24):
                    self.wfile.write(b"10000\r\n" + b"z" * 65536 + b"\r\n")
                    self.wfile.flush()
                    time.sleep(0.1)
                self.wfile.write(b"0\r\n\r\n")
            except OSError:
                pass
            self.close_connection = True
            return
        if scenario == "endless-download":
            # 64 KiB at once, then a trickle until the client goes (bounded: 60 s).
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(1 << 30))
            self.end_headers()
            deadline = time.time() + 60
            try:
                self.wfile.write(b"y" * 65536)
                while time.time() < deadline:
                    self.wfile.write(b"y" * 1024)
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                pass
            self.close_connection = True
            return
        self.reply(404, b"no such scenario", "text/plain")

    def do_PUT(self):
        scenario = self.first()
        if scenario == "slow-upload":
            # Takes the body in slow sips until the client gives up (bounded: 60 s).
            remaining = int(self.headers.get("Content-Length") or 0)
            deadline = time.time() + 60
            try:
                while remaining > 0 and time.time() < deadline:
                    chunk = self.rfile.read(min(remaining, 16384))
                    if not chunk:
                        return
                    remaining -= len(chunk)
                    time.sleep(0.05)
            except OSError:
                return
            return self.reply(201, b"", "text/plain")
        self.read_body()
        if scenario == "refuse-upload":
            return self.reply(507, b"full", "text/plain", reason="Insufficient Storage")
        if scenario in ("move-fails", "move-lost", "move-slow"):
            return self.reply(201, b"", "text/plain")
        self.reply(404, b"no such scenario", "text/plain")

    def do_MKCOL(self):
        self.reply(405, b"exists", "text/plain")

    def do_MOVE(self):
        self.read_body()
        if self.first() == "move-fails":
            return self.reply(500, b"the move broke", "text/plain")
        if self.first() == "move-lost":
            # Done, and the connection goes before the reply does.
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if self.first() == "move-slow":
            if not self.wait_for_client(3):
                with SEEN_LOCK:
                    SEEN.append("GAVEUP MOVE %s" % urllib.parse.unquote(self.path.split("?")[0]))
                return
            return self.reply(201, b"", "text/plain")
        self.reply(404, b"no such scenario", "text/plain")

    def wait_for_client(self, seconds):
        """Waits that long; False as soon as the client closes the connection."""
        deadline = time.time() + seconds
        self.connection.settimeout(0.1)
        try:
            while time.time() < deadline:
                try:
                    if self.connection.recv(1, socket.MSG_PEEK) == b"":
                        return False
                except socket.timeout:
                    continue
        except OSError:
            return False
        finally:
            self.connection.settimeout(None)
        return True

    def do_DELETE(self):
        self.read_body()
        if self.first() in ("move-fails", "slow-upload"):
            return self.reply(204, b"", "text/plain")
        if self.first() in ("move-lost", "move-slow"):
            return self.reply(404, b"not here", "text/plain")
        self.reply(404, b"no such scenario", "text/plain")


def bind_wifi(port, addresses):
    servers = {}
    try:
        for name, address in addresses.items():
            handler = type("Wifi_" + name.replace("-", "_"), (WifiHandler,), {"scenario": name})
            servers[name] = ThreadingHTTPServer((address, port), handler)
    except OSError:
        for s in servers.values():
            s.server_close()
        raise
    return servers


def main():
    ready_file = sys.argv[1]
    rng = random.Random(os.getpid() ^ int(time.time()))
    servers = None
    wifi_port = 0
    for attempt in range(20):
        net = "127.%d.%d." % (rng.randint(1, 254), rng.randint(1, 254))
        addresses = {name: net + str(i + 1) for i, name in enumerate(WIFI_SCENARIOS)}
        ports = [80] if attempt < 5 else []
        ports.append(0)
        for port in ports:
            if port == 0:
                with socket.socket() as probe:
                    probe.bind((addresses["ok"], 0))
                    port = probe.getsockname()[1]
            try:
                servers = bind_wifi(port, addresses)
                wifi_port = port
                break
            except OSError:
                servers = None
        if servers:
            break
    if not servers:
        sys.exit("could not bind the Wi-Fi disk listeners")

    scenario = ThreadingHTTPServer(("127.0.0.1", 0), ScenarioHandler)
    scenario.daemon_threads = True
    for s in servers.values():
        s.daemon_threads = True
    for s in list(servers.values()) + [scenario]:
        threading.Thread(target=s.serve_forever, daemon=True).start()

    state = {"wifi_port": wifi_port, "wifi_hosts": addresses, "port": scenario.server_address[1]}
    tmp = ready_file + ".tmp"
    with open(tmp, "w") as f:
        json.dump(state, f)
    os.rename(tmp, ready_file)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
