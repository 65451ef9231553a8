"""Harness for driving the real nirva_updater.exe under Wine.

Each test gets an office folder (the folder a user starts the updater in),
a TLS update server on the port the test build pins, and helpers to run the
updater, read its windows through the probe and read what the fake
application recorded.
"""

import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402
import test_server  # noqa: E402
from harness import (KEY_DIR, PORT, QUIET, SUPPORT_DIR, UPDATER, WINE_RUN, progress_position,  # noqa: E402,F401
                     wait_until)

# Texts the user sees, as code units.
SERVER_FAILURE_TEXT = (
    "\u062F\u0631 \u0627\u0631\u062A\u0628\u0627\u0637 \u0628\u0627 \u0633\u0631\u0648\u0631 "
    "\u062E\u0637\u0627 \u0631\u0648\u06CC \u062F\u0627\u062F\u0647 \u0627\u0632 \u0627\u062A\u0635\u0627\u0644 "
    "\u062E\u0648\u062F \u0628\u0647 \u0627\u06CC\u0646\u062A\u0631\u0646\u062A \u0627\u0637\u0645\u06CC\u0646\u0627\u0646 "
    "\u062D\u0627\u0635\u0644 \u0646\u0645\u0648\u062F\u0647 \u0648 \u062F\u0648\u0628\u0627\u0631\u0647 "
    "\u0628\u0631\u0646\u0627\u0645\u0647 \u0631\u0627 \u0628\u0627\u0632 \u06A9\u0646\u06CC\u062F")
SERVER_FAILURE_CAPTION = "\u062E\u0637\u0627\u06CC \u0627\u0631\u062A\u0628\u0627\u0637 \u0628\u0627 \u0633\u0631\u0648\u0631"
VERSION_READ_FAILURE_TEXT = (
    "\u062E\u0637\u0627 \u062F\u0631 \u062E\u0648\u0627\u0646\u062F\u0646 \u0646\u0633\u062E\u0647 "
    "\u0646\u0631\u0645 \u0627\u0641\u0632\u0627\u0631 \u0645\u0648\u062C\u0648\u062F")
ERROR_CAPTION = "\u062E\u0637\u0627"
WINDOW_TITLE = (
    "\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646 \u0646\u0631\u0645 \u0627\u0641\u0632\u0627\u0631 "
    "\u062D\u0633\u0627\u0628\u062F\u0627\u0631\u06CC \u0646\u06CC\u0631\u0648\u0627")
START_BUTTON_TEXT = "\u0622\u063A\u0627\u0632 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC"
LATER_BUTTON_TEXT = "\u0628\u0639\u062F\u0627 \u0628\u0647\u200C\u0631\u0648\u0632 \u0645\u06CC\u06A9\u0646\u0645"
MANDATORY_TEXT = (
    "\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0627\u062C\u0628\u0627\u0631\u06CC "
    "\u0627\u0633\u062A \u0648 \u0628\u0647\u0635\u0648\u0631\u062A \u062E\u0648\u062F\u06A9\u0627\u0631 "
    "\u0622\u063A\u0627\u0632 \u0634\u062F")
MANDATORY_CAPTION = "\u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0627\u062C\u0628\u0627\u0631\u06CC"
DOWNLOADING_TEXT = "\u062F\u0631 \u062D\u0627\u0644 \u062F\u0627\u0646\u0644\u0648\u062F \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC..."
DOWNLOAD_FAILED_TEXT = "\u062F\u0627\u0646\u0644\u0648\u062F \u0646\u0627\u0645\u0648\u0641\u0642 \u0628\u0648\u062F"
INSTALLING_TEXT = "\u062F\u0631 \u062D\u0627\u0644 \u0646\u0635\u0628..."
EXTRACTION_FAILURE_TEXT = (
    "\u0628\u0627\u0632 \u06A9\u0631\u062F\u0646 \u0641\u0627\u06CC\u0644 \u0641\u0634\u0631\u062F\u0647 "
    "\u0634\u062F\u0647 \u0628\u0627 \u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F!")
INSTALLATION_FAILURE_TEXT = (
    "\u0646\u0635\u0628 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0628\u0627 "
    "\u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F")
PERSIAN_NOTES = "\u0646\u0633\u062E\u0647 \u062C\u062F\u06CC\u062F \u0628\u0627 \u06AF\u0632\u0627\u0631\u0634\u200C\u0647\u0627\u06CC \u0628\u06CC\u0634\u062A\u0631"

CHECK_PREFIX = test_server.CHECK_PREFIX
IDOK = 1
START_BUTTON_ID = 104
LATER_BUTTON_ID = 105


def manifest(version, url="https://updates.example/packages/nirva.zip", notes="notes", mandatory=False,
             sha256=""):
    """A manifest as a server sends it: Persian as plain UTF-8."""
    text = ('{"version": "%s", "url": "%s", "sha256": "%s", "notes": "%s", '
            '"uploadDate": "2026-12-01", "releaseDate": "2026-12-01", "mandatory": %s}'
            % (version, url, sha256, notes, "true" if mandatory else "false"))
    return text.encode("utf-8")


def read_records(path):
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]


