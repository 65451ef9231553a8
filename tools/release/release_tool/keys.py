"""The vendor's keys, made once on the release machine: the update server's
key with a certificate and a certificate request, the server's offline
backup key, and the release signing key with its offline backup. The pins
and public keys the updater is built with come from these files."""

import hashlib
import ipaddress
import os
import re
import shlex
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

from . import signing
from .checks import Refusal

SERVER_KEY, SERVER_CERTIFICATE, SERVER_REQUEST = "server.key", "server.crt", "server.csr"
BACKUP_KEY, BACKUP_CERTIFICATE = "backup.key", "backup.crt"
RELEASE_KEY, RELEASE_BACKUP_KEY = "release.pem", "release-backup.pem"
PRIVATE = (SERVER_KEY, BACKUP_KEY, RELEASE_KEY, RELEASE_BACKUP_KEY)
FILES = (SERVER_KEY, SERVER_CERTIFICATE, SERVER_REQUEST, BACKUP_KEY, BACKUP_CERTIFICATE, RELEASE_KEY,
         RELEASE_BACKUP_KEY)
CERTIFICATE_DAYS = 3650
# RSA, which every Windows from 7 on negotiates TLS 1.2 with (deploy/nginx/README.md, "Windows 7 clients").
SERVER_KEY_OPTIONS = ("-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:3072")
RELEASE_KEY_OPTIONS = ("-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
HOST_LABEL = re.compile(r"(?!-)[A-Za-z0-9-]{1,63}(?<!-)", re.ASCII)
# Written into a configuration of its own, so that the system's openssl.cnf
# (which makes req -x509 a CA certificate) has no say.
REQUEST_CONFIG = """\
[req]
distinguished_name = name
prompt = no
[name]
CN = {host}
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = {alt_name}
"""


@dataclass(frozen=True)
class Keys:
    pin: str
    backup_pin: str
    release_public_key: str
    release_backup_public_key: str


def host_problems(host: str) -> list[str]:
    try:
        ipaddress.ip_address(host)
        return []
    except ValueError:
        pass
    if len(host) <= 253 and all(HOST_LABEL.fullmatch(label) for label in host.split(".")):
        return []
    return [f"host: {host!r} is neither a DNS name nor an IP address"]


def _openssl(*arguments: str | Path) -> bytes:
    try:
        result = subprocess.run(["openssl", *map(str, arguments)], capture_output=True)
    except FileNotFoundError:
        raise Refusal(["keys: the openssl command line is not installed"])
    if result.returncode != 0:
        raise Refusal([f"keys: openssl {arguments[0]}: " + result.stderr.decode(errors="replace").strip()])
    return result.stdout


def key_pin(private_key: Path) -> str:
    """The SHA-256 of the key's DER SubjectPublicKeyInfo, as scripts/pin.sh gives it."""
    return hashlib.sha256(_openssl("pkey", "-in", private_key, "-pubout", "-outform", "DER")).hexdigest()


def _subject_alt_name(host: str) -> str:
    try:
        ipaddress.ip_address(host)
        return f"IP:{host}"
    except ValueError:
        return f"DNS:{host}"


def _make(work: Path, host: str) -> None:
    """Every file into work, a folder only this user can read."""
    config = work / "openssl.cnf"
    config.write_text(REQUEST_CONFIG.format(host=host, alt_name=_subject_alt_name(host)))
    for name, options in ((SERVER_KEY, SERVER_KEY_OPTIONS), (BACKUP_KEY, SERVER_KEY_OPTIONS),
                          (RELEASE_KEY, RELEASE_KEY_OPTIONS), (RELEASE_BACKUP_KEY, RELEASE_KEY_OPTIONS)):
        _openssl("genpkey", *options, "-out", work / name)
    for key, certificate in ((SERVER_KEY, SERVER_CERTIFICATE), (BACKUP_KEY, BACKUP_CERTIFICATE)):
        _openssl("req", "-config", config, "-new", "-x509", "-key", work / key, "-days", str(CERTIFICATE_DAYS),
                 "-extensions", "server", "-out", work / certificate)
    _openssl("req", "-config", config, "-new", "-key", work / SERVER_KEY, "-reqexts", "server",
             "-out", work / SERVER_REQUEST)


def make_keys(directory: Path, host: str) -> Keys:
    """The keys in directory, made now; refused, with nothing written, when
    any of the files is there already: a key is never replaced."""
    problems = host_problems(host)
    if directory.exists() and not directory.is_dir():
        problems.append(f"keys: {directory} is not a folder")
    problems += [f"keys: {directory / name} exists; keys are never overwritten (choose a new folder)"
                 for name in FILES if (directory / name).exists()]
    if problems:
        raise Refusal(problems)
    directory.mkdir(mode=0o700, parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=directory, prefix=".keys-") as work_name:
        work = Path(work_name)
        _make(work, host)
        keys = Keys(key_pin(work / SERVER_KEY), key_pin(work / BACKUP_KEY),
                    signing.public_key_hex(work / RELEASE_KEY), signing.public_key_hex(work / RELEASE_BACKUP_KEY))
        written: list[Path] = []
        try:
            for name in FILES:
                # Never over a file that appeared meanwhile; a private key is its owner's alone from the start.
                mode = 0o600 if name in PRIVATE else 0o644
                descriptor = os.open(directory / name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
                written.append(directory / name)
                with open(descriptor, "wb") as target:
                    os.fchmod(descriptor, mode)
                    target.write((work / name).read_bytes())
        except OSError as error:
            for path in written:
                path.unlink(missing_ok=True)
            raise Refusal([f"keys: cannot write {error.filename}: {error.strerror}; nothing was kept"])
    return keys


def build_line(host: str, port: int, keys: Keys) -> str:
    """The configuration of the updater for this server and these keys."""
    values = {"NIRVA_UPDATE_HOST": host, "NIRVA_UPDATE_PORT": str(port), "NIRVA_PINNED_KEY_SHA256": keys.pin,
              "NIRVA_BACKUP_PIN_SHA256": keys.backup_pin, "NIRVA_RELEASE_PUBLIC_KEY": keys.release_public_key,
              "NIRVA_RELEASE_BACKUP_PUBLIC_KEY": keys.release_backup_public_key}
    return "cmake --preset release " + " ".join(shlex.quote(f"-D{name}={value}") for name, value in values.items())
