"""Office 365 test peer: office365_fake.py over HTTPS with a certificate of
the test CA (see that file for what it plays)."""
import os

import peerlib


def start(workdir):
    state = peerlib.start_ready_file_fake(workdir, "office365_fake.py", "Office 365")
    state.update({"sites": os.path.join(os.path.abspath(workdir), "sites"),
                  "users": {"managed": ["managed@contoso.test", "Open ]]> <sesame> & co"],
                            "federated": ["federated@fabrikam.test", "fed pass"],
                            "nourl": ["nourl@contoso.test", "x"]}})
    return state
