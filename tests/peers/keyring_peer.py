"""A private desktop keyring for the keyring tests: a D-Bus session bus of
its own and gnome-keyring-daemon (Secret Service only) on it, its login
keyring created and unlocked with a test password, its files in the peer's
folder. Tests point DBUS_SESSION_BUS_ADDRESS at "bus" before their first
keyring call.

When it cannot start the peer reports itself unavailable with the reason,
and the tests fail saying why.
"""
import os
import shutil
import subprocess
import time

import peerlib

PASSWORD = "varnello-keyring-test"

BUS_CONF = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%(socket)s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def unavailable(reason, pids=(), machine=False):
    """Not running, and why. "machine": the machine itself cannot offer it
    (the tests then skip, saying why); any other reason fails them."""
    return {"available": False, "reason": reason, "machine": machine, "pids": list(pids)}


def start(workdir):
    for tool in ("dbus-daemon", "dbus-send", "gnome-keyring-daemon"):
        if not shutil.which(tool):
            return unavailable("%s is not installed" % tool)
    socket_path = os.path.join(workdir, "session_bus_socket")
    with open(os.path.join(workdir, "bus.conf"), "w") as f:
        f.write(BUS_CONF % {"socket": socket_path})
    pids = [peerlib.spawn(["dbus-daemon", "--config-file=" + os.path.join(workdir, "bus.conf"), "--nofork"],
                          workdir, "dbus.log")]
    deadline = time.time() + 10
    while not os.path.exists(socket_path) and time.time() < deadline:
        time.sleep(0.05)
    if not os.path.exists(socket_path):
        return unavailable("the private bus did not start", pids)

    bus = "unix:path=" + socket_path
    runtime = os.path.join(workdir, "run")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ)
    env.update({"DBUS_SESSION_BUS_ADDRESS": bus, "HOME": workdir, "XDG_RUNTIME_DIR": runtime,
                "XDG_DATA_HOME": os.path.join(workdir, "data"), "XDG_CONFIG_HOME": os.path.join(workdir, "config")})
    env.pop("DISPLAY", None)
    # --unlock reads the password from stdin and creates the login keyring
    # with it; that keyring becomes the default collection.
    log = open(os.path.join(workdir, "keyring.log"), "ab")
    daemon = subprocess.Popen(["gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"],
                              cwd=workdir, stdin=subprocess.PIPE, stdout=log, stderr=subprocess.STDOUT,
                              start_new_session=True, env=env)
    daemon.stdin.write(PASSWORD.encode())
    daemon.stdin.close()
    pids.append(daemon.pid)

    # Ready once the daemon answers on the bus with its unlocked login
    # keyring as the default collection.
    deadline = time.time() + 20
    while time.time() < deadline:
        probe = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                                "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.ReadAlias",
                                "string:default"], env=env, capture_output=True, text=True)
        if "/collection/" in probe.stdout:
            return {"available": True, "bus": bus, "password": PASSWORD, "pids": pids}
        if daemon.poll() is not None:
            break
        time.sleep(0.1)
    return unavailable("gnome-keyring-daemon did not start (see keyring.log)", pids)
