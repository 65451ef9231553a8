"""Harness for driving the real nirva_updater.exe under Wine.

Each test gets an office folder (the folder a user starts the updater in),
a TLS update server on the port the test build pins, and helpers to run the
updater, read its windows through the probe and read what the fake
application recorded. Wine, its services and the probe stay up for the
whole module; a test ends only what it started.
"""

import functools
import hashlib
import http.client
import io
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import time
import zipfile
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
# While programs hold the application folder.
FOLDER_HELD_TEXT = "برنامه دیگری فایل های نرم افزار را باز نگه داشته است؛ در انتظار بسته شدن آن..."
EXTRACTION_FAILURE_TEXT = (
    "\u0628\u0627\u0632 \u06A9\u0631\u062F\u0646 \u0641\u0627\u06CC\u0644 \u0641\u0634\u0631\u062F\u0647 "
    "\u0634\u062F\u0647 \u0628\u0627 \u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F!")
UPDATING_ELSEWHERE_TEXT = (
    "\u0628\u0631\u0646\u0627\u0645\u0647 \u0627\u06A9\u0646\u0648\u0646 \u062F\u0631 \u062D\u0627\u0644 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0627\u0633\u062A. \u0644\u0637\u0641\u0627\u064B "
    "\u0686\u0646\u062F \u062F\u0642\u06CC\u0642\u0647 \u062F\u06CC\u06AF\u0631 \u062F\u0648\u0628\u0627\u0631\u0647 \u062A\u0644\u0627\u0634 \u06A9\u0646\u06CC\u062F.")
INSTALLATION_FAILURE_TEXT = (
    "\u0646\u0635\u0628 \u0628\u0647\u200C\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06CC \u0628\u0627 "
    "\u062E\u0637\u0627 \u0645\u0648\u0627\u062C\u0647 \u0634\u062F")
PERSIAN_NOTES = "\u0646\u0633\u062E\u0647 \u062C\u062F\u06CC\u062F \u0628\u0627 \u06AF\u0632\u0627\u0631\u0634\u200C\u0647\u0627\u06CC \u0628\u06CC\u0634\u062A\u0631"

CHECK_PREFIX = test_server.CHECK_PREFIX
OLD_APPLICATION = SUPPORT_DIR / "nirva_acc_1234.exe"
NEW_APPLICATION = SUPPORT_DIR / "nirva_acc_2000.exe"
PACKAGE_PATH = "/releases/2.0/nirva.zip"
PACKAGE_URL = "https://updates.example" + PACKAGE_PATH
DATA_NAME = "data/ledger.txt"
# Read by the fake application beside its program: how that release starts.
START_FILE = "fake_start.txt"
DATA = "".join(f"ledger line {n:05d}\r\n" for n in range(4000)).encode("ascii")
IDOK = 1
START_BUTTON_ID = 104
LATER_BUTTON_ID = 105


def manifest(version, url="https://updates.example/packages/nirva.zip", notes="notes", mandatory=False,
             sha256="", size=None):
    """A manifest as a server sends it: Persian as plain UTF-8; size as JSON text."""
    text = ('{"version": "%s", "url": "%s", "sha256": "%s", "notes": "%s", '
            '"uploadDate": "2026-12-01", "releaseDate": "2026-12-01", "mandatory": %s%s}'
            % (version, url, sha256, notes, "true" if mandatory else "false",
               "" if size is None else ', "size": %s' % size))
    return text.encode("utf-8")


# The updater's own files in the office folder: its log, the office id, a report not yet sent, the lock
# a running updater holds.
UPDATER_FILES = {"nirva_updater.log", "nirva_updater.log.1", "nirva_updater.id", "nirva_updater.report",
                 "nirva_updater.lock", "nirva_updater.refused"}


def entries(folder):
    """The folder's entries by name, the updater's own files aside."""
    return sorted(p.name for p in folder.iterdir() if p.name not in UPDATER_FILES)


def read_records(path):
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]


@pytest.fixture(scope="session")
def display():
    with harness.display("1280x1024") as name:
        yield name


@pytest.fixture(scope="session")
def probe(display):
    probe = harness.WindowProbe()
    yield probe
    probe.close()


