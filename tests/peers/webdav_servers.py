"""WebDAV servers of other families beside Apache: nginx (its dav module for
PUT, DELETE, MKCOL, COPY, MOVE and the dav-ext module for PROPFIND),
lighttpd with mod_webdav, and an Apache that compresses its listings
(mod_deflate on PROPFIND replies, as servers set up for it do: they come
gzip-encoded to a client that accepts gzip). Each serves one folder at "/"
behind Basic authentication with the WebDAV peer's user and password.
nginx and lighttpd also refuse MKCOL below /nofolders/ (files may be written
there, folders not made) and MKCOL and MOVE below /nomoves/ (files may be
written and removed, but neither folders made nor items moved or renamed).

    start_nginx(workdir, user, password) -> {"url", "dir", "pid", "nofolders", "nomoves"}
    start_lighttpd(workdir, user, password) -> {"url", "dir", "pid", "nofolders", "nomoves"}
    start_apache_gzip(workdir, user, password) -> {"url", "dir", "pid"}

Each server runs in the foreground in a session of its own, so a test can
stop the whole server (master and workers) by killing the process group.

    python3 webdav_servers.py KIND FOLDER

starts one more server of KIND (apache, nginx, lighttpd) in FOLDER and prints
its state as JSON: the tests that kill a server mid-transfer use their own.
"""
import base64
import hashlib
import json
import os
import subprocess
import sys

import peerlib

NGINX_DAV_EXT = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so"
REALM = "Varnello WebDAV"


def _password_file(workdir, user, password):
    path = os.path.join(workdir, "basic.passwd")
    sha = base64.b64encode(hashlib.sha1(password.encode()).digest()).decode()
    with open(path, "w") as f:
        f.write("%s:{SHA}%s\n" % (user, sha))
    os.chmod(path, 0o644)
    return path


def _folders(workdir, *names):
    workdir = os.path.abspath(workdir)
    for name in names:
        os.makedirs(os.path.join(workdir, name), exist_ok=True)
    os.chmod(os.path.join(workdir, "root"), 0o777)
    return workdir


# The folders of a share where the server refuses some methods: made on
# disk, as they cannot be made through the server.
REFUSING = {"nofolders": "/nofolders", "nomoves": "/nomoves"}


def _refusing_folders(root):
    for path in REFUSING.values():
        folder = os.path.join(root, path.lstrip("/"))
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o777)


