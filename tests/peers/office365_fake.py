#!/usr/bin/env python3
"""An Office 365 stand-in over HTTPS, in the standard library only.

    office365_fake.py STATE_DIR CERT KEY READY_FILE

One server on 127.0.0.1 plays every host of the sign-in (the tests send all
service hosts here):

  GET  /GetUserRealm.srf?login=U&handler=1   realm: "AuthURL" for federated users
  POST /adfs/services/trust/2005/usernamemixed   federation: a saml:Assertion
  POST /rst2.srf                                 the two compact tokens
  GET  /odc/servicemanager/userconnected         the personal site (Authorization = Compact1)
  GET  /_vti_bin/idcrl.svc/                      Set-Cookie (Authorization = BPOSIDCRL Compact0)

and a WebDAV subset (PROPFIND, GET, PUT, MKCOL, DELETE, MOVE, COPY) on each
personal site's library /personal/NAME/Documents/, on disk in STATE_DIR/sites,
answering absolute hrefs, with a "Forms" folder at the library root; every
WebDAV request needs a cookie issued here (403 otherwise).

Users (password checked inside the SOAP envelopes):
  managed@contoso.test     password "Open ]]> <sesame> & co"   (managed)
  federated@fabrikam.test  password "fed pass"                 (federated)
  nourl@contoso.test       password "x"   (user-connected answer without ConnectionUrl)
  elsewhere@contoso.test   password "y"   (user-connected answer set by POST /_connection)

Every request is counted by path in STATE_DIR/counts.json, and logged in
STATE_DIR/requests.log, one JSON object a line: the origin it reached
("https://" or "http://" and its Host header), method, path, its Cookie
and Destination headers and whether it carried an Authorization header. A
MOVE or COPY whose Destination is on another origin is refused with 502,
one outside the request's own library with 400, as SharePoint refuses
them. The server answers in the clear on its port too, and on a second
port (another origin of the same server). POST /_revoke forgets every
issued cookie (a site that no longer takes them); POST /_connection
{"host": H, "site": S} makes the user-connected answer of
elsewhere@contoso.test name H and S. POST /__control/hold {"method",
"prefix"}, GET /__control/held and POST /__control/release hold a WebDAV
request on its way (peerlib.RequestHold).
"""
import json
import os
import shutil
import ssl
import sys
import threading
import urllib.parse
import uuid
import xml.etree.ElementTree as ET
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler

import peerlib

SOAP = "http://www.w3.org/2003/05/soap-envelope"
WSSE = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd"
PSF = "http://schemas.microsoft.com/Passport/SoapServices/SOAPFault"
SAML = "urn:oasis:names:tc:SAML:1.0:assertion"
OFFICE = "urn:schemas-microsoft-com:office:office"

USERS = {
    "managed@contoso.test": "Open ]]> <sesame> & co",
    "federated@fabrikam.test": "fed pass",
    "nourl@contoso.test": "x",
    "elsewhere@contoso.test": "y",
}
FEDERATED = {"federated@fabrikam.test"}

STATE = {"dir": None, "base": None, "counts": {}, "cookies": {}, "tokens": {}, "connection": None}
LOCK = threading.Lock()


def site_name(user):
    return user.replace("@", "_").replace(".", "_")


def count(path):
    peerlib.count_request(STATE, LOCK, path)


def fault(text, code):
    return ('<S:Envelope xmlns:S="%s" xmlns:psf="%s"><S:Body><S:Fault><S:Code><S:Value>S:Sender</S:Value>'
            '</S:Code><S:Reason><S:Text xml:lang="en-US">Authentication Failure</S:Text></S:Reason>'
            '<S:Detail><psf:error><psf:value>0x80048821</psf:value><psf:internalerror><psf:code>%s</psf:code>'
            '<psf:text>%s</psf:text></psf:internalerror></psf:error></S:Detail></S:Fault></S:Body></S:Envelope>'
            % (SOAP, PSF, code, text)).encode()


