#!/usr/bin/env python3
"""The demo after scripts/demo.sh has built the test configuration: publish
version 2.0.0.0 of the demo application with the release tool, serve it with
nginx from the deployment template, and let the real updater update a folder
holding version 1.0.0.0 under Wine, taking screenshots on the way."""

import contextlib
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
from harness import PORT, SOURCE_DIR, SUPPORT_DIR  # noqa: E402

DEMO = SOURCE_DIR / "build" / "demo"
PREFIX = DEMO / "wineprefix"
WINE_RUN = DEMO / "wine-run"
OFFICE = DEMO / "office"
SCREENSHOTS = DEMO / "screenshots"
STARTS = DEMO / "app-starts.jsonl"
VERSION = "2.0.0.0"
# An office id whose place for the demo's release is inside its first stage, 1 %.
INSIDE_FIRST_STAGE = next(office for office in (f"{n:032x}" for n in range(10**6))
                          if int.from_bytes(hashlib.sha256(f"{office}/{VERSION}".encode()).digest()[:4], "big")
                          % 10000 < 100)
PACKAGE_URL = f"https://updates.example/packages/{VERSION}/nirva.zip"
FONT_SUBSTITUTES = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes"
PROBE = harness.WindowProbe(WINE_RUN)


def step(title):
    print(f"\n== {title}")


def listing(folder):
    print("\n".join(sorted("./" + path.relative_to(folder).as_posix() for path in folder.rglob("*"))))


def prepare_prefix():
    # Its own prefix, so the font below never reaches the tests' prefix.
    WINE_RUN.write_text(re.sub(r"^export WINEPREFIX=.*$", f'export WINEPREFIX="{PREFIX}"',
                               harness.WINE_RUN.read_text(), flags=re.M))
    WINE_RUN.chmod(0o755)
    subprocess.run(["sh", str(SOURCE_DIR / "tests" / "support" / "prepare_wineprefix.sh"), str(WINE_RUN)],
                   check=True)
    # Wine's own Tahoma has no Arabic script: the Persian texts would show as boxes.
    # The window asks for Tahoma; message boxes for "MS Shell Dlg", which Wine maps
    # to Tahoma without following a second substitution.
    listed = subprocess.run(["fc-list", ":lang=fa", "family"], capture_output=True, text=True).stdout
    fonts = sorted({family for family in (line.split(",")[0] for line in listed.splitlines())
                    if family and "Mono" not in family})
    if not fonts:
        print("No font with Persian glyphs found (fonts-dejavu-core has them): the window's text shows boxes")
        return
    for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2"):
        subprocess.run([str(WINE_RUN), "reg", "add", FONT_SUBSTITUTES, "/v", face, "/t", "REG_SZ", "/d", fonts[0],
                        "/f"], stdout=subprocess.DEVNULL, check=True)
    print(f"Tahoma and the dialog font are drawn with {fonts[0]} in this prefix")


def publish_with_release_tool():
    release = DEMO / "release"
    (release / "data").mkdir(parents=True)
    shutil.copy(SUPPORT_DIR / "nirva_acc_2000.exe", release / "nirva_acc.exe")
    (release / "data" / "chart-of-accounts.csv").write_text("code,name\n1101,صندوق\n1102,بانک\n",
                                                           encoding="utf-8")
    notes = DEMO / "notes.txt"
    notes.write_text("نسخه دوم نیروا\nگزارش\u200cهای تازه و چاپ سریع\u200cتر فاکتور\n", encoding="utf-8")
    subprocess.run([sys.executable, str(harness.RELEASE_TOOL), str(release), "--version", VERSION, "--notes",
                    str(notes), "--url", PACKAGE_URL, "--out", str(DEMO / "out"), "--mandatory",
                    "--signing-key", str(harness.KEY_DIR / "release.pem"), "--stages", "1,10,50,100"], check=True)
    print("--- manifest.json")
    print((DEMO / "out" / "manifest.json").read_bytes().decode("utf-8"))


def screenshot(name, rect):
    left, top, right, bottom = rect
    subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(SCREENSHOTS / name)], check=True)


def updater_window():
    """The progress position, and the rectangle that holds the updater's visible
    window and the message boxes over it; None while it shows no window."""
    shown = [w for w in PROBE.windows() if w["visible"]]
    main = next((w for w in shown if w["class"] == "NIRVAUpdater"), None)
    if main is None:
        return None
    lefts, tops, rights, bottoms = zip(*(w["window_rect"] for w in shown
                                         if w is main or w["class"] == "#32770"))
    return harness.progress_position(main), (min(lefts), min(tops), max(rights), max(bottoms))


