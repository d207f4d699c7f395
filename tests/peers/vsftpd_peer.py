"""vsftpd on loopback: one server for plain FTP (passive and active mode) and
one for explicit FTPS (AUTH TLS, certificate from a test CA), both serving
the same tree as the test account.

State: host, port (plain), ftps_port, url, ftps_url, user, password, root
(the served folder on disk), ca_file (the test CA, PEM), sjis_folder and
cp1251_folder (folders whose names are in one legacy encoding), work_folder
(a scratch folder tests may change; make a sub-folder of your own), pids;
other_user and other_password: a second account on the same servers;
nofolders_port and nofolders_url: a third server on the same tree, plain,
that refuses to make folders (MKD) and allows everything else, as an
account that may write files but not make folders.
noremoval_port and noremoval_url: a plain server on the same tree that makes
folders and takes files but removes nothing (DELE, RMD): an upload account.
dropbox_port and dropbox_url: the same that renames nothing either (RNFR,
RNTO): the usual drop box, where a file arrives only under the name it is
stored with.

vsftpd keeps its default of leaving dot files out of a plain LIST, as most
installations do: the client must ask for them.
"""
import os

import apache_peer
import ftp_common
import peerlib

BASE_CONFIG = """\
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
run_as_launching_user=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root={root}
chroot_local_user=NO
secure_chroot_dir={empty}
pam_service_name=vsftpd
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
connect_from_port_20=NO
port_enable=YES
pasv_enable=YES
pasv_address=127.0.0.1
dirmessage_enable=NO
use_localtime=NO
hide_ids=NO
max_clients=0
max_per_ip=0
userlist_enable=NO
delay_failed_login=0
xferlog_enable=YES
xferlog_std_format=NO
vsftpd_log_file={log}
"""

TLS_CONFIG = """\
ssl_enable=YES
rsa_cert_file={cert}
rsa_private_key_file={key}
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=NO
ssl_ciphers=HIGH
ssl_tlsv1=YES
ssl_sslv2=NO
ssl_sslv3=NO
"""


def _config(workdir, name, port, root, extra=""):
    empty = os.path.join(workdir, "empty")
    os.makedirs(empty, exist_ok=True)
    os.chmod(empty, 0o755)
    path = os.path.join(workdir, name + ".conf")
    with open(path, "w") as f:
        f.write(BASE_CONFIG.format(port=port, root=root, empty=empty,
                                   log=os.path.join(workdir, name + ".log")) + extra)
    os.chmod(path, 0o600)
    return path


def start(workdir):
    uid, gid = ftp_common.ensure_user()
    other = ftp_common.ensure_other_user()
    root = os.path.join(workdir, "root")
    ftp_common.make_tree(root, uid, gid)
    tls = apache_peer.make_test_ca(workdir)

    pids = []
    port = peerlib.free_port()
    plain = _config(workdir, "plain", port, root)
    pids.append(peerlib.spawn(["/usr/sbin/vsftpd", plain], workdir, "plain.out"))
    ftps_port = peerlib.free_port()
    while ftps_port == port:
        ftps_port = peerlib.free_port()
    secure = _config(workdir, "ftps", ftps_port, root,
                     TLS_CONFIG.format(cert=tls["cert"], key=tls["key"]))
    pids.append(peerlib.spawn(["/usr/sbin/vsftpd", secure], workdir, "ftps.out"))
    # Plain servers on the same tree, each refusing some commands.
    refusing = {"nofolders": "MKD,XMKD",
                "noremoval": "RMD,XRMD,DELE",
                "dropbox": "RMD,XRMD,DELE,RNFR,RNTO"}
    ports = {}
    taken = {port, ftps_port}
    for name, denied in refusing.items():
        ports[name] = peerlib.free_port()
        while ports[name] in taken:
            ports[name] = peerlib.free_port()
        taken.add(ports[name])
        conf = _config(workdir, name, ports[name], root, "cmds_denied=%s\n" % denied)
        pids.append(peerlib.spawn(["/usr/sbin/vsftpd", conf], workdir, name + ".out"))
    for p in [port, ftps_port] + list(ports.values()):
        peerlib.wait_for_port(p)

    state = dict(other)
    for name, p in ports.items():
        state[name + "_port"] = p
        state[name + "_url"] = "ftp://127.0.0.1:%d/" % p
    return dict(state, **{
        "pids": pids,
        "host": "127.0.0.1",
        "port": port,
        "ftps_port": ftps_port,
        "url": "ftp://127.0.0.1:%d/" % port,
        "ftps_url": "ftp://127.0.0.1:%d/" % ftps_port,
        "user": ftp_common.TEST_USER,
        "password": ftp_common.TEST_PASSWORD,
        "root": root,
        "ca_file": tls["ca"],
        "sjis_folder": "/sjis/",
        "cp1251_folder": "/cp1251/",
        "work_folder": "/work/",
    })
