"""Apache httpd on loopback, as a reusable peer.

    import apache_peer
    apache = apache_peer.Apache(workdir)
    apache.add_user("dav", "alice", "secret")          # Basic and Digest files
    apache.add_mount("/dav/", folder, dav=True, auth="Digest", realm="dav")
    apache.add_directives("Redirect 302 /old /dav/")
    state = apache.start()      # ports, CA file, pids ...

start(workdir) is the fixture used by the HTTP engine's tests: static files,
Basic and Digest areas, gzip, redirects, a WebDAV folder, and three https
virtual hosts (a certificate from a test CA, a self-signed one, an expired
one). The test CA and the certificates are made by `openssl` in the workdir.
Apache is started in the foreground (its pid is stopped by the fixture).
"""
import os
import pwd
import shutil
import subprocess

import peerlib

MODULE_DIR = "/usr/lib/apache2/modules"
MODULES = [
    "mpm_event", "authz_core", "authn_core", "authn_file", "auth_basic", "auth_digest",
    "authz_user", "alias", "dir", "mime", "headers", "filter", "deflate", "rewrite",
    "setenvif", "env", "dav", "dav_fs", "ssl", "socache_shmcb",
]

# Names a test maps to 127.0.0.1; the CA-signed certificate covers the first two.
TLS_HOSTS = ["localhost", "secure.varnello.test"]


def _run(argv, cwd):
    subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_test_ca(folder):
    """A test CA, a CA-signed certificate for TLS_HOSTS, a self-signed one and
    an expired CA-signed one. Returns a dict of paths."""
    os.makedirs(folder, exist_ok=True)
    p = lambda name: os.path.join(folder, name)
    # Keyed on the last file made: a run stopped half-way makes them all again.
    if not os.path.exists(p("expired.pem")):
        _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p("ca.key"),
              "-out", p("ca.pem"), "-days", "30", "-subj", "/CN=Varnello Test CA",
              "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign"], folder)
        san = ",".join("DNS:" + h for h in TLS_HOSTS) + ",IP:127.0.0.1"
        with open(p("server.ext"), "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n" % san)
        _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", p("server.key"),
              "-out", p("server.csr"), "-subj", "/CN=localhost"], folder)
        _run(["openssl", "x509", "-req", "-in", p("server.csr"), "-CA", p("ca.pem"), "-CAkey", p("ca.key"),
              "-CAcreateserial", "-out", p("server.pem"), "-days", "30", "-extfile", p("server.ext")], folder)
        _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", p("self.key"),
              "-out", p("self.pem"), "-days", "30", "-subj", "/CN=localhost",
              "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"], folder)
        # An expired certificate: signed by the CA with dates in the past.
        os.makedirs(p("ca-db"), exist_ok=True)
        open(p("ca-db/index.txt"), "w").close()
        with open(p("ca-db/serial"), "w") as f:
            f.write("1000\n")
        with open(p("ca.cnf"), "w") as f:
            f.write("""[ca]
default_ca = test
[test]
database = %(db)s/index.txt
serial = %(db)s/serial
new_certs_dir = %(db)s
default_md = sha256
policy = anything
copy_extensions = none
[anything]
commonName = supplied
[ext]
subjectAltName = %(san)s
basicConstraints = CA:FALSE
""" % {"db": p("ca-db"), "san": san})
        _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", p("expired.key"),
              "-out", p("expired.csr"), "-subj", "/CN=localhost"], folder)
        _run(["openssl", "ca", "-batch", "-config", p("ca.cnf"), "-cert", p("ca.pem"), "-keyfile", p("ca.key"),
              "-in", p("expired.csr"), "-out", p("expired.pem"), "-startdate", "20200101000000Z",
              "-enddate", "20200201000000Z", "-extensions", "ext", "-notext"], folder)
    return {k: p(v) for k, v in {
        "ca": "ca.pem", "cert": "server.pem", "key": "server.key", "self_cert": "self.pem",
        "self_key": "self.key", "expired_cert": "expired.pem", "expired_key": "expired.key"}.items()}


def _digest_line(realm, user, password):
    import hashlib
    ha1 = hashlib.md5(("%s:%s:%s" % (user, realm, password)).encode()).hexdigest()
    return "%s:%s:%s\n" % (user, realm, ha1)


def _reachable_by_others(path):
    """Whether a user other than the owner can walk down to path."""
    path = os.path.abspath(path)
    while True:
        parent = os.path.dirname(path)
        if parent == path:
            return True
        if os.path.exists(parent) and not os.stat(parent).st_mode & 0o001:
            return False
        path = parent


