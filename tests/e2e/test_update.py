"""The update itself, seen from outside: download, installation, the later
button and the ways a network, package or disk fault must not leave the user
without a working application."""

import functools
import hashlib
import io
import os
import re
import time
import zipfile

import pytest

from conftest import (CHECK_PREFIX, DOWNLOAD_FAILED_TEXT, ERROR_CAPTION, IDOK, INSTALLATION_FAILURE_TEXT,
                      INSTALLING_TEXT, LATER_BUTTON_ID, MANDATORY_TEXT, START_BUTTON_ID, SUPPORT_DIR,
                      check_requests, harness, manifest, progress_position, status_text, wait_until)

OLD_APPLICATION = SUPPORT_DIR / "nirva_acc_1234.exe"
NEW_APPLICATION = SUPPORT_DIR / "nirva_acc_2000.exe"
PACKAGE_PATH = "/releases/2.0/nirva.zip"
PACKAGE_URL = "https://updates.example" + PACKAGE_PATH
DATA_NAME = "data/ledger.txt"
DATA = "".join(f"ledger line {n:05d}\r\n" for n in range(4000)).encode("ascii")
CLOSE_WAIT = 2.0

# Small chunks with a pause between them: the download takes a few seconds,
# long enough to act and look while it runs.
SLOW = dict(chunk_size=32768, delay=0.4)


@functools.cache
def package(folder="", application=NEW_APPLICATION):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(application, folder + "nirva_acc.exe")
        archive.writestr(folder + DATA_NAME, DATA)
    return buffer.getvalue()


def files(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() for path in folder.rglob("*") if path.is_file()}


OLD_RELEASE = {"nirva_acc.exe": OLD_APPLICATION.read_bytes(), DATA_NAME: b"the old release's ledger"}
NEW_RELEASE = {"nirva_acc.exe": NEW_APPLICATION.read_bytes(), DATA_NAME: DATA}


def install_old_release(office):
    office.install_application("1234")
    (office.folder / "NIRVA" / DATA_NAME).parent.mkdir()
    (office.folder / "NIRVA" / DATA_NAME).write_bytes(OLD_RELEASE[DATA_NAME])


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def offer(server, mandatory=False, sha256_text="", **package_options):
    server.check_body = manifest("2.0.0.0", url=PACKAGE_URL, mandatory=mandatory, sha256=sha256_text)
    server.packages[PACKAGE_PATH] = dict(data=package(), **package_options)


def package_requests(server):
    return [r for r in server.requests if r["path"] == PACKAGE_PATH]


def start_update(office):
    window = office.wait_for_main_window()
    office.press(window, START_BUTTON_ID)
    return window


def watch_until_exit(office):
    """Status text and progress position of every look at the window until the updater ends."""
    seen = []
    while office.process.poll() is None:
        window = office.main_window()
        if window:
            seen.append((status_text(window), progress_position(window)))
    return seen


def assert_installed(office):
    folder = office.folder
    assert office.wait_for_exit() == 0
    assert files(folder / "NIRVA") == NEW_RELEASE
    assert (folder / "NIRVA.bak" / "nirva_acc.exe").read_bytes() == OLD_APPLICATION.read_bytes()
    assert not (folder / "update").exists()
    starts = office.wait_for_starts(1)
    assert len(starts) == 1
    assert starts[0]["version"] == "2.0.0.0"
    assert starts[0]["cwd"].endswith("\\office\\NIRVA")
    assert starts[0]["exe"].endswith("\\office\\NIRVA\\nirva_acc.exe")


def assert_nothing_installed(office):
    folder = office.folder
    assert (folder / "NIRVA" / "nirva_acc.exe").read_bytes() == OLD_APPLICATION.read_bytes()
    # What a failed download received waits for the next start.
    assert sorted(p.name for p in folder.iterdir() if ".partial" not in p.name) == ["NIRVA"]
    assert office.starts() == []


