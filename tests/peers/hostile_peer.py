"""hostile_fake.py as a test peer: two plain origins, one https origin, and
the log of every request they received."""
import os

import apache_peer
import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    ports = [peerlib.free_port() for _ in range(3)]
    while len(set(ports)) < 3:
        ports = [peerlib.free_port() for _ in range(3)]
    log = os.path.join(workdir, "requests.jsonl")
    open(log, "w").close()
    pid = peerlib.spawn_python(os.path.join(HERE, "hostile_fake.py"),
                               [log] + [str(p) for p in ports] + [tls["cert"], tls["key"]], workdir, "fake.log")
    for port in ports:
        peerlib.wait_for_port(port)
    return {"port_a": ports[0], "port_b": ports[1], "port_tls": ports[2], "ca_file": tls["ca"], "log": log,
            "pids": [pid]}
