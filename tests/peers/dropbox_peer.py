"""The Dropbox fake (dropbox_fake.py) as a test peer: https with the test
CA's certificate for the API, plain http for the authorization page."""
import json
import os

import apache_peer
import peerlib

HERE = os.path.dirname(os.path.abspath(__file__))


def start(workdir):
    tls = apache_peer.make_test_ca(os.path.join(workdir, "tls"))
    config = {"https_port": peerlib.free_port(), "http_port": peerlib.free_port(),
              "cert": tls["cert"], "key": tls["key"],
              "app_key": "fakeappkey00001", "app_secret": "fakeappsecret01", "uid": "4711"}
    path = os.path.join(workdir, "config.json")
    with open(path, "w") as f:
        json.dump(config, f)
    pid = peerlib.spawn_python(os.path.join(HERE, "dropbox_fake.py"), [path], workdir, "fake.log")
    peerlib.wait_for_port(config["https_port"])
    peerlib.wait_for_port(config["http_port"])
    return {"available": True, "https_port": config["https_port"], "http_port": config["http_port"],
            "ca_file": tls["ca"], "app_key": config["app_key"], "app_secret": config["app_secret"],
            "uid": config["uid"], "pids": [pid]}
