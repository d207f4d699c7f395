"""Small helpers shared by the peers: free ports, waiting for a port,
daemons, and a request held on its way for the fakes."""
import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


_handed_out = set()


def free_port():
    """A port nothing listens on, never one this process handed out before:
    the system may give a port just let go once more, and a server asked to
    listen twice on one port refuses to start."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port not in _handed_out:
            _handed_out.add(port)
            return port


def wait_for_port(port, timeout=15.0, host="127.0.0.1"):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection((host, port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on %s:%d after %.0f s" % (host, port, timeout))


def spawn(argv, workdir, log_name, env=None):
    """Starts a long-running process detached from the fixture; returns its pid."""
    log = open(os.path.join(workdir, log_name), "ab")
    proc = subprocess.Popen(argv, cwd=workdir, stdout=log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, start_new_session=True, env=env)
    return proc.pid


def spawn_python(script, args, workdir, log_name):
    return spawn([sys.executable, script] + list(args), workdir, log_name)


def read_ready_file(ready, title, workdir, timeout=20):
    """The JSON a fake writes into its ready file once it listens."""
    deadline = time.time() + timeout
    while not os.path.exists(ready):
        if time.time() > deadline:
            raise RuntimeError("the %s fake did not start; see %s" % (title, os.path.join(workdir, "fake.log")))
        time.sleep(0.05)
    with open(ready) as f:
        return json.load(f)


def start_ready_file_fake(workdir, script, title):
    """Starts a fake that takes (workdir, cert, key, ready file) and writes its
    port into the ready file, over HTTPS with a certificate of the test CA;
    the peer state's common part."""
    import apache_peer
    workdir = os.path.abspath(workdir)
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    ready = os.path.join(workdir, "ready.json")
    pid = spawn_python(os.path.join(HERE, script), [workdir, tls["cert"], tls["key"], ready], workdir, "fake.log")
    port = read_ready_file(ready, title, workdir)["port"]
    return {"pids": [pid], "port": port, "host": "127.0.0.1", "ca_file": tls["ca"],
            "counts_file": os.path.join(workdir, "counts.json")}


def count_request(state, lock, key):
    """Counts one request under key in state["counts"] and writes the counts to
    <state["dir"]>/counts.json, where the tests read them."""
    with lock:
        state["counts"][key] = state["counts"].get(key, 0) + 1
        tmp = os.path.join(state["dir"], "counts.json.tmp")
        with open(tmp, "w") as f:
            json.dump(state["counts"], f)
        os.replace(tmp, os.path.join(state["dir"], "counts.json"))


def serve_https_telling_port(handler, cert, key, ready, state, clear_too=False, second_port=False):
    """Serves handler over HTTPS on a free port, with state["base"] its
    address, after writing {"port": ...} to the ready file. With clear_too,
    a request sent in the clear to that port reaches the handler as well
    (its connection is then no ssl.SSLSocket), so that a test can tell what
    a client sent unencrypted. With second_port, the same handler also
    answers on a second free port (told as "second_port"), another origin
    of the same server."""
    import socket
    import ssl
    from http.server import ThreadingHTTPServer
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)

    class Server(ThreadingHTTPServer):
        def get_request(self):
            connection, address = self.socket.accept()
            if clear_too:
                connection.settimeout(10)
                first = connection.recv(1, socket.MSG_PEEK)
                connection.settimeout(None)
                if first != b"\x16":  # not the start of a TLS handshake
                    return connection, address
            return context.wrap_socket(connection, server_side=True), address

    server = Server(("127.0.0.1", 0), handler)
    port = server.server_address[1]
    state["base"] = "https://127.0.0.1:%d" % port
    told = {"port": port}
    if second_port:
        import threading
        second = Server(("127.0.0.1", 0), handler)
        told["second_port"] = second.server_address[1]
        threading.Thread(target=second.serve_forever, daemon=True).start()
    with open(ready + ".tmp", "w") as f:
        json.dump(told, f)
    os.replace(ready + ".tmp", ready)
    server.serve_forever()


TCP_CLOSE_WAIT = 8  # the client has closed its side of the connection


def client_closed(connection):
    """Whether the client has closed its side of the connection, read from
    the kernel (a TLS connection cannot be peeked at)."""
    try:
        raw = socket.socket(fileno=os.dup(connection.fileno()))
        try:
            info = raw.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)
        finally:
            raw.close()
        return struct.unpack("B", info)[0] == TCP_CLOSE_WAIT
    except OSError:
        return True


class RequestHold:
    """A fake's request held on its way, as a slow server holds it: armed
    for the next request of a method (whose path starts with "prefix" and
    whose body holds "contains"), the request waits before the fake sees it
    until released (bounded: 60 s), and is then carried out whatever the
    client did meanwhile. The state tells whether one is held, whether its
    client closed the connection meanwhile, and whether it was carried out."""

    def __init__(self):
        self.lock = threading.Lock()
        self.armed = None

    def arm(self, args):
        with self.lock:
            self.armed = {"method": args["method"], "prefix": args.get("prefix", "/"),
                          "contains": args.get("contains", "").encode(), "held": False, "gave_up": False,
                          "done": False, "released": threading.Event()}

    def release(self):
        with self.lock:
            if self.armed:
                self.armed["released"].set()

    def state(self):
        with self.lock:
            hold = self.armed
            return {k: hold[k] for k in ("held", "gave_up", "done")} if hold else {}

    def wait_if_armed(self, handler, path, body):
        """Holds handler's request when armed for it; returns the hold to
        pass to carried_out() once the fake has answered, or None."""
        with self.lock:
            hold = self.armed
            if not hold or hold["held"] or hold["done"] or hold["method"] != handler.command or \
                    not path.startswith(hold["prefix"]) or hold["contains"] not in body:
                return None
            hold["held"] = True
        deadline = time.time() + 60
        while not hold["released"].wait(0.05) and time.time() < deadline:
            if not hold["gave_up"] and client_closed(handler.connection):
                hold["gave_up"] = True
        return hold

    def control(self, what, body):
        """The test controls "hold" (JSON arguments, see arm), "held" and
        "release": the JSON answer, or None for another path."""
        if what == "hold":
            self.arm(json.loads(body or b"{}"))
        elif what == "release":
            self.release()
        elif what != "held":
            return None
        return json.dumps(self.state()).encode()

    def carried_out(self, hold):
        if hold:
            with self.lock:
                hold["held"] = False
                hold["done"] = True
