"""The data-API fetchers' fake server (hffetch_fake.py) as a test peer."""
import os

import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    port = peerlib.free_port()
    pid = peerlib.spawn_python(os.path.join(HERE, "hffetch_fake.py"), [str(port)], workdir, "fake.log")
    peerlib.wait_for_port(port)
    return {"port": port, "pids": [pid]}
