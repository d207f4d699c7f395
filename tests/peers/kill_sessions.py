#!/usr/bin/env python3
"""Kills the server processes that serve one client, as a server dying
mid-transfer would: the descendants of the given server process ids that
hold a TCP connection to a socket of the client process. The listening
server itself, and sessions of other clients, live on.

    kill_sessions.py CLIENT_PID SERVER_PID...
"""
import os
import signal
import sys


def socket_inodes(pid):
    inodes = set()
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    except OSError:
        pass
    return inodes


def connections():
    """inode -> (local port, remote port) of every TCP socket."""
    out = {}
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    local, remote, inode = fields[1], fields[2], fields[9]
                    out[inode] = (int(local.rsplit(":", 1)[1], 16), int(remote.rsplit(":", 1)[1], 16))
        except OSError:
            pass
    return out


def descendants(roots):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    found, todo = [], list(roots)
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def main():
    client = int(sys.argv[1])
    servers = [int(p) for p in sys.argv[2:]]
    table = connections()
    client_ports = {table[i][0] for i in socket_inodes(client) if i in table}
    killed = 0
    for pid in descendants(servers):
        if any(i in table and table[i][1] in client_ports for i in socket_inodes(pid)):
            try:
                os.kill(pid, signal.SIGKILL)
                killed += 1
            except OSError:
                pass
    print("killed %d" % killed)
    return 0 if killed else 1


if __name__ == "__main__":
    sys.exit(main())
