"""A release published with the release tool and served by a real nginx,
rendered from the deployment template, updates the real updater under Wine."""

import datetime
import http.client
import os
import re
import shutil
import ssl
import subprocess
import sys
from pathlib import Path

import harness
from conftest import CHECK_PREFIX, KEY_DIR, PERSIAN_NOTES, PORT, SUPPORT_DIR

VERSION = "2.0.0.0"
PACKAGE_PATH = f"/packages/{VERSION}/nirva.zip"
REPORT_PREFIX = "/api/marlix/report/NIRVA_ACC/"
URL = "https://updates.example" + PACKAGE_PATH
DATA_FILE = Path("data") / "chart-of-accounts.csv"
DATA = "code,name\n1101,\u0635\u0646\u062F\u0648\u0642\n".encode("utf-8")
# nginx's default "combined" access log line.
ACCESS_LINE = re.compile(r'"(\S+) (\S+) HTTP/[0-9.]+" (\d{3}) \S+ "[^"]*" "([^"]*)"')


def get(path):
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


def pinned_get(path, method="GET"):
    """A request over TLS that trusts only the test build's pinned certificate."""
    context = ssl.create_default_context(cafile=KEY_DIR / "pinned.crt")
    context.check_hostname = False
    connection = http.client.HTTPSConnection("127.0.0.1", PORT, context=context, timeout=10)
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def access_log(nginx):
    lines = (nginx.parent / "nginx" / "access.log").read_text(encoding="utf-8").splitlines()
    return [ACCESS_LINE.search(line).groups() for line in lines]


def build_release(tmp_path, data=DATA):
    """Version 2.0.0.0 built by the release tool: its output folder."""
    folder = tmp_path / "release"
    (folder / DATA_FILE.parent).mkdir(parents=True)
    shutil.copyfile(SUPPORT_DIR / "nirva_acc_2000.exe", folder / "nirva_acc.exe")
    (folder / DATA_FILE).write_bytes(data)
    notes = tmp_path / "notes.txt"
    notes.write_text(PERSIAN_NOTES + "\n", encoding="utf-8")
    out = tmp_path / "out"
    result = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), *map(str, [
        folder, "--version", VERSION, "--notes", notes, "--url", URL, "--out", out, "--mandatory",
        "--signing-key", KEY_DIR / "release.pem"])], capture_output=True, text=True, encoding="utf-8")
    assert result.returncode == 0, result.stderr
    return out


def test_rendered_configuration_answers_every_version_and_serves_the_package(tmp_path):
    release = build_release(tmp_path)
    manifest = (release / "manifest.json").read_bytes()
    package = (release / "nirva.zip").read_bytes()
    with harness.nginx() as root:
        harness.publish(root, release, VERSION)

        for version in ("1.0.0.0", "0.0.0.0", "9.9.9.9"):
            response, body = get(CHECK_PREFIX + version)
            assert (response.status, body) == (200, manifest)
            assert response.getheader("Content-Type") == "application/json; charset=utf-8"

        response, body = get(PACKAGE_PATH)
    assert response.status == 200
    assert response.getheader("Content-Length") == str(len(package))
    assert body == package


def test_release_served_by_nginx_is_installed_across_a_broken_connection(office, tmp_path):
    """The first connection breaks after 1 MiB; the rest is asked for with a range."""
    data = os.urandom(3 << 20)
    release = build_release(tmp_path, data)
    nginx_port = harness.free_port()
    with harness.nginx(port=nginx_port) as root, harness.breaking_proxy(nginx_port, 1 << 20):
        harness.publish(root, release, VERSION)
        office.install_application("1000")

        office.start_updater(executable=harness.SIGNED_UPDATER)

        assert office.wait_for_exit(timeout=120) == 0
        requests = access_log(root)
    assert requests == [("GET", CHECK_PREFIX + "1.0.0.0", "200", "NIRVA-Updater"),
                        ("GET", PACKAGE_PATH, "200", "NIRVA-Updater"), ("GET", PACKAGE_PATH, "206", "NIRVA-Updater")]
    start = office.wait_for_starts(1)
    assert [(s["version"], s["cwd"].endswith("\\office\\NIRVA")) for s in start] == [(VERSION, True)]
    folder = office.folder
    assert sorted(p.name for p in folder.iterdir()) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert (folder / "NIRVA" / "nirva_acc.exe").read_bytes() == (SUPPORT_DIR / "nirva_acc_2000.exe").read_bytes()
    assert (folder / "NIRVA" / DATA_FILE).read_bytes() == data
    assert sorted(p.name for p in (folder / "NIRVA.bak").iterdir()) == ["nirva_acc.exe"]
    assert (folder / "NIRVA.bak" / "nirva_acc.exe").read_bytes() == \
        (SUPPORT_DIR / "nirva_acc_1000.exe").read_bytes()
    assert (folder / "nirva.zip").read_bytes() == (release / "nirva.zip").read_bytes()


def test_reports_are_answered_with_no_content_logged_apart_and_counted_by_the_report_command():
    with harness.nginx() as nginx:
        office = "0123456789abcdef" * 2
        reports = [f"1.0.0.0/{VERSION}/failed/download/404/{office}", f"1.0.0.0/{VERSION}/installed/none/0/{office}",
                   f"1.0.0.0/{VERSION}/failed/nowhere/0/{office}"]
        for report in reports:
            assert pinned_get(REPORT_PREFIX + report) == (204, b"")
        assert pinned_get(REPORT_PREFIX + reports[0], method="POST")[0] == 403
        assert pinned_get(CHECK_PREFIX + "1.0.0.0")[0] == 404  # nothing published

        # nginx writes a log line only after its answer has gone out.
        report_log = nginx.parent / "nginx" / "reports.log"
        harness.wait_until(lambda: len(report_log.read_text(encoding="utf-8").splitlines()) > len(reports), 10)
        logged = [line.split(" ") for line in report_log.read_text(encoding="utf-8").splitlines()]
        assert [fields[1:] for fields in logged] == [["GET", REPORT_PREFIX + report] for report in reports] + \
            [["POST", REPORT_PREFIX + reports[0]]]
        assert all(datetime.datetime.fromisoformat(fields[0]).tzinfo for fields in logged)
        # The main log keeps its own lines, in its own format, without the reports.
        harness.wait_until(lambda: access_log(nginx), 10)
        assert [entry[:3] for entry in access_log(nginx)] == [("GET", CHECK_PREFIX + "1.0.0.0", "404")]

        result = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report", str(report_log)],
                                capture_output=True, text=True, encoding="utf-8")
        assert result.returncode == 0, result.stderr
        assert [VERSION, "1", "1", "0"] in [line.split() for line in result.stdout.splitlines()]
        assert "2 not a well-formed report" in result.stdout
