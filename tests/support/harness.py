"""What the end-to-end tests and the demo share: the test build's paths and
port, an X display, the window probe, Wine clean-up, nginx serving a release
and a proxy that breaks a connection.

``python3 harness.py display WIDTHxHEIGHT COMMAND...`` runs COMMAND with an X display.
``python3 harness.py isolate COMMAND...`` runs COMMAND in a network namespace of
its own (where the test port is free), with its own copy of the build's Wine
prefix and its own X display, so that such commands run side by side.
"""

import contextlib
import json
import os
import re
import select
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
# wine-run takes the same variable: an isolated command works in its own copy.
WINEPREFIX = Path(os.environ.get("NIRVA_WINEPREFIX", BUILD_DIR / "wineprefix"))
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
    Xvfb on a number it finds free itself (several start at once); DISPLAY
    names it for every child process."""
    if os.environ.get("DISPLAY") and not private:
        yield os.environ["DISPLAY"]
        return
    # Xvfb writes the number on this pipe once it accepts clients.
    ready, ready_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(ready_end), "-nolisten", "tcp", "-screen", "0", f"{size}x24"],
                            pass_fds=[ready_end], **QUIET)
    os.close(ready_end)
    try:
        with os.fdopen(ready) as answer:
            number = answer.readline().strip()
        if not number:
            raise RuntimeError(f"Xvfb could not start (exit {xvfb.wait()})")
        os.environ["DISPLAY"] = f":{number}"
        yield os.environ["DISPLAY"]
    finally:
        xvfb.terminate()
        xvfb.wait()


class WindowProbe:
    """The window probe (tests/support/ui_probe.cpp) as one Windows process for
    many looks: a command is a line on its input, the answer a line on its
    output. It starts again when the prefix was stopped under it."""

    def __init__(self, wine_run=WINE_RUN):
        self.command = [str(wine_run), str(SUPPORT_DIR / "ui_probe.exe"), "serve"]
        self.process = None

    def ask(self, line, timeout=60):
        for _ in range(2):
            if self.process is None or self.process.poll() is not None:
                self.process = subprocess.Popen(self.command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                                stderr=subprocess.DEVNULL)
            with contextlib.suppress(BrokenPipeError):
                self.process.stdin.write(line.encode() + b"\n")
                self.process.stdin.flush()
                if select.select([self.process.stdout], [], [], timeout)[0]:
                    answer = self.process.stdout.readline()
                    if answer:
                        return answer.decode("utf-8").rstrip("\n")
            self.close()
        raise AssertionError(f"the window probe gave no answer to {line!r}")

    def windows(self):
        """The top-level windows and their children, as JSON objects."""
        return json.loads(self.ask("dump"))

    def close(self):
        if self.process:
            self.process.kill()
            self.process.communicate()
            self.process = None


def progress_position(window):
    return next(c["pos"] for c in window["children"] if c["class"].lower() == "msctls_progress32")


def stop_wine(prefix=WINEPREFIX):
    """Ends every Windows process of the prefix and waits until they have gone."""
    env = dict(os.environ, WINEPREFIX=str(prefix))
    subprocess.run([WINESERVER, "-k"], env=env, **QUIET)
    subprocess.run([WINESERVER, "-w"], env=env, timeout=60, **QUIET)


# Wine's own programs, which a prefix keeps for the next test.
WINE_PROGRAMS = {"wineserver", "wineserver64", "wineboot.exe", "services.exe", "explorer.exe", "winedevice.exe",
                 "plugplay.exe", "svchost.exe", "rpcss.exe", "conhost.exe"}


def marked_processes(marker):
    """The live processes (Wine's own programs aside) whose environment holds
    marker, "NAME=value": Windows programs pass it on to what they start."""
    needle = b"\0" + marker.encode() + b"\0"
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if not entry.name.isdigit() or needle not in b"\0" + (entry / "environ").read_bytes():
                continue
            stat = (entry / "stat").read_text()
        except OSError:  # it has just ended
            continue
        name, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
        if state != "Z" and name not in WINE_PROGRAMS:
            found.append(int(entry.name))
    return found


def end_processes(marker, timeout=30):
    """Ends the processes marked so, and what they start meanwhile, and waits until they have gone."""
    def ended():
        pids = marked_processes(marker)
        for pid in pids:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        return not pids
    wait_until(ended, timeout, 0.05, what=f"the processes of {marker} to end")


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


def run(command):
    """Runs command to its end, or ends it with this process."""
    child = subprocess.Popen(command)
    try:
        return child.wait()
    except KeyboardInterrupt:
        return 130
    finally:
        if child.poll() is None:
            child.terminate()
            child.wait()


def isolate(command):
    """Runs command as the module's docstring says (as root); its exit code."""
    if os.environ.get("NIRVA_ISOLATED") != "1":
        # unshare runs this again in the new namespaces, as the same process.
        os.environ["NIRVA_ISOLATED"] = "1"
        os.execvp("unshare", ["unshare", "--net", "--mount", sys.executable, __file__, "isolate", *command])
    # Its own X socket directory too: Xvfb in another network namespace would
    # take over the socket of a display number in use, and remove it at its end.
    os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp/.X11-unix"], check=True)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    copy = Path(tempfile.mkdtemp(prefix="wineprefix-", dir=BUILD_DIR))
    try:
        # The registry is copied; drive_c (630 MB, which Wine only reads) is linked.
        shutil.copytree(WINEPREFIX, copy, symlinks=True, dirs_exist_ok=True, ignore=lambda folder, names:
                        ["drive_c"] if Path(folder) == WINEPREFIX else [])
        shutil.copytree(WINEPREFIX / "drive_c", copy / "drive_c", symlinks=True, copy_function=os.link)
        os.environ["NIRVA_WINEPREFIX"] = str(copy)
        with display("1280x1024", private=True):
            try:
                return run(command)
            finally:
                stop_wine(copy)
    finally:
        shutil.rmtree(copy)


def main(argv):
    # A terminated run still ends its Xvfb and its Wine.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    if len(argv) >= 2 and argv[0] == "isolate":
        return isolate(argv[1:])
    if len(argv) < 3 or argv[0] != "display":
        sys.exit("usage: harness.py display WIDTHxHEIGHT COMMAND... | harness.py isolate COMMAND...")
    with display(argv[1]):
        return run(argv[2:])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
