"""A private network-discovery setup for the discovery test: a D-Bus bus of
its own (in place of the system bus), an Avahi daemon on the loopback
interface only, and one WebDAV service published with avahi-publish.

The daemon keeps its pid file and socket in /run/avahi-daemon, shared by the
whole machine: when another daemon runs there, or the tests do not run as
root, the peer reports that the machine cannot offer it, and the test says
why it skipped. Any other reason it did not start fails the test.
"""
import os
import shutil
import time

import peerlib

SERVICE_NAME = "diskCAST Peer Share"
SERVICE_PORT_HINT = "the port is made up; nothing needs to listen on it"

BUS_CONF = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%(socket)s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow receive_type="method_return"/>
    <allow receive_type="signal"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
"""

AVAHI_CONF = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
"""


def wait_for_text(path, text, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with open(path, errors="replace") as f:
                if text in f.read():
                    return True
        except OSError:
            pass
        time.sleep(0.05)
    return False


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def unavailable(reason, pids=(), machine=False):
    """Not running, and why. "machine": the machine itself cannot offer it
    (the tests then skip, saying why); any other reason fails them."""
    return {"available": False, "reason": reason, "machine": machine, "pids": list(pids)}


def start(workdir):
    for tool in ("dbus-daemon", "avahi-daemon", "avahi-publish"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            return unavailable("%s is not installed" % tool)
    if os.geteuid() != 0:
        return unavailable("the Avahi daemon needs root to run", machine=True)
    pidfile = "/run/avahi-daemon/pid"
    if os.path.exists(pidfile):
        try:
            with open(pidfile) as f:
                if alive(int(f.read().strip() or "0")):
                    return unavailable("another Avahi daemon is running on this machine", machine=True)
        except (OSError, ValueError):
            pass
    os.makedirs("/run/avahi-daemon", exist_ok=True)

    socket_path = os.path.join(workdir, "system_bus_socket")
    with open(os.path.join(workdir, "bus.conf"), "w") as f:
        f.write(BUS_CONF % {"socket": socket_path})
    with open(os.path.join(workdir, "avahi.conf"), "w") as f:
        f.write(AVAHI_CONF)
    pids = []
    pids.append(peerlib.spawn(["dbus-daemon", "--config-file=" + os.path.join(workdir, "bus.conf"), "--nofork"],
                              workdir, "dbus.log"))
    deadline = time.time() + 10
    while not os.path.exists(socket_path) and time.time() < deadline:
        time.sleep(0.05)
    if not os.path.exists(socket_path):
        return unavailable("the private bus did not start", pids)

    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + socket_path
    daemon = shutil.which("avahi-daemon") or "/usr/sbin/avahi-daemon"
    pids.append(peerlib.spawn([daemon, "--no-drop-root", "--no-chroot", "--no-proc-title", "--no-rlimits",
                               "-f", os.path.join(workdir, "avahi.conf")], workdir, "avahi.log", env=env))
    if not wait_for_text(os.path.join(workdir, "avahi.log"), "Server startup complete", 20):
        return unavailable("the Avahi daemon did not start (see avahi.log)", pids)

    port = peerlib.free_port()
    pids.append(peerlib.spawn(["avahi-publish", "-s", SERVICE_NAME, "_webdav._tcp", str(port)],
                              workdir, "publish.log", env=env))
    if not wait_for_text(os.path.join(workdir, "publish.log"), "Established under name", 20):
        return unavailable("avahi-publish could not publish the service", pids)
    return {"available": True, "bus": env["DBUS_SYSTEM_BUS_ADDRESS"], "service": SERVICE_NAME,
            "port": port, "pids": pids}
