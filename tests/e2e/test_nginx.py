"""A release published with the release tool and served by a real nginx,
rendered from the deployment template, updates the real updater under Wine."""

import http.client
import json
import os
import re
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

from conftest import (CHECK_PREFIX, KEY_DIR, PERSIAN_NOTES, PORT, SOURCE_DIR, SUPPORT_DIR, notes_text,
                      wait_until)

NGINX = "/usr/sbin/nginx"
RELEASE_TOOL = SOURCE_DIR / "tools" / "release" / "nirva_release.py"
RENDER = SOURCE_DIR / "deploy" / "nginx" / "render.py"
VERSION = "2.0.0.0"
PACKAGE_PATH = f"/packages/{VERSION}/nirva.zip"
URL = "https://updates.example" + PACKAGE_PATH
DATA_FILE = Path("data") / "chart-of-accounts.csv"
DATA = "code,name\n1101,\u0635\u0646\u062F\u0648\u0642\n".encode("utf-8")
# nginx's default "combined" access log line.
ACCESS_LINE = re.compile(r'"(\S+) (\S+) HTTP/[0-9.]+" (\d{3}) \S+ "[^"]*" "([^"]*)"')


class Nginx:
    """nginx on the test port serving a folder laid out as the deploy README says."""

    def __init__(self, base):
        self.prefix = base / "nginx"
        self.root = base / "www"
        self.prefix.mkdir()
        self.root.mkdir()
        subprocess.run([sys.executable, str(RENDER), str(self.root), "--cert", str(KEY_DIR / "pinned.crt"),
                        "--key", str(KEY_DIR / "pinned.key"), "--listen", f"127.0.0.1:{PORT}",
                        "--standalone", "-o", str(self.prefix / "nginx.conf")], check=True)
        start_errors = self.prefix / "start-errors.log"
        with start_errors.open("wb") as errors:
            self.process = subprocess.Popen(
                [NGINX, "-p", str(self.prefix), "-c", "nginx.conf", "-e", "stderr", "-g", "daemon off;"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors, start_new_session=True)
        # The pid file is written only once the port is bound; a busy port ends nginx instead.
        pid_file = self.prefix / "nginx.pid"
        wait_until(lambda: pid_file.exists() or self.process.poll() is not None, 30, 0.1, what="nginx")
        if self.process.poll() is not None:
            errors = start_errors.read_text(errors="replace")
            pytest.fail(f"nginx did not start on 127.0.0.1:{PORT} (exit {self.process.returncode}):\n{errors}")

    def publish(self, out):
        """Package first, manifest last, by rename."""
        package_dir = self.root / PACKAGE_PATH.lstrip("/")
        package_dir.parent.mkdir(parents=True)
        shutil.copyfile(out / "nirva.zip", package_dir)
        shutil.copyfile(out / "manifest.json", self.root / "manifest.json.new")
        os.replace(self.root / "manifest.json.new", self.root / "manifest.json")

    def get(self, path):
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        connection = http.client.HTTPSConnection("127.0.0.1", PORT, context=context, timeout=10)
        try:
            connection.request("GET", path)
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    def access_log(self):
        lines = (self.prefix / "access.log").read_text(encoding="utf-8").splitlines()
        return [ACCESS_LINE.search(line).groups() for line in lines]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()


@pytest.fixture
def nginx():
    # Started as root, nginx's workers run as nobody and must be able to read the folder.
    base = Path(tempfile.mkdtemp(prefix="nirva-nginx-"))
    base.chmod(0o755)
    server = None
    try:
        server = Nginx(base)
        yield server
    finally:
        if server:
            server.stop()
        shutil.rmtree(base)


def run_release_tool(*arguments):
    return subprocess.run([sys.executable, str(RELEASE_TOOL), *map(str, arguments)],
                          capture_output=True, text=True, encoding="utf-8")


@pytest.fixture
def release(tmp_path):
    """Version 2.0.0.0 built by the release tool: its output folder."""
    folder = tmp_path / "release"
    (folder / DATA_FILE.parent).mkdir(parents=True)
    shutil.copyfile(SUPPORT_DIR / "nirva_acc_2000.exe", folder / "nirva_acc.exe")
    (folder / DATA_FILE).write_bytes(DATA)
    notes = tmp_path / "notes.txt"
    notes.write_text(PERSIAN_NOTES + "\n", encoding="utf-8")
    out = tmp_path / "out"
    result = run_release_tool(folder, "--version", VERSION, "--notes", notes, "--url", URL, "--out", out,
                              "--mandatory")
    assert result.returncode == 0, result.stderr
    return out


def test_rendered_configuration_answers_every_version_and_serves_the_package(nginx, release):
    nginx.publish(release)
    manifest = (release / "manifest.json").read_bytes()
    package = (release / "nirva.zip").read_bytes()

    for version in ("1.0.0.0", "0.0.0.0", "9.9.9.9"):
        response, body = nginx.get(CHECK_PREFIX + version)
        assert (response.status, body) == (200, manifest)
        assert response.getheader("Content-Type") == "application/json; charset=utf-8"

    response, body = nginx.get(PACKAGE_PATH)
    assert response.status == 200
    assert response.getheader("Content-Length") == str(len(package))
    assert body == package


def test_mandatory_release_served_by_nginx_is_installed(office, nginx, release):
    nginx.publish(release)
    office.install_application("1000")

    office.start_updater()

    assert office.wait_for_exit(timeout=120) == 0
    start = office.wait_for_starts(1)
    assert [(s["version"], s["cwd"].endswith("\\office\\NIRVA")) for s in start] == [(VERSION, True)]
    folder = office.folder
    assert sorted(p.name for p in folder.iterdir()) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert (folder / "NIRVA" / "nirva_acc.exe").read_bytes() == (SUPPORT_DIR / "nirva_acc_2000.exe").read_bytes()
    assert (folder / "NIRVA" / DATA_FILE).read_bytes() == DATA
    assert sorted(p.name for p in (folder / "NIRVA.bak").iterdir()) == ["nirva_acc.exe"]
    assert (folder / "NIRVA.bak" / "nirva_acc.exe").read_bytes() == \
        (SUPPORT_DIR / "nirva_acc_1000.exe").read_bytes()
    assert (folder / "nirva.zip").read_bytes() == (release / "nirva.zip").read_bytes()
    assert nginx.access_log() == [
        ("GET", CHECK_PREFIX + "1.0.0.0", "200", "NIRVA-Updater"),
        ("GET", PACKAGE_PATH, "200", "NIRVA-Updater"),
    ]


def test_hand_made_manifest_with_an_escaped_quote_is_refused_and_would_be_misread(office, nginx, release,
                                                                                tmp_path):
    published = json.loads((release / "manifest.json").read_text(encoding="utf-8"), strict=False)
    hand_made = dict(published, notes='say "hi"', mandatory=False)
    path = tmp_path / "hand-made.json"
    path.write_text(json.dumps(hand_made, ensure_ascii=False), encoding="utf-8")

    result = run_release_tool("--check-manifest", path)

    assert result.returncode == 1
    assert "refused: notes:" in result.stderr

    # Served anyway, the real updater shows the notes cut at the escape.
    shutil.copyfile(path, release / "manifest.json")
    nginx.publish(release)
    office.install_application("1000")
    office.start_updater()
    window = office.wait_for_main_window()
    assert notes_text(window) == "say \\"
    office.close(window)
    assert office.wait_for_exit() == 0
