"""What Windows reads of the test build's updater before it runs it: its
imports, which scripts/check_imports.py passes with the table as committed
and fails, naming the function, on each change that would let a program
Windows 7 cannot start through; and its manifest."""

import os
import subprocess
import sys
from pathlib import Path
from xml.etree import ElementTree

import pytest

SOURCE_DIR = Path(__file__).resolve().parents[2]
CHECK = SOURCE_DIR / "scripts" / "check_imports.py"
TABLE = SOURCE_DIR / "scripts" / "windows7_imports.tsv"
BUILD_DIR = Path(os.environ.get("NIRVA_BUILD_DIR", SOURCE_DIR / "build" / "test"))
UPDATER = BUILD_DIR / "nirva_updater.exe"


def edited(old, new):
    return lambda table: table.replace(old, new, 1) if old in table else pytest.fail(f"no {old!r} in the table")


@pytest.mark.parametrize("edit, message", [
    (lambda table: table, None),
    (edited("kernel32.dll\tGetTickCount64\tstatic\tWindows Vista\t", "#"),
     "kernel32.dll GetTickCount64 (static import) is not in windows7_imports.tsv: check on its Microsoft"),
    (edited("kernel32.dll\tCreateMutexW\tstatic", "kernel32.dll\tCreateMutexW\trun time"),
     "kernel32.dll CreateMutexW (static import): windows7_imports.tsv keeps it for a run-time lookup"),
    (edited("winhttp.dll\tWinHttpOpen\tdelay", "winhttp.dll\tWinHttpOpen\tstatic"),
     "winhttp.dll WinHttpOpen (delay import): windows7_imports.tsv has it as a static import"),
    (edited("BCryptVerifySignature\tdelay\tWindows Vista", "BCryptVerifySignature\tdelay\tWindows 8"),
     "bcrypt.dll BCryptVerifySignature (delay import): windows7_imports.tsv gives its minimum client as Windows 8"),
], ids=["as-committed", "new-import", "run-time-only", "loaded-with-the-program", "newer-than-windows-7"])
def test_check_fails_on_each_import_windows_7_would_refuse(tmp_path, edit, message):
    table = tmp_path / TABLE.name
    table.write_text(edit(TABLE.read_text(encoding="utf-8")), encoding="utf-8")

    result = subprocess.run([sys.executable, str(CHECK), str(UPDATER), str(table)], capture_output=True, text=True)

    expected = [] if message is None else [message]
    assert [problem[:len(message or "")] for problem in result.stderr.splitlines()] == expected
    assert result.returncode == (1 if expected else 0)


def test_the_built_manifest_asks_for_common_controls_6_and_to_lay_out_at_each_displays_scale():
    data = UPDATER.read_bytes()
    manifest = ElementTree.fromstring(data[data.index(b"<?xml"):data.index(b"</assembly>") + len(b"</assembly>")])
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    assert manifest.find(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity").attrib == {
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}
    # Windows 7 to 8.1 read the first, Windows 10 and 11 the second, its first value they know.
    settings = f"{v3}application/{v3}windowsSettings/{{http://schemas.microsoft.com/SMI/"
    assert manifest.findtext(settings + "2005/WindowsSettings}dpiAware").strip().lower() == "true/pm"
    assert manifest.findtext(settings + "2016/WindowsSettings}dpiAwareness").split(",")[0].strip() == "PerMonitorV2"


# The test build's updater has the fault layer; the same updater with the
# file-system layer compiled as the release compiles it has no trace of it.
@pytest.mark.parametrize("executable, holds", [(UPDATER, True),
                                               (BUILD_DIR / "release-file-system" / "nirva_updater.exe", False)])
def test_a_test_switch_in_the_executable_fails_the_check(executable, holds):
    result = subprocess.run([sys.executable, str(CHECK), str(executable), str(TABLE), "--without", "NIRVA_TEST_FAULTS"],
                            capture_output=True, text=True)
    assert ("holds 'NIRVA_TEST_FAULTS'" in result.stderr, result.returncode) == (holds, int(holds))