def screenshot_when(updater, name, low, high):
    """Screenshot of the updater's window once its progress bar is within [low, high]."""
    while updater.poll() is None:
        found = updater_window()
        if found and low <= found[0] <= high:
            screenshot(name, found[1])
            print(f"screenshots/{name} at {found[0]} %")
            return
        time.sleep(0.2)
    print(f"the updater ended before the screenshot {name}")


def run_updater():
    # The demo application keeps a window open, so that the finished state shows it running.
    updater = subprocess.Popen([str(WINE_RUN), "nirva_updater.exe"], cwd=OFFICE, **harness.QUIET,
                               env=dict(os.environ, NIRVA_FAKE_RECORD=str(STARTS), NIRVA_FAKE_MODE="window"))
    screenshot_when(updater, "1-downloading.png", 30, 80)
    # Unpacking the demo's small package takes a moment too short to photograph.
    status = updater.wait()
    if status != 0:
        sys.exit(f"demo: the updater ended with exit code {status}")
    print("the updater ended with exit code 0")
    harness.wait_until(lambda: STARTS.exists() and STARTS.stat().st_size, what="the new application to start")
    application = harness.wait_until(lambda: next((w for w in PROBE.windows()
                                                   if w["class"] == "NirvaFakeApp"), None),
                                     what="the new application's window")
    screenshot("2-finished.png", application["window_rect"])
    print(f"screenshots/2-finished.png: the updater is gone, version {VERSION} runs")


def print_reports(log, served):
    """The release tool's table of the outcome reports nginx logged, and the decision the server's timer
    would take on them."""
    step(f"Outcome reports in nginx's report log ({log.name}), as the release tool counts them")
    harness.wait_until(lambda: log.exists() and log.stat().st_size, what="the updater's report")
    print(log.read_text(encoding="utf-8"), end="")
    subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report", str(log)], check=True)
    step("The staged rollout's next step, as the server's timer runs it (advance)")
    subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "advance", "--stages", str(DEMO / "out" / "stages"),
                    "--manifest", str(served / "manifest.json"), "--reports", str(log)], check=True)


def demo(stack):
    for name in ("release", "out", "office", "screenshots"):
        shutil.rmtree(DEMO / name, ignore_errors=True)
    STARTS.unlink(missing_ok=True)
    SCREENSHOTS.mkdir(parents=True)

    step("X display")
    stack.enter_context(harness.display("1024x768", private=True))
    print(f"Xvfb on {os.environ['DISPLAY']}")

    step(f"Wine prefix of the demo: {PREFIX}")
    stack.callback(harness.stop_wine, PREFIX)
    stack.callback(PROBE.close)
    prepare_prefix()

    step(f"Publishing version {VERSION} with the release tool")
    publish_with_release_tool()

    step(f"Serving it with nginx on 127.0.0.1:{PORT}")
    # Only the demo sends packages slowly, so that the download can be watched.
    served = stack.enter_context(harness.nginx(package_rate="32k"))
    harness.publish(served, DEMO / "out", VERSION)
    print(f"nginx serves {served} (packages at 32 KB/s)")

    step("The office folder before the update")
    (OFFICE / "NIRVA").mkdir(parents=True)
    # The release goes to 1 % of the offices first: this office is one of them.
    (OFFICE / "nirva_updater.id").write_text(INSIDE_FIRST_STAGE)
    # The demo's updater believes only releases signed with the test release key.
    shutil.copy(harness.SIGNED_UPDATER, OFFICE)
    shutil.copy(SUPPORT_DIR / "nirva_acc_1000.exe", OFFICE / "NIRVA" / "nirva_acc.exe")
    listing(OFFICE)

    step(f"Running the updater under Wine in {OFFICE}")
    run_updater()

    step("The office folder after the update")
    listing(OFFICE)
    step("Start record of the application")
    print(STARTS.read_bytes().decode("utf-8"), end="")
    step("Screenshots")
    print(SCREENSHOTS)
    step("The office's support log (nirva_updater.log)")
    print((OFFICE / "nirva_updater.log").read_text(encoding="utf-8"), end="")
    print_reports(served.parent / "nginx" / "reports.log", served)


def main():
    # Output of the tools it runs goes between its own lines.
    sys.stdout.reconfigure(line_buffering=True)
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: sys.exit(143))
    try:
        with contextlib.ExitStack() as stack:
            demo(stack)
    except (AssertionError, RuntimeError) as error:
        # Timeouts, and Xvfb or nginx that could not start (a test server on the port?).
        sys.exit(f"demo: {str(error).rstrip()}")
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
