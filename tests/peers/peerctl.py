#!/usr/bin/env python3
"""Starts and stops the test peers (servers the tests talk to on loopback).

    peerctl.py start NAME     start peer NAME, write its state file
    peerctl.py stop NAME      stop it by its process ids, remove its folder

A peer is a module `NAME_peer.py` in this folder with a function
`start(workdir) -> dict`. It starts its server(s) on free ports of 127.0.0.1
inside `workdir` and returns what tests need (ports, user, password, folders)
plus "pids": the process ids to stop. The state goes to
$VARNELLO_PEER_STATE/NAME.json, which the tests read.
"""
import importlib
import json
import os
import shutil
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def state_dir():
    d = os.environ.get("VARNELLO_PEER_STATE") or os.path.join(os.getcwd(), "peer-state")
    os.makedirs(d, exist_ok=True)
    return d


def start(name):
    workdir = os.path.join(state_dir(), name)
    stop(name, quiet=True)
    os.makedirs(workdir, exist_ok=True)
    module = importlib.import_module(name + "_peer")
    state = module.start(workdir)
    state.setdefault("workdir", workdir)
    with open(os.path.join(state_dir(), name + ".json"), "w") as f:
        json.dump(state, f, indent=1)
    print("peer %s started: %s" % (name, json.dumps({k: v for k, v in state.items() if k != "password"})))


def stop(name, quiet=False):
    path = os.path.join(state_dir(), name + ".json")
    if not os.path.exists(path):
        if not quiet:
            print("peer %s: not running" % name)
        return
    with open(path) as f:
        state = json.load(f)
    for pid in state.get("pids", []):
        try:
            os.kill(int(pid), signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.time() + 5
    for pid in state.get("pids", []):
        while time.time() < deadline:
            try:
                os.kill(int(pid), 0)
                time.sleep(0.05)
            except ProcessLookupError:
                break
        else:
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
    os.remove(path)
    if not os.environ.get("VARNELLO_KEEP_PEERS"):
        shutil.rmtree(state.get("workdir", ""), ignore_errors=True)
    if not quiet:
        print("peer %s stopped" % name)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    {"start": start, "stop": stop}[sys.argv[1]](sys.argv[2])
