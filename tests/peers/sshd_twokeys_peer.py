"""An OpenSSH sshd like the sshd peer, with two host keys: ed25519 and ECDSA.
A client that asks for no type in particular gets the one its library
prefers; the tests of host-key types ask for the one they remembered. Its
state has the sshd peer's fields, host_key_public being the ed25519 key, and
host_key_public_ecdsa.
"""
import sshd_peer


def start(workdir):
    return sshd_peer.start(workdir, extra_host_key_types=("ecdsa",))