@pytest.fixture(scope="session")
def display():
    with harness.display("1280x1024") as name:
        yield name


class Office:
    """A user's folder with the application directory, and the updater run in it."""

    def __init__(self, root, display_name):
        self.root = root
        self.folder = root / "office"
        self.folder.mkdir()
        self.app_records = root / "app-records.jsonl"
        self.display = display_name
        self.process = None
        self.dump_path = root / "windows.json"

    def env(self, extra=None):
        values = {
            "DISPLAY": self.display,
            "NIRVA_FAKE_RECORD": str(self.app_records),
        }
        return {**os.environ, **values, **(extra or {})}

    def install_application(self, variant, directory="NIRVA"):
        target = self.folder / directory
        target.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(SUPPORT_DIR / f"nirva_acc_{variant}.exe", target / "nirva_acc.exe")
        return target

    def start_updater(self, extra_env=None, arguments=(), executable=UPDATER, tracer=()):
        self.process = subprocess.Popen([*tracer, str(WINE_RUN), str(executable), *arguments], cwd=self.folder,
                                        env=self.env(extra_env), **QUIET)
        return self.process

    def wait_for_exit(self, timeout=60):
        return self.process.wait(timeout=timeout)

    def start_application(self, mode, directory="NIRVA"):
        """A running copy of the installed application, as the user left it."""
        started = len(self.starts())
        subprocess.Popen([str(WINE_RUN), str(self.folder / directory / "nirva_acc.exe")],
                         cwd=self.folder / directory, env=self.env({"NIRVA_FAKE_MODE": mode}), **QUIET)
        return self.wait_for_starts(started + 1)[-1]

    def hold(self, folder, milliseconds):
        """A program working in folder, which Windows then will not rename or remove,
        until the returned file is deleted and milliseconds more."""
        signal = self.root / "holding"
        subprocess.Popen([str(WINE_RUN), str(SUPPORT_DIR / "ui_probe.exe"), "hold", str(signal), str(milliseconds)],
                         cwd=folder, env=self.env(), **QUIET)
        wait_until(signal.exists, 30, what="the holder")
        return signal

    def probe(self, *arguments):
        return harness.probe(*arguments, env=self.env())

    def windows(self):
        found = harness.windows(self.dump_path, env=self.env())
        assert found is not None, "the window probe failed"
        return found

    def main_window(self):
        return next((w for w in self.windows() if w["class"] == "NIRVAUpdater" and w["visible"]), None)

    def message_box(self, text=None):
        for window in self.windows():
            if window["class"] == "#32770" and window["visible"]:
                texts = [c["text"] for c in window["children"] if c["class"].lower() == "static"]
                if text is None or text in texts:
                    return window
        return None

    def wait_for_main_window(self, timeout=60):
        return wait_until(self.main_window, timeout, what="the updater window")

    def wait_for_status(self, text, timeout=60):
        """The updater window once its status line reads text."""
        return wait_until(lambda: (window := self.main_window()) and status_text(window) == text and window,
                          timeout, interval=0.1, what=f"the status {text!r}")

    def wait_for_message_box(self, text, timeout=60):
        return wait_until(lambda: self.message_box(text), timeout, what=f"a message box saying {text!r}")

    def press(self, window, control_id):
        assert self.probe("click", str(window["hwnd"]), str(control_id)) == 0

    def close(self, window):
        assert self.probe("close", str(window["hwnd"])) == 0

    def records(self):
        return read_records(self.app_records)

    def starts(self):
        return [r for r in self.records() if r["event"] == "start"]

    def wait_for_starts(self, count, timeout=30):
        """Started programs record themselves a moment after the updater has gone."""
        return wait_until(lambda: len(self.starts()) >= count and self.starts(), timeout,
                          what=f"{count} application start(s)")

    def assert_not_started(self, grace=2.0, earlier=0):
        """No start beyond the `earlier` ones, a moment after the updater has gone."""
        time.sleep(grace)
        assert len(self.starts()) == earlier


def screen_pixels(rect):
    """The screen's (red, green, blue) pixels within rect, row by row."""
    left, top, right, bottom = rect
    width, height = right - left, bottom - top
    ppm = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                          "ppm:-"], capture_output=True, check=True).stdout
    data = ppm[-width * height * 3:]
    return [[tuple(data[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)] for y in range(height)]


def control(window, control_id):
    return next(c for c in window["children"] if c["id"] == control_id)


def status_text(window):
    return next(c["text"] for c in window["children"] if c["class"].lower() == "edit" and c["rect"][1] == 20)


def notes_text(window):
    return next(c["text"] for c in window["children"] if c["class"].lower() == "edit" and c["rect"][1] == 50)


@pytest.fixture
def office(tmp_path, display):
    office = Office(tmp_path, display)
    yield office
    if office.process and office.process.poll() is None:
        office.process.kill()
    harness.stop_wine()


@pytest.fixture
def server():
    server = test_server.start(PORT, str(KEY_DIR / "pinned.crt"), str(KEY_DIR / "pinned.key"))
    yield server
    server.stop()


def check_requests(server):
    return [r for r in server.requests if r["path"].startswith(CHECK_PREFIX)]
