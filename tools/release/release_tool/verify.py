"""A published release fetched as an office of version 0.0.0.0 fetches it:
over TLS from a server trusted only by the pin of its key (no CA), the
manifest read with the updater's rules and its signature checked, the
package against its digest and size, and every patch the patch index names.

The patch index is <package path>.patches/index: ASCII, one line per patch,
"<old crc>-<new crc> <size in bytes>", sorted by name; empty when no patch
was kept. Without one a release has no patches."""

import hashlib
import http.client
import re
import ssl
import tempfile
import urllib.parse
import zipfile
from collections.abc import Callable

from . import patches
from .checks import Refusal, check_manifest_text, sha256_problems
from .reader import read_manifest

CHECK_PATH = "/api/marlix/check/NIRVA_ACC/0.0.0.0"
USER_AGENT = "NIRVA-Updater"
# The updater's own bounds: a manifest is never read past 1 MiB; connecting
# and each wait for an answer.
MAX_MANIFEST_BYTES = 1 << 20
TIMEOUT_SECONDS = 30
CHUNK = 1 << 20
INDEX_LINE = re.compile(rb"([0-9a-f]{8})-([0-9a-f]{8}) (0|[1-9][0-9]{0,18})\n")
PIN = re.compile(r"[0-9a-f]{64}")


class VerifyFailure(Refusal):
    """What the served release does not do as an office needs it to."""

    heading = "verify failed"


def _element(data: bytes, at: int, tag: int) -> tuple[int, int]:
    """Where the content of the DER element at `at` begins and ends; it must have the tag."""
    if at + 2 > len(data) or data[at] != tag:
        raise ValueError("not the certificate's structure")
    length, at = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        if not 1 <= count <= 4:
            raise ValueError("a length the certificate cannot have")
        length, at = int.from_bytes(data[at:at + count], "big"), at + count
    if at + length > len(data):
        raise ValueError("cut short")
    return at, at + length


def public_key_info(certificate: bytes) -> bytes:
    """The DER SubjectPublicKeyInfo of a DER X.509 certificate: the bytes the pin is the SHA-256 of."""
    sequence = 0x30
    at = _element(certificate, 0, sequence)[0]
    at = _element(certificate, at, sequence)[0]  # the signed part
    if certificate[at:at + 1] == b"\xa0":  # its version, when not 1
        at = _element(certificate, at, 0xA0)[1]
    at = _element(certificate, at, 0x02)[1]  # serial number
    for _ in ("signature algorithm", "issuer", "validity", "subject"):
        at = _element(certificate, at, sequence)[1]
    return certificate[at:_element(certificate, at, sequence)[1]]


class PinnedConnection(http.client.HTTPSConnection):
    """One connection, trusted only when the key in the server's certificate has one of the pins; nothing is
    sent before that."""

    def __init__(self, host: str, port: int, pins: list[str]) -> None:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        # What the updater asks for.
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        super().__init__(host, port, context=context, timeout=TIMEOUT_SECONDS)
        self.pins = pins

    def connect(self) -> None:
        super().connect()
        try:
            pin = hashlib.sha256(public_key_info(self.sock.getpeercert(binary_form=True) or b"")).hexdigest()
        except ValueError as error:
            self.close()
            raise VerifyFailure([f"server {self.host}:{self.port}: its certificate cannot be read ({error})"])
        if pin not in self.pins:
            self.close()
            raise VerifyFailure([f"server {self.host}:{self.port}: its key's pin is {pin}, not "
                                 f"{' or '.join(self.pins)}; the updater would not talk to it"])
        self.pin = pin


