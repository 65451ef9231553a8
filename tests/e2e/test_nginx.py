"""A release published with the release tool and served by a real nginx,
rendered from the deployment template, updates the real updater under Wine."""

import datetime
import http.client
import os
import re
import ssl
import subprocess
import sys

import harness
from conftest import CHECK_PREFIX, PORT, SUPPORT_DIR, build_release, entries, pinned_get
from conftest import RELEASE_DATA_FILE as DATA_FILE
from conftest import RELEASE_VERSION as VERSION

PACKAGE_PATH = f"/packages/{VERSION}/nirva.zip"
REPORT_PREFIX = "/api/marlix/report/NIRVA_ACC/"
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


def access_log(nginx):
    lines = (nginx.parent / "nginx" / "access.log").read_text(encoding="utf-8").splitlines()
    return [ACCESS_LINE.search(line).groups() for line in lines]


def own_log(nginx, name):
    """A log of the template's own formats: time, client address, method, path (and status)."""
    return [line.split(" ")[1:] for line in (nginx.parent / "nginx" / name).read_text(encoding="utf-8").splitlines()]


def test_rendered_configuration_answers_every_version_and_serves_the_package(tmp_path):
    release = build_release(tmp_path, DATA)
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
        requests, checks = access_log(root), own_log(root, "checks.log")
    assert requests == [("GET", PACKAGE_PATH, "200", "NIRVA-Updater"), ("GET", PACKAGE_PATH, "206", "NIRVA-Updater")]
    assert checks == [["127.0.0.1", "GET", CHECK_PREFIX + "1.0.0.0", "200"]]
    start = office.wait_for_starts(1)
    assert [(s["version"], s["cwd"].endswith("\\office\\NIRVA")) for s in start] == [(VERSION, True)]
    folder = office.folder
    assert entries(folder) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
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
        # A flood from one address is cut off after a burst; what was refused is not logged as a report.
        flood = [pinned_get(REPORT_PREFIX + reports[1])[0] for _ in range(30)]
        assert set(flood) == {204, 429} and flood.index(429) > 10 and 204 not in flood[flood.index(429):]

        # nginx writes a log line only after its answer has gone out.
        report_log = nginx.parent / "nginx" / "reports.log"
        taken = len(reports) + flood.count(204)
        harness.wait_until(lambda: len(own_log(nginx, "reports.log")) >= taken and own_log(nginx, "checks.log"), 10)
        logged = own_log(nginx, "reports.log")
        assert logged == [["127.0.0.1", "GET", REPORT_PREFIX + report] for report in reports + [reports[1]] * (taken - 3)]
        assert all(datetime.datetime.fromisoformat(line.split(" ")[0]).tzinfo
                   for line in report_log.read_text().splitlines())
        assert own_log(nginx, "checks.log") == [["127.0.0.1", "GET", CHECK_PREFIX + "1.0.0.0", "404"]]
        # The main log gets neither.
        assert access_log(nginx) == []

        result = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report", str(report_log)],
                                capture_output=True, text=True, encoding="utf-8")
        assert result.returncode == 0, result.stderr
        assert [VERSION, "1", "1", "0", "0", "0.0", "%"] in [line.split() for line in result.stdout.splitlines()]
        assert "1 not a well-formed report" in result.stdout