class Office:
    """A user's folder with the application directory, and the updater run in it."""

    def __init__(self, root, probe):
        self.root = root
        self.folder = root / "office"
        self.folder.mkdir()
        self.app_records = root / "app-records.jsonl"
        self.probe = probe
        self.process = None
        self.started = []
        # Every program of this test, and what it starts, carries it.
        self.marker = f"NIRVA_TEST_CASE={root}"

    def env(self, extra=None):
        values = {
            "NIRVA_FAKE_RECORD": str(self.app_records),
            "NIRVA_TEST_CASE": str(self.root),
        }
        return {**os.environ, **values, **(extra or {})}

    def run(self, command, cwd, extra_env=None):
        """A program of this test, ended with it."""
        self.started.append(subprocess.Popen(command, cwd=cwd, env=self.env(extra_env), **QUIET))
        return self.started[-1]

    def install_application(self, variant, directory="NIRVA"):
        target = self.folder / directory
        target.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(SUPPORT_DIR / f"nirva_acc_{variant}.exe", target / "nirva_acc.exe")
        return target

    def start_updater(self, extra_env=None, arguments=(), executable=UPDATER, tracer=()):
        self.process = self.run([*tracer, str(WINE_RUN), str(executable), *arguments], self.folder, extra_env)
        return self.process

    def wait_for_exit(self, timeout=60):
        return self.process.wait(timeout=timeout)

    def start_application(self, mode, directory="NIRVA"):
        """A running copy of the installed application, as the user left it."""
        started = len(self.starts())
        self.run([str(WINE_RUN), str(self.folder / directory / "nirva_acc.exe")], self.folder / directory,
                 {"NIRVA_FAKE_MODE": mode})
        return self.wait_for_starts(started + 1)[-1]

    def hold(self, folder, milliseconds):
        """A program working in folder, which Windows then will not rename or remove,
        until the returned file is deleted and milliseconds more."""
        signal = self.root / "holding"
        self.run([str(WINE_RUN), str(SUPPORT_DIR / "ui_probe.exe"), "hold", str(signal), str(milliseconds)], folder)
        wait_until(signal.exists, 30, what="the holder")
        return signal

    def windows(self):
        return self.probe.windows()

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
        assert self.probe.ask(f"click {window['hwnd']} {control_id}") == "0"

    def close(self, window):
        assert self.probe.ask(f"close {window['hwnd']}") == "0"

    def records(self):
        return read_records(self.app_records)

    def starts(self):
        return [r for r in self.records() if r["event"] == "start"]

    def wait_for_starts(self, count, timeout=30):
        """Started programs record themselves a moment after the updater has gone."""
        return wait_until(lambda: len(self.starts()) >= count and self.starts(), timeout,
                          what=f"{count} application start(s)")

    def assert_not_started(self, earlier=0):
        """No start beyond the `earlier` ones, once all that the updater started has ended."""
        wait_until(lambda: set(harness.marked_processes(self.marker)) <= {p.pid for p in self.started
                                                                          if p.poll() is None},
                   30, 0.05, what="the programs the updater started to end")
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
def office(tmp_path, probe):
    office = Office(tmp_path, probe)
    yield office
    harness.end_processes(office.marker)
    for process in office.started:
        process.wait()
    wait_until(lambda: not probe.windows(), 30, 0.05, what="the test's windows to go")


@pytest.fixture
def server(request):
    """The update server, with the pinned key unless a test names another."""
    server = test_server.start(PORT, *key(getattr(request, "param", "pinned")))
    yield server
    server.stop()


def check_requests(server):
    return [r for r in server.requests if r["path"].startswith(CHECK_PREFIX)]


def key(name):
    return str(KEY_DIR / f"{name}.crt"), str(KEY_DIR / f"{name}.key")


# What the update tests share: release 2.0.0.0 with the new program and a
# ledger, offered to an office that holds 1.2.3.4, and what a user then sees.
# With a start word, the program starts as tests/support/fake_app says.
@functools.cache
def package(folder="", application=NEW_APPLICATION, start=None):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(application, folder + "nirva_acc.exe")
        archive.writestr(folder + DATA_NAME, DATA)
        if start:
            archive.writestr(folder + START_FILE, start)
    return buffer.getvalue()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def path_of(url):
    return "/" + url.split("/", 3)[3]


