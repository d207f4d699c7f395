"""The OneDrive fake (onedrive_fake.py) as a test peer."""
import webdrive_fake


def start(workdir):
    return webdrive_fake.start_peer(workdir, "onedrive_fake.py")
