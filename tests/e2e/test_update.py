"""The update itself, seen from outside: download, installation, the later
button and the ways a network, package or disk fault must not leave the user
without a working application."""

import os
import re
import time

import pytest

from conftest import (CHECK_PREFIX, DATA, DATA_NAME, DOWNLOAD_FAILED_TEXT, ERROR_CAPTION, FOLDER_HELD_TEXT, IDOK,
                      INSTALLATION_FAILURE_TEXT, INSTALLING_TEXT, LATER_BUTTON_ID, MANDATORY_CAPTION, MANDATORY_TEXT,
                      NEW_APPLICATION, NEW_RELEASE, OLD_APPLICATION, OLD_RELEASE, START_BUTTON_ID,
                      UPDATING_ELSEWHERE_TEXT, assert_installed, assert_nothing_installed, check_requests, control,
                      entries, files, harness, install_old_release, manifest, notes_text, offer, package,
                      package_requests, progress_position, sha256, start_update, status_text, wait_until,
                      watch_until_exit)

CLOSE_WAIT = 2.0
EARLIER = 1_600_000_000_000_000_000
# The package's answer waits half-way until the test lets it go on, so that
# the test looks and acts while the download runs.
HALF = len(package()) // 2
# Chunks further apart than the 100 ms after which the updater hands on what
# it has read, so that the window shows them before the answer waits.
PACED = dict(chunk_size=16384, delay=0.15)


def mandatory_warning_and_window(office):
    """The warning box and the window behind it, from one look."""
    def look():
        windows = office.windows()
        box = next((w for w in windows if w["class"] == "#32770" and w["visible"]
                    and any(c["text"] == MANDATORY_TEXT for c in w["children"])), None)
        window = next((w for w in windows if w["class"] == "NIRVAUpdater" and w["visible"]), None)
        return box and window and (box, window)
    return wait_until(look, 60, interval=0.1, what="the mandatory warning")


# Started by the button, or by a mandatory release behind its warning: the
# download waits half-way while the test looks and tries to interrupt it.
@pytest.mark.parametrize("mandatory", [False, True], ids=["start-button", "mandatory"])
def test_release_is_downloaded_installed_and_started(office, server, mandatory):
    office.install_application("1234")
    # The digest may come in either case.
    offer(server, mandatory=mandatory, sha256_text=sha256(package()).upper(), hold_at=HALF, **PACED)
    trace = office.root / "fsync.log"
    # Wine's server and services come from the prefix's first program. Had the
    # traced updater started them, the trace would wait for them, and they stay
    # while any probe runs; an untraced program running beside it comes first.
    office.hold(office.root, 0)
    office.start_updater({"NIRVA_UNPACK_DELAY_MS": "1500"},
                         tracer=["strace", "-f", "-qq", "-y", "-e", "trace=fsync", "-e", "signal=none", "-o", trace])

    if mandatory:
        box, window = mandatory_warning_and_window(office)
        assert (box["title"], window["enabled"], notes_text(window)) == (MANDATORY_CAPTION, False, "notes")
        assert not control(window, START_BUTTON_ID)["visible"] and not control(window, LATER_BUTTON_ID)["visible"]
        office.close(window)  # a mandatory update ignores it
    else:
        window = start_update(office)
        office.press(window, START_BUTTON_ID)  # a second click must start nothing
    half_way = wait_until(lambda: (window := office.main_window()) and 0 < progress_position(window) < 100
                          and (status_text(window), progress_position(window)), 30, what="progress half-way")
    assert (office.message_box(MANDATORY_TEXT) is not None) == mandatory, "the warning stays up meanwhile"
    server.release()
    seen = [half_way, *watch_until_exit(office)]

    # The bar fills with the download, then again with the unpacking. A look
    # reads the text and then the bar, so the one on the change of phase may
    # see the old text with the emptied bar: it belongs to neither.
    installing = seen.index(next(look for look in seen if look[0] == INSTALLING_TEXT))
    for phase in (seen[:installing - 1], seen[installing:]):
        assert [position for _, position in phase] == sorted(position for _, position in phase)
    assert any(text == INSTALLING_TEXT and 0 < position < 100 for text, position in seen)
    assert_installed(office)
    assert files(office.folder / "NIRVA") == NEW_RELEASE
    assert (office.folder / "nirva.zip").read_bytes() == package()
    assert len(package_requests(server)) == 1
    # Every new file reached the disk while it was still in the staging folder.
    assert set(re.findall(r"fsync\(\d+</.*/office/update/(.*)>\) = 0", trace.read_text())) == set(NEW_RELEASE)


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
    assert office.wait_for_starts(2)[1]["version"] == "1.2.3.4"
    assert package_requests(server) == []