class Server:
    def __init__(self, url: str, pins: list[str]) -> None:
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "https" or not parts.hostname or parts.path not in ("", "/") or parts.query:
            raise VerifyFailure([f"url: {url!r} is not https://HOST or https://HOST:PORT"])
        bad = [pin for pin in pins if not PIN.fullmatch(pin)]
        if bad or not pins:
            raise VerifyFailure([f"pin: {pin!r} is not 64 lower-case hexadecimal digits" for pin in bad or [""]])
        try:
            self.host, self.port = parts.hostname, parts.port or 443
        except ValueError as error:
            raise VerifyFailure([f"url: {error}"])
        self.pins = pins

    def get(self, path: str, read: Callable[[http.client.HTTPResponse], object]) -> object:
        """The answer to a GET of path, an updater's request, handed to read; no redirect is followed."""
        connection = PinnedConnection(self.host, self.port, self.pins)
        try:
            connection.request("GET", path, headers={"User-Agent": USER_AGENT})
            self.pin = connection.pin
            return read(connection.getresponse())
        except (OSError, http.client.HTTPException) as error:
            raise VerifyFailure([f"{path}: no whole answer from {self.host}:{self.port} ({error})"])
        finally:
            connection.close()


def _status(path: str, response: http.client.HTTPResponse, *allowed: int) -> None:
    if response.status not in allowed:
        raise VerifyFailure([f"{path}: status {response.status} {response.reason}, where an office needs "
                             + " or ".join(map(str, allowed))])


def _body(path: str, response: http.client.HTTPResponse, limit: int, sink=None) -> int:
    """Reads the body, at most limit bytes and one more, into sink (a list of chunks or a file); its length."""
    length = 0
    while chunk := response.read(min(CHUNK, limit + 1 - length)):
        length += len(chunk)
        sink.append(chunk) if isinstance(sink, list) else sink.write(chunk)
        if length > limit:
            break
    return length


def read_index(path: str, data: bytes) -> list[tuple[str, int]]:
    """(name, size) of each patch the index names, refused unless every line is as the release tool writes it."""
    lines = data.splitlines(keepends=True)
    named = []
    for number, line in enumerate(lines, 1):
        match = INDEX_LINE.fullmatch(line)
        if match is None:
            raise VerifyFailure([f"{path}: line {number} is not '<old crc>-<new crc> <size in bytes>'"])
        named.append((f"{match[1].decode()}-{match[2].decode()}", int(match[3])))
    names = [name for name, _ in named]
    if names != sorted(set(names)):
        raise VerifyFailure([f"{path}: its names are not sorted, or one is there twice"])
    return named


def patch_problems(name: str, data: bytes, entries: dict[int, int]) -> list[str]:
    """Why the updater would not take this patch for the package whose entries are {CRC-32: compressed size}."""
    if len(data) < patches.HEADER.size:
        return [f"{name}: {len(data)} bytes, shorter than a patch's header"]
    magic, version, _, _, old_crc, new_crc, *_ = patches.HEADER.unpack_from(data)
    if (magic, version) != (patches.MAGIC, patches.FORMAT_VERSION):
        return [f"{name}: not a patch of format {patches.FORMAT_VERSION}"]
    if patches.patch_name(old_crc, new_crc) != name:
        return [f"{name}: its header names {patches.patch_name(old_crc, new_crc)}"]
    if new_crc not in entries:
        return [f"{name}: no entry of the package has the CRC-32 {new_crc:08x}: a patch of another release"]
    if len(data) >= entries[new_crc]:
        return [f"{name}: {len(data)} bytes, not under the entry's {entries[new_crc]} bytes: the updater fetches "
                "the entry instead"]
    return []


