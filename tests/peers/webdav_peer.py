"""WebDAV test peer: Apache httpd with mod_dav/mod_dav_fs, nginx and lighttpd
(see webdav_servers.py), and a small fake.

Apache serves two shares from the peer's folder on three ports of 127.0.0.1:

    /       -> root/     Basic authentication
    /dav    -> davroot/  Digest authentication

and refuses MKCOL below /nofolders/ of the root share, and below any folder
of it named "nofolders" (files may be written there, folders not made), and
MKCOL and MOVE below /nomoves/ (files may be
written and removed there, but neither folders made nor items moved).

on plain http, on https with a certificate of a test CA (validated through
"ca_file"), and on https with a self-signed certificate (accepted only with
validation off). One user name and password work for both shares.

nginx and lighttpd each serve one folder at "/" (Basic, plain http); the
state's "servers" names the three families' root shares side by side.

webdav_fake.py plays the Wi-Fi disk's quota call and the server replies
Apache never gives (quota properties, broken listings, refused or endless
transfers); see that file.
"""
import hashlib
import base64
import json
import os
import pwd
import subprocess
import sys

import apache_peer
import peerlib
import webdav_servers

HERE = os.path.dirname(os.path.abspath(__file__))
MODULES = "/usr/lib/apache2/modules"
USER = "alice"
PASSWORD = "Open sesame:42"
BASIC_REALM = "Varnello WebDAV"
DIGEST_REALM = "Varnello WebDAV Digest"


def make_certificates(workdir):
    """The test CA (shared with the HTTP engine's peer), a certificate it
    signed for localhost/127.0.0.1, and a self-signed one."""
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    return {"ca.pem": tls["ca"], "server.pem": tls["cert"], "server.key": tls["key"],
            "self.pem": tls["self_cert"], "self.key": tls["self_key"]}


def write_password_files(workdir):
    basic = os.path.join(workdir, "basic.passwd")
    digest = os.path.join(workdir, "digest.passwd")
    sha = base64.b64encode(hashlib.sha1(PASSWORD.encode()).digest()).decode()
    with open(basic, "w") as f:
        f.write("%s:{SHA}%s\n" % (USER, sha))
    ha1 = hashlib.md5(("%s:%s:%s" % (USER, DIGEST_REALM, PASSWORD)).encode()).hexdigest()
    with open(digest, "w") as f:
        f.write("%s:%s:%s\n" % (USER, DIGEST_REALM, ha1))
    return basic, digest


