"""A small SOCKS proxy (CONNECT only) for the HTTP engine's tests: SOCKS5
without authentication, or with a user name and password (RFC 1929) when a
third argument "user:password" is given, and SOCKS4 (addresses only). Every
tunnel's target is appended to the log file."""
import socket
import socketserver
import struct
import sys
import threading


class Handler(socketserver.BaseRequestHandler):
    def recv_exact(self, n):
        data = b""
        while len(data) < n:
            piece = self.request.recv(n - len(data))
            if not piece:
                raise ConnectionError("closed")
            data += piece
        return data

    def handle_socks4(self, command):
        port = struct.unpack(">H", self.recv_exact(2))[0]
        host = socket.inet_ntoa(self.recv_exact(4))
        while self.recv_exact(1) != b"\x00":  # the user id
            pass
        if command != 1:
            self.request.sendall(b"\x00\x5b" + b"\x00" * 6)
            return
        self.tunnel(host, port, b"\x00\x5a" + b"\x00" * 6, b"\x00\x5b" + b"\x00" * 6)

    def authenticated(self, methods):
        """The method talk of SOCKS5; False when the client is refused."""
        if CREDENTIALS is None:
            if 0 not in methods:
                self.request.sendall(b"\x05\xff")
                return False
            self.request.sendall(b"\x05\x00")
            return True
        if 2 not in methods:
            self.request.sendall(b"\x05\xff")
            return False
        self.request.sendall(b"\x05\x02")
        _, length = self.recv_exact(2)
        user = self.recv_exact(length)
        password = self.recv_exact(self.recv_exact(1)[0])
        if (user + b":" + password).decode("utf-8", "replace") != CREDENTIALS:
            self.request.sendall(b"\x01\x01")
            return False
        self.request.sendall(b"\x01\x00")
        return True

    def handle(self):
        version, count = self.recv_exact(2)
        if version == 4:
            self.handle_socks4(count)
            return
        methods = self.recv_exact(count)
        if version != 5 or not self.authenticated(methods):
            return
        version, command, _, kind = self.recv_exact(4)
        if kind == 1:
            host = socket.inet_ntoa(self.recv_exact(4))
        elif kind == 3:
            host = self.recv_exact(self.recv_exact(1)[0]).decode()
        else:
            self.request.sendall(b"\x05\x08\x00\x01" + b"\x00" * 6)
            return
        port = struct.unpack(">H", self.recv_exact(2))[0]
        if command != 1:
            self.request.sendall(b"\x05\x07\x00\x01" + b"\x00" * 6)
            return
        self.tunnel(host, port, b"\x05\x00\x00\x01" + socket.inet_aton("127.0.0.1") + struct.pack(">H", 0),
                    b"\x05\x05\x00\x01" + b"\x00" * 6)

    def tunnel(self, host, port, granted, refused):
        try:
            upstream = socket.create_connection((host, port), timeout=10)
        except OSError:
            self.request.sendall(refused)
            return
        with open(LOG, "a") as log:
            log.write("CONNECT %s:%d\n" % (host, port))
        self.request.sendall(granted)

        def pump(a, b):
            try:
                while True:
                    data = a.recv(65536)
                    if not data:
                        break
                    b.sendall(data)
            except OSError:
                pass
            finally:
                try:
                    b.shutdown(socket.SHUT_WR)
                except OSError:
                    pass

        other = threading.Thread(target=pump, args=(upstream, self.request), daemon=True)
        other.start()
        pump(self.request, upstream)
        other.join()
        upstream.close()


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    LOG = sys.argv[2]
    CREDENTIALS = sys.argv[3] if len(sys.argv) > 3 else None
    with Server(("127.0.0.1", int(sys.argv[1])), Handler) as server:
        server.serve_forever()
