"""A small SOCKS5 proxy (no authentication, CONNECT only) for the HTTP
engine's tests; every tunnel's target is appended to the log file."""
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

    def handle(self):
        version, count = self.recv_exact(2)
        methods = self.recv_exact(count)
        if version != 5 or 0 not in methods:
            self.request.sendall(b"\x05\xff")
            return
        self.request.sendall(b"\x05\x00")
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
        try:
            upstream = socket.create_connection((host, port), timeout=10)
        except OSError:
            self.request.sendall(b"\x05\x05\x00\x01" + b"\x00" * 6)
            return
        with open(LOG, "a") as log:
            log.write("CONNECT %s:%d\n" % (host, port))
        self.request.sendall(b"\x05\x00\x00\x01" + socket.inet_aton("127.0.0.1") + struct.pack(">H", 0))

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
    with Server(("127.0.0.1", int(sys.argv[1])), Handler) as server:
        server.serve_forever()
