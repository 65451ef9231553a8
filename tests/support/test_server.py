"""TLS stand-in for the update server, for end-to-end tests and demos.

Imported: ``server = start(port, certfile, keyfile)`` serves in a background
thread; tests change ``check_status``, ``check_body``, ``check_cut_at``,
``check_delay`` (seconds before the answer), ``hold_check`` (the answer waits
for ``release()``), ``packages`` and ``redirects`` (path -> Location of a 302)
while it runs, may serve with another key from now on (``use_key``) or every
connection after the first (``use_key_after_first_connection``), speak only
older TLS versions (``limit_protocols``), read ``requests`` and call
``stop()``.

Packages answer a single ``Range`` (with ``If-Range`` compared exactly to the
``ETag``) as nginx does for static files. A package's ``data``, ``status``,
``cut_at``, ``hold_at``, ``etag``, ``chunk_size`` and ``delay`` (seconds
between chunks) may be lists: the n-th request for it takes the n-th entry,
the last one repeating, so a file can change or a fault strike between
attempts. ``cut_at`` ends every response after that many body bytes,
``hold_at`` makes it wait there (0: before its headers) until ``release()``,
so that a test acts while a download runs, ``ignore_ranges`` always sends the
whole file, ``etag=""`` sends no ETag, ``whole`` (options) replaces options for
a request that asks for the whole file. Each request records its
``range`` and ``if_range`` headers, and the ``status``, ``etag`` and body
bytes ``sent`` of its answer.

Command line: ``python3 test_server.py --port P --cert C --key K
[--manifest FILE] [--package URLPATH=FILE ...] [--check-status N]``
prints "ready" once listening and serves until SIGTERM.
"""

import argparse
import hashlib
import http.server
import mmap
import os
import re
import signal
import ssl
import sys
import threading
import time
import warnings

CHECK_PREFIX = "/api/marlix/check/NIRVA_ACC/"
# Outcome reports are answered as the deployment's nginx answers them.
REPORT_PREFIX = "/api/marlix/report/NIRVA_ACC/"
PACKAGE_DEFAULTS = dict(status=200, content_length=True, cut_at=None, hold_at=None, chunk_size=65536, delay=0.0,
                        ignore_ranges=False, etag=None)
SINGLE_RANGE = re.compile(r"bytes=(\d+-\d*|-\d+)$")


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30

    def parse_request(self):
        if not super().parse_request():
            return False
        # Inside a proxy's tunnel Wine names the whole URL, as nginx accepts.
        if self.path.startswith(("https://", "http://")):
            self.path = "/" + self.path.split("/", 3)[3] if self.path.count("/") >= 3 else "/"
        self.record = self.server.owner._record(self.path, self.headers)
        return True

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        owner = self.server.owner
        if self.path in owner.redirects:
            self._answer(302, b"moved", location=owner.redirects[self.path])
        elif self.path.startswith(CHECK_PREFIX):
            if owner.hold_check:
                owner.released.wait()
            time.sleep(owner.check_delay)
            self._answer(owner.check_status, owner.check_body, cut_at=owner.check_cut_at)
        elif self.path in owner.packages:
            self._answer_package(dict(PACKAGE_DEFAULTS, **owner.packages[self.path]))
        elif self.path.startswith(REPORT_PREFIX):
            self._answer(204, b"")
        else:
            self._answer(404, b"not found")

    def _answer_package(self, package):
        attempt = sum(r["path"] == self.path for r in self.server.owner.requests) - 1
        if "Range" not in self.headers:
            package = dict(package, **package.get("whole", {}))
        status, data, cut_at, hold_at, etag, chunk_size, delay = (
            _nth(package[key], attempt) for key in ("status", "data", "cut_at", "hold_at", "etag", "chunk_size", "delay"))
        if isinstance(data, bytes):
            derived = '"%s"' % hashlib.sha256(data).hexdigest()[:16]
        else:
            # A large file is mapped, not read whole; its ETag is nginx's kind.
            with open(data, "rb") as file:
                stat = os.fstat(file.fileno())
                derived = '"%x-%x"' % (int(stat.st_mtime), stat.st_size)
                data = memoryview(mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)) if stat.st_size else b""
        etag = derived if etag is None else etag
        headers = {"ETag": etag} if etag else {}
        self.record["etag"] = etag
        asked = SINGLE_RANGE.match(self.headers.get("Range", ""))
        if_range = self.headers.get("If-Range")
        if status == 200 and asked and not package["ignore_ranges"] and if_range in (None, etag):
            start, _, end = asked[1].partition("-")
            # "-N" asks for the last N bytes.
            first = int(start) if start else max(len(data) - int(end), 0)
            last = min(int(end), len(data) - 1) if start and end else len(data) - 1
            if first >= len(data) or first > last:
                status, data, headers["Content-Range"] = 416, b"", f"bytes */{len(data)}"
            else:
                status, headers["Content-Range"] = 206, f"bytes {first}-{last}/{len(data)}"
                data = data[first:last + 1]
        self._answer(status, data, package["content_length"], cut_at, chunk_size, delay, headers=headers,
                     hold_at=hold_at)

    def _answer(self, status, body, content_length=True, cut_at=None, chunk_size=65536, delay=0.0,
                location=None, headers=None, hold_at=None):
        self.close_connection = True
        if hold_at == 0:
            self.server.owner.released.wait()
        self.record["status"] = status
        self.send_response(status)
        self.send_header("Connection", "close")
        if content_length:
            self.send_header("Content-Length", str(len(body)))
        if location:
            self.send_header("Location", location)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if cut_at is not None:
            body = body[:cut_at]
        # The pieces end where the answer waits, if it does.
        starts = sorted({*range(0, len(body), chunk_size), *([hold_at] if hold_at and hold_at < len(body) else [])})
        for offset, end in zip(starts, starts[1:] + [len(body)]):
            if offset == hold_at:
                self.server.owner.released.wait()
            elif offset and delay:
                time.sleep(delay)
            piece = body[offset:end]
            self.wfile.write(piece)
            self.wfile.flush()
            self.record["sent"] += len(piece)