def credentials(envelope):
    """User name and password of a wsse:UsernameToken, or the user of a saml:Assertion."""
    root = ET.fromstring(envelope)
    token = root.find(".//{%s}UsernameToken" % WSSE)
    if token is not None:
        return token.findtext("{%s}Username" % WSSE), token.findtext("{%s}Password" % WSSE), None
    assertion = root.find(".//{%s}Assertion" % SAML)
    if assertion is not None:
        return None, None, assertion.get("AssertionID")
    return None, None, None


HOLD = peerlib.RequestHold()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("o365 %s\n" % (fmt % args))

    def send(self, status, body=b"", ctype="text/xml; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def origin(self):
        scheme = "https" if isinstance(self.connection, ssl.SSLSocket) else "http"
        return "%s://%s" % (scheme, self.headers.get("Host", ""))

    def record(self):
        """Logs the request before it is answered, so a client that has its
        answer finds it in the log."""
        entry = {"origin": self.origin(), "method": self.command,
                 "path": urllib.parse.urlsplit(self.path).path, "cookie": self.headers.get("Cookie", ""),
                 "authorization": "Authorization" in self.headers,
                 "destination": self.headers.get("Destination", "")}
        with LOCK:
            with open(os.path.join(STATE["dir"], "requests.log"), "a") as f:
                f.write(json.dumps(entry) + "\n")

    def body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    # --- sign-in --------------------------------------------------------------
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        self.record()
        count(url.path)
        if url.path.startswith("/__control/"):
            answer = HOLD.control(url.path[len("/__control/"):], b"")
            return self.send(200 if answer is not None else 404, answer or b"", "application/json")
        if url.path == "/GetUserRealm.srf":
            user = urllib.parse.parse_qs(url.query).get("login", [""])[0]
            realm = {"NameSpaceType": "Managed", "Login": user}
            if user in FEDERATED:
                realm = {"NameSpaceType": "Federated", "AuthURL": "https://adfs.fabrikam.test/adfs/ls/?username=x"}
            return self.send(200, json.dumps(realm).encode(), "application/json")
        if url.path == "/odc/servicemanager/userconnected":
            user = STATE["tokens"].get(self.headers.get("Authorization", ""))
            if not user:
                return self.send(200, b"<html>bad token</html>", "text/html")
            connection = '<o:ConnectionHostUrl>%s/</o:ConnectionHostUrl>' % STATE["base"]
            if user == "elsewhere@contoso.test" and STATE["connection"]:
                connection = ('<o:ConnectionHostUrl>%s</o:ConnectionHostUrl><o:ConnectionUrl>%s</o:ConnectionUrl>'
                              % (STATE["connection"]["host"], STATE["connection"]["site"]))
            elif user == "nourl@contoso.test":
                connection += '<o:ConnectionUserDisplayName>%s</o:ConnectionUserDisplayName>' % user
            else:
                connection += '<o:ConnectionUrl>%s/personal/%s/</o:ConnectionUrl>' % (STATE["base"], site_name(user))
            body = ('<o:OfficeServices xmlns:o="%s"><o:Connections><o:Connection o:ServiceId="O365_SHAREPOINT">'
                    '%s</o:Connection></o:Connections></o:OfficeServices>' % (OFFICE, connection)).encode()
            return self.send(200, body)
        if url.path == "/_vti_bin/idcrl.svc/":
            auth = self.headers.get("Authorization", "")
            user = STATE["tokens"].get(auth[len("BPOSIDCRL "):]) if auth.startswith("BPOSIDCRL ") else None
            if not user:
                return self.send(401, b"")
            cookie = "SPOIDCRL=" + uuid.uuid4().hex
            STATE["cookies"][cookie] = user
            return self.send(200, b"", headers=[("Set-Cookie", cookie + "; path=/; secure; HttpOnly")])
        return self.dav()

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        self.record()
        count(path)
        data = self.body()
        if path.startswith("/__control/"):
            answer = HOLD.control(path[len("/__control/"):], data)
            return self.send(200 if answer is not None else 404, answer or b"", "application/json")
        if path == "/_revoke":
            STATE["cookies"].clear()
            return self.send(204)
        if path == "/_connection":
            STATE["connection"] = json.loads(data)
            return self.send(204)
        if path == "/adfs/services/trust/2005/usernamemixed":
            user, password, _ = credentials(data)
            if user not in FEDERATED or USERS.get(user) != password:
                return self.send(500, fault("The user name or password is incorrect.", "0x80048821"))
            assertion_id = "_" + uuid.uuid4().hex
            STATE["tokens"]["assertion:" + assertion_id] = user
            body = ('<s:Envelope xmlns:s="%s"><s:Body><t:RequestSecurityTokenResponse '
                    'xmlns:t="http://schemas.xmlsoap.org/ws/2005/02/trust"><t:RequestedSecurityToken>'
                    '<saml:Assertion xmlns:saml="%s" AssertionID="%s" Issuer="urn:fabrikam">'
                    '<saml:AttributeStatement><saml:Subject><saml:NameIdentifier>%s</saml:NameIdentifier>'
                    '</saml:Subject></saml:AttributeStatement></saml:Assertion></t:RequestedSecurityToken>'
                    '</t:RequestSecurityTokenResponse></s:Body></s:Envelope>'
                    % (SOAP, SAML, assertion_id, user)).encode()
            return self.send(200, body)
        if path == "/rst2.srf":
            try:
                user, password, assertion_id = credentials(data)
            except ET.ParseError:
                return self.send(500, fault("The request is not well-formed XML.", "0x80045C01"))
            if assertion_id:
                user = STATE["tokens"].get("assertion:" + assertion_id)
            elif user in FEDERATED or USERS.get(user) != password:
                user = None
            if not user:
                return self.send(500, fault("The entered and stored passwords do not match.", "0x80048821"))
            sp, office = "t=SP" + uuid.uuid4().hex, "t=OA" + uuid.uuid4().hex
            STATE["tokens"][sp] = user
            STATE["tokens"][office] = user
            body = ('<S:Envelope xmlns:S="%s" xmlns:wsse="%s"><S:Body><wst:RequestSecurityTokenResponseCollection '
                    'xmlns:wst="http://schemas.xmlsoap.org/ws/2005/02/trust">'
                    '<wst:RequestSecurityTokenResponse><wst:RequestedSecurityToken>'
                    '<wsse:BinarySecurityToken Id="Compact0">%s</wsse:BinarySecurityToken>'
                    '</wst:RequestedSecurityToken></wst:RequestSecurityTokenResponse>'
                    '<wst:RequestSecurityTokenResponse><wst:RequestedSecurityToken>'
                    '<wsse:BinarySecurityToken Id="Compact1">%s</wsse:BinarySecurityToken>'
                    '</wst:RequestedSecurityToken></wst:RequestSecurityTokenResponse>'
                    '</wst:RequestSecurityTokenResponseCollection></S:Body></S:Envelope>'
                    % (SOAP, WSSE, sp, office)).encode()
            return self.send(200, body)
        return self.send(404, b"")

    # --- WebDAV on the personal sites ------------------------------------------------
    def local_path(self, url_path):
        """(disk path, site prefix) of a library URL path, or (None, None)."""
        parts = [urllib.parse.unquote(p) for p in url_path.split("/") if p]
        if len(parts) < 3 or parts[0] != "personal" or parts[2] != "Documents":
            return None, None
        if any(p in (".", "..") or "\0" in p for p in parts):
            return None, None
        prefix = "/personal/%s/Documents" % parts[1]
        return os.path.join(STATE["dir"], "sites", parts[1], "Documents", *parts[3:]), prefix

    def authorized(self):
        cookie = self.headers.get("Cookie", "")
        return any(cookie.startswith(c) or (" " + c) in cookie for c in list(STATE["cookies"]))

    def href(self, prefix, disk_root, path):
        rel = os.path.relpath(path, disk_root)
        rel = "" if rel == "." else rel
        url = STATE["base"] + urllib.parse.quote(prefix + ("/" + rel if rel else ""))
        return url + "/" if os.path.isdir(path) else url

    def dav(self):
        path, prefix = self.local_path(urllib.parse.urlsplit(self.path).path)
        if path is None:
            return self.send(404, b"")
        if not self.authorized():
            return self.send(403, b"<html>403 FORBIDDEN</html>", "text/html")
        root = os.path.join(STATE["dir"], "sites", prefix.split("/")[2], "Documents")
        os.makedirs(os.path.join(root, "Forms"), exist_ok=True)
        method = self.command
        if method == "GET":
            if not os.path.isfile(path):
                return self.send(404, b"")
            with open(path, "rb") as f:
                return self.send(200, f.read(), "application/octet-stream")
        if method == "PROPFIND":
            self.body()
            if not os.path.exists(path):
                return self.send(404, b"")
            entries = [path]
            if os.path.isdir(path) and self.headers.get("Depth", "1") != "0":
                entries += [os.path.join(path, n) for n in sorted(os.listdir(path))]
            out = ['<?xml version="1.0" encoding="utf-8"?><D:multistatus xmlns:D="DAV:">']
            for p in entries:
                st = os.stat(p)
                props = "<D:displayname>%s</D:displayname>" % (os.path.basename(p.rstrip("/")) or "")
                if os.path.isdir(p):
                    props += "<D:resourcetype><D:collection/></D:resourcetype>"
                else:
                    props += "<D:resourcetype/><D:getcontentlength>%d</D:getcontentlength>" % st.st_size
                props += "<D:getlastmodified>%s</D:getlastmodified>" % formatdate(st.st_mtime, usegmt=True)
                out.append("<D:response><D:href>%s</D:href><D:propstat><D:prop>%s</D:prop>"
                           "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"
                           % (self.href(prefix, root, p), props.replace("&", "&amp;")))
            out.append("</D:multistatus>")
            return self.send(207, "".join(out).encode())
        if method == "PUT":
            data = self.body()
            if not os.path.isdir(os.path.dirname(path)):
                return self.send(409, b"")
            with open(path, "wb") as f:
                f.write(data)
            return self.send(201, b"")
        if method == "MKCOL":
            if os.path.exists(path):
                return self.send(405, b"")
            if not os.path.isdir(os.path.dirname(path.rstrip("/"))):
                return self.send(409, b"")
            os.mkdir(path)
            return self.send(201, b"")
        if method == "DELETE":
            if not os.path.exists(path):
                return self.send(404, b"")
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
            return self.send(204, b"")
        if method in ("MOVE", "COPY"):
            # As SharePoint: the Destination is an absolute URL on the origin
            # the request came to (502 otherwise), inside the same site's
            # library (400 otherwise).
            destination = urllib.parse.urlsplit(self.headers.get("Destination", ""))
            if "%s://%s" % (destination.scheme, destination.netloc) != self.origin():
                return self.send(502, b"")
            target, target_prefix = self.local_path(destination.path)
            if target is None or target_prefix != prefix:
                return self.send(400, b"")
            if not os.path.exists(path):
                return self.send(404, b"")
            if os.path.exists(target):
                if self.headers.get("Overwrite", "T") == "F":
                    return self.send(412, b"")
                shutil.rmtree(target) if os.path.isdir(target) else os.remove(target)
            if method == "MOVE":
                shutil.move(path, target)
            elif os.path.isdir(path):
                shutil.copytree(path, target)
            else:
                shutil.copy2(path, target)
            return self.send(201, b"")
        return self.send(405, b"")

    def _counted_dav(self):
        self.record()
        path = urllib.parse.urlsplit(self.path).path
        count(path)
        # Only requests without a body are held (MOVE, COPY, DELETE).
        hold = HOLD.wait_if_armed(self, path, b"")
        try:
            return self.dav()
        except OSError:
            if not hold:
                raise
            # Carried out; the client was gone.
        finally:
            HOLD.carried_out(hold)

    do_PROPFIND = do_PUT = do_MKCOL = do_DELETE = do_MOVE = do_COPY = _counted_dav


def main():
    state_dir, cert, key, ready = sys.argv[1:5]
    STATE["dir"] = state_dir
    for user in USERS:
        os.makedirs(os.path.join(state_dir, "sites", site_name(user), "Documents", "Forms"), exist_ok=True)
    peerlib.serve_https_telling_port(Handler, cert, key, ready, STATE, clear_too=True, second_port=True)


if __name__ == "__main__":
    main()
