"""The proxies of the proxy tests: Debian's squid on loopback ports of its own,
a relay that cuts one tunnel, a "proxy" that ends every tunnel itself, and the
user's proxy settings written where Wine's WinHTTP reads them.

Only squid can resolve PROXY_HOST, the host the proxy test updater asks for.
"""

import contextlib
import functools
import http.server
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
from pathlib import Path

import pytest

import harness
from harness import QUIET, WINE_RUN, free_port, wait_until

PROXY_HOST = "updates.nirva.test"
SQUID = "/usr/sbin/squid"
BASIC_HELPER = "/usr/lib/squid/basic_fake_auth"
CONNECTIONS = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
USER_SETTINGS = ("HKCU\\" + CONNECTIONS, "DefaultConnectionSettings")
MACHINE_SETTINGS = ("HKLM\\" + CONNECTIONS, "WinHttpSettings")

# "open" tunnels for anyone; "basic" wants Basic credentials first (any would do,
# the updater has none to give).
SQUID_CONFIG = """\
http_port 127.0.0.1:{open} name=open
http_port 127.0.0.1:{basic} name=basic
pid_filename {folder}/squid.pid
access_log stdio:{folder}/access.log
cache_log {folder}/cache.log
coredump_dir {folder}
cache_store_log none
netdb_filename none
pinger_enable off
digest_generation off
cache deny all
hosts_file {folder}/hosts
dns_timeout 2 seconds
shutdown_lifetime 0 seconds
auth_param basic program {basic_helper}
auth_param basic children 1
acl basic_port myportname basic
acl authenticated proxy_auth REQUIRED
http_access deny basic_port !authenticated
http_access allow localhost
http_access deny all
"""


class Squid:
    def __init__(self, folder, ports):
        self.folder = folder
        self.ports = ports
        self.seen = 0

    def forget(self):
        """Leaves what squid has logged so far out of log()."""
        self.seen += len(self.log())

    def address(self, name="open"):
        return f"127.0.0.1:{self.ports[name]}"

    def log(self):
        """(result, method, url) of each request squid has finished, a tunnel once it has closed."""
        path = self.folder / "access.log"
        lines = path.read_text(errors="replace").splitlines() if path.exists() else []
        return [(fields[3], fields[5], fields[6]) for fields in map(str.split, lines) if len(fields) > 6][self.seen:]

    def wait_for_log(self, count, timeout=30):
        return wait_until(lambda: len(self.log()) >= count and self.log(), timeout, what=f"{count} squid log line(s)")


@pytest.fixture(scope="module")
def squid_process():
    with squid() as running:
        yield running


@pytest.fixture
def proxy(squid_process):
    """The module's squid, its log read from this test on."""
    squid_process.forget()
    return squid_process


@pytest.fixture
def settings(office):
    """Writes proxy settings (connection_settings or machine_settings) into the
    prefix; afterwards Wine's default returns."""
    written = set()

    def write(where_and_data):
        write_setting(WINE_RUN, office.env(), *where_and_data)
        written.add(where_and_data[0])

    yield write
    for where in written:
        write_setting(WINE_RUN, office.env(), where)


def _accepts(port):
    with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
        return True
    return False


@contextlib.contextmanager
def squid():
    """squid on free loopback ports, unprivileged, with everything of its own in a temporary folder."""
    folder = Path(tempfile.mkdtemp(prefix="nirva-squid-"))
    # squid runs as nobody: it writes its logs and pid file here.
    folder.chmod(0o777)
    ports = {"open": free_port(), "basic": free_port()}
    (folder / "hosts").write_text(f"127.0.0.1 {PROXY_HOST}\n")
    config = folder / "squid.conf"
    config.write_text(SQUID_CONFIG.format(folder=folder, basic_helper=BASIC_HELPER, **ports))
    process = subprocess.Popen(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", SQUID, "-N",
                                "-f", str(config)], start_new_session=True, **QUIET)
    try:
        wait_until(lambda: process.poll() is not None or all(map(_accepts, ports.values())), 30, 0.1, what="squid")
        if process.poll() is not None:
            log = folder / "cache.log"
            raise RuntimeError("squid did not start:\n" + (log.read_text(errors="replace") if log.exists() else ""))
        yield Squid(folder, ports)
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        shutil.rmtree(folder, ignore_errors=True)