def server_account():
    """Apache refuses to serve as root: its workers take www-data then."""
    if os.geteuid() != 0:
        return None
    for name in ("www-data", "daemon", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            continue
    return None


def write_config(workdir, ports, certs, basic, digest, root, davroot, account):
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    modules = ["mpm_event", "authn_core", "authn_file", "authz_core", "authz_user", "auth_basic",
               "auth_digest", "alias", "mime", "dav", "dav_fs", "ssl", "socache_shmcb"]
    lines = ["LoadModule %s_module %s/mod_%s.so" % (m, MODULES, m) for m in modules]
    lines += [
        'ServerRoot "%s"' % workdir,
        "ServerName localhost",
        'PidFile "%s/httpd.pid"' % run,
        'DefaultRuntimeDir "%s"' % run,
        'Mutex file:%s default' % run,
        'ErrorLog "%s/error.log"' % workdir,
        "LogLevel warn",
        'LogFormat "%h %u \\"%r\\" %>s %b" brief',
        'CustomLog "%s/access.log" brief' % workdir,
        'TypesConfig /etc/mime.types',
        'DavLockDB "%s/locks/davlock"' % workdir,
        "LimitRequestBody 0",
        "Timeout 60",
        "KeepAlive On",
        "StartServers 2",
        "ServerLimit 4",
        "ThreadsPerChild 32",
        "MaxRequestWorkers 128",
        "SSLSessionCache none",
        "SSLRandomSeed startup builtin",
        # Writes below /redirected/ are sent elsewhere (the handler must not follow).
        "Redirect 302 /redirected /elsewhere",
    ]
    if account:
        lines += ["User %s" % account.pw_name, "Group #%d" % account.pw_gid]
    share = """
<Directory "%(dir)s">
  Dav On
  Options %(options)s
  AllowOverride None
  AuthType %(type)s
  AuthName "%(realm)s"
  Auth%(type)sProvider file
  AuthUserFile "%(file)s"
  %(extra)s
  Require valid-user
</Directory>"""
    lines.append('<Directory "/">\n  Require all denied\n</Directory>')
    # The root share follows links, as a server that links one folder to
    # another does (nginx and lighttpd follow them by default).
    # Below any folder named "nofolders", however deep, no folder is made.
    below_nofolders = ("<If \"%{REQUEST_METHOD} == 'MKCOL' && %{REQUEST_URI} =~ m#/nofolders/.#\">\n"
                       "    Require all denied\n  </If>")
    lines.append(share % {"dir": root, "type": "Basic", "realm": BASIC_REALM, "file": basic,
                          "extra": below_nofolders, "options": "FollowSymLinks"})
    lines.append(share % {"dir": davroot, "type": "Digest", "realm": DIGEST_REALM, "file": digest,
                          "extra": 'AuthDigestDomain "/dav/"', "options": "None"})
    # Below /nofolders the account may write files but not make folders.
    lines.append('<Directory "%s/nofolders">\n  <If "%%{REQUEST_METHOD} == \'MKCOL\'">\n'
                 '    Require all denied\n  </If>\n</Directory>' % root)
    lines.append('<Directory "%s/nomoves">\n  <If "%%{REQUEST_METHOD} in {\'MKCOL\', \'MOVE\'}">\n'
                 '    Require all denied\n  </If>\n</Directory>' % root)
    vhost = """
Listen 127.0.0.1:%(port)d
<VirtualHost 127.0.0.1:%(port)d>
  DocumentRoot "%(root)s"
  Alias /dav "%(davroot)s"
  %(tls)s
</VirtualHost>"""
    tls_ca = 'SSLEngine on\n  SSLCertificateFile "%s"\n  SSLCertificateKeyFile "%s"' % (
        certs["server.pem"], certs["server.key"])
    tls_self = 'SSLEngine on\n  SSLCertificateFile "%s"\n  SSLCertificateKeyFile "%s"' % (
        certs["self.pem"], certs["self.key"])
    for port, tls in ((ports["http"], ""), (ports["https"], tls_ca), (ports["selfsigned"], tls_self)):
        lines.append(vhost % {"port": port, "root": root, "davroot": davroot, "tls": tls})
    path = os.path.join(workdir, "httpd.conf")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def start_apache(workdir):
    account = server_account()
    root = os.path.join(workdir, "root")
    davroot = os.path.join(workdir, "davroot")
    for d in (root, davroot, os.path.join(workdir, "locks"), os.path.join(root, "nofolders"),
              os.path.join(root, "nomoves")):
        os.makedirs(d, exist_ok=True)
        os.chmod(d, 0o777)
        if account:
            os.chown(d, account.pw_uid, account.pw_gid)
    # The workers must reach the shares through the peer folder.
    os.chmod(workdir, 0o755)
    certs = make_certificates(workdir)
    for name in ("server.key", "self.key"):
        os.chmod(certs[name], 0o600)
    basic, digest = write_password_files(workdir)
    for f in (basic, digest):
        os.chmod(f, 0o644)
    ports = {}
    for name in ("http", "https", "selfsigned"):
        port = peerlib.free_port()
        while port in ports.values():
            port = peerlib.free_port()
        ports[name] = port
    conf = write_config(workdir, ports, certs, basic, digest, root, davroot, account)
    check = subprocess.run(["/usr/sbin/apache2", "-f", conf, "-t"], cwd=workdir,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if check.returncode != 0:
        raise RuntimeError("apache2 refuses its configuration: %s" % check.stderr.decode(errors="replace"))
    # -DFOREGROUND keeps the parent in our hands: its pid is the one to stop.
    pid = peerlib.spawn(["/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"], workdir, "apache.out")
    for port in ports.values():
        peerlib.wait_for_port(port)
    return {
        "pid": pid, "ports": ports, "root": root, "davroot": davroot, "ca_file": certs["ca.pem"],
        "selfsigned_cert": certs["self.pem"], "account": account.pw_name if account else "",
    }


def start_fake(workdir):
    ready = os.path.join(workdir, "fake-ready.json")
    if os.path.exists(ready):
        os.remove(ready)
    pid = peerlib.spawn_python(os.path.join(HERE, "webdav_fake.py"), [ready], workdir, "fake.log")
    state = peerlib.read_ready_file(ready, "WebDAV", workdir, timeout=15)
    state["pid"] = pid
    return state


def start(workdir):
    apache = start_apache(workdir)
    fake = start_fake(workdir)
    nginx = webdav_servers.start_nginx(os.path.join(workdir, "nginx"), USER, PASSWORD)
    lighttpd = webdav_servers.start_lighttpd(os.path.join(workdir, "lighttpd"), USER, PASSWORD)
    gzipped = webdav_servers.start_apache_gzip(os.path.join(workdir, "apachegzip"), USER, PASSWORD)
    p = apache["ports"]
    return {
        "pids": [apache["pid"], fake["pid"], nginx["pid"], lighttpd["pid"], gzipped["pid"]],
        # The root share of each server family: {"url", "dir"}; apache, nginx
        # and lighttpd also name their folders refusing MKCOL ("nofolders")
        # and MKCOL and MOVE ("nomoves").
        "servers": {
            "apache": {"url": "http://127.0.0.1:%d" % p["http"], "dir": apache["root"],
                       "nofolders": "/nofolders", "nomoves": "/nomoves"},
            "nginx": {"url": nginx["url"], "dir": nginx["dir"], "nofolders": nginx["nofolders"],
                      "nomoves": nginx["nomoves"]},
            "lighttpd": {"url": lighttpd["url"], "dir": lighttpd["dir"], "nofolders": lighttpd["nofolders"],
                         "nomoves": lighttpd["nomoves"]},
            "apachegzip": {"url": gzipped["url"], "dir": gzipped["dir"]},
        },
        # Apache: base URLs of the root share (Basic); append "/dav" for the Digest share.
        "http_url": "http://127.0.0.1:%d" % p["http"],
        "https_url": "https://127.0.0.1:%d" % p["https"],
        "selfsigned_url": "https://127.0.0.1:%d" % p["selfsigned"],
        "http_port": p["http"],
        "https_port": p["https"],
        "selfsigned_port": p["selfsigned"],
        "dav_path": "/dav",
        "user": USER,
        "password": PASSWORD,
        "basic_realm": BASIC_REALM,
        "digest_realm": DIGEST_REALM,
        # The shares on disk: root_dir behind "/", dav_dir behind "/dav".
        "root_dir": apache["root"],
        # A folder of the root share (on disk below root_dir) where MKCOL is
        # refused and every other method allowed.
        "nofolders_path": "/nofolders",
        "dav_dir": apache["davroot"],
        # The account Apache's workers run as ("" when not started as root).
        "server_account": apache["account"],
        # PEM of the test CA that signed the https certificate.
        "ca_file": apache["ca_file"],
        "selfsigned_cert": apache["selfsigned_cert"],
        # The fake: scenario server, and the Wi-Fi disk call per scenario address.
        "fake_url": "http://127.0.0.1:%d" % fake["port"],
        "fake_port": fake["port"],
        "wifi_port": fake["wifi_port"],
        "wifi_hosts": fake["wifi_hosts"],
    }


if __name__ == "__main__":
    # Manual run: python3 webdav_peer.py FOLDER  (stop with peerctl or kill the pids).
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.getcwd(), "webdav-peer")
    os.makedirs(folder, exist_ok=True)
    print(json.dumps(start(folder), indent=1))
