"""Office 365 test peer: office365_fake.py over HTTPS with a certificate of
the test CA (see that file for what it plays)."""
import json
import os

import peerlib


def start(workdir):
    state = peerlib.start_ready_file_fake(workdir, "office365_fake.py", "Office 365")
    with open(os.path.join(os.path.abspath(workdir), "ready.json")) as f:
        second_port = json.load(f)["second_port"]
    state.update({"sites": os.path.join(os.path.abspath(workdir), "sites"),
                  "second_port": second_port,
                  "requests_file": os.path.join(os.path.abspath(workdir), "requests.log"),
                  "users": {"managed": ["managed@contoso.test", "Open ]]> <sesame> & co"],
                            "federated": ["federated@fabrikam.test", "fed pass"],
                            "nourl": ["nourl@contoso.test", "x"],
                            "elsewhere": ["elsewhere@contoso.test", "y"]}})
    return state
