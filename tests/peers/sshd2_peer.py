"""A second OpenSSH sshd on loopback, on another port of the same address as
the sshd peer and with a host key of its own: for the tests of host keys
remembered per host and port. Its state has the sshd peer's fields.
"""
import sshd_peer


def start(workdir):
    return sshd_peer.start(workdir)
