"""The window as a user meets it: laid out at the display's scale, and
driven from the keyboard through its own message loop."""

import subprocess
import time

import pytest

from conftest import (LATER_BUTTON_ID, START_BUTTON_ID, QUIET, WINE_RUN, assert_installed, control, events, manifest,
                      offer, package, package_requests, wait_until)

VK_TAB, VK_RETURN, VK_ESCAPE = 0x09, 0x0D, 0x1B


def set_display_dpi(dpi):
    """The scale Wine gives every program started from now on (150 % is 144)."""
    subprocess.run([str(WINE_RUN), "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], check=True, timeout=60, **QUIET)


def offered_window(office, server):
    office.install_application("1234")
    server.check_body = manifest("1.2.4.0")
    office.start_updater()
    return office.wait_for_main_window()


def test_the_window_and_its_controls_are_laid_out_at_the_displays_scale(office, server):
    looks = {}
    try:
        for dpi in (96, 144):
            set_display_dpi(dpi)
            looks[dpi] = offered_window(office, server)
            office.close(looks[dpi])
            assert office.wait_for_exit() == 0
    finally:
        set_display_dpi(96)

    def size(rect):
        return rect[2] - rect[0], rect[3] - rect[1]

    small, large = looks[96], looks[144]
    assert all(abs(b - 1.5 * a) <= 1 for a, b in zip(size(small["window_rect"]), size(large["window_rect"])))
    assert len(large["children"]) == len(small["children"]) == 5
    width, height = size(large["client_rect"])
    for at_96, at_144 in zip(small["children"], large["children"]):
        assert all(abs(b - 1.5 * a) <= 1 for a, b in zip(at_96["rect"], at_144["rect"])), at_144["class"]
        left, top, right, bottom = at_144["rect"]
        assert 0 <= left < right <= width and 0 <= top < bottom <= height, at_144["class"]


def press_key(office, window, key):
    """A key pressed where the keyboard's focus is."""
    assert office.probe.ask(f"key {window['hwnd']} {key}") == "0"


def focus_on(office, child):
    """The window once the keyboard's focus is on that child of it."""
    return wait_until(lambda: (window := office.main_window()) and window["focus"] == child(window)["hwnd"]
                      and window, 30, interval=0.05, what="the focus")


def start_button(window):
    return control(window, START_BUTTON_ID)


def test_enter_presses_the_start_button_which_has_the_focus_once(office, server):
    office.install_application("1234")
    offer(server, hold_at=len(package()) // 2)
    office.start_updater()
    window = focus_on(office, start_button)

    press_key(office, window, VK_RETURN)
    press_key(office, window, VK_RETURN)
    wait_until(lambda: package_requests(server), 30, interval=0.05, what="the download")
    # A second worker would give up within 3 s (three attempts a second apart on the
    # file the first one writes) and say so, while the first one waits half-way.
    time.sleep(4)
    server.release()

    assert_installed(office)
    assert [outcome["result"] for outcome in events(office, "outcome")] == ["installed"]


# Tab goes from the start button to the later button, then to the notes box;
# Escape is "update later" wherever the focus is, Enter on the later button
# too, and the later button's latch holds for its keys.
@pytest.mark.parametrize("keys", [
    pytest.param([(VK_TAB, LATER_BUTTON_ID), (VK_RETURN, None)], id="tab-then-enter"),
    pytest.param([(VK_TAB, LATER_BUTTON_ID), (VK_TAB, "notes"), (VK_ESCAPE, None), (VK_ESCAPE, None)],
                 id="escape-twice-in-the-notes-box"),
])
def test_the_keys_of_update_later_restart_the_application_without_fetching_the_package(office, server, keys):
    office.install_application("1234")
    offer(server)
    office.start_updater()
    window = focus_on(office, start_button)

    for key, then_focused in keys:
        press_key(office, window, key)
        if then_focused == "notes":
            window = focus_on(office, lambda w: next(c for c in w["children"] if c["text"] == "notes"))
        elif then_focused:
            window = focus_on(office, lambda w: control(w, then_focused))

    assert office.wait_for_exit() == 0
    assert [start["version"] for start in office.wait_for_starts(1)] == ["1.2.3.4"]
    assert package_requests(server) == []
    assert len(events(office, "later")) == 1
