"""The three start-up outcomes of the real updater, seen from outside."""

import pytest

from conftest import (CHECK_PREFIX, ERROR_CAPTION, IDOK, LATER_BUTTON_ID, LATER_BUTTON_TEXT, PERSIAN_NOTES,
                      START_BUTTON_ID, START_BUTTON_TEXT, VERSION_READ_FAILURE_TEXT, WINDOW_TITLE, check_requests,
                      control, expect_server_failure, manifest, notes_text, screen_pixels, wait_until)


# An older release offered is the same road: the version vectors compare.
@pytest.mark.parametrize("variant, latest, asked, started", [
    pytest.param("1234", "1.2.3.4", "1.2.3.4", "1.2.3.4", id="same-version"),
    pytest.param("plus", "1.2.3.45", "1.2.3.45", "1.2.3+45", id="build-suffix-sent-as-fourth-part"),
    pytest.param(None, "0.0.0.0", "0.0.0.0", None, id="absent-application"),
])
def test_nothing_newer_starts_the_application_without_a_window(office, server, variant, latest, asked,
                                                                started):
    if variant:
        office.install_application(variant)
    else:
        (office.folder / "NIRVA").mkdir()
    # A mandatory release that is not newer is not installed either.
    server.check_body = manifest(latest, mandatory=True)

    office.start_updater()

    assert office.wait_for_exit() == 0
    assert [(r["path"], r["user_agent"]) for r in server.requests] == [(CHECK_PREFIX + asked, "NIRVA-Updater")]
    if started is None:
        office.assert_not_started()
        return
    start = office.wait_for_starts(1)
    assert [(s["version"], s["cmdline"]) for s in start] == [(started, '"NIRVA\\nirva_acc.exe" ')]
    assert start[0]["cwd"].endswith("\\office\\NIRVA")


def test_unreadable_version_is_reported_then_zero_version_is_asked(office, server):
    office.install_application("noversion")
    server.check_body = manifest("0.0.0.0")

    office.start_updater()

    box = office.wait_for_message_box(VERSION_READ_FAILURE_TEXT)
    assert box["title"] == ERROR_CAPTION
    assert check_requests(server) == [], "the server is asked only after the box is dismissed"
    office.press(box, IDOK)
    assert office.wait_for_exit() == 0
    assert [r["path"] for r in check_requests(server)] == [CHECK_PREFIX + "0.0.0.0"]


# The server's key, and what it answers (None: it is not there).
@pytest.mark.parametrize("server, answer", [
    pytest.param("pinned", dict(check_status=204), id="status-204"),
    pytest.param("pinned", dict(check_status=404), id="status-404"),
    pytest.param("pinned", dict(check_body=b""), id="empty-200"),
    # What arrives would read as an offer of 9.0.0.0: a manifest is read whole or not at all.
    pytest.param("pinned", dict(check_cut_at=30), id="body-broken-off"),
    pytest.param("pinned", dict(check_body=manifest("9.0.0.0") + b" " * (1 << 20)), id="body-over-1-MiB"),
    pytest.param("wrong", {}, id="another-key"),
    pytest.param("pinned", None, id="unreachable"),
], indirect=["server"])
def test_unusable_answer_shows_the_server_failure_box(office, server, answer):
    office.install_application("1234")
    server.check_body = manifest("9.0.0.0")
    if answer is None:
        server.stop()
    for name, value in (answer or {}).items():
        setattr(server, name, value)

    office.start_updater()

    expect_server_failure(office)
    assert [r["path"] for r in check_requests(server)] == ([] if answer is None else [CHECK_PREFIX + "1.2.3.4"])


def test_optional_release_is_offered_in_the_window(office, server):
    office.install_application("1234")
    server.check_body = manifest("1.2.4.0", notes=PERSIAN_NOTES)

    office.start_updater(arguments=["--silent", "--check-only", "anything"])

    window = office.wait_for_main_window()
    assert window["title"] == WINDOW_TITLE
    assert window["enabled"]
    assert notes_text(window) == PERSIAN_NOTES
    start, later = control(window, START_BUTTON_ID), control(window, LATER_BUTTON_ID)
    assert (start["text"], start["visible"]) == (START_BUTTON_TEXT, True)
    assert (later["text"], later["visible"]) == (LATER_BUTTON_TEXT, True)
    assert office.message_box() is None
    # The band below the buttons, which no control covers, is painted in the face colour of the system's
    # dialogs (COLOR_BTNFACE); themed buttons have a face of their own.
    left, top, right, bottom = window["client_screen_rect"]
    band = (left, top + start["rect"][3] + 4, right, bottom)
    face = tuple(map(int, office.probe.ask("syscolor 15").split()))
    wait_until(lambda: {pixel for row in screen_pixels(band) for pixel in row} == {face}, 10,
               what="the window's background")

    office.close(window)

    assert office.wait_for_exit() == 0
    office.assert_not_started()
    assert len(server.requests) == 1


def test_a_second_copy_in_the_same_office_leaves_the_update_to_the_first(office, server):
    office.install_application("1234")
    server.check_body = manifest("1.2.4.0")
    # The first copy's question is answered only once the other has ended.
    server.hold_check = True

    copies = [office.start_updater(), office.start_updater()]

    assert wait_until(lambda: [copy.poll() for copy in copies if copy.poll() is not None], 30,
                      what="a copy to end") == [0]
    server.release()
    office.wait_for_main_window()
    assert len(check_requests(server)) == 1
    assert len([w for w in office.windows() if w["class"] == "NIRVAUpdater" and w["visible"]]) == 1
    office.assert_not_started()
