"""The Python fake HTTP server (http_fake_server.py) as a test peer: "port"
in the clear, "https_port" over TLS with a certificate of the test CA
("ca_file"; it names localhost)."""
import os

import apache_peer
import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    tls = apache_peer.make_test_ca(os.path.join(os.path.abspath(workdir), "tls"))
    port, https_port = peerlib.free_port(), peerlib.free_port()
    pid = peerlib.spawn_python(os.path.join(HERE, "http_fake_server.py"),
                               [str(port), str(https_port), tls["cert"], tls["key"]], workdir, "fake.log")
    peerlib.wait_for_port(port)
    peerlib.wait_for_port(https_port)
    return {"port": port, "https_port": https_port, "ca_file": tls["ca"], "pids": [pid]}
