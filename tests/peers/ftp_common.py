"""What the FTP and SFTP peers share: the test account, the test CA and the
tree of files both servers serve.

The servers authenticate real system accounts, so the peers use one
dedicated system user (created on first use; password fixed, so peers of
several build folders can run side by side). Everything runs as root here.
"""
import os
import pwd
import subprocess

TEST_USER = "varnello-peer"
TEST_PASSWORD = "Peer-pass-4-tests"
# A second account, for two drives of one server side by side.
OTHER_USER = "varnello-peer2"
OTHER_PASSWORD = "Peer-pass-4-others"
# vsftpd changes into the home folder before its local_root, so it must exist.
TEST_HOME = "/var/lib/varnello-peer"

# Names whose raw bytes are in a legacy encoding, for encoding detection: each
# folder holds names of one encoding only.
SJIS_NAMES = ["日本語のファイル.txt", "会議の議事録.txt", "写真フォルダの説明.txt",
              "新しいテキスト文書.txt", "東京の地図について.txt", "お知らせ一覧.txt"]
CP1251_NAMES = ["Привет мир.txt", "Отчёт за год.txt", "Новая папка с файлами.txt",
                "Фотографии с отпуска.txt", "Документы для работы.txt", "Список покупок.txt"]

# Names that need care in URLs, commands and listings.
ODD_NAMES = ["name with spaces.txt", "it's a \"quoted\" name.txt", "Grüße aus Köln.txt",
             "odd #hash ?query %41percent.txt", "  leading blanks.txt"]


def ensure_user(user=TEST_USER, password=TEST_PASSWORD):
    """A system account the servers log in (created once, password set each time)."""
    os.makedirs(TEST_HOME, mode=0o755, exist_ok=True)
    try:
        if pwd.getpwnam(user).pw_dir != TEST_HOME:
            subprocess.run(["usermod", "--home", TEST_HOME, user], check=True)
    except KeyError:
        # Another peer starting at the same moment may make it first.
        subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", TEST_HOME,
                        "--shell", "/bin/sh", user], check=False)
        pwd.getpwnam(user)
    subprocess.run(["chpasswd"], input=("%s:%s\n" % (user, password)).encode(), check=True)
    entry = pwd.getpwnam(user)
    return entry.pw_uid, entry.pw_gid


def ensure_other_user():
    """The second account; its state fields are other_user and other_password."""
    ensure_user(OTHER_USER, OTHER_PASSWORD)
    return {"other_user": OTHER_USER, "other_password": OTHER_PASSWORD}


def _write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_tree(root, uid, gid):
    """The files the tests expect, owned by the test account."""
    os.makedirs(root, exist_ok=True)
    _write(os.path.join(root, "hello.txt"), b"Hello from the file server\n")
    for name in ODD_NAMES:
        _write(os.path.join(root.encode(), name.encode("utf-8")), name.encode("utf-8") + b"\n")
    os.makedirs(os.path.join(root, "docs", "sub folder"), exist_ok=True)
    _write(os.path.join(root, "docs", "readme.md"), b"# Docs\n")
    _write(os.path.join(root, "docs", "sub folder", "inner.txt"), b"inner\n")
    for folder, names, codec in (("sjis", SJIS_NAMES, "cp932"), ("cp1251", CP1251_NAMES, "cp1251")):
        base = os.path.join(root, folder).encode()
        os.makedirs(base, exist_ok=True)
        for name in names:
            # The content is the name in UTF-8, so a test can tell it read the right file.
            _write(os.path.join(base, name.encode(codec)), name.encode("utf-8"))
    # Dot names: left out of a plain LIST by most FTP servers.
    os.makedirs(os.path.join(root, "dotted", ".config", ".deeper"), exist_ok=True)
    _write(os.path.join(root, "dotted", ".profile"), b"export PATH\n")
    _write(os.path.join(root, "dotted", "visible.txt"), b"plain to see\n")
    _write(os.path.join(root, "dotted", ".config", "settings.ini"), b"[main]\nkey=value\n")
    _write(os.path.join(root, "dotted", ".config", ".deeper", ".secret"), b"deep and hidden\n")
    os.makedirs(os.path.join(root, "work"), exist_ok=True)
    # Symbolic links to a file, to a folder (relative and absolute) and to
    # nothing, as servers list them with an "l" line whatever they point at.
    links = os.path.join(root, "links")
    os.makedirs(os.path.join(links, "real folder"), exist_ok=True)
    _write(os.path.join(links, "real.txt"), b"the file behind the link\n")
    _write(os.path.join(links, "real folder", "inside.txt"), b"inside the linked folder\n")
    os.symlink("real.txt", os.path.join(links, "file link.txt"))
    os.symlink("real folder/inside.txt", os.path.join(links, "inner link.txt"))
    os.symlink("real folder", os.path.join(links, "folder link"))
    os.symlink(os.path.join(root, "docs"), os.path.join(links, "absolute folder link"))
    broken = os.path.join(root, "broken")
    os.makedirs(broken, exist_ok=True)
    _write(os.path.join(broken, "whole.txt"), b"next to a dangling link\n")
    os.symlink("missing.txt", os.path.join(broken, "dangling.txt"))
    for dirpath, dirnames, filenames in os.walk(root.encode()):
        os.lchown(dirpath, uid, gid)
        for n in filenames + [d for d in dirnames if os.path.islink(os.path.join(dirpath, d))]:
            os.lchown(os.path.join(dirpath, n), uid, gid)
