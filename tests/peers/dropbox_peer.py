"""The Dropbox fake (dropbox_fake.py) as a test peer: https with the test
CA's certificate for the API, plain http for the authorization page."""
import webdrive_fake


def start(workdir):
    return webdrive_fake.start_peer(workdir, "dropbox_fake.py",
                                    {"app_key": "fakeappkey00001", "app_secret": "fakeappsecret01", "uid": "4711"})