class Apache:
    def __init__(self, workdir):
        workdir = os.path.abspath(workdir)
        if os.geteuid() == 0 and not _reachable_by_others(workdir):
            # Apache's children run as www-data and must reach their files:
            # work in a folder of our own under /var/tmp instead (the fixture
            # removes the folder named "workdir" in the returned state).
            import tempfile
            workdir = tempfile.mkdtemp(prefix="varnello-apache-", dir="/var/tmp")
        self.workdir = workdir
        self.port = peerlib.free_port()
        self.https_port = None
        self.mounts = []
        self.directives = []
        self.vhosts = []
        self.users = []  # (realm, user, password)
        os.makedirs(self.workdir, exist_ok=True)

    # --- what to serve ---------------------------------------------------
    def add_user(self, realm, user, password):
        """A user for both Basic (htpasswd) and Digest (htdigest) areas of a realm."""
        self.users.append((realm, user, password))

    def add_mount(self, url_path, folder, dav=False, auth=None, realm="varnello", options=""):
        """Serves folder at url_path. dav=True makes it a WebDAV collection;
        auth is None, "Basic" or "Digest" (users of that realm)."""
        os.makedirs(folder, exist_ok=True)
        self.mounts.append((url_path, os.path.abspath(folder), dav, auth, realm, options))

    def add_directives(self, text):
        """Raw configuration text for the main server (redirects, headers ...)."""
        self.directives.append(text)

    def add_https(self, cert, key):
        """One more https virtual host on its own port with the same mounts;
        returns its port."""
        port = peerlib.free_port()
        self.vhosts.append((port, cert, key))
        return port

    # --- running -----------------------------------------------------------
    def _mount_text(self, url_path, folder, dav, auth, realm, options):
        lines = ['Alias "%s" "%s/"' % (url_path.rstrip("/"), folder),
                 '<Directory "%s">' % folder,
                 "  Options Indexes %s" % options, "  AllowOverride None", "  Require all granted"]
        if dav:
            lines.append("  Dav On")
        lines.append("</Directory>")
        if auth:
            lines += ['<Location "%s">' % url_path.rstrip("/"),
                      "  AuthType %s" % auth, '  AuthName "%s"' % realm]
            if auth == "Digest":
                lines += ["  AuthDigestProvider file", '  AuthUserFile "%s/digest.users"' % self.workdir,
                          '  AuthDigestDomain "%s"' % url_path]
            else:
                lines += ["  AuthBasicProvider file", '  AuthUserFile "%s/basic.users"' % self.workdir]
            lines += ["  Require valid-user", "</Location>"]
        return "\n".join(lines)

    def _config(self):
        w = self.workdir
        run_as = ""
        if os.geteuid() == 0:
            run_as = "User www-data\nGroup www-data\n"
        modules = "\n".join('LoadModule %s_module %s/mod_%s.so' % (m, MODULE_DIR, m) for m in MODULES)
        mounts = "\n".join(self._mount_text(*m) for m in self.mounts)
        vhosts = []
        for port, cert, key in self.vhosts:
            vhosts.append("Listen 127.0.0.1:%d\n<VirtualHost 127.0.0.1:%d>\n  SSLEngine on\n"
                          '  SSLCertificateFile "%s"\n  SSLCertificateKeyFile "%s"\n%s\n</VirtualHost>'
                          % (port, port, cert, key, mounts))
        return """ServerRoot "%(w)s"
ServerName localhost
%(modules)s
%(run_as)sListen 127.0.0.1:%(port)d
PidFile "%(w)s/httpd.pid"
DefaultRuntimeDir "%(w)s"
Mutex file:%(w)s default
ErrorLog "%(w)s/error.log"
LogLevel warn
LogFormat "%%h \\"%%r\\" %%>s %%b \\"%%{Authorization}i\\"" short
CustomLog "%(w)s/access.log" short
# Which connection served each request: the client's port and how many
# requests the connection had served before (kept-alive reuse on the wire).
LogFormat "%%{remote}p %%k %%r" connections
CustomLog "%(w)s/connections.log" connections
TypesConfig /etc/mime.types
DocumentRoot "%(w)s/htdocs"
<Directory />
  AllowOverride None
  Require all denied
</Directory>
<Directory "%(w)s/htdocs">
  Require all granted
</Directory>
KeepAlive On
MaxKeepAliveRequests 1000
KeepAliveTimeout 15
DavLockDB "%(w)s/davlock"
AddOutputFilterByType DEFLATE text/plain text/xml application/json
SSLSessionCache "shmcb:%(w)s/ssl_scache(512000)"
SSLRandomSeed startup builtin
%(mounts)s
%(directives)s
%(vhosts)s
""" % {"w": w, "modules": modules, "run_as": run_as, "port": self.port, "mounts": mounts,
       "directives": "\n".join(self.directives), "vhosts": "\n".join(vhosts)}

    def start(self):
        w = self.workdir
        os.makedirs(os.path.join(w, "htdocs"), exist_ok=True)
        with open(os.path.join(w, "basic.users"), "w") as f:
            import base64
            import hashlib
            for realm, user, password in self.users:
                sha = base64.b64encode(hashlib.sha1(password.encode()).digest()).decode()
                f.write("%s:{SHA}%s\n" % (user, sha))
        with open(os.path.join(w, "digest.users"), "w") as f:
            for realm, user, password in self.users:
                f.write(_digest_line(realm, user, password))
        conf = os.path.join(w, "httpd.conf")
        with open(conf, "w") as f:
            f.write(self._config())
        if os.geteuid() == 0:
            # The server's children run as www-data: they must reach and write the served folders.
            www = pwd.getpwnam("www-data")
            for path in [w] + [m[1] for m in self.mounts]:
                os.chmod(path, 0o755)
            for m in self.mounts:
                if m[2]:
                    for root, dirs, files in os.walk(m[1]):
                        os.chown(root, www.pw_uid, www.pw_gid)
                        for name in files:
                            os.chown(os.path.join(root, name), www.pw_uid, www.pw_gid)
            os.chown(w, www.pw_uid, www.pw_gid)
        check = subprocess.run(["/usr/sbin/apache2", "-f", conf, "-t"], capture_output=True, text=True)
        if check.returncode != 0:
            raise RuntimeError("apache configuration refused: " + check.stderr)
        pid = peerlib.spawn(["/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"], w, "apache.log")
        peerlib.wait_for_port(self.port)
        for port, _, _ in self.vhosts:
            peerlib.wait_for_port(port)
        return {"port": self.port, "pids": [pid], "workdir": w}


