"""Only the pinned server and the vendor decide what runs: no redirect is
followed, no TLS older than 1.2 is spoken, a malformed digest refuses the
update, no planted DLL is loaded, and the server key can be rotated through
the updater's own self-update."""

import shutil
import ssl

import pytest

from conftest import (CHECK_PREFIX, DOWNLOAD_FAILED_TEXT, OLD_APPLICATION, PACKAGE_PATH, PORT, SUPPORT_DIR,
                      UPDATER, WINE_RUN, assert_installed, assert_nothing_installed,
                      expect_server_failure, key, manifest, offer, package, package_requests, release_with_updater,
                      sha256, test_server, wait_until)
from harness import BUILD_DIR

NEXT_UPDATER = BUILD_DIR / "next" / "nirva_updater.exe"
# ws2_32 is one that winhttp imports and the updater never loads by itself.
PLANTED = ("winhttp", "version", "crypt32", "bcrypt", "ws2_32")


@pytest.fixture
def elsewhere():
    """A server with the pinned key on the next port, where a redirect would lead."""
    server = test_server.start(PORT + 1, *key("pinned"))
    yield server
    server.stop()


@pytest.mark.parametrize("first_key, redirected", [
    ("wrong", "check"), ("pinned", "check"), ("wrong", "package"), ("pinned", "package")])
def test_redirects_are_not_followed(office, server, elsewhere, first_key, redirected):
    """The first hop answers 302 with a Location whose target would answer 200."""
    target = f"https://127.0.0.1:{PORT + 1}"
    offer(elsewhere)
    office.install_application("1234")
    offer(server, mandatory=True)
    # The redirecting answer comes with first_key (after a check with the pinned key).
    (server.use_key if redirected == "check" else server.use_key_after_first_connection)(*key(first_key))
    path = CHECK_PREFIX + "1.2.3.4" if redirected == "check" else PACKAGE_PATH
    server.redirects[path] = target + path
    office.start_updater()
    if redirected == "check":
        expect_server_failure(office)
    else:
        office.wait_for_status(DOWNLOAD_FAILED_TEXT)
        assert len(package_requests(server)) == 3
    assert elsewhere.requests == []
    assert_nothing_installed(office)


def test_a_server_that_speaks_only_tls_1_0_and_1_1_is_refused(office, server):
    """Wine, like Windows 7 and 8.0, offers TLS 1.0 unless the program asks for more."""
    server.limit_protocols(ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1)
    server.check_body = manifest("0.0.0.1")
    office.install_application("1234")

    office.start_updater()

    expect_server_failure(office)
    assert server.requests == []


# Which texts are digests the unit tests list; this one is a digit short.
def test_malformed_digest_refuses_the_update_before_any_package_request(office, server):
    office.install_application("1234")
    offer(server, mandatory=True, sha256_text=sha256(package())[1:])
    office.start_updater()

    window = office.wait_for_status(DOWNLOAD_FAILED_TEXT)

    assert window["enabled"], "a failed mandatory update can be left"
    assert package_requests(server) == []
    office.close(window)
    assert office.wait_for_exit() == 0
    assert_nothing_installed(office)


# Without SetDefaultDllDirectories (Windows 7 lacking KB2533623), the test
# build's switch makes the updater load each DLL by its full path instead.
@pytest.mark.parametrize("switch", [{}, {"NIRVA_WITHOUT_SET_DEFAULT_DLL_DIRECTORIES": "1"}],
                         ids=["limited-search", "full-paths"])
def test_dlls_planted_beside_the_updater_are_never_loaded(office, server, switch):
    """Windows looks in the program's folder first; Wine does so for DLLs marked native."""
    office.install_application("1234")
    updater = office.folder / "nirva_updater.exe"
    shutil.copyfile(UPDATER, updater)
    for name in PLANTED:
        shutil.copyfile(SUPPORT_DIR / "planted" / f"{name}.dll", office.folder / f"{name}.dll")
    offer(server, mandatory=True, sha256_text=sha256(package()))

    office.start_updater({"NIRVA_WINEDLLOVERRIDES": ",".join(PLANTED) + "=n,b", **switch}, executable=updater)

    assert_installed(office)
    assert sorted(path.name for path in office.folder.glob("*.loaded")) == []


