"""SugarSync test peer: sugarsync_fake.py over HTTPS with a certificate of
the test CA (see that file for what it plays)."""
import peerlib


def start(workdir):
    state = peerlib.start_ready_file_fake(workdir, "sugarsync_fake.py", "SugarSync")
    state.update({"user": "sync@example.test", "password": "sync pass"})
    return state
