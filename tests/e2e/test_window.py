"""The window at the display's scale, and driven by keys posted where the keyboard's focus is."""

import subprocess

import pytest

from conftest import (LATER_BUTTON_ID, START_BUTTON_ID, QUIET, WINE_RUN, assert_installed, events, manifest, offer,
                      package_requests, wait_until)

VK_TAB, VK_RETURN, VK_ESCAPE = 0x09, 0x0D, 0x1B


def set_display_dpi(dpi):
    subprocess.run([str(WINE_RUN), "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], check=True, timeout=60, **QUIET)


# Wine reads the scale when a program starts: 150 % is 144 DPI.
def test_the_window_and_its_controls_are_laid_out_at_the_displays_scale(office, server):
    office.install_application("1234")
    server.check_body = manifest("1.2.4.0")
    looks = {}
    try:
        for dpi in (96, 144):
            set_display_dpi(dpi)
            office.start_updater()
            office.close(looks.setdefault(dpi, office.wait_for_main_window()))
            assert office.wait_for_exit() == 0
    finally:
        set_display_dpi(96)

    def one_and_a_half_times(at_96, at_144):
        return all(abs(b - 1.5 * a) <= 1 for a, b in zip(at_96, at_144))

    def size(rect):
        return rect[2] - rect[0], rect[3] - rect[1]

    small, large = looks[96], looks[144]
    assert one_and_a_half_times(size(small["window_rect"]), size(large["window_rect"]))
    for at_96, at_144 in zip(small["children"], large["children"], strict=True):
        left, top, right, bottom = at_144["rect"]
        assert one_and_a_half_times(at_96["rect"], at_144["rect"]), at_144["class"]
        assert 0 <= left < right <= large["client_rect"][2] and 0 <= top < bottom <= large["client_rect"][3]


def press_key(office, window, key):
    assert office.probe.ask(f"key {window['hwnd']} {key}") == "0"


def focus_on(office, child):
    """The window once the focus is on that child of it, named by its control id or its text."""
    def focused(window):
        return any(window["focus"] == c["hwnd"] and child in (c["id"], c["text"]) for c in window["children"])
    return wait_until(lambda: (window := office.main_window()) and focused(window) and window, 30, interval=0.05,
                      what=f"the focus on {child}")


def test_enter_presses_the_start_button_which_has_the_focus(office, server):
    office.install_application("1234")
    offer(server)
    office.start_updater()

    press_key(office, focus_on(office, START_BUTTON_ID), VK_RETURN)

    assert_installed(office)


# Tab goes from the start button to the later button, then to the notes box. Escape wherever
# the focus is, and Enter on the later button, are "update later", latch and all.
@pytest.mark.parametrize("keys", [
    pytest.param([(VK_TAB, LATER_BUTTON_ID), (VK_RETURN, None)], id="tab-then-enter"),
    pytest.param([(VK_TAB, LATER_BUTTON_ID), (VK_TAB, "notes"), (VK_ESCAPE, None), (VK_ESCAPE, None)],
                 id="escape-twice-in-the-notes-box"),
])
def test_the_keys_of_update_later_restart_the_application_without_fetching_the_package(office, server, keys):
    office.install_application("1234")
    offer(server)
    office.start_updater()
    window = focus_on(office, START_BUTTON_ID)

    for key, then_focused in keys:
        press_key(office, window, key)
        window = focus_on(office, then_focused) if then_focused else window

    assert office.wait_for_exit() == 0
    assert [start["version"] for start in office.wait_for_starts(1)] == ["1.2.3.4"]
    assert package_requests(server) == []
    assert len(events(office, "later")) == 1