def _nth(value, index):
    """A per-request option: the index-th entry of a list, the last repeating."""
    return value[min(index, len(value) - 1)] if isinstance(value, list) else value


def _context(certfile, keyfile):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certfile, keyfile)
    return context


class _TlsServer(http.server.ThreadingHTTPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, owner, address, context):
        self.owner = owner
        self.context = context
        self.later_context = None
        self.connections = 0
        super().__init__(address, _Handler)

    # The handshake runs on the request's own thread so that a client that
    # stalls or rejects the certificate cannot block the accept loop.
    def finish_request(self, request, client_address):
        request.settimeout(_Handler.timeout)
        with self.owner._lock:
            context = self.later_context if self.connections and self.later_context else self.context
            self.connections += 1
        try:
            connection = context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            _Handler(connection, client_address, self)
            # Send close_notify without waiting for the client's: Wine's
            # WinHTTP sends none and notices the end only when TCP closes.
            connection.setblocking(False)
            connection.unwrap()
        except (ssl.SSLError, OSError):
            pass
        finally:
            connection.close()


class UpdateServer:
    """A running server and its mutable answers; see the module docstring."""

    def __init__(self, port, certfile, keyfile, host):
        self.check_status = 200
        self.check_body = b""
        self.check_cut_at = None
        self.check_delay = 0.0
        self.hold_check = False
        self.released = threading.Event()
        self.packages = {}
        self.redirects = {}
        self.requests = []
        self._lock = threading.Lock()
        self._server = _TlsServer(self, (host, port), _context(certfile, keyfile))
        self.host, self.port = self._server.server_address[:2]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def use_key(self, certfile, keyfile):
        """Serves every connection from now on with this key."""
        self._server.context = _context(certfile, keyfile)

    def use_key_after_first_connection(self, certfile, keyfile):
        self._server.later_context = _context(certfile, keyfile)

    def limit_protocols(self, minimum, maximum):
        """Speaks only the TLS versions from minimum to maximum (ssl.TLSVersion)."""
        context = self._server.context
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            context.minimum_version, context.maximum_version = minimum, maximum
        # OpenSSL 3 takes TLS 1.0 and 1.1 only at security level 0.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")

    def _record(self, path, headers):
        record = {"path": path, "user_agent": headers.get("User-Agent"), "time": time.monotonic(),
                  "range": headers.get("Range"), "if_range": headers.get("If-Range"), "status": None, "etag": None,
                  "sent": 0}
        with self._lock:
            self.requests.append(record)
        return record

    def release(self):
        """Lets every held answer go on, and no answer wait any more."""
        self.released.set()

    def stop(self):
        self.release()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()


def start(port, certfile, keyfile, host="127.0.0.1"):
    return UpdateServer(port, certfile, keyfile, host)


def main(argv):
    parser = argparse.ArgumentParser(description="TLS stand-in for the update server")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--manifest", help="file whose bytes answer the check request")
    parser.add_argument("--package", action="append", default=[], metavar="URLPATH=FILE")
    parser.add_argument("--check-status", type=int, default=200)
    args = parser.parse_args(argv)

    server = start(args.port, args.cert, args.key, args.host)
    server.check_status = args.check_status
    if args.manifest:
        with open(args.manifest, "rb") as file:
            server.check_body = file.read()
    for package in args.package:
        path, separator, file_name = package.partition("=")
        if not separator or not path.startswith("/"):
            parser.error(f"--package wants URLPATH=FILE, got {package!r}")
        server.packages[path] = {"data": file_name}

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    print("ready", flush=True)
    stopping.wait()
    server.stop()


if __name__ == "__main__":
    main(sys.argv[1:])
