"""Release signatures: ECDSA P-256 over the SHA-256 of a canonical message
built from the values the updater reads, so that the manifest's layout does
not matter. This is a contract: the updater and any other signing tool build
exactly these bytes. The private key stays on the vendor's offline release
machine; the openssl command line does the elliptic-curve work."""

import base64
import binascii
import hashlib
import subprocess
import tempfile
from pathlib import Path

from .reader import Manifest

LABEL = b"NIRVA release manifest v2"
SIGNED_KEYS = ("version", "url", "sha256", "size", "rollout", "mandatory", "releaseDate", "uploadDate", "notes")
# What an absent key signs as: no size is the empty text, no rollout means
# every office.
ABSENT_TEXT = {"size": "", "rollout": "100"}
# Never a byte of UTF-8, so no value can run into the next.
SEPARATOR = b"\xff"
# DER SubjectPublicKeyInfo of a P-256 key, up to its uncompressed point 04 || X || Y.
P256_KEY_INFO_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
COORDINATE_SIZE = 32


class SigningError(Exception):
    pass


def canonical_message(manifest: Manifest) -> bytes:
    """The label, then for each signed key 0xFF and the value as the updater
    reads it, in UTF-8 (size and rollout as the manifest's decimal text)."""
    message = LABEL
    for key in SIGNED_KEYS:
        value = manifest.value(key)
        if key == "mandatory":
            value = "true" if value else "false"
        elif value is None:
            value = ABSENT_TEXT[key]
        message += SEPARATOR + value.encode("utf-8")
    return message


def _openssl(*arguments: str | Path) -> bytes:
    try:
        result = subprocess.run(["openssl", *map(str, arguments)], capture_output=True)
    except FileNotFoundError:
        raise SigningError("the openssl command line is not installed")
    if result.returncode != 0:
        raise SigningError(result.stderr.decode(errors="replace").strip() or "openssl failed")
    return result.stdout


def _der_integer(data: bytes, position: int) -> tuple[int, int]:
    if data[position] != 0x02:
        raise SigningError("not a DER ECDSA signature")
    length = data[position + 1]
    start = position + 2
    return int.from_bytes(data[start:start + length], "big"), start + length


def raw_signature(der: bytes) -> bytes:
    """r || s, 32 bytes each, from openssl's DER SEQUENCE of two INTEGERs."""
    if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
        raise SigningError("not a DER ECDSA signature")
    r, position = _der_integer(der, 2)
    s, position = _der_integer(der, position)
    if position != len(der):
        raise SigningError("not a DER ECDSA signature")
    return r.to_bytes(COORDINATE_SIZE, "big") + s.to_bytes(COORDINATE_SIZE, "big")


def der_signature(raw: bytes) -> bytes:
    def integer(value: bytes) -> bytes:
        value = value.lstrip(b"\0") or b"\0"
        if value[0] & 0x80:
            value = b"\0" + value
        return bytes([0x02, len(value)]) + value
    body = integer(raw[:COORDINATE_SIZE]) + integer(raw[COORDINATE_SIZE:])
    return bytes([0x30, len(body)]) + body


def public_key_hex(private_key: Path) -> str:
    """X || Y of the key's public point: the value of NIRVA_RELEASE_PUBLIC_KEY."""
    key_info = _openssl("pkey", "-in", private_key, "-pubout", "-outform", "DER")
    if not key_info.startswith(P256_KEY_INFO_PREFIX) or len(key_info) != len(P256_KEY_INFO_PREFIX) + 65:
        raise SigningError(f"{private_key} is not an ECDSA P-256 private key")
    return key_info[len(P256_KEY_INFO_PREFIX) + 1:].hex()


def sign(message: bytes, private_key: Path) -> str:
    """The signature of the message, as the manifest carries it: r || s in base64."""
    with tempfile.TemporaryDirectory() as directory:
        digest = Path(directory, "digest")
        digest.write_bytes(hashlib.sha256(message).digest())
        der = _openssl("pkeyutl", "-sign", "-inkey", private_key, "-in", digest)
    return base64.b64encode(raw_signature(der)).decode("ascii")


def verify(message: bytes, signature: str, public_key: str) -> bool:
    """Whether the signature is r || s in standard base64, made over the
    message by the key whose X || Y is public_key (128 hex digits)."""
    try:
        raw = base64.b64decode(signature, validate=True)
        point = bytes.fromhex(public_key)
    except (binascii.Error, ValueError):
        return False
    # One text per signature, as the updater reads it: no unused bits set.
    if len(raw) != 2 * COORDINATE_SIZE or len(point) != 2 * COORDINATE_SIZE or base64.b64encode(raw) != signature.encode():
        return False
    with tempfile.TemporaryDirectory() as directory:
        files = {name: Path(directory, name) for name in ("key", "digest", "signature")}
        files["key"].write_bytes(P256_KEY_INFO_PREFIX + b"\x04" + point)
        files["digest"].write_bytes(hashlib.sha256(message).digest())
        files["signature"].write_bytes(der_signature(raw))
        try:
            _openssl("pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey", files["key"],
                     "-in", files["digest"], "-sigfile", files["signature"])
        except SigningError:
            return False
    return True
