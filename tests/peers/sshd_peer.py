"""OpenSSH's sshd on loopback, serving only SFTP (internal-sftp) to the test
account, by password or by a client key made here.

State: host, port, url (sftp:// URL of the served folder, ending in "/"),
user, password, root (the served folder on disk), client_key (private key
file for OpenSSH's sftp client), host_key_public (the server's public host
key line, "ssh-ed25519 AAAA..."), sjis_folder, cp1251_folder, work_folder
(as the vsftpd peer), other_user and other_password (a second account),
pids; nofolders_port and nofolders_url: a second port of the same server
whose SFTP refuses to make folders (mkdir) and allows everything else.
"""
import os
import subprocess

import ftp_common
import peerlib

CONFIG = """\
Port {port}
Port {nofolders_port}
ListenAddress 127.0.0.1
HostKey {host_key}
PidFile {workdir}/sshd.pid
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile {workdir}/authorized_keys
StrictModes no
PermitRootLogin no
AllowUsers {user} {other}
PrintMotd no
MaxStartups 100:30:200
MaxSessions 100
LogLevel VERBOSE
Subsystem sftp internal-sftp
ForceCommand internal-sftp -d {root}
Match LocalPort {nofolders_port}
    ForceCommand internal-sftp -d {root} -P mkdir
"""


def _keygen(path, comment, kind="ed25519"):
    subprocess.run(["ssh-keygen", "-q", "-t", kind, "-N", "", "-C", comment, "-f", path],
                   check=True, stdout=subprocess.DEVNULL)


def _public(path):
    with open(path + ".pub") as f:
        return " ".join(f.read().split()[:2])


def start(workdir, extra_host_key_types=()):
    """extra_host_key_types: more host keys of these types ("ecdsa"), each in
    the state as host_key_public_TYPE."""
    uid, gid = ftp_common.ensure_user()
    other = ftp_common.ensure_other_user()
    root = os.path.join(workdir, "root")
    ftp_common.make_tree(root, uid, gid)

    host_key = os.path.join(workdir, "ssh_host_ed25519_key")
    _keygen(host_key, "varnello-peer-host")
    client_key = os.path.join(workdir, "client_key")
    _keygen(client_key, "varnello-peer-client")
    with open(client_key + ".pub") as src, open(os.path.join(workdir, "authorized_keys"), "w") as dst:
        dst.write(src.read())
    host_key_public = _public(host_key)
    host_keys = [host_key]
    extra_public = {}
    for kind in extra_host_key_types:
        path = os.path.join(workdir, "ssh_host_%s_key" % kind)
        _keygen(path, "varnello-peer-host", kind)
        host_keys.append(path)
        extra_public["host_key_public_" + kind] = _public(path)

    # sshd's privilege separation folder.
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    port = peerlib.free_port()
    nofolders_port = peerlib.free_port()
    while nofolders_port == port:
        nofolders_port = peerlib.free_port()
    config = os.path.join(workdir, "sshd_config")
    with open(config, "w") as f:
        f.write(CONFIG.format(port=port, nofolders_port=nofolders_port, host_key="\nHostKey ".join(host_keys),
                              workdir=workdir, user=ftp_common.TEST_USER,
                              other=ftp_common.OTHER_USER, root=root))
    os.chmod(config, 0o600)
    # The server writes listing times in its own time zone: UTC, as FTP
    # servers list, whatever zone the tests run in.
    env = dict(os.environ, TZ="UTC")
    pid = peerlib.spawn(["/usr/sbin/sshd", "-D", "-e", "-f", config], workdir, "sshd.log", env=env)
    peerlib.wait_for_port(port)
    peerlib.wait_for_port(nofolders_port)

    return dict(extra_public, **other, **{
        "pids": [pid],
        "host": "127.0.0.1",
        "port": port,
        "url": "sftp://127.0.0.1:%d%s/" % (port, root),
        "nofolders_port": nofolders_port,
        "nofolders_url": "sftp://127.0.0.1:%d%s/" % (nofolders_port, root),
        "user": ftp_common.TEST_USER,
        "password": ftp_common.TEST_PASSWORD,
        "root": root,
        "client_key": client_key,
        "host_key_public": host_key_public,
        "sjis_folder": "/sjis/",
        "cp1251_folder": "/cp1251/",
        "work_folder": "/work/",
    })
