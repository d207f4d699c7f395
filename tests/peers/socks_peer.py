"""The Python SOCKS5 fake (socks5_fake.py) as a test peer; "log" lists the
tunnels it opened."""
import os

import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    port = peerlib.free_port()
    log = os.path.join(os.path.abspath(workdir), "tunnels.log")
    open(log, "w").close()
    pid = peerlib.spawn_python(os.path.join(HERE, "socks5_fake.py"), [str(port), log], workdir, "socks.out")
    peerlib.wait_for_port(port)
    return {"port": port, "log": log, "pids": [pid]}
