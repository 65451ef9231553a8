#!/usr/bin/env python3
"""Screenshots of the updater's window offering a release, at 100 % and at
150 % display scale, taken under Wine from the test build:

    python3 tests/support/harness.py isolate python3 scripts/window_screenshots.py OUT_DIR

The isolated run has its own copy of the test build's Wine prefix (where the
Persian font and the scale are set, and which is thrown away after it), its
own network for the test server and its own X display."""

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import test_server  # noqa: E402
from demo import substitute_persian_font  # noqa: E402

NOTES = "نسخه دوم نیروا با گزارش های تازه و چاپ سریع تر فاکتور"
MANIFEST = ('{"version": "2.0.0.0", "url": "https://updates.example/packages/2.0.0.0/nirva.zip", "sha256": "", '
            '"notes": "%s", "uploadDate": "2026-12-01", "releaseDate": "2026-12-01", "mandatory": false}' % NOTES)
SCALES = {"100": 96, "150": 144}
START_BUTTON_ID = 104


def set_display_dpi(dpi):
    subprocess.run([str(harness.WINE_RUN), "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", str(dpi), "/f"], check=True, **harness.QUIET)


def shoot(probe, office, path):
    """The window once the start button has the focus; its size."""
    updater = subprocess.Popen([str(harness.WINE_RUN), str(harness.UPDATER)], cwd=office, **harness.QUIET)
    def focused(window):
        return any(c["id"] == START_BUTTON_ID and c["hwnd"] == window["focus"] for c in window["children"])
    window = harness.wait_until(lambda: next((w for w in probe.windows() if w["class"] == "NIRVAUpdater"
                                              and w["visible"] and focused(w)), None), 60, what="the window")
    left, top, right, bottom = window["window_rect"]
    subprocess.run(["import", "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                    str(path)], check=True)
    assert probe.ask(f"close {window['hwnd']}") == "0"
    updater.wait(timeout=60)
    return right - left, bottom - top


def main(out):
    if os.environ.get("NIRVA_ISOLATED") != "1":
        sys.exit("run it through tests/support/harness.py isolate (see its docstring)")
    out.mkdir(parents=True, exist_ok=True)
    substitute_persian_font(harness.WINE_RUN)
    server = test_server.start(harness.PORT, str(harness.KEY_DIR / "pinned.crt"), str(harness.KEY_DIR / "pinned.key"))
    server.check_body = MANIFEST.encode("utf-8")
    probe = harness.WindowProbe()
    office = Path(tempfile.mkdtemp(prefix="nirva-screenshots-"))
    try:
        (office / "NIRVA").mkdir()
        shutil.copyfile(harness.SUPPORT_DIR / "nirva_acc_1234.exe", office / "NIRVA" / "nirva_acc.exe")
        for percent, dpi in SCALES.items():
            set_display_dpi(dpi)
            path = out / f"window-{percent}.png"
            width, height = shoot(probe, office, path)
            print(f"{path}: {percent} % ({dpi} DPI), the window {width} x {height}")
    finally:
        set_display_dpi(96)
        probe.close()
        server.stop()
        shutil.rmtree(office)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(Path(sys.argv[1]).resolve())