def start(workdir):
    """The HTTP engine's Apache: see the module text."""
    apache = Apache(workdir)
    workdir = apache.workdir
    tls = make_test_ca(os.path.join(workdir, "tls"))
    files = os.path.join(workdir, "files")
    os.makedirs(files, exist_ok=True)
    with open(os.path.join(files, "hello.txt"), "wb") as f:
        f.write(b"hello, world\n")
    open(os.path.join(files, "empty.bin"), "wb").close()
    with open(os.path.join(files, "1k.bin"), "wb") as f:
        f.write(bytes(i % 251 for i in range(1024)))
    with open(os.path.join(files, "big.bin"), "wb") as f:
        f.write(bytes(i % 253 for i in range(3 * 1024 * 1024 + 17)))
    with open(os.path.join(files, "text.txt"), "wb") as f:
        f.write(("A line of plain text for deflate. " * 4000).encode())
    apache.add_user("basic-realm", "alice", "wonderland")
    apache.add_user("digest-realm", "bob", "builder")
    apache.add_mount("/files/", files)
    apache.add_mount("/basic/", files, auth="Basic", realm="basic-realm")
    apache.add_mount("/digest/", files, auth="Digest", realm="digest-realm")
    apache.add_mount("/dav/", os.path.join(workdir, "dav"), dav=True)
    # One account on two shares of one server, as a WebDAV drive meets them:
    # a Basic share with a Digest share inside it, once with realms of their
    # own and once with one realm name for both schemes. Each Location comes
    # after the one it narrows (the later one wins).
    shares = os.path.join(workdir, "shares")
    for share, realms in (("twinrealm", ("twin-basic", "twin-digest")), ("onerealm", ("one-realm", "one-realm"))):
        top = os.path.join(shares, share)
        os.makedirs(os.path.join(top, "dav"), exist_ok=True)
        for folder in (top, os.path.join(top, "dav")):
            with open(os.path.join(folder, "hello.txt"), "wb") as f:
                f.write(b"hello, world\n")
        apache.add_mount("/%s/" % share, top, auth="Basic", realm=realms[0])
        apache.add_mount("/%s/dav/" % share, os.path.join(top, "dav"), dav=True, auth="Digest", realm=realms[1])
        for realm in set(realms):
            apache.add_user(realm, "carol", "two shares")
    apache.add_mount("/davdigest/", os.path.join(workdir, "davdigest"), dav=True, auth="Digest", realm="digest-realm")
    apache.add_directives("\n".join([
        "Redirect 301 /r301 /files/hello.txt",
        "Redirect 302 /r302 /files/hello.txt",
        "Redirect 303 /r303 /files/hello.txt",
        "Redirect 307 /r307 /dav/",
        "Redirect 302 /loop /loop",
        "Redirect 302 /tobasic /basic/hello.txt",
        # From the https hosts down to plain http on the same machine.
        "Redirect 302 /downgrade http://127.0.0.1:%d/basic/hello.txt" % apache.port,
    ]))
    https_port = apache.add_https(tls["cert"], tls["key"])
    self_port = apache.add_https(tls["self_cert"], tls["self_key"])
    expired_port = apache.add_https(tls["expired_cert"], tls["expired_key"])
    state = apache.start()
    state.update({"https_port": https_port, "selfsigned_port": self_port, "expired_port": expired_port,
                  "ca_file": tls["ca"], "tls_hosts": TLS_HOSTS, "files": files,
                  "dav": os.path.join(workdir, "dav"),
                  "basic_user": "alice", "basic_password": "wonderland",
                  "digest_user": "bob", "digest_password": "builder",
                  "shares_user": "carol", "shares_password": "two shares"})
    return state