def _pipe(source, sink, cut=None):
    """Copies until either side ends; with cut ({"after": N, "done": False}) the first
    connection to carry more than N bytes this way is cut there."""
    sent = 0
    with contextlib.suppress(OSError):
        while True:
            room = 65536
            if cut is not None and not cut["done"]:
                room = min(room, cut["after"] - sent)
                if room == 0:
                    cut["done"] = True
                    break
            data = source.recv(room)
            if not data:
                break
            sink.sendall(data)
            sent += len(data)
    for end in (source, sink):
        with contextlib.suppress(OSError):
            end.shutdown(socket.SHUT_RDWR)


def _answer_connect(client, connects):
    """Reads a CONNECT request's head and opens the tunnel, as a proxy does."""
    head = b""
    while b"\r\n\r\n" not in head:
        data = client.recv(4096)
        if not data:
            raise OSError("the client left before its request ended")
        head += data
    connects.append(head.split(b"\r\n", 1)[0].decode("latin-1"))
    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")


@contextlib.contextmanager
def relay(target_port, cut_after=None, end_tunnels=False):
    """A TCP relay from a free loopback port to target_port. With cut_after, the first
    connection that brings more than cut_after bytes from the target is cut there.
    With end_tunnels it plays an intercepting proxy: it opens every CONNECT tunnel
    itself and relays what comes through it to target_port. Yields (port, CONNECT lines)."""
    listener = socket.create_server(("127.0.0.1", 0))
    sockets, connects = [listener], []
    cut = None if cut_after is None else {"after": cut_after, "done": False}

    def serve(client):
        with contextlib.suppress(OSError):
            if end_tunnels:
                _answer_connect(client, connects)
            server = socket.create_connection(("127.0.0.1", target_port))
            sockets.append(server)
            threading.Thread(target=_pipe, args=(client, server), daemon=True).start()
            _pipe(server, client, cut)

    def accept():
        with contextlib.suppress(OSError):
            while True:
                client, _ = listener.accept()
                sockets.append(client)
                threading.Thread(target=serve, args=(client,), daemon=True).start()

    thread = threading.Thread(target=accept, daemon=True)
    thread.start()
    try:
        yield listener.getsockname()[1], connects
    finally:
        with contextlib.suppress(OSError):
            listener.shutdown(socket.SHUT_RDWR)
        for end in sockets:
            end.close()
        thread.join()


def connection_settings(proxy="", bypass="", pac_url="", auto_detect=False):
    """The user's settings as Internet Options write them and Wine reads them: a 0x46
    header, a counter, flags (1 direct, 2 proxy, 4 PAC URL, 8 auto-detect), the proxy,
    bypass and PAC URL each with its length, then 32 zero bytes."""
    flags = 1 | (2 if proxy else 0) | (4 if pac_url else 0) | (8 if auto_detect else 0)
    data = struct.pack("<III", 0x46, 1, flags) + _counted(proxy) + _counted(bypass) + _counted(pac_url) + bytes(32)
    return USER_SETTINGS, data


def machine_settings(proxy):
    """The machine-wide WinHTTP setting as netsh writes it and Wine reads it: 0x18, 0,
    flags (1 direct, 2 proxy), the proxy and the bypass list each with its length."""
    return MACHINE_SETTINGS, struct.pack("<III", 0x18, 0, 3) + _counted(proxy) + _counted("")


def _counted(text):
    data = text.encode("ascii")
    return struct.pack("<I", len(data)) + data


def write_setting(wine_run, env, where, data=None):
    """Writes a setting (where and data as connection_settings or machine_settings give
    them) into the Wine prefix; without data removes it: without either, Wine detects
    settings automatically and uses no proxy until it finds one."""
    key, name = where
    if data is None:
        command = ["reg", "delete", key, "/v", name, "/f"]
    else:
        command = ["reg", "add", key, "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f"]
    # Deleting what is not there fails, which is fine.
    result = subprocess.run([str(wine_run), *command], env=env, timeout=60, **QUIET)
    assert data is None or result.returncode == 0, "wine reg add failed"


