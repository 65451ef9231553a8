"""The command line: options, the two commands, messages and exit status."""

import argparse
import datetime
import sys
from pathlib import Path

from .checks import (APPLICATION_EXE, UPDATER_EXE, Refusal, check_manifest_text, notes_from_file,
                     notes_problems, product_version_problems, updater_problems, url_problems,
                     version_problems)
from . import signing
from .package import publish
from .reader import Manifest

RELEASE_DATE_FORMAT = "%Y-%m-%d"
UPLOAD_DATE_FORMAT = "%Y-%m-%dT%H:%M:%SZ"

DESCRIPTION = """\
Builds nirva.zip (the release folder's content at the archive root) and
manifest.json for it, refusing anything the updater would not read back exactly.
nirva.zip is the same bytes for the same folder content (sorted entries, fixed
time stamps and attributes), given the same Python and zlib.

The updater reads the manifest by searching for each quoted key and taking the
text up to the next quotation mark, without decoding escapes. So no value may
hold a quotation mark or a backslash, Persian text is written as plain UTF-8,
and the tool reads its own manifest back with those rules before keeping it.

Line breaks in the notes: every line break of the notes file (LF, CR or CR LF)
is written as a raw CR LF inside the notes string, because the updater shows
the notes as they are and the Windows edit control breaks lines only on CR LF.
A JSON escape such as \\n would be shown as a backslash and an n. Raw line
breaks make the manifest invalid strict JSON; the updater does not mind, and
lenient parsers (Python's json with strict=False) accept it. Leading and
trailing white space and a UTF-8 byte-order mark are dropped from the notes.

Versions are dotted numbers with an optional +build (4.1.0.12, 4.1.0+12), at
most four numbers counting the build, each at most 2147483647: the updater
reads "+" as "." and exactly four signed 32-bit parts; all zeros is refused,
as it is never newer. nirva_acc.exe must carry a version resource whose
ProductVersion is the same version (compared as the updater compares them),
or clients would update forever or never.

Entry names must be names the updater unpacks: no \ : * ? " < > | or
control characters, none ending in a dot or a space, no device name (CON,
PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, with any extension),
no two names Windows takes for one, and no path inside the package longer
than 200 characters.

With --updater FILE, a new nirva_updater.exe goes into the package root, so
that it lands as NIRVA\nirva_updater.exe. Clients replace their updater with
it after installing the release, only when its ProductVersion is newer than
their own; it must be a Windows executable with a readable ProductVersion.

The url must be https:// with a path after the host. The updater requests only
that path, from its own update server; the host in the url is not contacted.

Dates: releaseDate is YYYY-MM-DD (default: the upload day); uploadDate is
YYYY-MM-DDTHH:MM:SSZ in UTC (default: now).

With --signing-key KEY.pem (an ECDSA P-256 private key, kept on the offline
release machine), the manifest gets a "signature": ECDSA over the SHA-256 of
the values the updater reads (see tools/release/release_tool/signing.py), as
r || s in base64. An updater built with NIRVA_RELEASE_PUBLIC_KEY installs only
releases signed so. The tool verifies its own signature with the public key
made from the private one before keeping the manifest. Signing and checking
signatures need the openssl command line. --print-public-key KEY.pem prints the
128 hexadecimal digits to build the updater with.

With --check-manifest FILE, reads an existing manifest both as JSON and as the
updater does, and names every field the updater would misread or the rules
above refuse; with --public-key HEX also its signature.

Exit status: 0 done, 1 refused (nothing new is left in the output folder),
2 bad usage."""


