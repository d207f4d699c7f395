"""nginx on loopback: static files under /files/, PUT/DELETE uploads
under /upload/ (dav methods), long keep-alive, and a small static site
under /site/ (pages, their style sheets, some importing others, and images;
ETag, a one-hour expiry, requests logged to logs/site.log). Used by the HTTP engine's
benchmark and available to tests as the fixture peer_nginx."""
import os
import subprocess

import peerlib


# A tiny PNG-like file per image: the tests compare bytes, not pictures.
SITE = {
    "index.html": b"""<html><head><title>Site</title>
<link rel="stylesheet" href="style.css"><link rel="icon" href="favicon.png">
<style>body { background: url('img/bg.png') }</style></head>
<body><h1>Site</h1><img src="img/pic.png"><img src="img/missing.png">
<a href="other.html">other</a><div style="background: url(img/bg.png)"></div></body></html>
""",
    "style.css": b'h1 { background: url("img/head.png") }\n',
    "img/pic.png": b"\x89PNG pic",
    "img/bg.png": b"\x89PNG bg",
    "img/head.png": b"\x89PNG head",
    # Four style sheets, each importing another: every sheet waits for its own.
    "imports.html": b"""<html><head>""" + b"".join(
        b'<link rel="stylesheet" href="css/s%d.css">' % i for i in range(1, 5)) + b"""</head><body></body></html>
""",
    **{"css/s%d.css" % i: b'@import url("i%d.css");\nh%d { color: red }\n' % (i, i) for i in range(1, 5)},
    **{"css/i%d.css" % i: b"h%d { background: url(../img/pic.png) } /* imported %d */\n" % (i, i) for i in range(1, 5)},
    # References that name nothing to download, beside one that does.
    "frames.html": b"""<html><body><iframe src="about:blank"></iframe><iframe src="ABOUT:srcdoc"></iframe>
<script src="javascript:void(0)"></script><img src="data:image/png;base64,iVBORw0KGgo="><img src="img/pic.png">
</body></html>
""",
    # Style sheets importing each other, and a page framing itself.
    "loop/mutual.html": b'<html><head><link rel="stylesheet" href="a.css"></head><body><p>mutual</p></body></html>\n',
    "loop/a.css": b'@import url("b.css");\n.a { color: red }\n',
    "loop/b.css": b'@import url("a.css");\n.b { background: url(../img/pic.png) }\n',
    "loop/self.html": b'<html><body><iframe src="self.html"></iframe><img src="../img/pic.png"></body></html>\n',
    # A page with one style sheet (served compressed under /gz/ too), and an empty page.
    "one-sheet.html": b'<html><head><link rel="stylesheet" href="style.css"></head><body><p>one sheet</p></body></html>\n',
    "empty.html": b"",
    # A picture named by an image, an icon and a video's poster; an icon
    # and an Ogg source that nothing else names.
    "icons.html": b"""<html><head><link rel="icon" href="img/pic.png"><link rel="icon" href="img/head.png"></head>
<body><img src="img/pic.png"><video poster="img/pic.png"><source src="img/bg.ogv"></video></body></html>
""",
    "img/bg.ogv": b"OggS clip",
    # A style sheet naming one image by a path that ends in another's name.
    "names.css": b".one { background: url(pic.png) }\n.two { background: url('img/pic.png') }\n",
    "pic.png": b"\x89PNG top",
    # A page whose one image no server gives.
    "broken.html": b"""<html><body><img src="img/pic.png"><img src="http://127.0.0.1:1/gone.png"></body></html>
""",
}


def write_site(folder):
    for name, data in SITE.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def start(workdir):
    workdir = os.path.abspath(workdir)
    root = os.path.join(workdir, "root")
    for sub in ("files", "upload", "tmp", "logs"):
        os.makedirs(os.path.join(root if sub in ("files", "upload") else workdir, sub), exist_ok=True)
    with open(os.path.join(root, "files", "1k.bin"), "wb") as f:
        f.write(bytes(i % 251 for i in range(1024)))
    write_site(os.path.join(root, "site"))
    port = peerlib.free_port()
    user = "user root;\n" if os.geteuid() == 0 else ""
    conf = os.path.join(workdir, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""%(user)sworker_processes 2;
daemon off;
pid %(w)s/nginx.pid;
error_log %(w)s/logs/error.log warn;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 60;
    keepalive_requests 100000;
    client_body_temp_path %(w)s/tmp/body;
    proxy_temp_path %(w)s/tmp/proxy;
    fastcgi_temp_path %(w)s/tmp/fastcgi;
    uwsgi_temp_path %(w)s/tmp/uwsgi;
    scgi_temp_path %(w)s/tmp/scgi;
    types { application/octet-stream bin; text/html html; text/css css; image/png png; }
    server {
        listen 127.0.0.1:%(port)d;
        root %(root)s;
        client_max_body_size 0;
        location /site/ {
            access_log %(w)s/logs/site.log;
            expires 1h;
        }
        location /gz/ {
            alias %(root)s/site/;
            access_log %(w)s/logs/site.log;
            gzip on;
            gzip_min_length 1;
            gzip_types text/css;
        }
        location /upload/ {
            dav_methods PUT DELETE;
            create_full_put_path on;
            client_body_in_file_only off;
            client_body_buffer_size 1m;
        }
    }
}
""" % {"user": user, "w": workdir, "port": port, "root": root})
    check = subprocess.run(["nginx", "-t", "-c", conf, "-p", workdir], capture_output=True, text=True)
    if check.returncode != 0:
        raise RuntimeError("nginx configuration refused: " + check.stderr)
    pid = peerlib.spawn(["nginx", "-c", conf, "-p", workdir], workdir, "nginx.log")
    peerlib.wait_for_port(port)
    return {"port": port, "pids": [pid], "root": root, "site_log": os.path.join(workdir, "logs", "site.log")}