def verify(url: str, pins: list[str], public_key: str | None, say: Callable[[str], None] = print) -> None:
    """Fetches and checks the published release; raises VerifyFailure with the cause of the first mismatch."""
    server = Server(url, pins)

    def manifest_text(response: http.client.HTTPResponse) -> bytes:
        _status(CHECK_PATH, response, 200)
        chunks: list[bytes] = []
        if _body(CHECK_PATH, response, MAX_MANIFEST_BYTES, chunks) > MAX_MANIFEST_BYTES:
            raise VerifyFailure([f"{CHECK_PATH}: over {MAX_MANIFEST_BYTES} bytes, more than the updater reads"])
        return b"".join(chunks)

    raw = server.get(CHECK_PATH, manifest_text)
    say(f"server {server.host}:{server.port}: its key has the pin {server.pin}")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise VerifyFailure([f"manifest: not UTF-8 (byte {error.start})"])
    problems = check_manifest_text(text, public_key)
    if problems:
        raise VerifyFailure([f"manifest: {problem}" for problem in problems])
    manifest = read_manifest(text)
    if public_key is not None:
        signature = f"its signature verifies with the release key {public_key}"
    elif manifest.signature:
        signature = "signed, but the signature was not checked (no --public-key)"
    else:
        signature = "not signed: an updater built with a release key refuses it"
    say(f"manifest: version {manifest.version}, {'mandatory' if manifest.mandatory else 'optional'}, offered to "
        f"{'every office' if manifest.rollout is None else manifest.rollout + ' % of offices'}; every field reads "
        f"back exactly; {signature}")
    if sha256_problems(manifest.sha256) or manifest.size is None:
        raise VerifyFailure(["manifest: without a sha256 and a size the package cannot be checked"])

    package_path = manifest.url[manifest.url.find("/", 8):]
    size = int(manifest.size)
    with tempfile.TemporaryFile() as package:
        def package_body(response: http.client.HTTPResponse) -> tuple[int, str]:
            _status(package_path, response, 200)
            announced = response.getheader("Content-Length")
            if announced != manifest.size:
                raise VerifyFailure([f"{package_path}: Content-Length {announced}, where the manifest's size is "
                                     f"{size} bytes: the updater refuses the answer"])
            digest = hashlib.sha256()
            received = _body(package_path, response, size, _Hashing(package, digest))
            return received, digest.hexdigest()

        received, digest = server.get(package_path, package_body)
        if received != size:
            raise VerifyFailure([f"{package_path}: {received} bytes received, where the manifest's size is {size} bytes"])
        if digest != manifest.sha256:
            raise VerifyFailure([f"{package_path}: its sha256 is {digest}, where the manifest names {manifest.sha256}: "
                                 "every office would refuse it"])
        say(f"package {package_path}: {size} bytes, sha256 {digest}, as the manifest says")
        package.seek(0)
        try:
            with zipfile.ZipFile(package) as archive:
                entries = {info.CRC: info.compress_size for info in archive.infolist() if not info.is_dir()}
        except zipfile.BadZipFile as error:
            raise VerifyFailure([f"{package_path}: not a zip ({error})"])
    _verify_patches(server, package_path.split("?")[0].split("#")[0] + patches.FOLDER_SUFFIX, entries, say)
    say("verified: the release is served as an office needs it")


class _Hashing:
    def __init__(self, file, digest) -> None:
        self.file, self.digest = file, digest

    def write(self, chunk: bytes) -> None:
        self.digest.update(chunk)
        self.file.write(chunk)


def _verify_patches(server: Server, folder: str, entries: dict[int, int], say: Callable[[str], None]) -> None:
    index_path = folder + "/index"

    def index(response: http.client.HTTPResponse) -> bytes | None:
        _status(index_path, response, 200, 404)
        chunks: list[bytes] = []
        _body(index_path, response, MAX_MANIFEST_BYTES, chunks)
        return b"".join(chunks) if response.status == 200 else None

    data = server.get(index_path, index)
    if data is None:
        say(f"patches: no patch index ({index_path} answers 404), so none was checked")
        return
    named = read_index(index_path, data)
    total = 0
    for name, size in named:
        path = f"{folder}/{name}"

        def patch(response: http.client.HTTPResponse) -> bytes:
            _status(path, response, 200)
            chunks: list[bytes] = []
            _body(path, response, size, chunks)
            return b"".join(chunks)

        body = server.get(path, patch)
        if len(body) != size:
            raise VerifyFailure([f"{path}: {len(body)} bytes{'' if len(body) <= size else ' or more'}, where the "
                                 f"index names {size} bytes"])
        problems = patch_problems(name, body, entries)
        if problems:
            raise VerifyFailure([f"{folder}/{problem}" for problem in problems])
        total += size
    say(f"patches: {len(named)} named by {index_path}, each fetched: {total} bytes in all, sizes and headers as "
        "the index and the package say")