def start_nginx(workdir, user, password):
    w = _folders(workdir, "root", "tmp", "logs")
    root = os.path.join(w, "root")
    port = peerlib.free_port()
    conf = os.path.join(w, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""load_module %(ext)s;
%(user)sworker_processes 1;
daemon off;
master_process on;
pid %(w)s/nginx.pid;
error_log %(w)s/logs/error.log warn;
events { worker_connections 256; }
http {
    access_log %(w)s/logs/access.log;
    include /etc/nginx/mime.types;
    client_body_temp_path %(w)s/tmp/body;
    proxy_temp_path %(w)s/tmp/proxy;
    fastcgi_temp_path %(w)s/tmp/fastcgi;
    uwsgi_temp_path %(w)s/tmp/uwsgi;
    scgi_temp_path %(w)s/tmp/scgi;
    server {
        listen 127.0.0.1:%(port)d;
        root %(root)s;
        client_max_body_size 0;
        location /redirected/ {
            rewrite ^/redirected/(.*)$ /elsewhere/$1 redirect;
        }
        location / {
            dav_methods PUT DELETE MKCOL COPY MOVE;
            dav_ext_methods PROPFIND OPTIONS;
            dav_access user:rw group:rw all:rw;
            auth_basic "%(realm)s";
            auth_basic_user_file %(passwd)s;
        }
        location /nofolders/ {
            dav_methods PUT DELETE COPY MOVE;
            dav_ext_methods PROPFIND OPTIONS;
            dav_access user:rw group:rw all:rw;
            auth_basic "%(realm)s";
            auth_basic_user_file %(passwd)s;
        }
        location /nomoves/ {
            dav_methods PUT DELETE COPY;
            dav_ext_methods PROPFIND OPTIONS;
            dav_access user:rw group:rw all:rw;
            auth_basic "%(realm)s";
            auth_basic_user_file %(passwd)s;
        }
    }
}
""" % {"ext": NGINX_DAV_EXT, "user": "user root;\n" if os.geteuid() == 0 else "", "w": w, "port": port,
       "root": root, "realm": REALM, "passwd": _password_file(w, user, password)})
    check = subprocess.run(["nginx", "-t", "-c", conf, "-p", w], capture_output=True, text=True)
    if check.returncode != 0:
        raise RuntimeError("nginx configuration refused: " + check.stderr)
    _refusing_folders(root)
    pid = peerlib.spawn(["nginx", "-c", conf, "-p", w], w, "nginx.out")
    peerlib.wait_for_port(port)
    return dict({"url": "http://127.0.0.1:%d" % port, "dir": root, "pid": pid}, **REFUSING)


def start_lighttpd(workdir, user, password):
    w = _folders(workdir, "root", "tmp")
    root = os.path.join(w, "root")
    port = peerlib.free_port()
    conf = os.path.join(w, "lighttpd.conf")
    with open(conf, "w") as f:
        f.write("""server.modules = ("mod_access", "mod_redirect", "mod_webdav", "mod_auth", "mod_authn_file")
server.document-root = "%(root)s"
server.bind = "127.0.0.1"
server.port = %(port)d
server.errorlog = "%(w)s/error.log"
server.upload-dirs = ("%(w)s/tmp")
server.max-request-size = 0
webdav.activate = "enable"
webdav.is-readonly = "disable"
url.redirect = ("^/redirected/(.*)$" => "/elsewhere/$1")
url.redirect-code = 302
auth.backend = "htpasswd"
auth.backend.htpasswd.userfile = "%(passwd)s"
auth.require = ("" => ("method" => "basic", "realm" => "%(realm)s", "require" => "valid-user"))
$HTTP["url"] =~ "^/nofolders/" {
    $HTTP["request-method"] == "MKCOL" { url.access-deny = ("") }
}
$HTTP["url"] =~ "^/nomoves/" {
    $HTTP["request-method"] =~ "^(MKCOL|MOVE)$" { url.access-deny = ("") }
}
""" % {"root": root, "port": port, "w": w, "passwd": _password_file(w, user, password), "realm": REALM})
    check = subprocess.run(["lighttpd", "-tt", "-f", conf], capture_output=True, text=True)
    if check.returncode != 0:
        raise RuntimeError("lighttpd configuration refused: " + check.stderr + check.stdout)
    _refusing_folders(root)
    pid = peerlib.spawn(["lighttpd", "-D", "-f", conf], w, "lighttpd.out")
    peerlib.wait_for_port(port)
    return dict({"url": "http://127.0.0.1:%d" % port, "dir": root, "pid": pid}, **REFUSING)


def start_apache_gzip(workdir, user, password):
    w = _folders(workdir, "root", "run")
    root = os.path.join(w, "root")
    port = peerlib.free_port()
    modules = ["mpm_event", "authn_core", "authn_file", "authz_core", "authz_user", "auth_basic", "mime", "alias",
               "filter", "deflate", "dav", "dav_fs"]
    run_as = ""
    if os.geteuid() == 0:
        import pwd
        account = pwd.getpwnam("www-data")
        run_as = "User www-data\nGroup #%d\n" % account.pw_gid
        os.chmod(w, 0o755)
        for folder in (w, root, os.path.join(w, "run")):
            os.chown(folder, account.pw_uid, account.pw_gid)
    conf = os.path.join(w, "httpd.conf")
    with open(conf, "w") as f:
        f.write("""%(modules)s
ServerRoot "%(w)s"
ServerName localhost
%(run_as)sListen 127.0.0.1:%(port)d
PidFile "%(w)s/run/httpd.pid"
DefaultRuntimeDir "%(w)s/run"
Mutex file:%(w)s/run default
ErrorLog "%(w)s/error.log"
LogLevel warn
TypesConfig /etc/mime.types
DavLockDB "%(w)s/run/davlock"
LimitRequestBody 0
KeepAlive On
DocumentRoot "%(root)s"
Redirect 302 /redirected /elsewhere
<Directory "/">
  Require all denied
</Directory>
<Directory "%(root)s">
  Dav On
  Options None
  AllowOverride None
  AuthType Basic
  AuthName "%(realm)s"
  AuthBasicProvider file
  AuthUserFile "%(passwd)s"
  Require valid-user
  # mod_dav's replies pass by AddOutputFilterByType: the listing replies
  # are compressed by method.
  <If "%%{REQUEST_METHOD} == 'PROPFIND'">
    SetOutputFilter DEFLATE
  </If>
</Directory>
""" % {"modules": "\n".join("LoadModule %s_module /usr/lib/apache2/modules/mod_%s.so" % (m, m) for m in modules),
       "w": w, "run_as": run_as, "port": port, "root": root, "realm": REALM,
       "passwd": _password_file(w, user, password)})
    check = subprocess.run(["/usr/sbin/apache2", "-f", conf, "-t"], capture_output=True, text=True)
    if check.returncode != 0:
        raise RuntimeError("apache configuration refused: " + check.stderr)
    pid = peerlib.spawn(["/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"], w, "apache.out")
    peerlib.wait_for_port(port)
    return {"url": "http://127.0.0.1:%d" % port, "dir": root, "pid": pid}


def start_apache(workdir, user, password):
    import webdav_peer
    apache = webdav_peer.start_apache(os.path.abspath(workdir))
    return {"url": "http://127.0.0.1:%d" % apache["ports"]["http"], "dir": apache["root"], "pid": apache["pid"]}


STARTERS = {"apache": start_apache, "nginx": start_nginx, "lighttpd": start_lighttpd,
            "apachegzip": start_apache_gzip}


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in STARTERS:
        sys.exit(__doc__)
    import webdav_peer
    folder = sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    print(json.dumps(STARTERS[sys.argv[1]](folder, webdav_peer.USER, webdav_peer.PASSWORD)))