@contextlib.contextmanager
def web_folder(folder, port=0):
    """Plain HTTP on loopback serving the files of folder (a PAC script, wpad.dat).
    Yields (port, paths asked)."""
    asked = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, format, *args):
            asked.append(self.path)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=str(folder)))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield server.server_address[1], asked
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


def _dns_answer(query, names):
    """The answer to one DNS query: the IPv4 address of a name in names, no address of
    another type for it, and "no such name" for any other name."""
    end = query.index(b"\0", 12)
    labels, position = [], 12
    while position < end:
        labels.append(query[position + 1:position + 1 + query[position]].decode("ascii", "replace").lower())
        position += 1 + query[position]
    question = query[12:end + 5]
    kind = struct.unpack(">H", query[end + 1:end + 3])[0]
    address = names.get(".".join(labels))
    header = struct.pack(">HHHHHH", struct.unpack(">H", query[:2])[0], 0x8180 if address else 0x8183, 1,
                         1 if address and kind == 1 else 0, 0, 0)
    record = b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(address) if address else b""
    return header + question + (record if kind == 1 else b"")


@contextlib.contextmanager
def dns_server(names):
    """A DNS server on 127.0.0.1:53 that knows only names (name -> IPv4 address)."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.bind(("127.0.0.1", 53))
    listener.settimeout(0.2)
    stopping = threading.Event()

    def serve():
        while not stopping.is_set():
            with contextlib.suppress(OSError, ValueError, IndexError, struct.error):
                query, peer = listener.recvfrom(512)
                listener.sendto(_dns_answer(query, names), peer)

    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    try:
        yield
    finally:
        stopping.set()
        thread.join()
        listener.close()


# Runs the rest of the command line as on a computer of its own, named
# office.nirva.test and asking the DNS server on 127.0.0.1 (the files that
# say so are named by NIRVA_HOSTS and NIRVA_RESOLV).
OFFICE_COMPUTER = ["unshare", "--mount", "--uts", "sh", "-c",
                   'hostname office && mount --bind "$NIRVA_HOSTS" /etc/hosts && '
                   'mount --bind "$NIRVA_RESOLV" /etc/resolv.conf && exec "$@"', "office-computer"]


@contextlib.contextmanager
def office_computer(folder):
    """The environment of a command run with OFFICE_COMPUTER, its files in folder. Wine
    takes the computer's DNS domain when its wineserver starts: the command gets a Wine
    prefix of its own (a copy of the tests' one), whose wineserver starts there."""
    (folder / "hosts").write_text("127.0.0.1 localhost\n127.0.0.1 office.nirva.test office\n")
    (folder / "resolv.conf").write_text("nameserver 127.0.0.1\n")
    source, prefix = harness.WINEPREFIX, folder / "wineprefix"
    # The registry is copied; drive_c, which Wine only reads, is linked.
    shutil.copytree(source, prefix, symlinks=True, ignore=lambda at, _: ["drive_c"] if Path(at) == source else [])
    shutil.copytree(source / "drive_c", prefix / "drive_c", symlinks=True, copy_function=os.link)
    try:
        yield {"NIRVA_WINEPREFIX": str(prefix), "NIRVA_HOSTS": str(folder / "hosts"),
               "NIRVA_RESOLV": str(folder / "resolv.conf")}
    finally:
        harness.stop_wine(prefix)
        shutil.rmtree(prefix, ignore_errors=True)


@contextlib.contextmanager
def black_hole(port):
    """A listener on the port that accepts no connection: its queue is full, so
    every further attempt waits unanswered, as behind a firewall that drops it."""
    listener = socket.create_server(("127.0.0.1", port), backlog=0)
    fillers = [socket.socket() for _ in range(3)]
    for filler in fillers:
        filler.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            filler.connect(("127.0.0.1", port))
    try:
        yield
    finally:
        for end in [*fillers, listener]:
            end.close()
