"""The vendor's work in the release tool's three commands, against a real
nginx and the real updater: the test build's deployment keys are made by the
keys command, and its signing updater is built from the line it printed.
Two releases are published into the served folder and verified over TLS; the
office installs both, the second with patches. A release published unsigned
is refused by the office, and that cause reaches the vendor's report."""

import re
import subprocess
import sys

from conftest import KEY_DIR, PORT, SUPPORT_DIR, events, expect_server_failure, harness

URL = f"https://127.0.0.1:{PORT}"


def tool(*arguments):
    return subprocess.run([sys.executable, str(harness.RELEASE_TOOL), *map(str, arguments)], capture_output=True,
                          text=True, encoding="utf-8")


def test_keys_publish_verify_and_an_office_installs_both_releases_and_reports_a_refused_signature(office, tmp_path):
    line = next(line for line in (KEY_DIR / "deployment-keys.txt").read_text().splitlines() if line.startswith("cmake "))
    values = dict(re.findall(r"-D(\w+)=(\S+)", line))
    assert (values["NIRVA_UPDATE_HOST"], values["NIRVA_UPDATE_PORT"]) == ("127.0.0.1", str(PORT))
    deployment = (harness.BUILD_DIR / "generated" / "deployment" / "nirva_deployment_signed.cpp").read_text()
    for name in ("NIRVA_PINNED_KEY_SHA256", "NIRVA_BACKUP_PIN_SHA256", "NIRVA_RELEASE_PUBLIC_KEY",
                 "NIRVA_RELEASE_BACKUP_PUBLIC_KEY"):
        assert "0x" + ",0x".join(re.findall("..", values[name])) in deployment, name
    pins = [f"--pin={values['NIRVA_PINNED_KEY_SHA256']}"]
    public_key = ["--public-key", values["NIRVA_RELEASE_PUBLIC_KEY"]]
    (tmp_path / "notes.txt").write_text("notes\n")
    office.install_application("1000")

    with harness.nginx() as root:
        def publish(version, *options):
            folder = tmp_path / version
            (folder / "data").mkdir(parents=True)
            (folder / "nirva_acc.exe").write_bytes((SUPPORT_DIR / f"nirva_acc_{version[0]}000.exe").read_bytes())
            (folder / "data" / "ledger.txt").write_bytes(b"".join(b"%d %s\r\n" % (n, version.encode() * (n == 9))
                                                                  for n in range(20000)))
            result = tool("publish", folder, "--root", root, "--version", version, "--notes", tmp_path / "notes.txt",
                          "--base-url", "https://updates.example", "--mandatory", *options)
            assert result.returncode == 0, result.stderr
            return result

        published = publish("2.0.0.0", "--signing-key", KEY_DIR / "release.pem", "--verify-url", URL, *pins)
        assert "its signature verifies with the release key" in published.stdout
        office.start_updater(executable=harness.SIGNED_UPDATER)
        assert office.wait_for_exit() == 0 and office.wait_for_starts(1)[-1]["version"] == "2.0.0.0"

        # Published unsigned on purpose: every office that checks signatures refuses it.
        publish("3.0.0.0", "--unsigned")
        assert "signature: missing" in tool("verify", "--url", URL, *pins, *public_key).stderr
        office.start_updater(executable=harness.SIGNED_UPDATER)
        expect_server_failure(office, earlier_starts=1)
        # Signed after all, over the same package.
        assert tool("--restage", root / "manifest.json", "--rollout", "100", "--signing-key",
                    KEY_DIR / "release.pem").returncode == 0
        assert tool("verify", "--url", URL, *pins, *public_key).returncode == 0
        package = root / "packages" / "3.0.0.0" / "nirva.zip"
        served = package.read_bytes()
        package.write_bytes(served[:200] + bytes([served[200] ^ 1]) + served[201:])
        changed = tool("verify", "--url", URL, *pins, *public_key)
        assert changed.returncode == 1 and "/packages/3.0.0.0/nirva.zip: its sha256 is" in changed.stderr
        package.write_bytes(served)

        office.start_updater(executable=harness.SIGNED_UPDATER)
        assert office.wait_for_exit() == 0 and office.wait_for_starts(2)[-1]["version"] == "3.0.0.0"
        assert int(events(office, "download")[-1]["patches"]) > 0
        assert (office.folder / "nirva.zip").read_bytes() == served
        report_log = root.parent / "nginx" / "reports.log"
        harness.wait_until(lambda: "?cause=signature" in report_log.read_text(), 30, what="the refusal's report")
        table = tool("report", report_log).stdout
    assert ["check", "signature", "0", "1", "report", "from", "1", "office"] in map(str.split, table.splitlines())