def test_start_button_installs_the_release_and_starts_it(office, server):
    office.install_application("1234")
    # The digest may come in either case.
    offer(server, sha256_text=sha256(package()).upper(), **SLOW)
    trace = office.root / "fsync.log"
    office.start_updater({"NIRVA_UNPACK_DELAY_MS": "1500"},
                         tracer=["strace", "-f", "-qq", "-y", "-e", "trace=fsync", "-e", "signal=none", "-o", trace])

    window = start_update(office)
    office.press(window, START_BUTTON_ID)  # a second click must start nothing
    seen = watch_until_exit(office)

    # The bar fills with the download, then again with the unpacking.
    installing = seen.index(next(look for look in seen if look[0] == INSTALLING_TEXT))
    for phase in (seen[:installing], seen[installing:]):
        assert [position for _, position in phase] == sorted(position for _, position in phase)
    assert any(text == INSTALLING_TEXT and 0 < position < 100 for text, position in seen)
    assert_installed(office)
    assert (office.folder / "nirva.zip").read_bytes() == package()
    assert len(package_requests(server)) == 1
    # Every new file reached the disk while it was still in the staging folder.
    assert set(re.findall(r"fsync\(\d+</.*/office/update/(.*)>\) = 0", trace.read_text())) == set(NEW_RELEASE)


def test_mandatory_release_installs_without_a_click(office, server):
    office.install_application("1234")
    offer(server, mandatory=True, **SLOW)
    office.start_updater()

    office.wait_for_message_box(MANDATORY_TEXT)
    wait_until(lambda: package_requests(server), 30, interval=0.1, what="the package request")
    assert office.message_box(MANDATORY_TEXT) is not None, "the warning is still up"

    assert_installed(office)
    assert len(package_requests(server)) == 1


@pytest.mark.parametrize("mode, answer", [("window", "close"), ("stubborn", "close-ignored")])
def test_later_button_stops_the_running_application_and_starts_it_again(office, server, mode, answer):
    office.install_application("1234")
    running = office.start_application(mode)
    offer(server)
    office.start_updater()

    window = office.wait_for_main_window()
    pressed = time.monotonic()
    office.press(window, LATER_BUTTON_ID)
    assert office.wait_for_exit() == 0
    ended = time.monotonic()

    assert CLOSE_WAIT <= ended - pressed < CLOSE_WAIT + 8
    assert {"event": answer, "pid": running["pid"]} in office.records()
    wait_until(lambda: not [w for w in office.windows() if w["class"] == "NirvaFakeApp"
                            and w["pid"] == running["pid"]], 10, what="the running copy to be gone")
    restarted = office.wait_for_starts(2)[1]
    assert restarted["version"] == "1.2.3.4"
    assert restarted["cwd"].endswith("\\office\\NIRVA")
    assert package_requests(server) == []


def test_package_missing_on_every_attempt_fails_after_three_tries(office, server):
    office.install_application("1234")
    server.check_body = manifest("2.0.0.0", url=PACKAGE_URL)
    earlier = office.folder / "nirva.zip"
    earlier.write_bytes(b"a package an earlier run left behind")
    os.utime(earlier, ns=(1_600_000_000_000_000_000, 1_600_000_000_000_000_000))
    office.start_updater()

    start_update(office)
    office.wait_for_status(DOWNLOAD_FAILED_TEXT)
    failed_seen = time.monotonic()

    requests = package_requests(server)
    assert len(requests) == 3
    first, last = requests[0]["time"], requests[-1]["time"]
    assert 2.0 <= last - first < 8.0, "a pause of a second after each failed attempt"
    assert 3.0 <= failed_seen - first < 10.0
    assert earlier.read_bytes() == b"a package an earlier run left behind"
    assert earlier.stat().st_mtime_ns == 1_600_000_000_000_000_000
    assert office.process.poll() is None
    assert office.starts() == []


