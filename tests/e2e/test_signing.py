"""Releases signed with an offline key: an updater built with a release key
installs only what that key (or its backup) signed, whoever holds the
server's key; one built without it ignores signatures."""

import shutil
import sys

import pytest

from conftest import (DOWNLOAD_FAILED_TEXT, KEY_DIR, PACKAGE_URL, UPDATER, assert_installed, expect_server_failure,
                      manifest, offer, package, package_requests, release_with_updater, sha256)
from harness import BUILD_DIR, SIGNED_UPDATER, SOURCE_DIR

sys.path.insert(0, str(SOURCE_DIR / "tools" / "release"))
from release_tool import signing  # noqa: E402
from release_tool.reader import read_manifest  # noqa: E402

SIGNED_NEXT_UPDATER = BUILD_DIR / "signed-next" / "nirva_updater.exe"


def with_signature(body, text):
    return body[:-1] + f', "signature": "{text}"}}'.encode()


def signed(body, release_key="release"):
    message = signing.canonical_message(read_manifest(body.decode("utf-8")))
    return with_signature(body, signing.sign(message, KEY_DIR / f"{release_key}.pem"))


def offered(sha256_text=None):
    return manifest("2.0.0.0", url=PACKAGE_URL, mandatory=True,
                    sha256=sha256(package()) if sha256_text is None else sha256_text)


# The backup release key is believed too: the rotation below starts with it.
@pytest.mark.parametrize("updater, answer", [
    (SIGNED_UPDATER, lambda: signed(offered(), "release")),
    (UPDATER, lambda: with_signature(offered(), "not a signature")),
], ids=["release-key", "updater-without-release-key-ignores-signatures"])
def test_signed_release_installs(office, server, updater, answer):
    office.install_application("1234")
    offer(server)
    server.check_body = answer()

    office.start_updater(executable=updater)

    assert_installed(office)


# Which manifests verify (any signed field changed, a signature of another
# release or by another key, too short, not base64...) is the subject of the
# vectors that the updater's unit tests and the release tool's tests share;
# these show that the updater asks, and about what it was sent.
REFUSED = {
    "no-signature": lambda: offered(),
    "sha256-changed": lambda: signed(offered()).replace(sha256(package()).encode(), b"0" * 64),
}


@pytest.mark.parametrize("answer", REFUSED.values(), ids=REFUSED.keys())
def test_unsigned_or_altered_manifest_is_a_server_failure(office, server, answer):
    office.install_application("1234")
    offer(server)
    server.check_body = answer()

    office.start_updater(executable=SIGNED_UPDATER)

    expect_server_failure(office)
    assert package_requests(server) == []


def test_signed_release_without_a_digest_is_not_downloaded(office, server):
    office.install_application("1234")
    offer(server)
    server.check_body = signed(offered(sha256_text=""))

    office.start_updater(executable=SIGNED_UPDATER)

    office.wait_for_status(DOWNLOAD_FAILED_TEXT)
    assert package_requests(server) == []


def test_release_key_rotation_through_the_updaters_own_update(office, server):
    """A release signed with the backup release key carries an updater that has
    it as its release key; from then on only that key is believed."""
    office.install_application("1234")
    updater = office.folder / "nirva_updater.exe"
    shutil.copyfile(SIGNED_UPDATER, updater)
    release = release_with_updater(SIGNED_NEXT_UPDATER)
    offer(server, data=release)
    server.check_body = signed(manifest("2.0.0.0", url=PACKAGE_URL, mandatory=True, sha256=sha256(release)),
                               "release-backup")
    office.start_updater(executable=updater)
    assert office.wait_for_exit(timeout=120) == 0
    assert updater.read_bytes() == SIGNED_NEXT_UPDATER.read_bytes()

    server.check_body = signed(manifest("2.0.0.0"), "release-backup")
    office.start_updater(executable=updater)
    assert office.wait_for_exit() == 0
    assert [s["version"] for s in office.wait_for_starts(2)] == ["2.0.0.0", "2.0.0.0"]

    # The retired release key, well-formed signature and all, no longer vouches for anything.
    server.check_body = signed(manifest("2.0.0.0"), "release")
    office.start_updater(executable=updater)
    expect_server_failure(office, earlier_starts=2)
