"""The Python SOCKS fake (socks5_fake.py) as a test peer, twice: "port"
asks for no credentials, "auth_port" for "user" and "password". "log" lists
the tunnels either opened."""
import os

import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    log = os.path.join(os.path.abspath(workdir), "tunnels.log")
    open(log, "w").close()
    state = {"log": log, "user": "sockuser", "password": "s0cks:pass", "pids": []}
    for key, extra in (("port", []), ("auth_port", ["%s:%s" % (state["user"], state["password"])])):
        port = peerlib.free_port()
        state["pids"].append(peerlib.spawn_python(os.path.join(HERE, "socks5_fake.py"), [str(port), log] + extra,
                                                  workdir, "socks-%s.out" % key))
        peerlib.wait_for_port(port)
        state[key] = port
    return state
