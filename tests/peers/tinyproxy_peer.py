"""Two tinyproxy instances on loopback: "auth_port" asks for Basic proxy
credentials (user, password in the state), "open_port" asks for none. Both
tunnel CONNECT to any port and log every request to tinyproxy-*.log."""
import os
import shutil

import peerlib

USER = "proxyuser"
PASSWORD = "proxy-pass"

CONF = """Port %(port)d
Listen 127.0.0.1
Timeout 60
LogFile "%(log)s"
LogLevel Info
MaxClients 64
Allow 127.0.0.1
DisableViaHeader Yes
%(auth)s
"""


def unavailable(reason):
    return {"available": False, "reason": reason, "pids": []}


def start(workdir):
    workdir = os.path.abspath(workdir)
    binary = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
    if not os.path.exists(binary):
        return unavailable("tinyproxy is not installed")
    state = {"available": True, "user": USER, "password": PASSWORD, "pids": []}
    for name, auth in (("auth", "BasicAuth %s %s" % (USER, PASSWORD)), ("open", "")):
        port = peerlib.free_port()
        log = os.path.join(workdir, "tinyproxy-%s.log" % name)
        conf = os.path.join(workdir, "tinyproxy-%s.conf" % name)
        with open(conf, "w") as f:
            f.write(CONF % {"port": port, "log": log, "auth": auth})
        state["pids"].append(peerlib.spawn([binary, "-d", "-c", conf], workdir, "tinyproxy-%s.out" % name))
        peerlib.wait_for_port(port)
        state["%s_port" % name] = port
        state["%s_log" % name] = log
    return state
