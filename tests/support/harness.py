"""What the end-to-end tests and the demo share: the test build's paths and
port, an X display, the window probe, Wine clean-up, nginx serving a release
and a proxy that breaks a connection.

``python3 harness.py display WIDTHxHEIGHT COMMAND...`` runs COMMAND with an X display.
"""

import contextlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("NIRVA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD_DIR = Path(os.environ.get("NIRVA_BUILD_DIR", SOURCE_DIR / "build" / "test"))
SUPPORT_DIR = BUILD_DIR / "tests" / "support"
KEY_DIR = BUILD_DIR / "test-keys"
WINE_RUN = BUILD_DIR / "wine-run"
WINEPREFIX = BUILD_DIR / "wineprefix"
UPDATER = BUILD_DIR / "nirva_updater.exe"
# The same updater, believing only releases signed with the test release key.
SIGNED_UPDATER = BUILD_DIR / "signed" / "nirva_updater.exe"
RELEASE_TOOL = SOURCE_DIR / "tools" / "release" / "nirva_release.py"
RENDER = SOURCE_DIR / "deploy" / "nginx" / "render.py"
WINESERVER = "/usr/lib/wine/wineserver"
NGINX = "/usr/sbin/nginx"
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def cache_value(name):
    """A value of the build's configuration, as CMake keeps it."""
    for line in (BUILD_DIR / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise KeyError(f"{name} is not in {BUILD_DIR / 'CMakeCache.txt'}")


# The loopback port the test build's updater asks; its servers listen there.
PORT = int(cache_value("NIRVA_TEST_PORT"))


def wait_until(condition, timeout=30.0, interval=0.25, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


@contextlib.contextmanager
def display(size, private=False):
    """An X display for Wine's windows: the caller's, unless private, or a new
    Xvfb on the first free number; DISPLAY names it for every child process."""
    if os.environ.get("DISPLAY") and not private:
        yield os.environ["DISPLAY"]
        return
    number = 90
    while Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
        number += 1
    xvfb = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0", f"{size}x24"], **QUIET)
    try:
        wait_until(lambda: Path(f"/tmp/.X11-unix/X{number}").exists() or xvfb.poll() is not None, 10, 0.1,
                   what="Xvfb")
        if xvfb.poll() is not None:
            raise RuntimeError(f"Xvfb could not start on :{number}")
        os.environ["DISPLAY"] = f":{number}"
        yield os.environ["DISPLAY"]
    finally:
        xvfb.terminate()
        xvfb.wait()


def probe(*arguments, wine_run=WINE_RUN, env=None):
    """Runs the window probe (dump FILE, click HWND ID, close HWND): its exit code."""
    return subprocess.run([str(wine_run), str(SUPPORT_DIR / "ui_probe.exe"), *map(str, arguments)], env=env,
                          timeout=60, **QUIET).returncode


def windows(dump, wine_run=WINE_RUN, env=None):
    """The top-level windows and their children as the probe sees them, or None if it could not look."""
    dump.unlink(missing_ok=True)
    if probe("dump", dump, wine_run=wine_run, env=env) != 0:
        return None
    return json.loads(dump.read_text(encoding="utf-8"))


def progress_position(window):
    return next(c["pos"] for c in window["children"] if c["class"].lower() == "msctls_progress32")


def stop_wine(prefix=WINEPREFIX):
    """Ends every Windows process of the prefix and waits until they have gone."""
    env = dict(os.environ, WINEPREFIX=str(prefix))
    subprocess.run([WINESERVER, "-k"], env=env, **QUIET)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=60, **QUIET)


@contextlib.contextmanager
def nginx(package_rate=None, port=PORT):
    """nginx rendered from the deployment template on the test port (or another).
    Yields the folder it serves, to lay out as the deployment README says; its
    own files are in ../nginx. With package_rate, packages go out that slowly."""
    # Started as root, nginx's workers run as nobody and must be able to read the folder.
    base = Path(tempfile.mkdtemp(prefix="nirva-nginx-"))
    base.chmod(0o755)
    prefix, root, process = base / "nginx", base / "www", None
    try:
        prefix.mkdir()
        root.mkdir()
        config = prefix / "nginx.conf"
        subprocess.run([sys.executable, str(RENDER), str(root), "--cert", str(KEY_DIR / "pinned.crt"),
                        "--key", str(KEY_DIR / "pinned.key"), "--listen", f"127.0.0.1:{port}",
                        "--standalone", "-o", str(config)], check=True)
        if package_rate:
            text, found = re.subn(r"^( *)location \^~ /packages/ \{$",
                                  rf"\g<0>\n\1    limit_rate {package_rate};", config.read_text(encoding="utf-8"),
                                  flags=re.M)
            if not found:
                raise RuntimeError("the package location was not found in the nginx configuration")
            config.write_text(text, encoding="utf-8")
        start_errors = prefix / "start-errors.log"
        with start_errors.open("wb") as errors:
            process = subprocess.Popen(
                [NGINX, "-p", str(prefix), "-c", "nginx.conf", "-e", "stderr", "-g", "daemon off;"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors, start_new_session=True)
        # The pid file is written only once the port is bound; a busy port ends nginx instead.
        wait_until(lambda: (prefix / "nginx.pid").exists() or process.poll() is not None, 30, 0.1, what="nginx")
        if process.poll() is not None:
            raise RuntimeError(f"nginx did not start on 127.0.0.1:{port} (exit {process.returncode}):\n"
                               + start_errors.read_text(errors="replace"))
        yield root
    finally:
        if process and process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        shutil.rmtree(base)


def free_port():
    with socket.socket() as probe_socket:
        probe_socket.bind(("127.0.0.1", 0))
        return probe_socket.getsockname()[1]


def _forward(source, sink, limit):
    """Copies bytes until either side ends, or abruptly after limit bytes."""
    sent = 0
    try:
        while limit is None or sent < limit:
            data = source.recv(65536 if limit is None else min(65536, limit - sent))
            if not data:
                break
            sink.sendall(data)
            sent += len(data)
    except OSError:
        pass
    for end in (source, sink):
        with contextlib.suppress(OSError):
            end.shutdown(socket.SHUT_RDWR)


@contextlib.contextmanager
def breaking_proxy(target_port, break_after, port=PORT):
    """A TCP proxy on 127.0.0.1:port to target_port whose first connection
    breaks once break_after bytes have gone from the server to the client."""
    listener = socket.create_server(("127.0.0.1", port))
    sockets = [listener]

    def accept():
        limit = break_after
        while True:
            try:
                client, _ = listener.accept()
                server = socket.create_connection(("127.0.0.1", target_port))
            except OSError:
                return
            sockets.extend((client, server))
            threading.Thread(target=_forward, args=(client, server, None), daemon=True).start()
            threading.Thread(target=_forward, args=(server, client, limit), daemon=True).start()
            limit = None

    thread = threading.Thread(target=accept, daemon=True)
    thread.start()
    try:
        yield
    finally:
        with contextlib.suppress(OSError):
            listener.shutdown(socket.SHUT_RDWR)
        for end in sockets:
            end.close()
        thread.join()


def publish(root, out, version):
    """Puts the release tool's output into a served folder: package first, manifest
    last by rename, so no client reads a manifest whose package is not there yet."""
    package = root / "packages" / version / "nirva.zip"
    package.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(out / "nirva.zip", package)
    shutil.copyfile(out / "manifest.json", root / "manifest.json.new")
    os.replace(root / "manifest.json.new", root / "manifest.json")


def main(argv):
    if len(argv) < 3 or argv[0] != "display":
        sys.exit("usage: harness.py display WIDTHxHEIGHT COMMAND...")
    # A terminated run still ends its Xvfb.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with display(argv[1]):
        try:
            return subprocess.call(argv[2:])
        except KeyboardInterrupt:
            return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
