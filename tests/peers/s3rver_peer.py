"""s3rver (from the npm registry) on loopback as the S3 service, checking
request signatures with its default key pair S3RVER / S3RVER. Buckets are
reached as sub-domains of s3.varnello.test, which the tests map to
127.0.0.1.

The package is installed on first use into the user's cache folder
(varnello/npm), with the machine's npm; nothing is installed globally."""
import fcntl
import os
import subprocess

import peerlib

VERSION = "3.7.1"
SERVICE_HOST = "s3.varnello.test"
SERVICE_ENDPOINT = "varnello.test"  # s3rver takes <bucket>.s3.<endpoint> as a bucket


def s3rver_binary():
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    prefix = os.path.join(cache, "varnello", "npm")
    binary = os.path.join(prefix, "node_modules", ".bin", "s3rver")
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(prefix, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # two test runs must not install at once
        if not os.path.exists(binary):
            subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", prefix, "s3rver@" + VERSION],
                           check=True, stdout=subprocess.DEVNULL, timeout=600)
    return binary


def start(workdir):
    data = os.path.join(os.path.abspath(workdir), "data")
    os.makedirs(data, exist_ok=True)
    port = peerlib.free_port()
    pid = peerlib.spawn([s3rver_binary(), "-d", data, "-a", "127.0.0.1", "-p", str(port), "-s",
                         "--service-endpoint", SERVICE_ENDPOINT], workdir, "s3rver.log")
    peerlib.wait_for_port(port, timeout=60)
    return {"port": port, "pids": [pid], "host": SERVICE_HOST, "access_key": "S3RVER", "secret": "S3RVER"}
