"""The Python fake HTTP server (http_fake_server.py) as a test peer."""
import os

import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    port = peerlib.free_port()
    pid = peerlib.spawn_python(os.path.join(HERE, "http_fake_server.py"), [str(port)], workdir, "fake.log")
    peerlib.wait_for_port(port)
    return {"port": port, "pids": [pid]}
