"""SugarSync test peer: sugarsync_fake.py over HTTPS with a certificate of
the test CA (see that file for what it plays)."""
import json
import os
import time

import apache_peer
import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    workdir = os.path.abspath(workdir)
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    ready = os.path.join(workdir, "ready.json")
    pid = peerlib.spawn_python(os.path.join(HERE, "sugarsync_fake.py"),
                               [workdir, tls["cert"], tls["key"], ready], workdir, "fake.log")
    deadline = time.time() + 20
    while not os.path.exists(ready):
        if time.time() > deadline:
            raise RuntimeError("the SugarSync fake did not start; see %s" % os.path.join(workdir, "fake.log"))
        time.sleep(0.05)
    with open(ready) as f:
        port = json.load(f)["port"]
    return {"pids": [pid], "port": port, "host": "127.0.0.1", "ca_file": tls["ca"],
            "counts_file": os.path.join(workdir, "counts.json"),
            "user": "sync@example.test", "password": "sync pass"}