def offer(server, mandatory=False, sha256_text="", url=PACKAGE_URL, size=None, **package_options):
    """Release 2.0.0.0 offered, its package served at url with the options test_server takes."""
    server.check_body = manifest("2.0.0.0", url=url, mandatory=mandatory, sha256=sha256_text, size=size)
    server.packages[path_of(url)] = {"data": package(), **package_options}


def package_requests(server, url=PACKAGE_URL):
    return [r for r in server.requests if r["path"] == path_of(url)]


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
        time.sleep(0.02)
    return seen


# The releases of the update tests, file by file: the one an office holds
# (1.2.3.4 with a ledger of its own) and the package's.
OLD_RELEASE = {"nirva_acc.exe": OLD_APPLICATION.read_bytes(), DATA_NAME: b"the old release's ledger"}
NEW_RELEASE = {"nirva_acc.exe": NEW_APPLICATION.read_bytes(), DATA_NAME: DATA}


def files(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() for path in folder.rglob("*") if path.is_file()}


def install_old_release(office):
    office.install_application("1234")
    (office.folder / "NIRVA" / DATA_NAME).parent.mkdir()
    (office.folder / "NIRVA" / DATA_NAME).write_bytes(OLD_RELEASE[DATA_NAME])


def assert_installed(office):
    folder = office.folder
    assert office.wait_for_exit() == 0
    assert (folder / "NIRVA" / "nirva_acc.exe").read_bytes() == NEW_APPLICATION.read_bytes()
    assert (folder / "NIRVA" / DATA_NAME).read_bytes() == DATA
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
    assert [name for name in entries(folder) if ".partial" not in name] == ["NIRVA"]
    assert office.starts() == []


def expect_server_failure(office, earlier_starts=0):
    box = office.wait_for_message_box(SERVER_FAILURE_TEXT)
    assert box["title"] == SERVER_FAILURE_CAPTION
    assert office.main_window() is None
    office.press(box, IDOK)
    assert office.wait_for_exit() == 0
    office.assert_not_started(earlier=earlier_starts)


def release_with_updater(updater):
    """A package of the new program that carries an updater too."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(NEW_APPLICATION, "nirva_acc.exe")
        archive.write(updater, "nirva_updater.exe")
    return buffer.getvalue()


LOG_PAIR = re.compile(r'(\w+)=("(?:[^"]|"")*"|\S*)')


def events(office, name, log="nirva_updater.log"):
    """The support log's events of that name, each as its pairs, and the run it belongs to."""
    found, path = [], office.folder / log
    for line in path.read_text(encoding="utf-8").splitlines() if path.exists() else []:
        _, run, event, pairs = (line.split(" ", 3) + [""] * 3)[:4]
        if event == name:
            found.append({"run": run, **{key: value[1:-1].replace('""', '"') if value.startswith('"') else value
                                         for key, value in LOG_PAIR.findall(pairs)}})
    return found


# A release the release tool built, as the nginx tests publish it.
RELEASE_VERSION = "2.0.0.0"
RELEASE_URL = f"https://updates.example/packages/{RELEASE_VERSION}/nirva.zip"
RELEASE_DATA_FILE = Path("data") / "chart-of-accounts.csv"


def build_release(folder, data, options=()):
    """Version 2.0.0.0 of a mandatory release, signed with the release key, built
    by the release tool in folder: its output folder."""
    release = folder / "release"
    (release / RELEASE_DATA_FILE.parent).mkdir(parents=True)
    shutil.copyfile(SUPPORT_DIR / "nirva_acc_2000.exe", release / "nirva_acc.exe")
    (release / RELEASE_DATA_FILE).write_bytes(data)
    notes = folder / "notes.txt"
    notes.write_text(PERSIAN_NOTES + "\n", encoding="utf-8")
    out = folder / "out"
    result = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), *map(str, [
        release, "--version", RELEASE_VERSION, "--notes", notes, "--url", RELEASE_URL, "--out", out, "--mandatory",
        "--signing-key", KEY_DIR / "release.pem", *options])], capture_output=True, text=True, encoding="utf-8")
    assert result.returncode == 0, result.stderr
    return out


def pinned_get(path, method="GET"):
    """A request over TLS to the test port that trusts only the test build's pinned certificate."""
    context = ssl.create_default_context(cafile=KEY_DIR / "pinned.crt")
    context.check_hostname = False
    connection = http.client.HTTPSConnection("127.0.0.1", PORT, context=context, timeout=10)
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()
