"""The photo-album service fake (photos_fake.py) as a test peer."""
import webdrive_fake


def start(workdir):
    return webdrive_fake.start_peer(workdir, "photos_fake.py")
