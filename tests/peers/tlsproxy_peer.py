"""Apache httpd as a forward proxy spoken to over TLS (an "https://" proxy):
"port" takes TLS, then proxies plain requests and tunnels CONNECT, with a
certificate from the test CA ("ca_file"; it names localhost). "log" is its
access log: one line per request it proxied."""
import os

import apache_peer

PROXY = """LoadModule proxy_module %(m)s/mod_proxy.so
LoadModule proxy_http_module %(m)s/mod_proxy_http.so
LoadModule proxy_connect_module %(m)s/mod_proxy_connect.so
ProxyRequests On
AllowCONNECT 1-65535
<Proxy "*">
  Require all granted
</Proxy>"""


def start(workdir):
    apache = apache_peer.Apache(workdir)
    tls = apache_peer.make_test_ca(os.path.join(apache.workdir, "tls"))
    apache.add_directives(PROXY % {"m": apache_peer.MODULE_DIR})
    port = apache.add_https(tls["cert"], tls["key"])
    state = apache.start()
    state.update({"port": port, "ca_file": tls["ca"], "log": os.path.join(apache.workdir, "access.log")})
    return state