# The later button pressed while the package comes: the download ends while
# the later routine is stopping the application, and the installation that
# then begins ends the run, with the new release or, after its box, the old one.
@pytest.mark.parametrize("data, box, started", [
    (package(), None, "2.0.0.0"), (package(application=OLD_APPLICATION), INSTALLATION_FAILURE_TEXT, "1.2.3.4"),
], ids=["installed", "failed"])
def test_later_button_meeting_the_installation_waits_for_its_outcome(office, server, data, box, started):
    office.install_application("1234")
    running = office.start_application("window")
    offer(server, data=data, hold_at=HALF)
    office.start_updater({"NIRVA_UNPACK_DELAY_MS": "3000"})
    window = start_update(office)
    wait_until(lambda: package_requests(server), 30, interval=0.05, what="the download")

    office.press(window, LATER_BUTTON_ID)
    wait_until(lambda: {"event": "close", "pid": running["pid"]} in office.records(), 30, interval=0.05,
               what="the later routine")
    server.release()
    if box:
        office.press(office.wait_for_message_box(box), IDOK)

    assert office.wait_for_exit() == 0
    assert [start["version"] for start in office.wait_for_starts(2)] == ["1.2.3.4", started]


# Each failed attempt is followed by a pause of a second; a first half
# received is progress, so it is not one of the three attempts that count.
# A mandatory update's window stays locked, its warning left up or dismissed,
# while the download runs (its first answer held) and may be left once it failed.
@pytest.mark.parametrize("package_options, sha256_text, requests, warning", [
    pytest.param(dict(status=404, hold_at=0), "", 3, "up", id="package-missing-mandatory"),
    pytest.param(dict(cut_at=HALF, ignore_ranges=True, hold_at=HALF // 2), "", 4, "dismissed",
                 id="body-cut-short-ranges-ignored-mandatory-warning-dismissed"),
    pytest.param({}, sha256(package() + b"tampered"), 3, None, id="sha256-mismatch"),
])
def test_failed_download_is_retried_then_fails_without_installing(office, server, package_options, sha256_text,
                                                                  requests, warning):
    office.install_application("1234")
    offer(server, mandatory=warning is not None, sha256_text=sha256_text, **package_options)
    earlier = office.folder / "nirva.zip"
    earlier.write_bytes(b"a package an earlier run left behind")
    os.utime(earlier, ns=(EARLIER, EARLIER))
    office.start_updater()

    if warning is None:
        window = start_update(office)
    else:
        box, window = mandatory_warning_and_window(office)
        wait_until(lambda: package_requests(server), 30, interval=0.05, what="the package request")
        if warning == "dismissed":
            office.press(box, IDOK)
            window = wait_until(lambda: office.message_box(MANDATORY_TEXT) is None and office.main_window(), 30,
                                what="the warning to go")
            assert not window["enabled"], "dismissing the warning does not release the window"
        office.close(window)  # ignored: the window is still there when the failure shows, seconds later
    released = time.monotonic()
    server.release()
    window = office.wait_for_status(DOWNLOAD_FAILED_TEXT)

    times = [request["time"] for request in package_requests(server)]
    assert len(times) == requests
    assert requests - 1 <= times[-1] - max(times[0], released) < 4 * (requests - 1)
    assert (earlier.read_bytes(), earlier.stat().st_mtime_ns) == (b"a package an earlier run left behind", EARLIER)
    earlier.unlink()
    assert_nothing_installed(office)
    assert window["enabled"]
    office.close(window)
    assert office.wait_for_exit() == 0
    assert office.starts() == []


@pytest.mark.parametrize("data, text", [
    pytest.param(package(folder="NIRVA/"), INSTALLATION_FAILURE_TEXT, id="program-one-folder-down"),
    pytest.param(package(application=OLD_APPLICATION), INSTALLATION_FAILURE_TEXT, id="another-release"),
])
def test_failed_installation_puts_the_old_application_back_and_says_so(office, server, data, text):
    install_old_release(office)
    offer(server, data=data)
    office.start_updater()

    start_update(office)
    box = office.wait_for_message_box(text)

    assert box["title"] == ERROR_CAPTION
    office.press(box, IDOK)
    window = office.wait_for_status(text)
    assert [start["version"] for start in office.wait_for_starts(1)] == ["1.2.3.4"]
    assert files(office.folder / "NIRVA") == OLD_RELEASE
    assert entries(office.folder) == ["NIRVA", "nirva.zip"]
    office.close(window)
    assert office.wait_for_exit() == 0


def test_leftover_backup_and_staging_folders_do_not_block_the_update_even_read_only(office, server):
    install_old_release(office)
    for leftover in ("NIRVA.bak", "update"):
        (office.folder / leftover / "junk").mkdir(parents=True)
        (office.folder / leftover / "junk" / "stale.txt").write_text("left over")
        (office.folder / leftover / "nirva_acc.exe").write_bytes(b"left over")
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
    # A held application folder says so; the leftovers are removed while it installs.
    office.wait_for_status(FOLDER_HELD_TEXT if held == "NIRVA" else INSTALLING_TEXT)
    if released:
        holding.unlink()
        assert_installed(office)
        return
    office.wait_for_message_box(INSTALLATION_FAILURE_TEXT, timeout=30)
    assert files(office.folder / "NIRVA") == OLD_RELEASE
    assert not (office.folder / "update" / "nirva_acc.exe").exists(), "nothing was unpacked"


# A missing NIRVA is the crash after moving it aside, below.
def test_release_without_its_program_is_replaced_by_the_backup_at_the_next_start(office, server):
    office.install_application("1234", directory="NIRVA.bak")
    (office.folder / "NIRVA" / DATA_NAME).parent.mkdir(parents=True)
    (office.folder / "NIRVA" / DATA_NAME).write_text("a release without its program")
    server.check_body = manifest("1.2.3.4")
    office.start_updater()

    assert office.wait_for_exit() == 0
    assert [r["path"] for r in check_requests(server)] == [CHECK_PREFIX + "1.2.3.4"]
    assert files(office.folder / "NIRVA") == {"nirva_acc.exe": OLD_APPLICATION.read_bytes()}
    assert entries(office.folder) == ["NIRVA"]
    assert [start["version"] for start in office.wait_for_starts(1)] == ["1.2.3.4"]


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


# The later button stops the application the same way (stopRunningApplication).
def test_installation_stops_this_offices_application_and_leaves_another_offices_running(office, server):
    office.install_application("1234")
    office.install_application("1234", directory="../elsewhere/NIRVA")
    other = office.start_application("window", directory="../elsewhere/NIRVA")
    ours = office.start_application("window")
    offer(server)
    office.start_updater()

    start_update(office)

    assert office.wait_for_exit() == 0
    office.wait_for_starts(3)
    assert {"event": "close", "pid": ours["pid"]} in office.records()
    assert [r["event"] for r in office.records() if r["pid"] == other["pid"]] == ["start", "window"]
    assert [w for w in office.windows() if w["class"] == "NirvaFakeApp" and w["pid"] == other["pid"]]


# An office folder on another PC is reached as a mapped drive and as the
# share's name: under Wine, a second drive letter for the same folder.
def test_another_path_to_the_folder_meets_the_same_lock_and_the_same_application(office, server):
    office.install_application("1234")
    lock = office.folder / "nirva_updater.lock"
    lock.write_bytes(b"")  # left by a power cut: held by nobody
    offer(server)
    server.hold_check = True
    first = office.start_updater()
    wait_until(lambda: check_requests(server), 30, what="the first copy's check")
    drive = harness.WINEPREFIX / "dosdevices" / "n:"
    drive.symlink_to(office.folder)
    try:
        ours = office.start_application("window")
        assert ours["exe"].startswith("N:\\")
        # The second copy tells its user that the folder is being updated, and steps aside.
        second = office.start_updater()
        office.press(office.wait_for_message_box(UPDATING_ELSEWHERE_TEXT, timeout=30), IDOK)
        assert second.wait(30) == 0
        server.release()
        office.process = first
        start_update(office)
        assert office.wait_for_exit() == 0
    finally:
        drive.unlink()
    assert len(check_requests(server)) == 1
    assert {"event": "close", "pid": ours["pid"]} in office.records()
    assert (office.folder / "NIRVA" / "nirva_acc.exe").read_bytes() == NEW_APPLICATION.read_bytes()
    assert not lock.exists()


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
        assert entries(office.folder) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert [r["path"] for r in check_requests(server)][1] == CHECK_PREFIX + installed_after_crash
