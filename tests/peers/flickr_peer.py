"""The Flickr fake (flickr_fake.py) as a test peer."""
import webdrive_fake


def start(workdir):
    return webdrive_fake.start_peer(workdir, "flickr_fake.py")