# The office's updater pins key A ("pinned") with B ("backup") as its backup;
# the next updater pins B, with a new backup. "still-running" keeps a copy of
# an earlier updater running under the name a replacement moves the current
# one to, so that the replacement cannot happen.
@pytest.mark.parametrize("case, server, carried", [
    ("switch-after-update", "pinned", NEXT_UPDATER),
    ("switch-before-update", "backup", NEXT_UPDATER),
    ("same-version", "pinned", UPDATER),
    ("still-running", "pinned", NEXT_UPDATER),
], indirect=["server"])
def test_key_rotation_through_the_updaters_own_update(office, server, case, carried):
    office.install_application("1234")
    updater = office.folder / "nirva_updater.exe"
    shutil.copyfile(UPDATER, updater)
    old_updater = office.folder / "nirva_updater.exe.old"
    if case == "still-running":
        shutil.copyfile(OLD_APPLICATION, old_updater)
        started = office.root / "still-running.jsonl"
        holder = office.run([str(WINE_RUN), str(old_updater)], office.folder,
                            {"NIRVA_FAKE_MODE": "stubborn", "NIRVA_FAKE_RECORD": str(started)})
        wait_until(started.exists, 30, what="the earlier updater to run")
    release = release_with_updater(carried)
    replaced = carried == NEXT_UPDATER and case != "still-running"
    offer(server, mandatory=True, sha256_text=sha256(release), data=release)

    office.start_updater(executable=updater)
    assert office.wait_for_exit(timeout=120) == 0
    assert [s["version"] for s in office.wait_for_starts(1)] == ["2.0.0.0"]
    assert updater.read_bytes() == (NEXT_UPDATER if replaced else UPDATER).read_bytes()
    assert old_updater.exists() == (case != "same-version")
    assert not (office.folder / "nirva_updater.exe.new").exists()
    if case == "still-running":
        holder.kill()  # the earlier updater's file may go from now on

    # The vendor now serves with key B, and nothing newer. A replacement that
    # the first run could not make, the next start makes.
    server.use_key(*key("backup"))
    server.check_body = manifest("2.0.0.0")
    office.start_updater(executable=updater)
    assert office.wait_for_exit() == 0
    assert [s["version"] for s in office.wait_for_starts(2)] == ["2.0.0.0", "2.0.0.0"]
    assert updater.read_bytes() == carried.read_bytes()
    if replaced:
        wait_until(lambda: not old_updater.exists(), 10, what="the replaced updater to be removed")



# An earlier run installed a release that carries the next updater and was cut
# off before it put it in place. The next start takes it before its check, also
# when the server has moved to a key that only the next updater pins.
@pytest.mark.parametrize("server, stranded", [("pinned", False), ("next-backup", True)], indirect=["server"],
                         ids=["nothing-newer", "retired-key"])
def test_updater_left_in_the_installed_release_is_taken_at_the_next_start(office, server, stranded):
    office.install_application("2000")
    shutil.copyfile(NEXT_UPDATER, office.folder / "NIRVA" / "nirva_updater.exe")
    updater = office.folder / "nirva_updater.exe"
    shutil.copyfile(UPDATER, updater)
    server.check_body = manifest("2.0.0.0")

    office.start_updater(executable=updater)
    if stranded:
        expect_server_failure(office)
        office.start_updater(executable=updater)  # the office reaches the server again
    assert office.wait_for_exit() == 0
    assert [s["version"] for s in office.wait_for_starts(1)] == ["2.0.0.0"]
    assert updater.read_bytes() == NEXT_UPDATER.read_bytes()