# A first half received is progress, so it is not one of the three attempts.
@pytest.mark.parametrize("package_options, sha256_text, requests", [
    pytest.param(dict(cut_at=len(package()) // 2, ignore_ranges=True), "", 4, id="body-cut-short-ranges-ignored"),
    pytest.param({}, sha256(package() + b"tampered"), 3, id="sha256-mismatch"),
])
def test_damaged_package_is_retried_then_fails_without_installing(office, server, package_options,
                                                                   sha256_text, requests):
    office.install_application("1234")
    offer(server, sha256_text=sha256_text, **package_options)
    office.start_updater()

    window = start_update(office)
    office.wait_for_status(DOWNLOAD_FAILED_TEXT)

    assert len(package_requests(server)) == requests
    assert_nothing_installed(office)
    office.close(window)
    assert office.wait_for_exit() == 0
    assert office.starts() == []


@pytest.mark.parametrize("data, text", [
    pytest.param(package(folder="NIRVA/"), INSTALLATION_FAILURE_TEXT, id="program-one-folder-down"),
    pytest.param(package(application=OLD_APPLICATION), INSTALLATION_FAILURE_TEXT, id="another-release"),
])
def test_failed_installation_puts_the_old_application_back_and_says_so(office, server, data, text):
    install_old_release(office)
    server.check_body = manifest("2.0.0.0", url=PACKAGE_URL)
    server.packages[PACKAGE_PATH] = dict(data=data)
    office.start_updater()

    start_update(office)
    box = office.wait_for_message_box(text)

    assert box["title"] == ERROR_CAPTION
    office.press(box, IDOK)
    window = office.wait_for_status(text)
    started = office.wait_for_starts(1)
    assert len(started) == 1
    assert started[0]["version"] == "1.2.3.4"
    assert started[0]["cwd"].endswith("\\office\\NIRVA")
    assert files(office.folder / "NIRVA") == OLD_RELEASE
    assert sorted(p.name for p in office.folder.iterdir()) == ["NIRVA", "nirva.zip"]
    office.close(window)
    assert office.wait_for_exit() == 0


@pytest.mark.parametrize("read_only", [False, True])
def test_leftover_backup_and_staging_folders_do_not_block_the_update(office, server, read_only):
    install_old_release(office)
    for leftover in ("NIRVA.bak", "update"):
        (office.folder / leftover / "junk").mkdir(parents=True)
        (office.folder / leftover / "junk" / "stale.txt").write_text("left over")
        (office.folder / leftover / "nirva_acc.exe").write_bytes(b"left over")
    if read_only:
        for path in [*office.folder.rglob("*.*"), office.folder / "update" / "junk"]:
            path.chmod(0o555 if path.is_dir() else 0o444)
    offer(server)
    office.start_updater()

    start_update(office)

    assert_installed(office)
    assert files(office.folder / "NIRVA") == NEW_RELEASE
    assert files(office.folder / "NIRVA.bak") == OLD_RELEASE


@pytest.mark.parametrize("held, released", [("NIRVA.bak", True), ("NIRVA", True), ("update", False)])
def test_folder_in_use_is_waited_for_a_while(office, server, held, released):
    install_old_release(office)
    (office.folder / held).mkdir(exist_ok=True)
    holding = office.hold(office.folder / held, 5000)
    offer(server)
    office.start_updater()

    start_update(office)
    office.wait_for_status(INSTALLING_TEXT)
    if released:
        holding.unlink()
        assert_installed(office)
        return
    office.wait_for_message_box(INSTALLATION_FAILURE_TEXT, timeout=30)
    assert files(office.folder / "NIRVA") == OLD_RELEASE
    assert not (office.folder / "update" / "nirva_acc.exe").exists(), "nothing was unpacked"


@pytest.mark.parametrize("broken", [None, "data/ledger.txt"])
def test_interrupted_installation_is_recovered_at_the_next_start(office, server, broken):
    office.install_application("1234", directory="NIRVA.bak")
    if broken:
        (office.folder / "NIRVA" / broken).parent.mkdir(parents=True)
        (office.folder / "NIRVA" / broken).write_text("a release without its program")
    server.check_body = manifest("1.2.3.4")
    office.start_updater()

    assert office.wait_for_exit() == 0
    assert [r["path"] for r in check_requests(server)] == [CHECK_PREFIX + "1.2.3.4"]
    assert files(office.folder / "NIRVA") == {"nirva_acc.exe": OLD_APPLICATION.read_bytes()}
    assert sorted(p.name for p in office.folder.iterdir()) == ["NIRVA"]
    started = office.wait_for_starts(1)
    assert started[0]["version"] == "1.2.3.4"
    assert started[0]["cwd"].endswith("\\office\\NIRVA")


def mandatory_warning_and_window(office):
    """The warning box and the window behind it, from one look."""
    def look():
        windows = office.windows()
        box = next((w for w in windows if w["class"] == "#32770" and w["visible"]
                    and any(c["text"] == MANDATORY_TEXT for c in w["children"])), None)
        window = next((w for w in windows if w["class"] == "NIRVAUpdater" and w["visible"]), None)
        return box and window and (box, window)
    return wait_until(look, 60, interval=0.1, what="the mandatory warning")


# A missing package fails within seconds, so the warning is left up; a slow
# broken one leaves time to dismiss the warning first.
@pytest.mark.parametrize("package_options, warning_dismissed", [
    pytest.param(None, False, id="package-404-warning-up"),
    pytest.param(dict(cut_at=len(package()) // 2, ignore_ranges=True, **SLOW), True,
                 id="body-cut-short-warning-dismissed"),
])
def test_failed_mandatory_update_can_then_be_closed(office, server, package_options, warning_dismissed):
    office.install_application("1234")
    server.check_body = manifest("2.0.0.0", url=PACKAGE_URL, mandatory=True)
    if package_options is not None:
        server.packages[PACKAGE_PATH] = dict(data=package(), **package_options)
    office.start_updater()

    box, window = mandatory_warning_and_window(office)
    assert not window["enabled"]
    if warning_dismissed:
        office.press(box, IDOK)
    office.close(window)
    # The failure comes at least three pauses of a second after the first
    # request, so this close request was handled before it.
    assert time.monotonic() - package_requests(server)[0]["time"] < 3.0
    if warning_dismissed:
        window = wait_until(lambda: office.message_box(MANDATORY_TEXT) is None and office.main_window(), 30,
                            what="the warning to go")
        assert status_text(window) != DOWNLOAD_FAILED_TEXT
        assert not window["enabled"], "dismissing the warning does not release the window"

    window = office.wait_for_status(DOWNLOAD_FAILED_TEXT)
    assert window["enabled"]
    office.close(window)
    assert office.wait_for_exit() == 0
    assert_nothing_installed(office)


@pytest.mark.parametrize("action", ["close", "later"])
def test_installation_cannot_be_interrupted(office, server, action):
    office.install_application("1234")
    offer(server)
    office.start_updater({"NIRVA_UNPACK_DELAY_MS": "4000"})

    start_update(office)
    window = office.wait_for_status(INSTALLING_TEXT)
    if action == "close":
        office.close(window)
    else:
        office.press(window, LATER_BUTTON_ID)
    time.sleep(1.0)
    assert office.main_window() is not None
    assert office.process.poll() is None

    assert_installed(office)


@pytest.mark.parametrize("button", [START_BUTTON_ID, LATER_BUTTON_ID])
def test_another_offices_copy_of_the_application_is_left_running(office, server, button):
    office.install_application("1234")
    office.install_application("1234", directory="../elsewhere/NIRVA")
    other = office.start_application("window", directory="../elsewhere/NIRVA")
    ours = office.start_application("window")
    offer(server)
    office.start_updater()

    office.press(office.wait_for_main_window(), button)

    assert office.wait_for_exit() == 0
    office.wait_for_starts(3)
    assert {"event": "close", "pid": ours["pid"]} in office.records()
    assert [r["event"] for r in office.records() if r["pid"] == other["pid"]] == ["start"]
    assert [w for w in office.windows() if w["class"] == "NirvaFakeApp" and w["pid"] == other["pid"]]


# Where each crash leaves the office folder is told by the version the next
# start finds installed.
@pytest.mark.parametrize("step, installed_after_crash", [
    ("stopped", "1.2.3.4"), ("cleaned", "1.2.3.4"), ("moved-aside", "1.2.3.4"), ("extracting", "1.2.3.4"),
    ("extracted", "1.2.3.4"), ("swapped", "2.0.0.0"),
])
def test_crash_at_any_step_leaves_a_working_application(office, server, step, installed_after_crash):
    install_old_release(office)
    offer(server, mandatory=True)
    office.start_updater({"NIRVA_CRASH_AT": step})
    assert office.wait_for_exit() != 0
    harness.stop_wine()  # the power goes with it
    assert office.starts() == []
    assert files(office.folder / "NIRVA") in (OLD_RELEASE, NEW_RELEASE) or (
        not (office.folder / "NIRVA").exists() and files(office.folder / "NIRVA.bak") == OLD_RELEASE)

    # The same release again, then a server with nothing newer.
    for run, check_body in enumerate([server.check_body, manifest("1.2.3.4")], start=1):
        server.check_body = check_body
        office.start_updater()
        assert office.wait_for_exit() == 0
        assert office.wait_for_starts(run)[-1]["version"] == "2.0.0.0"
        assert files(office.folder / "NIRVA") == NEW_RELEASE
        assert files(office.folder / "NIRVA.bak") == OLD_RELEASE
        assert sorted(p.name for p in office.folder.iterdir()) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert [r["path"] for r in check_requests(server)][1] == CHECK_PREFIX + installed_after_crash