def parse_arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="nirva_release.py", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", type=Path,
                        help=f"release folder; {APPLICATION_EXE} must be at its root")
    parser.add_argument("--version", help="release version, such as 4.1.0.12 or 4.1.0+12")
    parser.add_argument("--notes", type=Path, help="UTF-8 file with the release notes")
    parser.add_argument("--url", help="public https:// url of nirva.zip")
    parser.add_argument("--out", type=Path, help="output folder for nirva.zip and manifest.json")
    parser.add_argument("--mandatory", action="store_true",
                        help="clients must install this release (default: optional)")
    parser.add_argument("--release-date", type=lambda text: _date(text, RELEASE_DATE_FORMAT),
                        help="YYYY-MM-DD")
    parser.add_argument("--upload-date", type=lambda text: _date(text, UPLOAD_DATE_FORMAT),
                        help="YYYY-MM-DDTHH:MM:SSZ, UTC")
    parser.add_argument("--updater", type=Path, metavar="FILE",
                        help=f"a newer {UPDATER_EXE} to put at the package root")
    parser.add_argument("--signing-key", type=Path, metavar="KEY",
                        help="ECDSA P-256 private key (PEM) that signs the manifest")
    parser.add_argument("--check-manifest", type=Path, metavar="FILE",
                        help="check an existing manifest instead of building a release")
    parser.add_argument("--public-key", metavar="HEX",
                        help="with --check-manifest: the release public key its signature must verify with")
    parser.add_argument("--print-public-key", type=Path, metavar="KEY",
                        help="print the public key of a signing key as NIRVA_RELEASE_PUBLIC_KEY wants it")
    arguments = parser.parse_args(argv)
    if arguments.check_manifest is None and arguments.print_public_key is None:
        missing = [name for name in ("folder", "version", "notes", "url", "out")
                   if getattr(arguments, name) is None]
        if missing:
            parser.error("missing " + ", ".join(missing))
    return arguments


def _date(text: str, pattern: str) -> str:
    try:
        datetime.datetime.strptime(text, pattern)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} does not match {pattern}")
    return text


def check_manifest_command(path: Path, public_key: str | None) -> None:
    try:
        text = path.read_bytes().decode("utf-8")
    except OSError as error:
        raise Refusal([f"cannot read {path}: {error.strerror}"])
    except UnicodeDecodeError as error:
        raise Refusal([f"{path} is not UTF-8 (byte {error.start})"])
    problems = check_manifest_text(text, public_key)
    if problems:
        raise Refusal(problems)
    print(f"{path}: every field reads back exactly")


def release_command(arguments: argparse.Namespace) -> None:
    folder = arguments.folder
    if not folder.is_dir():
        raise Refusal([f"folder: {folder} is not a folder"])
    exe = folder / APPLICATION_EXE
    problems = []
    if not exe.is_file():
        problems.append(f"folder: {folder} has no {APPLICATION_EXE} at its root")
    out_dir = arguments.out.resolve()
    if out_dir.is_relative_to(folder.resolve()):
        problems.append(f"out: {arguments.out} lies inside the release folder")
    version_refusals = version_problems(arguments.version)
    problems += version_refusals + url_problems(arguments.url)
    try:
        notes = notes_from_file(arguments.notes)
        problems += notes_problems(notes)
    except Refusal as refusal:
        problems += refusal.problems
    if exe.is_file() and not version_refusals:
        problems += product_version_problems(exe, arguments.version)
    if arguments.updater is not None:
        problems += updater_problems(arguments.updater)
    if arguments.signing_key is not None:
        try:
            signing.public_key_hex(arguments.signing_key)
        except signing.SigningError as error:
            problems.append(f"signing key: {error}")
    if problems:
        raise Refusal(problems)
    upload_date = arguments.upload_date or datetime.datetime.now(datetime.timezone.utc).strftime(UPLOAD_DATE_FORMAT)
    manifest = Manifest(version=arguments.version, url=arguments.url, sha256="", notes=notes,
                        release_date=arguments.release_date or upload_date[:10], upload_date=upload_date,
                        mandatory=arguments.mandatory)
    manifest, package, manifest_path = publish(folder, manifest, out_dir, arguments.updater, arguments.signing_key)
    print(f"{package} ({package.stat().st_size} bytes, sha256 {manifest.sha256})")
    print(f"{manifest_path} (version {manifest.version}, "
          f"{'mandatory' if manifest.mandatory else 'optional'}, uploaded {manifest.upload_date}"
          f"{', signed' if manifest.signature else ''})")


def main(argv: list[str] | None = None) -> int:
    # Persian paths must not stop a run whose output goes to a narrow code page.
    sys.stdout.reconfigure(errors="backslashreplace")
    arguments = parse_arguments(argv)
    try:
        if arguments.print_public_key is not None:
            print(signing.public_key_hex(arguments.print_public_key))
        elif arguments.check_manifest is not None:
            check_manifest_command(arguments.check_manifest, arguments.public_key)
        else:
            release_command(arguments)
    except signing.SigningError as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1
    except Refusal as refusal:
        for problem in refusal.problems:
            print(f"refused: {problem}", file=sys.stderr)
        return 1
    return 0
