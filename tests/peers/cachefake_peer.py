"""The download cache's Python fake (cache_fake_server.py) as a test peer."""
import os

import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    port = peerlib.free_port()
    pid = peerlib.spawn_python(os.path.join(HERE, "cache_fake_server.py"), [str(port)], workdir, "cachefake.log")
    peerlib.wait_for_port(port)
    return {"port": port, "pids": [pid]}
