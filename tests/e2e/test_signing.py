"""Releases signed with an offline key: an updater built with a release key
installs only what that key (or its backup) signed, whoever holds the
server's key; one built without it ignores signatures."""

import base64
import shutil
import sys

import pytest

from conftest import DOWNLOAD_FAILED_TEXT, KEY_DIR, PORT, UPDATER, manifest, test_server
from harness import BUILD_DIR, SIGNED_UPDATER, SOURCE_DIR
from test_startup import expect_server_failure
from test_trust import key, release_with_updater
from test_update import PACKAGE_PATH, PACKAGE_URL, assert_installed, offer, package, package_requests, sha256

sys.path.insert(0, str(SOURCE_DIR / "tools" / "release"))
from release_tool import signing  # noqa: E402
from release_tool.reader import read_manifest  # noqa: E402

SIGNED_NEXT_UPDATER = BUILD_DIR / "signed-next" / "nirva_updater.exe"


def signature(body, release_key):
    message = signing.canonical_message(read_manifest(body.decode("utf-8")))
    return signing.sign(message, KEY_DIR / f"{release_key}.pem")


def with_signature(body, text):
    return body[:-1] + f', "signature": "{text}"}}'.encode()


def signed(body, release_key="release"):
    return with_signature(body, signature(body, release_key))


def offered(sha256_text=None):
    return manifest("2.0.0.0", url=PACKAGE_URL, mandatory=True,
                    sha256=sha256(package()) if sha256_text is None else sha256_text)


@pytest.mark.parametrize("updater, answer", [
    (SIGNED_UPDATER, lambda: signed(offered(), "release")),
    (SIGNED_UPDATER, lambda: signed(offered(), "release-backup")),
    (UPDATER, lambda: with_signature(offered(), "not a signature")),
], ids=["release-key", "backup-release-key", "updater-without-release-key-ignores-signatures"])
def test_signed_release_installs(office, server, updater, answer):
    office.install_application("1234")
    offer(server)
    server.check_body = answer()

    office.start_updater(executable=updater)

    assert_installed(office)


def tampered(field, original, replacement):
    return lambda: signed(offered()).replace(f'"{field}": {original}'.encode(), f'"{field}": {replacement}'.encode())


REFUSED = {
    "no-signature": lambda: offered(),
    "unknown-key": lambda: signed(offered(), "release-next"),
    "older-release-signature": lambda: with_signature(
        offered(), signature(manifest("1.9.0.0", url=PACKAGE_URL, mandatory=True, sha256=sha256(package())), "release")),
    "url-changed": tampered("url", f'"{PACKAGE_URL}"', '"https://updates.example/packages/1.0/nirva.zip"'),
    "sha256-changed": tampered("sha256", f'"{sha256(package())}"', f'"{"0" * 64}"'),
    "mandatory-changed": tampered("mandatory", "true", "false"),
    "notes-changed": tampered("notes", '"notes"', '"other notes"'),
    "signature-too-short": lambda: with_signature(offered(), base64.b64encode(b"\1" * 48).decode()),
    "signature-not-base64": lambda: with_signature(offered(), "*" * 86 + "=="),
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


def test_release_key_rotation_through_the_updaters_own_update(office):
    """A release signed with the backup release key carries an updater that has
    it as its release key; from then on only that key is believed."""
    office.install_application("1234")
    updater = office.folder / "nirva_updater.exe"
    shutil.copyfile(SIGNED_UPDATER, updater)
    release = release_with_updater(SIGNED_NEXT_UPDATER)
    server = test_server.start(PORT, *key("pinned"))
    try:
        server.check_body = signed(manifest("2.0.0.0", url=PACKAGE_URL, mandatory=True, sha256=sha256(release)),
                                   "release-backup")
        server.packages[PACKAGE_PATH] = dict(data=release)
        office.start_updater(executable=updater)
        assert office.wait_for_exit(timeout=120) == 0
        assert updater.read_bytes() == SIGNED_NEXT_UPDATER.read_bytes()

        server.check_body = signed(manifest("2.0.0.0"), "release-backup")
        office.start_updater(executable=updater)
        assert office.wait_for_exit() == 0
        assert [s["version"] for s in office.wait_for_starts(2)] == ["2.0.0.0", "2.0.0.0"]

        # The retired release key no longer vouches for anything.
        server.check_body = signed(manifest("2.0.0.0"), "release")
        office.start_updater(executable=updater)
        expect_server_failure(office, earlier_starts=2)
    finally:
        server.stop()
